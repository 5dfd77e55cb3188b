#include <ztlogger/exceptionlog/LogError.h>

#include <unistd.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <ztlogger/exceptionlog/CollectorSender.h>
#include <ztlogger/exceptionlog/DwarfPlaces.h>
#include <ztlogger/exceptionlog/LastChance.h>
#include <ztlogger/exceptionlog/LogDlg.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

ZTL_BEGIN_CLASS(TZTExceptionLog, TZTLogBase)
  .Property("ErrorDialog", &Self::ErrorDialog, &Self::SetErrorDialog).Default(edExtended)
  .Property("FilterStandard", &Self::FilterStandard, &Self::SetFilterStandard).Default(TZTExceptionStandards::All())
  .Property("FilterClasses", &Self::FilterClasses, &Self::SetFilterClasses).Default(TZTExceptionClasses::All())
  .Property("FilterGraphics", &Self::FilterGraphics, &Self::SetFilterGraphics).Default(TZTExceptionGraphics::All())
  .Property("Formats", &Self::Formats, &Self::SetFormats).Default(DefaultFormats)
  .Property("CallStack", &Self::CallStack, &Self::SetCallStack).Default(false)
  .Property("Options", &Self::Options, &Self::SetOptions).Default(DefaultOptions)
  .Property("OnException", &Self::OnException, &Self::SetOnException)
  .Property("OnSaveException", &Self::OnSaveException, &Self::SetOnSaveException)
ZTL_END_CLASS

// ---------------------------------------------------------------- lifecycle

TZTExceptionLog::TZTExceptionLog(TComponent* AOwner) : TZTLogBase(AOwner), FMapFile(std::make_unique<TZTMapFile>()) {
  FMapFile->SetMapFileName(ChangeFileExt(Application->ExeName(), ".map"));
  // Map offsets count from where the program's code really starts, so that
  // lines are right in position-independent programs loaded anywhere.
  FMapFile->SetMapFileBase(static_cast<uint32_t>(MainModuleCodeBase()));
  if (!ComponentState().Contains(csDesigning)) {
    FoldOnException = Application->OnException();
    Application->SetOnException(MakeMethod<&TZTExceptionLog::DoException>(this));
    lastchance::Enlist(this);
  }
}

TZTExceptionLog::~TZTExceptionLog() {
  lastchance::Withdraw(this);
  FCollector.reset();
  if (FCollectorStacks) EndStackCapture();
  SetCallStack(false);
  // Unchained in the order of installation, the previous handler goes back.
  // A logger with another handler installed on top of it cannot reach into
  // that handler's saved reference to itself, so it empties the slot rather
  // than leave a handler that would call a freed logger.
  if (Application && !ComponentState().Contains(csDesigning)) {
    if (Application->OnException() == MakeMethod<&TZTExceptionLog::DoException>(this))
      Application->SetOnException(FoldOnException);
    else
      Application->SetOnException(nullptr);
  }
}

void TZTExceptionLog::SetActive(bool Value) {
  TZTLogBase::SetActive(Value);
  UpdateCollector();
}

void TZTExceptionLog::Loaded() {
  TZTLogBase::Loaded();
  UpdateCollector();
}

void TZTExceptionLog::SendCollectorReports() {
  if (TCollectorSender* collector = UpdateCollector()) collector->SendQueued();
}

bool TZTExceptionLog::FlushCollector(int TimeoutMs) {
  return !FCollector || FCollector->Flush(std::chrono::milliseconds(TimeoutMs));
}

