// The Reg* calls: open keys and their handle table, access checks, and the
// Windows error codes the callers see. Relies on the store (registry/Store.h)
// for everything on disk and on the notifier (registry/Notify.h) for
// RegNotifyChangeKeyValue.
#include <ztlogger/platform/os/registry/Api.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/Sync.h>
#include <ztlogger/platform/os/registry/Notify.h>
#include <ztlogger/platform/os/registry/Store.h>

namespace ztl::os {

using namespace registry;

namespace {

// Open keys. Handles of keys have a table of their own; their values are
// small multiples of four, apart from the predefined keys' values.
struct Key {
  std::string folder;
  REGSAM access = KEY_ALL_ACCESS;
  std::mutex lock;                         // guards what follows
  std::vector<std::u16string> subkeyList;  // enumeration snapshots, taken at index 0
  std::vector<Value> valueList;
  // The folder's change time when each snapshot was taken (0 for none): an
  // index past a snapshot lists the folder again only when it changed.
  int64_t subkeysTaken = 0;
  int64_t valuesTaken = 0;
  std::shared_ptr<Watch> watch;
};

struct KeyTable {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<Key>> keys;
  uintptr_t next = 0x1000;
};

KeyTable& Keys() {
  static KeyTable* table = new KeyTable;  // never destroyed, like the handle table
  return *table;
}

const char* RootName(HKEY key) {
  const auto value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  if (reinterpret_cast<intptr_t>(key) != static_cast<intptr_t>(static_cast<int32_t>(value))) return nullptr;
  switch (value) {
    case 0x80000000u: return "HKEY_CLASSES_ROOT";
    case 0x80000001u: return "HKEY_CURRENT_USER";
    case 0x80000002u: return "HKEY_LOCAL_MACHINE";
    case 0x80000003u: return "HKEY_USERS";
    case 0x80000005u: return "HKEY_CURRENT_CONFIG";
    default: return nullptr;
  }
}

// The folder of a root key, made where missing. HKEY_CURRENT_USER is the
// caller's own key under HKEY_USERS, as Windows maps it through the SID.
DWORD RootFolder(HKEY handle, const char* root, std::string& folder) {
  const std::string registry = RegistryFolder();
  if (handle == HKEY_CURRENT_USER) return CurrentUserFolder(registry, folder);
  folder = registry + "/" + root;
  // Every user makes their own key under HKEY_USERS.
  const int failed = MakeStoreFolder(folder, handle == HKEY_USERS ? 01777 : 0755);
  return failed == 0 ? ERROR_SUCCESS : ErrorOf(failed);
}

// The key a handle names, or nullptr with the error.
std::shared_ptr<Key> Resolve(HKEY handle, DWORD& error) {
  error = ERROR_SUCCESS;
  if (const char* root = RootName(handle)) {
    auto key = std::make_shared<Key>();
    error = RootFolder(handle, root, key->folder);
    return error == ERROR_SUCCESS ? key : nullptr;
  }
  KeyTable& table = Keys();
  std::lock_guard guard(table.lock);
  const auto found = table.keys.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.keys.end()) {
    error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return found->second;
}

HKEY InsertKey(std::shared_ptr<Key> key) {
  KeyTable& table = Keys();
  std::lock_guard guard(table.lock);
  const uintptr_t value = table.next;
  table.next += 4;
  table.keys[value] = std::move(key);
  return reinterpret_cast<HKEY>(value);
}

// The error for a failure on an open key: its own deletion shows as such.
DWORD KeyError(const Key& key, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND && !IsFolder(key.folder)) return ERROR_KEY_DELETED;
  return error;
}

bool Allowed(const Key& key, REGSAM right) { return (key.access & right) == right; }

void PutLength(LPDWORD target, size_t value) {
  if (target) *target = static_cast<DWORD>(value);
}

FILETIME FileTimeOf(const timespec& time) {
  const uint64_t ticks =
      (static_cast<uint64_t>(time.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD OpenOrCreate(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, PHKEY phkResult, LPDWORD disposition, bool create) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto parent = Resolve(hKey, error);
  if (!parent) return error;
  std::vector<std::u16string_view> names;
  if ((error = SplitPath(lpSubKey, names)) != ERROR_SUCCESS) return error;
  auto key = std::make_shared<Key>();
  key->access = samDesired;
  if (!create) {
    if ((error = FindKey(parent->folder, names, key->folder)) != ERROR_SUCCESS) return KeyError(*parent, error);
  } else {
    if (!IsFolder(parent->folder)) return ERROR_KEY_DELETED;
    key->folder = parent->folder;
    bool created = false;
    bool mayCreate = Allowed(*parent, KEY_CREATE_SUB_KEY);
    for (const auto& name : names) {
      const Place place = Locate(key->folder, name, true);
      if (place.error != ERROR_SUCCESS) return place.error;
      if (place.exists) {
        key->folder = place.path;
        created = false;
        mayCreate = true;  // the keys below an opened one are the caller's to make
        continue;
      }
      if (!mayCreate) return ERROR_ACCESS_DENIED;
      if ((error = CreateKeyFolder(key->folder, name, key->folder, created)) != ERROR_SUCCESS) return error;
      mayCreate = true;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  *phkResult = InsertKey(std::move(key));
  return ERROR_SUCCESS;
}

}  // namespace

String RegistryFolder() { return PlatformPrefix() + "/registry"; }

LSTATUS RegReadValue(HKEY hKey, const char16_t* name, DWORD& type, Bytes& data) {
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const std::u16string_view valueName = name ? std::u16string_view(name) : std::u16string_view();
  if (valueName.size() > REG_MAX_VALUE_NAME) return ERROR_FILE_NOT_FOUND;
  Bytes file;
  if (const int failed = ReadValueFile(key->folder, valueName, file))
    return static_cast<LSTATUS>(KeyError(*key, ErrorOf(failed)));
  Value value;
  if (!ParseValue(file, value)) return ERROR_FILE_NOT_FOUND;
  type = value.type;
  data = std::move(value.data);
  return ERROR_SUCCESS;
}

}  // namespace ztl::os

using ztl::os::Key;
using ztl::os::registry::Bytes;

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return static_cast<LSTATUS>(ztl::os::OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, nullptr, false));
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return static_cast<LSTATUS>(ztl::os::OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition, true));
}

