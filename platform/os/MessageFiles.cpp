#include <ztlogger/platform/os/MessageFiles.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <tuple>
#include <typeinfo>

#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Libraries.h>
#include <ztlogger/platform/rtl/Types.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os {
namespace {

constexpr DWORD kMessageTableType = 11;  // RT_MESSAGETABLE
constexpr DWORD kIsDirectory = 0x80000000;
constexpr DWORD kIsString = 0x80000000;
constexpr off_t kMaxFileSize = 64 << 20;  // message files are a few kilobytes
constexpr size_t kMaxCachedFiles = 64;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

// Bounds-checked little-endian reads of the file's bytes; any read outside
// them means the file lies about itself.
class Bytes {
 public:
  Bytes(const BYTE* data, size_t size) : data_(data), size_(size) {}
  size_t Size() const { return size_; }
  void Check(uint64_t offset, uint64_t length) const {
    if (offset > size_ || length > size_ - offset) throw ERROR_BAD_EXE_FORMAT;
  }
  WORD U16(uint64_t offset) const {
    Check(offset, 2);
    return static_cast<WORD>(data_[offset] | data_[offset + 1] << 8);
  }
  DWORD U32(uint64_t offset) const {
    Check(offset, 4);
    return DWORD{data_[offset]} | DWORD{data_[offset + 1]} << 8 | DWORD{data_[offset + 2]} << 16 |
           DWORD{data_[offset + 3]} << 24;
  }
  const BYTE* At(uint64_t offset) const { return data_ + offset; }

 private:
  const BYTE* data_;
  size_t size_;
};

struct Section {
  DWORD virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeReader {
 public:
  explicit PeReader(const Bytes& bytes) : bytes_(bytes), budget_(bytes.Size()) {}

  std::shared_ptr<MessageTable> Read() {
    auto table = std::make_shared<MessageTable>();
    if (bytes_.U16(0) != 0x5A4D) throw ERROR_BAD_EXE_FORMAT;
    const DWORD nt = bytes_.U32(0x3C);
    if (bytes_.U32(nt) != 0x00004550) throw ERROR_BAD_EXE_FORMAT;
    const uint64_t fileHeader = uint64_t{nt} + 4;
    const WORD sectionCount = bytes_.U16(fileHeader + 2);
    const WORD optionalSize = bytes_.U16(fileHeader + 16);
    const uint64_t optional = fileHeader + 20;
    uint64_t rvaCountAt, directoriesAt;
    switch (bytes_.U16(optional)) {
      case 0x10B:  // PE32
        rvaCountAt = optional + 92, directoriesAt = optional + 96;
        break;
      case 0x20B:  // PE32+
        rvaCountAt = optional + 108, directoriesAt = optional + 112;
        break;
      default: throw ERROR_BAD_EXE_FORMAT;
    }
    const uint64_t sectionTable = optional + optionalSize;
    bytes_.Check(sectionTable, uint64_t{sectionCount} * 40);
    for (WORD i = 0; i < sectionCount; ++i) {
      const uint64_t at = sectionTable + uint64_t{i} * 40;
      sections_.push_back({bytes_.U32(at + 12), bytes_.U32(at + 8), bytes_.U32(at + 16), bytes_.U32(at + 20)});
    }
    if (bytes_.U32(rvaCountAt) <= 2) return table;
    const DWORD resourceRva = bytes_.U32(directoriesAt + 16);
    if (resourceRva == 0 || bytes_.U32(directoriesAt + 20) == 0) return table;
    root_ = Offset(resourceRva);

    const DWORD types = FindEntry(root_, kMessageTableType);
    if (types == 0) return table;
    const DWORD names = FindEntry(root_ + (types & ~kIsDirectory), 1);
    if (names == 0 || !(types & kIsDirectory) || !(names & kIsDirectory)) return table;
    const uint64_t languages = root_ + (names & ~kIsDirectory);
    const DWORD count = DWORD{bytes_.U16(languages + 12)} + bytes_.U16(languages + 14);
    bytes_.Check(languages + 16, uint64_t{count} * 8);
    for (DWORD i = 0; i < count; ++i) {
      const uint64_t entry = languages + 16 + uint64_t{i} * 8;
      const DWORD name = bytes_.U32(entry);
      const DWORD data = bytes_.U32(entry + 4);
      if ((name & kIsString) || (data & kIsDirectory)) throw ERROR_BAD_EXE_FORMAT;
      const uint64_t dataEntry = root_ + data;
      const DWORD size = bytes_.U32(dataEntry + 4);
      const uint64_t at = Offset(bytes_.U32(dataEntry));
      bytes_.Check(at, size);
      ReadMessages(Bytes(bytes_.At(at), size), table->languages[static_cast<WORD>(name)]);
    }
    // In the order of their keys, as both maps are ordered.
    for (const auto& [language, messages] : table->languages)
      for (const auto& [id, text] : messages)
        table->messages.push_back({MessageTable::Key(language, id), &text, PrepareMessage(text)});
    if (!table->languages.empty()) {
      table->defaultLanguage = table->languages.begin()->first;
      for (const WORD language : {0x0009, 0x0409, 0x0000})
        if (table->languages.count(language)) table->defaultLanguage = language;
    }
    return table;
  }

 private:
  // The file offset of a virtual address.
  uint64_t Offset(DWORD rva) const {
    for (const Section& s : sections_) {
      const uint64_t extent = std::max(s.virtualSize, s.rawSize);
      if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
        const uint64_t offset = uint64_t{rva - s.virtualAddress} + s.rawOffset;
        bytes_.Check(offset, 0);
        return offset;
      }
    }
    throw ERROR_BAD_EXE_FORMAT;
  }

