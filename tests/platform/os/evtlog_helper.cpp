// A writer or a reader of the event log in a process of its own, for the
// log's reliability test (ZTL_PREFIX names the prefix).
//   evtlog_helper write ID COUNT   reports COUNT entries "ID:i" under source
//                                  "Stress", printing i after each one the
//                                  log took
//   evtlog_helper read STOPFILE    reads the Application log over and over
//                                  until STOPFILE exists, checking every
//                                  record whole; exit 3 at a torn one
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ztlogger/platform/os/eventlog/Api.h>

namespace {

int Write(const std::string& id, long count) {
  HANDLE h = RegisterEventSourceW(nullptr, u"Stress");
  if (!h) {
    std::fprintf(stderr, "RegisterEventSourceW failed: %u\n", GetLastError());
    return 1;
  }
  for (long i = 0; i < count; ++i) {
    const std::string text = id + ":" + std::to_string(i);
    const std::u16string wide(text.begin(), text.end());
    LPCWSTR strings[] = {wide.c_str()};
    if (!ReportEventW(h, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr)) {
      std::fprintf(stderr, "ReportEventW failed: %u\n", GetLastError());
      return 1;
    }
    const std::string line = std::to_string(i) + "\n";
    if (::write(1, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
  }
  DeregisterEventSource(h);
  return 0;
}

// A record's faults, empty when it is whole.
std::string Check(const BYTE* bytes, DWORD size, DWORD expectedNumber) {
  EVENTLOGRECORD head;
  if (size < sizeof head) return "short record";
  std::memcpy(&head, bytes, sizeof head);
  DWORD trailing;
  std::memcpy(&trailing, bytes + size - 4, 4);
  if (head.Length != size || trailing != size || size % 4 != 0) return "lengths differ";
  if (head.Reserved != ELF_LOG_SIGNATURE) return "no signature";
  if (expectedNumber && head.RecordNumber != expectedNumber) return "record number skipped";
  if (head.NumStrings != 1 || head.StringOffset >= size) return "strings missing";
  std::string text;
  for (DWORD at = head.StringOffset; at + 1 < size && bytes[at]; at += 2) text += static_cast<char>(bytes[at]);
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return "string torn: " + text;
  return "";
}

int Read(const char* stopFile) {
  std::vector<BYTE> buffer(0x10000);
  while (::access(stopFile, F_OK) != 0) {
    HANDLE h = OpenEventLogW(nullptr, u"Application");
    if (!h) return 1;
    DWORD expected = 0, read = 0, needed = 0;
    while (ReadEventLogW(h, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &read, &needed)) {
      for (DWORD at = 0; at < read;) {
        DWORD length;
        std::memcpy(&length, buffer.data() + at, 4);
        if (length == 0 || length > read - at) return 3;
        const std::string fault = Check(buffer.data() + at, length, expected);
        if (!fault.empty()) {
          std::fprintf(stderr, "%s\n", fault.c_str());
          return 3;
        }
        EVENTLOGRECORD head;
        std::memcpy(&head, buffer.data() + at, sizeof head);
        expected = head.RecordNumber + 1;
        at += length;
      }
    }
    const DWORD error = GetLastError();
    CloseEventLog(h);
    if (error != ERROR_HANDLE_EOF) {
      std::fprintf(stderr, "ReadEventLogW failed: %u\n", error);
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) return Write(argv[2], std::atol(argv[3]));
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) return Read(argv[2]);
  return 2;
}
