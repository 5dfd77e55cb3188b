#include <ztlogger/platform/os/WatchedTree.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <ztlogger/platform/os/ChangeNotify.h>
#include <ztlogger/platform/os/HandleTable.h>

namespace ztl::os {
namespace {

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

// Size and last-write changes are told apart from other changes by the
// entries' sizes and times.
bool NeedsEntries(DWORD filter) { return (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)) != 0; }

// What every watch of a subtree also needs, to follow its folders.
constexpr uint32_t kTreeMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW;

// The kinds of change an entry's event stands for.
DWORD NameChange(uint32_t mask) {
  DWORD kinds = (mask & IN_ISDIR) ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
  if (mask & (IN_CREATE | IN_MOVED_TO)) kinds |= FILE_NOTIFY_CHANGE_CREATION;
  return kinds;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Calls visit(name, isFolder, status) for each entry of a folder open as
// folderFd (left open). The status is read only when `withStatus` or when the
// folder does not say an entry's type; an entry gone meanwhile is left out.
// False (errno set) when the folder cannot be read.
template <class Visit>
bool ListFolder(int folderFd, bool withStatus, Visit visit) {
  const int listed = dup(folderFd);
  DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
  if (dir == nullptr) {
    const int error = errno;
    if (listed >= 0) close(listed);
    errno = error;
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    struct stat st;
    const bool needStatus = withStatus || entry->d_type == DT_UNKNOWN;
    if (needStatus && fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    visit(entry->d_name, needStatus ? S_ISDIR(st.st_mode) : entry->d_type == DT_DIR, needStatus ? &st : nullptr);
  }
  closedir(dir);
  return true;
}

// The live trees, by folder and subtree flag.
struct TreeTable {
  std::mutex lock;
  std::map<std::pair<std::string, bool>, std::weak_ptr<WatchedTree>> trees;
};

TreeTable& Trees() {
  static TreeTable* table = new TreeTable;
  return *table;
}

}  // namespace

void TreeWatcher::Note(DWORD kinds) {
  if (signaled_ || (kinds & filter_) == 0) return;
  signaled_ = true;
  const uint64_t one = 1;
  // Fails only when the counter is at its limit: readable all the same.
  [[maybe_unused]] ssize_t written = write(wake_.Get(), &one, sizeof one);
}

void TreeWatcher::Clear() {
  if (!signaled_) return;
  signaled_ = false;
  uint64_t count;
  [[maybe_unused]] ssize_t got = read(wake_.Get(), &count, sizeof count);
}

WatchedTree::WatchedTree(int fd, bool subtree, const std::string& path) : fd_(fd), subtree_(subtree), rootPath_(path) {}

WatchedTree::~WatchedTree() { CloseDescriptorLater(fd_); }

std::shared_ptr<WatchedTree> WatchedTree::Attach(const std::string& path, bool subtree, const struct stat& folder,
                                                 TreeWatcher& watcher, DWORD& error) {
  TreeTable& table = Trees();
  std::lock_guard guard(table.lock);
  std::erase_if(table.trees, [](const auto& entry) { return entry.second.expired(); });
  auto& slot = table.trees[{path, subtree}];
  if (std::shared_ptr<WatchedTree> tree = slot.lock(); tree && tree->Join(watcher, folder)) return tree;
  // Instances waiting to be closed count against the user's limit, shared
  // by all of the user's processes: a new one waits while many are.
  constexpr size_t kMostPendingInstances = 16;
  WaitForFewerPendingCloses(kMostPendingInstances);
  const int fd = NewDescriptor([] { return inotify_init1(IN_NONBLOCK | IN_CLOEXEC); });
  if (fd < 0) {
    error = errno == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : Win32ErrorFromErrno(errno);
    return nullptr;
  }
  std::shared_ptr<WatchedTree> tree(new WatchedTree(fd, subtree, path));
  tree->rootDevice_ = folder.st_dev;
  tree->rootInode_ = folder.st_ino;
  error = tree->Watch(watcher);
  if (error != ERROR_SUCCESS) return nullptr;
  slot = tree;
  return tree;
}

void WatchedTree::Detach(TreeWatcher& watcher) {
  std::lock_guard guard(lock_);
  std::erase(watchers_, &watcher);
}

bool WatchedTree::Signaled(TreeWatcher& watcher) {
  std::lock_guard guard(lock_);
  Drain();
  return watcher.Signaled();
}

void WatchedTree::Rearm(TreeWatcher& watcher) {
  std::lock_guard guard(lock_);
  watcher.Clear();
  Drain();
}

DWORD WatchedTree::Watch(TreeWatcher& first) {
  // No descriptor of the folder is kept open: the system reports the
  // deletion of a folder only once nothing holds it.
  std::lock_guard guard(lock_);
  watchers_.push_back(&first);
  mask_ = InotifyMask(first.Filter());
  tracksEntries_ = NeedsEntries(first.Filter());
  rootWd_ = inotify_add_watch(
      fd_, rootPath_.c_str(),
      mask_ | (subtree_ ? kTreeMask & ~IN_DONT_FOLLOW : 0) | IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF);
  if (rootWd_ < 0) return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : Win32ErrorFromErrno(errno);
  folders_[rootWd_] = {kRoot, {}};
  if (subtree_ || tracksEntries_) ScanFolder(rootWd_, OpenFolder(rootWd_), false);
  return quotaExceeded_ ? ERROR_NOT_ENOUGH_QUOTA : ERROR_SUCCESS;
}

// Joins a watcher to the tree unless the tree no longer stands for the
// folder: its watch ended, it moved, it is another folder now, or the system
// refused some of its watches. What is queued before is read first, so that
// it does not signal the newcomer.
bool WatchedTree::Join(TreeWatcher& watcher, const struct stat& folder) {
  std::lock_guard guard(lock_);
  Drain();
  if (rootWd_ < 0 || rootMoved_ || quotaExceeded_ || folder.st_dev != rootDevice_ || folder.st_ino != rootInode_)
    return false;
  watchers_.push_back(&watcher);
  if (const uint32_t missing = InotifyMask(watcher.Filter()) & ~mask_) AddMask(missing);
  if (NeedsEntries(watcher.Filter()) && !tracksEntries_) FillEntries();
  return true;
}

// Adds events to the watch of every folder already watched, without reading
// any folder.
void WatchedTree::AddMask(uint32_t mask) {
  mask_ |= mask;
  for (const auto& [wd, folder] : folders_) {
    if (folder.parent == kDetached) continue;
    const int got = wd == rootWd_ ? inotify_add_watch(fd_, rootPath_.c_str(), mask | IN_MASK_ADD | IN_ONLYDIR)
                                  : AddWatchBelow(wd, mask | IN_MASK_ADD | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (got < 0) {
      Missed(errno);
    } else if (got != wd) {
      // Its path leads to another folder now: that one is no concern of the
      // tree's, and what happens in this one could be missed.
      if (!folders_.contains(got)) inotify_rm_watch(fd_, got);
      Note(kEverything);
    }
  }
}

// Keeps the sizes and last-write times of the entries of every folder
// watched, from now on.
void WatchedTree::FillEntries() {
  tracksEntries_ = true;
  for (const auto& [wd, folder] : folders_) {
    if (folder.parent == kDetached) continue;
    const int folderFd = OpenFolder(wd);
    const int id = wd;
    const bool read = folderFd >= 0 && ListFolder(folderFd, true, [&](const char* name, bool, const struct stat* st) {
      entries_[{id, name}] = {st->st_mtim, st->st_size};
    });
    if (!read) Missed(errno);
    if (folderFd >= 0) close(folderFd);
  }
}

void WatchedTree::Note(DWORD kinds) {
  for (TreeWatcher* watcher : watchers_) watcher->Note(kinds);
}

void WatchedTree::Drain() {
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

void WatchedTree::Handle(const inotify_event& event) {
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
void WatchedTree::FollowEntry(const inotify_event& event) {
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
void WatchedTree::FollowFolders(const inotify_event& event) {
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
void WatchedTree::WatchTree(int parent, int parentFd, const std::string& name, bool contentsAreNew) {
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
void WatchedTree::Missed(int error) {
  if (error == ENOSPC || error == ENOMEM) {
    quotaExceeded_ = true;
    Note(kEverything);
  } else if ((error != ENOENT && error != ENOTDIR && error != EACCES && error != ELOOP) || rootMoved_) {
    Note(kEverything);  // its path is unknown or unusable: what happens in it could be missed
  }
}

// Scans a folder open as folderFd (closed here).
void WatchedTree::ScanFolder(int wd, int folderFd, bool contentsAreNew) {
  if (folderFd < 0) return Missed(errno);
  std::vector<std::string> subfolders;
  const bool read = ListFolder(folderFd, tracksEntries_ || contentsAreNew,
                               [&](const char* name, bool isFolder, const struct stat* st) {
                                 if (isFolder && subtree_) subfolders.emplace_back(name);
                                 if (tracksEntries_) entries_[{wd, name}] = {st->st_mtim, st->st_size};
                                 if (contentsAreNew) {
                                   Note(NameChange(IN_CREATE | (isFolder ? IN_ISDIR : 0)));
                                   if (!isFolder && st->st_size > 0)
                                     Note(FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
                                 }
                               });
  if (!read) Missed(errno);
  for (const std::string& name : subfolders) WatchTree(wd, folderFd, name, contentsAreNew);
  close(folderFd);
}

// A descriptor of a watched folder, opened name by name from the watched
// folder down when its path is too long to be opened at once; -1 (errno
// set) when it cannot be opened.
int WatchedTree::OpenFolder(int wd) const {
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

// Adds to the watch of a folder below the watched one, by its path, or by its
// parent's descriptor when the path is too long; its descriptor, or -1 (errno
// set).
int WatchedTree::AddWatchBelow(int wd, uint32_t mask) {
  const std::string path = PathOf(wd);
  if (path.size() < PATH_MAX) return inotify_add_watch(fd_, path.c_str(), mask);
  const Folder& folder = folders_.at(wd);
  const int parentFd = OpenFolder(folder.parent);
  if (parentFd < 0) return -1;
  const std::string shortPath = "/proc/self/fd/" + std::to_string(parentFd) + "/" + folder.name;
  const int got = inotify_add_watch(fd_, shortPath.c_str(), mask);
  const int error = errno;
  close(parentFd);
  errno = error;
  return got;
}

// The status of an entry of a watched folder; false when it cannot be had.
bool WatchedTree::StatEntry(int wd, const char* name, struct stat& st) const {
  const std::string path = PathOf(wd) + "/" + name;
  if (path.size() < PATH_MAX) return stat(path.c_str(), &st) == 0;
  const int folder = OpenFolder(wd);
  if (folder < 0) return false;
  const bool found = fstatat(folder, name, &st, 0) == 0;
  close(folder);
  return found;
}

// Stops watching a folder and everything below it.
void WatchedTree::Unwatch(int wd) {
  std::vector<int> below;
  for (const auto& [child, folder] : folders_)
    if (folder.parent == wd) below.push_back(child);
  for (int child : below) Unwatch(child);
  inotify_rm_watch(fd_, wd);
  Forget(wd);
}

void WatchedTree::Forget(int wd) {
  folders_.erase(wd);
  entries_.erase(entries_.lower_bound({wd, {}}), entries_.lower_bound({wd + 1, {}}));
}

// After an overflow the tree may have changed unseen: watch it afresh.
void WatchedTree::Rewatch() {
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

int WatchedTree::ChildNamed(int parent, const char* name) const {
  for (const auto& [wd, folder] : folders_)
    if (folder.parent == parent && folder.name == name) return wd;
  return -1;
}

std::string WatchedTree::PathOf(int wd) const {
  std::string path;
  for (auto it = folders_.find(wd); it != folders_.end() && it->second.parent != kRoot;
       it = folders_.find(it->second.parent))
    path = "/" + it->second.name + path;
  return rootPath_ + path;
}

}  // namespace ztl::os
