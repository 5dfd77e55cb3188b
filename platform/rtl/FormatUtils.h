#pragma once
// Formatting of values into text and conversion of text into numbers.
// Any thread, while the FormatSettings() they default to stays unchanged.
#include <cstdint>
#include <initializer_list>
#include <variant>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/FormatSettings.h>

namespace ztl {

// One argument of Format: an integer, a floating-point number, a text or a pointer.
class ZTL_PLATFORM_API TVarRec {
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
// d u e f g n m p s x (either case) and %% for a percent sign; '*' as index,
// width or precision takes the value from the next argument. An index selects
// the argument of this and the following specifiers.
//   d u x  integers; a precision is the minimum number of digits (zero-padded);
//          x gives upper-case hexadecimal digits, u and x show negative values
//          as their 64-bit two's complement.
//   e      "-d.ddd...E+ddd", precision = significant digits (15).
//   f n m  fixed decimals (precision 2; m the settings' CurrencyDecimals);
//          n adds thousand separators, m the currency symbol as well.
//   g      general format as FloatToStr, precision = significant digits (15).
//   p      the pointer as SizeOf(Pointer)*2 upper-case hexadecimal digits:
//          eight on 32-bit systems, sixteen on 64-bit ones.
//   s      text; a precision is the maximum number of characters.
// The width pads with blanks on the left, or on the right after '-'; widths
// and precisions of text count characters, not bytes. A specifier that does
// not fit its argument, a missing argument or an unknown type raises
// EConvertError "Format '<format>' invalid or incompatible with argument".
ZTL_PLATFORM_API String Format(const String& format, std::initializer_list<TVarRec> args);
ZTL_PLATFORM_API String Format(const String& format, std::initializer_list<TVarRec> args, const TFormatSettings& settings);

// Conversions.
ZTL_PLATFORM_API String IntToStr(int64_t value);
// Upper-case hexadecimal, at least `digits` digits.
ZTL_PLATFORM_API String IntToHex(uint64_t value, int digits);
// General format: the shortest of fixed and scientific notation with up to 15
// significant digits; scientific when the value has more integer digits than
// that or is below 0.00001 ("1E20", "1.5E-7"). NaN and infinities give "NAN",
// "INF" and "-INF". The settings' decimal separator.
ZTL_PLATFORM_API String FloatToStr(double value);
ZTL_PLATFORM_API String FloatToStr(double value, const TFormatSettings& settings);
// Accepts blanks around the number, the settings' decimal separator, an
// exponent, and "NAN", "INF", "-INF" in any case. Raises EConvertError
// "'<text>' is not a valid floating point value".
ZTL_PLATFORM_API double StrToFloat(const String& text);
ZTL_PLATFORM_API double StrToFloat(const String& text, const TFormatSettings& settings);
ZTL_PLATFORM_API bool TryStrToFloat(const String& text, double& value);
ZTL_PLATFORM_API bool TryStrToFloat(const String& text, double& value, const TFormatSettings& settings);
// Decimal, or hexadecimal after "$" or "0x", with an optional sign and leading
// blanks. Raises EConvertError "'<text>' is not a valid integer value".
ZTL_PLATFORM_API int64_t StrToInt(const String& text);
ZTL_PLATFORM_API int64_t StrToIntDef(const String& text, int64_t fallback);
ZTL_PLATFORM_API bool TryStrToInt(const String& text, int64_t& value);

}  // namespace ztl
