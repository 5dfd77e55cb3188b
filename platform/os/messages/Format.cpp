#include <ztlogger/platform/os/messages/Format.h>

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/rtl/Unicode.h>

extern char** environ;

namespace ztl::os {
namespace {

// The longest text handed out, in characters (128 KB, as on Windows): a
// longer one fails, and formatting stops once it is reached.
constexpr size_t kMaxOutput = 65536;

struct SystemMessage {
  DWORD code;
  const char* text;
};

// The system's texts for the error codes the platform produces.
constexpr SystemMessage systemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_WORK_DONE, "Unable to perform a security operation on an object that has no associated security."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_MR_MID_NOT_FOUND, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_FILE_INVALID, "The volume for a file has been externally altered so that the opened file is no longer valid."},
    {ERROR_MAPPED_ALIGNMENT, "The base address or the file offset specified does not have the proper alignment."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_INVALID_SID, "The security ID structure is invalid."},
    {ERROR_EVENTLOG_FILE_CORRUPT, "The event log file is corrupted."},
    {ERROR_EVENTLOG_FILE_CHANGED, "The event log file has changed between read operations."},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable."},
    {RPC_S_INVALID_BOUND, "The array bounds are invalid."},
    {ERROR_RESOURCE_DATA_NOT_FOUND, "The specified image file did not contain a resource section."},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, "The specified resource type cannot be found in the image file."},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "The specified resource language ID cannot be found in the image file."},
};

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

// Wraps each line of a text formatted with a width so that no line is
// longer than width characters: at the last blank, else inside a word.
std::u16string Wrap(std::u16string_view text, size_t width) {
  std::u16string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u"\r\n", start);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view line = text.substr(start, end - start);
    while (line.size() > width) {
      size_t cut = line.substr(0, width + 1).find_last_of(u' ');
      if (cut == std::u16string_view::npos || cut == 0) cut = width;
      out.append(line.substr(0, cut)).append(u"\r\n");
      line.remove_prefix(cut);
      if (!line.empty() && line.front() == u' ') line.remove_prefix(1);
    }
    out.append(line);
    if (end == text.size()) break;
    out.append(u"\r\n");
    start = end + 2;
  }
  return out;
}

// Copies count characters. Most pieces of a message are a few characters,
// for which a call to memcpy costs more than the copy: up to 16 they go as
// two fixed-size moves that overlap.
inline void CopyCharacters(char16_t* to, const char16_t* from, size_t count) {
  auto pair = [&](auto width) {
    constexpr size_t n = decltype(width)::value;
    std::memcpy(to, from, n * sizeof(char16_t));
    std::memcpy(to + count - n, from + count - n, n * sizeof(char16_t));
  };
  if (count > 16) {
    std::memcpy(to, from, count * sizeof(char16_t));
  } else if (count >= 8) {
    pair(std::integral_constant<size_t, 8>());
  } else if (count >= 4) {
    pair(std::integral_constant<size_t, 4>());
  } else if (count >= 2) {
    pair(std::integral_constant<size_t, 2>());
  } else if (count == 1) {
    *to = *from;
  }
}

// The text a formatting produces: on the stack up to the length of nearly
// every message, so that a caller formatting many records allocates only
// the block it hands out.
class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Keeps at most kMaxOutput characters: a text that reaches it is too
  // long to be handed out, whatever follows.
  void Append(std::u16string_view text) {
    if (text.size() > kMaxOutput - size_) text = text.substr(0, kMaxOutput - size_);
    if (text.size() > capacity_ - size_) Grow(text.size());
    CopyCharacters(data_ + size_, text.data(), text.size());
    size_ += text.size();
  }
  void Append(char16_t c) {
    if (size_ == kMaxOutput) return;
    if (size_ == capacity_) Grow(1);
    data_[size_++] = c;
  }
  bool Full() const { return size_ == kMaxOutput; }
  void Assign(std::u16string_view text) {
    size_ = 0;
    Append(text);
  }
  std::u16string_view View() const { return {data_, size_}; }

 private:
  void Grow(size_t more) {
    std::vector<char16_t> larger(std::min(std::max(capacity_ * 2, size_ + more), kMaxOutput));
    std::copy_n(data_, size_, larger.data());
    heap_ = std::move(larger);
    data_ = heap_.data();
    capacity_ = heap_.size();
  }

  char16_t local_[512];
  std::vector<char16_t> heap_;
  char16_t* data_ = local_;
  size_t size_ = 0;
  size_t capacity_ = std::size(local_);
};

