#include "demo/DemoForm.h"

#include "platform/classes/ClassBuilder.h"
#include "platform/rtl/Exceptions.h"

namespace demo {

using namespace ztl;

ZTL_BEGIN_CLASS(TDemoForm, TForm)
  .Method<&Self::btnLookupClick>("btnLookupClick")
  .Field("edtOrder", &Self::edtOrder)
  .Field("btnLookup", &Self::btnLookup)
ZTL_END_CLASS

namespace {

struct TOrder {
  String Customer;
};

// No order has been loaded: the lookup reads through a null pointer.
TOrder* LoadedOrder(const String&) { return nullptr; }

// Until hardware faults are raised as exceptions by the platform, the demo
// raises the access violation itself, at the line that would fault.
[[noreturn]] void FailOn(const TOrder*) { throw EAccessViolation("Access violation at address 00000000. Read of address 00000000"); }

}  // namespace

TDemoForm::TDemoForm(TComponent* AOwner) : TForm(AOwner) { CreateFromStoredForm(); }

void TDemoForm::btnLookupClick(TObject*) {
  TOrder* order = LoadedOrder(edtOrder->Text());
  if (!order) FailOn(order);
  edtOrder->SetText(order->Customer);
}

}  // namespace demo
