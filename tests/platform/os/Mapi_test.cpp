#include <ztlogger/platform/os/Mapi.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tests/platform/os/FakePrograms.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"

namespace ztl {
namespace {

using test::FakePrograms;
using test::TestDir;

// Reads a mail message back with Python's email package: a summary of the
// headers, the recipients, the text and each attachment (written to
// <dir>/parsed-<n>) with its name and type, and the parser's complaints.
String ParseWithPython(const TestDir& dir, const String& message) {
  test::WriteFileBytes(dir.File("message.eml"), message);
  test::WriteFileBytes(dir.File("parse.py"), R"PY(
import sys, email, email.policy
dir = sys.argv[1]
msg = email.message_from_binary_file(open(dir + '/message.eml', 'rb'), policy=email.policy.default)
out = ['subject=' + str(msg['subject']), 'type=' + msg.get_content_type()]
for header in ('to', 'cc', 'bcc'):
    if msg[header] is not None:
        for a in msg[header].addresses:
            out.append(header + '=' + a.display_name + '|' + a.addr_spec)
defects = list(msg.defects)
parts = list(msg.iter_parts()) if msg.is_multipart() else [msg]
n = 0
for part in parts:
    defects += part.defects
    if part.get_content_disposition() == 'attachment':
        open(dir + '/parsed-' + str(n), 'wb').write(part.get_payload(decode=True))
        out.append('attachment=' + part.get_filename() + '|' + part.get_content_type())
        n += 1
    else:
        out.append('text=' + repr(part.get_content()))
out.append('defects=' + str(len(defects)))
open(dir + '/parsed.txt', 'w', encoding='utf-8').write('\n'.join(out) + '\n')
)PY");
  const test::CommandRun python = test::RunProgram({"python3", dir.File("parse.py"), dir.Path()});
  if (python.status != 0) return "python failed: " + python.err;
  return test::ReadFileBytes(dir.File("parsed.txt"));
}

bool AllLineEndsAreCrLf(const String& text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  return true;
}

// A message assembled the way the log component does it.
class MessageBuilder {
 public:
  MessageBuilder& Subject(const String& s) {
    subject_ = s;
    return *this;
  }
  MessageBuilder& Body(const String& s) {
    body_ = s;
    return *this;
  }
  MessageBuilder& Recipient(ULONG recipientClass, const String& name, const String& address) {
    texts_.push_back(name);
    texts_.push_back(address);
    MapiRecipDesc recipient{};
    recipient.ulRecipClass = recipientClass;
    recipients_.push_back(recipient);
    return *this;
  }
  MessageBuilder& Resolved(ULONG recipientClass, lpMapiRecipDesc resolved) {
    // As the log component passes it: the display name as name and address.
    texts_.push_back(resolved->lpszName);
    texts_.push_back(resolved->lpszName);
    MapiRecipDesc recipient{};
    recipient.ulRecipClass = recipientClass;
    recipient.ulEIDSize = resolved->ulEIDSize;
    recipient.lpEntryID = resolved->lpEntryID;
    recipients_.push_back(recipient);
    return *this;
  }
  MessageBuilder& Attach(const String& path) {
    paths_.push_back(path);
    return *this;
  }

  MapiMessage& Build() {
    message_ = MapiMessage{};
    message_.lpszSubject = subject_.data();
    message_.lpszNoteText = body_.data();
    for (size_t i = 0; i < recipients_.size(); ++i) {
      recipients_[i].lpszName = texts_[2 * i].empty() ? nullptr : texts_[2 * i].data();
      recipients_[i].lpszAddress = texts_[2 * i + 1].empty() ? nullptr : texts_[2 * i + 1].data();
    }
    message_.nRecipCount = static_cast<ULONG>(recipients_.size());
    message_.lpRecips = recipients_.empty() ? nullptr : recipients_.data();
    files_.assign(paths_.size(), MapiFileDesc{});
    for (size_t i = 0; i < paths_.size(); ++i) {
      files_[i].nPosition = 0xFFFFFFFF;
      files_[i].lpszPathName = paths_[i].data();
      names_.push_back(std::filesystem::path(paths_[i]).filename().string());
    }
    for (size_t i = 0; i < paths_.size(); ++i) files_[i].lpszFileName = names_[i].data();
    message_.nFileCount = static_cast<ULONG>(files_.size());
    message_.lpFiles = files_.empty() ? nullptr : files_.data();
    return message_;
  }

