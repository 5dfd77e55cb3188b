#include <ztlogger/platform/os/WideText.h>

#include <algorithm>

#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::oswide {

std::u16string FromUtf8(const String& text) { return unicode::Utf8ToUtf16(text); }

size_t Length(const WCHAR* text) {
  size_t length = 0;
  if (text) while (text[length]) ++length;
  return length;
}

String ToUtf8(const WCHAR* text) { return ToUtf8(text, Length(text)); }

String ToUtf8(const WCHAR* text, size_t length) {
  return length == 0 ? String() : unicode::Utf16ToUtf8(std::u16string_view(text, length));
}

bool CopyWithNull(const std::u16string& text, WCHAR* buffer, size_t capacity) {
  if (!buffer || capacity < text.size() + 1) return false;
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return true;
}

}  // namespace ztl::oswide
