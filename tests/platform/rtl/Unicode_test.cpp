#include <ztlogger/platform/rtl/Unicode.h>

#include <gtest/gtest.h>

#include <string>

namespace ztl::unicode {
namespace {

struct TDecodeCase {
  const char* Name;
  std::string Bytes;
  size_t Length;     // of the sequence at position 0; 0 when not well formed
  char32_t Code;     // its code point when well formed
};

const TDecodeCase DecodeCases[] = {
    {"nul", std::string(1, '\0'), 1, 0},
    {"last one-byte", "\x7F", 1, 0x7F},
    {"first two-byte", "\xC2\x80", 2, 0x80},
    {"last two-byte", "\xDF\xBF", 2, 0x7FF},
    {"first three-byte", "\xE0\xA0\x80", 3, 0x800},
    {"last before surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
    {"first after surrogates", "\xEE\x80\x80", 3, 0xE000},
    {"last three-byte", "\xEF\xBF\xBF", 3, 0xFFFF},
    {"first four-byte", "\xF0\x90\x80\x80", 4, 0x10000},
    {"last code point", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
    {"followed by more", "\xC3\xA9z", 2, 0xE9},
    // Not well formed.
    {"lone continuation", "\x80", 0, 0},
    {"last continuation", "\xBF", 0, 0},
    {"overlong nul", "\xC0\x80", 0, 0},
    {"overlong U+007F", "\xC1\xBF", 0, 0},
    {"overlong U+07FF", "\xE0\x9F\xBF", 0, 0},
    {"overlong U+FFFF", "\xF0\x8F\xBF\xBF", 0, 0},
    {"high surrogate", "\xED\xA0\x80", 0, 0},
    {"low surrogate", "\xED\xBF\xBF", 0, 0},
    {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
    {"lead F5", "\xF5\x80\x80\x80", 0, 0},
    {"five-byte lead", "\xF8\x88\x80\x80\x80", 0, 0},
    {"byte FF", "\xFF", 0, 0},
    {"truncated two-byte", "\xC3", 0, 0},
    {"truncated three-byte", "\xE2\x82", 0, 0},
    {"truncated four-byte", "\xF0\x9F\x98", 0, 0},
    {"continuation missing", "\xE2\x28\xA1", 0, 0},
    {"ASCII instead of continuation", "\xC3" "A", 0, 0},
};

TEST(Unicode, DecodesWellFormedSequencesOnly) {
  for (const TDecodeCase& c : DecodeCases) {
    char32_t code = 0xDEAD;
    EXPECT_EQ(Utf8SequenceLength(c.Bytes, 0, &code), c.Length) << c.Name;
    if (c.Length != 0) {
      EXPECT_EQ(code, c.Code) << c.Name;
      // Encoding the code point gives the same bytes back.
      std::string encoded;
      AppendUtf8(encoded, c.Code);
      EXPECT_EQ(encoded, c.Bytes.substr(0, c.Length)) << c.Name;
    }
  }
}

TEST(Unicode, DecodesInTheMiddleOfText) {
  const std::string text = "a\xE2\x82\xAC\xF0\x9F\x98\x80";
  char32_t code = 0;
  EXPECT_EQ(Utf8SequenceLength(text, 1, &code), 3u);
  EXPECT_EQ(code, U'\u20AC');
  EXPECT_EQ(Utf8SequenceLength(text, 2), 0u);  // inside the euro sign
  EXPECT_EQ(Utf8SequenceLength(text, 4, &code), 4u);
  EXPECT_EQ(code, U'\U0001F600');
  EXPECT_EQ(Utf8SequenceLength(text.substr(0, 7), 4), 0u);  // cut short
}

TEST(Unicode, ValidatesWholeText) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));
  EXPECT_FALSE(IsValidUtf8("end \xE2\x82"));
}

TEST(Unicode, Utf8ToUtf16AtTheBoundaries) {
  EXPECT_EQ(Utf8ToUtf16("\x7F"), u"\u007F");
  EXPECT_EQ(Utf8ToUtf16("\xC2\x80"), u"\u0080");
  EXPECT_EQ(Utf8ToUtf16("\xDF\xBF"), u"\u07FF");
  EXPECT_EQ(Utf8ToUtf16("\xE0\xA0\x80"), u"\u0800");
  EXPECT_EQ(Utf8ToUtf16("\xEF\xBF\xBF"), std::u16string(1, char16_t{0xFFFF}));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x90\x80\x80"), (std::u16string{0xD800, 0xDC00}));
  EXPECT_EQ(Utf8ToUtf16("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));
}

TEST(Unicode, Utf8ToUtf16TakesStrayBytesAsLatin1) {
  // Each byte of a sequence that is not well formed stands for itself.
  EXPECT_EQ(Utf8ToUtf16("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\u00C0\u0080");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98"), u"\u00F0\u009F\u0098");
  EXPECT_EQ(Utf8ToUtf16("\xFF" "a\xC3\xA9"), u"\u00FFa\u00E9");
}

TEST(Unicode, Utf16ToUtf8PairsSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"\u007F\u0080\u07FF\u0800"), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xFFFF}), "\xEF\xBF\xBF");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, 0xDC00}), "\xF0\x90\x80\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF");
}

