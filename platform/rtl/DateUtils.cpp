#include <ztlogger/platform/rtl/DateUtils.h>

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {

namespace {

constexpr int64_t MSecsPerDay = 86400000;
// 1 January 0001 and 1 January 10000 as day numbers of TDateTime.
constexpr int64_t FirstDay = -693593;
constexpr int64_t EndDay = 2958466;

// The length of the run of `starter` in a format whose first letter was just
// read, leaving i after the run.
int Count(const String& format, size_t& i, char starter) {
  int count = 1;
  while (i < format.size() && format[i] == starter) {
    ++i;
    ++count;
  }
  return count;
}

// Days from 1 January 1970 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

// The value split into a day number and the milliseconds since midnight.
struct TTimeStamp {
  bool Valid = false;
  int64_t Day = 0;
  int64_t MSecs = 0;
};

TTimeStamp ToTimeStamp(TDateTime value) {
  if (!std::isfinite(value) || value < FirstDay - 1 || value > EndDay + 1) return {};
  auto total = static_cast<int64_t>(std::llround(value * MSecsPerDay));
  TTimeStamp stamp{true, total / MSecsPerDay, std::abs(total) % MSecsPerDay};
  stamp.Valid = stamp.Day >= FirstDay && stamp.Day < EndDay;
  return stamp;
}

TDateTime NowWithMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  TDateTime date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  int second = std::min(local.tm_sec, 59);  // a leap second counts as the one before
  return date + EncodeTime(local.tm_hour, local.tm_min, second, static_cast<int>(now.tv_nsec / 1000000));
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithText(const String& s, size_t pos, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i)
    if (pos + i >= s.size() || AsciiUpper(s[pos + i]) != prefix[i]) return false;
  return true;
}

// An am/pm specifier ahead, before the next hour, asks for the 12-hour clock.
bool TwelveHourClockAhead(const String& format, size_t i) {
  bool quoted = false;
  char quote = 0;
  for (; i < format.size(); ++i) {
    char c = format[i];
    if (quoted) {
      quoted = c != quote;
    } else if (c == '\'' || c == '"') {
      quoted = true;
      quote = c;
    } else if (c == 'h' || c == 'H') {
      return false;
    } else if (c == 'a' || c == 'A') {
      return StartsWithText(format, i, "AM/PM") || StartsWithText(format, i, "A/P") || StartsWithText(format, i, "AMPM");
    }
  }
  return false;
}

// The fields of a date and time that a format writes.
struct TDateTimeFields {
  TDateTime Value = 0;
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;

  // Decodes as DecodeDate and DecodeTime do, rounding once.
  explicit TDateTimeFields(TDateTime value) : Value(value) {
    const TTimeStamp stamp = ToTimeStamp(value);
    if (!stamp.Valid) return;
    CivilFromDays(stamp.Day - static_cast<int64_t>(UnixDateDelta), Year, Month, Day);
    Hour = static_cast<int>(stamp.MSecs / 3600000);
    Minute = static_cast<int>(stamp.MSecs / 60000 % 60);
    Second = static_cast<int>(stamp.MSecs / 1000 % 60);
    MSec = static_cast<int>(stamp.MSecs % 1000);
  }

  bool HasTime() const { return Hour != 0 || Minute != 0 || Second != 0 || MSec != 0; }
  bool ValidDate() const { return Month >= 1 && Month <= 12; }
};

// What each token of a date and time format writes: the one table of both
// writers below. Out takes the text (its Put is false when the text does not
// fit, which ends the writing with false) and tells by NamesAndNesting
// whether it writes month and day names and nested formats (c, ddddd, t...),
// which read settings beyond the separators, ShortDateFormat, LongTimeFormat
// and the am/pm texts; where it does not, such a token ends the writing with
// false. Nested formats go two levels deep.
template <class Out>
class TDateTimeRenderer {
 public:
  TDateTimeRenderer(const TDateTimeFields& fields, const TFormatSettings& settings, Out& out)
      : fields_(fields), settings_(settings), out_(out) {}

  bool Render(const String& format, int depth) {
    char lastToken = ' ';
    size_t i = 0;
    while (i < format.size()) {
      const char starter = format[i++];
      char token = AsciiUpper(starter);
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && lastToken == 'H') token = 'N';
        lastToken = token;
      }
      if (!Token(format, i, starter, token, depth)) return false;
    }
    return true;
  }

  // The "c" text: the short date, then a blank and the long time unless it
  // is midnight.
  bool ShortDateAndLongTime(int depth) {
    return Nested(settings_.ShortDateFormat, depth + 1) &&
           (!fields_.HasTime() || (Put(' ') && Nested(settings_.LongTimeFormat, depth + 1)));
  }

 private:
  bool Put(char c) { return out_.Put(&c, 1); }
  bool Put(const String& text) { return out_.Put(text.data(), text.size()); }

  bool Number(int value, int digits) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    for (auto pad = digits - static_cast<int>(end - text); pad > 0; --pad)
      if (!Put('0')) return false;
    return out_.Put(text, static_cast<size_t>(end - text));
  }

  bool Nested(const String& format, int depth) { return depth > 2 || Render(format, depth); }

  bool Hour(const String& format, size_t i, int count) {
    int hour = fields_.Hour;
    if (TwelveHourClockAhead(format, i)) hour = hour == 0 ? 12 : (hour > 12 ? hour - 12 : hour);
    return Number(hour, std::min(count, 2));
  }

  // At format[i - 1], 'a' or 'A'.
  bool AmPm(const String& format, size_t& i, char starter) {
    const size_t start = i - 1;
    const bool pm = fields_.Hour >= 12;
    if (StartsWithText(format, start, "AM/PM")) {
      i = start + 5;
      return out_.Put(format.data() + start + (pm ? 3 : 0), 2);
    }
    if (StartsWithText(format, start, "A/P")) {
      i = start + 3;
      return Put(format[start + (pm ? 2 : 0)]);
    }
    if (StartsWithText(format, start, "AMPM")) {
      i = start + 4;
      return Put(pm ? settings_.TimePMString : settings_.TimeAMString);
    }
    return Put(starter);
  }

  bool Quoted(const String& format, size_t& i, char quote) {
    size_t end = format.find(quote, i);
    if (end == String::npos) end = format.size();
    const bool written = out_.Put(format.data() + i, end - i);
    i = std::min(end + 1, format.size());
    return written;
  }

  bool Token(const String& format, size_t& i, char starter, char token, int depth) {
    constexpr bool names = Out::NamesAndNesting;
    switch (token) {
      case 'Y': return Count(format, i, starter) <= 2 ? Number(fields_.Year % 100, 2) : Number(fields_.Year, 4);
      case 'E': return Number(fields_.Year, std::min(Count(format, i, starter), 2));
      case 'G': Count(format, i, starter); return true;
      case 'M': {
        const int count = Count(format, i, starter);
        if (count <= 2) return Number(fields_.Month, count);
        if (!names) return false;
        const auto& months = count == 3 ? settings_.ShortMonthNames : settings_.LongMonthNames;
        return !fields_.ValidDate() || Put(months[fields_.Month - 1]);
      }
      case 'D': {
        const int count = Count(format, i, starter);
        if (count <= 2) return Number(fields_.Day, count);
        if (!names) return false;
        if (count == 5) return Nested(settings_.ShortDateFormat, depth + 1);
        if (count >= 6) return Nested(settings_.LongDateFormat, depth + 1);
        const auto& days = count == 3 ? settings_.ShortDayNames : settings_.LongDayNames;
        return !fields_.ValidDate() || Put(days[DayOfWeek(fields_.Value) - 1]);
      }
      case 'H': {
        const int count = Count(format, i, starter);  // before the clock is looked for after the run
        return Hour(format, i, count);
      }
      case 'N': return Number(fields_.Minute, std::min(Count(format, i, starter), 2));
      case 'S': return Number(fields_.Second, std::min(Count(format, i, starter), 2));
      case 'Z': return Number(fields_.MSec, std::min(Count(format, i, starter), 3));
      case 'T': {
        const int count = Count(format, i, starter);
        return names && Nested(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat, depth + 1);
      }
      case 'C': Count(format, i, starter); return names && ShortDateAndLongTime(depth);
      case 'A': return AmPm(format, i, starter);
      case '/': return settings_.DateSeparator == '\0' || Put(settings_.DateSeparator);
      case ':': return settings_.TimeSeparator == '\0' || Put(settings_.TimeSeparator);
      case '\'':
      case '"': return Quoted(format, i, starter);
      default: return Put(starter);
    }
  }

  const TDateTimeFields& fields_;
  const TFormatSettings& settings_;
  Out& out_;
};

