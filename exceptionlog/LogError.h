#pragma once
// The exception logger: its settings (report sections, class filters, the
// user's notification), the map-file reader it owns, and the collectors that
// describe the application and the machine for a report.
#include <cstdint>
#include <memory>

#include <ztlogger/core/LogBase.h>
#include <ztlogger/exceptionlog/ZTMapFile.h>
#include <ztlogger/platform/classes/Set.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TDwarfPlaces;
class TCollectorSender;
struct TCollectorReport;

// How the end user learns of an exception.
enum TZTLErrorDialog : uint8_t { edNone, edStandard, edExtended };
ZTL_ENUM_NAMES(TZTLErrorDialog, "edNone", "edStandard", "edExtended")

// The sections of a report.
enum TZTLFormat : uint8_t {
  lfDate,
  lfTime,
  lfPhysAddress,
  lfExceptionClassName,
  lfMessage,
  lfSeparator,
  lfSourceLine,
  lfApplication,
  lfActiveControl,
  lfComputerInfo,
  lfOSInfo,
  lfCPUInfo,
  lfMemoryInfo,
  lfVideoCard,
};
ZTL_ENUM_NAMES(TZTLFormat, "lfDate", "lfTime", "lfPhysAddress", "lfExceptionClassName", "lfMessage", "lfSeparator",
               "lfSourceLine", "lfApplication", "lfActiveControl", "lfComputerInfo", "lfOSInfo", "lfCPUInfo",
               "lfMemoryInfo", "lfVideoCard")
using TZTLFormats = TSet<TZTLFormat, 14>;

// What the extended error dialog offers.
enum TZTLAOption : uint8_t { laShowSendEMail, laShowSupportLink, laShowSourceLine };
ZTL_ENUM_NAMES(TZTLAOption, "laShowSendEMail", "laShowSupportLink", "laShowSourceLine")
using TZTLAOptions = TSet<TZTLAOption, 3>;

// The filtered exception classes: each element names the class with "ef"
// replaced by "E". The three groups are tested in this order.
enum TZTExceptionStandard : uint8_t {
  efAbort,
  efOutOfMemory,
  efInOutError,
  efIntError,
  efDivByZero,
  efRangeError,
  efIntOverflow,
  efMathError,
  efInvalidOp,
  efZeroDivide,
  efOverflow,
  efUnderflow,
  efInvalidPointer,
  efInvalidCast,
  efConvertError,
  efAccessViolation,
  efPrivilege,
  efStackOverflow,
  efControlC,
  efVariantError,
  efPropReadOnly,
  efPropWriteOnly,
  efExternalException,
  efAssertionFailed,
  efAbstractError,
  efIntfCastError,
  efInvalidContainer,
  efInvalidInsert,
  efPackageError,
  efWin32Error,
};
ZTL_ENUM_NAMES(TZTExceptionStandard, "efAbort", "efOutOfMemory", "efInOutError", "efIntError", "efDivByZero",
               "efRangeError", "efIntOverflow", "efMathError", "efInvalidOp", "efZeroDivide", "efOverflow",
               "efUnderflow", "efInvalidPointer", "efInvalidCast", "efConvertError", "efAccessViolation",
               "efPrivilege", "efStackOverflow", "efControlC", "efVariantError", "efPropReadOnly", "efPropWriteOnly",
               "efExternalException", "efAssertionFailed", "efAbstractError", "efIntfCastError",
               "efInvalidContainer", "efInvalidInsert", "efPackageError", "efWin32Error")
using TZTExceptionStandards = TSet<TZTExceptionStandard, 30>;

enum TZTExceptionClass : uint8_t {
  efStreamError,
  efFCreateError,
  efFOpenError,
  efFilerError,
  efReadError,
  efWriteError,
  efClassNotFound,
  efMethodNotFound,
  efInvalidImage,
  efResNotFound,
  efListError,
  efBitsError,
  efStringListError,
  efComponentError,
  efParserError,
  efOutOfResources,
  efInvalidOperation,
  efThread,
};
ZTL_ENUM_NAMES(TZTExceptionClass, "efStreamError", "efFCreateError", "efFOpenError", "efFilerError", "efReadError",
               "efWriteError", "efClassNotFound", "efMethodNotFound", "efInvalidImage", "efResNotFound",
               "efListError", "efBitsError", "efStringListError", "efComponentError", "efParserError",
               "efOutOfResources", "efInvalidOperation", "efThread")
using TZTExceptionClasses = TSet<TZTExceptionClass, 18>;

