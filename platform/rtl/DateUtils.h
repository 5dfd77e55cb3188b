#pragma once
// Dates and times as TDateTime: days since 30 December 1899, the fraction
// being the time of day. Before that day the value is negative and its
// fraction still counts forwards from midnight (-1.25 is 29 December 1899,
// 6:00).
#include "platform/rtl/FormatSettings.h"

namespace ztl {

// The local date and time, to the millisecond; the date alone; the time alone.
TDateTime Now();
TDateTime Date();
TDateTime Time();

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Years 1 to 9999; raise EConvertError for a date or time that does not exist.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& value);
// The value is rounded to the millisecond first. A value outside the years
// 1 to 9999 (or not a number) decodes as zeros.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
int DayOfWeek(TDateTime value);  // 1 = Sunday

// The short date format, a space and the long time format; the time is left
// out when it is exactly midnight (FormatDateTime "c").
String DateTimeToStr(TDateTime value);
String DateTimeToStr(TDateTime value, const TFormatSettings& settings);
String DateToStr(TDateTime value);  // the short date format
String DateToStr(TDateTime value, const TFormatSettings& settings);
String TimeToStr(TDateTime value);  // the long time format
String TimeToStr(TDateTime value, const TFormatSettings& settings);

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
String FormatDateTime(const String& format, TDateTime value);
String FormatDateTime(const String& format, TDateTime value, const TFormatSettings& settings);

}  // namespace ztl
