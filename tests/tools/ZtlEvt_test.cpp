// ztl-evt, run as a separate program on a test's own prefix: what it writes
// the component reads, and what the component writes it shows.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/ntlog/LogNT.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Registry.h>

namespace {

using Outcome = ztl::test::CommandRun;

// Runs the tool with arguments (quoted for the shell) and no input.
Outcome Evt(const std::string& arguments) {
  return ztl::test::RunCommandLine(std::string(ZTL_EVT_PATH) + " " + arguments);
}

TEST(ZtlEvt, WritesWhatTheComponentReads) {
  ztl::test::TestDir dir;
  ASSERT_EQ(Evt("write --source Tool --id 1000 --type error --category 4 ann \"two words\"").status, 0);
  ASSERT_EQ(Evt("write --source Tool -- --not-an-option").status, 0);
  ztl::TZTNTEventLog log(nullptr);
  log.Open();
  ASSERT_EQ(log.EventCount(), 2u);
  log.ReadEvent(0);
  EXPECT_EQ(log.EventSource(), "Tool");
  EXPECT_EQ(log.EventID(), 1000u);
  EXPECT_EQ(log.EventType(), 1);
  EXPECT_EQ(log.GetEventString(1), "two words");
  log.ReadEvent(1);
  EXPECT_EQ(log.GetEventString(0), "--not-an-option");

  log.SetSource("Tool");
  log.WriteToEventLog("from the component", 4, 0, 1000);
  const Outcome newest = Evt("query application --count 1 --format json");
  EXPECT_EQ(newest.status, 0);
  EXPECT_NE(newest.out.find("\"record\": 3"), std::string::npos) << newest.out;
  EXPECT_NE(newest.out.find("\"strings\": [\"from the component\"]"), std::string::npos) << newest.out;
  EXPECT_EQ(newest.out.find("\"record\": 2"), std::string::npos) << newest.out;
  const Outcome oldest = Evt("query Application --oldest-first --format xml");
  EXPECT_LT(oldest.out.find("Record=\"1\""), oldest.out.find("Record=\"3\"")) << oldest.out;

  EXPECT_EQ(Evt("clear Application").status, 0);
  EXPECT_EQ(log.EventCount(), 0u);
  EXPECT_EQ(Evt("logs").out, "Application\t0\nSecurity\t0\nSystem\t0\n");
}

TEST(ZtlEvt, ExitCodesTellWhatWentWrong) {
  ztl::test::TestDir dir;
  EXPECT_EQ(Evt("--help").status, 0);
  EXPECT_EQ(Evt("").status, 2);
  EXPECT_EQ(Evt("write ann").status, 2);
  EXPECT_EQ(Evt("write --source S --type loud").status, 2);
  EXPECT_EQ(Evt("query Application --format yaml").status, 2);
  const Outcome missing = Evt("query NoSuchLog");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("no log named \"NoSuchLog\""), std::string::npos) << missing.out;
  EXPECT_EQ(Evt("write --source Security x").status, 1);
}

// The text format: each record with its own type, category and id, also
// where only one of them differs from the record before, and every text
// beyond ASCII as written (a lone surrogate as U+FFFD).
TEST(ZtlEvt, TextShowsEachRecordsOwnKindAndTextsBeyondAscii) {
  ztl::test::TestDir dir;
  const std::string nonAscii = "h\u00e9llo \u65e5\u672c";
  ASSERT_EQ(Evt("write --source Tool --id 7 --type warning --category 2 \"" + nonAscii + "\" plain").status, 0);
  ASSERT_EQ(Evt("write --source Tool --id 70000 --type error --category 2").status, 0);
  ASSERT_EQ(Evt("write --source Tool --id 70000 --type error --category 5").status, 0);
  HANDLE source = RegisterEventSourceW(nullptr, u"Tool");
  ASSERT_NE(source, nullptr);
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  LPCWSTR strings[] = {lone};
  EXPECT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 5, 70001, nullptr, 1, 0, strings, nullptr));
  DeregisterEventSource(source);

  const std::string out = Evt("query Application --oldest-first").out;
  size_t at = 0;
  for (const char* kind :
       {"Warning\nCategory: 2\nEvent ID: 7 (0x7)", "Error\nCategory: 2\nEvent ID: 4464 (0x11170)",
        "Error\nCategory: 5\nEvent ID: 4464 (0x11170)", "Error\nCategory: 5\nEvent ID: 4465 (0x11171)"}) {
    at = out.find(std::string("Type:     ") + kind + "\nComputer: ", at);
    ASSERT_NE(at, std::string::npos) << kind << " in\n" << out;
    ++at;
  }
  EXPECT_NE(out.find("String:   " + nonAscii + "\nString:   plain\n"), std::string::npos) << out;
  EXPECT_NE(out.find("String:   a\uFFFDb\n"), std::string::npos) << out;
}

