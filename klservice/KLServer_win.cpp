#include "KLServer_win.h"

#include "common/WinApi.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/Errors.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <algorithm>
#include <chrono>

namespace {

struct TSocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() noexcept { return INVALID_SOCKET; }
  static bool IsValid(Handle s) noexcept { return s != INVALID_SOCKET; }
  static void Close(Handle s) noexcept { ::closesocket(s); }
};
using TScopedSocket = TUniqueHandle<TSocketTraits>;

constexpr int kIdlePollMs = 1000;        // how often the time limits are looked at when all is quiet
constexpr int kAlertPollMs = 100;        // how often waiting alerts are looked at
constexpr size_t kReceiveChunk = 65536;  // one receive per connection and turn, so all get served
constexpr size_t kOutputHigh = 65536;    // a client that does not read gets no further answers
constexpr int kAcceptsPerTurn = 256;
// Drops are logged up to this many lines per window of the clock, then counted.
constexpr int kDropLogLines = 20;
constexpr int64_t kDropLogWindowMs = 10000;

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

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

uint16_t LocalPort(SOCKET s) {
  sockaddr_in addr{};
  int len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

}  // namespace

struct TKLServiceHost::TConnection {
  enum class TWait : uint8_t { None, Alert, Free };

  TConnection(SOCKET s, TServiceCore& core, IClock& clock, int64_t unfinishedLineMs)
      : Socket(s), Session(core, clock, unfinishedLineMs) {}
  ~TConnection() {
    if (Socket != INVALID_SOCKET) ::closesocket(Socket);
  }

  SOCKET Socket;
  TClientSession Session;
  std::string Out;           // answers not yet taken by the client
  int64_t OutSinceMs = 0;    // when the client last took some of them
  size_t Unfinished = 0;     // bytes of an unfinished line, as counted in FUnfinishedBytes
  TWait Wait = TWait::None;  // what the request in progress waits for
  TRequest Waiting;
  int64_t WaitUntilMs = 0;
  uint64_t FreePass = 0;
  bool Closed = false;
};

