#include <ztlogger/platform/os/messages/PeFile.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Handles.h>
#include <ztlogger/platform/os/Sync.h>
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace {

using ztl::test::TestDir;

std::u16string Format(const std::u16string& text, std::vector<std::u16string> inserts, DWORD flags = 0) {
  std::vector<DWORD_PTR> arguments;
  for (const auto& s : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(s.c_str()));
  LPWSTR buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY | flags, text.c_str(),
      0, 0, reinterpret_cast<LPWSTR>(&buffer), 0, reinterpret_cast<va_list*>(arguments.data()));
  std::u16string result = buffer ? std::u16string(buffer, length) : u"<failed>";
  LocalFree(buffer);
  return result;
}

TEST(FormatMessage, InsertsAndEscapes) {
  EXPECT_EQ(Format(u"%1 and %2!s!, %1", {u"a", u"b"}), u"a and b, a");
  EXPECT_EQ(Format(u"line\nnext\r\nlast\r", {}), u"line\r\nnext\r\nlast\r\n");
  EXPECT_EQ(Format(u"100%% %t%r%n%. %!x", {}), u"100% \t\r\r\n. !x");
  EXPECT_EQ(Format(u"stop%0 here", {}), u"stop");
  EXPECT_EQ(Format(u"[%1!5s!][%1!-3.1s!]", {u"ab"}), u"[   ab][a  ]");
  EXPECT_EQ(Format(u"keep %1 and %2", {u"x"}, FORMAT_MESSAGE_IGNORE_INSERTS), u"keep %1 and %2");
  EXPECT_EQ(Format(u"a b c d e f", {}, 3), u"a b\r\nc d\r\ne f");

  std::vector<DWORD_PTR> numbers = {42, static_cast<DWORD_PTR>(-5), 255};
  WCHAR out[64];
  ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, u"%1!04d! %2!d! %3!X!", 0, 0,
                           out, 64, reinterpret_cast<va_list*>(numbers.data())),
            0u);
  EXPECT_EQ(std::u16string(out), u"0042 -5 FF");
}

TEST(FormatMessage, FailsWhereWindowsDoes) {
  WCHAR out[8];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"trailing %", 0, 0, out, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"%1", 0, 0, out, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"%0", 0, 0, out, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_NO_WORK_DONE);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"toolong", 0, 0, out, 4, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(out), u"too");
  EXPECT_EQ(FormatMessageW(0, u"x", 0, 0, out, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  LPWSTR text = nullptr;
  ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, ERROR_HANDLE_EOF, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  EXPECT_EQ(std::u16string(text), u"Reached the end of the file.\r\n");
  LocalFree(text);
}

// A caller that knows how many inserts it has never lets a message read
// beyond them: the rest stay as written.
TEST(FormatMessage, BoundedInsertsStayAsWritten) {
  const std::u16string one = u"one";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(one.c_str())};
  EXPECT_EQ(ztl::os::FormatMessageText(u"%1 %2 %3!d! %99", 0, arguments, 1), u"one %2 %3!d! %99");
}

// A '*' takes the next insert as a number, as on Windows, and no width makes
// a text beyond the 64K characters FormatMessageW hands out: that fails.
// The counted entry never reads past its array, not even for a '*'.
TEST(FormatMessage, StarWidthsAreNumbersAndTheOutputIsBounded) {
  const std::u16string x = u"x";
  const auto text = reinterpret_cast<DWORD_PTR>(x.c_str());
  auto format = [](const char16_t* pattern, std::vector<DWORD_PTR> arguments, DWORD size = 0) {
    std::vector<WCHAR> out(size ? size : 1);
    LPWSTR allocated = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_STRING | (size ? 0 : FORMAT_MESSAGE_ALLOCATE_BUFFER);
    const DWORD length =
        ztl::os::FormatMessageFromArray(flags, pattern, 0, 0, size ? out.data() : reinterpret_cast<LPWSTR>(&allocated),
                                        size, arguments.data(), arguments.size());
    std::u16string result = length ? std::u16string(size ? out.data() : allocated, length) : u"<failed>";
    LocalFree(allocated);
    return result;
  };
  EXPECT_EQ(format(u"[%1!*s!]", {4, text}), u"[   x]");
  EXPECT_EQ(format(u"[%1!*s!]", {static_cast<DWORD_PTR>(-3), text}), u"[x  ]");
  EXPECT_EQ(format(u"[%1!*.*s!]", {3, 1, reinterpret_cast<DWORD_PTR>(u"yz")}), u"[  y]");
  EXPECT_EQ(format(u"%1!200d!", {7}), std::u16string(199, u' ') + u"7");
  EXPECT_EQ(format(u"%1!*s!", {65536, text}), u"<failed>");
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(format(u"%1!*d!", {0x7FFFFFFF, 1}, 100000), u"<failed>");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(format(u"%1!*s!", {65535, text}).size(), 65535u);
  EXPECT_EQ(format(u"%2 %2!*.*s! %3", {text, text}), u"x %2!*.*s! %3");
}

