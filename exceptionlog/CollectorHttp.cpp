#include <ztlogger/exceptionlog/CollectorHttp.h>

#include <ztlogger/exceptionlog/CollectorEnvelope.h>
#include <ztlogger/exceptionlog/http/CurlTransport.h>
#include <ztlogger/platform/os/Libraries.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/ErrorMessages.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl::collector {

namespace {

// The transport's module file, with the version it shares with this library.
constexpr char kModuleFile[] = ZTL_HTTP_MODULE_FILE;

struct TTransport {
  THttpPostEntry Post = nullptr;
  String Error;  // why there is none
};

// The module sits in the folder of this library: the build tree's library
// folder, or the install's. Loaded once and kept for the process: libcurl's
// global state may not be set up twice.
TTransport LoadTransport() {
  const String path = ExtractFilePath(ModuleFileNameOf(reinterpret_cast<const void*>(&PostEnvelope))) + kModuleFile;
  HMODULE module = LoadLibraryW(unicode::Utf8ToUtf16(path).c_str());
  if (!module)
    return {nullptr, "the HTTP module " + path + " cannot be loaded: " + SysErrorMessage(GetLastError())};
  // Through void (*)(): the cast from the generic entry type to the real one.
  auto entry = reinterpret_cast<THttpPostEntry>(reinterpret_cast<void (*)()>(GetProcAddress(module, kHttpPostEntry)));
  if (!entry) return {nullptr, "the HTTP module " + path + " exports no " + kHttpPostEntry};
  return {entry, {}};
}

const TTransport& Transport() {
  static const TTransport transport = LoadTransport();
  return transport;
}

}  // namespace

THttpResult PostEnvelope(const String& Url, const String& Auth, std::string_view Body,
                         const std::function<bool()>& Cancelled) {
  THttpResult result;
  const TTransport& transport = Transport();
  if (!transport.Post) {
    result.Error = transport.Error;
    return result;
  }
  const String userAgent = ClientName();
  transport.Post(THttpRequest{Url, Auth, userAgent, Body, Cancelled}, result);
  return result;
}

}  // namespace ztl::collector
