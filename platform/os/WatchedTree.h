#pragma once
// The folders a change notification watches, shared by every notification on
// the same folder with the same subtree flag (not installed): one inotify
// instance, one walk of the tree, the sizes and last-write times of the
// entries once some notification needs them. Each notification keeps only its
// filter and whether it is signalled, in a TreeWatcher.
//
// Draining the shared inotify queue on behalf of one notification may signal
// the others. A watcher's wake descriptor (an eventfd) is readable exactly
// while it is signalled, so a thread that found its notification idle and
// then polls both the inotify descriptor and its own wake descriptor cannot
// miss a change another thread read first.
//
// Any thread: a tree takes its own lock; the table of trees takes another,
// always before a tree's.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ztlogger/platform/os/Descriptor.h>
#include <ztlogger/platform/os/WinTypes.h>

namespace ztl::os {

class WatchedTree;

// What one notification keeps of its own. Its state is changed only under the
// lock of the tree it watches.
class TreeWatcher {
 public:
  // Takes the eventfd that is readable while the watcher is signalled.
  TreeWatcher(DWORD filter, int wakeFd) : filter_(filter), wake_(wakeFd) {}
  TreeWatcher(const TreeWatcher&) = delete;
  TreeWatcher& operator=(const TreeWatcher&) = delete;

  DWORD Filter() const { return filter_; }
  int WakeDescriptor() const { return wake_.Get(); }
  bool Signaled() const { return signaled_; }
  // Signals the watcher when one of the kinds is in its filter.
  void Note(DWORD kinds);
  void Clear();

 private:
  const DWORD filter_;
  Descriptor wake_;
  bool signaled_ = false;
};

class WatchedTree {
 public:
  ~WatchedTree();
  WatchedTree(const WatchedTree&) = delete;
  WatchedTree& operator=(const WatchedTree&) = delete;

  // Attaches the watcher to the live tree of the folder (whose status the
  // caller has read) and flag, or to a new one, which walks the folders.
  // Nothing already queued signals the watcher. Fails with the Windows error
  // code (the tree is then null).
  static std::shared_ptr<WatchedTree> Attach(const std::string& path, bool subtree, const struct stat& folder,
                                             TreeWatcher& watcher, DWORD& error);
  // Must be called before the watcher goes.
  void Detach(TreeWatcher& watcher);

  int InotifyDescriptor() const { return fd_; }
  // Reads what is queued, then answers whether the watcher is signalled.
  bool Signaled(TreeWatcher& watcher);
  // Clears the watcher's signal, then reads what is queued: changes made since
  // the signal signal it again at once.
  void Rearm(TreeWatcher& watcher);

 private:
  struct Folder {
    int parent;  // kRoot for the watched folder, kDetached while moved or deleted
    std::string name;
  };
  struct Entry {
    timespec lastWrite;
    off_t size;
  };
  static constexpr int kRoot = -1;
  static constexpr int kDetached = -2;

  WatchedTree(int fd, bool subtree, const std::string& path);

  DWORD Watch(TreeWatcher& first);
  bool Join(TreeWatcher& watcher, const struct stat& folder);
  void AddMask(uint32_t mask);
  void FillEntries();
  void Note(DWORD kinds);
  void Drain();
  void Handle(const inotify_event& event);
  void FollowFolders(const inotify_event& event);
  void FollowEntry(const inotify_event& event);
  void WatchTree(int parent, int parentFd, const std::string& name, bool contentsAreNew);
  void ScanFolder(int wd, int folderFd, bool contentsAreNew);
  int OpenFolder(int wd) const;
  int AddWatchBelow(int wd, uint32_t mask);
  bool StatEntry(int wd, const char* name, struct stat& st) const;
  void Missed(int error);
  void Unwatch(int wd);
  void Forget(int wd);
  void Rewatch();
  int ChildNamed(int parent, const char* name) const;
  std::string PathOf(int wd) const;

  const int fd_;
  const bool subtree_;
  const std::string rootPath_;
  dev_t rootDevice_ = 0;
  ino_t rootInode_ = 0;

  std::mutex lock_;
  int rootWd_ = -1;
  uint32_t mask_ = 0;           // what the watchers' filters need, on every folder
  bool tracksEntries_ = false;  // keeps the sizes and last-write times of the entries
  bool quotaExceeded_ = false;
  bool rootMoved_ = false;  // paths below the watched folder are then out of date
  std::vector<TreeWatcher*> watchers_;
  std::map<int, Folder> folders_;
  std::map<uint32_t, int> movedAway_;  // rename cookie -> folder, until the other half is seen
  std::map<std::pair<int, std::string>, Entry> entries_;  // by folder and name
};

}  // namespace ztl::os
