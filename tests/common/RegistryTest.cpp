#include "common/Errors.h"
#include "common/Registry.h"
#include "common/Registry64.h"
#include "fakes/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

constexpr uint32_t kMaskQueryEnum = 0x20009;

std::vector<uint32_t> MasksOf(const TFakeRegistry& reg) {
  std::vector<uint32_t> masks;
  for (const auto& call : reg.Opens()) masks.push_back(call.Access);
  return masks;
}

}  // namespace

TEST(Registry, ReadOnlyOpenTriesTheThreeMasksInOrderAndKeepsTheOneThatWorked) {
  struct TCase {
    bool Use64;
    uint32_t Flag;
  };
  for (const TCase c : {TCase{false, 0}, TCase{true, kKeyWow64_64Key}}) {
    SCOPED_TRACE(c.Use64);
    TFakeRegistry fake;
    fake.AddKey("HKLM\\Software\\Quor");
    fake.DenyAccess("HKLM\\Software\\Quor", kKeyRead | c.Flag);
    fake.DenyAccess("HKLM\\Software\\Quor", kMaskQueryEnum | c.Flag);
    TRegistry64 reg(fake, c.Use64);
    reg.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Quor"));
    EXPECT_THAT(MasksOf(fake),
                ElementsAre(kKeyRead | c.Flag, kMaskQueryEnum | c.Flag, kKeyQueryValue | c.Flag));
    EXPECT_EQ(reg.Access(), kKeyQueryValue);  // remembered without the view flag
    EXPECT_EQ(reg.CurrentPath(), "Software\\Quor");
  }
}

TEST(Registry, FirstReadOnlyMaskWinsAndThePlainAccessorNeverAddsTheViewFlag) {
  TFakeRegistry fake;
  fake.AddKey("HKCU\\Software\\Quor");
  TRegistry reg(fake);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Quor"));
  EXPECT_THAT(MasksOf(fake), ElementsAre(kKeyRead));
  EXPECT_EQ(reg.Access(), kKeyRead);
}

TEST(Registry, FailedReadOnlyOpenKeepsTheCurrentKey) {
  TFakeRegistry fake;
  fake.AddKey("HKCU\\A\\Locked");
  fake.DenyAccess("", kKeyRead);
  fake.DenyAccess("", kMaskQueryEnum);
  fake.DenyAccess("", kKeyQueryValue);
  TRegistry reg(fake);
  ASSERT_TRUE(reg.OpenKey("A", false));
  const TRegHandle before = reg.CurrentKey();
  EXPECT_FALSE(reg.OpenKeyReadOnly("Locked"));
  EXPECT_EQ(reg.CurrentKey(), before);
  EXPECT_EQ(reg.CurrentPath(), "A");
  EXPECT_EQ(reg.Access(), kKeyAllAccess);
  EXPECT_EQ(fake.Opens().size(), 4u);  // the first open and three refused read-only tries
}

TEST(Registry, KeyNamesResolveAgainstTheCurrentKeyOrTheRoot) {
  struct TCase {
    const char* First;  // nullptr: nothing open yet
    const char* Key;
    const char* Path;    // current path afterwards
    const char* Opened;  // full path the open asked for
  };
  const TCase cases[] = {
      {nullptr, "Software\\Quor", "Software\\Quor", "HKCU\\Software\\Quor"},
      {nullptr, "\\Software\\Quor", "Software\\Quor", "HKCU\\Software\\Quor"},
      {"Software", "Quor", "Software\\Quor", "HKCU\\Software\\Quor"},
      {"Software", "\\Software\\Quor", "Software\\Quor", "HKCU\\Software\\Quor"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Key);
    for (const bool readOnly : {false, true}) {
      TFakeRegistry fake;
      fake.AddKey("HKCU\\Software\\Quor");
      TRegistry64 reg(fake);
      if (c.First) {
        ASSERT_TRUE(reg.OpenKey(c.First, false));
      }
      ASSERT_TRUE(readOnly ? reg.OpenKeyReadOnly(c.Key) : reg.OpenKey(c.Key, false));
      EXPECT_EQ(reg.CurrentPath(), c.Path);
      EXPECT_EQ(fake.Opens().back().Path, c.Opened);
      EXPECT_EQ(fake.OpenHandleCount(), 1u);  // the previous current key was closed
    }
  }
}

TEST(Registry, OpenKeyCreatesOnlyWhenAsked) {
  TFakeRegistry fake;
  TRegistry reg(fake);
  EXPECT_FALSE(reg.OpenKey("\\Software\\Quor\\eBrisko", false));
  EXPECT_EQ(reg.CurrentKey(), 0u);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Quor\\eBrisko", true));
  EXPECT_TRUE(fake.HasKey("HKCU\\Software\\Quor"));
  EXPECT_TRUE(fake.HasKey("HKCU\\Software\\Quor\\eBrisko"));
  EXPECT_EQ(fake.Opens().back(),
            (TFakeRegistry::TOpenCall{"HKCU\\Software\\Quor\\eBrisko", kKeyAllAccess, true}));
}

