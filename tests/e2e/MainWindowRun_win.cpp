#include "e2e/MainWindowRun_win.h"

#include <gtest/gtest.h>

#include <utility>

namespace {
const std::string kTitle = "Quor eBrisko Management";
}  // namespace

TMainWindowRun::TMainWindowRun(TDriverProcess process, int timeoutMs) : Process(std::move(process)) {
  Main = WaitForTopWindow("TfmPerformance", &kTitle, Process.Pid(), timeoutMs);
  // The window is shown once its creation has run.
  WaitUntil([&] { return Main && ::IsWindowVisible(Main); }, 10000);
}

TMainWindowRun TMainWindowRun::Start(const std::string& args) {
  return TMainWindowRun(TDriverProcess::Start(TestBinDir() + "eBrisko.exe", args));
}

HWND TMainWindowRun::Control(const std::string& cls, const std::string& text) const {
  return Main ? FindChildWindow(Main, cls, &text) : nullptr;
}

bool TMainWindowRun::Checked(const std::string& text) const {
  HWND c = Button(text);
  return c && ::SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TMainWindowRun::Exit(const std::string& exe) {
  TDriverProcess closer = TDriverProcess::Start(exe, "exit");
  EXPECT_TRUE(closer.WaitExit(20000));
  EXPECT_TRUE(Process.WaitExit(20000));
}
