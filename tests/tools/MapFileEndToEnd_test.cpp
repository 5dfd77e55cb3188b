// This executable is built with ztl_add_map_file: it looks the run-time
// addresses of its own functions and statements up in its own map.
#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include <ztlogger/exceptionlog/ZTMapFile.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl_e2e {

struct Probe {
  const void* Address;  // inside the call instruction of the probing statement
  int Line;
};

// The address the caller's call instruction ends at, moved back into it.
// Counting its calls keeps each one a call of its own: Clang takes a function
// that only reads its return address for one whose repeated calls can be
// merged into one.
volatile int CallSiteCalls = 0;
__attribute__((noinline)) const void* CallSite() {
  CallSiteCalls = CallSiteCalls + 1;
  return static_cast<const char*>(__builtin_extract_return_addr(__builtin_return_address(0))) - 1;
}

constexpr int ProbeOnceLine = __LINE__ + 1;
__attribute__((noinline)) Probe ProbeOnce() {
  Probe probe{CallSite(), __LINE__};
  return probe;
}

__attribute__((noinline)) std::vector<Probe> ProbeSeveral(int rounds) {
  std::vector<Probe> probes;
  probes.push_back({CallSite(), __LINE__});
  for (int i = 0; i < rounds; ++i) {
    probes.push_back({CallSite(), __LINE__});
    if (i % 2 == 0) probes.push_back({CallSite(), __LINE__});
  }
  probes.push_back({CallSite(), __LINE__});
  return probes;
}

int Sink = 0;

constexpr int ThrowLine = __LINE__ + 3;
__attribute__((noinline)) void ThrowIfNegative(int value) {
  if (value < 0) {
    throw ztl::EConvertError("negative");
  }
  Sink = value;
}

}  // namespace ztl_e2e

namespace ztl {
namespace {

const String UnitName = "MapFileEndToEnd_test";

// The link-time address of the first loadable segment with code, read from
// the executable file.
uint64_t LinkedCodeStart(const String& path) {
  std::ifstream file(path, std::ios::binary);
  Elf64_Ehdr header{};
  file.read(reinterpret_cast<char*>(&header), sizeof header);
  for (int i = 0; file && i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    file.seekg(static_cast<std::streamoff>(header.e_phoff + static_cast<uint64_t>(i) * header.e_phentsize));
    file.read(reinterpret_cast<char*>(&segment), sizeof segment);
    if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X)) return segment.p_vaddr;
  }
  return UINT64_MAX;
}

class MapFileEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const void* self = reinterpret_cast<const void*>(&ztl_e2e::ProbeOnce);
    exe_ = ModuleFileNameOf(self);
    ASSERT_FALSE(exe_.empty());
    base_ = ModuleCodeBase(self);
    map_.SetMapFileName(ChangeFileExt(exe_, ".map"));
    map_.SetMapFileBase(static_cast<uint32_t>(base_));
  }

  void Lookup(const void* address) {
    map_.LoadExceptionData(address);
    ASSERT_TRUE(map_.ExceptionAnalyzed());
  }

  String exe_;
  uintptr_t base_ = 0;
  TZTMapFile map_;
};

TEST_F(MapFileEndToEndTest, TheMapLiesBesideTheExecutable) {
  EXPECT_TRUE(FileExists(map_.MapFileName())) << map_.MapFileName();
  TStringList units;
  map_.LoadUnitNames(&units);
  EXPECT_GE(units.IndexOf(UnitName), 0) << units.CommaText();
}

TEST_F(MapFileEndToEndTest, CodeBaseIsWhereTheLoaderPutTheCode) {
  EXPECT_EQ(base_, MainModuleCodeBase());
  const uint64_t linked = LinkedCodeStart(exe_);
  ASSERT_NE(linked, UINT64_MAX);
  // A position-independent executable is moved by whole pages, away from
  // its link-time address.
  EXPECT_NE(base_, linked);
  EXPECT_EQ((base_ - linked) % 4096, 0u);
  EXPECT_EQ(ModuleCodeBase(nullptr), 0u);
}

TEST_F(MapFileEndToEndTest, FunctionAddressGivesUnitFunctionAndItsFirstLine) {
  Lookup(reinterpret_cast<const void*>(&ztl_e2e::ProbeOnce));
  EXPECT_EQ(map_.ExceptUnitName(), UnitName);
  EXPECT_EQ(map_.ExceptMethodName(), "ztl_e2e::ProbeOnce()");
  EXPECT_EQ(map_.ExceptLineNumber(), ztl_e2e::ProbeOnceLine);
  EXPECT_EQ(map_.ExceptAddress(), reinterpret_cast<uintptr_t>(&ztl_e2e::ProbeOnce) - base_);
}