// Texts of message modules are taken apart once; formatting them so must
// give what formatting the text itself gives.
TEST(FormatMessage, PreparedTemplatesFormatAsTheirText) {
  const std::u16string one = u"one", two = u"two";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(one.c_str()), reinterpret_cast<DWORD_PTR>(two.c_str()), 0};
  for (const std::u16string text :
       {u"User %1 logged on from %2.\r\n", u"%2%1%2!s!", u"a\rb\nc\r\n%n%r%t%%%.%!", u"%3 stops%0 here", u"no inserts",
        u"%1", u"%1%2 %1%2 %1%2 %1%2 %1%2 %1%2 %1%2 %1%2 %1%2 %1%2 (more inserts than are measured ahead)"}) {
    const ztl::os::PreparedMessage prepared = ztl::os::PrepareMessage(text);
    ASSERT_TRUE(prepared.usable) << ztl::unicode::Utf16ToUtf8(text);
    EXPECT_EQ(ztl::os::FormatPreparedForTesting(prepared, arguments), Format(text, {one, two, u"(null)"}));
  }
  for (const char16_t* text : {u"%1!d!", u"ends in %", u"%1!s"})
    EXPECT_FALSE(ztl::os::PrepareMessage(text).usable) << ztl::unicode::Utf16ToUtf8(text);
}

TEST(ExpandEnvironmentStrings, ExpandsKnownNamesOnly) {
  setenv("ZTL_EXPAND_TEST", "value", 1);
  WCHAR out[64];
  const std::u16string source = u"%zTl_ExPaNd_TeSt%/%NOT_SET_ANYWHERE%/%ZTL_EXPAND_TEST%%/50%";
  const DWORD needed = ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
  EXPECT_EQ(ExpandEnvironmentStringsW(source.c_str(), out, 64), needed);
  EXPECT_EQ(std::u16string(out), u"value/%NOT_SET_ANYWHERE%/value%/50%");
  EXPECT_EQ(needed, std::u16string(out).size() + 1);
  out[0] = u'#';
  EXPECT_EQ(ExpandEnvironmentStringsW(source.c_str(), out, 3), needed);
  EXPECT_EQ(out[0], u'#');
  unsetenv("ZTL_EXPAND_TEST");
}

// A PE32+ module whose message table (language 0x409) has the given blocks:
// each a first id and its entries' texts, written as UTF-16 when the text
// starts with 'w', else as ANSI.
std::string ModuleWithBlocks(const std::vector<std::pair<DWORD, std::vector<std::string>>>& blocks) {
  std::string table;
  auto put = [](std::string& to, size_t at, uint32_t value, size_t bytes) {
    if (to.size() < at + bytes) to.resize(at + bytes);
    for (size_t i = 0; i < bytes; ++i) to[at + i] = static_cast<char>(value >> (8 * i));
  };
  put(table, 0, static_cast<uint32_t>(blocks.size()), 4);
  size_t entries = 4 + 12 * blocks.size();
  for (size_t b = 0; b < blocks.size(); ++b) {
    put(table, 4 + 12 * b, blocks[b].first, 4);
    put(table, 8 + 12 * b, blocks[b].first + static_cast<DWORD>(blocks[b].second.size()) - 1, 4);
    put(table, 12 + 12 * b, static_cast<uint32_t>(entries), 4);
    for (const std::string& text : blocks[b].second) {
      const bool wide = text.front() == 'w';
      const size_t bytes = (text.size() + 1) * (wide ? 2 : 1);
      const size_t length = (4 + bytes + 3) & ~size_t{3};
      put(table, entries, static_cast<uint32_t>(length), 2);
      put(table, entries + 2, wide ? 1 : 0, 2);
      for (size_t i = 0; i < text.size(); ++i) put(table, entries + 4 + i * (wide ? 2 : 1), uint8_t(text[i]), 1);
      put(table, entries + length - 1, 0, 1);
      entries += length;
    }
  }
  // Resource directories: type 11 -> name 1 -> language 0x409 -> data.
  std::string resources;
  put(resources, 14, 1, 2);
  put(resources, 16, 11, 4);
  put(resources, 20, 0x80000018, 4);
  put(resources, 0x18 + 14, 1, 2);
  put(resources, 0x18 + 16, 1, 4);
  put(resources, 0x18 + 20, 0x80000030, 4);
  put(resources, 0x30 + 14, 1, 2);
  put(resources, 0x30 + 16, 0x409, 4);
  put(resources, 0x30 + 20, 0x48, 4);
  put(resources, 0x48, 0x1000 + 0x58, 4);
  put(resources, 0x4C, static_cast<uint32_t>(table.size()), 4);
  resources.resize(0x58);
  resources += table;
  std::string pe;
  put(pe, 0, 0x5A4D, 2);
  put(pe, 0x3C, 0x40, 4);
  put(pe, 0x40, 0x4550, 4);
  put(pe, 0x44 + 2, 1, 2);      // one section
  put(pe, 0x44 + 16, 0xF0, 2);  // optional header size
  const size_t optional = 0x58;
  put(pe, optional, 0x20B, 2);
  put(pe, optional + 108, 16, 4);
  put(pe, optional + 112 + 16, 0x1000, 4);
  put(pe, optional + 112 + 20, static_cast<uint32_t>(resources.size()), 4);
  const size_t section = optional + 0xF0;
  put(pe, section + 8, static_cast<uint32_t>(resources.size()), 4);
  put(pe, section + 12, 0x1000, 4);
  put(pe, section + 16, static_cast<uint32_t>(resources.size()), 4);
  put(pe, section + 20, 0x200, 4);
  pe.resize(0x200);
  return pe + resources;
}

