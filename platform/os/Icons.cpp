#include <ztlogger/platform/os/Icons.h>

#include <array>
#include <cmath>

struct HICON__ {
  uintptr_t Id;
  uint32_t Color;  // of the disc, 0x00BBGGRR
};

namespace {

constexpr int kIconSize = 32;
constexpr uint32_t kWhite = 0xFFFFFF;

// One static object per stock icon: a handle stays valid for the process.
std::array<HICON__, 5> stockIcons{{
    {32512, 0x808080},  // application: grey
    {32513, 0x0000C0},  // hand / error: red
    {32514, 0xC00000},  // question: blue
    {32515, 0x00C0C0},  // exclamation: yellow
    {32516, 0xC00000},  // asterisk / information: blue
}};

bool InDisc(int x, int y) {
  const double c = (kIconSize - 1) / 2.0;
  return std::hypot(x - c, y - c) <= c - 1;
}

// The error icon's white cross, two pixels wide.
bool OnCross(int x, int y) {
  if (x < 9 || x > 22 || y < 9 || y > 22) return false;
  return std::abs(x - y) <= 1 || std::abs(x + y - (kIconSize - 1)) <= 1;
}

}  // namespace

HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  const auto id = reinterpret_cast<uintptr_t>(lpIconName);
  if (!hInstance)
    for (HICON__& icon : stockIcons)
      if (icon.Id == id) return &icon;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

namespace ztl {

bool GetIconPixels(HICON icon, int& width, int& height, std::vector<uint32_t>& pixels) {
  if (icon < stockIcons.data() || icon >= stockIcons.data() + stockIcons.size()) return false;
  width = height = kIconSize;
  pixels.assign(static_cast<size_t>(kIconSize) * kIconSize, kWhite);
  for (int y = 0; y < kIconSize; ++y)
    for (int x = 0; x < kIconSize; ++x) {
      if (!InDisc(x, y)) continue;
      const bool cross = icon->Id == 32513 && OnCross(x, y);
      pixels[static_cast<size_t>(y) * kIconSize + x] = cross ? kWhite : icon->Color;
    }
  return true;
}

}  // namespace ztl
