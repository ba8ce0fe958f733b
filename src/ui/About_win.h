// Shows the About window (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <string>

// Shows the About window modally over owner (the main window: it keeps the box in front of it
// and off the taskbar; null for none), captioned with title, and frees it.
void ShowAboutBox(HWND owner, const std::string& title);