TCollectorSender* TZTExceptionLog::UpdateCollector() {
  const String& dsn = SendTo()->Collector();
  const bool wanted =
      Active() && !dsn.empty() && !ComponentState().Contains(csLoading) && !ComponentState().Contains(csDesigning);
  if (!wanted) {
    FCollector.reset();
  } else if (!FCollector || FCollector->Dsn().Text() != TCollectorDsn::Parse(dsn).Text() ||
             FCollector->AutoSend() != SendTo()->CollectorAutoSend()) {
    FCollector.reset();
    collector::TAppFacts app;
    app.Name = Application->Title().empty() ? ExtractFileName(Application->ExeName()) : Application->Title();
    FCollector = std::make_unique<TCollectorSender>(TCollectorDsn::Parse(dsn), SendTo()->CollectorAutoSend(), app);
  }
  // An event's frames come from the stack each raise keeps.
  if (FCollector && !FCollectorStacks) BeginStackCapture();
  if (!FCollector && FCollectorStacks) EndStackCapture();
  FCollectorStacks = FCollector != nullptr;
  return FCollector.get();
}

TCollectorReport TZTExceptionLog::CollectorReport(Exception* E, const String& Report, bool Fatal) const {
  TCollectorReport report;
  report.ClassName = E->ClassName();
  report.Message = E->Message();
  report.Fatal = Fatal;
  report.Mechanism = Fatal ? "unhandled" : "Application.OnException";
  report.Milliseconds = collector::NowMilliseconds();
  report.Stack = ExceptStack();
  // The innermost frame is the raise itself, whose source is given.
  if (report.Stack.empty()) report.Stack.push_back(ExceptAddr());
  if (report.Stack.front() == ExceptAddr()) report.FirstSource = ExceptSourceAddr();
  report.ReportText = Report;
  if (SendTo()->AttachLog()) report.LogFile = LogFile();
  if (SendTo()->CollectorScreenshot() && !Fatal) {
    TMemoryStream picture;
    SaveScreenshot(picture);
    report.Screenshot.assign(reinterpret_cast<const char*>(picture.Memory()), static_cast<size_t>(picture.Size()));
    report.ScreenshotName = SendTo()->ScreenshotFormat() == sfJpeg ? "screenshot.jpg" : "screenshot.bmp";
  }
  return report;
}

void TZTExceptionLog::SetCallStack(bool value) {
  if (value == FCallStack) return;
  FCallStack = value;
  if (value)
    BeginStackCapture();
  else
    EndStackCapture();
}

void TZTExceptionLog::SetMapFile(TZTMapFile* value) {
  if (value == FMapFile.get()) return;
  // The reader held before stays with whoever holds it.
  static_cast<void>(FMapFile.release());
  FMapFile.reset(value);
}

// ---------------------------------------------------------------- system information collectors

namespace {

const String LineBreak = "\r\n";
const String SeparatorLine = "======\r\n";

// The text of a null-terminated buffer filled by a Windows service.
String BufferText(const WCHAR* buffer) { return Utf16ToUtf8(reinterpret_cast<const char16_t*>(buffer)); }

String Kilobytes(DWORDLONG bytes) { return IntToStr(static_cast<int64_t>(bytes >> 10)) + " Kb"; }

// The edition named by the version record; empty where none is known.
String WindowsEditionName(int platform, int major, int minor, const String& servicePack) {
  if (platform == VER_PLATFORM_WIN32_WINDOWS) {
    if (minor < 10) return servicePack == "B" ? "Microsoft Windows 95 OSR 2" : "Microsoft Windows 95";
    if (minor < 90) return servicePack == "A" ? "Microsoft Windows 98 SE" : "Microsoft Windows 98";
    if (minor == 90) return "Microsoft Winsows ME";
    return {};
  }
  if (major == 4) return "Microsoft Windows NT 4.0";
  if (major == 5) {
    switch (minor) {
      case 0: return "Microsoft Windows 2000";
      case 1: return "Microsoft Windows XP";
      case 2: return "Microsoft Windows 2003";
      default: return {};
    }
  }
  return {};
}

String ProcessorFamilyName(WORD level) {
  switch (level) {
    case 3: return "80386";
    case 4: return "80486";
    case 5: return "Pentium";
    case 6: return "Pentium Pro";
    default: return IntToStr(level);
  }
}

// Raises the process and the calling thread to the top for its lifetime and
// puts both back afterwards, whatever the system granted.
class TTopPriority {
 public:
  TTopPriority()
      : process_(GetCurrentProcess()),
        thread_(GetCurrentThread()),
        savedClass_(GetPriorityClass(process_)),
        savedPriority_(GetThreadPriority(thread_)) {
    SetPriorityClass(process_, REALTIME_PRIORITY_CLASS);
    SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
  }
  ~TTopPriority() {
    SetThreadPriority(thread_, savedPriority_);
    SetPriorityClass(process_, savedClass_);
  }
  TTopPriority(const TTopPriority&) = delete;
  TTopPriority& operator=(const TTopPriority&) = delete;

