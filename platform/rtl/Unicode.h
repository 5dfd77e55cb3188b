#pragma once
// UTF-8 and UTF-16: decoding, encoding and conversion between the two.
//
// Depends on the standard library alone, so that every layer of the platform,
// the operating-system services included, converts text the same way.
//
// Well-formed UTF-8 here is the shortest form of a code point up to U+10FFFF
// that is not a surrogate. Conversions never fail: what is not well formed is
// mapped as each function says (a stray byte as its Latin-1 character, an
// unpaired surrogate as U+FFFD).
//
// Any thread: the functions keep no state.
#include <cstddef>
#include <string>
#include <string_view>

#include <ztlogger/platform/rtl/Export.h>

namespace ztl::unicode {

inline constexpr char32_t ReplacementCharacter = 0xFFFD;
inline constexpr char32_t MaxCodePoint = 0x10FFFF;

inline bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
inline bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
inline bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at
// text[pos], storing its code point in *code when code is given; 0 when the
// bytes there are not one (a continuation or invalid lead byte, a truncated
// sequence, an overlong form, a surrogate, a value past U+10FFFF).
// pos < text.size().
ZTL_PLATFORM_API size_t Utf8SequenceLength(std::string_view text, size_t pos, char32_t* code = nullptr);

// Whether all of text is well-formed UTF-8.
ZTL_PLATFORM_API bool IsValidUtf8(std::string_view text);

// Appends the UTF-8 bytes of code (at most U+10FFFF). A surrogate code point
// is encoded as given: callers that need well-formed text do not pass one.
ZTL_PLATFORM_API void AppendUtf8(std::string& out, char32_t code);
// Appends the UTF-16 units of code (at most U+10FFFF): a pair past U+FFFF.
ZTL_PLATFORM_API void AppendUtf16(std::u16string& out, char32_t code);

// UTF-8 to UTF-16; a byte outside a well-formed sequence stands for its
// Latin-1 character.
ZTL_PLATFORM_API std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
ZTL_PLATFORM_API std::string Utf16ToUtf8(std::u16string_view text);

// Text in Latin-1 as UTF-8.
ZTL_PLATFORM_API std::string Latin1ToUtf8(std::string_view text);
// Bytes that are mostly UTF-8 as well-formed UTF-8: a byte outside a
// well-formed sequence is taken as a Latin-1 character.
ZTL_PLATFORM_API std::string Utf8WithLatin1Fallback(std::string_view text);

// The length of the longest prefix of text no longer than limit bytes that
// does not end inside a UTF-8 sequence (it ends before a lead byte, an ASCII
// character or the end of text).
ZTL_PLATFORM_API size_t Utf8Prefix(std::string_view text, size_t limit);

}  // namespace ztl::unicode
