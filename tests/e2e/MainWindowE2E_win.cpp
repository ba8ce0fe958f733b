// The main window as its user meets it, against the installed KLService: figures, Optimize,
// the schedule across restarts, a second start, "exit", About, the usage check, screenshots.
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "e2e/ServiceEnvironment_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

const std::string kTitle = "Quor eBrisko Management";

// The first label below window whose text starts with prefix.
std::string LabelStartingWith(HWND window, const std::string& prefix) {
  struct TSearch {
    std::string Prefix, Found;
  } s{prefix, {}};
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<TSearch*>(p);
    const std::string text = WindowText(child);
    if (text.compare(0, s->Prefix.size(), s->Prefix) == 0) {
      s->Found = text;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

// The number in front of " MB" in a gauge text such as "Used: 640 MB (63%)".
long long MegabytesOf(const std::string& text) {
  const size_t colon = text.find(": ");
  return colon == std::string::npos ? -1 : std::atoll(text.c_str() + colon + 2);
}

std::string ServiceLog() {
  std::ifstream in(TestBinDir() + "KLService.log", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The message box of the program with its texts, once it is up.
HWND WaitForBox(const TMainWindowRun& app) {
  return WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid(), 30000);
}

std::string AllTexts(HWND window) {
  std::string all;
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    *reinterpret_cast<std::string*>(p) += WindowText(child) + "\n";
    return TRUE;
  }, reinterpret_cast<LPARAM>(&all));
  return all;
}

class MainWindowE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartTestService()); }
  void TearDown() override { SetLanguageSetting(""); }
};

TEST_F(MainWindowE2E, OpensWithLiveFiguresAndOptimizeReachesTheService) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  EXPECT_EQ(WindowText(app.Main), kTitle);
  // The gauge shows the system's memory status (read here the same way).
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
  const long long totalMb = static_cast<long long>(status.ullTotalPhys / (1024 * 1024));
  std::string used, free;
  ASSERT_TRUE(WaitUntil([&] {
    used = LabelStartingWith(app.Main, "Used: ");
    free = LabelStartingWith(app.Main, "Free: ");
    return used.find(" MB (") != std::string::npos && used.find("94 MB") == std::string::npos;
  }, 5000)) << used;
  EXPECT_NEAR(MegabytesOf(used) + MegabytesOf(free), totalMb, 2) << used << " / " << free;
  EXPECT_NEAR(MegabytesOf(free), static_cast<double>(status.ullAvailPhys / (1024 * 1024)), totalMb / 10.0);

  const size_t before = ServiceLog().size();
  ClickButton(app.Control("Button", "Optimize"));
  EXPECT_TRUE(WaitUntil([&] {
    return ServiceLog().find("memory freed (request)", before) != std::string::npos;
  }, 20000)) << ServiceLog().substr(before);
  app.Exit();
}

TEST_F(MainWindowE2E, TheScheduleSetInTheWindowIsWhatTheServiceKeeps) {
  {
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    if (app.Checked("Enable Scheduled Optimization")) {
      // A schedule left by an earlier run: start from none.
      ClickButton(app.Control("Button", "Enable Scheduled Optimization"));
      WaitUntil([&] { return !app.Checked("Enable Scheduled Optimization"); }, 3000);
      ClickButton(app.Control("Button", "Apply"));
      ::Sleep(500);
    }
    ClickButton(app.Control("Button", "Enable Scheduled Optimization"));
    ASSERT_TRUE(WaitUntil([&] { return app.Checked("1 hour"); }, 5000));
    ClickButton(app.Control("Button", "30 minutes"));
    ASSERT_TRUE(WaitUntil([&] { return app.Checked("30 minutes"); }, 5000));
    HWND apply = app.Control("Button", "Apply");
    EXPECT_TRUE(::IsWindowEnabled(apply));
    ClickButton(app.Control("Button", "OK"));
    EXPECT_TRUE(app.Process.WaitExit(20000));
  }
  TMainWindowRun again = TMainWindowRun::Start();
  ASSERT_NE(again.Main, nullptr);
  EXPECT_TRUE(again.Checked("Enable Scheduled Optimization"));
  EXPECT_TRUE(again.Checked("30 minutes"));
  EXPECT_FALSE(::IsWindowEnabled(again.Control("Button", "Apply")));
  // Cancel applies nothing: untick, cancel, and the schedule is still on.
  ClickButton(again.Control("Button", "Enable Scheduled Optimization"));
  ClickButton(again.Control("Button", "Cancel"));
  EXPECT_TRUE(again.Process.WaitExit(20000));
  TMainWindowRun third = TMainWindowRun::Start();
  EXPECT_TRUE(third.Checked("Enable Scheduled Optimization"));
  // Leave no schedule behind.
  ClickButton(third.Control("Button", "Enable Scheduled Optimization"));
  WaitUntil([&] { return !third.Checked("Enable Scheduled Optimization"); }, 3000);
  ClickButton(third.Control("Button", "OK"));
  EXPECT_TRUE(third.Process.WaitExit(20000));
}

TEST_F(MainWindowE2E, ASecondStartRestoresTheWindowAndExitClosesIt) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  ::SendMessageW(app.Main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(app.Main); }, 5000));
  TDriverProcess second = TDriverProcess::Start(TestBinDir() + "eBrisko.exe");
  EXPECT_TRUE(second.WaitExit(20000));
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(app.Main) != FALSE; }, 10000));
  EXPECT_TRUE(app.Process.Running());
  app.Exit();
  EXPECT_EQ(FindTopWindow("TfmPerformance", &kTitle, app.Process.Pid()), nullptr);
}