// The number of arguments a template reads: its highest insert plus the
// values its '*' take.
size_t ArgumentsUsed(std::u16string_view text) {
  size_t used = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'%') continue;
    if (!IsDigit(text[i + 1]) || text[i + 1] == u'0') {
      ++i;
      continue;
    }
    size_t number = text[++i] - u'0';
    if (i + 1 < text.size() && IsDigit(text[i + 1])) number = number * 10 + (text[++i] - u'0');
    size_t stars = 0;
    if (i + 1 < text.size() && text[i + 1] == u'!') {
      const size_t close = text.find(u'!', i + 2);
      if (close != std::u16string_view::npos) stars = std::count(text.begin() + i + 2, text.begin() + close, u'*');
    }
    used = std::max(used, number + stars);
  }
  return used;
}

}  // namespace

namespace {

// A line break of the text, or the blank that stands for it when lines are
// given a width. Character by character: a short constant text inlined into
// the piece copy makes GCC warn about that copy's wider branches.
void AppendLineBreak(TextBuffer& out, bool asBlank) {
  if (asBlank) {
    out.Append(u' ');
  } else {
    out.Append(u'\r');
    out.Append(u'\n');
  }
}

// FormatMessageText into a buffer; throws OsError.
void Format(std::u16string_view text, DWORD flags, const DWORD_PTR* arguments, size_t count, TextBuffer& out) {
  const bool ignore = flags & FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  const size_t size = text.size();
  for (size_t i = 0; i < size && !out.Full(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n') ++i;
      AppendLineBreak(out, width != 0);
      continue;
    }
    if (c != u'%') {
      // A run of plain characters goes in one piece.
      size_t end = i + 1;
      while (end < size && !IsSpecial(text[end])) ++end;
      out.Append(text.substr(i, end - i));
      i = end - 1;
      continue;
    }
    if (i + 1 == size) throw OsError{ERROR_INVALID_PARAMETER};
    const size_t start = i;
    const char16_t d = text[++i];
    if (d == u'0') break;
    if (IsDigit(d)) {
      size_t number = d - u'0';
      if (i + 1 < size && IsDigit(text[i + 1])) number = number * 10 + (text[++i] - u'0');
      std::u16string_view spec = u"s";
      if (i + 1 < size && text[i + 1] == u'!') {
        const size_t close = text.find(u'!', i + 2);
        if (close == std::u16string_view::npos) throw OsError{ERROR_INVALID_PARAMETER};
        spec = text.substr(i + 2, close - i - 2);
        i = close;
      }
      const std::u16string_view written = text.substr(start, i + 1 - start);
      if (spec == u"s" && !ignore && arguments != nullptr && number <= count) {
        // The common insert, a plain string, without the format's detour.
        const auto* value = reinterpret_cast<const char16_t*>(arguments[number - 1]);
        out.Append(value ? std::u16string_view(value) : std::u16string_view(u"(null)"));
        continue;
      }
      Insert insert;
      if (!ParseInsert(spec, insert)) throw OsError{ERROR_INVALID_PARAMETER};
      if (ignore) {
        out.Append(written);
      } else if (arguments == nullptr) {
        throw OsError{ERROR_INVALID_PARAMETER};
      } else if (number + static_cast<size_t>(insert.stars) > count) {
        out.Append(written);
      } else {
        out.Append(FormatInsert(insert, arguments + (number - 1)));
      }
      continue;
    }
    switch (d) {
      case u'n': AppendLineBreak(out, false); break;
      case u'r': out.Append(u'\r'); break;
      case u't': out.Append(u'\t'); break;
      default:
        if (ignore) out.Append(u'%');
        out.Append(d);
    }
  }
  if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) out.Assign(Wrap(out.View(), width));
}

}  // namespace

std::u16string FormatMessageText(std::u16string_view text, DWORD flags, const DWORD_PTR* arguments, size_t count) {
  TextBuffer out;
  Format(text, flags, arguments, count, out);
  if (out.Full()) throw OsError{ERROR_MORE_DATA};
  return std::u16string(out.View());
}

