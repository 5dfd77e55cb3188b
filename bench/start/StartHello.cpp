// The floor of the start-time benchmark: a C++ hello world.
#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--to-main") return 0;
  std::cout << "hello, world\n";
}
