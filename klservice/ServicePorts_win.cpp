#include "ServicePorts_win.h"

#include "common/Errors.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <psapi.h>

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
  TScopedFileHandle file(::CreateFileW(FPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > (1 << 20)) {
    file.reset(::CreateFileW(FPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
  }
  DWORD written = 0;
  ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

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
  read(L"UnfinishedLineMs", limits.UnfinishedLineMs);
  read(L"RecentRequestMs", limits.RecentRequestMs);
  read(L"StalledSendMs", limits.StalledSendMs);
  read(L"BufferedBytesBudget", limits.BufferedBytesBudget);
  if (limits.MaxClients < 0) limits.MaxClients = TServerLimits().MaxClients;
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
