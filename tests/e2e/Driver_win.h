// A small driver for end-to-end tests: starts programs, finds their windows by class and
// text, reads texts, clicks, types, waits with a bound, and keeps screenshots.
#pragma once

#include "common/ScopedHandle_win.h"

#include <functional>
#include <string>

// A started program; killed at destruction if still running.
class TDriverProcess {
 public:
  TDriverProcess() = default;
  TDriverProcess(TDriverProcess&&) noexcept = default;
  TDriverProcess& operator=(TDriverProcess&&) noexcept = default;
  ~TDriverProcess();

  // Starts exe (a full path) with the argument text; throws std::runtime_error on failure.
  static TDriverProcess Start(const std::string& exe, const std::string& args = {});
  // Waits up to timeoutMs for the process to end; true when it ended.
  bool WaitExit(int timeoutMs);
  // Whether the process still runs.
  bool Running() const;
  // The exit code of an ended process.
  unsigned long ExitCode() const;
  // The process id.
  unsigned long Pid() const noexcept { return FPid; }
  // Waits up to timeoutMs until the process first waits for input (its start-up, the
  // libraries it imports included, is done); true when it did.
  bool WaitInputIdle(int timeoutMs) const;
  // Ends the process at once.
  void Kill();

 private:
  TScopedHandle FProcess;
  unsigned long FPid = 0;
};

// Polls pred every pollMs until it is true or timeoutMs have passed; returns its last value.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs, int pollMs = 20);

// The first top-level window of the class (and text, when given; and process, when pid != 0).
HWND FindTopWindow(const std::string& cls, const std::string* text = nullptr, unsigned long pid = 0);
// FindTopWindow, retried until found or timeoutMs have passed.
HWND WaitForTopWindow(const std::string& cls, const std::string* text, unsigned long pid,
                      int timeoutMs);
// The first descendant of parent with the class (empty: any) and text (null: any).
HWND FindChildWindow(HWND parent, const std::string& cls, const std::string* text = nullptr);
// The window text, read across processes.
std::string WindowText(HWND wnd);
// Clicks a button the way the keyboard would (BM_CLICK).
void ClickButton(HWND button);
// Posts a key press (down and up) of the virtual key to the window.
void SendKey(HWND wnd, unsigned vk);
// Posts the characters of text (UTF-8) to the window as WM_CHAR messages.
void TypeText(HWND wnd, const std::string& text);
// Saves the window's screen area as a BMP file; true on success.
bool SaveScreenshot(HWND wnd, const std::string& bmpPath);

// The folder of the running test program, with trailing "\".
std::string TestBinDir();
// The folder for test artifacts (screenshots), created when missing, with trailing "\".
std::string ArtifactDir();