 private:
  HANDLE process_;
  HANDLE thread_;
  DWORD savedClass_;
  int savedPriority_;
};

// Time-stamp counter cycles over half a second, at the top priority so the
// two readings are not delayed.
ULONGLONG CyclesInHalfASecond() {
  TTopPriority top;
  Sleep(10);
  const ULONGLONG start = ReadTimeStampCounter();
  Sleep(500);
  return ReadTimeStampCounter() - start;
}

}  // namespace

String TZTExceptionLog::Separator() const { return Formatting() == ztlfText ? SeparatorLine : String(); }

String TZTExceptionLog::WithSeparator(const String& block) const {
  return block.empty() ? block : Separator() + block;
}

String TZTExceptionLog::GetApplicationDetails() const {
  String block = Separator();
  block += "EXE file name: " + Application->ExeName() + LineBreak;
  block += "Application Title:" + Application->Title();
  const int count = ParamCount();
  if (count > 0) {
    block += LineBreak + "Parameters: ";
    for (int i = 1; i <= count; ++i) block += LineBreak + ParamStr(i);
  }
  return block;
}

String TZTExceptionLog::GetActiveControlDetails() const {
  String block;
  if (!Screen) return block;
  if (TForm* form = Screen->ActiveForm())
    block = "Active Form: " + form->Name() + ", " + Screen->ActiveCustomForm()->Caption();
  if (TWinControl* control = Screen->ActiveControl()) {
    if (!block.empty()) block += LineBreak;
    block += "Active Control: " + control->Name();
  }
  return WithSeparator(block);
}

String TZTExceptionLog::GetComputerInfo() const {
  // A failed call leaves the buffer empty: the line then names no computer.
  WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD computerSize = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(computer, &computerSize);
  String block = "Computer: " + BufferText(computer) + LineBreak;

  DWORD userSize = 0;
  GetUserNameW(nullptr, &userSize);
  if (userSize > 0) {
    std::vector<WCHAR> user(userSize, 0);
    GetUserNameW(user.data(), &userSize);
    user.back() = 0;
    block += "User Name: " + BufferText(user.data());
  }
  return WithSeparator(block);
}

String TZTExceptionLog::GetMemoryInfo() const {
  // The 64-bit figures: the 32-bit record would cap everything at 4 GiB.
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  GlobalMemoryStatusEx(&status);
  String block = Separator();
  block += "Total pagefile: " + Kilobytes(status.ullTotalPageFile) + LineBreak;
  block += "Available pagefile: " + Kilobytes(status.ullAvailPageFile) + LineBreak;
  block += "Total virtual memory: " + Kilobytes(status.ullTotalVirtual) + LineBreak;
  block += "Available virtual memory: " + Kilobytes(status.ullAvailVirtual) + LineBreak;
  block += "Total memory: " + Kilobytes(status.ullTotalPhys) + LineBreak;
  block += "Available memory: " + Kilobytes(status.ullAvailPhys) + LineBreak;
  block += "Memory in use: " + IntToStr(status.dwMemoryLoad) + "%";
  return block;
}