PreparedMessage PrepareMessage(std::u16string_view text) {
  PreparedMessage message;
  auto run = [&](std::u16string_view piece) {
    if (message.pieces.empty() || message.pieces.back().insert != 0)
      message.pieces.push_back({static_cast<uint32_t>(message.runs.size()), 0, 0});
    message.runs.append(piece);
    message.pieces.back().length += static_cast<uint32_t>(piece.size());
  };
  const size_t size = text.size();
  for (size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n') ++i;
      run(u"\r\n");
      continue;
    }
    if (c != u'%') {
      size_t end = i + 1;
      while (end < size && !IsSpecial(text[end])) ++end;
      run(text.substr(i, end - i));
      i = end - 1;
      continue;
    }
    if (i + 1 == size) return {};
    const char16_t d = text[++i];
    if (d == u'0') break;
    if (IsDigit(d)) {
      uint32_t number = d - u'0';
      if (i + 1 < size && IsDigit(text[i + 1])) number = number * 10 + (text[++i] - u'0');
      if (i + 1 < size && text[i + 1] == u'!') {
        const size_t close = text.find(u'!', i + 2);
        if (close == std::u16string_view::npos || text.substr(i + 2, close - i - 2) != u"s") return {};
        i = close;
      }
      message.pieces.push_back({0, 0, number});
      message.highestInsert = std::max(message.highestInsert, number);
      continue;
    }
    switch (d) {
      case u'n': run(u"\r\n"); break;
      case u'r': run(u"\r"); break;
      case u't': run(u"\t"); break;
      default: run(std::u16string_view(&d, 1));
    }
  }
  message.usable = true;
  return message;
}

namespace {

// A prepared message's text with its arguments, measured first so that it
// is written once, straight where it goes.
class PreparedText {
 public:
  // false for a message with more inserts than are measured ahead.
  bool Measure(const PreparedMessage& message, const DWORD_PTR* arguments) {
    message_ = &message;
    size_ = message.runs.size();
    size_t count = 0;
    for (const PreparedMessage::Piece& piece : message.pieces) {
      if (piece.insert == 0) continue;
      if (count == std::size(values_)) return false;
      const auto* value = reinterpret_cast<const char16_t*>(arguments[piece.insert - 1]);
      Value& measured = values_[count++];
      if (value) {
        measured = {value, std::char_traits<char16_t>::length(value)};
      } else {
        measured = {u"(null)", 6};
      }
      size_ += measured.size;
    }
    return true;
  }
  size_t Size() const { return size_; }
  // Writes the first limit characters.
  void Write(char16_t* into, size_t limit) const {
    // Kept in registers: a piece taken through memory (as std::min's
    // reference would have it) waits for the store before it.
    const Value* value = values_;
    const char16_t* runs = message_->runs.data();
    for (const PreparedMessage::Piece& piece : message_->pieces) {
      const char16_t* from;
      size_t size;
      if (piece.insert == 0) {
        from = runs + piece.start;
        size = piece.length;
      } else {
        from = value->data;
        size = value->size;
        ++value;
      }
      const size_t n = size < limit ? size : limit;
      CopyCharacters(into, from, n);
      into += n;
      limit -= n;
    }
  }

