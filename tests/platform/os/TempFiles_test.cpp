#include <ztlogger/platform/os/TempFiles.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <thread>

#include "tests/platform/os/FakePrograms.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/WideText.h>

namespace ztl {
namespace {

using test::ScopedEnv;
using test::TestDir;

// <start><1 to 4 upper-case hexadecimal digits>.tmp
bool IsTempFileName(const String& path, const String& start) {
  if (path.rfind(start, 0) != 0 || !path.ends_with(".tmp")) return false;
  const String digits = path.substr(start.size(), path.size() - start.size() - 4);
  return !digits.empty() && digits.size() <= 4 &&
         digits.find_first_not_of("0123456789ABCDEF") == String::npos;
}

TEST(TempPath, FollowsTmpdirWithATrailingDelimiter) {
  TestDir dir;
  ScopedEnv tmpdir("TMPDIR", dir.Path());
  const std::u16string expected = oswide::FromUtf8(dir.Path() + "/");
  WCHAR buffer[MAX_PATH];
  EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), expected.size());
  EXPECT_EQ(std::u16string(buffer), expected);
}

TEST(TempPath, DefaultsToTmp) {
  ScopedEnv tmpdir("TMPDIR", std::nullopt);
  WCHAR buffer[MAX_PATH];
  EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), 5u);
  EXPECT_EQ(std::u16string(buffer), u"/tmp/");
  ScopedEnv empty("TMPDIR", String());
  EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), 5u);
}

TEST(TempPath, ABufferTooSmallGetsTheSizeNeeded) {
  ScopedEnv tmpdir("TMPDIR", "/var/tmp/\xC3\xBC\xF0\x9D\x94\x98/");  // counted in UTF-16 units: 13
  WCHAR buffer[16] = {u'x'};
  EXPECT_EQ(GetTempPathW(13, buffer), 14u);
  EXPECT_EQ(buffer[0], u'x');
  EXPECT_EQ(GetTempPathW(0, nullptr), 14u);
  EXPECT_EQ(GetTempPathW(14, buffer), 13u);
  EXPECT_EQ(std::u16string(buffer), u"/var/tmp/\u00FC\U0001D518/");
}

TEST(TempFileName, CreatesAUniqueEmptyFile) {
  TestDir dir;
  const std::u16string folder = oswide::FromUtf8(dir.Path());
  WCHAR first[MAX_PATH];
  WCHAR second[MAX_PATH];
  const UINT a = GetTempFileNameW(folder.c_str(), u"ZTLX", 0, first);
  const UINT b = GetTempFileNameW(folder.c_str(), u"ZTL", 0, second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  for (const WCHAR* name : {first, second}) {
    const String path = oswide::ToUtf8(name);
    EXPECT_TRUE(IsTempFileName(path, dir.Path() + "/ZTL")) << path;
    ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
  }
  char hex[8];
  std::snprintf(hex, sizeof(hex), "%X", a);
  EXPECT_EQ(oswide::ToUtf8(first), dir.Path() + "/ZTL" + hex + ".tmp");
}

TEST(TempFileName, AGivenNumberOnlyFormsTheName) {
  TestDir dir;
  const std::u16string folder = oswide::FromUtf8(dir.Path() + "/");
  WCHAR name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameW(folder.c_str(), u"ab", 0x1BEEF, name), 0x1BEEFu);
  EXPECT_EQ(oswide::ToUtf8(name), dir.Path() + "/abBEEF.tmp");
  EXPECT_FALSE(std::filesystem::exists(oswide::ToUtf8(name)));
}

TEST(TempFileName, FailsForAMissingOrTooLongFolder) {
  TestDir dir;
  WCHAR name[MAX_PATH];
  const std::u16string missing = oswide::FromUtf8(dir.File("missing"));
  SetLastError(0);
  EXPECT_EQ(GetTempFileNameW(missing.c_str(), u"ZTL", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  const std::u16string tooLong(MAX_PATH - 13, u'a');
  EXPECT_EQ(GetTempFileNameW(tooLong.c_str(), u"ZTL", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
}

TEST(DeleteFile, DeletesFilesOnly) {
  TestDir dir;
  const String path = dir.File("gone.tmp");
  test::WriteFileBytes(path, "x");
  const std::u16string wide = oswide::FromUtf8(path);
  EXPECT_TRUE(DeleteFileW(wide.c_str()));
  EXPECT_FALSE(std::filesystem::exists(path));
  SetLastError(0);
  EXPECT_FALSE(DeleteFileW(wide.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  const std::u16string folder = oswide::FromUtf8(dir.Path());
  EXPECT_FALSE(DeleteFileW(folder.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path()));
}

TEST(TempFileNameThreads, ConcurrentCallsNeverShareAName) {
  TestDir dir;
  const std::u16string folder = oswide::FromUtf8(dir.Path());
  constexpr int kPerThread = 100;
  std::vector<String> names[2];
  std::vector<std::thread> threads;
  for (auto& list : names)
    threads.emplace_back([&folder, &list] {
      for (int i = 0; i < kPerThread; ++i) {
        WCHAR name[MAX_PATH];
        if (GetTempFileNameW(folder.c_str(), u"ZTL", 0, name) != 0) list.push_back(oswide::ToUtf8(name));
      }
    });
  for (auto& thread : threads) thread.join();
  std::set<String> all(names[0].begin(), names[0].end());
  all.insert(names[1].begin(), names[1].end());
  EXPECT_EQ(all.size(), 2u * kPerThread);
}

}  // namespace
}  // namespace ztl
