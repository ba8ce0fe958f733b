// Start-up of the program: from process start to the main window showing its first memory
// figures, median of several runs, beside a bare Win32 window measured the same way in the
// same run; where the program's time goes, step by step; then the private and resident memory
// of the program, the bare window, the service and a bare service after they settled.
//   startup_bench [runs] [settle-seconds] [dpi] [--program <folder>]...
// With a dpi (such as 144 for 150 %) every run also starts each of them at that pixel density,
// by Wine's "LogPixels" setting, which a new process reads at its start; the setting is put
// back at the end, and the footprints are taken at the prefix's own density.
// Each --program folder holds an eBrisko.exe with its Resources (default: the program folder
// as the setup installs it, ..\ship beside this bench's bin folder); several are measured
// alternating with each other and with the bare window. Needs KLService installed in the prefix
// (bash scripts/run.sh does it) and starts it when it is stopped; installs, starts and removes
// the bare service "QBBareService" itself.
#include "app/StartupTrace_win.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
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

std::wstring WithBackslash(std::wstring dir) {
  if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
  return dir;
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t out[MAX_PATH] = {};
  const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH, out, nullptr);
  return n > 0 && n < MAX_PATH ? std::wstring(out, n) : path;
}

bool FileExists(const std::wstring& path) {
  const DWORD attr = ::GetFileAttributesW(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
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
  // The texts are read as the system keeps them, without a message per window: the probe's
  // own cost must not grow with the number of windows it looks through.
  HWND label = nullptr;
  ::EnumChildWindows(f.Found, [](HWND c, LPARAM p) -> BOOL {
    wchar_t text[128] = {};
    ::InternalGetWindowText(c, text, 128);
    // The design text "Used: 94 MB" is not a figure yet.
    if (wcsncmp(text, L"Used: ", 6) == 0 && wcscmp(text, L"Used: 94 MB") != 0) {
      *reinterpret_cast<HWND*>(p) = c;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&label));
  // Shown once the window's thread answers: the programs paint before their message loop runs.
  DWORD_PTR answer = 0;
  return label && ::SendMessageTimeoutW(label, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
}

// Milliseconds from the start of exe to its first figures, or -1 after 60 s; startedAt gets
// the system time (100 ns units) just before the process was created.
double TimeToFigures(const std::wstring& exe, const wchar_t* cls, TScopedHandle& process,
                     uint64_t* startedAt = nullptr) {
  if (startedAt) *startedAt = StartupClock();
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
  if (!process) return;
  if (wcscmp(cls, L"TfmPerformance") == 0) {
    TScopedHandle closer = Start(exe, L"exit");
    if (closer) ::WaitForSingleObject(closer.get(), 20000);
  } else if (HWND w = ::FindWindowW(cls, nullptr)) {
    ::PostMessageW(w, WM_CLOSE, 0, 0);
  }
  if (::WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 1);
  process.reset();
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

// --- The program's own start-up marks ---------------------------------------------------

std::wstring TracePath() {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"qb-startup-trace.txt";
}

struct TMark {
  std::string Step;
  uint64_t Time;
};

// The marks the program wrote, in order; empty when none came within 10 s.
std::vector<TMark> ReadTrace(const std::wstring& path) {
  std::vector<TMark> marks;
  const auto t0 = TClock::now();
  while (!FileExists(path)) {
    if (TClock::now() - t0 > std::chrono::seconds(10)) return marks;
    ::Sleep(5);
  }
  TScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return marks;
  std::string text(65536, '\0');
  DWORD got = 0;
  if (!::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return marks;
  text.resize(got);
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    marks.push_back({line.substr(0, tab), std::strtoull(line.c_str() + tab + 1, nullptr, 10)});
  }
  return marks;
}

// --- Memory -------------------------------------------------------------------------------

struct TMemory {
  double PrivateMiB = -1;  // PROCESS_MEMORY_COUNTERS_EX.PrivateUsage
  double WorkingMiB = -1;  // working set
  double ProcRssMiB = -1;  // /proc/PID/smaps_rollup: Rss
  double ProcPrivateMiB = -1;  // Private_Clean + Private_Dirty
  double ProcAnonMiB = -1;     // Anonymous
};

std::string ReadWholeFile(const std::wstring& path) {
  TScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  std::string all;
  if (!file) return all;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) all.append(buffer, got);
  return all;
}

// The Linux process behind a Wine process, found by the program path in its command line
// (Wine puts the Windows path there); 0 when not exactly one matches.
unsigned UnixPidOf(const std::wstring& exePath) {
  const std::wstring want = Lower(FullPath(exePath));
  WIN32_FIND_DATAW fd;
  TScopedFindHandle find(::FindFirstFileW(L"Z:\\proc\\*", &fd));
  if (!find) return 0;
  unsigned found = 0;
  int matches = 0;
  do {
    if (fd.cFileName[0] < L'0' || fd.cFileName[0] > L'9') continue;
    const std::string cmdline =
        ReadWholeFile(std::wstring(L"Z:\\proc\\") + fd.cFileName + L"\\cmdline");
    const std::string arg0 = cmdline.substr(0, cmdline.find('\0'));
    if (Lower(Utf8ToWide(arg0)) == want) {
      found = static_cast<unsigned>(std::wcstoul(fd.cFileName, nullptr, 10));
      ++matches;
    }
  } while (::FindNextFileW(find.get(), &fd));
  return matches == 1 ? found : 0;
}

double KbField(const std::string& text, const char* name) {
  const size_t at = text.find(std::string("\n") + name);
  const size_t start = at == std::string::npos ? (text.rfind(name, 0) == 0 ? 0 : std::string::npos) : at + 1;
  if (start == std::string::npos) return -1;
  return std::strtod(text.c_str() + start + std::strlen(name), nullptr) / 1024.0;
}

TMemory MemoryOf(HANDLE process, const std::wstring& exePath) {
  TMemory m;
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof pmc;
  if (process && ::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) {
    m.PrivateMiB = pmc.PrivateUsage / 1048576.0;
    m.WorkingMiB = pmc.WorkingSetSize / 1048576.0;
  }
  if (const unsigned pid = UnixPidOf(exePath)) {
    const std::string rollup = ReadWholeFile(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\smaps_rollup");
    m.ProcRssMiB = KbField(rollup, "Rss:");
    const double clean = KbField(rollup, "Private_Clean:"), dirty = KbField(rollup, "Private_Dirty:");
    if (clean >= 0 && dirty >= 0) m.ProcPrivateMiB = clean + dirty;
    m.ProcAnonMiB = KbField(rollup, "Anonymous:");
  }
  return m;
}

// The private figure compared: PrivateUsage where the system reports it (Windows), else the
// resident anonymous memory of /proc (Wine 8 reports 0 for another process); pages mapped from
// a file by this one process only count as Private in smaps_rollup but are no private commit.
double PrivateOf(const TMemory& m) { return m.PrivateMiB > 0 ? m.PrivateMiB : m.ProcAnonMiB; }

void PrintMemory(const char* what, const TMemory& m) {
  std::printf("  %-34s private %6.1f MiB  working set %6.1f MiB  | /proc: Rss %6.1f  Private %6.1f  Anonymous %6.1f MiB\n",
              what, m.PrivateMiB, m.WorkingMiB, m.ProcRssMiB, m.ProcPrivateMiB, m.ProcAnonMiB);
}

// --- Services -----------------------------------------------------------------------------

struct TServiceProcess {
  DWORD Pid = 0;
  std::wstring Path;
};

TServiceProcess ServiceProcess(const wchar_t* name) {
  TServiceProcess result;
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(scm ? ::OpenServiceW(scm.get(), name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG) : nullptr);
  if (!svc) return result;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (::QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed) &&
      status.dwCurrentState == SERVICE_RUNNING)
    result.Pid = status.dwProcessId;
  // The program that runs, which need not be the one configured now.
  if (result.Pid) {
    TScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, result.Pid));
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (process && ::QueryFullProcessImageNameW(process.get(), 0, image, &size)) {
      result.Path.assign(image, size);
      return result;
    }
  }
  std::vector<BYTE> buffer(8192);
  if (::QueryServiceConfigW(svc.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed)) {
    std::wstring command = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->lpBinaryPathName;
    if (!command.empty() && command[0] == L'"') command = command.substr(1, command.find(L'"', 1) - 1);
    else command = command.substr(0, command.find(L' '));
    result.Path = command;
  }
  return result;
}

// Starts KLService when it is installed but stopped (as the Wine tests leave it); true when it
// runs within 10 s. Without it the program would sit in its wait for the service.
bool EnsureServiceRunning(const wchar_t* name) {
  if (ServiceProcess(name).Pid) return true;
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(scm ? ::OpenServiceW(scm.get(), name, SERVICE_START | SERVICE_QUERY_STATUS) : nullptr);
  if (!svc) return false;
  ::StartServiceW(svc.get(), 0, nullptr);
  for (int i = 0; i < 100; ++i) {
    if (ServiceProcess(name).Pid) return true;
    ::Sleep(100);
  }
  return false;
}

constexpr const wchar_t* kBareService = L"QBBareService";

// Installs and starts the bare service; false when it does not run within 10 s.
bool StartBareService() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
  if (!scm) return false;
  const std::wstring command = L"\"" + BinDir() + L"bench_bare_service.exe\"";
  TScopedServiceHandle svc(::CreateServiceW(scm.get(), kBareService, kBareService, SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                            SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                            nullptr, nullptr, nullptr));
  if (!svc && ::GetLastError() == ERROR_SERVICE_EXISTS)
    svc.reset(::OpenServiceW(scm.get(), kBareService, SERVICE_ALL_ACCESS));
  if (!svc) return false;
  ::StartServiceW(svc.get(), 0, nullptr);
  for (int i = 0; i < 100; ++i) {
    SERVICE_STATUS st{};
    if (::QueryServiceStatus(svc.get(), &st) && st.dwCurrentState == SERVICE_RUNNING) return true;
    ::Sleep(100);
  }
  return false;
}