TEST(Registry, ValuesRoundTripWithTheirTypes) {
  TFakeRegistry fake;
  TRegistry reg(fake);
  ASSERT_TRUE(reg.OpenKey("Software\\Quor", true));
  reg.WriteString("Language", "Deutsch");
  reg.WriteInteger("Enable", 0xFFFFFFFFu);
  EXPECT_EQ(reg.ReadString("language"), "Deutsch");  // value names fold case
  EXPECT_EQ(reg.ReadInteger("Enable"), 0xFFFFFFFFu);
  EXPECT_EQ(reg.GetDataType("Language"), TRegDataType::rdString);
  EXPECT_EQ(reg.GetDataType("Enable"), TRegDataType::rdInteger);
  EXPECT_EQ(reg.GetDataType("Missing"), TRegDataType::rdUnknown);
  EXPECT_THAT(reg.GetValueNames(), UnorderedElementsAre("Language", "Enable"));
  EXPECT_TRUE(reg.ValueExists("Enable"));
  EXPECT_TRUE(reg.DeleteValue("Enable"));
  EXPECT_FALSE(reg.ValueExists("Enable"));
  EXPECT_FALSE(reg.DeleteValue("Enable"));
  EXPECT_EQ(reg.ReadString("Missing"), "");
}

TEST(Registry, ReadAndWriteErrorsNameTheValue) {
  TFakeRegistry fake;
  fake.PutDword("HKCU\\K", "Count", 3);
  fake.PutString("HKCU\\K", "Text", "x");
  TRegistry reg(fake);
  ASSERT_TRUE(reg.OpenKey("K", false));
  const auto message = [](auto&& call) {
    try {
      call();
    } catch (const ERegistryException& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([&] { reg.ReadString("Count"); }), "Invalid data type for 'Count'");
  EXPECT_EQ(message([&] { reg.ReadInteger("Text"); }), "Invalid data type for 'Text'");
  EXPECT_EQ(message([&] { reg.ReadInteger("None"); }), "Failed to get data for 'None'");
  fake.FailSetValue(kErrorAccessDenied);
  EXPECT_EQ(message([&] { reg.WriteString("Text", "y"); }), "Failed to set data for 'Text'");
  EXPECT_EQ(message([&] { reg.WriteInteger("Count", 1); }), "Failed to set data for 'Count'");
  EXPECT_EQ(fake.Value("HKCU\\K", "Text")->Data, "x");

  TRegistry closed(fake);
  fake.FailSetValue(kErrorSuccess);
  EXPECT_EQ(message([&] { closed.WriteString("Text", "y"); }), "Failed to set data for 'Text'");
  EXPECT_EQ(closed.ReadString("Text"), "");
}

TEST(Registry, KeyOpenedReadOnlyRefusesWrites) {
  TFakeRegistry fake;
  fake.AddKey("HKCU\\K");
  TRegistry reg(fake);
  ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
  EXPECT_THROW(reg.WriteString("A", "b"), ERegistryException);
  EXPECT_FALSE(fake.Value("HKCU\\K", "A"));
}

TEST(Registry, DeleteKeyTakesItsContentsAndRefusesAnEmptyName) {
  TFakeRegistry fake;
  fake.PutString("HKCU\\Software\\Quor\\eBrisko\\Sub", "A", "1");
  fake.PutString("HKCU\\Software\\Other", "B", "2");
  TRegistry reg(fake);
  for (const char* empty : {"", "\\"}) EXPECT_FALSE(reg.DeleteKey(empty));
  ASSERT_TRUE(reg.OpenKey("Software", false));
  EXPECT_FALSE(reg.DeleteKey(""));  // would empty the current key
  EXPECT_TRUE(fake.HasKey("HKCU\\Software\\Other"));
  EXPECT_TRUE(reg.DeleteKey("Quor"));
  EXPECT_FALSE(fake.HasKey("HKCU\\Software\\Quor"));
  EXPECT_FALSE(fake.HasKey("HKCU\\Software\\Quor\\eBrisko\\Sub"));
  EXPECT_TRUE(fake.HasKey("HKCU\\Software\\Other"));
  EXPECT_FALSE(reg.DeleteKey("Quor"));
}

TEST(Registry, KeyExistsCountsUnreadableKeysAndClosesWhatItOpens) {
  TFakeRegistry fake;
  fake.AddKey("HKLM\\Software\\Open");
  fake.AddKey("HKLM\\Software\\Locked");
  fake.DenyAccess("HKLM\\Software\\Locked", kMaskQueryEnum);
  TRegistry reg(fake);
  reg.SetRootKey(kHkeyLocalMachine);
  EXPECT_TRUE(reg.KeyExists("Software\\Open"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\Locked"));
  EXPECT_FALSE(reg.KeyExists("Software\\Missing"));
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
}

TEST(Registry, HandlesAreClosedByRootChangeCloseAndDestruction) {
  TFakeRegistry fake;
  fake.AddKey("HKCU\\K");
  fake.AddKey("HKLM\\K");
  {
    auto reg = std::make_unique<TRegistry>(fake);
    ASSERT_TRUE(reg->OpenKey("K", false));
    reg->SetRootKey(kHkeyLocalMachine);
    EXPECT_EQ(fake.OpenHandleCount(), 0u);
    EXPECT_EQ(reg->CurrentPath(), "");
    ASSERT_TRUE(reg->OpenKey("K", false));
    reg->CloseKey();
    EXPECT_EQ(fake.OpenHandleCount(), 0u);
    ASSERT_TRUE(reg->OpenKey("K", false));
  }
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
}
