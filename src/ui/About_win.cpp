#include "ui/About_win.h"

#include "common/Settings.h"
#include "ui/About.h"
#include "ui/WinForm_win.h"

void ShowAboutBox(HWND owner, const std::string& title) {
  TAboutBox box;
  box.FormCreate(GetMachineType());
  TWinForm window(box.Form, nullptr, owner);
  HWND hwnd = window.Handle();
  // The texts are set each time the window comes to the front.
  window.OnActivate = [&box, title] {
    box.FormActivate(title, ReadSetting("Version", false, "\\Software\\Quor\\eBrisko"), gVersionInfo());
  };
  box.lblCaption->OnMouseMove = [&box, hwnd](bool leftHeld, int x, int y) {
    RECT rc;
    ::GetWindowRect(hwnd, &rc);
    int left = rc.left, top = rc.top;
    if (box.Drag.MouseMove(leftHeld, x, y, left, top))
      ::SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  box.FormActivate(title, ReadSetting("Version", false, "\\Software\\Quor\\eBrisko"), gVersionInfo());
  ::SetWindowTextW(hwnd, L"About");
  window.ShowModal();
}
