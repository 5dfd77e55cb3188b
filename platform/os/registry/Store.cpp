// The registry's store on disk (see Store.h): the layout of keys and values
// in folders and files, and the one-step writes that keep each value whole
// for readers in other processes. Relies on POSIX file calls only.
#include <ztlogger/platform/os/registry/Store.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/registry/Api.h>

// The store. A key is a folder; its spelling is kept in the file ".name"
// inside it (UTF-16LE). A value is a file: a header (magic, type, creation
// time for the enumeration order, the name's length), the name in UTF-16LE,
// then the data. Entries are named on disk after the name folded to upper
// case, characters other than letters, digits, blank, '-' and '_' written as
// "%XXXX" (their UTF-16 code unit), so ".", "..", "/" and control characters
// stay inside their key's folder; a name too long for a file name is stored
// as "#" and a hash of it, with "-N" added when two such names meet. Value
// files carry a "v" in front (the default value is "v"): the encoding makes
// no lower-case letters, so a key and a value of one name never meet. Names
// starting with "." belong to the store: ".tmp-*" files and folders being
// written, ".del-*" keys being removed.

namespace ztl::os::registry {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[4] = {'Z', 'R', 'V', '1'};
constexpr size_t kHeaderSize = 20;     // magic, type, created (8 bytes), name length
constexpr size_t kMaxPlainName = 200;  // bytes of an encoded name kept as a file name

}  // namespace

// Upper case as the registry compares names: letters of ASCII, Latin-1,
// Greek and Cyrillic; every other character is its own upper case.
char16_t Fold(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

std::u16string FoldName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = Fold(c);
  return folded;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

// The file name of a folded name, before a long one is hashed.
std::string Encode(std::u16string_view folded) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(folded.size());
  for (char16_t c : folded) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u' ') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 0xF];
    }
  }
  return out;
}

std::string HashedName(std::u16string_view folded) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (char16_t c : folded) {
    hash = (hash ^ (c & 0xFF)) * 1099511628211ull;
    hash = (hash ^ (c >> 8)) * 1099511628211ull;
  }
  char text[24];
  snprintf(text, sizeof text, "#%016llX", static_cast<unsigned long long>(hash));
  return text;
}

// Whole-file helpers. Errors come back as errno values.
int ReadAll(const std::string& path, Bytes& out) {
  std::string bytes;
  if (const int error = ReadWholeFile(path, bytes)) return error;
  out.assign(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
  return 0;
}

int WriteAll(int fd, const BYTE* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += put;
    size -= static_cast<size_t>(put);
  }
  return 0;
}

