// Fuzz target for libFuzzer: the map reader on arbitrary file contents. It
// must neither crash nor raise on any of them.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <ztlogger/exceptionlog/ZTMapFile.h>

namespace {

// One file, rewritten for every input, in a folder removed at exit.
class TFuzzFile {
 public:
  TFuzzFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ztl-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    folder_ = pattern;
  }
  ~TFuzzFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TFuzzFile(const TFuzzFile&) = delete;
  TFuzzFile& operator=(const TFuzzFile&) = delete;

  std::string Write(const uint8_t* data, size_t size) const {
    const std::string path = folder_ + "/input.map";
    // A new file each time: truncating one makes the file system flush it.
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
    return path;
  }

 private:
  std::string folder_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TFuzzFile file;
  ztl::TZTMapFile map;
  map.SetMapFileName(file.Write(data, size));
  map.SetMapFileBase(0);
  ztl::TStringList units;
  map.LoadUnitNames(&units);
  uint32_t fromInput = 0;
  if (size >= 4) std::memcpy(&fromInput, data + size - 4, 4);
  // The same input read through a layout it may record.
  ztl::TZTMapFile seeker;
  seeker.SetMapFileName(map.MapFileName());
  seeker.SetMapFileBase(0);
  seeker.SetSeekRecordedLayout(true);
  for (uint32_t offset : {1u, 0x10u, 0x1000u, 0x7FFFFFFFu, 0xFFFFFFFFu, fromInput | 1u}) {
    for (ztl::TZTMapFile* reader : {&map, &seeker}) {
      reader->LoadExceptionData(reinterpret_cast<const void*>(uintptr_t{offset}));
      if (!reader->ExceptionAnalyzed()) std::abort();
    }
  }
  return 0;
}
