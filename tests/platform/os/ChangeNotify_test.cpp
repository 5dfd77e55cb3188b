// Folder change notifications, with real changes in a test's own folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace fs = std::filesystem;

namespace {

class ChangeNotify : public ::testing::Test {
 protected:
  ChangeNotify() : root(dir.File("watched")) {
    fs::create_directory(root);
    Write(root + "/file", "data");
    fs::create_directory(root + "/sub");
    // Times in the past, so that a change of mode is no change of time.
    const auto past = fs::last_write_time(root + "/file") - std::chrono::hours(1);
    fs::last_write_time(root + "/file", past);
  }
  ~ChangeNotify() override {
    for (HANDLE h : opened) FindCloseChangeNotification(h);
  }

  HANDLE Watch(const std::string& path, DWORD filter, bool subtree = false) {
    HANDLE h = FindFirstChangeNotificationW(ztl::unicode::Utf8ToUtf16(path).c_str(), subtree, filter);
    if (h != INVALID_HANDLE_VALUE) opened.push_back(h);
    return h;
  }
  static bool Signalled(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::app) << text;
  }

  ztl::test::TestDir dir;
  std::string root;
  std::vector<HANDLE> opened;
};

TEST_F(ChangeNotify, EachFilterSignalsForItsOwnKindOfChange) {
  struct Case {
    const char* change;
    std::function<void(const std::string&)> make;
    DWORD signalled;  // the filters that must signal; the others must not
  };
  const DWORD name = FILE_NOTIFY_CHANGE_FILE_NAME, folder = FILE_NOTIFY_CHANGE_DIR_NAME,
              attributes = FILE_NOTIFY_CHANGE_ATTRIBUTES, size = FILE_NOTIFY_CHANGE_SIZE,
              time = FILE_NOTIFY_CHANGE_LAST_WRITE;
  const Case cases[] = {
      {"file created", [](auto& r) { Write(r + "/new", "x"); }, name | size | time},
      {"folder created", [](auto& r) { fs::create_directory(r + "/newdir"); }, folder},
      {"file renamed", [](auto& r) { fs::rename(r + "/file", r + "/renamed"); }, name},
      {"file deleted", [](auto& r) { fs::remove(r + "/file"); }, name},
      {"folder deleted", [](auto& r) { fs::remove(r + "/sub"); }, folder},
      {"file written", [](auto& r) { Write(r + "/file", "more"); }, size | time},
      {"mode changed", [](auto& r) { fs::permissions(r + "/file", fs::perms::owner_read | fs::perms::owner_write); },
       attributes},
      {"touched", [](auto& r) { ASSERT_EQ(utimensat(AT_FDCWD, (r + "/file").c_str(), nullptr, 0), 0); },
       attributes | time},
      {"time set", [](auto& r) { fs::last_write_time(r + "/file", fs::file_time_type::clock::now()); }, time},
      {"rewritten in place", [](auto& r) { std::ofstream(r + "/file", std::ios::in | std::ios::out) << "DATA"; },
       time},
  };
  for (const Case& c : cases) {
    ztl::test::TestDir scratch;
    const std::string r = scratch.File("w");
    fs::copy(root, r, fs::copy_options::recursive);
    fs::last_write_time(r + "/file", fs::last_write_time(root + "/file"));
    for (DWORD filter : {name, folder, attributes, size, time}) {
      HANDLE h = Watch(r, filter);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    const size_t first = opened.size() - 5;
    c.make(r);
    for (size_t i = 0; i < 5; ++i) {
      const DWORD filter = DWORD{1} << i;
      EXPECT_EQ(Signalled(opened[first + i]), (c.signalled & filter) != 0) << c.change << ", filter " << filter;
    }
    for (size_t i = 0; i < 5; ++i) FindCloseChangeNotification(opened[first + i]);
    opened.resize(first);
  }
}

TEST_F(ChangeNotify, StaysSignalledUntilRearmedAndKeepsChangesMadeMeanwhile) {
  HANDLE h = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME);
  EXPECT_FALSE(Signalled(h));
  fs::permissions(root, fs::perms::owner_all);  // the watched folder itself: not reported
  EXPECT_FALSE(Signalled(h));
  Write(root + "/a", "");
  EXPECT_TRUE(Signalled(h));
  EXPECT_TRUE(Signalled(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  EXPECT_FALSE(Signalled(h));
  Write(root + "/b", "");
  EXPECT_TRUE(Signalled(h));
  Write(root + "/c", "");  // after the signal, before the re-arming
  ASSERT_TRUE(FindNextChangeNotification(h));
  EXPECT_TRUE(Signalled(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  EXPECT_FALSE(Signalled(h));
}

TEST_F(ChangeNotify, SubfoldersAreWatchedOnlyWithTheSubtreeFlag) {
  HANDLE flat = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, false);
  HANDLE tree = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true);
  Write(root + "/sub/inner", "");
  EXPECT_FALSE(Signalled(flat));
  EXPECT_TRUE(Signalled(tree));
}

TEST_F(ChangeNotify, AFolderThatAppearsIsWatchedAtOnceWithWhatItAlreadyHolds) {
  HANDLE h = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true);
  // Created together, before the watcher has seen the folder.
  fs::create_directories(root + "/new/deeper");
  Write(root + "/new/deeper/first", "");
  EXPECT_TRUE(Signalled(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  EXPECT_FALSE(Signalled(h));
  Write(root + "/new/deeper/second", "");
  EXPECT_TRUE(Signalled(h));

  // A folder moved in is followed, one moved out is not.
  const std::string outside = dir.File("outside");
  fs::create_directories(outside + "/moved");
  Write(outside + "/moved/held", "");
  ASSERT_TRUE(FindNextChangeNotification(h));
  fs::rename(outside + "/moved", root + "/sub/moved");
  EXPECT_TRUE(Signalled(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  Write(root + "/sub/moved/later", "");
  EXPECT_TRUE(Signalled(h));
  fs::rename(root + "/sub/moved", root + "/renamed");  // within the tree
  ASSERT_TRUE(FindNextChangeNotification(h));
  Write(root + "/renamed/again", "");
  EXPECT_TRUE(Signalled(h));
  fs::rename(root + "/renamed", outside + "/gone");
  ASSERT_TRUE(FindNextChangeNotification(h));
  Write(outside + "/gone/unseen", "");
  EXPECT_FALSE(Signalled(h));
}

TEST_F(ChangeNotify, TheWatchedFolderMovedAwayIsStillWatchedDeletedSignals) {
  HANDLE h = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true);
  const std::string moved = dir.File("moved");
  fs::rename(root, moved);
  EXPECT_FALSE(Signalled(h));
  fs::create_directory(moved + "/fresh");
  Write(moved + "/fresh/file", "");
  EXPECT_TRUE(Signalled(h));

  HANDLE size = Watch(moved, FILE_NOTIFY_CHANGE_SIZE);
  fs::remove_all(moved);
  EXPECT_TRUE(Signalled(size));
  ASSERT_TRUE(FindNextChangeNotification(size));
  EXPECT_FALSE(Signalled(size));
}

TEST_F(ChangeNotify, AQueueOverflowSignalsWhatTheChangesThemselvesWouldNot) {
  long limit = 0;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
  if (limit <= 0 || limit > 200000) GTEST_SKIP() << "queue limit " << limit;
  // File names only: a folder-name notification queues them but is not signalled by them.
  HANDLE folders = Watch(root, FILE_NOTIFY_CHANGE_DIR_NAME);
  for (long i = 0; i <= limit / 2; ++i) {
    const std::string path = root + "/f" + std::to_string(i % 64);
    Write(path, "");
    fs::remove(path);
  }
  EXPECT_TRUE(Signalled(folders));
}

// Folders whose paths are longer than the system's path limit are watched
// as well: both those there before the watch and one made below them after.
TEST_F(ChangeNotify, FoldersBeyondThePathLimitAreWatched) {
  const std::string name(200, 'd');
  std::vector<int> chain = {open(root.c_str(), O_RDONLY | O_DIRECTORY)};
  for (size_t length = root.size(); length <= PATH_MAX; length += name.size() + 1) {
    ASSERT_EQ(mkdirat(chain.back(), name.c_str(), 0700), 0);
    chain.push_back(openat(chain.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(chain.back(), 0);
  }
  const int deepest = chain.back();
  HANDLE h = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Signalled(h));
  close(openat(deepest, "file", O_WRONLY | O_CREAT, 0600));
  EXPECT_TRUE(Signalled(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  ASSERT_EQ(mkdirat(deepest, "later", 0700), 0);
  EXPECT_TRUE(Signalled(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  const int later = openat(deepest, "later", O_RDONLY | O_DIRECTORY);
  close(openat(later, "file", O_WRONLY | O_CREAT, 0600));
  EXPECT_TRUE(Signalled(h));
  // Taken down from the bottom, as paths this long cannot be removed whole.
  unlinkat(later, "file", 0);
  close(later);
  unlinkat(deepest, "later", AT_REMOVEDIR);
  unlinkat(deepest, "file", 0);
  for (size_t i = chain.size() - 1; i > 0; --i) {
    close(chain[i]);
    unlinkat(chain[i - 1], name.c_str(), AT_REMOVEDIR);
  }
  close(chain.front());
}

TEST_F(ChangeNotify, FailuresGiveTheErrorsOfTheSystem) {
  struct Case {
    std::string path;
    DWORD filter;
    DWORD error;
  };
  const Case cases[] = {
      {"", FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_PATH_NOT_FOUND},
      {root + "/missing", FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_FILE_NOT_FOUND},
      {root + "/missing/deeper", FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_PATH_NOT_FOUND},
      {root + "/file", FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_DIRECTORY},
      {root, 0, ERROR_INVALID_PARAMETER},
      {root, 0x200, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(Watch(c.path, c.filter), INVALID_HANDLE_VALUE) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_EQ(FindFirstChangeNotificationW(nullptr, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  if (geteuid() != 0) {
    fs::permissions(root + "/sub", fs::perms::none);
    EXPECT_EQ(Watch(root + "/sub", FILE_NOTIFY_CHANGE_FILE_NAME), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // A subfolder closed to the user does not stop the watch of the tree.
    EXPECT_NE(Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true), INVALID_HANDLE_VALUE);
    fs::permissions(root + "/sub", fs::perms::owner_all);
  }
  EXPECT_FALSE(FindNextChangeNotification(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(FindCloseChangeNotification(event));
  EXPECT_TRUE(CloseHandle(event));
}

// Notifications of one folder share their watches: a later one's kinds are
// added to the folders watched before it came, and the entries it needs are
// known, so each signals for its own kinds of change only.
TEST_F(ChangeNotify, NotificationsOnOneTreeEachSignalForTheirOwnKinds) {
  const std::string old = root + "/sub/old";
  Write(old, "data");
  HANDLE names = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true);
  HANDLE sizes = Watch(root, FILE_NOTIFY_CHANGE_SIZE, true);
  ASSERT_NE(sizes, INVALID_HANDLE_VALUE);
  auto expect = [&](const char* change, bool name, bool size) {
    EXPECT_EQ(Signalled(names), name) << change;
    EXPECT_EQ(Signalled(sizes), size) << change;
    ASSERT_TRUE(FindNextChangeNotification(names));
    ASSERT_TRUE(FindNextChangeNotification(sizes));
  };
  std::ofstream(old, std::ios::in | std::ios::out) << "DATA";
  expect("rewritten in place", false, false);
  Write(old, "more");
  expect("grown", false, true);
  fs::rename(old, root + "/sub/renamed");
  expect("renamed", true, false);
  Write(root + "/sub/new", "x");
  expect("created with data", true, true);
}

// A notification of a folder that took the place of a watched one moved
// away watches the new folder, not the old tree.
TEST_F(ChangeNotify, ANewFolderInAMovedFoldersPlaceIsWatchedAfresh) {
  HANDLE before = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true);
  const std::string moved = dir.File("moved");
  fs::rename(root, moved);
  fs::create_directory(root);
  HANDLE after = Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true);
  ASSERT_NE(after, INVALID_HANDLE_VALUE);
  Write(root + "/new", "");
  EXPECT_FALSE(Signalled(before));
  EXPECT_TRUE(Signalled(after));
  ASSERT_TRUE(FindNextChangeNotification(after));
  Write(moved + "/sub/new", "");
  EXPECT_TRUE(Signalled(before));
  EXPECT_FALSE(Signalled(after));
}

using ChangeNotifyThreads = ChangeNotify;

// A wait on one notification may read the change that signals another of the
// same tree, which a second thread waits on: that thread wakes all the same.
TEST_F(ChangeNotifyThreads, TwoWaitersOnOneTreeBothWake) {
  const HANDLE handles[] = {Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME, true),
                            Watch(root, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_CREATION, true)};
  constexpr int kRounds = 300;
  constexpr auto kTimeOut = std::chrono::seconds(2);
  std::barrier roundEnd(3);
  std::atomic<int> missed{0};
  // A wait that ends only when its time runs out missed its wake-up, even
  // though it then finds the notification signalled.
  auto woken = [&](HANDLE h) {
    const auto start = std::chrono::steady_clock::now();
    const DWORD result = WaitForSingleObject(h, std::chrono::milliseconds(kTimeOut).count());
    return result == WAIT_OBJECT_0 && std::chrono::steady_clock::now() - start < kTimeOut;
  };
  auto waiter = [&](HANDLE h) {
    for (int round = 0; round < kRounds; ++round) {
      if (missed == 0 && !woken(h)) ++missed;
      FindNextChangeNotification(h);
      roundEnd.arrive_and_wait();
    }
  };
  std::thread first(waiter, handles[0]), second(waiter, handles[1]);
  for (int round = 0; round < kRounds; ++round) {
    Write(root + "/f" + std::to_string(round), "");
    roundEnd.arrive_and_wait();
  }
  first.join();
  second.join();
  EXPECT_EQ(missed, 0);
}

}  // namespace
