// The ZTLogger demo: the components of the suite, registered as a design
// host registers them, on a data module read from a stored form, each doing
// its job once. A text and an XML log are written; a folder change logger
// watches the output folder and prints the changes the logs' own writes
// cause; a registry watcher reports a value the demo sets; the event log
// component writes an entry and reads it back; the application's message
// loop runs, in which a click on the main form's button fails with an access
// violation that the exception logger reports (with the source line from the
// demo's map file) while the application event logger reports the form
// becoming active; a check processor checks a form's input; and the dataset
// change logger logs an edit and an insert with the statements it made.
//
//   ztl-demo [--collector DSN] [OUTPUT_FOLDER]
//
// With --collector the exception logger's report also goes to that
// collecting server (Sentry, or a server compatible with its protocol).
#include <chrono>
#include <cstdio>
#include <exception>

#include "demo/CheckDemo.h"
#include "demo/DemoForm.h"
#include "demo/DemoModule.h"
#include <ztlogger/core/CollectorDsn.h>
#include <ztlogger/core/LogBase.h>
#include <ztlogger/exceptionlog/CollectorQueue.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/Bind.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Threads.h>
#include <ztlogger/registration/LogReg.h>

using namespace ztl;

namespace {

struct TDemoArguments {
  String Folder = IncludeTrailingPathDelimiter(GetCurrentDir()) + "ztl-demo-output";
  String Collector;
};

TDemoArguments ReadArguments(int argc, char** argv) {
  TDemoArguments arguments;
  for (int i = 1; i < argc; ++i) {
    const String argument = argv[i];
    if (argument == "--collector") {
      if (i + 1 == argc) throw EConvertError("--collector needs a DSN: https://PUBLIC_KEY@HOST/PROJECT_ID");
      arguments.Collector = argv[++i];
    } else {
      arguments.Folder = argument;
    }
  }
  return arguments;
}

// The report of the click went to the collector's queue: sent now, or at the
// next start when the server cannot be reached.
void TellCollector(TZTExceptionLog& log) {
  if (log.SendTo()->Collector().empty()) return;
  const String queue = TEnvelopeQueue::FolderFor(TCollectorDsn::Parse(log.SendTo()->Collector()));
  if (log.FlushCollector(10000))
    std::printf("Report sent to the collector %s\n", log.SendTo()->Collector().c_str());
  else
    std::printf("The collector %s did not take the report: it waits in %s for the next start\n",
                log.SendTo()->Collector().c_str(), queue.c_str());
}

void WriteSamples(TZTLogBase& log) {
  log.WriteAsString("START", "Demo started\r\n");
  log.WriteAsInteger("COUNT", -42);
  log.WriteAsFloat("RATIO", 0.625);
  log.WriteAsDateTime("WHEN", Now());
  log.WriteAsString("NOTE", "\r\nmarkup <b> & line breaks stay as written\r\n");
}

void Show(const TZTLogBase& log) {
  TStringList lines;
  lines.LoadFromFile(log.LogFile());
  std::printf("== %s (%s, %d lines)\n%s\n", log.LogFile().c_str(), log.Formatting() == ztlfXML ? "XML" : "text",
              lines.Count(), lines.Text().c_str());
}

// Clicks the lookup button as a user would. The headless widget set closes
// the error dialog at once with its cancel result, as no user is there; on a
// desktop the person sees the real dialog and closes it.
void RunMessageLoop() {
  demo::TDemoForm* form = nullptr;
  Application->CreateForm(form);
  if (!dynamic_cast<THeadlessWidgetSet*>(&WidgetSet())) {
    std::printf("The error dialog is on the screen: close it to go on\n");
    // The loop ends once the dialog is closed: handled here, as the loop
    // would, so that the end is asked for only then.
    Application->QueueCall([form] {
      try {
        form->btnLookup->Click();
      } catch (...) {
        Application->HandleException(form->btnLookup);
      }
      Application->Terminate();
    });
    Application->Run();
    return;
  }
  // Ends the loop once everything posted has run and no modal window is
  // open; the handler is the form's for as long as the form lives.
  Application->SetOnIdle(Bind(form, [](TObject*, bool&) {
    if (!HeadlessWidgetSet().ModalForm()) Application->Terminate();
  }));
  THeadlessWidgetSet& widgets = HeadlessWidgetSet();
  widgets.PostClick("btnLookup");
  Application->Run();
  Application->SetOnIdle(nullptr);
  for (const TShownWindow& shown : widgets.Shown())
    std::printf("Shown: %s \"%s\" (%s), closed with %d\n", shown.Kind == skForm ? "form" : "message box",
                shown.Caption.c_str(), shown.FormClass.c_str(), shown.Result);
}

// Serves the watchers' reports until count reaches wanted, or for two seconds.
void ServeChanges(const int& count, int wanted) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (count < wanted && std::chrono::steady_clock::now() < deadline) CheckSynchronize(50);
  CheckSynchronize(100);  // what came at the same moment
}

