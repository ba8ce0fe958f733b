#include "app/PerformanceMain_win.h"

#include "app/AppIdentity.h"
#include "common/GenericNetAPI.h"
#include "common/MessagePump_win.h"
#include "help/hh_funcs_win.h"
#include "common/RawRegistry.h"
#include "i18n/StringTable.h"
#include "optimize/OptimizeIt.h"
#include "service/ConnectService.h"
#include "ui/About_win.h"
#include "ui/WindowProc_win.h"

namespace {

constexpr UINT_PTR kTimer1 = 1;

}  // namespace

bool ReadMemoryFigures(TMemoryFigures& figures) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return false;
  figures.Load = status.dwMemoryLoad;
  figures.Total = status.ullTotalPhys;
  figures.Avail = status.ullAvailPhys;
  return true;
}

TPerformanceWindow::TPerformanceWindow(HWND appWindow) : FAppWindow(appWindow) {
  EnsureThemeLoader();
  TPerformancePorts p;
  p.Service = [] { return gService; };
  p.MemoryStatus = &ReadMemoryFigures;
  p.UserPrivilege = [](int& level) { return GPGetUserPrivilege(level); };
  p.Text = [](std::string_view section, std::string_view key) {
    return gStringTable ? gStringTable->GetText(section, key) : std::string(key);
  };
  p.GetCursor = [this] { return FBusy ? TScreenCursor::HourGlass : TScreenCursor::Default; };
  p.SetCursor = [this](TScreenCursor cursor) {
    FBusy = cursor == TScreenCursor::HourGlass;
    ::SetCursor(::LoadCursorW(nullptr, FBusy ? IDC_WAIT : IDC_ARROW));
  };
  p.Pump = &SystemMessagePump();
  p.ShowBox = [this](bool owned, const std::string& caption, const std::string& title,
                        const std::string& text, MessageBoxIcon icon, MessageBoxButtons buttons) {
    return ShowMessageBox(owned ? Handle() : nullptr, caption, title, text, icon, buttons);
  };
  p.ShowHelp = [this] { ShowProductHelp(Handle()); };
  p.ShowAbout = [] { ShowAboutBox(kAppTitle); };
  p.Close = [this] {
    if (HWND hwnd = Handle()) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  };
  p.MachineType = [] { return GetMachineType(); };
  p.Registry = &SystemRegistry();
  p.OptimizeIt = [] { return gOptimizeIt.get(); };
  FModel = std::make_unique<TfmPerformance>(std::move(p));
  try {
    FModel->FormCreate();
  } catch (const std::exception& e) {
    // The window opens without the steps after the failed one.
    if (gTopLevelErrorHandler) gTopLevelErrorHandler(e);
  }
  FWindow = std::make_unique<TWinForm>(FModel->Form, FModel.get(), appWindow);
  FWindow->OnMessage = [this](UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
    return OnMessage(msg, wp, lp, handled);
  };
  // The window sees every key before its controls.
  FWindow->OnKey = [this](const MSG& msg) {
    if (msg.message == WM_KEYUP) FModel->FormKeyUp(static_cast<unsigned>(msg.wParam));
  };
  if (Handle()) ::SetTimer(Handle(), kTimer1, 1000, nullptr);
}

TPerformanceWindow::~TPerformanceWindow() {
  if (Handle()) ::KillTimer(Handle(), kTimer1);
  FWindow.reset();
}

void TPerformanceWindow::Show() {
  if (FWindow) FWindow->Show();
}

LRESULT TPerformanceWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  HWND hwnd = Handle();
  switch (msg) {
    case WM_TIMER:
      if (wp == kTimer1) {
        handled = true;
        FModel->Timer1Timer();
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (FBusy) {
        handled = true;
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      // Minimizing the main window minimizes the application: its taskbar entry stays the
      // one place to restore it from, also for a later start.
      if ((wp & 0xFFF0) == SC_MINIMIZE && FAppWindow) {
        handled = true;
        ::ShowWindow(FAppWindow, SW_MINIMIZE);
        return 0;
      }
      break;
    case WM_SHOWWINDOW:
      if (lp == SW_PARENTOPENING && hwnd && !::IsWindowVisible(hwnd)) {
        handled = true;
        ::ShowWindow(hwnd, SW_SHOWNA);
        return 0;
      }
      break;
    case WM_DESTROY:
      // Closing the main window ends the application; nothing is applied.
      ::PostQuitMessage(0);
      break;
    default:
      break;
  }
  (void)lp;
  return 0;
}
