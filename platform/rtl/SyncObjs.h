#pragma once
// Locks for the threads of one process.
#include <mutex>

#include "platform/rtl/Export.h"
#include "platform/rtl/Object.h"

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

}  // namespace ztl
