// Writers and readers of one event log in processes of their own, some
// writers killed midway: what a writer was told is written is there once,
// record numbers have no gaps, and no reader sees a torn record.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/eventlog/Api.h>

namespace {

// A helper process; what it prints is collected.
using Helper = std::unique_ptr<ztl::test::ChildProcess>;

Helper Start(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), ztl::test::HelperProgram("evtlog_helper"));
  return std::make_unique<ztl::test::ChildProcess>(arguments);
}

// The exit status, or minus the signal that ended it.
int Wait(Helper& helper) {
  const ztl::test::CommandRun run = helper->Wait();
  return run.signal != 0 ? -run.signal : run.status;
}

// The entries a writer was told were written: "ID:i" for each line.
void Acknowledged(const std::string& id, const std::string& output, std::set<std::string>& entries) {
  size_t start = 0;
  for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1)
    entries.insert(id + ":" + output.substr(start, end - start));
}

TEST(EventLogReliability, KilledWritersLoseNothingAcknowledged) {
  ztl::test::TestDir dir;
  const std::string stop = dir.File("stop");
  constexpr int kWriters = 4;
  constexpr long kEntries = 10000;
  std::vector<Helper> readers;
  for (int i = 0; i < 2; ++i) readers.push_back(Start({"read", stop}));
  std::vector<Helper> writers;
  // The two that are killed are given more than they can write before that.
  for (int i = 0; i < kWriters; ++i)
    writers.push_back(Start({"write", "w" + std::to_string(i), std::to_string(i < 2 ? kEntries * 100 : kEntries)}));

  // Writers 0 and 1 are killed once they have written a few thousand.
  std::set<std::string> acknowledged;
  for (int victim = 0; victim < 2; ++victim) {
    Helper& writer = writers[static_cast<size_t>(victim)];
    // Generous: the machine may be busy with other builds and tests.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::count(writer->Out().begin(), writer->Out().end(), '\n') < 2000 + 1000 * victim) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "writer " << victim << " stalled";
      if (!writer->Collect(std::chrono::milliseconds(100))) {
        const ztl::test::CommandRun run = writer->Wait();
        FAIL() << "writer " << victim << " ended early, status " << run.status << ":\n" << run.err;
      }
    }
    writer->Signal(SIGKILL);
  }
  for (int i = 0; i < kWriters; ++i) {
    Helper& writer = writers[static_cast<size_t>(i)];
    const int status = Wait(writer);
    EXPECT_EQ(status, i < 2 ? -SIGKILL : 0) << "writer " << i;
    Acknowledged("w" + std::to_string(i), writer->Out(), acknowledged);
  }
  ztl::test::WriteFileBytes(stop, "");
  for (Helper& reader : readers) EXPECT_EQ(Wait(reader), 0) << "a reader saw a torn record";

  // Every record once, numbered 1, 2, 3, ...
  HANDLE log = OpenEventLogW(nullptr, u"Application");
  ASSERT_NE(log, nullptr);
  std::map<std::string, int> seen;
  std::vector<BYTE> buffer(0x10000);
  DWORD read = 0, needed = 0, expected = 1;
  while (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &read, &needed)) {
    for (DWORD at = 0; at < read;) {
      EVENTLOGRECORD head;
      std::memcpy(&head, buffer.data() + at, sizeof head);
      ASSERT_EQ(head.RecordNumber, expected++);
      std::string text;
      for (DWORD i = at + head.StringOffset; buffer[i]; i += 2) text += static_cast<char>(buffer[i]);
      ++seen[text];
      at += head.Length;
    }
  }
  EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  CloseEventLog(log);
  for (const auto& [entry, count] : seen) EXPECT_EQ(count, 1) << entry;
  for (const std::string& entry : acknowledged) EXPECT_EQ(seen.count(entry), 1u) << entry << " is missing";
  EXPECT_GE(seen.size(), acknowledged.size());
  EXPECT_LE(seen.size(), acknowledged.size() + 2);  // at most the entry each killed writer was reporting
}

}  // namespace
