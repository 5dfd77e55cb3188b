#pragma once
// What the benchmarks share: a scratch folder of their own under the system's
// temporary folder, removed when the run ends.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace ztl::bench {

class ScratchDir {
 public:
  // With asPrefix, the folder is also the run's platform prefix (ZTL_PREFIX),
  // so the registry and the event log the benchmark uses are its own.
  explicit ScratchDir(bool asPrefix = false) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ztl-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
    if (asPrefix) setenv("ZTL_PREFIX", path_.c_str(), 1);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  // A file of the folder, removed if an earlier run left it, so that every
  // run starts from the same state.
  std::string FreshFile(const std::string& name) const {
    const std::string path = path_ + "/" + name;
    ::unlink(path.c_str());
    return path;
  }

 private:
  std::string path_;
};

}  // namespace ztl::bench
