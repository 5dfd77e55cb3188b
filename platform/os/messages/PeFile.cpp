// Message files: the reader of PE32 and PE32+ modules' resource sections
// and message tables, the cache of parsed tables by file, and the module
// handles of files loaded as data. Relies on the file mapping service
// (os/FileMapping.h) and the handle table; raises OsError inside.
#include <ztlogger/platform/os/messages/PeFile.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <typeinfo>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Libraries.h>
#include <ztlogger/platform/os/OsError.h>
#include <ztlogger/platform/rtl/Types.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::os {
namespace {

constexpr DWORD kMessageTableType = 11;  // RT_MESSAGETABLE
constexpr DWORD kIsDirectory = 0x80000000;
constexpr DWORD kIsString = 0x80000000;
constexpr off_t kMaxFileSize = 64 << 20;  // message files are a few kilobytes
constexpr size_t kMaxCachedFiles = 64;
constexpr size_t kMaxCachedBytes = 256 << 20;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

// Bounds-checked little-endian reads of the file's bytes; any read outside
// them means the file lies about itself.
class Bytes {
 public:
  Bytes(const BYTE* data, size_t size) : data_(data), size_(size) {}
  size_t Size() const { return size_; }
  void Check(uint64_t offset, uint64_t length) const {
    if (offset > size_ || length > size_ - offset) throw OsError{ERROR_BAD_EXE_FORMAT};
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

  // The languages of the module's message table (none for a module without
  // one), with the marks of their entries.
  void Read(std::vector<MessageTable::Language>& languages, std::vector<uint32_t>& marks) {
    if (bytes_.U16(0) != 0x5A4D) throw OsError{ERROR_BAD_EXE_FORMAT};
    const DWORD nt = bytes_.U32(0x3C);
    if (bytes_.U32(nt) != 0x00004550) throw OsError{ERROR_BAD_EXE_FORMAT};
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
      default: throw OsError{ERROR_BAD_EXE_FORMAT};
    }
    const uint64_t sectionTable = optional + optionalSize;
    bytes_.Check(sectionTable, uint64_t{sectionCount} * 40);
    for (WORD i = 0; i < sectionCount; ++i) {
      const uint64_t at = sectionTable + uint64_t{i} * 40;
      sections_.push_back({bytes_.U32(at + 12), bytes_.U32(at + 8), bytes_.U32(at + 16), bytes_.U32(at + 20)});
    }
    if (bytes_.U32(rvaCountAt) <= 2) return;
    const DWORD resourceRva = bytes_.U32(directoriesAt + 16);
    if (resourceRva == 0 || bytes_.U32(directoriesAt + 20) == 0) return;
    root_ = Offset(resourceRva);

    const DWORD types = FindEntry(root_, kMessageTableType);
    if (types == 0) return;
    const DWORD names = FindEntry(root_ + (types & ~kIsDirectory), 1);
    if (names == 0 || !(types & kIsDirectory) || !(names & kIsDirectory)) return;
    const uint64_t directory = root_ + (names & ~kIsDirectory);
    const DWORD count = DWORD{bytes_.U16(directory + 12)} + bytes_.U16(directory + 14);
    bytes_.Check(directory + 16, uint64_t{count} * 8);
    for (DWORD i = 0; i < count; ++i) {
      const uint64_t entry = directory + 16 + uint64_t{i} * 8;
      const DWORD name = bytes_.U32(entry);
      const DWORD data = bytes_.U32(entry + 4);
      if ((name & kIsString) || (data & kIsDirectory)) throw OsError{ERROR_BAD_EXE_FORMAT};
      const uint64_t dataEntry = root_ + data;
      const DWORD size = bytes_.U32(dataEntry + 4);
      const uint64_t at = Offset(bytes_.U32(dataEntry));
      bytes_.Check(at, size);
      MessageTable::Language language{static_cast<WORD>(name), static_cast<size_t>(at), {}, true};
      ReadBlocks(Bytes(bytes_.At(at), size), language, marks);
      languages.push_back(std::move(language));
    }
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
    throw OsError{ERROR_BAD_EXE_FORMAT};
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

  // The blocks of one MESSAGE_RESOURCE_DATA, each entry walked once to check
  // it and every kEntriesPerMark-th marked. Every entry is taken out of the
  // budget of the file's size, so blocks that overlap or repeat cannot make
  // the walk take more than the file justifies.
  void ReadBlocks(const Bytes& data, MessageTable::Language& language, std::vector<uint32_t>& marks) {
    const DWORD blockCount = data.U32(0);
    data.Check(4, uint64_t{blockCount} * 12);
    for (DWORD b = 0; b < blockCount; ++b) {
      const uint64_t block = 4 + uint64_t{b} * 12;
      const DWORD low = data.U32(block);
      const DWORD high = data.U32(block + 4);
      uint64_t at = data.U32(block + 8);
      if (low > high) throw OsError{ERROR_BAD_EXE_FORMAT};
      if (!language.blocks.empty() && low <= language.blocks.back().high) language.ordered = false;
      language.blocks.push_back({low, high, marks.size()});
      for (uint64_t id = low; id <= high; ++id) {
        const WORD length = data.U16(at);
        const WORD flags = data.U16(at + 2);
        if (length < 4 || flags > 2) throw OsError{ERROR_BAD_EXE_FORMAT};
        data.Check(at, length);
        Spend(length);
        if ((id - low) % MessageTable::kEntriesPerMark == 0) marks.push_back(static_cast<uint32_t>(at));
        at += length;
      }
    }
  }

  void Spend(size_t bytes) {
    if (bytes > budget_) throw OsError{ERROR_BAD_EXE_FORMAT};
    budget_ -= bytes;
  }

  const Bytes& bytes_;
  std::vector<Section> sections_;
  uint64_t root_ = 0;
  size_t budget_;
};

std::u16string Decode(const BYTE* text, size_t size, WORD flags) {
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
    default: {  // UTF-8
      size_t length = 0;
      while (length < size && text[length] != 0) ++length;
      return unicode::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(text), length));
    }
  }
}

