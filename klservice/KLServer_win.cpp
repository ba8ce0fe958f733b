#include "KLServer_win.h"
#include "ServicePorts_win.h"

#include "common/WinApi.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>  // AcceptEx, taken from the socket itself: no link to mswsock.dll

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
constexpr size_t kReceiveChunk = 16384;  // one receive per connection and turn, so all get served
constexpr size_t kOutputHigh = 65536;    // a client that does not read gets no further answers
constexpr ULONG kCompletionsPerTurn = 64;
constexpr size_t kInboxBytes = 512;  // a request line of the application fits
constexpr int kSocketBufferBytes = 65536;
// Accepts kept pending, so a burst of new clients is taken in one turn of the serving thread.
constexpr size_t kAcceptsPending = 8;
// An accept that failed for want of a socket (or for a reason not the client's) is tried again
// this much later: no spinning on a failure.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// How often the schedule and the log's summaries are looked at.
constexpr int64_t kDutyIntervalMs = 1000;
// What a completion packet is about.
constexpr ULONG_PTR kKeyWake = 1;
constexpr ULONG_PTR kKeyAccepted = 2;  // an accept of the listening socket completed
constexpr ULONG_PTR kKeyConnection = 3;
// Connections being closed still hold their slots until their objects are freed; while they
// go, only this many more may come when all slots are taken.
constexpr int kClosingSlack = 64;
// The owner table is read at most this often, however many connections come.
constexpr auto kOwnerTableGap = std::chrono::milliseconds(100);
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

// The number always, as the system may have no text for it.
std::string WsaError() {
  const int code = ::WSAGetLastError();
  const std::string text = SystemErrorText(static_cast<unsigned long>(code));
  return "Winsock error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
}

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

  TConnection(SOCKET s, TShard& shard, TServiceCore& core, IClock& clock,
              int64_t unfinishedLineMs)
      : Shard(shard), Socket(s), Session(core, clock, unfinishedLineMs) {}
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
  TShard& Shard;
  SOCKET Socket;
  TClientSession Session;
  std::string Out;           // answers not yet handed to the system
  std::string Sending;       // answers the pending send holds
  int64_t SendSinceMs = 0;   // when the pending send was started
  size_t Held = 0;           // bytes held for it, as counted in the shard
  TWait Wait = TWait::None;  // what the request in progress waits for
  TRequest Waiting;
  int64_t WaitUntilMs = 0;
  uint64_t FreePass = 0;
  std::unique_ptr<char[]> Inbox;  // the receive buffer of a connection that spoke
  bool InboxArmed = false;        // whether the pending receive reads into it
  bool Closed = false;
  uint16_t PeerPort = 0;          // the client's port, by which its process is found
  uint32_t Owner = 0;             // the client's process, 0 while not known
  bool OwnerDone = false;         // looked up, or no longer needed
  uint64_t OwnerMark = 0;         // owner tables begun before this connection came
};

// One overlapped accept of the listening socket. Its socket is made beforehand and becomes the
// connection's once a client is taken.
struct TKLServiceHost::TAcceptOp {
  OVERLAPPED Overlapped{};  // first, so a completion's overlapped leads back to its TAcceptOp
  SOCKET Socket = INVALID_SOCKET;
  bool Pending = false;
  bool Retry = false;  // to be posted again at RetryAt
  std::chrono::steady_clock::time_point RetryAt{};
  char Addresses[2 * (sizeof(sockaddr_in) + 16)];  // both ends, each with the 16 bytes it needs
};

