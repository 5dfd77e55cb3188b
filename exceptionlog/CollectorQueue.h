#pragma once
// The folder where envelopes wait for their collector: each written whole
// (a temporary name, then renamed) and private to the user, named so that
// the names sort oldest first, and held within a bound of count and bytes by
// dropping the oldest. A crash's envelope, written by a signal handler, takes
// a name of the same form.
//
// Any thread; each queue object from one thread at a time (two processes may
// share the folder: names never collide, and a file that vanishes while read
// counts as gone).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <ztlogger/core/CollectorDsn.h>
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

// One collector's queue folder: Put writes an envelope, Entries lists them
// oldest first, Read and Remove take one.
class ZTL_API TEnvelopeQueue {
 public:
  // The bounds a collector's queue keeps by default.
  static constexpr size_t kDefaultMaxCount = 50;
  static constexpr uint64_t kDefaultMaxBytes = 32 * 1024 * 1024;

  // Creates Folder, private to the user, when it is not there; raises
  // EFCreateError when it cannot.
  TEnvelopeQueue(const String& Folder, size_t MaxCount = kDefaultMaxCount, uint64_t MaxBytes = kDefaultMaxBytes);

  // The queue folder of a collector under the platform prefix, one per DSN:
  // PREFIX/collector/PROJECT_ID-PUBLIC_KEY.
  static String FolderFor(const TCollectorDsn& Dsn);

  const String& Folder() const { return FFolder; }
  // Queues an envelope as the newest entry, then drops the oldest entries
  // while the queue is over a bound. Returns how many were dropped; raises
  // EFCreateError when the envelope cannot be written.
  size_t Put(std::string_view Envelope);
  // Queues several envelopes in order, made durable together, then drops as
  // Put does. Raises EFCreateError, after queueing those it could, when one
  // cannot be written.
  size_t PutAll(const std::vector<std::string_view>& Envelopes);
  // The entries' names, oldest first.
  std::vector<String> Entries() const;
  // The envelope of an entry; empty when it is gone.
  String Read(const String& Entry) const;
  void Remove(const String& Entry) const;

  // An entry's name, "MILLISECONDS-PROCESS-SERIAL.envelope", into out
  // (kMaxEntryName bytes at most, no terminating zero); returns its length.
  // Allocates nothing.
  static constexpr size_t kMaxEntryName = 48;
  static size_t FormatEntryName(int64_t Milliseconds, uint32_t Process, uint32_t Serial, char* out);

 private:
  // Drops the oldest entries while the queue is over a bound; how many.
  size_t Trim();

  String FFolder;
  size_t FMaxCount;
  uint64_t FMaxBytes;
};

}  // namespace ztl
