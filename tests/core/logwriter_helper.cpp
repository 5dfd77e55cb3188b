// Appends numbered values to one log, as one of several processes sharing it.
// Usage: logwriter_helper <log file> <text|xml> <writer id> <count> [start file]
// With a start file, the writer waits until that file exists, so that all
// writers begin together. Each value is "w<id>-<n>" padded to a fixed width; the text form ends each
// with CR LF. Exits 0 when every write succeeded.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/SysUtils.h>

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s <log file> <text|xml> <writer id> <count> [start file]\n", argv[0]);
    return 2;
  }
  if (argc == 6) {
    for (int waited = 0; !ztl::FileExists(argv[5]); ++waited) {
      if (waited == 10000) return 3;  // ten seconds: the test is gone
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  bool xml = ztl::String(argv[2]) == "xml";
  int id = std::atoi(argv[3]);
  int count = std::atoi(argv[4]);
  try {
    ztl::TZTLogBase log(nullptr);
    // The form first: its setter rewrites the extension of LogFile.
    ztl::SetEnumProp(&log, "Formatting", xml ? "ztlfXML" : "ztlfText");
    log.SetLogFile(argv[1]);
    for (int n = 0; n < count; ++n) {
      char value[96];
      std::snprintf(value, sizeof value, "w%d-%05d-%s%s", id, n, "0123456789abcdefghijklmnopqrstuvwxyz",
                    xml ? "" : "\r\n");
      log.WriteAsString("V", value);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "writer %d: %s\n", id, error.what());
    return 1;
  }
  return 0;
}
