// The floor of the start-up benchmark: a bare Win32 window with one label that shows the
// memory figures, started and measured the same way as the program, with the same start-up
// marks where it has the same steps.
#include "app/StartupTrace_win.h"
#include "common/WinApi.h"

#include <string>

namespace {

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  StartupMark("main entry");
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"TBareWindow";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowExW(0, L"TBareWindow", L"Bare window", WS_OVERLAPPEDWINDOW, 100, 100,
                               400, 200, nullptr, nullptr, instance, nullptr);
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ::GlobalMemoryStatusEx(&status);
  const std::wstring text =
      L"Used: " + std::to_wstring((status.ullTotalPhys - status.ullAvailPhys) >> 20) + L" MB";
  ::CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 10, 10, 300, 20, wnd,
                    nullptr, instance, nullptr);
  StartupMark("windows created");
  ::ShowWindow(wnd, SW_SHOW);
  ::RedrawWindow(wnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  StartupMark("first paint");
  WriteStartupTrace();
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
