#include "ServicePorts_win.h"

#include "common/Errors.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <vector>

namespace {

// The memory-list information class and its commands (not in the SDK headers MinGW ships).
constexpr int kSystemMemoryListInformation = 80;
constexpr int kMemoryEmptyWorkingSets = 2;
constexpr int kMemoryPurgeLowPriorityStandbyList = 5;
using TNtSetSystemInformation = LONG(NTAPI*)(int infoClass, void* info, ULONG length);

std::string Hex(unsigned long v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", v);
  return buf;
}

// Enables one privilege of the process token; false when the token does not hold it.
bool EnablePrivilege(const wchar_t* name, std::string& why) {
  TScopedHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.put())) {
    why = SystemErrorText(::GetLastError());
    return false;
  }
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid) ||
      !::AdjustTokenPrivileges(token.get(), FALSE, &tp, sizeof tp, nullptr, nullptr)) {
    why = SystemErrorText(::GetLastError());
    return false;
  }
  if (::GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    why = "not held by the account";
    return false;
  }
  return true;
}

TNtSetSystemInformation NtSetSystemInformationProc() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");  // always loaded: no ownership
  return ntdll ? reinterpret_cast<TNtSetSystemInformation>(
                     reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtSetSystemInformation")))
               : nullptr;
}

// Sends one command of the memory-list class; false (with the status) when refused.
bool MemoryListCommand(TNtSetSystemInformation call, int command, std::string& why) {
  if (!call) {
    why = "NtSetSystemInformation not available";
    return false;
  }
  const LONG status = call(kSystemMemoryListInformation, &command, sizeof command);
  if (status < 0) {
    why = "NTSTATUS " + Hex(static_cast<unsigned long>(status));
    return false;
  }
  return true;
}

// Empties the working set of every process that may be opened; gives how many were emptied.
int EmptyEveryWorkingSet(int& refused) {
  std::vector<DWORD> ids(1024);
  DWORD bytes = 0;
  for (;;) {
    if (!::EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes))
      return 0;
    if (bytes < ids.size() * sizeof(DWORD)) break;
    ids.resize(ids.size() * 2);
  }
  ids.resize(bytes / sizeof(DWORD));
  int emptied = 0;
  for (DWORD id : ids) {
    if (id == 0) continue;
    TScopedHandle process(
        ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (process && ::EmptyWorkingSet(process.get()))
      ++emptied;
    else
      ++refused;
  }
  return emptied;
}

}  // namespace

TMemoryStatus TWinMemoryPort::Status() {
  MEMORYSTATUSEX ms{};
  ms.dwLength = sizeof ms;
  if (!::GlobalMemoryStatusEx(&ms))
    throw Exception("GlobalMemoryStatusEx: " + SystemErrorText(::GetLastError()));
  return {static_cast<uint32_t>(ms.dwMemoryLoad), ms.ullTotalPhys, ms.ullAvailPhys};
}

TFreeSteps TWinMemoryPort::FreeMemory(std::function<void(std::string_view)> log) {
  TFreeSteps steps;
  auto outcome = [&](bool ok, const std::string& step, const std::string& why) {
    if (ok) {
      ++steps.Done;
    } else {
      ++steps.Refused;
      log(step + " refused, skipped: " + why);
    }
    return ok;
  };
  std::string why;
  for (const wchar_t* privilege :
       {L"SeProfileSingleProcessPrivilege", L"SeIncreaseQuotaPrivilege", L"SeDebugPrivilege"})
    outcome(EnablePrivilege(privilege, why), "privilege " + WideToUtf8(privilege), why);

  const TNtSetSystemInformation nt = NtSetSystemInformationProc();
  if (!outcome(MemoryListCommand(nt, kMemoryEmptyWorkingSets, why),
               "empty working sets system-wide", why)) {
    int refused = 0;
    const int emptied = EmptyEveryWorkingSet(refused);
    outcome(emptied > 0, "empty working sets per process", "no process could be emptied");
    if (refused) log("working sets of " + std::to_string(refused) + " processes not emptied");
  }
  const bool trimmed =
      ::SetSystemFileCacheSize(static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1), 0) != FALSE;
  outcome(trimmed, "trim the system file cache", trimmed ? "" : SystemErrorText(::GetLastError()));
  outcome(MemoryListCommand(nt, kMemoryPurgeLowPriorityStandbyList, why),
          "purge the low-priority standby list", why);
  return steps;
}

