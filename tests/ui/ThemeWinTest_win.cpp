#include "ui/Theme.h"

#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed afterwards.
class ThemeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("qb_theme_" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(FDir);
    fs::create_directories(FDir / "a");
    fs::create_directories(FDir / "b");
  }
  void TearDown() override { fs::remove_all(FDir); }

  void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::vector<std::string> Folders() {
    return {WideToUtf8((FDir / "a").wstring()), WideToUtf8((FDir / "b").wstring())};
  }
  TTheme Load() {
    return LoadThemeFile(kThemeFileName, Folders(), [this](std::string_view l) { FLog.emplace_back(l); });
  }

  fs::path FDir;
  std::vector<std::string> FLog;
};

TEST_F(ThemeFiles, MissingFileGivesTheBuiltInLookSilently) {
  EXPECT_EQ(Load(), TTheme());
  EXPECT_TRUE(FLog.empty());
}

TEST_F(ThemeFiles, FirstFolderWinsAndAFolderInTheWayIsSkipped) {
  fs::create_directories(FDir / "a" / "msgbox.skn");  // a folder of that name is no theme file
  Write(FDir / "b" / "msgbox.skn", "title.strip = 1, 2, 3\r\n");
  EXPECT_EQ(Load().Color(TThemeColor::TitleStrip), (TRgb{1, 2, 3}));
  fs::remove(FDir / "a" / "msgbox.skn");
  Write(FDir / "a" / "msgbox.skn", "title.strip = 4, 5, 6\r\n");
  EXPECT_EQ(Load().Color(TThemeColor::TitleStrip), (TRgb{4, 5, 6}));
  EXPECT_TRUE(FLog.empty());
}

TEST_F(ThemeFiles, MalformedFileGivesTheBuiltInLookAndOneLogLine) {
  Write(FDir / "a" / "msgbox.skn", "title.strip = 1, 2, 3\r\nframe.radius = 99\r\n");
  EXPECT_EQ(Load(), TTheme());
  ASSERT_EQ(FLog.size(), 1u);
  EXPECT_NE(FLog[0].find("msgbox.skn"), std::string::npos) << FLog[0];
  EXPECT_NE(FLog[0].find("line 2"), std::string::npos) << FLog[0];
}

TEST(ThemeFolders, CurrentProgramWindowsAndSystemFolderInOrder) {
  const std::vector<std::string> f = ThemeFolders();
  ASSERT_EQ(f.size(), 4u);
  wchar_t buf[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, buf);
  EXPECT_EQ(f[0], WideToUtf8(buf));
  ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
  EXPECT_EQ(f[1], WideToUtf8(fs::path(buf).parent_path().wstring()) + "\\");
  ::GetWindowsDirectoryW(buf, MAX_PATH);
  EXPECT_EQ(f[2], WideToUtf8(buf));
  ::GetSystemDirectoryW(buf, MAX_PATH);
  EXPECT_EQ(f[3], WideToUtf8(buf));
}

TEST(ThemeFolders, ShippedFileBesideTheProgramIsTheProductsLook) {
  // The build copies msgbox.skn into the program folder, where the tests run too.
  const std::vector<std::string> f = ThemeFolders();
  std::vector<std::string> logged;
  EXPECT_EQ(LoadThemeFile(kThemeFileName, {f[1]}, [&](std::string_view l) { logged.emplace_back(l); }),
            TTheme());
  EXPECT_TRUE(logged.empty());
  EXPECT_TRUE(fs::exists(fs::path(Utf8ToWide(f[1])) / "msgbox.skn"));
}

}  // namespace
