// The folder change logger, driven by real changes in a test's own folder.
#include <ztlogger/filelog/LogFile.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace fs = std::filesystem;

namespace ztl {
namespace {

using Actions = std::vector<TFileNotificationOption>;

// Handlers are methods of framework objects.
struct Recorder : TObject {
  TObject* expectedSender = nullptr;
  Actions actions;
  std::function<void()> onAction;
  int exceptions = 0;

  void Record(TObject* sender, TFileNotificationOption action) {
    EXPECT_EQ(sender, expectedSender);
    EXPECT_TRUE(IsMainThread());
    actions.push_back(action);
    if (onAction) onAction();
  }
  void CountException(TObject*, Exception*) { ++exceptions; }
};

class FileLogThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    RegisterClass(TZTFileLog::StaticClass());
    folder = dir.File("watched");
    fs::create_directories(folder + "/sub");
    log = std::make_unique<TZTFileLog>(nullptr);
    Listen(log.get());
  }
  void TearDown() override { log.reset(); }

  void Listen(TZTFileLog* component) {
    recorder.expectedSender = component;
    component->SetOnFileNotification(MakeMethod<&Recorder::Record>(&recorder));
  }
  void Watch(TFileNotificationOptions options) {
    log->SetFolder(folder);
    log->SetOptions(options);
    log->SetActive(true);
  }
  // Serves the worker's calls until `count` actions arrived or two seconds passed.
  void PumpFor(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (actions.size() < count && std::chrono::steady_clock::now() < deadline) CheckSynchronize(10);
  }
  // Serves the worker's calls for a while; for changes that must not be reported.
  void PumpQuietly() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until) CheckSynchronize(10);
  }
  static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::app) << text; }

  test::TestDir dir;
  std::string folder;
  std::unique_ptr<TZTFileLog> log;
  Recorder recorder;
  Actions& actions = recorder.actions;
  std::function<void()>& onAction = recorder.onAction;
};

TEST_F(FileLogThreads, KindsThatFireTogetherAreReportedInOptionOrder) {
  Watch({foFile, foFolder, foAttributes, foSize, foTime});
  Write(folder + "/new.txt", "content");  // a name, a size and a write time at once
  PumpFor(3);
  PumpQuietly();
  EXPECT_EQ(actions, (Actions{foFile, foSize, foTime}));
  fs::create_directory(folder + "/newdir");
  PumpFor(4);
  EXPECT_EQ(actions.back(), foFolder);
}

TEST_F(FileLogThreads, SubfoldersAreWatchedOnlyWithTheirOption) {
  Watch({foFile});
  Write(folder + "/sub/inner", "");
  PumpQuietly();
  EXPECT_TRUE(actions.empty());
  log->SetOptions({foFile, foWatchSubFolders});
  fs::create_directory(folder + "/sub/fresh");
  Write(folder + "/sub/fresh/file", "");  // in a folder that appeared a moment ago
  PumpFor(1);
  EXPECT_EQ(actions, Actions{foFile});
}

TEST_F(FileLogThreads, AFolderThatCannotBeWatchedRaisesAndActiveStaysTrue) {
  log->SetFolder(folder + "/missing");
  try {
    log->SetActive(true);
    FAIL() << "no exception";
  } catch (const EFileNotificationError& e) {
    EXPECT_EQ(e.Message(), "Could not allocate notification object");
  }
  EXPECT_TRUE(log->Active());
  fs::create_directory(folder + "/missing");
  log->SetActive(false);
  log->SetActive(true);  // retries
  Write(folder + "/missing/now", "");
  PumpFor(1);
  EXPECT_EQ(actions, Actions{foFile});

  // A failing change of the folder keeps the value and reports nothing until a good one.
  EXPECT_THROW(log->SetFolder(folder + "/elsewhere"), EFileNotificationError);
  EXPECT_EQ(log->Folder(), folder + "/elsewhere");
  Write(folder + "/missing/unseen", "");
  PumpQuietly();
  EXPECT_EQ(actions.size(), 1u);
  log->SetFolder(folder);
  Write(folder + "/seen", "");
  PumpFor(2);
  EXPECT_EQ(actions.size(), 2u);
}

TEST_F(FileLogThreads, OnlyTheSubtreeOptionOpensNothingAndRaisesNothing) {
  log->SetOptions({foWatchSubFolders});
  EXPECT_NO_THROW(log->SetActive(true));  // with no folder at all
  log->SetFolder(folder);
  Write(folder + "/file", "");
  PumpQuietly();
  EXPECT_TRUE(actions.empty());
}

TEST_F(FileLogThreads, NothingIsReportedOnceInactiveEvenIfAlreadySignalled) {
  Watch({foFile});
  Write(folder + "/pending", "");
  // The worker now waits in its synchronised call, or is about to.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!SynchronizePending() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  log->SetActive(false);
  PumpQuietly();
  EXPECT_TRUE(actions.empty());
}

TEST_F(FileLogThreads, FreeingTheComponentWhileItsWorkerWaitsForTheMainThread) {
  Watch({foFile});
  Write(folder + "/pending", "");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!SynchronizePending() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  log.reset();
  EXPECT_TRUE(actions.empty());
}