TEST_F(MainWindowE2E, AboutOpensAndCloses) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  ClickButton(app.Control("Button", "About"));
  const std::string caption = "About";
  HWND about = WaitForTopWindow("TAboutBox", &caption, app.Process.Pid(), 10000);
  ASSERT_NE(about, nullptr);
  EXPECT_FALSE(::IsWindowEnabled(app.Main));  // modal
  EXPECT_NE(AllTexts(about).find("Version "), std::string::npos);
  const std::string ok = "OK";
  ClickButton(FindChildWindow(about, "Button", &ok));
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about) || !::IsWindowVisible(about); }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(app.Main) != FALSE; }, 5000));
  app.Exit();
}

TEST_F(MainWindowE2E, F1AndTheHelpButtonOpenTheHelpViewer) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  // F1 released while a control deep in the window has the focus.
  HWND check = app.Control("Button", "Turbo Startup");
  ASSERT_NE(check, nullptr);
  SendKey(check, VK_F1);
  HWND viewer = WaitForTopWindow("HH Parent", nullptr, app.Process.Pid(), 15000);
  ASSERT_NE(viewer, nullptr);
  // The viewer comes up in front of the main window.
  EXPECT_TRUE(WaitUntil([&] {
    if (!::IsWindowVisible(viewer)) return false;
    for (HWND w = ::GetTopWindow(nullptr); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
      if (w == viewer) return true;
      if (w == app.Main) return false;
    }
    return false;
  }, 10000));
  ::Sleep(300);
  SaveScreenshot(viewer, ArtifactDir() + "help-from-f1.bmp");
  ::PostMessageW(viewer, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(viewer); }, 10000));
  ClickButton(app.Control("Button", "Help"));
  EXPECT_NE(WaitForTopWindow("HH Parent", nullptr, app.Process.Pid(), 15000), nullptr);
  app.Exit();
}

TEST_F(MainWindowE2E, TheUsageCheckAsksThenShowsItsVerdict) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  ClickButton(app.Control("Button", "Check"));
  HWND confirm = WaitForBox(app);
  ASSERT_NE(confirm, nullptr);
  EXPECT_NE(AllTexts(confirm).find("Memory will be adjusted for usage check. Proceed?"), std::string::npos);
  const std::string yes = "Yes";
  ClickButton(FindChildWindow(confirm, "Button", &yes));
  HWND verdict = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    verdict = FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid());
    return verdict && verdict != confirm && AllTexts(verdict).find("memory.") != std::string::npos;
  }, 30000));
  const std::string texts = AllTexts(verdict);
  EXPECT_TRUE(texts.find("You should upgrade your memory.") != std::string::npos ||
              texts.find("You do not have to upgrade your memory.") != std::string::npos) << texts;
  SaveScreenshot(verdict, ArtifactDir() + "usage-check-verdict.bmp");
  const std::string ok = "OK";
  ClickButton(FindChildWindow(verdict, "Button", &ok));
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(app.Main) != FALSE; }, 5000));
  app.Exit();
}

// Sets a DWORD limit of the service (nullptr value: removes it).
void SetServiceLimit(const wchar_t* name, const DWORD* value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              L"SYSTEM\\CurrentControlSet\\Services\\KLService\\Parameters", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  TScopedRegKey owned(key);
  if (value)
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(value), sizeof *value);
  else
    ::RegDeleteValueW(key, name);
}

TEST_F(MainWindowE2E, AWindowLeftOpenPastTheServicesLimitsStaysConnected) {
  // Every time limit of the service made short; a quiet window outlasts them all.
  const wchar_t* limits[] = {L"UnfinishedLineMs", L"RecentRequestMs", L"StalledSendMs"};
  const DWORD shortMs = 300;
  ASSERT_TRUE(StopTestService());
  for (const wchar_t* name : limits) SetServiceLimit(name, &shortMs);
  ASSERT_TRUE(StartTestService());
  {
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    ::Sleep(3000);
    const size_t before = ServiceLog().size();
    ClickButton(app.Control("Button", "Optimize"));
    EXPECT_TRUE(WaitUntil([&] {
      return ServiceLog().find("memory freed (request)", before) != std::string::npos;
    }, 20000));
    EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid()), nullptr);
    EXPECT_TRUE(app.Process.Running());
    app.Exit();
  }
  ASSERT_TRUE(StopTestService());
  for (const wchar_t* name : limits) SetServiceLimit(name, nullptr);
  ASSERT_TRUE(StartTestService());
}

TEST_F(MainWindowE2E, ScreenshotsInEnglishAndGerman) {
  for (const char* language : {"English", "German"}) {
    SetLanguageSetting(language);
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    if (std::string(language) == "German") {
      EXPECT_NE(app.Control("Button", "Optimieren"), nullptr);
      EXPECT_NE(app.Control("Button", "30 Minuten"), nullptr);
    }
    // Live figures first.
    WaitUntil([&] { return LabelStartingWith(app.Main, std::string(language) == "German" ? "Belegt: " : "Used: ").find("94 MB") == std::string::npos; }, 5000);
    ::Sleep(1200);
    EXPECT_TRUE(SaveScreenshot(app.Main, ArtifactDir() + "main-window-" + language + ".bmp"));
    app.Exit();
  }
}

}  // namespace
