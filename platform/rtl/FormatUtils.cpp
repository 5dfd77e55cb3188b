#include <ztlogger/platform/rtl/FormatUtils.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {

namespace {

constexpr int MaxFloatDigits = 17;

// A finite value as 0.d1d2...dn x 10^Exponent; no trailing zeros, and no
// digits at all for zero.
struct TDecimalDigits {
  bool Negative = false;
  String Digits;
  int Exponent = 0;

  void StripTrailingZeros() {
    while (!Digits.empty() && Digits.back() == '0') Digits.pop_back();
    if (Digits.empty()) Exponent = 0;
  }

  // Keeps `count` digits, rounding half away from zero as the classic
  // runtime does (0.125 to two decimals is 0.13).
  void RoundTo(int count) {
    if (count >= static_cast<int>(Digits.size())) return;
    if (count < 0) {
      Digits.clear();
      Exponent = 0;
      return;
    }
    bool up = Digits[static_cast<size_t>(count)] >= '5';
    Digits.resize(static_cast<size_t>(count));
    if (up) {
      int i = count - 1;
      for (; i >= 0 && Digits[static_cast<size_t>(i)] == '9'; --i) Digits[static_cast<size_t>(i)] = '0';
      if (i < 0) {
        Digits.insert(Digits.begin(), '1');
        ++Exponent;
      } else {
        ++Digits[static_cast<size_t>(i)];
      }
    }
    StripTrailingZeros();
  }
};

// The value's 17 significant digits (enough to tell every double apart),
// rounded to `precision` significant digits.
TDecimalDigits Decompose(double value, int precision) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific,
                                 MaxFloatDigits - 1);
  String text(buffer, ec == std::errc() ? end : buffer);
  TDecimalDigits result;
  result.Negative = std::signbit(value);
  size_t e = text.find('e');
  for (size_t i = 0; i < e; ++i)
    if (text[i] != '.') result.Digits += text[i];
  result.Exponent = std::stoi(text.substr(e + 1)) + 1;
  result.StripTrailingZeros();
  result.RoundTo(std::clamp(precision, 1, MaxFloatDigits));
  return result;
}

std::optional<String> NonFiniteText(double value) {
  if (std::isnan(value)) return String("NAN");
  if (std::isinf(value)) return String(value < 0 ? "-INF" : "INF");
  return std::nullopt;
}

String FixedFromDigits(const TDecimalDigits& d, char decimalSeparator) {
  String result = d.Negative ? "-" : "";
  int n = static_cast<int>(d.Digits.size());
  if (d.Exponent <= 0) return result + "0" + decimalSeparator + String(-d.Exponent, '0') + d.Digits;
  if (n <= d.Exponent) return result + d.Digits + String(d.Exponent - n, '0');
  return result + d.Digits.substr(0, d.Exponent) + decimalSeparator + d.Digits.substr(d.Exponent);
}

// Scientific form without a plus sign or leading zeros in the exponent: "1.5E-7".
String ShortScientificFromDigits(const TDecimalDigits& d, char decimalSeparator) {
  String result = d.Negative ? "-" : "";
  result += d.Digits[0];
  if (d.Digits.size() > 1) result += decimalSeparator + d.Digits.substr(1);
  return result + "E" + std::to_string(d.Exponent - 1);
}

String GeneralFormat(double value, int precision, char decimalSeparator) {
  if (auto text = NonFiniteText(value)) return *text;
  TDecimalDigits d = Decompose(value, precision);
  if (d.Digits.empty()) return "0";
  if (d.Exponent > precision || d.Exponent < -3) return ShortScientificFromDigits(d, decimalSeparator);
  return FixedFromDigits(d, decimalSeparator);
}

