#pragma once
// Simple MAPI on POSIX: the records, flags and result codes of the Simple
// MAPI interface, with a mail system made of the desktop's programs.
//
// MapiSendMail turns the message into an Internet mail message. With
// MAPI_DIALOG the user's mail client opens a compose window through
// "xdg-email"; without it the message is submitted through "sendmail -t -i".
// Both are found through PATH and started without a shell.
//
// Narrow texts are in the system's ANSI code page, which on POSIX is UTF-8.
//
// Any thread; SetMapiFunctions only while no mail call is under way.
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

using LHANDLE = ULONG_PTR;
using LPLHANDLE = LHANDLE*;
using FLAGS = ULONG;

struct ZTL_PLATFORM_API MapiFileDesc {
  ULONG ulReserved;
  ULONG flFlags;
  ULONG nPosition;  // 0xFFFFFFFF: not placed in the text
  LPSTR lpszPathName;
  LPSTR lpszFileName;  // the name the recipient sees; the path's name when null
  LPVOID lpFileType;
};
using lpMapiFileDesc = MapiFileDesc*;

struct ZTL_PLATFORM_API MapiRecipDesc {
  ULONG ulReserved;
  ULONG ulRecipClass;
  LPSTR lpszName;
  LPSTR lpszAddress;
  ULONG ulEIDSize;
  LPVOID lpEntryID;
};
using lpMapiRecipDesc = MapiRecipDesc*;

struct ZTL_PLATFORM_API MapiMessage {
  ULONG ulReserved;
  LPSTR lpszSubject;
  LPSTR lpszNoteText;
  LPSTR lpszMessageType;
  LPSTR lpszDateReceived;
  LPSTR lpszConversationID;
  FLAGS flFlags;
  lpMapiRecipDesc lpOriginator;
  ULONG nRecipCount;
  lpMapiRecipDesc lpRecips;
  ULONG nFileCount;
  lpMapiFileDesc lpFiles;
};
using lpMapiMessage = MapiMessage*;

// Recipient classes.
inline constexpr ULONG MAPI_ORIG = 0;
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;
inline constexpr ULONG MAPI_BCC = 3;

// Call flags.
inline constexpr FLAGS MAPI_LOGON_UI = 0x00000001;
inline constexpr FLAGS MAPI_NEW_SESSION = 0x00000002;
inline constexpr FLAGS MAPI_DIALOG = 0x00000008;
inline constexpr FLAGS MAPI_UNREAD_ONLY = 0x00000020;
inline constexpr FLAGS MAPI_ENVELOPE_ONLY = 0x00000040;
inline constexpr FLAGS MAPI_PEEK = 0x00000080;
inline constexpr FLAGS MAPI_GUARANTEE_FIFO = 0x00000100;
inline constexpr FLAGS MAPI_BODY_AS_FILE = 0x00000200;
inline constexpr FLAGS MAPI_AB_NOMODIFY = 0x00000400;
inline constexpr FLAGS MAPI_SUPPRESS_ATTACH = 0x00000800;
inline constexpr FLAGS MAPI_FORCE_DOWNLOAD = 0x00001000;
inline constexpr FLAGS MAPI_LONG_MSGID = 0x00004000;
inline constexpr FLAGS MAPI_PASSWORD_UI = 0x00020000;

// Message and attachment flags.
inline constexpr FLAGS MAPI_UNREAD = 0x00000001;
inline constexpr FLAGS MAPI_RECEIPT_REQUESTED = 0x00000002;
inline constexpr FLAGS MAPI_SENT = 0x00000004;
inline constexpr FLAGS MAPI_OLE = 0x00000001;
inline constexpr FLAGS MAPI_OLE_STATIC = 0x00000002;

