#pragma once
// Dates and times as TDateTime: days since 30 December 1899, the fraction
// being the time of day. Before that day the value is negative and its
// fraction still counts forwards from midnight (-1.25 is 29 December 1899,
// 6:00).
//
// Any thread, while the FormatSettings() they default to stays unchanged.
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/FormatSettings.h>

namespace ztl {

// The local date and time, to the millisecond; the date alone; the time alone.
ZTL_PLATFORM_API TDateTime Now();
ZTL_PLATFORM_API TDateTime Date();
ZTL_PLATFORM_API TDateTime Time();

ZTL_PLATFORM_API bool IsLeapYear(int year);
ZTL_PLATFORM_API int DaysInMonth(int year, int month);
// Years 1 to 9999; raise EConvertError for a date or time that does not exist.
ZTL_PLATFORM_API TDateTime EncodeDate(int year, int month, int day);
ZTL_PLATFORM_API TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
ZTL_PLATFORM_API bool TryEncodeDate(int year, int month, int day, TDateTime& value);
ZTL_PLATFORM_API bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& value);
// The value is rounded to the millisecond first. A value outside the years
// 1 to 9999 (or not a number) decodes as zeros.
ZTL_PLATFORM_API void DecodeDate(TDateTime value, int& year, int& month, int& day);
ZTL_PLATFORM_API void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
ZTL_PLATFORM_API int DayOfWeek(TDateTime value);  // 1 = Sunday

// The short date format, a space and the long time format; the time is left
// out when it is exactly midnight (FormatDateTime "c").
ZTL_PLATFORM_API String DateTimeToStr(TDateTime value);
ZTL_PLATFORM_API String DateTimeToStr(TDateTime value, const TFormatSettings& settings);
ZTL_PLATFORM_API String DateToStr(TDateTime value);  // the short date format
ZTL_PLATFORM_API String DateToStr(TDateTime value, const TFormatSettings& settings);
ZTL_PLATFORM_API String TimeToStr(TDateTime value);  // the long time format
ZTL_PLATFORM_API String TimeToStr(TDateTime value, const TFormatSettings& settings);

// Format specifiers, in either case unless noted:
//   c        short date; then a blank and the long time unless it is midnight
//   d dd     day of the month (dd with a leading zero)
//   ddd dddd short or long day name;  ddddd short date;  dddddd long date
//   e ee     year of the era (the Gregorian year);  g gg  era name (none)
//   m mm     month (mm with a leading zero); right after h or hh: minutes
//   mmm mmmm short or long month name
//   yy yyyy  two- or four-digit year
//   h hh     hour (12-hour clock when am/pm, a/p or ampm follows before the next h)
//   n nn     minute;  s ss  second;  z zzz  millisecond
//   t tt     short or long time format
//   am/pm a/p  "am"/"pm" or "a"/"p" spelt in the case written in the format
//   ampm     the settings' TimeAMString or TimePMString
//   /        DateSeparator;  :  TimeSeparator
//   'x' "x"  literal text
// Any other character stands for itself. An empty format means "c".
ZTL_PLATFORM_API String FormatDateTime(const String& format, TDateTime value);
ZTL_PLATFORM_API String FormatDateTime(const String& format, TDateTime value, const TFormatSettings& settings);
// FormatDateTime into a string that exists already: its room is reused, so
// that a line built for every event can start with its date.
ZTL_PLATFORM_API void DateTimeToString(String& result, const String& format, TDateTime value);
ZTL_PLATFORM_API void DateTimeToString(String& result, const String& format, TDateTime value,
                                       const TFormatSettings& settings);

// The "c" text of the last moment asked for, kept with the settings it was
// written with, for callers that date a line per event: moments within the
// same millisecond (Now's resolution) under unchanged settings reuse it
// instead of being written again.
class ZTL_PLATFORM_API TDateTimeTextMemo {
 public:
  // As FormatDateTime("c", value, settings); valid until the next call.
  const String& Text(TDateTime value, const TFormatSettings& settings);

 private:
  bool Holds(TDateTime value, const TFormatSettings& settings) const;

  bool held_ = false;
  TDateTime value_ = 0;
  char dateSeparator_ = 0, timeSeparator_ = 0;
  String shortDateFormat_, longTimeFormat_, amString_, pmString_;
  String text_;
};

// The ISO 8601 text databases exchange: "yyyy-mm-dd hh:nn:ss", with ".zzz"
// when there are milliseconds; independent of the locale.
ZTL_PLATFORM_API String DateTimeToISO(TDateTime value);
// Reads "yyyy-mm-dd", optionally followed by a blank or "T" and "hh:nn",
// ":ss" and a fraction of a second; false for anything else.
ZTL_PLATFORM_API bool TryISOToDateTime(const String& text, TDateTime& value);

}  // namespace ztl
