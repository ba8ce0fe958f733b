// The Win32 half of the theme: the folders searched and the reading of the file.
#include "ui/Theme.h"

#include "common/FileSystem.h"
#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <string>

namespace {

// A theme file is a few kilobytes; anything far larger is not one.
constexpr DWORD kMaxThemeFileSize = 256 * 1024;

// The text of a folder query that fills a buffer and returns the length (0 on failure).
template <class Query>
std::string FolderFrom(Query query) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const UINT n = query(buf.data(), static_cast<UINT>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return WideToUtf8(buf);
    }
    buf.resize(n + 1);
  }
}

// The whole file; throws with the reason when it cannot be read.
std::string ReadThemeText(const std::string& path) {
  TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw Exception(SystemErrorText(::GetLastError()));
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) throw Exception(SystemErrorText(::GetLastError()));
  if (size.QuadPart > kMaxThemeFileSize)
    throw Exception("the file is larger than " + std::to_string(kMaxThemeFileSize) + " bytes");
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && !::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read,
                                   nullptr))
    throw Exception(SystemErrorText(::GetLastError()));
  text.resize(read);
  return text;
}

}  // namespace

std::vector<std::string> ThemeFolders() {
  return {
      FolderFrom([](wchar_t* b, UINT n) { return static_cast<UINT>(::GetCurrentDirectoryW(n, b)); }),
      GetAppDir(),
      FolderFrom([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); }),
      FolderFrom([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); }),
  };
}

TTheme LoadThemeFile(std::string_view name, const std::vector<std::string>& folders,
                     const TThemeLog& log) {
  const std::optional<std::string> path = FindThemeFile(name, folders, IsFile);
  if (!path) return TTheme();
  try {
    return ParseTheme(ReadThemeText(*path));
  } catch (const std::exception& e) {
    if (log) log("Theme file \"" + *path + "\" not used, built-in look kept: " + e.what());
    return TTheme();
  }
}

TTheme LoadQuorTheme() {
  return LoadThemeFile(kThemeFileName, ThemeFolders(), [](std::string_view line) { WriteLog(line); });
}