// "-d.ddd...E+ddd" with `precision` significant digits.
String ExponentFormat(double value, int precision, char decimalSeparator) {
  if (auto text = NonFiniteText(value)) return *text;
  precision = std::clamp(precision, 1, MaxFloatDigits);
  TDecimalDigits d = Decompose(value, precision);
  String digits = d.Digits + String(precision - d.Digits.size(), '0');
  int exponent = d.Digits.empty() ? 0 : d.Exponent - 1;
  String result = (d.Negative && !d.Digits.empty()) ? "-" : "";
  result += digits[0];
  if (precision > 1) result += decimalSeparator + digits.substr(1);
  String expDigits = std::to_string(std::abs(exponent));
  return result + "E" + (exponent < 0 ? "-" : "+") + String(expDigits.size() < 3 ? 3 - expDigits.size() : 0, '0') +
         expDigits;
}

String GroupThousands(const String& integerDigits, char thousandSeparator) {
  String result;
  size_t n = integerDigits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) result += thousandSeparator;
    result += integerDigits[i];
  }
  return result;
}

// Fixed decimals, optionally with thousand separators; a value that rounds to
// zero has no minus sign.
String FixedFormat(double value, int decimals, bool grouped, const TFormatSettings& settings) {
  if (auto text = NonFiniteText(value)) return *text;
  decimals = std::clamp(decimals, 0, 18);
  TDecimalDigits d = Decompose(value, MaxFloatDigits);
  d.RoundTo(d.Exponent + decimals);
  auto digitAt = [&d](int index) {
    return index >= 0 && index < static_cast<int>(d.Digits.size()) ? d.Digits[static_cast<size_t>(index)] : '0';
  };
  String integer;
  for (int i = 0; i < d.Exponent; ++i) integer += digitAt(i);
  if (integer.empty()) integer.push_back('0');
  String result = (d.Negative && !d.Digits.empty()) ? "-" : "";
  result += grouped ? GroupThousands(integer, settings.ThousandSeparator) : integer;
  if (decimals > 0) result += settings.DecimalSeparator;
  for (int k = 0; k < decimals; ++k) result += digitAt(d.Exponent + k);
  return result;
}

String MoneyFormat(double value, int decimals, const TFormatSettings& settings) {
  String amount = FixedFormat(std::fabs(value), decimals, true, settings);
  const String& symbol = settings.CurrencyString;
  String text;
  switch (settings.CurrencyFormat) {
    case 1: text = amount + symbol; break;
    case 2: text = symbol + " " + amount; break;
    case 3: text = amount + " " + symbol; break;
    default: text = symbol + amount; break;
  }
  bool negative = value < 0 && FixedFormat(value, decimals, false, settings)[0] == '-';
  return negative ? "-" + text : text;
}

String DigitsOf(uint64_t value, int base) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, base);
  String result(buffer, ec == std::errc() ? end : buffer);
  for (char& c : result)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

String ZeroPadded(const String& digits, std::optional<int> minimum) {
  if (!minimum || *minimum <= static_cast<int>(digits.size())) return digits;
  return String(static_cast<size_t>(*minimum) - digits.size(), '0') + digits;
}

size_t CharacterCount(const String& s) {
  size_t count = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

// The first `count` characters (not bytes) of a UTF-8 text.
String LeadingCharacters(const String& s, size_t count) {
  size_t seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (seen++ == count) return s.substr(0, i);
  }
  return s;
}

// Walks one format string and its arguments.
class TFormatter {
 public:
  TFormatter(const String& format, std::initializer_list<TVarRec> args, const TFormatSettings& settings)
      : format_(format), args_(args), settings_(settings) {}

  String Run() {
    String result;
    while (pos_ < format_.size()) {
      char c = format_[pos_++];
      if (c != '%') {
        result += c;
      } else if (Peek() == '%') {
        ++pos_;
        result += '%';
      } else {
        result += Specifier();
      }
    }
    return result;
  }

 private:
  [[noreturn]] void Fail() const {
    throw EConvertError("Format '" + format_ + "' invalid or incompatible with argument");
  }

  char Peek() const { return pos_ < format_.size() ? format_[pos_] : '\0'; }

