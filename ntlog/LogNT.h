#pragma once
// The system event log component: opens one event log of the local computer
// (or of a named server), makes its records current one at a time by
// position, gives the fields of the current record and its message text
// composed from the message files its source registered, and writes new
// entries under a named source. It writes nothing to its own log file; its
// Active switch is the open or closed state of the event log.
#include <cstdint>
#include <vector>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

// Reads the system event log record by record (fields, strings and the
// message text from the source's message files) and writes entries under a
// named source:
//
//     auto* events = new TZTNTEventLog(form);
//     events->SetSource("My Application");
//     events->WriteToEventLog("Backup finished", EVENTLOG_INFORMATION_TYPE, 0, 1);
//     events->SetActive(true);               // opens the log for reading
//     events->ReadEvent(events->EventCount() - 1);
//     String text = events->EventMessageText();
//
// Main thread only.
class ZTL_API TZTNTEventLog : public TZTLogBase {
  ZTL_DECLARE_CLASS(TZTNTEventLog, TZTLogBase)

 public:
  // Closed, Log "Application", Server and Source empty.
  explicit TZTNTEventLog(TComponent* AOwner);
  // Closes the log.
  ~TZTNTEventLog() override;

  // Opens (true) or closes (false) the event log; a value equal to Active
  // does nothing, and at design time only the flag is stored. Opening opens
  // the log named Source on Server and raises EOSError with the system's
  // message when it cannot (the component stays closed). Closing forgets
  // the current record.
  void SetActive(bool Value) override;
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // Each setter that changes its value closes the log and opens it again as
  // it was (forgetting the current record).
  const String& Server() const { return FServer; }
  void SetServer(const String& Value);
  // The event source WriteToEventLog writes under, and the log opened for
  // reading.
  const String& Source() const { return FSource; }
  void SetSource(const String& Value);
  // The log's registry key where the record's source names its message files.
  const String& Log() const { return FLog; }
  void SetLog(const String& Value);

  // Makes the record at position n current: 0 is the oldest record, and
  // EventCount() - 1 the newest. The record already current is not read
  // again. Raises EOSError for a position beyond the end or a closed log;
  // the record current before stays current.
  void ReadEvent(uint32_t n);
  // The number of records in the open log; 0 while closed.
  uint32_t EventCount() const;

  // The current record's fields. With no current record (before the first
  // ReadEvent, or after Close) the texts are empty, numbers 0, EventSID
  // nullptr and EventTime 0.
  String EventSource() const;
  String EventComputer() const;
  uint32_t EventID() const;
  uint32_t EventStringCount() const;
  // Inside the record buffer at the record's SID offset; valid until the
  // next record is read or the log is closed.
  const void* EventSID() const;
  uint16_t EventType() const;
  // The text of the record's event id in the first of its source's message
  // files ("EventMessageFile" under the log's key, names separated by ";")
  // that has it, with the record's strings inserted and the final line break
  // removed. Inserts the record has no string for stay as written. Empty
  // when no file yields a text; a value of the wrong type raises
  // ERegistryException.
  String EventMessageText() const;
  // The time the record was generated, in universal time.
  TDateTime EventTime() const;
  // The record's insertion string Index (from 0); empty from
  // EventStringCount() on.
  String GetEventString(uint32_t Index) const;

  // Writes one entry under Source on Server, with Value as its one string
  // (whole, within the event log's limit for one string). Works while
  // closed. A source that cannot be registered, or an entry that cannot be
  // written, is passed over silently.
  void WriteToEventLog(const String& Value, uint16_t EventType, uint32_t Category, uint32_t EventID);

 private:
  void SeekRecord(uint32_t n);
  void Reopen(String& field, const String& Value);
  // The record's field at a byte offset, 0 when the record is too short.
  uint32_t Field32(size_t offset) const;
  uint16_t Field16(size_t offset) const;
  // The null-terminated UTF-16 text at a byte offset of the record, and the
  // offset after its terminator.
  String TextAt(size_t offset, size_t* next = nullptr) const;

  uintptr_t FHandle = 0;
  String FLog;
  String FServer;
  String FSource;
  int32_t FCurrentRecordNo = -2;
  std::vector<uint8_t> FCurrentRecord;
};

}  // namespace ztl
