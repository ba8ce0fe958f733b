#include "common/Errors.h"
#include "common/GenericAPI.h"
#include "common/Registry.h"
#include "common/Registry64.h"
#include "common/Settings.h"
#include "common/WinApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::UnorderedElementsAre;

namespace {

constexpr const char* kTestKey = "\\Software\\QuorCommonTests";

class RegistryWin : public ::testing::Test {
 protected:
  void TearDown() override {
    TRegistry reg(SystemRegistry());
    for (const TRegHandle root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
      reg.SetRootKey(root);
      reg.DeleteKey(kTestKey);
    }
  }
};

}  // namespace

TEST_F(RegistryWin, RoundTripInBothRoots) {
  for (const TRegHandle root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
    SCOPED_TRACE(root);
    TRegistry reg(SystemRegistry());
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey("\\Software\\QuorCommonTests\\Sub", true));
    reg.WriteString("Text", "Gr\xC3\xBC\xC3\x9F" "e");
    reg.WriteInteger("Count", 0x80000001u);
    ASSERT_TRUE(reg.OpenKey("Deeper", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\QuorCommonTests\\Sub\\Deeper");
    reg.WriteString("X", "1");
    reg.CloseKey();

    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\QuorCommonTests\\Sub"));
    EXPECT_EQ(reg.Access(), kKeyRead);
    EXPECT_EQ(reg.ReadString("text"), "Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(reg.ReadInteger("Count"), 0x80000001u);
    EXPECT_EQ(reg.GetDataType("Count"), TRegDataType::rdInteger);
    EXPECT_THAT(reg.GetValueNames(), UnorderedElementsAre("Text", "Count"));
    EXPECT_THROW(reg.ReadString("Count"), ERegistryException);
    EXPECT_THROW(reg.WriteString("Y", "z"), ERegistryException);  // opened for reading only
    reg.CloseKey();

    EXPECT_TRUE(reg.KeyExists("\\Software\\QuorCommonTests\\Sub\\Deeper"));
    EXPECT_TRUE(reg.DeleteKey("\\Software\\QuorCommonTests\\Sub"));
    EXPECT_FALSE(reg.KeyExists("\\Software\\QuorCommonTests\\Sub"));
    EXPECT_TRUE(reg.KeyExists("\\Software\\QuorCommonTests"));
  }
}

TEST_F(RegistryWin, StringsStoredWithoutTerminatorOrAsExpandStringsReadBack) {
  TRegistry reg(SystemRegistry());
  ASSERT_TRUE(reg.OpenKey(kTestKey, true));
  HKEY key = reinterpret_cast<HKEY>(reg.CurrentKey());
  const wchar_t bare[] = {L'a', L'b', L'c'};
  ASSERT_EQ(::RegSetValueExW(key, L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare),
                             sizeof bare),
            ERROR_SUCCESS);
  const wchar_t expand[] = L"%TEMP%\\x";
  ASSERT_EQ(::RegSetValueExW(key, L"Expand", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(expand), sizeof expand),
            ERROR_SUCCESS);
  EXPECT_EQ(reg.ReadString("Bare"), "abc");
  EXPECT_EQ(reg.ReadString("Expand"), "%TEMP%\\x");
  EXPECT_EQ(reg.GetDataType("Expand"), TRegDataType::rdExpandString);
  const std::string longText(5000, 'q');  // beyond the first read buffer
  reg.WriteString("Long", longText);
  EXPECT_EQ(reg.ReadString("Long"), longText);
}

TEST_F(RegistryWin, SixtyFourBitViewReadsTheNativeViewNotTheRedirectedOne) {
  TRegistry writer(SystemRegistry());
  writer.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(writer.OpenKey("\\Software\\QuorCommonTests\\View", true));
  writer.WriteString("Where", "native");
  writer.CloseKey();

  // The same path in the 32-bit view is another key.
  HKEY key32 = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\QuorCommonTests\\View32", 0,
                              nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key32,
                              nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(key32);

  TRegistry64 reader(SystemRegistry(), true);
  reader.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(reader.OpenKeyReadOnly("\\Software\\QuorCommonTests\\View"));
  EXPECT_EQ(reader.Access(), kKeyRead);
  EXPECT_EQ(reader.ReadString("Where"), "native");
  EXPECT_FALSE(reader.OpenKeyReadOnly("\\Software\\QuorCommonTests\\View32"));
  EXPECT_EQ(reader.CurrentPath(), "Software\\QuorCommonTests\\View");
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\QuorCommonTests\\View32", KEY_WOW64_32KEY, 0);
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\QuorCommonTests", KEY_WOW64_32KEY, 0);
}

TEST_F(RegistryWin, SettingsAndRegStringOnTheMachineRoot) {
  const std::string key = std::string(kTestKey) + "\\Settings";
  WriteSetting("Optimization", "Turbo=1", false, key);
  EXPECT_EQ(ReadSetting("Optimization", false, key), "Turbo=1");
  EXPECT_EQ(ReadRegString(key, "Optimization", false, false), "Turbo=1");
  EXPECT_EQ(ReadRegString(key, "Optimization", false, true), "Turbo=1");
  EXPECT_EQ(ReadSetting("Optimization", true, key), "");  // the user root has no such key

  TRegistry reg(SystemRegistry());
  reg.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(reg.OpenKey(key, false));
  reg.WriteInteger("Enable", 1);
  EXPECT_EQ(ReadSetting("Enable", false, key), "");
  EXPECT_EQ(ReadRegString(key, "Enable", false, false), "");

  // The empty key is the product family's key.
  WriteSetting("CommonTestsValue", "here");
  EXPECT_EQ(ReadSetting("CommonTestsValue"), "here");
  ASSERT_TRUE(reg.OpenKey(kProductFamilyKey, false));
  EXPECT_EQ(reg.ReadString("CommonTestsValue"), "here");
  EXPECT_TRUE(reg.DeleteValue("CommonTestsValue"));
}
