#pragma once
// The application's message queue: posted messages and queued calls, in
// order, with the wake-up that lets workers end the main thread's wait,
// whether it waits on the queue's condition or in a widget set's own event
// loop. Relies on os/Sync.h for the wake-up event. Internal to the platform
// library.
//
// Any thread may post and wake; the main thread takes the entries.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include <ztlogger/platform/forms/Messages.h>

namespace ztl::os {
class KernelObject;
}  // namespace ztl::os

namespace ztl::forms {

struct QueueEntry {
  TMsg msg;
  std::function<void()> call;
};

// The application's queue: process-wide, so workers can post and wake it
// whatever becomes of the application object.
// A widget set with an event loop of its own waits there, on the wake-up
// event among its descriptors; the event is set only while such a wait is on,
// so the headless loop pays nothing for it.
struct MessageQueue {
  MessageQueue();
  std::mutex lock;
  std::condition_variable cv;
  std::deque<QueueEntry> entries;
  std::shared_ptr<os::KernelObject> wake;
  std::atomic<bool> loopWaiting{false};
};

// The process's queue, never destroyed.
MessageQueue& Queue();
// Adds an entry and wakes the waiting main thread.
void Push(QueueEntry entry);
// Takes the oldest entry; false when there is none.
bool Pop(QueueEntry& entry);
// Wakes the waiting main thread without an entry.
void WakeQueue();

}  // namespace ztl::forms
