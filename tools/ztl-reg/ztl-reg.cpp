// ztl-reg: reads and changes the platform's registry from the command line,
// in the manner of the Windows "reg" command (the registry under the prefix
// that ZTL_PREFIX names, see platform/os/Prefix.h).
//
//   ztl-reg query KEY [/v NAME | /ve] [/s]
//   ztl-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   ztl-reg delete KEY [/v NAME | /ve | /va] [/f]
//   ztl-reg export KEY FILE [/y]
//   ztl-reg import FILE
//
// KEY starts with a root key, in full or abbreviated (HKLM, HKCU, HKCR, HKU,
// HKCC). Values are listed as "    NAME    TYPE    DATA"; DWORDs and QWORDs
// in hexadecimal (0x2a), binary data as hexadecimal digits, multi-strings
// joined by "\0". Export writes the .reg text form (UTF-16LE, "Windows
// Registry Editor Version 5.00"); import reads it, in UTF-16LE or UTF-8, and
// the older "REGEDIT4" form. Exit status 0 on success, 1 on failure (a
// missing key or value among them), 2 for a wrong command line.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace {

using Bytes = std::basic_string<BYTE>;
using ztl::unicode::Utf16ToUtf8;
using ztl::unicode::Utf8ToUtf16;

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";

int Fail(const std::string& message) {
  std::cerr << message << "\n";
  return 1;
}

int Usage(const char* problem = nullptr) {
  if (problem) std::cerr << "ERROR: " << problem << "\n";
  std::cerr << "Type \"ztl-reg --help\" for usage.\n";
  return 2;
}

int Help() {
  std::cout << "ztl-reg: reads and changes the registry kept under the platform prefix.\n\n"
               "  ztl-reg query KEY [/v NAME | /ve] [/s]\n"
               "      lists the key's values and subkeys (/s: the whole tree), or one value\n"
               "  ztl-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
               "      creates the key, and sets a value (TYPE: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,\n"
               "      REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE; /f replaces an existing value)\n"
               "  ztl-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
               "      deletes the key with its tree, a value, or all its values (/f: without asking)\n"
               "  ztl-reg export KEY FILE [/y]\n"
               "      writes the key's tree to a .reg file (/y: replaces an existing file)\n"
               "  ztl-reg import FILE\n"
               "      applies a .reg file\n\n"
               "KEY starts with HKLM, HKCU, HKCR, HKU or HKCC (or the full root key name).\n"
               "Exit status: 0 done, 1 failed (a missing key or value), 2 wrong command line.\n";
  return 0;
}

struct Root {
  const char* abbreviation;
  const char* name;
  HKEY key;
};

const Root kRoots[] = {{"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                       {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                       {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                       {"HKU", "HKEY_USERS", HKEY_USERS},
                       {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

// A key path split into its root and the path below it.
struct KeyPath {
  const Root* root = nullptr;
  std::string sub;
  std::string Full(bool abbreviated = false) const {
    std::string name = abbreviated ? root->abbreviation : root->name;
    return sub.empty() ? name : name + "\\" + sub;
  }
};

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
    const std::u16string sub = Utf8ToUtf16(path.sub);
    return RegOpenKeyExW(path.root->key, sub.c_str(), 0, access, &key_);
  }
  LSTATUS Create(const KeyPath& path) {
    const std::u16string sub = Utf8ToUtf16(path.sub);
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

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_UNKNOWN";
  }
}

std::optional<DWORD> TypeNamed(const std::string& name) {
  for (DWORD type :
       {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ, REG_QWORD})
    if (Upper(name) == TypeName(type)) return type;
  return std::nullopt;
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

// The DATA column of a value line.
std::string Show(const Value& value) {
  char text[32];
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK: {
      std::u16string s = TextOf(value.data);
      s.resize(std::char_traits<char16_t>::length(s.c_str()));
      return Utf16ToUtf8(s);
    }
    case REG_DWORD:
    case REG_QWORD:
      if (value.data.size() == (value.type == REG_DWORD ? 4u : 8u)) {
        snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(Number(value.data)));
        return text;
      }
      break;
    case REG_MULTI_SZ: {
      std::u16string s = TextOf(value.data);
      while (!s.empty() && s.back() == 0) s.pop_back();
      std::string shown;
      for (char16_t c : s) shown += c == 0 ? std::string("\\0") : Utf16ToUtf8(std::u16string(1, c));
      return shown;
    }
    default: break;
  }
  std::string hex;
  for (BYTE b : value.data) {
    snprintf(text, sizeof text, "%02X", b);
    hex += text;
  }
  return hex;
}

