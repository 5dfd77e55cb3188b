#pragma once
// Child processes of tests and benchmarks, started one way: a program, or a
// function of the running program in a forked copy of it, with its standard
// input at /dev/null and its output and errors collected (or dropped), its
// end waited for with an optional time limit. Each child leads a process
// group of its own, so that a time limit also ends what it started.
// Not thread-safe: one thread owns a ChildProcess.
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ztl::test {

// Where one of a child's output streams goes.
enum class Sink {
  Collected,
  Dropped,
  JoinsOutput,  // standard error only: mixed into the output, in order
};

struct RunOptions {
  // "NAME=value" sets a variable in the child, a bare "NAME" removes it.
  std::vector<std::string> environment;
  Sink output = Sink::Collected;
  Sink errors = Sink::Collected;
  // Past this, Wait kills the child's group; zero waits as long as it runs.
  std::chrono::milliseconds timeout{0};
};

struct CommandRun {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  int signal = 0;   // the signal that ended it; 0 when it exited
  bool started = false;
  bool timedOut = false;
  double cpuSeconds = 0;  // the processor time (user and system) the child used
  std::string out;
  std::string err;
};

class ChildProcess {
 public:
  // Starts argv[0] (a path, or a name looked up in PATH) with the rest as
  // its arguments.
  explicit ChildProcess(const std::vector<std::string>& argv, const RunOptions& options = {});
  // Runs body in a forked copy of this process, which exits with its result
  // (125 when it throws).
  explicit ChildProcess(const std::function<int()>& body, const RunOptions& options = {});
  // A child still running is killed with its group and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Id() const { return pid_; }
  // Collects what the child writes within `wait` (zero: what is there now);
  // false once all its collected streams have ended.
  bool Collect(std::chrono::milliseconds wait);
  // What the child wrote on its standard output so far.
  const std::string& Out() const { return run_.out; }
  // Sends sig to the child alone.
  void Signal(int sig) const;
  // Collects to the end of the child's output, then reaps it. Once only.
  CommandRun Wait();

 private:
  void OpenPipes(int outEnds[2], int errEnds[2]);
  void StartProgram(const std::vector<std::string>& argv, int outEnds[2], int errEnds[2]);
  void StartFunction(const std::function<int()>& body, int outEnds[2], int errEnds[2]);
  // Keeps the reading ends of the pipes; closes the writing ends.
  void KeepReadingEnds(int outEnds[2], int errEnds[2]);
  bool CollectFor(int milliseconds);
  void Reap();
  int MillisecondsLeft() const;

  RunOptions options_;
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::chrono::steady_clock::time_point deadline_;
  CommandRun run_;
};

CommandRun RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});
CommandRun RunInChild(const std::function<int()>& body, const RunOptions& options = {});

// Runs commandLine through /bin/sh (words quoted for the shell by the caller,
// ShellQuoted helps). With withErrors, its standard error joins the output;
// otherwise it is dropped.
CommandRun RunCommandLine(const std::string& commandLine, bool withErrors = true);

// argument as one word of a shell command line.
std::string ShellQuoted(const std::string& argument);

// Whether a program of that name is found through PATH.
bool ProgramExists(const std::string& name);

// The path of a helper program built next to the running program.
std::string HelperProgram(const std::string& name);

}  // namespace ztl::test
