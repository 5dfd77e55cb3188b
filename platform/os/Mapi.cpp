#include <ztlogger/platform/os/Mapi.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/Mime.h>
#include <ztlogger/platform/os/Spawn.h>

static_assert(sizeof(MapiFileDesc) == 40);
static_assert(sizeof(MapiRecipDesc) == 40);
static_assert(sizeof(MapiMessage) == 96);
static_assert(offsetof(MapiMessage, nRecipCount) == 64);

namespace {

using ztl::String;
using ztl::mime::TMailbox;

// Entry identifiers made by MapiResolveName: the prefix, the address, a
// null and the display name. Foreign identifiers are not read.
const String kEntryIdPrefix = "ZTL-SMTP:";

String Text(const char* text) { return text ? String(text) : String(); }

// ---- Memory handed out -------------------------------------------------

class TBuffers {
 public:
  void* Allocate(size_t size) {
    void* block = std::calloc(1, size);
    if (!block) throw std::bad_alloc();
    std::lock_guard lock(mutex_);
    blocks_.insert(block);
    return block;
  }

  bool Free(void* block) {
    {
      std::lock_guard lock(mutex_);
      if (blocks_.erase(block) == 0) return false;
    }
    std::free(block);
    return true;
  }

 private:
  std::mutex mutex_;
  std::set<void*> blocks_;
};

TBuffers& Buffers() {
  static TBuffers buffers;
  return buffers;
}

// ---- Reading the message -----------------------------------------------

bool MailboxFromEntryId(const MapiRecipDesc& recipient, TMailbox& mailbox) {
  if (!recipient.lpEntryID || recipient.ulEIDSize <= kEntryIdPrefix.size()) return false;
  const String id(static_cast<const char*>(recipient.lpEntryID), recipient.ulEIDSize);
  if (id.compare(0, kEntryIdPrefix.size(), kEntryIdPrefix) != 0) return false;
  const String rest = id.substr(kEntryIdPrefix.size());
  const size_t split = rest.find('\0');
  mailbox.Address = rest.substr(0, split);
  mailbox.Name = split == String::npos ? String() : rest.substr(split + 1);
  return ztl::mime::IsAddress(mailbox.Address);
}

enum TRecipientState { rsMailbox, rsEmpty, rsUnknown };

TRecipientState ReadRecipient(const MapiRecipDesc& recipient, TMailbox& mailbox) {
  const String name = Text(recipient.lpszName);
  const String address = Text(recipient.lpszAddress);
  if (MailboxFromEntryId(recipient, mailbox)) return rsMailbox;
  if (!address.empty()) {
    if (!ztl::mime::ParseMailbox(address, mailbox)) return rsUnknown;
    if (mailbox.Name.empty() && name != address) mailbox.Name = name;
    return rsMailbox;
  }
  if (!name.empty()) return ztl::mime::ParseMailbox(name, mailbox) ? rsMailbox : rsUnknown;
  return rsEmpty;
}

// Without the dialog every recipient must have an address; with it, the
// user completes what is missing in the compose window.
ULONG ReadRecipients(const MapiMessage& message, bool dialog, ztl::mime::TMessage& mail) {
  if (message.nRecipCount > 0 && !message.lpRecips) return MAPI_E_INVALID_RECIPS;
  for (ULONG i = 0; i < message.nRecipCount; ++i) {
    const MapiRecipDesc& recipient = message.lpRecips[i];
    if (recipient.ulRecipClass < MAPI_TO || recipient.ulRecipClass > MAPI_BCC) return MAPI_E_BAD_RECIPTYPE;
    TMailbox mailbox;
    const TRecipientState state = ReadRecipient(recipient, mailbox);
    if (state != rsMailbox) {
      if (dialog) continue;
      return state == rsEmpty ? MAPI_E_INVALID_RECIPS : MAPI_E_UNKNOWN_RECIPIENT;
    }
    auto& list = recipient.ulRecipClass == MAPI_TO ? mail.To : recipient.ulRecipClass == MAPI_CC ? mail.Cc : mail.Bcc;
    list.push_back(mailbox);
  }
  if (!dialog && mail.To.empty() && mail.Cc.empty() && mail.Bcc.empty()) return MAPI_E_INVALID_RECIPS;
  return SUCCESS_SUCCESS;
}

String FileNamePart(const String& path) {
  const size_t delimiter = path.find_last_of("/\\:");
  return delimiter == String::npos ? path : path.substr(delimiter + 1);
}

ULONG ReadAttachment(const MapiFileDesc& file, ztl::mime::TAttachment& attachment, String& fullPath) {
  const String path = Text(file.lpszPathName);
  if (path.empty()) return MAPI_E_ATTACHMENT_NOT_FOUND;
  std::string bytes;
  if (const int error = ztl::os::ReadWholeFile(path, bytes))
    return error == ENOENT || error == ENOTDIR ? MAPI_E_ATTACHMENT_NOT_FOUND : MAPI_E_ATTACHMENT_OPEN_FAILURE;
  attachment.Bytes = std::move(bytes);
  const String shown = Text(file.lpszFileName);
  attachment.FileName = shown.empty() ? FileNamePart(path) : shown;
  std::error_code ignored;
  fullPath = std::filesystem::absolute(path, ignored).string();
  return SUCCESS_SUCCESS;
}

ULONG ReadAttachments(const MapiMessage& message, ztl::mime::TMessage& mail, std::vector<String>& paths) {
  if (message.nFileCount > 0 && !message.lpFiles) return MAPI_E_ATTACHMENT_NOT_FOUND;
  for (ULONG i = 0; i < message.nFileCount; ++i) {
    ztl::mime::TAttachment attachment;
    String path;
    if (const ULONG result = ReadAttachment(message.lpFiles[i], attachment, path); result != SUCCESS_SUCCESS) return result;
    mail.Attachments.push_back(std::move(attachment));
    paths.push_back(path);
  }
  return SUCCESS_SUCCESS;
}

// ---- Handing it over ---------------------------------------------------

String PercentEncoded(const String& text) {
  static const char hex[] = "0123456789ABCDEF";
  String out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || std::strchr("-._~@!$'*+=", c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 0xF]);
    }
  }
  return out;
}

