// The speed switches end to end on the prefix's registry: an administrator (the program's copy
// beside the netapi32.dll stand-in) applies and takes back every switch; a guest (the program
// as Wine runs it) gets the warning and changes nothing. Every value touched is put back.
#include "app/PerformanceMain.h"
#include "common/WinText_win.h"
#include "e2e/AdminRun_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "e2e/RegistryGuard_win.h"
#include "e2e/ServiceEnvironment_win.h"
#include "optimize/OptimizeIt.h"
#include "optimize/OptimizeWorld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace {

const std::string kTitle = "Quor eBrisko Management";
const char* const kSwitches[] = {"Turbo Startup", "Turbo Shutdown", "Performance Enhancement",
                                 "Disk Defragmentation", "Network Booster"};

// The value a catalogue row writes, as the registry then holds it.
TRegValue CatalogueValue(const TTweak& t) {
  std::string text = t.ValueText;
  if (TOptimizeIt::ParseValueText(text) == TRegValueKind::rvkString) return Sz(text);
  return Dword(static_cast<uint32_t>(std::stoul(text, nullptr, 16)));
}

// Every value the program may touch here: the catalogue, the boot defragmentation option and
// the stored switch states.
std::vector<TRegistryGuard::TId> TouchedValues() {
  std::vector<TRegistryGuard::TId> ids;
  for (const auto& [cu, key, name] : CatalogueValues()) ids.push_back({cu, key, name});
  ids.push_back({HKLM, kBootDefragKey, kBootDefragValue});
  ids.push_back({HKLM, kProductKey, kSpeedStatesValue});
  return ids;
}

std::string FileText(const std::string& path) {
  std::ifstream in(Utf8ToWide(path).c_str(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The lines of a text, sorted.
std::set<std::string> LinesOf(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.insert(line);
  }
  return lines;
}

// The texts of the system's message boxes of a process (the top-level error report).
std::string ErrorBoxes(unsigned long pid) {
  struct TSearch {
    unsigned long Pid;
    std::string Texts;
  } s{pid, {}};
  ::EnumWindows([](HWND wnd, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<TSearch*>(p);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(wnd, &owner);
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    if (owner == s->Pid && std::wstring(cls) == L"#32770") {
      ::EnumChildWindows(wnd, [](HWND child, LPARAM q) -> BOOL {
        *reinterpret_cast<std::string*>(q) += WindowText(child) + "\n";
        return TRUE;
      }, reinterpret_cast<LPARAM>(&s->Texts));
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&s));
  return s.Texts;
}

// The program with its main window up.
struct TSpeedApp : TMainWindowRun {
  using TMainWindowRun::TMainWindowRun;
  // The switches as "1" and "0", top to bottom.
  std::string Ticks() const {
    std::string ticks;
    for (const char* name : kSwitches) {
      HWND box = Button(name);
      ticks += box && ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? '1' : '0';
    }
    return ticks;
  }
  // Clicks the switches that differ from wanted and waits until they show it.
  bool SetTicks(const std::string& wanted) {
    const std::string now = Ticks();
    for (size_t i = 0; i < 5; ++i)
      if (now[i] != wanted[i]) ClickButton(Button(kSwitches[i]));
    return WaitUntil([&] { return Ticks() == wanted; }, 10000);
  }
  // Presses Apply and waits until it is done (the button disabled again).
  bool Apply() {
    HWND apply = Button("Apply");
    if (!apply || !::IsWindowEnabled(apply)) return false;
    ClickButton(apply);
    return WaitUntil([&] { return !::IsWindowEnabled(apply); }, 30000);
  }
  // Closes the window with Cancel and waits for the program to end.
  void Close() {
    ClickButton(Button("Cancel"));
    EXPECT_TRUE(Process.WaitExit(20000));
  }
};

class SpeedOptionsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartTestService());
    FGuard = std::make_unique<TRegistryGuard>(TouchedValues());
    // The state the tests start from: some of the user's own values of several kinds, one that
    // already holds the catalogue's value, the rest missing; boot defragmentation off and no
    // stored states.
    IRawRegistry& reg = SystemRegistry();
    PlantUsersOwnValues(reg);
    PutValue(reg, HKLM, kMemoryKey, "IoPageLockLimit", Dword(0x10000));
    PutValue(reg, HKLM, kBootDefragKey, kBootDefragValue, Sz("N"));
    PutValue(reg, HKLM, kProductKey, kSpeedStatesValue, std::nullopt);
    FBefore = CatalogueState(reg);
  }
  void TearDown() override {
    RemoveAdministratorCopy();
    FGuard.reset();
  }

  std::unique_ptr<TRegistryGuard> FGuard;
  std::map<TValueId, std::optional<TRegValue>> FBefore;
};

