// The real message pump of the window thread (Windows-only header).
#pragma once

#include "common/SystemPorts.h"
#include "common/WinApi.h"

// Pumps the calling thread's queue with PeekMessage/TranslateMessage/DispatchMessage;
// a WM_QUIT seen on the way is posted again so the main loop still ends.
IMessagePump& SystemMessagePump();
// Dispatches every message waiting in the calling thread's queue, each first offered to the
// filter; false when a WM_QUIT was among them (it is posted again for the main loop).
bool DispatchWaitingMessages();
// Sets the filter every pump of the thread's waits offers a message to before dispatching it
// (the windows' dialog keys); it returns true when it handled the message.
void SetMessageFilter(bool (*filter)(MSG& msg));
