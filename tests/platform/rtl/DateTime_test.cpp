#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <tuple>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

// Day-first settings with a dot between the date's fields, so that '/' and
// ':' visibly become the separators.
TFormatSettings Fixed() {
  TFormatSettings s;
  s.DateSeparator = '.';
  s.TimeSeparator = ':';
  s.ShortDateFormat = "dd/mm/yyyy";
  s.LongDateFormat = "dddd d mmmm yyyy";
  s.ShortTimeFormat = "hh:nn";
  s.LongTimeFormat = "hh:nn:ss";
  s.TimeAMString = "vorm.";
  s.TimePMString = "nachm.";
  return s;
}

// Tuesday, 5 March 2024, 14:07:09.045.
TDateTime Sample() { return EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45); }

String FD(const String& format, TDateTime value = Sample()) { return FormatDateTime(format, value, Fixed()); }

TEST(FormatDateTime, DayMonthYear) {
  EXPECT_EQ(FD("d"), "5");
  EXPECT_EQ(FD("dd"), "05");
  EXPECT_EQ(FD("ddd"), "Tue");
  EXPECT_EQ(FD("dddd"), "Tuesday");
  EXPECT_EQ(FD("ddddd"), "05.03.2024");
  EXPECT_EQ(FD("dddddd"), "Tuesday 5 March 2024");
  EXPECT_EQ(FD("m"), "3");
  EXPECT_EQ(FD("mm"), "03");
  EXPECT_EQ(FD("mmm"), "Mar");
  EXPECT_EQ(FD("mmmm"), "March");
  EXPECT_EQ(FD("y"), "24");
  EXPECT_EQ(FD("yy"), "24");
  EXPECT_EQ(FD("yyyy"), "2024");
  EXPECT_EQ(FD("yy", EncodeDate(2007, 1, 1)), "07");
  EXPECT_EQ(FD("yyyy", EncodeDate(987, 1, 1)), "0987");
  EXPECT_EQ(FD("e"), "2024");
  EXPECT_EQ(FD("[g]"), "[]");
}

TEST(FormatDateTime, TimeParts) {
  TDateTime early = EncodeDate(2024, 3, 5) + EncodeTime(4, 5, 6, 7);
  EXPECT_EQ(FD("h"), "14");
  EXPECT_EQ(FD("h", early), "4");
  EXPECT_EQ(FD("hh", early), "04");
  EXPECT_EQ(FD("n", early), "5");
  EXPECT_EQ(FD("nn", early), "05");
  EXPECT_EQ(FD("s", early), "6");
  EXPECT_EQ(FD("ss", early), "06");
  EXPECT_EQ(FD("z", early), "7");
  EXPECT_EQ(FD("zzz", early), "007");
  EXPECT_EQ(FD("zzz"), "045");
  EXPECT_EQ(FD("t"), "14:07");
  EXPECT_EQ(FD("tt"), "14:07:09");
}

TEST(FormatDateTime, MinutesAfterHours) {
  EXPECT_EQ(FD("hh:mm"), "14:07");
  EXPECT_EQ(FD("h:m"), "14:7");
  EXPECT_EQ(FD("mm hh"), "03 14");
  EXPECT_EQ(FD("hh:mm:ss mm"), "14:07:09 03");
}

TEST(FormatDateTime, TwelveHourClock) {
  TDateTime midnight = EncodeTime(0, 30, 0, 0);
  TDateTime noon = EncodeTime(12, 0, 0, 0);
  EXPECT_EQ(FD("h:nn am/pm"), "2:07 pm");
  EXPECT_EQ(FD("hh:nn AM/PM"), "02:07 PM");
  EXPECT_EQ(FD("h:nn Am/Pm"), "2:07 Pm");
  EXPECT_EQ(FD("h:nn am/pm", midnight), "12:30 am");
  EXPECT_EQ(FD("h:nn am/pm", noon), "12:00 pm");
  EXPECT_EQ(FD("h a/p"), "2 p");
  EXPECT_EQ(FD("h A/P", midnight), "12 A");
  EXPECT_EQ(FD("h ampm"), "2 nachm.");
  EXPECT_EQ(FD("h AMPM", midnight), "12 vorm.");
  // The marker only counts before the next hour, and not inside quotes.
  EXPECT_EQ(FD("hh hh am/pm"), "14 02 pm");
  EXPECT_EQ(FD("hh 'am/pm'"), "14 am/pm");
  EXPECT_EQ(FD("hh ab!"), "14 ab!");
}

