// The registry's store on disk (see Store.h): the layout of keys and values
// in folders and files, and the one-step writes that keep each value whole
// for readers in other processes. Relies on POSIX file calls, on the
// prefix's way of reaching a path without following links (os/Prefix.h), and
// on the Unicode upper case (rtl/UpperCase.h).
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
#include <ztlogger/platform/rtl/UpperCase.h>
#include <ztlogger/platform/os/Descriptor.h>

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
//
// Earlier versions folded only ASCII, Latin-1, Greek and Cyrillic letters,
// so an entry they made for "ā" is named after "ā", not "Ā": a name missing
// at its place, one of whose letters has a spelling they folded otherwise,
// is looked for among the spellings stored in its folder, and the entry
// found keeps its place.
//
// Every entry is reached beneath the prefix without following a link (a
// link in the store is refused as ERROR_ACCESS_DENIED). A key made in a
// sticky folder (HKEY_USERS, where each user makes their own key) is
// private to its owner: folder 0700, values 0600; every other key folder
// takes its parent's permissions but the right of others to write, its
// value files the same without execution.

namespace ztl::os::registry {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[4] = {'Z', 'R', 'V', '1'};
constexpr size_t kHeaderSize = 20;     // magic, type, created (8 bytes), name length
constexpr size_t kMaxPlainName = 200;  // bytes of an encoded name kept as a file name

}  // namespace

namespace {

// A path split into its folder and the last name.
struct Entry {
  std::string folder;
  std::string name;
};

Entry Split(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return {path.substr(0, slash), path.substr(slash + 1)};
}

int OpenFolder(const std::string& folder, int flags = O_PATH) { return OpenBeneathPrefix(folder, flags | O_DIRECTORY); }

// The modes of what is made in a folder: a key's folder and a value's file.
struct Modes {
  mode_t folder;
  mode_t file;
};

Modes ModesIn(int folder) {
  struct stat st {};
  if (fstat(folder, &st) != 0 || (st.st_mode & S_ISVTX)) return {0700, 0600};
  return {static_cast<mode_t>(st.st_mode & 0755), static_cast<mode_t>(st.st_mode & 0644)};
}

}  // namespace

// The folding of earlier versions: letters of ASCII, Latin-1, Greek and
// Cyrillic; every other character is its own upper case.
char16_t LegacyFold(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

using Fold = char16_t (*)(char16_t);

std::u16string FoldWith(std::u16string_view name, Fold fold) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = fold(c);
  return folded;
}

std::u16string FoldName(std::u16string_view name) { return FoldWith(name, unicode::SimpleUpperCase); }

bool SameName(std::u16string_view a, std::u16string_view b) { return unicode::EqualIgnoringCase(a, b); }

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
  return ParseValue(file.data(), file.size(), value, withData);
}

bool ParseValue(const BYTE* file, size_t size, Value& value, bool withData) {
  if (size < kHeaderSize || memcmp(file, kMagic, 4) != 0) return false;
  value.type = Get32(file + 4);
  value.created = Get32(file + 8) | (static_cast<uint64_t>(Get32(file + 12)) << 32);
  const size_t nameLength = Get32(file + 16);
  if ((size - kHeaderSize) / 2 < nameLength) return false;
  value.name = Utf16FromBytes(file + kHeaderSize, nameLength);
  if (withData) value.data.assign(file + kHeaderSize + 2 * nameLength, file + size);
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

namespace {

// Whether an entry is there, without following it: a link is there but
// refused, as is a folder the caller may not search.
Place Look(std::string path) {
  const int fd = OpenBeneathPrefix(path, O_PATH);
  if (fd >= 0) {
    close(fd);
    return {std::move(path), true};
  }
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR) return {std::move(path), false};
  return {std::move(path), error == ELOOP, ErrorOf(error)};
}

// Where a name lives as this version folds it: a name of plain length has one
// place; a hashed one is looked for along its chain until a free place.
Place LocateFolded(const std::string& folder, std::u16string_view name, bool isKey) {
  const std::u16string folded = FoldName(name);
  const std::string prefix = folder + (isKey ? "/" : "/v");
  std::string encoded = Encode(folded);
  if (encoded.size() <= kMaxPlainName) return Look(prefix + encoded);
  const std::string base = prefix + HashedName(folded);
  for (int i = 0;; ++i) {
    Place place = Look(i == 0 ? base : base + "-" + std::to_string(i));
    if (!place.exists || place.error != ERROR_SUCCESS) return place;
    const auto stored = isKey ? StoredKeyName(place.path) : StoredValueName(place.path);
    if (stored && SameName(*stored, name)) return place;
  }
}

// Whether a name could have been stored elsewhere by earlier versions: one
// of its upper-case letters has a spelling they did not fold to it.
bool MayBeStoredAsBefore(std::u16string_view name) {
  // A unit folded otherwise is one with an upper case of its own (a mapping)
  // or one that earlier versions changed: all below U+0460.
  static const std::vector<bool> foldedOtherwise = [] {
    std::vector<bool> marks(0x10000);
    for (const auto& [unit, upper] : unicode::UpperCaseMappings())
      if (LegacyFold(unit) != upper) marks[upper] = true;
    for (char16_t unit = 0; unit < 0x460; ++unit)
      if (LegacyFold(unit) != unicode::SimpleUpperCase(unit)) marks[unicode::SimpleUpperCase(unit)] = true;
    return marks;
  }();
  for (char16_t c : name)
    if (foldedOtherwise[unicode::SimpleUpperCase(c)]) return true;
  return false;
}

// The entry of a folder whose stored spelling is the name's in any case.
std::optional<std::string> FindSpelling(const std::string& folder, std::u16string_view name, bool isKey);

}  // namespace

