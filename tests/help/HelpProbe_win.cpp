// Asks for help the way the main window does, in a process of its own, for the help tests:
//   help_probe <result file> <any parameter> <language pack or -> <ms to keep the viewer>
// Writes "result=", "viewer=" (a viewer window of this process right after the request) and,
// after the help module is finalized, "closed=" (that window is gone) into the result file.
#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "help/hh.h"
#include "help/hh_funcs_win.h"
#include "i18n/Localization.h"

#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

HWND OwnViewer() {
  HWND wnd = nullptr;
  while ((wnd = ::FindWindowExW(nullptr, wnd, L"HH Parent", nullptr)) != nullptr) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (pid == ::GetCurrentProcessId()) return wnd;
  }
  return nullptr;
}

void PumpFor(DWORD ms) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 5) return 2;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
  ::LocalFree(argv);
  const std::string resultFile = args[1];
  const std::string pack = args[3];
  const DWORD holdMs = static_cast<DWORD>(std::stoul(args[4]));

  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  InitializeHelpModule();
  // Start-up does not wait for the control: it comes with the first request.
  const bool loadedAtStart = ::GetModuleHandleW(L"hhctrl.ocx") != nullptr;
  if (pack != "-") {
    const std::string work = ExtractFilePath(resultFile);
    gFilePool = std::make_unique<TFilePool>(pack, work, work);
    gFilePool->ExtractAll();
  }
  const int result = ShowProductHelp(nullptr);
  HWND viewer = OwnViewer();
  {
    std::ofstream out(std::filesystem::path(Utf8ToWide(resultFile)), std::ios::binary);
    out << "result=" << result << "\nviewer=" << (viewer ? 1 : 0)
        << "\nloaded_at_start=" << (loadedAtStart ? 1 : 0) << "\n";
  }
  PumpFor(holdMs);
  if (!viewer) viewer = OwnViewer();
  FinalizeHelpModule();
  PumpFor(100);
  const bool closed = !viewer || !::IsWindow(viewer);
  gFilePool.reset();
  {
    std::ofstream out(std::filesystem::path(Utf8ToWide(resultFile)), std::ios::binary | std::ios::app);
    out << "closed=" << (closed ? 1 : 0) << "\n";
  }
  ::CoUninitialize();
  return 0;
}
