// The main window under a keyboard, a mouse and a slow service: gauge figures that never
// collide, the focus back on its control after each modal window, the default outline on the
// focused button, the About window following the mouse, a clean end after the service stops,
// and a window that keeps answering while a request waits.
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "e2e/ServiceEnvironment_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const std::string kTitle = "Quor eBrisko Management";

// The label below window whose text starts with prefix, or null.
HWND LabelStartingWith(HWND window, const std::string& prefix) {
  struct TSearch {
    std::string Prefix;
    HWND Found = nullptr;
  } s{prefix};
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    auto* s = reinterpret_cast<TSearch*>(p);
    if (WindowText(child).compare(0, s->Prefix.size(), s->Prefix) == 0) {
      s->Found = child;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

// The window that has the keyboard focus in the thread of window.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// A key pressed on the focused control of window's thread, as the keyboard would.
void PressKey(HWND window, unsigned vk) {
  HWND target = FocusOf(window);
  SendKey(target ? target : window, vk);
}

RECT ScreenRect(HWND wnd) {
  RECT r{};
  ::GetWindowRect(wnd, &r);
  return r;
}

bool Apart(const RECT& a, const RECT& b) {
  RECT both;
  return !::IntersectRect(&both, &a, &b);
}

class WindowPolishE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartTestService()); }
  void TearDown() override { SetLanguageSetting(""); }
};

// For the big machines run it with a fake memory status: a bind-mounted /proc/meminfo for the
// available memory and tests/support/FakeSysinfo.c preloaded for the total (Wine reads the two
// from different places). The screenshots are named after the total the program sees.
TEST_F(WindowPolishE2E, GaugeLabelsNeverMeetAtThisMachinesFigures) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
  const std::string gb = std::to_string((status.ullTotalPhys + (512ull << 20)) >> 30);
  for (const char* language : {"English", "German"}) {
    SetLanguageSetting(language);
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    const bool german = std::string(language) == "German";
    HWND used = nullptr, free = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      used = LabelStartingWith(app.Main, german ? "Belegt: " : "Used: ");
      free = LabelStartingWith(app.Main, german ? "Frei: " : "Free: ");
      return used && free && WindowText(used).find("94 MB") == std::string::npos;
    }, 10000));
    const RECT u = ScreenRect(used), f = ScreenRect(free), group = ScreenRect(::GetParent(used));
    EXPECT_TRUE(Apart(u, f)) << WindowText(used) << " | " << WindowText(free);
    for (const RECT& r : {u, f}) {
      EXPECT_GE(r.left, group.left + 6);
      EXPECT_LE(r.right, group.left + 247);
    }
    ::Sleep(300);
    EXPECT_TRUE(SaveScreenshot(app.Main, ArtifactDir() + "main-gauge-" + gb + "GB-" + language + ".bmp"));
    app.Exit();
  }
}

TEST_F(WindowPolishE2E, TheFocusComesBackToItsControlAfterEachModalWindow) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  // The focus starts on a control, the first in the tab order, not on the window itself.
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(app.Main) == app.Button("About"); }, 5000))
      << WindowText(FocusOf(app.Main));
  HWND box = app.Button("Enable Scheduled Optimization");
  ASSERT_NE(box, nullptr);
  PressKey(app.Main, VK_TAB);
  PressKey(app.Main, VK_TAB);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(app.Main) == box; }, 5000)) << WindowText(FocusOf(app.Main));

  // About, clicked (a banner button leaves the focus where it is) and closed with its OK.
  ClickButton(app.Button("About"));
  const std::string about = "About";
  HWND aboutBox = WaitForTopWindow("TAboutBox", &about, app.Process.Pid(), 10000);
  ASSERT_NE(aboutBox, nullptr);
  EXPECT_EQ(::GetWindow(aboutBox, GW_OWNER), app.Main);
  const std::string ok = "OK";
  ClickButton(FindChildWindow(aboutBox, "Button", &ok));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(aboutBox); }, 10000));
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(app.Main) == box; }, 5000)) << WindowText(FocusOf(app.Main));

  // Space turns the schedule on (selecting "1 hour" when no period is); Tab then enters the
  // period group at its selected item.
  const bool wasOn = app.Checked("Enable Scheduled Optimization");
  if (!wasOn) {
    PressKey(app.Main, VK_SPACE);
    ASSERT_TRUE(WaitUntil([&] { return app.Checked("Enable Scheduled Optimization"); }, 5000));
  }
  PressKey(app.Main, VK_TAB);
  EXPECT_TRUE(WaitUntil([&] {
    HWND f = FocusOf(app.Main);
    return f && ::GetParent(f) == ::GetParent(app.Button("1 hour")) &&
           ::SendMessageW(f, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }, 5000)) << WindowText(FocusOf(app.Main));
  ::SendMessageW(box, BM_CLICK, 0, 0);  // back to the box (a click on a check box focuses it)
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(app.Main) == box; }, 5000));

  // The usage check's question: Tab moves the focus, and the default outline with it, to "No".
  // A click on "Check", a push button of the window, gives it the focus as in any dialog.
  HWND check = app.Button("Check");
  ClickButton(check);
  HWND question = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid(), 10000);
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(::GetWindow(question, GW_OWNER), app.Main);
  const std::string yes = "Yes", no = "No";
  HWND yesButton = FindChildWindow(question, "Button", &yes);
  HWND noButton = FindChildWindow(question, "Button", &no);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(question) == yesButton; }, 5000));
  PressKey(question, VK_TAB);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(question) == noButton; }, 5000));
  ::Sleep(300);
  // The outline is the darker ring one pixel inside the edge, half way down the left side.
  auto ring = [](HWND button) {
    const RECT r = ScreenRect(button);
    HDC screen = ::GetDC(nullptr);
    const COLORREF c = ::GetPixel(screen, r.left + 1, (r.top + r.bottom) / 2);
    ::ReleaseDC(nullptr, screen);
    return c;
  };
  EXPECT_EQ(ring(noButton), RGB(25, 60, 60));  // the theme's focus colour
  EXPECT_NE(ring(yesButton), RGB(25, 60, 60));
  EXPECT_TRUE(SaveScreenshot(question, ArtifactDir() + "question-focus-on-no.bmp"));
  // Enter presses the focused "No": the check does not run.
  PressKey(question, VK_RETURN);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(question); }, 10000));
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(app.Main) == check; }, 5000)) << WindowText(FocusOf(app.Main));
  EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid()), nullptr);
  app.Exit();
}

