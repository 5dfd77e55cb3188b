#include <ztlogger/platform/rtl/ThrowSites.h>

#include <cxxabi.h>
#include <dlfcn.h>
#include <unwind.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <typeindex>
#include <unordered_map>

#include <ztlogger/platform/rtl/Testing.h>
#include <ztlogger/platform/rtl/ThrowSitesInternal.h>

namespace ztl {

ZTL_DEFINE_PLAIN_CLASS(EForeignException, Exception)

// Raise addresses and converted foreign exceptions, per thrown object.
namespace {

using DestructorFn = void (*)(void*);

// The return addresses of a raise, innermost first.
struct StackTrace {
  std::array<void*, kMaxStackFrames> frames{};
  size_t depth = 0;
};

struct ThrowRecord {
  void* address = nullptr;
  std::unique_ptr<StackTrace> stack;  // only while stacks are asked for
  bool afterCall = false;  // a return address: the raise is the call just before it
  DestructorFn destructor = nullptr;
  std::unique_ptr<Exception> converted;
  internal::TRaiseReleaseHook onRelease = nullptr;
};

// Keyed by the thrown object. Global rather than per thread: an exception_ptr
// may carry the object to another thread, where it is destroyed.
class ThrowRegistry {
 public:
  ThrowRegistry() { spare_.reserve(kMaxSpare); }

  void Add(void* object, void* address, bool afterCall, std::unique_ptr<StackTrace> stack, DestructorFn destructor,
           internal::TRaiseReleaseHook onRelease) {
    std::lock_guard<std::mutex> lock(mutex_);
    ThrowRecord& record = Insert(object);
    record.address = address;
    record.stack = std::move(stack);
    record.afterCall = afterCall;
    record.destructor = destructor;
    record.converted.reset();
    record.onRelease = onRelease;
  }

  // Removes the record of an object being destroyed.
  ThrowRecord Take(void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    ThrowRecord record;
    auto it = records_.find(object);
    if (it == records_.end()) return record;
    Records::node_type node = records_.extract(it);
    record = std::move(node.mapped());
    if (spare_.size() < kMaxSpare) spare_.push_back(std::move(node));
    return record;
  }

  bool Find(void* object, void*& address) {
    bool afterCall = false;
    return Find(object, address, afterCall);
  }
  bool Find(void* object, void*& address, bool& afterCall) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(object);
    if (it == records_.end()) return false;
    address = it->second.address;
    afterCall = it->second.afterCall;
    return true;
  }

  std::vector<void*> Stack(void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(object);
    if (it == records_.end() || !it->second.stack) return {};
    const StackTrace& stack = *it->second.stack;
    return std::vector<void*>(stack.frames.begin(), stack.frames.begin() + static_cast<std::ptrdiff_t>(stack.depth));
  }

  // The converted object of `object`, storing `made` when there is none yet.
  // Returns nullptr (leaving `made` alone) for an object without a record.
  Exception* Converted(void* object, std::unique_ptr<Exception>& made) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(object);
    if (it == records_.end()) return nullptr;
    if (!it->second.converted) it->second.converted = std::move(made);
    return it->second.converted.get();
  }

 private:
  using Records = std::unordered_map<void*, ThrowRecord>;
  // Records of destroyed objects kept for reuse, so that a raise does not
  // allocate (about a tenth of what a throw costs otherwise).
  static constexpr size_t kMaxSpare = 16;

  // The record of `object`, new or reused. With mutex_ held.
  ThrowRecord& Insert(void* object) {
    if (spare_.empty()) return records_[object];
    Records::node_type node = std::move(spare_.back());
    spare_.pop_back();
    node.key() = object;
    auto inserted = records_.insert(std::move(node));
    return inserted.position->second;
  }

  std::mutex mutex_;
  Records records_;
  std::vector<Records::node_type> spare_;
};

// Never destroyed: exception objects may outlive static destruction.
ThrowRegistry& Registry() {
  static ThrowRegistry* const registry = new ThrowRegistry;
  return *registry;
}

