// KLService.exe: the Windows service "KLService" that answers the application on
// 127.0.0.1:2804, its installation and removal, and a foreground mode for development.
//   KLService.exe --install [--port N]   register with the service manager, automatic start
//   KLService.exe --uninstall            stop and remove it
//   KLService.exe --console [--port N]   serve in the foreground until Ctrl+C
//   KLService.exe [--port N]             as started by the service manager
// The server's limits (see TServerLimits) may be set as DWORD values of the key
// HKLM\SYSTEM\CurrentControlSet\Services\KLService\Parameters: "MaxClients",
// "MaxClientsPerProcess", "UnfinishedLineMs", "RecentRequestMs", "StalledSendMs",
// "BufferedBytesBudget", "MinFreeIntervalMs"; they are read when the service starts.
#include "KLServer_win.h"
#include "ServiceControl.h"
#include "ServicePorts_win.h"

#include "common/WinApi.h"

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

namespace {

const wchar_t* const kName = L"KLService";
uint16_t gPort = kServicePort;

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
SERVICE_STATUS gStatus{};
TScopedHandle gStopEvent;

int Fail(const char* what, DWORD code) {
  std::fprintf(stderr, "KLService: %s: %s\n", what, SystemErrorText(code).c_str());
  return static_cast<int>(code ? code : 1);
}

// Called from the service thread and from the control handler.
std::mutex gStatusLock;

void ReportStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
  std::lock_guard lock(gStatusLock);
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwWin32ExitCode = exitCode;
  gStatus.dwServiceSpecificExitCode = exitCode == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
  gStatus.dwWaitHint = waitHint;
  gStatus.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  gStatus.dwCheckPoint =
      (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : gStatus.dwCheckPoint + 1;
  ::SetServiceStatus(gStatusHandle, &gStatus);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 5000);
      ::SetEvent(gStopEvent.get());
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Runs the host until the stop event is set; false when it could not start.
bool RunHost(IServiceLog& log, const std::function<void()>& onRunning) {
  TWinMemoryPort memory;
  TRegistryScheduleStore store(HKEY_LOCAL_MACHINE, kServiceParametersKey);
  // The limits are settings, so a test can shorten them for an installed service.
  TKLServiceHost host(memory, store, log, ServiceClock(),
                      ReadServerLimits(HKEY_LOCAL_MACHINE, kServiceParametersKey));
  try {
    host.Start(gPort);
  } catch (const std::exception& e) {
    std::string line = std::string("not started: ") + e.what();
    // Another program on our port would take the application's requests: name it.
    if (const uint32_t holder = ListenerProcess(gPort))
      line += "; the port is held by process " + std::to_string(holder);
    log.Log(line);
    return false;
  }
  onRunning();
  ::WaitForSingleObject(gStopEvent.get(), INFINITE);
  host.Stop();
  return true;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  gStatusHandle = ::RegisterServiceCtrlHandlerExW(kName, ControlHandler, nullptr);
  if (!gStatusHandle) return;
  ReportStatus(SERVICE_START_PENDING, NO_ERROR, 5000);
  TFileServiceLog log(FileBesideProgram(L"KLService.log"), false);
  // RUNNING is reported only once the port listens, so a client that waits for RUNNING can
  // connect at once.
  const bool ran = RunHost(log, [] { ReportStatus(SERVICE_RUNNING); });
  ReportStatus(SERVICE_STOPPED, ran ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

BOOL WINAPI ConsoleHandler(DWORD) {
  ::SetEvent(gStopEvent.get());
  return TRUE;
}

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

int Install() {
  // Quoted, so a folder with blanks cannot be taken for another program.
  std::wstring command = L"\"" + ProgramPath() + L"\"";
  if (gPort != kServicePort) command += L" --port " + std::to_wstring(gPort);
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!scm) return Fail("service manager not opened", ::GetLastError());
  auto create = [&] {
    return ::CreateServiceW(scm.get(), kName, kName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS,
                            SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                            command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  };
  TScopedServiceHandle svc(create());
  // A service just removed stays until its last handle closes: give it a few seconds.
  for (int i = 0; i < 50 && !svc && ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE; ++i) {
    ::Sleep(100);
    svc.reset(create());
  }
  if (!svc && ::GetLastError() == ERROR_SERVICE_EXISTS) {
    svc.reset(::OpenServiceW(scm.get(), kName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS));
    if (svc && !::ChangeServiceConfigW(svc.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr, kName))
      return Fail("service not updated", ::GetLastError());
  }
  if (!svc) return Fail("service not created", ::GetLastError());
  wchar_t description[] = L"Frees physical memory and measures memory use for the application.";
  SERVICE_DESCRIPTIONW d{description};
  ::ChangeServiceConfig2W(svc.get(), SERVICE_CONFIG_DESCRIPTION, &d);
  std::printf("KLService installed\n");
  return 0;
}

int Uninstall() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return Fail("service manager not opened", ::GetLastError());
  TScopedServiceHandle svc(
      ::OpenServiceW(scm.get(), kName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!svc) return Fail("service not opened", ::GetLastError());
  SERVICE_STATUS st{};
  if (::ControlService(svc.get(), SERVICE_CONTROL_STOP, &st)) {
    for (int i = 0; i < 100 && ::QueryServiceStatus(svc.get(), &st) &&
                    st.dwCurrentState != SERVICE_STOPPED;
         ++i)
      ::Sleep(100);
  }
  if (!::DeleteService(svc.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    return Fail("service not removed", ::GetLastError());
  std::printf("KLService removed\n");
  return 0;
}

int Console() {
  TFileServiceLog log(FileBesideProgram(L"KLService.log"), true);
  ::SetConsoleCtrlHandler(ConsoleHandler, TRUE);
  const bool ran = RunHost(log, [] {
    std::printf("KLService serving on 127.0.0.1:%u; Ctrl+C ends it\n", unsigned(gPort));
    std::fflush(stdout);
  });
  return ran ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  enum { kService, kInstall, kUninstall, kConsole } mode = kService;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--install") mode = kInstall;
    else if (a == L"--uninstall") mode = kUninstall;
    else if (a == L"--console") mode = kConsole;
    else if (a == L"--port" && i + 1 < argc) {
      const long p = std::wcstol(argv[++i], nullptr, 10);
      if (p <= 0 || p > 65535) {
        std::fprintf(stderr, "KLService: bad port\n");
        return ERROR_INVALID_PARAMETER;
      }
      gPort = static_cast<uint16_t>(p);
    } else {
      std::fprintf(stderr, "usage: KLService [--install | --uninstall | --console] [--port N]\n");
      return ERROR_INVALID_PARAMETER;
    }
  }
  if (mode == kInstall) return Install();
  if (mode == kUninstall) return Uninstall();
  gStopEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (mode == kConsole) return Console();
  wchar_t name[] = L"KLService";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
      std::fprintf(stderr, "KLService runs as a service; use --console to run it here\n");
    return Fail("service dispatcher", err);
  }
  return 0;
}
