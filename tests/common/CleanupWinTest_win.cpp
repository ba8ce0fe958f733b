// The clean-up primitives on real fixture trees, keys and shell folders of the test prefix.
// Links are planted from the Unix side of Wine (its CreateSymbolicLinkW makes none), and the
// trees are removed from there too, since Wine cannot delete a link without its target.
#include "common/CleanupAPI.h"
#include "common/CleanupAPI_win.h"
#include "common/Errors.h"
#include "common/FolderWalk_win.h"
#include "common/GenericAPI.h"
#include "common/GenericShellAPI.h"
#include "common/GenericShellAPI_win.h"
#include "common/RawRegistry.h"
#include "common/Registry.h"
#include "common/ScopedHandle_win.h"
#include "common/TextUtil.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

std::wstring W(const std::string& s) { return Utf8ToWide(s); }

// A drive path in the "\\?\" form, taken as it is written: the fixtures may go beyond
// MAX_PATH and hold names that end in a dot or a blank.
std::wstring Long(const std::string& path) {
  return path.size() > 2 && path[1] == ':' ? W("\\\\?\\" + path) : W(path);
}

void MakeDir(const std::string& path) { ::CreateDirectoryW(Long(path).c_str(), nullptr); }

void MakeFile(const std::string& path, const std::string& content, DWORD attributes = 0) {
  TScopedFileHandle f(::CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(f) << path;
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(f.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                          nullptr));
  f.reset();
  if (attributes) {
    ASSERT_TRUE(::SetFileAttributesW(Long(path).c_str(), attributes)) << path;
  }
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::string& path) {
  TScopedFileHandle f(::CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  if (!f) return "<unreadable>";
  std::string text;
  char buf[4096];
  DWORD n = 0;
  while (::ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
  return text;
}

// Everything a test may check of one entry: its attributes, size, write time and content.
struct TEntryState {
  DWORD Attributes;
  int64_t Size;
  uint64_t WriteTime;
  std::string Content;
  bool operator==(const TEntryState&) const = default;
};

void SnapshotInto(const std::string& dir, const std::string& rel,
                  std::map<std::string, TEntryState>& out) {
  WIN32_FIND_DATAW d;
  TScopedFindHandle find(::FindFirstFileW(Long(dir + "\\*").c_str(), &d));
  if (!find) return;
  do {
    const std::string name = WideToUtf8(d.cFileName);
    if (name == "." || name == "..") continue;
    const std::string path = dir + "\\" + name;
    TEntryState state{d.dwFileAttributes,
                      (int64_t{d.nFileSizeHigh} << 32) | d.nFileSizeLow,
                      (uint64_t{d.ftLastWriteTime.dwHighDateTime} << 32) |
                          d.ftLastWriteTime.dwLowDateTime,
                      ""};
    const bool folder = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (folder) state.Size = 0;  // a folder's listed size means nothing
    if (!folder && state.Size < 1024 * 1024) state.Content = ReadAll(path);
    out[rel + name] = state;
    if (folder && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      SnapshotInto(path, rel + name + "\\", out);
  } while (::FindNextFileW(find.get(), &d));
}

// Every entry below dir (links are listed, not entered) with its state.
std::map<std::string, TEntryState> Snapshot(const std::string& dir) {
  std::map<std::string, TEntryState> out;
  SnapshotInto(dir, "", out);
  return out;
}

// The relative names of everything below dir, links not entered.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& [name, state] : Snapshot(dir)) names.push_back(name);
  return names;
}

// Wine's own path conversion, present only under Wine.
using TUnixNameFn = char*(__cdecl*)(const wchar_t*);
TUnixNameFn UnixNameFn() {
  return reinterpret_cast<TUnixNameFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

std::string UnixPath(const std::string& path) {
  char* name = UnixNameFn()(W(path).c_str());
  if (!name) return {};
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// Runs a shell command on the Unix side and waits for it: Wine starts Unix programs without a
// process handle, so the command leaves a marker file when done.
bool RunUnix(const std::string& command) {
  static std::atomic<int> serial{0};
  const std::string marker = "C:\\qb_cleanup_tests\\done_" +
                             std::to_string(::GetCurrentProcessId()) + "_" +
                             std::to_string(++serial);
  ::DeleteFileW(W(marker).c_str());
  std::wstring line = W("/bin/sh -c \"" + command + "; touch '" + UnixPath(marker) + "'\"");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
    return false;
  if (pi.hThread) ::CloseHandle(pi.hThread);
  if (pi.hProcess) ::CloseHandle(pi.hProcess);
  for (int i = 0; i < 1000 && !Exists(marker); ++i) ::Sleep(20);
  return ::DeleteFileW(W(marker).c_str()) != FALSE;
}

// Plants a Unix symbolic link at link that points to target (both Windows paths).
void PlantLink(const std::string& target, const std::string& link) {
  ASSERT_TRUE(RunUnix("ln -s '" + UnixPath(target) + "' '" + UnixPath(link) + "'"));
  ASSERT_TRUE(Exists(link)) << link;
}

// Another process holding a file open without sharing, until this object ends.
class THeldFile {
 public:
  explicit THeldFile(const std::string& path) {
    static std::atomic<int> serial{0};
    const std::wstring event = L"qb_holder_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                               std::to_wstring(++serial);
    TScopedHandle ready(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    std::wstring line = L"\"" + W(GetAppDir()) + L"qb_file_holder.exe\" \"" + Long(path) +
                        L"\" " + event;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
      return;
    ::CloseHandle(pi.hThread);
    FProcess.reset(pi.hProcess);
    const HANDLE both[] = {ready.get(), FProcess.get()};
    FHolding = ::WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
  }
  ~THeldFile() {
    if (!FProcess) return;
    ::TerminateProcess(FProcess.get(), 0);
    ::WaitForSingleObject(FProcess.get(), 10000);
  }
  // Whether the other process has the file open.
  bool Holding() const { return FHolding; }

 private:
  TScopedHandle FProcess;
  bool FHolding = false;
};

// A folder of the prefix for one test's fixtures, made empty before and removed after.
class Cleanup : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UnixNameFn()) GTEST_SKIP() << "the fixtures are planted from the Unix side of Wine";
    FRoot = "C:\\qb_cleanup_tests\\" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    MakeDir("C:\\qb_cleanup_tests");
    RemoveTree(FRoot);
    MakeDir(FRoot);
  }
  void TearDown() override {
    if (!FRoot.empty()) RemoveTree(FRoot);
  }
  static void RemoveTree(const std::string& path) {
    ASSERT_TRUE(RunUnix("rm -rf '" + UnixPath(path) + "'"));
  }
  // A path below this test's folder.
  std::string At(const std::string& rel) const { return FRoot + "\\" + rel; }

  std::string FRoot;
};

// A drive of the prefix mapped to a folder while this lives. Wine looks its drives up again
// once a second, by the identity of their folders: the waits keep a stale drive from claiming
// a folder that is made later in the place (and identity) of this one.
class TDrive {
 public:
  TDrive(const std::string& letter, const std::string& folder)
      : FDevice(UnixPath("C:\\") + "../dosdevices/" + letter) {
    RunUnix("ln -sfn '" + UnixPath(folder) + "' '" + FDevice + "'");
    ::Sleep(1100);
  }
  ~TDrive() {
    RunUnix("rm -f '" + FDevice + "'");
    ::Sleep(1100);
  }

 private:
  std::string FDevice;
};

// Sets the process's temporary folder (TMP and TEMP) while it lives.
class TTempFolderOverride {
 public:
  explicit TTempFolderOverride(const std::string& path) {
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
      wchar_t old[MAX_PATH + 1] = {};
      const DWORD n = ::GetEnvironmentVariableW(name, old, MAX_PATH + 1);
      FSaved.emplace_back(name, n > 0 && n <= MAX_PATH ? std::wstring(old) : std::wstring());
      ::SetEnvironmentVariableW(name, W(path).c_str());
    }
  }
  ~TTempFolderOverride() {
    for (const auto& [name, value] : FSaved)
      ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

 private:
  std::vector<std::pair<std::wstring, std::wstring>> FSaved;
};

// The diagnostic log, made to exist while this lives (it is written only then); what was there
// before comes back afterwards.
class TLogCapture {
 public:
  TLogCapture() {
    InitializeShellModule();
    FPath = GetCommonAppDataDir() + "tqrlog.txt";
    FBefore = ReadAll(FPath);
    FExisted = Exists(FPath);
    std::ofstream(W(FPath).c_str(), std::ios::binary | std::ios::trunc);
  }
  ~TLogCapture() {
    if (FExisted)
      std::ofstream(W(FPath).c_str(), std::ios::binary | std::ios::trunc) << FBefore;
    else
      ::DeleteFileW(W(FPath).c_str());
  }
  // What was written since the last call.
  std::string Take() {
    const std::string text = ReadAll(FPath);
    const std::string added = text.substr(std::min(FRead, text.size()));
    FRead = text.size();
    return added;
  }

 private:
  std::string FPath;
  std::string FBefore;
  bool FExisted = false;
  size_t FRead = 0;
};

// The entries of dir itself with attributes and sizes, not entered: enough to see that nothing
// of a large folder (a drive, the system folder) was deleted.
std::map<std::string, std::pair<DWORD, int64_t>> TopLevel(const std::string& dir) {
  std::map<std::string, std::pair<DWORD, int64_t>> out;
  WIN32_FIND_DATAW d;
  TScopedFindHandle find(::FindFirstFileW(Long(dir + "\\*").c_str(), &d));
  if (!find) return out;
  do {
    const bool folder = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    out[WideToUtf8(d.cFileName)] = {d.dwFileAttributes,
                                    folder ? 0 : (int64_t{d.nFileSizeHigh} << 32) | d.nFileSizeLow};
  } while (::FindNextFileW(find.get(), &d));
  return out;
}

std::string KnownFolder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  if (FAILED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path))) return {};
  const std::string result = WideToUtf8(path);
  ::CoTaskMemFree(path);
  return result;
}

