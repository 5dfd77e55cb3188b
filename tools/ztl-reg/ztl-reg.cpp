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

#include <ztl-reg/RegFile.h>
#include <ztl-reg/RegKeys.h>

namespace {

using namespace ztl::regtool;
using ztl::unicode::Utf16ToUtf8;
using ztl::unicode::Utf8ToUtf16;

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";

int Fail(const std::string& message) {
  std::cerr << message << "\n";
  return 1;
}

// A failure as reg.exe words it: refused access said as such, else `otherwise`.
int FailWith(LSTATUS result, const std::string& otherwise) {
  return Fail(result == ERROR_ACCESS_DENIED ? "ERROR: Access is denied." : otherwise);
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
  if (const LSTATUS opened = key.Open(path, KEY_READ)) return FailWith(opened, kNotFound);
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
    return FailWith(result, "ERROR: Cannot create the key (error " + std::to_string(result) + ").");
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
    return FailWith(result, "ERROR: Cannot set the value (error " + std::to_string(result) + ").");
  std::cout << kDone << "\n";
  return 0;
}

int Delete(const KeyPath& path, const Options& o) {
  Key key;
  if (const LSTATUS opened = key.Open(path, KEY_ALL_ACCESS)) return FailWith(opened, kNotFound);
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

// Whether a name is taken, without opening what it names (a FIFO would wait).
bool Exists(const std::string& file) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(file, ignored));
}

int Export(const KeyPath& path, const std::string& file, const Options& o) {
  Key key;
  if (const LSTATUS opened = key.Open(path, KEY_READ)) return FailWith(opened, kNotFound);
  if (!o.y && Exists(file) && !Confirm("File " + file + " already exists. Overwrite it")) {
    std::cout << "The operation was cancelled.\n";
    return 1;
  }
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::vector<std::string> skipped;
  ExportKey(key.Handle(), path, text, skipped);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << RegFileBytes(text);
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

int Import(const std::string& file) {
  std::string raw;
  if (ztl::os::ReadWholeFile(file, raw) != 0) return Fail("ERROR: Cannot open " + file + ".");
  const std::u16string content = RegFileText(std::move(raw));
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
