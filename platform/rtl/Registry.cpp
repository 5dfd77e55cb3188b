#include <ztlogger/platform/rtl/Registry.h>

#include <cstring>

#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

ZTL_DEFINE_PLAIN_CLASS(ERegistryException, Exception)
ZTL_DEFINE_PLAIN_CLASS(TRegistry, TObject)

namespace {

using Bytes = std::basic_string<uint8_t>;

bool IsRelative(const String& Key) { return Key.empty() || Key.front() != '\\'; }

std::u16string PathOf(const String& Key) { return unicode::Utf8ToUtf16(IsRelative(Key) ? Key : Key.substr(1)); }

std::u16string Wide(const String& text) { return unicode::Utf8ToUtf16(text); }

TRegDataType DataTypeOf(DWORD type) {
  switch (type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    default: return rdUnknown;
  }
}

[[noreturn]] void ReadError(const String& Name) { throw ERegistryException("Invalid data type for '" + Name + "'"); }

}  // namespace

TRegistry::TRegistry() : TRegistry(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(uint32_t AAccess) : FRootKey(HKEY_CURRENT_USER), FAccess(AAccess) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY Value) {
  if (Value == FRootKey) return;
  CloseKey();
  FRootKey = Value;
}

HKEY TRegistry::BaseKey(bool Relative) const { return Relative && FCurrentKey ? FCurrentKey : FRootKey; }

bool TRegistry::OpenKey(const String& Key, bool CanCreate) {
  const bool relative = IsRelative(Key);
  const std::u16string path = PathOf(Key);
  HKEY opened = nullptr;
  const LSTATUS result = CanCreate ? RegCreateKeyExW(BaseKey(relative), path.c_str(), 0, nullptr,
                                                     REG_OPTION_NON_VOLATILE, FAccess, nullptr, &opened, nullptr)
                                   : RegOpenKeyExW(BaseKey(relative), path.c_str(), 0, FAccess, &opened);
  if (result != ERROR_SUCCESS) return false;
  String newPath = relative ? Key : Key.substr(1);
  if (relative && FCurrentKey && !FCurrentPath.empty()) newPath = FCurrentPath + "\\" + newPath;
  CloseKey();
  FCurrentKey = opened;
  FCurrentPath = newPath;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const String& Key) {
  FAccess = KEY_READ;
  return OpenKey(Key, false);
}

void TRegistry::CloseKey() {
  if (FCurrentKey) RegCloseKey(FCurrentKey);
  FCurrentKey = nullptr;
  FCurrentPath.clear();
}

