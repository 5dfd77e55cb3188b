#pragma once
// Message files: Windows modules (PE32 and PE32+ files, as the message
// compiler tool chain builds them) loaded as data for the message tables in
// their resources.
//
// Only loading as data is served: the file is read, never run. A module
// handle of such a file has its low bit set, as on Windows. Message tables
// are parsed once per file and kept (by path, size and modification time)
// for the next load; a file that changes is read again.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ztlogger/platform/os/FormatMessage.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

inline constexpr DWORD DONT_RESOLVE_DLL_REFERENCES = 0x1;
inline constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
inline constexpr DWORD LOAD_LIBRARY_AS_IMAGE_RESOURCE = 0x20;
inline constexpr DWORD LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE = 0x40;

inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// Loads a module as data: dwFlags must hold LOAD_LIBRARY_AS_DATAFILE (or
// LOAD_LIBRARY_AS_IMAGE_RESOURCE); loading code is not supported
// (ERROR_NOT_SUPPORTED). A file that is no PE file, or whose headers or
// resources do not hold together, fails with ERROR_BAD_EXE_FORMAT; a missing
// file with ERROR_FILE_NOT_FOUND. hFile must be nullptr.
ZTL_PLATFORM_API HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
// Releases a module loaded as data, or one loaded by LoadLibraryW
// (Libraries.h); ERROR_INVALID_HANDLE for any other value.
ZTL_PLATFORM_API BOOL FreeLibrary(HMODULE hLibModule);

namespace ztl::os {

// The message tables of one module: for each language, message id to text
// (as stored, converted to UTF-16).
struct MessageTable {
  std::map<WORD, std::map<DWORD, std::u16string>> languages;
  // Each text of languages with the text prepared for formatting, ordered
  // by Key(language, id), so that formatting finds its message with one
  // search. A table is not changed once it is read.
  struct Message {
    uint64_t key;
    const std::u16string* text;
    PreparedMessage prepared;
  };
  std::vector<Message> messages;
  // The language a language id of 0 picks; meaningful when languages is not
  // empty.
  WORD defaultLanguage = 0;

  static constexpr uint64_t Key(WORD language, DWORD id) { return uint64_t{language} << 32 | id; }
};

// Reads the message tables out of the bytes of a PE file; an empty table for
// a file without any. Throws the Windows error code (ERROR_BAD_EXE_FORMAT)
// for bytes that are no PE file or whose offsets and counts lie. Allocates
// no more than the bytes given justify.
ZTL_PLATFORM_API std::shared_ptr<const MessageTable> ParseMessageTables(const BYTE* data, size_t size);

// The message tables of a module loaded as data; nullptr (last error
// ERROR_INVALID_HANDLE) for a handle that names none.
ZTL_PLATFORM_API std::shared_ptr<const MessageTable> MessageTablesOf(HMODULE module);

// Picks the text of a message: dwLanguageId 0 tries the neutral language,
// English (United States), English, then any; another language only itself
// and its primary language. Returns nullptr with the Windows code in error.
ZTL_PLATFORM_API const std::u16string* FindMessage(const MessageTable& table, DWORD id, DWORD languageId, DWORD& error);
// FindMessage's pick with the text prepared for formatting.
ZTL_PLATFORM_API const MessageTable::Message* FindTableMessage(const MessageTable& table, DWORD id, DWORD languageId,
                                                               DWORD& error);

}  // namespace ztl::os
