#include <ztlogger/platform/os/Spawn.h>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace ztl::osspawn {

namespace {

// posix_spawn's file actions, released with their owner.
class TFileActions {
 public:
  TFileActions() { posix_spawn_file_actions_init(&actions_); }
  ~TFileActions() { posix_spawn_file_actions_destroy(&actions_); }
  TFileActions(const TFileActions&) = delete;
  TFileActions& operator=(const TFileActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() { Close(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }
  int* Out() { return &fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::vector<char*> ArgumentVector(const std::vector<String>& arguments) {
  std::vector<char*> argv;
  for (const String& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int WaitFor(pid_t pid, int& status) {
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return errno;
  return 0;
}

// Writes all of input; a reader that ends early is no reason to stop the
// process (a socket with MSG_NOSIGNAL instead of a pipe and SIGPIPE).
void Feed(int fd, const String& input) {
  size_t done = 0;
  while (done < input.size()) {
    const ssize_t sent = send(fd, input.data() + done, input.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    done += static_cast<size_t>(sent);
  }
}

}  // namespace

TRunResult Run(const String& program, const std::vector<String>& arguments, const String* input) {
  TRunResult result;
  TFileActions actions;
  int ends[2] = {-1, -1};
  if (input && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    result.SpawnError = errno;
    return result;
  }
  TFd ours(ends[0]);
  TFd theirs(ends[1]);
  if (input) posix_spawn_file_actions_adddup2(actions.Get(), theirs.Get(), STDIN_FILENO);
  std::vector<char*> argv = ArgumentVector(arguments);
  pid_t pid = 0;
  result.SpawnError = posix_spawnp(&pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ);
  if (result.SpawnError != 0) return result;
  theirs.Close();
  if (input) {
    Feed(ours.Get(), *input);
    shutdown(ours.Get(), SHUT_WR);
  }
  int status = 0;
  if (const int error = WaitFor(pid, status); error != 0) {
    result.SpawnError = error;
    return result;
  }
  result.Exited = WIFEXITED(status);
  result.ExitCode = result.Exited ? WEXITSTATUS(status) : -1;
  result.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

int StartDetached(const String& program, const std::vector<String>& arguments) {
  std::vector<char*> argv = ArgumentVector(arguments);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) return error;
  std::thread([pid] {
    int status = 0;
    WaitFor(pid, status);
  }).detach();
  return 0;
}

}  // namespace ztl::osspawn
