// The subject of the start-time benchmark: a program with a text log and an
// exception logger, as most users of the library have. With --to-main it
// ends as soon as main is reached: the libraries are loaded and initialised.
#include <string_view>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/rtl/HardwareFaults.h>

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--to-main") return 0;
  using namespace ztl;
  InstallFaultHandlers();
  TComponent owner(nullptr);
  auto* log = new TZTLogBase(&owner);
  log->SetLogFile("start-logger.log");
  auto* errors = new TZTExceptionLog(&owner);
  errors->SetLogFile("start-logger-errors.log");
  errors->SetActive(true);
  log->WriteAsString("START", "started");
  log->ClearLog();
}