 private:
  // Left uninitialised, as Measure fills what Write reads: clearing the
  // array would cost as much as the rest of a short message's formatting.
  struct Value {
    const char16_t* data;
    size_t size;
  };
  const PreparedMessage* message_ = nullptr;
  Value values_[16];
  size_t size_ = 0;
};

// A prepared message's text, in one pass over its pieces.
void FormatPrepared(const PreparedMessage& message, const DWORD_PTR* arguments, TextBuffer& out) {
  for (const PreparedMessage::Piece& piece : message.pieces) {
    if (piece.insert == 0) {
      out.Append(std::u16string_view(message.runs.data() + piece.start, piece.length));
    } else {
      const auto* value = reinterpret_cast<const char16_t*>(arguments[piece.insert - 1]);
      out.Append(value ? std::u16string_view(value) : std::u16string_view(u"(null)"));
    }
  }
}

// Hands a formatted text of size characters out as FormatMessageW does;
// write(into, count) writes its first count characters.
template <class Write>
DWORD HandOut(size_t size, Write&& write, bool allocate, LPWSTR lpBuffer, DWORD nSize) {
  if (size == 0) {
    SetLastError(ERROR_NO_WORK_DONE);
    return 0;
  }
  if (allocate) {
    if (size >= kMaxOutput) {
      SetLastError(ERROR_MORE_DATA);
      return 0;
    }
    // As large as asked for, zeroed past the text.
    const size_t chars = std::max<size_t>(size + 1, nSize);
    auto* block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
    if (!block) return 0;
    write(block, size);
    std::fill(block + size, block + chars, u'\0');
    *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
    return static_cast<DWORD>(size);
  }
  if (size >= kMaxOutput || size + 1 > nSize) {
    if (nSize > 0) {
      const size_t part = std::min<size_t>(nSize - 1, size);
      write(lpBuffer, part);
      lpBuffer[part] = 0;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  write(lpBuffer, size);
  lpBuffer[size] = 0;
  return static_cast<DWORD>(size);
}

// Hands a prepared message's text out into written; false, doing nothing,
// for a message with more inserts than are measured ahead. A function of
// its own, so that its loops keep their values in registers.
[[gnu::noinline]] bool HandOutPrepared(const PreparedMessage& message, const DWORD_PTR* arguments, bool allocate,
                                       LPWSTR lpBuffer, DWORD nSize, DWORD& written) {
  PreparedText text;
  if (!text.Measure(message, arguments)) return false;
  written = HandOut(
      text.Size(), [&](char16_t* into, size_t count) { text.Write(into, count); }, allocate, lpBuffer, nSize);
  return true;
}

// A message of a module loaded as data, from the tables found for it in
// table (nullptr, with the last error set, for a handle that names none);
// nullptr with the Windows code in error when the tables lack it. The
// calling thread keeps the module's tables and the message it found last
// for the next call: a caller formatting many records finds both without
// the handle table's lock and without a search. What is kept holds the
// tables alive and is given up once any handle was removed since (the
// module freed, or its handle's value taken by another), so a freed module
// is refused as before.
const MessageTable::Message* FindModuleMessage(HMODULE module, DWORD id, DWORD languageId, const MessageTable*& table,
                                               DWORD& error) {
  struct Kept {
    HMODULE module = nullptr;
    uint64_t removals = 0;
    std::shared_ptr<const MessageTable> table;
    DWORD id = 0;
    DWORD languageId = 0;
    const MessageTable::Message* message = nullptr;
  };
  // Initial-exec: found at a fixed offset from the thread pointer, without
  // the call that the library's dynamic TLS would cost on every message.
  // The library is linked by its programs, not loaded late, and the few bytes
  // fit in the static TLS the C library keeps spare for late loads anyway.
  [[gnu::tls_model("initial-exec")]] thread_local Kept kept;
  const uint64_t removals = HandleRemovals();
  if (!kept.table || kept.module != module || kept.removals != removals) {
    std::shared_ptr<const MessageTable> found = MessageTablesOf(module);
    if (!found) {
      table = nullptr;
      return nullptr;
    }
    kept = {module, removals, std::move(found)};
  }
  table = kept.table.get();
  if (kept.message && kept.id == id && kept.languageId == languageId) return kept.message;
  const MessageTable::Message* message = FindTableMessage(*table, id, languageId, error);
  if (message) {
    kept.id = id;
    kept.languageId = languageId;
    kept.message = message;
  }
  return message;
}

}  // namespace

std::u16string FormatPreparedForTesting(const PreparedMessage& message, const DWORD_PTR* arguments) {
  PreparedText text;
  if (text.Measure(message, arguments)) {
    std::u16string out(text.Size(), u'\0');
    text.Write(out.data(), out.size());
    return out;
  }
  TextBuffer out;
  FormatPrepared(message, arguments, out);
  return std::u16string(out.View());
}

const char* SystemMessageText(DWORD code) {
  for (const SystemMessage& m : systemMessages)
    if (m.code == code) return m.text;
  return nullptr;
}

}  // namespace ztl::os

using namespace ztl::os;

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
  if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

namespace {

// FormatMessageW, an argument array read no further than count elements.
DWORD FormatMessageCounted(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                           DWORD nSize, va_list* Arguments, size_t count) {
  const bool allocate = dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER;
  if (!(dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM)) ||
      lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (allocate) *reinterpret_cast<LPWSTR*>(lpBuffer) = nullptr;
  // The template is read where it lies: in the caller's string, in the
  // module's table (held by table) or in systemText.
  std::u16string_view source;
  const MessageTable* table = nullptr;
  std::u16string systemText;
  if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
    if (lpSource == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    source = static_cast<LPCWSTR>(lpSource);
  } else {
    DWORD error = ERROR_MR_MID_NOT_FOUND;
    const MessageTable::Message* found = nullptr;
    if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
      // A module not loaded as data (the program itself, with none given)
      // has no message table on POSIX.
      const auto module = reinterpret_cast<uintptr_t>(lpSource);
      if (module & 1)
        found = FindModuleMessage(static_cast<HMODULE>(const_cast<void*>(lpSource)), dwMessageId, dwLanguageId, table,
                                  error);
      if (!table) {
        error = (module & 1) ? ERROR_INVALID_HANDLE : ERROR_RESOURCE_TYPE_NOT_FOUND;
      }
    }
    if (found) {
      // The formatting nearly every caller asks for goes from the template
      // taken apart when the module was read.
      constexpr DWORD kPlain = FORMAT_MESSAGE_ARGUMENT_ARRAY;
      constexpr DWORD kOther = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
      if (Arguments != nullptr && (dwFlags & (kPlain | kOther)) == kPlain && found->prepared.usable &&
          found->prepared.highestInsert <= count) {
        const auto* arguments = reinterpret_cast<const DWORD_PTR*>(Arguments);
        DWORD written = 0;
        if (HandOutPrepared(found->prepared, arguments, allocate, lpBuffer, nSize, written)) return written;
        TextBuffer formatted;
        FormatPrepared(found->prepared, arguments, formatted);
        const std::u16string_view whole = formatted.View();
        return HandOut(
            whole.size(), [&](char16_t* into, size_t count) { std::copy_n(whole.data(), count, into); }, allocate,
            lpBuffer, nSize);
      }
      source = found->text;
    } else if (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) {
      const char* text = SystemMessageText(dwMessageId);
      if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
      }
      systemText = ztl::unicode::Utf8ToUtf16(text) + u"\r\n";
      source = systemText;
    } else {
      SetLastError(error);
      return 0;
    }
  }
  TextBuffer formatted;
  try {
    if (Arguments == nullptr || (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY)) {
      Format(source, dwFlags, reinterpret_cast<const DWORD_PTR*>(Arguments), count, formatted);
    } else {
      std::vector<DWORD_PTR> values;
      if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS)) {
        const size_t used = ArgumentsUsed(source);
        for (size_t i = 0; i < used; ++i) values.push_back(va_arg(*Arguments, DWORD_PTR));
      }
      Format(source, dwFlags, values.data() ? values.data() : reinterpret_cast<DWORD_PTR*>(&values), values.size(),
             formatted);
    }
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
    SetLastError(error);
    return 0;
  }
  const std::u16string_view text = formatted.View();
  return HandOut(
      text.size(), [&](char16_t* into, size_t n) { std::copy_n(text.data(), n, into); }, allocate, lpBuffer, nSize);
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* Arguments) {
  return FormatMessageCounted(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments, SIZE_MAX);
}

