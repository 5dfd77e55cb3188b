#include <ztlogger/platform/rtl/Registry.h>

#include <gtest/gtest.h>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/os/registry/Api.h>

namespace ztl {
namespace {

class TRegistryTest : public ::testing::Test {
 protected:
  test::TestDir dir;
  TRegistry reg;
};

TEST_F(TRegistryTest, OpensKeysRelativeToTheOpenKeyOrFromTheRoot) {
  EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS);
  EXPECT_FALSE(reg.OpenKey("Software\\Velmora", false));
  EXPECT_EQ(reg.CurrentKey(), nullptr);
  ASSERT_TRUE(reg.OpenKey("Software\\Velmora", true));
  ASSERT_TRUE(reg.OpenKey("Inner", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Velmora\\Inner");
  EXPECT_TRUE(reg.KeyExists("\\software\\velmora"));
  EXPECT_FALSE(reg.KeyExists("Software"));  // relative to Inner
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  EXPECT_EQ(reg.CurrentPath(), "Software");
  std::vector<String> names;
  reg.GetKeyNames(names);
  EXPECT_EQ(names, std::vector<String>{"Velmora"});
  EXPECT_TRUE(reg.HasSubKeys());

  reg.SetRootKey(HKEY_LOCAL_MACHINE);  // closes the open key
  EXPECT_EQ(reg.CurrentKey(), nullptr);
  EXPECT_FALSE(reg.KeyExists("Software\\Velmora"));

  TRegistry reader;
  ASSERT_TRUE(reader.OpenKeyReadOnly("Software\\Velmora"));
  EXPECT_EQ(reader.Access(), KEY_READ);
  EXPECT_THROW(reader.WriteInteger("x", 1), ERegistryException);
}

TEST_F(TRegistryTest, ReadsBackEachTypeAndRefusesAnother) {
  ASSERT_TRUE(reg.OpenKey("Software\\Types", true));
  reg.WriteString("Text", "gr\xC3\xBC\xC3\x9F");
  reg.WriteInteger("Number", -42);
  reg.WriteBool("Flag", true);
  reg.WriteFloat("Ratio", 2.5);
  const uint8_t blob[] = {9, 8, 7};
  reg.WriteBinaryData("Blob", blob, sizeof blob);
  EXPECT_EQ(reg.ReadString("text"), "gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(reg.ReadInteger("Number"), -42);
  EXPECT_TRUE(reg.ReadBool("Flag"));
  EXPECT_EQ(reg.ReadFloat("Ratio"), 2.5);
  uint8_t read[8] = {};
  EXPECT_EQ(reg.ReadBinaryData("Blob", read, sizeof read), 3);
  EXPECT_EQ(read[2], 7);
  EXPECT_EQ(reg.GetDataType("Number"), rdInteger);
  EXPECT_EQ(reg.GetDataSize("Text"), 10);  // four UTF-16 characters and the terminator
  EXPECT_EQ(reg.GetDataSize("Missing"), -1);

  EXPECT_THROW(reg.ReadString("Number"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("Text"), ERegistryException);
  EXPECT_THROW(reg.ReadFloat("Number"), ERegistryException);
  EXPECT_THROW(reg.ReadBinaryData("Blob", read, 2), ERegistryException);  // larger than the buffer
  try {
    reg.ReadInteger("Missing");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), "Failed to get data for 'Missing'");
  }
  EXPECT_EQ(reg.ReadString("Missing"), "");
  EXPECT_EQ(reg.ReadBinaryData("Missing", read, sizeof read), 0);

  std::vector<String> names;
  reg.GetValueNames(names);
  EXPECT_EQ(names, (std::vector<String>{"Text", "Number", "Flag", "Ratio", "Blob"}));
  EXPECT_TRUE(reg.ValueExists("FLAG"));
  EXPECT_TRUE(reg.DeleteValue("Flag"));
  EXPECT_FALSE(reg.ValueExists("Flag"));
  EXPECT_FALSE(reg.DeleteValue("Flag"));
}

TEST_F(TRegistryTest, DeleteKeyTakesTheWholeTree) {
  ASSERT_TRUE(reg.CreateKey("Software\\Tree\\A\\B"));
  ASSERT_TRUE(reg.OpenKey("Software\\Tree\\A", false));
  reg.WriteInteger("v", 1);
  reg.CloseKey();
  EXPECT_TRUE(reg.DeleteKey("Software\\Tree"));
  EXPECT_FALSE(reg.KeyExists("Software\\Tree"));
  EXPECT_TRUE(reg.KeyExists("Software"));
  EXPECT_FALSE(reg.DeleteKey("Software\\Tree"));
}

}  // namespace
}  // namespace ztl