// Renders any format into a string.
class TDateTimeWriter {
 public:
  static constexpr bool NamesAndNesting = true;

  TDateTimeWriter(TDateTime value, const TFormatSettings& settings) : fields_(value), settings_(settings) {
    // Room for the usual date and time texts: one allocation at most.
    result_.reserve(31);
  }

  String Result() && { return std::move(result_); }

  void Append(const String& format) {
    TDateTimeRenderer<TDateTimeWriter>(fields_, settings_, *this).Render(format.empty() ? String("c") : format, 0);
  }

  bool Put(const char* text, size_t size) {
    result_.append(text, size);
    return true;
  }

 private:
  TDateTimeFields fields_;
  const TFormatSettings& settings_;
  String result_;
};

// The "c" text written straight into a small buffer, for the date formats
// the locales use: numbers, separators, am/pm and quoted text. Write() is
// false for anything else (names, nested formats) and for text longer than
// the buffer; the general writer then renders it. Both give the same text,
// from the same table: a line stamp is formatted for every event logged.
class TShortDateTimeWriter {
 public:
  static constexpr bool NamesAndNesting = false;

  TShortDateTimeWriter(TDateTime value, const TFormatSettings& settings) : fields_(value), settings_(settings) {}

  bool Write() { return TDateTimeRenderer<TShortDateTimeWriter>(fields_, settings_, *this).ShortDateAndLongTime(0); }
  void AssignTo(String& result) const { result.assign(buffer_, size_); }