std::optional<TSchedule> TRegistryScheduleStore::Load() {
  TScopedRegKey key;
  if (::RegOpenKeyExW(FRoot, FPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  auto read = [&](const wchar_t* name) -> std::optional<DWORD> {
    DWORD type = 0, value = 0, size = sizeof value;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
      return std::nullopt;
    return value;
  };
  const auto enabled = read(L"ScheduleEnabled");
  const auto period = read(L"SchedulePeriod");
  if (!enabled || !period || (*period != 5 && *period != 30 && *period != 60)) return std::nullopt;
  return TSchedule{*enabled != 0, static_cast<int>(*period)};
}

void TRegistryScheduleStore::Save(const TSchedule& schedule) {
  TScopedRegKey key;
  LONG rc = ::RegCreateKeyExW(FRoot, FPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr);
  auto write = [&](const wchar_t* name, DWORD value) {
    if (rc == ERROR_SUCCESS)
      rc = ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
  };
  write(L"ScheduleEnabled", schedule.Enabled ? 1 : 0);
  write(L"SchedulePeriod", static_cast<DWORD>(schedule.PeriodMinutes));
  if (rc != ERROR_SUCCESS)
    throw ERegistryException("schedule not stored: " + SystemErrorText(static_cast<DWORD>(rc)));
}

bool TFileServiceLog::Open(DWORD disposition) {
  // Readers may look at the log while it is written, and it may be renamed while open.
  // Write access, not only appending: a file that cannot be renamed is cut back in place.
  FFile.reset(::CreateFileW(FPath.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!FFile) return false;
  LARGE_INTEGER end{};
  FSize = ::SetFilePointerEx(FFile.get(), LARGE_INTEGER{}, &end, FILE_END)
              ? static_cast<uint64_t>(end.QuadPart)
              : 0;
  return true;
}

void TFileServiceLog::Rotate() {
  const std::wstring old = FPath + L".1";
  // Our own handle shares the rename; the new file is opened before the old handle goes, so a
  // failure leaves the log where it was.
  if (::MoveFileExW(FPath.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    TScopedFileHandle previous(FFile.release());
    if (Open(OPEN_ALWAYS)) return;
    FFile = std::move(previous);
    ::MoveFileExW(old.c_str(), FPath.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  // Held by a reader that does not share the rename: begin the file anew in place.
  if (::SetFilePointerEx(FFile.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) &&
      ::SetEndOfFile(FFile.get()))
    FSize = 0;
}

void TFileServiceLog::Log(std::string_view line) {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  std::string text = stamp;
  text.append(line);
  text += "\r\n";
  std::lock_guard lock(FLock);
  if (FToStderr) std::fwrite(text.data(), 1, text.size(), stderr);
  if (!FFile && !Open(OPEN_ALWAYS)) return;
  if (FSize + text.size() > FRotateBytes) Rotate();
  DWORD written = 0;
  if (::WriteFile(FFile.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
    FSize += written;
  else
    FFile.reset();  // opened again with the next line
}

namespace {

class TSteadyServiceClock final : public IClock {
 public:
  int64_t NowMs() override { return static_cast<int64_t>(::GetTickCount64()); }
  void SleepMs(uint32_t ms) override { ::Sleep(ms); }
};

// Reads one of the system's TCP tables of IPv4 connections with their owning processes.
bool ReadTcpTable(TCP_TABLE_CLASS kind, std::vector<char>& buffer) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD rc = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE,
                                           AF_INET, kind, 0);
    if (rc == NO_ERROR) return true;
    if (rc != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.resize(size + size / 4 + 1024);  // connections come while the table is read
  }
  return false;
}

class TTcpTableOwners final : public IPeerOwners {
 public:
  std::vector<std::pair<uint16_t, uint32_t>> Snapshot(uint16_t serverPort) override {
    std::vector<std::pair<uint16_t, uint32_t>> owners;
    if (!ReadTcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS, FBuffer))
      throw Exception("GetExtendedTcpTable: " + SystemErrorText(::GetLastError()));
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(FBuffer.data());
    const DWORD loopback = htonl(INADDR_LOOPBACK);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = table->table[i];
      // The client's end of a connection to us: its remote end is our port on 127.0.0.1.
      if (row.dwRemoteAddr != loopback || ntohs(static_cast<u_short>(row.dwRemotePort)) != serverPort)
        continue;
      owners.emplace_back(ntohs(static_cast<u_short>(row.dwLocalPort)), row.dwOwningPid);
    }
    return owners;
  }

 private:
  std::vector<char> FBuffer;
};

}  // namespace

IClock& ServiceClock() {
  static TSteadyServiceClock clock;
  return clock;
}

std::unique_ptr<IPeerOwners> CreateTcpTableOwners() { return std::make_unique<TTcpTableOwners>(); }


TServerLimits ReadServerLimits(HKEY root, const wchar_t* path) {
  TServerLimits limits;
  TScopedRegKey key;
  if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return limits;
  auto read = [&](const wchar_t* name, auto& field) {
    DWORD type = 0, value = 0, size = sizeof value;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) == ERROR_SUCCESS &&
        type == REG_DWORD && value != 0)
      field = static_cast<std::remove_reference_t<decltype(field)>>(value);
  };
  read(L"MaxClients", limits.MaxClients);
  read(L"MaxClientsPerProcess", limits.MaxClientsPerProcess);
  read(L"MinFreeIntervalMs", limits.MinFreeIntervalMs);
  read(L"UnfinishedLineMs", limits.UnfinishedLineMs);
  read(L"RecentRequestMs", limits.RecentRequestMs);
  read(L"StalledSendMs", limits.StalledSendMs);
  read(L"BufferedBytesBudget", limits.BufferedBytesBudget);
  // Beyond the signed range a DWORD reads as negative: take the default instead.
  if (limits.MaxClients < 0) limits.MaxClients = TServerLimits().MaxClients;
  if (limits.MaxClientsPerProcess < 0)
    limits.MaxClientsPerProcess = TServerLimits().MaxClientsPerProcess;
  return limits;
}

std::wstring FileBesideProgram(const wchar_t* name) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + name;
}
