// The help launcher on the machine: the registered control, the viewer opened on the language
// pack's help file, the debug log of a run, a control whose registration is gone, and a pack
// without a help file. Each request runs in a probe process of its own, as the program would.
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"
#include "help/hh.h"
#include "help/hh_funcs_win.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path WinPath(const std::string& utf8) { return fs::path(Utf8ToWide(utf8)); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(WinPath(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh folder below the test's temporary folder.
std::string FreshDir(const std::string& name) {
  wchar_t temp[MAX_PATH + 1];
  ::GetTempPathW(MAX_PATH + 1, temp);
  const fs::path dir = fs::path(temp) / ("qb-help-" + name);
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  return WideToUtf8(dir.wstring()) + "\\";
}

struct TProbeRun {
  unsigned long ExitCode = 0;
  std::map<std::string, std::string> Values;  // result, viewer, closed
  std::string ViewerTitle;                     // of a viewer found while the probe held it
  long TocEntries = -1;                        // entries of the viewer's table of contents
};

// The number of entries in a help project's table of contents source.
long TocEntriesOf(const std::string& language) {
  const std::string toc = ReadAll(std::string(QB_SOURCE_DIR) + "/packs/" + language + "/help/toc.hhc");
  long n = 0;
  for (size_t at = toc.find("text/sitemap"); at != std::string::npos; at = toc.find("text/sitemap", at + 1)) ++n;
  return n;
}

// Runs the probe from exe with the second parameter slot and the pack (or "-"), keeping a
// viewer up for holdMs; screenshot names the kept picture of the viewer when one shows.
TProbeRun RunProbe(const std::string& exe, const std::string& dir, const std::string& slot,
                   const std::string& pack, int holdMs, const std::string& screenshot = {}) {
  const std::string result = dir + "probe-result.txt";
  TDriverProcess p = TDriverProcess::Start(
      exe, "\"" + result + "\" " + slot + " \"" + pack + "\" " + std::to_string(holdMs));
  TProbeRun run;
  if (HWND viewer = WaitForTopWindow("HH Parent", nullptr, p.Pid(), holdMs > 0 ? holdMs : 1)) {
    run.ViewerTitle = WindowText(viewer);
    ::Sleep(300);  // let it paint before the picture is taken
    if (HWND tree = FindChildWindow(viewer, "SysTreeView32"))
      run.TocEntries = static_cast<long>(::SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    if (!screenshot.empty()) SaveScreenshot(viewer, ArtifactDir() + screenshot);
  }
  EXPECT_TRUE(p.WaitExit(holdMs + 30000)) << "probe hangs";
  run.ExitCode = p.ExitCode();
  std::istringstream lines(ReadAll(result));
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) run.Values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return run;
}

std::string Probe() { return TestBinDir() + "help_probe.exe"; }
std::string Pack(const std::string& language) {
  return TestBinDir() + "Resources\\" + language + "_eBrisko.lpk";
}

// Removes the help control's registration for its lifetime and puts every value back after.
class TRegistrationRemoved {
 public:
  TRegistrationRemoved() {
    const std::wstring key = Utf8ToWide(kHelpControlKey);
    TScopedRegKey k;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
      return;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD nameLen = 256, type = 0, size = 0;
      if (::RegEnumValueW(k.get(), i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        break;
      std::vector<BYTE> data(size);
      nameLen = 256;
      ::RegEnumValueW(k.get(), i, name, &nameLen, nullptr, &type, data.data(), &size);
      FValues.push_back({std::wstring(name, nameLen), type, data});
    }
    k.reset();
    // Given a subkey, the call deletes that key too.
    FRemoved = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()) == ERROR_SUCCESS &&
               ::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.put()) ==
                   ERROR_FILE_NOT_FOUND;
  }
  ~TRegistrationRemoved() {
    if (FValues.empty()) return;
    TScopedRegKey k;
    ::RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(kHelpControlKey).c_str(), 0, nullptr, 0,
                      KEY_WRITE, nullptr, k.put(), nullptr);
    for (const TValue& v : FValues) {
      ::RegSetValueExW(k.get(), v.Name.c_str(), 0, v.Type, v.Data.data(),
                       static_cast<DWORD>(v.Data.size()));
    }
  }
  bool Removed() const { return FRemoved; }

 private:
  struct TValue {
    std::wstring Name;
    DWORD Type;
    std::vector<BYTE> Data;
  };
  std::vector<TValue> FValues;
  bool FRemoved = false;
};

