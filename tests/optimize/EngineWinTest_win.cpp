// The engine on the real registry and disk under Windows: the shared cases, a save killed at
// every step and at random moments, and targets that refuse the save.
#include "optimize/OptimizeWorld.h"

#include "common/Errors.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"
#include "support/TestFiles.h"

#include <random>

namespace {

// A fresh folder below the temporary folder, removed with its files at the end.
class TTempFolder {
 public:
  TTempFolder() {
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    FPath = WideToUtf8(temp) + "qb_optimize_" + std::to_string(::GetCurrentProcessId()) + "_" +
            std::to_string(++counter) + "\\";
    ::CreateDirectoryW(Utf8ToWide(FPath).c_str(), nullptr);
  }
  ~TTempFolder() {
    WIN32_FIND_DATAW found;
    TScopedFindHandle find(::FindFirstFileW(Utf8ToWide(FPath + "*").c_str(), &found));
    if (find) {
      do {
        const std::wstring path = Utf8ToWide(FPath) + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          ::RemoveDirectoryW(path.c_str());
        } else {
          ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          ::DeleteFileW(path.c_str());
        }
      } while (::FindNextFileW(find.get(), &found));
    }
    find.reset();
    ::RemoveDirectoryW(Utf8ToWide(FPath).c_str());
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

bool KeyExists(bool currentUser, std::string_view keyPath) {
  TRegHandle key = 0;
  if (SystemRegistry().OpenKey(RootOf(currentUser), SubKey(keyPath), kKeyRead, key) != kErrorSuccess)
    return false;
  SystemRegistry().CloseKey(key);
  return true;
}

// The machine's registry with every catalogue value and key put back as they were found.
class TSystemWorld final : public TEngineWorld {
 public:
  TSystemWorld() : FBefore(CatalogueState(SystemRegistry())) {
    for (const auto& [cu, path, name] : CatalogueValues())
      if (!KeyExists(cu, path)) FMissingKeys.emplace_back(cu, path);
  }
  ~TSystemWorld() override {
    SetCatalogueState(SystemRegistry(), FBefore);
    for (const auto& [cu, path] : FMissingKeys)
      SystemRegistry().DeleteKeyTree(RootOf(cu), SubKey(path));
  }
  IRawRegistry& Registry() override { return SystemRegistry(); }
  IRestoreFileSystem& Files() override { return SystemRestoreFileSystem(); }
  std::string Dir() override { return FFolder.Path(); }

