#pragma once
// A Simple MAPI stand-in for the delivery tests: installed for its lifetime,
// it copies every record it is handed (the texts as they were during the
// call), answers name resolution by a rule the test sets, and tracks the
// descriptors it hands out until they are given back.
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/Mapi.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::test {

using TText = std::optional<String>;  // nullopt: a null pointer

inline TText Copy(const char* text) { return text ? TText(text) : std::nullopt; }

struct TSentRecipient {
  ULONG Reserved = 0;
  ULONG Class = 0;
  TText Name, Address;
  ULONG EIDSize = 0;
  const void* EntryID = nullptr;
  // The name and entry identifier were those of a descriptor the stand-in
  // handed out and that was not given back yet.
  bool FromLiveEntry = false;
};

struct TSentFile {
  ULONG Reserved = 0;
  FLAGS Flags = 0;
  ULONG Position = 0;
  TText PathName, FileName;
  const void* FileType = nullptr;
  // The file's bytes while the mail was being sent; nullopt when missing.
  std::optional<String> Bytes;
};

struct TSentMail {
  LHANDLE Session = 0;
  ULONG_PTR UIParam = 0;
  FLAGS Flags = 0;
  ULONG CallReserved = 0;
  ULONG Reserved = 0;
  TText Subject, NoteText, MessageType, DateReceived, ConversationID;
  FLAGS MessageFlags = 0;
  const void* Originator = nullptr;
  ULONG RecipCount = 0;
  bool RecipsNull = true;
  std::vector<TSentRecipient> Recipients;
  ULONG FileCount = 0;
  bool FilesNull = true;
  std::vector<TSentFile> Files;
};

struct TResolveCall {
  LHANDLE Session;
  ULONG_PTR UIParam;
  TText Name;
  FLAGS Flags;
  ULONG Reserved;
};

class MapiDouble {
 public:
  // Decides the result of one resolution from the text and the flags.
  using TResolveRule = std::function<ULONG(const String& name, FLAGS flags)>;

  MapiDouble() : previous_(SetMapiFunctions(&kFunctions)) { current_ = this; }
  ~MapiDouble() {
    SetMapiFunctions(previous_);
    current_ = nullptr;
  }
  MapiDouble(const MapiDouble&) = delete;
  MapiDouble& operator=(const MapiDouble&) = delete;

  // By default every name resolves and every mail is sent.
  void SetResolveRule(TResolveRule rule) { rule_ = std::move(rule); }
  void SetSendResult(ULONG result) { sendResult_ = result; }
  // Runs during MapiSendMail, after the records were copied.
  void SetDuringSend(std::function<void()> action) { duringSend_ = std::move(action); }

  const std::vector<TSentMail>& Sent() const { return sent_; }
  const std::vector<TResolveCall>& ResolveCalls() const { return resolveCalls_; }
  size_t EntriesOutstanding() const { return entries_.size(); }
  int EntriesHandedOut() const { return handedOut_; }
  int ForeignFrees() const { return foreignFrees_; }

  // What a resolved entry carries for a text.
  static String DisplayName(const String& text) { return "Resolved " + text; }
  static String EntryId(const String& text) { return String("EID\0", 4) + text; }

 private:
  struct TEntry {
    MapiRecipDesc Descriptor{};
    String Name, Id;
  };

  static ULONG SendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags, ULONG reserved) {
    return current_->RecordMail(session, uiParam, *message, flags, reserved);
  }

  static ULONG ResolveName(LHANDLE session, ULONG_PTR uiParam, LPSTR name, FLAGS flags, ULONG reserved,
                           lpMapiRecipDesc* entry) {
    MapiDouble& self = *current_;
    self.resolveCalls_.push_back({session, uiParam, Copy(name), flags, reserved});
    const String text = name ? name : "";
    const ULONG result = self.rule_ ? self.rule_(text, flags) : SUCCESS_SUCCESS;
    if (result != SUCCESS_SUCCESS) return result;
    auto made = std::make_unique<TEntry>();
    made->Name = DisplayName(text);
    made->Id = EntryId(text);
    made->Descriptor.ulRecipClass = MAPI_TO;
    made->Descriptor.lpszName = made->Name.data();
    made->Descriptor.lpszAddress = made->Name.data();
    made->Descriptor.ulEIDSize = static_cast<ULONG>(made->Id.size());
    made->Descriptor.lpEntryID = made->Id.data();
    *entry = &made->Descriptor;
    self.entries_[&made->Descriptor] = std::move(made);
    ++self.handedOut_;
    return SUCCESS_SUCCESS;
  }

  static ULONG FreeBuffer(LPVOID block) {
    MapiDouble& self = *current_;
    if (self.entries_.erase(block) == 0) ++self.foreignFrees_;
    return SUCCESS_SUCCESS;
  }

  bool IsLiveEntry(const MapiRecipDesc& recipient) const {
    for (const auto& [key, entry] : entries_)
      if (recipient.lpszName == entry->Descriptor.lpszName && recipient.lpEntryID == entry->Descriptor.lpEntryID)
        return true;
    return false;
  }

  ULONG RecordMail(LHANDLE session, ULONG_PTR uiParam, const MapiMessage& message, FLAGS flags, ULONG reserved) {
    TSentMail mail;
    mail.Session = session;
    mail.UIParam = uiParam;
    mail.Flags = flags;
    mail.CallReserved = reserved;
    mail.Reserved = message.ulReserved;
    mail.Subject = Copy(message.lpszSubject);
    mail.NoteText = Copy(message.lpszNoteText);
    mail.MessageType = Copy(message.lpszMessageType);
    mail.DateReceived = Copy(message.lpszDateReceived);
    mail.ConversationID = Copy(message.lpszConversationID);
    mail.MessageFlags = message.flFlags;
    mail.Originator = message.lpOriginator;
    mail.RecipCount = message.nRecipCount;
    mail.RecipsNull = message.lpRecips == nullptr;
    for (ULONG i = 0; message.lpRecips && i < message.nRecipCount; ++i) {
      const MapiRecipDesc& r = message.lpRecips[i];
      mail.Recipients.push_back({r.ulReserved, r.ulRecipClass, Copy(r.lpszName), Copy(r.lpszAddress), r.ulEIDSize,
                                 r.lpEntryID, IsLiveEntry(r)});
    }
    mail.FileCount = message.nFileCount;
    mail.FilesNull = message.lpFiles == nullptr;
    for (ULONG i = 0; message.lpFiles && i < message.nFileCount; ++i) {
      const MapiFileDesc& f = message.lpFiles[i];
      TSentFile file{f.ulReserved, f.flFlags, f.nPosition, Copy(f.lpszPathName), Copy(f.lpszFileName), f.lpFileType,
                     std::nullopt};
      if (f.lpszPathName && access(f.lpszPathName, F_OK) == 0) file.Bytes = ReadFileBytes(f.lpszPathName);
      mail.Files.push_back(std::move(file));
    }
    sent_.push_back(std::move(mail));
    if (duringSend_) duringSend_();
    return sendResult_;
  }

  static constexpr TMapiFunctions kFunctions = {SendMail, ResolveName, FreeBuffer};
  static inline MapiDouble* current_ = nullptr;

  const TMapiFunctions* previous_;
  TResolveRule rule_;
  ULONG sendResult_ = SUCCESS_SUCCESS;
  std::function<void()> duringSend_;
  std::vector<TSentMail> sent_;
  std::vector<TResolveCall> resolveCalls_;
  std::map<const void*, std::unique_ptr<TEntry>> entries_;
  int handedOut_ = 0;
  int foreignFrees_ = 0;
};

}  // namespace ztl::test
