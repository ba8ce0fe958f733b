#include "app/PerformanceMain_win.h"

#include "app/AppIdentity.h"
#include "app/SpeedHelper_win.h"
#include "common/Elevation.h"
#include "common/Settings.h"
#include "app/StartupTrace_win.h"
#include "common/GenericNetAPI.h"
#include "common/CleanupAPI_win.h"
#include "common/GenericAPI.h"
#include "common/MessagePump_win.h"
#include "help/hh_funcs_win.h"
#include "common/RawRegistry.h"
#include "common/WinText_win.h"
#include "i18n/StringTable.h"
#include "optimize/OptimizeIt.h"
#include "service/ConnectService.h"
#include "ui/About_win.h"
#include "ui/WindowProc_win.h"

#include <shellapi.h>
#include <shlobj.h>

#include <thread>
#include <utility>

namespace {

constexpr UINT_PTR kTimer1 = 1;
// Figures of a count pass wait in the mailbox.
constexpr UINT kFiguresWaiting = WM_APP + 1;

std::atomic<int> gRunningCountPasses{0};

// One count pass (TCountThread): measures on a thread of its own and hands each figure to the
// window thread through the mailbox. Nobody waits for it; a pass still running when the
// program ends is abandoned.
void StartCountThread(std::shared_ptr<TFigureMailbox> mailbox) {
  ++gRunningCountPasses;
  std::thread([mailbox] {
    try {
      CountPass([&](TCountItem item, const TCountFigures& figures) { mailbox->Post(item, figures); });
    } catch (const std::exception& e) {
      // The figures not yet shown keep their texts.
      WriteLog(std::string("[TCountThread] ") + e.what());
    }
    --gRunningCountPasses;
  }).detach();
}

}  // namespace

int RunningCountPasses() noexcept { return gRunningCountPasses.load(); }

void TFigureMailbox::Post(TCountItem item, const TCountFigures& figures) {
  std::lock_guard lock(FLock);
  if (FClosed) return;
  FFigures.push_back({item, figures});
  if (FWindow) ::PostMessageW(FWindow, kFiguresWaiting, 0, 0);
}

std::deque<TFigureMailbox::TFigure> TFigureMailbox::Take() {
  std::lock_guard lock(FLock);
  return std::exchange(FFigures, {});
}

void TFigureMailbox::Open(HWND window) {
  std::lock_guard lock(FLock);
  FWindow = window;
  if (FWindow && !FFigures.empty()) ::PostMessageW(FWindow, kFiguresWaiting, 0, 0);
}

void TFigureMailbox::Close() {
  std::lock_guard lock(FLock);
  FClosed = true;
  FWindow = nullptr;
  FFigures.clear();
}

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
  p.ShowAbout = [this] { ShowAboutBox(Handle(), kAppTitle); };
  p.Close = [this] {
    if (HWND hwnd = Handle()) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  };
  p.MachineType = [] { return GetMachineType(); };
  p.Registry = &SystemRegistry();
  p.OptimizeIt = [] { return gOptimizeIt.get(); };
  p.TokenElevation = &QueryTokenElevation;
  p.RunSpeedHelper = [this](const std::string& states) {
    return RunSpeedSwitchesHelper(Handle(), gAppDir(), states);
  };
  // The figures of the passes started during creation wait until the window exists.
  p.StartCountPass = [this](TCountSink onFigure) {
    FOnFigure = std::move(onFigure);
    if (FPainted)
      StartCountThread(FMailbox);
    else
      ++FPendingCountPasses;
  };
  p.ClearInternetCache = [] { ::ClearInternetCache(); };
  p.ClearCookies = [] { ClearSpecialFolder(CSIDL_COOKIES); };
  p.ClearTempFolder = [] { ::ClearTempFolder(); };
  p.EmptyRecycleBin = [this] { ::EmptyRecycleBin(Handle()); };
  p.ClearTypedUrls = [] { ::ClearTypedUrls(); };
  p.ClearSavedPasswords = [] { return ::ClearSavedPasswords(); };
  p.Sleep = [](uint32_t ms) { ::Sleep(ms); };
  p.TextWidth = [this](const TFontSpec& font, const std::string& text) {
    // Measured in the font the window draws at its pixel density and taken back to design
    // units (rounded up), so that the layout holds the text at every display scale.
    const int dpi = FWindow ? FWindow->Dpi() : DpiOfWindowMonitor(FAppWindow);
    FMeasureFonts.SetDpi(dpi);
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (!dc) return 0;
    HGDIOBJ old = ::SelectObject(dc, FMeasureFonts.Font(font));
    const std::wstring wide = Utf8ToWide(text);
    SIZE extent{0, 0};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return DesignLengthOf(static_cast<int>(extent.cx), dpi);
  };
  wchar_t separator[16] = {};
  if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 16) > 0 && separator[0] != L'\0')
    p.DecimalSeparator = WideToUtf8(separator);
  FModel = std::make_unique<TfmPerformance>(std::move(p));
  StartupMark("window model");
  try {
    FModel->FormCreate();
  } catch (const std::exception& e) {
    // The window opens without the steps after the failed one.
    if (gTopLevelErrorHandler) gTopLevelErrorHandler(e);
  }
  StartupMark("window state and first service answer");
  FWindow = std::make_unique<TWinForm>(FModel->Form, FModel.get(), appWindow);
  StartupMark("windows created");
  FWindow->OnMessage = [this](UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
    return OnMessage(msg, wp, lp, handled);
  };
  // The window sees every key before its controls.
  // At another density the texts measure differently: the gauge is laid out anew.
  FWindow->OnDpiChanged = [this] { FModel->ShowGaugeTexts(FModel->lbUsed->Text(), FModel->lbFree->Text()); };
  FWindow->OnKey = [this](const MSG& msg) {
    if (msg.message == WM_KEYUP) FModel->FormKeyUp(static_cast<unsigned>(msg.wParam));
  };
  if (Handle()) ::SetTimer(Handle(), kTimer1, 1000, nullptr);
  FMailbox->Open(Handle());
}

TPerformanceWindow::~TPerformanceWindow() {
  FMailbox->Close();
  if (Handle()) ::KillTimer(Handle(), kTimer1);
  FWindow.reset();
}

void TPerformanceWindow::Show() {
  if (FWindow) {
    FWindow->Show();
    if (HWND hwnd = Handle()) ::RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
  FPainted = true;
  for (; FPendingCountPasses > 0; --FPendingCountPasses) StartCountThread(FMailbox);
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
    case kFiguresWaiting:
      handled = true;
      for (const TFigureMailbox::TFigure& f : FMailbox->Take())
        if (FOnFigure) FOnFigure(f.Item, f.Figures);
      return 0;
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
      // A later start posts this so that a window hidden with its minimized application shows
      // again. It can arrive after the restored application has shown the window already, and
      // its wParam is 0: the default handling would then hide the window again.
      if (lp == SW_PARENTOPENING) {
        handled = true;
        if (hwnd && !::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNA);
        return 0;
      }
      break;
    case WM_DESTROY:
      // Closing the main window ends the application; nothing is applied. Figures still on
      // their way are dropped.
      FMailbox->Close();
      ::PostQuitMessage(0);
      break;
    default:
      break;
  }
  (void)lp;
  return 0;
}
