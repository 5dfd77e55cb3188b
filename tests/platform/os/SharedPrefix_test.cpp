// A platform prefix used by several users: each user's own key stays theirs,
// links planted in the store redirect nothing, and a prefix others may
// change is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/registry/Api.h>

namespace {

namespace fs = std::filesystem;
using ztl::test::ShellQuoted;

constexpr uid_t kOtherUser = 65534;  // nobody

// Runs ztl-reg with the test's prefix, as the other user when asked.
ztl::test::CommandRun Reg(const ztl::test::TestDir& dir, const std::string& arguments, bool asOtherUser = false) {
  const std::string user = std::to_string(kOtherUser);
  const std::string as = asOtherUser ? "setpriv --reuid=" + user + " --regid=" + user + " --clear-groups " : "";
  return ztl::test::RunCommandLine(as + "env ZTL_PREFIX=" + ShellQuoted(dir.Prefix()) + " " + ZTL_REG_PATH + " " +
                                   arguments);
}

LSTATUS CreateKey(HKEY root, const char16_t* path) {
  HKEY key = nullptr;
  const LSTATUS result = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS) RegCloseKey(key);
  return result;
}

TEST(SharedPrefix, AnotherUserCannotReadTheCurrentUsersKey) {
  if (geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run a second user";
  ztl::test::TestDir dir;
  fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  ASSERT_EQ(Reg(dir, "add 'HKCU\\Software\\App' /v Password /d s3cret-value").status, 0);

  // The other user's HKEY_CURRENT_USER is their own; root's is closed to them.
  const auto own = Reg(dir, "query 'HKCU\\Software\\App' /v Password", true);
  EXPECT_NE(own.status, 0);
  EXPECT_EQ(own.out.find("s3cret-value"), std::string::npos) << own.out;
  const auto roots = Reg(dir, "query 'HKU\\S-1-5-21-0-0-0-0\\Software\\App' /v Password", true);
  EXPECT_NE(roots.status, 0);
  EXPECT_EQ(roots.out.find("s3cret-value"), std::string::npos) << roots.out;
  EXPECT_NE(roots.out.find("ccess is denied"), std::string::npos) << roots.out;

  // Both users keep their own values in the one prefix.
  EXPECT_EQ(Reg(dir, "add 'HKCU\\Software\\App' /v Password /d theirs", true).status, 0);
  EXPECT_NE(Reg(dir, "query 'HKCU\\Software\\App' /v Password", true).out.find("theirs"), std::string::npos);
  EXPECT_NE(Reg(dir, "query 'HKCU\\Software\\App' /v Password").out.find("s3cret-value"), std::string::npos);
}

TEST(SharedPrefix, LinksPlantedInTheStoreRedirectNoWrite) {
  ztl::test::TestDir dir;
  const std::string target = dir.File("private");
  fs::create_directories(target);
  ASSERT_EQ(CreateKey(HKEY_LOCAL_MACHINE, u"Hardware"), ERROR_SUCCESS);
  fs::create_directory_symlink(target, dir.Prefix() + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE");
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, u"Software\\App"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::is_empty(target));

  const std::string elsewhere = dir.File("elsewhere.db");
  fs::create_directories(dir.Prefix() + "/eventlog");
  fs::create_symlink(elsewhere, dir.Prefix() + "/eventlog/application.db");
  EXPECT_EQ(RegisterEventSourceW(nullptr, u"Application"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fs::exists(elsewhere));

  // A prefix reached through a link is the user's setting: the store works
  // there, and the link planted inside it is still refused.
  const std::string linked = dir.File("linked-prefix");
  fs::create_directory_symlink(dir.Prefix(), linked);
  const ztl::test::ScopedEnv prefix("ZTL_PREFIX", linked);
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, u"Hardware\\Linked"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_directory(dir.Prefix() + "/registry/HKEY_LOCAL_MACHINE/HARDWARE/LINKED"));
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, u"Software\\App"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::is_empty(target));
}

TEST(SharedPrefix, AStoreFolderOthersMayWriteIsRefusedByName) {
  ztl::test::TestDir dir;
  ASSERT_EQ(CreateKey(HKEY_LOCAL_MACHINE, u"Software"), ERROR_SUCCESS);
  for (const std::string& folder : {dir.Prefix() + "/registry/HKEY_LOCAL_MACHINE", dir.Prefix()}) {
    SCOPED_TRACE(folder);
    fs::permissions(folder, fs::perms::all);
    const auto added = Reg(dir, "add 'HKLM\\Software\\App' /v Name /d value");
    EXPECT_NE(added.status, 0);
    EXPECT_NE(added.out.find('"' + folder + '"'), std::string::npos) << added.out;
    EXPECT_NE(added.out.find("ccess is denied"), std::string::npos) << added.out;
  }
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, u"Software\\App"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fs::exists(dir.Prefix() + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE/APP"));
}

TEST(SharedPrefix, TheCurrentUsersKeyOfEarlierVersionsIsTakenOverPrivately) {
  ztl::test::TestDir dir;
  // Earlier versions kept one HKEY_CURRENT_USER folder beside the machine's.
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const DWORD kept = 17;
  ASSERT_EQ(RegSetValueExW(key, u"Kept", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kept), sizeof kept),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string registry = dir.Prefix() + "/registry";
  fs::rename(registry + "/HKEY_LOCAL_MACHINE", registry + "/HKEY_CURRENT_USER");

  DWORD value = 0;
  DWORD size = sizeof value;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\App", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"Kept", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(value, kept);
  EXPECT_FALSE(fs::exists(registry + "/HKEY_CURRENT_USER"));
  const std::string own = registry + "/HKEY_USERS/S-1-5-21-0-0-0-" + std::to_string(geteuid());
  EXPECT_EQ(fs::status(own + "/SOFTWARE/APP").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(own + "/SOFTWARE/APP/vKEPT").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
