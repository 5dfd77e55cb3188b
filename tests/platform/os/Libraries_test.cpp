// Code modules: loads counted per handle, lookups by name, and the values
// that are no loaded module refused with the Windows codes.
#include "platform/os/Libraries.h"

#include <gtest/gtest.h>

#include "platform/rtl/Unicode.h"
#include "tests/support/TestDir.h"

namespace {

TEST(Libraries, LoadsAreCountedAndOnlyTheirHandlesAreReleased) {
  HMODULE first = LoadLibraryW(u"" ZTL_PLATFORM_LIBRARY);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LoadLibraryW(u"" ZTL_PLATFORM_LIBRARY), first) << "the module the program links, loaded again";
  EXPECT_EQ(GetProcAddress(first, "no_such_symbol"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_FALSE(FreeLibrary(first)) << "both loads released";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcAddress(first, "no_such_symbol"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Libraries, MissingFilesAndFilesThatAreNoModuleAreRefused) {
  ztl::test::TestDir dir;
  ztl::test::WriteFileBytes(dir.File("text.so"), "not a module\n");
  const std::u16string text = ztl::unicode::Utf8ToUtf16(dir.File("text.so"));
  EXPECT_EQ(LoadLibraryW(text.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(LoadLibraryW(ztl::unicode::Utf8ToUtf16(dir.File("missing.so")).c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryW(u""), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
