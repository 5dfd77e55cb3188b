#include "platform/os/WideText.h"

#include <algorithm>

namespace ztl::oswide {

namespace {

// The number of continuation bytes a UTF-8 lead byte announces, or -1.
int ContinuationCount(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

// Decodes one well-formed sequence at text[pos]; returns false when the bytes
// there do not form one (overlong forms and surrogates included).
bool DecodeSequence(const String& text, size_t pos, char32_t& code, size_t& used) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const int count = ContinuationCount(lead);
  if (count < 0 || pos + count >= text.size()) return false;
  char32_t value = lead & (0x3F >> count);
  for (int i = 1; i <= count; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  static constexpr char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
  if (value < smallest[count] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  code = value;
  used = static_cast<size_t>(count) + 1;
  return true;
}

void AppendUtf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
}

void AppendUtf8(String& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::u16string FromUtf8(const String& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    size_t used = 0;
    if (DecodeSequence(text, pos, code, used)) {
      AppendUtf16(out, code);
      pos += used;
    } else {
      out.push_back(static_cast<unsigned char>(text[pos]));
      ++pos;
    }
  }
  return out;
}

size_t Length(const WCHAR* text) {
  size_t length = 0;
  if (text) while (text[length]) ++length;
  return length;
}

String ToUtf8(const WCHAR* text) { return ToUtf8(text, Length(text)); }

String ToUtf8(const WCHAR* text, size_t length) {
  String out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

bool CopyWithNull(const std::u16string& text, WCHAR* buffer, size_t capacity) {
  if (!buffer || capacity < text.size() + 1) return false;
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return true;
}

}  // namespace ztl::oswide
