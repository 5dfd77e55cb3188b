// Failures of the file layer and the waiting between writers, clearing and
// holders of the file's share lock in other processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "tests/core/LogFiles.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

using namespace std::chrono_literals;
using test::kXMLEnd;
using test::kXMLHeader;
using test::ReadFileBytes;
using test::TestDir;
using test::WriteFileBytes;
using test::XMLElementBytes;

class TOpenLog : public TZTLogBase {
 public:
  using TZTLogBase::TZTLogBase;
};

// Runs work on a thread of its own and waits for it. A write lock that a
// failed write kept would make the work wait forever; the test then cannot
// go on safely (the thread uses its objects), so it stops the program.
void RunOnAnotherThread(const std::function<void()>& work, std::chrono::seconds limit = 10s) {
  auto task = std::make_shared<std::packaged_task<void()>>(work);
  std::future<void> done = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "a write on another thread did not finish: the log write lock is still held\n");
    std::abort();
  }
  done.get();  // rethrows what the work raised
}

// A holder of the file's share lock that is not this process's log write
// lock: an open file description of its own, as another process has.
class ForeignHolder {
 public:
  explicit ForeignHolder(const String& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) Release();
  }
  ~ForeignHolder() { Release(); }
  ForeignHolder(const ForeignHolder&) = delete;
  ForeignHolder& operator=(const ForeignHolder&) = delete;

  bool Holds() const { return fd_ >= 0; }
  void Append(const String& bytes) {
    ::lseek(fd_, 0, SEEK_END);
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class LogBaseFailureThreads : public ::testing::Test {
 protected:
  // After a failure the lock must be free and the component usable: another
  // thread writes through it to a good file.
  void ExpectUsableFromAnotherThread(TZTLogBase& log) {
    String good = dir.File("good" + std::to_string(++goodFiles) + ".log");
    log.SetLogFile(good);
    RunOnAnotherThread([&] { log.WriteAsString("N", "after"); });
    String bytes = ReadFileBytes(good);
    EXPECT_EQ(bytes, log.Formatting() == ztlfText ? String("after")
                                                  : kXMLHeader + XMLElementBytes("N", "after") + kXMLEnd);
  }

  TestDir dir;
  int goodFiles = 0;
};

TEST_F(LogBaseFailureThreads, EmptyLogFileRaisesTheFileLayersError) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    log.SetLogFile("");
    EXPECT_THROW(log.WriteAsString("N", "v"), EFCreateError);
    ExpectUsableFromAnotherThread(log);
  }
}

TEST_F(LogBaseFailureThreads, MissingFolderRaisesAndCreatesNothing) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    log.SetLogFile(dir.File("absent/x.log"));
    EXPECT_THROW(log.WriteAsString("N", "v"), EFCreateError);
    EXPECT_FALSE(DirectoryExists(dir.File("absent")));
    ExpectUsableFromAnotherThread(log);
  }
}

TEST_F(LogBaseFailureThreads, FolderAsLogFileRaisesAndLeavesTheFolder) {
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("logs.d")));
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    log.SetLogFile(dir.File("logs.d"));
    EXPECT_THROW(log.WriteAsString("N", "v"), EFCreateError);
    try {
      log.WriteAsString("N", "v");
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "\"" + dir.File("logs.d") + "\" is a directory, not a file");
    }
    EXPECT_TRUE(DirectoryExists(dir.File("logs.d")));
    ExpectUsableFromAnotherThread(log);
  }
}

TEST_F(LogBaseFailureThreads, SpecialFilesAreRefusedAtOnceAndClearLogLeavesThem) {
  const String fifo = dir.File("fifo.log");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    log.SetLogFile(fifo);
    // Waiting for a reader would hold the write lock of every log of the
    // process; the other logs must go on (checked after the raise).
    RunOnAnotherThread([&] {
      try {
        log.WriteAsString("N", "v");
        ADD_FAILURE() << "a FIFO was written as a log";
      } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("not a regular file"), String::npos) << e.Message();
      }
    });
    ExpectUsableFromAnotherThread(log);
  }
  // A character device made here (the null device), where the system lets
  // the test make one.
  const String device = dir.File("device.log");
  const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  for (const String& path : {fifo, device}) {
    if (path == device && !haveDevice) continue;
    TOpenLog log(nullptr);
    log.SetLogFile(path);
    RunOnAnotherThread([&] { log.ClearLog(); });
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path << " was deleted";
  }
}

