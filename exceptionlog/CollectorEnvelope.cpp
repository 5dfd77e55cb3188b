#include <ztlogger/exceptionlog/CollectorEnvelope.h>

#include <chrono>
#include <random>

#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl::collector {

String ClientName() { return String("ztlogger.native/") + ZTL_VERSION_TEXT; }

void WriteEvent(TTextSink& sink, const TEventFields& event) {
  TJsonWriter json(sink);
  json.BeginObject();
  json.Member("event_id", event.EventId);
  json.Member("timestamp", event.Timestamp);
  json.Member("platform", "native");
  json.Member("level", event.Level);
  json.Member("logger", "ztlogger");
  if (!event.Release.empty()) json.Member("release", event.Release);
  json.Key("exception");
  json.BeginObject();
  json.Key("values");
  json.BeginArray();
  json.BeginObject();
  json.Member("type", event.Type);
  json.Member("value", event.Value);
  json.Key("mechanism");
  json.BeginObject();
  json.Member("type", event.Mechanism);
  json.Member("handled", event.Handled);
  json.EndObject();
  json.Key("stacktrace");
  json.BeginObject();
  json.Key("frames");
  json.BeginArray();
  for (size_t i = 0; i < event.FrameCount; ++i) {
    const TEventFrame& frame = event.Frames[i];
    json.BeginObject();
    char address[2 + 2 * sizeof(uintptr_t)];
    json.Member("instruction_addr", std::string_view(address, FormatHexAddress(frame.Address, address)));
    if (!frame.Package.empty()) json.Member("package", frame.Package);
    if (!frame.Function.empty()) json.Member("function", frame.Function);
    if (!frame.File.empty()) json.Member("filename", frame.File);
    if (frame.Line > 0) json.Member("lineno", frame.Line);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  json.EndObject();
  json.EndArray();
  json.EndObject();
  if (!event.Contexts.empty()) {
    json.Key("contexts");
    json.RawValue(event.Contexts);
  }
  if (!event.DebugMeta.empty()) {
    json.Key("debug_meta");
    json.RawValue(event.DebugMeta);
  }
  json.EndObject();
}

void WriteEnvelopeHeader(TTextSink& sink, std::string_view eventId, std::string_view dsn, std::string_view sentAt) {
  TJsonWriter json(sink);
  json.BeginObject();
  if (!eventId.empty()) json.Member("event_id", eventId);
  json.Member("dsn", dsn);
  json.Member("sent_at", sentAt);
  json.Key("sdk");
  json.BeginObject();
  json.Member("name", "ztlogger.native");
  json.Member("version", ZTL_VERSION_TEXT);
  json.EndObject();
  json.EndObject();
  sink.Append("\n", 1);
}

void WriteItem(TTextSink& sink, std::string_view type, std::string_view payload, std::string_view fileName,
               std::string_view contentType) {
  TJsonWriter json(sink);
  json.BeginObject();
  json.Member("type", type);
  json.Member("length", static_cast<uint64_t>(payload.size()));
  if (!fileName.empty()) {
    json.Member("filename", fileName);
    json.Member("content_type", contentType);
    json.Member("attachment_type", "event.attachment");
  }
  json.EndObject();
  sink.Append("\n", 1);
  sink.Append(payload);
  sink.Append("\n", 1);
}

String ClientReportItem(uint64_t cacheOverflow, uint64_t sendErrors) {
  String payload;
  TStringSink payloadSink(payload);
  TJsonWriter json(payloadSink);
  json.BeginObject();
  json.Member("timestamp", static_cast<uint64_t>(NowMilliseconds() / 1000));
  json.Key("discarded_events");
  json.BeginArray();
  const auto discarded = [&](const char* reason, uint64_t quantity) {
    if (quantity == 0) return;
    json.BeginObject();
    json.Member("reason", reason);
    json.Member("category", "error");
    json.Member("quantity", quantity);
    json.EndObject();
  };
  discarded("cache_overflow", cacheOverflow);
  discarded("send_error", sendErrors);
  json.EndArray();
  json.EndObject();
  String item;
  TStringSink itemSink(item);
  WriteItem(itemSink, "client_report", payload);
  return item;
}

namespace {

String ArchitectureName(WORD architecture) {
  switch (architecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return "x86_64";
    case PROCESSOR_ARCHITECTURE_INTEL: return "x86";
    case PROCESSOR_ARCHITECTURE_ARM64: return "arm64";
    case PROCESSOR_ARCHITECTURE_ARM: return "arm";
    default: return "unknown";
  }
}

String OSName() {
  switch (Win32Platform) {
    case VER_PLATFORM_WIN32_NT:
    case VER_PLATFORM_WIN32_WINDOWS: return "Windows";
    default: return "Linux";
  }
}

// A build id's first 16 bytes as the identifier servers key ELF debug files
// by: a GUID whose first three fields are read little-endian.
String DebugIdOf(const String& buildId) {
  unsigned char bytes[16] = {};
  for (size_t i = 0; i < 16 && i < buildId.size(); ++i) bytes[i] = static_cast<unsigned char>(buildId[i]);
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  String id;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += IntToHex(bytes[order[i]], 2);
  }
  return LowerCase(id);
}

String HexOf(const String& bytes) {
  String hex;
  for (char c : bytes) hex += IntToHex(static_cast<unsigned char>(c), 2);
  return LowerCase(hex);
}

}  // namespace

