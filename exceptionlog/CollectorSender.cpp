#include <ztlogger/exceptionlog/CollectorSender.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <ztlogger/exceptionlog/CollectorCrash.h>
#include <ztlogger/exceptionlog/CollectorHttp.h>
#include <ztlogger/exceptionlog/DwarfPlaces.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {

namespace {

using std::chrono::seconds;

// The first pause after a failed send, doubled after each further one up to
// the last.
constexpr seconds kFirstBackOff{2};
// Reports that keep coming are queued a batch at a time, at most this often:
// a flood of them costs the file system a commit now and then rather than
// one a report, and the queue keeps only its newest entries anyway.
constexpr std::chrono::milliseconds kBatchSpacing{500};
constexpr seconds kLongestBackOff{600};
// A server that asks to wait without saying how long; and the longest wait
// believed.
constexpr seconds kDefaultRateLimit{60};
constexpr seconds kLongestRateLimit{24 * 3600};
// The end of a log file that goes with a report.
constexpr std::streamoff kLogAttachmentBytes = 1024 * 1024;

// The last kLogAttachmentBytes of a file; empty when it cannot be read.
String FileTail(const String& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return {};
  const std::streamoff size = file.tellg();
  const std::streamoff start = std::max<std::streamoff>(0, size - kLogAttachmentBytes);
  file.seekg(start);
  String bytes(static_cast<size_t>(size - start), '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(file.gcount()));
  return bytes;
}

bool AllDigits(const String& text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void Tell(const String& line) {
  const String text = "ZTLogger: " + line + "\n";
  std::fputs(text.c_str(), stderr);
}

}  // namespace

TCollectorSender::TCollectorSender(const TCollectorDsn& Dsn, bool AutoSend, const collector::TAppFacts& App)
    : FDsn(Dsn), FAutoSend(AutoSend), FContexts(collector::ContextsJson(App)), FQueue(TEnvelopeQueue::FolderFor(Dsn)) {
  FCrashEnvelope = collector::PrepareCrashEnvelope(FQueue.Folder(), FDsn.Text(), FContexts,
                                                   collector::DebugMetaJson(LoadedModules()), App.Version);
  Start();
}

TCollectorSender::~TCollectorSender() {
  collector::WithdrawCrashEnvelope(FCrashEnvelope);
  {
    std::lock_guard guard(FLock);
    Terminate();
  }
  FWake.notify_all();
  TerminateAndWait();
}

void TCollectorSender::Submit(TCollectorReport Report) {
  bool wake;
  {
    std::lock_guard guard(FLock);
    // A flood of reports is held to the queue's bound here already: the
    // queue would drop the oldest of them anyway.
    if (FReports.size() >= TEnvelopeQueue::kDefaultMaxCount) {
      FReports.pop_front();
      ++FCacheOverflow;
    }
    FReports.push_back(std::move(Report));
    // Waking the thread costs the raising thread more than the rest of
    // this: only when it waits for reports (it comes back for them after a
    // batch, a send or its spacing).
    wake = FAwaitingReports;
  }
  if (wake) FWake.notify_all();
}

void TCollectorSender::QueueNow(const TCollectorReport& Report) {
  TDwarfPlaces places;
  const size_t dropped = FQueue.Put(MakeEnvelope(Report, places));
  {
    std::lock_guard guard(FLock);
    FCacheOverflow += dropped;
    FPending = true;
    ++FQueuedCount;
  }
  FWake.notify_all();
}

void TCollectorSender::SendQueued() {
  {
    std::lock_guard guard(FLock);
    FSendAsked = true;
    FPending = true;
    FRetryAt = {};
    FBackOff = seconds{0};
  }
  FWake.notify_all();
}

bool TCollectorSender::Flush(std::chrono::milliseconds Timeout) {
  std::unique_lock lock(FLock);
  return FIdle.wait_for(lock, Timeout,
                        [this] {
                          const bool failed = FPending && TClock::now() < FRetryAt;
                          return (FReports.empty() && !FWriting && !FPending) || failed || Terminated();
                        }) &&
         !FPending && FReports.empty();
}

String TCollectorSender::MakeEnvelope(const TCollectorReport& Report, TDwarfPlaces& Places) const {
  struct TNamedFrame {
    uintptr_t Address;
    String Package;
    TDwarfPlaces::TPlace Place;
  };
  std::vector<TNamedFrame> named;
  for (size_t i = 0; i < Report.Stack.size(); ++i) {
    void* address = Report.Stack[i];
    if (!address) continue;
    // A return address's call is the instruction before it; the innermost
    // frame's source is given.
    void* source = i == 0 && Report.FirstSource ? Report.FirstSource : static_cast<char*>(address) - 1;
    named.push_back({reinterpret_cast<uintptr_t>(address), ModuleFileNameOf(address), Places.PlaceOf(source)});
  }
  // Oldest call first, the raise last.
  std::reverse(named.begin(), named.end());
  std::vector<collector::TEventFrame> frames;
  for (const TNamedFrame& frame : named)
    frames.push_back({frame.Address, frame.Package, frame.Place.Function, frame.Place.File, frame.Place.Line});

  const String eventId = collector::NewEventId();
  char timestamp[collector::kRfc3339Length];
  collector::FormatRfc3339(Report.Milliseconds, timestamp);
  const String debugMeta = collector::DebugMetaJson(LoadedModules());
  collector::TEventFields event;
  event.EventId = eventId;
  event.Timestamp = std::string_view(timestamp, sizeof timestamp);
  event.Level = Report.Fatal ? "fatal" : "error";
  event.Type = Report.ClassName;
  event.Value = Report.Message;
  event.Mechanism = Report.Mechanism;
  event.Handled = !Report.Fatal;
  event.Frames = frames.data();
  event.FrameCount = frames.size();
  event.Contexts = FContexts;
  event.DebugMeta = debugMeta;
  String eventJson;
  collector::TStringSink eventSink(eventJson);
  collector::WriteEvent(eventSink, event);

  char sentAt[collector::kRfc3339Length];
  collector::FormatRfc3339(collector::NowMilliseconds(), sentAt);
  String envelope;
  collector::TStringSink sink(envelope);
  collector::WriteEnvelopeHeader(sink, eventId, FDsn.Text(), std::string_view(sentAt, sizeof sentAt));
  collector::WriteItem(sink, "event", eventJson);
  if (!Report.ReportText.empty())
    collector::WriteItem(sink, "attachment", Report.ReportText, "report.txt", "text/plain");
  if (!Report.LogFile.empty()) {
    const String log = FileTail(Report.LogFile);
    if (!log.empty())
      collector::WriteItem(sink, "attachment", log, ExtractFileName(Report.LogFile),
                           SameText(ExtractFileExt(Report.LogFile), ".xml") ? "application/xml" : "text/plain");
  }
  if (!Report.Screenshot.empty())
    collector::WriteItem(sink, "attachment", Report.Screenshot, Report.ScreenshotName,
                         SameText(ExtractFileExt(Report.ScreenshotName), ".jpg") ? "image/jpeg" : "image/bmp");
  return envelope;
}

// The reports that came together are queued together: a flood of them
// costs the file system one commit, not one each.
void TCollectorSender::WriteToQueue(const std::deque<TCollectorReport>& Reports, TDwarfPlaces& Places) {
  std::vector<String> envelopes;
  envelopes.reserve(Reports.size());
  for (const TCollectorReport& report : Reports) envelopes.push_back(MakeEnvelope(report, Places));
  size_t dropped = 0;
  try {
    dropped = FQueue.PutAll({envelopes.begin(), envelopes.end()});
  } catch (const Exception&) {
    // Those written before the failure are queued all the same.
    std::lock_guard guard(FLock);
    FPending = true;
    ++FQueuedCount;
    throw;
  }
  std::lock_guard guard(FLock);
  FCacheOverflow += dropped;
  FPending = true;
  FQueuedCount += Reports.size();
}

seconds TCollectorSender::RateLimitDelay(const String& RetryAfter, const String& RateLimits) const {
  // "SECONDS:CATEGORIES:SCOPE[:REASON]" groups, separated by commas; no
  // categories means all of them. Reports are events of the error category
  // with attachments.
  seconds delay{0};
  size_t start = 0;
  while (start <= RateLimits.size() && !RateLimits.empty()) {
    const size_t end = std::min(RateLimits.find(',', start), RateLimits.size());
    const String group = Trim(RateLimits.substr(start, end - start));
    start = end + 1;
    const size_t colon = group.find(':');
    if (colon == String::npos || !AllDigits(group.substr(0, colon))) continue;
    const size_t next = group.find(':', colon + 1);
    const String categories = group.substr(colon + 1, next == String::npos ? String::npos : next - colon - 1);
    bool applies = categories.empty();
    for (const char* ours : {"error", "default", "attachment"})
      applies = applies || (";" + categories + ";").find(String(";") + ours + ";") != String::npos;
    if (applies) delay = std::max(delay, seconds{std::stol(group.substr(0, colon))});
  }
  if (delay == seconds{0} && AllDigits(RetryAfter)) delay = seconds{std::stol(RetryAfter)};
  if (delay == seconds{0}) delay = kDefaultRateLimit;
  return std::min(delay, kLongestRateLimit);
}

TCollectorSender::TOutcome TCollectorSender::SendAll() {
  uint64_t queuedAtStart;
  {
    std::lock_guard guard(FLock);
    queuedAtStart = FQueuedCount;
  }
  const String url = FDsn.EnvelopeUrl();
  const String auth = FDsn.AuthHeader(collector::ClientName());
  const std::function<bool()> cancelled = [this] { return Terminated(); };
  for (const String& entry : FQueue.Entries()) {
    if (Terminated()) return TOutcome::Stopped;
    String body = FQueue.Read(entry);
    if (body.empty()) continue;  // sent by another process meanwhile
    uint64_t overflow, errors;
    {
      std::lock_guard guard(FLock);
      overflow = FCacheOverflow;
      errors = FSendErrors;
    }
    if (overflow || errors) body += collector::ClientReportItem(overflow, errors);
    const collector::THttpResult result = collector::PostEnvelope(url, auth, body, cancelled);
    if (Terminated() && result.Code == 0) return TOutcome::Stopped;
    std::lock_guard guard(FLock);
    if (result.Code >= 200 && result.Code < 300) {
      FQueue.Remove(entry);
      FCacheOverflow -= overflow;
      FSendErrors -= errors;
      FBackOff = seconds{0};
      FToldUnanswered = false;
    } else if (result.Code == 429) {
      FRateLimitedUntil = TClock::now() + RateLimitDelay(result.RetryAfter, result.RateLimits);
      return TOutcome::Waiting;
    } else if (result.Code >= 400 && result.Code < 500) {
      // Malformed or refused: sending it again would be refused again.
      FQueue.Remove(entry);
      ++FSendErrors;
      Tell("the collector " + url + " refused a report (HTTP " + IntToStr(result.Code) + "); it is dropped");
    } else {
      if (result.Code == 0 && !FToldUnanswered) {
        FToldUnanswered = true;
        Tell("the collector " + url + " could not be reached (" + result.Error + "); reports stay queued");
      }
      FBackOff = FBackOff == seconds{0} ? kFirstBackOff : std::min(FBackOff * 2, kLongestBackOff);
      FRetryAt = TClock::now() + FBackOff;
      return TOutcome::Waiting;
    }
  }
  std::lock_guard guard(FLock);
  if (FQueuedCount == queuedAtStart) FPending = false;
  return TOutcome::Emptied;
}

bool TCollectorSender::ReadyToSend() const {
  return FPending && (FAutoSend || FSendAsked) && TClock::now() >= std::max(FRetryAt, FRateLimitedUntil);
}

void TCollectorSender::Execute() {
  // Background work: it yields to the program's own threads, the dialog's
  // first.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
  TDwarfPlaces places;
  std::unique_lock lock(FLock);
  for (;;) {
    while (!FReports.empty()) {
      if (TClock::now() < FNextBatch && !Terminated()) {
        FWake.wait_until(lock, FNextBatch, [this] { return Terminated(); });
        continue;
      }
      std::deque<TCollectorReport> reports;
      reports.swap(FReports);
      FWriting = true;
      lock.unlock();
      try {
        WriteToQueue(reports, places);
      } catch (const Exception& error) {
        Tell("a report for the collector was lost: " + error.Message());
      }
      lock.lock();
      FWriting = false;
      FNextBatch = TClock::now() + kBatchSpacing;
    }
    if (Terminated()) return;
    if (ReadyToSend()) {
      lock.unlock();
      const TOutcome outcome = SendAll();
      lock.lock();
      if (outcome == TOutcome::Emptied) FSendAsked = false;
      continue;
    }
    FIdle.notify_all();
    const auto woken = [this] { return Terminated() || !FReports.empty() || ReadyToSend(); };
    FAwaitingReports = true;
    if (FPending && (FAutoSend || FSendAsked))
      FWake.wait_until(lock, std::max(FRetryAt, FRateLimitedUntil), woken);
    else
      FWake.wait(lock, woken);
    FAwaitingReports = false;
  }
}

}  // namespace ztl
