#pragma once
// Appending one value to an open log file, the one routine behind every
// write into a log: the components' own (TZTLogBase::WriteAsString) and the
// reports written while the process is dying (exceptionlog/LastChance), so
// that both keep the same form.
//
// A text log gets the value at its end. An XML log gets the element
// "  <NAME>value\r\n  </NAME>\r\n" and the closing tag in place of its
// closing tag, which may be followed by blanks and line ends (as an editor
// or "echo >>" leaves them; they go); an empty file gets the header first;
// any other ending is not a log of ours and stays as it is, the element and
// a closing tag following it.
//
// The routine neither allocates nor takes a lock: it works on the caller's
// descriptor and pieces, with system calls only, so that it can run in a
// signal handler. A failed write puts the file back as it was (its bytes
// up to the place of the write, then the ending it was to replace: the
// closing tag and the first 505 bytes of the blanks after it, which is all
// a log ever has), so that a cut value never stays in the log.
#include <cstddef>
#include <string_view>

#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum class TLogForm { Text, XML };

// What became of an append: Error is 0, or the errno of the failing call,
// named by Call ("read", "write", ...).
struct TLogAppendResult {
  int Error = 0;
  const char* Call = "";
  explicit operator bool() const { return Error == 0; }
};

// Appends Value (as Name's element in an XML log) to the log open on fd,
// which must be open for reading and writing.
ZTL_API TLogAppendResult AppendLogValue(int fd, TLogForm form, std::string_view name, std::string_view value);

}  // namespace ztl
