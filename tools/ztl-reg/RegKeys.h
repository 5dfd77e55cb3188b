#pragma once
// The registry as ztl-reg sees it: key paths with their root ("HKLM\\..."),
// open keys closed by their owner, a key's values and subkeys, and the
// bytes of values. Shared by the tool's commands, its .reg files
// (RegFile.h) and their tests. Relies on the registry service.
//
// Any thread; an open key from one thread at a time.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::regtool {

using Bytes = std::basic_string<BYTE>;

struct Root {
  const char* abbreviation;
  const char* name;
  HKEY key;
};

// The root keys, abbreviated and in full.
extern const Root kRoots[5];

std::string Upper(std::string text);

// A key path split into its root and the path below it.
struct KeyPath {
  const Root* root = nullptr;
  std::string sub;
  std::string Full(bool abbreviated = false) const {
    std::string name = abbreviated ? root->abbreviation : root->name;
    return sub.empty() ? name : name + "\\" + sub;
  }
};

// The path a text names; nullopt for an unknown root key.
std::optional<KeyPath> ParseKey(const std::string& text);

// An open key, closed with its owner.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  LSTATUS Open(const KeyPath& path, REGSAM access) {
    const std::u16string sub = unicode::Utf8ToUtf16(path.sub);
    return RegOpenKeyExW(path.root->key, sub.c_str(), 0, access, &key_);
  }
  LSTATUS Create(const KeyPath& path) {
    const std::u16string sub = unicode::Utf8ToUtf16(path.sub);
    return RegCreateKeyExW(path.root->key, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  Bytes data;
};

std::vector<Value> ValuesOf(HKEY key);
std::vector<std::string> SubkeysOf(HKEY key);
// A value's bytes as UTF-16LE text, and back.
std::u16string TextOf(const Bytes& data);
Bytes BytesOf(const std::u16string& text);
// The little-endian number of up to eight bytes.
uint64_t Number(const Bytes& data);
// A decimal or "0x" hexadecimal number no larger than limit.
std::optional<uint64_t> ParseNumber(const std::string& text, uint64_t limit);

}  // namespace ztl::regtool