TEST(Unicode, Utf16ToUtf8ReplacesLoneSurrogates) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), replacement);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, 'a'}), replacement + "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{'a', 0xD83D, 'b'}), "a" + replacement + "b");
  // Reversed pair: two lone surrogates.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, 0xD800}), replacement + replacement);
  // A high surrogate followed by a high surrogate and a low one.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, 0xD83D, 0xDE00}), replacement + "\xF0\x9F\x98\x80");
}

TEST(Unicode, AppendsUtf16) {
  std::u16string out;
  AppendUtf16(out, 0xFFFF);
  AppendUtf16(out, 0x10000);
  AppendUtf16(out, 0x10FFFF);
  EXPECT_EQ(out, (std::u16string{0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}));
}

TEST(Unicode, Latin1Conversions) {
  EXPECT_EQ(Latin1ToUtf8("a\xE9\xFF\x80"), "a\xC3\xA9\xC3\xBF\xC2\x80");
  EXPECT_EQ(Latin1ToUtf8(""), "");
  // Well-formed sequences stay, stray bytes become their Latin-1 character.
  EXPECT_EQ(Utf8WithLatin1Fallback("Gr\xC3\xBC\xC3\x9F"), "Gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(Utf8WithLatin1Fallback("Gr\xFC\xDF"), "Gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(Utf8WithLatin1Fallback("\xE2\x82\xAC\xE2\x82"), "\xE2\x82\xAC\xC3\xA2\xC2\x82");
  EXPECT_TRUE(IsValidUtf8(Utf8WithLatin1Fallback("\xED\xA0\x80\xC0\x80\xF8")));
}

TEST(Unicode, CutsAtACharacterBoundary) {
  const std::string text = "ab\xE2\x82\xAC" "c";  // a b EURO c
  EXPECT_EQ(Utf8Prefix(text, 10), text.size());
  EXPECT_EQ(Utf8Prefix(text, 6), 6u);
  EXPECT_EQ(Utf8Prefix(text, 5), 5u);  // before c: the euro sign whole
  EXPECT_EQ(Utf8Prefix(text, 4), 2u);  // inside the euro sign
  EXPECT_EQ(Utf8Prefix(text, 3), 2u);
  EXPECT_EQ(Utf8Prefix(text, 2), 2u);
  EXPECT_EQ(Utf8Prefix(text, 0), 0u);
  const std::string emoji = "\xF0\x9F\x98\x80\xF0\x9F\x98\x80";
  for (size_t limit = 4; limit < 8; ++limit) EXPECT_EQ(Utf8Prefix(emoji, limit), 4u) << limit;
  EXPECT_EQ(Utf8Prefix(emoji, 3), 0u);
}

}  // namespace
}  // namespace ztl::unicode
