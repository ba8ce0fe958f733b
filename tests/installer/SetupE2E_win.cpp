// The setup program end to end, in a Wine prefix made new for this run: a silent install, the
// installed program as its user and as an administrator, an upgrade over the running
// installation, an uninstall whose undo fails and one that puts every speed value back.
#include "app/PerformanceMain.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/AdminRun_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "optimize/OptimizeIt.h"
#include "optimize/OptimizeWorld.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const std::string kTitle = "Quor eBrisko Management";
constexpr bool HKLM = false;
constexpr bool HKCU = true;
constexpr const char* kFamilyKey = "\\Software\\Quor\\eCentrio";
constexpr const char* kUninstallKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\eBrisko";
constexpr const char* kScheduleKey = "\\SYSTEM\\CurrentControlSet\\Services\\KLService\\Parameters";
const char* const kEngineSwitches[] = {"Turbo Startup", "Turbo Shutdown", "Performance Enhancement",
                                       "Network Booster"};

std::string Expand(const char* text) {
  wchar_t out[MAX_PATH] = {};
  ::ExpandEnvironmentStringsW(Utf8ToWide(text).c_str(), out, MAX_PATH);
  return WideToUtf8(out);
}

std::string ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return WideToUtf8(path);
}

std::string InstallDir() { return Expand("%ProgramFiles%") + "\\Quor\\eBrisko\\"; }
std::string Shortcut() {
  return ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\Quor eBrisko Management.lnk";
}
std::string LanguagePool() { return ShellFolder(CSIDL_APPDATA) + "\\Quor\\eCentrio\\__LanguageFiles"; }