// Real mouse input: the pointer leaves the caption strip at every step unless it holds the mouse.
TEST_F(WindowPolishE2E, TheAboutWindowFollowsALongDragInFiveSteps) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  ClickButton(app.Button("About"));
  const std::string about = "About";
  HWND box = WaitForTopWindow("TAboutBox", &about, app.Process.Pid(), 10000);
  ASSERT_NE(box, nullptr);
  HWND caption = FindChildWindow(box, "Static", &kTitle);
  ASSERT_NE(caption, nullptr);
  ::Sleep(300);
  const RECT before = ScreenRect(box);
  const RECT strip = ScreenRect(caption);
  const int screenW = ::GetSystemMetrics(SM_CXSCREEN), screenH = ::GetSystemMetrics(SM_CYSCREEN);
  auto mouse = [&](DWORD flags, int x, int y) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = (x * 65536 + screenW / 2) / screenW;
    in.mi.dy = (y * 65536 + screenH / 2) / screenH;
    in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof in);
  };
  int x = strip.left + 40, y = (strip.top + strip.bottom) / 2;
  mouse(0, x, y);
  ::Sleep(200);
  mouse(MOUSEEVENTF_LEFTDOWN, x, y);
  ::Sleep(200);
  for (int step = 1; step <= 5; ++step) {
    x += 20;
    y += 20;
    const RECT was = ScreenRect(box);
    mouse(0, x, y);
    EXPECT_TRUE(WaitUntil([&] { return ScreenRect(box).top != was.top; }, 3000)) << "step " << step;
  }
  mouse(MOUSEEVENTF_LEFTUP, x, y);
  const RECT after = ScreenRect(box);
  // One pixel more than the pointer's travel at the first step, as the drag is designed.
  EXPECT_GE(after.left - before.left, 100);
  EXPECT_LE(after.left - before.left, 105);
  EXPECT_GE(after.top - before.top, 100);
  EXPECT_LE(after.top - before.top, 105);
  EXPECT_TRUE(SaveScreenshot(box, ArtifactDir() + "about-dragged.bmp"));
  const std::string ok = "OK";
  ClickButton(FindChildWindow(box, "Button", &ok));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000));
  app.Exit();
}

// Run it with freed memory filled (GlobalFlag 0x70, set here for the program) and WINEDEBUG=+seh:
// the log of the run then shows every access violation the ending program would hit.
TEST_F(WindowPolishE2E, TheProgramEndsCleanlyAfterTheServiceStops) {
  const wchar_t ifeo[] =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\eBrisko.exe";
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, ifeo, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
  const DWORD flags = 0x70;  // tail and free checking, parameter checking
  ::RegSetValueExW(key, L"GlobalFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), sizeof flags);
  ::RegCloseKey(key);
  {
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    ASSERT_TRUE(StopTestService());
    HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid(), 20000);
    ASSERT_NE(box, nullptr);
    const std::string ok = "OK";
    ClickButton(FindChildWindow(box, "Button", &ok));
    EXPECT_TRUE(app.Process.WaitExit(20000));
    EXPECT_EQ(app.Process.ExitCode(), 0u);
  }
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, ifeo);
  StartTestService();
}

