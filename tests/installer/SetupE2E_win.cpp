// The setup program end to end, in a Wine prefix made new for this run: a silent install, the
// installed program as its user and as an administrator, an upgrade over the running
// installation and one into another folder, uninstalls stopped by a hung program, by an undo
// that fails and by a damaged backup, and one that leaves the registry as it was before the
// install; a folder of the user's choice, and a service that cannot start.
#include "app/PerformanceMain.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/AdminRun_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "optimize/OptimizeIt.h"
#include "optimize/OptimizeWorld.h"

#include <winsock2.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kTitle = "Quor eBrisko Management";
constexpr const char* kFamilyKey = "\\Software\\Quor\\eCentrio";
constexpr const char* kUninstallKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\eBrisko";
constexpr const char* kScheduleKey = "\\SYSTEM\\CurrentControlSet\\Services\\KLService\\Parameters";
constexpr uint16_t kServicePortNumber = 2804;
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

std::string AllTexts(HWND window) {
  std::string texts;
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    *reinterpret_cast<std::string*>(p) += WindowText(child) + "\n";
    return TRUE;
  }, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// The first visible dialog window of a process (the system's message boxes among them) whose
// texts hold part (any, when empty).
HWND FindBox(unsigned long pid, const std::string& part = {}) {
  struct TSearch {
    unsigned long Pid;
    const std::string& Part;
    HWND Found;
  } s{pid, part, nullptr};
  ::EnumWindows([](HWND wnd, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<TSearch*>(p);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(wnd, &owner);
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    if (owner != s->Pid || std::wstring(cls) != L"#32770" || !::IsWindowVisible(wnd)) return TRUE;
    if (!s->Part.empty() && AllTexts(wnd).find(s->Part) == std::string::npos) return TRUE;
    s->Found = wnd;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

// A button of window whose caption is text once its "&" marks are taken out.
HWND FindButton(HWND window, const std::string& text) {
  struct TSearch {
    const std::string& Text;
    HWND Found;
  } s{text, nullptr};
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<TSearch*>(p);
    std::string caption = WindowText(child);
    std::erase(caption, '&');
    if (caption != s->Text || !::IsWindowVisible(child)) return TRUE;
    s->Found = child;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

// A text file of the setup (UTF-16 with its mark) in UTF-8; empty when missing.
std::string Utf16FileText(const std::string& path) {
  std::string bytes = FileText(path);
  if (bytes.size() >= 2 && bytes[0] == '\xff' && bytes[1] == '\xfe') bytes.erase(0, 2);
  std::wstring wide(bytes.size() / 2, L'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return WideToUtf8(wide);
}

// The logs in which a stopped setup and uninstall leave their reason.
std::string SetupLog() { return Expand("%TEMP%") + "\\eBriskoSetup.log"; }
std::string UninstallLog() { return Expand("%TEMP%") + "\\eBriskoUninstall.log"; }

// The uninstaller as it runs itself: a copy outside the program folder, told where that is, so
// its exit code is its own. args come before the folder.
TDriverProcess StartUninstallCopy(const std::string& dir, const std::string& args) {
  const std::string copyDir = Expand("%TEMP%") + "\\qb-uninstall\\";
  fs::create_directories(fs::path(Utf8ToWide(copyDir)));
  // (std::filesystem's overwrite fails here: the system's own copy replaces the file.)
  EXPECT_TRUE(::CopyFileW(Utf8ToWide(dir + "Uninstall.exe").c_str(),
                          Utf8ToWide(copyDir + "Uninstall.exe").c_str(), FALSE));
  return TDriverProcess::Start(copyDir + "Uninstall.exe",
                               args + (args.empty() ? "" : " ") + "_?=" +
                                   dir.substr(0, dir.size() - 1));
}

// Sends a Unix signal to this prefix's processes of the program: asks the run's script, which
// answers through files in QB_SIGNAL_DIR (see setup_e2e.sh and signal_program.sh).
bool SignalProgram(const char* signal, const char* program) {
  const char* dir = std::getenv("QB_SIGNAL_DIR");
  if (!dir) return false;
  std::string folder = std::string("Z:") + dir;
  std::replace(folder.begin(), folder.end(), '/', '\\');
  const fs::path done(Utf8ToWide(folder + "\\done"));
  fs::remove(done);
  const fs::path request(Utf8ToWide(folder + "\\request"));
  {
    std::ofstream(fs::path(Utf8ToWide(folder + "\\request.tmp")), std::ios::binary)
        << signal << " " << program << "\n";
  }
  fs::rename(fs::path(Utf8ToWide(folder + "\\request.tmp")), request);
  if (!WaitUntil([&] { return fs::exists(done); }, 20000, 50)) return false;
  return FileText(folder + "\\done").rfind("0", 0) == 0;
}

// The registry branches the product touches, exported by the system's reg.exe, as key -> its
// value lines. Wine's own keys, which Wine changes by itself, are left out.
using TRegistryExport = std::map<std::string, std::vector<std::string>>;
TRegistryExport ExportRegistry() {
  TRegistryExport keys;
  const std::string file = Expand("%TEMP%") + "\\qb-export.reg";
  for (const char* branch : {"HKLM\\SOFTWARE", "HKLM\\SYSTEM\\CurrentControlSet",
                             "HKCU\\Control Panel", "HKCU\\Software"}) {
    fs::remove(fs::path(Utf8ToWide(file)));
    TDriverProcess reg = TDriverProcess::Start(Expand("%SystemRoot%") + "\\system32\\reg.exe",
                                               std::string("export \"") + branch + "\" \"" +
                                                   file + "\" /y");
    EXPECT_TRUE(reg.WaitExit(120000)) << branch;
    EXPECT_EQ(reg.ExitCode(), 0u) << branch;
    std::istringstream lines(Utf16FileText(file));
    std::string line, key, pending;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // A long value goes on over lines that end in "\".
      if (!line.empty() && line.back() == '\\') {
        pending += line.substr(0, line.size() - 1);
        continue;
      }
      line = pending + line;
      pending.clear();
      if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
        key = line.substr(1, line.size() - 2);
        keys[key];
      } else if (!key.empty() && !line.empty()) {
        keys[key].push_back(line);
      }
    }
  }
  // Also the system's own bookkeeping: the count of service starts, and the files the
  // system deletes at the next restart (the uninstaller's copy of itself among them).
  for (auto it = keys.begin(); it != keys.end();) {
    std::string upper = it->first;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool systems = upper.starts_with("HKEY_LOCAL_MACHINE\\SOFTWARE\\WINE") ||
                         upper.starts_with("HKEY_CURRENT_USER\\SOFTWARE\\WINE") ||
                         upper == "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SERVICECURRENT";
    // Wine's shell records a known folder's default path the first time a program looks it up
    // (the program's protected-folder table looks up the profiles' parent folder).
    const bool shellDefaults = upper == "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION";
    std::erase_if(it->second, [&](const std::string& line) {
      return line.starts_with("\"PendingFileRenameOperations\"=") ||
             (shellDefaults && line.starts_with("\"Users\"="));
    });
    it = systems ? keys.erase(it) : std::next(it);
  }
  fs::remove(fs::path(Utf8ToWide(file)));
  return keys;
}

// What differs between two exports, one line per key.
std::string ExportDifferences(const TRegistryExport& before, const TRegistryExport& after) {
  std::string out;
  for (const auto& [key, lines] : before) {
    const auto it = after.find(key);
    if (it == after.end()) out += "gone: [" + key + "]\n";
    else if (it->second != lines) {
      out += "changed: [" + key + "]\n";
      for (const auto& l : lines) out += "  before: " + l + "\n";
      for (const auto& l : it->second) out += "  after:  " + l + "\n";
    }
  }
  for (const auto& [key, lines] : after)
    if (!before.count(key)) {
      out += "new: [" + key + "]\n";
      for (const auto& l : lines) out += "  after:  " + l + "\n";
    }
  return out;
}

// Deletes the machine key when it holds nothing, so the machine before the install has no such
// key (setting the user's own values through the test helpers creates every catalogue key).
void DeleteEmptyMachineKey(const char* key) {
  const std::wstring sub = Utf8ToWide(std::string(SubKey(key)));
  TScopedRegKey k;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, k.put()) !=
      ERROR_SUCCESS)
    return;
  DWORD subkeys = 0, values = 0;
  ::RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
  k.reset();
  if (subkeys == 0 && values == 0) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_WOW64_64KEY, 0);
}

