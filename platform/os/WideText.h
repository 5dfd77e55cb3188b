#pragma once
// UTF-8 <-> UTF-16 at the boundary of the Windows services, and the Windows
// rules for handing a text back in a caller's buffer. Private to platform/os.
// Any thread: the functions keep no state.
#include <string>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::oswide {

// Invalid UTF-8 bytes are taken as Latin-1 characters; unpaired surrogates
// become U+FFFD on the way back.
ZTL_PLATFORM_API std::u16string FromUtf8(const String& text);
ZTL_PLATFORM_API String ToUtf8(const WCHAR* text);
ZTL_PLATFORM_API String ToUtf8(const WCHAR* text, size_t length);

// The length of a null-terminated UTF-16 text.
ZTL_PLATFORM_API size_t Length(const WCHAR* text);

// Copies text and its null into buffer when capacity (in characters, null
// included) allows; returns false otherwise.
ZTL_PLATFORM_API bool CopyWithNull(const std::u16string& text, WCHAR* buffer, size_t capacity);

}  // namespace ztl::oswide
