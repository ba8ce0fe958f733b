#include "KLServer_win.h"

#include "common/WinApi.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/Errors.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <atomic>
#include <chrono>

namespace {

struct TSocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() noexcept { return INVALID_SOCKET; }
  static bool IsValid(Handle s) noexcept { return s != INVALID_SOCKET; }
  static void Close(Handle s) noexcept { ::closesocket(s); }
};
using TScopedSocket = TUniqueHandle<TSocketTraits>;

constexpr DWORD kReceivePollMs = 1000;  // how often a quiet connection checks its time limits
constexpr DWORD kSendTimeoutMs = 10000;  // a client that stops reading is dropped

const char* ReasonText(TDropReason r) {
  switch (r) {
    case TDropReason::LineTooLong: return "line longer than the limit";
    case TDropReason::ForeignProtocol: return "line of another protocol";
    case TDropReason::Malformed: return "not a request line";
    case TDropReason::Closed: return "answer not delivered";
    case TDropReason::None: break;
  }
  return "";
}

std::string WsaError() { return SystemErrorText(static_cast<unsigned long>(::WSAGetLastError())); }

}  // namespace

struct TKLServiceHost::TClient {
  TScopedSocket Socket;
  std::thread Thread;
  std::atomic<bool> Done{false};
};

TKLServiceHost::TKLServiceHost(IMemoryPort& memory, IScheduleStore& store, IServiceLog& log,
                               IClock& clock)
    : FLog(log), FClock(clock), FCore(memory, store, clock, log), FListen(INVALID_SOCKET) {}

TKLServiceHost::~TKLServiceHost() { Stop(); }

void TKLServiceHost::Start(uint16_t port) {
  WSADATA wsa;
  if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) throw Exception("Winsock not available");
  FWinsock = true;
  TScopedSocket listen(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listen) throw Exception("socket: " + WsaError());
  // No other program may bind the same port beside us and take our clients.
  BOOL exclusive = TRUE;
  ::setsockopt(listen.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(listen.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw Exception("port " + std::to_string(port) + " not available: " + WsaError());
  if (::listen(listen.get(), SOMAXCONN) != 0) throw Exception("listen: " + WsaError());
  int len = sizeof addr;
  ::getsockname(listen.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  FPort = ntohs(addr.sin_port);

  FCore.Start();
  FStopping = false;
  FListen = listen.release();
  FAcceptThread = std::thread([this] { AcceptLoop(); });
  FSampleThread = std::thread([this] { SampleLoop(); });
  FScheduleThread = std::thread([this] { ScheduleLoop(); });
  FLog.Log("listening on 127.0.0.1:" + std::to_string(FPort));
}

void TKLServiceHost::Stop() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
    for (auto& c : FClients) ::shutdown(c->Socket.get(), SD_BOTH);
  }
  FWake.notify_all();
  FCore.Stop();
  if (FListen != INVALID_SOCKET) {
    ::closesocket(static_cast<SOCKET>(FListen));  // ends the accept call
    FListen = INVALID_SOCKET;
  }
  for (std::thread* t : {&FAcceptThread, &FSampleThread, &FScheduleThread})
    if (t->joinable()) t->join();
  ReapFinished(true);
  if (FWinsock) {
    ::WSACleanup();
    FWinsock = false;
    FLog.Log("stopped");
  }
}

int TKLServiceHost::ClientCount() {
  std::lock_guard lock(FLock);
  int n = 0;
  for (auto& c : FClients) n += !c->Done;
  return n;
}

void TKLServiceHost::ReapFinished(bool all) {
  std::list<std::unique_ptr<TClient>> finished;
  {
    std::lock_guard lock(FLock);
    for (auto it = FClients.begin(); it != FClients.end();) {
      if (all || (*it)->Done) {
        finished.push_back(std::move(*it));
        it = FClients.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished)
    if (c->Thread.joinable()) c->Thread.join();
}

void TKLServiceHost::AcceptLoop() {
  for (;;) {
    TScopedSocket s(::accept(static_cast<SOCKET>(FListen), nullptr, nullptr));
    ReapFinished(false);
    std::unique_lock lock(FLock);
    if (FStopping) return;
    if (!s) {
      FWake.wait_for(lock, std::chrono::milliseconds(100));  // do not spin on a failing accept
      continue;
    }
    int active = 0;
    for (auto& c : FClients) active += !c->Done;
    if (active >= kMaxClients) {
      FLog.Log("connection refused: " + std::to_string(active) + " clients already");
      continue;
    }
    auto client = std::make_unique<TClient>();
    client->Socket = std::move(s);
    TClient& ref = *client;
    FClients.push_back(std::move(client));
    ref.Thread = std::thread([this, &ref] { Serve(ref); });
  }
}

void TKLServiceHost::Serve(TClient& client) {
  const SOCKET s = client.Socket.get();
  const DWORD recvTimeout = kReceivePollMs, sendTimeout = kSendTimeoutMs;
  const BOOL noDelay = TRUE;  // answers are single short lines: send them at once
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&recvTimeout),
               sizeof recvTimeout);
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
               sizeof sendTimeout);
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
  auto send = [s](std::string_view data) {
    while (!data.empty()) {
      const int n = ::send(s, data.data(), static_cast<int>(data.size()), 0);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  };
  try {
    TClientSession session(FCore, FClock);
    std::string buf(65536, '\0');
    for (;;) {
      {
        std::lock_guard lock(FLock);
        if (FStopping) break;
      }
      const int n = ::recv(s, buf.data(), static_cast<int>(buf.size()), 0);
      if (n > 0) {
        const TDropReason r = session.Receive(std::string_view(buf.data(), size_t(n)), send);
        if (r != TDropReason::None) {
          FLog.Log(std::string("connection dropped: ") + ReasonText(r));
          break;
        }
      } else if (n == 0 || ::WSAGetLastError() != WSAETIMEDOUT) {
        break;
      }
      if (session.Expired()) {
        FLog.Log("connection dropped: silent too long");
        break;
      }
    }
  } catch (const std::exception& e) {
    FLog.Log(std::string("connection ended by error: ") + e.what());
  }
  ::shutdown(s, SD_BOTH);
  client.Done = true;
}

void TKLServiceHost::SampleLoop() {
  std::unique_lock lock(FLock);
  // The core took the first sample when it started.
  while (!FWake.wait_for(lock, std::chrono::milliseconds(kSampleIntervalMs),
                         [this] { return FStopping; })) {
    lock.unlock();
    FCore.Sample();
    lock.lock();
  }
}

void TKLServiceHost::ScheduleLoop() {
  std::unique_lock lock(FLock);
  while (!FStopping) {
    lock.unlock();
    try {
      FCore.RunScheduleIfDue();
    } catch (const std::exception& e) {
      FLog.Log(std::string("scheduled freeing failed: ") + e.what());
    }
    lock.lock();
    FWake.wait_for(lock, std::chrono::seconds(1), [this] { return FStopping; });
  }
}
