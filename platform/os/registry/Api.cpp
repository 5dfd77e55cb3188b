#include <ztlogger/platform/os/Registry.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/HandleTable.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/Sync.h>

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

namespace ztl::os {
namespace {

using Bytes = std::basic_string<BYTE>;
namespace fs = std::filesystem;

constexpr char kMagic[4] = {'Z', 'R', 'V', '1'};
constexpr size_t kHeaderSize = 20;     // magic, type, created (8 bytes), name length
constexpr size_t kMaxPlainName = 200;  // bytes of an encoded name kept as a file name
constexpr DWORD kKnownFilters =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

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

// A value as stored.
struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  uint64_t created = 0;
  Bytes data;
};

// Parses a value file; false for a file that is no value.
bool ParseValue(const Bytes& file, Value& value, bool withData = true) {
  if (file.size() < kHeaderSize || memcmp(file.data(), kMagic, 4) != 0) return false;
  value.type = Get32(file.data() + 4);
  value.created = Get32(file.data() + 8) | (static_cast<uint64_t>(Get32(file.data() + 12)) << 32);
  const size_t nameLength = Get32(file.data() + 16);
  if (file.size() < kHeaderSize + 2 * nameLength) return false;
  value.name = Utf16FromBytes(file.data() + kHeaderSize, nameLength);
  if (withData) value.data.assign(file.begin() + static_cast<ptrdiff_t>(kHeaderSize + 2 * nameLength), file.end());
  return true;
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
struct Place {
  std::string path;
  bool exists;
};

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

// Change notifications.

class Watch;

// The services thread that follows every watched key and signals the events
// registered on them, so that a caller waits on its own event only.
class Notifier {
 public:
  static Notifier& Instance() {
    // Never destroyed: the thread may still run while the process exits.
    static Notifier* notifier = new Notifier;
    return *notifier;
  }
  void Add(const std::shared_ptr<Watch>& watch);
  void Remove(const std::shared_ptr<Watch>& watch);

 private:
  Notifier() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    std::thread([this] { Run(); }).detach();
  }
  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t put = write(wake_, &one, sizeof one);
  }
  void Run();

  const int wake_;
  std::mutex lock_;
  std::vector<std::shared_ptr<Watch>> watches_;
};