// A name unique to this process and call, for entries being written.
std::string UniqueName(const char* kind) {
  static std::atomic<uint64_t> counter{0};
  char text[96];
  snprintf(text, sizeof text, ".%s-%d-%llu-%llx", kind, static_cast<int>(getpid()),
           static_cast<unsigned long long>(counter.fetch_add(1)),
           static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return text;
}

Bytes Utf16Bytes(std::u16string_view text) {
  Bytes bytes(text.size() * 2, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
  return bytes;
}

std::u16string Utf16FromBytes(const BYTE* data, size_t count) {
  std::u16string text(count, 0);
  for (size_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return text;
}

uint32_t Get32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void Put32(BYTE* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

// Parses a value file; false for a file that is no value.
bool ParseValue(const Bytes& file, Value& value, bool withData) {
  if (file.size() < kHeaderSize || memcmp(file.data(), kMagic, 4) != 0) return false;
  value.type = Get32(file.data() + 4);
  value.created = Get32(file.data() + 8) | (static_cast<uint64_t>(Get32(file.data() + 12)) << 32);
  const size_t nameLength = Get32(file.data() + 16);
  if (file.size() < kHeaderSize + 2 * nameLength) return false;
  value.name = Utf16FromBytes(file.data() + kHeaderSize, nameLength);
  if (withData) value.data.assign(file.begin() + static_cast<ptrdiff_t>(kHeaderSize + 2 * nameLength), file.end());
  return true;
}

// The file of a value: the header, the name, then the data.
Bytes EncodeValue(DWORD type, uint64_t created, std::u16string_view name, const BYTE* data, size_t size) {
  Bytes file(kHeaderSize, 0);
  memcpy(file.data(), kMagic, 4);
  Put32(file.data() + 4, type);
  Put32(file.data() + 8, static_cast<uint32_t>(created));
  Put32(file.data() + 12, static_cast<uint32_t>(created >> 32));
  Put32(file.data() + 16, static_cast<uint32_t>(name.size()));
  file += Utf16Bytes(name);
  if (size > 0) file.append(data, size);
  return file;
}

std::optional<std::u16string> StoredKeyName(const std::string& folder) {
  Bytes bytes;
  if (ReadAll(folder + "/.name", bytes) != 0) return std::nullopt;
  return Utf16FromBytes(bytes.data(), bytes.size() / 2);
}

std::optional<std::u16string> StoredValueName(const std::string& file) {
  Bytes bytes;
  Value value;
  if (ReadAll(file, bytes) != 0 || !ParseValue(bytes, value, false)) return std::nullopt;
  return value.name;
}

// Where a name lives in a folder: the entry's path, and whether it exists.
// A name of plain length has one place; a hashed one is looked for along its
// chain until a free place.
Place Locate(const std::string& folder, std::u16string_view name, bool isKey) {
  const std::u16string folded = FoldName(name);
  const std::string prefix = folder + (isKey ? "/" : "/v");
  std::string encoded = Encode(folded);
  if (encoded.size() <= kMaxPlainName) {
    std::string path = prefix + encoded;
    return {path, access(path.c_str(), F_OK) == 0};
  }
  const std::string base = prefix + HashedName(folded);
  for (int i = 0;; ++i) {
    std::string path = i == 0 ? base : base + "-" + std::to_string(i);
    if (access(path.c_str(), F_OK) != 0) return {path, false};
    const auto stored = isKey ? StoredKeyName(path) : StoredValueName(path);
    if (stored && SameName(*stored, name)) return {path, true};
  }
}

// The path of a value when it exists, without a look at the folder for a
// name of plain length.
std::string ValuePath(const std::string& folder, std::u16string_view name) {
  std::string encoded = Encode(FoldName(name));
  if (encoded.size() <= kMaxPlainName) return folder + "/v" + encoded;
  return Locate(folder, name, false).path;
}

DWORD ErrorOf(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return Win32ErrorFromErrno(error);
  }
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

// Writes a file aside and renames it into place.
DWORD ReplaceFile(const std::string& folder, const std::string& target, const Bytes& content) {
  const std::string temp = folder + "/" + UniqueName("tmp");
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == ENOENT ? ERROR_KEY_DELETED : ErrorOf(errno);
  int error = WriteAll(fd, content.data(), content.size());
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    return error == ENOENT ? ERROR_KEY_DELETED : ErrorOf(error);
  }
  return ERROR_SUCCESS;
}

// Creates the key `name` in `folder` in one step: made aside with its
// spelling, then renamed into place unless someone made it meanwhile.
// Returns the key's folder and whether it was created (folder is a copy:
// path may be the caller's same string).
DWORD CreateKeyFolder(std::string folder, std::u16string_view name, std::string& path, bool& created) {
  for (;;) {
    const Place place = Locate(folder, name, true);
    path = place.path;
    created = false;
    if (place.exists) return IsFolder(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    const std::string temp = folder + "/" + UniqueName("tmp");
    if (mkdir(temp.c_str(), 0755) != 0) return errno == ENOENT ? ERROR_KEY_DELETED : ErrorOf(errno);
    const int fd = open((temp + "/.name").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
      const Bytes spelling = Utf16Bytes(name);
      error = WriteAll(fd, spelling.data(), spelling.size());
      if (close(fd) != 0 && error == 0) error = errno;
    }
    if (error == 0 && renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) error = errno;
    if (error == 0) {
      created = true;
      return ERROR_SUCCESS;
    }
    RemoveQuietly(temp);
    if (error != EEXIST && error != ENOTEMPTY) return ErrorOf(error);
    // Made by someone else meanwhile: open that one.
  }
}

// Splits a key path into its names; false with the error for a bad path.
DWORD SplitPath(LPCWSTR subKey, std::vector<std::u16string_view>& names) {
  names.clear();
  if (subKey == nullptr || *subKey == 0) return ERROR_SUCCESS;
  std::u16string_view path(subKey);
  if (path.front() == u'\\') return ERROR_BAD_PATHNAME;
  if (path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(u'\\', start);
    const std::u16string_view name = path.substr(start, end == path.npos ? path.npos : end - start);
    if (name.empty() || name.size() > REG_MAX_KEY_NAME) return ERROR_INVALID_PARAMETER;
    names.push_back(name);
    if (end == path.npos) return ERROR_SUCCESS;
    start = end + 1;
  }
}

std::u16string ValueName(LPCWSTR name) { return name ? std::u16string(name) : std::u16string(); }

constexpr int64_t kCoarseClockTicks = 50'000'000;  // nanoseconds: some ticks of the clock

// When a key's folder last changed (an entry added, removed or renamed), in
// nanoseconds; 0 for a folder that is gone.
int64_t FolderChanged(const std::string& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

// Whether an enumeration's snapshot is to be taken (again): at index 0, and
// past its end only when the folder changed since. Sets taken; false with
// ERROR_KEY_DELETED in error for a key whose folder is gone.
bool TakeSnapshot(const std::string& folder, DWORD index, size_t listed, int64_t& taken, DWORD& error) {
  error = ERROR_SUCCESS;
  if (index != 0 && index < listed) return false;
  const int64_t changed = FolderChanged(folder);
  if (changed == 0) error = ERROR_KEY_DELETED;
  if (changed == 0 || (index != 0 && changed == taken)) return false;
  // The system stamps changes with a coarse clock: a snapshot taken within
  // a few of its ticks of the last change may miss one stamped alike, and
  // counts as unsure (-1), listed again past its end.
  const int64_t now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  taken = now - changed < kCoarseClockTicks ? -1 : changed;
  return true;
}

// Walks a path of existing keys below `folder`.
DWORD FindKey(const std::string& folder, const std::vector<std::u16string_view>& names, std::string& path) {
  path = folder;
  for (const auto& name : names) {
    const Place place = Locate(path, name, true);
    if (!place.exists) return ERROR_FILE_NOT_FOUND;
    path = place.path;
  }
  return IsFolder(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

std::vector<std::u16string> ListSubkeys(const std::string& folder) {
  std::vector<std::pair<std::u16string, std::u16string>> found;  // folded, spelling
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.' || entry->d_type != DT_DIR) continue;
      if (auto name = StoredKeyName(folder + "/" + entry->d_name)) found.emplace_back(FoldName(*name), *name);
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::u16string> names;
  for (auto& entry : found) names.push_back(std::move(entry.second));
  return names;
}

std::vector<Value> ListValues(const std::string& folder) {
  // Sorted by creation, then by folded name, each name folded once: values
  // made within one tick of the clock share their stamp.
  std::vector<std::pair<std::u16string, Value>> found;
  if (DIR* dir = opendir(folder.c_str())) {
    std::string read;
    Bytes bytes;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_type == DT_DIR || entry->d_name[0] == '.') continue;
      if (ReadWholeFileAt(dirfd(dir), entry->d_name, read) != 0) continue;
      bytes.assign(reinterpret_cast<const BYTE*>(read.data()), read.size());
      Value value;
      if (ParseValue(bytes, value)) {
        std::u16string folded = FoldName(value.name);
        found.emplace_back(std::move(folded), std::move(value));
      }
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.second.created != b.second.created ? a.second.created < b.second.created : a.first < b.first;
  });
  std::vector<Value> values;
  values.reserve(found.size());
  for (auto& [folded, value] : found) values.push_back(std::move(value));
  return values;
}

DWORD DeleteKeyFolder(const std::string& parent, const std::string& path, bool withSubkeys) {
  if (!withSubkeys) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return ErrorOf(errno);
    bool hasSubkeys = false;
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.' && entry->d_type == DT_DIR) hasSubkeys = true;
    closedir(dir);
    if (hasSubkeys) return ERROR_ACCESS_DENIED;
  }
  // Out of sight in one step, then removed.
  const std::string doomed = parent + "/" + UniqueName("del");
  if (rename(path.c_str(), doomed.c_str()) != 0) return ErrorOf(errno);
  RemoveQuietly(doomed);
  return ERROR_SUCCESS;
}

}  // namespace ztl::os::registry
