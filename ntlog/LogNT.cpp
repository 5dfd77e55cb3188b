#include <ztlogger/ntlog/LogNT.h>

#include <cstring>
#include <memory>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/Registry.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

namespace {

constexpr size_t kMaxInserts = 99;  // %1 to %99

HANDLE AsHandle(uintptr_t value) { return reinterpret_cast<HANDLE>(value); }

// A message file loaded as data, released on every way out.
class DataFile {
 public:
  explicit DataFile(const std::u16string& path)
      : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataFile() {
    if (module_) FreeLibrary(module_);
  }
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  HMODULE Module() const { return module_; }

 private:
  HMODULE module_;
};

}  // namespace

ZTL_BEGIN_CLASS(TZTNTEventLog, TZTLogBase)
  .Property("Server", &Self::Server, &Self::SetServer)
  .Property("Source", &Self::Source, &Self::SetSource)
  .Property("Log", &Self::Log, &Self::SetLog).Default("Application")
ZTL_END_CLASS

TZTNTEventLog::TZTNTEventLog(TComponent* AOwner) : TZTLogBase(AOwner), FLog("Application") {}

TZTNTEventLog::~TZTNTEventLog() { Close(); }

void TZTNTEventLog::SetActive(bool Value) {
  if (Value == Active()) return;
  if (ComponentState().Contains(csDesigning)) {
    TZTLogBase::SetActive(Value);
    return;
  }
  if (Value) {
    const std::u16string server = unicode::Utf8ToUtf16(FServer);
    const std::u16string source = unicode::Utf8ToUtf16(FSource);
    HANDLE handle = OpenEventLogW(server.c_str(), source.c_str());
    if (handle == nullptr) RaiseLastOSError();
    FHandle = reinterpret_cast<uintptr_t>(handle);
    FCurrentRecordNo = -2;
  } else {
    if (FHandle != 0) CloseEventLog(AsHandle(FHandle));
    FHandle = 0;
    FCurrentRecord.clear();
    FCurrentRecord.shrink_to_fit();
    FCurrentRecordNo = -2;
  }
  TZTLogBase::SetActive(Value);
}

void TZTNTEventLog::Reopen(String& field, const String& Value) {
  if (field == Value) return;
  const bool wasActive = Active();
  SetActive(false);
  field = Value;
  SetActive(wasActive);
}

void TZTNTEventLog::SetServer(const String& Value) { Reopen(FServer, Value); }
void TZTNTEventLog::SetSource(const String& Value) { Reopen(FSource, Value); }
void TZTNTEventLog::SetLog(const String& Value) { Reopen(FLog, Value); }

uint32_t TZTNTEventLog::EventCount() const {
  if (!Active() || FHandle == 0) return 0;
  DWORD count = 0;
  if (!GetNumberOfEventLogRecords(AsHandle(FHandle), &count)) RaiseLastOSError();
  return count;
}

void TZTNTEventLog::ReadEvent(uint32_t n) {
  if (!FCurrentRecord.empty() && FCurrentRecordNo == static_cast<int32_t>(n)) return;
  SeekRecord(n);
}

