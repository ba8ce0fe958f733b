#include "app/SingleInstance_win.h"

#include "app/AppIdentity.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <shellapi.h>

namespace {

// Held open for the life of the process: the mutex is how later starts find this one.
TScopedHandle gInstanceMutex;

}  // namespace

bool SendCloseRequest(HWND window, unsigned timeoutMs) {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
}

bool CheckSingleInstance(const std::string& title, const std::string& mainWindowClass,
                         bool activate, const std::vector<std::string>& args,
                         HWND ownAppWindow) {
  const std::wstring mainClass = Utf8ToWide(mainWindowClass);
  if (!args.empty() && args[0] == kCloseCommand) {
    if (HWND running = ::FindWindowW(mainClass.c_str(), nullptr))
      SendCloseRequest(running, kCloseRequestWaitMs);
    return true;
  }

  const std::wstring name = Utf8ToWide(title);
  TScopedHandle existing(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!existing) {
    gInstanceMutex.reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    return false;
  }
  if (!activate) return true;

  if (ownAppWindow) ::SetWindowTextW(ownAppWindow, L"");
  const std::wstring appClass = Utf8ToWide(kAppWindowClass);
  HWND app = ::FindWindowW(appClass.c_str(), name.c_str());
  if (!app) return true;
  HWND main = ::FindWindowW(mainClass.c_str(), nullptr);
  if (main && !::IsWindowVisible(main)) ::PostMessageW(main, WM_SHOWWINDOW, 0, SW_PARENTOPENING);
  ::ShowWindow(app, SW_RESTORE);
  ::BringWindowToTop(app);
  ::SetForegroundWindow(app);
  return true;
}

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> args;
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return args;
  for (int i = 1; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
  ::LocalFree(argv);
  return args;
}
