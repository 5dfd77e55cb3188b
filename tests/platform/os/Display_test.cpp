#include <ztlogger/platform/os/Display.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestDir.h"

namespace ztl {
namespace {

namespace fs = std::filesystem;

class TwoOutputs : public SystemFacts {
 public:
  std::vector<TDisplayDeviceFacts> DisplayDevices() const override {
    TDisplayDeviceFacts first{"\\\\.\\DISPLAY1", "Intel display adapter (i915)",
                              DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE, "PCI\\VEN_8086", "key1", {}};
    first.Monitors.push_back({"\\\\.\\DISPLAY1\\Monitor0", "Panel", DISPLAY_DEVICE_ACTIVE | DISPLAY_DEVICE_ATTACHED, "MONITOR\\ABC", "", {}});
    TDisplayDeviceFacts second{"\\\\.\\DISPLAY2", String(200, 'n'), 0, "id2", "key2", {}};
    return {first, second};
  }
};

DISPLAY_DEVICEW FreshRecord(DWORD cb = sizeof(DISPLAY_DEVICEW)) {
  DISPLAY_DEVICEW record;
  std::fill_n(reinterpret_cast<unsigned char*>(&record), sizeof(record), 0xAB);
  record.cb = cb;
  return record;
}

TEST(EnumDisplayDevices, ListsOutputsThenStops) {
  TwoOutputs facts;
  ScopedSystemFacts scope(facts);
  DISPLAY_DEVICEW record = FreshRecord();
  ASSERT_TRUE(EnumDisplayDevicesW(nullptr, 0, &record, 0));
  EXPECT_EQ(std::u16string(record.DeviceName), u"\\\\.\\DISPLAY1");
  EXPECT_EQ(std::u16string(record.DeviceString), u"Intel display adapter (i915)");
  EXPECT_EQ(record.StateFlags, DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE);
  EXPECT_EQ(std::u16string(record.DeviceID), u"PCI\\VEN_8086");
  EXPECT_EQ(std::u16string(record.DeviceKey), u"key1");

  record = FreshRecord();
  ASSERT_TRUE(EnumDisplayDevicesW(nullptr, 1, &record, 0));
  EXPECT_EQ(std::u16string(record.DeviceName), u"\\\\.\\DISPLAY2");
  EXPECT_EQ(std::u16string(record.DeviceString), std::u16string(127, u'n'));  // cut to the field, null kept
  EXPECT_EQ(record.StateFlags, 0u);

  EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 2, &record, 0));
}

TEST(EnumDisplayDevices, ListsTheMonitorOfANamedOutput) {
  TwoOutputs facts;
  ScopedSystemFacts scope(facts);
  DISPLAY_DEVICEW record = FreshRecord();
  ASSERT_TRUE(EnumDisplayDevicesW(u"\\\\.\\display1", 0, &record, 0));
  EXPECT_EQ(std::u16string(record.DeviceName), u"\\\\.\\DISPLAY1\\Monitor0");
  EXPECT_EQ(std::u16string(record.DeviceString), u"Panel");
  EXPECT_EQ(record.StateFlags, DISPLAY_DEVICE_ACTIVE | DISPLAY_DEVICE_ATTACHED);
  EXPECT_FALSE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY1", 1, &record, 0));
  EXPECT_FALSE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY2", 0, &record, 0));
  EXPECT_FALSE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY9", 0, &record, 0));
}

TEST(EnumDisplayDevices, HonoursTheRecordSize) {
  TwoOutputs facts;
  ScopedSystemFacts scope(facts);
  // The older, shorter record: everything up to the state flags.
  DISPLAY_DEVICEW record = FreshRecord(offsetof(DISPLAY_DEVICEW, DeviceID));
  ASSERT_TRUE(EnumDisplayDevicesW(nullptr, 0, &record, 0));
  EXPECT_EQ(std::u16string(record.DeviceName), u"\\\\.\\DISPLAY1");
  EXPECT_EQ(record.DeviceID[0], 0xABAB);
  EXPECT_EQ(record.DeviceKey[127], 0xABAB);

  record = FreshRecord(100);
  SetLastError(0);
  EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 0, &record, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 0, nullptr, 0));
}

TEST(EnumDisplayDevices, ThisMachineListsOneDeviceForEachDrmConnector) {
  size_t connectors = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/drm", error)) {
    const String name = entry.path().filename().string();
    if (name.rfind("card", 0) == 0 && name.find('-') != String::npos) ++connectors;
  }
  DISPLAY_DEVICEW record = FreshRecord();
  size_t listed = 0;
  while (EnumDisplayDevicesW(nullptr, static_cast<DWORD>(listed), &record, 0)) ++listed;
  EXPECT_EQ(listed, connectors);
}

// A DRM folder as the kernel lays it out, written into the test's folder.
class FakeDrm {
 public:
  explicit FakeDrm(const test::TestDir& dir) : root_(dir.File("drm")) { fs::create_directories(root_); }

  void AddPciCard(const String& card, const String& driver) {
    const fs::path device = root_ / card / "device";
    fs::create_directories(device);
    fs::create_directories(root_ / "drivers" / driver);
    fs::create_directory_symlink(root_ / "drivers" / driver, device / "driver");
    Write(device / "vendor", "0x8086\n");
    Write(device / "device", "0x5917\n");
    Write(device / "subsystem_vendor", "0x17aa\n");
    Write(device / "subsystem_device", "0x2258\n");
    Write(device / "revision", "0x07\n");
  }

