#pragma once
// A restore that must run on every way out of a scope: the normal end, a
// return, and an exception passing through.
//
//   list->BeginUpdate();
//   ScopeExit endUpdate([&] { list->EndUpdate(); });
//
// The action runs once, when the guard is destroyed, unless Release() was
// called first (for work that is undone only when the scope fails). On a
// normal exit an exception from the action leaves the scope as the action's
// own; while an exception is already leaving the scope a second one cannot,
// and ends the program (std::terminate), so guard with it only restores that
// do not raise then.
//
// A guard belongs to the scope, and so to the thread, that made it.
#include <type_traits>
#include <utility>

namespace ztl {

template <typename F>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(F action) noexcept(std::is_nothrow_move_constructible_v<F>) : action_(std::move(action)) {}
  ~ScopeExit() noexcept(false) {
    if (active_) action_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ScopeExit(ScopeExit&&) = delete;
  ScopeExit& operator=(ScopeExit&&) = delete;

  // The action will not run.
  void Release() noexcept { active_ = false; }

 private:
  F action_;
  bool active_ = true;
};

}  // namespace ztl
