// Start-up of the program: from process start to the main window showing its first memory
// figures, median of several runs, beside a bare Win32 window measured the same way in the
// same run; then the working sets of the program and of the service after a minute.
//   startup_bench [runs] [settle-seconds] [dpi]
// With a dpi (such as 144 for 150 %) every run also starts both at that pixel density, by
// Wine's "LogPixels" setting, which a new process reads at its start; the setting is put back
// at the end.
// Needs KLService installed and running in the prefix (bash scripts/run.sh does it).
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

std::wstring BinDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

TScopedHandle Start(const std::wstring& exe, const std::wstring& args = {}) {
  std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return TScopedHandle();
  ::CloseHandle(pi.hThread);
  return TScopedHandle(pi.hProcess);
}

struct TFind {
  DWORD Pid;
  const wchar_t* Class;
  HWND Found;
};

// A label of a top-level window of the process that shows a memory figure.
bool FiguresShown(DWORD pid, const wchar_t* cls) {
  TFind f{pid, cls, nullptr};
  ::EnumWindows([](HWND w, LPARAM p) -> BOOL {
    auto* f = reinterpret_cast<TFind*>(p);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    wchar_t name[64] = {};
    ::GetClassNameW(w, name, 64);
    if (owner == f->Pid && wcscmp(name, f->Class) == 0 && ::IsWindowVisible(w)) {
      f->Found = w;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&f));
  if (!f.Found) return false;
  bool shown = false;
  ::EnumChildWindows(f.Found, [](HWND c, LPARAM p) -> BOOL {
    wchar_t text[128] = {};
    ::SendMessageW(c, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
    // The design text "Used: 94 MB" is not a figure yet.
    if (wcsncmp(text, L"Used: ", 6) == 0 && wcscmp(text, L"Used: 94 MB") != 0) {
      *reinterpret_cast<bool*>(p) = true;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&shown));
  return shown;
}

// Milliseconds from the start of exe to its first figures, or -1 after 60 s.
double TimeToFigures(const std::wstring& exe, const wchar_t* cls, TScopedHandle& process) {
  const auto t0 = TClock::now();
  process = Start(exe);
  if (!process) return -1;
  const DWORD pid = ::GetProcessId(process.get());
  while (!FiguresShown(pid, cls)) {
    if (TClock::now() - t0 > std::chrono::seconds(60)) return -1;
    ::Sleep(1);
  }
  return std::chrono::duration<double, std::milli>(TClock::now() - t0).count();
}

void CloseProgram(TScopedHandle& process, const std::wstring& exe, const wchar_t* cls) {
  if (wcscmp(cls, L"TfmPerformance") == 0) {
    TScopedHandle closer = Start(exe, L"exit");
    if (closer) ::WaitForSingleObject(closer.get(), 20000);
  } else if (HWND w = ::FindWindowW(cls, nullptr)) {
    ::PostMessageW(w, WM_CLOSE, 0, 0);
  }
  if (::WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 1);
}

// Wine's display density for processes started from now on; 0 reads as unset.
const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
DWORD ReadLogPixels() {
  DWORD value = 0, size = sizeof value;
  return ::RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &value,
                        &size) == ERROR_SUCCESS
             ? value
             : 0;
}
void WriteLogPixels(DWORD dpi) {
  if (dpi == 0) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
    return;
  }
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

size_t WorkingSetOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  return ::GetProcessMemoryInfo(process, &pmc, sizeof pmc) ? pmc.WorkingSetSize : 0;
}

DWORD ServicePid() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(scm ? ::OpenServiceW(scm.get(), L"KLService", SERVICE_QUERY_STATUS) : nullptr);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!svc || !::QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                      sizeof status, &needed))
    return 0;
  return status.dwProcessId;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 9;
  const int settle = argc > 2 ? std::atoi(argv[2]) : 60;
  const DWORD savedDpi = ReadLogPixels();
  std::vector<DWORD> densities{savedDpi};
  if (argc > 3 && std::atoi(argv[3]) > 0) densities.push_back(static_cast<DWORD>(std::atoi(argv[3])));
  const std::wstring app = BinDir() + L"eBrisko.exe";
  const std::wstring bare = BinDir() + L"bench_bare_window.exe";
  std::vector<std::vector<double>> appTimes(densities.size()), bareTimes(densities.size());
  for (int i = 0; i < runs; ++i) {
    // Alternating, so both (and both densities) see the same machine.
    for (size_t d = 0; d < densities.size(); ++d) {
      if (densities.size() > 1) WriteLogPixels(densities[d]);
      TScopedHandle p;
      const double b = TimeToFigures(bare, L"TBareWindow", p);
      CloseProgram(p, bare, L"TBareWindow");
      const double a = TimeToFigures(app, L"TfmPerformance", p);
      CloseProgram(p, app, L"TfmPerformance");
      if (a < 0 || b < 0) {
        WriteLogPixels(savedDpi);
        std::printf("run %d: a window did not show its figures within 60 s\n", i + 1);
        return 1;
      }
      appTimes[d].push_back(a);
      bareTimes[d].push_back(b);
    }
  }
  WriteLogPixels(savedDpi);
  for (size_t d = 0; d < densities.size(); ++d) {
    const double ma = Median(appTimes[d]), mb = Median(bareTimes[d]);
    std::printf("start to first figures, median of %d%s: program %.1f ms, bare window %.1f ms, ratio %.2f\n",
                runs, densities.size() > 1 ? (" at " + std::to_string(densities[d] ? densities[d] : 96) + " dpi").c_str() : "",
                ma, mb, mb > 0 ? ma / mb : 0.0);
  }
  if (densities.size() > 1)
    std::printf("program at %lu dpi beside %lu dpi: %.2f\n", static_cast<unsigned long>(densities[1]),
                static_cast<unsigned long>(densities[0] ? densities[0] : 96),
                Median(appTimes[0]) > 0 ? Median(appTimes[1]) / Median(appTimes[0]) : 0.0);

  TScopedHandle p;
  if (TimeToFigures(app, L"TfmPerformance", p) < 0) return 1;
  std::printf("waiting %d s for the working sets...\n", settle);
  ::Sleep(static_cast<DWORD>(settle) * 1000);
  TScopedHandle service(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ServicePid()));
  std::printf("working set after %d s: program %.1f MiB, service %.1f MiB\n", settle,
              WorkingSetOf(p.get()) / 1048576.0, service ? WorkingSetOf(service.get()) / 1048576.0 : 0.0);
  CloseProgram(p, app, L"TfmPerformance");
  return 0;
}
