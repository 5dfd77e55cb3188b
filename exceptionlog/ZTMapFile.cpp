#include <ztlogger/exceptionlog/ZTMapFile.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/MappedFile.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

ZTL_DEFINE_CLASS(EMapFileException, Exception)
ZTL_DEFINE_CLASS(TZTMapFile, TObject)

namespace {

// The address the exception being handled was raised at; nil when none is.
const void* HandledExceptionAddress() { return ExceptSourceAddr(); }

// The compiler splits a function into clones (its rarely run part, copies
// specialised for some arguments), named after it with " [clone .cold]" and
// the like: the procedure is the function itself.
String WithoutCloneSuffixes(std::string_view name) {
  constexpr std::string_view clone = " [clone ";
  for (size_t at; !name.empty() && name.back() == ']' && (at = name.rfind(clone)) != std::string_view::npos;)
    name = name.substr(0, at);
  return String(name);
}

constexpr std::string_view SegmentsHeader = "Detailed map of segments";
constexpr std::string_view LineNumbersHeader = "Line numbers for";

// ---- Decoding -------------------------------------------------------------

// The high bit of each byte of a word: set in a byte that is not ASCII.
constexpr uint64_t HighBits = 0x8080808080808080u;

// How many leading bytes of text are ASCII. Maps are ASCII but for the odd
// name, so this runs eight bytes a step and the UTF-8 check starts only
// where it has to.
size_t AsciiPrefix(std::string_view text) {
  size_t at = 0;
  for (uint64_t word; at + sizeof word <= text.size(); at += sizeof word) {
    std::memcpy(&word, text.data() + at, sizeof word);
    if (word & HighBits) break;
  }
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) ++at;
  return at;
}

bool IsAscii(std::string_view text) { return AsciiPrefix(text) == text.size(); }

// A line's bytes as UTF-8 text: a byte that does not belong to a
// well-formed UTF-8 sequence is taken as a Latin-1 character. No sequence
// spans a line break, so decoding line by line is decoding the file; the
// markers and fields the reader looks for are ASCII and stay where they are.
// The text is the line itself unless it must be decoded into scratch.
std::string_view DecodedLine(std::string_view line, String& scratch) {
  const size_t ascii = AsciiPrefix(line);
  if (ascii == line.size() || unicode::IsValidUtf8(line.substr(ascii))) return line;
  scratch = unicode::Utf8WithLatin1Fallback(line);
  return scratch;
}

// ---- Searching ------------------------------------------------------------

constexpr size_t NotFound = std::string_view::npos;

// Where pattern first occurs in text at or after from. Most of a map is
// digits, upper-case hexadecimal letters, blanks and colons: the search
// jumps (memchr) between occurrences of a character of the pattern that is
// none of these, upper case first, and compares the pattern only there.
size_t FindText(std::string_view text, std::string_view pattern, size_t from = 0) {
  constexpr std::string_view common = "0123456789ABCDEF: ";
  size_t anchor = NotFound;
  for (size_t i = 0; i < pattern.size() && anchor == NotFound; ++i)
    if (pattern[i] >= 'G' && pattern[i] <= 'Z') anchor = i;
  if (anchor == NotFound) anchor = pattern.find_first_not_of(common);
  if (anchor == NotFound) return text.find(pattern, from);
  for (size_t at = from + anchor; (at = text.find(pattern[anchor], at)) != NotFound; ++at)
    if (text.compare(at - anchor, pattern.size(), pattern) == 0) return at - anchor;
  return NotFound;
}

// Where the line holding position at starts (lines end with '\n').
size_t LineStart(std::string_view text, size_t at) {
  const size_t previous = at == 0 ? NotFound : text.rfind('\n', at - 1);
  return previous == NotFound ? 0 : previous + 1;
}

// Where the line after the one starting at from starts; the text's end when
// there is none.
size_t NextLine(std::string_view text, size_t from) {
  const size_t end = from < text.size() ? text.find('\n', from) : NotFound;
  return end == NotFound ? text.size() : end + 1;
}

// Where the first line at or after from that holds "Address", one, nine or
// thirteen blanks and then title ("Publics by Name", "Publics by Value")
// starts; NotFound when no line does.
size_t FindPublicsHeader(std::string_view text, std::string_view title, size_t from) {
  for (size_t at = from; (at = FindText(text, title, at)) != NotFound; ++at) {
    for (size_t blanks : {1, 9, 13}) {
      const size_t length = std::string_view("Address").size() + blanks;
      if (at < from + length) continue;
      const std::string_view before = text.substr(at - length, length);
      if (before.starts_with("Address") && before.find_first_not_of(' ', 7) == NotFound) return LineStart(text, at);
    }
  }
  return NotFound;
}

// ---- Lines ----------------------------------------------------------------