TEST(HelpWin, TheRegisteredControlIsFoundWithItsVersion) {
  const std::string control = FindHelpControl();
  ASSERT_FALSE(control.empty());
  const TFileVersion v = SystemHelpPlatform().FileVersion(control);
  EXPECT_FALSE(v.Text.empty());
  EXPECT_NE(HHFriendlyName(v), "");
}

TEST(HelpWin, RequestOpensTheViewerOnThePacksHelpFile) {
  const struct {
    const char* Language;
    const char* Title;  // the help file's own title, shown by the viewer
  } packs[] = {{"English", "Quor eBrisko Management Help"},
               {"German", "Hilfe zu Quor eBrisko Management"}};
  for (const auto& pack : packs) {
    const std::string dir = FreshDir(std::string("viewer-") + pack.Language);
    TProbeRun run = RunProbe(Probe(), dir, "x", Pack(pack.Language), 4000,
                                   std::string("help_viewer_") + pack.Language + ".bmp");
    EXPECT_EQ(run.ExitCode, 0u) << pack.Language;
    EXPECT_EQ(run.Values["result"], "0");
    EXPECT_EQ(run.Values["viewer"], "1");
    // The control is loaded by the request, not by the module's start.
    EXPECT_EQ(run.Values["loaded_at_start"], "0");
    EXPECT_EQ(run.ViewerTitle, pack.Title);
    // The viewer read the compiled contents: every entry of the source is in its tree.
    EXPECT_EQ(run.TocEntries, TocEntriesOf(pack.Language));
    // Closing the viewers before the control goes keeps the program from crashing at exit.
    EXPECT_EQ(run.Values["closed"], "1");
  }
}

TEST(HelpWin, DebugSwitchAsSecondParameterLogsTheHeaderAndTheRequest) {
  // The log lives beside the program: a copy of the probe in a folder of its own.
  const std::string dir = FreshDir("debug");
  const std::string exe = dir + "help_probe.exe";
  ASSERT_TRUE(::CopyFileW(Utf8ToWide(Probe()).c_str(), Utf8ToWide(exe).c_str(), FALSE));

  TProbeRun run = RunProbe(exe, dir, "/DEBUG", "-", 0);
  EXPECT_EQ(run.ExitCode, 0u);
  const std::string log = ReadAll(dir + "HHDebug.txt");
  const std::string version = SystemHelpPlatform().FileVersion(FindHelpControl()).Text;
  ASSERT_FALSE(version.empty());
  EXPECT_NE(log.find("Filename:             \t" + dir + "HHDebug.txt\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Cmdline Param(s) =  \t" + dir + "probe-result.txt | /DEBUG | - | 0\r\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find("_hhInstalled =      \tYES\r\n"), std::string::npos);
  EXPECT_NE(log.find("_hhVerStr =         \t" + version + "\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n" + std::string(79, '=') + "\r\n"), std::string::npos);
  EXPECT_NE(log.find("   ShowTopic(\"/html/Quor-eBrisko.htm\", 0)\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("     returned - 0\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(WinPath(dir + "$_Temp_$.$$$")));

  // The next run without the switch starts without a log.
  RunProbe(exe, dir, "nodebug", "-", 0);
  EXPECT_FALSE(fs::exists(WinPath(dir + "HHDebug.txt")));
}

TEST(HelpWin, WithoutTheControlsRegistrationARequestShowsNothing) {
  const std::string before = FindHelpControl();
  {
    TRegistrationRemoved removed;
    ASSERT_TRUE(removed.Removed());
    ASSERT_EQ(FindHelpControl(), "");
    TProbeRun run = RunProbe(Probe(), FreshDir("unregistered"), "x", Pack("English"), 1500);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(run.Values["result"], "1");
    EXPECT_EQ(run.Values["viewer"], "0");
    EXPECT_EQ(run.ViewerTitle, "");
  }
  EXPECT_EQ(FindHelpControl(), before);
}

TEST(HelpWin, PackWithoutTheHelpFileEndsWithoutACrash) {
  TProbeRun run = RunProbe(Probe(), FreshDir("nohelp"), "x",
                                 TestBinDir() + "help-fixtures\\NoHelp_eBrisko.lpk", 1500,
                                 "help_without_file.bmp");
  EXPECT_EQ(run.ExitCode, 0u);
  // The request names the topic alone; the control reports a file it cannot open itself.
  EXPECT_EQ(run.Values["result"], "0");
  EXPECT_EQ(run.Values["closed"], "1");
  RecordProperty("viewer", run.Values["viewer"]);
}

}  // namespace