// What the next raise of the thread is to record instead of its own return
// address and stack, and whether the thread is recording one now (one
// thread-local object: each thread-local of a shared library costs a lookup
// per use).
struct RaiseState {
  void* nextAddress = nullptr;
  internal::TRaiseReleaseHook nextOnRelease = nullptr;
  void* nextStackStart = nullptr;
  bool recording = false;
};
// Initial-exec, as the fault state: the library is loaded with the program,
// and the general model's lookup came three times into every raise.
__attribute__((tls_model("initial-exec"))) thread_local RaiseState raiseState;

// The thrown object of an exception_ptr. libstdc++ keeps exactly that pointer
// as the exception_ptr's only member.
void* ThrownObject(const std::exception_ptr& exception) {
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  void* object;
  std::memcpy(&object, static_cast<const void*>(&exception), sizeof object);
  return object;
}

void* ModuleBaseOf(const void* address) {
  Dl_info info;
  if (!address || !dladdr(address, &info)) return nullptr;
  return info.dli_fbase;
}

void* OwnModuleBase() {
  static void* const base = ModuleBaseOf(reinterpret_cast<const void*>(&OwnModuleBase));
  return base;
}

using ThrowFn = void (*)(void*, std::type_info*, DestructorFn);
using InitPrimaryFn = __cxxabiv1::__cxa_refcounted_exception* (*)(void*, std::type_info*, DestructorFn);

template <typename Fn>
Fn NextDefinition(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (!symbol) {
    std::fprintf(stderr, "ztl: the C++ runtime's %s cannot be found\n", name);
    std::abort();
  }
  return reinterpret_cast<Fn>(symbol);
}

// The module whose __cxa_throw comes first in symbol lookup when it is not
// the platform: a sanitizer runtime wrapping the C++ runtime's throw. Its
// frame sits between the throw expression and the platform's __cxa_throw.
void* WrapperModuleBase() {
  static void* const base = [] {
    void* first = ModuleBaseOf(dlsym(RTLD_DEFAULT, "__cxa_throw"));
    void* runtime = ModuleBaseOf(dlsym(RTLD_NEXT, "__cxa_throw"));
    return first == OwnModuleBase() || first == runtime ? nullptr : first;
  }();
  return base;
}

struct FrameSearch {
  void* found = nullptr;
};

_Unwind_Reason_Code SkipThrowFrames(_Unwind_Context* context, void* argument) {
  auto* search = static_cast<FrameSearch*>(argument);
  void* ip = reinterpret_cast<void*>(_Unwind_GetIP(context));
  void* base = ModuleBaseOf(ip);
  if (base == OwnModuleBase() || base == WrapperModuleBase()) return _URC_NO_REASON;
  search->found = ip;
  return _URC_END_OF_STACK;
}

// The address of the throw expression, given the return address of the
// platform's __cxa_throw.
void* ThrowSite(void* returnAddress) {
  if (!WrapperModuleBase() || ModuleBaseOf(returnAddress) != WrapperModuleBase()) return returnAddress;
  FrameSearch search;
  _Unwind_Backtrace(&SkipThrowFrames, &search);
  return search.found ? search.found : returnAddress;
}

std::atomic<int> stackCaptureUsers{0};

// Walks the raising thread's stack, dropping the frames of the raise
// machinery above `firstKept`: the platform's __cxa_throw and what it calls.
struct StackWalk {
  void* firstKept = nullptr;
  bool keeping = false;
  StackTrace trace;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* argument) {
  auto* walk = static_cast<StackWalk*>(argument);
  void* ip = reinterpret_cast<void*>(_Unwind_GetIP(context));
  if (!walk->keeping) {
    if (ip != walk->firstKept) return _URC_NO_REASON;
    walk->keeping = true;
  }
  walk->trace.frames[walk->trace.depth++] = ip;
  return walk->trace.depth == walk->trace.frames.size() ? _URC_END_OF_STACK : _URC_NO_REASON;
}

// The stack from the frame whose code address is `firstKept` (the return
// address of a raise's call into the runtime, or a fault's instruction)
// outwards; empty when that frame is not on the stack.
StackTrace CaptureStack(void* firstKept) {
  StackWalk walk;
  walk.firstKept = firstKept;
  _Unwind_Backtrace(&CollectFrame, &walk);
  return walk.trace;
}

