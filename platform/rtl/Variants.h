#pragma once
// Variants: a value of one of a few kinds, or Null (a known absence of a
// value, as a database reports it), or Unassigned (no value given at all).
// Field values of the database layer travel as variants.
//
// Any thread; each variant from one thread at a time.
#include <cstdint>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

enum TVarType : uint8_t { varEmpty, varNull, varInteger, varDouble, varString, varBoolean, varDate };

// A variant that cannot be converted to the type asked for.
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EVariantTypeCastError, EVariantError)

class ZTL_PLATFORM_API TVariant {
 public:
  // Unassigned.
  TVariant() = default;
  TVariant(int value) : int_(value), type_(varInteger) {}
  TVariant(int64_t value) : int_(value), type_(varInteger) {}
  TVariant(double value) : float_(value), type_(varDouble) {}
  TVariant(bool value) : int_(value ? 1 : 0), type_(varBoolean) {}
  TVariant(const char* value) : str_(value), type_(varString) {}
  TVariant(String value) : str_(std::move(value)), type_(varString) {}
  static TVariant Null();
  static TVariant FromDateTime(TDateTime value);

  // In-place assignments: a string reuses the room the variant already has,
  // so that a record buffer read again and again does not allocate.
  void SetNull() { type_ = varNull; }
  void SetInteger(int64_t value) {
    type_ = varInteger;
    int_ = value;
  }
  void SetFloat(double value) {
    type_ = varDouble;
    float_ = value;
  }
  void SetString(const char* data, size_t size) {
    type_ = varString;
    // Appending to the emptied text spares assign's general case, which
    // also serves a source inside the text itself; that one keeps it.
    if (reinterpret_cast<uintptr_t>(data) - reinterpret_cast<uintptr_t>(str_.data()) <= str_.capacity()) {
      str_.assign(data, size);
      return;
    }
    str_.clear();
    str_.append(data, size);
  }

  TVarType VarType() const { return type_; }
  // The text of a string variant, without a copy; meaningless for other kinds.
  const String& StringRef() const { return str_; }
  bool IsNull() const { return type_ == varNull; }
  bool IsEmpty() const { return type_ == varEmpty; }
  // Integer, float, boolean and date values.
  bool IsNumeric() const { return type_ >= varInteger && type_ != varString; }

  // Conversions. Null and Unassigned convert to nothing but a string through
  // VarToStr; here they raise EVariantTypeCastError, as does a string that
  // does not read as the type asked for, or an integer out of range.
  String AsString() const { return type_ == varString ? str_ : ConvertToString(); }
  int64_t AsInteger() const { return type_ == varInteger ? int_ : ConvertToInteger(); }
  double AsFloat() const { return type_ == varDouble || type_ == varDate ? float_ : ConvertToFloat(); }
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // The name of a variant type as messages show it: "Null", "Int64", ...
  static String TypeName(TVarType type);

 private:
  [[noreturn]] void CastError(TVarType to) const;
  String ConvertToString() const;
  int64_t ConvertToInteger() const;
  double ConvertToFloat() const;

  // Integers and booleans use int_, floats and dates float_.
  union {
    int64_t int_ = 0;
    double float_;
  };
  String str_;
  TVarType type_ = varEmpty;
};

inline TVariant Null() { return TVariant::Null(); }
inline TVariant Unassigned() { return TVariant(); }
inline bool VarIsNull(const TVariant& v) { return v.IsNull(); }
inline bool VarIsEmpty(const TVariant& v) { return v.IsEmpty(); }
// The text of a value; Null and Unassigned give the empty string.
ZTL_PLATFORM_API String VarToStr(const TVariant& v);
ZTL_PLATFORM_API String VarToStrDef(const TVariant& v, const String& fallback);

// Comparison. Null equals Null only, and sorts below every other value;
// Unassigned is not Null, equals Unassigned only and sorts just above Null.
// Numbers (integers, floats, booleans, dates) compare by value; strings
// compare byte by byte; a string against a number is read as a number and
// raises EVariantTypeCastError when it is none.
// Returns <0, 0 or >0.
ZTL_PLATFORM_API int VarCompareValue(const TVariant& a, const TVariant& b);
inline bool operator==(const TVariant& a, const TVariant& b) { return VarCompareValue(a, b) == 0; }
inline bool operator!=(const TVariant& a, const TVariant& b) { return VarCompareValue(a, b) != 0; }
inline bool operator<(const TVariant& a, const TVariant& b) { return VarCompareValue(a, b) < 0; }
inline bool operator>(const TVariant& a, const TVariant& b) { return VarCompareValue(a, b) > 0; }
inline bool operator<=(const TVariant& a, const TVariant& b) { return VarCompareValue(a, b) <= 0; }
inline bool operator>=(const TVariant& a, const TVariant& b) { return VarCompareValue(a, b) >= 0; }

}  // namespace ztl
