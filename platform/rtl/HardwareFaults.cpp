#include <ztlogger/platform/rtl/HardwareFaults.h>

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/FaultFrame.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/ThrowSitesInternal.h>

// FaultThunk.S
extern "C" __attribute__((visibility("hidden"))) char ztl_FaultThunk[];

namespace ztl {
namespace {

enum FaultKind : int {
  fkAccessRead,
  fkAccessWrite,
  fkAccessExecute,
  fkAccessUnknown,
  fkStackOverflow,
  fkPrivileged,
  fkIllegal,
  fkIntDivide,
  fkIntOverflow,
  fkFloatDivide,
  fkFloatOverflow,
  fkFloatUnderflow,
  fkFloatInvalid,
  fkFloatOther,
};

constexpr size_t kAltStackSize = 256 * 1024;
constexpr size_t kReserveSize = 64 * 1024;
constexpr size_t kRedZone = 128;
// The register frame the handler leaves for ztl_FaultThunk.
constexpr size_t kThunkFrameSize = ZTL_FAULT_FRAME_SIZE;
static_assert(ZTL_FAULT_FRAME_RBP == 0 && ZTL_FAULT_FRAME_PC == 8 && ZTL_FAULT_FRAME_RSP == 16,
              "the handler fills the frame's first three slots in this order");
static_assert(ZTL_FAULT_FRAME_REGS == 24, "the saved registers follow the first three slots");
static_assert(ZTL_FAULT_FRAME_REGS + 8 * ZTL_FAULT_FRAME_REG_COUNT <= ZTL_FAULT_FRAME_SIZE,
              "the saved registers fit the frame");
static_assert(ZTL_FAULT_FRAME_SIZE % 16 == 0, "the thunk calls with a 16-byte aligned stack");
// Room the raise needs below the faulting stack pointer.
constexpr uintptr_t kRaiseRoom = 32 * 1024;

// How the calling thread's stack reserve is kept: a mapping below the main
// thread's growing stack, or a protected band of a thread's fixed stack.
enum ReserveKind : int { rkNone, rkMapping, rkProtection };

// Per thread, read by the signal handler: initial-exec TLS needs no
// allocation on access.
struct ThreadFaultState {
  uintptr_t stackLow = 0;  // lowest usable address of the stack
  uintptr_t stackHigh = 0;
  uintptr_t reserveLow = 0;
  uintptr_t reserveHigh = 0;
  ReserveKind reserveKind = rkNone;
  bool reserveArmed = false;
  bool inHandler = false;
};
__attribute__((tls_model("initial-exec"))) thread_local ThreadFaultState faultState;

std::atomic<TFatalFaultHook> fatalFaultHook{nullptr};

// `again`: the reserve was released before and is being put back.
bool ArmReserve(ThreadFaultState& state, bool again) {
  if (state.reserveKind == rkNone || state.reserveArmed) return state.reserveArmed;
  auto* low = reinterpret_cast<void*>(state.reserveLow);
  size_t size = state.reserveHigh - state.reserveLow;
  if (state.reserveKind == rkMapping) {
    // While the reserve was released the stack may have grown into its place;
    // that part lies far below the stack pointer and holds nothing live.
    if (again) munmap(low, size);
    void* p = mmap(low, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED) return false;
    if (p != low) {  // a kernel that ignores MAP_FIXED_NOREPLACE
      munmap(p, size);
      return false;
    }
  } else if (mprotect(low, size, PROT_NONE) != 0) {
    return false;
  }
  state.reserveArmed = true;
  return true;
}

// Called in the signal handler: raw system calls only.
bool ReleaseReserve(ThreadFaultState& state) {
  if (!state.reserveArmed) return false;
  auto* low = reinterpret_cast<void*>(state.reserveLow);
  size_t size = state.reserveHigh - state.reserveLow;
  int result = state.reserveKind == rkMapping ? munmap(low, size) : mprotect(low, size, PROT_READ | PROT_WRITE);
  if (result != 0) return false;
  state.reserveArmed = false;
  return true;
}

// Puts the calling thread's reserve back once its stack has left it.
void RestoreStackReserve() {
  ThreadFaultState& state = faultState;
  auto sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (state.reserveKind != rkNone && !state.reserveArmed && sp > state.reserveHigh + kReserveSize)
    ArmReserve(state, true);
}

void FindStackBounds(ThreadFaultState& state) {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* address = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &address, &size) == 0) {
    state.stackLow = reinterpret_cast<uintptr_t>(address);
    state.stackHigh = state.stackLow + size;
  }
  pthread_attr_destroy(&attr);
}