// Where a name lives in a folder; a name missing there may have been stored
// under the folding of earlier versions.
Place Locate(const std::string& folder, std::u16string_view name, bool isKey) {
  Place place = LocateFolded(folder, name, isKey);
  if (place.exists || place.error != ERROR_SUCCESS || !MayBeStoredAsBefore(name)) return place;
  if (auto earlier = FindSpelling(folder, name, isKey)) return {std::move(*earlier), true};
  return place;
}

// Reads a value's file: a name of plain length from its own place at once,
// looked for elsewhere (as Locate looks) only when it is not there.
int ReadValueFile(const std::string& folder, std::u16string_view name, Bytes& file) {
  const std::string encoded = Encode(FoldName(name));
  if (encoded.size() <= kMaxPlainName) {
    const int failed = ReadAll(folder + "/v" + encoded, file);
    if (failed != ENOENT || !MayBeStoredAsBefore(name)) return failed;
  }
  return ReadAll(Locate(folder, name, false).path, file);
}

DWORD ErrorOf(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:  // a link in the store
    case EXDEV: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return Win32ErrorFromErrno(error);
  }
}

bool StatEntry(const std::string& path, struct stat& st) {
  const Descriptor entry(OpenBeneathPrefix(path, O_PATH));
  return entry.Get() >= 0 && fstat(entry.Get(), &st) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return StatEntry(path, st) && S_ISDIR(st.st_mode);
}

DWORD RemoveValueFile(const std::string& path) {
  const Entry entry = Split(path);
  const Descriptor folder(OpenFolder(entry.folder));
  if (folder.Get() < 0 || unlinkat(folder.Get(), entry.name.c_str(), 0) != 0) return ErrorOf(errno);
  return ERROR_SUCCESS;
}

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

// Writes a file aside and renames it into place.
DWORD ReplaceFile(const std::string& folder, const std::string& target, const Bytes& content) {
  const Descriptor dir(OpenFolder(folder));
  if (dir.Get() < 0) return errno == ENOENT ? ERROR_KEY_DELETED : ErrorOf(errno);
  const std::string temp = UniqueName("tmp");
  const std::string name = Split(target).name;
  const int fd =
      openat(dir.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, ModesIn(dir.Get()).file);
  if (fd < 0) return errno == ENOENT ? ERROR_KEY_DELETED : ErrorOf(errno);
  int error = WriteAll(fd, content.data(), content.size());
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && renameat(dir.Get(), temp.c_str(), dir.Get(), name.c_str()) != 0) error = errno;
  if (error != 0) {
    unlinkat(dir.Get(), temp.c_str(), 0);
    return error == ENOENT ? ERROR_KEY_DELETED : ErrorOf(error);
  }
  return ERROR_SUCCESS;
}