void PrintValue(const Value& value) {
  const std::string name = value.name.empty() ? "(Default)" : Utf16ToUtf8(value.name);
  std::cout << "    " << name << "    " << TypeName(value.type) << "    " << Show(value) << "\n";
}

// The options after KEY: each "/x" switch with its argument, when it takes one.
struct Options {
  std::optional<std::string> v, t, d, s;
  bool ve = false, va = false, f = false, y = false, recurse = false;
  std::vector<std::string> positional;
};

std::optional<Options> ParseOptions(const std::vector<std::string>& args, size_t from, std::string& problem) {
  Options o;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string a = Upper(args[i]);
    auto take = [&](std::optional<std::string>& slot) {
      if (i + 1 >= args.size()) {
        problem = "Invalid syntax: " + args[i] + " needs an argument.";
        return false;
      }
      slot = args[++i];
      return true;
    };
    if (a == "/V") {
      if (!take(o.v)) return std::nullopt;
    } else if (a == "/T") {
      if (!take(o.t)) return std::nullopt;
    } else if (a == "/D") {
      if (!take(o.d)) return std::nullopt;
    } else if (a == "/S") {
      o.recurse = true;
      if (i + 1 < args.size() && args[i + 1].size() == 1 && args[i + 1][0] != '/') o.s = args[++i];
    } else if (a == "/VE") {
      o.ve = true;
    } else if (a == "/VA") {
      o.va = true;
    } else if (a == "/F") {
      o.f = true;
    } else if (a == "/Y") {
      o.y = true;
    } else if (a.size() <= 3 && a[0] == '/' && std::all_of(a.begin() + 1, a.end(), [](char c) {
                 return std::isalpha(static_cast<unsigned char>(c));
               })) {
      // A file path starts with a slash too: only a short word is a switch.
      problem = "Invalid syntax: unknown switch " + args[i] + ".";
      return std::nullopt;
    } else {
      o.positional.push_back(args[i]);
    }
  }
  return o;
}

void QueryKey(HKEY key, const KeyPath& path, bool recurse) {
  std::cout << "\n" << path.Full() << "\n";
  for (const Value& value : ValuesOf(key)) PrintValue(value);
  const auto subkeys = SubkeysOf(key);
  if (!recurse) {
    if (!subkeys.empty()) std::cout << "\n";
    for (const auto& name : subkeys) std::cout << path.Full() << "\\" << name << "\n";
    return;
  }
  for (const auto& name : subkeys) {
    KeyPath child{path.root, path.sub.empty() ? name : path.sub + "\\" + name};
    Key sub;
    if (sub.Open(child, KEY_READ) == ERROR_SUCCESS) QueryKey(sub.Handle(), child, true);
  }
}