// The line starting at begin, without its line break (LF or CR LF), in a
// region ending at end.
inline std::string_view LineAt(std::string_view text, size_t begin, size_t end) {
  const char* const data = text.data();
  const auto* lf = static_cast<const char*>(std::memchr(data + begin, '\n', end - begin));
  size_t stop = lf ? static_cast<size_t>(lf - data) : end;
  if (stop > begin && data[stop - 1] == '\r') --stop;
  return text.substr(begin, stop - begin);
}

// Where the line after line (a view into text) starts, within end.
inline size_t After(std::string_view text, std::string_view line, size_t end) {
  size_t at = static_cast<size_t>(line.data() - text.data()) + line.size();
  if (at < end && text[at] == '\r') ++at;
  if (at < end && text[at] == '\n') ++at;
  return at;
}

// Walks the lines of a region one after the other. Where each line ends is
// found 64 bytes at a time (a mask of the line breaks in them), not by a
// search for each line's break: the walks over the publics pass hundreds of
// thousands of short lines.
class TLineCursor {
 public:
  TLineCursor(std::string_view text, size_t begin, size_t end) : data_(text.data()), at_(begin), end_(end) {}

  bool AtEnd() const { return at_ >= end_; }
  // Where the current line starts.
  size_t Position() const { return at_; }
  // The current line without its break (LF or CR LF); moves on to the next.
  std::string_view Next() {
    const size_t begin = at_;
    const size_t lf = Skip();
    const size_t stop = lf > begin && data_[lf - 1] == '\r' ? lf - 1 : lf;
    return {data_ + begin, stop - begin};
  }
  // Moves on to the next line; where the current one's LF is (the region's
  // end when it has none).
  size_t Skip() {
    const size_t lf = FindBreak(at_);
    at_ = lf < end_ ? lf + 1 : end_;
    return lf;
  }

 private:
  static constexpr size_t Block = 64;

  // The line breaks among the Block bytes at p, as bits.
  static uint64_t BreakMask(const char* p) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const auto bits = [&](size_t i) -> uint64_t {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      return static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)));
    };
    return bits(0) | bits(16) << 16 | bits(32) << 32 | bits(48) << 48;
#else
    uint64_t mask = 0;
    for (size_t i = 0; i < Block; ++i) mask |= uint64_t{p[i] == '\n'} << i;
    return mask;
#endif
  }

  // Where the first line break at or after from lies; end_ when none does.
  size_t FindBreak(size_t from) {
    for (;;) {
      if (from >= block_ && from < block_ + Block) {
        if (const uint64_t bits = mask_ & (~uint64_t{0} << (from - block_)))
          return block_ + static_cast<size_t>(__builtin_ctzll(bits));
        from = block_ + Block;
      }
      if (from >= end_) return end_;
      if (end_ - from < Block) {
        const auto* lf = static_cast<const char*>(std::memchr(data_ + from, '\n', end_ - from));
        return lf ? static_cast<size_t>(lf - data_) : end_;
      }
      block_ = from;
      mask_ = BreakMask(data_ + from);
    }
  }

  const char* const data_;
  size_t at_;
  const size_t end_;
  size_t block_ = SIZE_MAX - Block;  // no block read yet
  uint64_t mask_ = 0;
};

// Whether the line starting at begin holds pattern.
bool LineHolds(std::string_view text, size_t begin, std::string_view pattern) {
  return LineAt(text, begin, text.size()).find(pattern) != std::string_view::npos;
}

// The three regions of a map's text as byte ranges of whole lines.
struct TRegionRanges {
  size_t SegmentsBegin = 0, SegmentsEnd = 0;
  size_t PublicsBegin = 0, PublicsEnd = 0;
  size_t LinesBegin = 0, LinesEnd = 0;
};

TRegionRanges FindRegions(std::string_view text) {
  TRegionRanges ranges;
  const size_t segmentsHeader = FindText(text, SegmentsHeader);
  if (segmentsHeader == NotFound) return ranges;
  // The header line and the one after it are skipped.
  ranges.SegmentsBegin = NextLine(text, NextLine(text, LineStart(text, segmentsHeader)));
  const size_t byName = FindPublicsHeader(text, "Publics by Name", ranges.SegmentsBegin);
  ranges.SegmentsEnd = byName == NotFound ? text.size() : byName;
  if (byName == NotFound) return ranges;
  const size_t byValue = FindPublicsHeader(text, "Publics by Value", byName);
  if (byValue == NotFound) return ranges;
  // The header line and the two after it are skipped.
  ranges.PublicsBegin = NextLine(text, NextLine(text, NextLine(text, byValue)));
  const size_t lineNumbers = FindText(text, LineNumbersHeader, ranges.PublicsBegin);
  ranges.PublicsEnd = lineNumbers == NotFound ? text.size() : LineStart(text, lineNumbers);
  ranges.LinesBegin = ranges.LinesEnd = ranges.PublicsEnd;
  if (lineNumbers != NotFound) ranges.LinesEnd = text.size();
  return ranges;
}

