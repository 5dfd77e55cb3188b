#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

TFormatSettings CommaDecimal() {
  TFormatSettings s;
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '.';
  return s;
}

String G(double value) { return FloatToStr(value, TFormatSettings{}); }

TEST(FloatToStr, GeneralFormat) {
  EXPECT_EQ(G(1.5), "1.5");
  EXPECT_EQ(G(-2.5), "-2.5");
  EXPECT_EQ(G(100), "100");
  EXPECT_EQ(G(0), "0");
  EXPECT_EQ(G(-0.0), "0");
  EXPECT_EQ(G(0.1 + 0.2), "0.3");
  EXPECT_EQ(G(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(G(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(G(12345.678), "12345.678");
  EXPECT_EQ(G(1e14), "100000000000000");
  EXPECT_EQ(G(1e15), "1E15");
  EXPECT_EQ(G(1e20), "1E20");
  EXPECT_EQ(G(123456789012345678.0), "1.23456789012346E17");
  EXPECT_EQ(G(999999999999999.9), "1E15");
  EXPECT_EQ(G(0.0001), "0.0001");
  EXPECT_EQ(G(0.00012), "0.00012");
  EXPECT_EQ(G(1e-5), "1E-5");
  EXPECT_EQ(G(-1.23e-7), "-1.23E-7");
  EXPECT_EQ(G(5e-324), "4.94065645841247E-324");
  EXPECT_EQ(G(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(G(HUGE_VAL), "INF");
  EXPECT_EQ(G(-HUGE_VAL), "-INF");
}

TEST(FloatToStr, DecimalSeparatorOfTheSettings) {
  EXPECT_EQ(FloatToStr(1.5, CommaDecimal()), "1,5");
  EXPECT_EQ(FloatToStr(1234567.25, CommaDecimal()), "1234567,25");
  EXPECT_EQ(FloatToStr(2.5e-9, CommaDecimal()), "2,5E-9");
}

TEST(StrToFloat, AcceptedSpellings) {
  TFormatSettings s;
  EXPECT_EQ(StrToFloat("1.5", s), 1.5);
  EXPECT_EQ(StrToFloat("  -2.5e3 ", s), -2500.0);
  EXPECT_EQ(StrToFloat("+3", s), 3.0);
  EXPECT_EQ(StrToFloat(".5", s), 0.5);
  EXPECT_EQ(StrToFloat("5.", s), 5.0);
  EXPECT_EQ(StrToFloat("1E-5", s), 1e-5);
  EXPECT_EQ(StrToFloat("1e+2", s), 100.0);
  EXPECT_EQ(StrToFloat("1e-400", s), 0.0);
  EXPECT_TRUE(std::isnan(StrToFloat("nan", s)));
  EXPECT_EQ(StrToFloat("-INF", s), -HUGE_VAL);
  EXPECT_EQ(StrToFloat("1,5", CommaDecimal()), 1.5);
}

TEST(StrToFloat, InvalidTextRaises) {
  TFormatSettings s;
  for (const char* text : {"", "  ", "abc", "1.2.3", "1e", "e5", "1 5", "--1", "1e400", "1,5", "0x10", "1.5x"}) {
    try {
      StrToFloat(text, s);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), String("'") + text + "' is not a valid floating point value");
    }
  }
  EXPECT_THROW(StrToFloat("1.5", CommaDecimal()), EConvertError);
}

TEST(StrToFloat, TryLeavesTheValueOnFailure) {
  double value = 7;
  EXPECT_FALSE(TryStrToFloat("x", value, TFormatSettings{}));
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(TryStrToFloat("0.25", value, TFormatSettings{}));
  EXPECT_EQ(value, 0.25);
}

TEST(StrToFloat, RoundTripsFloatToStr) {
  for (const auto& settings : {TFormatSettings{}, CommaDecimal()}) {
    for (double v : {1.5, -0.1, 1e20, 1e-5, 123456.789, 1.0 / 3, -2.0 / 3, 6.02214076e23, 1e-300, 0.0}) {
      double back = StrToFloat(FloatToStr(v, settings), settings);
      EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << FloatToStr(v, settings);
    }
  }
}

TEST(FloatToStr, FollowsTheProcessSettings) {
  TFormatSettings saved = FormatSettings();
  FormatSettings().DecimalSeparator = ',';
  String text = FloatToStr(0.5);
  double back = StrToFloat("0,75");
  bool pointAccepted = true;
  double ignored = 0;
  pointAccepted = TryStrToFloat("0.75", ignored);
  FormatSettings() = saved;
  EXPECT_EQ(text, "0,5");
  EXPECT_EQ(back, 0.75);
  EXPECT_FALSE(pointAccepted);
}

TEST(StrToInt, DecimalAndHexadecimal) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("  -17"), -17);
  EXPECT_EQ(StrToInt("+8"), 8);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x1f"), 31);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(StrToInt("-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(StrToInt("$FFFFFFFFFFFFFFFF"), -1);
}

TEST(StrToInt, InvalidTextRaises) {
  for (const char* text : {"", "12a", "0x", "$", "4 2", "42 ", "9223372036854775808", "1.0", "-", "$10000000000000000"}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), String("'") + text + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(StrToIntDef("x", 7), 7);
  EXPECT_EQ(StrToIntDef("-3", 7), -3);
}

TEST(IntToStr, DecimalAndHex) {
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0xABCDEF, 2), "ABCDEF");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(~uint64_t{0}, 8), "FFFFFFFFFFFFFFFF");
}

