#include "common/ResStrings.h"

#include <gtest/gtest.h>

namespace {

// Restores the program's own translation hook after each test.
class ResStrings : public ::testing::Test {
 protected:
  void TearDown() override { SetResStringTranslator({}); }
};

TEST_F(ResStrings, ReadTheProgramsOwnScript) {
  // Every test program reads the product's script, quotes doubled in it or not.
  EXPECT_EQ(LoadResString(rsMsgDlgYes), "&Yes");
  EXPECT_EQ(LoadResStringFmt(rsCannotOpenFile, {"C:\\x.rgd", "Access is denied."}),
            "Cannot open file \"C:\\x.rgd\". Access is denied.");
  EXPECT_EQ(LoadResStringFmt(rsSetDataFailed, {"MenuShowDelay"}),
            "Failed to set data for 'MenuShowDelay'");
  EXPECT_EQ(LoadResString(65536), "ERROR");
  EXPECT_EQ(LoadResString(12345), "");
}

TEST_F(ResStrings, TranslateAfterFormattingAtEveryLoad) {
  std::vector<std::string> keys;
  SetResStringTranslator([&](const std::string& text) {
    keys.push_back(text);
    return text == "Failed to set data for 'RegDone'" ? std::string("Fehler bei 'RegDone'") : text;
  });
  EXPECT_EQ(LoadResStringFmt(rsSetDataFailed, {"RegDone"}), "Fehler bei 'RegDone'");
  EXPECT_EQ(LoadResStringFmt(rsSetDataFailed, {"Other"}), "Failed to set data for 'Other'");
  EXPECT_EQ(keys, (std::vector<std::string>{"Failed to set data for 'RegDone'",
                                            "Failed to set data for 'Other'"}));
  // An empty text is not looked up; an identifier beyond 16 bits never is.
  keys.clear();
  LoadResString(12345);
  LoadResString(70000);
  EXPECT_TRUE(keys.empty());
}

TEST(FormatResText, FillsInOrder) {
  EXPECT_EQ(FormatResText("a %s b %s", {"1", "2"}), "a 1 b 2");
  EXPECT_EQ(FormatResText("100%% %s", {"x"}), "100% x");
  EXPECT_EQ(FormatResText("%s and %s", {"only"}), "only and ");
  EXPECT_EQ(FormatResText("tail %", {}), "tail %");
}

}  // namespace
