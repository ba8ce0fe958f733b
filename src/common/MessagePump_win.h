// The real message pump of the window thread (Windows-only header).
#pragma once

#include "common/SystemPorts.h"

// Pumps the calling thread's queue with PeekMessage/TranslateMessage/DispatchMessage;
// a WM_QUIT seen on the way is posted again so the main loop still ends.
IMessagePump& SystemMessagePump();