enum TZTExceptionGraphic : uint8_t { efInvalidGraphic, efInvalidGraphicOperation };
ZTL_ENUM_NAMES(TZTExceptionGraphic, "efInvalidGraphic", "efInvalidGraphicOperation")
using TZTExceptionGraphics = TSet<TZTExceptionGraphic, 2>;

// Offered each report before it is written: the handler may change the text
// or refuse it.
using TZTLSaveExceptionEvent = TMethodRef<void(TObject* Sender, Exception* E, String& LogText, bool& Accept)>;

// The exception logger: once active it handles every exception that reaches
// the application (and, with the fault handlers installed, hardware faults),
// writes a report (message, source line from the map file, call stack,
// system information, as Formats selects) to its log under "ERROR", shows
// the end user's error dialog (ErrorDialog) and offers to mail the log or
// open the support page (SendTo). The filters choose the exception classes
// it reports. With SendTo.Collector set, each report it writes also goes to
// that collecting server (Sentry's protocol) as an event, from a queue
// folder under the platform prefix, by a thread of its own; a crash's report
// is queued by the crash path and sent at the next start.
//
//     InstallFaultHandlers();                // once, at start-up
//     auto* errors = new TZTExceptionLog(form);
//     errors->SetLogFile("app-errors.log");
//     errors->SetErrorDialog(edExtended);
//     errors->SendTo()->SetEMail("support@example.com");
//     errors->SetActive(true);
//
// Main thread only; the last-chance report of a crash runs on the crashing
// thread.
class ZTL_API TZTExceptionLog : public TZTLogBase {
  ZTL_DECLARE_CLASS(TZTExceptionLog, TZTLogBase)

 public:
  inline static constexpr TZTLFormats DefaultFormats{lfDate,         lfTime,          lfPhysAddress, lfMessage,
                                                     lfSeparator,    lfApplication,   lfActiveControl,
                                                     lfComputerInfo};
  inline static constexpr TZTLAOptions DefaultOptions{laShowSendEMail, laShowSupportLink};

  // Creates the map-file reader for the map beside the executable.
  explicit TZTExceptionLog(TComponent* AOwner);
  // Frees the map-file reader MapFile holds at that moment; reports not yet
  // queued for the collector are queued first.
  ~TZTExceptionLog() override;

  // Activating at run time also starts the link to SendTo.Collector, which
  // sends what earlier runs left queued (with SendTo.CollectorAutoSend);
  // deactivating stops it. Raises EFCreateError when the collector's queue
  // folder cannot be made.
  void SetActive(bool Value) override;
  void Loaded() override;
  // Sends what the collector's queue holds now, also without
  // SendTo.CollectorAutoSend and without waiting out the pause after a
  // failed send. Nothing without a collector.
  void SendCollectorReports();
  // Waits up to TimeoutMs for the reports handed to the collector to be
  // queued and sent, as a program about to end may; true when nothing is
  // left to send (also without a collector), false when time ran out or a
  // send failed and waits for its next try.
  bool FlushCollector(int TimeoutMs);

  TZTLErrorDialog ErrorDialog() const { return FErrorDialog; }
  void SetErrorDialog(TZTLErrorDialog value) { FErrorDialog = value; }
  TZTExceptionStandards FilterStandard() const { return FFilterStandard; }
  void SetFilterStandard(TZTExceptionStandards value) { FFilterStandard = value; }
  TZTExceptionClasses FilterClasses() const { return FFilterClasses; }
  void SetFilterClasses(TZTExceptionClasses value) { FFilterClasses = value; }
  TZTExceptionGraphics FilterGraphics() const { return FFilterGraphics; }
  void SetFilterGraphics(TZTExceptionGraphics value) { FFilterGraphics = value; }
  TZTLFormats Formats() const { return FFormats; }
  void SetFormats(TZTLFormats value) { FFormats = value; }
  // Adds a "Call stack" section after the source line: one line per frame of
  // the raise, with its address, module and module offset, and for the
  // program's own frames the unit, procedure and line its map file names.
  // While true the process keeps a stack for every raise.
  bool CallStack() const { return FCallStack; }
  void SetCallStack(bool value);
  TZTLAOptions Options() const { return FOptions; }
  void SetOptions(TZTLAOptions value) { FOptions = value; }
  TExceptionEvent OnException() const { return FOnException; }
  void SetOnException(const TExceptionEvent& value) { FOnException = value; }
  TZTLSaveExceptionEvent OnSaveException() const { return FOnSaveException; }
  void SetOnSaveException(const TZTLSaveExceptionEvent& value) { FOnSaveException = value; }

