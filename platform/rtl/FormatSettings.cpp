#include <ztlogger/platform/rtl/FormatSettings.h>

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

namespace {

// One piece of a strftime format: a directive ("%-d", "%Ey") or one literal byte.
struct TStrftimeToken {
  String Text;
  bool IsDirective() const { return Text.size() > 1 && Text[0] == '%'; }
  char Letter() const { return Text.back(); }
  bool HasFlag(char flag) const { return IsDirective() && Text.find(flag, 1) < Text.size() - 1; }
};

bool IsFlagOrModifier(char c) {
  return c == '_' || c == '-' || c == '0' || c == '^' || c == '#' || c == 'E' || c == 'O' || (c >= '1' && c <= '9');
}

// The composite directives, written out so that only simple ones remain.
String ExpandComposites(const String& format) {
  String result;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      result += format[i];
      continue;
    }
    switch (format[i + 1]) {
      case 'D': result += "%m/%d/%y"; break;
      case 'F': result += "%Y-%m-%d"; break;
      case 'T': result += "%H:%M:%S"; break;
      case 'R': result += "%H:%M"; break;
      case 'r': result += "%I:%M:%S %p"; break;
      default: result += format.substr(i, 2); break;
    }
    ++i;
  }
  return result;
}

std::vector<TStrftimeToken> Tokenize(const String& format) {
  String expanded = ExpandComposites(format);
  std::vector<TStrftimeToken> tokens;
  for (size_t i = 0; i < expanded.size(); ++i) {
    if (expanded[i] != '%' || i + 1 == expanded.size()) {
      tokens.push_back({String(1, expanded[i])});
      continue;
    }
    size_t end = i + 1;
    while (end + 1 < expanded.size() && IsFlagOrModifier(expanded[end])) ++end;
    tokens.push_back({expanded.substr(i, end - i + 1)});
    i = end;
  }
  return tokens;
}

bool IsTimeDirective(const TStrftimeToken& token) {
  return token.IsDirective() && std::strchr("HIklMSpPs", token.Letter()) != nullptr;
}

bool IsZoneDirective(const TStrftimeToken& token) {
  return token.IsDirective() && (token.Letter() == 'Z' || token.Letter() == 'z');
}

// The runtime's letters for one strftime directive; empty for those without one.
String TranslateDirective(const TStrftimeToken& token) {
  bool unpadded = token.HasFlag('-');
  switch (token.Letter()) {
    case 'd': return unpadded ? "d" : "dd";
    case 'e': return "d";
    case 'm': return unpadded ? "M" : "MM";
    case 'y': return "yy";
    case 'Y': case 'G': return "yyyy";
    case 'b': case 'h': return "MMM";
    case 'B': return "MMMM";
    case 'a': return "ddd";
    case 'A': return "dddd";
    case 'H': case 'I': return unpadded ? "h" : "hh";
    case 'k': case 'l': return "h";
    case 'M': return unpadded ? "n" : "nn";
    case 'S': return unpadded ? "s" : "ss";
    case 'p': case 'P': return "AMPM";
    case 'n': case 't': return " ";
    case '%': return "%";
    default: return {};
  }
}

bool NeedsQuotes(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '/' || c == ':' || c == '\'' || c == '"';
}

String TranslateLiteral(char c, char dateSeparator, char timeSeparator) {
  if (c != 0 && c == dateSeparator) return "/";
  if (c != 0 && c == timeSeparator) return ":";
  if (c == '"') return "'\"'";
  if (NeedsQuotes(c)) return String("\"") + c + "\"";
  return String(1, c);
}

String Translate(const std::vector<TStrftimeToken>& tokens, char dateSeparator, char timeSeparator) {
  String result;
  for (const auto& token : tokens)
    result += token.IsDirective() ? TranslateDirective(token) : TranslateLiteral(token.Text[0], dateSeparator, timeSeparator);
  return result;
}

bool IsBlankToken(const TStrftimeToken& token) { return token.Text == " "; }