TEST(Strings, ReplaceAndCompare) {
  EXPECT_EQ(StringReplaceAll("aaa", "a", "bb"), "bbbbbb");
  EXPECT_EQ(StringReplaceAll("abcabc", "bc", ""), "aa");
  EXPECT_EQ(StringReplaceAll("aaaa", "aa", "a"), "aa");
  EXPECT_EQ(StringReplaceAll("x", "", "y"), "x");
  EXPECT_EQ(StringReplaceAll("line\nnext\n", "\n", "\r\n"), "line\r\nnext\r\n");
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_TRUE(SameText("TZTLogBase", "tztlogbase"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_EQ(UpperCase("a\xC3\xA4z"), "A\xC3\xA4Z");
}

TEST(Utf, ValidTextRoundTrips) {
  String text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, a-umlaut, euro sign, a smiley
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x00E4, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16ToUtf8(wide.c_str()), text);
  EXPECT_EQ(Utf16ToUtf8(static_cast<const char16_t*>(nullptr)), "");
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(Utf, InvalidUtf8BytesAreLatin1) {
  EXPECT_EQ(Utf8ToUtf16("\xFF" "ab"), (std::u16string{0x00FF, u'a', u'b'}));
  EXPECT_EQ(Utf8ToUtf16("x\xC3"), (std::u16string{u'x', 0x00C3}));           // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC3("), (std::u16string{0x00C3, u'('}));          // no continuation
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0x00C0, 0x00AF}));      // overlong '/'
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0x00ED, 0x00A0, 0x0080}));  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{0x00F4, 0x0090, 0x0080, 0x0080}));  // beyond U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xF8\x88\x80\x80\x80").size(), 5u);
  EXPECT_EQ(Utf8ToUtf16("\x80\xC3\xA4"), (std::u16string{0x0080, 0x00E4}));  // valid text after a stray byte
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters) {
  const String replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD83D, u'b'}), "a" + replacement + "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, u'b'}), replacement + "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD83D}), "a" + replacement);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), replacement + replacement);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0x00E4, 0x07FF, 0x0800, 0xFFFF}), "\xC3\xA4\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
}

TEST(FileNames, ChangeFileExt) {
  EXPECT_EQ(ChangeFileExt("ztevents.log", ".xml"), "ztevents.xml");
  EXPECT_EQ(ChangeFileExt("ztevents", ".log"), "ztevents.log");
  EXPECT_EQ(ChangeFileExt("/var/logs.d/ztevents", ".xml"), "/var/logs.d/ztevents.xml");
  EXPECT_EQ(ChangeFileExt("/var/logs.d/ztevents.log", ".xml"), "/var/logs.d/ztevents.xml");
  EXPECT_EQ(ChangeFileExt("a.b.c", ".x"), "a.b.x");
  EXPECT_EQ(ChangeFileExt("", ".log"), ".log");
  EXPECT_EQ(ChangeFileExt("name.txt", ""), "name");
}

TEST(FileNames, Parts) {
  EXPECT_EQ(ExtractFileName("/a/b.c/d.txt"), "d.txt");
  EXPECT_EQ(ExtractFilePath("/a/b.c/d.txt"), "/a/b.c/");
  EXPECT_EQ(ExtractFileDir("/a/b.c/d.txt"), "/a/b.c");
  EXPECT_EQ(ExtractFileExt("/a/b.c/d.txt"), ".txt");
  EXPECT_EQ(ExtractFileExt("/a/b.c/d"), "");
  EXPECT_EQ(ExtractFileExt("archive.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileDir("/a"), "/");
  EXPECT_EQ(ExtractFileDir("name"), "");
  EXPECT_EQ(ExtractFilePath("name"), "");
  EXPECT_EQ(ExtractFileName("dir/"), "");
  EXPECT_EQ(IncludeTrailingPathDelimiter("a"), "a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("a/"), "a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
}

TEST(FileNames, ExpandFileName) {
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/a//b/"), "/a/b/");
  EXPECT_EQ(ExpandFileName("/../x"), "/x");
  EXPECT_EQ(ExpandFileName("/a/b/.."), "/a");
  EXPECT_EQ(ExpandFileName("/"), "/");
  EXPECT_EQ(ExpandFileName(""), "");
  String cwd = GetCurrentDir();
  ASSERT_FALSE(cwd.empty());
  EXPECT_EQ(cwd[0], '/');
  EXPECT_TRUE(DirectoryExists(cwd));
  EXPECT_EQ(ExpandFileName("x/../y.log"), ExpandFileName(IncludeTrailingPathDelimiter(cwd) + "y.log"));
  EXPECT_EQ(ExpandFileName("."), ExpandFileName(cwd));
}

TEST(Files, RenameForceDirectoriesAndDelete) {
  test::TestDir dir;
  String file = dir.File("a.log");
  test::WriteFileBytes(file, "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_FALSE(FileExists(dir.Path()));

  EXPECT_TRUE(RenameFile(file, dir.File("b.log")));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(test::ReadFileBytes(dir.File("b.log")), "x");
  test::WriteFileBytes(file, "y");
  EXPECT_FALSE(RenameFile(file, dir.File("b.log")));  // no silent overwrite
  EXPECT_EQ(test::ReadFileBytes(dir.File("b.log")), "x");
  EXPECT_FALSE(RenameFile(dir.File("missing"), dir.File("c.log")));

  String nested = dir.File("one/two/three");
  EXPECT_TRUE(ForceDirectories(nested));
  EXPECT_TRUE(DirectoryExists(nested));
  EXPECT_TRUE(ForceDirectories(nested + "/"));
  EXPECT_FALSE(ForceDirectories(file + "/sub"));  // a file is in the way
  EXPECT_THROW(ForceDirectories(""), EInOutError);

  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_FALSE(FileExists(file));
}

}  // namespace
}  // namespace ztl
