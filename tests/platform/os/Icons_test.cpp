#include <ztlogger/platform/os/Icons.h>

#include <gtest/gtest.h>

#include <set>

#include <ztlogger/platform/forms/Graphics.h>

namespace {

TEST(StockIcons, EachStockIdentifierHasOneLastingHandle) {
  std::set<HICON> handles;
  for (LPCWSTR id : {IDI_APPLICATION, IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK}) {
    HICON icon = LoadIconW(nullptr, id);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, id), icon);
    handles.insert(icon);
  }
  EXPECT_EQ(handles.size(), 5u);
  EXPECT_EQ(LoadIconW(nullptr, IDI_ERROR), LoadIconW(nullptr, MAKEINTRESOURCEW(32513)));
}

TEST(StockIcons, UnknownIdentifiersAndModuleIconsAreNotFound) {
  SetLastError(0);
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(32511)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  int anything = 0;
  auto* module = reinterpret_cast<HINSTANCE>(&anything);
  SetLastError(0);
  EXPECT_EQ(LoadIconW(module, IDI_HAND), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(StockIcons, TheErrorIconIsARedDiscWithAWhiteCross) {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(ztl::GetIconPixels(LoadIconW(nullptr, IDI_HAND), width, height, pixels));
  ASSERT_EQ(width, 32);
  ASSERT_EQ(height, 32);
  ASSERT_EQ(pixels.size(), 32u * 32u);
  auto at = [&](int x, int y) { return pixels[y * 32 + x]; };
  EXPECT_EQ(at(0, 0), 0xFFFFFFu);     // outside the disc
  EXPECT_EQ(at(15, 15), 0xFFFFFFu);   // the cross
  EXPECT_EQ(at(16, 4), 0x0000C0u);    // the disc, red in 0x00BBGGRR
  EXPECT_FALSE(ztl::GetIconPixels(nullptr, width, height, pixels));
}

TEST(StockIcons, AnIconGivenAStockHandleCarriesItsImage) {
  ztl::TIcon icon;
  icon.SetHandle(LoadIconW(nullptr, IDI_HAND));
  EXPECT_FALSE(icon.Empty());
  EXPECT_EQ(icon.Image().Width(), 32);
  EXPECT_EQ(icon.Image().Pixel(16, 4), 0x0000C0);
  ztl::TIcon copy;
  copy.Assign(&icon);
  EXPECT_EQ(copy.Handle(), icon.Handle());
  EXPECT_EQ(copy.Image().Pixel(15, 15), 0xFFFFFF);
}

}  // namespace
