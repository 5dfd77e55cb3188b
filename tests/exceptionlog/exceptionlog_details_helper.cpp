// Started by the collector tests with parameters of their choice: prints the
// application block of an exception report in the text form, a null, and the
// XML form.
#include <cstdio>

#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/TypInfo.h>

int main() {
  using namespace ztl;
  Application->SetTitle("Order Entry");
  TZTExceptionLog text(nullptr);
  TZTExceptionLog xml(nullptr);
  SetEnumProp(&xml, "Formatting", "ztlfXML");
  const String printed = text.GetApplicationDetails() + String(1, '\0') + xml.GetApplicationDetails();
  return std::fwrite(printed.data(), 1, printed.size(), stdout) == printed.size() ? 0 : 1;
}
