// One instance at a time, and the close command for the running one (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <string>
#include <vector>

// How long "exit" waits for the running instance to take its close request: a hung instance
// must not hang the caller (the setup waits for the program to end with a bound of its own).
inline constexpr unsigned kCloseRequestWaitMs = 5000;

// Sends WM_CLOSE to window and waits at most timeoutMs (less when the system deems the window's
// thread hung) for it to be handled. True when it was handled within the time.
bool SendCloseRequest(HWND window, unsigned timeoutMs);

// True when this process must end now: the first argument was exactly "exit" (the running
// instance's main window, found by class, was sent WM_CLOSE with SendCloseRequest and
// kCloseRequestWaitMs; no mutex is made), or another
// instance holds the mutex named title (with activate, its application window is restored
// and brought to the front). False when this is the only instance: the mutex now exists and
// stays open until the process ends. args are the command-line arguments without the program;
// ownAppWindow is this process's hidden application window (its text is cleared first so the
// search cannot find this process).
bool CheckSingleInstance(const std::string& title, const std::string& mainWindowClass,
                         bool activate, const std::vector<std::string>& args,
                         HWND ownAppWindow);

// The command-line arguments of this process without the program name, in UTF-8.
std::vector<std::string> CommandLineArguments();