int Query(const KeyPath& path, const Options& o) {
  Key key;
  if (key.Open(path, KEY_READ) != ERROR_SUCCESS) return Fail(kNotFound);
  if (o.v || o.ve) {
    const std::u16string name = o.v ? Utf8ToUtf16(*o.v) : std::u16string();
    for (const Value& value : ValuesOf(key.Handle())) {
      if (value.name.size() != name.size() || Upper(Utf16ToUtf8(value.name)) != Upper(Utf16ToUtf8(name))) continue;
      std::cout << "\n" << path.Full() << "\n";
      PrintValue(value);
      std::cout << "\n";
      return 0;
    }
    return Fail(kNotFound);
  }
  QueryKey(key.Handle(), path, o.recurse);
  std::cout << "\n";
  return 0;
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

// The bytes of DATA for a type, as "reg add" reads them.
std::optional<Bytes> Encode(DWORD type, const std::string& data, const std::string& separator) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: return BytesOf(Utf8ToUtf16(data) + u'\0');
    case REG_MULTI_SZ: {
      std::u16string list;
      size_t start = 0;
      const std::string sep = separator.empty() ? "\\0" : separator;
      while (!data.empty()) {
        const size_t end = data.find(sep, start);
        const std::string item = data.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (item.empty()) return std::nullopt;  // an empty string cannot stand inside a list
        list += Utf8ToUtf16(item) + u'\0';
        if (end == std::string::npos) break;
        start = end + sep.size();
      }
      return BytesOf(list + u'\0');
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      const bool q = type == REG_QWORD;
      const auto value = ParseNumber(data.empty() ? "0" : data, q ? UINT64_MAX : UINT32_MAX);
      if (!value) return std::nullopt;
      Bytes bytes;
      for (int i = 0; i < (q ? 8 : 4); ++i) bytes += static_cast<BYTE>(*value >> (8 * i));
      if (type == REG_DWORD_BIG_ENDIAN) std::reverse(bytes.begin(), bytes.end());
      return bytes;
    }
    default: {
      if (data.size() % 2) return std::nullopt;
      Bytes bytes;
      for (size_t i = 0; i < data.size(); i += 2) {
        const auto byte = ParseNumber("0x" + data.substr(i, 2), 255);
        if (!byte || !isxdigit(static_cast<unsigned char>(data[i + 1]))) return std::nullopt;
        bytes += static_cast<BYTE>(*byte);
      }
      return bytes;
    }
  }
}

bool Confirm(const std::string& question) {
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cout << "\n";
    return false;
  }
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Add(const KeyPath& path, const Options& o) {
  if (path.sub.empty() && !(o.v || o.ve)) return Usage("A root key cannot be added.");
  std::optional<DWORD> type = REG_SZ;
  if (o.t && !(type = TypeNamed(*o.t))) return Usage("Invalid type; see \"ztl-reg --help\".");
  Key key;
  if (const LSTATUS result = key.Create(path))
    return Fail("ERROR: Cannot create the key (error " + std::to_string(result) + ").");
  if (!o.v && !o.ve) {
    std::cout << kDone << "\n";
    return 0;
  }
  const std::u16string name = o.v ? Utf8ToUtf16(*o.v) : std::u16string();
  if (!o.f && RegQueryValueExW(key.Handle(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      !Confirm("Value " + (o.v ? *o.v : std::string("(Default)")) + " exists, overwrite")) {
    std::cout << "The operation was cancelled.\n";
    return 1;
  }
  const auto data = Encode(*type, o.d.value_or(""), o.s.value_or(""));
  if (!data) return Usage("Invalid data for the type.");
  if (const LSTATUS result =
          RegSetValueExW(key.Handle(), name.c_str(), 0, *type, data->data(), static_cast<DWORD>(data->size())))
    return Fail("ERROR: Cannot set the value (error " + std::to_string(result) + ").");
  std::cout << kDone << "\n";
  return 0;
}

int Delete(const KeyPath& path, const Options& o) {
  Key key;
  if (key.Open(path, KEY_ALL_ACCESS) != ERROR_SUCCESS) return Fail(kNotFound);
  if (o.v || o.ve) {
    const std::u16string name = o.v ? Utf8ToUtf16(*o.v) : std::u16string();
    if (RegQueryValueExW(key.Handle(), name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return Fail(kNotFound);
    if (!o.f && !Confirm("Delete the registry value " + (o.v ? *o.v : std::string("(Default)")))) return 1;
    if (RegDeleteValueW(key.Handle(), name.c_str()) != ERROR_SUCCESS) return Fail(kNotFound);
  } else if (o.va) {
    if (!o.f && !Confirm("Delete all values under the registry key " + path.Full())) return 1;
    for (const Value& value : ValuesOf(key.Handle())) RegDeleteValueW(key.Handle(), value.name.c_str());
  } else {
    if (path.sub.empty()) return Usage("A root key cannot be deleted.");
    if (!o.f && !Confirm("Permanently delete the registry key " + path.Full())) return 1;
    const std::u16string sub = Utf8ToUtf16(path.sub);
    if (const LSTATUS result = RegDeleteTreeW(path.root->key, sub.c_str()))
      return Fail("ERROR: Cannot delete the key (error " + std::to_string(result) + ").");
  }
  std::cout << kDone << "\n";
  return 0;
}

// Export: the .reg text of a tree.

std::string Escaped(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out += '\\';
    out += Utf16ToUtf8(std::u16string(1, c));
  }
  return out;
}

// A string value that the quoted form holds exactly: terminated once, with
// no NUL or line break inside.
bool PlainString(const Value& value) {
  if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2) return false;
  const std::u16string text = TextOf(value.data);
  if (text.back() != 0) return false;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == 0 || text[i] == u'\r' || text[i] == u'\n') return false;
  return true;
}

std::string ValueLine(const Value& value) {
  std::string line = value.name.empty() ? "@=" : "\"" + Escaped(value.name) + "\"=";
  if (PlainString(value)) {
    std::u16string text = TextOf(value.data);
    text.pop_back();
    return line + "\"" + Escaped(text) + "\"";
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    char text[16];
    snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(Number(value.data)));
    return line + text;
  }
  if (value.type == REG_BINARY) {
    line += "hex:";
  } else {
    char text[16];
    snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(value.type));
    line += text;
  }
  // Wrapped as regedit does: a backslash ends each line of about 80 columns.
  std::string out;
  char text[8];
  for (size_t i = 0; i < value.data.size(); ++i) {
    snprintf(text, sizeof text, "%02x", value.data[i]);
    line += text;
    if (i + 1 < value.data.size()) {
      line += ',';
      if (line.size() >= 76) {
        out += line + "\\\r\n";
        line = "  ";
      }
    }
  }
  return out + line;
}