// Ids are found by searching the blocks: every id of a long block of
// entries of differing lengths, a block after it, and where blocks overlap,
// the first that holds the id.
TEST(MessageTables, FindsEachIdInItsBlock) {
  std::vector<std::string> texts;
  for (int i = 0; i < 1000; ++i) texts.push_back((i % 3 ? "wide " : "narrow ") + std::string(i % 7, '.'));
  const std::string module = ModuleWithBlocks({{1, texts}, {5000, {"a", "wb"}}, {10, {"again"}}});
  auto table = ztl::os::ParseMessageTables(reinterpret_cast<const BYTE*>(module.data()), module.size());
  DWORD error = 0;
  for (DWORD id = 1; id <= 1000; ++id) {
    const std::u16string* text = ztl::os::FindMessage(*table, id, 0, error);
    ASSERT_NE(text, nullptr) << id;
    EXPECT_EQ(ztl::unicode::Utf16ToUtf8(*text), texts[id - 1]) << id;
  }
  const std::u16string* text = ztl::os::FindMessage(*table, 5001, 0x409, error);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(*text, u"wb");
  EXPECT_EQ(*ztl::os::FindMessage(*table, 10, 0, error), ztl::unicode::Utf8ToUtf16(texts[9]));
  EXPECT_EQ(ztl::os::FindMessage(*table, 1001, 0, error), nullptr);
  EXPECT_EQ(error, ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(ztl::os::FindMessage(*table, 4999, 0, error), nullptr);
  EXPECT_EQ(table->Ids(0x409).size(), 1002u);
}

class MessageFile : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(ZTL_TEST_MESSAGES_SECOND)
    GTEST_SKIP() << "message files not built: the mingw-w64 binutils are missing (scripts/deps installs them)";
#endif
  }
  static std::u16string Path(const char* path) {
    return std::u16string(path, path + std::char_traits<char>::length(path));
  }
  static std::u16string Message(HMODULE module, DWORD id, DWORD language, std::vector<std::u16string> inserts) {
    std::vector<DWORD_PTR> arguments;
    for (const auto& s : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(s.c_str()));
    LPWSTR text = nullptr;
    const DWORD length = FormatMessageW(0x2900, module, id, language, reinterpret_cast<LPWSTR>(&text), 0,
                                        reinterpret_cast<va_list*>(arguments.data()));
    std::u16string result = length ? std::u16string(text, length) : u"";
    LocalFree(text);
    return result;
  }
  TestDir dir;
};

