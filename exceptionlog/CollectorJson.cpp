#include <ztlogger/exceptionlog/CollectorJson.h>

#include <cstring>

#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::collector {

void TFixedSink::Append(const char* text, size_t length) {
  const size_t room = capacity_ - size_;
  if (length > room) {
    overflowed_ = true;
    length = room;
  }
  std::memcpy(buffer_ + size_, text, length);
  size_ += length;
}

void TJsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (depth_ == 0) return;
  if (!first_[depth_ - 1]) sink_.Append(",", 1);
  first_[depth_ - 1] = false;
}

void TJsonWriter::Open(char bracket) {
  BeforeValue();
  sink_.Append(&bracket, 1);
  if (depth_ < kMaxDepth) first_[depth_] = true;
  ++depth_;
}

void TJsonWriter::Close(char bracket) {
  sink_.Append(&bracket, 1);
  if (depth_ > 0) --depth_;
}

void TJsonWriter::Key(std::string_view name) {
  Value(name);
  sink_.Append(":", 1);
  afterKey_ = true;
}

void TJsonWriter::Value(std::string_view text) {
  BeforeValue();
  sink_.Append("\"", 1);
  size_t plain = 0;  // start of the run of bytes that need no escape
  const auto flush = [&](size_t end) {
    if (end > plain) sink_.Append(text.data() + plain, end - plain);
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      const size_t length = unicode::Utf8SequenceLength(text, i);
      if (length == 0) {
        flush(i);
        sink_.Append("\xEF\xBF\xBD", 3);
        plain = i + 1;
      } else {
        i += length - 1;
      }
      continue;
    }
    if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
    flush(i);
    switch (byte) {
      case '"': sink_.Append("\\\"", 2); break;
      case '\\': sink_.Append("\\\\", 2); break;
      case '\n': sink_.Append("\\n", 2); break;
      case '\r': sink_.Append("\\r", 2); break;
      case '\t': sink_.Append("\\t", 2); break;
      default: {
        char escape[6] = {'\\', 'u', '0', '0', "0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 0xF]};
        sink_.Append(escape, sizeof escape);
      }
    }
    plain = i + 1;
  }
  flush(text.size());
  sink_.Append("\"", 1);
}

void TJsonWriter::Value(uint64_t number) {
  BeforeValue();
  char digits[20];
  size_t at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  sink_.Append(digits + at, sizeof digits - at);
}

void TJsonWriter::Value(int64_t number) {
  if (number >= 0) return Value(static_cast<uint64_t>(number));
  BeforeValue();
  sink_.Append("-", 1);
  afterKey_ = true;  // the digits follow the sign as one value
  Value(static_cast<uint64_t>(-(number + 1)) + 1);
}

void TJsonWriter::Value(bool flag) {
  BeforeValue();
  sink_.Append(flag ? std::string_view("true") : std::string_view("false"));
}

void TJsonWriter::RawValue(std::string_view json) {
  BeforeValue();
  sink_.Append(json);
}

size_t FormatHexAddress(uintptr_t value, char* out) {
  char digits[2 * sizeof value];
  size_t at = sizeof digits;
  do {
    digits[--at] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  out[0] = '0';
  out[1] = 'x';
  std::memcpy(out + 2, digits + at, sizeof digits - at);
  return 2 + sizeof digits - at;
}

}  // namespace ztl::collector
