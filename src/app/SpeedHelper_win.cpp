#include "app/SpeedHelper_win.h"

#include "common/ResStrings.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <shellapi.h>

#include <atomic>

namespace {

// A pipe name nobody can guess ahead of this run; the first instance flag refuses a squatter.
std::wstring PipeName() {
  static std::atomic<unsigned> counter{0};
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return L"\\\\.\\pipe\\Quor.eBrisko.SpeedSwitches." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(++counter) + L"." + std::to_wstring(now.QuadPart);
}

// Waits for process while the thread's messages are dispatched; a quit request is kept for
// the message loop.
void WaitDispatching(HANDLE process) {
  bool quit = false;
  int quitCode = 0;
  for (;;) {
    const DWORD r = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, quit ? 0 : QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (!quit && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(msg.wParam);
        break;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (quit) ::PostQuitMessage(quitCode);
}

// What the helper wrote into the pipe, read once it has ended.
std::string DrainPipe(HANDLE pipe, OVERLAPPED& connect) {
  DWORD got = 0;
  if (!::GetOverlappedResult(pipe, &connect, &got, FALSE)) {
    if (::GetLastError() != ERROR_PIPE_CONNECTED) {
      // It never connected (nothing to report), or it went before being seen: nothing waits.
      ::CancelIo(pipe);
      ::GetOverlappedResult(pipe, &connect, &got, TRUE);
      return {};
    }
  }
  std::string text;
  TScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  char buffer[4096];
  for (int reads = 0; reads < 64; ++reads) {
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD n = 0;
    BOOL ok = ::ReadFile(pipe, buffer, sizeof buffer, &n, &ov);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
      // The writer is gone: a read ends at once with what is buffered or the broken pipe.
      if (::WaitForSingleObject(event.get(), 2000) != WAIT_OBJECT_0) {
        ::CancelIo(pipe);
        ::GetOverlappedResult(pipe, &ov, &n, TRUE);
        break;
      }
      ok = ::GetOverlappedResult(pipe, &ov, &n, FALSE);
    }
    if (!ok || n == 0) break;
    text.append(buffer, n);
  }
  return text;
}

}  // namespace

TSpeedHelperRun RunSpeedSwitchesHelper(HWND owner, const std::string& programDir,
                                       const std::string& states) {
  TSpeedHelperRun run;
  const std::string program = programDir + kSpeedHelperName;
  auto notStarted = [&](DWORD error) {
    run.Outcome = TSpeedHelperRun::TOutcome::NotStarted;
    run.Text = LoadResStringFmt(rsHelperNotStarted, {program, SystemErrorText(error)});
    return run;
  };
  const std::wstring pipeName = PipeName();
  TScopedFileHandle pipe(::CreateNamedPipeW(
      pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 64 * 1024,
      0, nullptr));
  if (!pipe) return notStarted(::GetLastError());
  TScopedHandle connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED connect{};
  connect.hEvent = connected.get();
  if (!::ConnectNamedPipe(pipe.get(), &connect)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED) return notStarted(error);
  }

  // A trailing backslash would escape the closing quote.
  std::string folder = programDir;
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  const std::wstring file = Utf8ToWide(program);
  const std::wstring parameters =
      L"apply \"" + Utf8ToWide(folder) + L"\" " + Utf8ToWide(states) + L" " + pipeName;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_CANCELLED) {
      ::CancelIo(pipe.get());
      run.Outcome = TSpeedHelperRun::TOutcome::Declined;
      return run;
    }
    ::CancelIo(pipe.get());
    return notStarted(error);
  }
  if (!info.hProcess) return notStarted(ERROR_INVALID_HANDLE);
  const TScopedHandle process(info.hProcess);
  // Like a modal box: the window takes no input while the helper works, but keeps painting.
  const bool wasEnabled = owner && ::IsWindowEnabled(owner);
  if (wasEnabled) ::EnableWindow(owner, FALSE);
  WaitDispatching(process.get());
  if (wasEnabled) ::EnableWindow(owner, TRUE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  run.Outcome = TSpeedHelperRun::TOutcome::Finished;
  run.ExitCode = code;
  run.Text = DrainPipe(pipe.get(), connect);
  return run;
}
