// Drives the message-table reader's fuzz target with mutated message
// modules: truncated, flipped bytes, and header fields, offsets and counts
// set to lies and huge values.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "tests/support/TestDir.h"

namespace ztl::test {
int CheckMessageModule(const uint8_t* data, size_t size);
}  // namespace ztl::test

namespace {

int Feed(const std::string& input) {
  return ztl::test::CheckMessageModule(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string Mutate(std::string input, std::mt19937& random) {
  auto pick = [&](size_t bound) { return bound == 0 ? size_t{0} : static_cast<size_t>(random() % bound); };
  switch (random() % 4) {
    case 0:  // truncated
      input.resize(pick(input.size() + 1));
      break;
    case 1:  // bytes changed
      for (int i = 0; i < 4 && !input.empty(); ++i) input[pick(input.size())] = static_cast<char>(random());
      break;
    default: {  // a 16- or 32-bit field set to a lie: huge, zero, or off by a little
      if (input.size() < 4) break;
      const uint32_t lies[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0, 1, 0xFFFF, static_cast<uint32_t>(random())};
      const uint32_t value = lies[random() % 7];
      std::memcpy(&input[pick(input.size() - 3) & ~size_t{1}], &value, random() % 2 ? 4 : 2);
      break;
    }
  }
  return input;
}

TEST(MessageFilesFuzz, SurvivesMutatedModules) {
#if !defined(ZTL_TEST_MESSAGES_SECOND)
  GTEST_SKIP() << "message files not built: the mingw-w64 binutils are missing (scripts/deps installs them)";
#else
  std::vector<std::string> seeds = {ztl::test::ReadFileBytes(ZTL_TEST_MESSAGES_SECOND)};
#if defined(ZTL_TEST_MESSAGES_SECOND32)
  seeds.push_back(ztl::test::ReadFileBytes(ZTL_TEST_MESSAGES_SECOND32));
#endif
  std::mt19937 random(5);
  for (const std::string& seed : seeds) {
    ASSERT_GT(seed.size(), 512u);
    std::string input = seed;
    for (int round = 0; round < 20000; ++round) {
      ASSERT_EQ(Feed(input), 0);
      input = round % 8 == 0 ? seed : Mutate(input, random);
    }
  }
#endif
}

TEST(MessageFilesFuzz, SurvivesWhatIsNoModule) {
  std::mt19937 random(3);
  std::string noise(1 << 16, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  EXPECT_EQ(Feed(noise), 0);
  EXPECT_EQ(Feed("MZ" + noise), 0);
  EXPECT_EQ(Feed(std::string()), 0);
  EXPECT_EQ(Feed(std::string(64, 'M')), 0);
}

}  // namespace