TKLServiceHost::TKLServiceHost(IMemoryPort& memory, IScheduleStore& store, IServiceLog& log,
                               IClock& clock, const TServerLimits& limits)
    : FLog(log),
      FClock(clock),
      FCore(memory, store, clock, log),
      FLimits(limits),
      FListen(INVALID_SOCKET),
      FWakeSocket(INVALID_SOCKET) {}

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
  sockaddr_in addr = Loopback(port);
  if (::bind(listen.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw Exception("port " + std::to_string(port) + " not available: " + WsaError());
  if (::listen(listen.get(), SOMAXCONN) != 0 || !SetNonBlocking(listen.get()))
    throw Exception("listen: " + WsaError());

  // The other threads wake the serving thread with a datagram to this socket. Connected to
  // itself, it takes datagrams from nobody else.
  TScopedSocket wake(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_in wakeAddr = Loopback(0);
  if (!wake || ::bind(wake.get(), reinterpret_cast<sockaddr*>(&wakeAddr), sizeof wakeAddr) != 0)
    throw Exception("wake socket: " + WsaError());
  wakeAddr = Loopback(LocalPort(wake.get()));
  if (::connect(wake.get(), reinterpret_cast<sockaddr*>(&wakeAddr), sizeof wakeAddr) != 0 ||
      !SetNonBlocking(wake.get()))
    throw Exception("wake socket: " + WsaError());

  FPort = LocalPort(listen.get());
  FReceiveBuffer.resize(kReceiveChunk);
  FCore.Start();
  {
    std::lock_guard lock(FLock);
    FStopping = false;
  }
  FListen = listen.release();
  FWakeSocket = wake.release();
  FServeThread = std::thread([this] { ServeLoop(); });
  FFreeThread = std::thread([this] { FreeLoop(); });
  FSampleThread = std::thread([this] { SampleLoop(); });
  FScheduleThread = std::thread([this] { ScheduleLoop(); });
  FLog.Log("listening on 127.0.0.1:" + std::to_string(FPort));
}

void TKLServiceHost::Stop() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  FWakeThreads.notify_all();
  FCore.Stop();
  Wake();
  for (std::thread* t : {&FServeThread, &FFreeThread, &FSampleThread, &FScheduleThread})
    if (t->joinable()) t->join();
  FConnections.clear();
  FClientCount = 0;
  FUnfinishedBytes = 0;
  for (uintptr_t* s : {&FListen, &FWakeSocket}) {
    if (*s != INVALID_SOCKET) ::closesocket(static_cast<SOCKET>(*s));
    *s = INVALID_SOCKET;
  }
  if (FWinsock) {
    ::WSACleanup();
    FWinsock = false;
    FLog.Log("stopped");
  }
}

void TKLServiceHost::Wake() noexcept {
  if (FWakeSocket != INVALID_SOCKET) ::send(static_cast<SOCKET>(FWakeSocket), "w", 1, 0);
}

void TKLServiceHost::ServeLoop() {
  std::vector<WSAPOLLFD> fds;
  for (;;) {
    {
      std::lock_guard lock(FLock);
      if (FStopping) break;
    }
    // Each connection is watched for what it can take now: more requests only when the one
    // before is answered and its answers are being read.
    fds.clear();
    fds.push_back({static_cast<SOCKET>(FListen), POLLRDNORM, 0});
    fds.push_back({static_cast<SOCKET>(FWakeSocket), POLLRDNORM, 0});
    bool alertWaits = false;
    for (const auto& c : FConnections) {
      SHORT events = 0;
      if (c->Wait == TConnection::TWait::None && !c->Session.HasLines() &&
          c->Out.size() < kOutputHigh)
        events |= POLLRDNORM;
      if (!c->Out.empty()) events |= POLLWRNORM;
      alertWaits |= c->Wait == TConnection::TWait::Alert;
      fds.push_back({c->Socket, events, 0});
    }
    const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()),
                                alertWaits ? kAlertPollMs : kIdlePollMs);
    if (ready == SOCKET_ERROR) {
      FLog.Log("waiting on the connections failed: " + WsaError());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // no spinning on a failure
      continue;
    }
    const int64_t now = FClock.NowMs();
    if (fds[1].revents) {
      char drain[64];
      while (::recv(static_cast<SOCKET>(FWakeSocket), drain, sizeof drain, 0) > 0) {
      }
    }
    FinishFreePass();
    // Only the connections that were watched: those accepted below come after them.
    const size_t watched = fds.size() - 2;
    for (size_t i = 0; i < watched; ++i) {
      TConnection& c = *FConnections[i];
      const SHORT revents = fds[i + 2].revents;
      if (c.Closed || !revents) continue;
      if (revents & POLLNVAL) {
        Drop(c, "socket no longer valid");
        continue;
      }
      if (revents & (POLLRDNORM | POLLHUP | POLLERR)) ReadFrom(c);
      if (!c.Closed && (revents & POLLWRNORM)) Flush(c, now);
    }
    if (fds[0].revents) AcceptNew(now);
    CheckTimes(now);
    std::erase_if(FConnections, [](const auto& c) { return c->Closed; });
    FClientCount = static_cast<int>(FConnections.size());
  }
  FConnections.clear();
  FClientCount = 0;
}

void TKLServiceHost::AcceptNew(int64_t now) {
  for (int i = 0; i < kAcceptsPerTurn; ++i) {
    TScopedSocket s(::accept(static_cast<SOCKET>(FListen), nullptr, nullptr));
    if (!s) {
      const int err = ::WSAGetLastError();
      if (err != WSAEWOULDBLOCK && err != WSAECONNRESET) FLog.Log("accept: " + WsaError());
      return;
    }
    const BOOL noDelay = TRUE;  // answers are single short lines: send them at once
    ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    if (!SetNonBlocking(s.get())) continue;
    const auto live = std::count_if(FConnections.begin(), FConnections.end(),
                                     [](const auto& c) { return !c->Closed; });
    if (live >= FLimits.MaxClients) DropOneForRoom(now);
    FConnections.push_back(
        std::make_unique<TConnection>(s.release(), FCore, FClock, FLimits.UnfinishedLineMs));
  }
}

