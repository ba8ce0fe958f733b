// The main window "TfmPerformance" on the screen: the model of PerformanceMain.h with the real
// service, memory status, cursor, message boxes, help and About (Windows-only header).
#pragma once

#include "app/PerformanceMain.h"
#include "common/WinApi.h"
#include "ui/WinForm_win.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

// Where the count passes leave their figures for the window thread: a pass adds a figure and
// wakes the window with a message; the window takes the figures out. Figures wait while the
// window is being made; once it is closed they are dropped.
class TFigureMailbox {
 public:
  struct TFigure {
    TCountItem Item;
    TCountFigures Figures;
  };
  // Adds a figure and wakes the window, unless the window is closed.
  void Post(TCountItem item, const TCountFigures& figures);
  // Takes every figure that waits.
  std::deque<TFigure> Take();
  // The window to wake from now on; figures that wait already wake it at once.
  void Open(HWND window);
  // The window is gone: later figures are dropped.
  void Close();

 private:
  std::mutex FLock;
  std::deque<TFigure> FFigures;
  HWND FWindow = nullptr;
  bool FClosed = false;
};

// Count passes still running; the process ends without waiting for them.
int RunningCountPasses() noexcept;

class TPerformanceWindow {
 public:
  // Creates the main window owned by the application window: runs its creation steps (an
  // error among them is reported and the window opens as far as it got) and makes its
  // window, hidden until shown.
  explicit TPerformanceWindow(HWND appWindow);
  ~TPerformanceWindow();
  TPerformanceWindow(const TPerformanceWindow&) = delete;
  TPerformanceWindow& operator=(const TPerformanceWindow&) = delete;

  // Shows the window, makes it the active one and paints it at once; the count passes asked
  // for while the window was being made start after that first paint.
  void Show();
  // The window, or null when it could not be created.
  HWND Handle() const noexcept { return FWindow ? FWindow->Handle() : nullptr; }
  TfmPerformance& Model() noexcept { return *FModel; }

 private:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled);

  HWND FAppWindow;
  // The fonts the gauge's texts are measured in, before and after the window exists.
  TSkinCache FMeasureFonts;
  std::shared_ptr<TFigureMailbox> FMailbox = std::make_shared<TFigureMailbox>();
  TCountSink FOnFigure;
  std::unique_ptr<TfmPerformance> FModel;
  std::unique_ptr<TWinForm> FWindow;
  bool FBusy = false;
  // Count passes asked for before the first paint: measuring competes with making and painting
  // the window for the processor and the system, so they wait for it.
  int FPendingCountPasses = 0;
  bool FPainted = false;
};

// Reads the physical memory status with its 64-bit byte counts; false when it fails.
bool ReadMemoryFigures(TMemoryFigures& figures);