bool Exists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FileText(const std::string& path) {
  std::ifstream in(fs::path(Utf8ToWide(path)), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::optional<TRegValue> Machine(const char* key, const std::string& name) {
  return GetValue(SystemRegistry(), HKLM, key, name);
}

bool KeyExists(const char* key) {
  TRegHandle handle = 0;
  if (SystemRegistry().OpenKey(kHkeyLocalMachine, SubKey(key), kKeyRead, handle) != kErrorSuccess)
    return false;
  SystemRegistry().CloseKey(handle);
  return true;
}

// The service's state (SERVICE_RUNNING ...), or 0 when it is not installed.
DWORD ServiceState() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(scm ? ::OpenServiceW(scm.get(), L"KLService", SERVICE_QUERY_STATUS)
                               : nullptr);
  SERVICE_STATUS status{};
  if (!svc || !::QueryServiceStatus(svc.get(), &status)) return 0;
  return status.dwCurrentState;
}

using TClock = std::chrono::steady_clock;
double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// Runs the setup program with args to its end; the exit code, or -1 when it did not end.
long RunSetup(const std::string& args, double* seconds = nullptr) {
  const auto start = TClock::now();
  TDriverProcess setup = TDriverProcess::Start(TestBinDir() + "eBriskoSetup.exe", args);
  if (!setup.WaitExit(180000)) return -1;
  if (seconds) *seconds = SecondsSince(start);
  return static_cast<long>(setup.ExitCode());
}

// The system message boxes of a process, with the texts of their children.
HWND FindBox(unsigned long pid) {
  struct TSearch {
    unsigned long Pid;
    HWND Found;
  } s{pid, nullptr};
  ::EnumWindows([](HWND wnd, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<TSearch*>(p);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(wnd, &owner);
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    if (owner != s->Pid || std::wstring(cls) != L"#32770" || !::IsWindowVisible(wnd)) return TRUE;
    s->Found = wnd;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

std::string AllTexts(HWND window) {
  std::string texts;
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    *reinterpret_cast<std::string*>(p) += WindowText(child) + "\n";
    return TRUE;
  }, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// The program with its main window up.
struct TApp : TMainWindowRun {
  // The installed program's first start in a new prefix takes longer.
  explicit TApp(TDriverProcess process) : TMainWindowRun(std::move(process), 60000) {}
  // Ticks the box text (when it is not) and waits until it shows the tick.
  bool Tick(const std::string& text) {
    if (!Checked(text)) ClickButton(Button(text));
    return WaitUntil([&] { return Checked(text); }, 10000);
  }
  // Presses Apply and waits until it is done (the button disabled again).
  bool Apply() {
    HWND apply = Button("Apply");
    if (!apply || !::IsWindowEnabled(apply)) return false;
    ClickButton(apply);
    return WaitUntil([&] { return !::IsWindowEnabled(apply); }, 30000);
  }
};

// The value a catalogue row writes, as the registry then holds it.
TRegValue CatalogueValue(const TTweak& t) {
  std::string text = t.ValueText;
  if (TOptimizeIt::ParseValueText(text) == TRegValueKind::rvkString) return Sz(text);
  return Dword(static_cast<uint32_t>(std::stoul(text, nullptr, 16)));
}

class SetupE2E : public ::testing::Test {
 protected:
  static void TearDownTestSuite() {
    // The figures for the release notes: sizes and times under Wine.
    std::printf("setup program: %llu bytes\n",
                static_cast<unsigned long long>(fs::file_size(
                    fs::path(Utf8ToWide(TestBinDir() + "eBriskoSetup.exe")))));
  }
};

TEST_F(SetupE2E, InstallApplyUpgradeAndAnUninstallThatPutsEveryValueBack) {
  IRawRegistry& reg = SystemRegistry();
  // The machine before: some values of the user's own of several kinds, the rest missing, the
  // boot defragmentation option off, and a value of another product in the family's key.
  PlantUsersOwnValues(reg);
  PutValue(reg, HKLM, kBootDefragKey, kBootDefragValue, Sz("N"));
  PutValue(reg, HKLM, kFamilyKey, "OtherProduct", Sz("kept"));
  const auto before = CatalogueState(reg);
  const std::string dir = InstallDir();

  // A silent install.
  double installSeconds = 0;
  ASSERT_EQ(RunSetup("/S /LANG=English", &installSeconds), 0);
  for (const char* file : {"eBrisko.exe", "KLService.exe", "ServiceControl.dll", "msgbox.skn",
                           "Resources\\English_eBrisko.lpk", "Resources\\German_eBrisko.lpk",
                           "Uninstall.exe"})
    EXPECT_TRUE(Exists(dir + file)) << file;
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("English"));
  SYSTEM_POWER_STATUS power{};
  const bool battery = ::GetSystemPowerStatus(&power) && power.BatteryFlag != 128 &&
                       power.BatteryFlag != 255;
  EXPECT_EQ(Machine(kFamilyKey, "Type"), Sz(battery ? "notebook" : "desktop"));
  EXPECT_EQ(Machine(kProductKey, "Version"), Sz(QB_VERSION));
  EXPECT_EQ(Machine(kUninstallKey, "DisplayName"), Sz("Quor eBrisko Management"));
  EXPECT_EQ(Machine(kUninstallKey, "DisplayVersion"), Sz(QB_VERSION));
  EXPECT_EQ(Machine(kUninstallKey, "Publisher"), Sz("Quor"));
  EXPECT_EQ(Machine(kUninstallKey, "DisplayIcon"), Sz(dir + "eBrisko.exe,0"));
  EXPECT_EQ(Machine(kUninstallKey, "UninstallString"), Sz("\"" + dir + "Uninstall.exe\""));
  EXPECT_EQ(Machine(kUninstallKey, "QuietUninstallString"), Sz("\"" + dir + "Uninstall.exe\" /S"));
  const auto size = Machine(kUninstallKey, "EstimatedSize");
  ASSERT_TRUE(size && size->Type == kRegDword && size->Data.size() == 4);
  uint32_t kilobytes = 0;
  std::memcpy(&kilobytes, size->Data.data(), 4);
  EXPECT_GT(kilobytes, 1000u);
  EXPECT_TRUE(Exists(Shortcut()));
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

  // The installed program as an administrator: the four engine switches and a schedule.
  PlaceStandIn(dir);
  {
    TApp app(StartProgramAsAdministrator(dir + "eBrisko.exe"));
    ASSERT_NE(app.Main, nullptr);
    SaveScreenshot(app.Main, ArtifactDir() + "installed-main-window.bmp");
    for (const char* name : kEngineSwitches) ASSERT_TRUE(app.Tick(name)) << name;
    ASSERT_TRUE(app.Tick("Enable Scheduled Optimization"));
    ClickButton(app.Button("30 minutes"));
    ASSERT_TRUE(WaitUntil([&] { return app.Checked("30 minutes"); }, 5000));
    ASSERT_TRUE(app.Apply()) << AllTexts(FindBox(app.Process.Pid()));
    // The switch states are stored last, once every switch is applied.
    const bool stored = WaitUntil(
        [&] { return Machine(kProductKey, kSpeedStatesValue) == Sz("1,1,1,0,1"); }, 30000);
    HWND warning = FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid());
    ASSERT_TRUE(stored) << AllTexts(warning) << AllTexts(FindBox(app.Process.Pid()));
    for (const TSpeedSwitch s : kAllSpeedSwitches)
      for (const TTweak& t : Catalogue(s))
        EXPECT_EQ(GetValue(reg, t.CurrentUser, t.KeyPath, RegName(t)), CatalogueValue(t))
            << t.KeyPath << " " << t.ValueName;
    ASSERT_TRUE(Exists(dir + kRestoreFileName));
    const std::string restoreFile = FileText(dir + kRestoreFileName);
    const std::string changedFile = FileText(dir + kChangedFileName);
    const auto states = Machine(kProductKey, kSpeedStatesValue);
    const auto scheduleOn = Machine(kScheduleKey, "ScheduleEnabled");
    const auto schedulePeriod = Machine(kScheduleKey, "SchedulePeriod");
    ASSERT_TRUE(scheduleOn && schedulePeriod);

    // An upgrade over the running installation (no /LANG=: the language stays).
    PutValue(reg, HKLM, kProductKey, "Version", Sz("0.9.0.0"));
    { std::ofstream(fs::path(Utf8ToWide(dir + "msgbox.skn")), std::ios::binary) << "old"; }
    ASSERT_EQ(RunSetup("/S"), 0);
    EXPECT_TRUE(app.Process.WaitExit(10000)) << "the running program was not closed";
    EXPECT_EQ(FileText(dir + "msgbox.skn"), FileText(TestBinDir() + "msgbox.skn"));
    EXPECT_EQ(FileText(dir + kRestoreFileName), restoreFile);
    EXPECT_EQ(FileText(dir + kChangedFileName), changedFile);
    EXPECT_EQ(Machine(kProductKey, kSpeedStatesValue), states);
    EXPECT_EQ(Machine(kScheduleKey, "ScheduleEnabled"), scheduleOn);
    EXPECT_EQ(Machine(kScheduleKey, "SchedulePeriod"), schedulePeriod);
    EXPECT_EQ(Machine(kProductKey, "Version"), Sz(QB_VERSION));
    EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("English"));
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  }
  {
    // The program opens afterwards, with the schedule the service kept.
    TApp app(TDriverProcess::Start(dir + "eBrisko.exe"));
    ASSERT_NE(app.Main, nullptr);
    EXPECT_TRUE(app.Checked("Enable Scheduled Optimization"));
    EXPECT_TRUE(app.Checked("30 minutes"));
    ClickButton(app.Button("Cancel"));
    ASSERT_TRUE(app.Process.WaitExit(20000));
  }
  fs::remove(fs::path(Utf8ToWide(dir + "netapi32.dll")));
  ASSERT_TRUE(fs::exists(fs::path(Utf8ToWide(LanguagePool()))));

  // An uninstall whose undo fails: another process holds the restore file.
  const std::string restoreFile = FileText(dir + kRestoreFileName);
  {
    TScopedFileHandle lock(::CreateFileW(Utf8ToWide(dir + kRestoreFileName).c_str(), GENERIC_READ,
                                         0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    // The uninstaller's own way of running: a copy outside the folder, told where it is.
    const std::string copyDir = Expand("%TEMP%") + "\\qb-uninstall\\";
    fs::create_directories(fs::path(Utf8ToWide(copyDir)));
    fs::copy_file(fs::path(Utf8ToWide(dir + "Uninstall.exe")),
                  fs::path(Utf8ToWide(copyDir + "Uninstall.exe")),
                  fs::copy_options::overwrite_existing);
    TDriverProcess uninstall = TDriverProcess::Start(
        copyDir + "Uninstall.exe", "/S _?=" + dir.substr(0, dir.size() - 1));
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = FindBox(uninstall.Pid())) != nullptr; }, 60000));
    const std::string message = AllTexts(box);
    SaveScreenshot(box, ArtifactDir() + "uninstall-undo-failed.bmp");
    EXPECT_NE(message.find("could not be put back, so nothing has been removed"), std::string::npos)
        << message;
    EXPECT_NE(message.find(kRestoreFileName), std::string::npos) << message;
    const std::string ok = "OK";
    ClickButton(FindChildWindow(box, "Button", &ok));
    ASSERT_TRUE(uninstall.WaitExit(30000));
    EXPECT_EQ(uninstall.ExitCode(), 2u);
    fs::remove_all(fs::path(Utf8ToWide(copyDir)));
  }
  for (const char* file : {"eBrisko.exe", "KLService.exe", "ServiceControl.dll", "msgbox.skn",
                           "Resources\\English_eBrisko.lpk", "Uninstall.exe"})
    EXPECT_TRUE(Exists(dir + file)) << file;
  EXPECT_EQ(FileText(dir + kRestoreFileName), restoreFile);
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(Machine(kProductKey, "Version"));
  EXPECT_TRUE(Machine(kUninstallKey, "QuietUninstallString"));
  EXPECT_TRUE(Exists(Shortcut()));
  EXPECT_TRUE(Exists(LanguagePool()));

  // The uninstall as the system runs it: the quiet command of the installed-programs entry.
  // The uninstaller goes on in a copy of itself, so its end is seen in what it removes last.
  const auto start = TClock::now();
  TDriverProcess uninstall = TDriverProcess::Start(dir + "Uninstall.exe", "/S");
  ASSERT_TRUE(uninstall.WaitExit(30000));
  EXPECT_EQ(uninstall.ExitCode(), 0u);
  ASSERT_TRUE(WaitUntil([&] { return !KeyExists(kUninstallKey) && !Exists(LanguagePool()); },
                        120000, 50));
  const double uninstallSeconds = SecondsSince(start);
  std::printf("silent install: %.1f s, silent uninstall: %.1f s\n", installSeconds,
              uninstallSeconds);

  const auto after = CatalogueState(reg);
  for (const auto& [id, value] : before)
    EXPECT_EQ(after.at(id), value) << std::get<1>(id) << " " << std::get<2>(id);
  EXPECT_EQ(GetValue(reg, HKLM, kBootDefragKey, kBootDefragValue), Sz("N"));
  EXPECT_EQ(ServiceState(), 0u);
  EXPECT_FALSE(Exists(dir));
  EXPECT_FALSE(Exists(Expand("%ProgramFiles%") + "\\Quor"));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kScheduleKey));
  EXPECT_FALSE(Exists(Shortcut()));
  EXPECT_EQ(Machine(kFamilyKey, "OtherProduct"), Sz("kept"));
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("English"));
}

