#pragma once
// Running the project's programs from a test: a command line through the
// shell, with no input, its output collected.
#include <string>

namespace ztl::test {

struct CommandRun {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
};

// Runs commandLine (words quoted for the shell by the caller, ShellQuoted
// helps) and waits for its end. With withErrors, its standard error joins
// the output; otherwise it is dropped.
CommandRun RunCommandLine(const std::string& commandLine, bool withErrors = true);

// argument as one word of a shell command line.
std::string ShellQuoted(const std::string& argument);

}  // namespace ztl::test
