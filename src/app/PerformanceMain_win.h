// The main window "TfmPerformance" (Windows-only header).
#pragma once

#include "common/WinApi.h"

class TfmPerformance {
 public:
  // Creates the main window, owned by the application window, captioned with the title.
  explicit TfmPerformance(HWND appWindow);
  ~TfmPerformance();
  TfmPerformance(const TfmPerformance&) = delete;
  TfmPerformance& operator=(const TfmPerformance&) = delete;

  // Shows the window and makes it the active one.
  void Show();
  // The window, or null when it could not be created.
  HWND Handle() const noexcept { return FHandle; }

  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND FHandle = nullptr;

 private:
  HWND FAppWindow;
};
