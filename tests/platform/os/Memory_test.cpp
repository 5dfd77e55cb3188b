// Backing memory ahead of writing it.
#include <ztlogger/platform/os/Memory.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(PrefaultForWriting, BacksTheWholePagesAndKeepsTheContents) {
  constexpr std::size_t size = std::size_t{4} << 20;
  auto block = std::make_unique<char[]>(size);
  block[0] = 'a';
  block[size / 2] = 'b';
  block[size - 1] = 'c';
  EXPECT_TRUE(ztl::os::PrefaultForWriting(block.get(), size));
  EXPECT_EQ(block[0], 'a');
  EXPECT_EQ(block[1], '\0');
  EXPECT_EQ(block[size / 2], 'b');
  EXPECT_EQ(block[size - 1], 'c');
}

TEST(PrefaultForWriting, ARangeWithoutAWholePageOrPastTheEndIsRefused) {
  char small[16] = {};
  EXPECT_FALSE(ztl::os::PrefaultForWriting(small + 1, 8));
  EXPECT_FALSE(ztl::os::PrefaultForWriting(small, 0));
  EXPECT_FALSE(ztl::os::PrefaultForWriting(reinterpret_cast<void*>(~std::uintptr_t{0} - 8), 4096));
}

}  // namespace
