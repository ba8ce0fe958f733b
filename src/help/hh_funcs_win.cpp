// The Win32 half of the help launcher: the machine behind IHelpPlatform, the process's
// launcher, and the main window's help command.
#include "help/hh_funcs_win.h"

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "help/hh.h"
#include "help/hh_win.h"
#include "i18n/Localization.h"
#include "i18n/StringTable.h"

#include <shellapi.h>

#include <vector>

namespace {

HWND gHelpMainWindow = nullptr;

// The window that owns a warning: the program's active window, else its main window.
HWND OwnerWindow() {
  HWND active = ::GetActiveWindow();
  return active ? active : gHelpMainWindow;
}

std::string ModulePath(HMODULE module) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return WideToUtf8(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

// A system folder from a call that fills a buffer and returns the length it needs.
template <class F>
std::string FolderFrom(F call) {
  wchar_t buffer[MAX_PATH + 1];
  const UINT n = call(buffer, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return {};
  return WideToUtf8(std::wstring_view(buffer, n));
}

std::string LocaleText(LCTYPE type) {
  wchar_t buffer[64];
  const int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 64);
  return n > 1 ? WideToUtf8(std::wstring_view(buffer, static_cast<size_t>(n) - 1)) : std::string();
}

std::string LongTime() {
  wchar_t buffer[128];
  const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buffer, 128);
  return n > 1 ? WideToUtf8(std::wstring_view(buffer, static_cast<size_t>(n) - 1)) : std::string();
}

class TSystemHelpPlatform final : public IHelpPlatform {
 public:
  std::string HelpControlPath() override { return FindHelpControl(); }

  std::string ModuleFileName() override {
    HMODULE self = nullptr;
    // The module holding this code: the program itself, or a library it was linked into.
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&OwnerWindow), &self))
      self = nullptr;
    return ModulePath(self);
  }
  std::string ProgramFileName() override { return ModulePath(nullptr); }

  std::vector<std::string> Parameters() override {
    std::vector<std::string> params;
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv) return params;
    for (int i = 1; i < argc; ++i) params.push_back(WideToUtf8(argv[i]));
    ::LocalFree(argv);
    return params;
  }

  std::string TempDir() override {
    return FolderFrom([](wchar_t* b, UINT n) { return ::GetTempPathW(n, b); });
  }
  std::string WindowsDir() override {
    return FolderFrom([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
  }
  std::string SystemDir() override {
    return FolderFrom([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
  }

  bool FileExists(const std::string& path) override {
    const DWORD attr = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  bool DirectoryExists(const std::string& path) override {
    const DWORD attr = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  bool CreateEmptyFile(const std::string& path) override {
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    return file.valid();
  }
  bool DeleteFile(const std::string& path) override {
    return ::DeleteFileW(Utf8ToWide(path).c_str()) != FALSE;
  }
  bool AppendLine(const std::string& path, const std::string& line) override {
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    const bool ok = ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                                nullptr) &&
                    written == text.size();
    ::FlushFileBuffers(file.get());
    return ok;
  }

  TFileVersion FileVersion(const std::string& path) override {
    const std::wstring wide = Utf8ToWide(path);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(wide.c_str(), &handle);
    if (size == 0) return {};
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(wide.c_str(), 0, size, block.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO))
      return {};
    return MakeFileVersion(HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                           HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
  }

  std::string LongTimeNow() override { return LongTime(); }
  std::string DateTimeNow() override {
    wchar_t buffer[128];
    const int n = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer, 128);
    const std::string date =
        n > 1 ? WideToUtf8(std::wstring_view(buffer, static_cast<size_t>(n) - 1)) : std::string();
    return date + " " + LongTime();
  }

  TSystemInfo SystemInfo() override {
    TSystemInfo info;
    // The true version: the documented call answers what the program's manifest declares.
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    auto rtlGetVersion = reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (rtlGetVersion && rtlGetVersion(&v) == 0) {
      info.NtFamily = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
      info.Major = v.dwMajorVersion;
      info.Minor = v.dwMinorVersion;
      info.Build = v.dwBuildNumber;
    }
    info.DefaultLcid = ::GetUserDefaultLCID();
    info.DecimalSeparator = LocaleText(LOCALE_SDECIMAL);
    return info;
  }

  TDisplayResult DisplayTopic(const std::string& path) override {
    HWND window = nullptr;
    switch (HtmlHelpDisplayTopic(path, window)) {
      case THtmlHelpCall::NotLoaded: return TDisplayResult::NoEntryPoint;
      case THtmlHelpCall::NoWindow: return TDisplayResult::NoWindow;
      case THtmlHelpCall::Window: break;
    }
    return TDisplayResult::Window;
  }

  bool ShellOpen(const std::string& program, const std::string& args, unsigned long& error) override {
    ::SetLastError(ERROR_SUCCESS);
    const auto rc = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(OwnerWindow(), L"open", Utf8ToWide(program).c_str(),
                        Utf8ToWide(args).c_str(), nullptr, SW_SHOWNORMAL));
    if (rc > 32) return true;
    error = ::GetLastError();
    // Some failures set no thread error; the shell's own code then says what went wrong.
    if (error == ERROR_SUCCESS) error = static_cast<unsigned long>(rc);
    return false;
  }

  void ShowWarning(const std::string& text) override {
    // A lone CR is a line break in the message; the box wants CR LF.
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
      shown += text[i];
      if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) shown += '\n';
    }
    const std::string caption = gStringTable ? gStringTable->GetText("General", "Warning") : "Warning";
    ::MessageBoxW(OwnerWindow(), Utf8ToWide(shown).c_str(), Utf8ToWide(caption).c_str(),
                  MB_ICONWARNING | MB_OK);
  }
};

}  // namespace

IHelpPlatform& SystemHelpPlatform() {
  static TSystemHelpPlatform platform;
  return platform;
}

THelpFuncs& HelpFuncs() {
  static THelpFuncs funcs(SystemHelpPlatform());
  return funcs;
}

int ShowHelpTopic(std::string_view helpFile, std::string_view topic, std::string_view windowName,
                  int host) {
  return HelpFuncs().ShowHelpTopic(helpFile, topic, windowName, host);
}

int ShowTopic(const std::string& path, int host) { return HelpFuncs().ShowTopic(path, host); }

int ShowProductHelp(HWND mainWindow) {
  gHelpMainWindow = mainWindow;
  // Empty when the language pack holds no help file: the request then names the topic alone.
  const std::string helpFile = gFilePool ? gFilePool->GetFileName(kProductHelpFile) : std::string();
  return ShowHelpTopic(helpFile, kProductHelpTopic, "", kHostHelpControl);
}
