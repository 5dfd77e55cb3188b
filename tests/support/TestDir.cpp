#include "tests/support/TestDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ztl::test {

TestDir::TestDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ztl-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
  std::filesystem::create_directories(Prefix());
  setenv("ZTL_PREFIX", Prefix().c_str(), 1);
}

TestDir::~TestDir() {
  unsetenv("ZTL_PREFIX");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

String TestDir::File(const String& name) const { return path_ + "/" + name; }

String ReadFileBytes(const String& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const String& path, const String& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace ztl::test
