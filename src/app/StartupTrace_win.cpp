#include "app/StartupTrace_win.h"

#include "common/WinApi.h"

#include "common/ScopedHandle_win.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct TMark {
  const char* Step;
  uint64_t Time;
};

constexpr int kMaxMarks = 32;
TMark gMarks[kMaxMarks];
int gCount = 0;
bool gWritten = false;

uint64_t Ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

}  // namespace

// The precise clock where the system has one (Windows 8 and later), else the coarse one: the
// measuring side reads the same clock, so both agree across processes.
uint64_t StartupClock() noexcept {
  using TPrecise = void(WINAPI*)(LPFILETIME);
  static const TPrecise precise = reinterpret_cast<TPrecise>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
  FILETIME t{};
  if (precise)
    precise(&t);
  else
    ::GetSystemTimeAsFileTime(&t);
  return Ticks(t);
}

// The program's own code starts here, before any other static initialization of the program.
__attribute__((constructor(101))) static void MarkRuntimeStart() { StartupMark("runtime start"); }

void StartupMark(const char* step) noexcept {
  if (gWritten || gCount == kMaxMarks) return;
  for (int i = 0; i < gCount; ++i)
    if (std::strcmp(gMarks[i].Step, step) == 0) return;
  gMarks[gCount++] = {step, StartupClock()};
}

void WriteStartupTrace() noexcept {
  if (gWritten) return;
  gWritten = true;
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"QB_STARTUP_TRACE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  std::string text;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
    text += "process created\t" + std::to_string(Ticks(created)) + "\n";
  for (int i = 0; i < gCount; ++i)
    text += std::string(gMarks[i].Step) + "\t" + std::to_string(gMarks[i].Time) + "\n";
  // Written whole under a temporary name, so a reader never sees half of it.
  const std::wstring part = std::wstring(path) + L".part";
  bool ok = false;
  {
    TScopedFileHandle file(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    ok = ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
  }
  if (!ok || !::MoveFileExW(part.c_str(), path, MOVEFILE_REPLACE_EXISTING)) ::DeleteFileW(part.c_str());
}
