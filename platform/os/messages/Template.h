#pragma once
// The syntax of a message template, one set of rules for every formatter of
// FormatMessageW (the general one and the one of prepared messages): how a
// template is taken apart into runs of text, line breaks, escapes and
// inserts, and how an insert's printf-style format is read and applied.
// Relies on nothing but the standard library and the Unicode conversions.
// Internal to the platform library.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <ztlogger/platform/os/WinTypes.h>

namespace ztl::os::messages {

// The longest text handed out, in characters (128 KB, as on Windows): a
// longer one fails, and formatting stops once it is reached.
inline constexpr size_t kMaxOutput = 65536;

// One piece of a template, as the syntax reads it.
struct TemplatePiece {
  enum class Kind {
    Text,       // a run of plain characters, or "%r" and "%t" as theirs
    LineBreak,  // CR, LF or CR LF of the template itself
    HardBreak,  // "%n": a line break a width never turns into a blank
    Escaped,    // '%' before a character of no meaning: that character
    Insert,     // "%1" to "%99", with an optional "!format!"
    End,        // the template's end, or "%0"
    Malformed,  // a '%' at the end, or a format without its closing '!'
  };
  TemplatePiece(Kind kind, std::u16string_view text = {}) : kind(kind), text(text) {}

  Kind kind;
  std::u16string_view text;           // Text, Escaped: the characters; Insert: as written
  uint32_t number = 0;                // Insert: its number
  std::u16string_view format = u"s";  // Insert: the format between the '!'
};

// The piece of the template that starts at `at`; moves `at` past it.
TemplatePiece NextPiece(std::u16string_view text, size_t& at);

// One insert with its printf-style format: the conversion takes its value
// from arguments[index]; each '*' takes the value before it.
struct Insert {
  std::string flags;
  int width = -1;
  int precision = -1;
  int stars = 0;
  std::string length;
  char conversion = 's';
};

// Parses "-08.3I64x"; false for a format that is no insert format.
bool ParseInsert(std::u16string_view spec, Insert& insert);
// The text of an insert, its value (and the values its '*' take) read from
// arguments.
std::u16string FormatInsert(const Insert& insert, const DWORD_PTR* arguments);

// The number of arguments a template reads: its highest insert plus the
// values its '*' take.
size_t ArgumentsUsed(std::u16string_view text);

}  // namespace ztl::os::messages
