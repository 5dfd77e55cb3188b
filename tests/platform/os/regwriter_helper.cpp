// Writes registry values from a process of its own, for the store's
// contention tests: regwriter_helper ID COUNT SIZE (ZTL_PREFIX names the
// store). Each round writes the writer's own value "W<ID>-<i>" and one of ten
// values shared by every writer, "Shared<i % 10>". A value's data tells who
// wrote it and in which round, and is filled to SIZE bytes with a pattern
// derived from both, so a reader can tell a whole value from a torn one.
// COUNT 0 writes until killed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ztlogger/platform/os/registry/Api.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int id = std::atoi(argv[1]);
  const long count = std::atol(argv[2]);
  const size_t size = static_cast<size_t>(std::atol(argv[3]));
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Contention", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  for (long i = 0; count == 0 || i < count; ++i) {
    std::string data = std::to_string(id) + ":" + std::to_string(i) + ":";
    while (data.size() < size) data += static_cast<char>('a' + (id * 7 + i + data.size()) % 26);
    const std::u16string own = u"W" + std::u16string(1, static_cast<char16_t>(u'0' + id)) + u"-" +
                               std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) +
                               std::u16string(1, static_cast<char16_t>(u'0' + (i / 10) % 10)) +
                               std::u16string(1, static_cast<char16_t>(u'0' + (i / 100) % 10));
    const std::u16string shared = u"Shared" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
    for (const auto& name : {own, shared})
      if (RegSetValueExW(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
        return 1;
  }
  RegCloseKey(key);
  return 0;
}
