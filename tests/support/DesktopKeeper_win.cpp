// Keeps the Wine desktop of a test prefix alive between test programs.
//
// Wine closes a desktop shortly after its last user ends and the next program then waits
// about 10 s for a new one, so every test process would pay that. This idle program stays
// attached to the desktop until the prefix's server ends; one runs per prefix.
#include "common/WinApi.h"

// The optional argument names a file that is created once the desktop is up, so that the
// test environment can wait for that before the first test runs.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  HANDLE once = ::CreateMutexW(nullptr, FALSE, L"QB test desktop keeper");
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  ::GetDesktopWindow();
  if (cmdLine && *cmdLine) {
    HANDLE ready = ::CreateFileW(cmdLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) ::CloseHandle(ready);
  }
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  ::CloseHandle(once);
  return 0;
}
