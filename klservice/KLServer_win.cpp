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

constexpr DWORD kIdleWaitMs = 1000;     // how often the time limits are looked at when all is quiet
constexpr DWORD kAlertWaitMs = 100;     // how often waiting alerts are looked at
constexpr size_t kReceiveChunk = 65536;  // one receive per connection and turn, so all get served
constexpr size_t kOutputHigh = 65536;    // a client that does not read gets no further answers
constexpr ULONG kCompletionsPerTurn = 64;
constexpr size_t kInboxBytes = 512;  // a request line of the application fits
// What a completion packet is about.
constexpr ULONG_PTR kKeyWake = 1;
constexpr ULONG_PTR kKeyAccepted = 2;  // the accepted socket comes as the packet's overlapped
constexpr ULONG_PTR kKeyConnection = 3;
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

HANDLE CompletionPort(void* completion) { return static_cast<HANDLE>(completion); }

}  // namespace

struct TKLServiceHost::TConnection {
  enum class TWait : uint8_t { None, Alert, Free };

  TConnection(SOCKET s, TServiceCore& core, IClock& clock, int64_t unfinishedLineMs)
      : Socket(s), Session(core, clock, unfinishedLineMs) {}
  ~TConnection() {
    if (Socket != INVALID_SOCKET) ::closesocket(Socket);
  }

  // One overlapped operation. The system writes into it until the operation completes: a
  // connection is freed only once neither of its two is pending.
  struct TOp {
    OVERLAPPED Overlapped{};  // first, so a completion's overlapped leads back to its TOp
    TConnection* Owner;
    bool Pending = false;
  };

  TOp ReceiveOp{{}, this};  // a zero-byte receive: completes when there is something to read
  TOp SendOp{{}, this};
  SOCKET Socket;
  TClientSession Session;
  std::string Out;           // answers not yet handed to the system
  std::string Sending;       // answers the pending send holds
  int64_t SendSinceMs = 0;   // when the pending send was started
  size_t Unfinished = 0;     // bytes of an unfinished line, as counted in FUnfinishedBytes
  TWait Wait = TWait::None;  // what the request in progress waits for
  TRequest Waiting;
  int64_t WaitUntilMs = 0;
  uint64_t FreePass = 0;
  std::unique_ptr<char[]> Inbox;  // the receive buffer of a connection that spoke
  bool InboxArmed = false;        // whether the pending receive reads into it
  bool Closed = false;
};

TKLServiceHost::TKLServiceHost(IMemoryPort& memory, IScheduleStore& store, IServiceLog& log,
                               IClock& clock, const TServerLimits& limits)
    : FLog(log),
      FClock(clock),
      FCore(memory, store, clock, log),
      FLimits(limits),
      FListen(INVALID_SOCKET) {}

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
  if (::listen(listen.get(), SOMAXCONN) != 0) throw Exception("listen: " + WsaError());

  FCompletion = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (!FCompletion) throw Exception("completion port: " + SystemErrorText(::GetLastError()));

  FPort = LocalPort(listen.get());
  FReceiveBuffer.resize(kReceiveChunk);
  FCore.Start();
  {
    std::lock_guard lock(FLock);
    FStopping = false;
  }
  FListen = listen.release();
  FServeThread = std::thread([this] { ServeLoop(); });
  FAcceptThread = std::thread([this] { AcceptLoop(); });
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
  const uintptr_t listen = FListen.exchange(INVALID_SOCKET);
  if (listen != INVALID_SOCKET) ::closesocket(static_cast<SOCKET>(listen));  // ends the accept
  for (std::thread* t :
       {&FAcceptThread, &FServeThread, &FFreeThread, &FSampleThread, &FScheduleThread})
    if (t->joinable()) t->join();
  if (FCompletion) {
    // A connection accepted while the serving thread ended still waits in the port.
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* packet = nullptr;
    while (::GetQueuedCompletionStatus(CompletionPort(FCompletion), &bytes, &key, &packet, 0) ||
           packet)
      if (key == kKeyAccepted)
        ::closesocket(static_cast<SOCKET>(reinterpret_cast<uintptr_t>(packet)));
    ::CloseHandle(CompletionPort(FCompletion));
    FCompletion = nullptr;
  }
  if (FWinsock) {
    ::WSACleanup();
    FWinsock = false;
    FLog.Log("stopped");
  }
}