  const TVarRec& NextArg() {
    if (argIndex_ >= args_.size()) Fail();
    return args_.begin()[argIndex_++];
  }

  template <typename T>
  const T& NextArgAs() {
    const auto* value = std::get_if<T>(&NextArg().Value());
    if (value == nullptr) Fail();
    return *value;
  }

  // A number written in the format, or '*' for one taken from the arguments.
  std::optional<int> Number() {
    if (Peek() == '*') {
      ++pos_;
      return static_cast<int>(std::clamp<int64_t>(NextArgAs<int64_t>(), 0, 1 << 20));
    }
    if (Peek() < '0' || Peek() > '9') return std::nullopt;
    int value = 0;
    while (Peek() >= '0' && Peek() <= '9') {
      value = std::min(value * 10 + (format_[pos_++] - '0'), 1 << 20);
    }
    return value;
  }

  String Specifier() {
    std::optional<int> first = Number();
    if (first && Peek() == ':') {
      ++pos_;
      argIndex_ = static_cast<size_t>(*first);
      first.reset();
    }
    bool leftAligned = false;
    if (!first && Peek() == '-') {
      ++pos_;
      leftAligned = true;
    }
    // The first number was the width unless an index or '-' came first.
    std::optional<int> width = first;
    if (!width) width = Number();
    std::optional<int> precision;
    if (Peek() == '.') {
      ++pos_;
      precision = Number().value_or(0);
    }
    if (pos_ >= format_.size()) Fail();
    String text = Convert(format_[pos_++], precision);
    size_t length = CharacterCount(text);
    if (!width || static_cast<size_t>(*width) <= length) return text;
    String padding(static_cast<size_t>(*width) - length, ' ');
    return leftAligned ? text + padding : padding + text;
  }

  String Convert(char type, std::optional<int> precision) {
    switch (type) {
      case 'd': case 'D': {
        int64_t value = NextArgAs<int64_t>();
        uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        String text = ZeroPadded(DigitsOf(magnitude, 10), precision);
        if (value < 0) text.insert(text.begin(), '-');
        return text;
      }
      case 'u': case 'U': return ZeroPadded(DigitsOf(static_cast<uint64_t>(NextArgAs<int64_t>()), 10), precision);
      case 'x': case 'X': return ZeroPadded(DigitsOf(static_cast<uint64_t>(NextArgAs<int64_t>()), 16), precision);
      case 'e': case 'E': return ExponentFormat(NextArgAs<double>(), precision.value_or(15), settings_.DecimalSeparator);
      case 'f': case 'F': return FixedFormat(NextArgAs<double>(), precision.value_or(2), false, settings_);
      case 'n': case 'N': return FixedFormat(NextArgAs<double>(), precision.value_or(2), true, settings_);
      case 'g': case 'G': return GeneralFormat(NextArgAs<double>(), precision.value_or(15), settings_.DecimalSeparator);
      case 'm': case 'M':
        return MoneyFormat(NextArgAs<double>(), precision.value_or(settings_.CurrencyDecimals), settings_);
      case 'p': case 'P': {
        auto address = reinterpret_cast<uintptr_t>(NextArgAs<const void*>());
        return ZeroPadded(DigitsOf(address, 16), static_cast<int>(sizeof(void*) * 2));
      }
      case 's': case 'S': {
        const String& text = NextArgAs<String>();
        return precision ? LeadingCharacters(text, static_cast<size_t>(*precision)) : text;
      }
      default: Fail();
    }
  }

  const String& format_;
  std::initializer_list<TVarRec> args_;
  const TFormatSettings& settings_;
  size_t pos_ = 0;
  size_t argIndex_ = 0;
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

String Trimmed(const String& text) {
  size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

String Upper(String s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number in the C library's spelling ("12.5e-3"), or nothing when the
// text is not a number: digits, one decimal separator, an optional exponent.
std::optional<String> CanonicalNumber(const String& text, char decimalSeparator) {
  String result;
  size_t i = 0;
  bool mantissaDigits = false, separatorSeen = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    char c = text[i];
    if (IsDigit(c)) {
      mantissaDigits = true;
      result += c;
    } else if (c == decimalSeparator && !separatorSeen) {
      separatorSeen = true;
      result += '.';
    } else {
      return std::nullopt;
    }
  }
  if (!mantissaDigits) return std::nullopt;
  if (i == text.size()) return result;
  result += 'e';
  ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) result += text[i++];
  if (i == text.size()) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    result += text[i];
  }
  return result;
}