// ---- Fields ---------------------------------------------------------------

constexpr size_t EndOfLine = std::string_view::npos;

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool IsBlank(std::string_view line) {
  for (char c : line)
    if (!IsBlankOrControl(c)) return false;
  return true;
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

// The characters at positions first to last (counted from 1, inclusive) of a
// line; shorter or empty where the line ends before. Positions count
// characters: where the line is ASCII up to the field's end, bytes.
std::string_view Column(std::string_view line, size_t first, size_t last = EndOfLine) {
  const size_t end = std::min(last, line.size());
  if (IsAscii(line.substr(0, end)))
    return first > end ? line.substr(end, 0) : line.substr(first - 1, end - (first - 1));
  size_t begin = line.size();
  size_t position = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (unicode::IsContinuationByte(line[i])) continue;
    ++position;
    if (position == first) begin = i;
    if (position == last + 1) return line.substr(begin, i - begin);
  }
  return line.substr(begin);
}

// The value of each byte as a hexadecimal digit, or -1.
constexpr std::array<int8_t, 256> HexDigits = [] {
  std::array<int8_t, 256> digits{};
  digits.fill(-1);
  for (int c = '0'; c <= '9'; ++c) digits[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) digits[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) digits[c] = static_cast<int8_t>(c - 'a' + 10);
  return digits;
}();

// Inlined: an optional returned through memory is stored in two parts and
// read back in one, which stalls the walks at each line.
[[gnu::always_inline]] inline std::optional<uint32_t> HexField(std::string_view field) {
  if (field.empty() || field.size() > 8) return std::nullopt;
  uint32_t value = 0;
  int invalid = 0;  // one test for the whole field: digits take no branches
  for (char c : field) {
    const int digit = HexDigits[static_cast<unsigned char>(c)];
    invalid |= digit;
    value = (value << 4) | static_cast<uint32_t>(digit & 0xF);
  }
  if (invalid < 0) return std::nullopt;
  return value;
}

// Eight hexadecimal digits as one word holds them (the first digit in the
// lowest byte), every byte below 0x80: all converted at once, so that a walk
// over many lines does not spend eight table look-ups on each.
[[gnu::always_inline]] inline std::optional<uint32_t> EightHexDigits(uint64_t word) {
  constexpr uint64_t ones = 0x0101010101010101u;
  // The high bit of each byte: set where the byte is at least low, or above high.
  const auto atLeast = [](uint64_t bytes, unsigned low) { return (bytes + (0x80 - low) * ones) & HighBits; };
  const auto above = [](uint64_t bytes, unsigned high) { return (bytes + (0x7F - high) * ones) & HighBits; };
  const uint64_t folded = word | 0x20 * ones;  // 'A'-'F' as 'a'-'f'; digits keep their bytes
  const uint64_t digit = atLeast(word, '0') & ~above(word, '9');
  const uint64_t letter = atLeast(folded, 'a') & ~above(folded, 'f');
  if ((digit | letter) != HighBits) return std::nullopt;
  uint64_t value = (word & 0x0F * ones) + (letter >> 7) * 9;  // each byte its digit's value
  value = ((value << 4) | (value >> 8)) & 0x00FF00FF00FF00FFu;
  value = ((value << 8) | (value >> 16)) & 0x0000FFFF0000FFFFu;
  return static_cast<uint32_t>((value << 16) | (value >> 32));
}

// The hexadecimal field at positions first to first+7 (counted from 1) of a
// line whose bytes up to the field are known to be ASCII when asciiBefore
// is set: the digits are then read where they stand.
[[gnu::always_inline]] inline std::optional<uint32_t> HexAt(std::string_view line, size_t first, bool asciiBefore) {
  uint64_t digits = HighBits;
  if (asciiBefore && line.size() >= first + 7) std::memcpy(&digits, line.data() + first - 1, sizeof digits);
  if (digits & HighBits) return HexField(Column(line, first, first + 7));
  return EightHexDigits(digits);
}

// The offset at positions 7 to 14 of a segment or public line. Such lines
// are ASCII there nearly always: the first word tells for the bytes before.
[[gnu::always_inline]] inline std::optional<uint32_t> OffsetField(std::string_view line) {
  uint64_t head = HighBits;
  if (line.size() >= sizeof head) std::memcpy(&head, line.data(), sizeof head);
  return HexAt(line, 7, (head & HighBits) == 0);
}

