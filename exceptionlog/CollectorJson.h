#pragma once
// The JSON writer of the collector's envelopes: objects, arrays, strings
// escaped as JSON requires, numbers. It writes into a sink and allocates
// nothing itself, so that the crash path in a signal handler writes with it
// too, into a fixed buffer.
//
// Any thread; each writer and sink from one thread at a time.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::collector {

// Where written text goes.
class ZTL_API TTextSink {
 public:
  virtual ~TTextSink() = default;
  virtual void Append(const char* text, size_t length) = 0;
  void Append(std::string_view text) { Append(text.data(), text.size()); }
};

// Appends to a String.
class ZTL_API TStringSink : public TTextSink {
 public:
  explicit TStringSink(String& target) : target_(target) {}
  void Append(const char* text, size_t length) override { target_.append(text, length); }
  using TTextSink::Append;

 private:
  String& target_;
};

// Fills a buffer the caller owns; what does not fit is cut, and Overflowed
// says so.
class ZTL_API TFixedSink : public TTextSink {
 public:
  TFixedSink(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  void Append(const char* text, size_t length) override;
  using TTextSink::Append;
  size_t Size() const { return size_; }
  bool Overflowed() const { return overflowed_; }
  std::string_view View() const { return {buffer_, size_}; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t size_ = 0;
  bool overflowed_ = false;
};

// Writes one JSON value. Members of an object are Key then a value; commas
// are placed by the writer. Nesting deeper than kMaxDepth is cut (and the
// text then is not valid JSON: the callers nest a few levels only).
class ZTL_API TJsonWriter {
 public:
  static constexpr int kMaxDepth = 16;

  explicit TJsonWriter(TTextSink& sink) : sink_(sink) {}

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(std::string_view name);
  // Text in UTF-8; a byte that is not part of a valid sequence becomes U+FFFD.
  void Value(std::string_view text);
  void Value(const char* text) { Value(std::string_view(text)); }
  void Value(int64_t number);
  void Value(uint64_t number);
  void Value(int number) { Value(static_cast<int64_t>(number)); }
  void Value(bool flag);
  // Text already in JSON form (a member list the caller prepared with a
  // writer of its own), placed as one value.
  void RawValue(std::string_view json);
  // Key and value at once.
  template <typename T>
  void Member(std::string_view name, const T& value) {
    Key(name);
    Value(value);
  }

 private:
  void Open(char bracket);
  void Close(char bracket);
  void BeforeValue();

  TTextSink& sink_;
  int depth_ = 0;
  bool first_[kMaxDepth] = {};
  bool afterKey_ = false;
};

// "0x" and the lower-case hexadecimal digits of value, into out (19 bytes at
// least); returns the length.
ZTL_API size_t FormatHexAddress(uintptr_t value, char* out);

}  // namespace ztl::collector
