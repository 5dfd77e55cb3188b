#include "exceptionlog/LogError.h"

#include <vector>

#include "platform/classes/ClassBuilder.h"
#include "platform/os/Windows.h"
#include "platform/rtl/SysUtils.h"

namespace ztl {

ZTL_BEGIN_CLASS(TZTExceptionLog, TZTLogBase)
  .Property("ErrorDialog", &Self::ErrorDialog, &Self::SetErrorDialog).Default(edExtended)
  .Property("FilterStandard", &Self::FilterStandard, &Self::SetFilterStandard).Default(TZTExceptionStandards::All())
  .Property("FilterClasses", &Self::FilterClasses, &Self::SetFilterClasses).Default(TZTExceptionClasses::All())
  .Property("FilterGraphics", &Self::FilterGraphics, &Self::SetFilterGraphics).Default(TZTExceptionGraphics::All())
  .Property("Formats", &Self::Formats, &Self::SetFormats).Default(DefaultFormats)
  .Property("Options", &Self::Options, &Self::SetOptions).Default(DefaultOptions)
  .Property("OnException", &Self::OnException, &Self::SetOnException)
  .Property("OnSaveException", &Self::OnSaveException, &Self::SetOnSaveException)
ZTL_END_CLASS

// ---------------------------------------------------------------- lifecycle

TZTExceptionLog::TZTExceptionLog(TComponent* AOwner) : TZTLogBase(AOwner), FMapFile(new TZTMapFile) {
  FMapFile->SetMapFileName(ChangeFileExt(Application->ExeName(), ".map"));
}

TZTExceptionLog::~TZTExceptionLog() { delete FMapFile; }

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

}  // namespace ztl
