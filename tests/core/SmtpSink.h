#pragma once
// A one-session SMTP server on 127.0.0.1 for the end-to-end mail test: it
// accepts one client, records the envelope (sender, recipients) and the
// message, and answers every command with success. It gives up after a
// bounded wait, so a client that never comes cannot hang the test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>

#include <thread>
#include <vector>

#include <ztlogger/platform/rtl/Types.h>

namespace ztl::test {

class SmtpSink {
 public:
  SmtpSink() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks a free port
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 1) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
    worker_ = std::thread([this] { Serve(); });
  }

  ~SmtpSink() {
    if (worker_.joinable()) worker_.join();
    if (listener_ >= 0) close(listener_);
  }
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  int Port() const { return port_; }
  // Waits for the session to end; the results are read after this.
  void Finish() {
    if (worker_.joinable()) worker_.join();
  }
  const String& Sender() const { return sender_; }
  const std::vector<String>& Recipients() const { return recipients_; }
  const String& Message() const { return message_; }
  const std::vector<String>& Commands() const { return commands_; }

 private:
  void Serve() {
    pollfd waiter{listener_, POLLIN, 0};
    if (poll(&waiter, 1, 30000) <= 0) return;
    client_ = accept(listener_, nullptr, nullptr);
    if (client_ < 0) return;
    Say("220 127.0.0.1 ESMTP sink");
    String line;
    while (ReadLine(line)) {
      commands_.push_back(line);
      if (StartsWith(line, "EHLO")) {
        Say("250-127.0.0.1\r\n250 8BITMIME");
      } else if (StartsWith(line, "MAIL FROM:")) {
        sender_ = Angled(line);
        Say("250 OK");
      } else if (StartsWith(line, "RCPT TO:")) {
        recipients_.push_back(Angled(line));
        Say("250 OK");
      } else if (StartsWith(line, "DATA")) {
        Say("354 go on");
        if (!ReadData()) break;
        Say("250 queued");
      } else if (StartsWith(line, "QUIT")) {
        Say("221 bye");
        break;
      } else {
        Say("250 OK");
      }
    }
    close(client_);
  }

  static bool StartsWith(const String& line, const char* command) {
    const String wanted = command;
    return line.size() >= wanted.size() && strncasecmp(line.c_str(), command, wanted.size()) == 0;
  }

  static String Angled(const String& line) {
    const size_t open = line.find('<'), close = line.find('>');
    return open == String::npos || close == String::npos ? String() : line.substr(open + 1, close - open - 1);
  }

  void Say(const String& reply) {
    const String bytes = reply + "\r\n";
    (void)!write(client_, bytes.data(), bytes.size());
  }

  // One line without its CR LF; false when the client is gone or silent.
  bool ReadLine(String& line) {
    line.clear();
    while (true) {
      const size_t end = buffer_.find("\r\n");
      if (end != String::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return true;
      }
      pollfd waiter{client_, POLLIN, 0};
      if (poll(&waiter, 1, 30000) <= 0) return false;
      char chunk[4096];
      const ssize_t got = read(client_, chunk, sizeof chunk);
      if (got <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }

  // The message up to the lone ".", with the dot-stuffing undone.
  bool ReadData() {
    String line;
    while (ReadLine(line)) {
      if (line == ".") return true;
      message_ += (line.size() > 1 && line[0] == '.' ? line.substr(1) : line) + "\r\n";
    }
    return false;
  }

  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
  std::thread worker_;
  String buffer_;
  String sender_;
  std::vector<String> recipients_;
  String message_;
  std::vector<String> commands_;
};

}  // namespace ztl::test