bool IsMainThread() { return getpid() == static_cast<pid_t>(syscall(SYS_gettid)); }

// The reserve of the calling thread, at the low end of its stack.
void SetUpReserve(ThreadFaultState& state, ReserveKind kind) {
  FindStackBounds(state);
  size_t size = state.stackHigh - state.stackLow;
  if (state.stackLow == 0 || size < 8 * kReserveSize) return;
  if (kind == rkMapping) {
    rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  }
  state.reserveLow = state.stackLow;
  state.reserveHigh = state.stackLow + kReserveSize;
  state.reserveKind = kind;
  if (!ArmReserve(state, false)) state.reserveKind = rkNone;
}

void TearDownReserve(ThreadFaultState& state) {
  if (state.reserveKind == rkProtection && state.reserveArmed)
    mprotect(reinterpret_cast<void*>(state.reserveLow), state.reserveHigh - state.reserveLow, PROT_READ | PROT_WRITE);
  if (state.reserveKind == rkMapping && state.reserveArmed)
    munmap(reinterpret_cast<void*>(state.reserveLow), state.reserveHigh - state.reserveLow);
  state.reserveKind = rkNone;
  state.reserveArmed = false;
}

// An alternate signal stack with a guard page below it.
class AltStack {
 public:
  AltStack() {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t wanted = std::max(kAltStackSize, static_cast<size_t>(sysconf(_SC_SIGSTKSZ)));
    size_ = wanted + page;
    void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw EOutOfMemory("No memory for an alternate signal stack");
    base_ = static_cast<char*>(p);
    mprotect(base_, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = base_ + page;
    stack.ss_size = wanted;
    if (sigaltstack(&stack, &previous_) != 0) {
      munmap(base_, size_);
      RaiseLastOSError(Win32ErrorFromErrno(errno));
    }
  }
  ~AltStack() {
    stack_t current{};
    sigaltstack(nullptr, &current);
    if (current.ss_sp == base_ + (size_ - current.ss_size)) {
      if (previous_.ss_flags & SS_ONSTACK) previous_.ss_flags &= ~SS_ONSTACK;
      if (previous_.ss_sp == nullptr) previous_.ss_flags = SS_DISABLE;
      sigaltstack(&previous_, nullptr);
    }
    munmap(base_, size_);
  }
  AltStack(const AltStack&) = delete;
  AltStack& operator=(const AltStack&) = delete;

 private:
  char* base_ = nullptr;
  size_t size_ = 0;
  stack_t previous_{};
};

bool IsPrefix(unsigned char b) {
  return b == 0x66 || b == 0x67 || b == 0xF0 || b == 0xF2 || b == 0xF3 || b == 0x2E || b == 0x36 || b == 0x3E ||
         b == 0x26 || b == 0x64 || b == 0x65 || (b >= 0x40 && b <= 0x4F);
}

// Whether the instruction at `pc` is one that user mode may not execute (a
// general-protection fault is either that or a non-canonical address).
bool IsPrivilegedInstruction(const unsigned char* pc) {
  int i = 0;
  while (i < 14 && IsPrefix(pc[i])) ++i;
  unsigned char op = pc[i];
  if (op == 0xF4 || op == 0xFA || op == 0xFB || op == 0xCD) return true;  // hlt cli sti int n
  if ((op >= 0xE4 && op <= 0xE7) || (op >= 0xEC && op <= 0xEF) || (op >= 0x6C && op <= 0x6F)) return true;  // in out
  if (op != 0x0F) return false;
  unsigned char op2 = pc[i + 1];
  return op2 == 0x00 || op2 == 0x01 || op2 == 0x06 || op2 == 0x07 || op2 == 0x08 || op2 == 0x09 ||
         (op2 >= 0x20 && op2 <= 0x23) || op2 == 0x30 || op2 == 0x32 || op2 == 0x33 || op2 == 0x35 || op2 == 0x78 ||
         op2 == 0x79;
}

// A fault at the end of the thread's stack (in its reserve, its guard, or
// where a growing stack may not grow), or next to the stack pointer.
bool IsStackOverflow(const ThreadFaultState& state, uintptr_t faultAddress, uintptr_t sp) {
  constexpr uintptr_t kMiB = 1024 * 1024;
  if (state.stackHigh != 0 && faultAddress < state.stackHigh && faultAddress + kMiB >= state.stackLow) {
    uintptr_t end = state.reserveKind != rkNone ? state.reserveHigh : state.stackLow;
    if (faultAddress < end + 2 * kMiB) return true;
  }
  return faultAddress < sp + 256 && faultAddress + 64 * 1024 >= sp;
}

FaultKind Classify(int signal, const siginfo_t* info, const ucontext_t* context, const ThreadFaultState& state) {
  const greg_t* regs = context->uc_mcontext.gregs;
  auto faultAddress = reinterpret_cast<uintptr_t>(info->si_addr);
  switch (signal) {
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: return fkIntDivide;
        case FPE_INTOVF: return fkIntOverflow;
        case FPE_FLTDIV: return fkFloatDivide;
        case FPE_FLTOVF: return fkFloatOverflow;
        case FPE_FLTUND: return fkFloatUnderflow;
        case FPE_FLTINV:
        case FPE_FLTSUB: return fkFloatInvalid;
        default: return fkFloatOther;
      }
    case SIGILL: return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? fkPrivileged : fkIllegal;
    case SIGBUS: return fkAccessUnknown;
    default: break;
  }
  if (info->si_code == SI_KERNEL)
    return IsPrivilegedInstruction(reinterpret_cast<const unsigned char*>(regs[REG_RIP])) ? fkPrivileged
                                                                                           : fkAccessUnknown;
  if (IsStackOverflow(state, faultAddress, static_cast<uintptr_t>(regs[REG_RSP]))) return fkStackOverflow;
  greg_t error = regs[REG_ERR];
  if (error & 0x10) return fkAccessExecute;
  return (error & 0x2) ? fkAccessWrite : fkAccessRead;
}