  // Byte by byte: the pieces are a few characters long.
  bool Put(const char* text, size_t size) {
    if (size > sizeof buffer_ - size_) return false;
    for (size_t i = 0; i < size; ++i) buffer_[size_ + i] = text[i];
    size_ += size;
    return true;
  }

 private:
  TDateTimeFields fields_;
  const TFormatSettings& settings_;
  char buffer_[48];
  size_t size_ = 0;
};

}  // namespace

TDateTime Now() { return NowWithMilliseconds(); }

TDateTime Date() { return std::floor(Now()); }

TDateTime Time() {
  TDateTime now = Now();
  return now - std::floor(now);
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return false;
  value = static_cast<TDateTime>(DaysFromCivil(year, month, day)) + UnixDateDelta;
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& value) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999)
    return false;
  int64_t msecs = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  value = static_cast<TDateTime>(msecs) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime value = 0;
  if (!TryEncodeDate(year, month, day, value)) throw EConvertError("Invalid argument to date encode");
  return value;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime value = 0;
  if (!TryEncodeTime(hour, minute, second, millisecond, value)) throw EConvertError("Invalid argument to time encode");
  return value;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  TTimeStamp stamp = ToTimeStamp(value);
  year = month = day = 0;
  if (stamp.Valid) CivilFromDays(stamp.Day - static_cast<int64_t>(UnixDateDelta), year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  TTimeStamp stamp = ToTimeStamp(value);
  int64_t msecs = stamp.Valid ? stamp.MSecs : 0;
  hour = static_cast<int>(msecs / 3600000);
  minute = static_cast<int>(msecs / 60000 % 60);
  second = static_cast<int>(msecs / 1000 % 60);
  millisecond = static_cast<int>(msecs % 1000);
}

int DayOfWeek(TDateTime value) {
  TTimeStamp stamp = ToTimeStamp(value);
  if (!stamp.Valid) return 0;
  // 1 January 1970 was a Thursday, the fifth day of a week starting on Sunday.
  int64_t days = stamp.Day - static_cast<int64_t>(UnixDateDelta);
  return static_cast<int>(((days % 7) + 7 + 4) % 7) + 1;
}

String DateTimeToStr(TDateTime value) { return DateTimeToStr(value, FormatSettings()); }
String DateTimeToStr(TDateTime value, const TFormatSettings& settings) { return FormatDateTime("c", value, settings); }
String DateToStr(TDateTime value) { return DateToStr(value, FormatSettings()); }
String DateToStr(TDateTime value, const TFormatSettings& settings) { return FormatDateTime("ddddd", value, settings); }
String TimeToStr(TDateTime value) { return TimeToStr(value, FormatSettings()); }
String TimeToStr(TDateTime value, const TFormatSettings& settings) { return FormatDateTime("tt", value, settings); }

