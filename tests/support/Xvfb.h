#pragma once
// A virtual X server for a test or a benchmark: Xvfb on a free display
// number (it picks one itself and writes it on its standard output once it
// accepts clients), with a black root window of the given size that keeps
// what was drawn when a client leaves (-noreset). DISPLAY points at it while
// it runs. Started through the harness's ChildProcess; main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnv.h"

namespace ztl::test {

class Xvfb {
 public:
  Xvfb(int width, int height);
  // Ends the server; DISPLAY gets its old value back.
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  bool Running() const { return !display_.empty(); }
  // ":<number>"; empty when the server did not start.
  std::string Display() const { return Running() ? ":" + display_ : std::string(); }

  struct TFill {
    int X, Y, Width, Height;
    int Red, Green, Blue;
  };

  // Draws the rectangles on the root window of $DISPLAY and waits until the
  // server has; false when no display can be opened.
  static bool Draw(const std::vector<TFill>& fills);

 private:
  std::unique_ptr<ChildProcess> server_;
  std::string display_;
  std::optional<ScopedEnv> env_;
};

}  // namespace ztl::test
