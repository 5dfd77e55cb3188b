#include <ztlogger/platform/os/Prefix.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace ztl::os {

String PlatformPrefix() {
  if (const char* prefix = std::getenv("ZTL_PREFIX"); prefix && *prefix) return prefix;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return String(data) + "/ztlogger";
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* entry = getpwuid(getuid());
    home = entry ? entry->pw_dir : "/tmp";
  }
  return String(home) + "/.local/share/ztlogger";
}

}  // namespace ztl::os
