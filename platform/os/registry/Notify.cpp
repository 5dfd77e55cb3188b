// The registry's notifier thread and its watches (see Notify.h). Relies on
// inotify for the changes and on the store's layout (registry/Store.h) to
// tell keys, values and the store's own entries apart.
#include <ztlogger/platform/os/registry/Notify.h>

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <ztlogger/platform/os/Sync.h>
#include <ztlogger/platform/os/registry/Store.h>

namespace ztl::os::registry {

Notifier& Notifier::Instance() {
  // Never destroyed: the thread may still run while the process exits.
  static Notifier* notifier = new Notifier;
  return *notifier;
}

Notifier::Notifier() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  std::thread([this] { Run(); }).detach();
}

void Notifier::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t put = write(wake_, &one, sizeof one);
}

DWORD Watch::Start(const std::string& folder) {
  std::lock_guard guard(lock_);
  const int wd = inotify_add_watch(fd_, folder.c_str(), kMask | IN_DELETE_SELF | IN_MOVE_SELF);
  if (wd < 0) return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : ErrorOf(errno);
  rootWd_ = wd;
  folders_[wd] = folder;
  if (subtree_) WatchBelow(folder);
  return ERROR_SUCCESS;
}

void Watch::Register(std::shared_ptr<KernelObject> event) {
  std::lock_guard guard(lock_);
  ResetEventObject(*event);
  Drain();
  if (changed_ || closed_) {
    changed_ = false;
    SetEventObject(*event);
  } else {
    waiters_.push_back(std::move(event));
  }
}

void Watch::Serve() {
  std::lock_guard guard(lock_);
  Drain();
  if (changed_ && !waiters_.empty()) {
    changed_ = false;
    SignalAll();
  }
}

void Watch::Close() {
  std::lock_guard guard(lock_);
  closed_ = true;
  SignalAll();
}

void Watch::SignalAll() {
  for (auto& event : waiters_) SetEventObject(*event);
  waiters_.clear();
}

void Watch::Note(DWORD kinds) {
  if (kinds & filter_) changed_ = true;
}

void Watch::Drain() {
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
      Handle(event);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
}

void Watch::Handle(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) {
    Note(kKnownFilters);  // something may have been missed
    return;
  }
  if (event.mask & IN_IGNORED) {
    folders_.erase(event.wd);
    return;
  }
  if (event.len == 0) {  // a watched key itself
    if (event.wd == rootWd_ && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))) Note(kKnownFilters);
    if (event.mask & IN_ATTRIB) Note(REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_SECURITY);
    return;
  }
  const bool isKey = (event.mask & IN_ISDIR) != 0;
  if (event.name[0] == '.') {
    // The store's own entries; a key's spelling counts as its attributes.
    if (!isKey && (event.mask & IN_ATTRIB) && strcmp(event.name, ".name") == 0)
      Note(REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_SECURITY);
    return;
  }
  if (event.mask & IN_ATTRIB) Note(REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_SECURITY);
  if (!(event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO))) return;
  Note(isKey ? REG_NOTIFY_CHANGE_NAME : REG_NOTIFY_CHANGE_LAST_SET);
  if (!isKey || !subtree_) return;
  const auto parent = folders_.find(event.wd);
  if (parent == folders_.end()) return;
  const std::string path = parent->second + "/" + event.name;
  if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
    WatchFolder(path);
  } else {
    UnwatchBelow(path);
  }
}

void Watch::WatchFolder(const std::string& path) {
  const int wd = inotify_add_watch(fd_, path.c_str(), kMask);
  if (wd < 0) {
    if (errno == ENOSPC) Note(kKnownFilters);  // no more watches: changes there could be missed
    return;
  }
  folders_[wd] = path;
  WatchBelow(path);
}

void Watch::WatchBelow(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> keys;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.' && entry->d_type == DT_DIR) keys.emplace_back(entry->d_name);
  closedir(dir);
  for (const std::string& key : keys) WatchFolder(path + "/" + key);
}

void Watch::UnwatchBelow(const std::string& path) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->first != rootWd_ && (it->second == path || it->second.starts_with(path + "/"))) {
      inotify_rm_watch(fd_, it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

void Notifier::Add(const std::shared_ptr<Watch>& watch) {
  {
    std::lock_guard guard(lock_);
    if (std::find(watches_.begin(), watches_.end(), watch) != watches_.end()) return;
    watches_.push_back(watch);
  }
  Wake();
}

void Notifier::Remove(const std::shared_ptr<Watch>& watch) {
  {
    std::lock_guard guard(lock_);
    watches_.erase(std::remove(watches_.begin(), watches_.end(), watch), watches_.end());
  }
  Wake();
}

void Notifier::Run() {
  std::vector<std::shared_ptr<Watch>> current;
  std::vector<pollfd> fds;
  for (;;) {
    {
      std::lock_guard guard(lock_);
      current = watches_;  // held through the round: no descriptor closes while polled
    }
    fds.assign(1, pollfd{wake_, POLLIN, 0});
    for (const auto& watch : current) fds.push_back(pollfd{watch->Descriptor(), POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t got = read(wake_, &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents) current[i - 1]->Serve();
    current.clear();
  }
}

}  // namespace ztl::os::registry