 private:
  String subject_, body_;
  std::vector<String> texts_, paths_, names_;
  std::vector<MapiRecipDesc> recipients_;
  std::vector<MapiFileDesc> files_;
  MapiMessage message_{};
};

String AllBytes() {
  String bytes;
  for (int i = 0; i < 256 * 3; ++i) bytes.push_back(static_cast<char>(i % 256));
  return bytes;
}

// ---- Resolving names -----------------------------------------------------

TEST(MapiResolveName, ResolvesAddressesInBothForms) {
  lpMapiRecipDesc recipient = nullptr;
  char bare[] = "ann@example.org";
  ASSERT_EQ(MapiResolveName(0, 0, bare, 0, 0, &recipient), SUCCESS_SUCCESS);
  ASSERT_NE(recipient, nullptr);
  EXPECT_EQ(recipient->ulRecipClass, MAPI_TO);
  EXPECT_STREQ(recipient->lpszName, "ann@example.org");
  EXPECT_STREQ(recipient->lpszAddress, "SMTP:ann@example.org");
  EXPECT_GT(recipient->ulEIDSize, 0u);
  EXPECT_NE(recipient->lpEntryID, nullptr);
  EXPECT_EQ(MapiFreeBuffer(recipient), SUCCESS_SUCCESS);

  char named[] = "\"Doe, John\" <john@example.org>";
  ASSERT_EQ(MapiResolveName(0, 0, named, 0, 0, &recipient), SUCCESS_SUCCESS);
  EXPECT_STREQ(recipient->lpszName, "Doe, John");
  EXPECT_STREQ(recipient->lpszAddress, "SMTP:john@example.org");
  EXPECT_EQ(MapiFreeBuffer(recipient), SUCCESS_SUCCESS);
}

TEST(MapiResolveName, AnythingElseIsAnUnknownRecipientAlsoWithTheDialog) {
  lpMapiRecipDesc recipient = nullptr;
  char name[] = "John Doe";
  EXPECT_EQ(MapiResolveName(0, 0, name, 0, 0, &recipient), MAPI_E_UNKNOWN_RECIPIENT);
  EXPECT_EQ(MapiResolveName(0, 0, name, MAPI_DIALOG, 0, &recipient), MAPI_E_UNKNOWN_RECIPIENT);
  char empty[] = "";
  EXPECT_EQ(MapiResolveName(0, 0, empty, 0, 0, &recipient), MAPI_E_UNKNOWN_RECIPIENT);
  EXPECT_EQ(MapiResolveName(0, 0, nullptr, 0, 0, &recipient), MAPI_E_UNKNOWN_RECIPIENT);
  EXPECT_EQ(recipient, nullptr);
  char address[] = "a@example.org";
  EXPECT_EQ(MapiResolveName(0, 0, address, 0, 0, nullptr), MAPI_E_FAILURE);
}

TEST(MapiFreeBuffer, ReleasesOnlyWhatTheMailSystemHandedOut) {
  EXPECT_EQ(MapiFreeBuffer(nullptr), SUCCESS_SUCCESS);
  int notOurs = 0;
  EXPECT_EQ(MapiFreeBuffer(&notOurs), MAPI_E_FAILURE);
  lpMapiRecipDesc recipient = nullptr;
  char address[] = "a@example.org";
  ASSERT_EQ(MapiResolveName(0, 0, address, 0, 0, &recipient), SUCCESS_SUCCESS);
  EXPECT_EQ(MapiFreeBuffer(recipient), SUCCESS_SUCCESS);
  EXPECT_EQ(MapiFreeBuffer(recipient), MAPI_E_FAILURE);  // a second release is refused
}

// ---- Submission through sendmail -----------------------------------------

TEST(MapiSendMail, SubmitsAMimeMessageThroughSendmail) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("sendmail", 0, true);
  const String binary = dir.File("shot.bmp");
  test::WriteFileBytes(binary, AllBytes());
  const String text = dir.File("r\xC3\xA9sum\xC3\xA9.log");
  test::WriteFileBytes(text, "log line\r\n");

