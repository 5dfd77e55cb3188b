#pragma once
// An event record's message text as its source's message files give it: the
// files the source names in "EventMessageFile" under its log's key
// (";"-separated, environment variables expanded), the first holding the
// event id, formatted with the record's strings as inserts.
//
// Any thread: message tables are shared under the loader's own lock.
#include <string>
#include <string_view>
#include <vector>

#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::os {

// The text without its final line breaks; empty when the source names no
// file or none of its files has the id (or its text cannot be formatted).
ZTL_PLATFORM_API std::u16string EventMessageText(std::u16string_view log, std::u16string_view source, DWORD eventId,
                                                 const std::vector<std::u16string_view>& strings);

}  // namespace ztl::os