LSTATUS RegCloseKey(HKEY hKey) {
  using namespace ztl::os;
  if (RootName(hKey)) return ERROR_SUCCESS;
  std::shared_ptr<Key> key;
  {
    KeyTable& table = Keys();
    std::lock_guard guard(table.lock);
    const auto found = table.keys.find(reinterpret_cast<uintptr_t>(hKey));
    if (found == table.keys.end()) return ERROR_INVALID_HANDLE;
    key = std::move(found->second);
    table.keys.erase(found);
  }
  std::lock_guard guard(key->lock);
  if (key->watch) {
    Notifier::Instance().Remove(key->watch);
    key->watch->Close();
  }
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  DWORD type;
  Bytes data;
  if (const LSTATUS error = ztl::os::RegReadValue(hKey, lpValueName, type, data)) return error;
  if (lpType) *lpType = type;
  if (!lpcbData) return ERROR_SUCCESS;
  const DWORD capacity = *lpcbData;
  *lpcbData = static_cast<DWORD>(data.size());
  if (!lpData) return ERROR_SUCCESS;
  if (capacity < data.size()) return ERROR_MORE_DATA;
  std::copy(data.begin(), data.end(), lpData);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!lpData && cbData > 0) return ERROR_NOACCESS;
  Value value;
  value.name = ValueName(lpValueName);
  if (value.name.size() > REG_MAX_VALUE_NAME) return ERROR_INVALID_PARAMETER;
  if (!IsFolder(key->folder)) return ERROR_KEY_DELETED;
  const Place place = Locate(key->folder, value.name, false);
  if (place.error != ERROR_SUCCESS) return static_cast<LSTATUS>(place.error);
  // A value replaced keeps its spelling and its place in the enumeration.
  Bytes old;
  Value previous;
  if (place.exists && ReadAll(place.path, old) == 0 && ParseValue(old, previous, false)) {
    value.name = previous.name;
    value.created = previous.created;
  } else {
    value.created = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  }
  const Bytes file = EncodeValue(dwType, value.created, value.name, lpData, cbData);
  return static_cast<LSTATUS>(ReplaceFile(key->folder, place.path, file));
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::u16string name = ValueName(lpValueName);
  if (name.size() > REG_MAX_VALUE_NAME) return ERROR_FILE_NOT_FOUND;
  const Place place = Locate(key->folder, name, false);
  if (place.error != ERROR_SUCCESS) return static_cast<LSTATUS>(place.error);
  if (!place.exists || RemoveValueFile(place.path) != ERROR_SUCCESS)
    return static_cast<LSTATUS>(KeyError(*key, ERROR_FILE_NOT_FOUND));
  return ERROR_SUCCESS;
}

