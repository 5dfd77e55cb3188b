#include <ztlogger/platform/rtl/Variants.h>

#include <cmath>
#include <limits>

#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/FormatUtils.h>

namespace ztl {

ZTL_DEFINE_PLAIN_CLASS(EVariantTypeCastError, EVariantError)

TVariant TVariant::Null() {
  TVariant v;
  v.type_ = varNull;
  return v;
}

TVariant TVariant::FromDateTime(TDateTime value) {
  TVariant v;
  v.type_ = varDate;
  v.float_ = value;
  return v;
}

String TVariant::TypeName(TVarType type) {
  switch (type) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varInteger: return "Int64";
    case varDouble: return "Double";
    case varString: return "String";
    case varBoolean: return "Boolean";
    case varDate: return "Date";
  }
  return "Unknown";
}

void TVariant::CastError(TVarType to) const {
  throw EVariantTypeCastError("Could not convert variant of type (" + TypeName(type_) + ") into type (" +
                              TypeName(to) + ")");
}

String TVariant::ConvertToString() const {
  switch (type_) {
    case varInteger: return IntToStr(int_);
    case varDouble: return FloatToStr(float_);
    case varString: return str_;
    case varBoolean: return int_ != 0 ? "True" : "False";
    case varDate: return DateTimeToStr(float_);
    default: CastError(varString);
  }
}

int64_t TVariant::ConvertToInteger() const {
  switch (type_) {
    case varInteger:
    case varBoolean: return int_;
    case varDouble:
    case varDate: {
      const double rounded = std::nearbyint(float_);
      // 2^63 is the first double past the range.
      if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) CastError(varInteger);
      return static_cast<int64_t>(rounded);
    }
    case varString: {
      int64_t value;
      if (TryStrToInt(str_, value)) return value;
      CastError(varInteger);
    }
    default: CastError(varInteger);
  }
}

double TVariant::ConvertToFloat() const {
  switch (type_) {
    case varInteger:
    case varBoolean: return static_cast<double>(int_);
    case varDouble:
    case varDate: return float_;
    case varString: {
      double value;
      if (TryStrToFloat(str_, value)) return value;
      CastError(varDouble);
    }
    default: CastError(varDouble);
  }
}

bool TVariant::AsBoolean() const {
  switch (type_) {
    case varInteger:
    case varBoolean: return int_ != 0;
    case varDouble:
    case varDate: return float_ != 0;
    case varString: {
      if (str_ == "True" || str_ == "true" || str_ == "TRUE") return true;
      if (str_ == "False" || str_ == "false" || str_ == "FALSE") return false;
      double value;
      if (TryStrToFloat(str_, value)) return value != 0;
      CastError(varBoolean);
    }
    default: CastError(varBoolean);
  }
}

TDateTime TVariant::AsDateTime() const {
  switch (type_) {
    case varString: {
      TDateTime value;
      if (TryISOToDateTime(str_, value) || TryStrToFloat(str_, value)) return value;
      CastError(varDate);
    }
    case varEmpty:
    case varNull: CastError(varDate);
    default: return AsFloat();
  }
}

String VarToStr(const TVariant& v) { return VarToStrDef(v, String()); }

String VarToStrDef(const TVariant& v, const String& fallback) {
  if (v.IsNull() || v.IsEmpty()) return fallback;
  return v.AsString();
}

namespace {

// Null, then Unassigned, then every value.
int Rank(const TVariant& v) { return v.IsNull() ? 0 : v.IsEmpty() ? 1 : 2; }

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

}  // namespace

int VarCompareValue(const TVariant& a, const TVariant& b) {
  const int ra = Rank(a), rb = Rank(b);
  if (ra < 2 || rb < 2) return ra - rb;
  if (a.VarType() == varString && b.VarType() == varString) {
    const int c = a.AsString().compare(b.AsString());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  const bool integral = (a.VarType() == varInteger || a.VarType() == varBoolean) &&
                        (b.VarType() == varInteger || b.VarType() == varBoolean);
  if (integral) return Sign(a.AsInteger(), b.AsInteger());
  return Sign(a.AsFloat(), b.AsFloat());
}

}  // namespace ztl
