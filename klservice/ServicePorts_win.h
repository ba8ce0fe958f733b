// The Windows ports of KLService: the machine's memory, the schedule in the registry and the
// log file (Windows-only header).
#pragma once

#include "ServiceCore.h"

#include "common/WinApi.h"

#include <mutex>
#include <string>

// The key of the service's own settings; removed with the service.
inline constexpr const wchar_t* kServiceParametersKey =
    L"SYSTEM\\CurrentControlSet\\Services\\KLService\\Parameters";

// Physical memory through GlobalMemoryStatusEx; freeing with the memory-list information class,
// per-process working sets and the system file cache.
class TWinMemoryPort final : public IMemoryPort {
 public:
  TMemoryStatus Status() override;
  TFreeSteps FreeMemory(std::function<void(std::string_view)> log) override;
};

// The schedule as the DWORD values "ScheduleEnabled" and "SchedulePeriod" of one registry key.
class TRegistryScheduleStore final : public IScheduleStore {
 public:
  // A store under root\path (the key is made on the first save).
  TRegistryScheduleStore(HKEY root, std::wstring path) : FRoot(root), FPath(std::move(path)) {}
  std::optional<TSchedule> Load() override;
  void Save(const TSchedule& schedule) override;

 private:
  HKEY FRoot;
  std::wstring FPath;
};

// Appends time-stamped lines to a file (started anew beyond 1 MB), and to stderr when asked.
class TFileServiceLog final : public IServiceLog {
 public:
  // A log into path; toStderr also echoes each line to the console.
  TFileServiceLog(std::wstring path, bool toStderr) : FPath(std::move(path)), FToStderr(toStderr) {}
  void Log(std::string_view line) override;

 private:
  std::mutex FLock;
  std::wstring FPath;
  bool FToStderr;
};

// The server's limits: the defaults, each replaced by the DWORD value of its name under
// root\path when that is present and not 0: "MaxClients", "UnfinishedLineMs",
// "RecentRequestMs", "StalledSendMs", "BufferedBytesBudget".
TServerLimits ReadServerLimits(HKEY root, const wchar_t* path);

// The full path of a file beside the running program.
std::wstring FileBesideProgram(const wchar_t* name);
