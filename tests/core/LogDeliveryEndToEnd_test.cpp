// The log leaves by mail for real: the desktop's Simple MAPI submits through
// a sendmail-compatible client (msmtp) to an SMTP server on 127.0.0.1 that
// the test runs; the delivered message is read back with Python's email
// package.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/core/SmtpSink.h"
#include "tests/platform/os/FakePrograms.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>

namespace ztl {
namespace {

using test::TestDir;

// Headers, addresses by header, the text and each attachment (its bytes in
// <dir>/part-<n>), one item a line.
String ReadBack(const TestDir& dir, const String& message) {
  test::WriteFileBytes(dir.File("delivered.eml"), message);
  test::WriteFileBytes(dir.File("read.py"), R"PY(
import sys, email, email.policy
dir = sys.argv[1]
msg = email.message_from_binary_file(open(dir + '/delivered.eml', 'rb'), policy=email.policy.default)
out = ['subject=' + str(msg['subject']), 'type=' + msg.get_content_type(), 'bcc-header=' + str(msg['bcc'] is not None)]
for header in ('to', 'cc'):
    if msg[header] is not None:
        for a in msg[header].addresses:
            out.append(header + '=' + a.display_name + '|' + a.addr_spec)
n = 0
for part in msg.iter_parts():
    if part.get_content_disposition() == 'attachment':
        open(dir + '/part-' + str(n), 'wb').write(part.get_payload(decode=True))
        out.append('attachment=' + part.get_filename() + '|' + part.get_content_type())
        n += 1
    else:
        out.append('text=' + part.get_content())
open(dir + '/read.txt', 'w', encoding='utf-8').write('\n'.join(out) + '\n')
)PY");
  const test::CommandRun python = test::RunProgram({"python3", dir.File("read.py"), dir.Path()});
  if (python.status != 0) return "python failed: " + python.err;
  return test::ReadFileBytes(dir.File("read.txt"));
}

TEST(LogDeliveryEndToEnd, SubmittedThroughMsmtpToAnSmtpServer) {
  if (!test::ProgramExists("msmtp")) GTEST_SKIP() << "msmtp is not installed (scripts/deps installs it)";
  TestDir dir;
  const String temp = dir.File("tmp");
  mkdir(temp.c_str(), 0700);
  test::ScopedEnv tmpdir("TMPDIR", temp);
  test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
  ResetApplicationState();
  HeadlessWidgetSet().SetScreenSize(20, 10);

  test::SmtpSink sink;
  ASSERT_GT(sink.Port(), 0);
  const String config = dir.File("msmtprc");
  test::WriteFileBytes(config, "defaults\nauth off\ntls off\n"
                               "account default\nhost 127.0.0.1\nport " + std::to_string(sink.Port()) +
                                   "\nfrom crash-reporter@example.net\n");
  chmod(config.c_str(), 0600);
  test::FakePrograms programs(dir);
  programs.AddScript("sendmail", "#!/bin/sh\nexec msmtp -C '" + config + "' \"$@\"\n");

  TZTLogBase log(nullptr);
  log.SetLogFile(dir.File("app.log"));
  log.WriteAsString("ERROR", "Access violation at 0x0040\r\n");
  TZTLSendTo& sendTo = *log.SendTo();
  sendTo.SetEMail("Ann Smith <ann@example.org>;CC:carol@example.org;bcc:dave@example.org");
  sendTo.SetEMailSubject("Crash report");
  sendTo.SetEMailBody("Log %s at %s.");
  sendTo.SetEMailOpenBeforeSend(false);
  sendTo.SetAttachLog(true);
  log.SendLogByMail();
  sink.Finish();

  EXPECT_TRUE(HeadlessWidgetSet().Shown().empty()) << "the mail system reported an error";
  EXPECT_EQ(sink.Sender(), "crash-reporter@example.net");
  std::vector<String> recipients = sink.Recipients();
  std::sort(recipients.begin(), recipients.end());
  EXPECT_EQ(recipients, (std::vector<String>{"ann@example.org", "carol@example.org", "dave@example.org"}));

  const String read = ReadBack(dir, sink.Message());
  const String shot = read.substr(read.find("attachment=ZTL"), read.find('|', read.find("attachment=ZTL")) -
                                                                    read.find("attachment=ZTL"));
  EXPECT_EQ(read, "subject=Crash report\n"
                  "type=multipart/mixed\n"
                  "bcc-header=False\n"
                  "to=Ann Smith|ann@example.org\n"
                  "cc=|carol@example.org\n"
                  "text=Log Ann Smith <ann@example.org>;CC:carol@example.org;bcc:dave@example.org at " +
                      dir.File("app.log") + ".\n"
                  "attachment=" + shot.substr(11) + "|image/bmp\n"
                  "attachment=app.log|text/plain\n");
  EXPECT_TRUE(shot.size() > 15 && shot.substr(shot.size() - 4) == ".bmp") << shot;
  const String bitmap = test::ReadFileBytes(dir.File("part-0"));
  EXPECT_EQ(bitmap.substr(0, 2), "BM");
  EXPECT_EQ(bitmap.size(), 14u + 40u + 20u * 10u * 3u);  // 20 x 10 at 24 bits, rows of 60 bytes
  EXPECT_EQ(test::ReadFileBytes(dir.File("part-1")), "Access violation at 0x0040\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(temp)) << "a temporary file was left";
}

}  // namespace
}  // namespace ztl
