#pragma once
// Streams: files, memory and module resources.
// Any thread; each stream from one thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class ZTL_PLATFORM_API TStream : public TObject {
  ZTL_DECLARE_CLASS(TStream, TObject)

 public:
  // Reads or writes up to count bytes and returns how many were moved.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  // Move exactly count bytes, or raise EReadError / EWriteError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  int64_t CopyFrom(TStream& source, int64_t count);  // count 0: the whole source

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t value) { Seek(value, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t value);
};

// Open modes and share modes of file streams, combined with "|".
inline constexpr uint32_t fmCreate = 0xFF00;
inline constexpr uint32_t fmOpenRead = 0x0000;
inline constexpr uint32_t fmOpenWrite = 0x0001;
inline constexpr uint32_t fmOpenReadWrite = 0x0002;
inline constexpr uint32_t fmShareCompat = 0x0000;
inline constexpr uint32_t fmShareExclusive = 0x0010;
inline constexpr uint32_t fmShareDenyWrite = 0x0020;
inline constexpr uint32_t fmShareDenyRead = 0x0030;
inline constexpr uint32_t fmShareDenyNone = 0x0040;
// Opens an existing file or creates an empty one, without truncating
// (Windows' OPEN_ALWAYS); combine with an access mode.
inline constexpr uint32_t fmOpenOrCreate = 0x10000;
// Every write goes to the end of the file, wherever another writer left it
// (Windows' FILE_APPEND_DATA access); combine with a writing access mode.
inline constexpr uint32_t fmAppend = 0x20000;
// With a writing access mode: the caller found a regular file under this
// name at its last open. An open that takes the lock without waiting for
// another holder then asks nothing more about the file, as a writer that
// opens the file for every write cannot pay for the question each time; the
// open itself still refuses a folder, and a write-only one a FIFO without a
// reader and a socket. After a wait the file is looked at as without the
// flag, since the holder may have deleted, replaced or renamed it.
inline constexpr uint32_t fmKnownFile = 0x40000;

class ZTL_PLATFORM_API THandleStream : public TStream {
  ZTL_DECLARE_CLASS(THandleStream, TStream)

 public:
  explicit THandleStream(int handle) : handle_(handle) {}
  int Handle() const { return handle_; }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t value) override;

 protected:
  int handle_;
};

// A file opened with an access mode and a share mode. On POSIX the share
// modes are kept between processes and threads with advisory locks held while
// the stream is open: deny-write and exclusive take an exclusive lock for
// writers and a shared lock for readers. A stream that finds the file locked
// waits for its turn up to ShareWaitMilliseconds, then raises EFOpenError
// (EFCreateError for fmCreate). The name must lead to a regular file (links
// are followed): a folder, device, FIFO or socket raises at once, without
// waiting for a FIFO's other end (fmKnownFile lets a writer skip the check).
class ZTL_PLATFORM_API TFileStream : public THandleStream {
  ZTL_DECLARE_CLASS(TFileStream, THandleStream)

 public:
  static constexpr int ShareWaitMilliseconds = 5000;

  TFileStream(const String& fileName, uint32_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const String& FileName() const { return fileName_; }

 private:
  [[noreturn]] void FailAndClose(const String& fileName, uint32_t mode, int err);

  String fileName_;
};

// Creates a new file in folder for its owner alone (read and write by the
// owner only), named prefix, 16 random hexadecimal digits and extension, and
// gives the stream that writes it (closing it when freed) and, in path, its
// name. The file is made by this call: a name that is taken, by a file or by
// a symbolic link, is left alone and another one drawn. Raises EFCreateError
// when the file cannot be made.
ZTL_PLATFORM_API std::unique_ptr<THandleStream> CreateUniqueFile(const String& folder, const String& prefix,
                                                                 const String& extension, String& path);

class ZTL_PLATFORM_API TMemoryStream : public TStream {
  ZTL_DECLARE_CLASS(TMemoryStream, TStream)

 public:
  TMemoryStream() = default;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t value) override;

  const uint8_t* Memory() const { return data_.data(); }
  const std::vector<uint8_t>& Data() const { return data_; }
  void Clear();
  void LoadFromFile(const String& fileName);
  void SaveToFile(const String& fileName);
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream);

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// A stream over text held in memory.
class ZTL_PLATFORM_API TStringStream : public TMemoryStream {
  ZTL_DECLARE_CLASS(TStringStream, TMemoryStream)

 public:
  explicit TStringStream(const String& text = {});
  String DataString() const;
};

}  // namespace ztl
