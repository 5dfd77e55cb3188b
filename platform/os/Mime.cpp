#include <ztlogger/platform/os/Mime.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>

namespace ztl::mime {

namespace {

const char kCrLf[] = "\r\n";

bool IsPrintableAscii(const String& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Header values never carry a raw line break: that would start a new header.
String WithoutLineBreaks(const String& text) {
  String out = text;
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return out;
}

// The length of the UTF-8 sequence starting with lead (1 for stray bytes).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

String Hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof(text), "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

String RandomHex(int digits) {
  std::random_device source;
  String out;
  while (static_cast<int>(out.size()) < digits) out += Hex(source(), 8);
  return out.substr(0, static_cast<size_t>(digits));
}

String HostNameForIds() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0 || !IsAddress(String("x@") + name)) return "localhost";
  return name;
}

// CR LF for every line end of the text, whatever form it had.
String WithCrLf(const String& text) {
  String out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += kCrLf;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += kCrLf;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool LinesAtMost(const String& text, size_t length) {
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(kCrLf, start);
    if ((end == String::npos ? text.size() : end) - start > length) return false;
    if (end == String::npos) return true;
    start = end + 2;
  }
}

String QuotedString(const String& text) {
  String out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

const char* ContentTypeOf(const String& fileName) {
  const size_t dot = fileName.rfind('.');
  String extension = dot == String::npos ? String() : fileName.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "bmp") return "image/bmp";
  if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
  if (extension == "png") return "image/png";
  if (extension == "txt" || extension == "log") return "text/plain";
  if (extension == "xml") return "text/xml";
  return "application/octet-stream";
}

// name="..." and filename="..." parameters; RFC 2231 for names a quoted
// string cannot carry.
String FileNameParameters(const String& fileName, bool forDisposition) {
  if (IsPrintableAscii(fileName)) return (forDisposition ? "filename=" : "name=") + QuotedString(fileName);
  if (!forDisposition) return "name=\"" + EncodedWords(WithoutLineBreaks(fileName)) + "\"";
  String encoded = "filename*=UTF-8''";
  for (unsigned char c : fileName) {
    if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c))
      encoded.push_back(static_cast<char>(c));
    else
      encoded += "%" + Hex(c, 2);
  }
  return encoded;
}

void AppendAddressHeader(String& out, const char* name, const std::vector<TMailbox>& mailboxes) {
  if (mailboxes.empty()) return;
  out += name;
  out += ": ";
  for (size_t i = 0; i < mailboxes.size(); ++i) {
    if (i > 0) out += ",\r\n ";
    out += FormatMailbox(mailboxes[i]);
  }
  out += kCrLf;
}

// The text part's headers and body: 7bit when it is plain ASCII in short
// lines, else quoted-printable.
String TextPart(const String& body) {
  const String text = WithCrLf(body);
  const bool plain = LinesAtMost(text, 998) && std::all_of(text.begin(), text.end(), [](char c) {
                       return c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F);
                     });
  return String("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: ") +
         (plain ? "7bit\r\n\r\n" + text : "quoted-printable\r\n\r\n" + QuotedPrintable(text));
}

String AttachmentPart(const TAttachment& attachment) {
  const String name = WithoutLineBreaks(attachment.FileName);
  return String("Content-Type: ") + ContentTypeOf(name) + "; " + FileNameParameters(name, false) +
         "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; " +
         FileNameParameters(name, true) + "\r\n\r\n" + Base64(attachment.Bytes);
}

bool IsAtomChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

bool IsDotAtom(const String& text) {
  if (text.empty() || text.front() == '.' || text.back() == '.' || text.find("..") != String::npos) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || (c != '\0' && IsAtomChar(c)); });
}

bool IsHostName(const String& text) {
  if (text.empty() || text.size() > 253) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(text.find('.', start), text.size());
    const String label = text.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    if (!std::all_of(label.begin(), label.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }))
      return false;
    if (end == text.size()) return true;
    start = end + 1;
  }
}

bool IsAddressLiteral(const String& text) {
  if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
  String inner = text.substr(1, text.size() - 2);
  if (inner.rfind("IPv6:", 0) == 0) inner.erase(0, 5);
  return !inner.empty() &&
         std::all_of(inner.begin(), inner.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':'; });
}

String Trimmed(const String& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == String::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

String WithoutSmtpPrefix(const String& text) {
  if (text.size() > 5 && strncasecmp(text.c_str(), "SMTP:", 5) == 0) return text.substr(5);
  return text;
}

String UnquotedName(const String& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
  String out;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size()) ++i;
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

String Base64(const String& bytes, size_t lineLength) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  String out;
  out.reserve(bytes.size() * 4 / 3 + bytes.size() / 38 + 4);
  size_t column = 0;
  const auto put = [&](char c) {
    if (lineLength > 0 && column == lineLength) {
      out += kCrLf;
      column = 0;
    }
    out.push_back(c);
    ++column;
  };
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t count = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = (group << 8) | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0);
    put(alphabet[(group >> 18) & 0x3F]);
    put(alphabet[(group >> 12) & 0x3F]);
    put(count > 1 ? alphabet[(group >> 6) & 0x3F] : '=');
    put(count > 2 ? alphabet[group & 0x3F] : '=');
  }
  return out;
}

