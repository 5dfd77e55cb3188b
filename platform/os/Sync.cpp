#include <ztlogger/platform/os/Sync.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <ztlogger/platform/os/HandleTable.h>

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->Mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->Mutex); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return pthread_mutex_trylock(&section->Mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(&section->Mutex); }

void DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(&section->Mutex); }

// Events and waits.

namespace ztl::os {
namespace {

class EventObject final : public KernelObject {
 public:
  EventObject(int fd, bool manualReset) : fd_(fd), manualReset_(manualReset) {}
  ~EventObject() override { close(fd_); }
  EventObject(const EventObject&) = delete;
  EventObject& operator=(const EventObject&) = delete;

  int WaitDescriptor() const override { return fd_; }
  bool Signaled() override {
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
  }
  void Acquire() override {
    if (!manualReset_) Reset();
  }
  void Set() {
    const uint64_t one = 1;
    // Fails only when the counter is at its limit: signalled all the same.
    [[maybe_unused]] ssize_t written = write(fd_, &one, sizeof one);
  }
  void Reset() {
    uint64_t count;
    [[maybe_unused]] ssize_t got = read(fd_, &count, sizeof count);  // EAGAIN: not signalled
  }

 private:
  int fd_;
  bool manualReset_;
};

// Named events of the process, by name.
struct EventNames {
  std::mutex lock;
  std::map<std::u16string, std::weak_ptr<EventObject>> events;
};

EventNames& NamedEvents() {
  static EventNames* names = new EventNames;
  return *names;
}

std::shared_ptr<EventObject> NewEvent(bool manualReset, bool initialState) {
  const int fd = eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  return std::make_shared<EventObject>(fd, manualReset);
}

// The key a name is kept under, or false with the last error set.
bool EventKey(LPCWSTR name, std::u16string& key) {
  key = name;
  if (key.size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (key.starts_with(u"Local\\")) key.erase(0, 6);
  const size_t rest = key.starts_with(u"Global\\") ? 7 : 0;
  if (key.find(u'\\', rest) != std::u16string::npos) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

std::shared_ptr<EventObject> ReferenceEvent(HANDLE handle) {
  auto event = ReferenceHandleAs<EventObject>(handle);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, as poll takes them (-1: no limit).
int PollTimeout(bool infinite, Clock::time_point deadline) {
  if (infinite) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, std::numeric_limits<int>::max()));
}

// Tests the objects and takes what the wait asks for. Returns the index of the
// object taken (0 for wait-all), or -1 with `idle` holding the descriptors of
// the objects whose change may end the wait.
int TryTake(const std::vector<std::shared_ptr<KernelObject>>& objects, bool all, std::vector<pollfd>& idle) {
  std::lock_guard guard(WaitLock());
  idle.clear();
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->Signaled()) {
      if (!all) {
        // The lowest index signalled, as Windows answers: testing one
        // object may have signalled an earlier one meanwhile (notifications
        // of one folder share what they read).
        size_t lowest = 0;
        while (lowest < i && !objects[lowest]->Signaled()) ++lowest;
        objects[lowest]->Acquire();
        return static_cast<int>(lowest);
      }
    } else {
      idle.push_back({objects[i]->WaitDescriptor(), POLLIN, 0});
    }
  }
  if (all && idle.empty()) {
    for (const auto& object : objects) object->Acquire();
    return 0;
  }
  return -1;
}

DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool all, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto object = ReferenceHandle(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (std::find(objects.begin(), objects.end(), object) != objects.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  const bool infinite = milliseconds == INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : milliseconds);
  std::vector<pollfd> idle;
  for (;;) {
    const int taken = TryTake(objects, all, idle);
    if (taken >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(taken);
    const int timeout = PollTimeout(infinite, deadline);
    if (timeout == 0) return WAIT_TIMEOUT;
    if (poll(idle.data(), idle.size(), timeout) < 0 && errno != EINTR) {
      SetLastError(Win32ErrorFromErrno(errno));
      return WAIT_FAILED;
    }
  }
}

}  // namespace

std::shared_ptr<KernelObject> ReferenceEventObject(HANDLE handle) { return ReferenceHandleAs<EventObject>(handle); }

void SetEventObject(KernelObject& event) {
  if (auto* known = dynamic_cast<EventObject*>(&event)) known->Set();
}

void ResetEventObject(KernelObject& event) {
  if (auto* known = dynamic_cast<EventObject*>(&event)) known->Reset();
}

}  // namespace ztl::os

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  using namespace ztl::os;
  if (lpName == nullptr) {
    auto event = NewEvent(bManualReset != FALSE, bInitialState != FALSE);
    if (!event) return nullptr;
    HANDLE handle = InsertHandle(std::move(event));
    if (handle) SetLastError(ERROR_SUCCESS);
    return handle;
  }
  std::u16string key;
  if (!EventKey(lpName, key)) return nullptr;
  EventNames& names = NamedEvents();
  std::lock_guard guard(names.lock);
  std::erase_if(names.events, [](const auto& entry) { return entry.second.expired(); });
  auto& slot = names.events[key];
  std::shared_ptr<EventObject> event = slot.lock();
  const bool existed = event != nullptr;
  if (!existed) {
    event = NewEvent(bManualReset != FALSE, bInitialState != FALSE);
    if (!event) return nullptr;
    slot = event;
  }
  HANDLE handle = InsertHandle(std::move(event));
  if (handle) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL SetEvent(HANDLE hEvent) {
  auto event = ztl::os::ReferenceEvent(hEvent);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto event = ztl::os::ReferenceEvent(hEvent);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return ztl::os::WaitForObjects(1, &hHandle, false, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return ztl::os::WaitForObjects(nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds);
}
