#pragma once
// A temporary folder of one test, with its own platform prefix.
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::test {

// Creates a fresh folder below the system's temporary folder and points
// ZTL_PREFIX at a "prefix" folder inside it; removes everything on destruction.
class TestDir {
 public:
  TestDir();
  ~TestDir();
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  const String& Path() const { return path_; }
  // Path() + "/" + name.
  String File(const String& name) const;
  String Prefix() const { return File("prefix"); }

 private:
  String path_;
};

// The bytes of a file, or an empty string when it cannot be read.
String ReadFileBytes(const String& path);
void WriteFileBytes(const String& path, const String& bytes);

}  // namespace ztl::test
