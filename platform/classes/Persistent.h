#pragma once
// Objects that can copy their settings and be stored with a form.
#include "platform/classes/Object.h"

namespace ztl {

class TPersistent : public TObject {
  ZTL_DECLARE_CLASS(TPersistent, TObject)

 public:
  // Copies the settings of Source. A class that cannot copy from Source
  // passes the call to Source's AssignTo; the base raises EConvertError
  // "Cannot assign a <source class> to a <class>".
  virtual void Assign(TPersistent* Source);
  // The name by which the object is known in its owner, "Owner.Property".
  virtual String GetNamePath() const;

 protected:
  virtual void AssignTo(TPersistent* Dest);
  virtual TPersistent* GetOwner() const { return nullptr; }
};

}  // namespace ztl
