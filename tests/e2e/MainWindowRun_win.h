// The program with its main window up, as the end-to-end tests drive it (Windows-only).
#pragma once

#include "e2e/Driver_win.h"

#include <string>

class TMainWindowRun {
 public:
  // Takes a started program and waits (bounded) for its main window to be shown.
  explicit TMainWindowRun(TDriverProcess process, int timeoutMs = 30000);
  // Starts the program of the test folder with args.
  static TMainWindowRun Start(const std::string& args = {});

  // The control of the main window with the class and text, or null.
  HWND Control(const std::string& cls, const std::string& text) const;
  // The button, check box or radio button with the text, or null.
  HWND Button(const std::string& text) const { return Control("Button", text); }
  // Whether the check box or radio button with the text is ticked.
  bool Checked(const std::string& text) const;
  // Closes the program as a later start of exe with "exit" does, and waits for it to end.
  void Exit(const std::string& exe = TestBinDir() + "eBrisko.exe");

  TDriverProcess Process;
  HWND Main = nullptr;
};
