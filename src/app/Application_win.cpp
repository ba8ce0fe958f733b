#include "app/Application_win.h"

#include "app/AppIdentity.h"
#include "common/GenericAPI.h"
#include "common/WinText_win.h"
#include "ui/WinForm_win.h"
#include "ui/WindowProc_win.h"

#include <objbase.h>

#include <memory>

namespace {

std::unique_ptr<TApplication> gApplicationObject;

std::wstring ProgramFileTitle() {
  std::wstring name = Utf8ToWide(GetAppFileName());
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

}  // namespace

TApplication::TApplication() {
  const std::wstring cls = Utf8ToWide(kAppWindowClass);
  RegisterWindowClass<TApplication>(cls.c_str(), 0);
  // A visible popup of no size at the screen's centre: it alone has a taskbar button, and
  // the main window it owns is hidden and shown with it.
  const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2;
  const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2;
  ::CreateWindowExW(0, cls.c_str(), ProgramFileTitle().c_str(),
                    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0,
                    0, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
}

TApplication::~TApplication() {
  if (FHandle) ::DestroyWindow(FHandle);
  if (FComInitialized) ::CoUninitialize();
}

void TApplication::Initialize() {
  if (FComInitialized) return;
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  FComInitialized = SUCCEEDED(hr);
}

void TApplication::SetTitle(const std::string& title) {
  if (FHandle) ::SetWindowTextW(FHandle, Utf8ToWide(title).c_str());
}

namespace {
constexpr UINT_PTR kPeriodicCheckTimer = 1;
// Work handed to Post waits.
constexpr UINT kRunPosted = WM_APP + 1;
}  // namespace

void TApplication::Post(std::function<void()> work) {
  FPosted.push_back(std::move(work));
  if (FPosted.size() == 1 && FHandle) ::PostMessageW(FHandle, kRunPosted, 0, 0);
}

void TApplication::SetPeriodicCheck(unsigned intervalMs, std::function<void()> check) {
  FPeriodicCheck = std::move(check);
  FPeriodicMs = intervalMs;
  if (!FHandle) return;
  if (FPeriodicCheck)
    ::SetTimer(FHandle, kPeriodicCheckTimer, intervalMs, nullptr);
  else
    ::KillTimer(FHandle, kPeriodicCheckTimer);
}

int TApplication::Run() {
  if (FHandle) ::ShowWindow(FHandle, SW_SHOWNORMAL);
  MSG msg;
  while (!FTerminated) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    // The skinned windows take their dialog keys (Tab, Enter, Escape) and see keys first.
    if (PreTranslateFormMessage(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}

void TApplication::Terminate() noexcept {
  FTerminated = true;
  ::PostQuitMessage(0);
}

LRESULT TApplication::HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kPeriodicCheckTimer && FPeriodicCheck && !FTerminated) {
        // A check that shows a modal box must not run again from inside that box.
        const std::function<void()> check = FPeriodicCheck;
        ::KillTimer(hwnd, kPeriodicCheckTimer);
        check();
        if (!FTerminated && FPeriodicCheck) ::SetTimer(hwnd, kPeriodicCheckTimer, FPeriodicMs, nullptr);
        return 0;
      }
      break;
    case kRunPosted: {
      // Work posted while this runs waits for the next message.
      std::vector<std::function<void()>> posted = std::move(FPosted);
      FPosted.clear();
      for (std::function<void()>& work : posted) {
        if (FTerminated) break;
        try {
          work();
        } catch (const std::exception& e) {
          if (gTopLevelErrorHandler) gTopLevelErrorHandler(e);
        }
      }
      return 0;
    }
    case WM_CLOSE:
      // Closing the taskbar entry closes the main window, which ends the program.
      if (FMainWindow) ::PostMessageW(FMainWindow, WM_CLOSE, 0, 0);
      return 0;
    case WM_SETFOCUS:
    case WM_ACTIVATE:
      if ((msg == WM_SETFOCUS || LOWORD(wp) != WA_INACTIVE) && FMainWindow &&
          ::IsWindowVisible(FMainWindow) && !::IsIconic(hwnd)) {
        ::SetActiveWindow(FMainWindow);
        return 0;
      }
      break;
    case WM_SIZE:
      // A restored application shows the main window it hid when it was minimized.
      if (wp == SIZE_RESTORED && FMainWindow && !::IsWindowVisible(FMainWindow)) {
        ::ShowWindow(FMainWindow, SW_SHOW);
        ::SetActiveWindow(FMainWindow);
      } else if (wp == SIZE_MINIMIZED && FMainWindow) {
        ::ShowWindow(FMainWindow, SW_HIDE);
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

TApplication& Application() { return *gApplicationObject; }

void InitializeApplicationModule() {
  if (!gApplicationObject) gApplicationObject = std::make_unique<TApplication>();
}

void FinalizeApplicationModule() { gApplicationObject.reset(); }