#if defined(ZTL_TEST_MESSAGES_SECOND)
TEST_F(MessageFile, FormatsMessagesOfBuiltModules) {
  std::vector<const char*> files = {ZTL_TEST_MESSAGES_SECOND};
#if defined(ZTL_TEST_MESSAGES_SECOND32)
  files.push_back(ZTL_TEST_MESSAGES_SECOND32);
#endif
  for (const char* file : files) {
    SCOPED_TRACE(file);
    HMODULE module = LoadLibraryExW(Path(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(module) & 1, 1u);
    EXPECT_EQ(Message(module, 1000, 0, {u"ann", u"host"}), u"User ann logged on from host.\r\n");
    EXPECT_EQ(Message(module, 1000, 0x407, {u"ann", u"host"}), u"Benutzer ann hat sich von host angemeldet.\r\n");
    EXPECT_EQ(Message(module, 0xC0000100u, 0x409, {u"disk"}), u"Bad thing: disk");
    EXPECT_EQ(Message(module, 4242, 0, {}), u"");
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(Message(module, 1000, 0x40C, {}), u"");
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST_F(MessageFile, RefusesWhatIsNoMessageFile) {
  EXPECT_EQ(LoadLibraryExW(u"/no/such/file.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LoadLibraryExW(Path(ZTL_TEST_MESSAGES_SECOND).c_str(), nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  const std::string text = dir.File("text.dll");
  ztl::test::WriteFileBytes(text, "MZ this is not a module at all");
  EXPECT_EQ(LoadLibraryExW(Path(text.c_str()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

// A module rewritten in place is read again, not served from the cache.
TEST_F(MessageFile, ReadsAChangedFileAgain) {
  const std::string copy = dir.File("copy.dll");
  ztl::test::WriteFileBytes(copy, ztl::test::ReadFileBytes(ZTL_TEST_MESSAGES_SECOND));
  HMODULE module = LoadLibraryExW(Path(copy.c_str()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(Message(module, 1000, 0, {u"a", u"b"}), u"");
  FreeLibrary(module);
  ztl::test::WriteFileBytes(copy, ztl::test::ReadFileBytes(ZTL_TEST_MESSAGES_FIRST));
  module = LoadLibraryExW(Path(copy.c_str()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Message(module, 1000, 0, {u"a", u"b"}), u"");
  EXPECT_EQ(Message(module, 1, 0, {u"x"}), u"Only in the first file: x.\r\n");
  FreeLibrary(module);
}

// The module a thread formatted from last is kept for its next message,
// but not past its FreeLibrary, even when another module gets its handle's
// value.
TEST_F(MessageFile, AFreedModuleIsNotServedFromWhatWasKept) {
  const std::u16string first = Path(ZTL_TEST_MESSAGES_FIRST);
  HMODULE module = LoadLibraryExW(Path(ZTL_TEST_MESSAGES_SECOND).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Message(module, 1000, 0, {u"a", u"b"}), u"User a logged on from b.\r\n");
  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_EQ(Message(module, 1000, 0, {u"a", u"b"}), u"");
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // A freed slot is taken again with the next generation of its value,
  // which comes round after some hundred loads.
  HMODULE other = nullptr;
  for (int i = 0; i < 1024 && other != module; ++i) {
    if (other) FreeLibrary(other);
    other = LoadLibraryExW(first.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(other, nullptr);
  }
  ASSERT_EQ(other, module);
  EXPECT_EQ(Message(other, 1000, 0, {u"a", u"b"}), u"");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(Message(other, 1, 0, {u"x"}), u"Only in the first file: x.\r\n");
  FreeLibrary(other);
}

// Modules are found without the handle table's lock: one freed meanwhile,
// or whose handle's slot went to another object, is refused.
using MessageFileThreads = MessageFile;
TEST_F(MessageFileThreads, FormatsWhileOtherThreadsLoadAndFree) {
  const std::u16string path = Path(ZTL_TEST_MESSAGES_SECOND);
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i)
        if (Message(module, 1000, 0, {u"ann", u"host"}) != u"User ann logged on from host.\r\n") ++wrong;
    });
  threads.emplace_back([&] {
    while (!stop) {
      HMODULE other = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
      if (!other || Message(other, 1000, 0x407, {u"a", u"b"}).empty()) ++wrong;
      FreeLibrary(other);
      if (!Message(other, 1000, 0, {u"a", u"b"}).empty() || GetLastError() != ERROR_INVALID_HANDLE) ++wrong;
    }
  });
  threads[0].join();
  threads[1].join();
  stop = true;
  threads[2].join();
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(FreeLibrary(module));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // may take the freed slot
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Message(static_cast<HMODULE>(event), 1000, 0, {u"a", u"b"}), u"");
  EXPECT_EQ(Message(reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(event) | 1), 1000, 0, {u"a", u"b"}), u"");
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(event);
}
#endif

}  // namespace
