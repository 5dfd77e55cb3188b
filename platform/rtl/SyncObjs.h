#pragma once
// Locks and events for the threads of one process.
// Any thread: that is what they are for.
#include <cstdint>
#include <mutex>

#include <ztlogger/platform/os/WinNames.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

// A reentrant lock: the thread that holds it may enter again and must leave as
// often as it entered.
class ZTL_PLATFORM_API TCriticalSection : public TObject {
  ZTL_DECLARE_CLASS(TCriticalSection, TObject)

 public:
  TCriticalSection();
  ~TCriticalSection() override;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Acquire();
  void Release();
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  // Enters when no other thread holds the lock; never waits.
  bool TryEnter();

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for the lifetime of the guard.
class ZTL_PLATFORM_API TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TCriticalSection& section) : section_(section) { section_.Acquire(); }
  ~TCriticalSectionGuard() { section_.Release(); }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

 private:
  TCriticalSection& section_;
};

enum TWaitResult : uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An unnamed event object of the system, closed with its owner. Its Handle
// joins the system's waits on several objects at once.
class ZTL_PLATFORM_API TEvent : public TObject {
  ZTL_DECLARE_CLASS(TEvent, TObject)

 public:
  // Raises EOSError when the system cannot make one.
  explicit TEvent(bool ManualReset = true, bool InitialState = false);
  ~TEvent() override;
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits up to Timeout milliseconds (0xFFFFFFFF: for ever).
  TWaitResult WaitFor(uint32_t Timeout);
  HANDLE Handle() const { return FHandle; }

 private:
  HANDLE FHandle;
};

}  // namespace ztl
