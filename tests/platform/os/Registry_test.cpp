#include <ztlogger/platform/os/registry/Api.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Sync.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::basic_string<BYTE>;

class Registry : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HKEY key : opened) RegCloseKey(key);
  }
  HKEY Create(const std::u16string& path, HKEY root = HKEY_CURRENT_USER, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr), ERROR_SUCCESS);
    opened.push_back(key);
    return key;
  }
  LSTATUS Open(const std::u16string& path, HKEY& key, REGSAM access = KEY_ALL_ACCESS, HKEY root = HKEY_CURRENT_USER) {
    const LSTATUS result = RegOpenKeyExW(root, path.c_str(), 0, access, &key);
    if (result == ERROR_SUCCESS) opened.push_back(key);
    return result;
  }
  static LSTATUS SetString(HKEY key, const char16_t* name, const std::u16string& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * 2));
  }
  static LSTATUS SetDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  static std::vector<std::u16string> SubkeyNames(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }
  static std::vector<std::u16string> ValueNames(HKEY key) {
    std::vector<std::u16string> names;
    std::u16string name(REG_MAX_VALUE_NAME + 1, 0);
    for (DWORD i = 0;; ++i) {
      DWORD length = REG_MAX_VALUE_NAME + 1;
      if (RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.push_back(name.substr(0, length));
    }
    return names;
  }
  // Every file and folder under the test's folder that lies outside the prefix.
  std::vector<std::string> OutsidePrefix() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
      if (!entry.path().string().starts_with(dir.Prefix())) found.push_back(entry.path().string());
    return found;
  }

  ztl::test::TestDir dir;
  std::vector<HKEY> opened;
};

TEST_F(Registry, KeysAreCreatedOnceFoundWithoutRegardToCaseAndKeepTheirSpelling) {
  HKEY key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Velmora\\Deep", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  opened.push_back(key);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\velmora\\deep\\", 0, nullptr, 0, KEY_READ, nullptr, &again,
                            &disposition),
            ERROR_SUCCESS);
  opened.push_back(again);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  HKEY parent;
  ASSERT_EQ(Open(u"software\\VELMORA", parent), ERROR_SUCCESS);
  Create(u"beta", parent);
  Create(u"Alpha", parent);
  EXPECT_EQ(SubkeyNames(parent), (std::vector<std::u16string>{u"Alpha", u"beta", u"Deep"}));

  HKEY missing;
  EXPECT_EQ(Open(u"Software\\Nothing", missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(u"\\Software", missing), ERROR_BAD_PATHNAME);
  EXPECT_EQ(Open(u"Software\\\\Velmora", missing), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(uintptr_t{0x7777770})), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, NamesEqualInAnyCaseBeyondLatinGreekAndCyrillicAreOneKey) {
  HKEY parent = Create(u"Software\\Cases");
  // Latin Extended-A, a letter with a stroke, fullwidth forms, Armenian, and
  // the final sigma, whose upper case is the sigma's.
  const std::vector<std::u16string> names = {u"\u0100", u"\u0101", u"\u0141", u"\u0142", u"\uFF21",
                                             u"\uFF41", u"\u0531", u"\u0561", u"\u03C3", u"\u03C2"};
  for (const auto& name : names) Create(name, parent);
  const auto kept = SubkeyNames(parent);
  EXPECT_EQ(kept, (std::vector<std::u16string>{u"\u0100", u"\u0141", u"\u03C3", u"\u0531", u"\uFF21"}));
}

