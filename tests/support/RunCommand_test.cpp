// The harness's child processes: what reaches the child, what comes back,
// and that a time limit ends the child and what it started.
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/ScopedEnv.h"

namespace ztl::test {
namespace {

TEST(RunProgram, ArgumentsAndEnvironmentReachTheChildAndItsStreamsComeBackApart) {
  ScopedEnv inherited("ZTL_HARNESS_GONE", "here");
  RunOptions options;
  options.environment = {"ZTL_HARNESS_SET=a b", "ZTL_HARNESS_GONE"};
  const CommandRun run = RunProgram(
      {"/bin/sh", "-c", "printf '%s|%s|%s' \"$1\" \"$ZTL_HARNESS_SET\" \"${ZTL_HARNESS_GONE-unset}\"; echo oops >&2; exit 3",
       "sh", "one 'word'"},
      options);
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.out, "one 'word'|a b|unset");
  EXPECT_EQ(run.err, "oops\n");
  EXPECT_STREQ(std::getenv("ZTL_HARNESS_GONE"), "here") << "the changes are the child's alone";
}

TEST(RunProgram, ErrorsJoinTheOutputInOrderOrAreDropped) {
  RunOptions joined;
  joined.errors = Sink::JoinsOutput;
  EXPECT_EQ(RunProgram({"/bin/sh", "-c", "echo 1; echo 2 >&2; echo 3"}, joined).out, "1\n2\n3\n");
  RunOptions dropped;
  dropped.errors = Sink::Dropped;
  const CommandRun run = RunProgram({"/bin/sh", "-c", "echo 1; echo 2 >&2"}, dropped);
  EXPECT_EQ(run.out, "1\n");
  EXPECT_EQ(run.err, "");
}

TEST(RunProgram, AMissingProgramDoesNotStart) {
  const CommandRun run = RunProgram({"/nonexistent/program"});
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.status, -1);
}

TEST(RunProgram, PastItsTimeLimitTheChildAndWhatItStartedAreKilled) {
  RunOptions options;
  options.timeout = std::chrono::milliseconds(300);
  const auto start = std::chrono::steady_clock::now();
  // The shell's own child keeps the output open: the whole group must go.
  const CommandRun run = RunProgram({"/bin/sh", "-c", "echo started; sleep 30 & wait"}, options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(run.timedOut);
  EXPECT_EQ(run.signal, SIGKILL);
  EXPECT_EQ(run.out, "started\n");
}

TEST(ChildProcess, OutputIsReadWhileItRunsAndASignalEndsIt) {
  ChildProcess child({"/bin/sh", "-c", "echo ready; exec sleep 30"});
  ASSERT_TRUE(child.Started());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (child.Out() != "ready\n" && std::chrono::steady_clock::now() < until)
    ASSERT_TRUE(child.Collect(std::chrono::milliseconds(50)));
  EXPECT_EQ(child.Out(), "ready\n");
  child.Signal(SIGTERM);
  const CommandRun run = child.Wait();
  EXPECT_EQ(run.signal, SIGTERM);
  EXPECT_EQ(run.status, -1);
}

TEST(RunInChild, TheFunctionRunsInACopyWhoseChangesStayThere) {
  int value = 1;
  const CommandRun run = RunInChild([&] {
    value = 2;
    std::printf("pid %d\n", static_cast<int>(getpid()));
    return value + 5;
  });
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(value, 1);
  EXPECT_NE(run.out, "pid " + std::to_string(getpid()) + "\n");
  EXPECT_EQ(run.out.rfind("pid ", 0), 0u) << run.out;
}

TEST(RunInChild, AnExceptionEndsTheChildWithItsMessage) {
  const CommandRun run = RunInChild([]() -> int { throw std::runtime_error("no luck"); });
  EXPECT_EQ(run.status, 125);
  EXPECT_EQ(run.err, "the child raised: no luck\n");
}

}  // namespace
}  // namespace ztl::test
