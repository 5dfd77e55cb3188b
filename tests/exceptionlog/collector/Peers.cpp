#include "Peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/RunCommand.h"
#include "tests/support/TestDir.h"

namespace ztl::test {

namespace {

const String kNpmDir = ZTL_NPM_DIR;
const String kPeers = ZTL_PEERS_SCRIPT;

String NodeCommand(const String& arguments) {
  return "node " + ShellQuoted(kPeers) + " " + ShellQuoted(kNpmDir) + " " + arguments;
}

}  // namespace

String PeersMissing() {
  if (RunCommandLine("node --version").status != 0) return "Node is not installed";
  for (const char* package : {"@spotlightjs/spotlight", "@sentry/core"})
    if (!std::filesystem::exists(kNpmDir + "/node_modules/" + package))
      return String(package) + " is not in " + kNpmDir + " (scripts/deps installs it from the npm registry)";
  return {};
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

TPeerServer::TPeerServer(const String& Role, int Port, const String& Folder) : folder_(Folder) {
  std::filesystem::create_directories(folder_);
  log_ = folder_ + ".log";
  const CommandRun started =
      RunCommandLine("exec " + NodeCommand(Role + " " + std::to_string(Port) + " " + ShellQuoted(folder_)) + " > " +
                     ShellQuoted(log_) + " 2>&1 & echo $!");
  pid_ = std::atoi(started.out.c_str());
  for (int waited = 0; waited < 200 && !listening_; ++waited) {
    listening_ = ReadFileBytes(log_).find("receiving on") != String::npos;
    if (!listening_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TPeerServer::~TPeerServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int waited = 0; waited < 100 && kill(pid_, 0) == 0; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

std::vector<String> TPeerServer::Envelopes() const {
  std::vector<String> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    if (entry.path().extension() == ".envelope") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

bool TPeerServer::WaitForEnvelopes(size_t count, int timeoutMs) const {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    if (Envelopes().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return Envelopes().size() >= count;
}

TParsed ParseEnvelope(const String& file) {
  const CommandRun run = RunCommandLine(NodeCommand("parse " + ShellQuoted(file)));
  TParsed parsed;
  if (run.status != 0) {
    parsed["error"].push_back(run.out);
    return parsed;
  }
  size_t start = 0;
  while (start < run.out.size()) {
    const size_t end = std::min(run.out.find('\n', start), run.out.size());
    const String line = run.out.substr(start, end - start);
    const size_t space = line.find(' ');
    parsed[line.substr(0, space)].push_back(space == String::npos ? String() : line.substr(space + 1));
    start = end + 1;
  }
  return parsed;
}

}  // namespace ztl::test