bool TRegistry::CreateKey(const String& Key) {
  const std::u16string path = PathOf(Key);
  HKEY created = nullptr;
  if (RegCreateKeyExW(BaseKey(IsRelative(Key)), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &created, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(created);
  return true;
}

bool TRegistry::DeleteKey(const String& Key) {
  const std::u16string path = PathOf(Key);
  if (path.empty()) return false;  // the open key or the root is not deleted this way
  return RegDeleteTreeW(BaseKey(IsRelative(Key)), path.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::KeyExists(const String& Key) {
  const std::u16string path = PathOf(Key);
  HKEY opened = nullptr;
  if (RegOpenKeyExW(BaseKey(IsRelative(Key)), path.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &opened) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(opened);
  return true;
}

bool TRegistry::HasSubKeys() {
  DWORD count = 0;
  return RegQueryInfoKeyW(FCurrentKey, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS &&
         count > 0;
}

void TRegistry::GetKeyNames(std::vector<String>& Strings) {
  Strings.clear();
  WCHAR name[REG_MAX_KEY_NAME + 1];
  for (DWORD i = 0;; ++i) {
    DWORD length = REG_MAX_KEY_NAME + 1;
    if (RegEnumKeyExW(FCurrentKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    Strings.push_back(unicode::Utf16ToUtf8(std::u16string_view(name, length)));
  }
}

void TRegistry::GetValueNames(std::vector<String>& Strings) {
  Strings.clear();
  std::u16string name(REG_MAX_VALUE_NAME + 1, 0);
  for (DWORD i = 0;; ++i) {
    DWORD length = REG_MAX_VALUE_NAME + 1;
    if (RegEnumValueW(FCurrentKey, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    Strings.push_back(unicode::Utf16ToUtf8(std::u16string_view(name.data(), length)));
  }
}

bool TRegistry::ValueExists(const String& Name) {
  TRegDataInfo info;
  return GetDataInfo(Name, info);
}

bool TRegistry::DeleteValue(const String& Name) {
  return RegDeleteValueW(FCurrentKey, Wide(Name).c_str()) == ERROR_SUCCESS;
}

bool TRegistry::GetDataInfo(const String& ValueName, TRegDataInfo& Value) {
  DWORD type = REG_NONE, size = 0;
  Value = {};
  if (RegQueryValueExW(FCurrentKey, Wide(ValueName).c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  Value.RegData = DataTypeOf(type);
  Value.DataSize = static_cast<int32_t>(size);
  return true;
}

TRegDataType TRegistry::GetDataType(const String& ValueName) {
  TRegDataInfo info;
  return GetDataInfo(ValueName, info) ? info.RegData : rdUnknown;
}

int32_t TRegistry::GetDataSize(const String& ValueName) {
  TRegDataInfo info;
  return GetDataInfo(ValueName, info) ? info.DataSize : -1;
}

uint32_t TRegistry::GetData(const String& Name, Bytes& Data) {
  DWORD type = REG_NONE;
  if (os::RegReadValue(FCurrentKey, Wide(Name).c_str(), type, Data) != ERROR_SUCCESS)
    throw ERegistryException("Failed to get data for '" + Name + "'");
  return type;
}

void TRegistry::PutData(const String& Name, uint32_t Type, const void* Buffer, size_t Size) {
  if (RegSetValueExW(FCurrentKey, Wide(Name).c_str(), 0, Type, static_cast<const BYTE*>(Buffer),
                     static_cast<DWORD>(Size)) != ERROR_SUCCESS)
    throw ERegistryException("Failed to set data for '" + Name + "'");
}

String TRegistry::ReadString(const String& Name) {
  DWORD type = REG_NONE;
  Bytes data;
  if (os::RegReadValue(FCurrentKey, Wide(Name).c_str(), type, data) != ERROR_SUCCESS) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) ReadError(Name);
  std::u16string text(data.size() / 2, 0);
  std::memcpy(text.data(), data.data(), text.size() * 2);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));  // up to the terminator, if stored
  return unicode::Utf16ToUtf8(text);
}

void TRegistry::WriteString(const String& Name, const String& Value) {
  const std::u16string text = Wide(Value);
  PutData(Name, REG_SZ, text.c_str(), (text.size() + 1) * 2);
}

void TRegistry::WriteExpandString(const String& Name, const String& Value) {
  const std::u16string text = Wide(Value);
  PutData(Name, REG_EXPAND_SZ, text.c_str(), (text.size() + 1) * 2);
}

int32_t TRegistry::ReadInteger(const String& Name) {
  Bytes data;
  if (GetData(Name, data) != REG_DWORD || data.size() != sizeof(int32_t)) ReadError(Name);
  int32_t value;
  std::memcpy(&value, data.data(), sizeof value);
  return value;
}

void TRegistry::WriteInteger(const String& Name, int32_t Value) { PutData(Name, REG_DWORD, &Value, sizeof Value); }

double TRegistry::ReadFloat(const String& Name) {
  Bytes data;
  if (GetData(Name, data) != REG_BINARY || data.size() != sizeof(double)) ReadError(Name);
  double value;
  std::memcpy(&value, data.data(), sizeof value);
  return value;
}

void TRegistry::WriteFloat(const String& Name, double Value) { PutData(Name, REG_BINARY, &Value, sizeof Value); }

int32_t TRegistry::ReadBinaryData(const String& Name, void* Buffer, int32_t BufSize) {
  DWORD type = REG_NONE;
  Bytes data;
  if (os::RegReadValue(FCurrentKey, Wide(Name).c_str(), type, data) != ERROR_SUCCESS) return 0;
  const TRegDataType kind = DataTypeOf(type);
  if ((kind != rdBinary && kind != rdUnknown) || data.size() > static_cast<size_t>(std::max(BufSize, 0)))
    ReadError(Name);
  if (!data.empty()) std::memcpy(Buffer, data.data(), data.size());
  return static_cast<int32_t>(data.size());
}

void TRegistry::WriteBinaryData(const String& Name, const void* Buffer, int32_t BufSize) {
  PutData(Name, REG_BINARY, Buffer, static_cast<size_t>(std::max(BufSize, 0)));
}

}  // namespace ztl
