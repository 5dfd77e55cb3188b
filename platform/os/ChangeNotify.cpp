#include <ztlogger/platform/os/ChangeNotify.h>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>

#include <ztlogger/platform/os/Descriptor.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/WatchedTree.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os {
namespace {

constexpr DWORD kKnownFilters = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                                FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;

// One notification: its filter and signal, on a tree of watched folders it
// may share with others. A wait polls the tree's inotify descriptor and the
// watcher's own wake descriptor together, through an epoll descriptor of its
// own: the first turns readable for changes nobody has read yet, the second
// when another notification read a change that signals this one.
class ChangeNotification final : public KernelObject {
 public:
  ChangeNotification(DWORD filter, int wakeFd, int pollFd) : watcher_(filter, wakeFd), poll_(pollFd) {}
  ~ChangeNotification() override {
    if (tree_) tree_->Detach(watcher_);
  }
  ChangeNotification(const ChangeNotification&) = delete;
  ChangeNotification& operator=(const ChangeNotification&) = delete;

  // Starts watching; the Windows error code on failure.
  DWORD Watch(const std::string& path, bool subtree, const struct stat& folder) {
    DWORD error = ERROR_SUCCESS;
    tree_ = WatchedTree::Attach(path, subtree, folder, watcher_, error);
    if (!tree_) return error;
    for (int fd : {tree_->InotifyDescriptor(), watcher_.WakeDescriptor()}) {
      epoll_event ready{};
      ready.events = EPOLLIN;
      ready.data.fd = fd;
      if (epoll_ctl(poll_.Get(), EPOLL_CTL_ADD, fd, &ready) != 0)
        return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : Win32ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
  }

  int WaitDescriptor() const override { return poll_.Get(); }
  bool Signaled() override { return tree_->Signaled(watcher_); }
  void Rearm() { tree_->Rearm(watcher_); }

 private:
  TreeWatcher watcher_;
  Descriptor poll_;
  std::shared_ptr<WatchedTree> tree_;
};

// ERROR_SUCCESS with the folder's status in `st` when the path names a folder.
DWORD PathError(const std::string& path, struct stat& st) {
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
  struct stat folder;
  if (const DWORD error = PathError(path, folder)) return Fail(error);
  // Closed notifications may still hold descriptors: NewDescriptor waits for them.
  Descriptor wake(NewDescriptor([] { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }));
  Descriptor ready(wake.Get() < 0 ? -1 : NewDescriptor([] { return epoll_create1(EPOLL_CLOEXEC); }));
  if (ready.Get() < 0) return Fail(errno == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : Win32ErrorFromErrno(errno));
  auto notification = std::make_shared<ChangeNotification>(dwNotifyFilter, wake.Release(), ready.Release());
  if (const DWORD error = notification->Watch(path, bWatchSubtree != FALSE, folder)) return Fail(error);
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
