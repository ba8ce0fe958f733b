#include "common/GenericAPI.h"
#include "common/GenericNetAPI.h"
#include "common/GenericShellAPI.h"
#include "common/Settings.h"
#include "common/TextUtil.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <fstream>
#include <sstream>
#include <thread>

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

namespace {

// A path of the build tree as Wine shows it to the program.
std::string BinDir() { return WinPath(QB_BINARY_DIR "/bin/"); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(Utf8ToWide(path).c_str(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(Utf8ToWide(path).c_str(), std::ios::binary | std::ios::trunc);
  out << text;
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ShortDateNow() {
  wchar_t date[128] = {};
  ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
  return WideToUtf8(date);
}

// A log file of its own in the build tree, removed afterwards.
class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = BinDir() + "common_tests_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    ::DeleteFileW(Utf8ToWide(FPath).c_str());
  }
  void TearDown() override { ::DeleteFileW(Utf8ToWide(FPath).c_str()); }
  std::string FPath;
};

}  // namespace

TEST_F(LogFile, NothingIsWrittenOrCreatedWithoutTheFile) {
  WriteLogTo(FPath, "lost");
  EXPECT_FALSE(FileExists(FPath));
}

TEST_F(LogFile, AppendsOneDatedLineAndKeepsWhatWasThere) {
  WriteAll(FPath, "earlier line\r\n");
  WriteLogTo(FPath, "Gr\xC3\xBC\xC3\x9F" "e 100%s");
  const std::string text = ReadAll(FPath);
  ASSERT_THAT(text, StartsWith("earlier line\r\n"));
  const std::string line = text.substr(14);
  EXPECT_THAT(line, StartsWith(ShortDateNow() + " "));
  EXPECT_THAT(line, EndsWith(": Gr\xC3\xBC\xC3\x9F" "e 100%s\r\n"));
  EXPECT_EQ(line.find("\r\n"), line.size() - 2);  // exactly one line
}

TEST_F(LogFile, WritesBesideOtherOpenersAndGivesUpQuietlyWhenLockedOut) {
  WriteAll(FPath, "");
  {
    HANDLE shared = ::CreateFileW(Utf8ToWide(FPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    WriteLogTo(FPath, "beside");
    ::CloseHandle(shared);
  }
  {
    HANDLE exclusive = ::CreateFileW(Utf8ToWide(FPath).c_str(), GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    WriteLogTo(FPath, "locked out");
    ::CloseHandle(exclusive);
  }
  const std::string text = ReadAll(FPath);
  EXPECT_NE(text.find(": beside\r\n"), std::string::npos);
  EXPECT_EQ(text.find("locked out"), std::string::npos);
}

TEST_F(LogFile, LinesFromSeveralThreadsAllArrive) {
  WriteAll(FPath, "");
  constexpr int kThreads = 4;
  constexpr int kLines = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i)
        WriteLogTo(FPath, "t" + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& th : threads) th.join();
  std::istringstream in(ReadAll(FPath));
  int lines = 0;
  for (std::string line; std::getline(in, line);) {
    EXPECT_THAT(line, EndsWith("\r"));
    EXPECT_NE(line.find(": t"), std::string::npos) << line;
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

TEST(ShellFolders, SpecialFoldersAndTheModuleValues) {
  wchar_t user[257] = {};
  DWORD size = 257;
  ASSERT_TRUE(::GetUserNameW(user, &size));
  EXPECT_TRUE(SameText(GPGetSpecialFolder(26),
                       "C:\\users\\" + WideToUtf8(user) + "\\AppData\\Roaming"));
  EXPECT_TRUE(SameText(GPGetSpecialFolder(35), "C:\\ProgramData"));

  InitializeShellModule();
  EXPECT_EQ(GetUserAppDataDir(), GPGetSpecialFolder(26) + "\\");
  EXPECT_EQ(GetCommonAppDataDir(), GPGetSpecialFolder(35) + "\\");
  FinalizeShellModule();
  EXPECT_EQ(GetCommonAppDataDir(), "");
  EXPECT_EQ(GetUserAppDataDir(), "");
}

TEST(ShellFolders, AnUnknownFolderIsEmptyAndLoggedOnlyWhileTheLogExists) {
  InitializeShellModule();
  const std::string log = GetCommonAppDataDir() + "tqrlog.txt";
  ::DeleteFileW(Utf8ToWide(log).c_str());
  EXPECT_EQ(GPGetSpecialFolder(0x7FFF), "");
  EXPECT_FALSE(FileExists(log));

  WriteAll(log, "");
  EXPECT_EQ(GPGetSpecialFolder(0x7FFF), "");
  WriteLog("direct");
  const std::string text = ReadAll(log);
  ::DeleteFileW(Utf8ToWide(log).c_str());
  std::istringstream in(text);
  std::string first, second, rest;
  std::getline(in, first);
  std::getline(in, second);
  std::getline(in, rest);
  EXPECT_NE(first.find(": [GPGetSpecialFolder]SHGetSpecialFolderLocation(32767) failed"),
            std::string::npos)
      << first;
  EXPECT_THAT(second, EndsWith(": direct\r"));
  EXPECT_EQ(rest, "");
  FinalizeShellModule();
}

TEST(AppDir, IsTheFolderOfTheRunningProgram) {
  EXPECT_TRUE(SameText(GetAppDir(), BinDir())) << GetAppDir();
  EXPECT_TRUE(SameText(GetAppFileName(), BinDir() + "common_tests.exe"));
  InitializeSettingsModule();
  EXPECT_EQ(gAppDir(), GetAppDir());
  EXPECT_TRUE(gVersionInfo().empty());  // the test program has no version resource
  FinalizeSettingsModule();
  EXPECT_EQ(gAppDir(), "");
}

TEST(VersionInfo, FilesWithoutAVersionResourceLeaveTheListAlone) {
  std::vector<std::string> list = {"kept"};
  ReadVersionInfo(list);
  ReadVersionInfoOf(GetAppFileName(), list);
  ReadVersionInfoOf(BinDir() + "no_such_file.dll", list);
  EXPECT_THAT(list, ElementsAre("kept"));
}

TEST(VersionInfo, PresentKeysOfTheUsEnglishBlockInTheFixedOrder) {
  std::vector<std::string> list = {"kept"};
  ReadVersionInfoOf(BinDir() + "common_version_fixture.dll", list);
  EXPECT_THAT(list, ElementsAre("kept", "CompanyName=Fixture Company", "FileVersion=1.2.3.4",
                                "LegalCopyright=Copyright nobody", "ProductName=Fixture Product",
                                "Comments=Used by the version tests"));
}

TEST(VersionInfo, TheApplicationCarriesAllTenLines) {
  const std::string exe = BinDir() + "eBrisko.exe";
  if (!FileExists(exe)) GTEST_SKIP() << "eBrisko.exe is not built in " << BinDir();
  std::vector<std::string> list;
  ReadVersionInfoOf(exe, list);
  ASSERT_EQ(list.size(), 10u);
  for (size_t i = 0; i < list.size(); ++i)
    EXPECT_THAT(list[i], StartsWith(std::string(kVersionInfoKeys[i]) + "=")) << list[i];
}

TEST(Privilege, TheCurrentUserHasALevelAndAdminFollowsIt) {
  int level = -1;
  ASSERT_TRUE(GPGetUserPrivilege(level));
  EXPECT_GE(level, 0);
  EXPECT_LE(level, 2);
  InitializeNetModule();
  EXPECT_EQ(gIsAdmin(), level == 2);
  FinalizeNetModule();
}
