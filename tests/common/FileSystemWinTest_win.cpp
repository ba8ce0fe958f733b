// The file-system steps of the portable modules on the real file system of the prefix.
#include "common/FileSystem.h"

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class FileSystemWin : public ::testing::Test {
 protected:
  void SetUp() override {
    FUnix = std::string(QB_BINARY_DIR) + "/common-filesystem";
    fs::remove_all(FUnix);
    fs::create_directories(FUnix);
    FDir = WinPath(FUnix) + "\\";
  }
  // Through the wide name: the test's own narrow paths would go through the ANSI code page.
  fs::path Path(const std::string& unixName) const { return Utf8ToWide(FUnix + "/" + unixName); }
  void Write(const std::string& unixName, const std::string& bytes) {
    std::ofstream(Path(unixName), std::ios::binary) << bytes;
  }
  std::string FUnix, FDir;
};

// "Übersicht" and "Größe": names outside ASCII must pass through UTF-8 unchanged.
const std::string kUmlautFolder = "\xC3\x9C" "bersicht";
const std::string kUmlautFile = "Gr\xC3\xB6\xC3\x9F" "e.ini";

TEST_F(FileSystemWin, ForceFoldersMakesEveryMissingLevelAndRefusesAFileInTheWay) {
  const std::string deep = FDir + kUmlautFolder + "\\b\\c\\";
  EXPECT_TRUE(ForceFolders(deep));
  EXPECT_TRUE(IsFolder(deep));
  EXPECT_TRUE(ForceFolders(FDir + kUmlautFolder + "/b"));  // there already, either separator
  Write("plain.txt", "x");
  EXPECT_FALSE(ForceFolders(FDir + "plain.txt"));
  EXPECT_FALSE(ForceFolders(FDir + "plain.txt\\below"));
  EXPECT_FALSE(ForceFolders(""));
}

TEST_F(FileSystemWin, FilesAndFoldersAreToldApart) {
  Write("plain.txt", "x");
  fs::create_directories(FUnix + "/sub");
  const struct {
    std::string Path;
    bool File, Folder;
  } cases[] = {
      {FDir + "plain.txt", true, false}, {FDir + "PLAIN.TXT", true, false},
      {FDir + "sub", false, true},       {FDir + "sub\\", false, true},
      {FDir + "missing", false, false},  {"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsFile(c.Path), c.File) << c.Path;
    EXPECT_EQ(IsFolder(c.Path), c.Folder) << c.Path;
  }
}

TEST_F(FileSystemWin, FolderEntryNamesListsFilesAndFoldersButNotTheDots) {
  Write(kUmlautFile, "");
  Write("b.txt", "");
  fs::create_directories(Path(kUmlautFolder));
  std::vector<std::string> names = FolderEntryNames(FDir);
  std::sort(names.begin(), names.end());
  EXPECT_THAT(names, ::testing::ElementsAre(kUmlautFile, "b.txt", kUmlautFolder));
  EXPECT_EQ(FolderEntryNames(FDir.substr(0, FDir.size() - 1)).size(), 3u);  // without the separator
  EXPECT_TRUE(FolderEntryNames(FDir + "missing").empty());
  EXPECT_TRUE(FolderEntryNames("").empty());
}

TEST_F(FileSystemWin, ReadFileBytesGivesEveryByteOrNothing) {
  const std::string bytes("a\0b\r\n\xC3\x9C\x1a" "end", 11);
  Write(kUmlautFile, bytes);
  Write("empty.ini", "");
  EXPECT_EQ(ReadFileBytes(FDir + kUmlautFile), bytes);
  EXPECT_EQ(ReadFileBytes(FDir + "empty.ini"), std::string());
  EXPECT_EQ(ReadFileBytes(FDir + "missing.ini"), std::nullopt);
  EXPECT_EQ(ReadFileBytes(FDir), std::nullopt);
  EXPECT_EQ(ReadFileBytes(""), std::nullopt);
  // Held open by a writer that shares nothing: unreadable, not empty.
  TScopedFileHandle held(::CreateFileW(Utf8ToWide(FDir + "empty.ini").c_str(), GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  EXPECT_EQ(ReadFileBytes(FDir + "empty.ini"), std::nullopt);
}

TEST_F(FileSystemWin, TempFolderIsAFolderWithItsSeparator) {
  const std::string temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(IsFolder(temp));
}

}  // namespace
