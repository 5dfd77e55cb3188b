// The collector's parts that need no server: the DSN, the JSON text, the
// queue folder and its bound, and the settings stored with a form.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "tests/support/TestDir.h"
#include <ztlogger/core/CollectorDsn.h>
#include <ztlogger/exceptionlog/CollectorEnvelope.h>
#include <ztlogger/exceptionlog/CollectorJson.h>
#include <ztlogger/exceptionlog/CollectorQueue.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

TEST(CollectorDsn, KeepsPortAndPathPrefixInTheEnvelopeAddress) {
  const TCollectorDsn dsn = TCollectorDsn::Parse("https://abc123@sentry.example.com:9000/relay/prefix/42");
  EXPECT_EQ(dsn.EnvelopeUrl(), "https://sentry.example.com:9000/relay/prefix/api/42/envelope/");
  EXPECT_EQ(dsn.AuthHeader("ztlogger.native/1.0"),
            "Sentry sentry_version=7, sentry_client=ztlogger.native/1.0, sentry_key=abc123");
  EXPECT_EQ(dsn.Text(), "https://abc123@sentry.example.com:9000/relay/prefix/42");
  EXPECT_EQ(TCollectorDsn::Parse("http://k@[::1]:8080/7").EnvelopeUrl(), "http://[::1]:8080/api/7/envelope/");
}

TEST(CollectorDsn, RefusesWhatIsNoDsn) {
  for (const char* text :
       {"sentry.example.com/42", "ftp://key@host/42", "https://host/42", "https://key@host", "https://key@host/",
        "https://key@host/abc", "https://key@host:99999/42", "https://key@host:/42", "https://k y@host/42",
        "https://key@ho st/42", "https://key@[::1/42"})
    EXPECT_THROW(TCollectorDsn::Parse(text), EConvertError) << text;
}

TEST(CollectorJson, EscapesWhatJsonCannotHoldAndReplacesBrokenUtf8) {
  String text;
  collector::TStringSink sink(text);
  collector::TJsonWriter json(sink);
  json.BeginObject();
  json.Member("message", "say \"hi\"\\\n\t\x01 caf\xC3\xA9 \xFF!");
  json.Member("count", int64_t{-42});
  json.Key("list");
  json.BeginArray();
  json.Value(true);
  json.Value(uint64_t{18446744073709551615u});
  json.EndArray();
  json.EndObject();
  EXPECT_EQ(text, R"({"message":"say \"hi\"\\\n\t\u0001 café �!","count":-42,"list":[true,18446744073709551615]})");
}

TEST(CollectorJson, AFixedSinkCutsAndSaysSo) {
  char buffer[8];
  collector::TFixedSink sink(buffer, sizeof buffer);
  collector::TJsonWriter(sink).Value("a long text");
  EXPECT_TRUE(sink.Overflowed());
  EXPECT_EQ(sink.View(), "\"a long ");
}

TEST(CollectorEnvelope, TimestampsAreUtcInRfc3339) {
  char text[collector::kRfc3339Length];
  collector::FormatRfc3339(951782400123, text);  // the leap day of 2000
  EXPECT_EQ(String(text, sizeof text), "2000-02-29T00:00:00.123Z");
  collector::FormatRfc3339(4102444799999, text);
  EXPECT_EQ(String(text, sizeof text), "2099-12-31T23:59:59.999Z");
}

TEST(CollectorQueue, KeepsPrivateWholeFilesAndDropsTheOldestOverItsBounds) {
  TestDir dir;
  const String folder = dir.File("queue/deep");
  TEnvelopeQueue queue(folder, 3, 1000);
  struct stat status {};
  ASSERT_EQ(stat(folder.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  for (const char* envelope : {"first", "second", "third"}) EXPECT_EQ(queue.Put(envelope), 0u);
  EXPECT_EQ(queue.Put("fourth"), 1u);  // over the count: the first goes
  std::vector<String> entries = queue.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(queue.Read(entries[0]), "second");
  EXPECT_EQ(queue.Read(entries[2]), "fourth");
  ASSERT_EQ(stat((folder + "/" + entries[0]).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  EXPECT_EQ(queue.Put(String(995, 'x')), 3u);  // over the bytes: the older ones go until it fits
  entries = queue.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(queue.Read(entries[0]).size(), 995u);
  // Nothing but the entries is left: no temporary files.
  size_t files = 0;
  for ([[maybe_unused]] const auto& file : std::filesystem::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 1u);

  // A batch keeps its order and is bounded as one.
  EXPECT_EQ(queue.PutAll({"a", "b", "c", "d"}), 2u);
  entries = queue.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(queue.Read(entries[0]) + queue.Read(entries[1]) + queue.Read(entries[2]), "bcd");
}

class CollectorSettings : public ::testing::Test {
 protected:
  void SetUp() override { RegisterClass(TZTExceptionLog::StaticClass()); }
  TestDir dir_;
};

TEST_F(CollectorSettings, AreStoredWithTheFormAndStartTheCollectorOnceLoaded) {
  const String dsn = "http://key1@127.0.0.1:9/17";
  const String stored =
      "object Holder: TComponent\r\n"
      "  object Errors: TZTExceptionLog\r\n"
      "    Active = True\r\n"
      "    SendTo.Collector = '" +
      dsn +
      "'\r\n"
      "    SendTo.CollectorAutoSend = False\r\n"
      "  end\r\n"
      "end\r\n";
  TComponent module(nullptr);
  TextToComponent(stored, &module);
  auto* errors = static_cast<TZTExceptionLog*>(module.FindComponent("Errors"));
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors->SendTo()->Collector(), dsn);
  EXPECT_FALSE(errors->SendTo()->CollectorAutoSend());
  const String written = ComponentToText(&module);
  EXPECT_NE(written.find("    SendTo.Collector = '" + dsn + "'\r\n    SendTo.CollectorAutoSend = False\r\n"),
            String::npos)
      << written;
  // Started by Loaded: its queue folder is there, under the test's prefix.
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Prefix() + "/collector/17-key1"));

  // Neither setting is stored while it has its default, and a text that is
  // no DSN is refused.
  errors->SendTo()->SetCollector("");
  errors->SendTo()->SetCollectorAutoSend(true);
  EXPECT_EQ(ComponentToText(&module).find("Collector"), String::npos);
  EXPECT_THROW(errors->SendTo()->SetCollector("https://sentry.example.com/1"), EConvertError);
  EXPECT_EQ(errors->SendTo()->Collector(), "");
}

}  // namespace
}  // namespace ztl::test
