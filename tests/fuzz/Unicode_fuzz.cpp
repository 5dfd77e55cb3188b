// Fuzz target for libFuzzer: the Unicode conversions on arbitrary bytes, read
// both as UTF-8 and as UTF-16. Well-formed text must come back unchanged from
// a round trip; everything else must come back well formed, with each stray
// byte as its Latin-1 character and each lone surrogate as U+FFFD.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::test {

namespace {

std::string Hex(std::string_view bytes) {
  std::string text;
  char digits[4];
  for (unsigned char b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", b);
    text += digits;
  }
  return text;
}

// The UTF-16 text with every surrogate that is not part of a pair replaced.
std::u16string WithoutLoneSurrogates(std::u16string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (unicode::IsHighSurrogate(text[i]) && i + 1 < text.size() && unicode::IsLowSurrogate(text[i + 1]))
      ++i;
    else if (unicode::IsSurrogate(text[i]))
      text[i] = static_cast<char16_t>(unicode::ReplacementCharacter);
  }
  return text;
}

}  // namespace

// An empty string when the conversions behaved on bytes, else what went wrong.
std::string CheckUnicodeRoundTrips(std::string_view bytes) {
  using namespace unicode;
  const std::u16string wide = Utf8ToUtf16(bytes);
  const std::string back = Utf16ToUtf8(wide);
  if (!IsValidUtf8(back)) return "UTF-8 to UTF-16 and back is not well formed: " + Hex(bytes);
  if (IsValidUtf8(bytes) ? back != bytes : back != Utf8WithLatin1Fallback(bytes))
    return "UTF-8 to UTF-16 and back changed the text: " + Hex(bytes);
  if (Utf8ToUtf16(back) != wide) return "the repaired text reads differently: " + Hex(bytes);

  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  const std::string narrow = Utf16ToUtf8(units);
  if (!IsValidUtf8(narrow)) return "UTF-16 to UTF-8 is not well formed: " + Hex(bytes);
  if (Utf8ToUtf16(narrow) != WithoutLoneSurrogates(units)) return "UTF-16 to UTF-8 and back changed: " + Hex(bytes);

  for (size_t limit = 0; limit <= back.size() && limit < 16; ++limit) {
    const size_t cut = Utf8Prefix(back, limit);
    if (cut > limit || cut + 3 < limit || !IsValidUtf8(std::string_view(back).substr(0, cut)))
      return "cutting at " + std::to_string(limit) + " split a character: " + Hex(back);
  }
  return {};
}

}  // namespace ztl::test

#ifdef ZTL_FUZZ_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string fault =
      ztl::test::CheckUnicodeRoundTrips(std::string_view(reinterpret_cast<const char*>(data), size));
  if (fault.empty()) return 0;
  std::fprintf(stderr, "%s\n", fault.c_str());
  std::abort();
}
#endif