std::optional<int32_t> DecimalField(std::string_view field) {
  field = TrimView(field);
  bool negative = false;
  if (!field.empty() && (field.front() == '-' || field.front() == '+')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  if (field.empty() || field.size() > 9) return std::nullopt;
  int32_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

// Whether a segment line names a unit.
bool NamesUnit(std::string_view line) {
  return line.find("M=") != std::string_view::npos && line.find("ACBP=") != std::string_view::npos;
}

// The unit a segment line names: the text after the first "M=" up to the
// first "ACBP=", less the one character (a blank) just before it.
std::optional<String> SegmentUnitName(std::string_view line) {
  const size_t module = line.find("M=");
  const size_t acbp = line.find("ACBP=");
  if (module == std::string_view::npos || acbp == std::string_view::npos) return std::nullopt;
  size_t end = acbp;
  if (end > 0) {
    --end;
    while (end > 0 && unicode::IsContinuationByte(line[end])) --end;
  }
  const size_t begin = module + 2;
  if (end <= begin) return String();
  return String(TrimView(line.substr(begin, end - begin)));
}

// Whether the 14 bytes at p are ASCII; their last eight in digits.
[[gnu::always_inline]] inline bool AsciiHead(const char* p, uint64_t& digits) {
  uint64_t head;
  std::memcpy(&head, p, sizeof head);
  std::memcpy(&digits, p + 6, sizeof digits);
  return ((head | digits) & HighBits) == 0;
}

// The offset at positions 7 to 14 of a segment or public line. Where the
// line's first 14 bytes are ASCII, as in nearly every line, the digits are
// read where they stand; otherwise from the decoded line.
[[gnu::always_inline]] inline std::optional<uint32_t> LineOffset(std::string_view line, String& scratch) {
  uint64_t digits;
  if (line.size() >= 14 && AsciiHead(line.data(), digits)) return EightHexDigits(digits);
  return OffsetField(DecodedLine(line, scratch));
}

// The start of a segment line when both its start and its length convert:
// the segment walk passes over every other line.
std::optional<uint32_t> SegmentStart(std::string_view line) {
  const auto start = OffsetField(line);
  if (!start || !HexField(Column(line, 16, 23))) return std::nullopt;
  return start;
}

// The key the walks and the seeks take a segment line by: its start.
std::optional<uint32_t> SegmentKey(std::string_view line, String& scratch) {
  return SegmentStart(DecodedLine(line, scratch));
}

// Whether a line of the line-number region holds the unit name: an ASCII
// name in the line's bytes, any other in the decoded text of a line that is
// not ASCII itself.
bool LineHoldsName(std::string_view line, std::string_view name, String& scratch) {
  if (IsAscii(name)) return line.find(name) != std::string_view::npos;
  return !IsAscii(line) && DecodedLine(line, scratch).find(name) != std::string_view::npos;
}

// The procedure a public line names: the line starting at picked.
void PickMethod(std::string_view text, size_t picked, size_t end, String& method) {
  String scratch;
  const std::string_view line = DecodedLine(LineAt(text, picked, end), scratch);
  method = WithoutCloneSuffixes(TrimView(Column(line, 22)));
}

// ---- A layout recorded by ztl-mkmap ---------------------------------------

// Before its segments header a map written by ztl-mkmap holds the line
//   Layout after the segments header: N bytes, publics by name at A,
//   publics by value at B, line numbers at C
// (one line), the positions counted in bytes from the start of the segments
// header's line, each that of the first line holding its header; and for
// each unit named in its segments, with L the first line of the line-number
// region that holds the name,
//   Lines of NAME at L
constexpr std::string_view LayoutRecord = "Layout after the segments header: ";

// Reads a decimal number at the front of text and drops it with what
// follows it when that is suffix.
std::optional<size_t> TakeNumber(std::string_view& text, std::string_view suffix) {
  size_t value = 0, digits = 0;
  for (; digits < text.size() && digits < 15 && text[digits] >= '0' && text[digits] <= '9'; ++digits)
    value = value * 10 + static_cast<size_t>(text[digits] - '0');
  if (digits == 0 || text.substr(digits, suffix.size()) != suffix) return std::nullopt;
  text.remove_prefix(digits + suffix.size());
  return value;
}

// Whether the line starting at begin holds "Address", one, nine or thirteen
// blanks and title.
bool IsPublicsHeader(std::string_view text, size_t begin, std::string_view title) {
  return FindPublicsHeader(LineAt(text, begin, text.size()), title, 0) == 0;
}

bool IsLineStart(std::string_view text, size_t at) { return at == 0 || (at <= text.size() && text[at - 1] == '\n'); }

// ---- Seeking ----------------------------------------------------------------

// The first line of [begin, end) whose key converts and is above, in a region
// whose converting keys never fall: the line a walk from begin would stop at,
// found by halves. Lines whose key does not convert are passed over as the
// walk would. end when there is none.
template <class Key, class Above>
size_t SeekFirst(std::string_view text, size_t begin, size_t end, Key key, Above above) {
  // Every converting key of a line before lo is not above; the line sought
  // starts before hi or is the first converting one at or after it.
  size_t lo = begin, hi = end;
  while (lo < hi) {
    const size_t middle = LineStart(text, lo + (hi - lo) / 2);
    size_t at = middle;
    std::optional<uint32_t> value;
    while (at < hi) {
      const std::string_view line = LineAt(text, at, end);
      if ((value = key(line))) break;
      at = After(text, line, end);
    }
    if (at >= hi) {
      hi = middle;
    } else if (above(*value)) {
      hi = at;
    } else {
      lo = After(text, LineAt(text, at, end), end);
    }
  }
  for (size_t at = lo; at < end;) {
    const std::string_view line = LineAt(text, at, end);
    if (const auto value = key(line); value && above(*value)) return at;
    at = After(text, line, end);
  }
  return end;
}

// ---- The index ----------------------------------------------------------------

// Whether the keys of the lines of [begin, end) that have one never fall:
// then the line a walk stops at is the one SeekFirst finds.
template <class Key>
bool KeysNeverFall(std::string_view text, size_t begin, size_t end, Key key) {
  uint32_t last = 0;
  for (TLineCursor lines(text, begin, end); !lines.AtEnd();) {
    const auto value = key(lines.Next());
    if (!value) continue;
    if (*value < last) return false;
    last = *value;
  }
  return true;
}

// The highest byte a line of entries ("%6d 0001:%08X" up to four times, CR
// LF) holds. A name holding a byte above it can be found only in the lines
// that hold one too.
constexpr unsigned char HighestEntryByte = 'F';

bool MayBeInEntryLines(std::string_view name) {
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= HighestEntryByte; });
}