class Watch {
 public:
  Watch(int fd, bool subtree, DWORD filter) : fd_(fd), subtree_(subtree), filter_(filter) {}
  ~Watch() { CloseDescriptorLater(fd_); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  DWORD Start(const std::string& folder) {
    std::lock_guard guard(lock_);
    const int wd = inotify_add_watch(fd_, folder.c_str(), kMask | IN_DELETE_SELF | IN_MOVE_SELF);
    if (wd < 0) return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : ErrorOf(errno);
    rootWd_ = wd;
    folders_[wd] = folder;
    if (subtree_) WatchBelow(folder);
    return ERROR_SUCCESS;
  }
  int Descriptor() const { return fd_; }

  // Adds a registration: the event is signalled at the next change, or at
  // once when one happened since the last signal.
  void Register(std::shared_ptr<KernelObject> event) {
    std::lock_guard guard(lock_);
    ResetEventObject(*event);
    Drain();
    if (changed_ || closed_) {
      changed_ = false;
      SetEventObject(*event);
    } else {
      waiters_.push_back(std::move(event));
    }
  }
  // On the services thread when the descriptor turned readable.
  void Serve() {
    std::lock_guard guard(lock_);
    Drain();
    if (changed_ && !waiters_.empty()) {
      changed_ = false;
      SignalAll();
    }
  }
  // The handle is closed: whoever waits is let go.
  void Close() {
    std::lock_guard guard(lock_);
    closed_ = true;
    SignalAll();
  }

 private:
  static constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR;

  void SignalAll() {
    for (auto& event : waiters_) SetEventObject(*event);
    waiters_.clear();
  }
  void Note(DWORD kinds) {
    if (kinds & filter_) changed_ = true;
  }
  void Drain() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
        Handle(event);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      }
    }
  }
  void Handle(const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
      Note(kKnownFilters);  // something may have been missed
      return;
    }
    if (event.mask & IN_IGNORED) {
      folders_.erase(event.wd);
      return;
    }
    if (event.len == 0) {  // a watched key itself
      if (event.wd == rootWd_ && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))) Note(kKnownFilters);
      if (event.mask & IN_ATTRIB) Note(REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_SECURITY);
      return;
    }
    const bool isKey = (event.mask & IN_ISDIR) != 0;
    if (event.name[0] == '.') {
      // The store's own entries; a key's spelling counts as its attributes.
      if (!isKey && (event.mask & IN_ATTRIB) && strcmp(event.name, ".name") == 0)
        Note(REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_SECURITY);
      return;
    }
    if (event.mask & IN_ATTRIB) Note(REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_SECURITY);
    if (!(event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO))) return;
    Note(isKey ? REG_NOTIFY_CHANGE_NAME : REG_NOTIFY_CHANGE_LAST_SET);
    if (!isKey || !subtree_) return;
    const auto parent = folders_.find(event.wd);
    if (parent == folders_.end()) return;
    const std::string path = parent->second + "/" + event.name;
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
      WatchFolder(path);
    } else {
      UnwatchBelow(path);
    }
  }
  void WatchFolder(const std::string& path) {
    const int wd = inotify_add_watch(fd_, path.c_str(), kMask);
    if (wd < 0) {
      if (errno == ENOSPC) Note(kKnownFilters);  // no more watches: changes there could be missed
      return;
    }
    folders_[wd] = path;
    WatchBelow(path);
  }
  void WatchBelow(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> keys;
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.' && entry->d_type == DT_DIR) keys.emplace_back(entry->d_name);
    closedir(dir);
    for (const std::string& key : keys) WatchFolder(path + "/" + key);
  }
  void UnwatchBelow(const std::string& path) {
    for (auto it = folders_.begin(); it != folders_.end();) {
      if (it->first != rootWd_ && (it->second == path || it->second.starts_with(path + "/"))) {
        inotify_rm_watch(fd_, it->first);
        it = folders_.erase(it);
      } else {
        ++it;
      }
    }
  }

  const int fd_;
  const bool subtree_;
  const DWORD filter_;
  std::mutex lock_;
  int rootWd_ = -1;
  std::map<int, std::string> folders_;  // watch -> the key's folder
  bool changed_ = false;                // a change since the last signal
  bool closed_ = false;
  std::vector<std::shared_ptr<KernelObject>> waiters_;
};

void Notifier::Add(const std::shared_ptr<Watch>& watch) {
  {
    std::lock_guard guard(lock_);
    if (std::find(watches_.begin(), watches_.end(), watch) != watches_.end()) return;
    watches_.push_back(watch);
  }
  Wake();
}

void Notifier::Remove(const std::shared_ptr<Watch>& watch) {
  {
    std::lock_guard guard(lock_);
    watches_.erase(std::remove(watches_.begin(), watches_.end(), watch), watches_.end());
  }
  Wake();
}

