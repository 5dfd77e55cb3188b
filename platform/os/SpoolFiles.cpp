#include <ztlogger/platform/os/SpoolFiles.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ztl::os {

namespace {

bool WriteAll(int fd, const char* data, size_t size) noexcept {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool MakeFolder(const String& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) == 0) return true;
  struct stat status {};
  return errno == EEXIST && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

bool CreatePrivateFolder(const String& Folder) {
  if (Folder.empty()) return false;
  // The parents as any folder is made; the last one private.
  for (size_t slash = Folder.find('/', 1); slash != String::npos; slash = Folder.find('/', slash + 1))
    if (!MakeFolder(Folder.substr(0, slash), 0777)) return false;
  if (!MakeFolder(Folder, 0700)) return false;
  struct stat status {};
  if (::stat(Folder.c_str(), &status) != 0) return false;
  // A folder made earlier with looser rights, by this user, is closed now.
  return (status.st_mode & 0777) == 0700 || ::chmod(Folder.c_str(), 0700) == 0;
}

namespace {

// The temporary file with its content, not yet durable; -1 (nothing left
// behind) on failure.
int WriteTemporary(const char* TempPath, const TFilePart* Parts, size_t Count) noexcept {
  const int fd = ::open(TempPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  bool written = true;
  for (size_t i = 0; i < Count && written; ++i) written = WriteAll(fd, Parts[i].Data, Parts[i].Size);
  if (written) return fd;
  ::close(fd);
  ::unlink(TempPath);
  return -1;
}

// Makes the temporary file durable and gives it its name.
bool Finish(int fd, const char* TempPath, const char* FinalPath) noexcept {
  // On disk before it counts as queued: a crash report is read after a
  // restart, which may follow a power cut.
  bool written = ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(TempPath, FinalPath) == 0) return true;
  ::unlink(TempPath);
  return false;
}

}  // namespace

bool WritePrivateFile(const char* TempPath, const char* FinalPath, const TFilePart* Parts, size_t Count) noexcept {
  const int fd = WriteTemporary(TempPath, Parts, Count);
  return fd >= 0 && Finish(fd, TempPath, FinalPath);
}

size_t WritePrivateFiles(TSpoolFile* Files, size_t Count) {
  std::vector<int> descriptors(Count, -1);
  for (size_t i = 0; i < Count; ++i) descriptors[i] = WriteTemporary(Files[i].TempPath, Files[i].Parts, Files[i].Count);
  size_t written = 0;
  for (size_t i = 0; i < Count; ++i) {
    Files[i].Written = descriptors[i] >= 0 && Finish(descriptors[i], Files[i].TempPath, Files[i].FinalPath);
    written += Files[i].Written ? 1 : 0;
  }
  return written;
}

}  // namespace ztl::os
