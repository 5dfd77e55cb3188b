// The RFC 5424 writer and the local datagram socket. Relies on the C
// library's local time for the offset and on AF_UNIX datagram sockets.
#include <ztlogger/platform/os/eventlog/Syslog.h>
#include <ztlogger/platform/os/Descriptor.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace ztl::os {

namespace {

constexpr size_t kMaxHostName = 255;
constexpr size_t kMaxAppName = 48;
constexpr size_t kMaxProcId = 128;
constexpr size_t kMaxMsgId = 32;
constexpr size_t kMaxSdName = 32;

bool PrintableAscii(unsigned char c) { return c >= 33 && c <= 126; }

// A header field: printable US-ASCII (anything else becomes '_'), at most
// limit characters, "-" when empty.
String HeaderField(std::string_view text, size_t limit, bool sdName = false) {
  String field;
  for (unsigned char c : text.substr(0, limit)) {
    const bool refused = !PrintableAscii(c) || (sdName && (c == '=' || c == ']' || c == '"'));
    field += refused ? '_' : static_cast<char>(c);
  }
  return field.empty() ? String("-") : field;
}

String ParamValue(std::string_view value) {
  String escaped;
  for (char c : value) {
    if (c == '"' || c == '\\' || c == ']') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

String Timestamp(int64_t seconds, int32_t microseconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&t, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  const long hours = (offset < 0 ? -offset : offset) / 60;
  const long minutes = (offset < 0 ? -offset : offset) % 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s.%06d%c%02ld:%02ld", date, static_cast<int>(microseconds), offset < 0 ? '-' : '+',
                hours, minutes);
  return text;
}

// text cut to at most size bytes, not inside a UTF-8 sequence.
std::string_view CutAtCharacter(std::string_view text, size_t size) {
  if (text.size() <= size) return text;
  while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  return text.substr(0, size);
}

DWORD SendError(int error) {
  switch (error) {
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EAGAIN:
    case ENOBUFS: return WSAEWOULDBLOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    default: return Win32ErrorFromErrno(error);
  }
}

}  // namespace

String SyslogLine(const SyslogMessage& message) {
  const int severity = message.severity < 0 ? 0 : message.severity > 7 ? 7 : message.severity;
  const int facility = message.facility < 0 ? 1 : message.facility > 23 ? 23 : message.facility;
  String line = "<" + std::to_string(facility * 8 + severity) + ">1 ";
  line += Timestamp(message.seconds, message.microseconds) + " ";
  line += HeaderField(message.hostName, kMaxHostName) + " ";
  line += HeaderField(message.appName, kMaxAppName) + " ";
  line += HeaderField(message.procId, kMaxProcId) + " ";
  line += HeaderField(message.msgId, kMaxMsgId) + " ";
  if (message.sdId.empty()) {
    line += "-";
  } else {
    line += "[" + HeaderField(message.sdId, kMaxSdName, true);
    for (const auto& [name, value] : message.params)
      line += " " + HeaderField(name, kMaxSdName, true) + "=\"" + ParamValue(value) + "\"";
    line += "]";
  }
  if (!message.text.empty() && line.size() + 1 < kMaxSyslogLine) {
    line += " ";
    line += CutAtCharacter(message.text, kMaxSyslogLine - line.size());
  }
  return line;
}

String SyslogSocketPath() {
  const char* chosen = std::getenv("ZTL_SYSLOG_SOCKET");
  return chosen && *chosen ? String(chosen) : String("/dev/log");
}

DWORD SendToSyslog(std::string_view line) {
  const String path = SyslogSocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ERROR_FILENAME_EXCED_RANGE;
  path.copy(address.sun_path, path.size());
  const Descriptor socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket.Get() < 0) return Win32ErrorFromErrno(errno);
  const ssize_t sent = ::sendto(socket.Get(), line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent < 0) return SendError(errno);
  return ERROR_SUCCESS;
}

}  // namespace ztl::os
