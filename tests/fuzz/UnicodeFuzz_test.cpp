// Drives the Unicode conversions' fuzz target with mutated text: bytes
// flipped, sequences cut, stray lead and continuation bytes, surrogates and
// random binary.
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace ztl::test {

std::string CheckUnicodeRoundTrips(std::string_view bytes);

namespace {

const std::string SeedTexts[] = {
    "plain ASCII \x7F",
    "caf\xC3\xA9 \xC2\x80\xDF\xBF \xE0\xA0\x80\xEF\xBF\xBF \xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
    "\xED\x9F\xBF\xEE\x80\x80 \xE2\x82\xAC \xF0\x9F\x98\x80",
    // Surrogate pairs and lone surrogates when read as UTF-16 (little-endian).
    std::string("\x3D\xD8\x00\xDE\x00\xD8\x41\x00\x00\xDC", 10),
    "Latin-1 Gr\xFC\xDF \xE9t\xE9",
};

std::string Mutate(std::string input, std::mt19937& random) {
  auto pick = [&](size_t bound) { return bound == 0 ? size_t{0} : static_cast<size_t>(random() % bound); };
  switch (random() % 5) {
    case 0:  // cut short, often inside a sequence
      input.resize(pick(input.size() + 1));
      break;
    case 1:  // bytes changed
      for (int i = 0; i < 4 && !input.empty(); ++i) input[pick(input.size())] = static_cast<char>(random());
      break;
    case 2:  // stray lead, continuation and never-valid bytes
      for (int i = 0; i < 4; ++i) input.insert(pick(input.size() + 1), 1, "\x80\xBF\xC0\xC1\xE0\xED\xF0\xF4\xF5\xFF"[random() % 10]);
      break;
    case 3:  // a surrogate's UTF-8 form or a UTF-16 surrogate inserted
      input.insert(pick(input.size() + 1), random() % 2 ? "\xED\xA0\x80" : "\x00\xDC");
      break;
    default:  // two seeds spliced
      input = input.substr(0, pick(input.size() + 1)) + SeedTexts[pick(std::size(SeedTexts))];
      break;
  }
  return input;
}

TEST(UnicodeFuzz, SeedsRoundTrip) {
  for (const std::string& seed : SeedTexts) EXPECT_EQ(CheckUnicodeRoundTrips(seed), "");
}

TEST(UnicodeFuzz, SurvivesMutatedText) {
  std::mt19937 random(5);
  std::string input = SeedTexts[0];
  for (int round = 0; round < 20000; ++round) {
    const std::string fault = CheckUnicodeRoundTrips(input);
    ASSERT_EQ(fault, "") << "round " << round;
    input = round % 40 == 0 ? SeedTexts[round / 40 % std::size(SeedTexts)] : Mutate(input, random);
  }
}

TEST(UnicodeFuzz, SurvivesRandomBinary) {
  std::mt19937 random(13);
  for (int round = 0; round < 200; ++round) {
    std::string binary(static_cast<size_t>(random() % 512), '\0');
    for (char& c : binary) c = static_cast<char>(random());
    ASSERT_EQ(CheckUnicodeRoundTrips(binary), "") << "round " << round;
  }
}

}  // namespace
}  // namespace ztl::test
