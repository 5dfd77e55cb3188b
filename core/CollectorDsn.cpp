#include <ztlogger/core/CollectorDsn.h>

#include <algorithm>
#include <cctype>

#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {

namespace {

[[noreturn]] void Invalid(const String& text, const char* why) {
  throw EConvertError("'" + text + "' is not a collector DSN: " + why);
}

bool AllOf(const String& text, bool (*allowed)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), allowed);
}

bool KeyCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; }
bool DigitCharacter(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool HostCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'; }
bool AddressCharacter(char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; }
bool PathCharacter(char c) { return HostCharacter(c) || c == '/' || c == '~'; }

}  // namespace

TCollectorDsn TCollectorDsn::Parse(const String& Text) {
  TCollectorDsn dsn;
  const size_t schemeEnd = Text.find("://");
  if (schemeEnd == String::npos) Invalid(Text, "no scheme");
  dsn.Scheme = Text.substr(0, schemeEnd);
  if (dsn.Scheme != "https" && dsn.Scheme != "http") Invalid(Text, "the scheme is neither https nor http");
  const String rest = Text.substr(schemeEnd + 3);
  const size_t at = rest.find('@');
  if (at == String::npos) Invalid(Text, "no public key");
  // A secret key after a colon is an old form; the key before it is used.
  dsn.PublicKey = rest.substr(0, std::min(at, rest.find(':')));
  if (!AllOf(dsn.PublicKey, KeyCharacter))
    Invalid(Text, "the public key is empty or holds other than letters and digits");
  const String address = rest.substr(at + 1);
  const size_t pathStart = address.find('/');
  if (pathStart == String::npos) Invalid(Text, "no project id");
  String hostPort = address.substr(0, pathStart);
  if (!hostPort.empty() && hostPort.front() == '[') {
    const size_t close = hostPort.find(']');
    if (close == String::npos) Invalid(Text, "an unclosed IPv6 address");
    dsn.Host = hostPort.substr(0, close + 1);
    if (!AllOf(dsn.Host.substr(1, close - 1), AddressCharacter)) Invalid(Text, "not an IPv6 address");
    hostPort = hostPort.substr(close + 1);
    if (!hostPort.empty() && hostPort.front() != ':') Invalid(Text, "text after the IPv6 address");
    if (!hostPort.empty()) dsn.Port = hostPort.substr(1);
  } else {
    const size_t colon = hostPort.find(':');
    dsn.Host = hostPort.substr(0, colon);
    if (colon != String::npos) dsn.Port = hostPort.substr(colon + 1);
    if (!AllOf(dsn.Host, HostCharacter)) Invalid(Text, "no host");
  }
  if (!dsn.Port.empty() || hostPort.find(':') != String::npos) {
    if (!AllOf(dsn.Port, DigitCharacter) || dsn.Port.size() > 5 || std::stoi(dsn.Port) > 65535)
      Invalid(Text, "the port is not a number up to 65535");
  }
  String path = address.substr(pathStart);  // "/prefix/.../ID", with a trailing "/" allowed
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t last = path.rfind('/');
  dsn.ProjectId = path.substr(last + 1);
  dsn.PathPrefix = path.substr(0, last);
  if (!AllOf(dsn.ProjectId, DigitCharacter)) Invalid(Text, "the project id is not a number");
  if (!dsn.PathPrefix.empty() && !AllOf(dsn.PathPrefix, PathCharacter))
    Invalid(Text, "the path holds other characters");
  if (dsn.PathPrefix.find("//") != String::npos) Invalid(Text, "an empty path segment");
  return dsn;
}

String TCollectorDsn::EnvelopeUrl() const {
  return Scheme + "://" + Host + (Port.empty() ? "" : ":" + Port) + PathPrefix + "/api/" + ProjectId + "/envelope/";
}

String TCollectorDsn::AuthHeader(const String& Client) const {
  return "Sentry sentry_version=7, sentry_client=" + Client + ", sentry_key=" + PublicKey;
}

String TCollectorDsn::Text() const {
  return Scheme + "://" + PublicKey + "@" + Host + (Port.empty() ? "" : ":" + Port) + PathPrefix + "/" + ProjectId;
}

}  // namespace ztl