// The current user's registry through the accessor, for planting and checking keys.
void PutValues(const std::string& key, int count) {
  TRegistry reg(SystemRegistry());
  reg.SetRootKey(kHkeyCurrentUser);
  ASSERT_TRUE(reg.OpenKey(key, true));
  for (int i = 1; i <= count; ++i) reg.WriteString("url" + std::to_string(i), "http://x.example/");
}

bool KeyExists(const std::string& key) {
  TRegistry reg(SystemRegistry());
  reg.SetRootKey(kHkeyCurrentUser);
  return reg.KeyExists(key);
}

void DeleteKey(const std::string& key) {
  TRegistry reg(SystemRegistry());
  reg.SetRootKey(kHkeyCurrentUser);
  reg.DeleteKey(key);
}

// COM for the calling test thread while this lives.
struct TComThread {
  TComThread() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~TComThread() { ::CoUninitialize(); }
};

std::string ShellFolder(int csidl) { return WideToUtf8(SpecialFolderPath(csidl)); }

}  // namespace

TEST_F(Cleanup, DeletesEverythingButAFileHeldOpenAndTheFoldersOnItsPath) {
  MakeFile(At("readonly.txt"), "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(At("hidden.txt"), "h", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(At("system.txt"), "s", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
  MakeDir(At("a"));
  MakeDir(At("a\\b"));
  MakeFile(At("a\\b\\held.txt"), "held content");
  MakeFile(At("a\\b\\beside.txt"), "beside");
  MakeDir(At("a\\c"));
  MakeDir(At("a\\c\\d"));
  MakeFile(At("a\\c\\d\\e.txt"), "e", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  // A chain of folders well beyond MAX_PATH.
  std::string deep = At("deep");
  MakeDir(deep);
  for (int i = 0; i < 12; ++i) MakeDir(deep += "\\" + std::string(30, static_cast<char>('k' + i)));
  MakeFile(deep + "\\leaf.txt", "leaf");
  ASSERT_TRUE(Exists(deep + "\\leaf.txt"));
  ASSERT_GT(deep.size(), 400u);

  const THeldFile held(At("a\\b\\held.txt"));
  ASSERT_TRUE(held.Holding());
  DeleteFolderContents(FRoot);

  EXPECT_THAT(Names(FRoot), ElementsAre("a", "a\\b", "a\\b\\held.txt"));
  EXPECT_TRUE(Exists(FRoot));
}

TEST_F(Cleanup, LinksAreNeverEnteredAndTheirTargetsStayByteForByte) {
  const std::string outside = At("outside");
  MakeDir(outside);
  MakeDir(outside + "\\dir");
  MakeFile(outside + "\\dir\\f1.txt", "first", FILE_ATTRIBUTE_READONLY);
  MakeDir(outside + "\\dir\\sub");
  MakeFile(outside + "\\dir\\sub\\f2.txt", std::string(5000, 'x'));
  MakeFile(outside + "\\file.txt", "target of a file link");
  MakeDir(outside + "\\empty");
  const std::string top = At("top");
  MakeDir(top);
  MakeDir(top + "\\sub");
  MakeFile(top + "\\plain.txt", "12345");
  MakeFile(top + "\\sub\\plain2.txt", "1234567");
  PlantLink(outside + "\\dir", top + "\\dirlink");
  PlantLink(outside + "\\dir", top + "\\sub\\nestedlink");
  PlantLink(outside + "\\file.txt", top + "\\filelink.txt");
  PlantLink(outside + "\\empty", top + "\\emptylink");
  PlantLink(top, top + "\\sub\\loop");  // a link to an ancestor must not loop
  const auto before = Snapshot(outside);
  ASSERT_EQ(before.size(), 6u);

  // Measuring counts the two plain files only.
  EXPECT_EQ(GetFolderSize(top), 5 + 7);
  EXPECT_EQ(GetFileSizeOf(top + "\\filelink.txt"), 0);
  EXPECT_EQ(GetFileSizeOf(top + "\\plain.txt"), 5);

  DeleteFolderContents(top);
  EXPECT_EQ(Snapshot(outside), before);
  // Wine cannot remove a Unix link itself; everything else is gone.
  EXPECT_THAT(Names(top), UnorderedElementsAre("dirlink", "emptylink", "filelink.txt", "sub",
                                               "sub\\loop", "sub\\nestedlink"));
  EXPECT_EQ(GetFolderSize(top), 0);
}

TEST_F(Cleanup, FoldersThatResolveToADriveRootOrASystemFolderAreNotCleared) {
  const std::string volume = At("volume");
  MakeDir(volume);
  MakeFile(volume + "\\keep.txt", "keep");
  // Drive Q: of the prefix is this folder; a link elsewhere leads to it as well.
  const TDrive drive("q:", volume);
  PlantLink("Q:\\", At("toroot"));
  wchar_t windows[MAX_PATH + 1] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH + 1);
  wchar_t profile[MAX_PATH + 1] = {};
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile)));
  PlantLink(WideToUtf8(profile), At("toprofile"));
  MakeDir(At("fine"));

  const std::pair<std::string, bool> cases[] = {
      {"Q:\\", false},
      {At("toroot"), false},
      {"C:\\", false},
      {WideToUtf8(windows), false},
      {LowerAscii(WideToUtf8(windows)) + "\\", false},
      {WideToUtf8(profile), false},
      {At("toprofile") + "\\", false},
      {ExtractFilePath(WideToUtf8(profile)), false},  // the folder of all profiles
      {At("fine"), true},
      {At("missing"), false},
      {"", false},
  };
  for (const auto& [path, clearable] : cases) EXPECT_EQ(IsFolderClearable(path), clearable) << path;

  DeleteFolderContents("Q:\\");
  DeleteFolderContents(At("toroot"));
  EXPECT_TRUE(Exists(volume + "\\keep.txt"));
}