String QuotedPrintable(const String& text) {
  String out;
  size_t column = 0;
  const auto put = [&](const String& token) {
    if (column + token.size() > 75) {  // soft break: "=" ends the line at 76
      out += "=\r\n";
      column = 0;
    }
    out += token;
    column += token.size();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lineEnd = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    if (lineEnd) {
      out += kCrLf;
      column = 0;
      ++i;
      continue;
    }
    const bool beforeLineEnd = i + 1 == text.size() || text.compare(i + 1, 2, kCrLf) == 0;
    const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !beforeLineEnd);
    put(literal ? String(1, static_cast<char>(c)) : "=" + Hex(c, 2));
  }
  return out;
}

String EncodedWords(const String& text) {
  constexpr size_t kBytesPerWord = 45;  // 60 base64 characters: 75 with "=?UTF-8?B?" and "?="
  String out;
  size_t pos = 0;
  do {
    size_t end = pos;
    while (end < text.size()) {
      const size_t next = end + std::min(SequenceLength(static_cast<unsigned char>(text[end])), text.size() - end);
      if (next - pos > kBytesPerWord) break;
      end = next;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(text.substr(pos, end - pos), 0) + "?=";
    pos = end;
  } while (pos < text.size());
  return out;
}

String HeaderText(const String& text) {
  const String value = WithoutLineBreaks(text);
  if (IsPrintableAscii(value) && value.size() <= 900 && value.find("=?") == String::npos) return value;
  return EncodedWords(value);
}

String FormatMailbox(const TMailbox& mailbox) {
  const String name = WithoutLineBreaks(mailbox.Name);
  if (name.empty() || name == mailbox.Address) return mailbox.Address;
  const String phrase = IsPrintableAscii(name) && name.find("=?") == String::npos ? QuotedString(name) : EncodedWords(name);
  return phrase + " <" + mailbox.Address + ">";
}

bool IsAddress(const String& text) {
  const size_t at = text.rfind('@');
  if (at == String::npos || at == 0 || at > 64 || text.size() > 254) return false;
  const String local = text.substr(0, at);
  const String domain = text.substr(at + 1);
  return IsDotAtom(local) && (IsHostName(domain) || IsAddressLiteral(domain));
}

bool ParseMailbox(const String& text, TMailbox& mailbox) {
  const String trimmed = Trimmed(text);
  TMailbox result;
  const size_t open = trimmed.rfind('<');
  if (!trimmed.empty() && trimmed.back() == '>' && open != String::npos) {
    result.Name = UnquotedName(Trimmed(trimmed.substr(0, open)));
    result.Address = WithoutSmtpPrefix(Trimmed(trimmed.substr(open + 1, trimmed.size() - open - 2)));
  } else {
    result.Address = WithoutSmtpPrefix(trimmed);
  }
  if (!IsAddress(result.Address)) return false;
  mailbox = result;
  return true;
}

String FormatDate(time_t moment) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm local {};
  localtime_r(&moment, &local);
  const long offsetMinutes = local.tm_gmtoff / 60;
  const long offsetAbs = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[64];
  std::snprintf(text, sizeof(text), "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", days[local.tm_wday], local.tm_mday,
                months[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                offsetMinutes < 0 ? '-' : '+', offsetAbs / 60, offsetAbs % 60);
  return text;
}

TEnvelope NewEnvelope() {
  TEnvelope envelope;
  const time_t now = std::time(nullptr);
  envelope.Boundary = "=_ztl_" + RandomHex(24);
  envelope.Date = FormatDate(now);
  envelope.MessageId = "<" + Hex(static_cast<uint64_t>(now), 1) + "." + std::to_string(getpid()) + "." + RandomHex(12) +
                       "@" + HostNameForIds() + ">";
  return envelope;
}

String Compose(const TMessage& message, const TEnvelope& envelope) {
  String out = "Date: " + envelope.Date + kCrLf;
  out += "Subject: " + HeaderText(message.Subject) + kCrLf;
  AppendAddressHeader(out, "To", message.To);
  AppendAddressHeader(out, "Cc", message.Cc);
  AppendAddressHeader(out, "Bcc", message.Bcc);
  out += "Message-ID: " + envelope.MessageId + kCrLf;
  out += "MIME-Version: 1.0\r\n";
  if (message.Attachments.empty()) {
    out += TextPart(message.Body);
    return out.ends_with(kCrLf) ? out : out + kCrLf;
  }
  const String delimiter = "--" + envelope.Boundary;
  out += "Content-Type: multipart/mixed; boundary=\"" + envelope.Boundary + "\"\r\n\r\n";
  out += "This is a multi-part message in MIME format.\r\n";
  out += "\r\n" + delimiter + kCrLf + TextPart(message.Body) + kCrLf;
  for (const TAttachment& attachment : message.Attachments) out += delimiter + kCrLf + AttachmentPart(attachment) + kCrLf;
  return out + delimiter + "--\r\n";
}

}  // namespace ztl::mime
