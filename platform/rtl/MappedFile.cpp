#include <ztlogger/platform/rtl/MappedFile.h>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/WideText.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/ScopeExit.h>

namespace ztl {
namespace {

[[noreturn]] void OpenFailed(const String& fileName) {
  throw EFOpenError("Cannot open file \"" + fileName + "\". " + SysErrorMessage(GetLastError()));
}

// What CreateFileW refuses once it is asked only what it serves.
[[noreturn]] void NoRegularFile(const String& fileName) {
  throw EFOpenError("Cannot open file \"" + fileName + "\". It is not a regular file");
}

}  // namespace

TMappedFile::TMappedFile(const String& fileName) {
  const std::u16string name = oswide::FromUtf8(fileName);
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_NOT_SUPPORTED) NoRegularFile(fileName);
    OpenFailed(fileName);
  }
  ScopeExit closeFile([&] { CloseHandle(file); });
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) OpenFailed(fileName);
  const uint64_t size = uint64_t{high} << 32 | low;
  // The view keeps what it maps: both handles go once it is made.
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping && size == 0 && GetLastError() == ERROR_FILE_INVALID) return;  // empty: no bytes
  if (!mapping) OpenFailed(fileName);
  ScopeExit closeMapping([&] { CloseHandle(mapping); });
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!view) OpenFailed(fileName);
  data_ = static_cast<const char*>(view);
  size_ = static_cast<size_t>(size);
}

TMappedFile::~TMappedFile() {
  if (data_) UnmapViewOfFile(data_);
}

}  // namespace ztl
