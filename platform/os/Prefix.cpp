#include <ztlogger/platform/os/Prefix.h>

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace ztl::os {

String PlatformPrefix() {
  if (const char* prefix = std::getenv("ZTL_PREFIX"); prefix && *prefix) return prefix;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return String(data) + "/ztlogger";
  const char* home = std::getenv("HOME");
  if (home && *home) return String(home) + "/.local/share/ztlogger";
  // The account's own home: getpwuid_r, as any thread may ask.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(1024);
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) buffer.resize(buffer.size() * 2);
  return String(found && found->pw_dir ? found->pw_dir : "/tmp") + "/.local/share/ztlogger";
}

}  // namespace ztl::os
