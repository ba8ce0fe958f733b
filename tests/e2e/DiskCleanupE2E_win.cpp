// The "Disk Optimization" group as its user meets it: the figures of the count pass, the
// question, the clearing of typed URLs and saved passwords, a count pass that touches nothing,
// and a window closed while a pass still runs.
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "e2e/ServiceEnvironment_win.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <vector>

namespace {

const std::string kTitle = "Quor eBrisko Management";
const wchar_t kPasswordsKey[] = L"Software\\Microsoft\\Internet Explorer\\IntelliForms\\SPW";
const wchar_t kTypedUrlsKey[] = L"Software\\Microsoft\\Internet Explorer\\TypedURLs";

std::wstring InternetCacheDir() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE | CSIDL_FLAG_CREATE, nullptr, 0, path);
  return path;
}

// Deletes what a folder holds (the test's own fixture clean-up, not the program's).
void EmptyFolder(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  TScopedFindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &fd));
  if (!find) return;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = dir + L"\\" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) EmptyFolder(path);
      ::RemoveDirectoryW(path.c_str());
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  } while (::FindNextFileW(find.get(), &fd));
}

void WriteFileOfSize(const std::wstring& path, int64_t bytes) {
  TScopedFileHandle f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(f.valid());
  std::string chunk(65536, 'x');
  for (int64_t left = bytes; left > 0; left -= static_cast<int64_t>(chunk.size())) {
    DWORD written = 0;
    ::WriteFile(f.get(), chunk.data(), static_cast<DWORD>(std::min<int64_t>(left, chunk.size())), &written, nullptr);
  }
}

// Puts count saved passwords (count 0: no key at all).
void SetSavedPasswords(int count) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kPasswordsKey);
  if (count == 0) return;
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kPasswordsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
  TScopedRegKey owned(key);
  for (int i = 0; i < count; ++i) {
    const std::wstring name = L"site" + std::to_wstring(i);
    const BYTE data[4] = {1, 2, 3, static_cast<BYTE>(i)};
    ::RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data, sizeof data);
  }
}

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

// The program with the disk cleanup's figures to read.
struct TApp : TMainWindowRun {
  using TMainWindowRun::TMainWindowRun;
  static TApp Start() { return TApp(TDriverProcess::Start(TestBinDir() + "eBrisko.exe")); }
  // The visible figure label on the row of the check box with text.
  std::string FigureOf(const std::string& row) const {
    HWND box = Button(row);
    RECT br;
    ::GetWindowRect(box, &br);
    struct TSearch {
      RECT Row;
      HWND Box;
      std::string Text;
    } s{br, box, {}};
    ::EnumChildWindows(::GetParent(box), [](HWND c, LPARAM p) -> BOOL {
      auto* s = reinterpret_cast<TSearch*>(p);
      wchar_t cls[16] = {};
      ::GetClassNameW(c, cls, 16);
      RECT r;
      ::GetWindowRect(c, &r);
      const int mid = (r.top + r.bottom) / 2;
      if (_wcsicmp(cls, L"Static") == 0 && ::IsWindowVisible(c) && mid > s->Row.top && mid < s->Row.bottom)
        s->Text = WindowText(c);
      return TRUE;
    }, reinterpret_cast<LPARAM>(&s));
    return s.Text;
  }
  bool WaitFigure(const std::string& row, const std::string& text, int ms = 15000) const {
    return WaitUntil([&] { return FigureOf(row) == text; }, ms);
  }
  HWND Box() const { return FindTopWindow("TfmQuorMessageBox", &kTitle, Process.Pid()); }
  // Ticks the item, presses Clear and, once the question is up, answers it (a screenshot of
  // it kept when shot is given); false when no question came.
  bool ClearAnswering(const std::string& item, const std::string& answer, const std::string& shot = {}) {
    ClickButton(Button(item));
    ClickButton(Button("Clear"));
    HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, Process.Pid(), 10000);
    if (!box) return false;
    if (!shot.empty()) SaveScreenshot(box, ArtifactDir() + shot);
    ClickButton(FindChildWindow(box, "Button", &answer));
    return true;
  }
};

class DiskCleanupE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartTestService());
    EmptyFolder(InternetCacheDir());
  }
  void TearDown() override {
    SetSavedPasswords(0);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTypedUrlsKey);
    EmptyFolder(InternetCacheDir());
  }
};

// The user's decimal separator, set while this lives (as the Region settings do).
class TDecimalSeparator {
 public:
  explicit TDecimalSeparator(const wchar_t* separator) {
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, FSaved, 16);
    ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator);
  }
  ~TDecimalSeparator() { ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, FSaved); }

 private:
  wchar_t FSaved[16] = {};
};

