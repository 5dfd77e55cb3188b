#include <ztlogger/platform/rtl/ExceptionSupport.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>

namespace ztl {
namespace {

// The functions that raise in these tests live in a section of their own, so
// that a raise address can be checked to lie inside them.
#define RAISER __attribute__((noinline, section("ztl_test_raisers")))
extern "C" char __start_ztl_test_raisers[];
extern "C" char __stop_ztl_test_raisers[];

// A raise address is a return address: after a call that never returns at
// the end of a raiser it lies just past it, so the byte before it is checked.
bool InRaisers(const void* address) {
  auto* p = static_cast<const char*>(address);
  return p > __start_ztl_test_raisers && p <= __stop_ztl_test_raisers;
}

String ModuleFileOf(const void* address) {
  Dl_info info;
  return address && dladdr(address, &info) && info.dli_fname ? String(info.dli_fname) : String();
}

RAISER void RaiseConvertError(const char* message) { throw EConvertError(message); }
RAISER void RaiseOutOfRange() { throw std::out_of_range("index 7 is out of range"); }
RAISER void RaiseInt() { throw 42; }
RAISER void RaiseText() { throw "plain text"; }
RAISER std::exception_ptr MakeConvertError() { return std::make_exception_ptr(EConvertError("kept")); }
RAISER void RaiseLastError(DWORD code) {
  SetLastError(code);
  RaiseLastOSError();
}
RAISER void RaiseLastWin32(DWORD code) {
  SetLastError(code);
  RaiseLastWin32Error();
}

int AtOfShortVector() {
  std::vector<int> v(3);
  return v.at(7);
}

TEST(ExceptionSupport, ThrowSitesAreRecordedInThisProcess) { EXPECT_TRUE(ThrowSitesRecorded()); }

TEST(ExceptionSupport, NothingOutsideHandlers) {
  EXPECT_EQ(ExceptObject(), nullptr);
  EXPECT_EQ(ExceptAddr(), nullptr);
  try {
    RaiseConvertError("x");
  } catch (const EConvertError&) {
  }
  EXPECT_EQ(ExceptObject(), nullptr);
  EXPECT_EQ(ExceptAddr(), nullptr);
}

TEST(ExceptionSupport, FrameworkExceptionInsideHandler) {
  try {
    RaiseConvertError("bad value");
    FAIL();
  } catch (EConvertError& e) {
    EXPECT_EQ(ExceptObject(), &e);
    EXPECT_TRUE(InRaisers(ExceptAddr()));
    EXPECT_EQ(ExceptObject()->Message(), "bad value");
  }
}

TEST(ExceptionSupport, AnswersInCatchAllHandler) {
  try {
    RaiseConvertError("any");
  } catch (...) {
    ASSERT_NE(ExceptObject(), nullptr);
    EXPECT_EQ(ExceptObject()->ClassName(), "EConvertError");
    EXPECT_TRUE(InRaisers(ExceptAddr()));
  }
}

TEST(ExceptionSupport, NestedHandlersAnswerInnermostThenOuter) {
  try {
    RaiseConvertError("outer");
  } catch (EConvertError& outer) {
    void* outerAddress = ExceptAddr();
    try {
      throw EAbort("inner");  // raised here, outside the raisers
    } catch (EAbort& inner) {
      EXPECT_EQ(ExceptObject(), &inner);
      EXPECT_FALSE(InRaisers(ExceptAddr()));
      EXPECT_NE(ExceptAddr(), nullptr);
    }
    EXPECT_EQ(ExceptObject(), &outer);
    EXPECT_EQ(ExceptAddr(), outerAddress);
    EXPECT_TRUE(InRaisers(outerAddress));
  }
}

TEST(ExceptionSupport, RethrowKeepsTheOriginalAddress) {
  void* first = nullptr;
  try {
    try {
      RaiseConvertError("again");
    } catch (...) {
      first = ExceptAddr();
      throw;
    }
  } catch (EConvertError&) {
    EXPECT_EQ(ExceptAddr(), first);
    EXPECT_TRUE(InRaisers(ExceptAddr()));
  }
}

TEST(ExceptionSupport, ThrowInsideTheCppRuntimeIsRecorded) {
  try {
    AtOfShortVector();
    FAIL();
  } catch (const std::out_of_range&) {
    String module = ModuleFileOf(ExceptAddr());
    EXPECT_NE(module.find("libstdc++"), String::npos) << module;
  }
}

TEST(ExceptionSupport, ForeignExceptionIsSeenAsFrameworkExceptionOfItsOwnClass) {
  try {
    RaiseOutOfRange();
  } catch (const std::out_of_range& original) {
    Exception* e = ExceptObject();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ClassName(), "std::out_of_range");
    EXPECT_EQ(e->Message(), original.what());
    EXPECT_TRUE(e->Is<EForeignException>());
    EXPECT_TRUE(e->Is<Exception>());
    EXPECT_FALSE(e->Is<EListError>());
    EXPECT_EQ(ExceptObject(), e) << "converted once per thrown object";
    EXPECT_TRUE(InRaisers(ExceptAddr()));
  }
}

TEST(ExceptionSupport, ForeignValuesOtherThanStdExceptions) {
  try {
    RaiseInt();
  } catch (...) {
    ASSERT_NE(ExceptObject(), nullptr);
    EXPECT_EQ(ExceptObject()->ClassName(), "int");
    EXPECT_EQ(ExceptObject()->Message(), "int");
    EXPECT_TRUE(InRaisers(ExceptAddr()));
  }
  try {
    RaiseText();
  } catch (...) {
    ASSERT_NE(ExceptObject(), nullptr);
    EXPECT_EQ(ExceptObject()->ClassName(), "char const*");
    EXPECT_EQ(ExceptObject()->Message(), "plain text");
  }
}

TEST(ExceptionSupport, ForeignClassesAreOnePerType) {
  TClass a = ForeignExceptionClass(typeid(std::out_of_range));
  EXPECT_EQ(a, ForeignExceptionClass(typeid(std::out_of_range)));
  EXPECT_NE(a, ForeignExceptionClass(typeid(std::runtime_error)));
  EXPECT_TRUE(a->InheritsFrom(EForeignException::StaticClass()));
  EXPECT_EQ(a->ClassName(), "std::out_of_range");
}

TEST(ExceptionSupport, KeptExceptionPointer) {
  std::exception_ptr kept = MakeConvertError();
  ASSERT_NE(ExceptionObjectOf(kept), nullptr);
  EXPECT_EQ(ExceptionObjectOf(kept)->Message(), "kept");
  // Made, not thrown: the address is where std::make_exception_ptr made it.
  EXPECT_EQ(ModuleFileOf(ExceptionAddressOf(kept)), ModuleFileOf(reinterpret_cast<void*>(&MakeConvertError)));
  EXPECT_EQ(ExceptionObjectOf(std::exception_ptr()), nullptr);
  EXPECT_EQ(ExceptionAddressOf(std::exception_ptr()), nullptr);
  EXPECT_EQ(ExceptObject(), nullptr) << "a kept exception is not being handled";
}

TEST(ExceptionSupport, ManyThrowsLeaveNothingBehind) {
  // Each object is forgotten when destroyed: the same storage reused by a
  // later throw must not report an earlier conversion or address.
  for (int i = 0; i < 1000; ++i) {
    try {
      if (i % 2)
        RaiseOutOfRange();
      else
        throw EAbort("plain");
    } catch (...) {
      Exception* e = ExceptObject();
      ASSERT_NE(e, nullptr);
      ASSERT_EQ(e->ClassName(), i % 2 ? "std::out_of_range" : "EAbort");
      ASSERT_EQ(InRaisers(ExceptAddr()), i % 2 == 1);
    }
  }
}

// --- Call stacks ---------------------------------------------------------------

#define CALLER __attribute__((noinline, section("ztl_test_callers")))
extern "C" char __start_ztl_test_callers[];
extern "C" char __stop_ztl_test_callers[];

bool InCallers(const void* address) {
  auto* p = static_cast<const char*>(address);
  return p > __start_ztl_test_callers && p <= __stop_ztl_test_callers;
}

struct ScopedStackCapture {
  ScopedStackCapture() { BeginStackCapture(); }
  ~ScopedStackCapture() { EndStackCapture(); }
  ScopedStackCapture(const ScopedStackCapture&) = delete;
  ScopedStackCapture& operator=(const ScopedStackCapture&) = delete;
};

// Calls `depth` levels deep, then raises; the volatile keeps the calls from
// becoming a loop.
CALLER int RaiseFromDepth(int depth) {
  if (depth == 0) RaiseConvertError("deep");
  volatile int result = depth > 0 ? RaiseFromDepth(depth - 1) : 0;
  return result;
}

TEST(ExceptionStack, NothingKeptWhileNobodyAsks) {
  ASSERT_FALSE(StackCaptureActive());
  try {
    RaiseFromDepth(2);
  } catch (...) {
    EXPECT_TRUE(ExceptStack().empty());
  }
}

TEST(ExceptionStack, StartsAtTheRaiseAndGoesThroughTheCallers) {
  ScopedStackCapture capture;
  try {
    RaiseFromDepth(2);
  } catch (...) {
    const std::vector<void*> stack = ExceptStack();
    ASSERT_GE(stack.size(), 4u);
    EXPECT_EQ(stack[0], ExceptAddr());
    EXPECT_TRUE(InRaisers(stack[0]));
    for (size_t i = 1; i <= 3; ++i) EXPECT_TRUE(InCallers(stack[i])) << "frame " << i;
    EXPECT_FALSE(InCallers(stack[4])) << "the test body called the first level";
  }
  EXPECT_TRUE(ExceptStack().empty()) << "outside handling";
}

TEST(ExceptionStack, DeepStacksAreCutAtTheMaximum) {
  ScopedStackCapture capture;
  try {
    RaiseFromDepth(2 * static_cast<int>(kMaxStackFrames));
  } catch (...) {
    const std::vector<void*> stack = ExceptStack();
    ASSERT_EQ(stack.size(), kMaxStackFrames);
    EXPECT_TRUE(InCallers(stack.back()));
  }
}

TEST(ExceptionStack, CaptureIsCountedPerUser) {
  BeginStackCapture();
  BeginStackCapture();
  EndStackCapture();
  EXPECT_TRUE(StackCaptureActive()) << "one user still asks";
  std::exception_ptr whileOn;
  try {
    RaiseFromDepth(1);
  } catch (...) {
    whileOn = std::current_exception();
  }
  EndStackCapture();
  EXPECT_FALSE(StackCaptureActive());
  std::exception_ptr whenOff;
  try {
    RaiseFromDepth(1);
  } catch (...) {
    whenOff = std::current_exception();
  }
  // A kept exception keeps its stack after capture ended.
  EXPECT_GE(ExceptStackOf(whileOn).size(), 2u);
  EXPECT_TRUE(ExceptStackOf(whenOff).empty());
  EXPECT_TRUE(ExceptStackOf(std::exception_ptr()).empty());
}

TEST(ExceptionStack, MadeExceptionPointerKeepsTheMakersStack) {
  ScopedStackCapture capture;
  std::exception_ptr kept = MakeConvertError();
  const std::vector<void*> stack = ExceptStackOf(kept);
  ASSERT_FALSE(stack.empty());
  EXPECT_EQ(stack[0], ExceptionAddressOf(kept));
}

TEST(ExceptionStackThreads, ThreadsRaiseWhileCaptureIsSwitched) {
  std::atomic<bool> done{false};
  std::thread toggler([&] {
    while (!done) {
      ScopedStackCapture capture;
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> raisers;
  std::atomic<int> wrongStacks{0};
  for (int t = 0; t < 3; ++t)
    raisers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        try {
          RaiseFromDepth(3);
        } catch (...) {
          const std::vector<void*> stack = ExceptStack();
          if (!stack.empty() && (stack[0] != ExceptAddr() || !InCallers(stack[1]))) ++wrongStacks;
        }
      }
    });
  for (std::thread& raiser : raisers) raiser.join();
  done = true;
  toggler.join();
  EXPECT_EQ(wrongStacks, 0);
  EXPECT_FALSE(StackCaptureActive());
}

// --- The standard description -----------------------------------------------

TEST(ExceptionErrorMessage, NamesClassModuleAddressAndMessage) {
  try {
    RaiseConvertError("'abc' is not a valid integer value");
  } catch (...) {
    char buffer[1024];
    int length = ExceptionErrorMessage(ExceptObject(), ExceptAddr(), buffer, sizeof buffer);
    String text(buffer);
    EXPECT_EQ(length, static_cast<int>(text.size()));
    Dl_info info;
    ASSERT_TRUE(dladdr(ExceptAddr(), &info));
    uintptr_t offset = reinterpret_cast<uintptr_t>(ExceptAddr()) - reinterpret_cast<uintptr_t>(info.dli_fbase);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%016lX", static_cast<unsigned long>(offset));
    EXPECT_EQ(text, "Exception EConvertError in module test_platform_rtl at " + String(hex) +
                        ". 'abc' is not a valid integer value");
  }
}

TEST(ExceptionErrorMessage, CutToTheBuffer) {
  EConvertError e("0123456789");
  char buffer[12];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ExceptionErrorMessage(&e, nullptr, buffer, 11), 10);
  EXPECT_EQ(String(buffer), "Exception ");
  EXPECT_EQ(buffer[11], 'x') << "nothing written beyond the given size";
  EXPECT_EQ(ExceptionErrorMessage(&e, nullptr, buffer, 1), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(ExceptionErrorMessage(&e, nullptr, buffer, 0), 0);
}

TEST(ExceptionErrorMessage, NeverSplitsACharacter) {
  EConvertError e("\xC3\xA9t\xC3\xA9");  // "été"
  char full[256];
  int length = ExceptionErrorMessage(&e, nullptr, full, sizeof full);
  ASSERT_GT(length, 5);
  char cut[256];
  // A size that ends the text after the first byte of the final "é".
  EXPECT_EQ(ExceptionErrorMessage(&e, nullptr, cut, length), length - 2);
  EXPECT_EQ(String(cut), String(full, length - 2));
}

TEST(ExceptionErrorMessage, ForeignExceptionUnderItsOwnName) {
  try {
    RaiseOutOfRange();
  } catch (...) {
    char buffer[256];
    ExceptionErrorMessage(ExceptObject(), ExceptAddr(), buffer, sizeof buffer);
    EXPECT_EQ(String(buffer).rfind("Exception std::out_of_range in module test_platform_rtl at ", 0), 0u) << buffer;
    EXPECT_NE(String(buffer).find("index 7 is out of range"), String::npos);
  }
}

// --- Operating-system errors --------------------------------------------------

TEST(OSError, RaisedWithTheSystemsMessageAndCodeFromTheCaller) {
  try {
    RaiseLastError(ERROR_FILE_NOT_FOUND);
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ClassType(), EOSError::StaticClass());
    EXPECT_EQ(e.ErrorCode(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(e.Message(), "System error 2: The system cannot find the file specified.");
    EXPECT_TRUE(InRaisers(ExceptAddr()));
  }
}

TEST(OSError, Win32VariantRaisesTheSameClass) {
  try {
    RaiseLastWin32(ERROR_ACCESS_DENIED);
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ClassName(), "EOSError");
    EXPECT_EQ(e.ErrorCode(), ERROR_ACCESS_DENIED);
    EXPECT_NE(e.Message().find("Access is denied."), String::npos);
    EXPECT_TRUE(InRaisers(ExceptAddr()));
  }
}

TEST(OSError, WithoutAnErrorCode) {
  try {
    RaiseLastError(ERROR_SUCCESS);
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 0u);
    EXPECT_FALSE(e.Message().empty());
  }
}

