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

TEST(GenericAPI, DriveRootsInEveryFormOfAResolvedPath) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},
      {R"(C:)", true},
      {R"(c:\)", true},
      {R"(C:/)", true},
      {R"(\\?\C:\)", true},
      {R"(\\?\UNC\server\share\)", true},
      {R"(\\server\share)", true},
      {R"(\\server)", true},
      {R"(\\?\Volume{2c6c9b8d-1c2f-4a0e-9a4e-000000000001}\)", true},
      {R"(C:\Temp)", false},
      {R"(\\?\C:\Users\x\AppData\Local\Temp)", false},
      {R"(\\?\UNC\server\share\temp)", false},
      {R"(\\server\share\temp\)", false},
      {R"(\\?\Volume{2c6c9b8d-1c2f-4a0e-9a4e-000000000001}\Temp)", false},
  };
  for (const auto& [path, root] : cases) EXPECT_EQ(IsDriveRoot(path), root) << path;
}

TEST(GenericAPI, ProtectedFoldersAndTheirAncestorsAreRefused) {
  const std::string profile = "C:\\Users\\J\xC3\xB6rg";
  const std::vector<std::string> guarded = {R"(\\?\C:\Windows)", profile, ""};
  const std::pair<std::string, bool> cases[] = {
      {R"(\\?\C:\)", true},                     // a drive root
      {R"(c:\windows\)", true},                 // the Windows folder, in any spelling
      {R"(\\?\)" + profile, true},              // the profile folder
      {"c:/users/J\xC3\xB6rg/", true},
      {R"(\\?\C:\Users)", true},                // holds the profile folder
      {R"(\\?\)" + profile + R"(\AppData\Local\Temp)", false},
      {R"(\\?\C:\Windows\Temp)", false},        // below the Windows folder is fine
      {R"(\\?\C:\Win)", false},                 // a name's prefix is no ancestor
      {R"(\\?\C:\Users\J)", false},
      {R"(\\?\D:\Windows)", false},
  };
  for (const auto& [path, refused] : cases)
    EXPECT_EQ(IsProtectedFolder(path, guarded), refused) << path;
  EXPECT_FALSE(IsProtectedFolder(R"(D:\Temp)", {}));
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
