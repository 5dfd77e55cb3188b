#pragma once
// Formatting, conversions, strings and file names.
#include <cstdint>

#include "platform/rtl/DateUtils.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/FormatUtils.h"
#include "platform/rtl/Types.h"

namespace ztl {

// Strings. Case conversions touch only the ASCII letters; Trim removes
// leading and trailing characters up to and including the blank (control
// characters too).
String UpperCase(const String& s);
String LowerCase(const String& s);
String Trim(const String& s);
String TrimLeft(const String& s);
String TrimRight(const String& s);
bool SameText(const String& a, const String& b);
int CompareText(const String& a, const String& b);
// Every occurrence of `from`, left to right; an empty `from` changes nothing.
String StringReplaceAll(const String& s, const String& from, const String& to);

// UTF-8 and UTF-16. Invalid UTF-8 bytes (and overlong forms, encoded
// surrogates, values beyond U+10FFFF) are taken as Latin-1 characters; a
// UTF-16 surrogate without its partner becomes U+FFFD.
std::u16string Utf8ToUtf16(const String& s);
String Utf16ToUtf8(const std::u16string& s);
String Utf16ToUtf8(const char16_t* s);

// File names and files. The path delimiter is the platform's ('/' on POSIX).
inline constexpr char PathDelim = '/';
bool FileExists(const String& fileName);       // follows links; false for folders
bool DirectoryExists(const String& name);
bool DeleteFile(const String& fileName);
// As on Windows, fails when a file of the new name exists already.
bool RenameFile(const String& oldName, const String& newName);
// Creates the folder and every missing parent; raises EInOutError for an empty name.
bool ForceDirectories(const String& dir);
String GetCurrentDir();
// The absolute name: relative to the current folder, with "." and ".." folded
// and repeated delimiters merged; links are not resolved.
String ExpandFileName(const String& fileName);
// The extension is the part from the last '.' after the last path delimiter;
// without one the new extension is appended.
String ChangeFileExt(const String& fileName, const String& extension);
String ExtractFileName(const String& fileName);
String ExtractFilePath(const String& fileName);  // with the trailing delimiter
String ExtractFileDir(const String& fileName);   // without it, except for the root "/"
String ExtractFileExt(const String& fileName);   // with the dot; empty when there is none
String IncludeTrailingPathDelimiter(const String& path);

}  // namespace ztl