// Whether a name is taken, without opening what it names (a FIFO would wait).
bool Exists(const std::string& file) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(file, ignored));
}

// Whether a .reg file can hold a name: its lines end at each line break,
// and no escape stands for one.
bool FitsOneLine(std::u16string_view name) { return name.find_first_of(u"\r\n") == std::u16string_view::npos; }

// A name as a message shows it, line breaks written as \r and \n.
std::string Shown(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) out += c == u'\r' ? "\\r" : c == u'\n' ? "\\n" : Utf16ToUtf8(std::u16string(1, c));
  return out;
}

// The .reg text of a key and those below it; what the text cannot hold is
// left out and named in skipped.
void ExportKey(HKEY key, const KeyPath& path, std::string& text, std::vector<std::string>& skipped) {
  text += "[" + path.Full() + "]\r\n";
  for (const Value& value : ValuesOf(key)) {
    if (FitsOneLine(value.name))
      text += ValueLine(value) + "\r\n";
    else
      skipped.push_back("value \"" + Shown(value.name) + "\" of [" + path.Full() + "]");
  }
  text += "\r\n";
  for (const auto& name : SubkeysOf(key)) {
    KeyPath child{path.root, path.sub.empty() ? name : path.sub + "\\" + name};
    if (!FitsOneLine(Utf8ToUtf16(name))) {
      skipped.push_back("key [" + Shown(Utf8ToUtf16(child.Full())) + "] and all below it");
      continue;
    }
    Key sub;
    if (sub.Open(child, KEY_READ) == ERROR_SUCCESS) ExportKey(sub.Handle(), child, text, skipped);
  }
}

int Export(const KeyPath& path, const std::string& file, const Options& o) {
  Key key;
  if (key.Open(path, KEY_READ) != ERROR_SUCCESS) return Fail(kNotFound);
  if (!o.y && Exists(file) && !Confirm("File " + file + " already exists. Overwrite it")) {
    std::cout << "The operation was cancelled.\n";
    return 1;
  }
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::vector<std::string> skipped;
  ExportKey(key.Handle(), path, text, skipped);
  const std::u16string wide = Utf8ToUtf16(text);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "\xFF\xFE";
  for (char16_t c : wide) out << static_cast<char>(c & 0xFF) << static_cast<char>(c >> 8);
  out.close();
  if (!out) return Fail("ERROR: Cannot write " + file + ".");
  if (!skipped.empty()) {
    for (const std::string& what : skipped)
      std::cerr << "ERROR: Not exported: " << what << ": a .reg file cannot hold a line break in a name.\n";
    return 1;
  }
  std::cout << kDone << "\n";
  return 0;
}

