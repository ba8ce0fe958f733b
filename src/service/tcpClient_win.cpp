#include "service/tcpClient_win.h"

#include "common/WinApi.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/GenericAPI.h"
#include "common/ResStrings.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <algorithm>
#include <vector>

namespace {

// The longest a wait for the socket goes without dispatching the thread's waiting messages,
// should the wake-up by the message queue be missed.
constexpr uint32_t kDispatchSliceMs = 100;

class TWinsockLineTransport final : public ILineTransport {
 public:
  TWinsockLineTransport(size_t maxLine, std::function<bool()> dispatch)
      : FBuffer(maxLine), FDispatch(std::move(dispatch)) {}
  ~TWinsockLineTransport() override {
    Disconnect();
    if (FEvent != WSA_INVALID_EVENT) ::WSACloseEvent(FEvent);
    if (FStarted) ::WSACleanup();
  }

  void SetEvents(std::function<void()> onDisconnected,
                 std::function<void(TTransportStatus)> onStatus) override {
    FOnDisconnected = std::move(onDisconnected);
    FOnStatus = std::move(onStatus);
  }

  void Connect(const std::string& host, int port) override {
    Disconnect();
    if (!FStarted) {
      WSADATA data;
      const int rc = ::WSAStartup(MAKEWORD(2, 2), &data);
      if (rc != 0) throw Exception("Windows Sockets could not start: " + SystemErrorText(rc));
      FStarted = true;
    }
    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    const std::wstring service = std::to_wstring(port);
    if (::GetAddrInfoW(Utf8ToWide(host).c_str(), service.c_str(), &hints, &found) != 0)
      throw Exception("Can not resolve " + host + ": " + SystemErrorText(::WSAGetLastError()));
    int lastError = WSAECONNREFUSED;
    for (ADDRINFOW* a = found; a != nullptr && FSocket == INVALID_SOCKET; a = a->ai_next) {
      SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s == INVALID_SOCKET) {
        lastError = ::WSAGetLastError();
        continue;
      }
      if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == SOCKET_ERROR) {
        lastError = ::WSAGetLastError();
        ::closesocket(s);
        continue;
      }
      FSocket = s;
    }
    ::FreeAddrInfoW(found);
    if (FSocket == INVALID_SOCKET) {
      // The user sees the library's message, translated; the log keeps the system's reason.
      WriteLog("[TtcpServOpr] can not connect to " + host + ":" + std::to_string(port) + ": " +
               SystemErrorText(static_cast<unsigned long>(lastError)));
      throw Exception(LoadResString(rsConnectionRefused));
    }
    // Requests are single short lines: send each at once.
    BOOL noDelay = TRUE;
    ::setsockopt(FSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    // A thread that dispatches its messages while it reads waits on the socket's event and its
    // message queue together (the socket is then non-blocking).
    if (FDispatch) {
      if (FEvent == WSA_INVALID_EVENT) FEvent = ::WSACreateEvent();
      if (FEvent == WSA_INVALID_EVENT ||
          ::WSAEventSelect(FSocket, FEvent, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
        WriteLog("[TtcpServOpr] no socket event: " + SystemErrorText(::WSAGetLastError()) +
                 "; window messages wait until each read ends");
        FEventSelected = false;
      } else {
        FEventSelected = true;
      }
    }
    FBuffer.Clear();
  }

  void Disconnect() noexcept override {
    if (FSocket != INVALID_SOCKET) {
      ::shutdown(FSocket, SD_BOTH);
      ::closesocket(FSocket);
      FSocket = INVALID_SOCKET;
    }
    FBuffer.Clear();
  }

  bool Connected(uint32_t pollMs) noexcept override {
    if (FSocket == INVALID_SOCKET) return false;
    switch (WaitReadable(pollMs)) {
      case TWait::Timeout: return true;
      case TWait::Failed: Lose(); return false;
      case TWait::Readable: break;
    }
    // Readable means data or the peer's close: keep the data for the next read.
    try {
      return Receive();
    } catch (...) {
      Lose();
      return false;
    }
  }

  void WriteLine(std::string_view line) override {
    if (FSocket == INVALID_SOCKET) throw EConnectionClosed("Not connected.");
    const std::string data = Utf8ToAnsi(line) + "\r\n";
    size_t sent = 0;
    while (sent < data.size()) {
      const int n = ::send(FSocket, data.data() + sent, static_cast<int>(data.size() - sent), 0);
      if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        // A non-blocking socket with a full send buffer: wait until it takes more, as a
        // blocking send would.
        WaitWritable();
        continue;
      }
      if (n == SOCKET_ERROR) {
        const int err = ::WSAGetLastError();
        Lose();
        throw EConnectionClosed("Send failed: " + SystemErrorText(static_cast<unsigned long>(err)));
      }
      sent += static_cast<size_t>(n);
    }
  }

