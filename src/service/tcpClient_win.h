// The system halves of the service client's ports (Windows-only header).
#pragma once

#include "service/tcpClient.h"

#include <functional>
#include <memory>
#include <string>

// A Winsock transport, not yet connected; lines longer than maxLine are refused. With dispatch,
// a read dispatches the thread's waiting messages while it waits (dispatch returns false once
// the thread's loop is to end, and is not called again in that read).
std::unique_ptr<ILineTransport> CreateWinsockTransport(size_t maxLine = kMaxAnswerLine,
                                                       std::function<bool()> dispatch = {});
// A request lock over the named mutex name, opened and closed for every exchange.
std::unique_ptr<IRequestLock> CreateNamedRequestLock(const std::string& name);
// The process's lock over the mutex kRequestLockName.
IRequestLock& SystemRequestLock();