// The fatal path runs in a signal handler, maybe while another thread holds
// the allocator's or stdio's lock: it allocates nothing and calls only
// async-signal-safe functions.

// Appends text to a fixed buffer, cutting what does not fit.
void AppendFixed(char* buffer, size_t size, size_t& used, const char* text) {
  while (*text && used + 1 < size) buffer[used++] = *text++;
  buffer[used] = 0;
}

void AppendFixedHex(char* buffer, size_t size, size_t& used, uintptr_t value) {
  char digits[2 * sizeof value + 1];
  for (size_t i = 0; i < 2 * sizeof value; ++i)
    digits[i] = "0123456789ABCDEF"[(value >> (4 * (2 * sizeof value - 1 - i))) & 0xF];
  digits[2 * sizeof value] = 0;
  AppendFixed(buffer, size, used, digits);
}

// "ztl: <what> at <address>; the process ends", on the standard error.
void WriteFatalLine(const char* what, void* pc) {
  char line[160];
  size_t used = 0;
  AppendFixed(line, sizeof line, used, "ztl: ");
  AppendFixed(line, sizeof line, used, what);
  AppendFixed(line, sizeof line, used, " at ");
  AppendFixedHex(line, sizeof line, used, reinterpret_cast<uintptr_t>(pc));
  AppendFixed(line, sizeof line, used, "; the process ends\n");
  for (size_t written = 0; written < used;) {
    const ssize_t n = write(STDERR_FILENO, line + written, used - written);
    if (n <= 0 && errno != EINTR) return;
    if (n > 0) written += static_cast<size_t>(n);
  }
}

