#include "exceptionlog/ZTMapFile.h"

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
constexpr std::string_view PublicsByNameHeaders[] = {
    "Address         Publics by Name", "Address             Publics by Name", "Address Publics by Name"};
constexpr std::string_view PublicsByValueHeaders[] = {
    "Address         Publics by Value", "Address             Publics by Value", "Address Publics by Value"};
constexpr std::string_view LineNumbersHeader = "Line numbers for";

// ---- Decoding -------------------------------------------------------------

// The file's bytes as UTF-8 text: a byte that does not belong to a
// well-formed UTF-8 sequence is taken as a Latin-1 character.
String DecodeMapText(String bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  if (unicode::IsValidUtf8(bytes)) return bytes;
  return unicode::Utf8WithLatin1Fallback(bytes);
}

String ReadMapText(const String& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  String bytes(static_cast<size_t>(std::max<int64_t>(stream.Size(), 0)), '\0');
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return DecodeMapText(std::move(bytes));
}

// ---- Regions --------------------------------------------------------------

bool ContainsAny(std::string_view line, const std::string_view (&headers)[3]) {
  for (std::string_view header : headers)
    if (line.find(header) != std::string_view::npos) return true;
  return false;
}

// Hands the lines of the map text out to the three regions, in one pass.
class TRegionSplitter {
 public:
  TRegionSplitter(TStrings& segments, TStrings& publics, TStrings& lines)
      : segments_(segments), publics_(publics), lines_(lines) {}

  void Split(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      size_t next = end == std::string_view::npos ? text.size() : end + 1;
      if (end == std::string_view::npos) end = text.size();
      if (end > start && text[end - 1] == '\r') --end;
      Take(text.substr(start, end - start));
      start = next;
    }
  }

 private:
  enum TState { sPreamble, sAfterSegmentsHeader, sSegments, sUntilPublicsByValue, sAfterPublicsHeader, sPublics, sLines };

  void Take(std::string_view line) {
    switch (state_) {
      case sPreamble:
        if (line.find(SegmentsHeader) != std::string_view::npos) state_ = sAfterSegmentsHeader;
        break;
      case sAfterSegmentsHeader:
        state_ = sSegments;
        break;
      case sSegments:
        if (ContainsAny(line, PublicsByNameHeaders)) {
          state_ = sUntilPublicsByValue;
          Take(line);
        } else {
          segments_.Add(String(line));
        }
        break;
      case sUntilPublicsByValue:
        if (ContainsAny(line, PublicsByValueHeaders)) state_ = sAfterPublicsHeader, skipped_ = 0;
        break;
      case sAfterPublicsHeader:
        if (++skipped_ == 2) state_ = sPublics;
        break;
      case sPublics:
        if (line.find(LineNumbersHeader) == std::string_view::npos) {
          publics_.Add(String(line));
          break;
        }
        state_ = sLines;
        [[fallthrough]];
      case sLines:
        lines_.Add(String(line));
        break;
    }
  }

  TStrings& segments_;
  TStrings& publics_;
  TStrings& lines_;
  TState state_ = sPreamble;
  int skipped_ = 0;
};

// Keeps a list in its updating state for a scope.
class TUpdateScope {
 public:
  explicit TUpdateScope(TStrings& list) : list_(list) { list_.BeginUpdate(); }
  ~TUpdateScope() { list_.EndUpdate(); }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

 private:
  TStrings& list_;
};

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
// line; shorter or empty where the line ends before.
std::string_view Column(std::string_view line, size_t first, size_t last = EndOfLine) {
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

std::optional<uint32_t> HexField(std::string_view field) {
  if (field.empty() || field.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : field) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = (value << 4) | digit;
  }
  return value;
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

TZTMapFile::TZTMapFile()
    : FSegmentData(std::make_unique<TStringList>()),
      FAdressData(std::make_unique<TStringList>()),
      FLineData(std::make_unique<TStringList>()) {}

TZTMapFile::~TZTMapFile() = default;

void TZTMapFile::SetMapFileName(const String& value) {
  if (value == FMapFileName) return;
  FMapFileName = value;
  FMapFileIsLoaded = false;
}

void TZTMapFile::LoadMapFile() {
  FMapFileIsLoaded = false;
  FSegmentData->Clear();
  FAdressData->Clear();
  FLineData->Clear();
  if (!FMapFileName.empty() && FileExists(FMapFileName)) {
    try {
      const String text = ReadMapText(FMapFileName);
      TUpdateScope segments(*FSegmentData), publics(*FAdressData), lines(*FLineData);
      TRegionSplitter(*FSegmentData, *FAdressData, *FLineData).Split(text);
    } catch (...) {
      FSegmentData->Clear();
      FAdressData->Clear();
      FLineData->Clear();
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
  for (int i = 0; i < FSegmentData->Count(); ++i) {
    const String line = FSegmentData->Get(i);
    if (IsBlank(line)) continue;
    const auto start = HexField(Column(line, 7, 14));
    const auto length = HexField(Column(line, 16, 23));
    if (!start || !length) continue;
    if (*start > FExceptAddress) break;
    if (auto name = SegmentUnitName(line)) FExceptUnitName = std::move(*name);
  }
}

// The public at the address, else the line just before the first public
// above it; nothing when no public reaches the address.
void TZTMapFile::FindMethod() {
  for (int i = 0; i < FAdressData->Count(); ++i) {
    const String line = FAdressData->Get(i);
    if (IsBlank(line)) continue;
    const auto offset = HexField(Column(line, 7, 14));
    if (!offset || *offset < FExceptAddress) continue;
    const int picked = *offset == FExceptAddress ? i : i - 1;
    if (picked >= 0) FExceptMethodName = WithoutCloneSuffixes(TrimView(Column(FAdressData->Get(picked), 22)));
    return;
  }
}

// The first non-blank line of the line-number region holding the unit name.
int TZTMapFile::FindLineBlock() const {
  if (FExceptUnitName.empty()) return -1;
  for (int i = 0; i < FLineData->Count(); ++i) {
    const String line = FLineData->Get(i);
    if (!IsBlank(line) && line.find(FExceptUnitName) != String::npos) return i;
  }
  return -1;
}

// Walks the whole block: the line of the last entry at or below the address,
// or 0 when the address lies beyond the block's last entry.
void TZTMapFile::FindLineNumber() {
  const int found = FindLineBlock();
  if (found < 0) return;
  int32_t candidate = 0;
  uint32_t lastOffset = 0;
  for (int i = found + 2; i < FLineData->Count(); ++i) {
    const String line = FLineData->Get(i);
    if (line.find(LineNumbersHeader) != String::npos) break;
    for (size_t k = 0; k < 4; ++k) {
      const auto offset = HexField(Column(line, 20 * k + 13, 20 * k + 20));
      if (!offset) break;
      lastOffset = *offset;
      if (FExceptAddress < *offset) break;
      const auto number = DecimalField(Column(line, 20 * k + 1, 20 * k + 6));
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
  for (int i = 0; i < FSegmentData->Count(); ++i) {
    const String line = FSegmentData->Get(i);
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