void RemoveBareService() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(scm ? ::OpenServiceW(scm.get(), kBareService, SERVICE_ALL_ACCESS) : nullptr);
  if (!svc) return;
  SERVICE_STATUS st{};
  if (::ControlService(svc.get(), SERVICE_CONTROL_STOP, &st))
    for (int i = 0; i < 100 && ::QueryServiceStatus(svc.get(), &st) && st.dwCurrentState != SERVICE_STOPPED; ++i)
      ::Sleep(100);
  ::DeleteService(svc.get());
}

struct TProgram {
  std::wstring Folder;
  std::string Label;
  std::wstring Exe;
  std::vector<double> Times;
  std::map<std::string, std::vector<double>> Steps;  // step -> milliseconds since the step before
  std::vector<std::string> Order;                    // steps in the order the program marks them
  size_t Density = 0;                                // index into the densities measured
};

std::string LabelOf(const std::wstring& folder) {
  std::wstring f = folder;
  while (!f.empty() && (f.back() == L'\\' || f.back() == L'/')) f.pop_back();
  return WideToUtf8(f.substr(f.find_last_of(L"\\/") + 1));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::vector<std::wstring> folders;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--program" && i + 1 < argc)
      folders.push_back(WithBackslash(FullPath(Utf8ToWide(argv[++i]))));
    else
      positional.push_back(a);
  }
  const int runs = positional.size() > 0 ? std::atoi(positional[0].c_str()) : 9;
  const int settle = positional.size() > 1 ? std::atoi(positional[1].c_str()) : 60;
  const DWORD savedDpi = ReadLogPixels();
  std::vector<DWORD> densities{savedDpi};
  if (positional.size() > 2 && std::atoi(positional[2].c_str()) > 0)
    densities.push_back(static_cast<DWORD>(std::atoi(positional[2].c_str())));
  auto dpiLabel = [&](size_t d) {
    return densities.size() > 1 ? " at " + std::to_string(densities[d] ? densities[d] : 96) + " dpi"
                                : std::string();
  };
  if (folders.empty()) {
    const std::wstring ship = FullPath(BinDir() + L"..\\ship\\");
    folders.push_back(FileExists(ship + L"eBrisko.exe") ? WithBackslash(ship) : BinDir());
  }
  std::vector<TProgram> programs;
  for (const std::wstring& folder : folders) {
    TProgram p;
    p.Folder = folder;
    p.Label = LabelOf(folder);
    p.Exe = folder + L"eBrisko.exe";
    if (!FileExists(p.Exe)) {
      std::printf("no eBrisko.exe in %s\n", WideToUtf8(folder).c_str());
      return 1;
    }
    for (size_t d = 0; d < densities.size(); ++d) {
      TProgram atDensity = p;
      atDensity.Density = d;
      atDensity.Label += dpiLabel(d);
      programs.push_back(std::move(atDensity));
    }
  }
  if (!EnsureServiceRunning(L"KLService")) {
    std::printf("KLService is not installed or does not start in this prefix (bash scripts/run.sh "
                "installs and starts it)\n");
    return 1;
  }
  const std::wstring bare = BinDir() + L"bench_bare_window.exe";
  const std::wstring trace = TracePath();
  ::SetEnvironmentVariableW(L"QB_STARTUP_TRACE", trace.c_str());

  std::vector<TProgram> bareRuns(densities.size());
  for (size_t d = 0; d < densities.size(); ++d) {
    bareRuns[d].Label = "bare window" + dpiLabel(d);
    bareRuns[d].Exe = bare;
    bareRuns[d].Density = d;
  }
  // One start to first figures, with the marks of the start-up steps; false after 60 s.
  auto measure = [&](TProgram& program, const wchar_t* cls) {
    ::DeleteFileW(trace.c_str());
    TScopedHandle p;
    uint64_t started = 0;
    const double a = TimeToFigures(program.Exe, cls, p, &started);
    const uint64_t seen = StartupClock();
    const std::vector<TMark> marks = a < 0 ? std::vector<TMark>{} : ReadTrace(trace);
    CloseProgram(p, program.Exe, cls);
    if (a < 0) return false;
    program.Times.push_back(a);
    std::printf(", %s %.0f ms", program.Label.c_str(), a);
    // Each step's time is counted from the end of the step before; the first from the moment
    // just before the process was created.
    uint64_t before = started;
    auto add = [&](const std::string& step, uint64_t at) {
      if (std::find(program.Order.begin(), program.Order.end(), step) == program.Order.end())
        program.Order.push_back(step);
      program.Steps[step].push_back(at >= before ? (at - before) / 10000.0 : 0.0);
      before = at;
    };
    for (const TMark& m : marks) {
      if (m.Step == "process created") continue;  // the system's own figure: coarse under Wine
      add(m.Step == "runtime start" ? "process start to the program's runtime (loader, DLLs)" : m.Step, m.Time);
    }
    if (!marks.empty()) add("message loop: figures seen from outside", seen);
    return true;
  };
  for (int i = 0; i < runs; ++i) {
    // Alternating, so all (and both densities) see the same machine.
    std::printf("run %d", i + 1);
    for (size_t d = 0; d < densities.size(); ++d) {
      if (densities.size() > 1) WriteLogPixels(densities[d]);
      if (!measure(bareRuns[d], L"TBareWindow")) {
        WriteLogPixels(savedDpi);
        std::printf("\nrun %d: the bare window did not show its figures within 60 s\n", i + 1);
        return 1;
      }
      for (TProgram& program : programs)
        if (program.Density == d && !measure(program, L"TfmPerformance")) {
          WriteLogPixels(savedDpi);
          std::printf("\nrun %d: %s did not show its figures within 60 s\n", i + 1, program.Label.c_str());
          return 1;
        }
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  if (densities.size() > 1) WriteLogPixels(savedDpi);
  ::SetEnvironmentVariableW(L"QB_STARTUP_TRACE", nullptr);

  for (const TProgram& program : programs) {
    const double ma = Median(program.Times), mb = Median(bareRuns[program.Density].Times);
    std::printf("start to first figures, median of %d: program %.1f ms (%s), bare window %.1f ms, ratio %.2f\n",
                runs, ma, program.Label.c_str(), mb, mb > 0 ? ma / mb : 0.0);
  }
  for (size_t i = 0; densities.size() > 1 && i + 1 < programs.size(); i += densities.size()) {
    const double at96 = Median(programs[i].Times);
    std::printf("program%s beside%s: %.2f\n", dpiLabel(1).c_str(), dpiLabel(0).c_str(),
                at96 > 0 ? Median(programs[i + 1].Times) / at96 : 0.0);
  }
  std::vector<TProgram> all = bareRuns;
  all.insert(all.end(), programs.begin(), programs.end());
  for (const TProgram& program : all) {
    std::printf("where the time goes (%s), median ms of each step:\n", program.Label.c_str());
    for (const std::string& step : program.Order)
      std::printf("  %8.1f  %s\n", Median(program.Steps.at(step)), step.c_str());
  }
  // The footprints are taken at the prefix's own density only.
  programs.erase(std::remove_if(programs.begin(), programs.end(),
                                [](const TProgram& p) { return p.Density != 0; }),
                 programs.end());
  std::fflush(stdout);

  // Footprints after settling: the bare floors and the service first, then each program.
  TScopedHandle bareWindow;
  if (TimeToFigures(bare, L"TBareWindow", bareWindow) < 0) return 1;
  const bool bareService = StartBareService();
  if (!bareService) std::printf("the bare service did not start: no floor for the service\n");
  std::vector<TMemory> programMemory;
  for (size_t i = 0; i < programs.size(); ++i) {
    TScopedHandle p;
    if (TimeToFigures(programs[i].Exe, L"TfmPerformance", p) < 0) return 1;
    std::printf("waiting %d s for the footprints (%s)...\n", settle, programs[i].Label.c_str());
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(settle) * 1000);
    programMemory.push_back(MemoryOf(p.get(), programs[i].Exe));
    CloseProgram(p, programs[i].Exe, L"TfmPerformance");
  }
  const TMemory bareMemory = MemoryOf(bareWindow.get(), bare);
  CloseProgram(bareWindow, bare, L"TBareWindow");
  const TServiceProcess kl = ServiceProcess(L"KLService");
  TScopedHandle klProcess(kl.Pid ? ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, kl.Pid) : nullptr);
  const TMemory serviceMemory = MemoryOf(klProcess.get(), kl.Path);
  TMemory bareServiceMemory;
  if (bareService) {
    const TServiceProcess b = ServiceProcess(kBareService);
    TScopedHandle bp(b.Pid ? ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, b.Pid) : nullptr);
    bareServiceMemory = MemoryOf(bp.get(), b.Path);
  }
  RemoveBareService();

  std::printf("footprints after %d s:\n", settle);
  for (size_t i = 0; i < programs.size(); ++i)
    PrintMemory(("program (" + programs[i].Label + ")").c_str(), programMemory[i]);
  PrintMemory("bare window", bareMemory);
  PrintMemory(("service (" + WideToUtf8(kl.Path.substr(kl.Path.find_last_of(L"\\/") + 1)) + ")").c_str(),
              serviceMemory);
  PrintMemory("bare service", bareServiceMemory);
  for (size_t i = 0; i < programs.size(); ++i)
    std::printf("ratios (%s): private program/bare window %.2f, working set %.2f\n",
                programs[i].Label.c_str(),
                PrivateOf(bareMemory) > 0 ? PrivateOf(programMemory[i]) / PrivateOf(bareMemory) : 0.0,
                bareMemory.WorkingMiB > 0 ? programMemory[i].WorkingMiB / bareMemory.WorkingMiB : 0.0);
  std::printf("service private - bare service private: %.1f MiB\n",
              PrivateOf(serviceMemory) - PrivateOf(bareServiceMemory));
  return 0;
}
