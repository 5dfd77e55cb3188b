// The fatal-fault path in a separate process: it must end with its line even
// while another thread holds the allocator (fatalfault_helper), in a thread
// whose stack reserve is spent and in a thread the framework did not set up
// (a plain std::thread without a fault stack).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>

#include "tests/support/RunCommand.h"
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {
namespace {

class FatalFault : public ::testing::TestWithParam<const char*> {};

TEST_P(FatalFault, OverflowWithTheAllocatorHeldEndsWithItsLine) {
  const String helper = test::HelperProgram("fatalfault_helper");
  ASSERT_TRUE(std::filesystem::exists(helper)) << helper;
  test::RunOptions options;
  options.timeout = std::chrono::seconds(60);
  const test::CommandRun run = test::RunProgram({helper, GetParam()}, options);
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timedOut) << "the process hangs in the fatal-fault path; its standard error:\n" << run.err;
  if (run.status == 77) GTEST_SKIP() << "a sanitizer's allocator cannot be replaced by the helper's";
  EXPECT_EQ(run.signal, SIGSEGV) << "exit status " << run.status << "\n" << run.err;
  EXPECT_NE(run.err.find("ztl: stack overflow without room to raise it at "), String::npos) << run.err;
  EXPECT_NE(run.err.find("; the process ends\n"), String::npos) << run.err;
  EXPECT_NE(run.err.find("hook: EStackOverflow\n"), String::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(ThreadKinds, FatalFault, ::testing::Values("spent-reserve", "plain-thread"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return String(info.param) == "plain-thread" ? "PlainThread" : "SpentReserve";
                         });

}  // namespace
}  // namespace ztl
