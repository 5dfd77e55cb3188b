#pragma once
// Internet mail messages: RFC 5322 headers with RFC 2047 encoded words for
// text beyond ASCII, MIME bodies (RFC 2045/2046) with base64 attachments,
// CR LF line ends throughout. Used by Simple MAPI on POSIX.
//
// Any thread: the functions keep no state.
#include <ctime>
#include <vector>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::mime {

struct ZTL_PLATFORM_API TMailbox {
  String Name;     // display name, UTF-8; may be empty
  String Address;  // addr-spec: local@domain
};

struct ZTL_PLATFORM_API TAttachment {
  String FileName;  // UTF-8, without folder
  String Bytes;
};

struct ZTL_PLATFORM_API TMessage {
  std::vector<TMailbox> To;
  std::vector<TMailbox> Cc;
  std::vector<TMailbox> Bcc;  // kept as a header: "sendmail -t" takes it as recipients and removes it
  String Subject;
  String Body;
  std::vector<TAttachment> Attachments;
};

// What makes each message unique; NewEnvelope gives fresh values.
struct ZTL_PLATFORM_API TEnvelope {
  String Boundary;
  String Date;       // RFC 5322 date-time
  String MessageId;  // with its angle brackets
};

ZTL_PLATFORM_API TEnvelope NewEnvelope();
// RFC 5322 date-time of a moment, in local time with its offset.
ZTL_PLATFORM_API String FormatDate(time_t moment);

// The message in wire form. Without attachments a single text/plain part,
// otherwise multipart/mixed: the text, then each attachment in base64.
ZTL_PLATFORM_API String Compose(const TMessage& message, const TEnvelope& envelope);

// base64 (RFC 4648) in lines of at most lineLength characters joined by
// CR LF; 0 for one unbroken line.
ZTL_PLATFORM_API String Base64(const String& bytes, size_t lineLength = 76);
// Quoted-printable (RFC 2045) with CR LF line ends kept as line ends.
ZTL_PLATFORM_API String QuotedPrintable(const String& text);
// RFC 2047 "B" encoded words of UTF-8 text, each at most 75 characters,
// joined by CR LF SP; no UTF-8 sequence is split between words.
ZTL_PLATFORM_API String EncodedWords(const String& text);
// An unstructured header value: the text itself when it is printable ASCII,
// else encoded words. Line breaks in the text become blanks.
ZTL_PLATFORM_API String HeaderText(const String& text);
// A mailbox for an address header: "Name" <address>, or the address alone.
ZTL_PLATFORM_API String FormatMailbox(const TMailbox& mailbox);

// A conservative addr-spec: dot-atom local part, host name or address
// literal domain. Nothing that could end a header or start an option.
ZTL_PLATFORM_API bool IsAddress(const String& text);
// "address", "<address>", "Name <address>", "\"Name\" <address>", with an
// optional "SMTP:" before the address; blanks around are ignored.
ZTL_PLATFORM_API bool ParseMailbox(const String& text, TMailbox& mailbox);

}  // namespace ztl::mime