TEST(OSError, SysErrorMessageOfUnknownCode) {
  EXPECT_EQ(SysErrorMessage(ERROR_INVALID_PARAMETER), "The parameter is incorrect.");
  EXPECT_EQ(SysErrorMessage(987654), "Unknown error 987654.");
}

// --- Threads --------------------------------------------------------------------

TEST(ExceptionSupportThreads, ExceptionCarriedToAnotherThread) {
  std::exception_ptr carried;
  void* addressThere = nullptr;
  std::thread worker([&] {
    try {
      RaiseOutOfRange();
    } catch (...) {
      addressThere = ExceptAddr();
      carried = std::current_exception();
    }
  });
  worker.join();
  EXPECT_TRUE(InRaisers(addressThere));
  try {
    std::rethrow_exception(carried);
  } catch (...) {
    EXPECT_EQ(ExceptAddr(), addressThere);
    ASSERT_NE(ExceptObject(), nullptr);
    EXPECT_EQ(ExceptObject()->ClassName(), "std::out_of_range");
  }
  carried = nullptr;
}

TEST(ExceptionSupportThreads, ThreadsRaiseAtTheSameTime) {
  std::vector<std::thread> threads;
  std::atomic<int> right{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        try {
          if (t % 2)
            RaiseOutOfRange();
          else
            RaiseConvertError("t");
        } catch (...) {
          if (InRaisers(ExceptAddr()) && ExceptObject() &&
              ExceptObject()->ClassName() == (t % 2 ? "std::out_of_range" : "EConvertError"))
            ++right;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(right, 800);
}

}  // namespace
}  // namespace ztl