  void AddPlainCard(const String& card) { fs::create_directories(root_ / card / "device"); }

  void AddConnector(const String& name, const String& status, const String& enabled, const String& edid = {}) {
    const fs::path folder = root_ / name;
    fs::create_directories(folder);
    Write(folder / "status", status + "\n");
    Write(folder / "enabled", enabled + "\n");
    Write(folder / "edid", edid);
  }

  void AddFile(const String& name) { Write(root_ / name, "x"); }

  String Root() const { return root_.string(); }

 private:
  static void Write(const fs::path& path, const String& bytes) { test::WriteFileBytes(path.string(), bytes); }
  fs::path root_;
};

// An EDID block of maker "DEL", product 0x4083 and the given monitor name.
String Edid(const String& name) {
  String edid(128, '\0');
  const char header[] = {0, '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', 0};
  edid.replace(0, 8, header, 8);
  const unsigned maker = (('D' - 'A' + 1) << 10) | (('E' - 'A' + 1) << 5) | ('L' - 'A' + 1);
  edid[8] = static_cast<char>(maker >> 8);
  edid[9] = static_cast<char>(maker & 0xFF);
  edid[10] = '\x83';
  edid[11] = '\x40';
  // Descriptor 1 a timing (non-zero first bytes), descriptor 2 the name.
  edid[54] = '\x01';
  edid[72 + 3] = '\xFC';
  String text = name + "\n";
  text.resize(13, ' ');
  edid.replace(72 + 5, 13, text);
  return edid;
}

TEST(DrmScan, OutputsOfEachAdapterWithTheirStates) {
  test::TestDir dir;
  FakeDrm drm(dir);
  drm.AddPciCard("card0", "i915");
  drm.AddConnector("card0-eDP-1", "connected", "enabled", Edid("Test Panel"));
  drm.AddConnector("card0-HDMI-A-1", "disconnected", "disabled");
  drm.AddConnector("card0-DP-1", "connected", "enabled");
  drm.AddPlainCard("card1");  // render-only: no outputs
  drm.AddPlainCard("card10");
  drm.AddConnector("card10-Virtual-1", "connected", "disabled");
  drm.AddFile("renderD128");
  drm.AddFile("version");

  const std::vector<TDisplayDeviceFacts> outputs = ScanDrmDisplayDevices(drm.Root());
  ASSERT_EQ(outputs.size(), 4u);
  // Connectors by name within a card, cards by number.
  EXPECT_EQ(outputs[0].DeviceName, "\\\\.\\DISPLAY1");
  EXPECT_EQ(outputs[0].DeviceKey, drm.Root() + "/card0-DP-1");
  EXPECT_EQ(outputs[0].DeviceString, "Intel display adapter (i915)");
  EXPECT_EQ(outputs[0].DeviceID, "PCI\\VEN_8086&DEV_5917&SUBSYS_225817AA&REV_07");
  EXPECT_EQ(outputs[0].StateFlags, DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE);
  ASSERT_EQ(outputs[0].Monitors.size(), 1u);
  EXPECT_EQ(outputs[0].Monitors[0].DeviceName, "\\\\.\\DISPLAY1\\Monitor0");
  EXPECT_EQ(outputs[0].Monitors[0].DeviceString, "Generic PnP Monitor");

  EXPECT_EQ(outputs[1].DeviceName, "\\\\.\\DISPLAY2");
  EXPECT_EQ(outputs[1].DeviceKey, drm.Root() + "/card0-HDMI-A-1");
  EXPECT_EQ(outputs[1].StateFlags, 0u);
  EXPECT_TRUE(outputs[1].Monitors.empty());

  EXPECT_EQ(outputs[2].DeviceKey, drm.Root() + "/card0-eDP-1");
  EXPECT_EQ(outputs[2].StateFlags, DISPLAY_DEVICE_ATTACHED_TO_DESKTOP);
  ASSERT_EQ(outputs[2].Monitors.size(), 1u);
  EXPECT_EQ(outputs[2].Monitors[0].DeviceString, "Test Panel");
  EXPECT_EQ(outputs[2].Monitors[0].DeviceID, "MONITOR\\DEL4083");
  EXPECT_EQ(outputs[2].Monitors[0].StateFlags, DISPLAY_DEVICE_ACTIVE | DISPLAY_DEVICE_ATTACHED);

  EXPECT_EQ(outputs[3].DeviceName, "\\\\.\\DISPLAY4");
  EXPECT_EQ(outputs[3].DeviceString, "Display adapter (drm)");
  EXPECT_EQ(outputs[3].StateFlags, 0u);
  ASSERT_EQ(outputs[3].Monitors.size(), 1u);
  EXPECT_EQ(outputs[3].Monitors[0].StateFlags, DISPLAY_DEVICE_ATTACHED);
}

TEST(DrmScan, NoDrmFolderMeansNoDisplay) {
  test::TestDir dir;
  EXPECT_TRUE(ScanDrmDisplayDevices(dir.File("missing")).empty());
  FakeDrm drm(dir);
  drm.AddPlainCard("card0");
  EXPECT_TRUE(ScanDrmDisplayDevices(drm.Root()).empty());
}

}  // namespace
}  // namespace ztl
