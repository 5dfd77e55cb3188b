#pragma once
// A container for non-visual components, usually read from a stored form.
// On a thread its components allow: the main thread for the log components.
#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Method.h>

namespace ztl {

class ZTL_PLATFORM_API TDataModule : public TComponent {
  ZTL_DECLARE_CLASS(TDataModule, TComponent)

 public:
  explicit TDataModule(TComponent* AOwner);

  TNotifyEvent OnCreate() const { return onCreate_; }
  void SetOnCreate(const TNotifyEvent& value) { onCreate_ = value; }

 protected:
  // A descendant calls this at the end of its constructor: it reads the
  // stored form named after the class (if there is one), then fires OnCreate.
  void CreateFromStoredForm();

 private:
  TNotifyEvent onCreate_;
};

}  // namespace ztl
