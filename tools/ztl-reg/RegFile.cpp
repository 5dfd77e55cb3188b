// The .reg text form (see RegFile.h): the writer of a tree, the byte forms
// of a file, and the reader that writes into the registry.
#include <ztl-reg/RegFile.h>

#include <cstdio>
#include <optional>
#include <sstream>

namespace ztl::regtool {

using unicode::Utf16ToUtf8;
using unicode::Utf8ToUtf16;

namespace {

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

// Whether a .reg file can hold a name: its lines end at each line break,
// and no escape stands for one.
bool FitsOneLine(std::u16string_view name) { return name.find_first_of(u"\r\n") == std::u16string_view::npos; }

// A name as a message shows it, line breaks written as \r and \n.
std::string Shown(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) out += c == u'\r' ? "\\r" : c == u'\n' ? "\\n" : Utf16ToUtf8(std::u16string(1, c));
  return out;
}

}  // namespace

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

std::string RegFileBytes(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  std::string bytes = "\xFF\xFE";
  for (char16_t c : wide) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::u16string RegFileText(std::string raw) {
  std::u16string content;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
      content +=
          static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8));
  } else {
    if (raw.starts_with("\xEF\xBB\xBF")) raw.erase(0, 3);
    content = Utf8ToUtf16(raw);
  }
  return content;
}

// Import: the .reg text form.

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

}  // namespace ztl::regtool