void Notifier::Run() {
  std::vector<std::shared_ptr<Watch>> current;
  std::vector<pollfd> fds;
  for (;;) {
    {
      std::lock_guard guard(lock_);
      current = watches_;  // held through the round: no descriptor closes while polled
    }
    fds.assign(1, pollfd{wake_, POLLIN, 0});
    for (const auto& watch : current) fds.push_back(pollfd{watch->Descriptor(), POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t got = read(wake_, &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents) current[i - 1]->Serve();
    current.clear();
  }
}

// Open keys. Handles of keys have a table of their own; their values are
// small multiples of four, apart from the predefined keys' values.
struct Key {
  std::string folder;
  REGSAM access = KEY_ALL_ACCESS;
  std::mutex lock;                         // guards what follows
  std::vector<std::u16string> subkeyList;  // enumeration snapshots, taken at index 0
  std::vector<Value> valueList;
  // The folder's change time when each snapshot was taken (0 for none): an
  // index past a snapshot lists the folder again only when it changed.
  int64_t subkeysTaken = 0;
  int64_t valuesTaken = 0;
  std::shared_ptr<Watch> watch;
};

struct KeyTable {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<Key>> keys;
  uintptr_t next = 0x1000;
};

KeyTable& Keys() {
  static KeyTable* table = new KeyTable;  // never destroyed, like the handle table
  return *table;
}

const char* RootName(HKEY key) {
  const auto value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  if (reinterpret_cast<intptr_t>(key) != static_cast<intptr_t>(static_cast<int32_t>(value))) return nullptr;
  switch (value) {
    case 0x80000000u: return "HKEY_CLASSES_ROOT";
    case 0x80000001u: return "HKEY_CURRENT_USER";
    case 0x80000002u: return "HKEY_LOCAL_MACHINE";
    case 0x80000003u: return "HKEY_USERS";
    case 0x80000005u: return "HKEY_CURRENT_CONFIG";
    default: return nullptr;
  }
}

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

// The key a handle names, or nullptr with the error.
std::shared_ptr<Key> Resolve(HKEY handle, DWORD& error) {
  error = ERROR_SUCCESS;
  if (const char* root = RootName(handle)) {
    auto key = std::make_shared<Key>();
    key->folder = RegistryFolder() + "/" + root;
    std::error_code made;
    if (!IsFolder(key->folder) && !fs::create_directories(key->folder, made) && !IsFolder(key->folder)) {
      error = made ? ErrorOf(made.value()) : ERROR_ACCESS_DENIED;
      return nullptr;
    }
    return key;
  }
  KeyTable& table = Keys();
  std::lock_guard guard(table.lock);
  const auto found = table.keys.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.keys.end()) {
    error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return found->second;
}

HKEY InsertKey(std::shared_ptr<Key> key) {
  KeyTable& table = Keys();
  std::lock_guard guard(table.lock);
  const uintptr_t value = table.next;
  table.next += 4;
  table.keys[value] = std::move(key);
  return reinterpret_cast<HKEY>(value);
}

// The error for a failure on an open key: its own deletion shows as such.
DWORD KeyError(const Key& key, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND && !IsFolder(key.folder)) return ERROR_KEY_DELETED;
  return error;
}

bool Allowed(const Key& key, REGSAM right) { return (key.access & right) == right; }

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
  std::vector<Value> values;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_type == DT_DIR || entry->d_name[0] == '.') continue;
      Bytes bytes;
      Value value;
      if (ReadAll(folder + "/" + entry->d_name, bytes) == 0 && ParseValue(bytes, value)) values.push_back(value);
    }
    closedir(dir);
  }
  std::sort(values.begin(), values.end(), [](const Value& a, const Value& b) {
    return a.created != b.created ? a.created < b.created : FoldName(a.name) < FoldName(b.name);
  });
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

void PutLength(LPDWORD target, size_t value) {
  if (target) *target = static_cast<DWORD>(value);
}

