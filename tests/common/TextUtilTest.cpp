#include "common/TextUtil.h"

#include <gtest/gtest.h>

TEST(TextUtil, SameTextFoldsOnlyAsciiLetters) {
  EXPECT_TRUE(SameText("Optimization", "oPTIMIZATION"));
  EXPECT_FALSE(SameText("Free", "Free "));
  EXPECT_FALSE(SameText("[", "{"));  // '[' and '{' differ by 0x20 but are no letters
  EXPECT_FALSE(SameText("\xC3\x84", "\xC3\xA4"));  // non-ASCII letters are compared as they are
}

TEST(TextUtil, TrimBlanksRemovesSpacesAndTabsOnly) {
  EXPECT_EQ(TrimBlanks(" \t a b \t"), "a b");
  EXPECT_EQ(TrimBlanks("\r\nx"), "\r\nx");
  EXPECT_EQ(TrimBlanks("   "), "");
}