TEST(FormatDateTime, SeparatorsQuotesAndCase) {
  EXPECT_EQ(FD("yyyy/mm/dd"), "2024.03.05");
  EXPECT_EQ(FD("hh:nn"), "14:07");
  EXPECT_EQ(FD("'yyyy' \"dd\" yyyy"), "yyyy dd 2024");
  EXPECT_EQ(FD("'it''s'"), "its");
  EXPECT_EQ(FD("YYYY-MM-DD HH:NN:SS.ZZZ"), "2024-03-05 14:07:09.045");
  EXPECT_EQ(FD("dddd, MMMM D"), "Tuesday, March 5");
  EXPECT_EQ(FD("[x#q]"), "[x#q]");
  EXPECT_EQ(FD("'unterminated"), "unterminated");
  TFormatSettings noSeparators = Fixed();
  noSeparators.DateSeparator = '-';
  noSeparators.TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("yy/mm hh:nn", Sample(), noSeparators), "24-03 14.07");
}

TEST(FormatDateTime, CombinedFormats) {
  EXPECT_EQ(FD("c"), "05.03.2024 14:07:09");
  EXPECT_EQ(FD(""), "05.03.2024 14:07:09");
  EXPECT_EQ(FD("c", EncodeDate(2024, 3, 5)), "05.03.2024");
  EXPECT_EQ(FD("c", EncodeTime(0, 0, 0, 1)), "30.12.1899 00:00:00");
  EXPECT_EQ(FD("ddddd tt"), "05.03.2024 14:07:09");
  // A format that names itself does not recurse for ever.
  TFormatSettings looping = Fixed();
  looping.ShortDateFormat = "d ddddd";
  EXPECT_EQ(FormatDateTime("ddddd", Sample(), looping), "5 5 ");
}

// "c" has a writer of its own for the usual date formats; whatever the
// settings, it gives the text of the short date and long time formats.
TEST(FormatDateTime, ShortFormMatchesItsParts) {
  std::vector<TFormatSettings> settings(7, TFormatSettings());
  settings[1] = Fixed();
  settings[2].ShortDateFormat = "MM/dd/yy";
  settings[2].LongTimeFormat = "hh:nn:ss";
  settings[3].ShortDateFormat = "yyyy'-'mm'-'dd";
  settings[3].LongTimeFormat = "h:mm:ss.zzz am/pm";
  settings[4].DateSeparator = '\0';
  settings[4].ShortDateFormat = "d/M/yyyy\"г.\"";
  settings[4].LongTimeFormat = "H:m:s a/p";
  // Names, and text longer than the short form's room, take the general way.
  settings[5].ShortDateFormat = "ddd d mmm yyyy";
  settings[6].LongTimeFormat = "hh:nn:ss 'o''clock, by the clock on the tower of the town hall'";
  std::vector<TDateTime> values = {0.0, -1.25, 1e300, std::nan(""), EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999),
                                   EncodeDate(1, 1, 1), EncodeDate(2024, 2, 29) - 1e-10};
  for (TDateTime day = EncodeDate(1, 1, 1); day < EncodeDate(9999, 12, 31); day += 3001) {
    values.push_back(day);  // midnight: the time is left out
    values.push_back(day + EncodeTime(12, 0, 0, 0));
    values.push_back(day + 0.7314159);
    values.push_back(-day + 0.0417);
  }
  for (const TFormatSettings& s : settings)
    for (TDateTime value : values) {
      int hour, minute, second, msec;
      DecodeTime(value, hour, minute, second, msec);
      const bool midnight = hour == 0 && minute == 0 && second == 0 && msec == 0;
      const String parts = FormatDateTime("ddddd", value, s) + (midnight ? "" : " " + FormatDateTime("tt", value, s));
      ASSERT_EQ(FormatDateTime("c", value, s), parts) << s.ShortDateFormat << " " << s.LongTimeFormat << " " << value;
      ASSERT_EQ(FormatDateTime("", value, s), parts);
      String reused = "what was there before";
      DateTimeToString(reused, "c", value, s);
      ASSERT_EQ(reused, parts);
    }
  EXPECT_EQ(FormatDateTime("c", EncodeDate(2024, 3, 5) + EncodeTime(0, 5, 0, 7), settings[3]),
            "2024-03-05 12:05:00.007 am");
}

