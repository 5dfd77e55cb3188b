// The application's message queue (see MessageQueue.h). Relies on the
// event objects of os/Sync.h and on the run-time library's error raising.
#include <ztlogger/platform/forms/MessageQueue.h>

#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Sync.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>

namespace ztl::forms {

MessageQueue::MessageQueue() {
  HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!handle) RaiseLastOSError();
  wake = os::ReferenceEventObject(handle);
  CloseHandle(handle);  // the object stays with the reference
}

namespace {

void WakeLoop(MessageQueue& q) {
  // Sequentially consistent with the waiter's store: either it sees the new
  // entry when it looks, or this sees it waiting.
  if (q.loopWaiting.load()) os::SetEventObject(*q.wake);
}

}  // namespace

MessageQueue& Queue() {
  static MessageQueue* queue = new MessageQueue;
  return *queue;
}

void Push(QueueEntry entry) {
  MessageQueue& q = Queue();
  {
    std::lock_guard guard(q.lock);
    q.entries.push_back(std::move(entry));
  }
  q.cv.notify_all();
  WakeLoop(q);
}

bool Pop(QueueEntry& entry) {
  MessageQueue& q = Queue();
  std::lock_guard guard(q.lock);
  if (q.entries.empty()) return false;
  entry = std::move(q.entries.front());
  q.entries.pop_front();
  return true;
}

void WakeQueue() {
  MessageQueue& q = Queue();
  { std::lock_guard guard(q.lock); }
  q.cv.notify_all();
  WakeLoop(q);
}

}  // namespace ztl::forms
