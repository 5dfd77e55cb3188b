#pragma once
// Syslog messages: the one writer of the RFC 5424 line this system sends,
// and the sending of a line to the local syslog socket as one datagram.
//
// The socket is the one ZTL_SYSLOG_SOCKET names, else "/dev/log" (where
// syslog(3) writes and where rsyslog, syslog-ng and journald read). A send
// never waits: a receiver that is not there or cannot take the datagram now
// is a failure the caller gets back.
//
// Any thread: plain functions without shared state.
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

// The Windows Sockets codes of the failures a send meets that no file call
// has.
inline constexpr DWORD WSAEWOULDBLOCK = 10035;
inline constexpr DWORD WSAEMSGSIZE = 10040;
inline constexpr DWORD WSAECONNREFUSED = 10061;

namespace ztl::os {

// One message's fields. The header fields are made printable US-ASCII and cut
// to their lengths by SyslogLine; an empty one is written as "-".
struct SyslogMessage {
  int facility = 1;     // user-level messages
  int severity = 6;     // informational
  int64_t seconds = 0;  // the time, seconds since 1 January 1970 UTC
  int32_t microseconds = 0;
  String hostName;
  String appName;
  String procId;
  String msgId;
  // One structured data element: its SD-ID and its parameters (UTF-8
  // values); none when sdId is empty.
  String sdId;
  std::vector<std::pair<String, String>> params;
  String text;  // UTF-8, without byte-order mark
};

// The most bytes of a line SyslogLine writes: the text is cut (at a
// character's boundary) to fit.
inline constexpr size_t kMaxSyslogLine = 65536;

// The message as one RFC 5424 line: "<PRI>1 TIMESTAMP HOSTNAME APP-NAME
// PROCID MSGID [SD-ID name="value"...] MSG", the time in the local time's
// offset with microseconds.
ZTL_PLATFORM_API String SyslogLine(const SyslogMessage& message);

// The socket SendToSyslog writes to.
ZTL_PLATFORM_API String SyslogSocketPath();

// Sends one line as one datagram to SyslogSocketPath() without waiting.
// Returns ERROR_SUCCESS or the Windows error code of the failure: no socket
// there ERROR_FILE_NOT_FOUND, no one reading it WSAECONNREFUSED, a receiver
// that cannot take it now WSAEWOULDBLOCK, a line too long for the socket
// WSAEMSGSIZE.
ZTL_PLATFORM_API DWORD SendToSyslog(std::string_view line);

}  // namespace ztl::os