  lpMapiRecipDesc ann = nullptr;
  char annText[] = "Ann \xC3\x85" "berg <ann@example.org>";
  ASSERT_EQ(MapiResolveName(0, 0, annText, 0, 0, &ann), SUCCESS_SUCCESS);
  MessageBuilder builder;
  builder.Subject("Fehlerbericht \xE2\x80\x93 Gr\xC3\xBC\xC3\x9F" "e")
      .Body("This message contains\r\ntechnical information.\r\nPLEASE, INSERT YOUR COMMENT HERE: ")
      .Resolved(MAPI_TO, ann)
      .Recipient(MAPI_TO, "bob@example.org", "bob@example.org")
      .Recipient(MAPI_CC, "Carol", "SMTP:carol@example.org")
      .Recipient(MAPI_BCC, "dave@example.org", "")
      .Attach(binary)
      .Attach(text);
  const ULONG result = MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI, 0);
  MapiFreeBuffer(ann);
  ASSERT_EQ(result, SUCCESS_SUCCESS);

  EXPECT_EQ(programs.Arguments("sendmail"), (std::vector<String>{"-t", "-i"}));
  const String message = programs.Input("sendmail");
  EXPECT_TRUE(AllLineEndsAreCrLf(message));
  EXPECT_EQ(ParseWithPython(dir, message),
            "subject=Fehlerbericht \xE2\x80\x93 Gr\xC3\xBC\xC3\x9F" "e\n"
            "type=multipart/mixed\n"
            "to=Ann \xC3\x85" "berg|ann@example.org\n"
            "to=|bob@example.org\n"
            "cc=Carol|carol@example.org\n"
            "bcc=|dave@example.org\n"
            "text='This message contains\\ntechnical information.\\nPLEASE, INSERT YOUR COMMENT HERE: '\n"
            "attachment=shot.bmp|image/bmp\n"
            "attachment=r\xC3\xA9sum\xC3\xA9.log|text/plain\n"
            "defects=0\n");
  EXPECT_EQ(test::ReadFileBytes(dir.File("parsed-0")), AllBytes());
  EXPECT_EQ(test::ReadFileBytes(dir.File("parsed-1")), "log line\r\n");
}

TEST(MapiSendMail, OddCharactersStayInsideTheirFields) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("sendmail", 0, true);
  MessageBuilder builder;
  builder.Subject("x\r\nBcc: evil@example.com\r\n\r\n$(touch pwned) `id` ; | & \"'")
      .Recipient(MAPI_TO, "\"Evil\"\r\nBcc: evil@example.com", "ann@example.org");
  ASSERT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI, 0), SUCCESS_SUCCESS);
  EXPECT_EQ(ParseWithPython(dir, programs.Input("sendmail")),
            "subject=x  Bcc: evil@example.com    $(touch pwned) `id` ; | & \"'\n"
            "type=text/plain\n"
            "to=\"Evil\"  Bcc: evil@example.com|ann@example.org\n"
            "text=''\n"
            "defects=0\n");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(MapiSendMail, SubmissionFailuresMapToTheirCodes) {
  const std::pair<int, ULONG> cases[] = {{67, MAPI_E_UNKNOWN_RECIPIENT}, {68, MAPI_E_UNKNOWN_RECIPIENT},
                                         {69, MAPI_E_NETWORK_FAILURE},   {75, MAPI_E_NETWORK_FAILURE},
                                         {77, MAPI_E_ACCESS_DENIED},     {1, MAPI_E_FAILURE}};
  for (const auto& [exitCode, expected] : cases) {
    TestDir dir;
    FakePrograms programs(dir);
    programs.Add("sendmail", exitCode, true);
    MessageBuilder builder;
    builder.Recipient(MAPI_TO, "", "a@example.org");
    EXPECT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI, 0), expected) << "exit code " << exitCode;
  }
}