// The tool and its libraries find what they link by paths of their own,
// never in the working folder, where a file named like one of the libraries
// would be loaded (the dynamic loader reports each file it tries).
TEST(ZtlEvt, NeverLooksForLibrariesInTheWorkingFolder) {
  ztl::test::TestDir dir;
  const Outcome run = ztl::test::RunCommandLine("cd " + ztl::test::ShellQuoted(dir.Path()) + " && LD_DEBUG=libs " +
                                                ZTL_EVT_PATH + " --help");
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string tried = "trying file=";
  size_t tries = 0;
  for (size_t at = run.out.find(tried); at != std::string::npos; at = run.out.find(tried, at + 1), ++tries)
    EXPECT_EQ(run.out[at + tried.size()], '/') << run.out.substr(at, run.out.find('\n', at) - at);
  EXPECT_GT(tries, 0u) << run.out;
}

#if defined(ZTL_TEST_MESSAGES_SECOND)
TEST(ZtlEvt, ShowsMessageTextsFromTheSourcesFiles) {
  ztl::test::TestDir dir;
  ztl::TRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tool", true));
  registry.WriteString("EventMessageFile", ztl::String(ZTL_TEST_MESSAGES_FIRST) + ";" + ZTL_TEST_MESSAGES_SECOND);
  ASSERT_EQ(Evt("write --source Tool --id 1000 ann \"a <b>\"").status, 0);
  const Outcome text = Evt("query Application");
  EXPECT_NE(text.out.find("Message:  User ann logged on from a <b>.\n"), std::string::npos) << text.out;
  const Outcome xml = Evt("query Application --format xml");
  EXPECT_NE(xml.out.find("<Message>User ann logged on from a &lt;b&gt;.</Message>"), std::string::npos) << xml.out;
}

// A backup written by clear is read with --file, its records with the texts
// their source's message files give.
TEST(ZtlEvt, QueriesABackupOfAClearedLog) {
  ztl::test::TestDir dir;
  ztl::TRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tool", true));
  registry.WriteString("EventMessageFile", ZTL_TEST_MESSAGES_SECOND);
  ASSERT_EQ(Evt("write --source Tool --id 1000 ann host-1").status, 0);
  ASSERT_EQ(Evt("write --source Tool --id 1000 bob host-2").status, 0);
  const std::string backup = dir.File("saved.db");
  ASSERT_EQ(Evt("clear Application --backup " + ztl::test::ShellQuoted(backup)).status, 0);
  ASSERT_EQ(Evt("write --source Tool --id 1000 eve host-3").status, 0);

  const Outcome saved = Evt("query --file " + ztl::test::ShellQuoted(backup) + " --oldest-first");
  EXPECT_EQ(saved.status, 0) << saved.out;
  const size_t ann = saved.out.find("Message:  User ann logged on from host-1.\n");
  EXPECT_NE(ann, std::string::npos) << saved.out;
  EXPECT_GT(saved.out.find("Message:  User bob logged on from host-2.\n"), ann) << saved.out;
  EXPECT_EQ(saved.out.find("eve"), std::string::npos) << saved.out;

  ztl::test::WriteFileBytes(dir.File("notes.txt"), "no log here");
  const Outcome notBackup = Evt("query --file " + ztl::test::ShellQuoted(dir.File("notes.txt")));
  EXPECT_EQ(notBackup.status, 1);
  EXPECT_NE(notBackup.out.find("cannot open"), std::string::npos) << notBackup.out;
  EXPECT_EQ(Evt("query Application --file " + ztl::test::ShellQuoted(backup)).status, 2);
}
#endif

}  // namespace