// The registry watcher: a value set under its key is reported on the main thread.
void RunRegistryDemo(demo::TDemoModule& module) {
  std::printf("== Registry\n");
  TRegistry reg;
  reg.SetRootKey(module.RegistryWatch->RootKey());
  if (!reg.OpenKey(module.RegistryWatch->Key(), false)) throw ERegistryException("The watched key is gone");
  // The watcher registered before its activation returned: one change, one report.
  reg.WriteString("LastRun", DateTimeToStr(Now()));
  ServeChanges(module.RegistryChanges, 1);
  std::printf("Registry changes reported: %d\n", module.RegistryChanges);
}

// The event log component: one entry written under its source, then read
// back as the newest record of the log.
void RunEventLogDemo(demo::TDemoModule& module) {
  std::printf("== Event log\n");
  TZTNTEventLog& log = *module.EventLog;
  log.WriteToEventLog("ZTLogger demo ran", EVENTLOG_INFORMATION_TYPE, 0, 1);
  log.Open();
  const uint32_t count = log.EventCount();
  if (count == 0) throw EInOutError("The event log holds no record");
  log.ReadEvent(count - 1);
  std::printf("Newest of %u records: source %s, id %u, type %u, string \"%s\"\n", count, log.EventSource().c_str(),
              log.EventID() & 0xFFFF, log.EventType(), log.GetEventString(0).c_str());
  log.Close();
}

// The dataset change logger on an SQLite table: an edit and an insert, then
// the CHANGE lines and the statements the logger generated.
void RunDatasetDemo(demo::TDemoModule& module) {
  TSQLiteTable& customers = *module.Customers;
  customers.Edit();
  customers.FieldByName("Name")->SetAsString("John");
  customers.FieldByName("City")->SetAsString("Rome");
  customers.Post();
  customers.Append();
  customers.FieldByName("Id")->SetAsInteger(7);
  customers.FieldByName("Name")->SetAsString("Ann");
  customers.Post();
  Show(*module.CustomerLog);
  for (const String& statement : module.Statements) std::printf("== SQL statement\n%s\n", statement.c_str());
  std::printf("Customers in %s: %d\n", module.Database->DatabaseName().c_str(), customers.RecordCount());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    InstallFaultHandlers();
    // The components' classes come from the suite's registration, as in a
    // design host; the plain logs' base class is not on the palette.
    Register();
    RegisterClass(TZTLogBase::StaticClass());
    const TDemoArguments arguments = ReadArguments(argc, argv);
    const String& folder = arguments.Folder;
    if (!ForceDirectories(folder)) throw EInOutError("Cannot create " + folder);
    demo::TDemoModule module(nullptr, folder);
    if (!arguments.Collector.empty()) {
      module.ExceptionLog->SendTo()->SetCollector(arguments.Collector);
      module.ExceptionLog->SetActive(true);  // starts the link to the collector
    }
    std::printf("Registered on the palette:");
    for (const TPaletteEntry& e : RegisteredComponents()) std::printf(" %s", e.ComponentClass->ClassName().c_str());
    std::printf("\n");
    WriteSamples(*module.TextLog);
    WriteSamples(*module.XmlLog);
    ServeChanges(module.FolderChanges, 2);
    Show(*module.TextLog);
    Show(*module.XmlLog);
    RunRegistryDemo(module);
    RunEventLogDemo(module);
    RunMessageLoop();
    Show(*module.ExceptionLog);
    TellCollector(*module.ExceptionLog);
    std::printf("Application events reported: %d\n", module.AppEventCount);
    std::printf("Logs written to %s\n", folder.c_str());
    demo::RunCheckDemo();
    RunDatasetDemo(module);
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName().c_str(), e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
  }
  return 1;
}