  // Assigning replaces the reference only: the reader held before is neither
  // freed nor kept, and the component frees the new one.
  TZTMapFile* MapFile() const { return FMapFile.get(); }
  void SetMapFile(TZTMapFile* value);

  // The source position found by the last map-file analysis: a line break,
  // then the "Unit: ", "Procedure: " and "Line No: " lines of what is known;
  // empty when nothing was analysed. Starts no analysis.
  String GetFormattedSource() const;

  // Writes the report of an exception that reached no handler (or ended a
  // worker thread), called inside a handler of it: the sections of Formats
  // and always the address, class, message and source position; no event,
  // no dialog. Raises what the log's writer raises.
  void ReportUnhandled(Exception* E);

  // ---- System information collectors ----
  // Each returns one block of a report; in the text form a block that has
  // content begins with the separator line "======". Nothing is written or
  // kept.

  // The executable, the application's title and the command-line parameters.
  String GetApplicationDetails() const;
  // The active form and the control that has the focus; empty when neither.
  String GetActiveControlDetails() const;
  // The computer's and the user's names.
  String GetComputerInfo() const;
  // Page file, address space and physical memory in Kb, and the memory load.
  String GetMemoryInfo() const;
  // The Windows edition and build; empty on other systems.
  String GetOSInfo() const;
  // The processor family, or with IncludeSpeed the clock rate in MHz measured
  // over half a second at the highest priority the system grants.
  String GetCPUInfo(bool IncludeSpeed) const;
  // One line per display device.
  String GetVideoCardInfo() const;

 private:
  // Installed into Application.OnException at run time.
  void DoException(TObject* Sender, Exception* E);
  // Whether the class filters let E be processed: the first of the fifty
  // filtered classes E belongs to decides; any other exception passes.
  bool FilterAccepts(const Exception* E) const;
  // The report of the exception being handled, from the sections in Formats.
  String ComposeReport(Exception* E) const { return ComposeReport(E, FFormats); }
  String ComposeReport(Exception* E, TZTLFormats Sections) const;
  String Section(const String& Tag, const String& Value) const;
  // The call stack section of the exception being handled.
  String CallStackSection() const;
  // One frame of it: its address and module offset (from the module's load
  // address, as the message counts), with the place of SourceAddress: the
  // unit, procedure and line that StackMapFile names when the frame is the
  // program's and its map is there, else the source file, function and line
  // of the module's DWARF line tables.
  String FrameText(void* Address, void* SourceAddress) const;
  // Source lines were asked for: without a map, the standard error says so
  // once.
  void NoteMissingMap() const;
  // Creates, fills, shows modally and frees the extended error dialog.
  void ShowErrorDialog(Exception* E);
  // The dialog's callbacks.
  void ActivateMail(TObject* Sender, bool IncludeScreenshot);
  void ActiveWeb(TObject* Sender);

  String Separator() const;
  String WithSeparator(const String& block) const;

  // Starts, restarts or stops the link to SendTo.Collector as the settings
  // now ask; gives the running link or nullptr.
  TCollectorSender* UpdateCollector();
  // The collector's part of a report on the exception being handled.
  TCollectorReport CollectorReport(Exception* E, const String& Report, bool Fatal) const;

  bool InternalProcessing = false;
  TExceptionEvent FoldOnException;
  TExceptionEvent FOnException;
  TZTLSaveExceptionEvent FOnSaveException;
  TZTLErrorDialog FErrorDialog = edExtended;
  TZTExceptionStandards FFilterStandard = TZTExceptionStandards::All();
  TZTExceptionClasses FFilterClasses = TZTExceptionClasses::All();
  TZTExceptionGraphics FFilterGraphics = TZTExceptionGraphics::All();
  TZTLFormats FFormats = DefaultFormats;
  TZTLAOptions FOptions = DefaultOptions;
  std::unique_ptr<TZTMapFile> FMapFile;
  bool FCallStack = false;
  // Looks up the frames, so that the results of MapFile's last analysis stay
  // the exception's own; follows MapFile's name and base.
  mutable std::unique_ptr<TZTMapFile> FStackMapFile;
  // Names the frames of modules without a map, made at the first of them.
  mutable std::unique_ptr<TDwarfPlaces> FDwarfPlaces;
  // Whether the standard error was told that source lines were asked for
  // and no map was found.
  mutable bool FToldNoMap = false;
  std::unique_ptr<TCollectorSender> FCollector;
  // Whether the collector keeps call stacks for every raise.
  bool FCollectorStacks = false;
};

}  // namespace ztl
