#include <ztlogger/core/LogAppend.h>

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <ztlogger/core/LogCnst.h>

namespace ztl {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads exactly size bytes at `at`; false on an error or a short file.
bool ReadAt(int fd, char* data, size_t size, off_t at) {
  while (size > 0) {
    const ssize_t got = pread(fd, data, size, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    data += got;
    size -= static_cast<size_t>(got);
    at += got;
  }
  return true;
}

// Where a log of ours ends: the offset of its closing tag, or -1 when the
// file ends otherwise. The bytes from the tag on are kept in saved (as many
// as fit; savedSize tells how many). False on a read error.
bool FindClosingTag(int fd, off_t size, off_t& tag, char* saved, size_t savedCapacity, size_t& savedSize) {
  const std::string_view closing = XMLLogClosingTag;
  tag = -1;
  savedSize = 0;
  // Back over the blanks at the end, a chunk at a time.
  char chunk[256];
  off_t end = size;  // the blanks start here
  for (bool blanksOnly = true; blanksOnly && end > 0;) {
    const off_t step = std::min<off_t>(end, sizeof chunk);
    if (!ReadAt(fd, chunk, static_cast<size_t>(step), end - step)) return false;
    off_t kept = step;
    while (kept > 0 && IsBlank(chunk[kept - 1])) --kept;
    blanksOnly = kept == 0;
    end -= step - kept;
  }
  if (end < static_cast<off_t>(closing.size())) return true;
  char last[16];
  const off_t start = end - static_cast<off_t>(closing.size());
  if (!ReadAt(fd, last, closing.size(), start)) return false;
  if (std::string_view(last, closing.size()) != closing) return true;
  tag = start;
  savedSize = static_cast<size_t>(std::min<off_t>(size - start, static_cast<off_t>(savedCapacity)));
  return ReadAt(fd, saved, savedSize, start);
}

// Writes the pieces at `at` with as few calls as the system allows; one
// piece without the vector, which the system would copy in first.
bool WriteAt(int fd, iovec* pieces, int count, off_t at) {
  while (count > 0) {
    const ssize_t written =
        count == 1 ? pwrite(fd, pieces->iov_base, pieces->iov_len, at) : pwritev(fd, pieces, count, at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    at += written;
    for (auto left = static_cast<size_t>(written); left > 0 && count > 0;) {
      const size_t taken = std::min(left, pieces->iov_len);
      pieces->iov_base = static_cast<char*>(pieces->iov_base) + taken;
      pieces->iov_len -= taken;
      left -= taken;
      if (pieces->iov_len == 0) {
        ++pieces;
        --count;
      }
    }
  }
  return true;
}

iovec Piece(std::string_view text) { return {const_cast<char*>(text.data()), text.size()}; }

// Puts back the file as it was before a write at `start` failed. A file
// that cannot be cut (a device) keeps what it has: the write's error is the
// news.
void PutBack(int fd, off_t start, const char* saved, size_t savedSize) {
  if (ftruncate(fd, start) != 0) return;
  iovec piece{const_cast<char*>(saved), savedSize};
  if (savedSize > 0) WriteAt(fd, &piece, 1, start);
}

}  // namespace

TLogAppendResult AppendLogValue(int fd, TLogForm form, std::string_view name, std::string_view value) {
  const int savedErrno = errno;
  const auto failed = [&](const char* call) {
    TLogAppendResult result{errno, call};
    errno = savedErrno;
    return result;
  };
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0) return failed("lseek");
  if (form == TLogForm::Text) {
    iovec piece = Piece(value);
    if (!WriteAt(fd, &piece, 1, size)) {
      const TLogAppendResult result = failed("write");
      PutBack(fd, size, nullptr, 0);
      return result;
    }
    return {};
  }
  off_t tag = -1;
  char saved[512];
  size_t savedSize = 0;
  if (size > 0 && !FindClosingTag(fd, size, tag, saved, sizeof saved, savedSize)) return failed("read");
  const off_t start = tag >= 0 ? tag : size;
  iovec pieces[] = {Piece(size == 0 ? std::string_view(XMLLogHeader) : std::string_view()),
                    Piece("  <"), Piece(name), Piece(">"), Piece(value), Piece("\r\n  </"), Piece(name),
                    Piece(">\r\n"), Piece(XMLLogClosingTag)};
  size_t length = 0;
  for (const iovec& piece : pieces) length += piece.iov_len;
  if (!WriteAt(fd, pieces, static_cast<int>(std::size(pieces)), start)) {
    const TLogAppendResult result = failed("write");
    PutBack(fd, start, saved, savedSize);
    return result;
  }
  // Blanks after the old tag may reach past the new one: they go too.
  const off_t end = start + static_cast<off_t>(length);
  if (end < size && ftruncate(fd, end) != 0) return failed("ftruncate");
  return {};
}

}  // namespace ztl