// A limit of no bytes on the size of the files the process writes, while it
// lives: files open and lock as usual, then refuse every byte.
class NoFileGrowth {
 public:
  NoFileGrowth() {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    savedSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit none{0, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &none);
  }
  ~NoFileGrowth() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, savedSignal_);
  }
  NoFileGrowth(const NoFileGrowth&) = delete;
  NoFileGrowth& operator=(const NoFileGrowth&) = delete;

 private:
  rlimit saved_{};
  sighandler_t savedSignal_;
};

TEST_F(LogBaseFailureThreads, FailedWriteIntoTheFileRaisesAfterClosingIt) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    log.SetLogFile(dir.File("limited.log"));
    {
      NoFileGrowth limit;
      EXPECT_THROW(log.WriteAsString("N", "v"), EWriteError);
    }
    ExpectUsableFromAnotherThread(log);
  }
}

// In a child process with a mount namespace of its own: two logs on a
// 64 KiB file system that fills up. Exits 2 when no file system can be
// mounted here.
int FailedWritesOnAFullFileSystem(const String& folder) {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
    return 2;
  auto fail = [](const String& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  };
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    log.SetLogFile(folder + (form == ztlfText ? "/full.log" : "/full.xml"));
    log.WriteAsString("N", "first");
    const String before = ReadFileBytes(log.LogFile());
    // The rest of the space goes to another file; the log's last block still
    // has room for the start of a long value.
    const String filler = folder + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const String block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
    try {
      log.WriteAsString("N", String(20000, 'x'));
      return fail("a write into a full file system did not raise");
    } catch (const EWriteError&) {
    }
    if (ReadFileBytes(log.LogFile()) != before) return fail("the failed write left bytes behind");
    ::unlink(filler.c_str());
    log.WriteAsString("N", "third");
    const String after = ReadFileBytes(log.LogFile());
    if (form == ztlfText && after != "firstthird") return fail("text log: " + after);
    if (form == ztlfXML) {
      test::ParsedXMLLog parsed = test::ParseXMLLog(after);
      if (!parsed.WellFormed) return fail("XML log: " + parsed.Error + "\n" + after);
      if (parsed.Elements.size() != 2 || test::ElementValue(parsed.Elements[1].second) != "third")
        return fail("XML log: " + after);
    }
  }
  return 0;
}

TEST(LogBaseFull, AWriteFailingForWantOfSpaceLeavesTheLogAsItWas) {
  TestDir dir;
  const String folder = dir.File("small");
  ASSERT_TRUE(ForceDirectories(folder));
  const test::CommandRun run = test::RunInChild([&] { return FailedWritesOnAFullFileSystem(folder); });
  ASSERT_EQ(run.signal, 0) << "the child ended with a signal\n" << run.err;
  if (run.status == 2) GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(run.status, 0) << run.err;
}

#if defined(__linux__)
// Root writes read-only files anyway; the test takes that override away from
// the one thread that makes the write (capabilities are kept per thread).
bool DropFileOverridesOfThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
  return ::syscall(SYS_capset, &header, data) == 0;
}

TEST_F(LogBaseFailureThreads, ReadOnlyFileRaisesAndKeepsItsBytes) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    String path = dir.File("readonly.log");
    log.SetLogFile(path);
    WriteFileBytes(path, "kept");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

    bool refused = false;
    bool raised = false;
    RunOnAnotherThread([&] {
      if (!DropFileOverridesOfThisThread()) return;
      int probe = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
      refused = probe < 0;
      if (probe >= 0) ::close(probe);
      if (!refused) return;
      try {
        log.WriteAsString("N", "v");
      } catch (const EFOpenError&) {  // the file exists: opening it failed
        raised = true;
      }
    });
    if (!refused) GTEST_SKIP() << "this system lets the test write read-only files";
    EXPECT_TRUE(raised) << form;
    EXPECT_EQ(ReadFileBytes(path), "kept");

    // Writable again, the same component appends from yet another thread.
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    RunOnAnotherThread([&] { log.WriteAsString("N", "v"); });
    EXPECT_EQ(ReadFileBytes(path), form == ztlfText ? String("keptv") : "kept" + XMLElementBytes("N", "v") + kXMLEnd);
    ASSERT_TRUE(DeleteFile(path));
  }
}
#endif

