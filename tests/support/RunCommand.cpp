#include "tests/support/RunCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>

extern char** environ;

namespace ztl::test {
namespace {

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// This process's environment with the changes applied ("NAME=value" sets,
// "NAME" removes).
std::vector<std::string> ChangedEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> variables;
  for (char** v = environ; *v; ++v) variables.emplace_back(*v);
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(variables, [&](const std::string& v) { return v.compare(0, name.size() + 1, name + "=") == 0; });
    if (change.find('=') != std::string::npos) variables.push_back(change);
  }
  return variables;
}

std::vector<char*> NullTerminated(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Gives a forked child its streams: the pipes' writing ends, /dev/null.
void ConnectStreamsInChild(const RunOptions& options, int outEnds[2], int errEnds[2]) {
  const int nothing = open("/dev/null", O_RDWR);
  dup2(nothing, STDIN_FILENO);
  dup2(options.output == Sink::Collected ? outEnds[1] : nothing, STDOUT_FILENO);
  if (options.errors == Sink::JoinsOutput)
    dup2(STDOUT_FILENO, STDERR_FILENO);
  else
    dup2(options.errors == Sink::Collected ? errEnds[1] : nothing, STDERR_FILENO);
  if (nothing > STDERR_FILENO) close(nothing);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const RunOptions& options) : options_(options) {
  int outEnds[2] = {-1, -1}, errEnds[2] = {-1, -1};
  OpenPipes(outEnds, errEnds);
  StartProgram(argv, outEnds, errEnds);
  KeepReadingEnds(outEnds, errEnds);
}

ChildProcess::ChildProcess(const std::function<int()>& body, const RunOptions& options) : options_(options) {
  int outEnds[2] = {-1, -1}, errEnds[2] = {-1, -1};
  OpenPipes(outEnds, errEnds);
  StartFunction(body, outEnds, errEnds);
  KeepReadingEnds(outEnds, errEnds);
}

ChildProcess::~ChildProcess() {
  CloseIfOpen(out_);
  CloseIfOpen(err_);
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Close-on-exec pipes, so that children started at the same time by other
// threads do not hold them open.
void ChildProcess::OpenPipes(int outEnds[2], int errEnds[2]) {
  if (options_.output == Sink::Collected && pipe2(outEnds, O_CLOEXEC) != 0) outEnds[0] = outEnds[1] = -1;
  if (options_.errors == Sink::Collected && pipe2(errEnds, O_CLOEXEC) != 0) errEnds[0] = errEnds[1] = -1;
  if (options_.timeout.count() > 0) deadline_ = std::chrono::steady_clock::now() + options_.timeout;
}

void ChildProcess::StartProgram(const std::vector<std::string>& argv, int outEnds[2], int errEnds[2]) {
  if (argv.empty()) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (options_.output == Sink::Collected)
    posix_spawn_file_actions_adddup2(&actions, outEnds[1], STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (options_.errors == Sink::Collected)
    posix_spawn_file_actions_adddup2(&actions, errEnds[1], STDERR_FILENO);
  else if (options_.errors == Sink::JoinsOutput)
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t noSignals;
  sigemptyset(&noSignals);
  posix_spawnattr_setsigmask(&attributes, &noSignals);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> words = argv;
  std::vector<std::string> variables = ChangedEnvironment(options_.environment);
  const std::vector<char*> argPointers = NullTerminated(words);
  const std::vector<char*> envPointers = NullTerminated(variables);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes, argPointers.data(), envPointers.data()) == 0)
    pid_ = pid;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

void ChildProcess::StartFunction(const std::function<int()>& body, int outEnds[2], int errEnds[2]) {
  std::fflush(nullptr);  // what this process buffered is not written twice
  const pid_t pid = fork();
  if (pid < 0) return;
  if (pid > 0) {
    setpgid(pid, pid);  // also here: a kill of the group may come before the child has run
    pid_ = pid;
    return;
  }
  setpgid(0, 0);
  ConnectStreamsInChild(options_, outEnds, errEnds);
  for (const std::string& change : options_.environment) {
    const size_t equals = change.find('=');
    if (equals == std::string::npos)
      unsetenv(change.c_str());
    else
      setenv(change.substr(0, equals).c_str(), change.c_str() + equals + 1, 1);
  }
  int code = 125;
  try {
    code = body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the child raised: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "the child raised an exception\n");
  }
  std::fflush(nullptr);
  _exit(code);
}

void ChildProcess::KeepReadingEnds(int outEnds[2], int errEnds[2]) {
  CloseIfOpen(outEnds[1]);
  CloseIfOpen(errEnds[1]);
  out_ = outEnds[0];
  err_ = errEnds[0];
  if (Started()) return;
  CloseIfOpen(out_);
  CloseIfOpen(err_);
}

int ChildProcess::MillisecondsLeft() const {
  if (options_.timeout.count() <= 0) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

bool ChildProcess::Collect(std::chrono::milliseconds wait) { return CollectFor(static_cast<int>(wait.count())); }

bool ChildProcess::CollectFor(int milliseconds) {
  pollfd waiting[2];
  std::string* into[2];
  int count = 0;
  if (out_ >= 0) waiting[count] = {out_, POLLIN, 0}, into[count++] = &run_.out;
  if (err_ >= 0) waiting[count] = {err_, POLLIN, 0}, into[count++] = &run_.err;
  if (count == 0) return false;
  if (poll(waiting, static_cast<nfds_t>(count), milliseconds) <= 0) return true;
  for (int i = 0; i < count; ++i) {
    if (waiting[i].revents == 0) continue;
    char buffer[65536];
    const ssize_t got = read(waiting[i].fd, buffer, sizeof buffer);
    if (got > 0)
      into[i]->append(buffer, static_cast<size_t>(got));
    else if (got == 0 || errno != EINTR)
      CloseIfOpen(waiting[i].fd == out_ ? out_ : err_);
  }
  return out_ >= 0 || err_ >= 0;
}

void ChildProcess::Signal(int sig) const {
  if (pid_ > 0) kill(pid_, sig);
}

CommandRun ChildProcess::Wait() {
  if (!Started()) return run_;
  while (CollectFor(MillisecondsLeft())) {
    if (MillisecondsLeft() != 0) continue;
    // Time is up: the group goes, and what it wrote last is taken if it
    // comes soon (an escaped grandchild may hold the pipe).
    kill(-pid_, SIGKILL);
    run_.timedOut = true;
    for (int i = 0; i < 100 && CollectFor(10);) ++i;
    CloseIfOpen(out_);
    CloseIfOpen(err_);
  }
  Reap();
  return run_;
}

void ChildProcess::Reap() {
  run_.started = true;
  int status = 0;
  rusage usage{};
  for (;;) {
    const int left = run_.timedOut ? -1 : MillisecondsLeft();
    const pid_t ended = wait4(pid_, &status, left < 0 ? 0 : WNOHANG, &usage);
    if (ended == pid_) break;
    if (ended < 0 && errno != EINTR) return;
    if (ended == 0 && left == 0) {
      kill(-pid_, SIGKILL);
      run_.timedOut = true;
    } else if (ended == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 10)));
    }
  }
  pid_ = -1;
  run_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  run_.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

CommandRun RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  return ChildProcess(argv, options).Wait();
}

CommandRun RunInChild(const std::function<int()>& body, const RunOptions& options) {
  return ChildProcess(body, options).Wait();
}

CommandRun RunCommandLine(const std::string& commandLine, bool withErrors) {
  RunOptions options;
  options.errors = withErrors ? Sink::JoinsOutput : Sink::Dropped;
  return RunProgram({"/bin/sh", "-c", commandLine}, options);
}

std::string ShellQuoted(const std::string& argument) {
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool ProgramExists(const std::string& name) {
  return RunCommandLine("command -v " + ShellQuoted(name), false).status == 0;
}

std::string HelperProgram(const std::string& name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

}  // namespace ztl::test