// The serving thread and the connections it owns; nothing here is touched by another thread but
// Count and the shown figures, and the port to post to.
struct TKLServiceHost::TShard {
  HANDLE Completion = nullptr;
  TAcceptOp Accepts[kAcceptsPending];
  int64_t NextSampleMs = 0;
  int64_t NextDutyMs = 0;
  bool Leaked = false;  // the system never gave back some overlapped operation: kept, not freed
  std::vector<std::unique_ptr<TConnection>> Connections;
  std::string ReceiveBuffer = std::string(kReceiveChunk, '\0');
  int MaxClients = 0;
  int MaxPerProcess = 0;
  size_t HeldBudget = 0;
  size_t HeldBytes = 0;
  int Live = 0;        // connections not dropped
  int Unresolved = 0;  // live connections whose process is still to be looked up
  uint64_t OwnerTableSeen = 0;
  std::atomic<int> Count{0};  // connections not yet freed
  std::atomic<size_t> HeldShown{0};
  std::atomic<int> UnresolvedShown{0};
  int64_t LastRoomLogMs = INT64_MIN / 2;
  int64_t RoomDropsUnlogged = 0;
  int64_t DropLogStartMs = INT64_MIN / 2;
  int DropsLogged = 0, DropsUnlogged = 0;
  std::thread Thread;
};

TKLServiceHost::TKLServiceHost(IMemoryPort& memory, IScheduleStore& store, IServiceLog& log,
                               IClock& clock, const TServerLimits& limits, IPeerOwners* owners)
    : FLog(log),
      FClock(clock),
      FCore(memory, store, clock, log),
      FLimits(limits),
      FListen(INVALID_SOCKET),
      FSystemOwners(owners ? nullptr : CreateTcpTableOwners()),
      FOwners(owners ? owners : FSystemOwners.get()) {
  FCore.SetMinFreeIntervalMs(limits.MinFreeIntervalMs);
}

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

  // The completions of the accepts come to the serving thread's port; AcceptEx is taken from
  // the socket's own provider.
  GUID acceptExId = WSAID_ACCEPTEX;
  LPFN_ACCEPTEX acceptEx = nullptr;
  DWORD got = 0;
  if (::WSAIoctl(listen.get(), SIO_GET_EXTENSION_FUNCTION_POINTER, &acceptExId, sizeof acceptExId,
                 &acceptEx, sizeof acceptEx, &got, nullptr, nullptr) != 0 ||
      !acceptEx)
    throw Exception("AcceptEx: " + WsaError());
  FAcceptEx = reinterpret_cast<void*>(acceptEx);

  auto shard = std::make_unique<TShard>();
  shard->Completion = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (!shard->Completion) throw Exception("completion port: " + SystemErrorText(::GetLastError()));
  if (!::CreateIoCompletionPort(reinterpret_cast<HANDLE>(listen.get()), shard->Completion,
                                kKeyAccepted, 0)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(shard->Completion);
    throw Exception("completion port: " + SystemErrorText(error));
  }
  shard->MaxClients = std::max(1, FLimits.MaxClients);
  shard->MaxPerProcess = std::max(1, FLimits.MaxClientsPerProcess);
  shard->HeldBudget = FLimits.BufferedBytesBudget;

  FPort = LocalPort(listen.get());
  FCore.Start();
  // The core took the first sample; the schedule is looked at once at start.
  shard->NextSampleMs = FClock.NowMs() + kSampleIntervalMs;
  shard->NextDutyMs = FClock.NowMs();
  {
    std::lock_guard lock(FLock);
    FStopping = false;
    FScheduleWanted = false;
  }
  {
    std::lock_guard lock(FOwnerLock);
    FOwnerStop = false;
    FOwnersWanted = false;
  }
  FListen = listen.release();
  FShard = std::move(shard);
  FShard->Thread = std::thread([this, &s = *FShard] { ServeLoop(s); });
  FLog.Log("listening on 127.0.0.1:" + std::to_string(FPort));
}

