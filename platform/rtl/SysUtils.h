#pragma once
// Formatting, conversions, strings and file names.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <variant>

#include "platform/rtl/Types.h"

namespace ztl {

// The process's number and date formats. They are read from the locale of the
// environment (LC_NUMERIC, LC_TIME) when the process starts; an application may
// change them at any time through FormatSettings().
struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  String ShortDateFormat = "M/d/yyyy";
  String LongDateFormat = "dddd, MMMM d, yyyy";
  String ShortTimeFormat = "h:mm AMPM";
  String LongTimeFormat = "h:mm:ss AMPM";
  String TimeAMString = "AM";
  String TimePMString = "PM";
  std::array<String, 12> ShortMonthNames;
  std::array<String, 12> LongMonthNames;
  std::array<String, 7> ShortDayNames;  // Sunday first
  std::array<String, 7> LongDayNames;
};

// The process's current settings.
TFormatSettings& FormatSettings();
// Settings read from the environment's locale (or "C" when it names none).
TFormatSettings GetLocaleFormatSettings();

// One argument of Format: an integer, a floating-point number, a text or a pointer.
class TVarRec {
 public:
  TVarRec(int v) : value_(int64_t{v}) {}
  TVarRec(long v) : value_(int64_t{v}) {}
  TVarRec(long long v) : value_(int64_t{v}) {}
  TVarRec(unsigned v) : value_(int64_t{v}) {}
  TVarRec(unsigned long v) : value_(static_cast<int64_t>(v)) {}
  TVarRec(unsigned long long v) : value_(static_cast<int64_t>(v)) {}
  TVarRec(double v) : value_(v) {}
  TVarRec(const char* v) : value_(String(v)) {}
  TVarRec(const String& v) : value_(v) {}
  TVarRec(const void* v) : value_(v) {}

  const std::variant<int64_t, double, String, const void*>& Value() const { return value_; }

 private:
  std::variant<int64_t, double, String, const void*> value_;
};

// Delphi-style formatting: %[index:][-][width][.precision]type with the types
// d u e f g n m p s x and %% for a percent sign. %f has two decimals unless a
// precision is given; %p gives eight (on 64-bit systems sixteen) upper-case
// hexadecimal digits. A specifier that does not fit its argument, or a missing
// argument, raises EConvertError.
String Format(const String& format, std::initializer_list<TVarRec> args);
String Format(const String& format, std::initializer_list<TVarRec> args, const TFormatSettings& settings);

// Conversions.
String IntToStr(int64_t value);
String IntToHex(uint64_t value, int digits);
// General format, up to 15 significant digits, the settings' decimal separator.
String FloatToStr(double value);
String FloatToStr(double value, const TFormatSettings& settings);
// Raises EConvertError "'<text>' is not a valid floating point value".
double StrToFloat(const String& text);
double StrToFloat(const String& text, const TFormatSettings& settings);
bool TryStrToFloat(const String& text, double& value);
// Raises EConvertError "'<text>' is not a valid integer value".
int64_t StrToInt(const String& text);
int64_t StrToIntDef(const String& text, int64_t fallback);

// Dates and times.
TDateTime Now();
TDateTime Date();
TDateTime Time();
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
int DayOfWeek(TDateTime value);  // 1 = Sunday
// The short date format, a space and the long time format; the time is left
// out when it is exactly midnight.
String DateTimeToStr(TDateTime value);
String DateTimeToStr(TDateTime value, const TFormatSettings& settings);
String DateToStr(TDateTime value);
String TimeToStr(TDateTime value);
// Format specifiers of the runtime: c d dd ddd dddd ddddd dddddd e m mm mmm mmmm
// yy yyyy h hh n nn s ss z zzz t tt am/pm a/p ampm / : 'text' "text".
String FormatDateTime(const String& format, TDateTime value);
String FormatDateTime(const String& format, TDateTime value, const TFormatSettings& settings);

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
String StringReplaceAll(const String& s, const String& from, const String& to);

// UTF-8 and UTF-16. Invalid UTF-8 bytes are taken as Latin-1 characters.
std::u16string Utf8ToUtf16(const String& s);
String Utf16ToUtf8(const std::u16string& s);
String Utf16ToUtf8(const char16_t* s);

// File names and files. The path delimiter is the platform's ('/' on POSIX).
inline constexpr char PathDelim = '/';
bool FileExists(const String& fileName);       // follows links; false for folders
bool DirectoryExists(const String& name);
bool DeleteFile(const String& fileName);
bool RenameFile(const String& oldName, const String& newName);
bool ForceDirectories(const String& dir);
String GetCurrentDir();
String ExpandFileName(const String& fileName);
// The extension is the part from the last '.' after the last path delimiter;
// without one the new extension is appended.
String ChangeFileExt(const String& fileName, const String& extension);
String ExtractFileName(const String& fileName);
String ExtractFilePath(const String& fileName);  // with the trailing delimiter
String ExtractFileDir(const String& fileName);   // without it
String ExtractFileExt(const String& fileName);
String IncludeTrailingPathDelimiter(const String& path);

}  // namespace ztl
