#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

TEST(FileStreams, CreateTruncatesAndOpenReadsBack) {
  TestDir dir;
  String path = dir.File("f.bin");
  WriteFileBytes(path, "old contents");
  {
    TFileStream s(path, fmCreate);
    s.WriteBuffer("abc", 3);
    EXPECT_EQ(s.Size(), 3);
  }
  TFileStream r(path, fmOpenRead);
  char buffer[8] = {};
  EXPECT_EQ(r.Read(buffer, 8), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_THROW(r.ReadBuffer(buffer, 1), EReadError);
  r.Seek(-2, soEnd);
  EXPECT_EQ(r.Position(), 1);
}

TEST(FileStreams, FailuresNameTheFile) {
  TestDir dir;
  try {
    TFileStream s(dir.File("missing/f"), fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find("Cannot open file \"" + dir.File("missing/f") + "\"."), String::npos);
  }
  EXPECT_THROW(TFileStream(dir.File("missing/f"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("", fmOpenRead), EFOpenError);
}

TEST(FileStreams, OpenOrCreateKeepsWhatIsThere) {
  TestDir dir;
  String path = dir.File("keep.txt");
  {
    TFileStream s(path, fmOpenReadWrite | fmOpenOrCreate);
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("12345", 5);
  }
  TFileStream s(path, fmOpenReadWrite | fmOpenOrCreate);
  EXPECT_EQ(s.Size(), 5);
}

TEST(FileStreams, UniqueFilesAreNewPrivateAndNamedAsAsked) {
  TestDir dir;
  String first, second;
  {
    std::unique_ptr<THandleStream> a = CreateUniqueFile(dir.Path(), "ZTL", ".bmp", first);
    std::unique_ptr<THandleStream> b = CreateUniqueFile(dir.Path() + "/", "ZTL", ".bmp", second);
    a->WriteBuffer("abc", 3);
  }
  EXPECT_NE(first, second);
  for (const String& path : {first, second}) {
    EXPECT_EQ(path.rfind(dir.Path() + "/ZTL", 0), 0u) << path;
    EXPECT_EQ(path.size(), dir.Path().size() + 1 + 3 + 16 + 4) << path;
    EXPECT_TRUE(path.ends_with(".bmp")) << path;
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
  }
  EXPECT_EQ(ReadFileBytes(first), "abc");
  String none;
  EXPECT_THROW(CreateUniqueFile(dir.File("missing"), "ZTL", ".bmp", none), EFCreateError);
}

TEST(FileStreamsThreads, DenyWriteMakesASecondWriterWaitForTheFirst) {
  TestDir dir;
  String path = dir.File("shared.txt");
  WriteFileBytes(path, "");
  auto first = std::make_unique<TFileStream>(path, fmOpenReadWrite | fmShareDenyWrite);
  std::atomic<bool> secondOpened{false};
  std::thread second([&] {
    TFileStream s(path, fmOpenReadWrite | fmShareDenyWrite);
    secondOpened = true;
    s.Seek(0, soEnd);
    s.WriteBuffer("2", 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(secondOpened.load());
  first->WriteBuffer("1", 1);
  first.reset();
  second.join();
  EXPECT_TRUE(secondOpened.load());
  EXPECT_EQ(ReadFileBytes(path), "12");
}

TEST(FileStreamsThreads, ReadersShareButDenyWriters) {
  TestDir dir;
  String path = dir.File("r.txt");
  WriteFileBytes(path, "x");
  TFileStream a(path, fmOpenRead | fmShareDenyWrite);
  TFileStream b(path, fmOpenRead | fmShareDenyWrite);  // readers do not wait for each other
  TFileStream c(path, fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(b.Size(), 1);
}

TEST(MemoryStreams, GrowOnWriteAndSeekWithinBounds) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  m.Seek(10, soBeginning);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Memory()[5], 0);
  EXPECT_THROW(m.Seek(-1, soBeginning), EStreamError);
  TStringStream s("text");
  EXPECT_EQ(s.DataString(), "text");
  char c = 0;
  s.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 't');
}

}  // namespace
}  // namespace ztl::test