TEST_F(Cleanup, FolderSizeIsTheSumOfItsFilesAndAFileHeldOpenCountsZero) {
  MakeFile(At("a.bin"), std::string(1000, 'a'));
  MakeFile(At("empty.bin"), "");
  MakeDir(At("x"));
  MakeFile(At("x\\b.bin"), std::string(4096, 'b'), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  MakeDir(At("x\\y"));
  MakeFile(At("x\\y\\c.bin"), std::string(70000, 'c'));
  MakeFile(At("x\\y\\held.bin"), std::string(333, 'h'));
  std::string deep = At("x\\deep");
  MakeDir(deep);
  for (int i = 0; i < 10; ++i) MakeDir(deep += "\\" + std::string(30, static_cast<char>('k' + i)));
  MakeFile(deep + "\\far.bin", std::string(17, 'f'));

  EXPECT_EQ(GetFolderSize(FRoot), 1000 + 4096 + 70000 + 333 + 17);
  EXPECT_EQ(GetFolderSize(FRoot + "\\"), GetFolderSize(FRoot));
  EXPECT_EQ(GetFileSizeOf(At("x\\y\\c.bin")), 70000);
  {
    const THeldFile held(At("x\\y\\held.bin"));
    ASSERT_TRUE(held.Holding());
    EXPECT_EQ(GetFolderSize(FRoot), 1000 + 4096 + 70000 + 17);
    EXPECT_EQ(GetFileSizeOf(At("x\\y\\held.bin")), 0);
  }
  EXPECT_EQ(GetFileSizeOf(At("x\\y\\held.bin")), 333);
  EXPECT_EQ(GetFileSizeOf(At("x")), 0);
  EXPECT_EQ(GetFileSizeOf(At("missing.bin")), 0);
  EXPECT_EQ(GetFileSizeOf(At("*.bin")), 0);
  EXPECT_EQ(GetFolderSize(At("missing")), 0);
  EXPECT_EQ(GetFolderSize(At("a.bin")), 0);
}

TEST_F(Cleanup, SizesBeyondFourGibibytesAddUp) {
  const auto sparse = [](const std::string& path, int64_t size) {
    TScopedFileHandle f(::CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f);
    DWORD ignored = 0;
    ::DeviceIoControl(f.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    ASSERT_TRUE(::SetFilePointerEx(f.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(f.get()));
  };
  MakeDir(At("big"));
  sparse(At("big\\five.bin"), 5 * kGiB + 1);
  sparse(At("three.bin"), 3 * kGiB);
  MakeFile(At("small.bin"), "12");

  EXPECT_EQ(GetFileSizeOf(At("big\\five.bin")), 5 * kGiB + 1);
  EXPECT_EQ(GetFolderSize(FRoot), 8 * kGiB + 3);
}

TEST_F(Cleanup, TheTemporaryFolderIsClearedAndStays) {
  MakeDir(At("temp"));
  MakeFile(At("temp\\t.tmp"), "t");
  MakeDir(At("temp\\sub"));
  MakeFile(At("temp\\sub\\u.tmp"), "u", FILE_ATTRIBUTE_READONLY);
  {
    const TTempFolderOverride temp(At("temp"));
    ClearTempFolder();
  }
  EXPECT_THAT(Names(At("temp")), IsEmpty());
  EXPECT_TRUE(Exists(At("temp")));
}

TEST_F(Cleanup, CookiesAreThePlainVisibleFilesOfTheirFolderAndAreCleared) {
  const TComThread com;
  const std::string cookies = ShellFolder(CSIDL_COOKIES);
  ASSERT_FALSE(cookies.empty());
  MakeDir(cookies);
  ClearSpecialFolder(CSIDL_COOKIES);
  EXPECT_EQ(CountCookies(), 0);
  MakeFile(cookies + "\\one.txt", "1");
  MakeFile(cookies + "\\two.txt", "2");
  MakeFile(cookies + "\\three.txt", "3", FILE_ATTRIBUTE_READONLY);
  MakeFile(cookies + "\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
  MakeDir(cookies + "\\folder");
  // A link is no cookie (Wine's shell lists one to a file as that file).
  MakeFile(At("elsewhere.txt"), "not a cookie");
  PlantLink(At("elsewhere.txt"), cookies + "\\link.txt");
  EXPECT_EQ(CountCookies(), 3);

  ClearSpecialFolder(CSIDL_COOKIES);
  EXPECT_THAT(Names(cookies), ElementsAre("link.txt"));  // Wine cannot remove the link itself
  EXPECT_EQ(ReadAll(At("elsewhere.txt")), "not a cookie");
  EXPECT_TRUE(Exists(cookies));
  EXPECT_EQ(CountCookies(), 0);
  RemoveTree(cookies + "\\link.txt");
}

TEST_F(Cleanup, InternetCacheIsCleared) {
  const std::string cache = ShellFolder(CSIDL_INTERNET_CACHE);
  ASSERT_FALSE(cache.empty());
  MakeDir(cache);
  MakeDir(cache + "\\qb_entry");
  MakeFile(cache + "\\qb_entry\\page.htm", "<html>");
  ClearInternetCache();
  EXPECT_THAT(Names(cache), IsEmpty());
  EXPECT_TRUE(Exists(cache));
}

TEST_F(Cleanup, ShellListingFollowsTheKinds) {
  const TComThread com;
  MakeFile(At("a.txt"), "a");
  MakeFile(At("b.txt"), "b");
  MakeFile(At("h.txt"), "h", FILE_ATTRIBUTE_HIDDEN);
  MakeDir(At("folder"));
  TItemIdList folder;
  ASSERT_TRUE(SUCCEEDED(::SHParseDisplayName(W(FRoot).c_str(), nullptr, folder.put(), 0, nullptr)));
  using K = TFolderItemKind;
  const std::pair<TFolderItemKinds, size_t> cases[] = {
      {{K::fikNonFolders}, 2},
      {{K::fikNonFolders, K::fikHidden}, 3},
      {{K::fikFolders}, 1},
      {{K::fikFolders, K::fikNonFolders, K::fikHidden}, 4},
  };
  std::vector<TItemIdList> list;
  for (const auto& [kinds, count] : cases) {
    list.emplace_back();  // the listing starts from an empty list
    EnumFolderItems(folder.get(), kinds, list);
    EXPECT_EQ(list.size(), count) << kinds.ShellFlags();
  }
  // A file cannot be bound as a folder: nothing is listed.
  TItemIdList file;
  ASSERT_TRUE(SUCCEEDED(::SHParseDisplayName(W(At("a.txt")).c_str(), nullptr, file.put(), 0, nullptr)));
  EnumFolderItems(file.get(), {K::fikNonFolders}, list);
  EXPECT_THAT(list, IsEmpty());
}

TEST(CleanupRegistry, SavedPasswordsWithoutTheirKeyGiveZeroAndCreateNothing) {
  DeleteKey(kSavedPasswordsKey);
  EXPECT_EQ(ClearSavedPasswords(), 0);
  EXPECT_EQ(CountSavedPasswords(), 0);
  EXPECT_FALSE(KeyExists(kSavedPasswordsKey));

  PutValues(kSavedPasswordsKey, 12);
  EXPECT_EQ(CountSavedPasswords(), 12);
  EXPECT_EQ(ClearSavedPasswords(), 12);
  EXPECT_EQ(CountSavedPasswords(), 0);
  DeleteKey(kSavedPasswordsKey);
}

TEST(CleanupRegistry, TypedUrlsGoWithTheirKey) {
  const TComThread com;
  PutValues(kTypedUrlsKey, 3);
  PutValues(std::string(kTypedUrlsKey) + "\\Nested", 1);
  EXPECT_EQ(CountTypedUrls(), 3);
  ClearTypedUrls();
  EXPECT_FALSE(KeyExists(kTypedUrlsKey));
  EXPECT_EQ(CountTypedUrls(), 0);
  ClearTypedUrls();  // nothing left to delete is no error
}

TEST(CleanupRegistry, AHistoryObjectThatCannotBeCreatedRaisesTheSystemsTextAndKeepsTheUrls) {
  PutValues(kTypedUrlsKey, 2);
  long code = 0;
  std::string message;
  // A thread without COM cannot create the object.
  std::thread([&] {
    try {
      ClearTypedUrls();
    } catch (const EOleSysError& e) {
      code = e.ErrorCode();
      message = e.what();
    }
  }).join();
  EXPECT_EQ(code, CO_E_NOTINITIALIZED);
  EXPECT_EQ(message, OleSysError(CO_E_NOTINITIALIZED).what());
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(CountTypedUrls(), 2);
  DeleteKey(kTypedUrlsKey);
}

TEST_F(Cleanup, ACountPassMeasuresEverythingInOrderAndChangesNothing) {
  MakeDir(At("temp"));
  MakeFile(At("temp\\a.tmp"), std::string(1500, 'a'));
  MakeDir(At("temp\\sub"));
  MakeFile(At("temp\\sub\\b.tmp"), std::string(2500, 'b'), FILE_ATTRIBUTE_READONLY);
  const std::string cookies = ShellFolder(CSIDL_COOKIES);
  MakeDir(cookies);
  {
    const TComThread com;
    ClearSpecialFolder(CSIDL_COOKIES);
  }
  MakeFile(cookies + "\\c1.txt", "1");
  MakeFile(cookies + "\\c2.txt", "2");
  DeleteKey(kSavedPasswordsKey);
  PutValues(kSavedPasswordsKey, 4);
  DeleteKey(kTypedUrlsKey);
  PutValues(kTypedUrlsKey, 2);
  const std::string cache = ShellFolder(CSIDL_INTERNET_CACHE);
  const auto tempBefore = Snapshot(At("temp"));
  const auto cookiesBefore = Snapshot(cookies);
  const auto cacheBefore = Snapshot(cache);

  std::vector<TCountItem> order;
  TCountFigures figures;
  {
    const TTempFolderOverride temp(At("temp"));
    // A worker thread of its own, without COM: the pass sees to that itself.
    std::thread([&] {
      figures = CountPass([&](TCountItem item, const TCountFigures&) { order.push_back(item); });
    }).join();
  }

  EXPECT_THAT(order, ElementsAre(TCountItem::ciInternetCache, TCountItem::ciCookies,
                                 TCountItem::ciTempFiles, TCountItem::ciSavedPasswords,
                                 TCountItem::ciTypedUrls));
  EXPECT_EQ(figures.InternetCacheBytes, GetFolderSize(cache));
  EXPECT_EQ(figures.Cookies, 2);
  EXPECT_EQ(figures.TempFilesBytes, 1500 + 2500);
  EXPECT_EQ(figures.SavedPasswords, 4);
  EXPECT_EQ(figures.TypedUrls, 2);
  EXPECT_EQ(Snapshot(At("temp")), tempBefore);
  EXPECT_EQ(Snapshot(cookies), cookiesBefore);
  EXPECT_EQ(Snapshot(cache), cacheBefore);
  EXPECT_EQ(CountSavedPasswords(), 4);
  EXPECT_EQ(CountTypedUrls(), 2);

  DeleteKey(kSavedPasswordsKey);
  DeleteKey(kTypedUrlsKey);
  const TComThread com;
  ClearSpecialFolder(CSIDL_COOKIES);
}

TEST_F(Cleanup, LinksToAFolderSpelledInAnotherCaseLeadNowhere) {
  // "Tmp" is cleared; its sibling "tmp" is another folder on a case-sensitive file system,
  // made from the Unix side (Wine would take the second name for the first).
  const std::string inside = At("t2\\Tmp");
  const std::string outside = At("t2\\tmp");
  MakeDir(At("t2"));
  MakeDir(inside);
  ASSERT_TRUE(RunUnix("mkdir -p '" + UnixPath(inside) + "/../tmp/emptydir' '" + UnixPath(inside) +
                      "/../tmp/sub/deeper' && printf outside > '" + UnixPath(inside) +
                      "/../tmp/x.txt' && printf deep > '" + UnixPath(inside) + "/../tmp/sub/deeper/y.txt'"));
  MakeFile(inside + "\\own.txt", "own");
  MakeDir(inside + "\\nested");
  PlantLink(outside + "\\x.txt", inside + "\\x.txt");
  PlantLink(outside + "\\emptydir", inside + "\\emptydir");
  PlantLink(outside + "\\sub", inside + "\\sub");
  PlantLink(outside + "\\sub\\deeper\\y.txt", inside + "\\nested\\y.txt");
  const auto before = Snapshot(outside);
  ASSERT_EQ(before.size(), 5u);

  EXPECT_EQ(GetFolderSize(inside), 3);
  EXPECT_EQ(GetFileSizeOf(inside + "\\x.txt"), 0);
  {
    const TTempFolderOverride temp(inside);
    EXPECT_EQ(CountPass().TempFilesBytes, 3);
    ClearTempFolder();
  }
  EXPECT_EQ(Snapshot(outside), before);
  EXPECT_THAT(Names(inside), UnorderedElementsAre("emptydir", "nested", "nested\\y.txt", "sub", "x.txt"));
}

TEST_F(Cleanup, NamesEndingInADotOrABlankAreCountedAndCleared) {
  const std::string dots = At("dots");
  MakeDir(dots);
  MakeFile(dots + "\\name.", "12345");
  MakeFile(dots + "\\blank ", "123");
  MakeFile(dots + "\\plain", "1");
  MakeDir(dots + "\\sub.");
  MakeFile(dots + "\\sub.\\in.txt", "1234567", FILE_ATTRIBUTE_READONLY);
  MakeDir(dots + "\\deep ");
  MakeDir(dots + "\\deep \\x.");
  MakeFile(dots + "\\deep \\x.\\y ", "12");
  // A link with such a name leads outside all the same (planted by its Unix name: Wine's
  // conversion would drop the dot).
  MakeDir(At("outside"));
  MakeFile(At("outside\\far"), "far away");
  ASSERT_TRUE(RunUnix("ln -s '" + UnixPath(At("outside\\far")) + "' '" + UnixPath(dots) + "/far.'"));
  ASSERT_THAT(Names(dots), UnorderedElementsAre("blank ", "deep ", "deep \\x.", "deep \\x.\\y ", "far.",
                                                "name.", "plain", "sub.", "sub.\\in.txt"));
  const auto outside = Snapshot(At("outside"));

  EXPECT_EQ(GetFolderSize(dots), 5 + 3 + 1 + 7 + 2);
  // Such a file is named in the "\\?\" form: without it, Windows drops the dot.
  EXPECT_EQ(GetFileSizeOf("\\\\?\\" + dots + "\\name."), 5);
  DeleteFolderContents(dots);
  EXPECT_THAT(Names(dots), ElementsAre("far."));
  EXPECT_EQ(Snapshot(At("outside")), outside);
}

TEST_F(Cleanup, ATemporaryFolderSetToAProtectedFolderCountsNothingClearsNothingAndIsLogged) {
  TLogCapture log;
  wchar_t system[MAX_PATH + 1] = {};
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH + 1), 0u);
  const std::string documents = KnownFolder(FOLDERID_Documents);
  // A folder of the speed switches' engine anywhere else, with its restore file.
  const std::string engine = At("engine");
  MakeDir(engine);
  MakeFile(engine + "\\optrestore.rgd", "[Restore]");
  MakeFile(engine + "\\strtab.ini", "kept");
  // A cleared folder that holds such a folder deeper down keeps it and clears the rest.
  const std::string temp = At("temp");
  MakeDir(temp);
  MakeDir(temp + "\\app");
  MakeFile(temp + "\\app\\optchanged.rgd", "created");
  MakeFile(temp + "\\app\\data.bin", "12345");
  MakeFile(temp + "\\loose.tmp", "123");
  const std::string folders[] = {
      WideToUtf8(system),
      KnownFolder(FOLDERID_ProgramFiles),
      ExtractFilePath(GetAppFileName()),  // the program's own folder
      documents,                          // under Wine a link to a folder outside
      KnownFolder(FOLDERID_Profile),
      KnownFolder(FOLDERID_ProgramData),
      "C:\\",
      engine,
  };
  for (std::string folder : folders) {
    ASSERT_FALSE(folder.empty());
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    SCOPED_TRACE(folder);
    // Planted with the system's own listing call, so also in the folder a link leads to.
    const std::string canary = folder + (folder.back() == '\\' ? "" : "\\") + "qb_canary.txt";
    MakeFile(canary, "canary");
    // The log itself grows in ProgramData.
    const auto withoutLog = [](std::map<std::string, std::pair<DWORD, int64_t>> entries) {
      entries.erase("tqrlog.txt");
      return entries;
    };
    const auto before = withoutLog(TopLevel(folder));
    log.Take();
    // Checked before anything is cleared: a fault here must not cost the prefix.
    ASSERT_FALSE(IsFolderClearable(folder));
    TCountFigures figures;
    {
      const TTempFolderOverride override(folder);
      figures = CountPass();
      ClearTempFolder();
    }
    EXPECT_EQ(figures.TempFilesBytes, 0);
    EXPECT_EQ(withoutLog(TopLevel(folder)), before);
    EXPECT_EQ(ReadAll(canary), "canary");
    const std::string lines = log.Take();
    EXPECT_THAT(lines, HasSubstr("[GetFolderSize]Left " + folder));
    EXPECT_THAT(lines, HasSubstr("[DeleteFolderContents]Left " + folder));
    ::DeleteFileW(Long(canary).c_str());
  }
  // Under Wine Documents leads elsewhere: the log names where as well.
  const std::wstring resolved = ResolveFolder(W(documents)).Path;
  if (!SameText(WideToUtf8(resolved), "\\\\?\\" + documents)) {
    TTempFolderOverride override(documents);
    ClearTempFolder();
    EXPECT_THAT(log.Take(), HasSubstr(documents + "\\ (" + WideToUtf8(resolved.substr(4)) + ") alone: it is the Documents folder"));
  }

  {
    const TTempFolderOverride override(temp);
    EXPECT_EQ(CountPass().TempFilesBytes, 3);
    ClearTempFolder();
  }
  EXPECT_THAT(Names(temp), ElementsAre("app", "app\\data.bin", "app\\optchanged.rgd"));
  EXPECT_THAT(log.Take(), HasSubstr("[DeleteFolderContents]Left " + temp + "\\app alone: it holds optchanged.rgd"));
}

TEST_F(Cleanup, AWineRecycleBinHoldingALinkIsLeftAsItIs) {
  wchar_t data[MAX_PATH + 1] = {};
  if (!::GetEnvironmentVariableW(L"XDG_DATA_HOME", data, MAX_PATH + 1))
    GTEST_SKIP() << "the tests keep Wine's trash in the build tree";
  TLogCapture log;
  // The trash as Wine keeps it: the entries in "files", their records in "info"; this prefix's
  // own, so it starts empty.
  const std::string unixTrash = WideToUtf8(data) + "/Trash";
  ASSERT_TRUE(RunUnix("rm -rf '" + unixTrash + "'"));
  MakeDir(At("outside"));
  MakeFile(At("outside\\victim.txt"), "not in the bin");
  MakeFile(At("binned.txt"), "binned");
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  const std::wstring from = W(At("binned.txt")) + L'\0';
  op.pFrom = from.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  ASSERT_EQ(::SHFileOperationW(&op), 0);
  ASSERT_TRUE(RunUnix("ln -s '" + UnixPath(At("outside\\victim.txt")) + "' '" + unixTrash +
                      "/files/qb_link.txt' && printf '[Trash Info]\\nPath=/qb_link.txt\\nDeletionDate=2026-01-01T00:00:00\\n' > '" +
                      unixTrash + "/info/qb_link.txt.trashinfo'"));

  EmptyRecycleBin(nullptr);
  EXPECT_EQ(ReadAll(At("outside\\victim.txt")), "not in the bin");
  EXPECT_THAT(log.Take(), HasSubstr("[EmptyRecycleBin]Left the Recycle Bin as it is: it holds "));
  SHQUERYRBINFO bin = {sizeof bin};
  ASSERT_EQ(::SHQueryRecycleBinW(nullptr, &bin), S_OK);
  EXPECT_EQ(bin.i64NumItems, 2);

  // Without the link the bin is emptied.
  ASSERT_TRUE(RunUnix("rm -f '" + unixTrash + "/files/qb_link.txt' '" + unixTrash + "/info/qb_link.txt.trashinfo'"));
  EmptyRecycleBin(nullptr);
  ASSERT_EQ(::SHQueryRecycleBinW(nullptr, &bin), S_OK);
  EXPECT_EQ(bin.i64NumItems, 0);
  EXPECT_EQ(ReadAll(At("outside\\victim.txt")), "not in the bin");
}
