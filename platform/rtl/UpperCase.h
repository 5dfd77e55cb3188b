#pragma once
// Upper case of UTF-16 code units as Windows compares names (registry keys
// and values, among others): the simple upper-case mapping of the Unicode
// Character Database, one code unit at a time, so a surrogate and any
// character without a one-unit upper case are their own upper case.
//
// The table is generated from UnicodeData.txt by
// tools/unicode/gen-upper-case.py and committed with it.
//
// Any thread: the functions keep no state.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <ztlogger/platform/rtl/Export.h>

namespace ztl::unicode {

ZTL_PLATFORM_API char16_t SimpleUpperCase(char16_t unit);

// Every unit whose upper case is another unit, with that upper case, in the
// order of the units: a walk over the table, for callers that would
// otherwise ask SimpleUpperCase of all 65,536 units.
ZTL_PLATFORM_API std::vector<std::pair<char16_t, char16_t>> UpperCaseMappings();

// Whether two names are equal when each unit is upper-cased.
ZTL_PLATFORM_API bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace ztl::unicode