namespace {

// Writes a key's spelling into its folder, `key` in `parent`.
int WriteKeySpelling(int parent, const std::string& key, std::u16string_view name, mode_t mode) {
  const Descriptor folder(openat(parent, key.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.Get() < 0) return errno;
  const int fd = openat(folder.Get(), ".name", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  const Bytes spelling = Utf16Bytes(name);
  int error = WriteAll(fd, spelling.data(), spelling.size());
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

// Creates the key `name` in `folder` in one step: made aside with its
// spelling, then renamed into place unless someone made it meanwhile.
// Returns the key's folder and whether it was created (folder is a copy:
// path may be the caller's same string).
DWORD CreateKeyFolder(std::string folder, std::u16string_view name, std::string& path, bool& created) {
  for (;;) {
    const Place place = Locate(folder, name, true);
    path = place.path;
    created = false;
    if (place.error != ERROR_SUCCESS) return place.error;
    if (place.exists) return IsFolder(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    const Descriptor dir(OpenFolder(folder));
    if (dir.Get() < 0) return errno == ENOENT ? ERROR_KEY_DELETED : ErrorOf(errno);
    const Modes modes = ModesIn(dir.Get());
    const std::string temp = UniqueName("tmp");
    if (mkdirat(dir.Get(), temp.c_str(), modes.folder) != 0)
      return errno == ENOENT ? ERROR_KEY_DELETED : ErrorOf(errno);
    int error = WriteKeySpelling(dir.Get(), temp, name, modes.file);
    if (error == 0 && renameat2(dir.Get(), temp.c_str(), dir.Get(), Split(path).name.c_str(), RENAME_NOREPLACE) != 0)
      error = errno;
    if (error == 0) {
      created = true;
      return ERROR_SUCCESS;
    }
    RemoveQuietly(folder + "/" + temp);
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
  if (!StatEntry(folder, st) || !S_ISDIR(st.st_mode)) return 0;
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

namespace {

// The path of keys below `folder` where each name lies at its own place,
// reached in one step; false where one of them is kept elsewhere or is
// missing (a hashed name, one stored by earlier versions), which the walk
// name by name finds.
bool FindKeyAtItsPlaces(const std::string& folder, const std::vector<std::u16string_view>& names, std::string& path) {
  path = folder;
  for (const auto& name : names) {
    const std::string encoded = Encode(FoldName(name));
    if (encoded.size() > kMaxPlainName) return false;
    path += '/';
    path += encoded;
  }
  const Descriptor key(OpenBeneathPrefix(path, O_PATH | O_DIRECTORY));
  return key.Get() >= 0;
}

}  // namespace

// Walks a path of existing keys below `folder`.
DWORD FindKey(const std::string& folder, const std::vector<std::u16string_view>& names, std::string& path) {
  if (!names.empty() && FindKeyAtItsPlaces(folder, names, path)) return ERROR_SUCCESS;
  path = folder;
  for (const auto& name : names) {
    const Place place = Locate(path, name, true);
    if (place.error != ERROR_SUCCESS) return place.error;
    if (!place.exists) return ERROR_FILE_NOT_FOUND;
    path = place.path;
  }
  return IsFolder(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

namespace {

// A folder's listing, opened beneath the prefix; nullptr with errno.
DIR* OpenListing(const std::string& folder) {
  const int fd = OpenFolder(folder, O_RDONLY);
  if (fd < 0) return nullptr;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) close(fd);
  return dir;
}

}  // namespace

namespace {

std::optional<std::string> FindSpelling(const std::string& folder, std::u16string_view name, bool isKey) {
  DIR* dir = OpenListing(folder);
  if (dir == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* entry = readdir(dir)) {
    const bool keyEntry = entry->d_type == DT_DIR;
    if (entry->d_name[0] == '.' || keyEntry != isKey || (!isKey && entry->d_name[0] != 'v')) continue;
    const std::string path = folder + "/" + entry->d_name;
    const auto stored = isKey ? StoredKeyName(path) : StoredValueName(path);
    if (stored && SameName(*stored, name)) {
      found = path;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::vector<std::u16string> ListSubkeys(const std::string& folder) {
  std::vector<std::pair<std::u16string, std::u16string>> found;  // folded, spelling
  if (DIR* dir = OpenListing(folder)) {
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

namespace {

// Whether no user but the caller or root may add, replace or remove an
// entry of the folder.
bool OnlyTrustedUsersChange(int folder) {
  struct stat info {};
  if (fstat(folder, &info) != 0) return false;
  return (info.st_uid == geteuid() || info.st_uid == 0) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Whether a's name comes before b's, both folded, folded as they are compared.
bool FoldedNameBefore(std::u16string_view a, std::u16string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
    return unicode::SimpleUpperCase(x) < unicode::SimpleUpperCase(y);
  });
}

}  // namespace

std::vector<Value> ListValues(const std::string& folder) {
  std::vector<Value> values;
  if (DIR* dir = OpenListing(folder)) {
    // A listed file's kind is taken from the listing where no one else
    // could have replaced it since; else its status is asked again.
    const bool listingTrusted = OnlyTrustedUsersChange(dirfd(dir));
    std::string read;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_type == DT_DIR || entry->d_name[0] == '.') continue;
      const int failed = listingTrusted && entry->d_type == DT_REG ? ReadListedFileAt(dirfd(dir), entry->d_name, read)
                                                                   : ReadWholeFileAt(dirfd(dir), entry->d_name, read);
      if (failed != 0) continue;
      Value& value = values.emplace_back();
      if (!ParseValue(reinterpret_cast<const BYTE*>(read.data()), read.size(), value)) values.pop_back();
    }
    closedir(dir);
  }
  // By creation, then by folded name: values made within one tick of the
  // clock share their stamp, and only those need their names folded.
  std::sort(values.begin(), values.end(), [](const Value& a, const Value& b) {
    return a.created != b.created ? a.created < b.created : FoldedNameBefore(a.name, b.name);
  });
  return values;
}

DWORD DeleteKeyFolder(const std::string& parent, const std::string& path, bool withSubkeys) {
  if (!withSubkeys) {
    DIR* dir = OpenListing(path);
    if (dir == nullptr) return ErrorOf(errno);
    bool hasSubkeys = false;
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.' && entry->d_type == DT_DIR) hasSubkeys = true;
    closedir(dir);
    if (hasSubkeys) return ERROR_ACCESS_DENIED;
  }
  // Out of sight in one step, then removed.
  const std::string doomed = UniqueName("del");
  const Descriptor folder(OpenFolder(parent));
  if (folder.Get() < 0 || renameat(folder.Get(), Split(path).name.c_str(), folder.Get(), doomed.c_str()) != 0)
    return ErrorOf(errno);
  RemoveQuietly(parent + "/" + doomed);
  return ERROR_SUCCESS;
}

std::u16string CurrentUserId() {
  const std::string id = "S-1-5-21-0-0-0-" + std::to_string(geteuid());
  return std::u16string(id.begin(), id.end());
}

namespace {

// Makes a key's tree private to its owner: folders 0700, files 0600.
DWORD MakePrivate(const std::string& folder) {
  std::error_code error;
  const auto mode = [](bool isFolder) {
    return isFolder ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write;
  };
  fs::permissions(folder, mode(true), fs::perm_options::replace, error);
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_symlink(error)) continue;
    fs::permissions(it->path(), mode(it->is_directory(error)), fs::perm_options::replace, error);
  }
  return error ? ErrorOf(error.value()) : ERROR_SUCCESS;
}

// Earlier versions kept one HKEY_CURRENT_USER for every user of a prefix:
// its owner takes it over as their own key, once, in one step; it stays
// where it is for any other user.
DWORD AdoptEarlierUserKey(const std::string& registry, const std::string& users, const std::string& key) {
  const std::string earlier = registry + "/HKEY_CURRENT_USER";
  struct stat st {};
  if (!StatEntry(earlier, st) || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return ERROR_SUCCESS;
  const Descriptor from(OpenFolder(registry));
  const Descriptor to(OpenFolder(users));
  if (from.Get() < 0 || to.Get() < 0) return ErrorOf(errno);
  const std::string temp = UniqueName("tmp");
  if (renameat(from.Get(), "HKEY_CURRENT_USER", to.Get(), temp.c_str()) != 0) return ErrorOf(errno);
  int failed = WriteKeySpelling(to.Get(), temp, CurrentUserId(), 0600);
  DWORD error = failed != 0 && failed != EEXIST ? ErrorOf(failed) : MakePrivate(users + "/" + temp);
  if (error == ERROR_SUCCESS &&
      renameat2(to.Get(), temp.c_str(), to.Get(), Split(key).name.c_str(), RENAME_NOREPLACE) != 0)
    error = ErrorOf(errno);
  if (error != ERROR_SUCCESS) renameat(to.Get(), temp.c_str(), from.Get(), "HKEY_CURRENT_USER");
  return error;
}

}  // namespace

DWORD CurrentUserFolder(const std::string& registry, std::string& folder) {
  const std::string users = registry + "/HKEY_USERS";
  // Each user makes their own key there, and may remove no other's.
  if (const int failed = MakeStoreFolder(users, 01777)) return ErrorOf(failed);
  const std::u16string id = CurrentUserId();
  Place place = Locate(users, id, true);
  if (place.error != ERROR_SUCCESS) return place.error;
  if (!place.exists) {
    if (const DWORD error = AdoptEarlierUserKey(registry, users, place.path)) return error;
    bool created = false;
    if (const DWORD error = CreateKeyFolder(users, id, place.path, created)) return error;
  }
  folder = place.path;
  const Descriptor key(OpenFolder(folder));
  if (key.Get() < 0) return ErrorOf(errno);
  return TrustedStoreFolder(key.Get(), folder) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace ztl::os::registry
