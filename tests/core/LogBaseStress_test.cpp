// Many writers, one log: threads of this process and separate processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "tests/core/LogFiles.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

using test::ReadFileBytes;
using test::TestDir;

constexpr int kValuesPerWriter = 5000;

class TOpenLog : public TZTLogBase {
 public:
  using TZTLogBase::TZTLogBase;
  using TZTLogBase::SetFormatting;
};

// The values of one writer; logwriter_helper makes the same ones.
String Value(int writer, int n) {
  char value[96];
  std::snprintf(value, sizeof value, "w%d-%05d-%s", writer, n, "0123456789abcdefghijklmnopqrstuvwxyz");
  return value;
}

std::map<String, int> ExpectedValues(int writers) {
  std::map<String, int> values;
  for (int w = 0; w < writers; ++w)
    for (int n = 0; n < kValuesPerWriter; ++n) values[Value(w, n)] = 1;
  return values;
}

// Every value once, each on a line of its own: nothing torn or interleaved.
void ExpectTextLogHoldsEachValueOnce(const String& bytes, int writers) {
  std::map<String, int> found;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    ASSERT_NE(end, String::npos) << "the log ends inside a value";
    ++found[bytes.substr(start, end - start)];
    start = end + 2;
  }
  EXPECT_EQ(found.size(), static_cast<size_t>(writers * kValuesPerWriter));
  EXPECT_TRUE(found == ExpectedValues(writers)) << "values missing, doubled or broken";
}

void ExpectXMLLogHoldsEachValueOnce(const String& bytes, int writers) {
  ASSERT_EQ(bytes.compare(0, test::kXMLHeader.size(), test::kXMLHeader), 0);
  test::ParsedXMLLog parsed = test::ParseXMLLog(bytes);
  ASSERT_TRUE(parsed.WellFormed) << parsed.Error;
  EXPECT_EQ(parsed.Root, "DATA");
  std::map<String, int> found;
  for (const auto& [name, text] : parsed.Elements) {
    EXPECT_EQ(name, "V");
    ++found[test::ElementValue(text)];
  }
  EXPECT_EQ(parsed.Elements.size(), static_cast<size_t>(writers * kValuesPerWriter));
  EXPECT_TRUE(found == ExpectedValues(writers)) << "values missing, doubled or broken";
}

void ExpectLogHoldsEachValueOnce(TZTLogFormatting form, const String& path, int writers) {
  String bytes = ReadFileBytes(path);
  if (form == ztlfText)
    ExpectTextLogHoldsEachValueOnce(bytes, writers);
  else
    ExpectXMLLogHoldsEachValueOnce(bytes, writers);
}

class LogBaseStressThreads : public ::testing::TestWithParam<TZTLogFormatting> {
 protected:
  String LogPath() const { return dir.File(GetParam() == ztlfText ? "stress.log" : "stress.xml"); }
  TestDir dir;
};

TEST_P(LogBaseStressThreads, EightThreadsWithComponentsOfTheirOwn) {
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w) {
    threads.emplace_back([this, w] {
      TOpenLog log(nullptr);
      log.SetFormatting(GetParam());
      log.SetLogFile(LogPath());
      String end = GetParam() == ztlfText ? "\r\n" : "";
      for (int n = 0; n < kValuesPerWriter; ++n) log.WriteAsString("V", Value(w, n) + end);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ExpectLogHoldsEachValueOnce(GetParam(), LogPath(), kThreads);
}

TEST_P(LogBaseStressThreads, EightThreadsSharingOneComponent) {
  constexpr int kThreads = 8;
  TOpenLog log(nullptr);
  log.SetFormatting(GetParam());
  log.SetLogFile(LogPath());
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w) {
    threads.emplace_back([&log, w] {
      String end = log.Formatting() == ztlfText ? "\r\n" : "";
      for (int n = 0; n < kValuesPerWriter; ++n) log.WriteAsString("V", Value(w, n) + end);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ExpectLogHoldsEachValueOnce(GetParam(), LogPath(), kThreads);
}

TEST_P(LogBaseStressThreads, FourProcesses) {
  constexpr int kProcesses = 4;
  const String helper = test::HelperProgram("logwriter_helper");
  ASSERT_TRUE(FileExists(helper)) << helper;
  const String form = GetParam() == ztlfText ? "text" : "xml";
  const String start = dir.File("start");
  std::vector<std::unique_ptr<test::ChildProcess>> writers;
  for (int w = 0; w < kProcesses; ++w)
    writers.push_back(std::make_unique<test::ChildProcess>(
        std::vector<String>{helper, LogPath(), form, std::to_string(w), std::to_string(kValuesPerWriter), start}));
  // All writers are loaded and waiting: let them go together.
  test::WriteFileBytes(start, "");
  for (auto& writer : writers) {
    const test::CommandRun run = writer->Wait();
    EXPECT_EQ(run.status, 0) << "writer process failed, signal " << run.signal << "\n" << run.err;
  }
  ExpectLogHoldsEachValueOnce(GetParam(), LogPath(), kProcesses);
}

INSTANTIATE_TEST_SUITE_P(BothForms, LogBaseStressThreads, ::testing::Values(ztlfText, ztlfXML),
                         [](const ::testing::TestParamInfo<TZTLogFormatting>& info) {
                           return info.param == ztlfText ? String("Text") : String("XML");
                         });

}  // namespace
}  // namespace ztl