String ContextsJson(const TAppFacts& app) {
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  GlobalMemoryStatusEx(&memory);
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const String version =
      IntToStr(Win32MajorVersion) + "." + IntToStr(Win32MinorVersion) + "." + IntToStr(Win32BuildNumber);

  String text;
  TStringSink sink(text);
  TJsonWriter json(sink);
  json.BeginObject();
  json.Key("os");
  json.BeginObject();
  json.Member("type", "os");
  json.Member("name", OSName());
  json.Member("version", version);
  json.Member("kernel_version", Win32CSDVersion.empty() ? version : version + "-" + Win32CSDVersion);
  json.EndObject();
  json.Key("device");
  json.BeginObject();
  json.Member("type", "device");
  json.Member("arch", ArchitectureName(system.wProcessorArchitecture));
  json.Member("memory_size", static_cast<uint64_t>(memory.ullTotalPhys));
  json.Member("free_memory", static_cast<uint64_t>(memory.ullAvailPhys));
  json.Member("processor_count", static_cast<uint64_t>(system.dwNumberOfProcessors));
  json.EndObject();
  json.Key("app");
  json.BeginObject();
  json.Member("type", "app");
  json.Member("app_name", app.Name);
  if (!app.Version.empty()) json.Member("app_version", app.Version);
  if (!app.StartTime.empty()) json.Member("app_start_time", app.StartTime);
  json.EndObject();
  json.Key("runtime");
  json.BeginObject();
  json.Member("type", "runtime");
  json.Member("name", "ZTLogger");
  json.Member("version", ZTL_VERSION_TEXT);
  json.EndObject();
  json.EndObject();
  return text;
}

String DebugMetaJson(const std::vector<TLoadedModule>& modules) {
  String text;
  TStringSink sink(text);
  TJsonWriter json(sink);
  json.BeginObject();
  json.Key("images");
  json.BeginArray();
  for (const TLoadedModule& module : modules) {
    json.BeginObject();
    json.Member("type", "elf");
    json.Member("code_file", module.FileName);
    char address[2 + 2 * sizeof(uintptr_t)];
    json.Member("image_addr", std::string_view(address, FormatHexAddress(module.LoadBase, address)));
    json.Member("image_size", static_cast<uint64_t>(module.Size));
    if (!module.BuildId.empty()) {
      json.Member("code_id", HexOf(module.BuildId));
      json.Member("debug_id", DebugIdOf(module.BuildId));
    }
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return text;
}

void FormatRfc3339(int64_t unixMilliseconds, char* out) {
  // Civil date from days since 1970 (the proleptic Gregorian calendar), with
  // no library call: the crash path formats its time in a signal handler.
  int64_t days = unixMilliseconds / 86400000;
  int64_t rest = unixMilliseconds % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const auto put = [&](size_t at, int64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
      out[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
  };
  put(0, year, 4);
  out[4] = '-';
  put(5, month, 2);
  out[7] = '-';
  put(8, day, 2);
  out[10] = 'T';
  put(11, rest / 3600000, 2);
  out[13] = ':';
  put(14, rest / 60000 % 60, 2);
  out[16] = ':';
  put(17, rest / 1000 % 60, 2);
  out[19] = '.';
  put(20, rest % 1000, 3);
  out[23] = 'Z';
}

int64_t NowMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

String NewEventId() {
  std::random_device random;
  String id;
  for (int i = 0; i < 4; ++i) id += IntToHex(random(), 8);
  return LowerCase(id);
}

}  // namespace ztl::collector
