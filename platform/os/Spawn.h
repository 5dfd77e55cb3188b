#pragma once
// Starting helper programs for the services that hand work to the desktop
// (mail client, submission program, "open"): found through PATH, started
// with posix_spawnp and an argument vector, never through a shell.
//
// Any thread.
#include <sys/types.h>

#include <vector>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::osspawn {

struct ZTL_PLATFORM_API TRunResult {
  int SpawnError = 0;  // errno when the program could not be started
  bool Exited = false;
  int ExitCode = -1;   // when Exited
  int Signal = 0;      // when ended by a signal
};

// Runs program with the arguments (argv[0] is the program's name), feeds
// input to its standard input when given, and waits for its end.
ZTL_PLATFORM_API TRunResult Run(const String& program, const std::vector<String>& arguments, const String* input = nullptr);

// Starts program without waiting; its end is collected in the background so
// no zombie is left. Returns 0 or the errno of the start.
ZTL_PLATFORM_API int StartDetached(const String& program, const std::vector<String>& arguments);

}  // namespace ztl::osspawn
