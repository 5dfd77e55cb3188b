// The ZTLogger demo: log components on a data module read from a stored form,
// writing a text log and an XML log; then the application's message loop, in
// which a click on the main form's button fails with an access violation that
// the exception logger reports (with the source line from the demo's map
// file) before the loop goes on. A folder change logger watches the output
// folder meanwhile and prints the changes the logs' own writes cause.
#include <chrono>
#include <cstdio>
#include <exception>

#include "core/LogBase.h"
#include "demo/CheckDemo.h"
#include "demo/DatasetModule.h"
#include "demo/DemoForm.h"
#include "demo/DemoModule.h"
#include "exceptionlog/LogError.h"
#include "platform/forms/HeadlessWidgetSet.h"
#include "platform/classes/Streams.h"
#include "platform/classes/Strings.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Threads.h"

using namespace ztl;

namespace {

String OutputFolder(int argc, char** argv) {
  if (argc > 1) return argv[1];
  return IncludeTrailingPathDelimiter(GetCurrentDir()) + "ztl-demo-output";
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
  std::printf("== %s (%s, %d lines)\n%s\n", log.LogFile().c_str(),
              log.Formatting() == ztlfXML ? "XML" : "text", lines.Count(), lines.Text().c_str());
}

// Ends the loop once everything posted has run and no modal window is open.
class TLoopEnd : public TObject {
 public:
  void Idle(TObject*, bool&) {
    if (!HeadlessWidgetSet().ModalForm()) Application->Terminate();
  }
};

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
  TLoopEnd loopEnd;
  Application->SetOnIdle(MakeMethod<&TLoopEnd::Idle>(&loopEnd));
  THeadlessWidgetSet& widgets = HeadlessWidgetSet();
  widgets.PostClick("btnLookup");
  Application->Run();
  Application->SetOnIdle(nullptr);
  for (const TShownWindow& shown : widgets.Shown())
    std::printf("Shown: %s \"%s\" (%s), closed with %d\n", shown.Kind == skForm ? "form" : "message box",
                shown.Caption.c_str(), shown.FormClass.c_str(), shown.Result);
}

// Serves the folder watcher's reports of the writes so far.
void ServeFolderChanges(const demo::TDemoModule& module) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (module.FolderChanges < 2 && std::chrono::steady_clock::now() < deadline) CheckSynchronize(50);
  CheckSynchronize(100);  // what came at the same moment
}

// The dataset change logger on an SQLite table: an edit and an insert, then
// the CHANGE lines and the statements the logger generated.
void RunDatasetDemo(const String& folder) {
  RegisterClass(TZTDatasetLog::StaticClass());
  demo::TDatasetModule module(nullptr, folder);
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
    RegisterClass(TZTLogBase::StaticClass());
    RegisterClass(TZTExceptionLog::StaticClass());
    RegisterClass(TZTFileLog::StaticClass());
    String folder = OutputFolder(argc, argv);
    if (!ForceDirectories(folder)) throw EInOutError("Cannot create " + folder);
    demo::TDemoModule module(nullptr, folder);
    WriteSamples(*module.TextLog);
    WriteSamples(*module.XmlLog);
    ServeFolderChanges(module);
    Show(*module.TextLog);
    Show(*module.XmlLog);
    RunMessageLoop();
    Show(*module.ExceptionLog);
    std::printf("Logs written to %s\n", folder.c_str());
    demo::RunCheckDemo();
    RunDatasetDemo(folder);
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName().c_str(), e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
  }
  return 1;
}
