// The application object: the hidden top-level window that owns the taskbar entry and carries
// the application title, COM for the main thread, and the message loop (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <functional>
#include <string>
#include <vector>

class TApplication {
 public:
  // Creates the hidden application window, titled with the program file's name.
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Initializes COM for the main thread, apartment-threaded; released by the destructor.
  void Initialize();
  // Sets the title, which becomes the window text of the hidden application window.
  void SetTitle(const std::string& title);
  // The hidden application window.
  HWND Handle() const noexcept { return FHandle; }
  // The main window, which the application window activates and closes.
  void SetMainWindow(HWND wnd) noexcept { FMainWindow = wnd; }
  HWND MainWindow() const noexcept { return FMainWindow; }
  // Calls check every intervalMs while the message loop runs (once per interval at most).
  void SetPeriodicCheck(unsigned intervalMs, std::function<void()> check);
  // Runs work from the message loop once the messages waiting now have been handled: for what
  // start-up does after the main window has painted. Work that throws goes to the top-level
  // error report; the rest still runs.
  void Post(std::function<void()> work);
  // Runs the message loop until the application is asked to end.
  int Run();
  // Asks the application to end: the message loop stops at its next turn.
  void Terminate() noexcept;
  // Whether Terminate was called.
  bool Terminated() const noexcept { return FTerminated; }

  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND FHandle = nullptr;

 private:
  HWND FMainWindow = nullptr;
  std::function<void()> FPeriodicCheck;
  std::vector<std::function<void()>> FPosted;
  unsigned FPeriodicMs = 0;
  bool FComInitialized = false;
  bool FTerminated = false;
};

// The process's application object; exists from the first module initialization to the last
// finalization.
TApplication& Application();
// Creates the application object (first module of the process).
void InitializeApplicationModule();
// Destroys the application object (last to go).
void FinalizeApplicationModule();
