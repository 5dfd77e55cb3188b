#include "demo/DemoForm.h"

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TDemoForm, TForm)
  .Method<&Self::btnLookupClick>("btnLookupClick")
  .Field("edtOrder", &Self::edtOrder)
  .Field("btnLookup", &Self::btnLookup)
ZTL_END_CLASS

namespace {

struct TOrder {
  int Number;
  int CustomerId;
};

// No order has been loaded. The pointer comes back through a volatile, so
// the compiler cannot see it is null and the read really happens.
TOrder* LoadedOrder(const String&) {
  TOrder* volatile none = nullptr;
  return none;
}

}  // namespace

TDemoForm::TDemoForm(TComponent* AOwner) : TForm(AOwner) { CreateFromStoredForm(); }

// The fault is the point of the demo: sanitizer builds let the hardware see it.
__attribute__((no_sanitize("undefined"))) void TDemoForm::btnLookupClick(TObject*) {
  // Reads through a null pointer: the platform raises EAccessViolation here.
  TOrder* order = LoadedOrder(edtOrder->Text());
  edtOrder->SetText("Customer " + IntToStr(order->CustomerId));
}

}  // namespace demo
