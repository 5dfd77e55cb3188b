// Started without parameters by the report tests: writes the report of one
// access violation with the default settings into the log file named by
// ZTL_REPORT_LOG, in the form named by ZTL_REPORT_FORM ("text" or "xml").
// The clock's texts, the machine's names and the raise address are fixed.
#include <cstdio>
#include <cstdlib>

#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/Testing.h>

namespace {

using namespace ztl;

class FixedFacts : public SystemFacts {
 public:
  String HostName() const override { return "orderdesk"; }
  String UserName() const override { return "clerk"; }
};

int Run() {
  const char* logFile = std::getenv("ZTL_REPORT_LOG");
  const char* form = std::getenv("ZTL_REPORT_FORM");
  if (!logFile || !form) return 2;
  FixedFacts facts;
  ScopedSystemFacts scope(facts);
  FormatSettings().ShortDateFormat = "'07.12.2026'";
  FormatSettings().LongTimeFormat = "'08:20:55'";
  Application->SetTitle("Order Entry");

  TForm* orders = new TForm(Application);
  orders->SetName("frmOrders");
  orders->SetCaption("Orders");
  auto* customer = new TEdit(orders);
  customer->SetName("edtCustomer");
  customer->SetParent(orders);
  orders->Show();
  customer->SetFocus();

  TZTExceptionLog log(nullptr);
  SetOrdProp(&log, "Active", 1);
  if (String(form) == "xml") SetEnumProp(&log, "Formatting", "ztlfXML");
  log.SetLogFile(logFile);
  log.SetErrorDialog(edNone);
  Application->QueueCall([] {
    RaiseAt(EAccessViolation("Access violation at address 12345678"), reinterpret_cast<void*>(0x12345678));
  });
  Application->ProcessMessages();
  return 0;
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