  // The OffsetToData of the entry with an integer id in a resource
  // directory; 0 when there is none.
  DWORD FindEntry(uint64_t directory, DWORD id) const {
    const DWORD named = bytes_.U16(directory + 12);
    const DWORD ids = bytes_.U16(directory + 14);
    bytes_.Check(directory + 16, uint64_t{named + ids} * 8);
    for (DWORD i = named; i < named + ids; ++i) {
      const uint64_t entry = directory + 16 + uint64_t{i} * 8;
      if (bytes_.U32(entry) == id) return bytes_.U32(entry + 4);
    }
    return 0;
  }

  // One MESSAGE_RESOURCE_DATA. Every entry and every byte of text is taken
  // out of the budget of the file's size, so blocks that overlap or repeat
  // cannot make the parse take more than the file justifies.
  void ReadMessages(const Bytes& data, std::map<DWORD, std::u16string>& messages) {
    const DWORD blockCount = data.U32(0);
    data.Check(4, uint64_t{blockCount} * 12);
    for (DWORD b = 0; b < blockCount; ++b) {
      const uint64_t block = 4 + uint64_t{b} * 12;
      const DWORD low = data.U32(block);
      const DWORD high = data.U32(block + 4);
      uint64_t at = data.U32(block + 8);
      if (low > high) throw ERROR_BAD_EXE_FORMAT;
      for (uint64_t id = low; id <= high; ++id) {
        const WORD length = data.U16(at);
        const WORD flags = data.U16(at + 2);
        if (length < 4) throw ERROR_BAD_EXE_FORMAT;
        data.Check(at, length);
        Spend(length);
        if (!messages.count(static_cast<DWORD>(id)))
          messages[static_cast<DWORD>(id)] = Decode(data.At(at + 4), length - 4u, flags);
        at += length;
      }
    }
  }

  void Spend(size_t bytes) {
    if (bytes > budget_) throw ERROR_BAD_EXE_FORMAT;
    budget_ -= bytes;
  }

  static std::u16string Decode(const BYTE* text, size_t size, WORD flags) {
    std::u16string out;
    switch (flags) {
      case 0:  // ANSI, taken as Latin-1
        for (size_t i = 0; i < size && text[i] != 0; ++i) out += static_cast<char16_t>(text[i]);
        return out;
      case 1:  // UTF-16LE
        for (size_t i = 0; i + 1 < size; i += 2) {
          const auto c = static_cast<char16_t>(text[i] | text[i + 1] << 8);
          if (c == 0) break;
          out += c;
        }
        return out;
      case 2: {  // UTF-8
        size_t length = 0;
        while (length < size && text[length] != 0) ++length;
        return unicode::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(text), length));
      }
      default: throw ERROR_BAD_EXE_FORMAT;
    }
  }

  const Bytes& bytes_;
  std::vector<Section> sections_;
  uint64_t root_ = 0;
  size_t budget_;
};

// A module loaded as data.
class DataModule final : public KernelObject {
 public:
  explicit DataModule(std::shared_ptr<const MessageTable> table) : table_(std::move(table)) {}
  int WaitDescriptor() const override { return -1; }
  bool Signaled() override { return false; }
  const std::shared_ptr<const MessageTable> table_;
};

