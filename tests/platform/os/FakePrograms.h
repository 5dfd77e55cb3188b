#pragma once
// Stand-ins for the desktop programs the services start (xdg-email,
// sendmail, xdg-open): shell scripts written into the test's folder, found
// first through PATH, that record their arguments and standard input there.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TestDir.h"

namespace ztl::test {

class FakePrograms {
 public:
  // With keepSystemPath false, PATH holds only the fakes' folder, so a
  // program not faked is missing.
  explicit FakePrograms(const TestDir& dir, bool keepSystemPath = true)
      : dir_(dir), bin_(dir.File("bin")), path_("PATH", bin_ + (keepSystemPath ? ":" + SystemPath() : String())) {
    mkdir(bin_.c_str(), 0755);
  }

  // A program that records its arguments (each followed by a null) in
  // <name>.args and its input in <name>.stdin, then exits with exitCode.
  void Add(const String& name, int exitCode = 0, bool readInput = false) {
    const String script = "#!/bin/sh\n"
                          "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + Record(name, "args.tmp") + "'\n" +
                          (readInput ? "/bin/cat > '" + Record(name, "stdin") + "'\n" : String()) +
                          "/bin/mv '" + Record(name, "args.tmp") + "' '" + Record(name, "args") + "'\n" +
                          "exit " + std::to_string(exitCode) + "\n";
    AddScript(name, script);
  }

  void AddScript(const String& name, const String& script) {
    const String path = bin_ + "/" + name;
    WriteFileBytes(path, script);
    chmod(path.c_str(), 0755);
  }

  bool Ran(const String& name) const { return access(Record(name, "args").c_str(), F_OK) == 0; }

  // The arguments a program got, argv[0] left out; waits up to 10 s for a
  // program that was not waited for.
  std::vector<String> Arguments(const String& name) const {
    for (int i = 0; i < 1000 && !Ran(name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<String> arguments;
    const String bytes = ReadFileBytes(Record(name, "args"));
    size_t start = 0;
    for (size_t end; (end = bytes.find('\0', start)) != String::npos; start = end + 1)
      arguments.push_back(bytes.substr(start, end - start));
    return arguments;
  }

  String Input(const String& name) const { return ReadFileBytes(Record(name, "stdin")); }
  String Record(const String& name, const String& kind) const { return dir_.File(name + "." + kind); }

 private:
  static String SystemPath() {
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/bin:/bin";
  }

  const TestDir& dir_;
  String bin_;
  ScopedEnv path_;
};

}  // namespace ztl::test