// Holds 127.0.0.1:port, as another program that took the service's port would.
class TPortHolder {
 public:
  explicit TPortHolder(uint16_t port) {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    FSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    FHeld = FSocket != INVALID_SOCKET &&
            ::bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(FSocket, 1) == 0;
  }
  ~TPortHolder() {
    if (FSocket != INVALID_SOCKET) ::closesocket(FSocket);
    ::WSACleanup();
  }
  bool Held() const { return FHeld; }

 private:
  SOCKET FSocket = INVALID_SOCKET;
  bool FHeld = false;
};

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

TEST_F(SetupE2E, InstallApplyUpgradeAndAnUninstallThatLeavesTheRegistryAsItWas) {
  IRawRegistry& reg = SystemRegistry();
  // The machine before: some values of the user's own of several kinds, the rest missing and
  // so are the keys the switches create, no boot defragmentation option at all, and the
  // family's key as another product of the family left it (it is shared and stays).
  PlantUsersOwnValues(reg);
  for (const char* key : {kPrefetchKey, kUnloadKey}) DeleteEmptyMachineKey(key);
  ASSERT_FALSE(KeyExists(kUnloadKey));
  ASSERT_FALSE(KeyExists(kPrefetchKey));
  ASSERT_FALSE(KeyExists("\\SOFTWARE\\Microsoft\\Dfrg"));
  SYSTEM_POWER_STATUS power{};
  const bool battery = ::GetSystemPowerStatus(&power) && power.BatteryFlag != 128 &&
                       power.BatteryFlag != 255;
  PutValue(reg, HKLM, kFamilyKey, "OtherProduct", Sz("kept"));
  PutValue(reg, HKLM, kFamilyKey, "Language", Sz("English"));
  PutValue(reg, HKLM, kFamilyKey, "Type", Sz(battery ? "notebook" : "desktop"));
  const auto before = CatalogueState(reg);
  const TRegistryExport exportBefore = ExportRegistry();
  const std::string dir = InstallDir();

  // A silent install.
  double installSeconds = 0;
  ASSERT_EQ(RunSetup("/S /LANG=English", &installSeconds), 0) << Utf16FileText(SetupLog());
  for (const char* file : {"eBrisko.exe", "KLService.exe", "ServiceControl.dll",
                           "SpeedSwitches.exe", "msgbox.skn", "Resources\\English_eBrisko.lpk",
                           "Resources\\German_eBrisko.lpk", "Uninstall.exe"})
    EXPECT_TRUE(Exists(dir + file)) << file;
  // The setup's own helper stays in its temporary folder.
  EXPECT_FALSE(Exists(dir + "SetupRights.exe"));
  EXPECT_FALSE(Exists(SetupLog()));
  EXPECT_EQ(Machine(kFamilyKey, "Language"), Sz("English"));
  EXPECT_EQ(Machine(kFamilyKey, "Type"), Sz(battery ? "notebook" : "desktop"));
  EXPECT_EQ(Machine(kProductKey, "Version"), Sz(QB_VERSION));
  EXPECT_EQ(Machine(kUninstallKey, "DisplayName"), Sz("Quor eBrisko Management"));
  EXPECT_EQ(Machine(kUninstallKey, "DisplayVersion"), Sz(QB_VERSION));
  EXPECT_EQ(Machine(kUninstallKey, "Publisher"), Sz("Quor"));
  EXPECT_EQ(Machine(kUninstallKey, "DisplayIcon"), Sz(dir + "eBrisko.exe,0"));
  EXPECT_EQ(Machine(kUninstallKey, "InstallLocation"), Sz(dir.substr(0, dir.size() - 1)));
  EXPECT_EQ(Machine(kUninstallKey, "UninstallString"), Sz("\"" + dir + "Uninstall.exe\""));
  EXPECT_EQ(Machine(kUninstallKey, "QuietUninstallString"), Sz("\"" + dir + "Uninstall.exe\" /S"));
  const auto size = Machine(kUninstallKey, "EstimatedSize");
  ASSERT_TRUE(size && size->Type == kRegDword && size->Data.size() == 4);
  uint32_t kilobytes = 0;
  std::memcpy(&kilobytes, size->Data.data(), 4);
  EXPECT_GT(kilobytes, 1000u);
  EXPECT_TRUE(Exists(Shortcut()));
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

  // The installed program as an administrator: every switch and a schedule.
  PlaceStandIn(dir);
  {
    TApp app(StartProgramAsAdministrator(dir + "eBrisko.exe"));
    ASSERT_NE(app.Main, nullptr);
    SaveScreenshot(app.Main, ArtifactDir() + "installed-main-window.bmp");
    for (const char* name : kEngineSwitches) ASSERT_TRUE(app.Tick(name)) << name;
    ASSERT_TRUE(app.Tick("Disk Defragmentation"));
    ASSERT_TRUE(app.Tick("Enable Scheduled Optimization"));
    ClickButton(app.Button("30 minutes"));
    ASSERT_TRUE(WaitUntil([&] { return app.Checked("30 minutes"); }, 5000));
    ASSERT_TRUE(app.Apply()) << AllTexts(FindBox(app.Process.Pid()));
    // The switch states are stored last, once every switch is applied.
    const bool stored = WaitUntil(
        [&] { return Machine(kProductKey, kSpeedStatesValue) == Sz("1,1,1,1,1"); }, 30000);
    HWND warning = FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid());
    ASSERT_TRUE(stored) << AllTexts(warning) << AllTexts(FindBox(app.Process.Pid()));
    for (const TSpeedSwitch s : kAllSpeedSwitches)
      for (const TTweak& t : Catalogue(s))
        EXPECT_EQ(GetValue(reg, t.CurrentUser, t.KeyPath, RegName(t)), CatalogueValue(t))
            << t.KeyPath << " " << t.ValueName;
    EXPECT_EQ(GetValue(reg, HKLM, kBootDefragKey, kBootDefragValue), Sz("Y"));
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
    ASSERT_EQ(RunSetup("/S"), 0) << Utf16FileText(SetupLog());
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

  // An upgrade told to go elsewhere is refused before anything changes: the backup, the
  // registered service and the programs stay together in the installed folder.
  {
    const std::string other = Expand("%SystemDrive%") + "\\Other\\eBrisko";
    PutValue(reg, HKLM, kProductKey, "Version", Sz("0.9.0.0"));
    EXPECT_EQ(RunSetup("/S /D=" + other), 2);
    EXPECT_FALSE(Exists(Expand("%SystemDrive%") + "\\Other"));
    EXPECT_EQ(Machine(kProductKey, "Version"), Sz("0.9.0.0"));
    EXPECT_EQ(Machine(kUninstallKey, "InstallLocation"), Sz(dir.substr(0, dir.size() - 1)));
    const std::string log = Utf16FileText(SetupLog());
    EXPECT_NE(log.find("is installed in \"" + dir.substr(0, dir.size() - 1) + "\""),
              std::string::npos)
        << log;
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    // The same folder named with /D= is an upgrade like any other.
    EXPECT_EQ(RunSetup("/S /D=" + dir.substr(0, dir.size() - 1)), 0) << Utf16FileText(SetupLog());
    EXPECT_EQ(Machine(kProductKey, "Version"), Sz(QB_VERSION));
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
  const std::string restoreFile = FileText(dir + kRestoreFileName);
  const std::string changedFile = FileText(dir + kChangedFileName);
  const auto applied = CatalogueState(reg);

  // What every stopped uninstall must leave: every file, the service, the entries, the values.
  auto expectNothingRemoved = [&](const char* why) {
    for (const char* file : {"eBrisko.exe", "KLService.exe", "ServiceControl.dll",
                             "SpeedSwitches.exe", "msgbox.skn", "Resources\\English_eBrisko.lpk",
                             "Uninstall.exe"})
      EXPECT_TRUE(Exists(dir + file)) << why << ": " << file;
    EXPECT_EQ(FileText(dir + kRestoreFileName), restoreFile) << why;
    EXPECT_EQ(FileText(dir + kChangedFileName), changedFile) << why;
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING)) << why;
    EXPECT_TRUE(Machine(kProductKey, "Version")) << why;
    EXPECT_TRUE(Machine(kUninstallKey, "QuietUninstallString")) << why;
    EXPECT_TRUE(Exists(Shortcut())) << why;
    EXPECT_TRUE(Exists(LanguagePool())) << why;
    EXPECT_EQ(CatalogueState(reg), applied) << why;
    EXPECT_EQ(GetValue(reg, HKLM, kBootDefragKey, kBootDefragValue), Sz("Y")) << why;
  };

  // A hung program: the uninstall asks it to close with a bound, waits for it with a bound
  // and then asks the user, instead of hanging with it.
  {
    TApp app(TDriverProcess::Start(dir + "eBrisko.exe"));
    ASSERT_NE(app.Main, nullptr);
    ASSERT_TRUE(app.Process.Running());
    ASSERT_TRUE(SignalProgram("STOP", "eBrisko.exe")) << "the program could not be stopped";
    const auto start = TClock::now();
    TDriverProcess uninstall = StartUninstallCopy(dir, "");
    HWND confirm = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      HWND page = FindBox(uninstall.Pid());
      return page && (confirm = FindButton(page, "Uninstall")) != nullptr;
    }, 60000));
    ClickButton(confirm);
    HWND prompt = nullptr;
    const bool prompted = WaitUntil([&] {
      return (prompt = FindBox(uninstall.Pid(), "is still running")) != nullptr;
    }, 120000, 100);
    const double promptSeconds = SecondsSince(start);
    SignalProgram("CONT", "eBrisko.exe");
    ASSERT_TRUE(prompted) << "no prompt while the program hangs";
    std::printf("hung program: the uninstall's prompt after %.1f s\n", promptSeconds);
    SaveScreenshot(prompt, ArtifactDir() + "uninstall-program-still-running.bmp");
    ClickButton(FindButton(prompt, "Cancel"));
    // The stopped uninstall shows its page with the reason and ends when that is closed.
    HWND page = nullptr, close = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      if (!uninstall.Running()) return true;
      page = FindBox(uninstall.Pid());
      for (const char* caption : {"Close", "Cancel"})
        if (page && (close = FindButton(page, caption)) != nullptr && ::IsWindowEnabled(close))
          return true;
      return false;
    }, 30000)) << (page ? AllTexts(page) : "no page");
    if (uninstall.Running()) {
      SaveScreenshot(page, ArtifactDir() + "uninstall-stopped-page.bmp");
      ClickButton(close);
    }
    ASSERT_TRUE(uninstall.WaitExit(30000));
    EXPECT_EQ(uninstall.ExitCode(), 2u);
    EXPECT_NE(Utf16FileText(UninstallLog()).find("is still running"), std::string::npos);
    // The program, going on, closes as asked.
    EXPECT_TRUE(app.Process.Running());
    ClickButton(app.Button("Cancel"));
    ASSERT_TRUE(app.Process.WaitExit(20000));
  }
  expectNothingRemoved("hung program");

  // A silent uninstall whose undo fails (another process holds the restore file) waits on no
  // box: the reason goes to its exit code and its log, and nothing is removed.
  {
    TScopedFileHandle lock(::CreateFileW(Utf8ToWide(dir + kRestoreFileName).c_str(), GENERIC_READ,
                                         0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    TDriverProcess uninstall = StartUninstallCopy(dir, "/S");
    const bool ended = uninstall.WaitExit(60000);
    HWND box = FindBox(uninstall.Pid());
    if (box) SaveScreenshot(box, ArtifactDir() + "uninstall-undo-failed-box.bmp");
    ASSERT_TRUE(ended) << "waits on: " << AllTexts(box);
    EXPECT_EQ(uninstall.ExitCode(), 2u);
    const std::string log = Utf16FileText(UninstallLog());
    EXPECT_NE(log.find("could not be put back, so nothing has been removed"), std::string::npos)
        << log;
    EXPECT_NE(log.find(kRestoreFileName), std::string::npos) << log;
  }
  expectNothingRemoved("locked restore file");

  // A damaged backup never turns into writes: the uninstall keeps both files and says why.
  {
    const std::string cut = restoreFile.substr(0, restoreFile.size() / 2);
    { std::ofstream(fs::path(Utf8ToWide(dir + kRestoreFileName)), std::ios::binary) << cut; }
    TDriverProcess uninstall = StartUninstallCopy(dir, "/S");
    ASSERT_TRUE(uninstall.WaitExit(60000));
    EXPECT_EQ(uninstall.ExitCode(), 2u);
    EXPECT_EQ(FileText(dir + kRestoreFileName), cut);
    const std::string log = Utf16FileText(UninstallLog());
    EXPECT_NE(log.find("could not be put back, so nothing has been removed"), std::string::npos)
        << log;
    { std::ofstream(fs::path(Utf8ToWide(dir + kRestoreFileName)), std::ios::binary) << restoreFile; }
  }
  expectNothingRemoved("damaged restore file");

  // The uninstall as the system runs it: the quiet command of the installed-programs entry.
  // The uninstaller goes on in a copy of itself, so its end is seen in what it removes last.
  const auto start = TClock::now();
  TDriverProcess uninstall = TDriverProcess::Start(dir + "Uninstall.exe", "/S");
  ASSERT_TRUE(uninstall.WaitExit(30000));
  EXPECT_EQ(uninstall.ExitCode(), 0u);
  ASSERT_TRUE(WaitUntil([&] { return !KeyExists(kUninstallKey) && !Exists(LanguagePool()); },
                        120000, 50))
      << Utf16FileText(UninstallLog());
  const double uninstallSeconds = SecondsSince(start);
  std::printf("silent install: %.1f s, silent uninstall: %.1f s\n", installSeconds,
              uninstallSeconds);

  const auto after = CatalogueState(reg);
  for (const auto& [id, value] : before)
    EXPECT_EQ(after.at(id), value) << std::get<1>(id) << " " << std::get<2>(id);
  EXPECT_EQ(ServiceState(), 0u);
  EXPECT_FALSE(Exists(dir));
  EXPECT_FALSE(Exists(Expand("%ProgramFiles%") + "\\Quor"));
  EXPECT_FALSE(Exists(Shortcut()));
  // The registry as it was before the install, the boot defragmentation key and the keys the
  // switches created included; the family's key stays as the other product left it.
  EXPECT_EQ(ExportDifferences(exportBefore, ExportRegistry()), "");
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

TEST_F(SetupE2E, AFolderOfTheUsersChoiceIsMadeNewAndOneHoldingFilesIsRefused) {
  const std::string drive = Expand("%SystemDrive%");
  // A folder that holds anything is refused before anything changes.
  const std::string used = drive + "\\Tools\\eBrisko";
  fs::create_directories(fs::path(Utf8ToWide(used)));
  { std::ofstream(fs::path(Utf8ToWide(used + "\\eBrisko.exe")), std::ios::binary) << "not ours"; }
  EXPECT_EQ(RunSetup("/S /LANG=English /D=" + used), 2);
  const std::string log = Utf16FileText(SetupLog());
  EXPECT_NE(log.find("\"" + used + "\" is not empty"), std::string::npos) << log;
  EXPECT_EQ(FileText(used + "\\eBrisko.exe"), "not ours");
  EXPECT_FALSE(Exists(used + "\\Uninstall.exe"));
  EXPECT_FALSE(KeyExists(kUninstallKey));
  EXPECT_FALSE(Machine(kProductKey, "Version"));
  EXPECT_EQ(ServiceState(), 0u);
  fs::remove_all(fs::path(Utf8ToWide(drive + "\\Tools")));

  // A new folder outside Program Files, its parent with it, is made and installed into.
  const std::string mine = drive + "\\Apps\\Quor eBrisko";
  ASSERT_EQ(RunSetup("/S /LANG=English /D=" + mine), 0) << Utf16FileText(SetupLog());
  EXPECT_TRUE(Exists(mine + "\\eBrisko.exe"));
  EXPECT_EQ(Machine(kUninstallKey, "InstallLocation"), Sz(mine));
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  {
    TApp app(TDriverProcess::Start(mine + "\\eBrisko.exe"));
    ASSERT_NE(app.Main, nullptr);
    ClickButton(app.Button("Cancel"));
    EXPECT_TRUE(app.Process.WaitExit(20000));
  }
  TDriverProcess uninstall = TDriverProcess::Start(mine + "\\Uninstall.exe", "/S");
  ASSERT_TRUE(uninstall.WaitExit(30000));
  ASSERT_TRUE(WaitUntil([&] { return !KeyExists(kUninstallKey) && !Exists(mine); }, 120000, 50))
      << Utf16FileText(UninstallLog());
  EXPECT_EQ(ServiceState(), 0u);
  fs::remove_all(fs::path(Utf8ToWide(drive + "\\Apps")));
}

TEST_F(SetupE2E, ASetupWhoseServiceCannotStartSaysSoAndExitsNonZero) {
  const std::string dir = InstallDir();
  {
    // Another program holds the service's port, so the service ends as soon as it starts.
    TPortHolder port(kServicePortNumber);
    ASSERT_TRUE(port.Held());
    EXPECT_EQ(RunSetup("/S /LANG=English"), 2);
    const std::string log = Utf16FileText(SetupLog());
    EXPECT_NE(log.find("The service KLService could not be set up (stopped"), std::string::npos)
        << log;
    EXPECT_NE(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    // What was installed is complete: it can be set up again or removed.
    EXPECT_TRUE(Exists(dir + "Uninstall.exe"));
    EXPECT_TRUE(KeyExists(kUninstallKey));
  }
  // With the port free again, the setup run again brings the service up.
  ASSERT_EQ(RunSetup("/S"), 0) << Utf16FileText(SetupLog());
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  TDriverProcess uninstall = TDriverProcess::Start(dir + "Uninstall.exe", "/S");
  ASSERT_TRUE(uninstall.WaitExit(30000));
  ASSERT_TRUE(WaitUntil([&] { return !KeyExists(kUninstallKey) && !Exists(dir); }, 120000, 50))
      << Utf16FileText(UninstallLog());
}

}  // namespace
