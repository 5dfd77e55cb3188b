#pragma once
// Module resources: files of the source tree embedded into a module at build
// time (see cmake/ZTLResources.cmake) and found by name at run time.
// Any thread: the resource table takes its own lock.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

struct ZTL_PLATFORM_API TResourceEntry {
  const char* Name;  // upper case
  const unsigned char* Data;
  size_t Size;
};

// Registers a module's resources while the module is loaded.
class ZTL_PLATFORM_API TResourceRegistration {
 public:
  TResourceRegistration(const char* Module, const TResourceEntry* Entries, size_t Count);
  ~TResourceRegistration();
  TResourceRegistration(const TResourceRegistration&) = delete;
  TResourceRegistration& operator=(const TResourceRegistration&) = delete;

 private:
  const char* module_;
};

// Every resource of the loaded modules, ordered by name.
ZTL_PLATFORM_API std::vector<const TResourceEntry*> ResourceEntries();
// The resource of that name (case-insensitive) in any loaded module, or nullptr.
ZTL_PLATFORM_API const TResourceEntry* FindResourceEntry(const String& Name);
// The resource of that name in the module registered as Module (the name
// given to ztl_add_resources), or nullptr.
ZTL_PLATFORM_API const TResourceEntry* FindResourceEntry(const String& Module, const String& Name);

// A read-only stream over a resource; raises EResNotFound when there is none.
class ZTL_PLATFORM_API TResourceStream : public TMemoryStream {
  ZTL_DECLARE_CLASS(TResourceStream, TMemoryStream)

 public:
  explicit TResourceStream(const String& Name);
  // The resource of one module.
  TResourceStream(const String& Module, const String& Name);

 private:
  void Load(const TResourceEntry* entry, const String& Name);
};

}  // namespace ztl
