#pragma once
// Stored forms: components with their published properties as text.
//
//   object DataModule1: TDataModule1
//     object Log1: TZTLogBase
//       Active = True
//       LogFile = 'app.log'
//       SendTo.EMail = 'support@example.com'
//       SendTo.Options = [doEmail, doWeb]
//       SendTo.AdditionalFiles.Strings = (
//         'a.txt'
//         'b.txt')
//       Formatting = ztlfXML
//     end
//   end
//
// The writer leaves out values equal to their declared default and values
// whose stored test is false. The reader applies values in file order with
// the loading state set, resolves component references at the end, then calls
// Loaded on every component it read. Events are stored by method name and
// bound to the published methods of the root.
//
// Any thread, for a root whose components no other thread uses meanwhile.
#include <functional>

#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TStream;

// Handed to TPersistent::DefineProperties to store data beside the published
// properties.
class ZTL_PLATFORM_API TFiler {
 public:
  virtual ~TFiler() = default;
  // ReadData gets a stream over the stored bytes; WriteData fills one.
  // HasData says whether there is anything to store.
  virtual void DefineBinaryProperty(const String& Name, const std::function<void(TStream&)>& ReadData,
                                    const std::function<void(TStream&)>& WriteData, bool HasData) = 0;
};

// The text form of Root and every component stored inside it.
ZTL_PLATFORM_API String ComponentToText(TComponent* Root);
// Reads text into an existing root component, creating the components stored
// inside it (their classes must be registered with RegisterClass). Raises
// EParserError for malformed text and EReadError (or a descendant) for values
// that do not fit.
ZTL_PLATFORM_API void TextToComponent(const String& Text, TComponent* Root);
// Creates the root of the class named in the text, owned by Owner, and reads it.
ZTL_PLATFORM_API TComponent* CreateComponentFromText(const String& Text, TComponent* Owner);
// Reads the module resource ResName (a stored form) into Instance.
ZTL_PLATFORM_API void ReadComponentRes(const String& ResName, TComponent* Instance);
// Reads the stored form named after Instance's class (its class name, upper
// case) when there is one; returns whether it found one.
ZTL_PLATFORM_API bool InitInheritedComponent(TComponent* Instance);

}  // namespace ztl