// Result codes.
inline constexpr ULONG SUCCESS_SUCCESS = 0;
inline constexpr ULONG MAPI_USER_ABORT = 1;
inline constexpr ULONG MAPI_E_USER_ABORT = MAPI_USER_ABORT;
inline constexpr ULONG MAPI_E_FAILURE = 2;
inline constexpr ULONG MAPI_E_LOGIN_FAILURE = 3;
inline constexpr ULONG MAPI_E_LOGON_FAILURE = MAPI_E_LOGIN_FAILURE;
inline constexpr ULONG MAPI_E_DISK_FULL = 4;
inline constexpr ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
inline constexpr ULONG MAPI_E_ACCESS_DENIED = 6;
inline constexpr ULONG MAPI_E_TOO_MANY_SESSIONS = 8;
inline constexpr ULONG MAPI_E_TOO_MANY_FILES = 9;
inline constexpr ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
inline constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr ULONG MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
inline constexpr ULONG MAPI_E_ATTACHMENT_WRITE_FAILURE = 13;
inline constexpr ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
inline constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr ULONG MAPI_E_NO_MESSAGES = 16;
inline constexpr ULONG MAPI_E_INVALID_MESSAGE = 17;
inline constexpr ULONG MAPI_E_TEXT_TOO_LARGE = 18;
inline constexpr ULONG MAPI_E_INVALID_SESSION = 19;
inline constexpr ULONG MAPI_E_TYPE_NOT_SUPPORTED = 20;
inline constexpr ULONG MAPI_E_AMBIGUOUS_RECIPIENT = 21;
inline constexpr ULONG MAPI_E_AMBIG_RECIP = MAPI_E_AMBIGUOUS_RECIPIENT;
inline constexpr ULONG MAPI_E_MESSAGE_IN_USE = 22;
inline constexpr ULONG MAPI_E_NETWORK_FAILURE = 23;
inline constexpr ULONG MAPI_E_INVALID_EDITFIELDS = 24;
inline constexpr ULONG MAPI_E_INVALID_RECIPS = 25;
inline constexpr ULONG MAPI_E_NOT_SUPPORTED = 26;

// Sends (or, with MAPI_DIALOG, opens for editing) one message. Recipients
// are taken from their entry identifier when MapiResolveName made it, else
// from the address, else from the name, each in the forms MapiResolveName
// accepts.
//
// Results: MAPI_E_LOGON_FAILURE when xdg-email or sendmail cannot be found
// or started; MAPI_E_ATTACHMENT_NOT_FOUND / _OPEN_FAILURE for an attachment
// that is missing or cannot be read; MAPI_E_BAD_RECIPTYPE for a class other
// than To, Cc or Bcc; without MAPI_DIALOG, MAPI_E_INVALID_RECIPS for no
// recipient or one without name and address and MAPI_E_UNKNOWN_RECIPIENT
// for one that is no e-mail address; MAPI_USER_ABORT when the mail client
// reports the compose window given up (xdg-email's exit code 4); for a
// failed submission the code fitting sendmail's exit code (unknown user or
// host, unavailable service or network, permission), else MAPI_E_FAILURE.
ZTL_PLATFORM_API ULONG MapiSendMail(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags, ULONG ulReserved);

// Resolves a text that is an e-mail address, bare or "Name <address>", into
// a recipient descriptor (class MAPI_TO, the name, "SMTP:" and the address,
// and an entry identifier) to be released with MapiFreeBuffer. There is no
// address book to show, so MAPI_DIALOG answers as without it: any other text
// gives MAPI_E_UNKNOWN_RECIPIENT.
ZTL_PLATFORM_API ULONG MapiResolveName(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszName, FLAGS flFlags, ULONG ulReserved,
                      lpMapiRecipDesc* lppRecip);

// Releases memory the mail system handed out; null is accepted. A pointer it
// did not hand out gives MAPI_E_FAILURE and is left alone.
ZTL_PLATFORM_API ULONG MapiFreeBuffer(LPVOID pv);

// The mail system behind the three entry points. As the runtime's wrappers
// reach the entry points of the mail library they loaded, the calls above go
// through this table, which holds the desktop mail system described here
// until another is installed (a test's stand-in that records what it gets).
struct ZTL_PLATFORM_API TMapiFunctions {
  ULONG (*SendMail)(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags, ULONG ulReserved);
  ULONG (*ResolveName)(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszName, FLAGS flFlags, ULONG ulReserved,
                       lpMapiRecipDesc* lppRecip);
  ULONG (*FreeBuffer)(LPVOID pv);
};

// Installs functions (kept by the caller for as long as it is installed;
// nullptr: the desktop mail system again) and returns the table it replaces.
ZTL_PLATFORM_API const TMapiFunctions* SetMapiFunctions(const TMapiFunctions* functions);
