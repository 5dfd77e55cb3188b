// ztl-evt: lists, reads, writes and clears the platform's event logs from the
// command line, in the manner of the Windows "wevtutil" and "eventcreate"
// commands (the logs under the prefix that ZTL_PREFIX names, see
// platform/os/eventlog/Api.h).
//
//   ztl-evt logs
//   ztl-evt query LOG|--file FILE [--count N] [--oldest-first] [--format text|xml|json]
//   ztl-evt write --source NAME [--id N] [--type TYPE] [--category N] [STRING...]
//   ztl-evt clear LOG [--backup FILE]
//   ztl-evt forward [on|off] LOG
//
// query shows the newest records first unless asked otherwise, each with the
// message text composed from its source's message files ("EventMessageFile"
// under the log's key), or its strings when there is none. With --file it
// reads a backup that "clear --backup" wrote instead of a log, its sources'
// files found under whichever log's key holds the source. Exit status 0 on
// success, 1 on failure, 2 for a wrong command line.
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/eventlog/Forward.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/messages/SystemTexts.h>
#include <ztlogger/platform/os/registry/Api.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace {

using ztl::unicode::Utf16ToUtf8;
using ztl::unicode::Utf8ToUtf16;
using namespace std::string_view_literals;

// Appends text as UTF-8 to out, keeping out's room: the texts of a log are
// mostly ASCII, copied here unit by unit; any other goes through the
// conversion of the run-time library.
void AppendUtf8(std::string& out, std::u16string_view text) {
  const size_t at = out.size();
  out.resize(at + text.size());
  // Apart, so that the compiler copies many units a step: a store through a
  // char pointer could otherwise change the text it reads.
  char* __restrict to = out.data() + at;
  const char16_t* __restrict from = text.data();
  char16_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    seen |= from[i];
    to[i] = static_cast<char>(from[i]);
  }
  if (seen >= 0x80) {
    out.resize(at);
    out += Utf16ToUtf8(text);
  }
}

int Usage(const std::string& problem) {
  std::cerr << "ztl-evt: " << problem << "\nType \"ztl-evt --help\" for usage.\n";
  return 2;
}

int Fail(const std::string& what, DWORD error) {
  const char* text = ztl::os::SystemMessageText(error);
  std::cerr << "ztl-evt: " << what << ": " << (text ? text : "error " + std::to_string(error)) << "\n";
  return 1;
}

int NoLog(const std::string& name) {
  std::cerr << "ztl-evt: there is no log named \"" << name << "\" (\"ztl-evt logs\" lists them)\n";
  return 1;
}

int Help() {
  std::cout << "ztl-evt: lists, reads, writes and clears the event logs kept under the platform prefix.\n\n"
               "  ztl-evt logs\n"
               "      lists the logs and the number of records in each\n"
               "  ztl-evt query LOG|--file FILE [--count N] [--oldest-first] [--format text|xml|json]\n"
               "      shows the log's records, newest first, with their message texts; --file\n"
               "      reads a backup written by \"ztl-evt clear LOG --backup FILE\" instead\n"
               "  ztl-evt write --source NAME [--id N] [--type TYPE] [--category N] [STRING...]\n"
               "      writes one entry under a source; TYPE: error, warning, information (the\n"
               "      default), success, audit-success, audit-failure; the id is 1 unless given\n"
               "  ztl-evt clear LOG [--backup FILE]\n"
               "      removes every record of the log, first copying it to FILE if given\n"
               "  ztl-evt forward [on|off] LOG\n"
               "      turns on or off the sending of the log's new entries to the local syslog\n"
               "      socket ($ZTL_SYSLOG_SOCKET, else /dev/log) as RFC 5424 messages; without on\n"
               "      or off, shows whether it is on and how many sends failed since\n\n"
               "The logs are in the \"eventlog\" folder of $ZTL_PREFIX (else $XDG_DATA_HOME/ztlogger,\n"
               "else ~/.local/share/ztlogger). Exit status: 0 success, 1 failure, 2 wrong command line.\n";
  return 0;
}