FILETIME FileTimeOf(const timespec& time) {
  const uint64_t ticks =
      (static_cast<uint64_t>(time.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD OpenOrCreate(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, PHKEY phkResult, LPDWORD disposition, bool create) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto parent = Resolve(hKey, error);
  if (!parent) return error;
  std::vector<std::u16string_view> names;
  if ((error = SplitPath(lpSubKey, names)) != ERROR_SUCCESS) return error;
  auto key = std::make_shared<Key>();
  key->access = samDesired;
  if (!create) {
    if ((error = FindKey(parent->folder, names, key->folder)) != ERROR_SUCCESS) return KeyError(*parent, error);
  } else {
    if (!IsFolder(parent->folder)) return ERROR_KEY_DELETED;
    key->folder = parent->folder;
    bool created = false;
    bool mayCreate = Allowed(*parent, KEY_CREATE_SUB_KEY);
    for (const auto& name : names) {
      const Place place = Locate(key->folder, name, true);
      if (place.exists) {
        key->folder = place.path;
        created = false;
        mayCreate = true;  // the keys below an opened one are the caller's to make
        continue;
      }
      if (!mayCreate) return ERROR_ACCESS_DENIED;
      if ((error = CreateKeyFolder(key->folder, name, key->folder, created)) != ERROR_SUCCESS) return error;
      mayCreate = true;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  *phkResult = InsertKey(std::move(key));
  return ERROR_SUCCESS;
}

}  // namespace

String RegistryFolder() { return PlatformPrefix() + "/registry"; }

LSTATUS RegReadValue(HKEY hKey, const char16_t* name, DWORD& type, Bytes& data) {
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const std::u16string_view valueName = name ? std::u16string_view(name) : std::u16string_view();
  if (valueName.size() > REG_MAX_VALUE_NAME) return ERROR_FILE_NOT_FOUND;
  Bytes file;
  if (const int failed = ReadAll(ValuePath(key->folder, valueName), file))
    return static_cast<LSTATUS>(KeyError(*key, ErrorOf(failed)));
  Value value;
  if (!ParseValue(file, value)) return ERROR_FILE_NOT_FOUND;
  type = value.type;
  data = std::move(value.data);
  return ERROR_SUCCESS;
}

}  // namespace ztl::os

using ztl::os::Bytes;
using ztl::os::Key;

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return static_cast<LSTATUS>(ztl::os::OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, nullptr, false));
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return static_cast<LSTATUS>(ztl::os::OpenOrCreate(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition, true));
}

LSTATUS RegCloseKey(HKEY hKey) {
  using namespace ztl::os;
  if (RootName(hKey)) return ERROR_SUCCESS;
  std::shared_ptr<Key> key;
  {
    KeyTable& table = Keys();
    std::lock_guard guard(table.lock);
    const auto found = table.keys.find(reinterpret_cast<uintptr_t>(hKey));
    if (found == table.keys.end()) return ERROR_INVALID_HANDLE;
    key = std::move(found->second);
    table.keys.erase(found);
  }
  std::lock_guard guard(key->lock);
  if (key->watch) {
    Notifier::Instance().Remove(key->watch);
    key->watch->Close();
  }
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  DWORD type;
  Bytes data;
  if (const LSTATUS error = ztl::os::RegReadValue(hKey, lpValueName, type, data)) return error;
  if (lpType) *lpType = type;
  if (!lpcbData) return ERROR_SUCCESS;
  const DWORD capacity = *lpcbData;
  *lpcbData = static_cast<DWORD>(data.size());
  if (!lpData) return ERROR_SUCCESS;
  if (capacity < data.size()) return ERROR_MORE_DATA;
  std::copy(data.begin(), data.end(), lpData);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!lpData && cbData > 0) return ERROR_NOACCESS;
  Value value;
  value.name = ValueName(lpValueName);
  if (value.name.size() > REG_MAX_VALUE_NAME) return ERROR_INVALID_PARAMETER;
  if (!IsFolder(key->folder)) return ERROR_KEY_DELETED;
  const Place place = Locate(key->folder, value.name, false);
  // A value replaced keeps its spelling and its place in the enumeration.
  Bytes old;
  Value previous;
  if (place.exists && ReadAll(place.path, old) == 0 && ParseValue(old, previous, false)) {
    value.name = previous.name;
    value.created = previous.created;
  } else {
    value.created = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  }
  Bytes file(kHeaderSize, 0);
  memcpy(file.data(), kMagic, 4);
  Put32(file.data() + 4, dwType);
  Put32(file.data() + 8, static_cast<uint32_t>(value.created));
  Put32(file.data() + 12, static_cast<uint32_t>(value.created >> 32));
  Put32(file.data() + 16, static_cast<uint32_t>(value.name.size()));
  file += Utf16Bytes(value.name);
  if (cbData > 0) file.append(lpData, cbData);
  return static_cast<LSTATUS>(ReplaceFile(key->folder, place.path, file));
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::u16string name = ValueName(lpValueName);
  if (name.size() > REG_MAX_VALUE_NAME) return ERROR_FILE_NOT_FOUND;
  const Place place = Locate(key->folder, name, false);
  if (!place.exists || unlink(place.path.c_str()) != 0)
    return static_cast<LSTATUS>(KeyError(*key, ERROR_FILE_NOT_FOUND));
  return ERROR_SUCCESS;
}

