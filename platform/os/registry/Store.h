#pragma once
// The registry's store on disk: how keys and values are named, written and
// read under the registry folder, apart from handles and notifications.
// Relies on the POSIX file calls and on the platform prefix (os/Prefix.h)
// through the registry's folder; knows nothing of open keys.
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/os/WinTypes.h>

namespace ztl::os::registry {

using Bytes = std::basic_string<BYTE>;

// Names as the registry compares them: folded to upper case (the simple
// upper case of the Unicode Character Database).
std::u16string FoldName(std::u16string_view name);
bool SameName(std::u16string_view a, std::u16string_view b);

// Reads a file whole: 0, or the errno of the failure.
int ReadAll(const std::string& path, Bytes& out);
// A name for an entry being written (".tmp-*") or removed (".del-*").
std::string UniqueName(const char* kind);
Bytes Utf16Bytes(std::u16string_view text);
std::u16string Utf16FromBytes(const BYTE* data, size_t count);
uint32_t Get32(const BYTE* p);
void Put32(BYTE* p, uint32_t v);

// A value as stored.
struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  uint64_t created = 0;
  Bytes data;
};

// Parses a value file; false for a file that is no value.
bool ParseValue(const Bytes& file, Value& value, bool withData = true);
bool ParseValue(const BYTE* file, size_t size, Value& value, bool withData = true);
// The file of a value: the header, the name, then the data.
Bytes EncodeValue(DWORD type, uint64_t created, std::u16string_view name, const BYTE* data, size_t size);
std::optional<std::u16string> StoredKeyName(const std::string& folder);
std::optional<std::u16string> StoredValueName(const std::string& file);

// Where a name lives in a folder: the entry's path, whether it exists, and
// the error of an entry there that may not be used (a link, a folder the
// caller may not search).
struct Place {
  std::string path;
  bool exists;
  DWORD error = ERROR_SUCCESS;
};
Place Locate(const std::string& folder, std::u16string_view name, bool isKey);
// Reads the file of a value: 0, or the errno value (ENOENT for none).
int ReadValueFile(const std::string& folder, std::u16string_view name, Bytes& file);

// The Windows error code for an errno.
DWORD ErrorOf(int error);
// An entry's status, not following a link; false for none or a link.
bool StatEntry(const std::string& path, struct stat& st);
bool IsFolder(const std::string& path);
DWORD RemoveValueFile(const std::string& path);
void RemoveQuietly(const std::string& path);
// Replaces a file in one step: written aside in the folder, then renamed.
DWORD ReplaceFile(const std::string& folder, const std::string& target, const Bytes& content);
// Makes the folder of a new key in one step; created false when another
// process made it first.
DWORD CreateKeyFolder(std::string folder, std::u16string_view name, std::string& path, bool& created);
// The folder of HKEY_CURRENT_USER: the caller's own key under HKEY_USERS
// (`registry` is the registry's folder), made private where missing, taking
// over the one key of earlier versions when it is the caller's.
DWORD CurrentUserFolder(const std::string& registry, std::string& folder);
// The name of the caller's key under HKEY_USERS: "S-1-5-21-0-0-0-" and the
// effective user id.
std::u16string CurrentUserId();

// Splits a key path at its backslashes, checking each name.
DWORD SplitPath(LPCWSTR subKey, std::vector<std::u16string_view>& names);
std::u16string ValueName(LPCWSTR name);

// When a key's folder last changed, in nanoseconds; 0 for a folder that is gone.
int64_t FolderChanged(const std::string& folder);
// Whether an enumeration's snapshot is to be taken (again).
bool TakeSnapshot(const std::string& folder, DWORD index, size_t listed, int64_t& taken, DWORD& error);
// Walks a path of existing keys below `folder`.
DWORD FindKey(const std::string& folder, const std::vector<std::u16string_view>& names, std::string& path);
std::vector<std::u16string> ListSubkeys(const std::string& folder);
std::vector<Value> ListValues(const std::string& folder);
DWORD DeleteKeyFolder(const std::string& parent, const std::string& path, bool withSubkeys);

}  // namespace ztl::os::registry
