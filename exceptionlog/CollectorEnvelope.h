#pragma once
// The envelopes of Sentry's protocol that carry the exception logger's
// reports: the envelope header, items (the event, its attachments, a client
// report of what was dropped), and the event's own JSON (exception, frames
// oldest call first, the machine's contexts, the loaded modules).
//
// What the crash path writes from a signal handler (the header, an item,
// the event from prepared parts) allocates nothing; the functions that give
// a String are for normal context.
//
// Any thread.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <ztlogger/exceptionlog/CollectorJson.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::collector {

// The client's name as servers see it ("ztlogger.native/VERSION").
String ClientName();

// One frame of an event's stack trace; empty texts are left out.
struct TEventFrame {
  uintptr_t Address = 0;
  std::string_view Package;  // the module's path
  std::string_view Function;
  std::string_view File;
  int Line = 0;
};

// Everything an event says; texts are UTF-8, Contexts and DebugMeta are JSON
// objects prepared by ContextsJson and DebugMetaJson.
struct TEventFields {
  std::string_view EventId;    // 32 hexadecimal digits
  std::string_view Timestamp;  // RFC 3339
  std::string_view Level;      // "error" for a handled report, "fatal" for a crash
  std::string_view Type;       // the exception's class
  std::string_view Value;      // its message
  std::string_view Mechanism;  // how it was caught
  bool Handled = true;
  std::string_view Release;             // empty when not known
  const TEventFrame* Frames = nullptr;  // oldest call first, the raise last
  size_t FrameCount = 0;
  std::string_view Contexts;
  std::string_view DebugMeta;
};

void WriteEvent(TTextSink& sink, const TEventFields& event);

// The envelope's first line, with its line break.
void WriteEnvelopeHeader(TTextSink& sink, std::string_view eventId, std::string_view dsn, std::string_view sentAt);
// One item: its header line (type and length, and for an attachment its
// file name and content type), the payload and a line break.
void WriteItem(TTextSink& sink, std::string_view type, std::string_view payload, std::string_view fileName = {},
               std::string_view contentType = {});
// A client report item telling how many events were dropped: by the queue's
// bound (CacheOverflow) and refused by the server (SendErrors).
String ClientReportItem(uint64_t cacheOverflow, uint64_t sendErrors);

// What the application and the machine are, for the contexts: os, device,
// app and runtime.
struct TAppFacts {
  String Name;
  String Version;
  String StartTime;  // RFC 3339; empty when not known
};
String ContextsJson(const TAppFacts& app);
// The loaded modules as debug_meta.images, with the ELF build ids a server
// finds their symbols by.
String DebugMetaJson(const std::vector<TLoadedModule>& modules);

// "YYYY-MM-DDTHH:MM:SS.mmmZ" of a time since 1970 in milliseconds, into out
// (24 bytes, no terminating zero).
ZTL_API void FormatRfc3339(int64_t unixMilliseconds, char* out);
inline constexpr size_t kRfc3339Length = 24;
// The current time in milliseconds since 1970.
int64_t NowMilliseconds();
// 32 random hexadecimal digits.
String NewEventId();

}  // namespace ztl::collector
