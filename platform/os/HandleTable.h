#pragma once
// The services' own view of the handle table (not part of the public surface).
//
// A kernel object is waited on through a file descriptor that turns readable
// when the object may have become signalled; whether it really is, and what a
// satisfied wait does to it, the object says itself. Waits test and take the
// objects under one lock (WaitLock), so that an auto-reset object is given to
// one waiter only and a wait for all takes every object at the same moment.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

#include <ztlogger/platform/os/WinTypes.h>

namespace ztl::os {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // The descriptor that polls readable when the state may have changed.
  virtual int WaitDescriptor() const = 0;
  // Whether the object is signalled now; never blocks. Called with WaitLock
  // held.
  virtual bool Signaled() = 0;
  // What a satisfied wait does to a signalled object (an auto-reset event
  // resets). Called with WaitLock held, right after Signaled() answered true.
  virtual void Acquire() {}
};

// The lock under which waits test and take objects.
std::mutex& WaitLock();

// Enters an object in the table; nullptr (ERROR_NO_SYSTEM_RESOURCES) when the
// table is full.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// The object a handle names, or nullptr when it names none (the last error is
// not touched). The object stays alive while the caller holds it, even if the
// handle is closed meanwhile.
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle);
// The object a handle names when it is of kind T.
template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(ReferenceHandle(handle));
}
// The number of handles removed from the table so far: a lookup kept aside
// still names the same object while this number stays the same.
uint64_t HandleRemovals();
// Removes a handle from the table; the object goes when its last reference
// does. Returns false when the handle names nothing.
bool RemoveHandle(HANDLE handle);

// Closes a descriptor on a services thread of its own. Closing an inotify
// descriptor waits for the kernel's grace period (several milliseconds);
// handed over here, closing the handle that owns it returns at once.
void CloseDescriptorLater(int fd);
// Waits until every descriptor handed over is closed: for a caller that ran
// out of descriptors (or inotify instances) while some were still waiting.
void FinishPendingCloses();
// Waits until fewer than `count` descriptors handed over are still open:
// for a caller about to take a scarce one (an inotify instance, of which a
// user has a limited number across all of their processes), so that this
// process never holds more than that many beyond those in use.
void WaitForFewerPendingCloses(size_t count);
// A descriptor from `make`, tried once more when the process had none left
// and closes were still pending; -1 with errno set on failure.
template <class Make>
int NewDescriptor(Make make) {
  int fd = make();
  if (fd < 0 && errno == EMFILE) {
    FinishPendingCloses();
    fd = make();
  }
  return fd;
}

// Events for services that signal them from elsewhere (a registry change
// notification): the event a handle names, or nullptr when it names no event;
// setting and resetting it, which does nothing to an object of another kind.
// The object stays usable after its handle is closed, as on Windows.
std::shared_ptr<KernelObject> ReferenceEventObject(HANDLE handle);
void SetEventObject(KernelObject& event);
void ResetEventObject(KernelObject& event);

}  // namespace ztl::os
