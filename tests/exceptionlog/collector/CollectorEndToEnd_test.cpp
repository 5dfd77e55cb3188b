// Reports reach a real receiver of Sentry's protocol (Spotlight, started on
// the loopback address), and Sentry's own parser accepts what was sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <set>
#include <thread>

#include "Peers.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/CollectorQueue.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl::test {
namespace {

// Standard error sent to a file while it lives, readable meanwhile.
class StderrToFile {
 public:
  explicit StderrToFile(const String& file) : file_(file), saved_(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrToFile() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  StderrToFile(const StderrToFile&) = delete;
  StderrToFile& operator=(const StderrToFile&) = delete;
  String Text() const { return ReadFileBytes(file_); }

 private:
  String file_;
  int saved_;
};

class CollectorEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const String missing = PeersMissing(); !missing.empty()) GTEST_SKIP() << missing;
    ResetApplicationState();
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    dsn_ = "http://e2ekey@127.0.0.1:" + std::to_string(port_) + "/42";
  }
  void TearDown() override { ResetApplicationState(); }

  std::unique_ptr<TPeerServer> StartPeer(const String& role) {
    auto peer = std::make_unique<TPeerServer>(role, port_, dir_.File(role + "-" + std::to_string(++peers_)));
    EXPECT_TRUE(peer->Listening()) << ReadFileBytes(peer->Output());
    return peer;
  }

  // A logger in this process that reports to the collector and tells the
  // user nothing.
  std::unique_ptr<TZTExceptionLog> NewLog() {
    auto log = std::make_unique<TZTExceptionLog>(nullptr);
    log->SetLogFile(dir_.File("errors.log"));
    log->SetErrorDialog(edNone);
    log->SendTo()->SetCollector(dsn_);
    log->SetActive(true);
    return log;
  }

  static void RaiseInLoop(const String& message) {
    Application->QueueCall([message] { throw EConvertError(message); });
    Application->ProcessMessages();
  }

  size_t Queued() const {
    return TEnvelopeQueue(TEnvelopeQueue::FolderFor(TCollectorDsn::Parse(dsn_))).Entries().size();
  }

  CommandRun Helper(const String& mode) const {
    return RunCommandLine(ShellQuoted(ZTL_COLLECTOR_HELPER) + " " + mode + " " + ShellQuoted(dsn_) + " " +
                          ShellQuoted(dir_.File(mode + ".log")));
  }

  TestDir dir_;
  int port_ = 0;
  int peers_ = 0;
  String dsn_;
};

TEST_F(CollectorEndToEnd, AHandledFaultArrivesWithFramesContextsAndTheReport) {
  auto receiver = StartPeer("receive");
  const CommandRun run = Helper("fault");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(receiver->WaitForEnvelopes(1, 30000));
  const std::vector<String> envelopes = receiver->Envelopes();
  ASSERT_EQ(envelopes.size(), 1u);
  TParsed parsed = ParseEnvelope(envelopes[0]);
  ASSERT_EQ(parsed.count("error"), 0u) << parsed["error"][0];
  EXPECT_EQ(parsed["accepted"], std::vector<String>{"true"});
  EXPECT_EQ(parsed["header_event_id"], parsed["event_id"]);
  EXPECT_EQ(parsed["level"], std::vector<String>{"error"});
  EXPECT_EQ(parsed["platform"], std::vector<String>{"native"});
  EXPECT_EQ(parsed["type"], std::vector<String>{"EAccessViolation"});
  EXPECT_EQ(parsed["handled"], std::vector<String>{"true"});

  // Oldest call first, the faulting function last, each with its line.
  const std::vector<String>& frames = parsed["frame"];
  ASSERT_GE(frames.size(), 3u);
  const auto position = [&](const String& function) {
    return std::find_if(frames.begin(), frames.end(),
                        [&](const String& frame) {
                          return frame.find("::" + function + "() collector_helper.cpp ") != String::npos;
                        }) -
           frames.begin();
  };
  EXPECT_EQ(position("ReadThroughNull"), static_cast<long>(frames.size()) - 1) << frames.back();
  EXPECT_LT(position("SaveOrder"), position("ReadThroughNull"));
  EXPECT_LT(position("PostOrder"), position("SaveOrder"));
  EXPECT_NE(frames.back().find("/collector_helper"), String::npos) << "the frame's package is the program";

  const std::set<String> contexts(parsed["context"].begin(), parsed["context"].end());
  EXPECT_EQ(contexts, (std::set<String>{"app", "device", "os", "runtime"}));
  EXPECT_EQ(parsed["os"][0].substr(0, 6), "Linux ");
  const bool helperImage = std::any_of(parsed["image"].begin(), parsed["image"].end(), [](const String& image) {
    return image.starts_with("elf ") && image.find(" - ") == String::npos && image.ends_with("/collector_helper");
  });
  EXPECT_TRUE(helperImage) << "the program is listed with its build id";

  // The text report as written to the log.
  ASSERT_EQ(parsed["attachment"].size(), 1u);
  EXPECT_TRUE(parsed["attachment"][0].starts_with("report.txt text/plain ")) << parsed["attachment"][0];
  const String report = ReadFileBytes(dir_.File("fault.log"));
  EXPECT_NE(report.find("Access violation"), String::npos) << report;
  EXPECT_EQ(ReadFileBytes(envelopes[0] + ".report.txt"), report);
}

