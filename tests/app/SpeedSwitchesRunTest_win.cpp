// The elevated helper SpeedSwitches.exe end to end, started as the main window starts it (the
// shell's "runas", its reason back through a pipe of this run), and its undo as the
// uninstaller runs it. Every value it touches is put back afterwards.
#include "app/SpeedHelper_win.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "optimize/OptimizeIt.h"
#include "optimize/OptimizeWorld.h"
#include "optimize/SpeedStates.h"

#include <gtest/gtest.h>

namespace {


std::string BinDir() {
  wchar_t self[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  return WideToUtf8(path.substr(0, path.find_last_of(L'\\') + 1));
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(bool cu, std::string_view path) {
  TRegHandle key = 0;
  if (SystemRegistry().OpenKey(RootOf(cu), SubKey(path), kKeyRead, key) != kErrorSuccess) return false;
  SystemRegistry().CloseKey(key);
  return true;
}

// A program folder of its own holding the helper, and the registry as it was, put back at the end.
class SpeedSwitchesRun : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = BinDir() + "speed_switches_run_" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryW(Utf8ToWide(Folder).c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(Utf8ToWide(BinDir() + kSpeedHelperName).c_str(),
                            Utf8ToWide(Folder + kSpeedHelperName).c_str(), FALSE));
    FBefore = CatalogueState(SystemRegistry());
    FDefrag = GetValue(SystemRegistry(), HKLM, kBootDefragKey, kBootDefragValue);
    FStates = GetValue(SystemRegistry(), HKLM, kProductKey, kSpeedStatesValue);
    FHadDfrg = KeyExists(HKLM, "\\SOFTWARE\\Microsoft\\Dfrg");
    for (const auto& [cu, path, name] : CatalogueValues())
      if (!KeyExists(cu, path)) FMissingKeys.emplace_back(cu, path);
  }
  void TearDown() override {
    SetCatalogueState(SystemRegistry(), FBefore);
    for (const auto& [cu, path] : FMissingKeys) SystemRegistry().DeleteKeyTree(RootOf(cu), SubKey(path));
    if (FHadDfrg) {
      PutValue(SystemRegistry(), HKLM, kBootDefragKey, kBootDefragValue, FDefrag);
    } else {
      SystemRegistry().DeleteKeyTree(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Dfrg");
    }
    PutValue(SystemRegistry(), HKLM, kProductKey, kSpeedStatesValue, FStates);
    for (const char* name : {kSpeedHelperName, kRestoreFileName, kChangedFileName})
      ::DeleteFileW(Utf8ToWide(Folder + name).c_str());
    ::RemoveDirectoryW(Utf8ToWide(Folder).c_str());
  }

  // Runs "SpeedSwitches.exe undo" as the uninstaller does; its exit code.
  DWORD Undo() {
    std::wstring command = L"\"" + Utf8ToWide(Folder + kSpeedHelperName) + L"\" undo \"" +
                           Utf8ToWide(Folder.substr(0, Folder.size() - 1)) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi))
      return 9999;
    const TScopedHandle thread(pi.hThread), process(pi.hProcess);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
  }

  std::string Folder;

 private:
  std::map<TValueId, std::optional<TRegValue>> FBefore;
  std::optional<TRegValue> FDefrag, FStates;
  bool FHadDfrg = false;
  std::vector<std::pair<bool, std::string>> FMissingKeys;
};

// The value a catalogue row writes, as the registry then holds it.
TRegValue CatalogueValue(const TTweak& t) {
  std::string text = t.ValueText;
  if (TOptimizeIt::ParseValueText(text) == TRegValueKind::rvkString) return Sz(text);
  return Dword(static_cast<uint32_t>(std::stoul(text, nullptr, 16)));
}

}  // namespace

