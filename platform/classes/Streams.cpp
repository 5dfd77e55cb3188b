#include <ztlogger/platform/classes/Streams.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

ZTL_DEFINE_CLASS(TStream, TObject)
ZTL_DEFINE_CLASS(THandleStream, TStream)
ZTL_DEFINE_CLASS(TFileStream, THandleStream)
ZTL_DEFINE_CLASS(TMemoryStream, TStream)
ZTL_DEFINE_CLASS(TStringStream, TMemoryStream)

namespace {

String ErrnoText(int err) {
  char buffer[256];
  return strerror_r(err, buffer, sizeof buffer);
}

}  // namespace

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  char buffer[65536];
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, sizeof buffer);
    source.ReadBuffer(buffer, n);
    WriteBuffer(buffer, n);
    left -= n;
  }
  return count;
}

int64_t TStream::Size() {
  int64_t position = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t THandleStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(handle_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EReadError("Stream read error: " + ErrnoText(errno));
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(handle_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EWriteError("Stream write error: " + ErrnoText(errno));
    done += n;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t result = ::lseek(handle_, offset, whence);
  if (result < 0) throw EStreamError("Stream seek error: " + ErrnoText(errno));
  return result;
}

void THandleStream::SetSize(int64_t value) {
  if (::ftruncate(handle_, value) != 0) throw EStreamError("Stream size error: " + ErrnoText(errno));
  if (Position() > value) Seek(value, soBeginning);
}

namespace {

// The reason given for a name that is no regular file; no errno value has
// that meaning. (A FIFO without a reader refuses a writer with ENXIO.)
constexpr int kNotRegularFile = -1;

bool IsCreate(uint32_t mode) { return (mode & fmCreate) == fmCreate; }

// Whether the open may take the file for the regular file the caller found
// there before: only a writing open, as that one refuses a folder itself.
bool TakesKnownFile(uint32_t mode) { return (mode & fmKnownFile) && !IsCreate(mode) && (mode & 3) != fmOpenRead; }

int OpenFlags(uint32_t mode) {
  // Without blocking: opening a FIFO waits for its other end, and the caller
  // may hold a lock that many wait for. No effect on a regular file.
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (IsCreate(mode)) return flags | O_RDWR | O_CREAT;
  switch (mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  if (mode & fmOpenOrCreate) flags |= O_CREAT;
  if (mode & fmAppend) flags |= O_APPEND;
  return flags;
}

// The advisory lock that keeps a share mode, or 0 for none.
int ShareLock(uint32_t mode) {
  uint32_t share = mode & 0xF0;
  bool writes = IsCreate(mode) || (mode & 3) != fmOpenRead;
  switch (share) {
    case fmShareExclusive:
    case fmShareDenyRead: return LOCK_EX;
    case fmShareDenyWrite: return writes ? LOCK_EX : LOCK_SH;
    default: return 0;
  }
}

// Takes the lock, waiting up to the limit for another holder to finish;
// tells whether it had to wait. The clock is read only once there is a wait.
bool WaitForLock(int fd, int operation, int milliseconds, bool& waited) {
  using Clock = std::chrono::steady_clock;
  waited = false;
  Clock::time_point deadline;
  auto pause = std::chrono::microseconds(20);
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    if (!waited) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    waited = true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(2000));
  }
}

// What the open needs to know of the file it has locked: whether it is a
// folder, whether it still has a name (a deleted file has no link left) and,
// after a wait, which file it is.
struct LockedFile {
  bool isFolder = false;
  bool isRegular = false;
  bool unlinked = false;
  dev_t device = 0;
  ino_t inode = 0;
};

bool DescribeOpened(int handle, bool needIdentity, LockedFile& file) {
  struct statx info {};
  unsigned int mask = STATX_TYPE | STATX_NLINK | (needIdentity ? STATX_INO : 0u);
  if (::statx(handle, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, mask, &info) != 0) return false;
  file.isFolder = S_ISDIR(info.stx_mode);
  file.isRegular = S_ISREG(info.stx_mode);
  file.unlinked = info.stx_nlink == 0;
  file.device = makedev(info.stx_dev_major, info.stx_dev_minor);
  file.inode = info.stx_ino;
  return true;
}

// Whether the name still refers to the locked file. A holder may have deleted
// or replaced the file before releasing it; after a wait the name itself is
// looked up again, as a holder may also have renamed the file away meanwhile.
bool StillNamed(const String& fileName, const LockedFile& opened, bool waited) {
  if (opened.unlinked) return false;
  if (!waited) return true;
  struct stat current {};
  return ::stat(fileName.c_str(), &current) == 0 && current.st_dev == opened.device && current.st_ino == opened.inode;
}

[[noreturn]] void OpenFailed(const String& fileName, uint32_t mode, int err) {
  if (err == ENXIO) err = kNotRegularFile;
  String reason = err == EWOULDBLOCK       ? "The file is in use by another process"
                  : err == kNotRegularFile ? "It is not a regular file"
                                           : ErrnoText(err);
  // Open-or-create failed at creating only when there was no file to open.
  bool created = IsCreate(mode) || ((mode & fmOpenOrCreate) && !FileExists(fileName));
  // A folder is neither created nor opened: the message says what it is.
  if (err == EISDIR) {
    const String what = "\"" + fileName + "\" is a directory, not a file";
    if (created) throw EFCreateError(what);
    throw EFOpenError(what);
  }
  if (created) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
  throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
}

}  // namespace

TFileStream::TFileStream(const String& fileName, uint32_t mode) : THandleStream(-1), fileName_(fileName) {
  int lock = ShareLock(mode);
  for (int attempt = 0;; ++attempt) {
    handle_ = ::open(fileName.c_str(), OpenFlags(mode), 0666);
    if (handle_ < 0) OpenFailed(fileName, mode, errno);
    bool waited = false;
    if (lock && !WaitForLock(handle_, lock, ShareWaitMilliseconds, waited)) FailAndClose(fileName, mode, errno);
    if (!waited && TakesKnownFile(mode)) break;
    // Looked at once the lock is held, so that it describes the file as this
    // stream will find it.
    LockedFile opened;
    if (!DescribeOpened(handle_, waited, opened)) FailAndClose(fileName, mode, errno);
    if (opened.isFolder) FailAndClose(fileName, mode, EISDIR);
    // A device, FIFO or socket is no file to keep data in.
    if (!opened.isRegular) FailAndClose(fileName, mode, kNotRegularFile);
    if (!lock || StillNamed(fileName, opened, waited)) break;
    ::close(handle_);
    handle_ = -1;
    if (attempt == 100) OpenFailed(fileName, mode, EWOULDBLOCK);
  }
  // Truncate only once the file is ours, so a waiting creator cannot cut
  // short what another writer is putting there.
  if (IsCreate(mode) && ::ftruncate(handle_, 0) != 0) FailAndClose(fileName, mode, errno);
}

void TFileStream::FailAndClose(const String& fileName, uint32_t mode, int err) {
  ::close(handle_);
  handle_ = -1;
  OpenFailed(fileName, mode, err);
}

TFileStream::~TFileStream() {
  if (handle_ >= 0) ::close(handle_);  // closing releases the lock
}

namespace {

// A stream on a descriptor it owns.
class TOwnedHandleStream : public THandleStream {
 public:
  explicit TOwnedHandleStream(int handle) : THandleStream(handle) {}
  ~TOwnedHandleStream() override { ::close(handle_); }
  TOwnedHandleStream(const TOwnedHandleStream&) = delete;
  TOwnedHandleStream& operator=(const TOwnedHandleStream&) = delete;
};

String RandomDigits() {
  uint64_t number = 0;
  for (size_t got = 0; got < sizeof number;) {
    const ssize_t n = ::getrandom(reinterpret_cast<char*>(&number) + got, sizeof number - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EFCreateError("Cannot create a file name: " + ErrnoText(errno));
    got += static_cast<size_t>(n);
  }
  return IntToHex(number, 16);
}

}  // namespace

std::unique_ptr<THandleStream> CreateUniqueFile(const String& folder, const String& prefix, const String& extension,
                                                String& path) {
  const String base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  // Taken names are met only by chance or on purpose; either way a few more
  // draws settle it, and many taken names in a row are a folder to refuse.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const String candidate = base + prefix + RandomDigits() + extension;
    // O_EXCL fails on any existing name, a symbolic link included, so the
    // file is never reached through a name someone else made.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      path = candidate;
      return std::make_unique<TOwnedHandleStream>(fd);
    }
    if (errno != EEXIST && errno != EINTR)
      throw EFCreateError("Cannot create file \"" + candidate + "\". " + ErrnoText(errno));
  }
  throw EFCreateError("Cannot create a file in \"" + folder + "\". Every name tried was taken");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t available = std::max<int64_t>(0, Size() - position_);
  int64_t n = std::min(count, available);
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) data_.resize(static_cast<size_t>(position_ + count));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
  if (base + offset < 0) throw EStreamError("Stream seek error: negative position");
  position_ = base + offset;
  return position_;
}

void TMemoryStream::SetSize(int64_t value) {
  data_.resize(static_cast<size_t>(value));
  position_ = std::min(position_, value);
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const String& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TMemoryStream::SaveToFile(const String& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t size = stream.Size();
  data_.resize(static_cast<size_t>(size));
  stream.ReadBuffer(data_.data(), size);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& stream) { stream.WriteBuffer(data_.data(), Size()); }

TStringStream::TStringStream(const String& text) {
  Write(text.data(), static_cast<int64_t>(text.size()));
  SetPosition(0);
}

String TStringStream::DataString() const { return String(Data().begin(), Data().end()); }

}  // namespace ztl