TEST_F(CollectorEndToEnd, ReportsQueuedWhileTheReceiverIsDownEachArriveOnceItIsUp) {
  StderrToFile told(dir_.File("stderr"));
  auto log = NewLog();
  for (const char* message : {"first", "second", "third"}) RaiseInLoop(message);
  for (int waited = 0; waited < 600 && (Queued() < 3 || told.Text().find("could not be reached") == String::npos);
       ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(Queued(), 3u);
  // Why nothing went is said, once while the collector stays unreachable.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const String text = told.Text();
  const size_t said = text.find("could not be reached");
  EXPECT_NE(said, String::npos) << text;
  EXPECT_EQ(text.find("could not be reached", said + 1), String::npos) << text;

  auto receiver = StartPeer("receive");
  log->SendCollectorReports();
  ASSERT_TRUE(log->FlushCollector(30000));
  EXPECT_EQ(Queued(), 0u);
  // Nothing arrives twice, also a moment later.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::vector<String> envelopes = receiver->Envelopes();
  ASSERT_EQ(envelopes.size(), 3u);
  std::multiset<String> values;
  std::set<String> ids;
  for (const String& envelope : envelopes) {
    TParsed parsed = ParseEnvelope(envelope);
    EXPECT_EQ(parsed["accepted"], std::vector<String>{"true"});
    values.insert(parsed["value"].empty() ? String() : parsed["value"][0]);
    ids.insert(parsed["event_id"].empty() ? String() : parsed["event_id"][0]);
  }
  EXPECT_EQ(values, (std::multiset<String>{"first", "second", "third"}));
  EXPECT_EQ(ids.size(), 3u);
}

TEST_F(CollectorEndToEnd, ARateLimitedCollectorIsNotAskedAgainBeforeItsRetryAfter) {
  auto stub = StartPeer("stub");  // 429 with Retry-After: 2 first, then 200
  auto log = NewLog();
  RaiseInLoop("limited");
  ASSERT_TRUE(stub->WaitForEnvelopes(1, 30000));
  RaiseInLoop("after");
  log->SendCollectorReports();  // asks to send now: the server's wait still holds
  ASSERT_TRUE(log->FlushCollector(30000));

  const std::vector<String> arrivals = stub->Envelopes();
  ASSERT_EQ(arrivals.size(), 3u);
  // The names begin with the arrival's milliseconds.
  const auto arrived = [](const String& file) { return std::stoll(ExtractFileName(file).substr(0, 16)); };
  EXPECT_GE(arrived(arrivals[1]) - arrived(arrivals[0]), 1900);
  std::vector<String> values;
  for (const String& arrival : arrivals) {
    TParsed parsed = ParseEnvelope(arrival);
    values.push_back(parsed["value"].empty() ? String() : parsed["value"][0]);
  }
  EXPECT_EQ(values, (std::vector<String>{"limited", "limited", "after"}));
}

TEST_F(CollectorEndToEnd, AnEnvelopeTheServerRefusesIsDroppedAndCountedInTheNext) {
  auto stub = StartPeer("refuse");  // 400 first, then 200
  auto log = NewLog();
  RaiseInLoop("refused");
  ASSERT_TRUE(log->FlushCollector(30000));
  EXPECT_EQ(Queued(), 0u);
  RaiseInLoop("next");
  ASSERT_TRUE(log->FlushCollector(30000));
  const std::vector<String> arrivals = stub->Envelopes();
  ASSERT_EQ(arrivals.size(), 2u);
  TParsed parsed = ParseEnvelope(arrivals[1]);
  EXPECT_EQ(parsed["accepted"], std::vector<String>{"true"});
  EXPECT_EQ(parsed["value"], std::vector<String>{"next"});
  EXPECT_EQ(parsed["discarded"], std::vector<String>{"send_error 1"});
}

TEST_F(CollectorEndToEnd, ACrashQueuedByTheCrashPathArrivesAtTheNextStart) {
  const CommandRun crash = Helper("crash");
  EXPECT_EQ(crash.status, 128 + 6) << crash.out;  // the shell's status of SIGABRT
  ASSERT_EQ(Queued(), 1u);

  auto receiver = StartPeer("receive");
  const CommandRun start = Helper("start");
  ASSERT_EQ(start.status, 0) << start.out;
  EXPECT_EQ(Queued(), 0u);
  ASSERT_TRUE(receiver->WaitForEnvelopes(1, 30000));
  const std::vector<String> envelopes = receiver->Envelopes();
  ASSERT_EQ(envelopes.size(), 1u);
  TParsed parsed = ParseEnvelope(envelopes[0]);
  EXPECT_EQ(parsed["accepted"], std::vector<String>{"true"});
  EXPECT_EQ(parsed["level"], std::vector<String>{"fatal"});
  EXPECT_EQ(parsed["type"], std::vector<String>{"SIGABRT"});
  EXPECT_EQ(parsed["handled"], std::vector<String>{"false"});
  EXPECT_EQ(parsed["context"].size(), 4u);
  EXPECT_NE(ReadFileBytes(envelopes[0] + ".report.txt").find("Classname: SIGABRT"), String::npos);
}

}  // namespace
}  // namespace ztl::test
