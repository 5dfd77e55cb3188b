#include <ztlogger/exceptionlog/LastChance.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <vector>

#include <ztlogger/core/LogAppend.h>
#include <ztlogger/exceptionlog/CollectorCrash.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/Processes.h>
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/rtl/HardwareFaults.h>
#include <ztlogger/platform/rtl/Threads.h>
#include <ztlogger/platform/rtl/ThrowSites.h>

namespace ztl::lastchance {
namespace {

// The handlers' state lives as long as the process: the handlers may run
// during static destruction.
struct State {
  std::mutex lock;
  std::vector<TZTExceptionLog*> loggers;  // in the order they were made
  std::terminate_handler previousTerminate = nullptr;
  struct sigaction previousAbort {};
};

State& TheState() {
  static State* state = new State;
  return *state;
}

// The logger that reports, read by signal handlers too.
std::atomic<TZTExceptionLog*> reporter{nullptr};

// ---- One report for the process

// The first thread to reach the last chance reports; every other one waits
// for the process to end there. The owner's thread id, or 0.
std::atomic<DWORD> owner{0};
// Set once the owner's report is written: the abort() that follows adds nothing.
std::atomic<bool> finished{false};
// The class of the crash the owner reports, told if its writer crashes.
std::atomic<const char*> reportedClass{""};

enum class TClaim {
  First,      // this thread reports
  Again,      // this thread reached the last chance while reporting: a crash in the writer
  Reported,   // this thread's report is written: the process is ending
};

// Waits without end for the owner, which ends the process. Without
// allocating or taking a lock: the waiter may be in a signal handler.
[[noreturn]] void WaitForTheOwner() {
  for (;;) pause();
}

TClaim ClaimTheReport() {
  const DWORD self = GetCurrentThreadId();
  DWORD expected = 0;
  if (owner.compare_exchange_strong(expected, self)) return TClaim::First;
  if (expected != self) WaitForTheOwner();
  return finished.load() ? TClaim::Reported : TClaim::Again;
}

// ---- Writing without allocating (signal handlers)

class FixedText {
 public:
  void Add(const char* text) { Add(text, strlen(text)); }
  void Add(const char* text, size_t length) {
    length = std::min(length, sizeof data_ - size_);
    memcpy(data_ + size_, text, length);
    size_ += length;
  }
  void AddHex(uintptr_t value) {
    char digits[2 * sizeof value];
    for (size_t i = sizeof digits; i-- > 0; value >>= 4) digits[i] = "0123456789ABCDEF"[value & 0xF];
    Add(digits, sizeof digits);
  }
  std::string_view View() const { return {data_, size_}; }

