#include <ztlogger/platform/os/ChangeNotify.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os {
namespace {

constexpr DWORD kKnownFilters = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                                FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kEverything = ~DWORD{0};

// The events a watch asks for to serve a filter.
uint32_t InotifyMask(DWORD filter) {
  uint32_t mask = 0;
  if (filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME))
    mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY)) mask |= IN_ATTRIB;
  if (filter & FILE_NOTIFY_CHANGE_SIZE) mask |= IN_MODIFY;
  if (filter & FILE_NOTIFY_CHANGE_LAST_WRITE) mask |= IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
  if (filter & FILE_NOTIFY_CHANGE_LAST_ACCESS) mask |= IN_ACCESS;
  if (filter & FILE_NOTIFY_CHANGE_CREATION) mask |= IN_CREATE | IN_MOVED_TO;
  return mask;
}

// What every watch of a subtree also needs, to follow its folders.
constexpr uint32_t kTreeMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW;

// The kinds of change an entry's event stands for.
DWORD NameChange(uint32_t mask) {
  DWORD kinds = (mask & IN_ISDIR) ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
  if (mask & (IN_CREATE | IN_MOVED_TO)) kinds |= FILE_NOTIFY_CHANGE_CREATION;
  return kinds;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

class ChangeNotification final : public KernelObject {
 public:
  ChangeNotification(int fd, bool subtree, DWORD filter)
      : fd_(fd),
        subtree_(subtree),
        tracksEntries_((filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0),
        filter_(filter),
        mask_(InotifyMask(filter)) {}
  ~ChangeNotification() override { CloseDescriptorLater(fd_); }
  ChangeNotification(const ChangeNotification&) = delete;
  ChangeNotification& operator=(const ChangeNotification&) = delete;

  // Starts watching; the Windows error code on failure.
  DWORD Watch(const std::string& path);

  int WaitDescriptor() const override { return fd_; }
  bool Signaled() override {
    std::lock_guard guard(lock_);
    Drain();
    return signaled_;
  }
  void Rearm() {
    std::lock_guard guard(lock_);
    signaled_ = false;
    Drain();
  }

 private:
  struct Folder {
    int parent;  // kRoot for the watched folder, kDetached while moved or deleted
    std::string name;
  };
  static constexpr int kRoot = -1;
  static constexpr int kDetached = -2;

  void Drain();
  void Handle(const inotify_event& event);
  void FollowFolders(const inotify_event& event);
  void Note(DWORD kinds) {
    if (kinds & filter_) signaled_ = true;
  }
  void WatchTree(int parent, int parentFd, const std::string& name, bool contentsAreNew);
  void ScanFolder(int wd, int folderFd, bool contentsAreNew);
  int OpenFolder(int wd) const;
  bool StatEntry(int wd, const char* name, struct stat& st) const;
  void Missed(int error);
  void Unwatch(int wd);
  void Forget(int wd);
  void FollowEntry(const inotify_event& event);
  void Rewatch();
  int ChildNamed(int parent, const char* name) const;
  std::string PathOf(int wd) const;

  const int fd_;
  const bool subtree_;
  const bool tracksEntries_;  // keeps the sizes and last-write times of the entries
  const DWORD filter_;
  const uint32_t mask_;
  std::string rootPath_;
  int rootWd_ = -1;

  std::mutex lock_;
  bool signaled_ = false;
  bool quotaExceeded_ = false;
  bool rootMoved_ = false;  // paths below the watched folder are then out of date
  std::map<int, Folder> folders_;
  std::map<uint32_t, int> movedAway_;  // rename cookie -> folder, until the other half is seen
  struct Entry {
    timespec lastWrite;
    off_t size;
  };
  std::map<std::pair<int, std::string>, Entry> entries_;  // by folder and name
};

DWORD ChangeNotification::Watch(const std::string& path) {
  // No descriptor of the folder is kept open: the system reports the
  // deletion of a folder only once nothing holds it.
  rootPath_ = path;
  std::lock_guard guard(lock_);
  rootWd_ = inotify_add_watch(
      fd_, rootPath_.c_str(),
      mask_ | (subtree_ ? kTreeMask & ~IN_DONT_FOLLOW : 0) | IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF);
  if (rootWd_ < 0) return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : Win32ErrorFromErrno(errno);
  folders_[rootWd_] = {kRoot, {}};
  if (subtree_ || tracksEntries_) ScanFolder(rootWd_, OpenFolder(rootWd_), false);
  return quotaExceeded_ ? ERROR_NOT_ENOUGH_QUOTA : ERROR_SUCCESS;
}

void ChangeNotification::Drain() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;  // EAGAIN: nothing more queued
    for (ssize_t at = 0; at < got;) {
      const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
      Handle(event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
  // A folder moved away whose arrival was not seen has left the tree.
  for (const auto& [cookie, wd] : movedAway_) Unwatch(wd);
  movedAway_.clear();
}

void ChangeNotification::Handle(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) {
    Note(kEverything);
    if (subtree_) Rewatch();
    return;
  }
  if (event.mask & IN_IGNORED) {
    if (event.wd == rootWd_) rootWd_ = -1;
    Forget(event.wd);
    return;
  }
  if (event.len == 0) {  // the watched folder itself
    if (event.wd != rootWd_) return;
    if (event.mask & (IN_DELETE_SELF | IN_UNMOUNT)) Note(kEverything);
    if (event.mask & IN_MOVE_SELF) rootMoved_ = true;
    return;
  }
  if (subtree_) FollowFolders(event);
  if (event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) Note(NameChange(event.mask));
  if (event.mask & (IN_MODIFY | IN_CLOSE_WRITE)) Note(FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (event.mask & IN_ACCESS) Note(FILE_NOTIFY_CHANGE_LAST_ACCESS);
  if (event.mask & IN_ATTRIB) Note(FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY);
  if (tracksEntries_) FollowEntry(event);
}

// Sizes and last-write times tell a change of size from a write in place, and
// a change of the last-write time from one of mode or owner. An entry not
// seen before counts as changed in size when written; setting its times to
// the present (touch) is recognised as it sets the last-write time and the
// status time to the same instant.
void ChangeNotification::FollowEntry(const inotify_event& event) {
  const std::pair<int, std::string> key{event.wd, event.name};
  if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
    entries_.erase(key);
    return;
  }
  struct stat st;
  if (!StatEntry(event.wd, event.name, st)) {
    // Gone already, or its path is unknown: what it was cannot be told.
    if (event.mask & IN_MODIFY) Note(FILE_NOTIFY_CHANGE_SIZE);
    if (event.mask & IN_ATTRIB) Note(FILE_NOTIFY_CHANGE_LAST_WRITE);
    entries_.erase(key);
    return;
  }
  const auto known = entries_.find(key);
  if (event.mask & IN_CREATE) {
    entries_[key] = {st.st_mtim, 0};  // what is written next is a change of size
    return;
  }
  if (event.mask & IN_MODIFY) {
    if (known == entries_.end() || known->second.size != st.st_size) Note(FILE_NOTIFY_CHANGE_SIZE);
  }
  if (event.mask & IN_ATTRIB) {
    if (known != entries_.end() ? !SameTime(known->second.lastWrite, st.st_mtim) : SameTime(st.st_mtim, st.st_ctim))
      Note(FILE_NOTIFY_CHANGE_LAST_WRITE);
  }
  entries_[key] = {st.st_mtim, st.st_size};
}

// Keeps a watch on every folder of the tree as folders come, go and move.
void ChangeNotification::FollowFolders(const inotify_event& event) {
  if (!(event.mask & IN_ISDIR)) return;
  if (event.mask & IN_CREATE) {
    const int parentFd = OpenFolder(event.wd);
    WatchTree(event.wd, parentFd, event.name, true);
    if (parentFd >= 0) close(parentFd);
  } else if (event.mask & IN_MOVED_TO) {
    const auto moved = movedAway_.find(event.cookie);
    if (moved != movedAway_.end() && folders_.count(moved->second)) {
      folders_[moved->second] = {event.wd, event.name};  // moved within the tree
      movedAway_.erase(moved);
    } else {
      const int parentFd = OpenFolder(event.wd);
      WatchTree(event.wd, parentFd, event.name, true);
      if (parentFd >= 0) close(parentFd);
    }
  } else if (event.mask & (IN_MOVED_FROM | IN_DELETE)) {
    const int child = ChildNamed(event.wd, event.name);
    if (child < 0) return;
    folders_[child].parent = kDetached;  // its watch ends when the move has no other half, or by IN_IGNORED
    if (event.mask & IN_MOVED_FROM) movedAway_[event.cookie] = child;
  }
}

// Watches a folder below `parent` (open as parentFd, -1 when it could not
// be opened) and everything in it; what it already holds counts as just
// created when `contentsAreNew`. A folder gone again, no folder after all or
// closed to this user is left out. Folders are reached through their
// parents' descriptors, so that a path longer than the system takes is
// watched as well; whatever else keeps a folder from being watched makes
// every change count as possibly missed.
void ChangeNotification::WatchTree(int parent, int parentFd, const std::string& name, bool contentsAreNew) {
  if (parentFd < 0) return Missed(errno);
  // The folder by its parent's descriptor: a short path whatever its depth.
  const std::string path = "/proc/self/fd/" + std::to_string(parentFd) + "/" + name;
  const int wd = inotify_add_watch(fd_, path.c_str(), mask_ | kTreeMask);
  if (wd < 0) return Missed(errno);
  folders_[wd] = {parent, name};
  const int folderFd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folderFd < 0) return Missed(errno);
  ScanFolder(wd, folderFd, contentsAreNew);
}

// A folder that could not be watched or read: left out when it is gone, no
// folder or closed to this user, else every change counts as missed.
void ChangeNotification::Missed(int error) {
  if (error == ENOSPC || error == ENOMEM) {
    quotaExceeded_ = true;
    Note(kEverything);
  } else if ((error != ENOENT && error != ENOTDIR && error != EACCES && error != ELOOP) || rootMoved_) {
    Note(kEverything);  // its path is unknown or unusable: what happens in it could be missed
  }
}

// Scans a folder open as folderFd (closed here).
void ChangeNotification::ScanFolder(int wd, int folderFd, bool contentsAreNew) {
  if (folderFd < 0) return Missed(errno);
  const int listed = dup(folderFd);
  DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
  if (dir == nullptr) {
    Missed(errno);
    if (listed >= 0) close(listed);
    close(folderFd);
    return;
  }
  std::vector<std::string> subfolders;
  while (const dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool isFolder = S_ISDIR(st.st_mode);
    if (isFolder && subtree_) subfolders.emplace_back(entry->d_name);
    if (tracksEntries_) entries_[{wd, entry->d_name}] = {st.st_mtim, st.st_size};
    if (contentsAreNew) {
      Note(NameChange(IN_CREATE | (isFolder ? IN_ISDIR : 0)));
      if (!isFolder && st.st_size > 0) Note(FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
    }
  }
  closedir(dir);
  for (const std::string& name : subfolders) WatchTree(wd, folderFd, name, contentsAreNew);
  close(folderFd);
}

// A descriptor of a watched folder, opened name by name from the watched
// folder down when its path is too long to be opened at once; -1 (errno
// set) when it cannot be opened.
int ChangeNotification::OpenFolder(int wd) const {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  const std::string path = PathOf(wd);
  if (path.size() < PATH_MAX) return open(path.c_str(), kFlags);
  std::vector<const std::string*> names;
  for (auto it = folders_.find(wd); it != folders_.end() && it->second.parent != kRoot;
       it = folders_.find(it->second.parent))
    names.push_back(&it->second.name);
  int fd = open(rootPath_.c_str(), kFlags);
  for (auto name = names.rbegin(); name != names.rend() && fd >= 0; ++name) {
    const int next = openat(fd, (*name)->c_str(), kFlags | O_NOFOLLOW);
    const int error = errno;
    close(fd);
    fd = next;
    errno = error;
  }
  return fd;
}

// The status of an entry of a watched folder; false when it cannot be had.
bool ChangeNotification::StatEntry(int wd, const char* name, struct stat& st) const {
  const std::string path = PathOf(wd) + "/" + name;
  if (path.size() < PATH_MAX) return stat(path.c_str(), &st) == 0;
  const int folder = OpenFolder(wd);
  if (folder < 0) return false;
  const bool found = fstatat(folder, name, &st, 0) == 0;
  close(folder);
  return found;
}

// Stops watching a folder and everything below it.
void ChangeNotification::Unwatch(int wd) {
  std::vector<int> below;
  for (const auto& [child, folder] : folders_)
    if (folder.parent == wd) below.push_back(child);
  for (int child : below) Unwatch(child);
  inotify_rm_watch(fd_, wd);
  Forget(wd);
}

void ChangeNotification::Forget(int wd) {
  folders_.erase(wd);
  entries_.erase(entries_.lower_bound({wd, {}}), entries_.lower_bound({wd + 1, {}}));
}

// After an overflow the tree may have changed unseen: watch it afresh.
void ChangeNotification::Rewatch() {
  std::vector<int> below;
  for (const auto& [wd, folder] : folders_)
    if (wd != rootWd_) below.push_back(wd);
  for (int wd : below) {
    inotify_rm_watch(fd_, wd);
    Forget(wd);
  }
  movedAway_.clear();
  if (rootWd_ >= 0) ScanFolder(rootWd_, OpenFolder(rootWd_), false);
}

int ChangeNotification::ChildNamed(int parent, const char* name) const {
  for (const auto& [wd, folder] : folders_)
    if (folder.parent == parent && folder.name == name) return wd;
  return -1;
}

std::string ChangeNotification::PathOf(int wd) const {
  std::string path;
  for (auto it = folders_.find(wd); it != folders_.end() && it->second.parent != kRoot;
       it = folders_.find(it->second.parent))
    path = "/" + it->second.name + path;
  return rootPath_ + path;
}

DWORD PathError(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == EACCES) return ERROR_ACCESS_DENIED;
    if (errno != ENOENT) return ERROR_PATH_NOT_FOUND;
    const size_t slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  return S_ISDIR(st.st_mode) ? ERROR_SUCCESS : ERROR_DIRECTORY;
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace ztl::os

HANDLE FindFirstChangeNotificationW(LPCWSTR lpPathName, BOOL bWatchSubtree, DWORD dwNotifyFilter) {
  using namespace ztl::os;
  if (lpPathName == nullptr || *lpPathName == 0) return Fail(ERROR_PATH_NOT_FOUND);
  if (dwNotifyFilter == 0 || (dwNotifyFilter & ~kKnownFilters) != 0) return Fail(ERROR_INVALID_PARAMETER);
  const std::string path = ztl::unicode::Utf16ToUtf8(lpPathName);
  if (const DWORD error = PathError(path)) return Fail(error);
  // Instances waiting to be closed count against the user's limit, shared
  // by all of the user's processes: a new one waits while many are.
  constexpr size_t kMostPendingInstances = 16;
  WaitForFewerPendingCloses(kMostPendingInstances);
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 && errno == EMFILE) {
    FinishPendingCloses();  // closed notifications may still hold instances
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  if (fd < 0) return Fail(errno == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : Win32ErrorFromErrno(errno));
  auto notification = std::make_shared<ChangeNotification>(fd, bWatchSubtree != FALSE, dwNotifyFilter);
  if (const DWORD error = notification->Watch(path)) return Fail(error);
  HANDLE handle = InsertHandle(std::move(notification));
  return handle ? handle : INVALID_HANDLE_VALUE;
}

BOOL FindNextChangeNotification(HANDLE hChangeHandle) {
  auto notification = ztl::os::ReferenceHandleAs<ztl::os::ChangeNotification>(hChangeHandle);
  if (!notification) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  notification->Rearm();
  return TRUE;
}

BOOL FindCloseChangeNotification(HANDLE hChangeHandle) {
  if (!ztl::os::ReferenceHandleAs<ztl::os::ChangeNotification>(hChangeHandle) ||
      !ztl::os::RemoveHandle(hChangeHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
