// Message texts of event records. Relies on the registry for the source's
// files and on the message files' loader and formatter (os/messages).
#include <ztlogger/platform/os/eventlog/MessageText.h>

#include <cstring>
#include <memory>

#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>
#include <ztlogger/platform/os/registry/Api.h>

namespace ztl::os {

namespace {

// The message files the source registered under the log, ";"-separated.
std::u16string MessageFiles(std::u16string_view log, std::u16string_view source) {
  std::u16string path = EventLogKeyPath;
  path.append(u"\\").append(log).append(u"\\").append(source);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"";
  DWORD type = 0;
  std::basic_string<BYTE> data;
  const LSTATUS status = RegReadValue(key, u"EventMessageFile", type, data);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return u"";
  std::u16string files(data.size() / 2, u'\0');
  std::memcpy(files.data(), data.data(), files.size() * 2);
  return files.substr(0, files.find(u'\0'));
}

std::shared_ptr<const MessageTable> TablesOfFile(const std::u16string& name) {
  char16_t path[MAX_PATH];
  const DWORD length = ExpandEnvironmentStringsW(name.c_str(), path, MAX_PATH);
  if (name.empty() || length == 0 || length > MAX_PATH) return nullptr;
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return nullptr;
  // The tables outlive the module's handle.
  std::shared_ptr<const MessageTable> tables = MessageTablesOf(module);
  FreeLibrary(module);
  return tables;
}

}  // namespace

std::u16string EventMessageText(std::u16string_view log, std::u16string_view source, DWORD eventId,
                                const std::vector<std::u16string_view>& strings) {
  const std::u16string files = MessageFiles(log, source);
  if (files.empty()) return u"";
  // The inserts are read as null-terminated strings.
  std::vector<std::u16string> texts(strings.begin(), strings.end());
  std::vector<DWORD_PTR> inserts;
  for (const std::u16string& text : texts) inserts.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
  size_t start = 0;
  while (start < files.size()) {
    size_t end = files.find(u';', start);
    if (end == std::u16string::npos) end = files.size();
    const std::shared_ptr<const MessageTable> table = TablesOfFile(files.substr(start, end - start));
    start = end + 1;
    if (!table) continue;
    DWORD error = 0;
    const std::u16string* text = FindMessage(*table, eventId, 0, error);
    if (!text) continue;
    std::u16string formatted;
    try {
      formatted = FormatMessageText(*text, 0, inserts.data(), inserts.size());
    } catch (const OsError&) {
      continue;
    }
    while (!formatted.empty() && (formatted.back() == u'\n' || formatted.back() == u'\r')) formatted.pop_back();
    return formatted;
  }
  return u"";
}

}  // namespace ztl::os