DWORD ztl::os::FormatMessageFromArray(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                      LPWSTR lpBuffer, DWORD nSize, const DWORD_PTR* arguments, size_t count) {
  // No array is an empty one: its inserts are left as written.
  static const DWORD_PTR none = 0;
  const DWORD_PTR* array = arguments ? arguments : &none;
  return FormatMessageCounted(dwFlags | FORMAT_MESSAGE_ARGUMENT_ARRAY, lpSource, dwMessageId, dwLanguageId, lpBuffer,
                              nSize, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(array)), arguments ? count : 0);
}

DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (lpSrc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto lookup = [](const std::string& name, std::string& value) {
    if (const char* exact = std::getenv(name.c_str())) {
      value = exact;
      return true;
    }
    for (char** entry = environ; entry && *entry; ++entry) {
      const char* equals = std::strchr(*entry + (**entry == '=' ? 1 : 0), '=');
      if (equals && static_cast<size_t>(equals - *entry) == name.size() &&
          strncasecmp(*entry, name.c_str(), name.size()) == 0) {
        value = equals + 1;
        return true;
      }
    }
    return false;
  };
  const std::u16string_view source(lpSrc);
  std::u16string out;
  size_t i = 0;
  while (i < source.size()) {
    const size_t open = source.find(u'%', i);
    if (open == std::u16string_view::npos) break;
    const size_t close = source.find(u'%', open + 1);
    if (close == std::u16string_view::npos) break;
    out.append(source.substr(i, open - i));
    std::string value;
    const std::u16string_view name = source.substr(open + 1, close - open - 1);
    if (!name.empty() && lookup(ztl::unicode::Utf16ToUtf8(name), value)) {
      out += ztl::unicode::Utf8ToUtf16(value);
      i = close + 1;
    } else {
      // Left as written; its closing '%' may open the next name.
      out.append(source.substr(open, close - open));
      i = close;
    }
  }
  out.append(source.substr(std::min(i, source.size())));
  const auto needed = static_cast<DWORD>(out.size() + 1);
  if (lpDst != nullptr && nSize >= needed) {
    std::copy(out.begin(), out.end(), lpDst);
    lpDst[out.size()] = 0;
  }
  return needed;
}
