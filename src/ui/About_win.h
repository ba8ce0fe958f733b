// Shows the About window (Windows-only header).
#pragma once

#include "common/WinApi.h"

#include <string>

// Shows the About window modally, without owner, captioned with title, and frees it.
void ShowAboutBox(const std::string& title);
