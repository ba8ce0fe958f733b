#include "app/PerformanceMain_win.h"

#include "app/AppIdentity.h"
#include "common/WinText_win.h"
#include "ui/WindowProc_win.h"

TfmPerformance::TfmPerformance(HWND appWindow) : FAppWindow(appWindow) {
  const std::wstring cls = Utf8ToWide(kMainWindowClass);
  RegisterWindowClass<TfmPerformance>(cls.c_str());
  const int w = 640, h = 480;
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  ::CreateWindowExW(0, cls.c_str(), Utf8ToWide(kAppTitle).c_str(),
                    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, x,
                    y, w, h, appWindow, nullptr, ::GetModuleHandleW(nullptr), this);
}

TfmPerformance::~TfmPerformance() {
  if (FHandle) ::DestroyWindow(FHandle);
}

void TfmPerformance::Show() {
  if (!FHandle) return;
  ::ShowWindow(FHandle, SW_SHOW);
  ::SetForegroundWindow(FHandle);
}

LRESULT TfmPerformance::HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SYSCOMMAND:
      // Minimizing the main window minimizes the application: its taskbar entry stays the
      // one place to restore it from, also for a later start.
      if ((wp & 0xFFF0) == SC_MINIMIZE && FAppWindow) {
        ::ShowWindow(FAppWindow, SW_MINIMIZE);
        return 0;
      }
      break;
    case WM_SHOWWINDOW:
      if (lp == SW_PARENTOPENING && !::IsWindowVisible(hwnd)) {
        ::ShowWindow(hwnd, SW_SHOWNA);
        return 0;
      }
      break;
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}