void TZTNTEventLog::SeekRecord(uint32_t n) {
  HANDLE handle = AsHandle(FHandle);
  DWORD oldest = 0;
  GetOldestEventLogRecord(handle, &oldest);
  const DWORD number = oldest + n;
  constexpr DWORD flags = EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ;
  BYTE probe = 0;
  DWORD read = 0, needed = 0;
  SetLastError(ERROR_SUCCESS);
  if (ReadEventLogW(handle, flags, number, &probe, 0, &read, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    RaiseLastOSError();
  // Read aside: a failed read leaves the current record as it was.
  std::vector<uint8_t> record(needed);
  if (!ReadEventLogW(handle, flags, number, record.data(), needed, &read, &needed)) RaiseLastOSError();
  FCurrentRecord = std::move(record);
  FCurrentRecordNo = static_cast<int32_t>(n);
}

uint32_t TZTNTEventLog::Field32(size_t offset) const {
  uint32_t value = 0;
  if (offset + 4 <= FCurrentRecord.size()) std::memcpy(&value, FCurrentRecord.data() + offset, 4);
  return value;
}

uint16_t TZTNTEventLog::Field16(size_t offset) const {
  uint16_t value = 0;
  if (offset + 2 <= FCurrentRecord.size()) std::memcpy(&value, FCurrentRecord.data() + offset, 2);
  return value;
}

String TZTNTEventLog::TextAt(size_t offset, size_t* next) const {
  std::u16string text;
  size_t at = offset;
  for (; at + 2 <= FCurrentRecord.size(); at += 2) {
    const auto c = static_cast<char16_t>(FCurrentRecord[at] | FCurrentRecord[at + 1] << 8);
    if (c == 0) break;
    text += c;
  }
  if (next) *next = at + 2;
  return unicode::Utf16ToUtf8(text);
}

String TZTNTEventLog::EventSource() const { return TextAt(sizeof(EVENTLOGRECORD)); }

String TZTNTEventLog::EventComputer() const {
  size_t next = 0;
  TextAt(sizeof(EVENTLOGRECORD), &next);
  return FCurrentRecord.empty() ? String() : TextAt(next);
}

uint32_t TZTNTEventLog::EventID() const { return Field32(offsetof(EVENTLOGRECORD, EventID)); }
uint32_t TZTNTEventLog::EventStringCount() const { return Field16(offsetof(EVENTLOGRECORD, NumStrings)); }
uint16_t TZTNTEventLog::EventType() const { return Field16(offsetof(EVENTLOGRECORD, EventType)); }

const void* TZTNTEventLog::EventSID() const {
  const uint32_t offset = Field32(offsetof(EVENTLOGRECORD, UserSidOffset));
  if (FCurrentRecord.empty() || offset >= FCurrentRecord.size()) return nullptr;
  return FCurrentRecord.data() + offset;
}

TDateTime TZTNTEventLog::EventTime() const {
  if (FCurrentRecord.empty()) return 0;
  return Field32(offsetof(EVENTLOGRECORD, TimeGenerated)) / 86400.0 + EncodeDate(1970, 1, 1);
}

String TZTNTEventLog::GetEventString(uint32_t Index) const {
  if (Index >= EventStringCount()) return String();
  size_t at = Field32(offsetof(EVENTLOGRECORD, StringOffset));
  for (uint32_t i = 0; i < Index; ++i) TextAt(at, &at);
  return TextAt(at);
}

String TZTNTEventLog::EventMessageText() const {
  if (FCurrentRecord.empty()) return String();
  // One insert per string of the record, and only those: a message that
  // asks for more keeps the inserts beyond them as written.
  std::vector<std::u16string> strings;
  const uint32_t count = EventStringCount();
  size_t at = Field32(offsetof(EVENTLOGRECORD, StringOffset));
  for (uint32_t i = 0; i < count && i < kMaxInserts; ++i) strings.push_back(unicode::Utf8ToUtf16(TextAt(at, &at)));
  std::vector<DWORD_PTR> inserts;
  for (const std::u16string& s : strings) inserts.push_back(reinterpret_cast<DWORD_PTR>(s.c_str()));

  TRegistry registry(KEY_READ);
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  String files;
  if (registry.OpenKeyReadOnly(
          Format("SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s", {FLog, EventSource()})) &&
      registry.ValueExists("EventMessageFile"))
    files = registry.ReadString("EventMessageFile");

  size_t start = 0;
  while (start <= files.size()) {
    size_t end = files.find(';', start);
    if (end == String::npos) end = files.size();
    const String name = files.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    char16_t expanded[MAX_PATH];
    const DWORD length = ExpandEnvironmentStringsW(unicode::Utf8ToUtf16(name).c_str(), expanded, MAX_PATH);
    if (length == 0 || length > MAX_PATH) continue;
    DataFile file(expanded);
    if (!file.Module()) continue;
    LPWSTR text = nullptr;
    const DWORD written =
        os::FormatMessageFromArray(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE, file.Module(),
                                   EventID(), 0, reinterpret_cast<LPWSTR>(&text), 0, inserts.data(), inserts.size());
    if (written == 0 || text == nullptr) continue;
    ScopeExit release([&] { LocalFree(text); });
    // The line break the message compiler ends each text with goes. A text
    // ended by %0 has none: it keeps all its characters.
    std::u16string_view message(text, written);
    if (message.ends_with(u"\r\n"))
      message.remove_suffix(2);
    else if (message.ends_with(u"\n"))
      message.remove_suffix(1);
    return unicode::Utf16ToUtf8(message);
  }
  return String();
}

void TZTNTEventLog::WriteToEventLog(const String& Value, uint16_t EventType, uint32_t Category, uint32_t EventID) {
  const std::u16string server = unicode::Utf8ToUtf16(FServer);
  const std::u16string source = unicode::Utf8ToUtf16(FSource);
  HANDLE handle = RegisterEventSourceW(server.c_str(), source.c_str());
  if (handle == nullptr) return;
  const std::u16string text = unicode::Utf8ToUtf16(Value);
  LPCWSTR strings[] = {text.c_str()};
  ReportEventW(handle, EventType, static_cast<WORD>(Category & 0xFFFF), EventID, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(handle);
}

}  // namespace ztl