// The exceptions handed to the fatal-fault hook, made when the handlers are
// installed: the fatal path cannot make them.
struct FatalExceptions {
  EStackOverflow overflow{"Stack overflow"};
  EAccessViolation access{"Access violation inside the fault handler"};
};
std::atomic<FatalExceptions*> fatalExceptions{nullptr};

// A fault that cannot become an exception: report and let the signal end the
// process (the handler returns with the default action, and the faulting
// instruction faults again).
void RestoreDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

void FatalFault(int signal, FaultKind kind, void* pc) {
  const int savedErrno = errno;
  const bool overflow = kind == fkStackOverflow;
  TFatalFaultHook hook = fatalFaultHook.load();
  FatalExceptions* made = fatalExceptions.load();
  const bool told = hook && made && hook(overflow ? static_cast<Exception&>(made->overflow) : made->access, pc);
  if (!told) WriteFatalLine(overflow ? "stack overflow without room to raise it" : "fault inside the fault handler", pc);
  RestoreDefaultAction(signal);
  errno = savedErrno;
}

void FaultHandler(int signal, siginfo_t* info, void* rawContext) {
  auto* context = static_cast<ucontext_t*>(rawContext);
  greg_t* regs = context->uc_mcontext.gregs;
  ThreadFaultState& state = faultState;
  auto pc = reinterpret_cast<void*>(regs[REG_RIP]);
  if (info->si_code <= 0) {
    // Sent by a process, not raised by an instruction: the default action.
    RestoreDefaultAction(signal);
    raise(signal);
    return;
  }
  if (state.inHandler) {
    FatalFault(signal, fkAccessUnknown, pc);
    return;
  }
  state.inHandler = true;
  FaultKind kind = Classify(signal, info, context, state);
  auto sp = static_cast<uintptr_t>(regs[REG_RSP]);
  void* raiseAddress = pc;
  uintptr_t resumePc = static_cast<uintptr_t>(regs[REG_RIP]);
  if (kind == fkAccessExecute && info->si_addr == pc) {
    // A call or jump to a bad address: continue from the caller, whose return
    // address the call left on the stack.
    resumePc = *reinterpret_cast<uintptr_t*>(sp) - 1;
    sp += sizeof(uintptr_t);
    raiseAddress = reinterpret_cast<void*>(resumePc + 1);
  }
  if (kind == fkStackOverflow && !ReleaseReserve(state)) {
    state.inHandler = false;
    FatalFault(signal, kind, pc);
    return;
  }
  uintptr_t frame = ((sp - kRedZone - kThunkFrameSize) & ~uintptr_t{15});
  if (kind == fkStackOverflow && state.stackLow != 0 && frame < state.stackLow + kRaiseRoom) {
    state.inHandler = false;
    FatalFault(signal, kind, pc);
    return;
  }
  auto* slot = reinterpret_cast<uintptr_t*>(frame);
  slot[ZTL_FAULT_FRAME_RBP / 8] = static_cast<uintptr_t>(regs[REG_RBP]);
  slot[ZTL_FAULT_FRAME_PC / 8] = resumePc;
  slot[ZTL_FAULT_FRAME_RSP / 8] = sp;
  const int saved[] = {REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI, REG_R8,  REG_R9,
                       REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
  static_assert(sizeof saved / sizeof saved[0] == ZTL_FAULT_FRAME_REG_COUNT, "FaultFrame.h lists these registers");
  for (size_t i = 0; i < sizeof saved / sizeof saved[0]; ++i) slot[ZTL_FAULT_FRAME_REGS / 8 + i] = static_cast<uintptr_t>(regs[saved[i]]);
  if (signal == SIGFPE && context->uc_mcontext.fpregs) {
    // Clear the floating-point exception flags so that the next floating-
    // point instruction does not trap again.
    context->uc_mcontext.fpregs->mxcsr &= ~0x3Fu;
    context->uc_mcontext.fpregs->swd &= static_cast<uint16_t>(~0x80FFu);
  }
  regs[REG_RSP] = static_cast<greg_t>(frame);
  regs[REG_RIP] = reinterpret_cast<greg_t>(&ztl_FaultThunk[0]);
  regs[REG_RDI] = kind;
  regs[REG_RSI] = reinterpret_cast<greg_t>(info->si_addr);
  regs[REG_RDX] = reinterpret_cast<greg_t>(raiseAddress);
  regs[REG_RCX] = static_cast<greg_t>(resumePc);
  state.inHandler = false;
}

String FaultMessage(FaultKind kind, void* dataAddress, void* pc) {
  auto hex = [](void* p) { return IntToHex(reinterpret_cast<uintptr_t>(p), 16); };
  switch (kind) {
    case fkAccessRead: return "Access violation at address " + hex(pc) + ": read of address " + hex(dataAddress);
    case fkAccessWrite: return "Access violation at address " + hex(pc) + ": write of address " + hex(dataAddress);
    case fkAccessExecute:
      return "Access violation at address " + hex(pc) + ": execution of address " + hex(dataAddress);
    case fkAccessUnknown: return "Access violation at address " + hex(pc);
    case fkStackOverflow: return "Stack overflow";
    case fkPrivileged: return "Privileged instruction";
    case fkIllegal: return "Illegal instruction";
    case fkIntDivide: return "Division by zero";
    case fkIntOverflow: return "Integer overflow";
    case fkFloatDivide: return "Floating point division by zero";
    case fkFloatOverflow: return "Floating point overflow";
    case fkFloatUnderflow: return "Floating point underflow";
    case fkFloatInvalid: return "Invalid floating point operation";
    case fkFloatOther: return "Floating point error";
  }
  return "Hardware fault";
}

// `resumePc` is the code address the fault routine's signal frame names
// (the faulting instruction, or for a call to a bad address the instruction
// before the return address): the raise's call stack starts there.
[[noreturn]] void RaiseFault(FaultKind kind, void* dataAddress, void* pc, void* resumePc) {
  String message = FaultMessage(kind, dataAddress, pc);
  switch (kind) {
    case fkAccessRead:
    case fkAccessWrite:
    case fkAccessExecute:
    case fkAccessUnknown: internal::RaiseFor(EAccessViolation(message), pc, nullptr, resumePc);
    case fkStackOverflow:
      // The reserve released for this raise is put back once the exception
      // is gone and the stack has left it.
      internal::RaiseFor(EStackOverflow(message), pc, &RestoreStackReserve, resumePc);
    case fkPrivileged:
    case fkIllegal: internal::RaiseFor(EPrivilege(message), pc, nullptr, resumePc);
    case fkIntDivide: internal::RaiseFor(EDivByZero(message), pc, nullptr, resumePc);
    case fkIntOverflow: internal::RaiseFor(EIntOverflow(message), pc, nullptr, resumePc);
    case fkFloatDivide: internal::RaiseFor(EZeroDivide(message), pc, nullptr, resumePc);
    case fkFloatOverflow: internal::RaiseFor(EOverflow(message), pc, nullptr, resumePc);
    case fkFloatUnderflow: internal::RaiseFor(EUnderflow(message), pc, nullptr, resumePc);
    case fkFloatInvalid: internal::RaiseFor(EInvalidOp(message), pc, nullptr, resumePc);
    case fkFloatOther: break;
  }
  internal::RaiseFor(EMathError(message), pc, nullptr, resumePc);
}

// Set once the handlers are installed: from then on every thread that starts
// gets an alternate signal stack (see pthread_create below).
std::atomic<bool> handlersInstalled{false};

void InstallHandlersOnce() {
  // Never freed: the handlers stay installed for the life of the process.
  auto* made = new FatalExceptions;
  // Their metaclasses too: a hook asks for the class, and making it allocates.
  made->overflow.ClassType();
  made->access.ClassType();
  fatalExceptions.store(made);
  struct sigaction action {};
  action.sa_sigaction = &FaultHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
    if (sigaction(signal, &action, nullptr) != 0) RaiseLastOSError(Win32ErrorFromErrno(errno));
  handlersInstalled.store(true);
}

void InstallHandlers() {
  static std::once_flag handlers;
  std::call_once(handlers, InstallHandlersOnce);
}

}  // namespace

