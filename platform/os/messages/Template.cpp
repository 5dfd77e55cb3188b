// The syntax of a message template (see Template.h). Relies on snprintf for
// the integer conversions and on rtl/Unicode.h for narrow inserts.
#include <ztlogger/platform/os/messages/Template.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os::messages {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Whether a character of a template ends a run of plain text: '%', CR, LF.
bool IsSpecial(char16_t c) {
  constexpr uint64_t kSpecial = uint64_t{1} << u'%' | uint64_t{1} << u'\r' | uint64_t{1} << u'\n';
  return c < 64 && (kSpecial >> c & 1);
}

std::u16string Pad(std::u16string text, int64_t width, bool left) {
  if (width > 0 && text.size() < static_cast<size_t>(width)) {
    const std::u16string fill(static_cast<size_t>(width) - text.size(), u' ');
    text = left ? text + fill : fill + text;
  }
  return text;
}

}  // namespace

// Parses "-08.3I64x"; false for a format that is no insert format.
bool ParseInsert(std::u16string_view spec, Insert& insert) {
  size_t i = 0;
  auto number = [&](int& into) {
    if (i < spec.size() && spec[i] == u'*') {
      ++insert.stars, ++i, into = -2;
      return;
    }
    if (i >= spec.size() || !IsDigit(spec[i])) return;
    into = 0;
    while (i < spec.size() && IsDigit(spec[i]) && into < 100000) into = into * 10 + (spec[i++] - u'0');
  };
  while (i < spec.size() && std::strchr("-+ #0", static_cast<char>(spec[i])) && spec[i] < 0x80)
    insert.flags += static_cast<char>(spec[i++]);
  number(insert.width);
  if (i < spec.size() && spec[i] == u'.') {
    ++i;
    insert.precision = 0;
    number(insert.precision);
  }
  for (const char* modifier : {"I64", "I32", "ll", "hh", "h", "l", "w", "I"}) {
    const size_t n = std::strlen(modifier);
    if (spec.size() - i >= n && std::equal(modifier, modifier + n, spec.begin() + static_cast<ptrdiff_t>(i))) {
      insert.length = modifier;
      i += n;
      break;
    }
  }
  if (i + 1 != spec.size() || !std::strchr("sScCdiuxXop", static_cast<char>(spec[i])) || spec[i] >= 0x80) return false;
  insert.conversion = static_cast<char>(spec[i]);
  return true;
}