// Where the first byte of [from, end) above HighestEntryByte lies; end when
// there is none. Sixty-four bytes a step: nearly all of a line-number region
// is entries.
size_t FindByteAboveEntries(std::string_view text, size_t from, size_t end) {
  const char* const data = text.data();
#if defined(__SSE2__)
  const __m128i highest = _mm_set1_epi8(static_cast<char>(HighestEntryByte));
  const auto load = [&](size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)); };
  for (; from + 64 <= end; from += 64) {
    const __m128i most =
        _mm_max_epu8(_mm_max_epu8(load(from), load(from + 16)), _mm_max_epu8(load(from + 32), load(from + 48)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(most, highest), _mm_setzero_si128())) != 0xFFFF) break;
  }
#endif
  for (; from < end; ++from)
    if (static_cast<unsigned char>(data[from]) > HighestEntryByte) return from;
  return end;
}

// The starts of the lines of [begin, end) that hold a byte above those of a
// line of entries: the block headers, in a map as linkers write them.
std::vector<size_t> LinesHoldingOtherBytes(std::string_view text, size_t begin, size_t end) {
  std::vector<size_t> lines;
  for (size_t at = begin; (at = FindByteAboveEntries(text, at, end)) < end; at = NextLine(text, at))
    lines.push_back(LineStart(text, at));
  return lines;
}

}  // namespace

// What a lookup may take from a map's regions without walking them, found
// once by walking them all.
struct TZTMapFile::TLookupIndex {
  bool SegmentsInOrder = false;    // segment starts never fall
  bool PublicsInOrder = false;     // public offsets never fall
  std::vector<size_t> OtherLines;  // LinesHoldingOtherBytes of the line-number region
};

void WalkMapLookups(TZTMapFile& map) {
  map.FWalkOnly = true;
  map.FIndex.reset();
}

TZTMapFile::TZTMapFile() = default;

TZTMapFile::~TZTMapFile() = default;

void TZTMapFile::SetMapFileName(const String& value) {
  if (value == FMapFileName) return;
  FMapFileName = value;
  FMapFileIsLoaded = false;
}

void TZTMapFile::SetSeekRecordedLayout(bool value) {
  if (value == FSeekRecordedLayout) return;
  FSeekRecordedLayout = value;
  FMapFileIsLoaded = false;
}

// Unmaps the file and forgets its regions, so that a map read again is never
// held twice.
void TZTMapFile::ReleaseMap() {
  FMapText = {};
  FMapView.reset();
  String().swap(FMapCopy);
  FSegmentData = TMapRegion();
  FAdressData = TMapRegion();
  FLineData = TMapRegion();
  FLayout = TRecordedLayout();
  FIndex.reset();
}

void TZTMapFile::LoadMapFile() {
  FMapFileIsLoaded = false;
  ReleaseMap();
  if (!FMapFileName.empty() && FileExists(FMapFileName)) {
    try {
      FMapView = std::make_unique<TMappedFile>(FMapFileName);
      FMapText = FMapView->Bytes();
      if (!FSeekRecordedLayout) {
        FMapCopy.assign(FMapText);
        FMapView.reset();
        FMapText = FMapCopy;
      }
      if (FMapText.starts_with("\xEF\xBB\xBF")) FMapText.remove_prefix(3);
      if (FSeekRecordedLayout) ReadRecordedLayout();
      if (!FLayout.Valid) {
        const TRegionRanges ranges = FindRegions(FMapText);
        FSegmentData = {ranges.SegmentsBegin, ranges.SegmentsEnd};
        FAdressData = {ranges.PublicsBegin, ranges.PublicsEnd};
        FLineData = {ranges.LinesBegin, ranges.LinesEnd};
      }
    } catch (...) {
      ReleaseMap();
      throw;
    }
  }
  FMapFileIsLoaded = true;
}

