#pragma once
// The collector's envelope of a crash that cannot become an exception (a
// fatal signal): written into the queue by the crash path itself, from
// parts prepared while the program ran normally, without allocating, and
// sent by the collector at the next start.
#include <cstddef>

#include <ztlogger/platform/rtl/Types.h>

namespace ztl::collector {

// What stays the same for every crash of this run: the queue folder, the
// DSN, the contexts, the loaded modules. Replaces what an earlier call
// prepared; gives the token that withdraws it. Normal context, main thread.
const void* PrepareCrashEnvelope(const String& QueueFolder, const String& Dsn, const String& Contexts,
                                 const String& DebugMeta, const String& Release);
// No crash envelope is written from now on, unless another preparation
// replaced the one of Token. Main thread.
void WithdrawCrashEnvelope(const void* Token);

// Writes the envelope of the crash into the queue: the class and message as
// the exception, the address as its one frame, ReportText (the reduced
// report) as the text attachment. Allocates nothing and calls only
// async-signal-safe functions; one thread at a time (the one that reports
// the crash). False when nothing was prepared or the write failed.
bool QueueCrashEnvelope(const char* ClassName, const char* Message, void* Address, const char* ReportText,
                        size_t ReportLength);

}  // namespace ztl::collector