std::optional<unsigned long> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (*end != 0 || text[0] == '-') return std::nullopt;
  return value;
}

struct TypeName {
  WORD type;
  const char* option;
  const char* shown;
};
constexpr TypeName kTypes[] = {{EVENTLOG_ERROR_TYPE, "error", "Error"},
                               {EVENTLOG_WARNING_TYPE, "warning", "Warning"},
                               {EVENTLOG_INFORMATION_TYPE, "information", "Information"},
                               {EVENTLOG_SUCCESS, "success", "Success"},
                               {EVENTLOG_AUDIT_SUCCESS, "audit-success", "Audit Success"},
                               {EVENTLOG_AUDIT_FAILURE, "audit-failure", "Audit Failure"}};

std::string TypeText(WORD type) {
  for (const TypeName& t : kTypes)
    if (t.type == type) return t.shown;
  return std::to_string(type);
}

// The log a name on the command line names, spelled as the log is.
std::optional<std::string> FindLog(const std::string& name) {
  for (const std::string& log : ztl::os::EventLogNames())
    if (strcasecmp(log.c_str(), name.c_str()) == 0) return log;
  return std::nullopt;
}

struct Record {
  DWORD number = 0, time = 0, id = 0;
  WORD type = 0, category = 0;
  std::string source, computer, message;
  // Each null-terminated: in the read's buffer where the record holds it so,
  // else a copy in `copies`.
  std::vector<std::u16string_view> strings;
  std::vector<std::u16string> copies;
  std::u16string wideSource, wideComputer;
};

// Where the null-terminated text at `at` ends: at its terminator, or at the
// record's end when it has none.
size_t TextEnd(const BYTE* record, size_t size, size_t at) {
  for (; at + 2 <= size; at += 2) {
    char16_t unit;
    std::memcpy(&unit, record + at, 2);  // little-endian, as the records are
    if (unit == 0) return at;
  }
  return std::max(at, size);  // past the end already: an empty text
}

// The null-terminated text at `at` into text; `at` moves past it.
void TextAt(const BYTE* record, size_t size, size_t& at, std::u16string& text) {
  const size_t end = TextEnd(record, size, at);
  text.resize((end - at) / 2);
  std::memcpy(text.data(), record + at, text.size() * 2);
  at = end + 2;
}

// The text at `at`, read in place when the record holds it aligned and
// terminated (as it holds every text it was written with), else copied;
// `at` moves past it.
std::u16string_view StringAt(const BYTE* record, size_t size, size_t& at, std::vector<std::u16string>& copies) {
  const size_t end = TextEnd(record, size, at);
  if (end < size && reinterpret_cast<uintptr_t>(record + at) % alignof(char16_t) == 0) {
    const std::u16string_view text(reinterpret_cast<const char16_t*>(record + at), (end - at) / 2);
    at = end + 2;
    return text;
  }
  TextAt(record, size, at, copies.emplace_back());
  return copies.back();
}

// A name's UTF-8 form, converted again only when it changes: a log's
// records mostly share their source and computer, found the same without
// looking for the end.
void NameAt(const BYTE* record, size_t size, size_t& at, std::u16string& wide, std::string& name) {
  const size_t bytes = wide.size() * 2;
  if (!name.empty() && at + bytes + 2 <= size && std::memcmp(wide.data(), record + at, bytes) == 0 &&
      (record[at + bytes] | record[at + bytes + 1]) == 0) {
    at += bytes + 2;
    return;
  }
  TextAt(record, size, at, wide);
  name = Utf16ToUtf8(wide);
}

// Reads a record's bytes into record, reusing its room.
void Parse(const BYTE* bytes, size_t size, Record& record) {
  EVENTLOGRECORD head;
  std::memcpy(&head, bytes, sizeof head);
  record.number = head.RecordNumber;
  record.time = head.TimeGenerated;
  record.id = head.EventID;
  record.type = head.EventType;
  record.category = head.EventCategory;
  size_t at = sizeof head;
  NameAt(bytes, size, at, record.wideSource, record.source);
  NameAt(bytes, size, at, record.wideComputer, record.computer);
  at = head.StringOffset;
  record.strings.clear();
  record.copies.clear();
  record.copies.reserve(head.NumStrings);  // the views of the copies stay valid
  for (WORD i = 0; i < head.NumStrings; ++i) record.strings.push_back(StringAt(bytes, size, at, record.copies));
}

