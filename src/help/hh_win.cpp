// The Win32 half of the help control module: loading, the entry point, and the module slot.
#include "help/hh.h"
#include "help/hh_funcs_win.h"
#include "help/hh_win.h"

#include "common/RawRegistry.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

namespace {

using THtmlHelpA = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
using THtmlHelpW = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

constexpr UINT kHHDisplayTopic = 0x0000;
constexpr UINT kHHCloseAll = 0x0012;

TScopedModule gHelpControl;
THtmlHelpA gHtmlHelpA = nullptr;
// Takes the paths that the ANSI code page cannot spell (a user name in another script).
THtmlHelpW gHtmlHelpW = nullptr;
bool gViewerOpened = false;
// The control is looked for once; a control that is missing or fails to load is not tried again.
bool gLoadTried = false;

bool FileExistsW(const std::string& path) {
  const DWORD attr = ::GetFileAttributesW(Utf8ToWide(path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The path in the ANSI code page, or false when some character has no spelling there.
bool ToAnsiExactly(const std::wstring& wide, std::string& ansi) {
  if (wide.empty()) {
    ansi.clear();
    return true;
  }
  BOOL lossy = FALSE;
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  ansi.assign(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        ansi.data(), n, nullptr, &lossy);
  return !lossy;
}

}  // namespace

std::string FindHelpControl() { return FindHelpControl(SystemRegistry(), FileExistsW); }

void LoadHelpControl() {
  if (gHelpControl || gLoadTried) return;
  gLoadTried = true;
  const std::string path = FindHelpControl();
  if (path.empty() || !FileExistsW(path)) return;
  gHelpControl.reset(::LoadLibraryW(Utf8ToWide(path).c_str()));
  if (!gHelpControl) return;
  gHtmlHelpA = reinterpret_cast<THtmlHelpA>(
      reinterpret_cast<void*>(::GetProcAddress(gHelpControl.get(), kHtmlHelpEntryName)));
  gHtmlHelpW = reinterpret_cast<THtmlHelpW>(
      reinterpret_cast<void*>(::GetProcAddress(gHelpControl.get(), "HtmlHelpW")));
}

void UnloadHelpControl() {
  // Viewer windows run on the control's code in this process: they must be gone before it is.
  if (gViewerOpened && gHtmlHelpA) gHtmlHelpA(nullptr, nullptr, kHHCloseAll, 0);
  gViewerOpened = false;
  gHtmlHelpA = nullptr;
  gHtmlHelpW = nullptr;
  gHelpControl.reset();
  gLoadTried = false;
}

bool HelpControlLoaded() { return gHelpControl && gHtmlHelpA; }

THtmlHelpCall HtmlHelpDisplayTopic(const std::string& path, HWND& window) {
  window = nullptr;
  LoadHelpControl();
  if (!HelpControlLoaded()) return THtmlHelpCall::NotLoaded;
  const std::wstring wide = Utf8ToWide(path);
  std::string ansi;
  gViewerOpened = true;
  if (ToAnsiExactly(wide, ansi)) {
    window = gHtmlHelpA(::GetDesktopWindow(), ansi.c_str(), kHHDisplayTopic, 0);
  } else if (gHtmlHelpW) {
    window = gHtmlHelpW(::GetDesktopWindow(), wide.c_str(), kHHDisplayTopic, 0);
  } else {
    window = gHtmlHelpA(::GetDesktopWindow(), Utf8ToAnsi(path).c_str(), kHHDisplayTopic, 0);
  }
  if (!window) return THtmlHelpCall::NoWindow;
  ::SetForegroundWindow(window);
  return THtmlHelpCall::Window;
}

void InitializeHelpModule() {
  // The control itself (and the libraries it pulls in) is loaded by the first help request:
  // nobody sees the difference, and start-up does not wait for it. The diagnostics read its
  // file and version here, as before.
  HelpFuncs().InitHelpDiagnostics();
}

void FinalizeHelpModule() {
  HelpFuncs().ClearHelpDiagnostics();
  UnloadHelpControl();
}
