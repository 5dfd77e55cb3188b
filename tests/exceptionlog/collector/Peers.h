#pragma once
// The collector tests' peers on Node (peers.mjs beside this file): Sentry's
// Spotlight sidecar as the receiver, a stub that answers 429 first, and
// Sentry's envelope parser. They come from the npm registry into tools/.npm
// (scripts/deps); without them the tests are skipped and say why.
#include <map>
#include <vector>

#include <ztlogger/platform/rtl/Types.h>

namespace ztl::test {

// Empty when Node and the peers are there; else why not.
String PeersMissing();
// A loopback port that nothing listens on now.
int FreeLoopbackPort();

// A peer server in a process of its own, on 127.0.0.1:Port, writing every
// envelope it takes into Folder; ended when freed.
class TPeerServer {
 public:
  // Role "receive" (Spotlight) or "stub"; waits until it listens.
  TPeerServer(const String& Role, int Port, const String& Folder);
  ~TPeerServer();
  TPeerServer(const TPeerServer&) = delete;
  TPeerServer& operator=(const TPeerServer&) = delete;

  bool Listening() const { return listening_; }
  const String& Output() const { return log_; }
  // The envelopes taken so far, in the order they arrived.
  std::vector<String> Envelopes() const;
  // Waits up to timeoutMs for at least count envelopes.
  bool WaitForEnvelopes(size_t count, int timeoutMs) const;

 private:
  String folder_;
  String log_;
  int pid_ = 0;
  bool listening_ = false;
};

// What Sentry's parser read in an envelope file: "key" to the values of the
// lines "key value" (see peers.mjs); attachments are written beside the file
// as FILE.NAME.
using TParsed = std::map<String, std::vector<String>>;
TParsed ParseEnvelope(const String& file);

}  // namespace ztl::test