void TKLServiceHost::Stop() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
  }
  {
    std::lock_guard lock(FOwnerLock);
    FOwnerStop = true;
  }
  FOwnerWake.notify_all();
  FCore.Stop();
  Wake();
  // Ends the pending accepts: their completions come to the serving thread, which closes them.
  const uintptr_t listen = FListen.exchange(INVALID_SOCKET);
  if (listen != INVALID_SOCKET) ::closesocket(static_cast<SOCKET>(listen));
  if (FShard && FShard->Thread.joinable()) FShard->Thread.join();
  // Nothing starts these once the serving thread has ended; a pass running now is waited for.
  if (FFreeThread.joinable()) FFreeThread.join();
  if (FOwnerThread.joinable()) FOwnerThread.join();
  if (FShard) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* packet = nullptr;
    while (::GetQueuedCompletionStatus(FShard->Completion, &bytes, &key, &packet, 0) || packet) {
    }
    ::CloseHandle(FShard->Completion);
    // Memory the system may still write into is never freed.
    if (FShard->Leaked)
      static_cast<void>(FShard.release());
    else
      FShard.reset();
  }
  if (FWinsock) {
    ::WSACleanup();
    FWinsock = false;
    FLog.Log("stopped");
  }
}

int TKLServiceHost::ClientCount() const noexcept { return FShard ? FShard->Count.load() : 0; }

int TKLServiceHost::OwnersToLookUp() const noexcept {
  return FShard ? FShard->UnresolvedShown.load() : 0;
}

size_t TKLServiceHost::HeldBytes() const noexcept { return FShard ? FShard->HeldShown.load() : 0; }

void TKLServiceHost::Wake() noexcept {
  if (FShard) ::PostQueuedCompletionStatus(FShard->Completion, 0, kKeyWake, nullptr);
}

void TKLServiceHost::PostAccept(TShard& shard, TAcceptOp& op) {
  op.Retry = false;
  const auto listen = static_cast<SOCKET>(FListen.load());
  if (listen == INVALID_SOCKET) return;
  auto retry = [&op] {
    op.Retry = true;
    op.RetryAt = std::chrono::steady_clock::now() + kAcceptRetry;
  };
  op.Socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (op.Socket == INVALID_SOCKET) {
    const int err = ::WSAGetLastError();
    // No socket left for the next client: whoever holds them all must not keep it out, so the
    // slot policy makes room as it does when every slot is taken.
    if ((err == WSAEMFILE || err == WSAENOBUFS) && shard.Live > 0)
      DropOneForRoom(shard, FClock.NowMs());
    retry();
    return;
  }
  op.Overlapped = OVERLAPPED{};
  DWORD bytes = 0;
  const auto acceptEx = reinterpret_cast<LPFN_ACCEPTEX>(FAcceptEx);
  if (acceptEx(listen, op.Socket, op.Addresses, 0, sizeof(sockaddr_in) + 16,
               sizeof(sockaddr_in) + 16, &bytes, &op.Overlapped) ||
      ::WSAGetLastError() == ERROR_IO_PENDING) {
    op.Pending = true;  // a completion comes either way
    return;
  }
  ::closesocket(op.Socket);
  op.Socket = INVALID_SOCKET;
  retry();
}

void TKLServiceHost::Accepted(TShard& shard, TAcceptOp& op, bool ok, bool stopping, int64_t now) {
  const SOCKET s = op.Socket;
  op.Socket = INVALID_SOCKET;
  const auto listen = static_cast<SOCKET>(FListen.load());
  if (stopping || listen == INVALID_SOCKET) {
    ::closesocket(s);
    return;
  }
  if (ok) {
    // The accepted socket takes the listening socket's settings, and its peer can be asked for.
    ::setsockopt(s, SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT, reinterpret_cast<const char*>(&listen),
                 sizeof listen);
    AddConnection(shard, s, now);
    PostAccept(shard, op);
    return;
  }
  DWORD bytes = 0, flags = 0;
  ::WSAGetOverlappedResult(listen, &op.Overlapped, &bytes, FALSE, &flags);
  const int err = ::WSAGetLastError();
  ::closesocket(s);
  if (err == WSAEMFILE || err == WSAENOBUFS) {
    if (shard.Live > 0) DropOneForRoom(shard, now);
  } else if (err == WSAECONNRESET || err == WSAEINTR || err == ERROR_NETNAME_DELETED) {
    PostAccept(shard, op);  // a client gone before it was taken
    return;
  }
  op.Retry = true;
  op.RetryAt = std::chrono::steady_clock::now() + kAcceptRetry;
}