TEST_F(DiskCleanupE2E, FiguresReadZeroAndThreeAndAHalfMegabytesAndTheRecycleBinHasNone) {
  {
    TApp app = TApp::Start();
    ASSERT_NE(app.Main, nullptr);
    EXPECT_TRUE(app.WaitFigure("Temporary Internet Files", "0 MB")) << app.FigureOf("Temporary Internet Files");
    EXPECT_EQ(app.FigureOf("Recycle Bin Files"), "");
    app.Exit();
  }
  WriteFileOfSize(InternetCacheDir() + L"\\page.bin", 3 * 1048576 + 524288);
  {
    TApp app = TApp::Start();
    EXPECT_TRUE(app.WaitFigure("Temporary Internet Files", "3.5 MB")) << app.FigureOf("Temporary Internet Files");
    app.Exit();
  }
  // A separator outside ASCII (the Arabic decimal separator) shows as the locale writes it.
  const TDecimalSeparator arabic(L"\u066B");
  TApp app = TApp::Start();
  EXPECT_TRUE(app.WaitFigure("Temporary Internet Files", "3\xD9\xAB" "5 MB")) << app.FigureOf("Temporary Internet Files");
  app.Exit();
}

TEST_F(DiskCleanupE2E, NothingTickedAsksNothingAndNoClearsNothing) {
  WriteFileOfSize(InternetCacheDir() + L"\\keep.bin", 1000);
  TApp app = TApp::Start();
  ASSERT_NE(app.Main, nullptr);
  ClickButton(app.Button("Clear"));
  EXPECT_FALSE(WaitUntil([&] { return app.Box() != nullptr; }, 1000));
  ASSERT_TRUE(app.ClearAnswering("Temporary Internet Files", "No"));
  EXPECT_TRUE(WaitUntil([&] { return app.Box() == nullptr; }, 5000));
  ::Sleep(1500);
  EXPECT_NE(::GetFileAttributesW((InternetCacheDir() + L"\\keep.bin").c_str()), INVALID_FILE_ATTRIBUTES);
  app.Exit();
}

TEST_F(DiskCleanupE2E, TypedUrlsAloneAreClearedAfterThePauseAndPasswordsCountAfterwards) {
  SetSavedPasswords(2);
  {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kTypedUrlsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
    const wchar_t url[] = L"http://example.invalid/";
    ::RegSetValueExW(key, L"url1", 0, REG_SZ, reinterpret_cast<const BYTE*>(url), sizeof url);
    ::RegCloseKey(key);
  }
  TApp app = TApp::Start();
  ASSERT_NE(app.Main, nullptr);
  ASSERT_TRUE(app.WaitFigure("Saved Internet Passwords", "2 Records"));
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(app.ClearAnswering("Recently Accessed URLs", "Yes"));
  ASSERT_TRUE(WaitUntil([] { return !KeyExists(kTypedUrlsKey); }, 15000));
  EXPECT_GE(std::chrono::steady_clock::now() - pressed, std::chrono::milliseconds(1000));
  // No password was removed; the new count pass shows the two that are there.
  EXPECT_TRUE(app.WaitFigure("Saved Internet Passwords", "2 Records"));
  EXPECT_TRUE(KeyExists(kPasswordsKey));
  app.Exit();
}

TEST_F(DiskCleanupE2E, TwelveSavedPasswordsShowTwelveThenNone) {
  SetSavedPasswords(12);
  TApp app = TApp::Start();
  ASSERT_NE(app.Main, nullptr);
  ASSERT_TRUE(app.WaitFigure("Saved Internet Passwords", "12 Records"));
  ASSERT_TRUE(app.ClearAnswering("Saved Internet Passwords", "Yes", "disk-cleanup-question.bmp"));
  EXPECT_TRUE(app.WaitFigure("Saved Internet Passwords", "0 Records"));
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPasswordsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD values = 99;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr);
    EXPECT_EQ(values, 0u);
    ::RegCloseKey(key);
  }
  app.Exit();
}

// Names, attributes, sizes and time stamps of every file and folder below dir. A folder's
// last-access time is left out: listing a folder is reading it, and the system may note that.
std::map<std::wstring, std::wstring> Snapshot(const std::wstring& dir) {
  std::map<std::wstring, std::wstring> out;
  WIN32_FIND_DATAW fd;
  TScopedFindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &fd));
  if (!find) return out;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = dir + L"\\" + name;
    out[path] = std::to_wstring(fd.dwFileAttributes) + L"|" + std::to_wstring(fd.nFileSizeLow) + L"|" +
                std::to_wstring(fd.ftCreationTime.dwLowDateTime) + L"|" +
                std::to_wstring(fd.ftLastWriteTime.dwLowDateTime) + L"|" +
                ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                     ? std::wstring()
                     : std::to_wstring(fd.ftLastAccessTime.dwLowDateTime));
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      for (auto& [k, v] : Snapshot(path)) out[k] = v;
  } while (::FindNextFileW(find.get(), &fd));
  return out;
}