TEST_F(SetupE2E, SilentLanguageChoice) {
  IRawRegistry& reg = SystemRegistry();
  PutValue(reg, HKLM, kFamilyKey, "Language", std::nullopt);
  const std::string dir = InstallDir();

  // A language that has no pack stops the setup before it changes anything.
  EXPECT_EQ(RunSetup("/S /LANG=Klingon"), 2);
  EXPECT_FALSE(Exists(dir));
  EXPECT_FALSE(Machine(kFamilyKey, "Language"));
  EXPECT_FALSE(KeyExists(kUninstallKey));

  // English by default; /LANG= chooses; a later silent run keeps the choice.
  ASSERT_EQ(RunSetup("/S"), 0);
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("English"));
  ASSERT_EQ(RunSetup("/S /lang=german"), 0);
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("German"));
  ASSERT_EQ(RunSetup("/S"), 0);
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("German"));
  {
    // The program speaks it.
    TApp app(TDriverProcess::Start(dir + "eBrisko.exe"));
    ASSERT_NE(app.Main, nullptr);
    const std::string cancel = "Abbrechen";
    EXPECT_NE(FindChildWindow(app.Main, "Button", &cancel), nullptr) << AllTexts(app.Main);
    SaveScreenshot(app.Main, ArtifactDir() + "installed-main-window-german.bmp");
    ClickButton(FindChildWindow(app.Main, "Button", &cancel));
    EXPECT_TRUE(app.Process.WaitExit(20000));
  }

  TDriverProcess uninstall = TDriverProcess::Start(dir + "Uninstall.exe", "/S");
  ASSERT_TRUE(uninstall.WaitExit(30000));
  ASSERT_TRUE(WaitUntil([&] { return !KeyExists(kUninstallKey) && !Exists(LanguagePool()); },
                        120000, 50));
  EXPECT_FALSE(Exists(dir));
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("German"));
}

}  // namespace