TEST_F(MapFileEndToEndTest, StatementAddressesGiveTheirLines) {
  const ztl_e2e::Probe once = ztl_e2e::ProbeOnce();
  Lookup(once.Address);
  EXPECT_EQ(map_.ExceptUnitName(), UnitName);
  EXPECT_EQ(map_.ExceptMethodName(), "ztl_e2e::ProbeOnce()");
  EXPECT_EQ(map_.ExceptLineNumber(), once.Line);

  const std::vector<ztl_e2e::Probe> probes = ztl_e2e::ProbeSeveral(3);
  ASSERT_EQ(probes.size(), 7u);
  for (const ztl_e2e::Probe& probe : probes) {
    Lookup(probe.Address);
    EXPECT_EQ(map_.ExceptUnitName(), UnitName);
    EXPECT_EQ(map_.ExceptMethodName(), "ztl_e2e::ProbeSeveral(int)");
    EXPECT_EQ(map_.ExceptLineNumber(), probe.Line);
  }
}

TEST_F(MapFileEndToEndTest, NilAddressInsideAHandlerGivesTheRaisingStatement) {
  try {
    ztl_e2e::ThrowIfNegative(-1);
  } catch (const EConvertError&) {
    map_.LoadExceptionData(nullptr);
  }
  ASSERT_TRUE(map_.ExceptionAnalyzed());
  EXPECT_EQ(map_.ExceptUnitName(), UnitName);
  EXPECT_EQ(map_.ExceptMethodName().rfind("ztl_e2e::ThrowIfNegative(int)", 0), 0u) << map_.ExceptMethodName();
  EXPECT_EQ(map_.ExceptLineNumber(), ztl_e2e::ThrowLine);
}

TEST_F(MapFileEndToEndTest, CodeOfTheComponentLibraryIsFoundInItsMap) {
  const void* inLibrary = reinterpret_cast<const void*>(&TZTMapFile::StaticClass);
  // The library is loaded by its versioned name (libztlogger.so.MAJOR.MINOR).
  EXPECT_EQ(ExtractFileName(ModuleFileNameOf(inLibrary)), ZTL_LIBRARY_FILE_NAME);
  const uintptr_t libraryBase = ModuleCodeBase(inLibrary);
  EXPECT_NE(libraryBase, base_);
  TZTMapFile library;
  library.SetMapFileName(ZTL_LIBRARY_MAP_PATH);
  library.SetMapFileBase(static_cast<uint32_t>(libraryBase));
  library.LoadExceptionData(inLibrary);
  EXPECT_EQ(library.ExceptUnitName(), "ZTMapFile");
  EXPECT_EQ(library.ExceptMethodName(), "ztl::TZTMapFile::StaticClass()");
  EXPECT_GT(library.ExceptLineNumber(), 0);
}

// The offsets a map names: each public's and each line entry's, read from
// its text (the digits after " 0001:").
std::vector<uint32_t> OffsetsNamedIn(const String& path) {
  std::ifstream in(path, std::ios::binary);
  const String text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint32_t> offsets;
  for (size_t at = text.find(" 0001:"); at != String::npos; at = text.find(" 0001:", at + 1))
    offsets.push_back(static_cast<uint32_t>(std::stoul(text.substr(at + 6, 8), nullptr, 16)));
  return offsets;
}

// A map written by ztl-mkmap records its layout; a reader that seeks through
// it gives the walks' answers, around every offset the map names (a sample
// of them in the library's larger map).
TEST_F(MapFileEndToEndTest, SeekingThroughTheRecordedLayoutGivesTheWalksAnswers) {
  for (const String& path : {map_.MapFileName(), String(ZTL_LIBRARY_MAP_PATH)}) {
    TZTMapFile walker, seeker;
    walker.SetMapFileName(path);
    seeker.SetMapFileName(path);
    seeker.SetSeekRecordedLayout(true);
    const std::vector<uint32_t> offsets = OffsetsNamedIn(path);
    ASSERT_GT(offsets.size(), 1000u) << path;
    const size_t step = offsets.size() / 1500 + 1;
    for (size_t i = 0; i < offsets.size(); i += step) {
      for (uint32_t offset : {offsets[i] - 1, offsets[i], offsets[i] + 1}) {
        const auto address = reinterpret_cast<const void*>(uintptr_t{TZTMapFile::DefaultMapFileBase} + offset);
        walker.LoadExceptionData(address);
        seeker.LoadExceptionData(address);
        ASSERT_EQ(seeker.ExceptUnitName(), walker.ExceptUnitName()) << path << " " << offset;
        ASSERT_EQ(seeker.ExceptMethodName(), walker.ExceptMethodName()) << path << " " << offset;
        ASSERT_EQ(seeker.ExceptLineNumber(), walker.ExceptLineNumber()) << path << " " << offset;
      }
    }
    EXPECT_TRUE(seeker.SeeksRecordedLayout()) << path;
  }
}

}  // namespace
}  // namespace ztl