// ---- waiting for other holders of the file --------------------------------

class LogBaseLockingThreads : public ::testing::Test {
 protected:
  TestDir dir;
};

TEST_F(LogBaseLockingThreads, WriterWaitsForAnotherProcessesWriteAndAppendsBehindIt) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    String path = dir.File(form == ztlfText ? "wait.log" : "wait.xml");
    log.SetLogFile(path);
    log.WriteAsString("N", "first");

    auto holder = std::make_unique<ForeignHolder>(path);
    ASSERT_TRUE(holder->Holds());
    std::atomic<bool> finished{false};
    std::future<void> writer = std::async(std::launch::async, [&] {
      log.WriteAsString("N", "second");
      finished = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(finished) << "the write did not wait for the holder of the file";
    holder->Append(form == ztlfText ? "foreign" : "");
    holder.reset();
    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(writer.get());

    String expected = form == ztlfText
                          ? String("firstforeignsecond")
                          : kXMLHeader + XMLElementBytes("N", "first") + XMLElementBytes("N", "second") + kXMLEnd;
    EXPECT_EQ(ReadFileBytes(path), expected);
  }
}

TEST_F(LogBaseLockingThreads, ClearLogWaitsForAWriteUnderWay) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    String path = dir.File("clear.log");
    log.SetLogFile(path);
    log.WriteAsString("N", "old");

    // The foreign holder keeps the write below under way (it holds the
    // process's write lock while it waits for the file).
    auto holder = std::make_unique<ForeignHolder>(path);
    ASSERT_TRUE(holder->Holds());
    std::future<void> writer = std::async(std::launch::async, [&] { log.WriteAsString("N", "new"); });
    std::this_thread::sleep_for(100ms);
    std::atomic<bool> cleared{false};
    std::future<void> clearer = std::async(std::launch::async, [&] {
      log.ClearLog();
      cleared = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(cleared) << "the file was deleted under a write";
    EXPECT_TRUE(FileExists(path));
    holder.reset();

    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(writer.get()) << "the write lost its file";
    ASSERT_EQ(clearer.wait_for(10s), std::future_status::ready);
    clearer.get();
    EXPECT_FALSE(FileExists(path)) << "clearing came second and removes the finished write";
  }
}

// A holder in another process may delete or replace the file before it lets
// go; the waiting write must then go to the file the name refers to.
TEST_F(LogBaseLockingThreads, WriteAfterTheHolderDeletedTheFileStartsANewOne) {
  for (TZTLogFormatting form : {ztlfText, ztlfXML}) {
    TOpenLog log(nullptr);
    log.SetFormatting(form);
    String path = dir.File("deleted.log");
    log.SetLogFile(path);
    log.WriteAsString("N", "old");

    auto holder = std::make_unique<ForeignHolder>(path);
    ASSERT_TRUE(holder->Holds());
    std::future<void> writer = std::async(std::launch::async, [&] { log.WriteAsString("N", "new"); });
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(DeleteFile(path));
    holder.reset();
    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(writer.get());
    EXPECT_EQ(ReadFileBytes(path), form == ztlfText ? String("new") : kXMLHeader + XMLElementBytes("N", "new") + kXMLEnd);
    ASSERT_TRUE(DeleteFile(path));
  }
}

TEST_F(LogBaseLockingThreads, WriteAfterTheHolderReplacedTheFileGoesToTheReplacement) {
  TZTLogBase log(nullptr);
  String path = dir.File("replaced.log");
  log.SetLogFile(path);
  log.WriteAsString("N", "old");

  auto holder = std::make_unique<ForeignHolder>(path);
  ASSERT_TRUE(holder->Holds());
  std::future<void> writer = std::async(std::launch::async, [&] { log.WriteAsString("N", "+new"); });
  std::this_thread::sleep_for(100ms);
  WriteFileBytes(dir.File("next.log"), "replacement");
  ASSERT_EQ(std::rename(dir.File("next.log").c_str(), path.c_str()), 0);
  holder.reset();
  ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
  EXPECT_NO_THROW(writer.get());
  EXPECT_EQ(ReadFileBytes(path), "replacement+new");
}

}  // namespace
}  // namespace ztl
