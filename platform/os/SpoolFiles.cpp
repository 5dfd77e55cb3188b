#include <ztlogger/platform/os/SpoolFiles.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

bool WritePrivateFile(const char* TempPath, const char* FinalPath, const TFilePart* Parts, size_t Count) noexcept {
  const int fd = ::open(TempPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool written = true;
  for (size_t i = 0; i < Count && written; ++i) written = WriteAll(fd, Parts[i].Data, Parts[i].Size);
  // On disk before it counts as queued: a crash report is read after a
  // restart, which may follow a power cut.
  written = written && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(TempPath, FinalPath) == 0) return true;
  ::unlink(TempPath);
  return false;
}

}  // namespace ztl::os
