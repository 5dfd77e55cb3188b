// Files mapped into memory: the bytes a view shows, and the error codes of
// each call as Windows gives them.
#include <ztlogger/platform/os/FileMapping.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/WideText.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/MappedFile.h>

namespace ztl {
namespace {

using test::TestDir;

HANDLE OpenForReading(const String& path) {
  return CreateFileW(oswide::FromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The handle a call gave, or its last error when it gave none.
DWORD ErrorOf(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : GetLastError(); }

class FileMapping : public ::testing::Test {
 protected:
  String Write(const String& name, const String& bytes) {
    test::WriteFileBytes(dir.File(name), bytes);
    return dir.File(name);
  }
  TestDir dir;
};

TEST_F(FileMapping, AViewShowsTheFileAndOutlivesBothHandles) {
  const String bytes = "Detailed map of segments\r\n" + String(70000, 'x') + "end";
  HANDLE file = OpenForReading(Write("a.map", bytes));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), bytes.size());
  EXPECT_EQ(high, 0u);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  const auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(String(view, bytes.size()), bytes);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
}

TEST_F(FileMapping, ACopyViewTakesWritesThatTheFileNeverSees) {
  const String path = Write("a.map", "abc");
  HANDLE file = OpenForReading(path);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  view[0] = 'X';
  EXPECT_EQ(String(view, 3), "Xbc");
  EXPECT_EQ(test::ReadFileBytes(path), "abc");
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
}

TEST_F(FileMapping, OpeningFailsWithTheWindowsCodes) {
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const std::pair<String, DWORD> cases[] = {
      {"", ERROR_PATH_NOT_FOUND},
      {dir.File("none.map"), ERROR_FILE_NOT_FOUND},
      {dir.File("none/a.map"), ERROR_PATH_NOT_FOUND},
      {dir.Path(), ERROR_ACCESS_DENIED},
      {dir.File("fifo"), ERROR_NOT_SUPPORTED},  // answered at once, no writer awaited
  };
  for (const auto& [path, error] : cases) EXPECT_EQ(ErrorOf(OpenForReading(path)), error) << path;
  const std::u16string name = oswide::FromUtf8(Write("a.map", "abc"));
  EXPECT_EQ(ErrorOf(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
            ERROR_NOT_SUPPORTED);
  EXPECT_EQ(ErrorOf(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr)),
            ERROR_NOT_SUPPORTED);
  EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// The services read files by name through one opener: a FIFO named as a
// message module, an event log or any file read whole is refused at once,
// never waited on for a writer.
TEST_F(FileMapping, TheServicesRefuseAFifoAtOnce) {
  const String fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(LoadLibraryExW(oswide::FromUtf8(fifo).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  String bytes = "left";
  EXPECT_EQ(os::ReadWholeFile(fifo, bytes), ENODEV);
  EXPECT_EQ(os::ReadWholeFile(dir.Path(), bytes), EISDIR);
  EXPECT_EQ(os::ReadWholeFile(Write("three", "abc"), bytes, 2), EFBIG);
  ASSERT_EQ(os::ReadWholeFile(dir.File("three"), bytes, 3), 0);
  EXPECT_EQ(bytes, "abc");
  std::filesystem::create_directories(os::EventLogFolder());
  ASSERT_EQ(::mkfifo((os::EventLogFolder() + "/application.db").c_str(), 0600), 0);
  EXPECT_EQ(OpenEventLogW(nullptr, u"Application"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_EVENTLOG_FILE_CORRUPT);
}

TEST_F(FileMapping, MappingAndViewingFailWithTheWindowsCodes) {
  HANDLE file = OpenForReading(Write("a.map", String(10000, 'x')));
  HANDLE empty = OpenForReading(Write("empty.map", ""));
  HANDLE pseudo = OpenForReading("/proc/self/mem");  // given as empty, unreadable at 0
  const char16_t name[] = u"Local\\map";
  EXPECT_EQ(ErrorOf(CreateFileMappingW(nullptr, nullptr, PAGE_READONLY, 0, 0, nullptr)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ErrorOf(CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ErrorOf(CreateFileMappingW(file, nullptr, 0x40, 0, 0, nullptr)), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ErrorOf(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 10001, nullptr)), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(ErrorOf(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, name)), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(ErrorOf(CreateFileMappingW(empty, nullptr, PAGE_READONLY, 0, 0, nullptr)), ERROR_FILE_INVALID);
  EXPECT_EQ(ErrorOf(CreateFileMappingW(pseudo, nullptr, PAGE_READONLY, 0, 0, nullptr)), ERROR_READ_FAULT);

  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  EXPECT_EQ(MapViewOfFile(file, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(mapping, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 1, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 10001), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // A view from the second granule on shows the file from there.
  const auto* tail = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, system.dwAllocationGranularity, 0));
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail[10000 - system.dwAllocationGranularity - 1], 'x');
  EXPECT_TRUE(UnmapViewOfFile(tail));
  EXPECT_FALSE(UnmapViewOfFile(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  for (HANDLE handle : {mapping, file, empty, pseudo}) CloseHandle(handle);
}

TEST_F(FileMapping, AMappedFileGivesTheBytesOrRaisesWithTheReason) {
  EXPECT_EQ(TMappedFile(Write("a.map", "abc")).Bytes(), "abc");
  EXPECT_TRUE(TMappedFile(Write("empty.map", "")).Bytes().empty());
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const std::pair<String, String> failures[] = {{dir.File("none.map"), "cannot find the file"},
                                                {dir.File("fifo"), "not a regular file"},
                                                {"/proc/self/mem", "cannot read"}};
  for (const auto& [path, reason] : failures) {
    try {
      TMappedFile mapped(path);
      ADD_FAILURE() << path << " was mapped";
    } catch (const EFOpenError& e) {
      EXPECT_NE(e.Message().find(path), String::npos) << e.Message();
      EXPECT_NE(e.Message().find(reason), String::npos) << e.Message();
    }
  }
}

}  // namespace
}  // namespace ztl