  std::string ReadLine(uint32_t timeoutMs) override {
    if (auto line = FBuffer.TakeLine()) return AnsiToUtf8(*line);
    if (FSocket == INVALID_SOCKET) throw EConnectionClosed("Not connected.");
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    bool dispatching = FEventSelected;
    for (;;) {
      const ULONGLONG now = ::GetTickCount64();
      const uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
      TWait wait = WaitReadable(dispatching ? 0 : left);
      if (wait == TWait::Timeout && dispatching && left > 0) {
        // The same time limit, but the window answers meanwhile: wake for the socket or for a
        // message, whichever comes first, and dispatch what waits.
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(1, &FEvent, std::min(left, kDispatchSliceMs),
                                                         QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
          WSANETWORKEVENTS events;
          ::WSAEnumNetworkEvents(FSocket, FEvent, &events);  // resets the event
        } else if (woke == WAIT_OBJECT_0 + 1) {
          // A request made by that code runs to its end inside this wait and may take lines
          // or lose the connection.
          if (!FDispatch()) dispatching = false;
          if (auto line = FBuffer.TakeLine()) return AnsiToUtf8(*line);
          if (FSocket == INVALID_SOCKET) throw EConnectionClosed("The connection failed.");
        } else if (woke == WAIT_FAILED) {
          dispatching = false;
        }
        continue;
      }
      switch (wait) {
        case TWait::Timeout: return std::string();
        case TWait::Failed: Lose(); throw EConnectionClosed("The connection failed.");
        case TWait::Readable: break;
      }
      if (!Receive()) throw EConnectionClosed("The service closed the connection.");
      if (auto line = FBuffer.TakeLine()) return AnsiToUtf8(*line);
    }
  }

 private:
  enum class TWait { Readable, Timeout, Failed };

  TWait WaitReadable(uint32_t ms) noexcept {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(FSocket, &readable);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(FSocket, &failed);
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
    const int n = ::select(0, &readable, nullptr, &failed, &tv);
    if (n == SOCKET_ERROR || FD_ISSET(FSocket, &failed)) return TWait::Failed;
    return n == 0 ? TWait::Timeout : TWait::Readable;
  }

  void WaitWritable() noexcept {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(FSocket, &writable);
    ::select(0, nullptr, &writable, nullptr, nullptr);
  }

  // Takes what the socket holds into the buffer; false, after reporting, when it is closed.
  bool Receive() {
    char chunk[16384];
    const int n = ::recv(FSocket, chunk, sizeof chunk, 0);
    if (n > 0) {
      FBuffer.Append(std::string_view(chunk, static_cast<size_t>(n)));
      return true;
    }
    if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return true;
    Lose();
    return false;
  }

  // The connection is gone by itself: close it first, so code run by the events finds it
  // closed, then raise both events.
  void Lose() noexcept {
    if (FSocket == INVALID_SOCKET) return;
    ::closesocket(FSocket);
    FSocket = INVALID_SOCKET;
    const auto onStatus = FOnStatus;
    const auto onDisconnected = FOnDisconnected;
    try {
      if (onStatus) onStatus(TTransportStatus::Disconnected);
      if (onDisconnected) onDisconnected();
    } catch (...) {
    }
  }

  SOCKET FSocket = INVALID_SOCKET;
  bool FStarted = false;
  TLineBuffer FBuffer;
  std::function<bool()> FDispatch;
  WSAEVENT FEvent = WSA_INVALID_EVENT;
  bool FEventSelected = false;
  std::function<void()> FOnDisconnected;
  std::function<void(TTransportStatus)> FOnStatus;
};

class TNamedRequestLock final : public IRequestLock {
 public:
  explicit TNamedRequestLock(const std::string& name) : FName(Utf8ToWide(name)) {}

  bool Acquire() noexcept override {
    // Synchronize access is all a wait and the release need (verified under Wine; the system
    // checks only that the releasing thread owns the mutex), and all a mutex made by another
    // account may grant us.
    TScopedHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, FName.c_str()));
    if (!mutex && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      // Made only when nobody has it; one made by another process in between is opened.
      mutex.reset(::CreateMutexExW(nullptr, FName.c_str(), 0, SYNCHRONIZE));
    }
    if (!mutex) return Unavailable("not opened", ::GetLastError());
    const DWORD wait = ::WaitForSingleObject(mutex.get(), INFINITE);
    // An abandoned lock belonged to a process that ended mid-exchange: it is ours now.
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
      return Unavailable("not taken", ::GetLastError());
    try {
      FHeld.push_back(std::move(mutex));
    } catch (...) {
      ::ReleaseMutex(mutex.get());
      return false;
    }
    return true;
  }

  void Release() noexcept override {
    if (FHeld.empty()) return;
    if (!::ReleaseMutex(FHeld.back().get()))
      Unavailable("not given back", ::GetLastError());
    FHeld.pop_back();
  }

 private:
  // Logs why the lock could not be had; the exchange goes on without it.
  bool Unavailable(const char* what, DWORD code) noexcept {
    try {
      WriteLog("[TtcpServOpr.Request] request lock " + std::string(what) + ": " +
               SystemErrorText(code) + "; the request goes on without it");
    } catch (...) {
    }
    return false;
  }

  std::wstring FName;
  std::vector<TScopedHandle> FHeld;  // one per nested exchange of the window thread
};

}  // namespace

std::unique_ptr<ILineTransport> CreateWinsockTransport(size_t maxLine, std::function<bool()> dispatch) {
  return std::make_unique<TWinsockLineTransport>(maxLine, std::move(dispatch));
}

std::unique_ptr<IRequestLock> CreateNamedRequestLock(const std::string& name) {
  return std::make_unique<TNamedRequestLock>(name);
}

IRequestLock& SystemRequestLock() {
  static TNamedRequestLock lock(kRequestLockName);
  return lock;
}
