// Faults and raises off the beaten path: a fault in a worker thread that has
// no fault stack of its own, the exception object seen from nested handlers
// and from a rethrown exception_ptr, and many threads converting foreign
// exceptions at once.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {
namespace {

int* volatile nullTarget = nullptr;
// Both operands are read at run time: with a constant dividend, Clang turns
// 1 / x into compares (only 1 and -1 divide 1 without undefined behaviour)
// and nothing would fault.
volatile int one = 1;
volatile int zero = 0;

// A thread whose Execute faults; it keeps no TFaultStack.
class TFaultingThread : public TThread {
 public:
  explicit TFaultingThread(bool divide) : divide_(divide) {}

 protected:
  __attribute__((noinline, no_sanitize("undefined"))) void Execute() override {
    if (divide_) {
      SetReturnValue(one / zero);
    } else {
      *nullTarget = 1;
    }
  }

 private:
  bool divide_;
};

TEST(FaultEdgesThreads, FaultInExecuteArrivesInFatalExceptionAndTheProcessGoesOn) {
  InstallFaultHandlers();
  for (bool divide : {false, true}) {
    TFaultingThread thread(divide);
    thread.Start();
    thread.WaitFor();
    ASSERT_TRUE(thread.FatalException());
    Exception* e = ExceptionObjectOf(thread.FatalException());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ClassName(), divide ? "EDivByZero" : "EAccessViolation");
    EXPECT_NE(ExceptionAddressOf(thread.FatalException()), nullptr);
  }
}

TEST(FaultEdges, ExceptObjectOfNestedForeignExceptionsAndAfterRethrow) {
  std::exception_ptr kept;
  try {
    throw std::runtime_error("outer");
  } catch (...) {
    Exception* outer = ExceptObject();
    ASSERT_NE(outer, nullptr);
    try {
      throw std::logic_error("inner");
    } catch (...) {
      EXPECT_EQ(ExceptObject()->Message(), "inner");
      EXPECT_EQ(ExceptObject()->ClassName(), "std::logic_error");
    }
    // The outer object is still the one handed out before.
    EXPECT_EQ(ExceptObject(), outer);
    EXPECT_EQ(outer->Message(), "outer");
    kept = std::current_exception();
  }
  Exception* fromKept = ExceptionObjectOf(kept);
  try {
    std::rethrow_exception(kept);
  } catch (...) {
    kept = nullptr;  // the handler alone keeps the object now
    EXPECT_EQ(ExceptObject(), fromKept);
    EXPECT_EQ(ExceptObject()->Message(), "outer");
    EXPECT_EQ(ExceptObject()->ClassName(), "std::runtime_error");
  }
}

TEST(FaultEdgesThreads, ManyThreadsConvertAndCarryForeignExceptions) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 300;
  std::atomic<int> right{0};
  std::vector<std::exception_ptr> carried(kThreads);
  std::mutex carriedLock;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        try {
          if (i % 3 == 0) throw std::out_of_range("range " + std::to_string(t));
          if (i % 3 == 1) throw EConvertError("convert " + std::to_string(t));
          throw i;
        } catch (...) {
          Exception* e = ExceptObject();
          const String expected = i % 3 == 0   ? "range " + std::to_string(t)
                                  : i % 3 == 1 ? "convert " + std::to_string(t)
                                               : String("int");
          if (e && e->Message() == expected && ExceptAddr()) ++right;
          // Handed to the neighbour's slot: the object it replaces was
          // thrown on another thread and is destroyed here.
          std::exception_ptr previous;
          {
            std::lock_guard<std::mutex> lock(carriedLock);
            previous = std::exchange(carried[(t + 1) % kThreads], std::current_exception());
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(right.load(), kThreads * kRounds);
  for (const std::exception_ptr& p : carried) EXPECT_NE(ExceptionObjectOf(p), nullptr);
}

}  // namespace
}  // namespace ztl