TEST_F(SpeedSwitchesRun, ApplyWritesTheSwitchesTheOptionTheStatesAndBothFilesAndUndoPutsAllBack) {
  IRawRegistry& reg = SystemRegistry();
  PlantUsersOwnValues(reg);
  reg.DeleteKeyTree(kHkeyLocalMachine, SubKey(kPrefetchKey));
  reg.DeleteKeyTree(kHkeyLocalMachine, SubKey(kUnloadKey));
  reg.DeleteKeyTree(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Dfrg");
  const auto before = CatalogueState(reg);

  const TSpeedHelperRun run = RunSpeedSwitchesHelper(nullptr, Folder, "1,0,1,1,0");
  ASSERT_EQ(run.Outcome, TSpeedHelperRun::TOutcome::Finished) << run.Text;
  EXPECT_EQ(run.ExitCode, 0u) << run.Text;
  EXPECT_EQ(run.Text, "");
  for (const TSpeedSwitch s : {TSpeedSwitch::ssTurboStartup, TSpeedSwitch::ssPerformanceEnhancement})
    for (const TTweak& t : Catalogue(s))
      EXPECT_EQ(GetValue(reg, t.CurrentUser, t.KeyPath, RegName(t)), CatalogueValue(t)) << t.ValueName;
  // Turbo Shutdown and Network Booster stay off: the user's values are untouched.
  EXPECT_EQ(GetValue(reg, true, kDesktopKey, "WaitToKillAppTimeout"), ExpandSz("%WAIT%"));
  EXPECT_EQ(GetValue(reg, HKLM, kTcpParamsKey, "DefaultTTL"), Dword(64));
  EXPECT_EQ(GetValue(reg, HKLM, kBootDefragKey, kBootDefragValue), Sz("Y"));
  EXPECT_EQ(GetValue(reg, HKLM, kProductKey, kSpeedStatesValue), Sz("1,0,1,1,0"));
  EXPECT_TRUE(FileExists(Folder + kRestoreFileName));
  EXPECT_TRUE(FileExists(Folder + kChangedFileName));

  EXPECT_EQ(Undo(), 0u);
  EXPECT_EQ(CatalogueState(reg), before);
  EXPECT_FALSE(KeyExists(HKLM, kPrefetchKey));
  EXPECT_FALSE(KeyExists(HKLM, kUnloadKey));
  EXPECT_FALSE(KeyExists(HKLM, "\\SOFTWARE\\Microsoft\\Dfrg"));
}

TEST_F(SpeedSwitchesRun, AnEngineErrorEndsItNonZeroWithTheEnginesWordsThroughThePipe) {
  IRawRegistry& reg = SystemRegistry();
  PutValue(reg, HKLM, kPrefetchKey, "EnablePrefetcher", Sz("3"));
  PutValue(reg, HKLM, kProductKey, kSpeedStatesValue, Sz("0,0,0,0,0"));
  const TSpeedHelperRun run = RunSpeedSwitchesHelper(nullptr, Folder, "1,0,0,0,0");
  ASSERT_EQ(run.Outcome, TSpeedHelperRun::TOutcome::Finished) << run.Text;
  EXPECT_NE(run.ExitCode, 0u);
  EXPECT_EQ(run.Text, "Invalid data type for 'EnablePrefetcher'");
  EXPECT_EQ(GetValue(reg, HKLM, kPrefetchKey, "EnablePrefetcher"), Sz("3"));
  EXPECT_EQ(GetValue(reg, HKLM, kProductKey, kSpeedStatesValue), Sz("0,0,0,0,0"));
}

TEST_F(SpeedSwitchesRun, AHelperThatIsNotThereCannotBeStartedAndSaysSo) {
  ::DeleteFileW(Utf8ToWide(Folder + kSpeedHelperName).c_str());
  const TSpeedHelperRun run = RunSpeedSwitchesHelper(nullptr, Folder, "1,0,0,0,0");
  EXPECT_EQ(run.Outcome, TSpeedHelperRun::TOutcome::NotStarted);
  EXPECT_NE(run.Text.find("could not be started"), std::string::npos) << run.Text;
}
