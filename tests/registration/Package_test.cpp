// The component library loaded as a package, as a design host loads it: its
// palette page, its palette bitmaps read back from the BMP headers, load
// counting, unloading, and the modules it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {
namespace {

std::vector<String> Palette() {
  std::vector<String> names;
  for (const TPaletteEntry& e : RegisteredComponents()) names.push_back(e.Page + ":" + e.ComponentClass->ClassName());
  return names;
}

const std::vector<String> kSeven = {"ZTLogger:TZTExceptionLog",   "ZTLogger:TZTAppLog",     "ZTLogger:TZTDatasetLog",
                                    "ZTLogger:TZTFileLog",        "ZTLogger:TZTNTEventLog", "ZTLogger:TZTRegistryLog",
                                    "ZTLogger:TZTLCheckProcessor"};

String LoadError(const String& file) {
  try {
    LoadPackage(file);
  } catch (const EPackageError& e) {
    return e.Message();
  }
  return "loaded";
}

TEST(Package, PutsTheSevenComponentsOnTheZTLoggerPageInOrder) {
  HMODULE module = LoadPackage(ZTL_COMPONENT_LIBRARY);
  EXPECT_EQ(Palette(), kSeven);
  EXPECT_EQ(FindComponentClass("tztfilelog"), GetClass("TZTFileLog"));
  EXPECT_EQ(FindComponentClass("TZTLogBase"), nullptr) << "the base class is not registered";
  EXPECT_EQ(FindComponentClass("TZTLCheckProviderEdit"), nullptr);
  UnloadPackage(module);
}

// Reads the headers as a BMP reader does: file header, then BITMAPINFOHEADER.
struct BmpHeader {
  uint16_t magic, planes, bits;
  uint32_t fileSize, offset, infoSize, compression, coloursUsed;
  int32_t width, height;
};
BmpHeader Parse(const TResourceEntry& e) {
  BmpHeader h{};
  EXPECT_GE(e.Size, 54u);
  auto at = [&](size_t offset, auto& field) { std::memcpy(&field, e.Data + offset, sizeof field); };
  at(0, h.magic), at(2, h.fileSize), at(10, h.offset), at(14, h.infoSize), at(18, h.width), at(22, h.height);
  at(26, h.planes), at(28, h.bits), at(30, h.compression), at(46, h.coloursUsed);
  return h;
}

TEST(Package, HoldsAPaletteBitmapForEachComponentAndTZTSHELLLOG) {
  HMODULE module = LoadPackage(ZTL_COMPONENT_LIBRARY);
  std::map<String, int> depths;
  std::set<String> pictures;
  for (const TResourceEntry* e : PackageResources(module)) {
    if (e->Size < 2 || std::memcmp(e->Data, "BM", 2) != 0) continue;
    const BmpHeader h = Parse(*e);
    SCOPED_TRACE(e->Name);
    EXPECT_EQ(h.fileSize, e->Size);
    EXPECT_EQ(h.infoSize, 40u) << "a device-independent bitmap";
    EXPECT_EQ(h.compression, 0u) << "uncompressed";
    EXPECT_EQ(h.planes, 1);
    if (h.width != 24) continue;  // the check processor's failure mark is no palette bitmap
    EXPECT_EQ(h.height, 24);
    EXPECT_EQ(h.coloursUsed, 1u << h.bits) << "a full colour table";
    EXPECT_EQ(h.offset + 24 * (24 * h.bits / 8), e->Size);
    depths[e->Name] = h.bits;
    pictures.insert(String(reinterpret_cast<const char*>(e->Data) + h.offset, e->Size - h.offset));
  }
  EXPECT_EQ(depths, (std::map<String, int>{{"TZTAPPLOG", 4},
                                           {"TZTDATASETLOG", 4},
                                           {"TZTEXCEPTIONLOG", 4},
                                           {"TZTFILELOG", 4},
                                           {"TZTLCHECKPROCESSOR", 8},
                                           {"TZTNTEVENTLOG", 4},
                                           {"TZTREGISTRYLOG", 4},
                                           {"TZTSHELLLOG", 4}}));
  EXPECT_EQ(pictures.size(), 8u) << "each component has its own picture";
  EXPECT_EQ(FindComponentClass("TZTShellLog"), nullptr) << "no class is registered for TZTSHELLLOG";
  UnloadPackage(module);
}

TEST(Package, LoadedTwiceRegistersOnceAndTheLastUnloadRemovesItsRegistrations) {
  ASSERT_EQ(GetClass("TZTAppLog"), nullptr);
  HMODULE first = LoadPackage(ZTL_COMPONENT_LIBRARY);
  HMODULE second = LoadPackage(ZTL_COMPONENT_LIBRARY);
  EXPECT_EQ(first, second);
  EXPECT_EQ(Palette(), kSeven);
  UnloadPackage(second);
  EXPECT_EQ(Palette(), kSeven) << "one load is left";
  UnloadPackage(first);
  EXPECT_TRUE(Palette().empty());
  EXPECT_EQ(GetClass("TZTAppLog"), nullptr) << "the classes the package registered are gone";
  EXPECT_NE(GetClass("TZTLCheckProcessor"), nullptr) << "the module's own start-up registered this one";
  EXPECT_THROW(UnloadPackage(first), EPackageError);
  HMODULE again = LoadPackage(ZTL_COMPONENT_LIBRARY);
  EXPECT_EQ(Palette(), kSeven) << "loaded again, registered again";
  UnloadPackage(again);
}

TEST(Package, RefusesFilesThatAreNoPackageWithTheReason) {
  test::TestDir dir;
  test::WriteFileBytes(dir.File("notes.so"), "not a module\n");
  EXPECT_NE(LoadError(ZTL_PLATFORM_LIBRARY).find("exports no ZTL_Register"), String::npos);
  EXPECT_NE(LoadError(dir.File("notes.so")).find("not a loadable module"), String::npos);
  EXPECT_NE(LoadError(dir.File("missing.so")).find("was not found"), String::npos);
  EXPECT_TRUE(Palette().empty());
}

TEST(Package, AStoredFormNamingEachComponentLoadsThroughTheRegisteredClasses) {
  const String form =
      "object Host: TDataModule\n"
      "  object Errors: TZTExceptionLog\n    LogFile = 'errors.log'\n  end\n"
      "  object Events: TZTAppLog\n  end\n"
      "  object Changes: TZTDatasetLog\n    Formatting = ztlfXML\n  end\n"
      "  object Folder: TZTFileLog\n    Folder = '/nowhere'\n  end\n"
      "  object System: TZTNTEventLog\n    Active = False\n  end\n"
      "  object Keys: TZTRegistryLog\n    Key = 'Software\\Velmora'\n  end\n"
      "  object Checks: TZTLCheckProcessor\n    BeepOnError = False\n  end\n"
      "end\n";
  {
    TDataModule host(nullptr);
    host.SetDesigning(true);
    EXPECT_THROW(TextToComponent(form, &host), EClassNotFound) << "nothing registered yet";
  }
  HMODULE module = LoadPackage(ZTL_COMPONENT_LIBRARY);
  TDataModule host(nullptr);
  host.SetDesigning(true);
  TextToComponent(form, &host);
  std::vector<String> classes;
  for (int i = 0; i < host.ComponentCount(); ++i) classes.push_back("ZTLogger:" + host.Components(i)->ClassName());
  EXPECT_EQ(classes, kSeven);
  EXPECT_EQ(GetStrProp(host.FindComponent("Keys"), "Key"), "Software\\Velmora");
  UnloadPackage(module);
}

}  // namespace
}  // namespace ztl
