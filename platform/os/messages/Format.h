#pragma once
// Message texts: FormatMessageW over message tables of modules loaded as data
// (os/messages/PeFile.h), the system's texts for error codes, or a caller's
// template; the local memory it allocates; ExpandEnvironmentStringsW.
//
// Any thread: each thread keeps its own cache of the message it found last.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
inline constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x2000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0xFF;

inline constexpr DWORD ERROR_NO_WORK_DONE = 235;

using HLOCAL = void*;
inline constexpr UINT LMEM_FIXED = 0x0;
inline constexpr UINT LMEM_ZEROINIT = 0x40;

// Local memory as FormatMessageW's FORMAT_MESSAGE_ALLOCATE_BUFFER hands it
// out. LocalFree returns nullptr on success, the block on failure.
ZTL_PLATFORM_API HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
ZTL_PLATFORM_API HLOCAL LocalFree(HLOCAL hMem);

// Formats a message: from lpSource (FORMAT_MESSAGE_FROM_STRING), from the
// message table of the module lpSource (FROM_HMODULE; a module that is not
// loaded as data has none: ERROR_RESOURCE_TYPE_NOT_FOUND), and/or from the
// system's texts (FROM_SYSTEM). Inserts %1 to %99 with an optional !printf
// format! (strings by default; no floating point), %0, %n, %r, %t and %
// followed by any other character; line ends of the template become CR LF
// (with a width in the low byte they become blanks and the text is wrapped
// at that width). Arguments is a va_list* or, with ARGUMENT_ARRAY, an array
// of DWORD_PTR, each insert reading its own element unchecked, as on
// Windows: ztl::os::FormatMessageFromArray bounds it. A '*' width or
// precision takes the next insert as a number. Returns the characters
// written without the terminator, 0 on failure (ERROR_NO_WORK_DONE for an
// empty result; a text of 65,536 characters or more is never handed out:
// ERROR_MORE_DATA when allocating, else ERROR_INSUFFICIENT_BUFFER).
ZTL_PLATFORM_API DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                      LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);

// Expands each %NAME% of the environment (names without regard to case; an
// unknown or unterminated one stays as written). Returns the characters the
// result needs with its terminator, whether or not nSize held them; nothing
// is written unless it fits.
ZTL_PLATFORM_API DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

namespace ztl::os {

// FormatMessageW with an argument array (FORMAT_MESSAGE_ARGUMENT_ARRAY is
// implied) of count elements: an insert, or a '*' of its format, numbered
// beyond count is left as written instead of read. For callers formatting
// texts they did not write, such as an event record's message. No array
// (nullptr) is an empty one.
ZTL_PLATFORM_API DWORD FormatMessageFromArray(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                              LPWSTR lpBuffer, DWORD nSize, const DWORD_PTR* arguments, size_t count);

// FormatMessageW's formatting of one template with an array of count
// arguments: an insert numbered beyond count is left as written. Throws
// OsError (os/OsError.h) with the Windows error code for a template that
// cannot be formatted, and
// ERROR_MORE_DATA for a text of 65,536 characters or more.
ZTL_PLATFORM_API std::u16string FormatMessageText(std::u16string_view text, DWORD flags, const DWORD_PTR* arguments,
                                                  size_t count);

// A message template taken apart once, for the formatting nearly every
// caller asks for: inserts from an argument array, each a plain string, line
// ends as CR LF and no width. runs holds the template's text between its
// inserts with %n, %r, %t and a quoted character already resolved; pieces
// give, in order, a run (insert 0) or an insert's number. A template that
// uses anything else (an insert's printf format, a '%' with nothing after
// it) is not usable so, and is formatted from its text as before.
struct PreparedMessage {
  struct Piece {
    uint32_t start;
    uint32_t length;
    uint32_t insert;
  };
  bool usable = false;
  uint32_t highestInsert = 0;
  std::u16string runs;
  std::vector<Piece> pieces;
};

// Takes a template apart; never throws but for memory.
ZTL_PLATFORM_API PreparedMessage PrepareMessage(std::u16string_view text);

}  // namespace ztl::os
