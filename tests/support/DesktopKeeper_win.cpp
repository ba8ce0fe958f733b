// Keeps the Wine desktop of a test prefix alive between test programs.
//
// Wine closes a desktop shortly after its last user ends and the next program then waits
// about 10 s for a new one, so every test process would pay that. This idle program stays
// attached to the desktop until the prefix's server ends; one runs per prefix.
#include "common/WinApi.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HANDLE once = ::CreateMutexW(nullptr, FALSE, L"QB test desktop keeper");
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  ::GetDesktopWindow();
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  ::CloseHandle(once);
  return 0;
}
