// ServiceControl.dll: the state of a service and its start, over the Service Control Manager.
#include "ServiceControl.h"

#include "common/WinApi.h"

#include <winsock2.h>

#include "PortProbe_win.h"
#include "common/ScopedHandle_win.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kStartWaitMs = 10000;  // the whole of a start: running and accepting
constexpr DWORD kPollMs = 100;

void PutText(wchar_t* text, const std::wstring& s) {
  if (!text) return;
  const size_t n = std::min<size_t>(s.size(), kServiceCtlBufferChars - 1);
  std::wmemcpy(text, s.data(), n);
  text[n] = L'\0';
}

// The port the installed service listens on: its "--port N" argument, else the usual one.
uint16_t ServicePort(SC_HANDLE svc) {
  DWORD needed = 0;
  ::QueryServiceConfigW(svc, nullptr, 0, &needed);
  if (needed == 0) return kServicePort;
  std::string buf(needed, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
  if (!::QueryServiceConfigW(svc, config, needed, &needed) || !config->lpBinaryPathName)
    return kServicePort;
  const wchar_t* p = std::wcsstr(config->lpBinaryPathName, L"--port ");
  if (!p) return kServicePort;
  const long port = std::wcstol(p + 7, nullptr, 10);
  return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kServicePort;
}

DWORD State(SC_HANDLE svc) {
  SERVICE_STATUS st{};
  return ::QueryServiceStatus(svc, &st) ? st.dwCurrentState : 0;
}

// Starts the service and waits, within kStartWaitMs, until it runs and accepts connections.
DWORD StartAndWait(SC_HANDLE svc, wchar_t* text) {
  const DWORD start = ::GetTickCount();
  auto timeLeft = [&] { return ::GetTickCount() - start < kStartWaitMs; };
  // A service still stopping cannot be started yet.
  while (State(svc) == SERVICE_STOP_PENDING && timeLeft()) ::Sleep(kPollMs);
  if (!::StartServiceW(svc, 0, nullptr)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_SERVICE_ALREADY_RUNNING) {
      PutText(text, L"not started");
      return err;
    }
  }
  const uint16_t port = ServicePort(svc);
  WSADATA wsa;
  const bool winsock = ::WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  DWORD result = ERROR_TIMEOUT;
  for (;;) {
    const DWORD state = State(svc);
    if (state == SERVICE_STOPPED) {
      result = ERROR_SERVICE_NOT_ACTIVE;  // it started and ended again
      break;
    }
    // Each probe ends within the time left (and a second), so the whole wait keeps its bound.
    const DWORD elapsed = ::GetTickCount() - start;
    const DWORD probeMs = std::min<DWORD>(elapsed < kStartWaitMs ? kStartWaitMs - elapsed : 0, 1000);
    if (state == SERVICE_RUNNING && (!winsock || AcceptsWithin(port, probeMs))) {
      result = NO_ERROR;
      break;
    }
    if (!timeLeft()) break;
    ::Sleep(kPollMs);
  }
  if (winsock) ::WSACleanup();
  PutText(text, result == NO_ERROR ? L"running" : result == ERROR_TIMEOUT ? L"timeout" : L"stopped");
  return result;
}

// Stops the service and waits, within kStartWaitMs, until it has stopped.
DWORD StopAndWait(SC_HANDLE svc, wchar_t* text) {
  SERVICE_STATUS st{};
  if (!::ControlService(svc, SERVICE_CONTROL_STOP, &st)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_SERVICE_NOT_ACTIVE) {
      PutText(text, L"not stopped");
      return err;
    }
  }
  const DWORD start = ::GetTickCount();
  while (State(svc) != SERVICE_STOPPED) {
    if (::GetTickCount() - start >= kStartWaitMs) {
      PutText(text, L"timeout");
      return ERROR_TIMEOUT;
    }
    ::Sleep(kPollMs);
  }
  PutText(text, L"stopped");
  return NO_ERROR;
}

}  // namespace

extern "C" {

// A service that is missing or cannot be queried is reported as stopped (1) beside the error
// code: 1 is a settled state, so a caller waiting for the state to settle stops waiting at once
// and goes on to connect, instead of waiting out its whole limit for a service that will never
// change state.
__declspec(dllexport) int32_t __stdcall GetServiceStatus(uint32_t* status,
                                                         const wchar_t* serviceName,
                                                         const wchar_t*) {
  if (!status) return ERROR_INVALID_PARAMETER;
  *status = SERVICE_STOPPED;
  if (!serviceName) return ERROR_INVALID_PARAMETER;
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return static_cast<int32_t>(::GetLastError());
  TScopedServiceHandle svc(::OpenServiceW(scm.get(), serviceName, SERVICE_QUERY_STATUS));
  if (!svc) return static_cast<int32_t>(::GetLastError());
  SERVICE_STATUS st{};
  if (!::QueryServiceStatus(svc.get(), &st)) return static_cast<int32_t>(::GetLastError());
  *status = st.dwCurrentState;
  return NO_ERROR;
}

// Action 0 starts the service (see ServiceControl.h); action 1 stops it and waits until it has
// stopped, within the same bound.
__declspec(dllexport) int32_t __stdcall SetServiceAction(int32_t action,
                                                         const wchar_t* serviceName,
                                                         wchar_t* text) {
  PutText(text, L"");
  if (!serviceName || (action != 0 && action != 1)) return ERROR_INVALID_PARAMETER;
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return static_cast<int32_t>(::GetLastError());
  // Only the rights of this action: interactive users may start the service but not stop it,
  // and asking for more than is granted fails the whole open.
  const DWORD rights = action == 0 ? SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG
                                   : SERVICE_STOP | SERVICE_QUERY_STATUS;
  TScopedServiceHandle svc(::OpenServiceW(scm.get(), serviceName, rights));
  if (!svc) {
    const DWORD err = ::GetLastError();
    PutText(text, err == ERROR_SERVICE_DOES_NOT_EXIST ? L"not installed" : L"not opened");
    return static_cast<int32_t>(err);
  }
  return static_cast<int32_t>(action == 0 ? StartAndWait(svc.get(), text)
                                          : StopAndWait(svc.get(), text));
}

}  // extern "C"