// Parsed files by path, valid while the file's identity, size and time stay.
struct CacheEntry {
  std::tuple<dev_t, ino_t, off_t, int64_t, long> stamp;
  std::shared_ptr<const MessageTable> table;
};
struct Cache {
  std::mutex lock;
  std::map<String, CacheEntry> files;
};
Cache& ParsedFiles() {
  static Cache* cache = new Cache;  // used until the process ends
  return *cache;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::shared_ptr<const MessageTable> LoadTables(const String& path) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) throw Win32ErrorFromErrno(errno);
  struct stat info;
  if (::fstat(file.Get(), &info) != 0) throw Win32ErrorFromErrno(errno);
  if (!S_ISREG(info.st_mode)) throw ERROR_ACCESS_DENIED;
  if (info.st_size > kMaxFileSize) throw ERROR_FILE_TOO_LARGE;
  const auto stamp =
      std::make_tuple(info.st_dev, info.st_ino, info.st_size, int64_t{info.st_mtim.tv_sec}, info.st_mtim.tv_nsec);
  Cache& cache = ParsedFiles();
  {
    std::lock_guard guard(cache.lock);
    auto found = cache.files.find(path);
    if (found != cache.files.end() && found->second.stamp == stamp) return found->second.table;
  }
  std::vector<BYTE> bytes(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw Win32ErrorFromErrno(errno);
    if (got == 0) throw ERROR_BAD_EXE_FORMAT;  // shrunk while read
    done += static_cast<size_t>(got);
  }
  auto table = ParseMessageTables(bytes.data(), bytes.size());
  std::lock_guard guard(cache.lock);
  if (cache.files.size() >= kMaxCachedFiles) cache.files.clear();
  cache.files[path] = {stamp, table};
  return table;
}

}  // namespace

std::shared_ptr<const MessageTable> ParseMessageTables(const BYTE* data, size_t size) {
  const Bytes bytes(data, size);
  return PeReader(bytes).Read();
}

std::shared_ptr<const MessageTable> MessageTablesOf(HMODULE module) {
  const auto value = reinterpret_cast<uintptr_t>(module);
  std::shared_ptr<KernelObject> object;
  if (value & 1) object = ReferenceHandle(reinterpret_cast<HANDLE>(value & ~uintptr_t{3}));
  // Formatting looks the module up for each message: an exact type test
  // (DataModule is final) and a pointer that keeps the module itself alive
  // cost less than a cast and a second count.
  const KernelObject* named = object.get();
  if (!named || typeid(*named) != typeid(DataModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const MessageTable* table = static_cast<const DataModule*>(named)->table_.get();
  return std::shared_ptr<const MessageTable>(std::move(object), table);
}

const MessageTable::Message* FindTableMessage(const MessageTable& table, DWORD id, DWORD languageId, DWORD& error) {
  if (table.languages.empty()) {
    error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return nullptr;
  }
  WORD language = table.defaultLanguage;
  if (languageId != 0) {
    language = static_cast<WORD>(languageId);
    if (!table.languages.count(language)) language = static_cast<WORD>(languageId & 0x3FF);
    if (!table.languages.count(language)) {
      error = ERROR_RESOURCE_LANG_NOT_FOUND;
      return nullptr;
    }
  }
  const uint64_t key = MessageTable::Key(language, id);
  const auto found = std::lower_bound(table.messages.begin(), table.messages.end(), key,
                                      [](const MessageTable::Message& m, uint64_t k) { return m.key < k; });
  if (found == table.messages.end() || found->key != key) {
    error = ERROR_MR_MID_NOT_FOUND;
    return nullptr;
  }
  return &*found;
}

const std::u16string* FindMessage(const MessageTable& table, DWORD id, DWORD languageId, DWORD& error) {
  const MessageTable::Message* message = FindTableMessage(table, id, languageId, error);
  return message ? message->text : nullptr;
}

}  // namespace ztl::os

using namespace ztl::os;

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  if (lpLibFileName == nullptr || *lpLibFileName == 0 || hFile != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(dwFlags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  try {
    auto table = LoadTables(ztl::unicode::Utf16ToUtf8(lpLibFileName));
    HANDLE handle = InsertHandle(std::make_shared<DataModule>(std::move(table)));
    if (!handle) return nullptr;
    return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(handle) | 1);
  } catch (DWORD error) {
    SetLastError(error);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  const auto value = reinterpret_cast<uintptr_t>(hLibModule);
  if (hLibModule && !(value & 1)) return ztl::os::FreeCodeLibrary(hLibModule);
  const auto handle = reinterpret_cast<HANDLE>(value & ~uintptr_t{3});
  if (!(value & 1) || !ReferenceHandleAs<DataModule>(handle) || !RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
