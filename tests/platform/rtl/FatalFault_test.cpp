// The fatal-fault path in a separate process: it must end with its line even
// while another thread holds the allocator (fatalfault_helper), in a thread
// whose stack reserve is spent and in a thread the framework did not set up
// (a plain std::thread without a fault stack).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/rtl/Types.h>

extern char** environ;

namespace ztl {
namespace {

String HelperPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "fatalfault_helper").string();
}

class FatalFault : public ::testing::TestWithParam<const char*> {};

TEST_P(FatalFault, OverflowWithTheAllocatorHeldEndsWithItsLine) {
  test::TestDir dir;
  const String helper = HelperPath();
  const String errors = dir.File("stderr.txt");
  ASSERT_TRUE(std::filesystem::exists(helper)) << helper;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>(GetParam()), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(spawned, 0);

  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  pid_t ended = 0;
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the process hangs in the fatal-fault path; its standard error:\n" << test::ReadFileBytes(errors);
  }
  ASSERT_EQ(ended, pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "a sanitizer's allocator cannot be replaced by the helper's";
  const String text = test::ReadFileBytes(errors);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << "\n" << text;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  EXPECT_NE(text.find("ztl: stack overflow without room to raise it at "), String::npos) << text;
  EXPECT_NE(text.find("; the process ends\n"), String::npos) << text;
  EXPECT_NE(text.find("hook: EStackOverflow\n"), String::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(ThreadKinds, FatalFault, ::testing::Values("spent-reserve", "plain-thread"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return String(info.param) == "plain-thread" ? "PlainThread" : "SpentReserve";
                         });

}  // namespace
}  // namespace ztl