// The message files a source registered under a log, ";"-separated.
std::u16string MessageFiles(const std::string& log, const std::string& source) {
  const std::u16string path =
      std::u16string(ztl::os::EventLogKeyPath) + u"\\" + Utf8ToUtf16(log) + u"\\" + Utf8ToUtf16(source);
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"";
  DWORD type = 0;
  std::basic_string<BYTE> data;
  const LSTATUS status = ztl::os::RegReadValue(key, u"EventMessageFile", type, data);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return u"";
  std::u16string files(data.size() / 2, u'\0');
  std::memcpy(files.data(), data.data(), files.size() * 2);
  return files.substr(0, files.find(u'\0'));
}

// The message modules of each source a query meets, in the order of the
// source's files: looked up and loaded once for the whole run, and kept
// loaded until its end. Without a log (a backup's records), each source is
// looked for under every log's key.
class SourceModules {
 public:
  explicit SourceModules(std::string log) : log_(std::move(log)) {}
  ~SourceModules() {
    for (auto& [source, modules] : sources_)
      for (HMODULE module : modules) FreeLibrary(module);
  }
  SourceModules(const SourceModules&) = delete;
  SourceModules& operator=(const SourceModules&) = delete;

  const std::vector<HMODULE>& Of(const std::string& source) {
    if (source == lastSource_ && last_) return *last_;
    auto [found, added] = sources_.try_emplace(source);
    if (added) found->second = Load(FilesOf(source));
    lastSource_ = source;
    last_ = &found->second;
    return found->second;
  }

 private:
  std::u16string FilesOf(const std::string& source) const {
    if (!log_.empty()) return MessageFiles(log_, source);
    for (const std::string& log : ztl::os::EventLogNames()) {
      std::u16string files = MessageFiles(log, source);
      if (!files.empty()) return files;
    }
    return u"";
  }

  static std::vector<HMODULE> Load(const std::u16string& files) {
    std::vector<HMODULE> modules;
    size_t start = 0;
    while (start < files.size()) {
      size_t end = files.find(u';', start);
      if (end == std::u16string::npos) end = files.size();
      const std::u16string name = files.substr(start, end - start);
      start = end + 1;
      char16_t path[MAX_PATH];
      const DWORD length = ExpandEnvironmentStringsW(name.c_str(), path, MAX_PATH);
      if (name.empty() || length == 0 || length > MAX_PATH) continue;
      if (HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) modules.push_back(module);
    }
    return modules;
  }

  const std::string log_;
  std::map<std::string, std::vector<HMODULE>> sources_;
  std::string lastSource_;
  const std::vector<HMODULE>* last_ = nullptr;
};

// The record's message text, without its final line break, into text;
// empty when none of the source's files has the id. Formatted as
// FormatMessageW does, the inserts bounded by the record's own count.
void Message(SourceModules& sources, const Record& record, std::string& text) {
  text.clear();
  static std::vector<DWORD_PTR> inserts;
  static std::vector<char16_t> formatted(0x10000);
  inserts.clear();
  for (std::u16string_view s : record.strings) inserts.push_back(reinterpret_cast<DWORD_PTR>(s.data()));
  for (HMODULE module : sources.Of(record.source)) {
    DWORD length = ztl::os::FormatMessageFromArray(FORMAT_MESSAGE_FROM_HMODULE, module, record.id, 0,
                                                   formatted.data(), static_cast<DWORD>(formatted.size()),
                                                   inserts.data(), inserts.size());
    if (length == 0) continue;
    while (length > 0 && (formatted[length - 1] == u'\n' || formatted[length - 1] == u'\r')) --length;
    AppendUtf8(text, std::u16string_view(formatted.data(), length));
    return;
  }
}

