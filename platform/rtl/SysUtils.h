#pragma once
// Formatting, conversions, strings and file names.
// Any thread; relative names follow the current folder all threads share.
#include <cstdint>

#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/FormatSettings.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

// Strings. Case conversions touch only the ASCII letters; Trim removes
// leading and trailing characters up to and including the blank (control
// characters too).
ZTL_PLATFORM_API String UpperCase(const String& s);
ZTL_PLATFORM_API String LowerCase(const String& s);
ZTL_PLATFORM_API String Trim(const String& s);
ZTL_PLATFORM_API String TrimLeft(const String& s);
ZTL_PLATFORM_API String TrimRight(const String& s);
ZTL_PLATFORM_API bool SameText(const String& a, const String& b);
ZTL_PLATFORM_API int CompareText(const String& a, const String& b);
// Every occurrence of `from`, left to right; an empty `from` changes nothing.
ZTL_PLATFORM_API String StringReplaceAll(const String& s, const String& from, const String& to);

// UTF-8 and UTF-16. Invalid UTF-8 bytes (and overlong forms, encoded
// surrogates, values beyond U+10FFFF) are taken as Latin-1 characters; a
// UTF-16 surrogate without its partner becomes U+FFFD.
ZTL_PLATFORM_API std::u16string Utf8ToUtf16(const String& s);
ZTL_PLATFORM_API String Utf16ToUtf8(const std::u16string& s);
ZTL_PLATFORM_API String Utf16ToUtf8(const char16_t* s);

// File names and files. The path delimiter is the platform's ('/' on POSIX).
inline constexpr char PathDelim = '/';
ZTL_PLATFORM_API bool FileExists(const String& fileName);       // follows links; false for folders
ZTL_PLATFORM_API bool DirectoryExists(const String& name);
ZTL_PLATFORM_API bool DeleteFile(const String& fileName);
// As on Windows, fails when a file of the new name exists already.
ZTL_PLATFORM_API bool RenameFile(const String& oldName, const String& newName);
// Creates the folder and every missing parent; raises EInOutError for an empty name.
ZTL_PLATFORM_API bool ForceDirectories(const String& dir);
ZTL_PLATFORM_API String GetCurrentDir();
// The absolute name: relative to the current folder, with "." and ".." folded
// and repeated delimiters merged; links are not resolved.
ZTL_PLATFORM_API String ExpandFileName(const String& fileName);
// The extension is the part from the last '.' after the last path delimiter;
// without one the new extension is appended.
ZTL_PLATFORM_API String ChangeFileExt(const String& fileName, const String& extension);
ZTL_PLATFORM_API String ExtractFileName(const String& fileName);
ZTL_PLATFORM_API String ExtractFilePath(const String& fileName);  // with the trailing delimiter
ZTL_PLATFORM_API String ExtractFileDir(const String& fileName);   // without it, except for the root "/"
ZTL_PLATFORM_API String ExtractFileExt(const String& fileName);   // with the dot; empty when there is none
ZTL_PLATFORM_API String IncludeTrailingPathDelimiter(const String& path);

}  // namespace ztl
