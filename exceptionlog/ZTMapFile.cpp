#include "exceptionlog/ZTMapFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/classes/ClassBuilder.h"
#include "platform/classes/Streams.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Unicode.h"

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

// How many leading bytes of text are ASCII. Maps are ASCII but for the odd
// name, so this runs eight bytes a step and the UTF-8 check starts only
// where it has to.
size_t AsciiPrefix(std::string_view text) {
  constexpr uint64_t highBits = 0x8080808080808080u;
  size_t at = 0;
  for (uint64_t word; at + sizeof word <= text.size(); at += sizeof word) {
    std::memcpy(&word, text.data() + at, sizeof word);
    if (word & highBits) break;
  }
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) ++at;
  return at;
}

// The file's bytes as UTF-8 text: a byte that does not belong to a
// well-formed UTF-8 sequence is taken as a Latin-1 character.
String DecodeMapText(String bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  const size_t ascii = AsciiPrefix(bytes);
  if (unicode::IsValidUtf8(std::string_view(bytes).substr(ascii))) return bytes;
  return unicode::Utf8WithLatin1Fallback(bytes);
}

String ReadMapText(const String& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  String bytes(static_cast<size_t>(std::max<int64_t>(stream.Size(), 0)), '\0');
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return DecodeMapText(std::move(bytes));
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

// ---- Regions --------------------------------------------------------------

// Line i of a region whose lines start at bounds, without its line break (LF
// or CR LF).
inline std::string_view RegionLine(std::string_view text, const std::vector<size_t>& bounds, size_t i) {
  const size_t begin = bounds[i];
  size_t end = bounds[i + 1];
  if (end > begin && text[end - 1] == '\n') --end;
  if (end > begin && text[end - 1] == '\r') --end;
  return text.substr(begin, end - begin);
}

// Where the lines of the region text[begin, end) start, and where it ends.
std::vector<size_t> LineBounds(std::string_view text, size_t begin, size_t end) {
  std::vector<size_t> bounds;
  if (begin >= end) return bounds;
  const char* const data = text.data();
  // Counted first, so that the bounds take what they need and no more.
  size_t count = 1;
  for (const char* at = data + begin; (at = static_cast<const char*>(std::memchr(at, '\n', data + end - at)));) {
    ++at;
    if (at < data + end) ++count;
  }
  bounds.reserve(count + 1);
  for (size_t at = begin; at < end; at = NextLine(text.substr(0, end), at)) bounds.push_back(at);
  bounds.push_back(end);
  return bounds;
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

// Whether text is all ASCII; a word at a time, the last word overlapping.
bool IsAscii(std::string_view text) {
  constexpr uint64_t highBits = 0x8080808080808080u;
  uint64_t word = 0;
  if (text.size() < sizeof word) {
    for (char c : text)
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
  }
  uint64_t any = 0;
  for (size_t at = 0; at + sizeof word < text.size(); at += sizeof word) {
    std::memcpy(&word, text.data() + at, sizeof word);
    any |= word;
  }
  std::memcpy(&word, text.data() + text.size() - sizeof word, sizeof word);
  return ((any | word) & highBits) == 0;
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
  constexpr uint64_t highBits = 0x8080808080808080u;
  // The high bit of each byte: set where the byte is at least low, or above high.
  const auto atLeast = [](uint64_t bytes, unsigned low) { return (bytes + (0x80 - low) * ones) & highBits; };
  const auto above = [](uint64_t bytes, unsigned high) { return (bytes + (0x7F - high) * ones) & highBits; };
  const uint64_t folded = word | 0x20 * ones;  // 'A'-'F' as 'a'-'f'; digits keep their bytes
  const uint64_t digit = atLeast(word, '0') & ~above(word, '9');
  const uint64_t letter = atLeast(folded, 'a') & ~above(folded, 'f');
  if ((digit | letter) != highBits) return std::nullopt;
  uint64_t value = (word & 0x0F * ones) + (letter >> 7) * 9;  // each byte its digit's value
  value = ((value << 4) | (value >> 8)) & 0x00FF00FF00FF00FFu;
  value = ((value << 8) | (value >> 16)) & 0x0000FFFF0000FFFFu;
  return static_cast<uint32_t>((value << 16) | (value >> 32));
}

// The hexadecimal field at positions first to first+7 (counted from 1) of a
// line whose bytes up to the field are known to be ASCII when asciiBefore
// is set: the digits are then read where they stand.
[[gnu::always_inline]] inline std::optional<uint32_t> HexAt(std::string_view line, size_t first, bool asciiBefore) {
  constexpr uint64_t highBits = 0x8080808080808080u;
  uint64_t digits = highBits;
  if (asciiBefore && line.size() >= first + 7) std::memcpy(&digits, line.data() + first - 1, sizeof digits);
  if (digits & highBits) return HexField(Column(line, first, first + 7));
  return EightHexDigits(digits);
}

// The offset at positions 7 to 14 of a segment or public line. Such lines
// are ASCII there nearly always: the first word tells for the bytes before.
[[gnu::always_inline]] inline std::optional<uint32_t> OffsetField(std::string_view line) {
  constexpr uint64_t highBits = 0x8080808080808080u;
  uint64_t head = highBits;
  if (line.size() >= sizeof head) std::memcpy(&head, line.data(), sizeof head);
  return HexAt(line, 7, (head & highBits) == 0);
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

}  // namespace

TZTMapFile::TZTMapFile() = default;

TZTMapFile::~TZTMapFile() = default;

void TZTMapFile::SetMapFileName(const String& value) {
  if (value == FMapFileName) return;
  FMapFileName = value;
  FMapFileIsLoaded = false;
}

// Gives the text and the regions' bounds back to the heap, so that a map read
// again is never held twice.
void TZTMapFile::ReleaseMap() {
  FMapText = String();
  FSegmentData = TMapRegion();
  FAdressData = TMapRegion();
  FLineData = TMapRegion();
}

void TZTMapFile::LoadMapFile() {
  FMapFileIsLoaded = false;
  ReleaseMap();
  if (!FMapFileName.empty() && FileExists(FMapFileName)) {
    try {
      FMapText = ReadMapText(FMapFileName);
      const TRegionRanges ranges = FindRegions(FMapText);
      FSegmentData.Bounds = LineBounds(FMapText, ranges.SegmentsBegin, ranges.SegmentsEnd);
      FAdressData.Bounds = LineBounds(FMapText, ranges.PublicsBegin, ranges.PublicsEnd);
      FLineData.Bounds = LineBounds(FMapText, ranges.LinesBegin, ranges.LinesEnd);
    } catch (...) {
      ReleaseMap();
      throw;
    }
  }
  FMapFileIsLoaded = true;
}

void TZTMapFile::LoadIfNeeded() {
  if (!FMapFileIsLoaded) LoadMapFile();
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
  FindUnit();
  FindMethod();
  FindLineNumber();
  FExceptionAnalyzed = true;
}

// The unit named by the last naming segment line before the first segment
// that starts above the address; segment lengths are not checked.
void TZTMapFile::FindUnit() {
  // A blank line has no start: the start's conversion alone skips it. The
  // name is taken from the last naming line once the walk is over.
  std::string_view naming;
  for (size_t i = 0; i < FSegmentData.Count(); ++i) {
    const std::string_view line = RegionLine(FMapText, FSegmentData.Bounds, i);
    const auto start = OffsetField(line);
    if (!start || !HexField(Column(line, 16, 23))) continue;
    if (*start > FExceptAddress) break;
    if (NamesUnit(line)) naming = line;
  }
  if (auto name = SegmentUnitName(naming)) FExceptUnitName = std::move(*name);
}

// The public at the address, else the line just before the first public
// above it; nothing when no public reaches the address.
void TZTMapFile::FindMethod() {
  // A blank line has no offset: the offset's conversion alone skips it.
  // Where a line holds 16 bytes or more with its break, its offset is read
  // without looking for where the line itself ends.
  // Held in locals: the walk's stores could otherwise be taken to change them.
  const char* const text = FMapText.data();
  const size_t* const bounds = FAdressData.Bounds.data();
  const size_t count = FAdressData.Count();
  const uint32_t address = FExceptAddress;
  for (size_t i = 0; i < count; ++i) {
    const size_t begin = bounds[i], next = bounds[i + 1];
    const auto offset = next - begin >= 16 ? OffsetField(std::string_view(text + begin, 14))
                                           : OffsetField(RegionLine(FMapText, FAdressData.Bounds, i));
    if (!offset || *offset < address) continue;
    if (*offset == FExceptAddress || i > 0) {
      const size_t picked = *offset == FExceptAddress ? i : i - 1;
      FExceptMethodName = WithoutCloneSuffixes(TrimView(Column(RegionLine(FMapText, FAdressData.Bounds, picked), 22)));
    }
    return;
  }
}

// The first non-blank line of the line-number region holding the unit name;
// the region's count when none does. The name is searched in the region's
// text at once: it holds no line break, and a line holding it is not blank.
size_t TZTMapFile::FindLineBlock() const {
  if (FExceptUnitName.empty() || FLineData.Count() == 0) return FLineData.Count();
  const size_t at = FindText(FMapText, FExceptUnitName, FLineData.Bounds.front());
  if (at == NotFound) return FLineData.Count();
  const auto after = std::upper_bound(FLineData.Bounds.begin(), FLineData.Bounds.end(), at);
  return static_cast<size_t>(after - FLineData.Bounds.begin()) - 1;
}

// Walks the whole block: the line of the last entry at or below the address,
// or 0 when the address lies beyond the block's last entry.
void TZTMapFile::FindLineNumber() {
  const size_t found = FindLineBlock();
  if (found >= FLineData.Count()) return;
  const size_t first = found + 2;
  if (first >= FLineData.Count()) return;
  // The block ends before the next line holding the header.
  const size_t header = FindText(FMapText, LineNumbersHeader, FLineData.Bounds[first]);
  const size_t blockEnd = header == NotFound ? FMapText.size() : header;
  int32_t candidate = 0;
  uint32_t lastOffset = 0;
  for (size_t i = first; i < FLineData.Count() && FLineData.Bounds[i + 1] <= blockEnd; ++i) {
    const std::string_view line = RegionLine(FMapText, FLineData.Bounds, i);
    // Told once for the line, not again for each of its entries.
    const bool ascii = IsAscii(line);
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

void TZTMapFile::LoadUnitNames(TStrings* List) {
  if (!List) return;
  List->Clear();
  LoadIfNeeded();
  for (size_t i = 0; i < FSegmentData.Count(); ++i) {
    const std::string_view line = RegionLine(FMapText, FSegmentData.Bounds, i);
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