String TZTExceptionLog::GetOSInfo() const {
  const int platform = Win32Platform;
  if (platform != VER_PLATFORM_WIN32_WINDOWS && platform != VER_PLATFORM_WIN32_NT) return {};
  // The 95/98/ME family keeps the version in the high word of the build number.
  const int build = platform == VER_PLATFORM_WIN32_WINDOWS ? (Win32BuildNumber & 0xFFFF) : Win32BuildNumber;
  const String name = WindowsEditionName(platform, Win32MajorVersion, Win32MinorVersion, Trim(Win32CSDVersion));
  return WithSeparator(name + "(build " + IntToStr(build) + ")");
}

String TZTExceptionLog::GetCPUInfo(bool IncludeSpeed) const {
  if (!IncludeSpeed) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return Separator() + ProcessorFamilyName(info.wProcessorLevel);
  }
  const auto cycles = static_cast<uint32_t>(CyclesInHalfASecond());
  return Separator() + FloatToStr(static_cast<double>(cycles) / 500000);
}

String TZTExceptionLog::GetVideoCardInfo() const {
  String block;
  DISPLAY_DEVICEW device{};
  device.cb = sizeof(device);
  for (DWORD index = 0; EnumDisplayDevicesW(nullptr, index, &device, 0); ++index) {
    if (!block.empty()) block += LineBreak;
    block += Format("Device: %s  Name: %s", {BufferText(device.DeviceName), BufferText(device.DeviceString)});
  }
  return WithSeparator(block);
}

// ---------------------------------------------------------------- processing

namespace {

// The classes the filter elements stand for, in the order they are tested.
const std::array<TClass, 30>& StandardClasses() {
  static const std::array<TClass, 30> classes = {
      EAbort::StaticClass(),           EOutOfMemory::StaticClass(),      EInOutError::StaticClass(),
      EIntError::StaticClass(),        EDivByZero::StaticClass(),        ERangeError::StaticClass(),
      EIntOverflow::StaticClass(),     EMathError::StaticClass(),        EInvalidOp::StaticClass(),
      EZeroDivide::StaticClass(),      EOverflow::StaticClass(),         EUnderflow::StaticClass(),
      EInvalidPointer::StaticClass(),  EInvalidCast::StaticClass(),      EConvertError::StaticClass(),
      EAccessViolation::StaticClass(), EPrivilege::StaticClass(),        EStackOverflow::StaticClass(),
      EControlC::StaticClass(),        EVariantError::StaticClass(),     EPropReadOnly::StaticClass(),
      EPropWriteOnly::StaticClass(),   EExternalException::StaticClass(), EAssertionFailed::StaticClass(),
      EAbstractError::StaticClass(),   EIntfCastError::StaticClass(),    EInvalidContainer::StaticClass(),
      EInvalidInsert::StaticClass(),   EPackageError::StaticClass(),     EWin32Error::StaticClass()};
  return classes;
}

const std::array<TClass, 18>& ComponentClasses() {
  static const std::array<TClass, 18> classes = {
      EStreamError::StaticClass(),      EFCreateError::StaticClass(),   EFOpenError::StaticClass(),
      EFilerError::StaticClass(),       EReadError::StaticClass(),      EWriteError::StaticClass(),
      EClassNotFound::StaticClass(),    EMethodNotFound::StaticClass(), EInvalidImage::StaticClass(),
      EResNotFound::StaticClass(),      EListError::StaticClass(),      EBitsError::StaticClass(),
      EStringListError::StaticClass(),  EComponentError::StaticClass(), EParserError::StaticClass(),
      EOutOfResources::StaticClass(),   EInvalidOperation::StaticClass(), EThread::StaticClass()};
  return classes;
}

const std::array<TClass, 2>& GraphicClasses() {
  static const std::array<TClass, 2> classes = {EInvalidGraphic::StaticClass(),
                                                EInvalidGraphicOperation::StaticClass()};
  return classes;
}

// The index of the first class of the group E belongs to, or -1.
template <size_t N>
int FirstMatch(const Exception* E, const std::array<TClass, N>& classes) {
  for (size_t i = 0; i < N; ++i)
    if (E->InheritsFrom(classes[i])) return static_cast<int>(i);
  return -1;
}

// Markup characters of a value, so that a message holding them keeps the
// log's XML well formed; so are bytes that XML cannot hold at all (control
// characters, bytes outside a UTF-8 sequence), which become U+FFFD.
String EscapeXML(const String& value) {
  String escaped;
  escaped.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const size_t length = unicode::Utf8SequenceLength(value, i);
      if (length == 0) {
        escaped += "\xEF\xBF\xBD";
        continue;
      }
      escaped.append(value, i, length);
      i += length - 1;
      continue;
    }
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '\t':
      case '\n':
      case '\r': escaped += c; break;
      default:
        if (byte < 0x20)
          escaped += "\xEF\xBF\xBD";
        else
          escaped += c;
    }
  }
  return escaped;
}