namespace {
// The main thread's, kept for the life of the process: faults in static
// destructors still become exceptions.
__attribute__((used)) TFaultStack* mainThreadFaultStack = nullptr;
}  // namespace

struct TFaultStack::Impl {
  AltStack altStack;
  bool ownsReserve = false;
};

TFaultStack::TFaultStack() : impl_(std::make_unique<Impl>()) {
  InstallHandlers();
  ThreadFaultState& state = faultState;
  if (state.stackHigh == 0) {
    impl_->ownsReserve = true;
    SetUpReserve(state, IsMainThread() ? rkMapping : rkProtection);
  }
}

TFaultStack::~TFaultStack() {
  if (impl_->ownsReserve) {
    TearDownReserve(faultState);
    faultState = ThreadFaultState();
  }
}

void InstallFaultHandlers() {
  InstallHandlers();
  // The main thread's alternate stack and reserve, for the life of the process.
  static std::once_flag mainThread;
  if (IsMainThread()) std::call_once(mainThread, [] { mainThreadFaultStack = new TFaultStack; });
}

bool FaultHandlersInstalled() { return handlersInstalled.load(); }

void SetFatalFaultHook(TFatalFaultHook hook) { fatalFaultHook.store(hook); }

}  // namespace ztl

// Called by ztl_FaultThunk on the faulting thread, outside the signal handler.
extern "C" __attribute__((visibility("hidden"), noreturn, used)) void ztl_RaiseFault(int kind, void* dataAddress,
                                                                                    void* pc, void* resumePc) {
  ztl::RaiseFault(static_cast<ztl::FaultKind>(kind), dataAddress, pc, resumePc);
}