// A kept text must follow every change of the moment or of the settings it
// was written with, also in place (the same settings object changed).
TEST(DateTimeTextMemo, WritesAgainWhenTheMomentOrTheSettingsChange) {
  TDateTimeTextMemo memo;
  TFormatSettings s = Fixed();
  EXPECT_EQ(memo.Text(Sample(), s), DateTimeToStr(Sample(), s));
  EXPECT_EQ(memo.Text(Sample() + EncodeTime(0, 0, 0, 1), s), DateTimeToStr(Sample() + EncodeTime(0, 0, 0, 1), s));
  const TDateTime later = Sample() + EncodeTime(0, 0, 1, 0);
  EXPECT_EQ(memo.Text(later, s), "05.03.2024 14:07:10");
  s.TimeSeparator = '.';
  EXPECT_EQ(memo.Text(later, s), "05.03.2024 14.07.10");
  s.LongTimeFormat = "hh:nn AMPM";
  s.TimePMString = "pm";
  EXPECT_EQ(memo.Text(later, s), "05.03.2024 02.07 pm");
  s.ShortDateFormat = "d mmm yyyy";  // month names: the general writer's
  EXPECT_EQ(memo.Text(later, s), "5 Mar 2024 02.07 pm");
  s.ShortMonthNames[2] = "mar.";
  EXPECT_EQ(memo.Text(later, s), "5 mar. 2024 02.07 pm");
  EXPECT_EQ(memo.Text(EncodeDate(2024, 3, 5), s), "5 mar. 2024");
}

TEST(FormatDateTime, NamesOfEveryMonthAndDay) {
  TFormatSettings s;
  for (int month = 1; month <= 12; ++month)
    EXPECT_EQ(FormatDateTime("mmm mmmm", EncodeDate(2023, month, 1), s),
              s.ShortMonthNames[month - 1] + " " + s.LongMonthNames[month - 1]);
  // 1 January 2023 was a Sunday.
  for (int day = 1; day <= 7; ++day)
    EXPECT_EQ(FormatDateTime("ddd dddd", EncodeDate(2023, 1, day), s),
              s.ShortDayNames[day - 1] + " " + s.LongDayNames[day - 1]);
}

TEST(DateTimeToStr, MidnightLeavesTheTimeOut) {
  TFormatSettings s = Fixed();
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5), s), "05.03.2024");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 1, 0), s), "05.03.2024 00:00:01");
  EXPECT_EQ(DateTimeToStr(Sample(), s), "05.03.2024 14:07:09");
  EXPECT_EQ(DateToStr(Sample(), s), "05.03.2024");
  EXPECT_EQ(TimeToStr(Sample(), s), "14:07:09");
  EXPECT_EQ(DateTimeToStr(0.0, s), "30.12.1899");
}

TEST(DateTimeToStr, FollowsTheProcessSettings) {
  TFormatSettings saved = FormatSettings();
  FormatSettings() = Fixed();
  FormatSettings().ShortDateFormat = "yyyy/mm/dd";
  String text = DateTimeToStr(Sample());
  String date = DateToStr(Sample());
  String time = TimeToStr(Sample());
  FormatSettings() = saved;
  EXPECT_EQ(text, "2024.03.05 14:07:09");
  EXPECT_EQ(date, "2024.03.05");
  EXPECT_EQ(time, "14:07:09");
}

TEST(EncodeDate, DayNumbers) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
}

TEST(EncodeDate, InvalidValuesRaise) {
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(2024, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2024, 0, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2024, 4, 31), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_THROW(EncodeTime(-1, 0, 0, 0), EConvertError);
  try {
    EncodeDate(2023, 2, 29);
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to date encode");
  }
}

TEST(EncodeTime, FractionOfADay) {
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(DecodeDate, RoundTripsAndNegativeValues) {
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
  using Ymd = std::tuple<int, int, int>;
  for (auto [year, month, day] : std::initializer_list<Ymd>{
           {1, 1, 1}, {1600, 2, 29}, {1899, 12, 29}, {1970, 1, 1}, {2024, 12, 31}, {9999, 12, 31}}) {
    // Before the epoch the time of day is subtracted from the day number.
    TDateTime date = EncodeDate(year, month, day);
    DecodeDate(date < 0 ? date - 0.75 : date + 0.75, y, m, d);
    EXPECT_EQ(std::tuple(y, m, d), std::tuple(year, month, day));
  }
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(std::tuple(y, m, d, h, n), std::tuple(1899, 12, 29, 6, 0));
  DecodeTime(Sample(), h, n, s, ms);
  EXPECT_EQ(std::tuple(h, n, s, ms), std::tuple(14, 7, 9, 45));
  // Rounded to the millisecond first: a hair before midnight is the next day.
  DecodeDate(EncodeDate(2024, 2, 29) + 0.99999999999, y, m, d);
  DecodeTime(EncodeDate(2024, 2, 29) + 0.99999999999, h, n, s, ms);
  EXPECT_EQ(std::tuple(y, m, d, h, n, s, ms), std::tuple(2024, 3, 1, 0, 0, 0, 0));
  DecodeDate(NAN, y, m, d);
  EXPECT_EQ(std::tuple(y, m, d), std::tuple(0, 0, 0));
}

TEST(DayOfWeek, SundayIsOne) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
  EXPECT_EQ(DayOfWeek(EncodeDate(1970, 1, 1)), 5);
  EXPECT_EQ(DayOfWeek(Sample()), 3);
  EXPECT_EQ(DayOfWeek(EncodeDate(2023, 1, 1)), 1);
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);
  EXPECT_EQ(DayOfWeek(-1.5), 6);
}

