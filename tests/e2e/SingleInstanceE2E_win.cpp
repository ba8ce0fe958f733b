// The single-instance rule and the close command, on the real program.
#include "e2e/Driver_win.h"

#include <gtest/gtest.h>

namespace {

const std::string kTitle = "Quor eBrisko Management";
constexpr int kStartMs = 20000;

class SingleInstanceE2E : public ::testing::Test {
 protected:
  std::string Exe() const { return TestBinDir() + "eBrisko.exe"; }

  // Starts an instance and waits for its main window.
  HWND StartFirst(TDriverProcess& p, const std::string& args = {}) {
    p = TDriverProcess::Start(Exe(), args);
    HWND main = WaitForTopWindow("TfmPerformance", nullptr, p.Pid(), kStartMs);
    if (main) WaitUntil([&] { return ::IsWindowVisible(main) != FALSE; }, kStartMs);
    return main;
  }

  static void CloseAndWait(TDriverProcess& p, HWND main) {
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(p.WaitExit(kStartMs));
  }
};

TEST_F(SingleInstanceE2E, MainWindowHasItsClassCaptionAndAnApplicationWindow) {
  TDriverProcess first;
  HWND main = StartFirst(first);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(WindowText(main), kTitle);
  EXPECT_NE(FindTopWindow("TApplication", &kTitle, first.Pid()), nullptr);
  EXPECT_EQ(::GetWindow(main, GW_OWNER), FindTopWindow("TApplication", &kTitle, first.Pid()));
  SaveScreenshot(main, ArtifactDir() + "main-window.bmp");
  CloseAndWait(first, main);
}

TEST_F(SingleInstanceE2E, SecondStartRestoresTheFirstAndEndsWithoutAWindow) {
  TDriverProcess first;
  HWND main = StartFirst(first);
  ASSERT_NE(main, nullptr);
  HWND app = FindTopWindow("TApplication", &kTitle, first.Pid());
  ASSERT_NE(app, nullptr);
  ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(app) && !::IsWindowVisible(main); }, kStartMs));

  TDriverProcess second = TDriverProcess::Start(Exe());
  ASSERT_TRUE(second.WaitExit(kStartMs));
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_EQ(FindTopWindow("TfmPerformance", nullptr, second.Pid()), nullptr);

  EXPECT_TRUE(WaitUntil([&] { return !::IsIconic(app) && ::IsWindowVisible(main); }, kStartMs));
  EXPECT_TRUE(first.Running());
  CloseAndWait(first, main);
}

TEST_F(SingleInstanceE2E, ExitClosesTheRunningInstance) {
  TDriverProcess first;
  HWND main = StartFirst(first);
  ASSERT_NE(main, nullptr);
  TDriverProcess closer = TDriverProcess::Start(Exe(), "exit");
  EXPECT_TRUE(closer.WaitExit(kStartMs));
  EXPECT_TRUE(first.WaitExit(kStartMs));
}

TEST_F(SingleInstanceE2E, ExitWithNoInstanceEndsAtOnce) {
  ASSERT_EQ(FindTopWindow("TfmPerformance"), nullptr);
  TDriverProcess closer = TDriverProcess::Start(Exe(), "exit");
  ASSERT_TRUE(closer.WaitExit(kStartMs));
  EXPECT_EQ(closer.ExitCode(), 0u);
  EXPECT_EQ(FindTopWindow("TfmPerformance"), nullptr);
}

TEST_F(SingleInstanceE2E, OtherSpellingsAndLaterPositionsStartNormally) {
  for (const char* args : {"Exit", "EXIT", "other exit"}) {
    TDriverProcess p;
    HWND main = StartFirst(p, args);
    ASSERT_NE(main, nullptr) << args;
    CloseAndWait(p, main);
  }
}

}  // namespace
