// Fuzz target for libFuzzer: the message-table reader on arbitrary file
// contents. It must fail cleanly (ERROR_BAD_EXE_FORMAT) or give tables whose
// texts the bytes could hold; formatting each text must not fail in any
// other way than with a Windows code, and the text as taken apart for
// formatting must format the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <ztlogger/platform/os/Testing.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>

namespace ztl::test {

int CheckMessageModule(const uint8_t* data, size_t size) {
  std::shared_ptr<const ztl::os::MessageTable> table;
  try {
    table = ztl::os::ParseMessageTables(data, size);
  } catch (const ztl::os::OsError& error) {
    if (error.code != ERROR_BAD_EXE_FORMAT) std::abort();
    return 0;
  }
  size_t held = 0;
  const char16_t insert[] = u"x";
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insert), reinterpret_cast<DWORD_PTR>(insert)};
  for (const WORD language : table->Languages()) {
    for (const DWORD id : table->Ids(language)) {
      DWORD error = 0;
      const ztl::os::MessageTable::Message* message = ztl::os::FindTableMessage(*table, id, language, error);
      if (!message) std::abort();
      const std::u16string& text = message->text;
      held += text.size();
      std::u16string formatted;
      bool failed = false;
      try {
        formatted = ztl::os::FormatMessageText(text, 0, arguments, 2);
      } catch (const ztl::os::OsError&) {
        failed = true;
      }
      // The text taken apart formats as the text itself.
      const ztl::os::PreparedMessage& prepared = message->prepared;
      if (prepared.usable && prepared.highestInsert <= 2 &&
          (failed || ztl::os::FormatPreparedForTesting(prepared, arguments) != formatted))
        std::abort();
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
