// The clean-up primitives that need a window (Windows-only header).
#pragma once

#include "common/WinApi.h"

// Empties the Recycle Bin of all drives without asking, with owner as the owner of the
// system's progress display. Under Wine, whose emptying deletes the targets of links in the
// bin, a bin holding a link is left as it is, with one line in the diagnostic log.
void EmptyRecycleBin(HWND owner);