TEST_F(FileLogThreads, DeactivatingInsideTheHandlerAndChangingTheFolderThere) {
  Watch({foFile});
  const std::string other = dir.File("other");
  fs::create_directory(other);
  onAction = [&] { log->SetFolder(other); };
  Write(folder + "/first", "");
  PumpFor(1);
  onAction = nullptr;
  Write(folder + "/ignored", "");
  Write(other + "/second", "");
  PumpFor(2);
  PumpQuietly();
  EXPECT_EQ(actions.size(), 2u);

  onAction = [&] { log->SetActive(false); };
  Write(other + "/third", "");
  PumpFor(3);
  EXPECT_FALSE(log->Active());
  Write(other + "/fourth", "");
  PumpQuietly();
  EXPECT_EQ(actions.size(), 3u);
}

TEST_F(FileLogThreads, FreedByItsOwnHandler) {
  Watch({foFile});
  onAction = [&] { log.reset(); };
  Write(folder + "/one", "");
  PumpFor(1);
  EXPECT_EQ(log, nullptr);
  Write(folder + "/two", "");
  PumpQuietly();
  EXPECT_EQ(actions.size(), 1u);
}

TEST_F(FileLogThreads, ManyQuickChangesAreReportedAndStoppingStaysPrompt) {
  Watch({foFile, foSize});
  for (int i = 0; i < 10000; ++i) Write(folder + "/f" + std::to_string(i % 100), "x");
  PumpFor(2);
  EXPECT_GE(actions.size(), 2u);
  log->SetActive(false);
  const size_t reported = actions.size();
  PumpQuietly();
  EXPECT_EQ(actions.size(), reported);
}

TEST_F(FileLogThreads, AnExceptionOfTheHandlerGoesToTheApplicationAndWatchingGoesOn) {
  Application->SetOnException(MakeMethod<&Recorder::CountException>(&recorder));
  Watch({foFile});
  onAction = [] { throw Exception("handler failed"); };
  Write(folder + "/one", "");
  PumpFor(1);
  onAction = nullptr;
  Write(folder + "/two", "");
  PumpFor(2);
  EXPECT_EQ(actions.size(), 2u);
  EXPECT_EQ(recorder.exceptions, 1);
}

// The notifications are open before SetActive returns: a file made at once
// is reported, every time, and only once.
TEST_F(FileLogThreads, EveryFileMadeRightAfterActivationIsReportedOnce) {
  log->SetFolder(folder);
  log->SetOptions({foFile});
  for (size_t round = 1; round <= 1000; ++round) {
    log->SetActive(true);
    Write(folder + "/f" + std::to_string(round), "");
    PumpFor(round);
    log->SetActive(false);
    ASSERT_EQ(actions.size(), round) << "round " << round;
  }
}

// A stop must never be lost, also when the worker waits with no
// notifications open (the reopening failed) and so without a time-out. A
// lost stop leaves the main thread waiting for the worker for ever: the
// watchdog then ends the program with a failure.
TEST_F(FileLogThreads, StoppingAfterAFailedReopeningNeverHangs) {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  int cycle = 0;
  std::thread watchdog([&] {
    std::unique_lock guard(lock);
    if (!finished.wait_for(guard, std::chrono::minutes(4), [&] { return done; })) {
      std::fprintf(stderr, "stopping the watcher hung in cycle %d\n", cycle);
      std::_Exit(EXIT_FAILURE);
    }
  });
  ScopeExit release([&] {  // also when a cycle throws
    {
      std::lock_guard guard(lock);
      done = true;
    }
    finished.notify_one();
    watchdog.join();
  });
  for (int i = 0; i < 3000; ++i) {
    {
      std::lock_guard guard(lock);
      cycle = i;
    }
    auto watcher = std::make_unique<TZTFileLog>(nullptr);
    watcher->SetFolder(folder);
    watcher->SetActive(true);
    EXPECT_THROW(watcher->SetFolder(folder + "/missing"), EFileNotificationError);
    if (i % 2 == 0) watcher->SetActive(false);
    watcher.reset();
  }
}

TEST_F(FileLogThreads, AStoredActiveComponentWatchesOnceLoaded) {
  TDataModule module(nullptr);
  TextToComponent("object Module1: TDataModule\n  object FileLog1: TZTFileLog\n    Active = True\n"
                  "    Folder = '" + folder + "'\n    Options = [foFile, foWatchSubFolders]\n  end\nend\n",
                  &module);
  auto* stored = dynamic_cast<TZTFileLog*>(module.FindComponent("FileLog1"));
  ASSERT_NE(stored, nullptr);
  Listen(stored);
  Write(folder + "/sub/deep", "");
  PumpFor(1);
  EXPECT_EQ(actions, Actions{foFile});
  const String stored_text = ComponentToText(&module);
  EXPECT_NE(stored_text.find("Options = [foFile, foWatchSubFolders]"), String::npos);
}

}  // namespace
}  // namespace ztl