TEST(Now, IsTheLocalTime) {
  time_t before = time(nullptr);
  TDateTime now = Now();
  struct tm local {};
  localtime_r(&before, &local);
  TDateTime expected = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                       EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), 0);
  EXPECT_GE(now, expected);
  EXPECT_LT(now - expected, 5.0 / 86400);
  TDateTime date = Date();
  TDateTime time = Time();
  EXPECT_EQ(date, std::floor(date));
  EXPECT_GE(time, 0.0);
  EXPECT_LT(time, 1.0);
  EXPECT_LT(std::fabs(date + time - now), 5.0 / 86400);
}

// Runs a test body with LC_ALL set, then restores it.
class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const char* value) {
    if (const char* old = std::getenv("LC_ALL")) saved_ = old;
    setenv("LC_ALL", value, 1);
  }
  ~LocaleEnvironment() {
    if (saved_) setenv("LC_ALL", saved_->c_str(), 1);
    else unsetenv("LC_ALL");
  }

 private:
  std::optional<String> saved_;
};

void ExpectCLocaleSettings(const TFormatSettings& s) {
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.ThousandSeparator, ',');
  EXPECT_EQ(s.DateSeparator, '/');
  EXPECT_EQ(s.TimeSeparator, ':');
  EXPECT_EQ(s.ShortDateFormat, "MM/dd/yy");
  EXPECT_EQ(s.LongDateFormat, "dddd MMMM d yyyy");
  EXPECT_EQ(s.ShortTimeFormat, "hh:nn");
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(s.TimeAMString, "AM");
  EXPECT_EQ(s.TimePMString, "PM");
  EXPECT_EQ(s.CurrencyString, "");
  EXPECT_EQ(s.LongMonthNames[0], "January");
  EXPECT_EQ(s.ShortMonthNames[11], "Dec");
  EXPECT_EQ(s.LongDayNames[0], "Sunday");
  EXPECT_EQ(s.ShortDayNames[6], "Sat");
  EXPECT_EQ(FormatDateTime("c", Sample(), s), "03/05/24 14:07:09");
  EXPECT_EQ(FormatDateTime("dddddd", Sample(), s), "Tuesday March 5 2024");
}

TEST(LocaleFormatSettings, CLocale) {
  LocaleEnvironment c("C");
  ExpectCLocaleSettings(GetLocaleFormatSettings());
}

TEST(LocaleFormatSettings, UnknownLocaleFallsBackToC) {
  LocaleEnvironment unknown("xx_NOWHERE.UTF-8");
  ExpectCLocaleSettings(GetLocaleFormatSettings());
}

// The C library loses a few bytes for every locale it loads through LOCPATH;
// the leak checker is not to count them against us.
class TLeaksOfTheCLibraryIgnored {
 public:
#if defined(__SANITIZE_ADDRESS__)
  TLeaksOfTheCLibraryIgnored() { __lsan_disable(); }
  ~TLeaksOfTheCLibraryIgnored() { __lsan_enable(); }
#endif
};

// Compiles a locale into the test's folder; false where the locale sources
// are not installed.
bool CompileLocale(const test::TestDir& dir, const String& name, const String& charset) {
  test::RunOptions quiet;
  quiet.output = quiet.errors = test::Sink::Dropped;
  return test::RunProgram({"localedef", "-i", name, "-f", charset, dir.File(name + "." + charset)}, quiet).status == 0;
}

