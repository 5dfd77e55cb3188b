#include <ztlogger/platform/os/TempFiles.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <ztlogger/platform/os/WideText.h>

using ztl::String;

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const char* tmpdir = std::getenv("TMPDIR");
  String path = tmpdir && *tmpdir ? tmpdir : "/tmp";
  if (path.back() != '/') path.push_back('/');
  const std::u16string wide = ztl::oswide::FromUtf8(path);
  if (!ztl::oswide::CopyWithNull(wide, lpBuffer, nBufferLength)) return static_cast<DWORD>(wide.size() + 1);
  return static_cast<DWORD>(wide.size());
}

namespace {

constexpr size_t kMaxFolderLength = MAX_PATH - 14;

UINT StartingNumber() {
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const UINT number = static_cast<UINT>((ticks ^ (static_cast<long long>(getpid()) << 8)) & 0xFFFF);
  return number == 0 ? 1 : number;
}

std::u16string NameFor(const std::u16string& folder, const std::u16string& prefix, UINT number) {
  char hex[8];
  std::snprintf(hex, sizeof(hex), "%X", number & 0xFFFF);
  return folder + prefix + ztl::oswide::FromUtf8(String(hex) + ".tmp");
}

UINT Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

UINT GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique, LPWSTR lpTempFileName) {
  if (!lpPathName || !lpTempFileName) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string folder(lpPathName, ztl::oswide::Length(lpPathName));
  if (folder.size() > kMaxFolderLength) return Fail(ERROR_BUFFER_OVERFLOW);
  if (folder.empty()) folder = u".";
  if (folder.back() != u'/') folder.push_back(u'/');
  std::u16string prefix(lpPrefixString ? lpPrefixString : u"", ztl::oswide::Length(lpPrefixString));
  if (prefix.size() > 3) prefix.resize(3);

  if (uUnique != 0) {
    ztl::oswide::CopyWithNull(NameFor(folder, prefix, uUnique), lpTempFileName, MAX_PATH);
    return uUnique;
  }
  struct stat info {};
  const String folderPath = ztl::oswide::ToUtf8(folder.c_str(), folder.size());
  if (stat(folderPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return Fail(ERROR_DIRECTORY);

  const UINT start = StartingNumber();
  UINT number = start;
  do {
    const std::u16string name = NameFor(folder, prefix, number);
    const String path = ztl::oswide::ToUtf8(name.c_str(), name.size());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      ztl::oswide::CopyWithNull(name, lpTempFileName, MAX_PATH);
      return number;
    }
    if (errno != EEXIST) return Fail(Win32ErrorFromErrno(errno));
    number = number == 0xFFFF ? 1 : number + 1;
  } while (number != start);
  return Fail(ERROR_FILE_EXISTS);
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const String path = ztl::oswide::ToUtf8(lpFileName);
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}
