// The simple upper-case mapping of UTF-16 code units, from a table of runs
// generated out of the Unicode Character Database. Relies on the standard
// library alone, so that the operating-system services can use it too.
#include <ztlogger/platform/rtl/UpperCase.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace ztl::unicode {
namespace {

// Units first, first + stride, ... last map to unit + delta.
struct UpperCaseRun {
  uint16_t first;
  uint16_t last;
  int32_t delta;
  uint16_t stride;
};

constexpr UpperCaseRun kRuns[] = {
#include "UpperCaseTable.inc"
};

}  // namespace

char16_t SimpleUpperCase(char16_t unit) {
  if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  // The last run starting at or before the unit; the generator checks that
  // runs never interleave, so no other run can hold it.
  const auto* after = std::upper_bound(std::begin(kRuns), std::end(kRuns), unit,
                                       [](char16_t u, const UpperCaseRun& run) { return u < run.first; });
  if (after == std::begin(kRuns)) return unit;
  const UpperCaseRun& run = *(after - 1);
  if (unit > run.last || (unit - run.first) % run.stride != 0) return unit;
  return static_cast<char16_t>(unit + run.delta);
}

std::vector<std::pair<char16_t, char16_t>> UpperCaseMappings() {
  std::vector<std::pair<char16_t, char16_t>> mappings;
  for (char16_t unit = 0; unit < 0x80; ++unit)
    if (SimpleUpperCase(unit) != unit) mappings.emplace_back(unit, SimpleUpperCase(unit));
  for (const UpperCaseRun& run : kRuns)
    for (uint32_t unit = run.first; unit <= run.last; unit += run.stride)
      if (unit >= 0x80)  // ASCII is answered above, as SimpleUpperCase answers it
        mappings.emplace_back(static_cast<char16_t>(unit),
                              static_cast<char16_t>(static_cast<int32_t>(unit) + run.delta));
  return mappings;
}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return x == y || SimpleUpperCase(x) == SimpleUpperCase(y); });
}

}  // namespace ztl::unicode
