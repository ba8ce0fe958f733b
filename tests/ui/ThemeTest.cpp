#include "ui/Theme.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace {

TEST(Theme, BuiltInLookIsTheProductsLook) {
  const TTheme t;
  EXPECT_EQ(t.Color(TThemeColor::FrameBorder), (TRgb{0, 44, 200}));
  EXPECT_EQ(t.ColorRef(TThemeColor::FrameBorder), 13118464u);
  EXPECT_EQ(t.ColorRef(TThemeColor::FrameFace), 14609391u);
  EXPECT_EQ(t.ColorRef(TThemeColor::TitleStrip), 4608000u);
  EXPECT_EQ(t.ColorRef(TThemeColor::ButtonText), 3947545u);
  EXPECT_EQ(t.ColorRef(TThemeColor::ButtonDisabledText), 6579300u);
  EXPECT_EQ(t.ColorRef(TThemeColor::GroupBorder), 11315327u);
  EXPECT_EQ(t.Metric(TThemeMetric::FrameRadius), 13);
  EXPECT_EQ(t.Metric(TThemeMetric::FrameBorderWidth), 3);
  EXPECT_EQ(t.Metric(TThemeMetric::FrameMenubarHeight), 22);
}

TEST(Theme, KeysAreDistinctAndDefaultsInRange) {
  std::set<std::string_view> keys;
  for (size_t i = 0; i < kThemeColorCount; ++i)
    EXPECT_TRUE(keys.insert(ThemeColorKey(static_cast<TThemeColor>(i))).second);
  const TTheme t;
  for (size_t i = 0; i < kThemeMetricCount; ++i) {
    const auto m = static_cast<TThemeMetric>(i);
    EXPECT_TRUE(keys.insert(ThemeMetricKey(m)).second);
    EXPECT_GE(t.Metric(m), ThemeMetricMin(m));
    EXPECT_LE(t.Metric(m), ThemeMetricMax(m));
  }
}

TEST(Theme, EmptyAndCommentOnlyTextsGiveTheBuiltInLook) {
  for (const char* text : {"", "\xEF\xBB\xBF", "\n\r\n  \t\n", "# a comment\r\n; another\n   # indented\n"})
    EXPECT_EQ(ParseTheme(text), TTheme()) << text;
}

TEST(Theme, EntriesReplaceTheDefaultsAndKeepTheRest) {
  const TTheme t = ParseTheme(
      "\xEF\xBB\xBF# sample\r\n"
      "frame.border = 1, 2, 3\r\n"
      "  Button.Text=10,20,30   # case of keys does not matter\r\n"
      "\tframe.radius\t=\t0\r\n"
      "frame.menubar.height = 064\n"
      "group.face = 255 , 0 , 7");
  EXPECT_EQ(t.Color(TThemeColor::FrameBorder), (TRgb{1, 2, 3}));
  EXPECT_EQ(t.ColorRef(TThemeColor::FrameBorder), 0x030201u);
  EXPECT_EQ(t.Color(TThemeColor::ButtonText), (TRgb{10, 20, 30}));
  EXPECT_EQ(t.Color(TThemeColor::GroupFace), (TRgb{255, 0, 7}));
  EXPECT_EQ(t.Metric(TThemeMetric::FrameRadius), 0);
  EXPECT_EQ(t.Metric(TThemeMetric::FrameMenubarHeight), 64);
  const TTheme d;
  EXPECT_EQ(t.Color(TThemeColor::FrameFace), d.Color(TThemeColor::FrameFace));
  EXPECT_EQ(t.Metric(TThemeMetric::FrameBorderWidth), d.Metric(TThemeMetric::FrameBorderWidth));
}

struct TBadCase {
  const char* Text;
  int Line;
  const char* Says;
};

TEST(Theme, MalformedLinesAreRejectedWithTheirLineNumber) {
  const TBadCase cases[] = {
      {"frame.border 0,44,200", 1, "key = value"},
      {"# ok\r\n\r\nframe.border = 0,44", 3, "three numbers"},
      {"frame.border = 0,44,200,1", 1, "three numbers"},
      {"frame.border = 0,,200", 1, "three numbers"},
      {"frame.border = 0,44,256", 1, "out of range 0 to 255"},
      {"frame.border = 0,-1,2", 1, "three numbers"},
      {"frame.border = red", 1, "three numbers"},
      {"frame.border = 0 44 200", 1, "three numbers"},
      {"frame.border = 0,44,99999999999999999999", 1, "out of range"},
      {"frame.border =", 1, "missing value"},
      {"= 1,2,3", 1, "missing key"},
      {"frame.bordr = 1,2,3", 1, "unknown key \"frame.bordr\""},
      {"[frame]\nframe.border = 1,2,3", 1, "key = value"},
      {"frame.border = 1,2,3\nFRAME.BORDER = 1,2,3", 2, "given twice"},
      {"frame.radius = 13\nframe.radius = 13", 2, "given twice"},
      {"frame.radius = 41", 1, "out of range 0 to 40"},
      {"frame.titlebar.height = 8", 1, "out of range 16 to 64"},
      {"frame.radius = -1", 1, "whole number"},
      {"frame.radius = 1.5", 1, "whole number"},
      {"frame.radius = 1,2,3", 1, "whole number"},
  };
  for (const TBadCase& c : cases) {
    try {
      ParseTheme(c.Text);
      ADD_FAILURE() << "accepted: " << c.Text;
    } catch (const EThemeError& e) {
      EXPECT_EQ(e.Line(), c.Line) << c.Text;
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("line " + std::to_string(c.Line) + ": ", 0), 0u) << what;
      EXPECT_NE(what.find(c.Says), std::string::npos) << what;
    }
  }
}

TEST(Theme, ShippedFileNamesEveryEntryWithTheBuiltInValues) {
  std::ifstream in(QB_SOURCE_DIR "/assets/msgbox.skn", std::ios::binary);
  ASSERT_TRUE(in);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(ParseTheme(text.str()), TTheme());
  // Every key is written out, so the file documents the whole look.
  for (size_t i = 0; i < kThemeColorCount; ++i) {
    const std::string key(ThemeColorKey(static_cast<TThemeColor>(i)));
    EXPECT_NE(text.str().find("\n" + key + " "), std::string::npos) << key;
  }
  for (size_t i = 0; i < kThemeMetricCount; ++i) {
    const std::string key(ThemeMetricKey(static_cast<TThemeMetric>(i)));
    EXPECT_NE(text.str().find("\n" + key + " "), std::string::npos) << key;
  }
}

TEST(Theme, FindThemeFileTakesTheFirstFolderInOrder) {
  std::vector<std::string> asked;
  const std::set<std::string> present = {"C:\\Windows\\msgbox.skn", "C:\\app\\msgbox.skn"};
  const auto exists = [&](const std::string& p) {
    asked.push_back(p);
    return present.count(p) > 0;
  };
  EXPECT_EQ(FindThemeFile("msgbox.skn", {"C:\\work", "", "C:\\app\\", "C:\\Windows"}, exists),
            "C:\\app\\msgbox.skn");
  EXPECT_EQ(asked, (std::vector<std::string>{"C:\\work\\msgbox.skn", "C:\\app\\msgbox.skn"}));
  EXPECT_EQ(FindThemeFile("msgbox.skn", {"C:\\work", "D:\\x"}, exists), std::nullopt);
  EXPECT_EQ(FindThemeFile("msgbox.skn", {}, exists), std::nullopt);
}

}  // namespace