std::u16string FormatInsert(const Insert& insert, const DWORD_PTR* arguments) {
  int64_t width = insert.width, precision = insert.precision;
  const DWORD_PTR* next = arguments;
  bool left = insert.flags.find('-') != std::string::npos;
  // A '*' takes an insert as a number, as printf takes an int: a negative
  // width justifies to the left, a negative precision is none.
  if (width == -2) {
    width = static_cast<int32_t>(*next++);
    if (width < 0) left = true, width = -width;
  }
  if (precision == -2) {
    precision = static_cast<int32_t>(*next++);
    if (precision < 0) precision = -1;
  }
  // Beyond the longest text neither can matter but for making it too long.
  width = std::min<int64_t>(width, kMaxOutput + 1);
  precision = std::min<int64_t>(precision, kMaxOutput + 1);
  const DWORD_PTR value = *next;
  switch (insert.conversion) {
    case 's':
    case 'S': {
      std::u16string text;
      const bool narrow = insert.conversion == 'S' || insert.length == "h";
      if (value == 0) {
        text = u"(null)";
      } else if (narrow) {
        text = unicode::Utf8ToUtf16(reinterpret_cast<const char*>(value));
      } else {
        const auto* wide = reinterpret_cast<const char16_t*>(value);
        size_t length = 0;
        const size_t most = precision >= 0 ? static_cast<size_t>(precision) : SIZE_MAX;
        while (length < most && wide[length] != 0) ++length;
        text.assign(wide, length);
      }
      if (precision >= 0 && text.size() > static_cast<size_t>(precision)) text.resize(static_cast<size_t>(precision));
      return Pad(std::move(text), width, left);
    }
    case 'c':
    case 'C': {
      const bool narrow = insert.conversion == 'C' || insert.length == "h";
      std::u16string text(1, static_cast<char16_t>(narrow ? (value & 0xFF) : (value & 0xFFFF)));
      return Pad(std::move(text), width, left);
    }
    default: {
      // Integers: 32 bits unless the length says 64 (as 'l' is 32 on Windows).
      const bool wide = insert.length == "I64" || insert.length == "ll" || insert.length == "I";
      std::string format = "%" + insert.flags;
      if (left && format.find('-') == std::string::npos) format += '-';
      if (width >= 0) format += std::to_string(width);
      if (precision >= 0) format += "." + std::to_string(precision);
      std::vector<char> buffer(static_cast<size_t>(std::max<int64_t>(width, precision)) + 64);
      if (insert.conversion == 'p') {
        std::snprintf(buffer.data(), buffer.size(), "%016llX", static_cast<unsigned long long>(value));
        return Pad(unicode::Utf8ToUtf16(buffer.data()), width, left);
      }
      format += "ll";
      format += insert.conversion;
      const bool isSigned = insert.conversion == 'd' || insert.conversion == 'i';
      long long number;
      if (wide) {
        number = static_cast<long long>(value);
      } else if (insert.length == "h" || insert.length == "hh") {
        number = isSigned ? static_cast<int16_t>(value) : static_cast<long long>(static_cast<uint16_t>(value));
      } else {
        number = isSigned ? static_cast<int32_t>(value) : static_cast<long long>(static_cast<uint32_t>(value));
      }
      std::snprintf(buffer.data(), buffer.size(), format.c_str(), number);
      return unicode::Utf8ToUtf16(buffer.data());
    }
  }
}

TemplatePiece NextPiece(std::u16string_view text, size_t& at) {
  using Kind = TemplatePiece::Kind;
  const size_t size = text.size();
  if (at >= size) return {Kind::End};
  const size_t start = at;
  const char16_t c = text[at++];
  if (c == u'\r' || c == u'\n') {
    if (c == u'\r' && at < size && text[at] == u'\n') ++at;
    return {Kind::LineBreak};
  }
  if (c != u'%') {
    // A run of plain characters goes in one piece.
    while (at < size && !IsSpecial(text[at])) ++at;
    return {Kind::Text, text.substr(start, at - start)};
  }
  if (at == size) return {Kind::Malformed};
  const char16_t d = text[at++];
  if (d == u'0') return {Kind::End};
  if (IsDigit(d)) {
    TemplatePiece insert{Kind::Insert};
    insert.number = d - u'0';
    if (at < size && IsDigit(text[at])) insert.number = insert.number * 10 + (text[at++] - u'0');
    if (at < size && text[at] == u'!') {
      const size_t close = text.find(u'!', at + 1);
      if (close == std::u16string_view::npos) return {Kind::Malformed};
      insert.format = text.substr(at + 1, close - at - 1);
      at = close + 1;
    }
    insert.text = text.substr(start, at - start);
    return insert;
  }
  switch (d) {
    case u'n': return {Kind::HardBreak};
    case u'r': return {Kind::Text, u"\r"};
    case u't': return {Kind::Text, u"\t"};
    default: return {Kind::Escaped, text.substr(at - 1, 1)};
  }
}

// A template that ends early or is malformed reads no argument past that
// point: formatting stops there too.
size_t ArgumentsUsed(std::u16string_view text) {
  size_t used = 0;
  for (size_t at = 0;;) {
    const TemplatePiece piece = NextPiece(text, at);
    if (piece.kind == TemplatePiece::Kind::End || piece.kind == TemplatePiece::Kind::Malformed) return used;
    if (piece.kind != TemplatePiece::Kind::Insert) continue;
    const auto stars = static_cast<size_t>(std::count(piece.format.begin(), piece.format.end(), u'*'));
    used = std::max(used, piece.number + stars);
  }
}

}  // namespace ztl::os::messages