void TKLServiceHost::DropOneForRoom(int64_t now) {
  std::vector<TSlotState> slots;
  std::vector<TConnection*> owners;
  slots.reserve(FConnections.size());
  owners.reserve(FConnections.size());
  for (const auto& c : FConnections) {
    if (c->Closed) continue;
    slots.push_back({c->Session.StartMs(), c->Session.Spoken(), c->Session.LastRequestMs(),
                     c->Session.UnfinishedBytes()});
    owners.push_back(c.get());
  }
  if (slots.empty()) return;
  ++FDroppedForRoom;
  ++FRoomDropsUnlogged;
  // Under a flood this runs for every new connection: one log line per window of the clock.
  if (now - FLastRoomLogMs >= kDropLogWindowMs) {
    FLog.Log("all " + std::to_string(FLimits.MaxClients) + " slots taken: " +
             std::to_string(FRoomDropsUnlogged) + " connection(s) dropped to make room");
    FLastRoomLogMs = now;
    FRoomDropsUnlogged = 0;
  }
  Drop(*owners[PickConnectionToDrop(slots, now, FLimits)], nullptr);
}

void TKLServiceHost::ReadFrom(TConnection& c) {
  const int n = ::recv(c.Socket, FReceiveBuffer.data(), static_cast<int>(FReceiveBuffer.size()), 0);
  if (n == 0) {
    Drop(c, nullptr);  // the client closed it
    return;
  }
  if (n < 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) Drop(c, nullptr);
    return;
  }
  const TDropReason r = c.Session.Feed(std::string_view(FReceiveBuffer.data(), size_t(n)));
  if (r != TDropReason::None) {
    Drop(c, ReasonText(r));
    return;
  }
  FUnfinishedBytes = FUnfinishedBytes - c.Unfinished + c.Session.UnfinishedBytes();
  c.Unfinished = c.Session.UnfinishedBytes();
  if (FUnfinishedBytes > FLimits.UnfinishedBytesBudget) {
    const auto longest = std::max_element(
        FConnections.begin(), FConnections.end(),
        [](const auto& a, const auto& b) { return a->Unfinished < b->Unfinished; });
    Drop(**longest, "unfinished lines over the budget");
    if (c.Closed) return;
  }
  Advance(c);
}

void TKLServiceHost::Advance(TConnection& c) {
  try {
    while (!c.Closed && c.Wait == TConnection::TWait::None && c.Out.size() < kOutputHigh) {
      std::optional<TRequest> request;
      if (c.Session.NextRequest(request) != TDropReason::None) {
        Drop(c, ReasonText(TDropReason::Malformed));
        return;
      }
      if (!request) break;
      if (TServiceCore::IsFreeRequest(*request)) {
        std::lock_guard lock(FLock);
        // A request that comes while a pass runs shares that pass's outcome.
        if (FFreeStarted == FFreeFinished) ++FFreeStarted;
        c.FreePass = FFreeStarted;
        c.Wait = TConnection::TWait::Free;
        c.Waiting = std::move(*request);
        FWakeThreads.notify_all();
      } else if (TServiceCore::IsWaitAlert(*request)) {
        if (const auto answer = FCore.TakeAlert(*request, c.Session.Id(), false)) {
          Answer(c, request->Seq, *answer);
        } else {
          c.Wait = TConnection::TWait::Alert;
          c.WaitUntilMs = FClock.NowMs() + kWaitAlertMs;
          c.Waiting = std::move(*request);
        }
      } else if (const auto answer = FCore.Handle(*request, c.Session.Id())) {
        Answer(c, request->Seq, *answer);
      }
    }
  } catch (const std::exception& e) {
    FLog.Log(std::string("connection ended by error: ") + e.what());
    Drop(c, nullptr);
    return;
  }
  Flush(c, FClock.NowMs());
}

void TKLServiceHost::Answer(TConnection& c, int32_t seq, std::string_view answer) {
  if (c.Out.empty()) c.OutSinceMs = FClock.NowMs();
  c.Out += FormatAnswer(seq, answer);
}