 private:
  std::map<TValueId, std::optional<TRegValue>> FBefore;
  std::vector<std::pair<bool, std::string>> FMissingKeys;
  TTempFolder FFolder;
};

std::string BigRestoreText(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i)
    text += "\\SYSTEM\\Key" + std::to_string(i) + "_Value=dword:" + std::to_string(i * 7) + "\r\n";
  return text;
}

std::string ChildPath() {
  wchar_t self[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  return WideToUtf8(path.substr(0, path.find_last_of(L'\\') + 1)) + "optimize_save_child.exe";
}

// Starts the save child on folder with mode; the process handle, or an empty one.
TScopedHandle StartChild(std::string folder, const std::string& mode) {
  // A backslash before the closing quote would escape it.
  if (folder.ends_with('\\')) folder.pop_back();
  std::wstring command = L"\"" + Utf8ToWide(ChildPath()) + L"\" \"" + Utf8ToWide(folder) + L"\" " +
                         Utf8ToWide(mode);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
    return TScopedHandle();
  TScopedHandle thread(pi.hThread);
  return TScopedHandle(pi.hProcess);
}

DWORD WaitExit(const TScopedHandle& process) {
  EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Windows, EngineCases,
                         ::testing::Values(TWorldKind{"Windows", [] {
                           return std::unique_ptr<TEngineWorld>(new TSystemWorld);
                         }}),
                         [](const auto& info) { return info.param.Name; });

TEST(EngineWin, AProcessKilledAtEachStepOfASaveLeavesTheOldOrTheNewFileWhole) {
  const std::string old = BigRestoreText(2000);
  std::string changed = old;
  changed.replace(changed.find("\\SYSTEM\\Key5_Value=dword:35"), 27, "\\SYSTEM\\Key5_Value=dword:-1");
  struct TCase {
    const char* Step;
    DWORD Exit;
    bool Replaced;
  };
  for (const TCase& c : {TCase{"before-write", 99, false}, TCase{"during-write", 99, false},
                         TCase{"after-write", 99, false}, TCase{"before-replace", 99, false},
                         TCase{"after-replace", 99, true}, TCase{"none", 0, true}}) {
    SCOPED_TRACE(c.Step);
    TTempFolder folder;
    const std::string path = folder.Path() + kRestoreFileName;
    ASSERT_EQ(SystemRestoreFileSystem().WriteTextFlushed(path, old), kErrorSuccess);
    const TScopedHandle child = StartChild(folder.Path(), c.Step);
    ASSERT_TRUE(child);
    EXPECT_EQ(WaitExit(child), c.Exit);
    EXPECT_EQ(ReadBytes(path) == changed, c.Replaced);
    EXPECT_TRUE(ReadBytes(path) == old || ReadBytes(path) == changed);

    // The next run reads a whole file and saves over any leftover.
    TOptimizeIt engine(folder.Path(), SystemRegistry(), SystemRestoreFileSystem());
    EXPECT_EQ(engine.ReadRestoreEntry("\\system\\key5_value"), c.Replaced ? "dword:-1" : "dword:35");
    engine.WriteRestoreEntry("\\SYSTEM\\Key1999_Value", "dword:1");
    EXPECT_EQ(engine.ReadRestoreEntry("\\SYSTEM\\Key1998_Value"), "dword:13986");
    EXPECT_EQ(::GetFileAttributesW(Utf8ToWide(path + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST(EngineWin, AProcessKilledAtRandomMomentsOfSavingNeverLeavesAHalfFile) {
  TTempFolder folder;
  const std::string path = folder.Path() + kRestoreFileName;
  const std::string old = BigRestoreText(3000);
  ASSERT_EQ(SystemRestoreFileSystem().WriteTextFlushed(path, old), kErrorSuccess);
  auto with = [&](const char* value) {
    std::string text = old;
    text.replace(text.find("\\SYSTEM\\Key0_Value=dword:0"), 26, std::string("\\SYSTEM\\Key0_Value=") + value);
    return text;
  };
  const std::string a = with("A"), b = with("B");
  std::mt19937 rng(7);
  int seenA = 0, seenB = 0;
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    const std::wstring ready = L"qb_optimize_saving_" + std::to_wstring(::GetCurrentProcessId());
    TScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    const TScopedHandle child = StartChild(folder.Path(), "loop " + WideToUtf8(ready));
    ASSERT_TRUE(child);
    EXPECT_EQ(::WaitForSingleObject(event.get(), 30000), WAIT_OBJECT_0);
    ::Sleep(std::uniform_int_distribution<DWORD>(0, 40)(rng));
    ::TerminateProcess(child.get(), 1);
    WaitExit(child);
    const std::string now = ReadBytes(path);
    EXPECT_TRUE(now == a || now == b) << now.size() << " bytes";
    seenA += now == a;
    seenB += now == b;
  }
  // The kills did land at different points of the loop.
  EXPECT_GT(seenA, 0);
  EXPECT_GT(seenB, 0);
}

TEST(EngineWin, AReadOnlyOrUnwritableTargetKeepsTheOldFile) {
  for (const bool readOnly : {true, false}) {
    SCOPED_TRACE(readOnly);
    TTempFolder folder;
    const std::string path = folder.Path() + kRestoreFileName;
    ASSERT_EQ(SystemRestoreFileSystem().WriteTextFlushed(path, "\\A_B=1\r\n"), kErrorSuccess);
    if (readOnly) {
      ASSERT_TRUE(::SetFileAttributesW(Utf8ToWide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    } else {
      // Something that is no file sits where the new content would be written.
      ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(path + ".tmp").c_str(), nullptr));
    }
    TOptimizeIt engine(folder.Path(), SystemRegistry(), SystemRestoreFileSystem());
    try {
      engine.WriteRestoreEntry("\\C_D", "2");
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot create file \"" + path + "\". " + SystemErrorText(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(ReadBytes(path), "\\A_B=1\r\n");
    EXPECT_EQ(engine.ReadRestoreEntry("\\A_B"), "1");
  }
}

TEST(EngineWin, TheRestoreFileIsAnsiText) {
  TTempFolder folder;
  TOptimizeIt engine(folder.Path(), SystemRegistry(), SystemRestoreFileSystem());
  engine.WriteRestoreEntry("\\K_V", "Gr\xC3\xBC\xC3\x9F" "e");
  std::string expected = "\\K_V=Gr\xFC\xDF" "e\r\n";  // in the Western code page
  if (::GetACP() == 1252) {
    EXPECT_EQ(ReadBytes(folder.Path() + kRestoreFileName), expected);
  }
  EXPECT_EQ(engine.ReadRestoreEntry("\\K_V"), "Gr\xC3\xBC\xC3\x9F" "e");
}