TEST_F(DiskCleanupE2E, ACountPassChangesNothingOnDisk) {
  const std::wstring tree = InternetCacheDir() + L"\\tree";
  ::CreateDirectoryW(tree.c_str(), nullptr);
  ::CreateDirectoryW((tree + L"\\sub").c_str(), nullptr);
  WriteFileOfSize(tree + L"\\a.bin", 5000);
  WriteFileOfSize(tree + L"\\sub\\b.bin", 7000);
  ::SetFileAttributesW((tree + L"\\sub\\b.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  ::Sleep(1100);  // a touched time stamp would differ from the fixture's
  const auto before = Snapshot(InternetCacheDir());
  TApp app = TApp::Start();
  ASSERT_NE(app.Main, nullptr);
  EXPECT_TRUE(app.WaitFigure("Temporary Internet Files", "0.01 MB"));
  app.Exit();
  EXPECT_EQ(Snapshot(InternetCacheDir()), before);
  ::SetFileAttributesW((tree + L"\\sub\\b.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DiskCleanupE2E, ClosingWhileACountPassRunsEndsTheProgramCleanly) {
  // A cache large enough in files that the pass is still measuring when the window closes.
  const std::wstring tree = InternetCacheDir() + L"\\many";
  ::CreateDirectoryW(tree.c_str(), nullptr);
  for (int d = 0; d < 20; ++d) {
    const std::wstring sub = tree + L"\\d" + std::to_wstring(d);
    ::CreateDirectoryW(sub.c_str(), nullptr);
    for (int i = 0; i < 150; ++i) WriteFileOfSize(sub + L"\\f" + std::to_wstring(i), 10);
  }
  TApp app = TApp::Start();
  ASSERT_NE(app.Main, nullptr);
  ::PostMessageW(app.Main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(app.Process.WaitExit(20000));
  EXPECT_EQ(app.Process.ExitCode(), 0u);
}

}  // namespace

namespace {

std::string ReadText(const std::wstring& path) {
  TScopedFileHandle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  std::string text;
  char buf[4096];
  DWORD n = 0;
  while (f && ::ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
  return text;
}

// TMP and TEMP of the programs this test starts, while this lives.
class TTempFolder {
 public:
  explicit TTempFolder(const std::wstring& path) {
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
      wchar_t old[MAX_PATH + 1] = {};
      const DWORD n = ::GetEnvironmentVariableW(name, old, MAX_PATH + 1);
      FSaved.emplace_back(name, n > 0 && n <= MAX_PATH ? std::wstring(old) : std::wstring());
      ::SetEnvironmentVariableW(name, path.c_str());
    }
  }
  ~TTempFolder() {
    for (const auto& [name, value] : FSaved)
      ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

 private:
  std::vector<std::pair<std::wstring, std::wstring>> FSaved;
};

}  // namespace

TEST_F(DiskCleanupE2E, ATemporaryFolderHoldingTheSwitchesBackupReadsZeroAndClearKeepsIt) {
  // Someone's TEMP points at a copy of the program's folder, restore file and all.
  const std::wstring folder = L"C:\\qb_e2e_engine_copy";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CreateDirectoryW((folder + L"\\Resources").c_str(), nullptr);
  WriteFileOfSize(folder + L"\\optrestore.rgd", 300);
  WriteFileOfSize(folder + L"\\ServiceControl.dll", 2 * 1048576);
  WriteFileOfSize(folder + L"\\Resources\\English_eBrisko.lpk", 5000);
  const auto before = Snapshot(folder);
  ASSERT_EQ(before.size(), 4u);
  wchar_t data[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, data)));
  const std::wstring log = std::wstring(data) + L"\\tqrlog.txt";
  WriteFileOfSize(log, 0);  // the log is written only while it exists
  SetSavedPasswords(3);
  {
    const TTempFolder temp(folder);
    TApp app = TApp::Start();
    ASSERT_NE(app.Main, nullptr);
    // The passwords come after the temporary files in a pass.
    ASSERT_TRUE(app.WaitFigure("Saved Internet Passwords", "3 Records"));
    EXPECT_EQ(app.FigureOf("Temporary System Files"), "0 MB");
    ASSERT_TRUE(app.ClearAnswering("Temporary System Files", "Yes"));
    EXPECT_TRUE(WaitUntil([&] { return ReadText(log).find("[DeleteFolderContents]Left") != std::string::npos; }, 15000));
    // The count pass after the clearing shows the passwords again.
    EXPECT_TRUE(app.WaitFigure("Saved Internet Passwords", "3 Records"));
    EXPECT_EQ(app.FigureOf("Temporary System Files"), "0 MB");
    SaveScreenshot(app.Main, ArtifactDir() + "disk-cleanup-refused-temp.bmp");
    app.Exit();
  }
  EXPECT_EQ(Snapshot(folder), before);
  const std::string text = ReadText(log);
  ::DeleteFileW(log.c_str());
  const std::string refusal = "Left C:\\qb_e2e_engine_copy alone: it holds optrestore.rgd";
  EXPECT_NE(text.find("[GetFolderSize]" + refusal), std::string::npos) << text;
  EXPECT_NE(text.find("[DeleteFolderContents]" + refusal), std::string::npos) << text;
  EmptyFolder(folder);
  ::RemoveDirectoryW(folder.c_str());
}