void TKLServiceHost::Flush(TConnection& c, int64_t now) {
  while (!c.Closed && !c.Out.empty()) {
    const int n = ::send(c.Socket, c.Out.data(), static_cast<int>(c.Out.size()), 0);
    if (n > 0) {
      c.Out.erase(0, static_cast<size_t>(n));
      c.OutSinceMs = now;
      continue;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) Drop(c, ReasonText(TDropReason::Closed));
    break;
  }
  if (c.Out.empty() && c.Out.capacity() > kOutputHigh) std::string().swap(c.Out);
}

void TKLServiceHost::CheckTimes(int64_t now) {
  for (const auto& p : FConnections) {
    TConnection& c = *p;
    if (c.Closed) continue;
    if (c.Session.Expired()) {
      Drop(c, "line begun and never finished");
    } else if (!c.Out.empty() && now - c.OutSinceMs >= FLimits.StalledSendMs) {
      Drop(c, "answers not read");
    } else if (c.Wait == TConnection::TWait::Alert) {
      try {
        if (const auto answer = FCore.TakeAlert(c.Waiting, c.Session.Id(), now >= c.WaitUntilMs)) {
          c.Wait = TConnection::TWait::None;
          Answer(c, c.Waiting.Seq, *answer);
          Advance(c);
        }
      } catch (const std::exception& e) {
        FLog.Log(std::string("connection ended by error: ") + e.what());
        Drop(c, nullptr);
      }
    }
  }
}

void TKLServiceHost::FinishFreePass() {
  uint64_t finished;
  std::string answer;
  {
    std::lock_guard lock(FLock);
    finished = FFreeFinished;
    answer = FFreeAnswer;
  }
  for (const auto& p : FConnections) {
    TConnection& c = *p;
    if (c.Closed || c.Wait != TConnection::TWait::Free || c.FreePass > finished) continue;
    c.Wait = TConnection::TWait::None;
    Answer(c, c.Waiting.Seq, answer);
    Advance(c);
  }
}

void TKLServiceHost::Drop(TConnection& c, const char* why) {
  if (c.Closed) return;
  c.Closed = true;
  FUnfinishedBytes -= c.Unfinished;
  c.Unfinished = 0;
  ::shutdown(c.Socket, SD_BOTH);
  ::closesocket(c.Socket);
  c.Socket = INVALID_SOCKET;
  if (!why) return;
  // A hostile client must not flood the log: a few lines per window, then a count.
  const int64_t now = FClock.NowMs();
  if (now - FDropLogStartMs >= kDropLogWindowMs) {
    if (FDropsUnlogged)
      FLog.Log(std::to_string(FDropsUnlogged) + " further connection(s) dropped, not logged");
    FDropLogStartMs = now;
    FDropsLogged = FDropsUnlogged = 0;
  }
  if (FDropsLogged < kDropLogLines) {
    ++FDropsLogged;
    FLog.Log(std::string("connection dropped: ") + why);
  } else {
    ++FDropsUnlogged;
  }
}

void TKLServiceHost::FreeLoop() {
  std::unique_lock lock(FLock);
  for (;;) {
    FWakeThreads.wait(lock, [this] { return FStopping || FFreeStarted > FFreeFinished; });
    if (FStopping) return;
    const uint64_t pass = FFreeStarted;
    lock.unlock();
    std::string answer;
    try {
      answer = FCore.FreeNow("request");
    } catch (const std::exception& e) {
      FLog.Log(std::string("freeing failed: ") + e.what());
    }
    lock.lock();
    FFreeAnswer = std::move(answer);
    FFreeFinished = pass;
    Wake();
  }
}

void TKLServiceHost::SampleLoop() {
  std::unique_lock lock(FLock);
  // The core took the first sample when it started.
  while (!FWakeThreads.wait_for(lock, std::chrono::milliseconds(kSampleIntervalMs),
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
    FWakeThreads.wait_for(lock, std::chrono::seconds(1), [this] { return FStopping; });
  }
}