// Takes the regions from the layout the map records, when its record fits
// the file: its size, and a header where it says each one is. Otherwise the
// regions are looked for as every map's are.
void TZTMapFile::ReadRecordedLayout() {
  const std::string_view text = FMapText;
  const size_t header = FindText(text, SegmentsHeader);
  if (header == NotFound) return;
  const size_t records = LineStart(text, header);
  const size_t at = FindText(text.substr(0, records), LayoutRecord);
  if (at == NotFound || !IsLineStart(text, at)) return;
  std::string_view fields = LineAt(text, at + LayoutRecord.size(), records);
  const auto size = TakeNumber(fields, " bytes, publics by name at ");
  const auto byName = size ? TakeNumber(fields, ", publics by value at ") : std::nullopt;
  const auto byValue = byName ? TakeNumber(fields, ", line numbers at ") : std::nullopt;
  const auto lines = byValue ? TakeNumber(fields, "") : std::nullopt;
  if (!lines || !fields.empty() || *size != text.size() - records || !(*byName < *byValue && *byValue < *lines) ||
      *lines >= *size)
    return;
  const size_t nameHeader = records + *byName, valueHeader = records + *byValue, lineHeader = records + *lines;
  if (!IsLineStart(text, nameHeader) || !IsLineStart(text, valueHeader) || !IsLineStart(text, lineHeader) ||
      !IsPublicsHeader(text, nameHeader, "Publics by Name") || !IsPublicsHeader(text, valueHeader, "Publics by Value") ||
      !LineHolds(text, lineHeader, LineNumbersHeader))
    return;
  FSegmentData = {NextLine(text, NextLine(text, records)), nameHeader};
  FAdressData = {NextLine(text, NextLine(text, NextLine(text, valueHeader))), lineHeader};
  FLineData = {lineHeader, text.size()};
  FLayout = {true, records};
}

void TZTMapFile::LoadIfNeeded() {
  if (!FMapFileIsLoaded) LoadMapFile();
}

// The loaded map's index, built at its first lookup; none for a map whose
// recorded layout is sought, or for a reader told to walk.
const TZTMapFile::TLookupIndex* TZTMapFile::Index() {
  if (FLayout.Valid || FWalkOnly) return nullptr;
  if (!FIndex) {
    auto index = std::make_unique<TLookupIndex>();
    const std::string_view text = FMapText;
    String scratch;
    index->SegmentsInOrder = KeysNeverFall(text, FSegmentData.Begin, FSegmentData.End,
                                           [&](std::string_view line) { return SegmentKey(line, scratch); });
    index->PublicsInOrder = KeysNeverFall(text, FAdressData.Begin, FAdressData.End,
                                          [&](std::string_view line) { return LineOffset(line, scratch); });
    index->OtherLines = LinesHoldingOtherBytes(text, FLineData.Begin, FLineData.End);
    FIndex = std::move(index);
  }
  return FIndex.get();
}

void TZTMapFile::ClearResults() {
  FExceptAddress = 0;
  FExceptLineNumber = 0;
  FExceptMethodName.clear();
  FExceptUnitName.clear();
  FExceptionAnalyzed = false;
}

void TZTMapFile::LoadExceptionData(const void* Address) {
  ClearResults();
  LoadIfNeeded();
  if (!Address) Address = HandledExceptionAddress();
  if (!Address) return;
  FExceptAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Address)) - FMapFileBase;
  const TLookupIndex* index = Index();
  if (FLayout.Valid || (index && index->SegmentsInOrder)) {
    SeekUnit();
  } else {
    FindUnit();
  }
  if (FLayout.Valid || (index && index->PublicsInOrder)) {
    SeekMethod();
  } else {
    FindMethod();
  }
  FindLineNumber();
  FExceptionAnalyzed = true;
}

// The unit named by the last naming segment line before the first segment
// that starts above the address; segment lengths are not checked.
void TZTMapFile::FindUnit() {
  // A blank line has no start: the start's conversion alone skips it. The
  // name is taken from the last naming line once the walk is over.
  String scratch, naming;
  bool named = false;
  for (TLineCursor lines(FMapText, FSegmentData.Begin, FSegmentData.End); !lines.AtEnd();) {
    const std::string_view line = DecodedLine(lines.Next(), scratch);
    const auto start = SegmentStart(line);
    if (!start) continue;
    if (*start > FExceptAddress) break;
    if (NamesUnit(line)) {
      naming = line;
      named = true;
    }
  }
  if (!named) return;
  if (auto name = SegmentUnitName(naming)) FExceptUnitName = std::move(*name);
}

