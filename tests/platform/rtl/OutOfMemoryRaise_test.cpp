// Raising when memory has run out: the record the platform keeps of each raise
// cannot be made then, and the raise must go on without it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <new>

#include <ztlogger/platform/rtl/ExceptionSupport.h>

namespace ztl {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Takes small blocks until the heap refuses one, so that every later
// allocation fails too; 0 when the refusal arrived as std::bad_alloc.
int ExhaustTheHeap() {
  rlimit limit{};
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = 512u << 20;
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
  struct Block {
    Block* next;
    char payload[24];
  };
  Block* chain = nullptr;
  try {
    for (;;) chain = new Block{chain, {}};
  } catch (const std::bad_alloc&) {
    return chain ? 0 : 3;
  }
}

TEST(OutOfMemoryRaise, BadAllocStillArrivesWhenNothingCanBeRecorded) {
  if (kSanitized) GTEST_SKIP() << "sanitizers keep their own heap";
  EXPECT_EXIT(std::exit(ExhaustTheHeap()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ztl
