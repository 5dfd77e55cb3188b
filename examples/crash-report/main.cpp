// A small application with a text log and an exception logger. A handler run
// from the application's message loop reads through a null pointer; the
// exception logger writes a report naming this file's source line (from the
// map file beside the program), and the loop goes on.
//
//   crash-report [FOLDER]   writes FOLDER/crash-report.log and
//                           FOLDER/crash-report-errors.log, then prints both
#include <cstdio>

#include <ztlogger/ztlogger.h>

using namespace ztl;

namespace {

int* volatile settings = nullptr;  // never loaded: the bug this program has

__attribute__((noinline)) int ReadTimeout() {
  return *settings;  // the access violation, reported with this line
}

void Print(const String& file) {
  TStringList lines;
  lines.LoadFromFile(file);
  std::printf("== %s\n%s\n", file.c_str(), lines.Text().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  // Hardware faults become exceptions (EAccessViolation, EDivByZero, ...).
  InstallFaultHandlers();
  const String folder = IncludeTrailingPathDelimiter(argc > 1 ? String(argv[1]) : GetCurrentDir());

  TComponent owner(nullptr);  // frees the components
  auto* log = new TZTLogBase(&owner);
  log->SetLogFile(folder + "crash-report.log");
  log->ClearLog();
  log->SetActive(true);

  // Installs itself as the application's exception handler.
  auto* errors = new TZTExceptionLog(&owner);
  errors->SetLogFile(folder + "crash-report-errors.log");
  errors->ClearLog();
  errors->SetErrorDialog(edNone);
  errors->SetFormats({lfDate, lfTime, lfExceptionClassName, lfMessage, lfSourceLine});
  errors->SetActive(true);

  log->WriteAsString("START", "crash-report started\r\n");
  Application->QueueCall([log] { log->WriteAsInteger("TIMEOUT", ReadTimeout()); });
  Application->QueueCall([log] { log->WriteAsString("STOP", "the message loop went on\r\n"); });
  Application->ProcessMessages();

  Print(log->LogFile());
  Print(errors->LogFile());
  return 0;
}
