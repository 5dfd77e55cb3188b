#include <ztlogger/platform/os/Handles.h>

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include <ztlogger/platform/os/HandleTable.h>

namespace ztl::os {
namespace {

// Windows ignores the two low bits of a handle value; a handle here is the
// slot number (from 1) and a generation that changes each time the slot is
// reused, shifted past those bits, so a stale handle does not name the
// object that took its slot later.
constexpr unsigned kLowBits = 2;
constexpr unsigned kSlotBits = 20;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;
constexpr uintptr_t kGenerationMask = 0xFF;
constexpr size_t kMaxSlots = kSlotMask;  // slot numbers 1 ... kSlotMask

struct Slot {
  std::shared_ptr<KernelObject> object;
  uintptr_t generation = 0;
};

struct Table {
  std::mutex lock;
  std::vector<Slot> slots;
  std::vector<size_t> free;
  std::atomic<uint64_t> removals{0};
};

Table& Handles() {
  // Never destroyed: threads may still close handles while the process exits.
  static Table* table = new Table;
  return *table;
}

HANDLE Encode(size_t index, uintptr_t generation) {
  const uintptr_t value = ((generation << kSlotBits) | (index + 1)) << kLowBits;
  return reinterpret_cast<HANDLE>(value);
}

// The slot a handle names, or -1.
ptrdiff_t Decode(const Table& table, HANDLE handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle) >> kLowBits;
  const uintptr_t number = value & kSlotMask;
  if (number == 0 || number > table.slots.size()) return -1;
  const Slot& slot = table.slots[number - 1];
  if (!slot.object || (value >> kSlotBits) != slot.generation) return -1;
  return static_cast<ptrdiff_t>(number - 1);
}

bool IsPseudoHandle(HANDLE handle) {
  const intptr_t value = reinterpret_cast<intptr_t>(handle);
  return value == -1 || value == -2;  // the current process, the current thread
}

}  // namespace

std::mutex& WaitLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  Table& table = Handles();
  std::lock_guard guard(table.lock);
  size_t index;
  if (!table.free.empty()) {
    index = table.free.back();
    table.free.pop_back();
  } else {
    if (table.slots.size() >= kMaxSlots) {
      SetLastError(ERROR_NO_SYSTEM_RESOURCES);
      return nullptr;
    }
    index = table.slots.size();
    table.slots.emplace_back();
  }
  Slot& slot = table.slots[index];
  slot.object = std::move(object);
  return Encode(index, slot.generation);
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle) {
  Table& table = Handles();
  std::lock_guard guard(table.lock);
  const ptrdiff_t index = Decode(table, handle);
  return index < 0 ? nullptr : table.slots[static_cast<size_t>(index)].object;
}

uint64_t HandleRemovals() { return Handles().removals.load(std::memory_order_acquire); }

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;  // released outside the table's lock
  Table& table = Handles();
  std::lock_guard guard(table.lock);
  const ptrdiff_t index = Decode(table, handle);
  if (index < 0) return false;
  Slot& slot = table.slots[static_cast<size_t>(index)];
  object = std::move(slot.object);
  table.removals.fetch_add(1, std::memory_order_release);
  slot.generation = (slot.generation + 1) & kGenerationMask;
  table.free.push_back(static_cast<size_t>(index));
  return true;
}

namespace {

struct Closer {
  std::mutex lock;
  std::condition_variable pending;
  std::condition_variable done;
  std::vector<int> descriptors;
  size_t closing = 0;  // handed over and not closed yet
  bool running = false;

  void Run() {
    for (;;) {
      std::vector<int> batch;
      {
        std::unique_lock guard(lock);
        pending.wait(guard, [this] { return !descriptors.empty(); });
        batch.swap(descriptors);
      }
      // Counted down one by one: a caller waiting for room goes on at the
      // first close.
      for (int fd : batch) {
        close(fd);
        {
          std::lock_guard guard(lock);
          --closing;
        }
        done.notify_all();
      }
    }
  }
};

Closer& TheCloser() {
  // Never destroyed, its thread never ends: descriptors may be handed over
  // while the process exits.
  static Closer* closer = new Closer;
  return *closer;
}

}  // namespace

void FinishPendingCloses() { WaitForFewerPendingCloses(1); }

void WaitForFewerPendingCloses(size_t count) {
  Closer& closer = TheCloser();
  std::unique_lock guard(closer.lock);
  closer.done.wait(guard, [&] { return closer.closing < count; });
}

void CloseDescriptorLater(int fd) {
  // Never waits: what bounds the descriptors held here is the wait of those
  // who take new ones (WaitForFewerPendingCloses).
  Closer* closer = &TheCloser();
  std::lock_guard guard(closer->lock);
  if (!closer->running) {
    try {
      std::thread([closer] { closer->Run(); }).detach();
      closer->running = true;
    } catch (const std::system_error&) {
      close(fd);  // no thread to be had: closed here, slowly
      return;
    }
  }
  closer->descriptors.push_back(fd);
  ++closer->closing;
  closer->pending.notify_one();
}

}  // namespace ztl::os

BOOL CloseHandle(HANDLE hObject) {
  if (ztl::os::IsPseudoHandle(hObject)) return TRUE;
  if (!ztl::os::RemoveHandle(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
