// The program on a display scaled by the prefix's pixel density (run by dpi_e2e.sh in a prefix
// of its own): the main window, a message box and the About window laid out from the design
// for that density, in English and German, with a screenshot of each.
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "e2e/ServiceEnvironment_win.h"
#include "ui/DpiScale.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const std::string kTitle = "Quor eBrisko Management";

// The density the prefix was set to (QB_DPI), which the system must report.
int ExpectedDpi() {
  const char* text = std::getenv("QB_DPI");
  return text ? std::atoi(text) : kDesignDpi;
}

// A design rectangle of the main window's client area (left, top, width, height) in pixels,
// edges scaled as the program scales them.
RECT Scaled(int left, int top, int width, int height, int dpi) {
  return RECT{ScaleToDpi(left, dpi), ScaleToDpi(top, dpi), ScaleToDpi(left + width, dpi),
              ScaleToDpi(top + height, dpi)};
}

RECT PlaceIn(HWND window, HWND control) {
  RECT rc;
  ::GetWindowRect(control, &rc);
  ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

void ExpectRect(const RECT& seen, const RECT& expected, const char* what) {
  EXPECT_EQ(seen.left, expected.left) << what;
  EXPECT_EQ(seen.top, expected.top) << what;
  EXPECT_EQ(seen.right, expected.right) << what;
  EXPECT_EQ(seen.bottom, expected.bottom) << what;
}

SIZE SizeOf(HWND window) {
  RECT rc;
  ::GetWindowRect(window, &rc);
  return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

class DpiE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    // Coordinates as the program's own, not as a program unaware of the density sees them.
    ::SetProcessDPIAware();
    ASSERT_TRUE(StartTestService());
  }
  void TearDown() override { SetLanguageSetting(""); }
};

TEST_F(DpiE2E, MainWindowMessageBoxAndAboutFollowTheDisplayScale) {
  const int dpi = ExpectedDpi();
  HDC screen = ::GetDC(nullptr);
  ASSERT_EQ(::GetDeviceCaps(screen, LOGPIXELSX), dpi) << "the prefix is not at the density asked for";
  ::ReleaseDC(nullptr, screen);
  const std::string suffix = "-" + std::to_string(dpi) + "dpi";
  struct {
    const char* Language;
    const char* Cancel;
    const char* Check;
    const char* About;
    const char* No;
  } runs[] = {{"English", "Cancel", "Check", "About", "No"},
              {"German", "Abbrechen", "Pr\xC3\xBC" "fen", "Info", "Nein"}};
  for (const auto& r : runs) {
    SCOPED_TRACE(r.Language);
    SetLanguageSetting(r.Language);
    TMainWindowRun app = TMainWindowRun::Start();
    ASSERT_NE(app.Main, nullptr);
    const SIZE main = SizeOf(app.Main);
    EXPECT_EQ(main.cx, ScaleToDpi(806, dpi));
    EXPECT_EQ(main.cy, ScaleToDpi(629, dpi));
    // The body starts at 3, 26 inside the frame.
    ExpectRect(PlaceIn(app.Main, app.Control("Button", r.Cancel)), Scaled(3 + 670, 26 + 562, 104, 24, dpi),
               "Cancel");
    HWND group = FindChildWindow(app.Main, "Button", nullptr);
    ASSERT_NE(group, nullptr);
    ASSERT_NE(app.Control("Button", r.Check), nullptr);
    ExpectRect(PlaceIn(app.Main, ::GetParent(app.Control("Button", r.Check))),
               Scaled(3 + 180, 26 + 383, 253, 142, dpi), "Memory Usage Check group");
    // Live figures first, then the picture.
    WaitUntil([&] {
      HWND used = nullptr;
      ::EnumChildWindows(app.Main, [](HWND c, LPARAM p) -> BOOL {
        const std::string t = WindowText(c);
        if ((t.rfind("Used: ", 0) == 0 || t.rfind("Belegt: ", 0) == 0) && t.find("94 MB") == std::string::npos) {
          *reinterpret_cast<HWND*>(p) = c;
          return FALSE;
        }
        return TRUE;
      }, reinterpret_cast<LPARAM>(&used));
      return used != nullptr;
    }, 5000);
    ::Sleep(1200);
    EXPECT_TRUE(SaveScreenshot(app.Main, ArtifactDir() + "main-window-" + r.Language + suffix + ".bmp"));

    // A message box owned by the main window takes its monitor's density.
    ClickButton(app.Control("Button", r.Check));
    HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid(), 30000);
    ASSERT_NE(box, nullptr);
    const SIZE boxSize = SizeOf(box);
    EXPECT_EQ(boxSize.cx, ScaleToDpi(406, dpi));
    EXPECT_EQ(boxSize.cy, ScaleToDpi(229, dpi));
    const std::string no = r.No;
    HWND noButton = FindChildWindow(box, "Button", &no);
    ASSERT_NE(noButton, nullptr);
    // The rightmost button's right edge 14 inside the body (at 3, 26) of the 400 wide box.
    ExpectRect(PlaceIn(box, noButton), Scaled(3 + 281, 26 + 169, 105, 25, dpi), "No");
    ::Sleep(500);
    EXPECT_TRUE(SaveScreenshot(box, ArtifactDir() + "msgbox-" + r.Language + suffix + ".bmp"));
    ClickButton(noButton);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(app.Main) != FALSE; }, 5000));

    ClickButton(app.Control("Button", r.About));
    const std::string caption = "About";
    HWND about = WaitForTopWindow("TAboutBox", &caption, app.Process.Pid(), 10000);
    ASSERT_NE(about, nullptr);
    const SIZE aboutSize = SizeOf(about);
    EXPECT_EQ(aboutSize.cx, ScaleToDpi(457, dpi));
    EXPECT_EQ(aboutSize.cy, ScaleToDpi(321, dpi));
    const std::string ok = "OK";
    HWND okButton = FindChildWindow(about, "Button", &ok);
    ASSERT_NE(okButton, nullptr);
    ExpectRect(PlaceIn(about, okButton), Scaled(327, 285, 104, 24, dpi), "About OK");
    ::Sleep(500);
    EXPECT_TRUE(SaveScreenshot(about, ArtifactDir() + "about-" + r.Language + suffix + ".bmp"));
    ClickButton(okButton);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(app.Main) != FALSE; }, 5000));
    app.Exit();
  }
}

}  // namespace
