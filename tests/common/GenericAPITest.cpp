#include "common/GenericAPI.h"
#include "common/GenericNetAPI.h"
#include "fakes/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Field;

TEST(GenericAPI, IncludeTrailingSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"C:\\Temp", "C:\\Temp\\"},
      {"C:\\Temp\\", "C:\\Temp\\"},
      {"a/", "a/"},
      {"a/b", "a/b/"},
      {"C:\\a/b", "C:\\a/b/"},
      {"/x\\y", "/x\\y/"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(IncludeTrailingSeparator(in), out) << in;
}

TEST(GenericAPI, ExtractFilePathKeepsTheLastSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Program Files\\Quor\\eBrisko.exe", "C:\\Program Files\\Quor\\"},
      {"Z:/work/bin/t.exe", "Z:/work/bin/"},
      {"C:eBrisko.exe", "C:"},
      {"eBrisko.exe", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ExtractFilePath(in), out) << in;
}

TEST(GenericAPI, ReadRegStringUsesTheChosenRootAndView) {
  struct TCase {
    bool CurrentUser;
    bool Use64;
    const char* Expected;
    uint32_t Flag;
  };
  for (const TCase c : {TCase{false, false, "machine", 0}, TCase{true, false, "user", 0},
                        TCase{false, true, "machine", kKeyWow64_64Key}}) {
    TFakeRegistry fake;
    fake.PutString("HKLM\\Software\\Quor\\eCentrio", "Type", "machine");
    fake.PutString("HKCU\\Software\\Quor\\eCentrio", "Type", "user");
    EXPECT_EQ(ReadRegString(fake, "\\Software\\Quor\\eCentrio", "Type", c.CurrentUser, c.Use64),
              c.Expected);
    EXPECT_THAT(fake.Opens(), ElementsAre(Field(&TFakeRegistry::TOpenCall::Access,
                                                kKeyRead | c.Flag)));
    EXPECT_EQ(fake.OpenHandleCount(), 0u);
  }
}

TEST(GenericAPI, ReadRegStringGivesEmptyForAnythingMissingOrNotAString) {
  TFakeRegistry fake;
  fake.PutDword("HKLM\\Software\\Quor\\eCentrio", "Count", 7);
  fake.PutString("HKLM\\Software\\Locked", "Type", "x");
  for (const uint32_t mask : {kKeyRead, 0x20009u, kKeyQueryValue})
    fake.DenyAccess("HKLM\\Software\\Locked", mask);
  EXPECT_EQ(ReadRegString(fake, "\\Software\\Quor\\eCentrio", "Count", false, false), "");
  EXPECT_EQ(ReadRegString(fake, "\\Software\\Quor\\eCentrio", "Type", false, false), "");
  EXPECT_EQ(ReadRegString(fake, "\\Software\\Missing", "Type", false, false), "");
  EXPECT_EQ(ReadRegString(fake, "\\Software\\Locked", "Type", false, false), "");
}

TEST(GenericNetAPI, AdministratorOnlyWhenTheQuerySucceedsWithLevelTwo) {
  struct TCase {
    bool Succeeds;
    int Level;  // the level the query writes, also when it fails
    bool Admin;
  };
  for (const TCase c : {TCase{true, 2, true}, TCase{true, 1, false}, TCase{true, 0, false},
                        TCase{false, 2, false}}) {
    InitializeNetModule([&](int& level) {
      level = c.Level;
      return c.Succeeds;
    });
    EXPECT_EQ(gIsAdmin(), c.Admin) << c.Succeeds << " " << c.Level;
  }
  InitializeNetModule([](int&) -> bool { throw std::runtime_error("no account database"); });
  EXPECT_FALSE(gIsAdmin());
  InitializeNetModule([](int& level) { return level = 2, true; });
  FinalizeNetModule();
  EXPECT_FALSE(gIsAdmin());
}