std::string IsoTime(DWORD seconds) {
  const std::time_t t = seconds;
  std::tm utc;
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The last time shown and its text: records written together share their
// second.
const std::string& ShownTime(DWORD seconds) {
  static DWORD last = 0;
  static std::string text = IsoTime(0);
  if (seconds != last) {
    last = seconds;
    text = IsoTime(seconds);
  }
  return text;
}

// The text format's lines of a record's type, category and event id, kept
// from the last record shown: a log's records mostly share them.
const std::string& ShownKind(WORD type, WORD category, DWORD id) {
  static std::optional<std::tuple<WORD, WORD, DWORD>> last;
  static std::string text;
  if (last != std::tuple(type, category, id)) {
    last = std::tuple(type, category, id);
    char hex[8];
    const auto hexEnd = std::to_chars(hex, hex + sizeof hex, id, 16).ptr;
    text = "\nType:     " + TypeText(type) + "\nCategory: " + std::to_string(category) +
           "\nEvent ID: " + std::to_string(id & 0xFFFF) + " (0x" + std::string(hex, hexEnd) + ")";
  }
  return text;
}

void AppendEscaped(std::string& out, const std::string& text, bool json) {
  for (unsigned char c : text) {
    if (json) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c < 0x20) {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", c);
        out += code;
      } else {
        out += static_cast<char>(c);
      }
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') {
      char code[8];
      std::snprintf(code, sizeof code, "&#x%X;", c);  // shown, though XML 1.0 cannot hold it
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
}

// The most a record's text takes beyond its source's and computer's names
// and its message: the labels, four numbers, the time and the type.
constexpr size_t kFixedTextRoom = 256;

enum class Format { text, xml, json };

// Appends a record as the format shows it; the caller writes out the text.
void Show(std::string& out, const Record& r, Format format, bool first) {
  using std::to_string;
  auto escaped = [&](const std::string& text, bool json) { AppendEscaped(out, text, json); };
  if (format == Format::json) {
    out += first ? "" : ",\n";
    out += "  {\"record\": " + to_string(r.number) + ", \"time\": \"" + ShownTime(r.time) + "\", \"source\": \"";
    escaped(r.source, true);
    out += "\", \"type\": \"" + TypeText(r.type) + "\", \"category\": " + to_string(r.category) +
           ", \"eventId\": " + to_string(r.id) + ", \"computer\": \"";
    escaped(r.computer, true);
    out += "\", \"message\": \"";
    escaped(r.message, true);
    out += "\", \"strings\": [";
    for (size_t i = 0; i < r.strings.size(); ++i) {
      out += i ? ", \"" : "\"";
      escaped(Utf16ToUtf8(r.strings[i]), true);
      out += '"';
    }
    out += "]}";
  } else if (format == Format::xml) {
    out += "  <Event Record=\"" + to_string(r.number) + "\" Time=\"" + ShownTime(r.time) + "\" Source=\"";
    escaped(r.source, false);
    out += "\" Type=\"" + TypeText(r.type) + "\" Category=\"" + to_string(r.category) + "\" EventID=\"" +
           to_string(r.id) + "\" Computer=\"";
    escaped(r.computer, false);
    out += "\">\n";
    if (!r.message.empty()) {
      out += "    <Message>";
      escaped(r.message, false);
      out += "</Message>\n";
    }
    for (const auto& s : r.strings) {
      out += "    <String>";
      escaped(Utf16ToUtf8(s), false);
      out += "</String>\n";
    }
    out += "  </Event>\n";
  } else {
    // All but the strings written through a pointer into room made for them
    // first: some twenty pieces a record, each appended on its own would
    // check and grow the text again.
    const size_t at = out.size();
    out.resize(at + kFixedTextRoom + r.source.size() + r.computer.size() + r.message.size());
    char* to = out.data() + at;
    auto put = [&to](std::string_view piece) {
      std::memcpy(to, piece.data(), piece.size());
      to += piece.size();
    };
    auto number = [&to](uint32_t value) { to = std::to_chars(to, to + 10, value).ptr; };
    put(first ? "Record:   "sv : "\nRecord:   "sv);
    number(r.number);
    put("\nTime:     "sv);
    put(ShownTime(r.time));
    put("\nSource:   "sv);
    put(r.source);
    put(ShownKind(r.type, r.category, r.id));
    put("\nComputer: "sv);
    put(r.computer);
    put("\n"sv);
    if (!r.message.empty()) {
      put("Message:  "sv);
      put(r.message);
      put("\n"sv);
    }
    out.resize(static_cast<size_t>(to - out.data()));
    if (r.message.empty()) {
      for (const auto& s : r.strings) {
        out += "String:   "sv;
        AppendUtf8(out, s);
        out += '\n';
      }
    }
  }
}

int Logs() {
  for (const std::string& log : ztl::os::EventLogNames()) {
    HANDLE h = OpenEventLogW(nullptr, Utf8ToUtf16(log).c_str());
    if (!h) return Fail("cannot open " + log, GetLastError());
    DWORD count = 0;
    const bool counted = GetNumberOfEventLogRecords(h, &count);
    const DWORD error = GetLastError();
    CloseEventLog(h);
    if (!counted) return Fail("cannot count the records of " + log, error);
    std::cout << log << "\t" << count << "\n";
  }
  return 0;
}

int Query(const std::vector<std::string>& args) {
  std::string name, file, format = "text";
  unsigned long count = ~0ul;
  bool oldestFirst = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--count" && i + 1 < args.size()) {
      auto n = Number(args[++i]);
      if (!n) return Usage("--count needs a number");
      count = *n;
    } else if (args[i] == "--format" && i + 1 < args.size()) {
      format = args[++i];
      if (format != "text" && format != "xml" && format != "json") return Usage("unknown format " + format);
    } else if (args[i] == "--oldest-first") {
      oldestFirst = true;
    } else if (args[i] == "--file" && i + 1 < args.size() && file.empty()) {
      file = args[++i];
      if (file.empty()) return Usage("--file needs a file");
    } else if (name.empty() && args[i][0] != '-') {
      name = args[i];
    } else {
      return Usage("unexpected " + args[i]);
    }
  }
  if (name.empty() == file.empty()) return Usage("query needs a log or --file FILE, not both");
  std::optional<std::string> log = file;
  HANDLE h = nullptr;
  if (!file.empty()) {
    h = OpenBackupEventLogW(nullptr, Utf8ToUtf16(file).c_str());
  } else {
    log = FindLog(name);
    if (!log) return NoLog(name);
    h = OpenEventLogW(nullptr, Utf8ToUtf16(*log).c_str());
  }
  if (!h) return Fail("cannot open " + *log, GetLastError());
  const DWORD flags = EVENTLOG_SEQUENTIAL_READ | (oldestFirst ? EVENTLOG_FORWARDS_READ : EVENTLOG_BACKWARDS_READ);
  std::vector<BYTE> buffer(0x10000);
  unsigned long shown = 0;
  const Format shownAs = format == "json" ? Format::json : format == "xml" ? Format::xml : Format::text;
  if (format == "json") std::cout << "[\n";
  if (format == "xml") std::cout << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Events>\n";
  DWORD error = ERROR_HANDLE_EOF;
  SourceModules sources(file.empty() ? *log : "");
  std::string text;  // one read's records as shown, its room kept for the next
  Record record;
  while (shown < count) {
    DWORD read = 0, needed = 0;
    if (!ReadEventLogW(h, flags, 0, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &needed)) {
      error = GetLastError();
      if (error == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(needed);
        continue;
      }
      break;
    }
    text.clear();
    for (DWORD at = 0; at < read && shown < count;) {
      DWORD length;
      std::memcpy(&length, buffer.data() + at, 4);
      Parse(buffer.data() + at, length, record);
      Message(sources, record, record.message);
      Show(text, record, shownAs, shown == 0);
      ++shown;
      at += length;
    }
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  CloseEventLog(h);
  if (format == "json") std::cout << (shown ? "\n" : "") << "]\n";
  if (format == "xml") std::cout << "</Events>\n";
  if (shown < count && error != ERROR_HANDLE_EOF) return Fail("cannot read " + *log, error);
  return 0;
}

