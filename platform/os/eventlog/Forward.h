#pragma once
// Forwarding event entries to syslog: a log's option, kept as values of the
// log's registry key (EventLogKeyPath\<log> below HKEY_LOCAL_MACHINE), and
// the sending of each entry ReportEventW stores while it is on.
//
//   ForwardToSyslog  REG_DWORD  1: each entry is also sent to syslog
//   SyslogFailures   REG_DWORD  the sends that failed since it was turned on
//   SyslogLastError  REG_DWORD  the Windows error code of the last failure
//
// An entry goes to the local syslog socket (os/eventlog/Syslog.h) as one RFC
// 5424 message of the user facility: the source as APP-NAME, the event type
// as severity (SyslogSeverity), the event id in decimal as MSGID, the log,
// category and record number as the structured data element
// "event@32473", the message text from the source's message files
// (os/eventlog/MessageText.h), else the strings joined by blanks. The entry is
// stored before it is sent, and a failed send never fails the report: it is
// counted under the log's key, where "ztl-evt forward LOG" shows it.
//
// Any thread; a SyslogForwarder belongs to one handle and is used under its
// lock.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::os {

inline constexpr char16_t ForwardToSyslogValue[] = u"ForwardToSyslog";
inline constexpr char16_t SyslogFailuresValue[] = u"SyslogFailures";
inline constexpr char16_t SyslogLastErrorValue[] = u"SyslogLastError";
// The SD-ID of the entries' structured data (32473 is the enterprise number
// set aside for examples and private use, RFC 5612).
inline constexpr char SyslogEventSdId[] = "event@32473";

struct SyslogForwarding {
  bool on = false;
  DWORD failures = 0;
  DWORD lastError = 0;
};

// The log's option and its count of failed sends: off and none when the log
// has no key or cannot be read.
ZTL_PLATFORM_API SyslogForwarding EventLogForwarding(std::u16string_view log);

// Turns the option on or off, creating the log's key when it has none (the
// caller names a log that exists); turning it on clears the count of
// failures. The writers of this process see the change at their next entry,
// those of other processes within a second. Returns the registry's code.
ZTL_PLATFORM_API LSTATUS SetEventLogForwarding(std::u16string_view log, bool on);

// The syslog severity of an event type: error 3, warning 4, information and
// success 6, audit success 5 (notice), audit failure 4 (warning); any other
// type 6.
ZTL_PLATFORM_API int SyslogSeverity(WORD eventType);

// An entry as ReportEventW stored it.
struct StoredEvent {
  WORD type = 0;
  WORD category = 0;
  DWORD id = 0;
  DWORD record = 0;
  int64_t seconds = 0;  // the time of the report, since 1 January 1970 UTC
  int32_t microseconds = 0;
};

// A handle's view of its log's option: read at its first entry, then again
// when a second has passed or this process changed an option.
class ZTL_PLATFORM_API SyslogForwarder {
 public:
  SyslogForwarder(std::u16string log, std::u16string source);

  // Sends the entry, with its strings, when the log's option is on; counts
  // a failed send under the log's key. Never throws.
  void Forward(const StoredEvent& event, const std::vector<std::u16string_view>& strings) noexcept;

 private:
  bool On();

  const std::u16string log_;
  const std::u16string source_;
  bool on_ = false;
  uint32_t generation_ = 0;
  std::chrono::steady_clock::time_point readAt_{};
};

}  // namespace ztl::os
