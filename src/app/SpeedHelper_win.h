// Starting the elevated speed switch helper from the main window (Windows-only header).
#pragma once

#include "app/PerformanceMain.h"
#include "common/WinApi.h"

#include <string>

// Starts "<program folder>\SpeedSwitches.exe apply" for states elevated (the shell's "runas",
// which asks for consent once), owned by owner, and waits for it with owner disabled while
// the thread's messages are dispatched. Its reason, when it fails, comes back through a named
// pipe made for this one run.
TSpeedHelperRun RunSpeedSwitchesHelper(HWND owner, const std::string& programDir,
                                       const std::string& states);
