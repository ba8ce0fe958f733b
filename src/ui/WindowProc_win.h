// The one window-procedure trampoline of every window class (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <exception>
#include <string>

// Reports an error that reached a window procedure; set by the application's start-up.
// Defaults to nothing so that a window never lets an exception into the system's dispatcher.
using TTopLevelErrorHandler = void (*)(const std::exception& error);
inline TTopLevelErrorHandler gTopLevelErrorHandler = nullptr;

// T has `LRESULT HandleMessage(HWND, UINT, WPARAM, LPARAM)` and a member `HWND FHandle`.
// The object comes in through lpCreateParams, lives in GWLP_USERDATA from WM_NCCREATE to
// WM_NCDESTROY, and receives every message in between; the rest go to DefWindowProc.
template <class T>
LRESULT CALLBACK WindowTrampoline(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  T* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self) self->FHandle = hwnd;
  } else {
    self = reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->FHandle = nullptr;
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
  try {
    return self->HandleMessage(hwnd, msg, wp, lp);
  } catch (const std::exception& e) {
    if (gTopLevelErrorHandler) gTopLevelErrorHandler(e);
  } catch (...) {
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// Registers a window class served by WindowTrampoline<T>; true when registered or present.
template <class T>
bool RegisterWindowClass(const wchar_t* className, UINT style = CS_HREDRAW | CS_VREDRAW) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = &WindowTrampoline<T>;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className;
  wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
