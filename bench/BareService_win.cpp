// The floor of the service's footprint: a bare Win32 service that registers with the service
// manager, reports that it runs and waits for its stop, doing nothing else.
#include "common/WinApi.h"

namespace {

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
SERVICE_STATUS gStatus{};
HANDLE gStop = nullptr;

void Report(DWORD state) {
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(gStatusHandle, &gStatus);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(gStop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  gStatusHandle = ::RegisterServiceCtrlHandlerExW(L"QBBareService", Control, nullptr);
  if (!gStatusHandle) return;
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(gStop, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  gStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t name[] = L"QBBareService";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
