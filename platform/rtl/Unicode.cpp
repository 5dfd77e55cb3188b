#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::unicode {

size_t Utf8SequenceLength(std::string_view text, size_t pos, char32_t* code) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    if (code) *code = lead;
    return 1;
  }
  // C0 and C1 can only start overlong forms, F5 and above only values past
  // U+10FFFF: they are rejected below by value.
  const size_t length = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || length > text.size() - pos) return 0;
  char32_t value = lead & (0x7Fu >> length);
  for (size_t k = 1; k < length; ++k) {
    const char next = text[pos + k];
    if (!IsContinuationByte(next)) return 0;
    value = (value << 6) | (static_cast<unsigned char>(next) & 0x3Fu);
  }
  static constexpr char32_t shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < shortest[length] || value > MaxCodePoint || IsSurrogate(value)) return 0;
  if (code) *code = value;
  return length;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t length = Utf8SequenceLength(text, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t code = 0;
    size_t length = Utf8SequenceLength(text, pos, &code);
    if (length == 0) {
      code = static_cast<unsigned char>(text[pos]);
      length = 1;
    }
    AppendUtf16(out, code);
    pos += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    // A run of ASCII copied at once: most texts are nothing else.
    size_t run = i;
    while (run < text.size() && text[run] < 0x80) ++run;
    if (run > i) {
      const size_t at = out.size();
      out.resize(at + (run - i));
      for (size_t k = i; k < run; ++k) out[at + (k - i)] = static_cast<char>(text[k]);
      i = run - 1;
      continue;
    }
    char32_t code = text[i];
    if (IsHighSurrogate(code) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (IsSurrogate(code)) {
      code = ReplacementCharacter;
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8WithLatin1Fallback(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t length = Utf8SequenceLength(text, pos);
    if (length != 0) {
      out.append(text, pos, length);
      pos += length;
    } else {
      AppendUtf8(out, static_cast<unsigned char>(text[pos++]));
    }
  }
  return out;
}

size_t Utf8Prefix(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t length = limit;
  while (length > 0 && IsContinuationByte(text[length])) --length;
  return length;
}

}  // namespace ztl::unicode