TEST(MapiSendMail, ASubmissionProgramThatStopsReadingOrDiesIsAFailure) {
  TestDir dir;
  FakePrograms programs(dir);
  MessageBuilder builder;
  builder.Body(String(4 << 20, 'x')).Recipient(MAPI_TO, "", "a@example.org");
  programs.AddScript("sendmail", "#!/bin/sh\nexit 75\n");  // reads nothing of 4 MiB
  EXPECT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI, 0), MAPI_E_NETWORK_FAILURE);
  programs.AddScript("sendmail", "#!/bin/sh\nkill -9 $$\n");
  EXPECT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI, 0), MAPI_E_FAILURE);
}

TEST(MapiSendMail, RecipientsMustBeUsableWithoutTheDialog) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("sendmail", 0, true);
  MessageBuilder none;
  EXPECT_EQ(MapiSendMail(0, 0, &none.Build(), MAPI_LOGON_UI, 0), MAPI_E_INVALID_RECIPS);
  MessageBuilder unresolved;  // a failed resolution leaves only the class
  unresolved.Recipient(MAPI_TO, "", "a@example.org").Recipient(MAPI_CC, "", "");
  EXPECT_EQ(MapiSendMail(0, 0, &unresolved.Build(), MAPI_LOGON_UI, 0), MAPI_E_INVALID_RECIPS);
  MessageBuilder nameOnly;
  nameOnly.Recipient(MAPI_TO, "John Doe", "John Doe");
  EXPECT_EQ(MapiSendMail(0, 0, &nameOnly.Build(), MAPI_LOGON_UI, 0), MAPI_E_UNKNOWN_RECIPIENT);
  MessageBuilder badClass;
  badClass.Recipient(MAPI_ORIG, "", "a@example.org");
  EXPECT_EQ(MapiSendMail(0, 0, &badClass.Build(), MAPI_LOGON_UI, 0), MAPI_E_BAD_RECIPTYPE);
  badClass.Recipient(4, "", "b@example.org");
  EXPECT_EQ(MapiSendMail(0, 0, &badClass.Build(), MAPI_DIALOG, 0), MAPI_E_BAD_RECIPTYPE);
  EXPECT_FALSE(programs.Ran("sendmail"));
  EXPECT_EQ(MapiSendMail(0, 0, nullptr, MAPI_LOGON_UI, 0), MAPI_E_INVALID_MESSAGE);
}

TEST(MapiSendMail, AttachmentsThatCannotBeReadStopTheMail) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("sendmail", 0, true);
  programs.Add("xdg-email");
  MessageBuilder missing;
  missing.Recipient(MAPI_TO, "", "a@example.org").Attach(dir.File("missing.bmp"));
  EXPECT_EQ(MapiSendMail(0, 0, &missing.Build(), MAPI_LOGON_UI, 0), MAPI_E_ATTACHMENT_NOT_FOUND);
  EXPECT_EQ(MapiSendMail(0, 0, &missing.Build(), MAPI_LOGON_UI | MAPI_DIALOG, 0), MAPI_E_ATTACHMENT_NOT_FOUND);
  MessageBuilder folder;
  folder.Recipient(MAPI_TO, "", "a@example.org").Attach(dir.Path());
  EXPECT_EQ(MapiSendMail(0, 0, &folder.Build(), MAPI_LOGON_UI, 0), MAPI_E_ATTACHMENT_OPEN_FAILURE);
  EXPECT_FALSE(programs.Ran("sendmail"));
  EXPECT_FALSE(programs.Ran("xdg-email"));
}

