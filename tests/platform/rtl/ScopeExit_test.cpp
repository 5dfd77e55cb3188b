// The scope guard: its action runs once on every way out of the scope, and
// not at all once released.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include <ztlogger/platform/rtl/ScopeExit.h>

namespace ztl {
namespace {

TEST(ScopeExit, RunsOnceAtTheEndOfTheScope) {
  int runs = 0;
  {
    ScopeExit guard([&] { ++runs; });
    EXPECT_EQ(runs, 0) << "the action waits for the end of the scope";
  }
  EXPECT_EQ(runs, 1);
}

TEST(ScopeExit, RunsOnAnEarlyReturn) {
  std::vector<int> order;
  auto work = [&](bool leaveEarly) {
    ScopeExit guard([&] { order.push_back(0); });
    if (leaveEarly) return;
    order.push_back(1);
  };
  work(true);
  work(false);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 0}));
}

TEST(ScopeExit, RunsWhileAnExceptionLeavesTheScopeAndKeepsIt) {
  int restored = 0;
  int state = 0;
  try {
    state = 1;
    ScopeExit restore([&] {
      state = 0;
      ++restored;
    });
    throw std::runtime_error("failed");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "failed") << "the guard leaves the exception as it was";
    EXPECT_EQ(state, 0) << "restored before the handler runs";
  }
  EXPECT_EQ(restored, 1);
}

TEST(ScopeExit, ReleasedGuardDoesNotRun) {
  int runs = 0;
  {
    ScopeExit guard([&] { ++runs; });
    guard.Release();
  }
  EXPECT_EQ(runs, 0);
  try {
    ScopeExit guard([&] { ++runs; });
    guard.Release();
    throw std::runtime_error("failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(runs, 0) << "released before the exception";
}

TEST(ScopeExit, ActionRaisingOnANormalExitLeavesTheScope) {
  auto work = [] { ScopeExit guard([] { throw std::logic_error("restore failed"); }); };
  EXPECT_THROW(work(), std::logic_error);
}

TEST(ScopeExit, GuardsNestInReverseOrder) {
  std::vector<int> order;
  {
    ScopeExit first([&] { order.push_back(1); });
    ScopeExit second([&] { order.push_back(2); });
  }
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

}  // namespace
}  // namespace ztl
