// The themed message box as a user meets it: shown on a thread of its own, driven from the
// test thread with clicks and keys, as the keyboard and the mouse would.
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"
#include "i18n/StringTable.h"
#include "i18n/TranslateST.h"
#include "ui/MessageBox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const std::string kCaption = "Quor eBrisko Management";

// One showing of the box on its own thread.
class TBoxRun {
 public:
  TBoxRun(MessageBoxIcon icon, MessageBoxButtons buttons, std::string title = "Title",
          std::string text = "Text") {
    FThread = std::thread([=, this] {
      FResult = ShowMessageBox(nullptr, kCaption, title, text, icon, buttons);
      FDone = true;
    });
    FBox = WaitForTopWindow("TfmQuorMessageBox", &kCaption, ::GetCurrentProcessId(), 10000);
    FThreadId = FBox ? ::GetWindowThreadProcessId(FBox, nullptr) : 0;
    // Keys go to the focus once the box is up and has set it.
    WaitUntil([this] { return Focus() != nullptr; }, 5000);
  }
  ~TBoxRun() {
    if (!FDone && FBox) ::PostMessageW(FBox, WM_CLOSE, 0, 0);
    FThread.join();
  }
  HWND Box() const { return FBox; }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return ::GetGUIThreadInfo(FThreadId, &info) ? info.hwndFocus : nullptr;
  }
  HWND Button(const std::string& caption) const { return FindChildWindow(FBox, "Button", &caption); }
  void Key(unsigned vk) const {
    HWND target = Focus() ? Focus() : FBox;
    ::PostMessageW(target, WM_KEYDOWN, vk, 1);
    ::PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
  }
  // The result, or -1 when the box is still open after waitMs.
  int Result(int waitMs = 5000) {
    if (!WaitUntil([this] { return FDone.load(); }, waitMs)) return -1;
    return FResult;
  }

 private:
  std::thread FThread;
  HWND FBox = nullptr;
  DWORD FThreadId = 0;
  std::atomic<bool> FDone{false};
  std::atomic<int> FResult{-1};
};

struct TSetCase {
  MessageBoxButtons Set;
  std::vector<std::pair<std::string, int>> Clicks;  // caption, result
  int Enter;         // right after opening
  int TabThenEnter;  // after the focus moved one button on
  int Escape;        // -1: nothing happens
};

const TSetCase kSets[] = {
    {MessageBoxButtons::OK, {{"OK", 1}}, 1, 1, -1},
    {MessageBoxButtons::OKCancel, {{"OK", 1}, {"Cancel", 2}}, 1, 2, 2},
    {MessageBoxButtons::AbortRetryIgnore, {{"Abort", 3}, {"Retry", 4}, {"Ignore", 5}}, 3, 4, -1},
    {MessageBoxButtons::YesNoCancel, {{"Yes", 6}, {"No", 7}, {"Cancel", 2}}, 6, 7, 7},
    {MessageBoxButtons::YesNo, {{"Yes", 6}, {"No", 7}}, 6, 7, 7},
    {MessageBoxButtons::RetryCancel, {{"Retry", 4}, {"Cancel", 2}}, 4, 2, 2},
};

TEST(MessageBoxWin, EveryButtonSetAnswersClicksEnterAndEscape) {
  for (const TSetCase& c : kSets) {
    SCOPED_TRACE(static_cast<int>(c.Set));
    for (const auto& [caption, result] : c.Clicks) {
      TBoxRun run(MessageBoxIcon::Warning, c.Set);
      ASSERT_NE(run.Box(), nullptr);
      HWND button = run.Button(caption);
      ASSERT_NE(button, nullptr) << caption;
      ClickButton(button);
      EXPECT_EQ(run.Result(), result) << caption;
    }
    {
      TBoxRun run(MessageBoxIcon::Warning, c.Set);
      EXPECT_EQ(WindowText(run.Focus()), c.Clicks.front().first);  // the leftmost button
      run.Key(VK_RETURN);
      EXPECT_EQ(run.Result(), c.Enter) << "Enter";
    }
    {
      TBoxRun run(MessageBoxIcon::Warning, c.Set);
      HWND first = run.Focus();
      run.Key(VK_TAB);
      if (c.Clicks.size() > 1) WaitUntil([&] { return run.Focus() != first; }, 3000);
      run.Key(VK_RETURN);
      EXPECT_EQ(run.Result(), c.TabThenEnter) << "Tab, Enter";
    }
    {
      TBoxRun run(MessageBoxIcon::Warning, c.Set);
      run.Key(VK_ESCAPE);
      EXPECT_EQ(run.Result(c.Escape < 0 ? 400 : 5000), c.Escape) << "Escape";
    }
  }
}