ULONG ResultOfComposeWindow(const ztl::osspawn::TRunResult& run) {
  if (run.SpawnError != 0) return run.SpawnError == ENOMEM ? MAPI_E_INSUFFICIENT_MEMORY : MAPI_E_LOGON_FAILURE;
  if (!run.Exited) return MAPI_E_FAILURE;
  switch (run.ExitCode) {
    case 0: return SUCCESS_SUCCESS;
    case 2: return MAPI_E_ATTACHMENT_NOT_FOUND;  // a file named does not exist
    case 3: return MAPI_E_LOGON_FAILURE;         // no mail client to run
    case 4: return MAPI_USER_ABORT;              // the client gave up the message
    case 5: return MAPI_E_ACCESS_DENIED;
    default: return MAPI_E_FAILURE;
  }
}

// xdg-email [--utf8] [--cc a] [--bcc a] [--subject s] [--body b] [--attach f] mailto:to,...
// Every text is one argument of its own, after the option that takes it; the
// To addresses travel in a mailto URI, so none can pass for an option.
ULONG OpenComposeWindow(const ztl::mime::TMessage& mail, const std::vector<String>& paths) {
  std::vector<String> arguments = {"xdg-email", "--utf8"};
  for (const TMailbox& mailbox : mail.Cc) arguments.insert(arguments.end(), {"--cc", mailbox.Address});
  for (const TMailbox& mailbox : mail.Bcc) arguments.insert(arguments.end(), {"--bcc", mailbox.Address});
  if (!mail.Subject.empty()) arguments.insert(arguments.end(), {"--subject", mail.Subject});
  if (!mail.Body.empty()) arguments.insert(arguments.end(), {"--body", mail.Body});
  for (const String& path : paths) arguments.insert(arguments.end(), {"--attach", path});
  if (!mail.To.empty()) {
    String uri = "mailto:";
    for (size_t i = 0; i < mail.To.size(); ++i) uri += (i ? "," : "") + PercentEncoded(mail.To[i].Address);
    arguments.push_back(uri);
  }
  return ResultOfComposeWindow(ztl::osspawn::Run("xdg-email", arguments));
}

// sendmail's exit codes are those of <sysexits.h>.
ULONG ResultOfSubmission(const ztl::osspawn::TRunResult& run) {
  if (run.SpawnError != 0) return run.SpawnError == ENOMEM ? MAPI_E_INSUFFICIENT_MEMORY : MAPI_E_LOGON_FAILURE;
  if (!run.Exited) return MAPI_E_FAILURE;
  switch (run.ExitCode) {
    case 0: return SUCCESS_SUCCESS;
    case 67:                                    // EX_NOUSER
    case 68: return MAPI_E_UNKNOWN_RECIPIENT;   // EX_NOHOST
    case 65: return MAPI_E_INVALID_MESSAGE;     // EX_DATAERR
    case 69:                                    // EX_UNAVAILABLE
    case 75:                                    // EX_TEMPFAIL
    case 76: return MAPI_E_NETWORK_FAILURE;     // EX_PROTOCOL
    case 73: return MAPI_E_DISK_FULL;           // EX_CANTCREAT
    case 77: return MAPI_E_ACCESS_DENIED;       // EX_NOPERM
    default: return MAPI_E_FAILURE;
  }
}