// FindUnit's answer in a map whose segment starts never fall: the first
// segment above the address found by halves, the naming line looked for
// back from there.
void TZTMapFile::SeekUnit() {
  const std::string_view text = FMapText;
  const size_t begin = FSegmentData.Begin;
  String scratch;
  const auto start = [&](std::string_view line) { return SegmentKey(line, scratch); };
  const uint32_t address = FExceptAddress;
  size_t at = SeekFirst(text, begin, FSegmentData.End, start, [address](uint32_t value) { return value > address; });
  while (at > begin) {
    at = LineStart(text, at - 1);
    const std::string_view line = DecodedLine(LineAt(text, at, FSegmentData.End), scratch);
    if (!SegmentStart(line) || !NamesUnit(line)) continue;
    if (auto name = SegmentUnitName(line)) FExceptUnitName = std::move(*name);
    return;
  }
}

// The public at the address, else the line just before the first public
// above it; nothing when no public reaches the address.
void TZTMapFile::FindMethod() {
  // A blank line has no offset: the offset's conversion alone skips it.
  const std::string_view text = FMapText;
  const size_t end = FAdressData.End;
  const uint32_t address = FExceptAddress;
  String scratch;
  size_t previous = NotFound;
  for (TLineCursor lines(text, FAdressData.Begin, end); !lines.AtEnd();) {
    const size_t at = lines.Position();
    const auto offset = LineOffset(lines.Next(), scratch);
    if (offset && *offset >= address) {
      if (*offset == address || previous != NotFound)
        PickMethod(text, *offset == address ? at : previous, end, FExceptMethodName);
      return;
    }
    previous = at;
  }
}

// FindMethod's answer in a map whose public offsets never fall: the first
// public at or above the address found by halves.
void TZTMapFile::SeekMethod() {
  const std::string_view text = FMapText;
  const size_t begin = FAdressData.Begin, end = FAdressData.End;
  const uint32_t address = FExceptAddress;
  String scratch;
  const auto offset = [&](std::string_view line) { return LineOffset(line, scratch); };
  const size_t at = SeekFirst(text, begin, end, offset, [address](uint32_t value) { return value >= address; });
  if (at >= end) return;
  if (offset(LineAt(text, at, end)) == address) {
    PickMethod(text, at, end, FExceptMethodName);
  } else if (at > begin) {
    PickMethod(text, LineStart(text, at - 1), end, FExceptMethodName);
  }
}

// Where the first non-blank line of the line-number region holding the unit
// name starts; NotFound when none does. A line holding the name is not
// blank, and the name holds no line break. A name with a byte that no line
// of entries holds is looked for in the lines the index found to hold one;
// any other ASCII name in the region's bytes at once, any other name in the
// lines that are not ASCII.
size_t TZTMapFile::FindLineBlock() const {
  const std::string_view text = FMapText;
  const String& name = FExceptUnitName;
  if (name.empty() || FLineData.Begin >= FLineData.End) return NotFound;
  String scratch;
  if (FIndex && !MayBeInEntryLines(name)) {
    for (const size_t at : FIndex->OtherLines)
      if (LineHoldsName(LineAt(text, at, FLineData.End), name, scratch)) return at;
    return NotFound;
  }
  if (IsAscii(name)) {
    const size_t at = FindText(text, name, FLineData.Begin);
    return at == NotFound ? NotFound : LineStart(text, at);
  }
  for (TLineCursor lines(text, FLineData.Begin, FLineData.End); !lines.AtEnd();) {
    const size_t at = lines.Position();
    if (LineHoldsName(lines.Next(), name, scratch)) return at;
  }
  return NotFound;
}

// Where the first line at or after from that holds the block header starts;
// NotFound when none does.
size_t TZTMapFile::NextBlockHeader(size_t from) const {
  const std::string_view text = FMapText;
  if (!FIndex) {
    const size_t header = FindText(text, LineNumbersHeader, from);
    return header == NotFound ? NotFound : LineStart(text, header);
  }
  const std::vector<size_t>& lines = FIndex->OtherLines;
  for (auto at = std::lower_bound(lines.begin(), lines.end(), from); at != lines.end(); ++at)
    if (LineAt(text, *at, FLineData.End).find(LineNumbersHeader) != std::string_view::npos) return *at;
  return NotFound;
}

