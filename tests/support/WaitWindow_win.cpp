// Waits for a visible top-level window of a class, for the Run command and the test command:
//   qb_wait_window.exe <class> <timeout-ms> [<rect-file>]
// Exits 0 once the window is visible (writing "left top width height" to rect-file), 1 when
// the time ran out, 2 on a bad command line.
#include "common/WinApi.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring cls = argv[1];
  const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  const DWORD start = ::GetTickCount();
  for (;;) {
    HWND wnd = ::FindWindowW(cls.c_str(), nullptr);
    RECT rc{};
    if (wnd && ::IsWindowVisible(wnd) && ::GetWindowRect(wnd, &rc) && rc.right > rc.left) {
      if (argc > 3) {
        FILE* out = _wfopen(argv[3], L"w");
        if (!out) return 2;
        std::fprintf(out, "%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
        std::fclose(out);
      }
      return 0;
    }
    if (::GetTickCount() - start >= timeout) return 1;
    ::Sleep(100);
  }
}