// Installed as the destructor of every thrown object: forgets its record.
void ForgetThrownObject(void* object) {
  ThrowRecord record = Registry().Take(object);
  if (record.destructor) record.destructor(object);
  if (record.onRelease) record.onRelease();
}

// False when the raise goes unrecorded: when memory has run out, the record
// cannot be made, and the std::bad_alloc that says so is itself a raise made
// while the registry is locked.
bool RecordThrow(void* object, void* returnAddress, DestructorFn destructor) {
  RaiseState& state = raiseState;
  if (state.recording) return false;
  const bool afterCall = state.nextAddress == nullptr;
  void* address = afterCall ? ThrowSite(returnAddress) : state.nextAddress;
  internal::TRaiseReleaseHook onRelease = state.nextOnRelease;
  void* const stackStart = state.nextStackStart;
  state.nextAddress = nullptr;
  state.nextOnRelease = nullptr;
  state.nextStackStart = nullptr;
  state.recording = true;
  try {
    std::unique_ptr<StackTrace> stack;
    if (stackCaptureUsers.load(std::memory_order_relaxed) > 0) {
      stack = std::make_unique<StackTrace>();
      if (stackStart) *stack = CaptureStack(stackStart);
      // Not found (a frame the unwinder could not pass): the raise's own stack
      // rather than none.
      if (stack->depth == 0) *stack = CaptureStack(returnAddress);
      // A sanitizer's wrapper sits between the throw expression and the
      // platform: start at the throw site found past it instead.
      if (stack->depth == 0 && address != returnAddress) *stack = CaptureStack(address);
    }
    Registry().Add(object, address, afterCall, std::move(stack), destructor, onRelease);
  } catch (const std::bad_alloc&) {
    state.recording = false;
    return false;
  }
  state.recording = false;
  return true;
}

String DemangledName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   &std::free);
  return status == 0 && name ? String(name.get()) : String(type.name());
}

// A framework exception standing for a thrown value of another type.
std::unique_ptr<Exception> ConvertForeign(const std::exception_ptr& exception) {
  String message;
  const std::type_info* type = nullptr;
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    message = e.what();
    type = abi::__cxa_current_exception_type();
  } catch (const char* text) {
    message = text ? text : "";
    type = abi::__cxa_current_exception_type();
  } catch (const String& text) {
    message = text;
    type = abi::__cxa_current_exception_type();
  } catch (...) {
    type = abi::__cxa_current_exception_type();
    message = type ? DemangledName(*type) : String("unknown exception");
  }
  TClass cls = type ? ForeignExceptionClass(*type) : EForeignException::StaticClass();
  return std::make_unique<EForeignException>(message, cls);
}

// Conversions of objects thrown past the platform's __cxa_throw (when it is
// not the one in use): kept until the thread converts another one.
thread_local void* unrecordedObject = nullptr;
thread_local std::unique_ptr<Exception> unrecordedConversion;

}  // namespace

void internal::SetNextRaiseSite(void* address, TRaiseReleaseHook onRelease, void* stackStart) {
  raiseState.nextAddress = address;
  raiseState.nextOnRelease = onRelease;
  raiseState.nextStackStart = stackStart;
}

void SetNextRaiseAddress(void* address) { internal::SetNextRaiseSite(address); }

bool ThrowSitesRecorded() {
  return ModuleBaseOf(dlsym(RTLD_DEFAULT, "__cxa_throw")) == OwnModuleBase() || WrapperModuleBase() != nullptr;
}

TClass ForeignExceptionClass(const std::type_info& type) {
  static std::mutex mutex;
  static auto* classes = new std::map<std::type_index, TClass>;
  std::lock_guard<std::mutex> lock(mutex);
  TClass& cls = (*classes)[std::type_index(type)];
  if (!cls) cls = new TMetaClass(DemangledName(type), EForeignException::StaticClass(), nullptr);
  return cls;
}

