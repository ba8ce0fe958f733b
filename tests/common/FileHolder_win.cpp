// Stands in for another program that keeps a file open without sharing: opens the file named
// by the first argument with no sharing, signals the event named by the second, and waits to
// be ended.
#include "common/WinApi.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (ready == nullptr) return 1;
  ::SetEvent(ready);
  ::Sleep(INFINITE);
  return 0;
}