TEST_F(SpeedOptionsE2E, AnAdministratorAppliesEverySwitchAndTakesEveryOneBack) {
  const std::string dir = PrepareAdministratorCopy();
  IRawRegistry& reg = SystemRegistry();
  TSpeedApp app(StartAsAdministrator());
  ASSERT_NE(app.Main, nullptr);
  ASSERT_EQ(app.Ticks(), "00000");

  ASSERT_TRUE(app.SetTicks("11111"));
  ASSERT_TRUE(app.Apply()) << ErrorBoxes(app.Process.Pid());
  EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid()), nullptr);
  for (const TSpeedSwitch s : kAllSpeedSwitches)
    for (const TTweak& t : Catalogue(s))
      EXPECT_EQ(GetValue(reg, t.CurrentUser, t.KeyPath, RegName(t)), CatalogueValue(t))
          << t.KeyPath << " " << t.ValueName;
  EXPECT_EQ(GetValue(reg, HKLM, kBootDefragKey, kBootDefragValue), Sz("Y"));
  EXPECT_EQ(GetValue(reg, HKLM, kProductKey, kSpeedStatesValue), Sz("1,1,1,1,1"));
  // The restore file holds the values that existed and were changed, and nothing else.
  const std::string ctl = "\\SYSTEM\\CurrentControlSet\\Control";
  EXPECT_EQ(LinesOf(FileText(dir + kRestoreFileName)),
            (std::set<std::string>{
                std::string(kDesktopKey) + "_MenuShowDelay=400",
                std::string(kDesktopKey) + "_WaitToKillAppTimeout=%WAIT%",
                std::string(kTcpParamsKey) + "_DefaultTTL=dword:64",
                std::string(kSessionKey) + "_AutoChkTimeOut=dword:-1",
                ctl + "_WaitToKillServiceTimeout=20000",
            }));

  ASSERT_TRUE(app.SetTicks("00000"));
  ASSERT_TRUE(app.Apply()) << ErrorBoxes(app.Process.Pid());
  // Every value as it was, kind and data; the ones the program created are gone.
  const auto after = CatalogueState(reg);
  for (const auto& [id, value] : FBefore)
    EXPECT_EQ(after.at(id), value) << std::get<1>(id) << " " << std::get<2>(id);
  EXPECT_EQ(GetValue(reg, HKLM, kBootDefragKey, kBootDefragValue), Sz("N"));
  EXPECT_EQ(GetValue(reg, HKLM, kProductKey, kSpeedStatesValue), Sz("0,0,0,0,0"));
  // The record holds nothing changed any more, and goes with the restore file.
  TChangeRecord record;
  ASSERT_TRUE(ParseChangeRecord(FileText(dir + kChangedFileName), record));
  EXPECT_TRUE(record.Values.empty());
  EXPECT_TRUE(record.Keys.empty());
  app.Close();
}

TEST_F(SpeedOptionsE2E, AGuestGetsTheWarningAndNothingChanges) {
  const std::string restoreFile = TestBinDir() + kRestoreFileName;
  const bool hadRestoreFile = FileExists(restoreFile);
  const std::string restoreText = FileText(restoreFile);
  TSpeedApp app(TDriverProcess::Start(TestBinDir() + "eBrisko.exe"));
  ASSERT_NE(app.Main, nullptr);
  ASSERT_TRUE(app.SetTicks("11111"));
  ClickButton(app.Button("Apply"));
  HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid(), 20000);
  ASSERT_NE(box, nullptr);
  std::string texts;
  ::EnumChildWindows(box, [](HWND child, LPARAM p) -> BOOL {
    *reinterpret_cast<std::string*>(p) += WindowText(child) + "\n";
    return TRUE;
  }, reinterpret_cast<LPARAM>(&texts));
  EXPECT_NE(texts.find(kSpeedAdminOnlyText), std::string::npos) << texts;
  EXPECT_TRUE(SaveScreenshot(box, ArtifactDir() + "speed-options-guest-warning.bmp"));
  EXPECT_FALSE(::IsWindowEnabled(app.Main));  // the box is modal
  const std::string ok = "OK";
  ClickButton(FindChildWindow(box, "Button", &ok));
  // The switches are back at the stored states and Apply is off again.
  EXPECT_TRUE(WaitUntil([&] { return app.Ticks() == "00000"; }, 10000)) << app.Ticks();
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindowEnabled(app.Button("Apply")); }, 10000));
  EXPECT_EQ(CatalogueState(SystemRegistry()), FBefore);
  EXPECT_EQ(GetValue(SystemRegistry(), HKLM, kBootDefragKey, kBootDefragValue), Sz("N"));
  EXPECT_EQ(GetValue(SystemRegistry(), HKLM, kProductKey, kSpeedStatesValue), std::nullopt);
  EXPECT_EQ(FileExists(restoreFile), hadRestoreFile);
  EXPECT_EQ(FileText(restoreFile), restoreText);
  app.Close();
}

}  // namespace
