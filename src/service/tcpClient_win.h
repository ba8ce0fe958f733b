// The system halves of the service client's ports (Windows-only header).
#pragma once

#include "service/tcpClient.h"

#include <memory>
#include <string>

// A Winsock transport, not yet connected; lines longer than maxLine are refused.
std::unique_ptr<ILineTransport> CreateWinsockTransport(size_t maxLine = kMaxAnswerLine);
// A request lock over the named mutex name, opened and closed for every exchange.
std::unique_ptr<IRequestLock> CreateNamedRequestLock(const std::string& name);
// The process's lock over the mutex kRequestLockName.
IRequestLock& SystemRequestLock();