TEST(MessageBoxWin, TheSystemsCloseGivesTwoAndTheCaptionHasNoLeadingBlanks) {
  TBoxRun run(MessageBoxIcon::Custom, static_cast<MessageBoxButtons>(6));
  ASSERT_NE(run.Box(), nullptr);
  EXPECT_EQ(WindowText(run.Box()), kCaption);
  EXPECT_EQ(FindChildWindow(run.Box(), "Button"), nullptr);
  ::PostMessageW(run.Box(), WM_CLOSE, 0, 0);
  EXPECT_EQ(run.Result(), 2);
}

TEST(MessageBoxWin, CustomIconPutsTheTextAtTwentyEight) {
  const std::string text = "Memory will be adjusted for usage check. Proceed?";
  TBoxRun run(MessageBoxIcon::Custom, MessageBoxButtons::OK, "Memory Usage Check", text);
  HWND label = FindChildWindow(run.Box(), "Static", &text);
  ASSERT_NE(label, nullptr);
  RECT rc;
  ::GetWindowRect(label, &rc);
  POINT pt{rc.left, rc.top};
  ::ScreenToClient(::GetParent(label), &pt);
  EXPECT_EQ(pt.x, 28);
  EXPECT_EQ(pt.y, 58);
  ClickButton(run.Button("OK"));
  EXPECT_EQ(run.Result(), 1);
}

// Screenshots of the box with each picture, in English and in German (button captions come
// from the program's resources, translated through the pack).
TEST(MessageBoxWin, Screenshots) {
  struct {
    MessageBoxIcon Icon;
    const char* Name;
    MessageBoxButtons Buttons;
    const char* Title;
    const char* Text;
    const char* GermanTitle;
    const char* GermanText;
  } shots[] = {
      {MessageBoxIcon::Warning, "warning", MessageBoxButtons::YesNo, "Disk Optimization",
       "This action cannot be undone. Continue?", "Festplattenoptimierung",
       "Diese Aktion kann nicht rueckgaengig gemacht werden. Fortfahren?"},
      {MessageBoxIcon::Error, "error", MessageBoxButtons::OK, "Service stopped",
       "Can not connect to service. Application will be terminated!", "Dienst beendet",
       "Keine Verbindung zum Dienst. Die Anwendung wird beendet!"},
      {MessageBoxIcon::Information, "information", MessageBoxButtons::OK, "Memory Usage Check",
       "You do not have to upgrade your memory.", "Speichernutzung pruefen",
       "Sie muessen Ihren Speicher nicht aufruesten."},
      {MessageBoxIcon::Confirmation, "confirmation", MessageBoxButtons::YesNoCancel,
       "Memory Usage Check", "Memory will be adjusted for usage check. Proceed?",
       "Speichernutzung pruefen", "Der Speicher wird fuer die Pruefung angepasst. Fortfahren?"},
      {MessageBoxIcon::Custom, "custom", MessageBoxButtons::AbortRetryIgnore, "Custom",
       "A box without a picture starts its text further left.", "Eigenes Bild",
       "Ein Fenster ohne Bild beginnt den Text weiter links."},
  };
  for (const bool german : {false, true}) {
    if (german) {
      gStringTable = std::make_unique<TStringTable>();
      gStringTable->LoadFile("Z:" QB_SOURCE_DIR "/packs/German/strtab_eBrisko.ini");
      InstallResourceTranslation();
    }
    for (const auto& s : shots) {
      TBoxRun run(s.Icon, s.Buttons, german ? s.GermanTitle : s.Title, german ? s.GermanText : s.Text);
      ASSERT_NE(run.Box(), nullptr);
      ::RedrawWindow(run.Box(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      ::Sleep(150);
      EXPECT_TRUE(SaveScreenshot(run.Box(), ArtifactDir() + "msgbox-" + s.Name +
                                                (german ? "-de" : "-en") + ".bmp"));
      if (german && s.Buttons == MessageBoxButtons::YesNo) {
        EXPECT_NE(run.Button("Ja"), nullptr);
        EXPECT_NE(run.Button("Nein"), nullptr);
      }
      ::PostMessageW(run.Box(), WM_CLOSE, 0, 0);
      EXPECT_EQ(run.Result(), 2);
    }
  }
  RemoveResourceTranslation();
  gStringTable.reset();
}

}  // namespace
