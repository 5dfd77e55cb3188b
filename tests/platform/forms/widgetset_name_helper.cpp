// Prints the name of the widget set a program gets at start-up: the widget
// set choice tests run it with various environments.
#include <cstdio>

#include "tests/support/ToolkitSanitizers.h"
#include <ztlogger/platform/forms/WidgetSet.h>

int main() {
  std::printf("%s\n", ztl::WidgetSet().Name().c_str());
  return 0;
}
