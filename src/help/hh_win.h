// The loaded help control's entry point, for the launcher (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <string>

// How a display-topic request to the loaded control ended.
enum class THtmlHelpCall { NotLoaded, NoWindow, Window };

// Hands path to the control's entry point with the display-topic command, owned by the
// desktop window; window receives the viewer's window when one is returned.
THtmlHelpCall HtmlHelpDisplayTopic(const std::string& path, HWND& window);