// The platform's description of the exception being handled.
constexpr int kDescriptionCapacity = 1024;

// A report the collector could not take: the user's program goes on, and
// the standard error says why.
void TellNotSent(const Exception& error) {
  const String line = "ZTLogger: the report is not sent to the collector: " + error.Message() + "\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

bool TZTExceptionLog::FilterAccepts(const Exception* E) const {
  if (int i = FirstMatch(E, StandardClasses()); i >= 0)
    return FFilterStandard.Contains(static_cast<TZTExceptionStandard>(i));
  if (int i = FirstMatch(E, ComponentClasses()); i >= 0)
    return FFilterClasses.Contains(static_cast<TZTExceptionClass>(i));
  if (int i = FirstMatch(E, GraphicClasses()); i >= 0)
    return FFilterGraphics.Contains(static_cast<TZTExceptionGraphic>(i));
  return true;
}

void TZTExceptionLog::DoException(TObject* Sender, Exception* E) {
  if (InternalProcessing) {
    Application->ShowException(E);
    return;
  }
  InternalProcessing = true;
  // Cleared however processing ends: an error left in a handler or in the
  // write must not silence the logger for the rest of the run.
  struct ClearOnExit {
    bool& flag;
    ~ClearOnExit() { flag = false; }
  } clear{InternalProcessing};

  if (FoldOnException) FoldOnException(Sender, E);
  if (FOnException) FOnException(Sender, E);
  if (!Active() || !FilterAccepts(E)) {
    Application->ShowException(E);
    return;
  }
  // An application may have taken the reader away (MapFile set to nil).
  if (FMapFile && (FOptions.Contains(laShowSourceLine) || FFormats.Contains(lfSourceLine))) {
    NoteMissingMap();
    FMapFile->LoadExceptionData(nullptr);
  }
  if (!LogFile().empty()) {
    String report = ComposeReport(E);
    bool accept = true;
    if (FOnSaveException) FOnSaveException(Sender, E, report, accept);
    if (accept) {
      WriteAsString("ERROR", report);
      // The report goes on to the collector by its thread; a collector that
      // cannot be started costs the user nothing but this line.
      try {
        if (TCollectorSender* collector = UpdateCollector()) collector->Submit(CollectorReport(E, report, false));
      } catch (const Exception& error) {
        TellNotSent(error);
      }
    }
  }
  switch (FErrorDialog) {
    case edNone: break;
    case edStandard: Application->ShowException(E); break;
    case edExtended: ShowErrorDialog(E); break;
  }
}

String TZTExceptionLog::Section(const String& Tag, const String& Value) const {
  if (Formatting() == ztlfXML) return "\r\n    <" + Tag + ">" + EscapeXML(Value) + "</" + Tag + ">";
  return "\r\n" + Value + " ";
}

String TZTExceptionLog::ComposeReport(Exception* E, TZTLFormats Sections) const {
  char description[kDescriptionCapacity];
  // Taken by its length: a message may hold NUL bytes.
  const int descriptionLength = ExceptionErrorMessage(ExceptObject(), ExceptAddr(), description, kDescriptionCapacity);
  const String descriptionText(description, static_cast<size_t>(descriptionLength));

  String report;
  auto add = [&](TZTLFormat element, const char* tag, auto value) {
    if (Sections.Contains(element)) report += Section(tag, value());
  };
  add(lfDate, "DATE", [] { return FormatDateTime("c", Date()); });
  add(lfTime, "TIME", [] { return FormatDateTime("tt", Time()); });
  add(lfPhysAddress, "ADDRESS", [] { return Format("Phys.addr: %p", {static_cast<const void*>(ExceptAddr())}); });
  add(lfExceptionClassName, "CLASSNAME", [&] { return Format("Classname: %s", {E->ClassName()}); });
  add(lfMessage, "MESSAGE", [&] { return Format("Message: %s", {descriptionText}); });
  add(lfSourceLine, "LINE", [&] { return GetFormattedSource(); });
  if (FCallStack) report += CallStackSection();
  add(lfApplication, "APPLICATION", [&] { return GetApplicationDetails(); });
  add(lfActiveControl, "CONTROL", [&] { return GetActiveControlDetails(); });
  add(lfComputerInfo, "MACHINE", [&] { return GetComputerInfo(); });
  add(lfOSInfo, "OS", [&] { return GetOSInfo(); });
  add(lfCPUInfo, "CPU", [&] { return GetCPUInfo(false); });
  add(lfMemoryInfo, "MEMORY", [&] { return GetMemoryInfo(); });
  add(lfVideoCard, "VIDEO", [&] { return GetVideoCardInfo(); });

  if (Formatting() == ztlfText) {
    if (Sections.Contains(lfSeparator)) report += "\r\n======\r\n";
    report += "\r\n";
  }
  return report;
}

String TZTExceptionLog::FrameText(void* Address, void* SourceAddress) const {
  String text = Format("%p ", {static_cast<const void*>(Address)});
  const uintptr_t base = ModuleLoadBase(Address);
  if (!base) return text + "?";
  text += ExtractFileName(ModuleFileNameOf(Address)) + "+" + IntToHex(reinterpret_cast<uintptr_t>(Address) - base, 1);
  // The program's own units, by its map; code of no unit in the map
  // (start-up code, libraries built without debugging information) and
  // other modules by their symbols and line tables.
  if (ModuleCodeBase(Address) == MainModuleCodeBase() && FMapFile && FileExists(FMapFile->MapFileName())) {
    if (!FStackMapFile) FStackMapFile = std::make_unique<TZTMapFile>();
    FStackMapFile->SetMapFileName(FMapFile->MapFileName());
    FStackMapFile->SetMapFileBase(FMapFile->MapFileBase());
    const uint32_t mapOffset =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(SourceAddress)) - FStackMapFile->MapFileBase();
    if (FStackMapFile->UnitHolds(mapOffset)) {
      FStackMapFile->LoadExceptionData(SourceAddress);
      if (!FStackMapFile->ExceptUnitName().empty()) text += " " + FStackMapFile->ExceptUnitName();
      if (!FStackMapFile->ExceptMethodName().empty()) text += " " + FStackMapFile->ExceptMethodName();
      if (FStackMapFile->ExceptLineNumber() > 0) text += " line " + IntToStr(FStackMapFile->ExceptLineNumber());
      return text;
    }
  }
  if (!FDwarfPlaces) FDwarfPlaces = std::make_unique<TDwarfPlaces>();
  const TDwarfPlaces::TPlace place = FDwarfPlaces->PlaceOf(SourceAddress);
  if (!place.File.empty()) text += " " + ChangeFileExt(place.File, "");
  if (!place.Function.empty()) text += " " + place.Function;
  if (place.Line > 0) text += " line " + IntToStr(place.Line);
  return text;
}