std::shared_ptr<const MessageTable> ParseOwned(std::string bytes) {
  std::vector<MessageTable::Language> languages;
  std::vector<uint32_t> marks;
  {
    const Bytes view(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    PeReader(view).Read(languages, marks);
  }
  return std::make_shared<const MessageTable>(std::move(bytes), std::move(languages), std::move(marks));
}

}  // namespace

// The texts decoded so far, by Key(language, id).
struct MessageTable::Decoded {
  std::mutex lock;
  std::map<uint64_t, std::unique_ptr<Message>> messages;
};

MessageTable::MessageTable(std::string bytes, std::vector<Language> languages, std::vector<uint32_t> marks)
    : bytes_(std::move(bytes)),
      languages_(std::move(languages)),
      marks_(std::move(marks)),
      decoded_(std::make_unique<Decoded>()) {
  if (languages_.empty()) return;
  defaultLanguage_ = Languages().front();
  for (const WORD language : {0x0009, 0x0409, 0x0000})
    if (HasLanguage(language)) defaultLanguage_ = language;
}

MessageTable::~MessageTable() = default;

bool MessageTable::HasLanguage(WORD language) const {
  return std::any_of(languages_.begin(), languages_.end(), [&](const Language& l) { return l.id == language; });
}

std::vector<WORD> MessageTable::Languages() const {
  std::vector<WORD> ids;
  for (const Language& language : languages_) ids.push_back(language.id);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

std::vector<DWORD> MessageTable::Ids(WORD language) const {
  std::vector<DWORD> ids;
  for (const Language& l : languages_)
    if (l.id == language)
      for (const Block& block : l.blocks)
        for (uint64_t id = block.low; id <= block.high; ++id) ids.push_back(static_cast<DWORD>(id));
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

const MessageTable::Message* MessageTable::Find(WORD language, DWORD id) const {
  const uint64_t key = uint64_t{language} << 32 | id;
  std::lock_guard guard(decoded_->lock);
  auto& kept = decoded_->messages[key];
  if (kept) return kept.get();
  for (const Language& l : languages_) {
    if (l.id != language) continue;
    auto holds = [&](const Block& block) { return block.low <= id && id <= block.high; };
    auto block = l.blocks.end();
    if (l.ordered) {
      block = std::upper_bound(l.blocks.begin(), l.blocks.end(), id,
                               [](DWORD value, const Block& b) { return value < b.low; });
      block = block == l.blocks.begin() || !holds(*std::prev(block)) ? l.blocks.end() : std::prev(block);
    } else {
      block = std::find_if(l.blocks.begin(), l.blocks.end(), holds);
    }
    if (block == l.blocks.end()) continue;
    // The entries were checked when the table was read.
    const auto* data = reinterpret_cast<const BYTE*>(bytes_.data()) + l.data;
    auto u16 = [&](size_t at) { return static_cast<WORD>(data[at] | data[at + 1] << 8); };
    const DWORD index = id - block->low;
    size_t at = marks_[block->firstMark + index / kEntriesPerMark];
    for (DWORD skip = index % kEntriesPerMark; skip > 0; --skip) at += u16(at);
    auto message = std::make_unique<Message>();
    message->text = Decode(data + at + 4, u16(at) - 4u, u16(at + 2));
    message->prepared = PrepareMessage(message->text);
    kept = std::move(message);
    return kept.get();
  }
  decoded_->messages.erase(key);
  return nullptr;
}

namespace {

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
  size_t bytes = 0;
};
Cache& ParsedFiles() {
  static Cache* cache = new Cache;  // used until the process ends
  return *cache;
}

std::shared_ptr<const MessageTable> LoadTables(const String& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) throw OsError{Win32ErrorFromErrno(errno)};
  const auto stamp =
      std::make_tuple(info.st_dev, info.st_ino, info.st_size, int64_t{info.st_mtim.tv_sec}, info.st_mtim.tv_nsec);
  Cache& cache = ParsedFiles();
  {
    std::lock_guard guard(cache.lock);
    auto found = cache.files.find(path);
    if (found != cache.files.end() && found->second.stamp == stamp) return found->second.table;
  }
  std::string bytes;
  switch (const int error = ReadWholeFile(path, bytes, kMaxFileSize)) {
    case 0: break;
    case EISDIR:
    case ENODEV: throw OsError{ERROR_ACCESS_DENIED};
    case EFBIG: throw OsError{ERROR_FILE_TOO_LARGE};
    default: throw OsError{Win32ErrorFromErrno(error)};
  }
  auto table = ParseOwned(std::move(bytes));
  std::lock_guard guard(cache.lock);
  auto& entry = cache.files[path];
  cache.bytes -= entry.table ? entry.table->Size() : 0;
  entry = {stamp, table};
  cache.bytes += table->Size();
  // Modules no handle uses are let go once the cache holds too many or too
  // much; the rest stay with their handles anyway.
  if (cache.files.size() > kMaxCachedFiles || cache.bytes > kMaxCachedBytes) {
    cache.files.clear();
    cache.bytes = 0;
  }
  return table;
}

}  // namespace

std::shared_ptr<const MessageTable> ParseMessageTables(const BYTE* data, size_t size) {
  return ParseOwned(std::string(reinterpret_cast<const char*>(data), size));
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
  if (table.Empty()) {
    error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return nullptr;
  }
  WORD language = table.DefaultLanguage();
  if (languageId != 0) {
    language = static_cast<WORD>(languageId);
    if (!table.HasLanguage(language)) language = static_cast<WORD>(languageId & 0x3FF);
    if (!table.HasLanguage(language)) {
      error = ERROR_RESOURCE_LANG_NOT_FOUND;
      return nullptr;
    }
  }
  const MessageTable::Message* found = table.Find(language, id);
  if (!found) error = ERROR_MR_MID_NOT_FOUND;
  return found;
}

const std::u16string* FindMessage(const MessageTable& table, DWORD id, DWORD languageId, DWORD& error) {
  const MessageTable::Message* message = FindTableMessage(table, id, languageId, error);
  return message ? &message->text : nullptr;
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
  } catch (const OsError& failure) {
    const DWORD error = failure.code;
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
