#include "common/CleanupAPI.h"
#include "common/GenericShellAPI.h"
#include "fakes/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using ::testing::Each;
using ::testing::Field;

namespace {

constexpr const char* kSpw = "HKCU\\Software\\Microsoft\\Internet Explorer\\IntelliForms\\SPW";
constexpr const char* kTyped = "HKCU\\Software\\Microsoft\\Internet Explorer\\TypedURLs";

}  // namespace

TEST(SavedPasswords, CountAndClearWithoutTheKeyGiveZeroAndCreateNothing) {
  TFakeRegistry reg;
  reg.AddKey("HKCU\\Software\\Microsoft\\Internet Explorer");
  EXPECT_EQ(CountSavedPasswords(reg), 0);
  EXPECT_EQ(ClearSavedPasswords(reg), 0);
  EXPECT_FALSE(reg.HasKey(kSpw));
  EXPECT_THAT(reg.Opens(), Each(Field(&TFakeRegistry::TOpenCall::Create, false)));
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST(SavedPasswords, ClearingDeletesEveryValueAndReportsHowManyWent) {
  TFakeRegistry reg;
  for (int i = 0; i < 12; ++i) reg.PutString(kSpw, "site" + std::to_string(i), "secret");
  reg.PutDword(kSpw, "count", 12);  // any value type is a saved entry
  EXPECT_EQ(CountSavedPasswords(reg), 13);
  EXPECT_EQ(ClearSavedPasswords(reg), 13);
  EXPECT_EQ(CountSavedPasswords(reg), 0);
  EXPECT_TRUE(reg.HasKey(kSpw));  // only the values go
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST(SavedPasswords, AKeyThatCannotBeOpenedForWritingClearsNothing) {
  TFakeRegistry reg;
  reg.PutString(kSpw, "site", "secret");
  reg.DenyAccess(kSpw, kKeyAllAccess);
  EXPECT_EQ(ClearSavedPasswords(reg), 0);
  EXPECT_EQ(CountSavedPasswords(reg), 1);  // counting needs read access only
  EXPECT_TRUE(reg.Value(kSpw, "site").has_value());
}

TEST(TypedUrls, CountedAndDeletedWithTheirKeyTree) {
  TFakeRegistry reg;
  reg.PutString(kTyped, "url1", "http://a.example/");
  reg.PutString(kTyped, "url2", "http://b.example/");
  reg.AddKey(std::string(kTyped) + "\\Nested");
  reg.PutString("HKCU\\Software\\Microsoft\\Internet Explorer", "Kept", "yes");
  EXPECT_EQ(CountTypedUrls(reg), 2);
  DeleteTypedUrlsKey(reg);
  EXPECT_FALSE(reg.HasKey(kTyped));
  EXPECT_EQ(CountTypedUrls(reg), 0);
  EXPECT_TRUE(reg.Value("HKCU\\Software\\Microsoft\\Internet Explorer", "Kept").has_value());
}

TEST(TypedUrls, DeletingAMissingKeyCreatesNothing) {
  TFakeRegistry reg;
  DeleteTypedUrlsKey(reg);
  EXPECT_FALSE(reg.HasKey(kTyped));
  EXPECT_THAT(reg.Opens(), Each(Field(&TFakeRegistry::TOpenCall::Create, false)));
}

TEST(FolderItemKinds, TheFlagWordIsTheSumOfTheMembersShellFlags) {
  using K = TFolderItemKind;
  const std::pair<TFolderItemKinds, uint32_t> cases[] = {
      {{}, 0},
      {{K::fikFolders}, 32},
      {{K::fikNonFolders}, 64},
      {{K::fikHidden}, 128},
      {{K::fikNonFolders, K::fikHidden}, 192},
      {{K::fikFolders, K::fikNonFolders, K::fikHidden, K::fikFolders}, 224},
  };
  for (const auto& [kinds, flags] : cases) EXPECT_EQ(kinds.ShellFlags(), flags);
  const TFolderItemKinds some{K::fikHidden};
  EXPECT_TRUE(some.Contains(K::fikHidden));
  EXPECT_FALSE(some.Contains(K::fikFolders));
}