std::optional<double> ParseFloat(const String& text, char decimalSeparator) {
  String s = Trimmed(text);
  bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.erase(0, 1);
  String upper = Upper(s);
  if (upper == "NAN") return std::numeric_limits<double>::quiet_NaN();
  if (upper == "INF") return negative ? -HUGE_VAL : HUGE_VAL;
  auto canonical = CanonicalNumber(s, decimalSeparator);
  if (!canonical) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(canonical->data(), canonical->data() + canonical->size(), value);
  if (ec == std::errc::result_out_of_range && canonical->find("e-") != String::npos) value = 0;  // underflow
  else if (ec != std::errc() || end != canonical->data() + canonical->size()) return std::nullopt;
  return negative ? -value : value;
}

int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint64_t> ParseUnsigned(const String& digits, int base) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int digit = base == 16 ? HexDigitValue(c) : (IsDigit(c) ? c - '0' : -1);
    if (digit < 0) return std::nullopt;
    if (value > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
      return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return value;
}

std::optional<int64_t> ParseInteger(const String& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  String rest = text.substr(i);
  if (!rest.empty() && rest[0] == '$') {
    auto bits = ParseUnsigned(rest.substr(1), 16);
    if (!bits) return std::nullopt;
    return static_cast<int64_t>(negative ? 0 - *bits : *bits);
  }
  if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
    return ParseInteger((negative ? "-$" : "$") + rest.substr(2));
  auto magnitude = ParseUnsigned(rest, 10);
  if (!magnitude) return std::nullopt;
  constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (*magnitude > limit + (negative ? 1 : 0)) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - *magnitude) : static_cast<int64_t>(*magnitude);
}

}  // namespace

String Format(const String& format, std::initializer_list<TVarRec> args) {
  return Format(format, args, FormatSettings());
}

String Format(const String& format, std::initializer_list<TVarRec> args, const TFormatSettings& settings) {
  return TFormatter(format, args, settings).Run();
}

String IntToStr(int64_t value) { return std::to_string(value); }

String IntToHex(uint64_t value, int digits) { return ZeroPadded(DigitsOf(value, 16), digits); }

String FloatToStr(double value) { return FloatToStr(value, FormatSettings()); }

String FloatToStr(double value, const TFormatSettings& settings) {
  return GeneralFormat(value, 15, settings.DecimalSeparator);
}

double StrToFloat(const String& text) { return StrToFloat(text, FormatSettings()); }

double StrToFloat(const String& text, const TFormatSettings& settings) {
  auto value = ParseFloat(text, settings.DecimalSeparator);
  if (!value) throw EConvertError("'" + text + "' is not a valid floating point value");
  return *value;
}

bool TryStrToFloat(const String& text, double& value) { return TryStrToFloat(text, value, FormatSettings()); }

bool TryStrToFloat(const String& text, double& value, const TFormatSettings& settings) {
  auto parsed = ParseFloat(text, settings.DecimalSeparator);
  if (parsed) value = *parsed;
  return parsed.has_value();
}

int64_t StrToInt(const String& text) {
  auto value = ParseInteger(text);
  if (!value) throw EConvertError("'" + text + "' is not a valid integer value");
  return *value;
}

int64_t StrToIntDef(const String& text, int64_t fallback) { return ParseInteger(text).value_or(fallback); }

bool TryStrToInt(const String& text, int64_t& value) {
  auto parsed = ParseInteger(text);
  if (parsed) value = *parsed;
  return parsed.has_value();
}

}  // namespace ztl
