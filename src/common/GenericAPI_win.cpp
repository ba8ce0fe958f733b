// The Win32 half of the paths, the log and the registry string read.
#include "common/GenericAPI.h"

#include "common/FolderWalk_win.h"
#include "common/GenericShellAPI.h"
#include "common/ProtectedFolders_win.h"
#include "common/RawRegistry.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <shlobj.h>

#include <mutex>
#include <string>

namespace {

// Append-only access keeps writers of several processes apart on Windows; Wine's append is not
// atomic, so the threads of this process also take turns.
std::mutex gLogMutex;

// The current local date and time in the user's short date and long time formats.
std::string NowText() {
  wchar_t date[128] = {};
  wchar_t time[128] = {};
  ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128);
  ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128);
  return WideToUtf8(date) + " " + WideToUtf8(time);
}

}  // namespace

bool IsFolderClearable(std::string_view dir) {
  const TCleanupTarget target =
      CleanupTarget(Utf8ToWide(IncludeTrailingSeparator(dir)), "IsFolderClearable");
  if (target.Folder.Path.empty()) return false;
  const TScopedFileHandle h = OpenFolderForListing(target.Folder);
  return h && target.Gate(target.Folder, GuardFileIn(ListEntries(h.get())));
}

void DeleteFolderContents(std::string_view dir) {
  try {
    // The folder as it resolves, so that the checks and the walk see where a link leads.
    const TCleanupTarget target =
        CleanupTarget(Utf8ToWide(IncludeTrailingSeparator(dir)), "DeleteFolderContents");
    if (!target.Folder.Path.empty()) DeleteTree(target.Folder, target.Gate);
  } catch (const std::exception&) {
    // Clearing is best effort: what is left stays (out of memory is all that can throw here).
  }
}

std::string GetAppFileName() {
  // Long program paths exceed MAX_PATH; grow until the whole name fits.
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return WideToUtf8(buf);
    }
    buf.resize(buf.size() * 2);
  }
}

std::string GetAppDir() { return IncludeTrailingSeparator(ExtractFilePath(GetAppFileName())); }

void WriteLogTo(std::string_view path, std::string_view msg) {
  try {
    const std::lock_guard<std::mutex> lock(gLogMutex);
    // Append-only access makes every write land at the end, so lines never overwrite each other.
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string line = NowText() + ": " + std::string(msg) + "\r\n";
    DWORD written = 0;
    ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
    // The log must never disturb its caller.
  }
}

void WriteLog(std::string_view msg) {
  const std::string& dir = GetCommonAppDataDir();
  // Without the folder the name would fall back to the current directory.
  if (dir.empty()) return;
  WriteLogTo(dir + "tqrlog.txt", msg);
}

std::string ReadRegString(std::string_view key, std::string_view name, bool currentUser,
                          bool use64BitView) {
  return ReadRegString(SystemRegistry(), key, name, currentUser, use64BitView);
}
