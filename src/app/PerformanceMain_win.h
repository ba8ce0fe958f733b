// The main window "TfmPerformance" on the screen: the model of PerformanceMain.h with the real
// service, memory status, cursor, message boxes, help and About (Windows-only header).
#pragma once

#include "app/PerformanceMain.h"
#include "common/WinApi.h"
#include "ui/WinForm_win.h"

#include <memory>

class TPerformanceWindow {
 public:
  // Creates the main window owned by the application window: runs its creation steps (an
  // error among them is reported and the window opens as far as it got) and makes its
  // window, hidden until shown.
  explicit TPerformanceWindow(HWND appWindow);
  ~TPerformanceWindow();
  TPerformanceWindow(const TPerformanceWindow&) = delete;
  TPerformanceWindow& operator=(const TPerformanceWindow&) = delete;

  // Shows the window and makes it the active one.
  void Show();
  // The window, or null when it could not be created.
  HWND Handle() const noexcept { return FWindow ? FWindow->Handle() : nullptr; }
  TfmPerformance& Model() noexcept { return *FModel; }

 private:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled);

  HWND FAppWindow;
  std::unique_ptr<TfmPerformance> FModel;
  std::unique_ptr<TWinForm> FWindow;
  bool FBusy = false;
};

// Reads the physical memory status with its 64-bit byte counts; false when it fails.
bool ReadMemoryFigures(TMemoryFigures& figures);
