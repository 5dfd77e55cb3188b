#include <ztlogger/platform/rtl/UpperCase.h>

#include <gtest/gtest.h>

namespace ztl::unicode {
namespace {

// Pairs Windows treats as one name, beyond the Latin-1, Greek and Cyrillic
// letters: Latin Extended-A, fullwidth forms, Armenian, final sigma.
TEST(UpperCase, NamesEqualAsWindowsComparesThem) {
  EXPECT_TRUE(EqualIgnoringCase(u"\u0100\u0141", u"\u0101\u0142"));    // Ā Ł / ā ł
  EXPECT_TRUE(EqualIgnoringCase(u"\uFF21", u"\uFF41"));                // fullwidth A / a
  EXPECT_TRUE(EqualIgnoringCase(u"\u0531\u0532", u"\u0561\u0562"));    // Armenian
  EXPECT_TRUE(EqualIgnoringCase(u"\u03A3\u03A3", u"\u03C3\u03C2"));    // Σ Σ / σ ς
  EXPECT_TRUE(EqualIgnoringCase(u"Key\u00FF", u"KEY\u0178"));
  EXPECT_FALSE(EqualIgnoringCase(u"\u0100", u"\u0102"));
  EXPECT_FALSE(EqualIgnoringCase(u"ab", u"abc"));
}

TEST(UpperCase, UnitsWithoutOneUnitUpperCaseStayThemselves) {
  EXPECT_EQ(SimpleUpperCase(u'\u00DF'), u'\u00DF');  // ß: its upper case is two letters
  EXPECT_EQ(SimpleUpperCase(char16_t{0xD801}), char16_t{0xD801});  // a surrogate, compared as a unit
  EXPECT_EQ(SimpleUpperCase(u'\u0130'), u'\u0130');  // already upper case
  EXPECT_EQ(SimpleUpperCase(u'7'), u'7');
}

// The list of mappings is the table walked: it must give exactly the units
// SimpleUpperCase changes, each once, in order, with the same upper case.
TEST(UpperCase, TheMappingsListEveryUnitThatChangesOnce) {
  const auto mappings = UpperCaseMappings();
  size_t next = 0;
  for (char32_t code = 0; code < 0x10000; ++code) {
    const auto unit = static_cast<char16_t>(code);
    if (SimpleUpperCase(unit) == unit) continue;
    ASSERT_LT(next, mappings.size()) << "U+" << std::hex << static_cast<unsigned>(code) << " missing";
    ASSERT_EQ(mappings[next].first, unit) << "U+" << std::hex << static_cast<unsigned>(code);
    EXPECT_EQ(mappings[next].second, SimpleUpperCase(unit)) << "U+" << std::hex << static_cast<unsigned>(code);
    ++next;
  }
  EXPECT_EQ(next, mappings.size());
  EXPECT_GT(next, 1000u);  // the whole database, not the Latin letters alone
}

}  // namespace
}  // namespace ztl::unicode
