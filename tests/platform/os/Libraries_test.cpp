// Code modules: loads counted per handle, and handles of released modules
// refused with the Windows codes. (Files that are no module: the package tests.)
#include <ztlogger/platform/os/Libraries.h>

#include <gtest/gtest.h>

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

}  // namespace
