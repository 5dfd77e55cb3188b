// Appends numbered values to one log, as one of several processes sharing it.
// Usage: logwriter_helper <log file> <text|xml> <writer id> <count>
// Each value is "w<id>-<n>" padded to a fixed width; the text form ends each
// with CR LF. Exits 0 when every write succeeded.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "core/LogBase.h"
#include "platform/classes/TypInfo.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <log file> <text|xml> <writer id> <count>\n", argv[0]);
    return 2;
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
