// FormatMessageW and its helpers: the general formatter, the formatter of
// prepared messages (taken apart once, for the event log's readers), how a
// text is handed out, the messages of modules loaded as data, local memory
// and ExpandEnvironmentStringsW. Relies on the template syntax
// (messages/Template.h), the message tables (messages/PeFile.h) and the
// system's texts (messages/SystemTexts.h).
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

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/messages/SystemTexts.h>
#include <ztlogger/platform/os/messages/Template.h>
#include <ztlogger/platform/rtl/Unicode.h>

extern char** environ;

namespace ztl::os {

using namespace messages;

namespace {

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

// An insert of a template: its text, or as written where it is ignored or
// has no argument.
void AppendInsert(const TemplatePiece& piece, bool ignore, const DWORD_PTR* arguments, size_t count, TextBuffer& out) {
  const size_t number = piece.number;
  if (piece.format == u"s" && !ignore && arguments != nullptr && number <= count) {
    // The common insert, a plain string, without the format's detour.
    const auto* value = reinterpret_cast<const char16_t*>(arguments[number - 1]);
    out.Append(value ? std::u16string_view(value) : std::u16string_view(u"(null)"));
    return;
  }
  Insert insert;
  if (!ParseInsert(piece.format, insert)) throw OsError{ERROR_INVALID_PARAMETER};
  if (ignore) {
    out.Append(piece.text);
  } else if (arguments == nullptr) {
    throw OsError{ERROR_INVALID_PARAMETER};
  } else if (number + static_cast<size_t>(insert.stars) > count) {
    out.Append(piece.text);
  } else {
    out.Append(FormatInsert(insert, arguments + (number - 1)));
  }
}

// FormatMessageText into a buffer; throws OsError.
void Format(std::u16string_view text, DWORD flags, const DWORD_PTR* arguments, size_t count, TextBuffer& out) {
  using Kind = TemplatePiece::Kind;
  const bool ignore = flags & FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  for (size_t at = 0; !out.Full();) {
    const TemplatePiece piece = NextPiece(text, at);
    if (piece.kind == Kind::End) break;
    switch (piece.kind) {
      case Kind::Malformed: throw OsError{ERROR_INVALID_PARAMETER};
      case Kind::LineBreak: AppendLineBreak(out, width != 0); break;
      case Kind::HardBreak: AppendLineBreak(out, false); break;
      case Kind::Escaped:
        if (ignore) out.Append(u'%');
        out.Append(piece.text);
        break;
      case Kind::Insert: AppendInsert(piece, ignore, arguments, count, out); break;
      default: out.Append(piece.text);
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
  using Kind = TemplatePiece::Kind;
  PreparedMessage message;
  auto run = [&](std::u16string_view piece) {
    if (message.pieces.empty() || message.pieces.back().insert != 0)
      message.pieces.push_back({static_cast<uint32_t>(message.runs.size()), 0, 0});
    message.runs.append(piece);
    message.pieces.back().length += static_cast<uint32_t>(piece.size());
  };
  for (size_t at = 0;;) {
    const TemplatePiece piece = NextPiece(text, at);
    switch (piece.kind) {
      case Kind::End: message.usable = true; return message;
      case Kind::Malformed: return {};
      case Kind::LineBreak:
      case Kind::HardBreak: run(u"\r\n"); break;
      case Kind::Insert:
        // Only plain string inserts are prepared.
        if (piece.format != u"s") return {};
        message.pieces.push_back({0, 0, piece.number});
        message.highestInsert = std::max(message.highestInsert, piece.number);
        break;
      default: run(piece.text);
    }
  }
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
