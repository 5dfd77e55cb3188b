#pragma once
// The registry's change notifications: one services thread follows every
// watched key with inotify and signals the events registered on it, so that
// a caller waits on its own event only. Relies on inotify, eventfd and the
// event objects of os/Sync.h; knows keys only as folders of the store.
#include <sys/inotify.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/os/registry/Api.h>

namespace ztl::os::registry {

constexpr DWORD kKnownFilters =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

class Watch;

// The services thread that follows every watched key and signals the events
// registered on them, so that a caller waits on its own event only.
class Notifier {
 public:
  static Notifier& Instance();
  void Add(const std::shared_ptr<Watch>& watch);
  void Remove(const std::shared_ptr<Watch>& watch);

 private:
  Notifier();
  void Wake();
  void Run();

  const int wake_;
  std::mutex lock_;
  std::vector<std::shared_ptr<Watch>> watches_;
};

class Watch {
 public:
  Watch(int fd, bool subtree, DWORD filter) : fd_(fd), subtree_(subtree), filter_(filter) {}
  ~Watch() { CloseDescriptorLater(fd_); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  DWORD Start(const std::string& folder);
  int Descriptor() const { return fd_; }

  // Adds a registration: the event is signalled at the next change, or at
  // once when one happened since the last signal.
  void Register(std::shared_ptr<KernelObject> event);
  // On the services thread when the descriptor turned readable.
  void Serve();
  // The handle is closed: whoever waits is let go.
  void Close();

 private:
  static constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR;

  void SignalAll();
  void Note(DWORD kinds);
  void Drain();
  void Handle(const inotify_event& event);
  void WatchFolder(const std::string& path);
  void WatchBelow(const std::string& path);
  void UnwatchBelow(const std::string& path);

  const int fd_;
  const bool subtree_;
  const DWORD filter_;
  std::mutex lock_;
  int rootWd_ = -1;
  std::map<int, std::string> folders_;  // watch -> the key's folder
  bool changed_ = false;                // a change since the last signal
  bool closed_ = false;
  std::vector<std::shared_ptr<KernelObject>> waiters_;
};

}  // namespace ztl::os::registry
