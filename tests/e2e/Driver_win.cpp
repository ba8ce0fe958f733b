#include "e2e/Driver_win.h"

#include "common/WinText_win.h"

#include <stdexcept>
#include <vector>

TDriverProcess::~TDriverProcess() {
  if (Running()) Kill();
}

TDriverProcess TDriverProcess::Start(const std::string& exe, const std::string& args) {
  std::wstring cmd = L"\"" + Utf8ToWide(exe) + L"\"";
  if (!args.empty()) cmd += L" " + Utf8ToWide(args);
  std::wstring dir = Utf8ToWide(exe);
  dir.erase(dir.find_last_of(L"\\/") + 1);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  // Wine can refuse a start with ERROR_INTERNAL_ERROR while its session is still coming up;
  // a few tries a moment apart get through, anything else fails at once.
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                         &si, &pi))
      break;
    const DWORD err = ::GetLastError();
    if (err != ERROR_INTERNAL_ERROR || attempt == 5)
      throw std::runtime_error("cannot start " + exe + ": " + SystemErrorText(err));
    ::Sleep(200);
  }
  TScopedHandle thread(pi.hThread);
  TDriverProcess p;
  p.FProcess.reset(pi.hProcess);
  p.FPid = pi.dwProcessId;
  return p;
}

bool TDriverProcess::WaitExit(int timeoutMs) {
  return !FProcess || ::WaitForSingleObject(FProcess.get(), static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

bool TDriverProcess::WaitInputIdle(int timeoutMs) const {
  return FProcess && ::WaitForInputIdle(FProcess.get(), static_cast<DWORD>(timeoutMs)) == 0;
}

bool TDriverProcess::Running() const {
  return FProcess && ::WaitForSingleObject(FProcess.get(), 0) == WAIT_TIMEOUT;
}

unsigned long TDriverProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (FProcess) ::GetExitCodeProcess(FProcess.get(), &code);
  return code;
}

void TDriverProcess::Kill() {
  if (!FProcess) return;
  ::TerminateProcess(FProcess.get(), 1);
  ::WaitForSingleObject(FProcess.get(), 5000);
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs, int pollMs) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (::GetTickCount64() >= end) return pred();
    ::Sleep(static_cast<DWORD>(pollMs));
  }
}

namespace {

std::string ClassOf(HWND wnd) {
  wchar_t buf[256] = {};
  ::GetClassNameW(wnd, buf, 256);
  return WideToUtf8(buf);
}

struct TSearch {
  std::string Cls;
  const std::string* Text;
  unsigned long Pid;
  HWND Found = nullptr;
};

bool Matches(HWND wnd, const TSearch& s) {
  if (!s.Cls.empty() && ClassOf(wnd) != s.Cls) return false;
  if (s.Pid) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (pid != s.Pid) return false;
  }
  return !s.Text || WindowText(wnd) == *s.Text;
}

BOOL CALLBACK SearchProc(HWND wnd, LPARAM lp) {
  auto* s = reinterpret_cast<TSearch*>(lp);
  if (Matches(wnd, *s)) {
    s->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindTopWindow(const std::string& cls, const std::string* text, unsigned long pid) {
  TSearch s{cls, text, pid};
  ::EnumWindows(&SearchProc, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

HWND WaitForTopWindow(const std::string& cls, const std::string* text, unsigned long pid,
                      int timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindTopWindow(cls, text, pid)) != nullptr; }, timeoutMs);
  return found;
}

HWND FindChildWindow(HWND parent, const std::string& cls, const std::string* text) {
  TSearch s{cls, text, 0};
  ::EnumChildWindows(parent, &SearchProc, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

std::string WindowText(HWND wnd) {
  // WM_GETTEXT reaches other processes' windows, which GetWindowText only does for titles.
  const LRESULT n = ::SendMessageW(wnd, WM_GETTEXTLENGTH, 0, 0);
  std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
  const LRESULT got = ::SendMessageW(wnd, WM_GETTEXT, static_cast<WPARAM>(buf.size()),
                                     reinterpret_cast<LPARAM>(buf.data()));
  buf.resize(static_cast<size_t>(got));
  return WideToUtf8(buf);
}

void ClickButton(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

void SendKey(HWND wnd, unsigned vk) {
  const UINT scan = ::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  ::PostMessageW(wnd, WM_KEYDOWN, vk, 1 | (scan << 16));
  ::PostMessageW(wnd, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

void TypeText(HWND wnd, const std::string& text) {
  for (wchar_t c : Utf8ToWide(text)) ::PostMessageW(wnd, WM_CHAR, c, 1);
}

bool SaveScreenshot(HWND wnd, const std::string& bmpPath) {
  RECT r{};
  if (!::GetWindowRect(wnd, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = ::GetDC(nullptr);
  HDC mem = ::CreateCompatibleDC(screen);
  TScopedGdiObject<HBITMAP> bmp(::CreateCompatibleBitmap(screen, w, h));
  HGDIOBJ old = ::SelectObject(mem, bmp.get());
  ::BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  ::SelectObject(mem, old);
  BITMAPINFOHEADER bi{};
  bi.biSize = sizeof(bi);
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = 24;
  bi.biCompression = BI_RGB;
  const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
  std::vector<unsigned char> pixels(stride * static_cast<DWORD>(h));
  ::GetDIBits(mem, bmp.get(), 0, static_cast<UINT>(h), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  ::DeleteDC(mem);
  ::ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER bf{};
  bf.bfType = 0x4D42;
  bf.bfOffBits = sizeof(bf) + sizeof(bi);
  bf.bfSize = bf.bfOffBits + static_cast<DWORD>(pixels.size());
  TScopedFileHandle f(::CreateFileW(Utf8ToWide(bmpPath).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  DWORD written = 0;
  return ::WriteFile(f.get(), &bf, sizeof(bf), &written, nullptr) &&
         ::WriteFile(f.get(), &bi, sizeof(bi), &written, nullptr) &&
         ::WriteFile(f.get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
}

std::string TestBinDir() {
  wchar_t path[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  dir.erase(dir.find_last_of(L"\\/") + 1);
  return WideToUtf8(dir);
}

std::string ArtifactDir() {
  const std::string dir = TestBinDir() + "..\\e2e-artifacts\\";
  ::CreateDirectoryW(Utf8ToWide(dir).c_str(), nullptr);
  return dir;
}
