#include <ztlogger/exceptionlog/LastChance.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <mutex>
#include <vector>

#include <ztlogger/core/LogCnst.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/os/Modules.h>
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
// Set once this crash has been reported: the abort() that follows adds nothing.
std::atomic<bool> reported{false};

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
  const char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  char data_[2048];
  size_t size_ = 0;
};

void WriteAll(int fd, const char* data, size_t size, off_t at) {
  while (size > 0) {
    const ssize_t written = pwrite(fd, data, size, at);
    if (written <= 0) return;
    data += written;
    size -= static_cast<size_t>(written);
    at += written;
  }
}

// Appends one value to the log in its form, as the log's writer would.
void AppendToLog(const TZTExceptionLog& logger, const FixedText& value) {
  const int fd = open(logger.LogFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0) end = 0;
  if (logger.Formatting() == ztlfText) {
    WriteAll(fd, value.Data(), value.Size(), end);
    close(fd);
    return;
  }
  FixedText element;
  const size_t tagLength = strlen(XMLLogClosingTag);
  char tail[16] = {};
  off_t at = end;
  if (end == 0) {
    element.Add(XMLLogHeader);
  } else if (end >= static_cast<off_t>(tagLength) &&
             pread(fd, tail, tagLength, end - static_cast<off_t>(tagLength)) == static_cast<ssize_t>(tagLength) &&
             memcmp(tail, XMLLogClosingTag, tagLength) == 0) {
    at = end - static_cast<off_t>(tagLength);
  }
  element.Add("  <ERROR>");
  element.Add(value.Data(), value.Size());
  element.Add("\r\n  </ERROR>\r\n");
  element.Add(XMLLogClosingTag);
  WriteAll(fd, element.Data(), element.Size(), at);
  close(fd);
}

void SayWhere(const char* className, const TZTExceptionLog& logger) {
  FixedText line;
  line.Add("ZTLogger: ");
  line.Add(className);
  line.Add(" reported in ");
  line.Add(logger.LogFile().c_str());
  line.Add("\n");
  [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, line.Data(), line.Size());
}

// The reduced report: what can be told without allocating. True when it
// was written and the standard error told where.
bool ReportReduced(const char* className, const char* message, void* address) {
  TZTExceptionLog* logger = reporter.load();
  if (logger == nullptr || !logger->Active() || logger->LogFile().empty() || reported.exchange(true)) return false;
  FixedText report;
  report.Add("\r\nPhys.addr: ");
  report.AddHex(reinterpret_cast<uintptr_t>(address));
  report.Add(" \r\nClassname: ");
  report.Add(className);
  report.Add(" \r\nMessage: ");
  report.Add(message);
  const uintptr_t base = MainModuleCodeBase();
  if (address != nullptr && reinterpret_cast<uintptr_t>(address) >= base) {
    report.Add(" \r\nModule offset: ");
    report.AddHex(reinterpret_cast<uintptr_t>(address) - base);
  }
  report.Add(" \r\n");
  AppendToLog(*logger, report);
  SayWhere(className, *logger);
  return true;
}

void OnAbortSignal(int) {
  ReportReduced("SIGABRT", "The program was aborted", nullptr);
  // The signal's own end: it is delivered again when this handler returns.
  sigaction(SIGABRT, &TheState().previousAbort, nullptr);
  raise(SIGABRT);
}

bool OnFatalFault(Exception& exception, void* address) {
  return ReportReduced(exception.ClassType()->ClassName().c_str(), exception.Message().c_str(), address);
}

// ---- Exceptions that reach no handler

// True when the report was written and the standard error told where.
bool ReportException(const std::exception_ptr& exception) {
  TZTExceptionLog* logger = reporter.load();
  if (logger == nullptr || !logger->Active() || logger->LogFile().empty() || reported.exchange(true)) return false;
  Exception* object = ExceptionObjectOf(exception);
  try {
    std::rethrow_exception(exception);  // inside a handler, so that the report sees it as being handled
  } catch (...) {
    try {
      logger->ReportUnhandled(object);
    } catch (...) {
      reported = false;  // the full report failed: the reduced one still goes out
      return ReportReduced(object->ClassType()->ClassName().c_str(), object->Message().c_str(),
                           ExceptionAddressOf(exception));
    }
  }
  SayWhere(object->ClassType()->ClassName().c_str(), *logger);
  return true;
}

[[noreturn]] void OnTerminate() {
  const std::exception_ptr exception = std::current_exception();
  const bool told = exception ? ReportException(exception)
                              : ReportReduced("std::terminate", "Terminate called without an exception", nullptr);
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
