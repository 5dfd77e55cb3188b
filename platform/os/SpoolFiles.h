#pragma once
// Files of a queue that a later run of the program picks up: each written
// whole under a temporary name and then renamed, so that a reader never sees
// half a file, readable by its owner alone, in a folder only the owner may
// enter.
//
// Any thread; WritePrivateFile also from a signal handler.
#include <cstddef>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::os {

// One piece of a file's content.
struct TFilePart {
  const char* Data;
  size_t Size;
};

// Creates Folder with the parents it lacks; Folder itself is left (or made)
// accessible to its owner alone (0700). False when it cannot be made or is
// not a folder.
ZTL_PLATFORM_API bool CreatePrivateFolder(const String& Folder);

// Writes the parts, in order, into TempPath (a new file: an existing one is
// left alone), readable and writable by the owner alone (0600), then renames
// it to FinalPath. Allocates nothing and calls only async-signal-safe
// functions. False, with no file left behind, when any step fails.
ZTL_PLATFORM_API bool WritePrivateFile(const char* TempPath, const char* FinalPath, const TFilePart* Parts,
                                       size_t Count) noexcept;

// One file of a batch, and whether it was written.
struct TSpoolFile {
  const char* TempPath;
  const char* FinalPath;
  const TFilePart* Parts;
  size_t Count;
  bool Written = false;
};

// Writes several files as WritePrivateFile writes one, but every file's
// content before the first is made durable: the file system then commits
// them together, once rather than once a file (a flood of reports would
// otherwise cost a journal commit each). Returns how many were written.
// Not for signal handlers.
ZTL_PLATFORM_API size_t WritePrivateFiles(TSpoolFile* Files, size_t Count);

}  // namespace ztl::os
