// The attachments of a log sent by mail: the log, additional files and the
// screenshot (headless, and of a real X display when Xvfb runs).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/core/LogDelivery.h"
#include "tests/core/MapiDouble.h"
#include "tests/support/GtkModule.h"
#include "tests/support/TestDir.h"
#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/forms/Jpeg.h>
#include "tests/support/Xvfb.h"

namespace ztl {
namespace {

using test::LogDelivery;
using test::TSentMail;
using test::TText;

// ---- Attachments -----------------------------------------------------------

TEST_F(LogDelivery, NoAttachmentsWithoutScreenshotAndLog) {
  const TSentMail& mail = SendOnce();
  EXPECT_EQ(mail.FileCount, 0u);
  EXPECT_TRUE(mail.FilesNull);
}

TEST_F(LogDelivery, AnEmptyLogFileNameIsNoAttachment) {
  SendTo().SetAttachLog(true);
  log_->SetLogFile("");
  EXPECT_EQ(SendOnce().FileCount, 0u);
}

TEST_F(LogDelivery, TheLogIsAttachedByItsPathUntested) {
  SendTo().SetAttachLog(true);
  log_->SetLogFile("logs/missing.log");
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.FileCount, 1u);
  ASSERT_EQ(mail.Files.size(), 1u);
  const auto& file = mail.Files[0];
  EXPECT_EQ(file.PathName, TText("logs/missing.log"));
  EXPECT_EQ(file.FileName, TText("missing.log"));
  EXPECT_EQ(file.Position, 0xFFFFFFFFu);
  EXPECT_EQ(file.Reserved, 0u);
  EXPECT_EQ(file.Flags, 0u);
  EXPECT_EQ(file.FileType, nullptr);
}

TEST_F(LogDelivery, AdditionalFilesFollowTheLog) {
  SendTo().SetAttachScreenShot(true);
  SendTo().SetAttachLog(true);
  log_->SetLogFile(dir_.File("app.log"));
  SendTo().AdditionalFiles()->Add(dir_.File("first.txt"));
  SendTo().AdditionalFiles()->Add("");
  SendTo().AdditionalFiles()->Add("second.dat");
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.Files.size(), 4u);
  EXPECT_EQ(mail.Files[0].PathName->substr(0, temp_.size()), temp_);  // the screenshot first
  EXPECT_EQ(mail.Files[1].PathName, TText(dir_.File("app.log")));
  EXPECT_EQ(mail.Files[2].PathName, TText(dir_.File("first.txt")));
  EXPECT_EQ(mail.Files[2].FileName, TText("first.txt"));
  EXPECT_EQ(mail.Files[3].PathName, TText("second.dat"));
  for (const auto& file : mail.Files) EXPECT_EQ(file.Position, 0xFFFFFFFFu);
}

