#pragma once
// Posting one envelope to a collector over HTTP(S), with libcurl and its
// defaults for TLS (the system's certificate store, peer and host checked).
#include <functional>
#include <string_view>

#include <ztlogger/platform/rtl/Types.h>

namespace ztl::collector {

struct THttpResult {
  long Code = 0;  // 0: no answer (the network failed; Error says how)
  String Error;
  String RetryAfter;  // the Retry-After header, as given
  String RateLimits;  // the X-Sentry-Rate-Limits header, as given
};

// Posts Body to Url with the authentication header. Cancelled is asked while
// the transfer runs; when it answers true the transfer stops (Code 0).
THttpResult PostEnvelope(const String& Url, const String& Auth, std::string_view Body,
                         const std::function<bool()>& Cancelled);

}  // namespace ztl::collector