TEST_F(Registry, NamesStoredUnderTheEarlierFoldingAreStillFound) {
  // Earlier versions kept "ā" apart from "Ā", its entry named after the
  // lower-case letter: such a store, as they left it.
  HKEY key = Create(u"Legacy", HKEY_LOCAL_MACHINE);
  ASSERT_EQ(SetDword(key, u"\u0101", 1), ERROR_SUCCESS);
  const std::string folder = dir.Prefix() + "/registry/HKEY_LOCAL_MACHINE/LEGACY";
  ASSERT_EQ(::rename((folder + "/v%0100").c_str(), (folder + "/v%0101").c_str()), 0);

  DWORD value = 0;
  DWORD size = sizeof value;
  ASSERT_EQ(RegQueryValueExW(key, u"\u0100", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(SetDword(key, u"\u0100", 2), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{u"\u0101"});  // replaced, not added
  ASSERT_EQ(RegDeleteValueW(key, u"\u0100"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{});
}

TEST_F(Registry, ValuesKeepTypeDataAndCreationOrder) {
  HKEY key = Create(u"Software\\Values");
  ASSERT_EQ(SetString(key, u"Zeta", u"text"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"alpha", 42), ERROR_SUCCESS);
  const BYTE blob[] = {0, 1, 2, 255};
  ASSERT_EQ(RegSetValueExW(key, u"Mid", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, u"default"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"ALPHA", 43), ERROR_SUCCESS);  // replaces: spelling and place stay
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Zeta", u"alpha", u"Mid", u""}));

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExW(key, u"zeta", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 10u);
  BYTE small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"Zeta", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  DWORD number = 0;
  size = sizeof number;
  ASSERT_EQ(RegQueryValueExW(key, u"Alpha", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(number, 43u);
  BYTE read[8];
  size = sizeof read;
  ASSERT_EQ(RegQueryValueExW(key, u"mid", nullptr, &type, read, &size), ERROR_SUCCESS);
  EXPECT_EQ(Bytes(read, size), Bytes(blob, sizeof blob));

  EXPECT_EQ(RegSetValueExW(key, u"Null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  ASSERT_EQ(RegSetValueExW(key, u"Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryValueExW(key, u"Empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  DWORD subkeys = 9, values = 0, longestName = 0, longestData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &longestName,
                             &longestData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 5u);
  EXPECT_EQ(longestName, 5u);
  EXPECT_EQ(longestData, 16u);  // "default" and its terminator

  ASSERT_EQ(RegDeleteValueW(key, u"ZETA"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"Zeta"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"Zeta", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
}

// An enumeration lists a key once; asked past its end it lists again only
// a key that changed since, and then sees what was added, even at once.
TEST_F(Registry, EnumerationsPastTheirEndSeeWhatWasAddedSince) {
  HKEY key = Create(u"Software\\Enum");
  HKEY other = Create(u"Software\\Enum");
  ASSERT_EQ(SetDword(key, u"a", 1), ERROR_SUCCESS);
  ASSERT_EQ(ValueNames(key), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(SubkeyNames(key), std::vector<std::u16string>{});
  ASSERT_EQ(SetDword(other, u"b", 2), ERROR_SUCCESS);
  Create(u"Software\\Enum\\Sub");
  WCHAR name[16];
  DWORD length = 16;
  ASSERT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, length), u"b");
  length = 16;
  ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, length), u"Sub");
  length = 16;
  EXPECT_EQ(RegEnumValueW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Enum"), ERROR_SUCCESS);
  length = 16;
  EXPECT_EQ(RegEnumValueW(key, 5, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
}

// Values made in one quick run (many sharing their creation stamp) come in
// the order they were made, which here is also their order without regard
// to case, each with its own data.
TEST_F(Registry, EnumerationGivesEachValueWithItsDataInOrder) {
  HKEY key = Create(u"Software\\Many");
  std::vector<std::u16string> made;
  for (int i = 0; i < 300; ++i) {
    const std::string digits = std::to_string(1000 + i);
    made.push_back((i % 2 ? u"V" : u"v") + std::u16string(digits.begin(), digits.end()));
    ASSERT_EQ(SetString(key, made.back().c_str(), u"data of " + made.back()), ERROR_SUCCESS);
  }
  std::vector<std::u16string> listed;
  WCHAR name[32];
  BYTE data[128];
  for (DWORD i = 0;; ++i) {
    DWORD length = 32, type = 0, size = sizeof data;
    if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    listed.emplace_back(name, length);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data), size / 2 - 1), u"data of " + listed.back());
  }
  EXPECT_EQ(listed, made);
}

// An enumeration lists the key's value files alone and reads each whole: a
// FIFO among them is never waited on, a link never followed, whether the
// folder is the caller's alone or others may change it.
TEST_F(Registry, EnumerationReadsEachValueFileWholeAndNothingElse) {
  HKEY key = Create(u"Software\\Planted");
  const Bytes large(100000, 0x5A);  // far beyond what a first read takes
  ASSERT_EQ(RegSetValueExW(key, u"Large", 0, REG_BINARY, large.data(), static_cast<DWORD>(large.size())),
            ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"Small", 7), ERROR_SUCCESS);
  const std::string folder =
      dir.Prefix() + "/registry/HKEY_USERS/S-1-5-21-0-0-0-" + std::to_string(geteuid()) + "/SOFTWARE/PLANTED";
  ASSERT_EQ(::mkfifo((folder + "/vFIFO").c_str(), 0600), 0);
  fs::copy_file(folder + "/vSMALL", dir.File("elsewhere"));
  fs::create_symlink(dir.File("elsewhere"), folder + "/vLINK");

  for (const fs::perms mode : {fs::perms::owner_all, fs::perms::owner_all | fs::perms::group_all}) {
    fs::permissions(folder, mode);
    HKEY reader = nullptr;
    ASSERT_EQ(Open(u"Software\\Planted", reader, KEY_READ), ERROR_SUCCESS);
    std::vector<std::u16string> names;
    WCHAR name[32];
    Bytes data(200000, 0);
    for (DWORD i = 0;; ++i) {
      DWORD length = 32, type = 0, size = static_cast<DWORD>(data.size());
      if (RegEnumValueW(reader, i, name, &length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
      if (names.back() == u"Large") {
        EXPECT_EQ(data.substr(0, size), large);
      }
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Large", u"Small"})) << static_cast<int>(mode);
  }
}

TEST_F(Registry, HandlesAllowWhatTheyWereOpenedFor) {
  Create(u"Software\\Rights");
  HKEY reader;
  ASSERT_EQ(Open(u"Software\\Rights", reader, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(reader, u"x", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(reader, u"x"), ERROR_ACCESS_DENIED);
  HKEY child;
  EXPECT_EQ(RegCreateKeyExW(reader, u"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  HKEY writer;
  ASSERT_EQ(Open(u"Software\\Rights", writer, KEY_SET_VALUE), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(writer, u"x", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(writer, u"x", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  WCHAR name[8];
  DWORD length = 8;
  EXPECT_EQ(RegEnumKeyExW(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegNotifyChangeKeyValue(writer, FALSE, REG_NOTIFY_CHANGE_NAME, nullptr, FALSE), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, DeletingKeys) {
  HKEY parent = Create(u"Software\\Doomed");
  HKEY child = Create(u"Child", parent);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Doomed"), ERROR_ACCESS_DENIED);  // it has a subkey
  ASSERT_EQ(RegDeleteKeyW(parent, u"CHILD"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(child, u"late", 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExW(child, u"late", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyW(parent, u"Child"), ERROR_FILE_NOT_FOUND);

  Create(u"A\\B\\C", parent);
  ASSERT_EQ(SetDword(parent, u"kept", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeW(parent, nullptr), ERROR_SUCCESS);  // what is below, not the key
  EXPECT_TRUE(SubkeyNames(parent).empty());
  EXPECT_TRUE(ValueNames(parent).empty());
  ASSERT_EQ(RegDeleteKeyW(parent, u""), ERROR_SUCCESS);
  HKEY gone;
  EXPECT_EQ(Open(u"Software\\Doomed", gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, AnyNameStaysInsideItsKeyAndOverlongNamesAreRefused) {
  HKEY key = Create(u"Software\\Names");
  const std::vector<std::u16string> hostile = {u"..",    u".",
                                               u"/",     u"../../escape",
                                               u"a/b",   u".name",
                                               u"%0041", u"tab\tand\x01",
                                               u"v",     std::u16string(255, u'\x4E2D')};
  for (const auto& name : hostile) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    Create(name, key);
    ASSERT_EQ(SetString(key, name.c_str(), name), ERROR_SUCCESS);
  }
  const std::u16string longest(REG_MAX_VALUE_NAME, u'x');
  ASSERT_EQ(SetDword(key, longest.c_str(), 7), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, (longest + u"x").c_str(), 7), ERROR_INVALID_PARAMETER);
  HKEY tooLong;
  EXPECT_EQ(RegCreateKeyExW(key, std::u16string(256, u'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &tooLong,
                            nullptr),
            ERROR_INVALID_PARAMETER);

  // Each name is its own key and value, read back as written.
  auto keys = SubkeyNames(key);
  auto values = ValueNames(key);
  std::sort(keys.begin(), keys.end());
  values.pop_back();  // the longest, set last
  std::sort(values.begin(), values.end());
  auto expected = hostile;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(values, expected);
  for (const auto& name : hostile) {
    WCHAR text[300];
    DWORD size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(text), name);
  }
  EXPECT_EQ(OutsidePrefix(), std::vector<std::string>{});
}

// Whether an event turns signalled within a while.
bool Signalled(HANDLE event, DWORD ms = 2000) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }

class RegistryNotifyThreads : public Registry {
 protected:
  void SetUp() override { event = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  void TearDown() override {
    Registry::TearDown();
    CloseHandle(event);
  }
  HANDLE event = nullptr;
};

TEST_F(RegistryNotifyThreads, EachFilterSeesItsOwnKindOfChange) {
  HKEY watched = Create(u"Software\\Watched");
  HKEY writer = Create(u"Software\\Watched");
  ASSERT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_NAME, event, TRUE), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(writer, u"value", 1), ERROR_SUCCESS);
  EXPECT_FALSE(Signalled(event, 200));  // a value is no name change
  Create(u"Sub", writer);
  EXPECT_TRUE(Signalled(event));

  HKEY values = Create(u"Software\\Watched");
  ASSERT_EQ(RegNotifyChangeKeyValue(values, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE), ERROR_SUCCESS);
  EXPECT_FALSE(Signalled(event, 100));  // registering reset it
  Create(u"Sub2", writer);
  EXPECT_FALSE(Signalled(event, 200));
  ASSERT_EQ(RegDeleteValueW(writer, u"value"), ERROR_SUCCESS);
  EXPECT_TRUE(Signalled(event));

  EXPECT_EQ(RegNotifyChangeKeyValue(values, FALSE, 0, event, TRUE), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(values, FALSE, REG_NOTIFY_CHANGE_NAME, nullptr, TRUE), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryNotifyThreads, OneSignalPerRegistrationAndChangesBetweenAreKept) {
  HKEY watched = Create(u"Software\\Once");
  HKEY writer = Create(u"Software\\Once");
  ASSERT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(writer, u"a", 1), ERROR_SUCCESS);
  ASSERT_TRUE(Signalled(event));
  ResetEvent(event);
  ASSERT_EQ(SetDword(writer, u"a", 2), ERROR_SUCCESS);  // not registered: kept for the next registration
  EXPECT_FALSE(Signalled(event, 200));
  ASSERT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE), ERROR_SUCCESS);
  EXPECT_TRUE(Signalled(event));
  ResetEvent(event);
  ASSERT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE), ERROR_SUCCESS);
  EXPECT_FALSE(Signalled(event, 200));
  RegCloseKey(watched);  // closing lets the waiter go
  opened.erase(std::find(opened.begin(), opened.end(), watched));
  EXPECT_TRUE(Signalled(event));
}

TEST_F(RegistryNotifyThreads, SubtreeWatchesFollowNewKeys) {
  HKEY flat = Create(u"Software\\Tree");
  HKEY tree = Create(u"Software\\Tree");
  HKEY writer = Create(u"Software\\Tree");
  HANDLE flatEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(RegNotifyChangeKeyValue(flat, FALSE, REG_NOTIFY_CHANGE_LAST_SET, flatEvent, TRUE), ERROR_SUCCESS);
  ASSERT_EQ(RegNotifyChangeKeyValue(tree, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE), ERROR_SUCCESS);
  HKEY deep = Create(u"One\\Two", writer);  // made after the watch began
  EXPECT_FALSE(Signalled(event, 200));
  ASSERT_EQ(SetDword(deep, u"deep", 1), ERROR_SUCCESS);
  EXPECT_TRUE(Signalled(event));
  EXPECT_FALSE(Signalled(flatEvent, 200));
  CloseHandle(flatEvent);
}

TEST_F(RegistryNotifyThreads, TheSynchronousFormReturnsAtTheChange) {
  HKEY watched = Create(u"Software\\Blocking");
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    EXPECT_EQ(RegNotifyChangeKeyValue(watched, TRUE, REG_NOTIFY_CHANGE_NAME, nullptr, FALSE), ERROR_SUCCESS);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned);
  Create(u"Software\\Blocking\\New");
  waiter.join();
  EXPECT_TRUE(returned);
}

// A helper process writing values: regwriter_helper ID COUNT SIZE.
std::unique_ptr<ztl::test::ChildProcess> StartWriter(int id, long count, size_t size) {
  return std::make_unique<ztl::test::ChildProcess>(std::vector<std::string>{
      ztl::test::HelperProgram("regwriter_helper"), std::to_string(id), std::to_string(count), std::to_string(size)});
}

// Checks that every value of the contention key is whole: it has the size
// its writer gave it and the pattern that writer and round make.
void ExpectWholeValues(size_t size, size_t expectedCount) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Contention", 0, KEY_READ, &key), ERROR_SUCCESS);
  size_t count = 0;
  std::u16string name(64, 0);
  Bytes data(size + 16, 0);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = 64, dataSize = static_cast<DWORD>(data.size());
    const LSTATUS result = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, nullptr, data.data(), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    ++count;
    const std::string text(data.begin(), data.begin() + dataSize);
    ASSERT_EQ(text.size(), size) << text.substr(0, 20);
    const int id = std::stoi(text);
    const long round = std::stol(text.substr(text.find(':') + 1));
    std::string expected = std::to_string(id) + ":" + std::to_string(round) + ":";
    while (expected.size() < size) expected += static_cast<char>('a' + (id * 7 + round + expected.size()) % 26);
    ASSERT_EQ(text, expected);
  }
  if (expectedCount) {
    EXPECT_EQ(count, expectedCount);
  }
  RegCloseKey(key);
}

TEST_F(Registry, FourProcessesWritingOneKeyLeaveEveryValueWhole) {
  std::vector<std::unique_ptr<ztl::test::ChildProcess>> writers;
  for (int id = 0; id < 4; ++id) writers.push_back(StartWriter(id, 1000, 300));
  for (auto& writer : writers) {
    const ztl::test::CommandRun run = writer->Wait();
    EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.err;
  }
  ExpectWholeValues(300, 4 * 1000 + 10);
}

TEST_F(Registry, WritersKilledMidWriteLeaveOldOrNewValues) {
  for (int round = 0; round < 3; ++round) {
    std::vector<std::unique_ptr<ztl::test::ChildProcess>> writers;
    for (int id = 0; id < 2; ++id) writers.push_back(StartWriter(id, 0, 256 * 1024));
    // Killed only once they are writing: a loaded machine may take longer
    // than the pause below just to start them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    HKEY key = nullptr;
    while (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Contention", 0, KEY_READ, &key) != ERROR_SUCCESS &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (key) RegCloseKey(key);
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + 37 * round));
    writers.clear();  // killed and reaped
    ExpectWholeValues(256 * 1024, 0);
  }
}

}  // namespace