namespace {

LSTATUS DeleteKey(HKEY hKey, LPCWSTR lpSubKey, bool tree) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  std::vector<std::u16string_view> names;
  if ((error = SplitPath(lpSubKey, names)) != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if (names.empty()) {
    if (tree && lpSubKey == nullptr) {  // what is below the key, not the key
      for (const auto& name : ListSubkeys(key->folder)) {
        const std::u16string path = name;
        if (const LSTATUS failed = DeleteKey(hKey, path.c_str(), true)) return failed;
      }
      for (const auto& value : ListValues(key->folder)) {
        const Place place = Locate(key->folder, value.name, false);
        if (place.exists && place.error == ERROR_SUCCESS) RemoveValueFile(place.path);
      }
      return ERROR_SUCCESS;
    }
    if (RootName(hKey)) return ERROR_ACCESS_DENIED;  // a root key stays
    const std::string folder = key->folder;
    const size_t slash = folder.find_last_of('/');
    if (!IsFolder(folder)) return ERROR_KEY_DELETED;
    return static_cast<LSTATUS>(DeleteKeyFolder(folder.substr(0, slash), folder, tree));
  }
  std::string path;
  if ((error = FindKey(key->folder, names, path)) != ERROR_SUCCESS) return static_cast<LSTATUS>(KeyError(*key, error));
  return static_cast<LSTATUS>(DeleteKeyFolder(path.substr(0, path.find_last_of('/')), path, tree));
}

}  // namespace

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, lpSubKey, false);
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) { return DeleteKey(hKey, lpSubKey, true); }

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcName, LPDWORD, LPWSTR lpClass,
                      LPDWORD lpcClass, PFILETIME lpftLastWriteTime) {
  using namespace ztl::os;
  if (!lpName || !lpcName) return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::lock_guard guard(key->lock);
  if (TakeSnapshot(key->folder, dwIndex, key->subkeyList.size(), key->subkeysTaken, error))
    key->subkeyList = ListSubkeys(key->folder);
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if (dwIndex >= key->subkeyList.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& name = key->subkeyList[dwIndex];
  if (*lpcName < name.size() + 1) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), lpName);
  lpName[name.size()] = 0;
  *lpcName = static_cast<DWORD>(name.size());
  if (lpClass && lpcClass && *lpcClass > 0) *lpClass = 0;
  if (lpcClass) *lpcClass = 0;
  if (lpftLastWriteTime) {
    struct stat st {};
    StatEntry(Locate(key->folder, name, true).path, st);
    *lpftLastWriteTime = FileTimeOf(st.st_mtim);
  }
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  using namespace ztl::os;
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  std::lock_guard guard(key->lock);
  if (TakeSnapshot(key->folder, dwIndex, key->valueList.size(), key->valuesTaken, error))
    key->valueList = ListValues(key->folder);
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if (dwIndex >= key->valueList.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = key->valueList[dwIndex];
  if (*lpcchValueName < value.name.size() + 1) return ERROR_MORE_DATA;
  std::copy(value.name.begin(), value.name.end(), lpValueName);
  lpValueName[value.name.size()] = 0;
  *lpcchValueName = static_cast<DWORD>(value.name.size());
  if (lpType) *lpType = value.type;
  if (lpcbData) {
    const DWORD capacity = *lpcbData;
    *lpcbData = static_cast<DWORD>(value.data.size());
    if (lpData) {
      if (capacity < value.data.size()) return ERROR_MORE_DATA;
      std::copy(value.data.begin(), value.data.end(), lpData);
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcClass, LPDWORD, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  struct stat st;
  if (!StatEntry(key->folder, st)) return ERROR_KEY_DELETED;
  const auto subkeys = ListSubkeys(key->folder);
  const auto values = ListValues(key->folder);
  size_t maxSubkey = 0, maxName = 0, maxData = 0;
  for (const auto& name : subkeys) maxSubkey = std::max(maxSubkey, name.size());
  for (const auto& value : values) {
    maxName = std::max(maxName, value.name.size());
    maxData = std::max(maxData, value.data.size());
  }
  if (lpClass && lpcClass && *lpcClass > 0) *lpClass = 0;
  PutLength(lpcClass, 0);
  PutLength(lpcSubKeys, subkeys.size());
  PutLength(lpcbMaxSubKeyLen, maxSubkey);
  PutLength(lpcbMaxClassLen, 0);
  PutLength(lpcValues, values.size());
  PutLength(lpcbMaxValueNameLen, maxName);
  PutLength(lpcbMaxValueLen, maxData);
  PutLength(lpcbSecurityDescriptor, 0);
  if (lpftLastWriteTime) *lpftLastWriteTime = FileTimeOf(st.st_mtim);
  return ERROR_SUCCESS;
}

LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                BOOL fAsynchronous) {
  using namespace ztl::os;
  if ((dwNotifyFilter & ~(kKnownFilters | REG_NOTIFY_THREAD_AGNOSTIC)) != 0 || (dwNotifyFilter & kKnownFilters) == 0)
    return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_NOTIFY)) return ERROR_ACCESS_DENIED;
  if (RootName(hKey)) return ERROR_INVALID_HANDLE;  // watch a key opened by the caller
  std::shared_ptr<KernelObject> event;
  HANDLE ownEvent = nullptr;
  if (fAsynchronous) {
    if (!hEvent) return ERROR_INVALID_PARAMETER;
    event = ReferenceEventObject(hEvent);
    if (!event) return ERROR_INVALID_HANDLE;
  } else {
    const DWORD lastError = GetLastError();  // the registry's calls leave it alone
    ownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ownEvent) {
      error = GetLastError();
      SetLastError(lastError);
      return static_cast<LSTATUS>(error);
    }
    SetLastError(lastError);
    event = ReferenceEventObject(ownEvent);
  }
  std::shared_ptr<Watch> watch;
  {
    std::lock_guard guard(key->lock);
    if (!key->watch) {
      int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (fd < 0 && errno == EMFILE) {
        FinishPendingCloses();  // closed watches may still hold instances
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      }
      if (fd < 0) error = errno == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : ErrorOf(errno);
      if (fd >= 0) {
        auto made = std::make_shared<Watch>(fd, bWatchSubtree != FALSE, dwNotifyFilter & kKnownFilters);
        error = made->Start(key->folder);
        if (error == ERROR_SUCCESS) key->watch = made;
      }
    }
    watch = key->watch;
  }
  if (!watch) {
    if (ownEvent) CloseHandle(ownEvent);
    return static_cast<LSTATUS>(KeyError(*key, error));
  }
  Notifier::Instance().Add(watch);
  watch->Register(event);
  if (ownEvent) {
    WaitForSingleObject(ownEvent, INFINITE);
    CloseHandle(ownEvent);
  }
  return ERROR_SUCCESS;
}