void TZTExceptionLog::NoteMissingMap() const {
  if (FToldNoMap || !FMapFile || FileExists(FMapFile->MapFileName())) return;
  FToldNoMap = true;
  const String line = "ZTLogger: no map file " + FMapFile->MapFileName() +
                      ": reports give no source lines (ztl_add_map_file writes one beside the program)\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
}

String TZTExceptionLog::CallStackSection() const {
  std::vector<void*> stack = ExceptStack();
  // A null return address ends the chain of frames: no frame of its own.
  std::erase(stack, nullptr);
  // Frames hold return addresses, whose call is the instruction before them;
  // but a fault's first frame is the faulting instruction itself, which is
  // then the raise address, looked up as it is.
  const auto frameText = [&](size_t i) {
    void* source = stack[i] ? static_cast<char*>(stack[i]) - 1 : nullptr;
    if (i == 0 && stack[0] == ExceptAddr()) source = ExceptSourceAddr();
    return FrameText(stack[i], source);
  };
  if (Formatting() == ztlfXML) {
    String element = "\r\n    <CALLSTACK>";
    for (size_t i = 0; i < stack.size(); ++i) element += "\r\n      <FRAME>" + EscapeXML(frameText(i)) + "</FRAME>";
    return element + "\r\n    </CALLSTACK>";
  }
  String text = "Call stack:";
  for (size_t i = 0; i < stack.size(); ++i) text += "\r\n" + frameText(i);
  return Section("CALLSTACK", text);
}

