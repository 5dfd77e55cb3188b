#pragma once
// A file's bytes, read-only, for as long as the object lives: the file is
// mapped into memory rather than copied, so opening costs the same for a
// file of any size and only the pages read are brought in.
//
// Any thread; once opened, several threads may read the bytes at once.
#include <string_view>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

class ZTL_PLATFORM_API TMappedFile {
 public:
  // Maps the whole file. Raises EFOpenError, naming the file and the reason,
  // when it cannot be opened or mapped. An empty file gives no bytes.
  explicit TMappedFile(const String& fileName);
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // Valid while the object lives. A file cut short meanwhile makes reads
  // beyond its new end fault.
  std::string_view Bytes() const { return {data_, size_}; }

 private:
  const char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace ztl