// --- The exception classes as the exception logger's filter sees them --------
// Fifty classes tested in a fixed order, the first one an exception belongs
// to deciding.
namespace ztl {
namespace {

// The filter's classes in its order: 30 standard ones, 18 of the class
// library, 2 of graphics.
std::vector<TClass> FilterOrder() {
  return {EAbort::StaticClass(),           EOutOfMemory::StaticClass(),     EInOutError::StaticClass(),
          EIntError::StaticClass(),        EDivByZero::StaticClass(),       ERangeError::StaticClass(),
          EIntOverflow::StaticClass(),     EMathError::StaticClass(),       EInvalidOp::StaticClass(),
          EZeroDivide::StaticClass(),      EOverflow::StaticClass(),        EUnderflow::StaticClass(),
          EInvalidPointer::StaticClass(),  EInvalidCast::StaticClass(),     EConvertError::StaticClass(),
          EAccessViolation::StaticClass(), EPrivilege::StaticClass(),       EStackOverflow::StaticClass(),
          EControlC::StaticClass(),        EVariantError::StaticClass(),    EPropReadOnly::StaticClass(),
          EPropWriteOnly::StaticClass(),   EExternalException::StaticClass(), EAssertionFailed::StaticClass(),
          EAbstractError::StaticClass(),   EIntfCastError::StaticClass(),   EInvalidContainer::StaticClass(),
          EInvalidInsert::StaticClass(),   EPackageError::StaticClass(),    EWin32Error::StaticClass(),
          EStreamError::StaticClass(),     EFCreateError::StaticClass(),    EFOpenError::StaticClass(),
          EFilerError::StaticClass(),      EReadError::StaticClass(),       EWriteError::StaticClass(),
          EClassNotFound::StaticClass(),   EMethodNotFound::StaticClass(),  EInvalidImage::StaticClass(),
          EResNotFound::StaticClass(),     EListError::StaticClass(),       EBitsError::StaticClass(),
          EStringListError::StaticClass(), EComponentError::StaticClass(),  EParserError::StaticClass(),
          EOutOfResources::StaticClass(),  EInvalidOperation::StaticClass(), EThread::StaticClass(),
          EInvalidGraphic::StaticClass(),  EInvalidGraphicOperation::StaticClass()};
}

TClass ByName(const String& name) {
  for (TClass cls : FilterOrder())
    if (cls->ClassName() == name) return cls;
  ADD_FAILURE() << name << " is not a filter class";
  return Exception::StaticClass();
}

// The name of the first filter class an instance of `cls` belongs to.
String DecidingClass(TClass cls) {
  std::unique_ptr<TObject> instance(cls->Create());
  for (TClass candidate : FilterOrder())
    if (instance->InheritsFrom(candidate)) return candidate->ClassName();
  return "";
}

TEST(ExceptionClasses, FiftyDistinctClassesNamedAsTheirFilterElements) {
  std::vector<TClass> order = FilterOrder();
  ASSERT_EQ(order.size(), 50u);
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(order[i]->ClassName().rfind("E", 0), 0u);
    EXPECT_TRUE(order[i]->InheritsFrom(Exception::StaticClass())) << order[i]->ClassName();
    for (size_t j = i + 1; j < order.size(); ++j) EXPECT_NE(order[i]->ClassName(), order[j]->ClassName());
  }
}

TEST(ExceptionClasses, FamiliesAreDecidedByTheirEarlierParent) {
  for (const char* name : {"EDivByZero", "ERangeError", "EIntOverflow"})
    EXPECT_EQ(DecidingClass(ByName(name)), "EIntError") << name;
  for (const char* name : {"EInvalidOp", "EZeroDivide", "EOverflow", "EUnderflow"})
    EXPECT_EQ(DecidingClass(ByName(name)), "EMathError") << name;
  for (const char* name : {"EFCreateError", "EFOpenError", "EFilerError", "EReadError", "EWriteError",
                           "EClassNotFound", "EMethodNotFound", "EInvalidImage"})
    EXPECT_EQ(DecidingClass(ByName(name)), "EStreamError") << name;
  EXPECT_EQ(DecidingClass(EOutOfResources::StaticClass()), "EOutOfMemory");
}

TEST(ExceptionClasses, EveryOtherClassDecidesForItself) {
  for (TClass cls : FilterOrder()) {
    String name = cls->ClassName();
    String decider = DecidingClass(cls);
    bool family = decider == "EIntError" || decider == "EMathError" || decider == "EStreamError" ||
                  decider == "EOutOfMemory";
    if (!family) {
      EXPECT_EQ(decider, name);
    }
  }
  // Hardware exceptions share a parent outside the filter, and the heap
  // errors do not decide one another.
  EXPECT_EQ(DecidingClass(EInvalidPointer::StaticClass()), "EInvalidPointer");
  EXPECT_EQ(DecidingClass(EAccessViolation::StaticClass()), "EAccessViolation");
}

TEST(ExceptionClasses, ParentsTheHandlersRelyOn) {
  for (TClass cls : {EIntError::StaticClass(), EMathError::StaticClass(), EAccessViolation::StaticClass(),
                     EPrivilege::StaticClass(), EStackOverflow::StaticClass(), EControlC::StaticClass(),
                     EExternalException::StaticClass()})
    EXPECT_TRUE(cls->InheritsFrom(EExternal::StaticClass())) << cls->ClassName();
  EXPECT_TRUE(EWin32Error::StaticClass()->InheritsFrom(EOSError::StaticClass()));
  EXPECT_TRUE(EOutOfMemory::StaticClass()->InheritsFrom(EHeapException::StaticClass()));
  EXPECT_TRUE(EInvalidPointer::StaticClass()->InheritsFrom(EHeapException::StaticClass()));
  EXPECT_FALSE(EInvalidPointer::StaticClass()->InheritsFrom(EOutOfMemory::StaticClass()));
}

TEST(ExceptionClasses, OutsideAllFifty) {
  EXPECT_EQ(DecidingClass(Exception::StaticClass()), "");
  EXPECT_EQ(DecidingClass(EOSError::StaticClass()), "");
  EXPECT_EQ(DecidingClass(EExternal::StaticClass()), "");
  EXPECT_EQ(DecidingClass(EForeignException::StaticClass()), "");
  EForeignException foreign("x", ForeignExceptionClass(typeid(int)));
  for (TClass candidate : FilterOrder()) EXPECT_FALSE(foreign.InheritsFrom(candidate));
}

TEST(ExceptionClasses, CaughtAsTheirCppParents) {
  // The C++ classes follow the metaclasses, so a handler for a family parent
  // catches its members.
  EXPECT_THROW(throw EDivByZero("d"), EIntError);
  EXPECT_THROW(throw EReadError("r"), EStreamError);
  EXPECT_THROW(throw EOutOfResources("o"), EOutOfMemory);
  EXPECT_THROW(throw EWin32Error("w"), EOSError);
  EXPECT_THROW(throw EStackOverflow("s"), EExternal);
  try {
    throw EZeroDivide("message kept");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "message kept");
  }
}

}  // namespace
}  // namespace ztl
