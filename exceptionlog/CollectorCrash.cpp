#include <ztlogger/exceptionlog/CollectorCrash.h>

#include <atomic>
#include <memory>
#include <vector>

#include <ztlogger/exceptionlog/CollectorEnvelope.h>
#include <ztlogger/exceptionlog/CollectorQueue.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/SpoolFiles.h>
#include <ztlogger/platform/os/Windows.h>

namespace ztl::collector {

namespace {

struct TCrashParts {
  String Folder;
  String Dsn;
  String EventId;
  String Contexts;
  String DebugMeta;
  String Release;
};

// Read by the crash path. A replaced or withdrawn set is kept to the end of
// the process, in the list of those made: a crash on another thread may be
// reading it at that moment.
std::atomic<const TCrashParts*> prepared{nullptr};

std::vector<std::unique_ptr<const TCrashParts>>& MadeParts() {
  static auto* made = new std::vector<std::unique_ptr<const TCrashParts>>;  // never freed: see above
  return *made;
}

// The crash path's buffers: no room is taken from the (alternate) stack, and
// only the one reporting thread writes them.
char eventBuffer[96 * 1024];
char envelopeBuffer[192 * 1024];
char finalPath[4096];
char tempPath[4096];
char moduleName[256];

}  // namespace

const void* PrepareCrashEnvelope(const String& QueueFolder, const String& Dsn, const String& Contexts,
                                 const String& DebugMeta, const String& Release) {
  const TCrashParts* parts =
      MadeParts().emplace_back(new TCrashParts{QueueFolder, Dsn, NewEventId(), Contexts, DebugMeta, Release}).get();
  prepared.store(parts);
  return parts;
}

void WithdrawCrashEnvelope(const void* Token) {
  const TCrashParts* expected = static_cast<const TCrashParts*>(Token);
  prepared.compare_exchange_strong(expected, nullptr);
}

bool QueueCrashEnvelope(const char* ClassName, const char* Message, void* Address, const char* ReportText,
                        size_t ReportLength) {
  const TCrashParts* parts = prepared.load();
  if (!parts) return false;
  const int64_t now = NowMilliseconds();
  char timestamp[kRfc3339Length];
  FormatRfc3339(now, timestamp);

  TEventFrame frame;
  frame.Address = reinterpret_cast<uintptr_t>(Address);
  uintptr_t base = 0;
  if (Address && ModulePlaceOf(Address, base, moduleName, sizeof moduleName)) frame.Package = moduleName;
  TEventFields event;
  event.EventId = parts->EventId;
  event.Timestamp = std::string_view(timestamp, sizeof timestamp);
  event.Level = "fatal";
  event.Type = ClassName;
  event.Value = Message;
  event.Mechanism = "signalhandler";
  event.Handled = false;
  event.Release = parts->Release;
  event.Frames = Address ? &frame : nullptr;
  event.FrameCount = Address ? 1 : 0;
  event.Contexts = parts->Contexts;
  event.DebugMeta = parts->DebugMeta;
  TFixedSink eventSink(eventBuffer, sizeof eventBuffer);
  WriteEvent(eventSink, event);
  if (eventSink.Overflowed()) {
    // Too many modules to list: the event goes without them.
    event.DebugMeta = {};
    eventSink = TFixedSink(eventBuffer, sizeof eventBuffer);
    WriteEvent(eventSink, event);
    if (eventSink.Overflowed()) return false;
  }

  TFixedSink envelope(envelopeBuffer, sizeof envelopeBuffer);
  WriteEnvelopeHeader(envelope, parts->EventId, parts->Dsn, event.Timestamp);
  WriteItem(envelope, "event", eventSink.View());
  WriteItem(envelope, "attachment", std::string_view(ReportText, ReportLength), "report.txt", "text/plain");
  if (envelope.Overflowed()) return false;

  char name[TEnvelopeQueue::kMaxEntryName];
  const size_t nameLength = TEnvelopeQueue::FormatEntryName(now, GetCurrentProcessId(), 0xFFFFFFFFu, name);
  TFixedSink finalSink(finalPath, sizeof finalPath - 1);
  finalSink.Append(parts->Folder.data(), parts->Folder.size());
  finalSink.Append("/", 1);
  finalSink.Append(name, nameLength);
  TFixedSink tempSink(tempPath, sizeof tempPath - 1);
  tempSink.Append(parts->Folder.data(), parts->Folder.size());
  tempSink.Append("/.", 2);
  tempSink.Append(name, nameLength);
  tempSink.Append(".part", 5);
  if (finalSink.Overflowed() || tempSink.Overflowed()) return false;
  finalPath[finalSink.Size()] = 0;
  tempPath[tempSink.Size()] = 0;
  const os::TFilePart content{envelope.View().data(), envelope.Size()};
  return os::WritePrivateFile(tempPath, finalPath, &content, 1);
}

}  // namespace ztl::collector