void TZTExceptionLog::ReportUnhandled(Exception* E) {
  NoteMissingMap();
  if (FMapFile) FMapFile->LoadExceptionData(nullptr);
  TZTLFormats sections = FFormats;
  for (TZTLFormat always : {lfPhysAddress, lfExceptionClassName, lfMessage, lfSourceLine}) sections.Include(always);
  const String report = ComposeReport(E, sections);
  WriteAsString("ERROR", report);
  // The process may be ending: queued here, on the reporting thread (not
  // always the main one, so the link is used as it is), sent by this run if
  // it can, else at the next start. The log has the report whatever happens.
  try {
    if (FCollector) FCollector->QueueNow(CollectorReport(E, report, true));
  } catch (const Exception& error) {
    TellNotSent(error);
  }
}

String TZTExceptionLog::GetFormattedSource() const {
  if (!FMapFile || !FMapFile->ExceptionAnalyzed()) return {};
  String text = "\r\n";
  if (!FMapFile->ExceptUnitName().empty()) text += "Unit: " + FMapFile->ExceptUnitName() + "\r\n";
  if (!FMapFile->ExceptMethodName().empty()) text += "Procedure: " + FMapFile->ExceptMethodName() + "\r\n";
  if (FMapFile->ExceptLineNumber() > 0) text += "Line No: " + IntToStr(FMapFile->ExceptLineNumber());
  return text;
}

void TZTExceptionLog::ShowErrorDialog(Exception* E) {
  // Freed also when an error leaves the modal loop.
  std::unique_ptr<TfrmZTLogErrorDialog> dialog(new TfrmZTLogErrorDialog(this));
  TZTErrorDialogContent content;
  content.ShowSendEMail = FOptions.Contains(laShowSendEMail);
  content.ShowSupportLink = FOptions.Contains(laShowSupportLink);
  content.SendToOptions = SendTo()->Options();
  content.WWW = SendTo()->WWW();
  content.ErrorText = E->Message();
  if (FOptions.Contains(laShowSourceLine)) content.ErrorText += GetFormattedSource();
  dialog->Fill(content);
  dialog->OnActivateWeb = MakeMethod<&TZTExceptionLog::ActiveWeb>(this);
  dialog->OnActivateEMail = MakeMethod<&TZTExceptionLog::ActivateMail>(this);
  dialog->ShowModal();
}

void TZTExceptionLog::ActivateMail(TObject*, bool IncludeScreenshot) {
  const bool saved = SendTo()->AttachScreenShot();
  SendTo()->SetAttachScreenShot(IncludeScreenshot);
  ScopeExit restoreScreenshot([&] { SendTo()->SetAttachScreenShot(saved); });
  SendLogByMail();
}

void TZTExceptionLog::ActiveWeb(TObject*) { SendLogByWWW(); }

}  // namespace ztl
