#pragma once
// The collector's HTTP(S) transport (module libztl_http): libcurl, with its
// defaults for TLS (the system's certificate store, peer and host checked).
// libcurl brings some thirty libraries with it (TLS, Kerberos, LDAP, SSH...):
// the component library loads this module when it first sends a report
// (CollectorHttp.cpp), so that a program starting pays for none of them.
// Internal to the libraries.
//
// Any thread; transfers share nothing.
#include <functional>
#include <string_view>

#include <ztlogger/exceptionlog/CollectorHttp.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl::collector {

// One post, as the component library hands it over.
struct THttpRequest {
  const String& Url;
  const String& Auth;       // the X-Sentry-Auth header's value
  const String& UserAgent;  // the User-Agent header's value
  std::string_view Body;
  const std::function<bool()>& Cancelled;
};

// The entry the component library finds by name.
inline constexpr char kHttpPostEntry[] = "ZTL_HttpPostEnvelope";
using THttpPostEntry = void (*)(const THttpRequest& Request, THttpResult& Result);

}  // namespace ztl::collector

// Posts Request's body; Result tells how it went (Code 0: no answer).
extern "C" ZTL_DLL_EXPORT void ZTL_HttpPostEnvelope(const ztl::collector::THttpRequest& Request,
                                                   ztl::collector::THttpResult& Result);