ULONG Submit(const ztl::mime::TMessage& mail) {
  const String wire = ztl::mime::Compose(mail, ztl::mime::NewEnvelope());
  return ResultOfSubmission(ztl::osspawn::Run("sendmail", {"sendmail", "-t", "-i"}, &wire));
}

ULONG SendMail(const MapiMessage& message, FLAGS flags) {
  const bool dialog = (flags & MAPI_DIALOG) != 0;
  ztl::mime::TMessage mail;
  mail.Subject = Text(message.lpszSubject);
  mail.Body = Text(message.lpszNoteText);
  if (const ULONG result = ReadRecipients(message, dialog, mail); result != SUCCESS_SUCCESS) return result;
  std::vector<String> paths;
  if (const ULONG result = ReadAttachments(message, mail, paths); result != SUCCESS_SUCCESS) return result;
  return dialog ? OpenComposeWindow(mail, paths) : Submit(mail);
}

// One block: the descriptor, then its texts and entry identifier.
lpMapiRecipDesc NewRecipient(const TMailbox& mailbox) {
  const String name = mailbox.Name.empty() ? mailbox.Address : mailbox.Name;
  const String address = "SMTP:" + mailbox.Address;
  const String entryId = kEntryIdPrefix + mailbox.Address + '\0' + mailbox.Name;
  char* block = static_cast<char*>(
      Buffers().Allocate(sizeof(MapiRecipDesc) + name.size() + 1 + address.size() + 1 + entryId.size()));
  auto* recipient = reinterpret_cast<MapiRecipDesc*>(block);
  char* next = block + sizeof(MapiRecipDesc);
  const auto place = [&](const String& text, bool withNull) {
    char* at = next;
    std::memcpy(at, text.data(), text.size());
    next += text.size() + (withNull ? 1 : 0);
    return at;
  };
  recipient->ulRecipClass = MAPI_TO;
  recipient->lpszName = place(name, true);
  recipient->lpszAddress = place(address, true);
  recipient->ulEIDSize = static_cast<ULONG>(entryId.size());
  recipient->lpEntryID = place(entryId, false);
  return recipient;
}

ULONG ComposedSendMail(LHANDLE /*lhSession*/, ULONG_PTR /*ulUIParam*/, lpMapiMessage lpMessage, FLAGS flFlags,
                      ULONG /*ulReserved*/) {
  if (!lpMessage) return MAPI_E_INVALID_MESSAGE;
  try {
    return SendMail(*lpMessage, flFlags);
  } catch (const std::bad_alloc&) {
    return MAPI_E_INSUFFICIENT_MEMORY;
  } catch (...) {
    return MAPI_E_FAILURE;
  }
}

ULONG AddressResolveName(LHANDLE /*lhSession*/, ULONG_PTR /*ulUIParam*/, LPSTR lpszName, FLAGS /*flFlags*/,
                         ULONG /*ulReserved*/, lpMapiRecipDesc* lppRecip) {
  if (!lppRecip) return MAPI_E_FAILURE;
  try {
    TMailbox mailbox;
    if (!ztl::mime::ParseMailbox(Text(lpszName), mailbox)) return MAPI_E_UNKNOWN_RECIPIENT;
    *lppRecip = NewRecipient(mailbox);
    return SUCCESS_SUCCESS;
  } catch (const std::bad_alloc&) {
    return MAPI_E_INSUFFICIENT_MEMORY;
  } catch (...) {
    return MAPI_E_FAILURE;
  }
}

ULONG OwnFreeBuffer(LPVOID pv) {
  if (!pv) return SUCCESS_SUCCESS;
  return Buffers().Free(pv) ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
}

constexpr TMapiFunctions kDesktopMail = {ComposedSendMail, AddressResolveName, OwnFreeBuffer};

std::atomic<const TMapiFunctions*> mailSystem{&kDesktopMail};

}  // namespace

const TMapiFunctions* SetMapiFunctions(const TMapiFunctions* functions) {
  return mailSystem.exchange(functions ? functions : &kDesktopMail);
}

ULONG MapiSendMail(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags, ULONG ulReserved) {
  return mailSystem.load()->SendMail(lhSession, ulUIParam, lpMessage, flFlags, ulReserved);
}

ULONG MapiResolveName(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszName, FLAGS flFlags, ULONG ulReserved,
                      lpMapiRecipDesc* lppRecip) {
  return mailSystem.load()->ResolveName(lhSession, ulUIParam, lpszName, flFlags, ulReserved, lppRecip);
}

ULONG MapiFreeBuffer(LPVOID pv) { return mailSystem.load()->FreeBuffer(pv); }