// Import: the .reg text form.

class Importer {
 public:
  // False with a message for a file that is no registry file.
  bool Run(const std::u16string& content, std::string& problem);

 private:
  bool Line(std::u16string line, std::string& problem);
  bool SetValue(const std::u16string& name, std::u16string data, std::string& problem);

  bool version4_ = false;
  std::unique_ptr<Key> key_;
};

bool Importer::Run(const std::u16string& content, std::string& problem) {
  std::vector<std::u16string> lines;
  std::u16string line;
  for (size_t i = 0; i <= content.size(); ++i) {
    const char16_t c = i < content.size() ? content[i] : u'\n';
    // Only a CR before an LF ends a line with it; any other is kept.
    if (c == u'\r' && i + 1 < content.size() && content[i + 1] == u'\n') continue;
    if (c != u'\n') {
      line += c;
      continue;
    }
    lines.push_back(line);
    line.clear();
  }
  if (lines.empty() || (lines[0] != u"Windows Registry Editor Version 5.00" && lines[0] != u"REGEDIT4")) {
    problem = "ERROR: The specified file is not a registry file.";
    return false;
  }
  version4_ = lines[0] == u"REGEDIT4";
  for (size_t i = 1; i < lines.size(); ++i) {
    std::u16string logical = lines[i];
    // A hex list goes on after a backslash at the end of a line.
    while (!logical.empty() && logical.back() == u'\\' && logical.find(u"=hex") != std::u16string::npos &&
           i + 1 < lines.size()) {
      logical.pop_back();
      std::u16string next = lines[++i];
      next.erase(0, next.find_first_not_of(u" \t"));
      logical += next;
    }
    if (!Line(logical, problem)) return false;
  }
  return true;
}

std::optional<std::u16string> Unquote(const std::u16string& text, size_t& at) {
  if (at >= text.size() || text[at] != u'"') return std::nullopt;
  std::u16string out;
  for (++at; at < text.size(); ++at) {
    if (text[at] == u'"') {
      ++at;
      return out;
    }
    if (text[at] == u'\\' && at + 1 < text.size()) {
      const char16_t next = text[++at];
      out += next == u'n' ? u'\n' : next == u'r' ? u'\r' : next;
    } else {
      out += text[at];
    }
  }
  return std::nullopt;
}

bool Importer::Line(std::u16string line, std::string& problem) {
  line.erase(0, line.find_first_not_of(u" \t"));
  if (line.empty() || line[0] == u';') return true;
  if (line[0] == u'[') {
    const size_t close = line.rfind(u']');
    if (close == std::u16string::npos) return true;  // not a key line: ignored, as regedit does
    const bool remove = line.size() > 1 && line[1] == u'-';
    const auto path = ParseKey(Utf16ToUtf8(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1))));
    key_.reset();
    if (!path) {
      problem = "ERROR: Unknown root key in " + Utf16ToUtf8(line) + ".";
      return false;
    }
    if (remove) {
      const std::u16string sub = Utf8ToUtf16(path->sub);
      if (!path->sub.empty()) RegDeleteTreeW(path->root->key, sub.c_str());
      return true;
    }
    key_ = std::make_unique<Key>();
    if (key_->Create(*path) != ERROR_SUCCESS) {
      problem = "ERROR: Cannot create " + path->Full() + ".";
      return false;
    }
    return true;
  }
  if (!key_) return true;  // values of a key that is not there
  size_t at = 0;
  std::u16string name;
  if (line[0] == u'@') {
    at = 1;
  } else {
    auto quoted = Unquote(line, at);
    if (!quoted) return true;
    name = *quoted;
  }
  at = line.find_first_not_of(u" \t", at);
  if (at == std::u16string::npos || line[at] != u'=') return true;
  std::u16string data = line.substr(line.find_first_not_of(u" \t", at + 1) == std::u16string::npos
                                        ? line.size()
                                        : line.find_first_not_of(u" \t", at + 1));
  return SetValue(name, data, problem);
}

