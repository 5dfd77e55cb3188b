// Writers and readers of one event log in processes of their own, some
// writers killed midway: what a writer was told is written is there once,
// record numbers have no gaps, and no reader sees a torn record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/eventlog/Api.h>

namespace {

namespace fs = std::filesystem;

// A helper process with its standard output on a pipe.
struct Helper {
  pid_t pid = -1;
  int out = -1;
  std::string received;
};

Helper Start(std::vector<std::string> arguments) {
  const std::string path = (fs::read_symlink("/proc/self/exe").parent_path() / "evtlog_helper").string();
  int pipeFds[2];
  EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  Helper helper;
  helper.pid = fork();
  if (helper.pid == 0) {
    dup2(pipeFds[1], 1);
    std::vector<char*> argv = {const_cast<char*>("evtlog_helper")};
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  helper.out = pipeFds[0];
  return helper;
}

// Reads what a helper printed so far, or until it ends.
void Drain(Helper& helper, bool toEnd) {
  char buffer[4096];
  for (;;) {
    if (!toEnd) {
      pollfd p{helper.out, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return;
    }
    const ssize_t got = read(helper.out, buffer, sizeof buffer);
    if (got <= 0) return;
    helper.received.append(buffer, static_cast<size_t>(got));
  }
}

int Wait(Helper& helper) {
  Drain(helper, true);
  close(helper.out);
  int status = 0;
  waitpid(helper.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
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
  std::vector<Helper> readers = {Start({"read", stop}), Start({"read", stop})};
  std::vector<Helper> writers;
  // The two that are killed are given more than they can write before that.
  for (int i = 0; i < kWriters; ++i)
    writers.push_back(Start({"write", "w" + std::to_string(i), std::to_string(i < 2 ? kEntries * 100 : kEntries)}));

  // Writers 0 and 1 are killed once they have written a few thousand.
  std::set<std::string> acknowledged;
  for (int victim = 0; victim < 2; ++victim) {
    Helper& writer = writers[static_cast<size_t>(victim)];
    while (std::count(writer.received.begin(), writer.received.end(), '\n') < 2000 + 1000 * victim) {
      // Generous: the machine may be busy with other builds and tests.
      pollfd p{writer.out, POLLIN, 0};
      ASSERT_GT(poll(&p, 1, 30000), 0) << "writer " << victim << " stalled";
      Drain(writer, false);
    }
    kill(writer.pid, SIGKILL);
  }
  for (int i = 0; i < kWriters; ++i) {
    const int status = Wait(writers[static_cast<size_t>(i)]);
    EXPECT_EQ(status, i < 2 ? -SIGKILL : 0) << "writer " << i;
    Acknowledged("w" + std::to_string(i), writers[static_cast<size_t>(i)].received, acknowledged);
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