TEST_F(LogDelivery, TheScreenshotIsATemporaryBitmapOfTheScreen) {
  SendTo().SetAttachScreenShot(true);
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.Files.size(), 1u);
  const auto& file = mail.Files[0];
  const std::filesystem::path path(*file.PathName);
  EXPECT_EQ(path.parent_path().string(), temp_);
  EXPECT_EQ(path.filename().string().substr(0, 3), "ZTL");
  EXPECT_EQ(path.extension().string(), ".bmp");
  EXPECT_EQ(file.FileName, TText(path.filename().string()));
  ASSERT_TRUE(file.Bytes.has_value()) << "the screenshot was missing during the send";
  TMemoryStream stream;
  stream.WriteBuffer(file.Bytes->data(), static_cast<int64_t>(file.Bytes->size()));
  stream.SetPosition(0);
  TBitmap shot;
  shot.LoadFromStream(stream);
  EXPECT_EQ(shot.Width(), 24);
  EXPECT_EQ(shot.Height(), 16);
  EXPECT_EQ(shot.Pixel(23, 15), clBlack);  // no display: a black screen
  // Nothing is left: neither the screenshot nor the name's placeholder.
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(LogDelivery, TheScreenshotIsAPrivateFileNoPreparedLinkRedirects) {
  // Another user's links to a file of the sender, at every name the short
  // temporary names could give a screenshot, in both formats.
  const String own = dir_.File("own.txt");
  test::WriteFileBytes(own, "mine");
  // Some disks make links slowly; a memory file system takes the temporary
  // folder where there is one.
  struct MemoryFolder {
    String path;
    MemoryFolder() {
      char name[] = "/dev/shm/ztl-test-XXXXXX";
      if (::mkdtemp(name)) path = name;
    }
    ~MemoryFolder() {
      if (!path.empty()) std::filesystem::remove_all(path);
    }
  } memory;
  const String folder = memory.path.empty() ? temp_ : memory.path;
  test::ScopedEnv tmpdir("TMPDIR", folder);
  char number[8];
  for (unsigned n = 1; n <= 0xFFFF; ++n) {
    std::snprintf(number, sizeof number, "%X", n);
    for (const char* extension : {".bmp", ".jpg"})
      ASSERT_EQ(::symlink(own.c_str(), (folder + "/ZTL" + number + extension).c_str()), 0);
  }
  for (TZTLScreenshotFormat format : {sfBitmap, sfJpeg}) {
    SendTo().SetAttachScreenShot(true);
    SendTo().SetScreenshotFormat(format);
    struct stat seen {};
    String path;
    mapi_.SetDuringSend([&] {
      path = *mapi_.Sent().back().Files.at(0).PathName;
      ASSERT_EQ(::lstat(path.c_str(), &seen), 0);
    });
    log_->SendLogByMail();
    EXPECT_TRUE(S_ISREG(seen.st_mode)) << path;
    EXPECT_EQ(seen.st_mode & 07777, 0600u) << path;
    EXPECT_GT(seen.st_size, 0) << path;
    EXPECT_EQ(test::ReadFileBytes(own), "mine");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << "left behind: " << path;
  }
}

TEST_F(LogDelivery, TheScreenshotShowsTheDisplay) {
  ZTL_TEST_SKIP_WITHOUT_GTK_MODULE();  // the display is read by the desktop module
  test::Xvfb xvfb(48, 32);
  if (!xvfb.Running()) GTEST_SKIP() << "Xvfb could not be started: the screenshot of a display is not tested";
  ASSERT_TRUE(test::Xvfb::Draw({{4, 6, 10, 8, 255, 255, 0}, {40, 0, 8, 32, 0, 128, 255}}));
  // The screen object tells the display's size, as a desktop widget set does.
  HeadlessWidgetSet().SetScreenSize(48, 32);
  SendTo().SetAttachScreenShot(true);
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.Files.size(), 1u);
  ASSERT_TRUE(mail.Files[0].Bytes.has_value());
  TMemoryStream stream;
  stream.WriteBuffer(mail.Files[0].Bytes->data(), static_cast<int64_t>(mail.Files[0].Bytes->size()));
  stream.SetPosition(0);
  TBitmap shot;
  shot.LoadFromStream(stream);
  ASSERT_EQ(shot.Width(), 48);
  ASSERT_EQ(shot.Height(), 32);
  EXPECT_EQ(shot.Pixel(4, 6), RGB(255, 255, 0));
  EXPECT_EQ(shot.Pixel(13, 13), RGB(255, 255, 0));
  EXPECT_EQ(shot.Pixel(14, 13), clBlack);
  EXPECT_EQ(shot.Pixel(47, 31), RGB(0, 128, 255));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(LogDelivery, AJpegScreenshotIsARealJpegFile) {
  SendTo().SetAttachScreenShot(true);
  SendTo().SetScreenshotFormat(sfJpeg);
  const TSentMail& mail = SendOnce();
  ASSERT_EQ(mail.Files.size(), 1u);
  EXPECT_EQ(std::filesystem::path(*mail.Files[0].PathName).extension().string(), ".jpg");
  ASSERT_TRUE(mail.Files[0].Bytes.has_value());
  EXPECT_EQ(mail.Files[0].Bytes->substr(0, 3), "\xFF\xD8\xFF");
  TMemoryStream stream;
  stream.WriteBuffer(mail.Files[0].Bytes->data(), static_cast<int64_t>(mail.Files[0].Bytes->size()));
  stream.SetPosition(0);
  TJPEGImage shot;
  shot.LoadFromStream(stream);
  EXPECT_EQ(shot.Width(), 24);
  EXPECT_EQ(shot.Height(), 16);
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace ztl