void TKLServiceHost::Wake() noexcept {
  if (FCompletion) ::PostQueuedCompletionStatus(CompletionPort(FCompletion), 0, kKeyWake, nullptr);
}

void TKLServiceHost::AcceptLoop() {
  for (;;) {
    const SOCKET s = ::accept(static_cast<SOCKET>(FListen.load()), nullptr, nullptr);
    {
      std::unique_lock lock(FLock);
      if (FStopping) {
        if (s != INVALID_SOCKET) ::closesocket(s);
        return;
      }
      if (s == INVALID_SOCKET) {
        FWakeThreads.wait_for(lock, std::chrono::milliseconds(100));  // no spinning on a failure
        continue;
      }
    }
    if (!::PostQueuedCompletionStatus(CompletionPort(FCompletion), 0, kKeyAccepted,
                                      reinterpret_cast<OVERLAPPED*>(static_cast<uintptr_t>(s))))
      ::closesocket(s);
  }
}

void TKLServiceHost::ServeLoop() {
  OVERLAPPED_ENTRY entries[kCompletionsPerTurn];
  bool stopping = false;
  int stoppingTurns = 0;
  for (;;) {
    const bool alertWaits =
        std::any_of(FConnections.begin(), FConnections.end(),
                    [](const auto& c) { return c->Wait == TConnection::TWait::Alert; });
    const DWORD waitMs = stopping ? 100 : alertWaits ? kAlertWaitMs : kIdleWaitMs;
    ULONG count = 0;
    if (!::GetQueuedCompletionStatusEx(CompletionPort(FCompletion), entries, kCompletionsPerTurn,
                                       &count, waitMs, FALSE))
      count = 0;  // the wait ended without a packet
    const int64_t now = FClock.NowMs();
    for (ULONG i = 0; i < count; ++i) {
      const OVERLAPPED_ENTRY& e = entries[i];
      if (e.lpCompletionKey == kKeyAccepted) {
        const auto s = static_cast<SOCKET>(reinterpret_cast<uintptr_t>(e.lpOverlapped));
        if (stopping)
          ::closesocket(s);
        else
          AddConnection(s, now);
      } else if (e.lpCompletionKey == kKeyConnection && e.lpOverlapped) {
        auto* op = reinterpret_cast<TConnection::TOp*>(e.lpOverlapped);
        op->Pending = false;
        Completed(*op->Owner, op == &op->Owner->ReceiveOp, e.lpOverlapped->Internal == 0,
                  e.dwNumberOfBytesTransferred);
      }
    }
    if (!stopping) {
      std::lock_guard lock(FLock);
      stopping = FStopping;
    }
    if (stopping) {
      // Every socket closed; the loop runs on until the system has given back every overlapped.
      for (const auto& c : FConnections) Drop(*c, nullptr);
      if (++stoppingTurns > 50) {
        // Never given back: leaking them is safe, freeing memory the system may write is not.
        for (auto& c : FConnections) static_cast<void>(c.release());
        FConnections.clear();
      }
    } else {
      FinishFreePass();
      CheckTimes(now);
    }
    std::erase_if(FConnections, [](const auto& c) {
      return c->Closed && !c->ReceiveOp.Pending && !c->SendOp.Pending;
    });
    FClientCount = FLive;
    if (stopping && FConnections.empty()) break;
  }
  FClientCount = 0;
}

void TKLServiceHost::AddConnection(uintptr_t socket, int64_t now) {
  TScopedSocket s(static_cast<SOCKET>(socket));
  const BOOL noDelay = TRUE;  // answers are single short lines: send them at once
  ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
  if (!SetNonBlocking(s.get()) ||
      !::CreateIoCompletionPort(reinterpret_cast<HANDLE>(s.get()), CompletionPort(FCompletion),
                                kKeyConnection, 0)) {
    FLog.Log("connection not served: " + SystemErrorText(::GetLastError()));
    return;
  }
  if (FLive >= FLimits.MaxClients) DropOneForRoom(now);
  FConnections.push_back(
      std::make_unique<TConnection>(s.release(), FCore, FClock, FLimits.UnfinishedLineMs));
  ++FLive;
  Arm(*FConnections.back());
}

