// Prints whether the program has a GUI library loaded, then the name of the
// widget set it gets at start-up: the widget set choice tests run it with
// various environments.
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/ToolkitSanitizers.h"
#include <ztlogger/platform/forms/WidgetSet.h>

namespace {

// Whether GTK or Xlib is mapped into this process.
bool GuiLibraryLoaded() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("/libgtk-3.so") != std::string::npos || line.find("/libX11.so") != std::string::npos) return true;
  return false;
}

}  // namespace

int main() {
  const std::string name = ztl::WidgetSet().Name();
  std::printf("gui libraries: %s\n%s\n", GuiLibraryLoaded() ? "loaded" : "none", name.c_str());
  return 0;
}