int Write(const std::vector<std::string>& args) {
  std::string source;
  unsigned long id = 1, category = 0;
  WORD type = EVENTLOG_INFORMATION_TYPE;
  std::vector<std::u16string> strings;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && (a == "--source" || a == "--id" || a == "--type" || a == "--category")) {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      const std::string& value = args[++i];
      if (a == "--source") {
        source = value;
      } else if (a == "--type") {
        bool known = false;
        for (const TypeName& t : kTypes)
          if (value == t.option) type = t.type, known = true;
        if (!known) return Usage("unknown type " + value);
      } else {
        auto n = Number(value);
        if (!n || (a == "--category" && *n > 0xFFFF) || *n > 0xFFFFFFFFul) return Usage(a + " needs a number");
        (a == "--id" ? id : category) = *n;
      }
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      strings.push_back(Utf8ToUtf16(a));
    }
  }
  if (source.empty()) return Usage("write needs --source");
  HANDLE h = RegisterEventSourceW(nullptr, Utf8ToUtf16(source).c_str());
  if (!h) return Fail("cannot register source " + source, GetLastError());
  std::vector<LPCWSTR> pointers;
  for (const auto& s : strings) pointers.push_back(s.c_str());
  const BOOL written = ReportEventW(h, type, static_cast<WORD>(category), static_cast<DWORD>(id), nullptr,
                                    static_cast<WORD>(pointers.size()), 0, pointers.data(), nullptr);
  const DWORD error = GetLastError();
  DeregisterEventSource(h);
  if (!written) return Fail("cannot write the entry", error);
  return 0;
}