namespace {

LSTATUS DeleteKey(HKEY hKey, LPCWSTR lpSubKey, bool tree) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  std::vector<std::u16string_view> names;
  if ((error = SplitPath(lpSubKey, names)) != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if (names.empty()) {
    if (tree && lpSubKey == nullptr) {  // what is below the key, not the key
      for (const auto& name : ListSubkeys(key->folder)) {
        const std::u16string path = name;
        if (const LSTATUS failed = DeleteKey(hKey, path.c_str(), true)) return failed;
      }
      for (const auto& value : ListValues(key->folder)) {
        const Place place = Locate(key->folder, value.name, false);
        unlink(place.path.c_str());
      }
      return ERROR_SUCCESS;
    }
    if (RootName(hKey)) return ERROR_ACCESS_DENIED;  // a root key stays
    const std::string folder = key->folder;
    const size_t slash = folder.find_last_of('/');
    if (!IsFolder(folder)) return ERROR_KEY_DELETED;
    return static_cast<LSTATUS>(DeleteKeyFolder(folder.substr(0, slash), folder, tree));
  }
  std::string path;
  if ((error = FindKey(key->folder, names, path)) != ERROR_SUCCESS) return static_cast<LSTATUS>(KeyError(*key, error));
  return static_cast<LSTATUS>(DeleteKeyFolder(path.substr(0, path.find_last_of('/')), path, tree));
}

}  // namespace

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, lpSubKey, false);
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) { return DeleteKey(hKey, lpSubKey, true); }

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcName, LPDWORD, LPWSTR lpClass,
                      LPDWORD lpcClass, PFILETIME lpftLastWriteTime) {
  using namespace ztl::os;
  if (!lpName || !lpcName) return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::lock_guard guard(key->lock);
  if (TakeSnapshot(key->folder, dwIndex, key->subkeyList.size(), key->subkeysTaken, error))
    key->subkeyList = ListSubkeys(key->folder);
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if (dwIndex >= key->subkeyList.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& name = key->subkeyList[dwIndex];
  if (*lpcName < name.size() + 1) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), lpName);
  lpName[name.size()] = 0;
  *lpcName = static_cast<DWORD>(name.size());
  if (lpClass && lpcClass && *lpcClass > 0) *lpClass = 0;
  if (lpcClass) *lpcClass = 0;
  if (lpftLastWriteTime) {
    struct stat st {};
    stat(Locate(key->folder, name, true).path.c_str(), &st);
    *lpftLastWriteTime = FileTimeOf(st.st_mtim);
  }
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  using namespace ztl::os;
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  std::lock_guard guard(key->lock);
  if (TakeSnapshot(key->folder, dwIndex, key->valueList.size(), key->valuesTaken, error))
    key->valueList = ListValues(key->folder);
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if (dwIndex >= key->valueList.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = key->valueList[dwIndex];
  if (*lpcchValueName < value.name.size() + 1) return ERROR_MORE_DATA;
  std::copy(value.name.begin(), value.name.end(), lpValueName);
  lpValueName[value.name.size()] = 0;
  *lpcchValueName = static_cast<DWORD>(value.name.size());
  if (lpType) *lpType = value.type;
  if (lpcbData) {
    const DWORD capacity = *lpcbData;
    *lpcbData = static_cast<DWORD>(value.data.size());
    if (lpData) {
      if (capacity < value.data.size()) return ERROR_MORE_DATA;
      std::copy(value.data.begin(), value.data.end(), lpData);
    }
  }
  return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcClass, LPDWORD, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  using namespace ztl::os;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  struct stat st;
  if (stat(key->folder.c_str(), &st) != 0) return ERROR_KEY_DELETED;
  const auto subkeys = ListSubkeys(key->folder);
  const auto values = ListValues(key->folder);
  size_t maxSubkey = 0, maxName = 0, maxData = 0;
  for (const auto& name : subkeys) maxSubkey = std::max(maxSubkey, name.size());
  for (const auto& value : values) {
    maxName = std::max(maxName, value.name.size());
    maxData = std::max(maxData, value.data.size());
  }
  if (lpClass && lpcClass && *lpcClass > 0) *lpClass = 0;
  PutLength(lpcClass, 0);
  PutLength(lpcSubKeys, subkeys.size());
  PutLength(lpcbMaxSubKeyLen, maxSubkey);
  PutLength(lpcbMaxClassLen, 0);
  PutLength(lpcValues, values.size());
  PutLength(lpcbMaxValueNameLen, maxName);
  PutLength(lpcbMaxValueLen, maxData);
  PutLength(lpcbSecurityDescriptor, 0);
  if (lpftLastWriteTime) *lpftLastWriteTime = FileTimeOf(st.st_mtim);
  return ERROR_SUCCESS;
}

LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                BOOL fAsynchronous) {
  using namespace ztl::os;
  if ((dwNotifyFilter & ~(kKnownFilters | REG_NOTIFY_THREAD_AGNOSTIC)) != 0 || (dwNotifyFilter & kKnownFilters) == 0)
    return ERROR_INVALID_PARAMETER;
  DWORD error;
  auto key = Resolve(hKey, error);
  if (!key) return static_cast<LSTATUS>(error);
  if (!Allowed(*key, KEY_NOTIFY)) return ERROR_ACCESS_DENIED;
  if (RootName(hKey)) return ERROR_INVALID_HANDLE;  // watch a key opened by the caller
  std::shared_ptr<KernelObject> event;
  HANDLE ownEvent = nullptr;
  if (fAsynchronous) {
    if (!hEvent) return ERROR_INVALID_PARAMETER;
    event = ReferenceEventObject(hEvent);
    if (!event) return ERROR_INVALID_HANDLE;
  } else {
    const DWORD lastError = GetLastError();  // the registry's calls leave it alone
    ownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ownEvent) {
      error = GetLastError();
      SetLastError(lastError);
      return static_cast<LSTATUS>(error);
    }
    SetLastError(lastError);
    event = ReferenceEventObject(ownEvent);
  }
  std::shared_ptr<Watch> watch;
  {
    std::lock_guard guard(key->lock);
    if (!key->watch) {
      int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (fd < 0 && errno == EMFILE) {
        FinishPendingCloses();  // closed watches may still hold instances
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      }
      if (fd < 0) error = errno == EMFILE ? ERROR_TOO_MANY_OPEN_FILES : ErrorOf(errno);
      if (fd >= 0) {
        auto made = std::make_shared<Watch>(fd, bWatchSubtree != FALSE, dwNotifyFilter & kKnownFilters);
        error = made->Start(key->folder);
        if (error == ERROR_SUCCESS) key->watch = made;
      }
    }
    watch = key->watch;
  }
  if (!watch) {
    if (ownEvent) CloseHandle(ownEvent);
    return static_cast<LSTATUS>(KeyError(*key, error));
  }
  Notifier::Instance().Add(watch);
  watch->Register(event);
  if (ownEvent) {
    WaitForSingleObject(ownEvent, INFINITE);
    CloseHandle(ownEvent);
  }
  return ERROR_SUCCESS;
}