// The viewer of the help control takes seconds to settle under Wine; the window goes on
// answering meanwhile.
TEST_F(WindowPolishE2E, TheWindowKeepsAnsweringWhileTheHelpViewerStarts) {
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  PressKey(app.Main, VK_F1);
  int asked = 0, late = 0;
  ULONGLONG longest = 0;
  HWND viewer = nullptr;
  const ULONGLONG start = ::GetTickCount64();
  while (::GetTickCount64() - start < 14000) {
    DWORD_PTR result = 0;
    const ULONGLONG sent = ::GetTickCount64();
    ++asked;
    if (!::SendMessageTimeoutW(app.Main, WM_NULL, 0, 0, SMTO_BLOCK, 200, &result)) {
      ++late;
      // How long the window stays silent.
      ::SendMessageTimeoutW(app.Main, WM_NULL, 0, 0, SMTO_BLOCK, 20000, &result);
    }
    longest = std::max(longest, ::GetTickCount64() - sent);
    if (!viewer) viewer = FindTopWindow("HH Parent", nullptr, app.Process.Pid());
    ::Sleep(100);
  }
  EXPECT_NE(viewer, nullptr);
  EXPECT_EQ(late, 0) << late << " of " << asked << " messages waited longer than 200 ms; the longest "
                     << longest << " ms";
  if (viewer) ::PostMessageW(viewer, WM_CLOSE, 0, 0);
  app.Exit();
}

// A stand-in for the service on its port: answers every request at once, except Optimize,
// whose answer comes after a delay.
class TSlowService {
 public:
  explicit TSlowService(int delayMs) : FDelayMs(delayMs) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    FListen = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = ::htons(2804);
    a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    BOOL reuse = TRUE;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    FListening = ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(FListen, 4) == 0;
    if (FListening) FThread = std::thread([this] { Serve(); });
  }
  ~TSlowService() {
    FStop = true;
    ::closesocket(FListen);
    if (FClient != INVALID_SOCKET) ::closesocket(FClient);
    if (FThread.joinable()) FThread.join();
    ::WSACleanup();
  }
  bool Listening() const { return FListening; }
  bool OptimizeAnswered() const { return FAnswered; }
  bool OptimizeAsked() const { return FAsked; }

 private:
  void Serve() {
    FClient = ::accept(FListen, nullptr, nullptr);
    if (FClient == INVALID_SOCKET) return;
    std::string pending;
    char chunk[4096];
    while (!FStop) {
      const int n = ::recv(FClient, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      pending.append(chunk, static_cast<size_t>(n));
      for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        // "GetInfo N,..." is answered with "N," and the answer text (empty here).
        const size_t blank = line.find(' '), comma = line.find(',');
        if (blank == std::string::npos || comma == std::string::npos) continue;
        const std::string seq = line.substr(blank + 1, comma - blank - 1);
        const bool optimize = line.find("\"optimi.free\"") != std::string::npos;
        if (optimize) {
          FAsked = true;
          for (int waited = 0; waited < FDelayMs && !FStop; waited += 50) ::Sleep(50);
        }
        const std::string answer = seq + ",\r\n";
        ::send(FClient, answer.data(), static_cast<int>(answer.size()), 0);
        if (optimize) FAnswered = true;
      }
    }
  }

  int FDelayMs;
  SOCKET FListen = INVALID_SOCKET;
  SOCKET FClient = INVALID_SOCKET;
  bool FListening = false;
  std::atomic<bool> FStop{false}, FAsked{false}, FAnswered{false};
  std::thread FThread;
};

TEST(SlowServiceE2E, TheWindowKeepsAnsweringWhileARequestWaits) {
  ASSERT_TRUE(StopTestService());
  {
    TSlowService service(8000);
    ASSERT_TRUE(service.Listening());
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    HWND optimize = app.Button("Optimize");
    ASSERT_NE(optimize, nullptr);
    ClickButton(optimize);
    ASSERT_TRUE(WaitUntil([&] { return service.OptimizeAsked(); }, 5000));
    // Every 100 ms a message the window must answer within 200 ms, until the answer came.
    int asked = 0, late = 0;
    bool tabbed = false;
    const HWND before = FocusOf(app.Main);
    const ULONGLONG start = ::GetTickCount64();
    while (!service.OptimizeAnswered() && ::GetTickCount64() - start < 15000) {
      DWORD_PTR result = 0;
      ++asked;
      if (!::SendMessageTimeoutW(app.Main, WM_NULL, 0, 0, SMTO_BLOCK, 200, &result)) ++late;
      // The keyboard works inside the wait as outside it.
      if (!tabbed && ::GetTickCount64() - start > 2000) {
        PressKey(app.Main, VK_TAB);
        tabbed = true;
      }
      ::Sleep(100);
    }
    EXPECT_TRUE(service.OptimizeAnswered());
    EXPECT_GE(::GetTickCount64() - start, 6000u);
    EXPECT_GT(asked, 40);
    EXPECT_EQ(late, 0) << late << " of " << asked << " messages waited longer than 200 ms";
    EXPECT_NE(FocusOf(app.Main), before);
    EXPECT_NE(FocusOf(app.Main), nullptr);
    EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid()), nullptr);
    app.Exit();
  }
  StartTestService();
}

}  // namespace
