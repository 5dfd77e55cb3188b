#include <ztlogger/platform/rtl/Variants.h>

#include <gtest/gtest.h>

#include <ztlogger/platform/rtl/DateUtils.h>

namespace ztl {
namespace {

TEST(Variants, NullRulesOfComparison) {
  EXPECT_TRUE(Null() == Null());
  EXPECT_FALSE(Null() != Null());
  EXPECT_FALSE(Null() == TVariant(5));
  EXPECT_TRUE(Null() != TVariant(5));
  EXPECT_TRUE(Null() < TVariant(5));
  EXPECT_FALSE(Null() > TVariant(-5));
  EXPECT_FALSE(Unassigned() == Null());
  EXPECT_FALSE(VarIsNull(Unassigned()));
  EXPECT_TRUE(Unassigned() == Unassigned());
}

TEST(Variants, ValuesCompareAcrossNumericKinds) {
  EXPECT_TRUE(TVariant(2) == TVariant(2.0));
  EXPECT_TRUE(TVariant(true) == TVariant(1));
  EXPECT_TRUE(TVariant("Jon") != TVariant("John"));
  EXPECT_TRUE(TVariant("abc") < TVariant("abd"));
  EXPECT_TRUE(TVariant("10") == TVariant(10));
  EXPECT_THROW((void)(TVariant("ten") == TVariant(10)), EVariantTypeCastError);
  // Integers beyond a double's precision still compare exactly.
  EXPECT_TRUE(TVariant(int64_t{9007199254740993}) != TVariant(int64_t{9007199254740992}));
}

TEST(Variants, TextOfEachKind) {
  EXPECT_EQ(VarToStr(Null()), "");
  EXPECT_EQ(VarToStr(Unassigned()), "");
  EXPECT_EQ(VarToStrDef(Null(), "-"), "-");
  EXPECT_EQ(VarToStr(TVariant(int64_t{-42})), "-42");
  EXPECT_EQ(VarToStr(TVariant(0.625)), "0.625");
  EXPECT_EQ(VarToStr(TVariant(true)), "True");
  EXPECT_EQ(VarToStr(TVariant::FromDateTime(EncodeDate(2024, 2, 29))), DateTimeToStr(EncodeDate(2024, 2, 29)));
}

TEST(Variants, ConversionsRaiseAClearError) {
  try {
    (void)Null().AsString();
    FAIL() << "no error";
  } catch (const EVariantTypeCastError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (String)");
  }
  EXPECT_THROW((void)Null().AsInteger(), EVariantTypeCastError);
  EXPECT_THROW((void)TVariant("x1").AsInteger(), EVariantTypeCastError);
  EXPECT_THROW((void)TVariant(1e300).AsInteger(), EVariantTypeCastError);
  EXPECT_THROW((void)TVariant("maybe").AsBoolean(), EVariantTypeCastError);
  EXPECT_EQ(TVariant("12").AsInteger(), 12);
  EXPECT_DOUBLE_EQ(TVariant("2.5").AsFloat(), 2.5);
  EXPECT_DOUBLE_EQ(TVariant("2024-02-29 12:00:00").AsDateTime(), EncodeDate(2024, 2, 29) + 0.5);
}

TEST(Variants, IsoDateTimeTextRoundTrips) {
  const TDateTime when = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 58, 125);
  EXPECT_EQ(DateTimeToISO(when), "1999-12-31 23:59:58.125");
  EXPECT_EQ(DateTimeToISO(EncodeDate(2001, 1, 2)), "2001-01-02 00:00:00");
  TDateTime back = 0;
  ASSERT_TRUE(TryISOToDateTime(DateTimeToISO(when), back));
  EXPECT_NEAR(back, when, 1e-9);
  EXPECT_TRUE(TryISOToDateTime("2001-01-02T03:04", back));
  EXPECT_FALSE(TryISOToDateTime("2001-13-02", back));
  EXPECT_FALSE(TryISOToDateTime("2001-01-02 03:04:05x", back));
}

// A record buffer read again takes each text in place, wherever it comes
// from: the variant's own text too.
TEST(Variants, SetStringTakesTextFromAnywhereItsOwnIncluded) {
  TVariant v;
  v.SetString("a text longer than what fits inline", 35);
  v.SetString(v.StringRef().data(), 6);
  EXPECT_EQ(v.StringRef(), "a text");
  v.SetString("again, a text longer than what fits inline", 42);
  v.SetString(v.StringRef().data() + 9, 4);
  EXPECT_EQ(v.StringRef(), "text");
  v.SetInteger(7);
  v.SetString("", 0);
  EXPECT_EQ(v.VarType(), varString);
  EXPECT_EQ(v.AsString(), "");
}

}  // namespace
}  // namespace ztl
