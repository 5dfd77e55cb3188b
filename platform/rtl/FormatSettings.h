#pragma once
// The process's number and date formats.
// Any thread may read the settings; change them while no other thread formats.
#include <array>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

// Number and date formats. In the date and time formats '/' stands for
// DateSeparator and ':' for TimeSeparator (see FormatDateTime). The member
// defaults are those of an English system; the process's settings are read
// from the environment's locale instead.
struct ZTL_PLATFORM_API TFormatSettings {
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
  // Money (%m of Format): the symbol, where it goes (0 "$1", 1 "1$", 2 "$ 1",
  // 3 "1 $") and the default number of decimals. A negative amount gets a
  // minus sign in front of the whole text.
  String CurrencyString = "$";
  uint8_t CurrencyFormat = 0;
  uint8_t CurrencyDecimals = 2;
  std::array<String, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<String, 12> LongMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                                           "July",    "August",   "September", "October", "November", "December"};
  std::array<String, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};  // Sunday first
  std::array<String, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
};

// The process's current settings: read once from the environment's locale
// (LC_NUMERIC, LC_TIME, LC_MONETARY) on first use; an application may change
// them while no other thread formats. Under the "C" locale they are: decimal
// '.', thousands ',', short date "MM/dd/yy", long date "dddd MMMM d yyyy",
// long time "hh:nn:ss", short time "hh:nn", "AM"/"PM", English names, no
// currency symbol.
ZTL_PLATFORM_API TFormatSettings& FormatSettings();
// A fresh read of the environment's locale (the "C" locale when it names none
// or names one that is not installed).
ZTL_PLATFORM_API TFormatSettings GetLocaleFormatSettings();

// Translates a C library time format (strftime directives such as "%d.%m.%Y")
// into this runtime's date and time format letters ("dd/MM/yyyy"): the given
// separators become '/' and ':', other literal text is quoted, and directives
// without a counterpart (time zone, week numbers) are left out.
ZTL_PLATFORM_API String TranslateStrftimeFormat(const String& format, char dateSeparator, char timeSeparator);
// The separator a strftime date or time format uses between its fields: the
// first punctuation character outside the directives, or 0 when there is none.
ZTL_PLATFORM_API char StrftimeFormatSeparator(const String& format);

}  // namespace ztl
