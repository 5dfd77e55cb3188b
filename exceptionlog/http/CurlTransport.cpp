#include <ztlogger/exceptionlog/http/CurlTransport.h>

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl::collector {

namespace {

void InitializeOnce() {
  // curl_global_init is not safe to call from two threads at once.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t KeepHeader(char* data, size_t size, size_t count, void* target) {
  const size_t length = size * count;
  auto* result = static_cast<THttpResult*>(target);
  const String line(data, length);
  const size_t colon = line.find(':');
  if (colon != String::npos) {
    const String name = LowerCase(Trim(line.substr(0, colon)));
    const String value = Trim(line.substr(colon + 1));
    if (name == "retry-after") result->RetryAfter = value;
    if (name == "x-sentry-rate-limits") result->RateLimits = value;
  }
  return length;
}

size_t IgnoreBody(char*, size_t size, size_t count, void*) { return size * count; }

int AskCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return (*static_cast<const std::function<bool()>*>(cancelled))() ? 1 : 0;
}

struct TCurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct TListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Leaves Result as libcurl's transfer ends.
void Post(const THttpRequest& Request, THttpResult& Result) {
  InitializeOnce();
  std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
  if (!curl) {
    Result.Error = "libcurl could not start a transfer";
    return;
  }
  std::unique_ptr<curl_slist, TListDeleter> headers;
  for (const String& header : {String("Content-Type: application/x-sentry-envelope"), "X-Sentry-Auth: " + Request.Auth,
                               "User-Agent: " + Request.UserAgent}) {
    curl_slist* extended = curl_slist_append(headers.get(), header.c_str());
    if (!extended) {
      Result.Error = "out of memory";
      return;
    }
    static_cast<void>(headers.release());
    headers.reset(extended);
  }
  char error[CURL_ERROR_SIZE] = {};
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, Request.Url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, Request.Body.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Request.Body.size()));
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &KeepHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &Result);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &IgnoreBody);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 120L);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &AskCancelled);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &Request.Cancelled);
  // Only the DSN's own scheme: a redirect is not followed.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    Result.Code = 0;
    Result.Error = error[0] ? String(error) : String(curl_easy_strerror(code));
    return;
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &Result.Code);
}

}  // namespace
}  // namespace ztl::collector

void ZTL_HttpPostEnvelope(const ztl::collector::THttpRequest& Request, ztl::collector::THttpResult& Result) {
  // Nothing may escape into the caller's module: a failure is an answer.
  try {
    Result = {};
    ztl::collector::Post(Request, Result);
  } catch (const std::exception& e) {
    Result = {};
    Result.Error = e.what();
  }
}
