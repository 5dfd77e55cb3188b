#pragma once
// Display devices: EnumDisplayDevicesW over the kernel's DRM devices.
//
// Without a device name it lists the display outputs of every adapter
// ("\\.\DISPLAY1", "\\.\DISPLAY2", ... with the adapter's description); with
// an output's name it lists the monitor connected there
// ("\\.\DISPLAY1\Monitor0"). A machine without a display lists nothing.
//
// Any thread: each call reads the devices anew.
#include <cstddef>
#include <vector>

#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/os/WinTypes.h>
#include <ztlogger/platform/rtl/Export.h>

struct ZTL_PLATFORM_API DISPLAY_DEVICEW {
  DWORD cb;
  WCHAR DeviceName[32];
  WCHAR DeviceString[128];
  DWORD StateFlags;
  WCHAR DeviceID[128];
  WCHAR DeviceKey[128];
};
using PDISPLAY_DEVICEW = DISPLAY_DEVICEW*;
using LPDISPLAY_DEVICEW = DISPLAY_DEVICEW*;
static_assert(sizeof(DISPLAY_DEVICEW) == 840);
static_assert(offsetof(DISPLAY_DEVICEW, StateFlags) == 324);
static_assert(offsetof(DISPLAY_DEVICEW, DeviceID) == 328);

// State flags of an output.
inline constexpr DWORD DISPLAY_DEVICE_ATTACHED_TO_DESKTOP = 0x00000001;
inline constexpr DWORD DISPLAY_DEVICE_MULTI_DRIVER = 0x00000002;
inline constexpr DWORD DISPLAY_DEVICE_PRIMARY_DEVICE = 0x00000004;
inline constexpr DWORD DISPLAY_DEVICE_MIRRORING_DRIVER = 0x00000008;
inline constexpr DWORD DISPLAY_DEVICE_VGA_COMPATIBLE = 0x00000010;
inline constexpr DWORD DISPLAY_DEVICE_REMOVABLE = 0x00000020;
inline constexpr DWORD DISPLAY_DEVICE_DISCONNECT = 0x02000000;
inline constexpr DWORD DISPLAY_DEVICE_REMOTE = 0x04000000;
inline constexpr DWORD DISPLAY_DEVICE_MODESPRUNED = 0x08000000;
// State flags of a monitor.
inline constexpr DWORD DISPLAY_DEVICE_ACTIVE = 0x00000001;
inline constexpr DWORD DISPLAY_DEVICE_ATTACHED = 0x00000002;

inline constexpr DWORD EDD_GET_DEVICE_INTERFACE_NAME = 0x00000001;

// Fills the record of device iDevNum; FALSE past the last one. The record's
// cb must be set; a record shorter than 840 bytes but reaching DeviceID gets
// everything except DeviceID and DeviceKey.
ZTL_PLATFORM_API BOOL EnumDisplayDevicesW(LPCWSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEW lpDisplayDevice, DWORD dwFlags);

namespace ztl {

// The display outputs found below a folder laid out as /sys/class/drm:
// adapters "cardN" (their device's PCI ids and driver), connectors
// "cardN-<type>-<index>" (status, enabled, edid).
ZTL_PLATFORM_API std::vector<TDisplayDeviceFacts> ScanDrmDisplayDevices(const String& drmFolder);

}  // namespace ztl
