#pragma once
// The exception logger's link to a collecting server of Sentry's protocol: a
// worker thread that turns each report into an envelope, writes it to the
// collector's queue folder and sends what the queue holds, oldest first.
// Failures stay queued and are tried again later, ever less often; a server
// that asks to wait (429, Retry-After, X-Sentry-Rate-Limits) is not asked
// again before then; an envelope it refuses (another 4xx) is dropped and
// counted, as are those the queue's bound drops, in a client report sent
// with the next envelope.
//
// Made, given reports and freed on the main thread; the crash path and the
// last-chance reports write their envelopes on the thread that reports.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include <ztlogger/core/CollectorDsn.h>
#include <ztlogger/exceptionlog/CollectorEnvelope.h>
#include <ztlogger/exceptionlog/CollectorQueue.h>
#include <ztlogger/platform/rtl/Threads.h>

namespace ztl {

class TDwarfPlaces;

// One report as the exception logger took it, to be made into an event.
struct TCollectorReport {
  String ClassName;
  String Message;
  bool Fatal = false;  // a crash: level "fatal", not handled
  String Mechanism = "Application.OnException";
  int64_t Milliseconds = 0;  // when it happened, since 1970
  // The raise's return addresses, innermost first (ExceptStack), and where
  // the innermost one's source is looked up.
  std::vector<void*> Stack;
  void* FirstSource = nullptr;
  String ReportText;      // attached as report.txt
  String LogFile;         // attached when not empty
  String Screenshot;      // the picture's bytes, attached when not empty
  String ScreenshotName;  // its file name, which tells its type
};

class TCollectorSender : public TThread {
 public:
  // Opens the DSN's queue folder and starts the thread, which sends what an
  // earlier run left there when AutoSend is set. Raises EFCreateError when
  // the folder cannot be made.
  TCollectorSender(const TCollectorDsn& Dsn, bool AutoSend, const collector::TAppFacts& App);
  // Writes the reports not yet queued to the queue and stops, breaking off a
  // transfer under way (the envelope stays queued).
  ~TCollectorSender() override;

  const TCollectorDsn& Dsn() const { return FDsn; }
  bool AutoSend() const { return FAutoSend; }
  TEnvelopeQueue& Queue() { return FQueue; }

  // Hands a report to the thread; returns at once.
  void Submit(TCollectorReport Report);
  // Makes the envelope of Report and queues it on the calling thread, for
  // reports of a process that is about to end; the thread sends it if it
  // still can. Raises what writing the queue raises.
  void QueueNow(const TCollectorReport& Report);
  // Sends what is queued now, also without AutoSend, and without waiting
  // out the pause after a failure (a rate limit the server set still holds).
  void SendQueued();
  // Waits up to Timeout for the reports handed over to be queued and the
  // queue to be sent; true when nothing is left to send, false when time ran
  // out or a send failed and waits for its next try.
  bool Flush(std::chrono::milliseconds Timeout);

 protected:
  void Execute() override;

 private:
  using TClock = std::chrono::steady_clock;
  enum class TOutcome { Emptied, Waiting, Stopped };

  String MakeEnvelope(const TCollectorReport& Report, TDwarfPlaces& Places) const;
  void WriteToQueue(const std::deque<TCollectorReport>& Reports, TDwarfPlaces& Places);
  TOutcome SendAll();
  // How long the server asked to wait, from a 429 answer.
  std::chrono::seconds RateLimitDelay(const String& RetryAfter, const String& RateLimits) const;
  bool ReadyToSend() const;  // with FLock held

  TCollectorDsn FDsn;
  bool FAutoSend;
  String FContexts;
  TEnvelopeQueue FQueue;
  const void* FCrashEnvelope = nullptr;  // withdrawn when the sender goes

  std::mutex FLock;
  std::condition_variable FWake;
  std::condition_variable FIdle;  // told whenever the thread is about to wait
  bool FAwaitingReports = false;  // the thread waits for reports: a new one wakes it
  bool FWriting = false;          // a report taken from FReports is being queued
  std::deque<TCollectorReport> FReports;
  bool FPending = true;           // the queue may hold something to send
  uint64_t FQueuedCount = 0;      // envelopes queued by any thread, to see new ones
  bool FSendAsked = false;        // SendQueued without AutoSend
  TClock::time_point FRetryAt{};  // after a failure
  TClock::time_point FRateLimitedUntil{};
  TClock::time_point FNextBatch{};  // the earliest the next batch of reports is queued
  std::chrono::seconds FBackOff{0};
  bool FToldUnanswered = false;  // a send got no answer: told once until one is answered
  uint64_t FCacheOverflow = 0;  // dropped by the queue's bound
  uint64_t FSendErrors = 0;     // refused by the server
};

}  // namespace ztl
