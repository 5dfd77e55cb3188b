#include <ztlogger/platform/os/FileMapping.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/WideText.h>

namespace ztl::os {
namespace {

// Owns one descriptor; file handles and mappings are not waitable here.
class DescriptorObject : public KernelObject {
 public:
  explicit DescriptorObject(int fd) : fd_(fd) {}
  ~DescriptorObject() override { ::close(fd_); }
  DescriptorObject(const DescriptorObject&) = delete;
  DescriptorObject& operator=(const DescriptorObject&) = delete;
  int WaitDescriptor() const override { return -1; }
  bool Signaled() override { return false; }
  int Descriptor() const { return fd_; }

 private:
  const int fd_;
};

class FileObject final : public DescriptorObject {
 public:
  using DescriptorObject::DescriptorObject;
};

class MappingObject final : public DescriptorObject {
 public:
  MappingObject(int fd, uint64_t size, bool copyOnly) : DescriptorObject(fd), Size(size), CopyOnly(copyOnly) {}
  const uint64_t Size;
  const bool CopyOnly;  // PAGE_WRITECOPY: views may copy, never write back
};

// The views made and not yet released: where each starts, how long it is.
struct ViewTable {
  std::mutex lock;
  std::map<uintptr_t, size_t> views;
};
ViewTable& Views() {
  static ViewTable* table = new ViewTable;  // views may be released during exit
  return *table;
}

// Sets the last error; the null handle or view of a failed call.
std::nullptr_t Fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

// ENOENT names a missing file, or a missing folder on the way.
DWORD OpenError(int err, const String& path) {
  if (err != ENOENT) return Win32ErrorFromErrno(err);
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ignored;
  if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

size_t Granularity() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }

}  // namespace

namespace {

// OpenFileForReading's open and check, the file's status left in info and
// O_NONBLOCK left set (it changes nothing for a regular file's reads).
int OpenRegularFile(int folder, const char* path, struct stat& info) {
  // Without O_NONBLOCK the open of a FIFO would wait for a writer.
  // A name relative to a folder the caller opened is one entry of it: a link
  // there is refused like one met beneath the prefix.
  const int fd = folder == AT_FDCWD ? OpenBeneathPrefix(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                                    : ::openat(folder, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return -1;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

int OpenFileForReading(const String& path) {
  struct stat info {};
  const int fd = OpenRegularFile(AT_FDCWD, path.c_str(), info);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int ReadWholeFile(const String& path, std::string& bytes, size_t maxSize) {
  return ReadWholeFileAt(AT_FDCWD, path.c_str(), bytes, maxSize);
}

namespace {

// Reads fd to its end into bytes, after room made there (its size): grows
// it while reads fill it, at most to maxSize + 1 bytes (EFBIG beyond maxSize).
// 0 or the errno value; bytes holds what was read.
int ReadToEnd(int fd, std::string& bytes, size_t maxSize) {
  int error = 0;
  size_t have = 0;
  for (;;) {
    if (have == bytes.size()) {
      if (bytes.size() > maxSize) {
        error = EFBIG;
        break;
      }
      bytes.resize(std::min(std::max<size_t>(bytes.size() * 2, 1), maxSize < SIZE_MAX ? maxSize + 1 : SIZE_MAX));
    }
    const size_t asked = bytes.size() - have;
    const ssize_t got = ::read(fd, bytes.data() + have, asked);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = errno;
      break;
    }
    have += static_cast<size_t>(got);
    // A regular file gives less than asked only at its end.
    if (static_cast<size_t>(got) < asked) break;
  }
  bytes.resize(have);
  return error;
}

// The room a listed file's first read is given: a registry value's file
// fits in it, and it is little to clear.
constexpr size_t kListedFileRoom = 512;

}  // namespace

int ReadWholeFileAt(int folder, const char* name, std::string& bytes, size_t maxSize) {
  // Four calls a small file (open, status, read, close).
  struct stat info {};
  const int fd = OpenRegularFile(folder, name, info);
  if (fd < 0) return errno;
  int error = EFBIG;
  if (static_cast<uint64_t>(info.st_size) <= maxSize) {
    // As much as the file holds now, though it may grow or shrink meanwhile.
    bytes.assign(static_cast<size_t>(info.st_size) + 1, '\0');
    error = ReadToEnd(fd, bytes, maxSize);
  }
  ::close(fd);
  return error;
}

int ReadListedFileAt(int folder, const char* name, std::string& bytes, size_t maxSize) {
  // Three calls a small file (open, read, close): registry enumerations
  // read thousands of files this way. Without waiting and without
  // following a link, as OpenRegularFile opens.
  const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return errno;
  bytes.resize(kListedFileRoom);
  const int error = ReadToEnd(fd, bytes, maxSize);
  ::close(fd);
  return error;
}
}  // namespace ztl::os

using namespace ztl::os;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  if (dwDesiredAccess != GENERIC_READ || dwCreationDisposition != OPEN_EXISTING) {
    Fail(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  const ztl::String path = lpFileName ? ztl::oswide::ToUtf8(lpFileName) : ztl::String();
  if (path.empty()) {
    Fail(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = OpenFileForReading(path);
  if (fd < 0) {
    Fail(errno == EISDIR ? ERROR_ACCESS_DENIED : errno == ENODEV ? ERROR_NOT_SUPPORTED : OpenError(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = InsertHandle(std::make_shared<FileObject>(fd));
  if (!handle) {
    Fail(ERROR_NO_SYSTEM_RESOURCES);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  const auto file = ReferenceHandleAs<FileObject>(hFile);
  struct stat info {};
  if (!file || ::fstat(file->Descriptor(), &info) != 0) {
    Fail(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<uint64_t>(info.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect, DWORD dwMaximumSizeHigh,
                          DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  const auto file = ReferenceHandleAs<FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (lpName) return Fail(ERROR_NOT_SUPPORTED);
  if (flProtect == PAGE_READWRITE) return Fail(ERROR_ACCESS_DENIED);
  if (flProtect != PAGE_READONLY && flProtect != PAGE_WRITECOPY) return Fail(ERROR_INVALID_PARAMETER);
  struct stat info {};
  if (::fstat(file->Descriptor(), &info) != 0) return Fail(Win32ErrorFromErrno(errno));
  const auto fileSize = static_cast<uint64_t>(info.st_size);
  uint64_t size = uint64_t{dwMaximumSizeHigh} << 32 | dwMaximumSizeLow;
  if (size == 0) size = fileSize;
  if (size == 0) {
    // The system gives some files' sizes as 0 (procfs): only a file that
    // really is empty is one.
    char first = 0;
    const ssize_t got = ::pread(file->Descriptor(), &first, 1, 0);
    return Fail(got == 0 ? ERROR_FILE_INVALID : got > 0 ? ERROR_NOT_SUPPORTED : ERROR_READ_FAULT);
  }
  if (size > fileSize) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  // The mapping keeps the file open after its handle is closed.
  const int fd = ::fcntl(file->Descriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return Fail(Win32ErrorFromErrno(errno));
  HANDLE handle = InsertHandle(std::make_shared<MappingObject>(fd, size, flProtect == PAGE_WRITECOPY));
  if (!handle) Fail(ERROR_NO_SYSTEM_RESOURCES);
  return handle;
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                     SIZE_T dwNumberOfBytesToMap) {
  const auto mapping = ReferenceHandleAs<MappingObject>(hFileMappingObject);
  if (!mapping) return Fail(ERROR_INVALID_HANDLE);
  if (dwDesiredAccess == 0) return Fail(ERROR_INVALID_PARAMETER);
  const bool copy = (dwDesiredAccess & FILE_MAP_COPY) != 0 && dwDesiredAccess != FILE_MAP_ALL_ACCESS;
  if (!copy && (dwDesiredAccess & FILE_MAP_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (!copy && !(dwDesiredAccess & FILE_MAP_READ)) return Fail(ERROR_INVALID_PARAMETER);
  const uint64_t offset = uint64_t{dwFileOffsetHigh} << 32 | dwFileOffsetLow;
  if (offset % Granularity() != 0) return Fail(ERROR_MAPPED_ALIGNMENT);
  if (offset >= mapping->Size || dwNumberOfBytesToMap > mapping->Size - offset)
    return Fail(ERROR_ACCESS_DENIED);
  const size_t length = dwNumberOfBytesToMap != 0 ? dwNumberOfBytesToMap : mapping->Size - offset;
  void* view = ::mmap(nullptr, length, copy ? PROT_READ | PROT_WRITE : PROT_READ, MAP_PRIVATE, mapping->Descriptor(),
                      static_cast<off_t>(offset));
  if (view == MAP_FAILED) return Fail(Win32ErrorFromErrno(errno));
  ViewTable& table = Views();
  std::lock_guard guard(table.lock);
  table.views[reinterpret_cast<uintptr_t>(view)] = length;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  size_t length = 0;
  {
    ViewTable& table = Views();
    std::lock_guard guard(table.lock);
    const auto found = table.views.find(reinterpret_cast<uintptr_t>(lpBaseAddress));
    if (found == table.views.end()) {
      Fail(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    length = found->second;
    table.views.erase(found);
  }
  ::munmap(const_cast<void*>(lpBaseAddress), length);
  return TRUE;
}