bool IsAsciiLiteral(const TStrftimeToken& token) {
  return !token.IsDirective() && static_cast<unsigned char>(token.Text[0]) < 0x80;
}

// The end of the unit label that follows a field ("%S秒"): the literal
// characters after `i` up to a blank or the next directive.
size_t LabelEnd(const std::vector<TStrftimeToken>& tokens, size_t i) {
  size_t end = i + 1;
  while (end < tokens.size() && !tokens[end].IsDirective() && !IsBlankToken(tokens[end])) ++end;
  return end;
}

// The date and time format without its time of day and time zone: the long
// date is taken from the locale's combined format.
std::vector<TStrftimeToken> WithoutTime(std::vector<TStrftimeToken> tokens) {
  size_t first = tokens.size(), last = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (!IsTimeDirective(tokens[i])) continue;
    first = std::min(first, i);
    last = i;
  }
  if (first < tokens.size())
    tokens.erase(tokens.begin() + static_cast<long>(first), tokens.begin() + static_cast<long>(LabelEnd(tokens, last)));
  std::erase_if(tokens, IsZoneDirective);
  std::vector<TStrftimeToken> compact;
  for (const auto& token : tokens) {
    if (IsBlankToken(token) && (compact.empty() || IsBlankToken(compact.back()))) continue;
    compact.push_back(token);
  }
  while (!compact.empty() && IsBlankToken(compact.back())) compact.pop_back();
  return compact;
}

// A long date names the month and the weekday in full.
std::vector<TStrftimeToken> WithFullNames(std::vector<TStrftimeToken> tokens) {
  for (auto& token : tokens) {
    if (token.Text == "%a") token.Text = "%A";
    if (token.Text == "%b" || token.Text == "%h") token.Text = "%B";
  }
  return tokens;
}

// The time format without its seconds: with the separator before them
// ("%H:%M:%S"), or with their unit label when the fields carry labels
// ("%H時%M分%S秒").
std::vector<TStrftimeToken> WithoutSeconds(std::vector<TStrftimeToken> tokens) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (!tokens[i].IsDirective() || tokens[i].Letter() != 'S') continue;
    size_t from = i;
    while (from > 0 && IsAsciiLiteral(tokens[from - 1])) --from;
    bool separated = from < i || i == 0 || tokens[i - 1].IsDirective();
    size_t to = separated ? i + 1 : LabelEnd(tokens, i);
    if (!separated) from = i;
    tokens.erase(tokens.begin() + static_cast<long>(from), tokens.begin() + static_cast<long>(to));
    break;
  }
  return tokens;
}

// The locale of the environment, owned for the time of one read.
class TEnvironmentLocale {
 public:
  TEnvironmentLocale() : locale_(newlocale(LC_ALL_MASK, "", nullptr)) {
    if (locale_ == nullptr) locale_ = newlocale(LC_ALL_MASK, "C", nullptr);
    utf8_ = locale_ != nullptr && std::strcmp(nl_langinfo_l(CODESET, locale_), "UTF-8") == 0;
  }
  ~TEnvironmentLocale() {
    if (locale_ != nullptr) freelocale(locale_);
  }
  TEnvironmentLocale(const TEnvironmentLocale&) = delete;
  TEnvironmentLocale& operator=(const TEnvironmentLocale&) = delete;

  bool Valid() const { return locale_ != nullptr; }

  // The item as UTF-8; a locale of another code set is read as Latin-1.
  String Text(nl_item item) const {
    String raw = nl_langinfo_l(item, locale_);
    if (utf8_) return raw;
    return unicode::Latin1ToUtf8(raw);
  }

 private:
  locale_t locale_;
  bool utf8_ = false;
};

// Separators that are not one byte (a narrow no-break space, say) become a blank.
char SingleByte(const String& text, char fallback) {
  if (text.empty()) return fallback;
  return text.size() == 1 ? text[0] : ' ';
}

