// Key paths, open keys and value bytes for ztl-reg (see RegKeys.h).
#include <ztl-reg/RegKeys.h>

namespace ztl::regtool {

using unicode::Utf16ToUtf8;
using unicode::Utf8ToUtf16;

const Root kRoots[5] = {{"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                        {"HKU", "HKEY_USERS", HKEY_USERS},
                        {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

std::optional<KeyPath> ParseKey(const std::string& text) {
  const size_t slash = text.find('\\');
  const std::string first = Upper(text.substr(0, slash));
  for (const Root& root : kRoots) {
    if (first != root.abbreviation && first != root.name) continue;
    KeyPath path{&root, slash == std::string::npos ? "" : text.substr(slash + 1)};
    while (!path.sub.empty() && path.sub.back() == '\\') path.sub.pop_back();
    return path;
  }
  return std::nullopt;
}

std::vector<Value> ValuesOf(HKEY key) {
  std::vector<Value> values;
  DWORD maxName = 0, maxData = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr,
                   nullptr);
  std::u16string name(maxName + 1, 0);
  Bytes data(maxData, 0);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = maxName + 1, size = maxData;
    Value value;
    const LSTATUS result = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &value.type, data.data(), &size);
    if (result != ERROR_SUCCESS) break;
    value.name = name.substr(0, nameLength);
    value.data = data.substr(0, size);
    values.push_back(std::move(value));
  }
  return values;
}

std::vector<std::string> SubkeysOf(HKEY key) {
  std::vector<std::string> names;
  WCHAR name[REG_MAX_KEY_NAME + 1];
  for (DWORD i = 0;; ++i) {
    DWORD length = REG_MAX_KEY_NAME + 1;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(Utf16ToUtf8(std::u16string_view(name, length)));
  }
  return names;
}

std::u16string TextOf(const Bytes& data) {
  std::u16string text(data.size() / 2, 0);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return text;
}

Bytes BytesOf(const std::u16string& text) {
  Bytes data;
  for (char16_t c : text) {
    data += static_cast<BYTE>(c & 0xFF);
    data += static_cast<BYTE>(c >> 8);
  }
  return data;
}

uint64_t Number(const Bytes& data) {
  uint64_t value = 0;
  for (size_t i = 0; i < data.size() && i < 8; ++i) value |= static_cast<uint64_t>(data[i]) << (8 * i);
  return value;
}

std::optional<uint64_t> ParseNumber(const std::string& text, uint64_t limit) {
  if (text.empty()) return std::nullopt;
  try {
    size_t used = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const uint64_t value = std::stoull(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
    if (used != text.size() - (hex ? 2 : 0) || value > limit || text[0] == '-') return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace ztl::regtool