void TKLServiceHost::RunDuties(TShard& shard, int64_t now) {
  if (now >= shard.NextSampleMs) {
    FCore.Sample();
    shard.NextSampleMs = now + kSampleIntervalMs;
  }
  if (now < shard.NextDutyMs) return;
  shard.NextDutyMs = now + kDutyIntervalMs;
  if (FCore.TakeDueSchedule()) {
    std::lock_guard lock(FLock);
    FScheduleWanted = true;
    try {
      WantFreeThread();
    } catch (const std::exception& e) {
      FScheduleWanted = false;
      FLog.Log(std::string("scheduled freeing failed: ") + e.what());
    }
  }
  FCore.FlushLogSummaries();
}

void TKLServiceHost::ServeLoop(TShard& shard) {
  using std::chrono::steady_clock;
  // The clock of the retries is read only while an accept waits for one.
  const auto acceptsToRetry = [&shard] {
    return std::any_of(std::begin(shard.Accepts), std::end(shard.Accepts),
                       [](const TAcceptOp& op) { return op.Retry; });
  };
  OVERLAPPED_ENTRY entries[kCompletionsPerTurn];
  bool stopping = false;
  int stoppingTurns = 0;
  for (TAcceptOp& op : shard.Accepts) PostAccept(shard, op);
  for (;;) {
    const bool alertWaits =
        std::any_of(shard.Connections.begin(), shard.Connections.end(),
                    [](const auto& c) { return c->Wait == TConnection::TWait::Alert; });
    int64_t waitMs = stopping ? 100 : alertWaits ? kAlertWaitMs : kIdleWaitMs;
    if (!stopping) {
      const int64_t now = FClock.NowMs();
      waitMs = std::clamp<int64_t>(std::min(shard.NextSampleMs, shard.NextDutyMs) - now, 0, waitMs);
      if (acceptsToRetry()) {
        const auto at = steady_clock::now();
        for (const TAcceptOp& op : shard.Accepts)
          if (op.Retry)
            waitMs = std::clamp<int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(op.RetryAt - at).count(), 0, waitMs);
      }
    }
    ULONG count = 0;
    if (!::GetQueuedCompletionStatusEx(shard.Completion, entries, kCompletionsPerTurn, &count,
                                       static_cast<DWORD>(waitMs), FALSE))
      count = 0;  // the wait ended without a packet
    const int64_t now = FClock.NowMs();
    for (ULONG i = 0; i < count; ++i) {
      const OVERLAPPED_ENTRY& e = entries[i];
      if (e.lpCompletionKey == kKeyAccepted && e.lpOverlapped) {
        auto* op = reinterpret_cast<TAcceptOp*>(e.lpOverlapped);
        op->Pending = false;
        Accepted(shard, *op, e.lpOverlapped->Internal == 0, stopping, now);
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
      for (const auto& c : shard.Connections) Drop(*c, nullptr);
      for (TAcceptOp& op : shard.Accepts) op.Retry = false;
      if (++stoppingTurns > 50) {
        // Never given back: leaking them is safe, freeing memory the system may write is not.
        for (auto& c : shard.Connections) static_cast<void>(c.release());
        shard.Connections.clear();
        shard.Leaked = std::any_of(std::begin(shard.Accepts), std::end(shard.Accepts),
                                   [](const TAcceptOp& op) { return op.Pending; });
        break;
      }
    } else {
      if (acceptsToRetry()) {
        const auto at = steady_clock::now();
        for (TAcceptOp& op : shard.Accepts)
          if (op.Retry && at >= op.RetryAt) PostAccept(shard, op);
      }
      RunDuties(shard, now);
      FinishFreePass(shard);
      CheckTimes(shard, now);
      if (shard.Unresolved > 0) ResolveOwners(shard, now);
    }
    // A connection holds its slot and its bytes until the system has given back its overlapped
    // operations and the object is freed.
    std::erase_if(shard.Connections, [&shard](const auto& c) {
      if (!c->Closed || c->ReceiveOp.Pending || c->SendOp.Pending) return false;
      shard.HeldBytes -= c->Held;
      return true;
    });
    shard.Count = static_cast<int>(shard.Connections.size());
    shard.HeldShown = shard.HeldBytes;
    shard.UnresolvedShown = shard.Unresolved;
    if (stopping && shard.Connections.empty() &&
        std::none_of(std::begin(shard.Accepts), std::end(shard.Accepts),
                     [](const TAcceptOp& op) { return op.Pending; }))
      break;
  }
  shard.Count = 0;
  shard.HeldShown = 0;
}

