// The disk cleanup's count pass and clearing on a temporary folder of many small files, beside
// the floor of the same Win32 work (a bare walk that opens each file for its size; a bare walk
// that deletes), a plain listing walk, and the system's own tools (dir /s, rd /s /q).
//   cleanup_bench [rounds] [folders] [files-per-folder] [--dir C:\path]
// Every figure is the median of its rounds; the tree is made again before each clearing.
#include "common/CleanupAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

std::wstring gTree;

void MakeTree(int folders, int files) {
  ::CreateDirectoryW(gTree.c_str(), nullptr);
  const std::string content(100, 'x');
  for (int d = 0; d < folders; ++d) {
    const std::wstring folder = gTree + L"\\d" + std::to_wstring(d);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (int f = 0; f < files; ++f) {
      const std::wstring path = folder + L"\\f" + std::to_wstring(f) + L".tmp";
      TScopedFileHandle h(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      if (h) ::WriteFile(h.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    }
  }
}

// A bare walk with FindFirstFileExW that calls onFile for each file and onFolder after each
// folder's contents.
void Walk(const std::wstring& dir, const std::function<void(const std::wstring&, const WIN32_FIND_DATAW&)>& onFile,
          const std::function<void(const std::wstring&)>& onFolder) {
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &d, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (!std::wcscmp(d.cFileName, L".") || !std::wcscmp(d.cFileName, L"..")) continue;
    const std::wstring path = dir + L"\\" + d.cFileName;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Walk(path, onFile, onFolder);
      if (onFolder) onFolder(path);
    } else {
      onFile(path, d);
    }
  } while (::FindNextFileW(h, &d));
  ::FindClose(h);
}

int64_t gSink = 0;  // keeps the measured work from being optimised away

void ListingWalk() {
  Walk(gTree, [](const std::wstring&, const WIN32_FIND_DATAW& d) { gSink += d.nFileSizeLow; }, {});
}

void OpenEachWalk() {
  Walk(gTree, [](const std::wstring& path, const WIN32_FIND_DATAW&) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(h, &size);
    gSink += size.QuadPart;
    ::CloseHandle(h);
  }, {});
}

void BareDeleteWalk() {
  Walk(gTree, [](const std::wstring& path, const WIN32_FIND_DATAW&) { ::DeleteFileW(path.c_str()); },
       [](const std::wstring& path) { ::RemoveDirectoryW(path.c_str()); });
}

// The clearing's own Win32 work per file without its checks of folders: open the file itself,
// confirm it by its system name, mark it for deletion, close.
void HandleDeleteWalk() {
  Walk(gTree, [](const std::wstring& path, const WIN32_FIND_DATAW&) {
    HANDLE h = ::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    alignas(8) unsigned char name[4096];
    ULONG needed = 0;
    if (::NtQueryObject(h, ObjectNameInformation, name, sizeof name, &needed) >= 0) {
      FILE_DISPOSITION_INFO disposition = {TRUE};
      ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
    }
    ::CloseHandle(h);
  }, [](const std::wstring& path) { ::RemoveDirectoryW(path.c_str()); });
}

void RunCmd(const std::wstring& args) {
  std::wstring line = L"cmd.exe /c " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
    return;
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
}

void WithTempFolder(const std::function<void()>& work) {
  ::SetEnvironmentVariableW(L"TMP", gTree.c_str());
  ::SetEnvironmentVariableW(L"TEMP", gTree.c_str());
  work();
}

double Seconds(const std::function<void()>& work) {
  const auto start = TClock::now();
  work();
  return std::chrono::duration<double>(TClock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3, folders = 500, files = 100;
  std::string dir = "C:\\qb_cleanup_bench";
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
      dir = argv[++i];
    else if (positional == 0 && ++positional)
      rounds = std::atoi(argv[i]);
    else if (positional == 1 && ++positional)
      folders = std::atoi(argv[i]);
    else
      files = std::atoi(argv[i]);
  }
  ::CreateDirectoryW(Utf8ToWide(dir).c_str(), nullptr);
  gTree = Utf8ToWide(dir) + L"\\tree";
  RunCmd(L"rd /s /q \"" + gTree + L"\"");
  std::printf("%d rounds, %d files in %d folders under %s\n", rounds, folders * files, folders,
              dir.c_str());

  std::map<std::string, std::vector<double>> t;
  const auto add = [&](const char* name, double s) {
    t[name].push_back(s);
    std::printf("  %-26s %8.3f s\n", name, s);
    std::fflush(stdout);
  };
  TCountFigures figures;
  for (int r = 0; r < rounds; ++r) {
    std::printf("round %d\n", r + 1);
    MakeTree(folders, files);
    add("listing walk", Seconds(ListingWalk));
    add("open-each walk", Seconds(OpenEachWalk));
    add("count pass", Seconds([&] { WithTempFolder([&] { figures = CountPass(); }); }));
    add("GetFolderSize", Seconds([] { gSink += GetFolderSize(WideToUtf8(gTree)); }));
    add("dir /s", Seconds([] { RunCmd(L"dir /s \"" + gTree + L"\" >NUL"); }));
    RunCmd(L"rd /s /q \"" + gTree + L"\"");
    MakeTree(folders, files);
    add("bare delete walk", Seconds(BareDeleteWalk));
    MakeTree(folders, files);
    add("handle delete walk", Seconds(HandleDeleteWalk));
    MakeTree(folders, files);
    add("clearing (ClearTempFolder)", Seconds([] { WithTempFolder(ClearTempFolder); }));
    MakeTree(folders, files);
    add("rd /s /q", Seconds([] { RunCmd(L"rd /s /q \"" + gTree + L"\""); }));
  }
  std::printf("temporary files counted: %lld bytes\n",
              static_cast<long long>(figures.TempFilesBytes.value_or(-1)));

  std::printf("\nmedians\n");
  for (const auto& [name, v] : t) std::printf("  %-26s %8.3f s\n", name.c_str(), Median(v));
  const auto ratio = [&](const char* a, const char* b) {
    std::printf("  %-26s / %-20s %6.2fx\n", a, b, Median(t[a]) / Median(t[b]));
  };
  std::printf("\nratios of medians\n");
  ratio("count pass", "open-each walk");
  ratio("count pass", "listing walk");
  ratio("count pass", "dir /s");
  ratio("GetFolderSize", "open-each walk");
  ratio("clearing (ClearTempFolder)", "bare delete walk");
  ratio("clearing (ClearTempFolder)", "handle delete walk");
  ratio("clearing (ClearTempFolder)", "rd /s /q");
  ratio("handle delete walk", "bare delete walk");
  RunCmd(L"rd /s /q \"" + gTree + L"\"");
  return 0;
}
