#pragma once
// The runtime's registry class: a root key, the key opened below it and
// typed reads and writes of its values. Paths use backslashes; a path that
// starts with one is taken from the root key, any other from the key open at
// the time (or the root key when none is).
//
// Integers are stored as REG_DWORD, strings as REG_SZ (or REG_EXPAND_SZ),
// booleans as REG_DWORD 0 or 1, floating-point numbers and binary data as REG_BINARY
// (a float as its 8 bytes). Reading a value of another type raises
// ERegistryException; a missing string reads as empty, a missing number
// raises.
//
// Any thread; each TRegistry from one thread at a time.
#include <cstdint>
#include <vector>

#include <ztlogger/platform/os/WinNames.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, ERegistryException, Exception)

enum TRegDataType : uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
  TRegDataType RegData = rdUnknown;
  int32_t DataSize = 0;
};

class ZTL_PLATFORM_API TRegistry : public TObject {
  ZTL_DECLARE_CLASS(TRegistry, TObject)

 public:
  // Root key HKEY_CURRENT_USER; access KEY_ALL_ACCESS unless given.
  TRegistry();
  explicit TRegistry(uint32_t AAccess);
  // Closes the open key.
  ~TRegistry() override;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY RootKey() const { return FRootKey; }
  // Closes the open key when the root changes.
  void SetRootKey(HKEY Value);
  // The rights keys are opened with (KEY_READ, KEY_ALL_ACCESS, ...).
  uint32_t Access() const { return FAccess; }
  void SetAccess(uint32_t Value) { FAccess = Value; }
  // The open key, nullptr when none is open; its path below the root key.
  HKEY CurrentKey() const { return FCurrentKey; }
  const String& CurrentPath() const { return FCurrentPath; }

  // Opens a key (creating it and the keys on its way when CanCreate) and
  // makes it the open key; false, with the open key unchanged, when it does
  // not exist or cannot be opened.
  bool OpenKey(const String& Key, bool CanCreate);
  // Opens a key for reading only; Access becomes KEY_READ.
  bool OpenKeyReadOnly(const String& Key);
  void CloseKey();
  // Creates a key without opening it; false when it cannot be created.
  bool CreateKey(const String& Key);
  // Deletes a key with everything below it.
  bool DeleteKey(const String& Key);
  bool KeyExists(const String& Key);
  bool HasSubKeys();
  // The names of the open key's subkeys, and of its values.
  void GetKeyNames(std::vector<String>& Strings);
  void GetValueNames(std::vector<String>& Strings);

  bool ValueExists(const String& Name);
  bool DeleteValue(const String& Name);
  // Type and size of a value; false when there is no such value.
  bool GetDataInfo(const String& ValueName, TRegDataInfo& Value);
  TRegDataType GetDataType(const String& ValueName);
  // The size in bytes, -1 for a missing value.
  int32_t GetDataSize(const String& ValueName);

  String ReadString(const String& Name);
  void WriteString(const String& Name, const String& Value);
  void WriteExpandString(const String& Name, const String& Value);
  int32_t ReadInteger(const String& Name);
  void WriteInteger(const String& Name, int32_t Value);
  bool ReadBool(const String& Name) { return ReadInteger(Name) != 0; }
  void WriteBool(const String& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }
  double ReadFloat(const String& Name);
  void WriteFloat(const String& Name, double Value);
  // Reads binary data (or data of an unknown type) into Buffer; returns its
  // size, 0 for a missing value. Data larger than BufSize raises.
  int32_t ReadBinaryData(const String& Name, void* Buffer, int32_t BufSize);
  void WriteBinaryData(const String& Name, const void* Buffer, int32_t BufSize);

 private:
  HKEY BaseKey(bool Relative) const;
  void PutData(const String& Name, uint32_t Type, const void* Buffer, size_t Size);
  // The value's type and data; raises when it cannot be read.
  uint32_t GetData(const String& Name, std::basic_string<uint8_t>& Data);

  HKEY FRootKey;
  HKEY FCurrentKey = nullptr;
  String FCurrentPath;
  uint32_t FAccess;
};

}  // namespace ztl
