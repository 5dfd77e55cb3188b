#pragma once
// Checks that must run in a child process, because what they change (the
// process's priorities, its mounts) cannot be undone for the tests after
// them. The body returns 0 when every CHILD_CHECK held, else the line of the
// first that failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "tests/support/RunCommand.h"

#define CHILD_CHECK(condition)         \
  do {                                 \
    if (!(condition)) return __LINE__; \
  } while (0)

namespace ztl::test {

inline void ExpectPassesInChild(const std::function<int()>& body) {
  const CommandRun run = RunInChild([&] {
    const int failedLine = body();
    if (failedLine != 0) std::fprintf(stderr, "check failed at line %d\n", failedLine);
    return failedLine == 0 ? 0 : 1;
  });
  ASSERT_TRUE(run.started) << "no child process";
  EXPECT_EQ(run.signal, 0) << "the child ended with a signal\n" << run.err;
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace ztl::test