void TKLServiceHost::Completed(TConnection& c, bool receive, bool ok, unsigned long bytes) {
  if (receive) {
    if (c.Closed) return;
    if (!ok || (c.InboxArmed && bytes == 0)) {
      Drop(c, nullptr);  // reset or closed by the client
      return;
    }
    if (c.InboxArmed)
      Consume(c, std::string_view(c.Inbox.get(), bytes));
    else
      ReadFrom(c);
    return;
  }
  if (!ok || bytes == 0 || c.Closed) {
    c.Sending.clear();
    Drop(c, c.Closed ? nullptr : ReasonText(TDropReason::Closed));
    return;
  }
  c.Sending.erase(0, bytes);
  c.Out.insert(0, c.Sending);  // what is left goes out first with the next send
  c.Sending.clear();
  if (c.Sending.capacity() > kOutputHigh) std::string().swap(c.Sending);
  Flush(c, FClock.NowMs());
  Advance(c);
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
    Arm(c);
    return;
  }
  Consume(c, std::string_view(FReceiveBuffer.data(), size_t(n)));
}

void TKLServiceHost::Consume(TConnection& c, std::string_view data) {
  const TDropReason r = c.Session.Feed(data);
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

void TKLServiceHost::Arm(TConnection& c) {
  // More is read only once the requests read are answered and the answers are being taken.
  if (c.Closed || c.ReceiveOp.Pending || c.Wait != TConnection::TWait::None ||
      c.Session.HasLines() || c.Out.size() + c.Sending.size() >= kOutputHigh)
    return;
  // A connection that speaks the protocol gets a small buffer of its own, so its requests come
  // with their completion; one that never spoke waits with a zero-byte receive and no buffer.
  if (c.Session.Spoken() && !c.Inbox) c.Inbox = std::make_unique<char[]>(kInboxBytes);
  c.ReceiveOp.Overlapped = OVERLAPPED{};
  WSABUF buf{c.Inbox ? static_cast<ULONG>(kInboxBytes) : 0, c.Inbox.get()};
  DWORD flags = 0;
  if (::WSARecv(c.Socket, &buf, 1, nullptr, &flags, &c.ReceiveOp.Overlapped, nullptr) == 0 ||
      ::WSAGetLastError() == WSA_IO_PENDING) {
    c.ReceiveOp.Pending = true;  // a completion comes either way
    c.InboxArmed = buf.len != 0;
    return;
  }
  Drop(c, nullptr);
}

void TKLServiceHost::Advance(TConnection& c) {
  try {
    while (!c.Closed && c.Wait == TConnection::TWait::None &&
         c.Out.size() + c.Sending.size() < kOutputHigh) {
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
  Arm(c);
}

void TKLServiceHost::Answer(TConnection& c, int32_t seq, std::string_view answer) {
  c.Out += FormatAnswer(seq, answer);
}

void TKLServiceHost::Flush(TConnection& c, int64_t now) {
  if (c.Closed || c.SendOp.Pending || c.Out.empty()) return;
  // Most answers fit the socket's buffer at once; only what it cannot take yet waits for an
  // overlapped send and its completion.
  const int n = ::send(c.Socket, c.Out.data(), static_cast<int>(c.Out.size()), 0);
  if (n == static_cast<int>(c.Out.size())) {
    c.Out.clear();
    if (c.Out.capacity() > kOutputHigh) std::string().swap(c.Out);
    return;
  }
  if (n > 0) {
    c.Out.erase(0, static_cast<size_t>(n));
  } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
    Drop(c, ReasonText(TDropReason::Closed));
    return;
  }
  c.Sending.swap(c.Out);
  c.SendOp.Overlapped = OVERLAPPED{};
  WSABUF buf{static_cast<ULONG>(c.Sending.size()), c.Sending.data()};
  if (::WSASend(c.Socket, &buf, 1, nullptr, 0, &c.SendOp.Overlapped, nullptr) == 0 ||
      ::WSAGetLastError() == WSA_IO_PENDING) {
    c.SendOp.Pending = true;  // a completion comes either way
    c.SendSinceMs = now;
    return;
  }
  c.Sending.clear();
  Drop(c, ReasonText(TDropReason::Closed));
}

void TKLServiceHost::CheckTimes(int64_t now) {
  for (const auto& p : FConnections) {
    TConnection& c = *p;
    if (c.Closed) continue;
    if (c.Session.Expired()) {
      Drop(c, "line begun and never finished");
    } else if (c.SendOp.Pending && now - c.SendSinceMs >= FLimits.StalledSendMs) {
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
  --FLive;
  FUnfinishedBytes -= c.Unfinished;
  c.Unfinished = 0;
  // Closing ends the pending operations: their completions still come, and then the
  // connection is freed.
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