bool Importer::SetValue(const std::u16string& name, std::u16string data, std::string& problem) {
  const HKEY key = key_->Handle();
  auto bad = [&] {
    problem = "ERROR: Invalid data for value \"" + Utf16ToUtf8(name) + "\".";
    return false;
  };
  if (data == u"-") {
    RegDeleteValueW(key, name.c_str());
    return true;
  }
  DWORD type;
  Bytes bytes;
  if (!data.empty() && data[0] == u'"') {
    size_t at = 0;
    const auto text = Unquote(data, at);
    if (!text) return bad();
    type = REG_SZ;
    bytes = BytesOf(*text + u'\0');
  } else if (data.starts_with(u"dword:")) {
    const auto value = ParseNumber("0x" + Utf16ToUtf8(data.substr(6)), UINT32_MAX);
    if (!value || data.size() > 14) return bad();
    type = REG_DWORD;
    for (int i = 0; i < 4; ++i) bytes += static_cast<BYTE>(*value >> (8 * i));
  } else if (data.starts_with(u"hex")) {
    size_t at = 3;
    type = REG_BINARY;
    if (data.size() > 3 && data[3] == u'(') {
      const size_t close = data.find(u')');
      if (close == std::u16string::npos) return bad();
      const auto value = ParseNumber("0x" + Utf16ToUtf8(data.substr(4, close - 4)), UINT32_MAX);
      if (!value) return bad();
      type = static_cast<DWORD>(*value);
      at = close + 1;
    }
    if (at >= data.size() || data[at] != u':') return bad();
    std::string list = Utf16ToUtf8(data.substr(at + 1));
    const size_t comment = list.find(';');
    if (comment != std::string::npos) list.erase(comment);
    std::stringstream items(list);
    std::string item;
    while (std::getline(items, item, ',')) {
      item.erase(0, item.find_first_not_of(" \t"));
      item.erase(item.find_last_not_of(" \t") + 1);
      if (item.empty()) continue;
      const auto byte = ParseNumber("0x" + item, 255);
      if (!byte) return bad();
      bytes += static_cast<BYTE>(*byte);
    }
    // REGEDIT4 keeps strings in hex as 8-bit text: stored as UTF-16.
    if (version4_ && (type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
      std::string narrow(bytes.begin(), bytes.end());
      bytes = BytesOf(Utf8ToUtf16(narrow));
    }
  } else {
    return bad();
  }
  if (const LSTATUS result =
          RegSetValueExW(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()))) {
    problem = "ERROR: Cannot set value \"" + Utf16ToUtf8(name) + "\" (error " + std::to_string(result) + ").";
    return false;
  }
  return true;
}

int Import(const std::string& file) {
  std::string raw;
  if (ztl::os::ReadWholeFile(file, raw) != 0) return Fail("ERROR: Cannot open " + file + ".");
  std::u16string content;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
      content +=
          static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8));
  } else {
    if (raw.starts_with("\xEF\xBB\xBF")) raw.erase(0, 3);
    content = Utf8ToUtf16(raw);
  }
  Importer importer;
  std::string problem;
  if (!importer.Run(content, problem)) return Fail(problem);
  std::cout << kDone << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("No operation given.");
  const std::string operation = Upper(args[0]);
  if (operation == "--HELP" || operation == "-H" || operation == "/?") return Help();
  std::string problem;
  const auto o = ParseOptions(args, 1, problem);
  if (!o) return Usage(problem.c_str());
  if (operation == "IMPORT") {
    if (o->positional.size() != 1) return Usage("import takes one FILE.");
    return Import(o->positional[0]);
  }
  const size_t wanted = operation == "EXPORT" ? 2 : 1;
  if (o->positional.size() != wanted) return Usage("Invalid syntax.");
  const auto path = ParseKey(o->positional[0]);
  if (!path) return Usage("Invalid key name.");
  if ((o->v && (o->ve || o->va)) || (o->ve && o->va)) return Usage("Only one of /v, /ve and /va may be given.");
  if (operation == "QUERY") return Query(*path, *o);
  if (operation == "ADD") return Add(*path, *o);
  if (operation == "DELETE") return Delete(*path, *o);
  if (operation == "EXPORT") return Export(*path, o->positional[1], *o);
  return Usage("Unknown operation.");
}
