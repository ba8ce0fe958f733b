// The About window as a user meets it: its version line, its machine picture, its keys and
// its caption dragging; a screenshot is kept.
#include "common/Settings.h"
#include "e2e/Driver_win.h"
#include "ui/About_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const std::string kTitle = "Quor eBrisko Management";
const char kProductKey[] = "Software\\Quor\\eBrisko";
const char kFamilyKey[] = "Software\\Quor\\eCentrio";

void PutValue(const char* key, const char* name, const char* value) {
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), 0);
  if (value)
    ::RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(strlen(value) + 1));
  else
    ::RegDeleteValueA(k, name);
  ::RegCloseKey(k);
}

// One showing of the About window on its own thread.
class TAboutRun {
 public:
  TAboutRun() {
    FThread = std::thread([this] {
      ShowAboutBox(nullptr, kTitle);
      FDone = true;
    });
    const std::string caption = "About";
    FBox = WaitForTopWindow("TAboutBox", &caption, ::GetCurrentProcessId(), 10000);
  }
  ~TAboutRun() {
    if (!FDone && FBox) ::PostMessageW(FBox, WM_CLOSE, 0, 0);
    FThread.join();
  }
  HWND Box() const { return FBox; }
  bool Done(int waitMs) { return WaitUntil([this] { return FDone.load(); }, waitMs); }
  // The texts of the labels, one per line.
  std::string Texts() const {
    std::string all;
    for (HWND c = ::GetWindow(FBox, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) all += WindowText(c) + "\n";
    return all;
  }
  void Key(unsigned vk) const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(FBox, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : FBox;
    ::PostMessageW(target, WM_KEYDOWN, vk, 1);
    ::PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
  }

 private:
  std::thread FThread;
  HWND FBox = nullptr;
  std::atomic<bool> FDone{false};
};

class AboutWin : public ::testing::Test {
 protected:
  void SetUp() override { InitializeSettingsModule(); }
  void TearDown() override {
    PutValue(kProductKey, "Version", nullptr);
    PutValue(kFamilyKey, "Type", nullptr);
  }
};

TEST_F(AboutWin, VersionLineFromTheSettingElseFromTheVersionResource) {
  PutValue(kProductKey, "Version", "2.4");
  {
    TAboutRun run;
    ASSERT_NE(run.Box(), nullptr);
    EXPECT_NE(run.Texts().find("Version 2.4    Copyright (C) 2026 Quor\n"), std::string::npos) << run.Texts();
    EXPECT_NE(run.Texts().find(kTitle), std::string::npos);
    // The focus starts on the close button: Enter presses it.
    run.Key(VK_RETURN);
    EXPECT_TRUE(run.Done(5000));
  }
  PutValue(kProductKey, "Version", nullptr);
  {
    TAboutRun run;
    ASSERT_NE(run.Box(), nullptr);
    EXPECT_NE(run.Texts().find("Version 4.5.6.7    Copyright (C) 2026 Quor\n"), std::string::npos) << run.Texts();
    // Escape does nothing; OK closes.
    run.Key(VK_ESCAPE);
    EXPECT_FALSE(run.Done(300));
    const std::string ok = "OK";
    ClickButton(FindChildWindow(run.Box(), "Button", &ok));
    EXPECT_TRUE(run.Done(5000));
  }
}

TEST_F(AboutWin, DraggingTheCaptionMovesTheWindow) {
  TAboutRun run;
  ASSERT_NE(run.Box(), nullptr);
  const std::string title = kTitle;
  HWND caption = FindChildWindow(run.Box(), "Static", &title);
  ASSERT_NE(caption, nullptr);
  RECT before;
  ::GetWindowRect(run.Box(), &before);
  ::SendMessageW(caption, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));
  ::SendMessageW(caption, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(30, 15));
  RECT after;
  ::GetWindowRect(run.Box(), &after);
  EXPECT_EQ(after.left - before.left, 21);
  EXPECT_EQ(after.top - before.top, 11);
  // Moving without the left button does nothing.
  ::SendMessageW(caption, WM_MOUSEMOVE, 0, MAKELPARAM(60, 40));
  RECT still;
  ::GetWindowRect(run.Box(), &still);
  EXPECT_EQ(still.left, after.left);
}

TEST_F(AboutWin, Screenshots) {
  for (const char* type : {"notebook", "desktop"}) {
    PutValue(kFamilyKey, "Type", type);
    PutValue(kProductKey, "Version", "1.0");
    TAboutRun run;
    ASSERT_NE(run.Box(), nullptr);
    ::RedrawWindow(run.Box(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(150);
    EXPECT_TRUE(SaveScreenshot(run.Box(), ArtifactDir() + "about-" + type + ".bmp"));
  }
}

}  // namespace
