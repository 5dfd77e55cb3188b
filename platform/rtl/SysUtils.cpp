#include <ztlogger/platform/rtl/SysUtils.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool PathExists(const String& name) {
  struct stat info {};
  return ::lstat(name.c_str(), &info) == 0;
}

}  // namespace

String UpperCase(const String& s) {
  String result = s;
  std::transform(result.begin(), result.end(), result.begin(), AsciiUpper);
  return result;
}

String LowerCase(const String& s) {
  String result = s;
  std::transform(result.begin(), result.end(), result.begin(), AsciiLower);
  return result;
}

String TrimLeft(const String& s) {
  auto first = std::find_if_not(s.begin(), s.end(), IsBlankOrControl);
  return String(first, s.end());
}

String TrimRight(const String& s) {
  auto last = std::find_if_not(s.rbegin(), s.rend(), IsBlankOrControl);
  return String(s.begin(), last.base());
}

String Trim(const String& s) { return TrimLeft(TrimRight(s)); }

int CompareText(const String& a, const String& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int d = static_cast<unsigned char>(AsciiUpper(a[i])) - static_cast<unsigned char>(AsciiUpper(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool SameText(const String& a, const String& b) { return a.size() == b.size() && CompareText(a, b) == 0; }

bool FileExists(const String& fileName) {
  struct stat info {};
  return !fileName.empty() && ::stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const String& name) {
  struct stat info {};
  return !name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteFile(const String& fileName) { return !fileName.empty() && ::unlink(fileName.c_str()) == 0; }

String ChangeFileExt(const String& fileName, const String& extension) {
  size_t delimiter = fileName.rfind(PathDelim);
  size_t dot = fileName.rfind('.');
  if (dot == String::npos || (delimiter != String::npos && dot < delimiter)) return fileName + extension;
  return fileName.substr(0, dot) + extension;
}

String ExtractFileName(const String& fileName) {
  size_t delimiter = fileName.rfind(PathDelim);
  return delimiter == String::npos ? fileName : fileName.substr(delimiter + 1);
}

String ExtractFilePath(const String& fileName) {
  size_t delimiter = fileName.rfind(PathDelim);
  return delimiter == String::npos ? String() : fileName.substr(0, delimiter + 1);
}

String ExtractFileDir(const String& fileName) {
  size_t delimiter = fileName.rfind(PathDelim);
  if (delimiter == String::npos) return {};
  bool keepDelimiter = delimiter == 0 || fileName[delimiter - 1] == PathDelim;
  return fileName.substr(0, keepDelimiter ? delimiter + 1 : delimiter);
}

String ExtractFileExt(const String& fileName) {
  size_t delimiter = fileName.rfind(PathDelim);
  size_t dot = fileName.rfind('.');
  if (dot == String::npos || (delimiter != String::npos && dot < delimiter)) return {};
  return fileName.substr(dot);
}

String IncludeTrailingPathDelimiter(const String& path) {
  return (!path.empty() && path.back() == PathDelim) ? path : path + PathDelim;
}

String GetCurrentDir() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) throw EInOutError(String("Cannot read the current folder: ") + std::strerror(errno));
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

String ExpandFileName(const String& fileName) {
  if (fileName.empty()) return {};
  String path = fileName[0] == PathDelim ? fileName : GetCurrentDir() + PathDelim + fileName;
  std::vector<String> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = std::min(path.find(PathDelim, start), path.size());
    String part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  String result;
  for (const auto& part : parts) result += PathDelim + part;
  if (result.empty() || fileName.back() == PathDelim) result += PathDelim;
  return result;
}

bool RenameFile(const String& oldName, const String& newName) {
  if (oldName.empty() || newName.empty() || PathExists(newName)) return false;
  return ::rename(oldName.c_str(), newName.c_str()) == 0;
}

bool ForceDirectories(const String& dir) {
  if (dir.empty()) throw EInOutError("Unable to create directory");
  String path = ExpandFileName(dir);
  while (path.size() > 1 && path.back() == PathDelim) path.pop_back();
  if (DirectoryExists(path)) return true;
  String parent = ExtractFileDir(path);
  if (parent == path || !ForceDirectories(parent)) return false;
  return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(path));
}

String StringReplaceAll(const String& s, const String& from, const String& to) {
  if (from.empty()) return s;
  String result;
  size_t start = 0;
  for (size_t found = s.find(from); found != String::npos; found = s.find(from, start)) {
    result.append(s, start, found - start);
    result += to;
    start = found + from.size();
  }
  result.append(s, start);
  return result;
}

std::u16string Utf8ToUtf16(const String& s) { return unicode::Utf8ToUtf16(s); }

String Utf16ToUtf8(const std::u16string& s) { return unicode::Utf16ToUtf8(s); }

String Utf16ToUtf8(const char16_t* s) { return s == nullptr ? String() : Utf16ToUtf8(std::u16string(s)); }

}  // namespace ztl
