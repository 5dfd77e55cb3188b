#include <ztlogger/platform/os/Mime.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

namespace ztl::mime {
namespace {

// Dates in UTC while it lives.
class ScopedTz {
 public:
  ScopedTz() {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  ~ScopedTz() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<String> old_;
};

TEST(Mime, Base64OfTheStandardVectors) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64(String("\0\xFF\xFE", 3)), "AP/+");
}

TEST(Mime, Base64BreaksLinesWithCrLf) {
  const String encoded = Base64(String(120, 'a'));  // 160 characters
  ASSERT_EQ(encoded.size(), 160u + 2 * 2);
  EXPECT_EQ(encoded.find("\r\n"), 76u);
  EXPECT_EQ(encoded.find("\r\n", 78), 78u + 76u);
  EXPECT_EQ(Base64(String(57, 'a')).find('\r'), String::npos);  // exactly one full line
}

TEST(Mime, QuotedPrintableKeepsLinesAndEscapesTheRest) {
  EXPECT_EQ(QuotedPrintable("a=b"), "a=3Db");
  EXPECT_EQ(QuotedPrintable("tail \r\nnext\t"), "tail=20\r\nnext=09");
  EXPECT_EQ(QuotedPrintable("Gr\xC3\xBC\xC3\x9F" "e"), "Gr=C3=BC=C3=9Fe");
  const String encoded = QuotedPrintable(String(100, '\xE9'));
  size_t start = 0;
  for (size_t end; (end = encoded.find("\r\n", start)) != String::npos; start = end + 2) {
    EXPECT_LE(end - start, 76u);
    EXPECT_EQ(encoded[end - 1], '=');  // soft breaks only
  }
  EXPECT_EQ(encoded.find("=\r\n", 0) % 3, 0u);  // no escape cut in two
}

TEST(Mime, EncodedWordsCarryUtf8) {
  EXPECT_EQ(EncodedWords("Gr\xC3\xBC\xC3\x9F" "e"), "=?UTF-8?B?R3LDvMOfZQ==?=");
  // 30 two-byte characters: 60 bytes, two words, none splitting a character.
  String text;
  for (int i = 0; i < 30; ++i) text += "\xC3\xA4";
  const String words = EncodedWords(text);
  const size_t fold = words.find("\r\n ");
  ASSERT_NE(fold, String::npos);
  EXPECT_LE(fold, 75u);
  EXPECT_EQ(words.substr(0, fold), "=?UTF-8?B?" + Base64(text.substr(0, 44), 0) + "?=");
  EXPECT_EQ(words.substr(fold + 3), "=?UTF-8?B?" + Base64(text.substr(44), 0) + "?=");
}

TEST(Mime, HeaderTextStaysOnOneLine) {
  EXPECT_EQ(HeaderText("Error report"), "Error report");
  EXPECT_EQ(HeaderText("Hi\r\nBcc: evil@example.com"), "Hi  Bcc: evil@example.com");
  EXPECT_EQ(HeaderText("=?UTF-8?B?x?="), EncodedWords("=?UTF-8?B?x?="));  // looks encoded: encode it
  EXPECT_EQ(HeaderText("\xC3\xBC"), "=?UTF-8?B?w7w=?=");
}

TEST(Mime, MailboxesAreQuotedOrEncoded) {
  EXPECT_EQ(FormatMailbox({"", "a@example.org"}), "a@example.org");
  EXPECT_EQ(FormatMailbox({"a@example.org", "a@example.org"}), "a@example.org");
  EXPECT_EQ(FormatMailbox({"Doe, \"JD\" \\ John", "j@example.org"}), "\"Doe, \\\"JD\\\" \\\\ John\" <j@example.org>");
  EXPECT_EQ(FormatMailbox({"J\xC3\xBCrgen", "j@example.org"}), "=?UTF-8?B?SsO8cmdlbg==?= <j@example.org>");
}

TEST(Mime, RecognisesAddressesAndNothingElse) {
  for (const char* address : {"a@example.org", "first.last+tag@sub.example.co", "-x@example.org", "u@[192.168.0.1]",
                              "o'neil@example.org"})
    EXPECT_TRUE(IsAddress(address)) << address;
  for (const char* text : {"", "John", "@example.org", "a@", "a b@example.org", "a@exa mple.org", "a..b@example.org",
                           "a@-example.org", "a@example.org\r\nBcc: x@y.org", "a@b@c.org", "<a@example.org>",
                           "a\"b@example.org", "a@example.org;b@example.org"})
    EXPECT_FALSE(IsAddress(text)) << text;
}

TEST(Mime, ParsesTheMailboxForms) {
  TMailbox mailbox;
  ASSERT_TRUE(ParseMailbox("  a@example.org ", mailbox));
  EXPECT_EQ(mailbox.Name, "");
  EXPECT_EQ(mailbox.Address, "a@example.org");
  ASSERT_TRUE(ParseMailbox("John Doe <j@example.org>", mailbox));
  EXPECT_EQ(mailbox.Name, "John Doe");
  EXPECT_EQ(mailbox.Address, "j@example.org");
  ASSERT_TRUE(ParseMailbox("\"Doe, \\\"J\\\"\" <SMTP:j@example.org>", mailbox));
  EXPECT_EQ(mailbox.Name, "Doe, \"J\"");
  EXPECT_EQ(mailbox.Address, "j@example.org");
  ASSERT_TRUE(ParseMailbox("<smtp:k@example.org>", mailbox));
  EXPECT_EQ(mailbox.Name, "");
  EXPECT_EQ(mailbox.Address, "k@example.org");

  mailbox = {"kept", "kept@example.org"};
  EXPECT_FALSE(ParseMailbox("John Doe", mailbox));
  EXPECT_FALSE(ParseMailbox("John <not an address>", mailbox));
  EXPECT_FALSE(ParseMailbox("", mailbox));
  EXPECT_EQ(mailbox.Address, "kept@example.org");
}

TEST(Mime, DatesInTheInternetForm) {
  ScopedTz utc;
  EXPECT_EQ(FormatDate(0), "Thu, 1 Jan 1970 00:00:00 +0000");
  EXPECT_EQ(FormatDate(1700000000), "Tue, 14 Nov 2023 22:13:20 +0000");
}

TEST(Mime, ComposesATextOnlyMessage) {
  TMessage message;
  message.To = {{"", "a@example.org"}};
  message.Subject = "Report";
  message.Body = "line 1\nline 2";
  const String wire = Compose(message, {"B", "Thu, 1 Jan 1970 00:00:00 +0000", "<id@host>"});
  EXPECT_EQ(wire,
            "Date: Thu, 1 Jan 1970 00:00:00 +0000\r\n"
            "Subject: Report\r\n"
            "To: a@example.org\r\n"
            "Message-ID: <id@host>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "line 1\r\nline 2\r\n");
}

TEST(Mime, ComposesAMultipartMessage) {
  TMessage message;
  message.To = {{"Ann", "ann@example.org"}, {"", "bob@example.org"}};
  message.Cc = {{"", "cc@example.org"}};
  message.Bcc = {{"", "bcc@example.org"}};
  message.Subject = "\xC3\x9C" "ber";
  message.Body = "Gr\xC3\xBC\xC3\x9F" "e\r\n";
  message.Attachments = {{"shot.bmp", "BM\x01"}, {"r\xC3\xA9sum\xC3\xA9.txt", "x"}};
  const String wire = Compose(message, {"=_b", "D", "<m@h>"});
  EXPECT_EQ(wire,
            "Date: D\r\n"
            "Subject: =?UTF-8?B?w5xiZXI=?=\r\n"
            "To: \"Ann\" <ann@example.org>,\r\n bob@example.org\r\n"
            "Cc: cc@example.org\r\n"
            "Bcc: bcc@example.org\r\n"
            "Message-ID: <m@h>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n"
            "\r\n"
            "This is a multi-part message in MIME format.\r\n"
            "\r\n"
            "--=_b\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "Gr=C3=BC=C3=9Fe\r\n"
            "\r\n"
            "--=_b\r\n"
            "Content-Type: image/bmp; name=\"shot.bmp\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"shot.bmp\"\r\n"
            "\r\n"
            "Qk0B\r\n"
            "--=_b\r\n"
            "Content-Type: text/plain; name=\"=?UTF-8?B?csOpc3Vtw6kudHh0?=\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename*=UTF-8''r%C3%A9sum%C3%A9.txt\r\n"
            "\r\n"
            "eA==\r\n"
            "--=_b--\r\n");
}

TEST(Mime, FreshEnvelopesDiffer) {
  const TEnvelope first = NewEnvelope();
  const TEnvelope second = NewEnvelope();
  EXPECT_NE(first.Boundary, second.Boundary);
  EXPECT_NE(first.MessageId, second.MessageId);
  EXPECT_EQ(first.MessageId.front(), '<');
  EXPECT_EQ(first.MessageId.back(), '>');
  EXPECT_TRUE(IsAddress(first.MessageId.substr(1, first.MessageId.size() - 2)));
}

}  // namespace
}  // namespace ztl::mime
