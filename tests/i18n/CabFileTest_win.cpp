// The cabinet reader on the system's decoder, with cabinets built by gcab.
#include "common/WinApi.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <filesystem>
#include <memory>
#include <fstream>
#include <iterator>
#include <atomic>
#include <set>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "i18n/cabfiles.h"

namespace {

namespace fs = std::filesystem;

const std::string kFixtures = std::string(QB_BINARY_DIR) + "/tests/i18n/fixtures";

// Every file below Dir, as relative paths with "/".
std::set<std::string> FilesBelow(const std::string& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.insert(fs::relative(e.path(), dir).generic_string());
  return out;
}

// A fresh, empty folder for one test; Unix path (the test reads it through the C++ library)
// and the Windows path the reader is given.
struct TSandbox {
  std::string Unix;
  explicit TSandbox(const std::string& name) : Unix(std::string(QB_BINARY_DIR) + "/i18n-cab/" + name) {
    fs::remove_all(Unix);
    fs::create_directories(Unix);
  }
  std::string WinDir() const { return WinPath(Unix); }
};

// One line of "cabextract -l": size | dd.mm.yyyy hh:mm:ss | name.
struct TListed {
  int32_t Size;
  TCABDateTime Date;
  std::string Name;
};

std::vector<TListed> CabextractListing(const std::string& file) {
  std::vector<TListed> out;
  std::istringstream in(ReadBytes(file));
  std::string line;
  while (std::getline(in, line)) {
    TListed l{};
    char name[256] = {};
    if (std::sscanf(line.c_str(), " %d | %d.%d.%d %d:%d:%d | %255[^\n]", &l.Size, &l.Date.Day,
                    &l.Date.Month, &l.Date.Year, &l.Date.Hour, &l.Date.Minute,
                    &l.Date.Second, name) == 8) {
      l.Name = name;
      for (char& c : l.Name)
        if (c == '/') c = '\\';  // cabextract shows the stored "\" as "/"
      out.push_back(l);
    }
  }
  return out;
}

class CabFile : public ::testing::Test {
 protected:
  void SetUp() override {
    FCab.CABFile = WinPath(kFixtures + "/three.cab");
    FCab.OnSystemError = [this](unsigned long code) { FErrors.push_back(code); };
  }
  TCABFile FCab;
  std::vector<unsigned long> FErrors;
};

TEST_F(CabFile, ListAgreesWithCabextractAndWritesNothing) {
  TSandbox box("list");
  FCab.TargetPath = box.WinDir();
  FCab.List();
  const std::vector<TListed> expected = CabextractListing(kFixtures + "/three.lst");
  ASSERT_EQ(expected.size(), 3u);
  ASSERT_EQ(FCab.CABFileContents().size(), 3u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(FCab.CABFileContents()[i].Name, expected[i].Name);
    EXPECT_EQ(FCab.CABFileContents()[i].Size, expected[i].Size);
    EXPECT_EQ(FCab.CABFileContents()[i].Date, expected[i].Date) << expected[i].Name;
  }
  EXPECT_EQ(FCab.CABFileContents()[0].Name, "Alpha.txt");
  EXPECT_EQ(FCab.CABFileContents()[0].Date, (TCABDateTime{2024, 3, 5, 14, 7, 36}));
  EXPECT_TRUE(FilesBelow(box.Unix).empty());
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(CabFile, ExtractFileTakesTheOneNameWhateverItsCase) {
  TSandbox box("one");
  FCab.TargetPath = box.WinDir();
  EXPECT_TRUE(FCab.ExtractFile("gamma.txt"));
  EXPECT_EQ(FilesBelow(box.Unix), (std::set<std::string>{"Gamma.TXT"}));
  EXPECT_TRUE(FCab.ExtractFile("SUB\\beta.txt"));
  EXPECT_EQ(FilesBelow(box.Unix), (std::set<std::string>{"Gamma.TXT", "sub/Beta.txt"}));
}

TEST_F(CabFile, ExtractAllMakesFoldersStampsTimesAndReportsProgress) {
  TSandbox box("all");
  FCab.TargetPath = box.WinDir();  // no trailing separator: the reader adds it
  std::vector<std::pair<std::string, int>> done;
  FCab.OnDecompressProgress = [&](TCABFile&, const std::string& name, int pos, int tot) {
    EXPECT_LE(pos, tot);
    if (pos == tot) done.emplace_back(name, tot);
    ::SetLastError(ERROR_ACCESS_DENIED);  // a stale error that no file call of the run made
  };
  ASSERT_TRUE(FCab.ExtractAll());
  EXPECT_EQ(FilesBelow(box.Unix),
            (std::set<std::string>{"Alpha.txt", "Gamma.TXT", "sub/Beta.txt"}));
  EXPECT_EQ(ReadBytes(box.Unix + "/sub/Beta.txt"), "beta in a folder\n");
  EXPECT_EQ(done, (std::vector<std::pair<std::string, int>>{
                      {"Alpha.txt", 6}, {"sub\\Beta.txt", 17}, {"Gamma.TXT", 28}}));

  // The last-write time is the stored local time.
  TScopedFileHandle h(::CreateFileW(Utf8ToWide(box.WinDir() + "\\Alpha.txt").c_str(),
                                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
  ASSERT_TRUE(h.valid());
  FILETIME written{}, local{};
  SYSTEMTIME st{};
  ASSERT_TRUE(::GetFileTime(h.get(), nullptr, nullptr, &written));
  ASSERT_TRUE(::FileTimeToLocalFileTime(&written, &local));
  ASSERT_TRUE(::FileTimeToSystemTime(&local, &st));
  EXPECT_EQ((TCABDateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}),
            (TCABDateTime{2024, 3, 5, 14, 7, 36}));
  h.reset();

  // A second run over existing files and folders replaces them without a single error report.
  std::ofstream(box.Unix + "/Alpha.txt", std::ios::trunc) << "stale content, longer than alpha";
  ASSERT_TRUE(FCab.ExtractAll());
  EXPECT_EQ(ReadBytes(box.Unix + "/Alpha.txt"), "alpha\n");
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(CabFile, OverwriteCanBeRefused) {
  TSandbox box("refuse");
  FCab.TargetPath = box.WinDir();
  std::ofstream(box.Unix + "/Alpha.txt") << "mine";
  std::vector<std::string> asked;
  FCab.OnOverWriteFile = [&](TCABFile&, const std::string& name, bool& allow) {
    asked.push_back(name);
    allow = false;
  };
  EXPECT_TRUE(FCab.ExtractAll());
  EXPECT_EQ(asked, (std::vector<std::string>{box.WinDir() + "\\Alpha.txt"}));
  EXPECT_EQ(ReadBytes(box.Unix + "/Alpha.txt"), "mine");
  EXPECT_EQ(ReadBytes(box.Unix + "/Gamma.TXT"), "gamma, stored in upper case\n");
}

TEST_F(CabFile, NoArchiveFailsSilently) {
  for (const std::string& path : {WinPath(kFixtures + "/notcab.bin"), WinPath(kFixtures + "/nothing.cab"),
                                  WinPath(kFixtures), std::string()}) {
    SCOPED_TRACE(path);
    TSandbox box("fail");
    FCab.CABFile = path;
    FCab.TargetPath = box.WinDir();
    FCab.List();
    EXPECT_TRUE(FCab.CABFileContents().empty());
    EXPECT_FALSE(FCab.ExtractAll());
    EXPECT_FALSE(FCab.ExtractFile("Alpha.txt"));
    EXPECT_EQ(FCab.Process(), -1);
    EXPECT_TRUE(FilesBelow(box.Unix).empty());
  }
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(CabFile, NamesThatClimbOutAreSkipped) {
  // evil.cab holds "..\evil.txt", "C:\drive.txt", "\x\rooted.txt" and "keep.txt".
  TSandbox box("evil");
  fs::create_directories(box.Unix + "/target");
  FCab.CABFile = WinPath(kFixtures + "/evil.cab");
  FCab.List();
  ASSERT_EQ(FCab.CABFileContents().size(), 4u);

  FCab.TargetPath = box.WinDir() + "\\target";
  EXPECT_TRUE(FCab.ExtractAll());
  EXPECT_EQ(FilesBelow(box.Unix), (std::set<std::string>{"target/keep.txt"}));
  EXPECT_TRUE(FCab.ExtractFile("..\\evil.txt"));  // the run succeeds; the file is skipped
  EXPECT_FALSE(fs::exists(box.Unix + "/evil.txt"));

  // Relative to the current folder, a drive or a root would reach even further.
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(Utf8ToWide(box.WinDir() + "\\target").c_str()));
  FCab.TargetPath.clear();
  const bool extracted = FCab.ExtractAll();
  ::SetCurrentDirectoryW(previous);
  EXPECT_TRUE(extracted);
  EXPECT_EQ(FilesBelow(box.Unix), (std::set<std::string>{"target/keep.txt"}));
  EXPECT_EQ(::GetFileAttributesW(L"C:\\drive.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(::GetFileAttributesW(L"Z:\\x\\rooted.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(CabFile, DeviceNamedEntriesAreSkippedAndTheRestExtracted) {
  TSandbox box("devices");
  FCab.CABFile = WinPath(kFixtures + "/devices.cab");
  FCab.List();
  ASSERT_EQ(FCab.CABFileContents().size(), 10u);  // listed as stored
  std::vector<std::string> written;
  FCab.OnDecompressProgress = [&](TCABFile&, const std::string& name, int, int) {
    if (written.empty() || written.back() != name) written.push_back(name);
  };
  FCab.TargetPath = box.WinDir();
  EXPECT_TRUE(FCab.ExtractAll());
  EXPECT_EQ(written, (std::vector<std::string>{"strtab_eBrisko.ini", "strtabFix.ini", "keep.txt"}))
      << "no byte goes to a device";
  EXPECT_EQ(FilesBelow(box.Unix),
            (std::set<std::string>{"strtab_eBrisko.ini", "strtabFix.ini", "keep.txt"}));
  EXPECT_TRUE(FCab.ExtractFile("nul"));  // the run succeeds; the entry is skipped
  EXPECT_EQ(written.size(), 3u);
  EXPECT_TRUE(FErrors.empty());
}

}  // namespace

namespace {

struct TBoxSeen {
  bool Seen = false;
  std::string Text;
};

// The top-level "Error" box of the given thread, if it shows one.
HWND ErrorBoxOf(DWORD thread) {
  struct TFind {
    HWND Box = nullptr;
  } find;
  ::EnumThreadWindows(
      thread,
      [](HWND w, LPARAM p) -> BOOL {
        wchar_t title[64] = {};
        ::GetWindowTextW(w, title, 64);
        if (std::wstring(title) != L"Error" || !::IsWindowVisible(w)) return TRUE;
        reinterpret_cast<TFind*>(p)->Box = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&find));
  return find.Box;
}

// Runs Call on a thread of its own and closes the "Error" box it shows, recording its text.
// A call that still blocks after thirty seconds is left behind, failing the test.
template <class F>
TBoxSeen WatchErrorBox(F call) {
  TBoxSeen seen;
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto id = std::make_shared<std::atomic<DWORD>>(0);
  std::thread caller([call, done, id] {
    *id = ::GetCurrentThreadId();
    call();
    *done = true;
  });
  while (*id == 0) ::Sleep(1);
  const DWORD thread = *id;
  for (int i = 0; i < 3000 && !*done; ++i) {
    if (HWND box = ErrorBoxOf(thread)) {
      wchar_t text[1100] = {};
      ::GetDlgItemTextW(box, 0xFFFF, text, 1100);  // the box's static text
      seen.Text = WideToUtf8(text);
      seen.Seen = true;
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    ::Sleep(10);
  }
  if (*done) {
    caller.join();
  } else {
    caller.detach();
    ADD_FAILURE() << "the call did not return";
  }
  return seen;
}

TEST(ShowSystemError, ShowsTheSystemTextOnlyForAnError) {
  const TBoxSeen shown = WatchErrorBox([] { ShowSystemError(ERROR_FILE_NOT_FOUND); });
  EXPECT_TRUE(shown.Seen);
  EXPECT_EQ(shown.Text, SystemErrorText(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(WatchErrorBox([] { ShowSystemError(0); }).Seen);
}

}  // namespace
