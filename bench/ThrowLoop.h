#pragma once
// The throw and catch the throw-cost benchmark times, shared word for word
// by the program built with the library and the one built without it.
#include <stdexcept>

namespace ztl::bench {

// Three frames between the throw and its handler, as an application's
// error path usually has; noinline keeps them real frames at -O2.
[[gnu::noinline]] inline void ThrowFromInnermost(int depth) {
  if (depth == 0) throw std::runtime_error("the record could not be read");
  ThrowFromInnermost(depth - 1);
}

// One throw caught by its handler; returns the message's length so the
// compiler cannot drop the handler.
[[gnu::noinline]] inline unsigned long ThrowAndCatch() {
  try {
    ThrowFromInnermost(3);
  } catch (const std::exception& e) {
    return __builtin_strlen(e.what());
  }
  return 0;
}

// Throws per timed batch, in both programs.
inline constexpr int kThrowsPerBatch = 1000;

}  // namespace ztl::bench