// Threads started by anyone (std::thread, other libraries) get an alternate
// signal stack for their whole life once the handlers are installed: without
// one, the kernel ends a thread's stack overflow before any handler can run,
// and not even the fatal line gets written. The platform's pthread_create
// comes before the C library's in symbol lookup, as its __cxa_throw does.
// Sanitizer builds leave thread starts to the sanitizer's own interceptor
// (AddressSanitizer gives every thread an alternate stack itself).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZTL_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZTL_SANITIZED_BUILD 1
#endif
#endif
#ifndef ZTL_SANITIZED_BUILD
namespace {

using ThreadRoutine = void* (*)(void*);
using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, ThreadRoutine, void*);

struct ThreadStart {
  ThreadRoutine routine;
  void* arg;
};

void* StartWithAltStack(void* p) {
  const ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  std::optional<ztl::AltStack> altStack;
  try {
    altStack.emplace();
  } catch (const ztl::Exception&) {
    // No memory for it: the thread runs as it would have without the
    // platform, and only a stack overflow there goes unreported.
  }
  return start.routine(start.arg);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                                                     ThreadRoutine routine, void* arg) {
  static const auto next = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
  if (!ztl::handlersInstalled.load()) return next(thread, attr, routine, arg);
  auto* start = new (std::nothrow) ThreadStart{routine, arg};
  if (!start) return next(thread, attr, routine, arg);
  const int result = next(thread, attr, &StartWithAltStack, start);
  if (result != 0) delete start;
  return result;
}
#endif
