#include "tests/support/RunCommand.h"

#include <sys/wait.h>

#include <cstdio>

namespace ztl::test {

CommandRun RunCommandLine(const std::string& commandLine, bool withErrors) {
  CommandRun run;
  FILE* pipe = popen((commandLine + " </dev/null" + (withErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ShellQuoted(const std::string& argument) {
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace ztl::test
