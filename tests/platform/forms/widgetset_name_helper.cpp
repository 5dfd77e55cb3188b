// Prints the name of the widget set a program gets at start-up: the widget
// set choice tests run it with various environments.
#include <cstdio>

#include "platform/forms/WidgetSet.h"
#include "tests/support/ToolkitSanitizers.h"

int main() {
  std::printf("%s\n", ztl::WidgetSet().Name().c_str());
  return 0;
}
