#include <ztlogger/platform/os/Display.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <ztlogger/platform/os/WideText.h>

namespace ztl {

namespace {

namespace fs = std::filesystem;

String ReadLine(const fs::path& path) {
  std::ifstream in(path);
  String line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

String ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// "0x8086" -> "8086".
String HexId(const String& text, size_t digits) {
  String id = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (id.size() < digits) id.insert(0, digits - id.size(), '0');
  return id;
}

// The number after "card" when name is exactly "card<digits>", else -1.
int CardNumber(const String& name) {
  if (name.rfind("card", 0) != 0 || name.size() == 4) return -1;
  int number = 0;
  for (size_t i = 4; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

const char* VendorName(const String& vendorId) {
  if (vendorId == "8086") return "Intel";
  if (vendorId == "1002") return "AMD";
  if (vendorId == "10DE") return "NVIDIA";
  if (vendorId == "1AF4") return "Red Hat";
  if (vendorId == "1234") return "QEMU";
  if (vendorId == "15AD") return "VMware";
  if (vendorId == "1A03") return "ASPEED";
  if (vendorId == "80EE") return "VirtualBox";
  return nullptr;
}

struct TAdapter {
  String Description;
  String DeviceID;
};

TAdapter ReadAdapter(const fs::path& card) {
  const fs::path device = card / "device";
  std::error_code ignored;
  String driver = fs::read_symlink(device / "driver", ignored).filename().string();
  if (driver.empty()) driver = "drm";
  TAdapter adapter;
  const String vendor = ReadLine(device / "vendor");
  if (vendor.empty()) {
    adapter.Description = "Display adapter (" + driver + ")";
    adapter.DeviceID = "DRM\\" + driver;
    return adapter;
  }
  const String vendorId = HexId(vendor, 4);
  const char* vendorName = VendorName(vendorId);
  adapter.Description = (vendorName ? String(vendorName) : "PCI " + vendorId) + " display adapter (" + driver + ")";
  adapter.DeviceID = "PCI\\VEN_" + vendorId + "&DEV_" + HexId(ReadLine(device / "device"), 4);
  const String subVendor = ReadLine(device / "subsystem_vendor");
  if (!subVendor.empty())
    adapter.DeviceID += "&SUBSYS_" + HexId(ReadLine(device / "subsystem_device"), 4) + HexId(subVendor, 4);
  const String revision = ReadLine(device / "revision");
  if (!revision.empty()) adapter.DeviceID += "&REV_" + HexId(revision, 2);
  return adapter;
}

// The monitor's name and identifier from its EDID block, when it has one.
struct TMonitorIdentity {
  String Name = "Generic PnP Monitor";
  String DeviceID = "MONITOR\\Default_Monitor";
};

TMonitorIdentity ReadMonitorIdentity(const String& edid) {
  TMonitorIdentity identity;
  static const char header[] = {0, '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', 0};
  if (edid.size() < 128 || edid.compare(0, 8, header, 8) != 0) return identity;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(edid[i]); };
  const unsigned maker = (byte(8) << 8) | byte(9);
  String code;
  for (int shift = 10; shift >= 0; shift -= 5) code.push_back(static_cast<char>('A' - 1 + ((maker >> shift) & 0x1F)));
  char product[8];
  std::snprintf(product, sizeof(product), "%04X", (byte(11) << 8) | byte(10));
  identity.DeviceID = "MONITOR\\" + code + product;
  // Display descriptors: four of 18 bytes from offset 54; tag 0xFC is the name.
  for (size_t at = 54; at + 18 <= 126; at += 18) {
    if (byte(at) != 0 || byte(at + 1) != 0 || byte(at + 3) != 0xFC) continue;
    String name = edid.substr(at + 5, 13);
    name = name.substr(0, name.find('\n'));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty()) identity.Name = name;
  }
  return identity;
}

}  // namespace

std::vector<TDisplayDeviceFacts> ScanDrmDisplayDevices(const String& drmFolder) {
  std::vector<TDisplayDeviceFacts> outputs;
  std::error_code error;
  std::vector<std::pair<int, String>> cards;
  std::vector<String> connectors;
  for (const fs::directory_entry& entry : fs::directory_iterator(drmFolder, error)) {
    const String name = entry.path().filename().string();
    const int number = CardNumber(name);
    if (number >= 0)
      cards.emplace_back(number, name);
    else if (name.rfind("card", 0) == 0 && name.find('-') != String::npos)
      connectors.push_back(name);
  }
  std::sort(cards.begin(), cards.end());
  std::sort(connectors.begin(), connectors.end());
  bool primaryGiven = false;
  for (const auto& [number, card] : cards) {
    const TAdapter adapter = ReadAdapter(fs::path(drmFolder) / card);
    for (const String& connector : connectors) {
      if (connector.compare(0, card.size() + 1, card + "-") != 0) continue;
      const fs::path folder = fs::path(drmFolder) / connector;
      const bool connected = ReadLine(folder / "status") == "connected";
      const bool enabled = ReadLine(folder / "enabled") == "enabled";
      TDisplayDeviceFacts output;
      output.DeviceName = "\\\\.\\DISPLAY" + std::to_string(outputs.size() + 1);
      output.DeviceString = adapter.Description;
      output.DeviceID = adapter.DeviceID;
      output.DeviceKey = folder.string();
      if (connected && enabled) {
        output.StateFlags |= DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
        if (!primaryGiven) output.StateFlags |= DISPLAY_DEVICE_PRIMARY_DEVICE;
        primaryGiven = true;
      }
      if (connected) {
        const TMonitorIdentity identity = ReadMonitorIdentity(ReadBytes(folder / "edid"));
        TDisplayDeviceFacts monitor;
        monitor.DeviceName = output.DeviceName + "\\Monitor0";
        monitor.DeviceString = identity.Name;
        monitor.DeviceID = identity.DeviceID;
        monitor.DeviceKey = output.DeviceKey;
        monitor.StateFlags = DISPLAY_DEVICE_ATTACHED | (enabled ? DISPLAY_DEVICE_ACTIVE : 0);
        output.Monitors.push_back(monitor);
      }
      outputs.push_back(output);
    }
  }
  return outputs;
}

}  // namespace ztl

namespace {

template <size_t N>
void CopyField(WCHAR (&field)[N], const ztl::String& text) {
  std::u16string wide = ztl::oswide::FromUtf8(text);
  if (wide.size() > N - 1) wide.resize(N - 1);
  std::copy(wide.begin(), wide.end(), field);
  std::fill(field + wide.size(), field + N, u'\0');
}

bool SameName(const ztl::String& a, const ztl::String& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

BOOL EnumDisplayDevicesW(LPCWSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEW lpDisplayDevice, DWORD /*dwFlags*/) {
  if (!lpDisplayDevice || lpDisplayDevice->cb < offsetof(DISPLAY_DEVICEW, DeviceID)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::vector<ztl::TDisplayDeviceFacts> outputs = ztl::CurrentSystemFacts().DisplayDevices();
  const std::vector<ztl::TDisplayDeviceFacts>* list = &outputs;
  if (lpDevice && *lpDevice) {
    const ztl::String wanted = ztl::oswide::ToUtf8(lpDevice);
    const auto found = std::find_if(outputs.begin(), outputs.end(),
                                    [&](const ztl::TDisplayDeviceFacts& output) { return SameName(output.DeviceName, wanted); });
    if (found == outputs.end()) return FALSE;
    list = &found->Monitors;
  }
  if (iDevNum >= list->size()) return FALSE;
  const ztl::TDisplayDeviceFacts& device = (*list)[iDevNum];
  CopyField(lpDisplayDevice->DeviceName, device.DeviceName);
  CopyField(lpDisplayDevice->DeviceString, device.DeviceString);
  lpDisplayDevice->StateFlags = device.StateFlags;
  if (lpDisplayDevice->cb >= sizeof(DISPLAY_DEVICEW)) {
    CopyField(lpDisplayDevice->DeviceID, device.DeviceID);
    CopyField(lpDisplayDevice->DeviceKey, device.DeviceKey);
  }
  return TRUE;
}
