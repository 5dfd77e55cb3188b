#pragma once
// The address of a collecting server of Sentry's protocol, given as a DSN:
// "SCHEME://PUBLIC_KEY@HOST[:PORT][/PATH]/PROJECT_ID". A path before the
// project id is kept as a prefix of the server's address.
//
// Any thread.
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

// The parts of a DSN, and the address and authentication it gives:
//
//     const TCollectorDsn dsn = TCollectorDsn::Parse("https://key@sentry.example.com/7");
//     dsn.EnvelopeUrl();   // "https://sentry.example.com/api/7/envelope/"
struct ZTL_API TCollectorDsn {
  String Scheme;  // "https" or "http"
  String PublicKey;
  String Host;        // a name, an IPv4 address or a bracketed IPv6 address
  String Port;        // empty: the scheme's own
  String PathPrefix;  // empty, or "/" and the path before the project id
  String ProjectId;

  // The parts of Text; raises EConvertError naming what is wrong when Text
  // is not a DSN of the http or https scheme with a key, a host and a
  // project id.
  static TCollectorDsn Parse(const String& Text);

  // Where envelopes are posted: SCHEME://HOST[:PORT][PREFIX]/api/PROJECT_ID/envelope/
  String EnvelopeUrl() const;
  // The X-Sentry-Auth header's value for a client named Client
  // ("name/version").
  String AuthHeader(const String& Client) const;
  // The DSN as text again (the envelope's header carries it).
  String Text() const;
};

}  // namespace ztl
