// The platform prefix (see Prefix.h): where it is, how a path beneath it is
// opened without following links, and which of its folders are trusted.
// Relies on openat2(2) where the kernel has it, else on openat(2) with
// O_NOFOLLOW for each name of the path.
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/Descriptor.h>

#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

namespace ztl::os {

namespace {

// The prefix as paths beneath it are spelled, without a trailing slash.
String TrimmedPrefix() {
  String prefix = PlatformPrefix();
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  return prefix;
}

// The part of path below prefix ("." for the prefix itself), or false for
// a path elsewhere.
bool RelativeToPrefix(const String& path, const String& prefix, String& relative) {
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  if (path.size() == prefix.size()) {
    relative = ".";
    return true;
  }
  if (path[prefix.size()] != '/' && prefix != "/") return false;
  size_t start = prefix.size();
  while (start < path.size() && path[start] == '/') ++start;
  relative = start == path.size() ? "." : path.substr(start);
  return true;
}

int OpenAt2(int folder, const String& relative, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  return static_cast<int>(::syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how));
}

// Opens one name in a folder without following it: O_PATH with O_NOFOLLOW
// would open a link itself, so that one is refused here as openat2 refuses it.
int OpenName(int folder, const String& name, int flags, mode_t mode) {
  if (!(flags & O_PATH)) return ::openat(folder, name.c_str(), flags | O_NOFOLLOW, mode);
  Descriptor entry(::openat(folder, name.c_str(), (flags & ~O_DIRECTORY) | O_NOFOLLOW));
  struct stat info {};
  if (entry.Get() < 0 || ::fstat(entry.Get(), &info) != 0) return -1;
  if (S_ISLNK(info.st_mode) || ((flags & O_DIRECTORY) && !S_ISDIR(info.st_mode))) {
    errno = S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
    return -1;
  }
  return entry.Release();
}

// For kernels without openat2: each name opened on its own, no link followed.
int OpenEachName(int folder, const String& relative, int flags, mode_t mode) {
  std::vector<std::string_view> names;
  for (size_t start = 0; start <= relative.size();) {
    const size_t end = std::min(relative.find('/', start), relative.size());
    const std::string_view name(relative.data() + start, end - start);
    if (name == "..") {
      errno = EXDEV;
      return -1;
    }
    if (!name.empty() && name != ".") names.push_back(name);
    start = end + 1;
  }
  Descriptor current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (current.Get() < 0) return -1;
  if (names.empty()) return ::openat(current.Get(), ".", flags, mode);
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    const int next = OpenName(current.Get(), String(names[i]), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (next < 0) return -1;
    current.Reset(next);
  }
  return OpenName(current.Get(), String(names.back()), flags, mode);
}

// Whether a relative path has a ".." among its names.
bool ClimbsUp(const String& relative) {
  for (size_t start = 0; start <= relative.size();) {
    const size_t end = std::min(relative.find('/', start), relative.size());
    if (relative.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// The whole path opened in one call, no link followed on the way; -1 with
// ELOOP where one is met, ENOSYS where the kernel lacks openat2.
int OpenWithoutLinks(const String& path, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS;
  return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
}

int OpenBeneath(int folder, const String& relative, int flags, mode_t mode) {
  const int fd = OpenAt2(folder, relative, flags | O_CLOEXEC, mode);
  if (fd >= 0 || errno != ENOSYS) return fd;
  return OpenEachName(folder, relative, flags | O_CLOEXEC, mode);
}

void Refuse(const String& name, const char* why) {
  std::fprintf(stderr, "ztlogger: refusing to use \"%s\": %s\n", name.c_str(), why);
}

}  // namespace

String PlatformPrefix() {
  if (const char* prefix = std::getenv("ZTL_PREFIX"); prefix && *prefix) return prefix;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return String(data) + "/ztlogger";
  const char* home = std::getenv("HOME");
  if (home && *home) return String(home) + "/.local/share/ztlogger";
  // The account's own home: getpwuid_r, as any thread may ask.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(1024);
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) buffer.resize(buffer.size() * 2);
  return String(found && found->pw_dir ? found->pw_dir : "/tmp") + "/.local/share/ztlogger";
}

int OpenBeneathPrefix(const String& path, int flags, mode_t mode) {
  const String prefix = TrimmedPrefix();
  String relative;
  if (!RelativeToPrefix(path, prefix, relative)) return ::open(path.c_str(), flags | O_CLOEXEC, mode);
  // Usually no link leads to the prefix: then a path that does not climb out
  // of it opens in one call, with no link anywhere on the way.
  if (!ClimbsUp(relative)) {
    const int fd = OpenWithoutLinks(path, flags | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != ELOOP && errno != ENOSYS)) return fd;
  }
  // The prefix itself may be a link: it is the platform's setting.
  const Descriptor root(::open(prefix.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (root.Get() < 0) return -1;
  return OpenBeneath(root.Get(), relative, flags, mode);
}

bool TrustedStoreFolder(int folder, const String& name) {
  struct stat info {};
  if (::fstat(folder, &info) != 0) {
    Refuse(name, "its owner and permissions cannot be read");
    return false;
  }
  const bool ownerTrusted = info.st_uid == ::geteuid() || info.st_uid == 0;
  if (!ownerTrusted) {
    Refuse(name, "it belongs to another user");
    return false;
  }
  const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  if (othersWrite && !(info.st_mode & S_ISVTX)) {
    Refuse(name, "other users may write to it");
    return false;
  }
  return true;
}

int MakeStoreFolder(const String& folder, mode_t mode) {
  const String prefix = TrimmedPrefix();
  String relative;
  if (!RelativeToPrefix(folder, prefix, relative)) return EXDEV;
  std::error_code made;
  if (!std::filesystem::create_directories(prefix, made) && made) return made.value();
  Descriptor current(::open(prefix.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (current.Get() < 0) return errno;
  if (!TrustedStoreFolder(current.Get(), prefix)) return EACCES;
  String reached = prefix;
  for (size_t start = 0; start < relative.size();) {
    const size_t end = std::min(relative.find('/', start), relative.size());
    const String name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    reached += "/" + name;
    const mode_t wanted = start > relative.size() ? mode : 0755;
    if (::mkdirat(current.Get(), name.c_str(), wanted) == 0) {
      // Exactly the mode asked for, whatever the umask took away.
      if (::fchmodat(current.Get(), name.c_str(), wanted, 0) != 0) return errno;
    } else if (errno != EEXIST) {
      return errno;
    }
    const int next = OpenBeneath(current.Get(), name, O_PATH | O_DIRECTORY, 0);
    if (next < 0) return errno;
    current.Reset(next);
    if (!TrustedStoreFolder(current.Get(), reached)) return EACCES;
  }
  return 0;
}

}  // namespace ztl::os
