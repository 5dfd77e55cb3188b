#include <ztlogger/platform/classes/Persistent.h>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {

ZTL_DEFINE_CLASS(TPersistent, TObject)

void TPersistent::Assign(TPersistent* Source) {
  if (!Source) throw EConvertError("Cannot assign a nil to a " + ClassName());
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) {
  // Reached when neither side knows how to copy: the assignment error.
  throw EConvertError("Cannot assign a " + ClassName() + " to a " + (Dest ? Dest->ClassName() : String("nil")));
}

String TPersistent::GetNamePath() const { return ClassName(); }

}  // namespace ztl