TEST(LocaleFormatSettings, InstalledLocales) {
  test::TestDir dir;
  if (!CompileLocale(dir, "de_DE", "UTF-8") || !CompileLocale(dir, "ja_JP", "UTF-8") ||
      !CompileLocale(dir, "de_DE", "ISO-8859-1"))
    GTEST_SKIP() << "no locale sources (Debian package locales)";
  setenv("LOCPATH", dir.Path().c_str(), 1);
  TFormatSettings german, japanese, latin1;
  [[maybe_unused]] TLeaksOfTheCLibraryIgnored ignored;
  {
    LocaleEnvironment de("de_DE.UTF-8");
    german = GetLocaleFormatSettings();
  }
  {
    LocaleEnvironment ja("ja_JP.UTF-8");
    japanese = GetLocaleFormatSettings();
  }
  {
    LocaleEnvironment de("de_DE.ISO-8859-1");
    latin1 = GetLocaleFormatSettings();
  }
  unsetenv("LOCPATH");

  EXPECT_EQ(german.DecimalSeparator, ',');
  EXPECT_EQ(german.ThousandSeparator, '.');
  EXPECT_EQ(german.DateSeparator, '.');
  EXPECT_EQ(german.ShortDateFormat, "dd/MM/yyyy");
  EXPECT_EQ(german.ShortTimeFormat, "hh:nn");
  EXPECT_EQ(FormatDateTime("c", Sample(), german), "05.03.2024 14:07:09");
  EXPECT_EQ(FormatDateTime("dddddd", Sample(), german), "Dienstag 05 M\xC3\xA4rz 2024");
  EXPECT_EQ(Format("%m", {1234.5}, german), "1.234,50 \xE2\x82\xAC");
  EXPECT_EQ(FloatToStr(0.5, german), "0,5");
  // A locale in another code set still gives UTF-8 names.
  EXPECT_EQ(latin1.LongMonthNames[2], "M\xC3\xA4rz");
  // Fields with unit labels: the short time drops the seconds with their label.
  EXPECT_EQ(FormatDateTime("t", Sample(), japanese), "14\xE6\x99\x82" "07\xE5\x88\x86");
  EXPECT_EQ(FormatDateTime("dddddd", Sample(), japanese), "2024\xE5\xB9\xB4" "03\xE6\x9C\x88" "05\xE6\x97\xA5");
}

TEST(LocaleFormatSettings, StrftimeTranslation) {
  EXPECT_EQ(StrftimeFormatSeparator("%d.%m.%Y"), '.');
  EXPECT_EQ(StrftimeFormatSeparator("%H:%M:%S"), ':');
  EXPECT_EQ(StrftimeFormatSeparator("%D"), '/');
  EXPECT_EQ(StrftimeFormatSeparator("%Y\xE5\xB9\xB4%m\xE6\x9C\x88"), '\0');
  EXPECT_EQ(TranslateStrftimeFormat("%d.%m.%Y", '.', 0), "dd/MM/yyyy");
  EXPECT_EQ(TranslateStrftimeFormat("%D", '/', 0), "MM/dd/yy");
  EXPECT_EQ(TranslateStrftimeFormat("%F", '-', 0), "yyyy/MM/dd");
  EXPECT_EQ(TranslateStrftimeFormat("%-d/%-m/%Y", '/', 0), "d/M/yyyy");
  EXPECT_EQ(TranslateStrftimeFormat("%e %b %Y", 0, 0), "d MMM yyyy");
  EXPECT_EQ(TranslateStrftimeFormat("%A, %B %d", 0, 0), "dddd, MMMM dd");
  EXPECT_EQ(TranslateStrftimeFormat("%r", 0, ':'), "hh:nn:ss AMPM");
  EXPECT_EQ(TranslateStrftimeFormat("%T %Z", 0, ':'), "hh:nn:ss ");
  EXPECT_EQ(TranslateStrftimeFormat("%H.%M", 0, '.'), "hh:nn");
  EXPECT_EQ(TranslateStrftimeFormat("%Hh%M", 0, 0), "hh\"h\"nn");
  EXPECT_EQ(TranslateStrftimeFormat("%Y\xE5\xB9\xB4%m", 0, 0), "yyyy\xE5\xB9\xB4MM");
  EXPECT_EQ(TranslateStrftimeFormat("%d/%m", '.', 0), "dd\"/\"MM");
  // The translation renders what the C library would.
  TFormatSettings s = Fixed();
  EXPECT_EQ(FormatDateTime(TranslateStrftimeFormat("%d.%m.%Y %Hh%M", '.', 0), Sample(), s), "05.03.2024 14h07");
}

}  // namespace
}  // namespace ztl