String FormatDateTime(const String& format, TDateTime value) { return FormatDateTime(format, value, FormatSettings()); }

String FormatDateTime(const String& format, TDateTime value, const TFormatSettings& settings) {
  String result;
  DateTimeToString(result, format, value, settings);
  return result;
}

void DateTimeToString(String& result, const String& format, TDateTime value) {
  DateTimeToString(result, format, value, FormatSettings());
}

void DateTimeToString(String& result, const String& format, TDateTime value, const TFormatSettings& settings) {
  if (format.empty() || format == "c") {
    TShortDateTimeWriter shortForm(value, settings);
    if (shortForm.Write()) return shortForm.AssignTo(result);
  }
  TDateTimeWriter writer(value, settings);
  writer.Append(format);
  result = std::move(writer).Result();
}


// Only texts the short writer made are kept: it reads no more of the
// settings than the fields compared here (names of months and days are the
// general writer's).
const String& TDateTimeTextMemo::Text(TDateTime value, const TFormatSettings& settings) {
  if (Holds(value, settings)) return text_;
  TShortDateTimeWriter shortForm(value, settings);
  held_ = shortForm.Write();
  if (!held_) {
    // The general writer at once: DateTimeToString would try the short one again.
    TDateTimeWriter writer(value, settings);
    writer.Append("c");
    text_ = std::move(writer).Result();
    return text_;
  }
  shortForm.AssignTo(text_);
  value_ = value;
  dateSeparator_ = settings.DateSeparator;
  timeSeparator_ = settings.TimeSeparator;
  shortDateFormat_ = settings.ShortDateFormat;
  longTimeFormat_ = settings.LongTimeFormat;
  amString_ = settings.TimeAMString;
  pmString_ = settings.TimePMString;
  return text_;
}

bool TDateTimeTextMemo::Holds(TDateTime value, const TFormatSettings& settings) const {
  return held_ && value == value_ && settings.DateSeparator == dateSeparator_ &&
         settings.TimeSeparator == timeSeparator_ && settings.ShortDateFormat == shortDateFormat_ &&
         settings.LongTimeFormat == longTimeFormat_ && settings.TimeAMString == amString_ &&
         settings.TimePMString == pmString_;
}

}  // namespace ztl

namespace ztl {

String DateTimeToISO(TDateTime value) {
  const String ms = FormatDateTime("zzz", value);
  return FormatDateTime("yyyy'-'mm'-'dd hh':'nn':'ss", value) + (ms == "000" ? String() : "." + ms);
}

bool TryISOToDateTime(const String& text, TDateTime& value) {
  size_t pos = 0;
  auto number = [&](size_t digits, int& out) {
    if (pos + digits > text.size()) return false;
    out = 0;
    for (size_t i = 0; i < digits; ++i) {
      const char c = text[pos + i];
      if (c < '0' || c > '9') return false;
      out = out * 10 + (c - '0');
    }
    pos += digits;
    return true;
  };
  auto literal = [&](char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
  };
  int year, month, day, hour = 0, minute = 0, second = 0, msec = 0;
  if (!number(4, year) || !literal('-') || !number(2, month) || !literal('-') || !number(2, day)) return false;
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date)) return false;
  if (pos < text.size()) {
    if (text[pos] != ' ' && text[pos] != 'T') return false;
    ++pos;
    if (!number(2, hour) || !literal(':') || !number(2, minute)) return false;
    if (pos < text.size() && !(literal(':') && number(2, second))) return false;
    if (pos < text.size()) {
      if (!literal('.')) return false;
      // Milliseconds from the first three digits of the fraction.
      int scale = 100;
      const size_t start = pos;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        msec += (text[pos] - '0') * scale;
        scale /= 10;
        ++pos;
      }
      if (pos == start || pos < text.size()) return false;
    }
  }
  TDateTime time;
  if (!TryEncodeTime(hour, minute, second, msec, time)) return false;
  value = date < 0 ? date - time : date + time;
  return true;
}

}  // namespace ztl