void TKLServiceHost::AddConnection(TShard& shard, uintptr_t socket, int64_t now) {
  TScopedSocket s(static_cast<SOCKET>(socket));
  const BOOL noDelay = TRUE;  // answers are single short lines: send them at once
  ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
  // Fixed socket buffers: a client that never reads must not make the system hold megabytes of
  // answers for it outside our count; what does not fit waits in our buffers, which are counted.
  const int socketBuffer = kSocketBufferBytes;
  ::setsockopt(s.get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&socketBuffer),
               sizeof socketBuffer);
  ::setsockopt(s.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&socketBuffer),
               sizeof socketBuffer);
  if (!SetNonBlocking(s.get()) ||
      !::CreateIoCompletionPort(reinterpret_cast<HANDLE>(s.get()), shard.Completion,
                                kKeyConnection, 0)) {
    FLog.Log("connection not served: " + SystemErrorText(::GetLastError()));
    return;
  }
  sockaddr_in peer{};
  int peerLength = sizeof peer;
  const uint16_t peerPort =
      ::getpeername(s.get(), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0
          ? ntohs(peer.sin_port)
          : 0;
  if (shard.Live >= shard.MaxClients) DropOneForRoom(shard, now);
  if (static_cast<int>(shard.Connections.size()) >= shard.MaxClients + kClosingSlack) {
    // Every slot is held, and many by connections still closing: this one waits no longer.
    const LINGER abort{1, 0};
    ::setsockopt(s.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
    ++FDroppedForRoom;
    return;
  }
  shard.Connections.push_back(std::make_unique<TConnection>(s.release(), shard, FCore, FClock,
                                                            FLimits.UnfinishedLineMs));
  TConnection& c = *shard.Connections.back();
  ++shard.Live;
  c.PeerPort = peerPort;
  c.OwnerMark = FOwnerTablesStarted.load();
  c.OwnerDone = peerPort == 0;
  if (!c.OwnerDone) ++shard.Unresolved;
  Account(c);
  Arm(c);
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

void TKLServiceHost::DropOneForRoom(TShard& shard, int64_t now) {
  std::vector<TSlotState> slots;
  std::vector<TConnection*> owners;
  slots.reserve(shard.Connections.size());
  owners.reserve(shard.Connections.size());
  for (const auto& c : shard.Connections) {
    if (c->Closed) continue;
    slots.push_back({c->Session.StartMs(), c->Session.Spoken(), c->Session.LastRequestMs(),
                     c->Session.UnfinishedBytes(), c->Owner});
    owners.push_back(c.get());
  }
  if (slots.empty()) return;
  ++FDroppedForRoom;
  ++shard.RoomDropsUnlogged;
  // Under a flood this runs for every new connection: one log line per window of the clock.
  if (now - shard.LastRoomLogMs >= kDropLogWindowMs) {
    FLog.Log("all " + std::to_string(shard.MaxClients) + " slots of a serving thread taken: " +
             std::to_string(shard.RoomDropsUnlogged) + " connection(s) dropped to make room");
    shard.LastRoomLogMs = now;
    shard.RoomDropsUnlogged = 0;
  }
  Drop(*owners[PickConnectionToDrop(slots, now, FLimits)], nullptr);
}

void TKLServiceHost::ResolveOwners(TShard& shard, int64_t now) {
  // Owners matter only once one process could pass its share or the slots could run out: until
  // then the table is not read (it is dear to read where many connections are open).
  if (ClientCount() <= std::min(FLimits.MaxClientsPerProcess, FLimits.MaxClients / 2)) return;
  const uint64_t table = FOwnerTable.load();
  if (table == shard.OwnerTableSeen) {
    std::lock_guard lock(FOwnerLock);
    WantOwnerTable();
    return;
  }
  shard.OwnerTableSeen = table;
  bool waiting = false, found = false;
  {
    std::lock_guard lock(FOwnerLock);
    for (const auto& p : shard.Connections) {
      TConnection& c = *p;
      if (c.OwnerDone) continue;
      if (table <= c.OwnerMark) {
        waiting = true;  // came after that table was begun
        continue;
      }
      const auto it = std::lower_bound(
          FOwnerMap.begin(), FOwnerMap.end(), c.PeerPort,
          [](const std::pair<uint16_t, uint32_t>& e, uint16_t port) { return e.first < port; });
      // A connection missing from the table, or with no process there, stays unknown.
      if (it != FOwnerMap.end() && it->first == c.PeerPort) c.Owner = it->second;
      found = found || c.Owner != 0;
      c.OwnerDone = true;
      --shard.Unresolved;
    }
    if (waiting) WantOwnerTable();
  }
  if (!found) return;
  std::vector<TSlotState> slots;
  std::vector<TConnection*> conns;
  for (const auto& c : shard.Connections) {
    if (c->Closed) continue;
    slots.push_back({c->Session.StartMs(), c->Session.Spoken(), c->Session.LastRequestMs(),
                     c->Session.UnfinishedBytes(), c->Owner});
    conns.push_back(c.get());
  }
  const std::vector<size_t> over = ConnectionsOverProcessCap(slots, now, FLimits, shard.MaxPerProcess);
  if (over.empty()) return;
  FDroppedForCap += static_cast<int64_t>(over.size());
  if (now - shard.LastRoomLogMs >= kDropLogWindowMs) {
    FLog.Log(std::to_string(over.size()) + " connection(s) of process " +
             std::to_string(conns[over.front()]->Owner) + " dropped: more than " +
             std::to_string(shard.MaxPerProcess) + " held on a serving thread");
    shard.LastRoomLogMs = now;
  }
  for (size_t i : over) Drop(*conns[i], nullptr);
}

void TKLServiceHost::WantOwnerTable() {
  FOwnersWanted = true;
  if (FOwnerRunning || FOwnerStop) return;
  // The thread that ended is joined first; it holds no lock any more.
  if (FOwnerThread.joinable()) FOwnerThread.join();
  try {
    FOwnerThread = std::thread([this] { OwnerLoop(); });
    FOwnerRunning = true;
  } catch (const std::exception&) {
    // No thread to be had now: the serving thread asks again on its next turn.
  }
}

void TKLServiceHost::OwnerLoop() {
  std::unique_lock lock(FOwnerLock);
  // Runs while tables are wanted, and ends when one was not asked for within the gap.
  while (!FOwnerStop && FOwnersWanted) {
    FOwnersWanted = false;
    const uint64_t table = ++FOwnerTablesStarted;
    lock.unlock();
    std::vector<std::pair<uint16_t, uint32_t>> owners;
    try {
      owners = FOwners->Snapshot(FPort);
    } catch (const std::exception& e) {
      FLog.Log(std::string("connection owners not read: ") + e.what());
    }
    std::sort(owners.begin(), owners.end());
    lock.lock();
    FOwnerMap = std::move(owners);
    FOwnerTable = table;
    lock.unlock();
    Wake();
    lock.lock();
    // A flood of connections asks for a table all the time: read it only so often.
    FOwnerWake.wait_for(lock, kOwnerTableGap, [this] { return FOwnerStop; });
  }
  FOwnerRunning = false;
}

void TKLServiceHost::ReadFrom(TConnection& c) {
  std::string& buffer = c.Shard.ReceiveBuffer;
  const int n = ::recv(c.Socket, buffer.data(), static_cast<int>(buffer.size()), 0);
  if (n == 0) {
    Drop(c, nullptr);  // the client closed it
    return;
  }
  if (n < 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) Drop(c, nullptr);
    Arm(c);
    return;
  }
  Consume(c, std::string_view(buffer.data(), size_t(n)));
}

void TKLServiceHost::Consume(TConnection& c, std::string_view data) {
  const TDropReason r = c.Session.Feed(data);
  if (r != TDropReason::None) {
    Drop(c, ReasonText(r));
    return;
  }
  Account(c);
  TShard& shard = c.Shard;
  if (shard.HeldBytes > shard.HeldBudget) {
    TConnection* most = nullptr;
    for (const auto& p : shard.Connections)
      if (!p->Closed && (!most || p->Held > most->Held)) most = p.get();
    if (most) Drop(*most, "holds the most of the buffered bytes");
    if (c.Closed) return;
  }
  Advance(c);
}

void TKLServiceHost::Account(TConnection& c) {
  // Everything the connection makes the service hold, by capacity, until its object is freed.
  const size_t held = sizeof(TConnection) + (c.Inbox ? kInboxBytes : 0) + c.Session.HeldBytes() +
                      c.Out.capacity() + c.Sending.capacity();
  c.Shard.HeldBytes = c.Shard.HeldBytes - c.Held + held;
  c.Held = held;
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
        WantFreeThread();
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
  Account(c);
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

void TKLServiceHost::CheckTimes(TShard& shard, int64_t now) {
  for (const auto& p : shard.Connections) {
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

void TKLServiceHost::FinishFreePass(TShard& shard) {
  uint64_t finished;
  std::string answer;
  {
    std::lock_guard lock(FLock);
    finished = FFreeFinished;
    answer = FFreeAnswer;
  }
  for (const auto& p : shard.Connections) {
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
  TShard& shard = c.Shard;
  --shard.Live;
  if (!c.OwnerDone) {
    c.OwnerDone = true;
    --shard.Unresolved;
  }
  if (c.SendOp.Pending || c.ReceiveOp.Pending)
    ::CancelIoEx(reinterpret_cast<HANDLE>(c.Socket), nullptr);
  if (c.SendOp.Pending) {
    // Answers the client never read are not delivered after all: a reset, so the socket and
    // its unsent data go now instead of whenever the client closes its end.
    const LINGER abort{1, 0};
    ::setsockopt(c.Socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
  } else {
    ::shutdown(c.Socket, SD_BOTH);
  }
  // The cancelled operations still complete; then the connection is freed.
  ::closesocket(c.Socket);
  c.Socket = INVALID_SOCKET;
  std::string().swap(c.Out);
  Account(c);
  if (!why) return;
  // A hostile client must not flood the log: a few lines per window, then a count.
  const int64_t now = FClock.NowMs();
  if (now - shard.DropLogStartMs >= kDropLogWindowMs) {
    if (shard.DropsUnlogged)
      FLog.Log(std::to_string(shard.DropsUnlogged) + " further connection(s) dropped, not logged");
    shard.DropLogStartMs = now;
    shard.DropsLogged = shard.DropsUnlogged = 0;
  }
  if (shard.DropsLogged < kDropLogLines) {
    ++shard.DropsLogged;
    FLog.Log(std::string("connection dropped: ") + why);
  } else {
    ++shard.DropsUnlogged;
  }
}

void TKLServiceHost::WantFreeThread() {
  if (FFreeRunning || FStopping) return;
  // The thread that ended is joined first; it holds no lock any more.
  if (FFreeThread.joinable()) FFreeThread.join();
  FFreeThread = std::thread([this] { FreeLoop(); });
  FFreeRunning = true;
}

void TKLServiceHost::FreeLoop() {
  std::unique_lock lock(FLock);
  // Runs the passes wanted, one after the other, and ends when none is left.
  while (!FStopping) {
    if (FScheduleWanted) {
      FScheduleWanted = false;
      lock.unlock();
      try {
        FCore.FreeNow("schedule");
      } catch (const std::exception& e) {
        FLog.Log(std::string("scheduled freeing failed: ") + e.what());
      }
      lock.lock();
      continue;
    }
    if (FFreeStarted == FFreeFinished) break;
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
  FFreeRunning = false;
}