TEST(MapiSendMail, AMissingProgramIsALogonFailure) {
  TestDir dir;
  FakePrograms programs(dir, false);  // nothing on PATH
  MessageBuilder builder;
  builder.Recipient(MAPI_TO, "", "a@example.org");
  EXPECT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI, 0), MAPI_E_LOGON_FAILURE);
  EXPECT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI | MAPI_DIALOG, 0), MAPI_E_LOGON_FAILURE);
}

// ---- The compose window through xdg-email --------------------------------

TEST(MapiSendMail, OpensTheComposeWindowWithRecipientsByClass) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("xdg-email");
  const String attachment = dir.File("log file.txt");
  test::WriteFileBytes(attachment, "x");
  lpMapiRecipDesc ann = nullptr;
  char annText[] = "Ann <ann@example.org>";
  ASSERT_EQ(MapiResolveName(0, 0, annText, 0, 0, &ann), SUCCESS_SUCCESS);
  MessageBuilder builder;
  builder.Subject("Gr\xC3\xBC\xC3\x9F" "e; $(rm -rf ~) `id` --attach /etc/passwd")
      .Body("line 1\r\nline 2")
      .Resolved(MAPI_TO, ann)
      .Recipient(MAPI_TO, "", "-bob+x@example.org")
      .Recipient(MAPI_CC, "", "carol@example.org")
      .Recipient(MAPI_BCC, "", "dave@example.org")
      .Recipient(MAPI_CC, "", "")  // unresolved: the user adds it in the window
      .Attach(attachment);
  const ULONG result = MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI | MAPI_DIALOG, 0);
  MapiFreeBuffer(ann);
  ASSERT_EQ(result, SUCCESS_SUCCESS);
  EXPECT_EQ(programs.Arguments("xdg-email"),
            (std::vector<String>{"--utf8", "--cc", "carol@example.org", "--bcc", "dave@example.org", "--subject",
                                 "Gr\xC3\xBC\xC3\x9F" "e; $(rm -rf ~) `id` --attach /etc/passwd", "--body",
                                 "line 1\r\nline 2", "--attach", attachment,
                                 "mailto:ann@example.org,-bob+x@example.org"}));
}

TEST(MapiSendMail, WithoutRecipientsTheWindowOpensEmpty) {
  TestDir dir;
  FakePrograms programs(dir);
  programs.Add("xdg-email");
  MessageBuilder builder;
  ASSERT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_DIALOG, 0), SUCCESS_SUCCESS);
  EXPECT_EQ(programs.Arguments("xdg-email"), (std::vector<String>{"--utf8"}));
}

TEST(MapiSendMail, ComposeWindowResultsMapToTheirCodes) {
  const std::pair<int, ULONG> cases[] = {{4, MAPI_USER_ABORT},
                                         {3, MAPI_E_LOGON_FAILURE},
                                         {2, MAPI_E_ATTACHMENT_NOT_FOUND},
                                         {5, MAPI_E_ACCESS_DENIED},
                                         {1, MAPI_E_FAILURE}};
  for (const auto& [exitCode, expected] : cases) {
    TestDir dir;
    FakePrograms programs(dir);
    programs.Add("xdg-email", exitCode);
    MessageBuilder builder;
    builder.Recipient(MAPI_TO, "", "a@example.org");
    EXPECT_EQ(MapiSendMail(0, 0, &builder.Build(), MAPI_LOGON_UI | MAPI_DIALOG, 0), expected) << "exit code " << exitCode;
  }
}

}  // namespace
}  // namespace ztl
