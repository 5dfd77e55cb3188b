// The syslog option of a log and the sending of its entries. Relies on the
// registry for the option and the count, on the message texts of the
// sources, and on the RFC 5424 writer (os/eventlog/Syslog.h).
#include <ztlogger/platform/os/eventlog/Forward.h>

#include <unistd.h>

#include <new>

#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/eventlog/MessageText.h>
#include <ztlogger/platform/os/eventlog/Syslog.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os {

namespace {

constexpr auto kReadAgainAfter = std::chrono::seconds(1);

// Changed by each SetEventLogForwarding of this process, so that its
// writers read the option again at once.
std::atomic<uint32_t> optionGeneration{1};

std::u16string LogKeyPath(std::u16string_view log) {
  std::u16string path = EventLogKeyPath;
  return path.append(u"\\").append(log);
}

// Owns an open key.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

DWORD ReadDword(HKEY key, const char16_t* name) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return 0;
  return value;
}

LSTATUS WriteDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Counts a failed send under the log's key. Two processes failing at once
// may count one failure between them: the count tells that sends fail, and
// about how many.
void CountFailure(std::u16string_view log, DWORD error) {
  Key key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, LogKeyPath(log).c_str(), 0, KEY_READ | KEY_SET_VALUE, key.Out()) !=
      ERROR_SUCCESS)
    return;
  WriteDword(key.get(), SyslogFailuresValue, ReadDword(key.get(), SyslogFailuresValue) + 1);
  WriteDword(key.get(), SyslogLastErrorValue, error);
}

String JoinedStrings(const std::vector<std::u16string_view>& strings) {
  std::u16string joined;
  for (std::u16string_view text : strings) {
    if (!joined.empty()) joined += u' ';
    joined += text;
  }
  return unicode::Utf16ToUtf8(joined);
}

}  // namespace

SyslogForwarding EventLogForwarding(std::u16string_view log) {
  SyslogForwarding forwarding;
  Key key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, LogKeyPath(log).c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
    return forwarding;
  forwarding.on = ReadDword(key.get(), ForwardToSyslogValue) != 0;
  forwarding.failures = ReadDword(key.get(), SyslogFailuresValue);
  forwarding.lastError = ReadDword(key.get(), SyslogLastErrorValue);
  return forwarding;
}

LSTATUS SetEventLogForwarding(std::u16string_view log, bool on) {
  Key key;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, LogKeyPath(log).c_str(), 0, nullptr, 0, KEY_READ | KEY_SET_VALUE,
                                   nullptr, key.Out(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = WriteDword(key.get(), ForwardToSyslogValue, on ? 1 : 0);
  if (status == ERROR_SUCCESS && on) {
    for (const char16_t* name : {SyslogFailuresValue, SyslogLastErrorValue}) {
      const LSTATUS removed = RegDeleteValueW(key.get(), name);
      if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) status = removed;
    }
  }
  ++optionGeneration;
  return status;
}

int SyslogSeverity(WORD eventType) {
  switch (eventType) {
    case EVENTLOG_ERROR_TYPE: return 3;
    case EVENTLOG_WARNING_TYPE:
    case EVENTLOG_AUDIT_FAILURE: return 4;
    case EVENTLOG_AUDIT_SUCCESS: return 5;
    default: return 6;
  }
}

SyslogForwarder::SyslogForwarder(std::u16string log, std::u16string source)
    : log_(std::move(log)), source_(std::move(source)) {}

bool SyslogForwarder::On() {
  const auto now = std::chrono::steady_clock::now();
  const uint32_t generation = optionGeneration.load(std::memory_order_relaxed);
  if (generation != generation_ || now - readAt_ >= kReadAgainAfter) {
    on_ = EventLogForwarding(log_).on;
    generation_ = generation;
    readAt_ = now;
  }
  return on_;
}

void SyslogForwarder::Forward(const StoredEvent& event, const std::vector<std::u16string_view>& strings) noexcept {
  try {
    if (!On()) return;
    SyslogMessage message;
    message.severity = SyslogSeverity(event.type);
    message.seconds = event.seconds;
    message.microseconds = event.microseconds;
    message.hostName = CurrentSystemFacts().HostName();
    message.appName = unicode::Utf16ToUtf8(source_);
    message.procId = std::to_string(::getpid());
    message.msgId = std::to_string(event.id);
    message.sdId = SyslogEventSdId;
    message.params = {{"log", unicode::Utf16ToUtf8(log_)},
                      {"category", std::to_string(event.category)},
                      {"record", std::to_string(event.record)}};
    const std::u16string text = EventMessageText(log_, source_, event.id, strings);
    message.text = text.empty() ? JoinedStrings(strings) : unicode::Utf16ToUtf8(text);
    const DWORD error = SendToSyslog(SyslogLine(message));
    if (error != ERROR_SUCCESS) CountFailure(log_, error);
  } catch (const std::bad_alloc&) {
    // Memory ran out on the way; the entry is stored all the same. Counting
    // needs a little memory too: when that fails as well, nothing is left to
    // report it with.
    try {
      CountFailure(log_, ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::bad_alloc&) {
    }
  }
}

}  // namespace ztl::os