// FindLineBlock's answer as the map records it; FindLineBlock's own when the
// map records none for the name.
size_t TZTMapFile::RecordedLineBlock() const {
  const std::string_view records = FMapText.substr(0, FLayout.Records);
  const String key = "Lines of " + FExceptUnitName + " at ";
  for (size_t at = 0; !FExceptUnitName.empty() && (at = records.find(key, at)) != NotFound; ++at) {
    if (!IsLineStart(records, at)) continue;
    std::string_view rest = LineAt(records, at + key.size(), records.size());
    const auto line = TakeNumber(rest, "");
    if (!line || !rest.empty()) continue;
    const size_t block = FLayout.Records + *line;
    if (block >= FLineData.Begin && block < FLineData.End && IsLineStart(FMapText, block)) return block;
  }
  return FindLineBlock();
}

// Walks the whole block: the line of the last entry at or below the address,
// or 0 when the address lies beyond the block's last entry.
void TZTMapFile::FindLineNumber() {
  const std::string_view text = FMapText;
  const size_t found = FLayout.Valid ? RecordedLineBlock() : FindLineBlock();
  if (found == NotFound) return;
  const size_t first = NextLine(text, NextLine(text, found));
  if (first >= FLineData.End) return;
  // The block ends before the next line holding the header.
  const size_t header = NextBlockHeader(first);
  const size_t blockEnd = header == NotFound ? FLineData.End : header;
  int32_t candidate = 0;
  uint32_t lastOffset = 0;
  String scratch;
  for (TLineCursor lines(text, first, blockEnd); !lines.AtEnd();) {
    const std::string_view raw = lines.Next();
    // Told once for the line, not again for each of its entries.
    const bool ascii = IsAscii(raw);
    const std::string_view line = ascii ? raw : DecodedLine(raw, scratch);
    for (size_t k = 0; k < 4; ++k) {
      const auto offset = HexAt(line, 20 * k + 13, ascii);
      if (!offset) break;
      lastOffset = *offset;
      if (FExceptAddress < *offset) break;
      const auto number = DecimalField(ascii ? line.substr(20 * k, 6) : Column(line, 20 * k + 1, 20 * k + 6));
      if (!number) break;
      candidate = *number;
      if (FExceptAddress == *offset) break;
    }
  }
  if (lastOffset >= FExceptAddress) FExceptLineNumber = candidate;
}

namespace {

// Whether a segment line in [begin, end) holds the offset; whether any
// segment line is there at all.
struct TSegmentsHold {
  bool Any = false, Holds = false;
};

TSegmentsHold SegmentsHold(std::string_view text, size_t begin, size_t end, uint32_t offset) {
  TSegmentsHold result;
  String scratch;
  for (TLineCursor lines(text, begin, end); !lines.AtEnd() && !result.Holds;) {
    const std::string_view line = DecodedLine(lines.Next(), scratch);
    const auto start = SegmentStart(line);
    if (!start) continue;
    result.Any = true;
    const auto length = HexField(Column(line, 16, 23));
    result.Holds = length && offset >= *start && offset - *start < *length;
  }
  return result;
}

}  // namespace

bool TZTMapFile::UnitHolds(uint32_t Offset) {
  LoadIfNeeded();
  if (!FLayout.Valid) return SegmentsHold(FMapText, FSegmentData.Begin, FSegmentData.End, Offset).Holds;
  // Segment starts never fall in such a map: only the last segment that
  // starts at or below the offset can hold it, found by halves.
  const std::string_view text = FMapText;
  const size_t begin = FSegmentData.Begin;
  String scratch;
  const auto start = [&](std::string_view line) { return SegmentKey(line, scratch); };
  size_t at = SeekFirst(text, begin, FSegmentData.End, start, [Offset](uint32_t value) { return value > Offset; });
  while (at > begin) {
    at = LineStart(text, at - 1);
    const std::string_view line = LineAt(text, at, FSegmentData.End);
    if (start(line)) return SegmentsHold(text, at, NextLine(text, at), Offset).Holds;
  }
  return false;
}

bool TZTMapFile::CodeHolds(uint32_t Offset) {
  LoadIfNeeded();
  // The section table before the segments header; a map without one has
  // only its units' segments to tell.
  const TSegmentsHold sections = SegmentsHold(FMapText, 0, FSegmentData.Begin, Offset);
  return sections.Any ? sections.Holds : UnitHolds(Offset);
}

void TZTMapFile::LoadUnitNames(TStrings* List) {
  if (!List) return;
  List->Clear();
  LoadIfNeeded();
  String scratch;
  for (TLineCursor lines(FMapText, FSegmentData.Begin, FSegmentData.End); !lines.AtEnd();) {
    const std::string_view line = DecodedLine(lines.Next(), scratch);
    if (IsBlank(line)) continue;
    auto name = SegmentUnitName(line);
    if (!name) continue;
    try {
      List->Add(*name);
    } catch (const Exception&) {
      // A list that refuses this name (a sorted list without duplicates)
      // loses only this line.
    }
  }
}

}  // namespace ztl
