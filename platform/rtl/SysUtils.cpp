#include "platform/rtl/SysUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/rtl/Exceptions.h"

namespace ztl {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

String IntToStr(int64_t value) { return std::to_string(value); }

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

}  // namespace ztl
