#include "common/Errors.h"
#include "common/Settings.h"
#include "fakes/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

constexpr const char* kFamily = "HKLM\\Software\\Quor\\eCentrio";

std::vector<uint32_t> MasksOf(const TFakeRegistry& reg) {
  std::vector<uint32_t> masks;
  for (const auto& call : reg.Opens()) masks.push_back(call.Access);
  return masks;
}

}  // namespace

TEST(Settings, ReadSettingDefaultsToTheProductFamilyKeyOnTheMachineRoot) {
  TFakeRegistry fake;
  fake.PutString(kFamily, "Language", "Deutsch");
  fake.PutString("HKCU\\Software\\Quor\\eCentrio", "Language", "Francais");
  fake.PutString("HKLM\\Software\\Quor\\eBrisko", "Optimization", "a=1");
  EXPECT_EQ(ReadSetting(fake, "Language"), "Deutsch");
  EXPECT_EQ(ReadSetting(fake, "Language", true), "Francais");
  EXPECT_EQ(ReadSetting(fake, "Optimization", false, "\\Software\\Quor\\eBrisko"), "a=1");
  EXPECT_EQ(fake.Opens().front().Path, kFamily);
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
}

TEST(Settings, ReadSettingIsEmptyForDwordsMissingValuesAndUnopenableKeys) {
  TFakeRegistry fake;
  fake.PutDword("HKLM\\SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction", "Enable", 1);
  fake.AddKey(kFamily);
  EXPECT_EQ(ReadSetting(fake, "Enable", false, "\\SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction"),
            "");
  EXPECT_EQ(ReadSetting(fake, "Language"), "");
  EXPECT_EQ(ReadSetting(fake, "Language", true), "");  // no such key for the user
}

TEST(Settings, ReadSettingFallsBackThroughTheReadMasksWithoutTheViewFlag) {
  TFakeRegistry fake;
  fake.PutString(kFamily, "Language", "Deutsch");
  fake.DenyAccess(kFamily, kKeyRead);
  EXPECT_EQ(ReadSetting(fake, "Language"), "Deutsch");
  EXPECT_THAT(MasksOf(fake), ElementsAre(kKeyRead, 0x20009u));
}

TEST(Settings, WriteSettingCreatesTheKeyAndWritesAString) {
  TFakeRegistry fake;
  WriteSetting(fake, "Optimization", "Turbo=1", false, "\\Software\\Quor\\eBrisko");
  WriteSetting(fake, "Language", "Deutsch", true);
  const auto machine = fake.Value("HKLM\\Software\\Quor\\eBrisko", "Optimization");
  ASSERT_TRUE(machine);
  EXPECT_EQ(machine->Type, kRegSz);
  EXPECT_EQ(machine->Data, "Turbo=1");
  EXPECT_EQ(fake.Value("HKCU\\Software\\Quor\\eCentrio", "Language")->Data, "Deutsch");
  EXPECT_EQ(fake.Opens().front(),
            (TFakeRegistry::TOpenCall{"HKLM\\Software\\Quor\\eBrisko", kKeyAllAccess, true}));
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
}

TEST(Settings, WriteSettingSkipsAKeyItCannotOpenButReportsAFailedWrite) {
  TFakeRegistry fake;
  fake.DenyAccess(kFamily, kKeyAllAccess);
  EXPECT_NO_THROW(WriteSetting(fake, "Language", "Deutsch"));
  EXPECT_FALSE(fake.HasKey(kFamily));

  TFakeRegistry failing;
  failing.FailSetValue(1021);  // ERROR_CHILD_MUST_BE_VOLATILE, any write error will do
  try {
    WriteSetting(failing, "Language", "Deutsch");
    FAIL() << "no error raised";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Language'");
  }
  EXPECT_FALSE(failing.Value(kFamily, "Language"));
  EXPECT_EQ(failing.OpenHandleCount(), 0u);
}
