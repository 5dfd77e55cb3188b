#include <ztlogger/platform/os/Shell.h>

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include <ztlogger/platform/os/Spawn.h>
#include <ztlogger/platform/os/WideText.h>

namespace {

using ztl::String;

HINSTANCE Result(INT code) { return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(code)); }

HINSTANCE Failure(INT code, DWORD lastError) {
  SetLastError(lastError);
  return Result(code);
}

// "scheme:" with a scheme of two or more characters (one letter is a drive).
bool IsUrl(const String& text) {
  const size_t colon = text.find(':');
  if (colon == String::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool IsOpenVerb(LPCWSTR verb) {
  const String text = ztl::oswide::ToUtf8(verb);
  return text.empty() || strcasecmp(text.c_str(), "open") == 0;
}

}  // namespace

HINSTANCE ShellExecuteW(HWND /*hwnd*/, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                        LPCWSTR lpDirectory, INT /*nShowCmd*/) {
  const String file = ztl::oswide::ToUtf8(lpFile);
  if (!IsOpenVerb(lpOperation) || !ztl::oswide::ToUtf8(lpParameters).empty())
    return Failure(SE_ERR_NOASSOC, ERROR_NOT_SUPPORTED);
  if (file.empty()) return Failure(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);

  String target;
  if (IsUrl(file)) {
    target = file;
  } else if (file.size() > 4 && strncasecmp(file.c_str(), "www.", 4) == 0) {
    target = "http://" + file;
  } else {
    // A local path, made absolute so that it cannot pass for an option.
    const String directory = ztl::oswide::ToUtf8(lpDirectory);
    target = file.front() == '/' ? file : (directory.empty() ? String(".") : directory) + "/" + file;
    if (target.front() != '/') {
      char cwd[4096];
      if (getcwd(cwd, sizeof(cwd))) target = String(cwd) + "/" + target;
    }
    struct stat info {};
    if (stat(target.c_str(), &info) != 0) {
      if (errno == ENOENT) {
        const String folder = target.substr(0, target.rfind('/') + 1);
        const bool folderExists = stat(folder.c_str(), &info) == 0;
        return folderExists ? Failure(SE_ERR_FNF, ERROR_FILE_NOT_FOUND) : Failure(SE_ERR_PNF, ERROR_PATH_NOT_FOUND);
      }
      return Failure(SE_ERR_ACCESSDENIED, Win32ErrorFromErrno(errno));
    }
  }

  const int error = ztl::osspawn::StartDetached("xdg-open", {"xdg-open", target});
  if (error == 0) return Result(42);
  if (error == ENOENT) return Failure(SE_ERR_NOASSOC, ERROR_FILE_NOT_FOUND);
  if (error == EACCES || error == EPERM) return Failure(SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED);
  return Failure(SE_ERR_OOM, Win32ErrorFromErrno(error));
}