int Clear(const std::vector<std::string>& args) {
  std::string name, backup;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--backup" && i + 1 < args.size()) {
      backup = args[++i];
    } else if (name.empty() && args[i][0] != '-') {
      name = args[i];
    } else {
      return Usage("unexpected " + args[i]);
    }
  }
  if (name.empty()) return Usage("clear needs a log");
  const auto log = FindLog(name);
  if (!log) return NoLog(name);
  HANDLE h = OpenEventLogW(nullptr, Utf8ToUtf16(*log).c_str());
  if (!h) return Fail("cannot open " + *log, GetLastError());
  const std::u16string backupName = Utf8ToUtf16(backup);
  const BOOL cleared = ClearEventLogW(h, backup.empty() ? nullptr : backupName.c_str());
  const DWORD error = GetLastError();
  CloseEventLog(h);
  if (!cleared) return Fail("cannot clear " + *log, error);
  return 0;
}

// Sets or shows a log's syslog option; a failed send is shown with its count
// and the last error's text.
int Forward(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage("forward needs [on|off] and a log");
  const std::string& name = args.back();
  const auto log = FindLog(name);
  if (!log) return NoLog(name);
  const std::u16string logName = Utf8ToUtf16(*log);
  if (args.size() == 1) {
    const ztl::os::SyslogForwarding state = ztl::os::EventLogForwarding(logName);
    std::cout << *log << ": forwarding to syslog " << (state.on ? "on" : "off") << ", " << state.failures
              << " failed send" << (state.failures == 1 ? "" : "s");
    if (state.failures != 0) {
      const char* text = ztl::os::SystemMessageText(state.lastError);
      std::cout << " (last: " << (text ? text : "error " + std::to_string(state.lastError)) << ")";
    }
    std::cout << "\n";
    return 0;
  }
  if (args[0] != "on" && args[0] != "off") return Usage("forward takes on or off, not " + args[0]);
  const LSTATUS status = ztl::os::SetEventLogForwarding(logName, args[0] == "on");
  if (status != ERROR_SUCCESS) return Fail("cannot set the option of " + *log, static_cast<DWORD>(status));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The output through the stream's own buffer, not a C stdio call per piece:
  // a query writes some dozen pieces a record.
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") return Help();
  if (command == "logs") return args.empty() ? Logs() : Usage("logs takes no arguments");
  if (command == "query") return Query(args);
  if (command == "write") return Write(args);
  if (command == "clear") return Clear(args);
  if (command == "forward") return Forward(args);
  return Usage("unknown command " + command);
}