Exception* ExceptionObjectOf(const std::exception_ptr& exception) {
  if (!exception) return nullptr;
  try {
    std::rethrow_exception(exception);
  } catch (Exception& e) {
    return &e;
  } catch (...) {
  }
  void* object = ThrownObject(exception);
  std::unique_ptr<Exception> made = ConvertForeign(exception);
  if (Exception* converted = Registry().Converted(object, made)) return converted;
  if (unrecordedObject != object || !unrecordedConversion) {
    unrecordedObject = object;
    unrecordedConversion = std::move(made);
  }
  return unrecordedConversion.get();
}

void* ExceptionAddressOf(const std::exception_ptr& exception) {
  void* address = nullptr;
  if (exception) Registry().Find(ThrownObject(exception), address);
  return address;
}

void BeginStackCapture() { stackCaptureUsers.fetch_add(1, std::memory_order_relaxed); }

void EndStackCapture() { stackCaptureUsers.fetch_sub(1, std::memory_order_relaxed); }

bool StackCaptureActive() { return stackCaptureUsers.load(std::memory_order_relaxed) > 0; }

std::vector<void*> ExceptStackOf(const std::exception_ptr& exception) {
  return exception ? Registry().Stack(ThrownObject(exception)) : std::vector<void*>();
}

std::vector<void*> ExceptStack() { return ExceptStackOf(std::current_exception()); }

Exception* ExceptObject() { return ExceptionObjectOf(std::current_exception()); }

void* ExceptAddr() { return ExceptionAddressOf(std::current_exception()); }

void* ExceptSourceAddr() {
  const std::exception_ptr exception = std::current_exception();
  void* address = nullptr;
  bool afterCall = false;
  if (exception) Registry().Find(ThrownObject(exception), address, afterCall);
  return address && afterCall ? static_cast<char*>(address) - 1 : address;
}

}  // namespace ztl

// The C++ runtime's entry points for raising, wrapped. Every throw expression
// calls __cxa_throw; std::make_exception_ptr calls
// __cxa_init_primary_exception. Both keep the object's destructor in the
// exception's header, so installing ForgetThrownObject there tells when the
// object goes away.
namespace __cxxabiv1 {

// What the platform's __cxa_throw goes on with after recording a raise: the
// destructor to give the runtime, and the runtime's own __cxa_throw. Two
// pointers, returned in registers.
struct ThrowContinuation {
  void (*destructor)(void*);
  ztl::ThrowFn next;
};

extern "C" __attribute__((visibility("hidden"))) ThrowContinuation ztl_RecordThrowEntry(void* object,
                                                                                       void* returnAddress,
                                                                                       void (*destructor)(void*)) {
  static const ztl::ThrowFn next = ztl::NextDefinition<ztl::ThrowFn>("__cxa_throw");
  const bool recorded = ztl::RecordThrow(object, returnAddress, destructor);
  return {recorded ? &ztl::ForgetThrownObject : destructor, next};
}

#if !(defined(__x86_64__) && defined(__ELF__))
// Elsewhere than on x86-64 (where ThrowEntry.S defines it without a frame of
// its own) a plain wrapper, whose frame the unwinder walks too.
extern "C" __attribute__((visibility("default"), noreturn)) void __cxa_throw(void* object, std::type_info* type,
                                                                           void (*destructor)(void*)) {
  const ThrowContinuation next = ztl_RecordThrowEntry(object, __builtin_return_address(0), destructor);
  next.next(object, type, next.destructor);
  __builtin_unreachable();
}
#endif

extern "C" __attribute__((visibility("default"))) __cxa_refcounted_exception* __cxa_init_primary_exception(
    void* object, std::type_info* type, void (*destructor)(void*)) noexcept {
  static const ztl::InitPrimaryFn next = ztl::NextDefinition<ztl::InitPrimaryFn>("__cxa_init_primary_exception");
  // The runtime's own __cxa_throw calls this too, after the platform's
  // __cxa_throw has recorded the object.
  if (destructor == &ztl::ForgetThrownObject) return next(object, type, destructor);
  const bool recorded = ztl::RecordThrow(object, __builtin_return_address(0), destructor);
  return next(object, type, recorded ? &ztl::ForgetThrownObject : destructor);
}

}  // namespace __cxxabiv1