 private:
  char data_[2048];
  size_t size_ = 0;
};

void WriteToStandardError(const FixedText& text) {
  std::string_view rest = text.View();
  while (!rest.empty()) {
    const ssize_t written = write(STDERR_FILENO, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    rest.remove_prefix(static_cast<size_t>(written));
  }
}

// What can be told of a crash without allocating.
struct TReducedReport {
  const char* ClassName;
  const char* Message;
  void* Address;
  bool InModule = false;
  char Module[256] = {};
  uintptr_t ModuleOffset = 0;  // from the module's load address

  TReducedReport(const char* className, const char* message, void* address)
      : ClassName(className), Message(message), Address(address) {
    uintptr_t base = 0;
    InModule = address != nullptr && ModulePlaceOf(address, base, Module, sizeof Module);
    if (InModule) ModuleOffset = reinterpret_cast<uintptr_t>(address) - base;
  }

  // The lines, each started by `start` and ended by `end`.
  void AddTo(FixedText& text, const char* start, const char* end) const {
    text.Add(start);
    text.Add("Phys.addr: ");
    text.AddHex(reinterpret_cast<uintptr_t>(Address));
    text.Add(end);
    text.Add(start);
    text.Add("Classname: ");
    text.Add(ClassName);
    text.Add(end);
    text.Add(start);
    text.Add("Message: ");
    text.Add(Message);
    if (InModule) {
      text.Add(end);
      text.Add(start);
      text.Add("Module offset: ");
      text.AddHex(ModuleOffset);
      text.Add(end);
      text.Add(start);
      text.Add("Module: ");
      text.Add(Module);
    }
    text.Add(end);
  }
};

// The report on the standard error, after a line that says why it is there.
void TellOnStandardError(const TReducedReport& report, std::string_view why) {
  FixedText text;
  text.Add("ZTLogger: ");
  text.Add(report.ClassName);
  text.Add(" ");
  text.Add(why.data(), why.size());
  text.Add("; the report:\n");
  report.AddTo(text, "  ", "\n");
  WriteToStandardError(text);
}

// Appends one value to the log in its form, with the logs' own writer.
TLogAppendResult AppendToLog(const TZTExceptionLog& logger, const FixedText& value) {
  const int fd = open(logger.LogFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return {errno, "open"};
  const TLogAppendResult result =
      AppendLogValue(fd, logger.Formatting() == ztlfText ? TLogForm::Text : TLogForm::XML, "ERROR", value.View());
  close(fd);
  return result;
}

void SayWhere(const char* className, const TZTExceptionLog& logger) {
  FixedText line;
  line.Add("ZTLogger: ");
  line.Add(className);
  line.Add(" reported in ");
  line.Add(logger.LogFile().c_str());
  line.Add("\n");
  WriteToStandardError(line);
}

bool LoggerReports(const TZTExceptionLog* logger) {
  return logger != nullptr && logger->Active() && !logger->LogFile().empty();
}

// The reduced report, into the log, else on the standard error with the
// reason. True when the user was told, either way; false when no logger
// reports.
bool ReportReduced(const char* className, const char* message, void* address) {
  TZTExceptionLog* logger = reporter.load();
  if (!LoggerReports(logger)) return false;
  const TReducedReport report(className, message, address);
  FixedText value;
  report.AddTo(value, "\r\n", " ");
  value.Add("\r\n");
  // Queued for the collector, if one is set, to go at the next start.
  collector::QueueCrashEnvelope(className, message, address, value.View().data(), value.View().size());
  const TLogAppendResult written = AppendToLog(*logger, value);
  if (!written) {
    FixedText why;
    why.Add("could not be reported in ");
    why.Add(logger->LogFile().c_str());
    why.Add(": ");
    why.Add(written.Call);
    why.Add(": ");
    const char* reason = strerrordesc_np(written.Error);
    why.Add(reason ? reason : "unknown error");
    TellOnStandardError(report, why.View());
    return true;
  }
  SayWhere(className, *logger);
  return true;
}

// A crash while this thread was writing its report: what the log could not
// be trusted with goes to the standard error.
void TellCrashWhileReporting(const char* className, const char* message, void* address) {
  FixedText why;
  why.Add("while writing the report of ");
  why.Add(reportedClass.load());
  TellOnStandardError(TReducedReport(className, message, address), why.View());
}

// The reduced report of a fatal signal, once for the process. True when
// the user was told.
bool ReportFatalSignal(const char* className, const char* message, void* address) {
  switch (ClaimTheReport()) {
    case TClaim::First: {
      reportedClass = className;
      const bool told = ReportReduced(className, message, address);
      finished = true;
      return told;
    }
    case TClaim::Again: TellCrashWhileReporting(className, message, address); return true;
    case TClaim::Reported: return true;
  }
  return false;
}

void OnAbortSignal(int) {
  ReportFatalSignal("SIGABRT", "The program was aborted", nullptr);
  // The signal's own end: it is delivered again when this handler returns.
  sigaction(SIGABRT, &TheState().previousAbort, nullptr);
  raise(SIGABRT);
}

bool OnFatalFault(Exception& exception, void* address) {
  return ReportFatalSignal(exception.ClassType()->ClassName().c_str(), exception.Message().c_str(), address);
}

// ---- Exceptions that reach no handler

// True when the report was written, or the standard error told why not.
bool ReportException(const std::exception_ptr& exception) {
  TZTExceptionLog* logger = reporter.load();
  if (!LoggerReports(logger)) return false;
  Exception* object = ExceptionObjectOf(exception);
  try {
    std::rethrow_exception(exception);  // inside a handler, so that the report sees it as being handled
  } catch (...) {
    try {
      logger->ReportUnhandled(object);
    } catch (...) {
      // The full report failed: the reduced one still goes out.
      return ReportReduced(object->ClassType()->ClassName().c_str(), object->Message().c_str(),
                           ExceptionAddressOf(exception));
    }
  }
  SayWhere(object->ClassType()->ClassName().c_str(), *logger);
  return true;
}

[[noreturn]] void OnTerminate() {
  const std::exception_ptr exception = std::current_exception();
  bool told = true;
  switch (ClaimTheReport()) {
    case TClaim::First:
      if (Exception* object = exception ? ExceptionObjectOf(exception) : nullptr)
        reportedClass = object->ClassType()->ClassName().c_str();
      told = exception ? ReportException(exception)
                       : ReportReduced("std::terminate", "Terminate called without an exception", nullptr);
      finished = true;
      break;
    case TClaim::Again:
      if (Exception* object = exception ? ExceptionObjectOf(exception) : nullptr)
        TellCrashWhileReporting(object->ClassType()->ClassName().c_str(), object->Message().c_str(),
                                ExceptionAddressOf(exception));
      else
        TellCrashWhileReporting("std::terminate", "Terminate called without an exception", nullptr);
      break;
    case TClaim::Reported: break;
  }
  // The handler found before (the C++ runtime's writes the exception's class
  // and message) runs only for a crash left unreported: otherwise the report
  // holds what it would say, and the user reads one line.
  if (std::terminate_handler previous = TheState().previousTerminate; previous && !told) previous();
  std::abort();
}

void OnThreadException(TThread* thread, const std::exception_ptr& exception) {
  TZTExceptionLog* logger = reporter.load();
  if (logger == nullptr || !logger->Active() || logger->LogFile().empty()) return;
  // On the main thread, like every report; the thread waits meanwhile.
  TThread::Synchronize(thread, [&] {
    try {
      std::rethrow_exception(exception);
    } catch (...) {
      logger->ReportUnhandled(ExceptionObjectOf(exception));
    }
  });
}

void InstallHandlers(State& state) {
  state.previousTerminate = std::set_terminate(&OnTerminate);
  struct sigaction action {};
  action.sa_handler = &OnAbortSignal;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGABRT, &action, &state.previousAbort);
  SetFatalFaultHook(&OnFatalFault);
  SetThreadExceptionHook(&OnThreadException);
}

}  // namespace

void Enlist(TZTExceptionLog* logger) {
  State& state = TheState();
  std::lock_guard guard(state.lock);
  static std::once_flag installed;
  std::call_once(installed, [&] { InstallHandlers(state); });
  state.loggers.push_back(logger);
  reporter.store(logger);
}

void Withdraw(TZTExceptionLog* logger) {
  State& state = TheState();
  std::lock_guard guard(state.lock);
  std::erase(state.loggers, logger);
  reporter.store(state.loggers.empty() ? nullptr : state.loggers.back());
}

}  // namespace ztl::lastchance