void ReadNumbers(const TEnvironmentLocale& locale, TFormatSettings& settings) {
  settings.DecimalSeparator = SingleByte(locale.Text(RADIXCHAR), '.');
  if (settings.DecimalSeparator == ' ') settings.DecimalSeparator = '.';
  char fallback = settings.DecimalSeparator == ',' ? '.' : ',';
  settings.ThousandSeparator = SingleByte(locale.Text(THOUSEP), fallback);
}

void ReadCurrency(const TEnvironmentLocale& locale, TFormatSettings& settings) {
  // "-$" puts the symbol before the amount, "+$" after it, ".$" in place of the decimal separator.
  String currency = locale.Text(CRNCYSTR);
  settings.CurrencyString = currency.empty() ? String() : currency.substr(1);
  settings.CurrencyFormat = (!currency.empty() && currency[0] == '+') ? 3 : 0;
  settings.CurrencyDecimals = 2;
}

void ReadDateAndTime(const TEnvironmentLocale& locale, TFormatSettings& settings) {
  String dateFormat = ExpandComposites(locale.Text(D_FMT));
  String timeFormat = ExpandComposites(locale.Text(T_FMT));
  char dateSeparator = StrftimeFormatSeparator(dateFormat);
  char timeSeparator = StrftimeFormatSeparator(timeFormat);
  settings.DateSeparator = dateSeparator != 0 ? dateSeparator : '/';
  settings.TimeSeparator = timeSeparator != 0 ? timeSeparator : ':';

  settings.ShortDateFormat = TranslateStrftimeFormat(dateFormat, dateSeparator, 0);
  auto longDate = WithFullNames(WithoutTime(Tokenize(locale.Text(D_T_FMT))));
  settings.LongDateFormat = Translate(longDate, dateSeparator, 0);
  if (settings.LongDateFormat.empty()) settings.LongDateFormat = settings.ShortDateFormat;
  settings.LongTimeFormat = TranslateStrftimeFormat(timeFormat, 0, timeSeparator);
  settings.ShortTimeFormat = Translate(WithoutSeconds(Tokenize(timeFormat)), 0, timeSeparator);
  settings.TimeAMString = locale.Text(AM_STR);
  settings.TimePMString = locale.Text(PM_STR);
}

void ReadNames(const TEnvironmentLocale& locale, TFormatSettings& settings) {
  static constexpr nl_item shortMonths[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                              ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item longMonths[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                             MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  static constexpr nl_item shortDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
  static constexpr nl_item longDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  for (size_t i = 0; i < 12; ++i) {
    settings.ShortMonthNames[i] = locale.Text(shortMonths[i]);
    settings.LongMonthNames[i] = locale.Text(longMonths[i]);
  }
  for (size_t i = 0; i < 7; ++i) {
    settings.ShortDayNames[i] = locale.Text(shortDays[i]);
    settings.LongDayNames[i] = locale.Text(longDays[i]);
  }
}

}  // namespace

char StrftimeFormatSeparator(const String& format) {
  for (const auto& token : Tokenize(format)) {
    if (token.IsDirective()) continue;
    char c = token.Text[0];
    bool punctuation = c > ' ' && c < 0x7F && !NeedsQuotes(c) && !(c >= '0' && c <= '9');
    if (punctuation || c == '/' || c == ':') return c;
  }
  return 0;
}

String TranslateStrftimeFormat(const String& format, char dateSeparator, char timeSeparator) {
  return Translate(Tokenize(format), dateSeparator, timeSeparator);
}

TFormatSettings GetLocaleFormatSettings() {
  TFormatSettings settings;
  TEnvironmentLocale locale;
  if (!locale.Valid()) return settings;
  ReadNumbers(locale, settings);
  ReadCurrency(locale, settings);
  ReadDateAndTime(locale, settings);
  ReadNames(locale, settings);
  return settings;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = GetLocaleFormatSettings();
  return settings;
}

}  // namespace ztl
