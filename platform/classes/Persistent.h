#pragma once
// Objects that can copy their settings and be stored with a form.
// Any thread; an object, and an Assign's source, from one thread at a time.
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

class TFiler;

class ZTL_PLATFORM_API TPersistent : public TObject {
  ZTL_DECLARE_CLASS(TPersistent, TObject)

 public:
  // Copies the settings of Source. A class that cannot copy from Source
  // passes the call to Source's AssignTo; the base raises EConvertError
  // "Cannot assign a <source class> to a <class>".
  virtual void Assign(TPersistent* Source);
  // The name by which the object is known in its owner, "Owner.Property".
  virtual String GetNamePath() const;

 protected:
  friend class TWriter;
  friend class TReader;
  virtual void AssignTo(TPersistent* Dest);
  // Stored forms: declares values stored besides the published properties
  // (binary data of pictures, for example) through TFiler::DefineBinaryProperty.
  virtual void DefineProperties(TFiler* Filer) { (void)Filer; }
  virtual TPersistent* GetOwner() const { return nullptr; }
};

}  // namespace ztl
