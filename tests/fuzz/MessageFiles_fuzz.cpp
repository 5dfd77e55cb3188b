// Fuzz target for libFuzzer: the message-table reader on arbitrary file
// contents. It must fail cleanly (ERROR_BAD_EXE_FORMAT) or give tables whose
// texts the bytes could hold, and formatting each text must not fail in any
// other way than with a Windows code.
#include <cstdint>
#include <cstdlib>

#include "platform/os/FormatMessage.h"
#include "platform/os/MessageFiles.h"

namespace ztl::test {

int CheckMessageModule(const uint8_t* data, size_t size) {
  std::shared_ptr<const ztl::os::MessageTable> table;
  try {
    table = ztl::os::ParseMessageTables(data, size);
  } catch (DWORD error) {
    if (error != ERROR_BAD_EXE_FORMAT) std::abort();
    return 0;
  }
  size_t held = 0;
  const char16_t insert[] = u"x";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insert), reinterpret_cast<DWORD_PTR>(insert)};
  for (const auto& [language, messages] : table->languages) {
    for (const auto& [id, text] : messages) {
      held += text.size();
      try {
        ztl::os::FormatMessageText(text, 0, arguments, 2);
      } catch (DWORD) {
      }
    }
  }
  // Every character came out of the bytes (UTF-8 and ANSI texts take at
  // least one byte a character).
  if (held > size) std::abort();
  return 0;
}

}  // namespace ztl::test

#ifdef ZTL_FUZZ_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return ztl::test::CheckMessageModule(data, size);
}
#endif
