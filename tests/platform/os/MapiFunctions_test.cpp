// The table behind the Simple MAPI entry points: another mail system can be
// put in its place, and the desktop's comes back.
#include <gtest/gtest.h>

#include <ztlogger/platform/os/Mapi.h>

namespace {

int sends = 0;
int resolves = 0;
int frees = 0;

ULONG CountSend(LHANDLE, ULONG_PTR, lpMapiMessage, FLAGS, ULONG) {
  ++sends;
  return MAPI_E_NETWORK_FAILURE;
}
ULONG CountResolve(LHANDLE, ULONG_PTR, LPSTR, FLAGS, ULONG, lpMapiRecipDesc*) {
  ++resolves;
  return MAPI_E_AMBIGUOUS_RECIPIENT;
}
ULONG CountFree(LPVOID) {
  ++frees;
  return MAPI_E_FAILURE;
}

const TMapiFunctions kCounting = {CountSend, CountResolve, CountFree};

TEST(MapiFunctions, AnInstalledTableAnswersEveryEntryPointUntilReplaced) {
  const TMapiFunctions* desktop = SetMapiFunctions(&kCounting);
  ASSERT_NE(desktop, nullptr);
  MapiMessage message{};
  char name[] = "ann@example.org";
  lpMapiRecipDesc entry = nullptr;
  EXPECT_EQ(MapiSendMail(0, 0, &message, MAPI_LOGON_UI, 0), MAPI_E_NETWORK_FAILURE);
  EXPECT_EQ(MapiResolveName(0, 0, name, 0, 0, &entry), MAPI_E_AMBIGUOUS_RECIPIENT);
  EXPECT_EQ(MapiFreeBuffer(nullptr), MAPI_E_FAILURE);
  EXPECT_EQ(sends + resolves + frees, 3);

  // nullptr brings the desktop's mail system back, which resolves addresses.
  EXPECT_EQ(SetMapiFunctions(nullptr), &kCounting);
  ASSERT_EQ(MapiResolveName(0, 0, name, 0, 0, &entry), SUCCESS_SUCCESS);
  EXPECT_EQ(MapiFreeBuffer(entry), SUCCESS_SUCCESS);
  EXPECT_EQ(resolves, 1);
  EXPECT_EQ(SetMapiFunctions(desktop), desktop);
}

}  // namespace
