#pragma once
// Message files: Windows modules (PE32 and PE32+ files, as the message
// compiler tool chain builds them) loaded as data for the message tables in
// their resources.
//
// Only loading as data is served: the file is read, never run. A module
// handle of such a file has its low bit set, as on Windows. Message tables
// are parsed once per file and kept (by path, size and modification time)
// for the next load; a file that changes is read again.
//
// Any thread: the tables kept are shared under their own lock.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/os/messages/Format.h>
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

// The message tables of one module. The module's bytes are kept as they
// are, with the blocks of each language's table and, per block, where every
// kEntriesPerMark-th entry lies: an id is found by searching the blocks, and
// only the texts asked for are decoded (and kept, prepared for formatting).
// Safe to use from several threads.
class ZTL_PLATFORM_API MessageTable {
 public:
  struct Message {
    std::u16string text;
    PreparedMessage prepared;
  };
  struct Block {
    DWORD low, high;
    size_t firstMark;  // index of the block's first entry in marks
  };
  struct Language {
    WORD id;
    size_t data;  // offset of its MESSAGE_RESOURCE_DATA in the bytes
    std::vector<Block> blocks;
    bool ordered;  // blocks ascending without overlaps, for a binary search
  };
  static constexpr DWORD kEntriesPerMark = 16;

  MessageTable(std::string bytes, std::vector<Language> languages, std::vector<uint32_t> marks);
  ~MessageTable();
  MessageTable(const MessageTable&) = delete;
  MessageTable& operator=(const MessageTable&) = delete;

  bool Empty() const { return languages_.empty(); }
  // The language a language id of 0 picks; meaningful when not Empty().
  WORD DefaultLanguage() const { return defaultLanguage_; }
  bool HasLanguage(WORD language) const;
  // The languages, each once, ascending.
  std::vector<WORD> Languages() const;
  // The ids of a language's blocks, ascending, each once.
  std::vector<DWORD> Ids(WORD language) const;
  // The message of an id in a language (the first block that holds it), or
  // nullptr. The message lives as long as the table.
  const Message* Find(WORD language, DWORD id) const;
  // The bytes held, for the cache's account.
  size_t Size() const { return bytes_.size(); }

 private:
  std::string bytes_;
  std::vector<Language> languages_;
  std::vector<uint32_t> marks_;  // offsets of entries from their data
  WORD defaultLanguage_ = 0;
  struct Decoded;
  std::unique_ptr<Decoded> decoded_;
};

// Reads the message tables out of the bytes of a PE file; an empty table for
// a file without any. Throws OsError (os/OsError.h) with ERROR_BAD_EXE_FORMAT
// for bytes that are no PE file or whose offsets and counts lie. Takes time
// and memory in proportion to the bytes given.
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
