// The running service: the loopback server that answers the request lines, the memory-load
// sampler and the schedule runner, over a TServiceCore (Windows-only header).
#pragma once

#include "ServiceCore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Everything KLService does while it runs, for the service, the console mode and the tests.
// One thread serves every connection: non-blocking sockets and a completion port that reports
// the clients accepted (overlapped accepts), the connections that have something to read (a
// zero-byte overlapped receive for a connection that never spoke, so it costs no buffer and no
// work; a small buffer for one that did) and the answers sent; requests are taken one at a time
// per connection. The same thread takes the memory-load samples, looks at the schedule and
// writes the log's summaries when their time comes on the clock. Freeing memory and looking up
// which process holds each connection may take long: each runs on a thread of its own, so a
// long pass holds up nobody else, and that thread exists only while it has work (an idle thread
// still costs its stack: about a megabyte of private memory under Wine). A WaitAlert waits
// without holding the thread. Owners are looked up only while more connections are open than
// one process may hold.
class TKLServiceHost {
 public:
  // A host over the given ports and limits; nothing runs until Start.
  // owners tells which process holds a connection; none takes the system's TCP table.
  TKLServiceHost(IMemoryPort& memory, IScheduleStore& store, IServiceLog& log, IClock& clock,
                 const TServerLimits& limits = TServerLimits(), IPeerOwners* owners = nullptr);
  ~TKLServiceHost();
  TKLServiceHost(const TKLServiceHost&) = delete;
  TKLServiceHost& operator=(const TKLServiceHost&) = delete;

  // Loads the schedule, listens on 127.0.0.1:port (0 picks a free port) and starts serving,
  // sampling and scheduling; raises Exception when the port cannot be taken.
  void Start(uint16_t port);
  // Stops accepting, ends every connection and thread, and returns when all have ended.
  void Stop();
  // The port listened on.
  uint16_t Port() const noexcept { return FPort; }
  // The connections being served now, those still being closed included.
  int ClientCount() const noexcept;
  // The bytes held for all connections, as the budget counts them.
  size_t HeldBytes() const noexcept;
  // Live connections whose process is still to be looked up.
  int OwnersToLookUp() const noexcept;
  // How many connections were dropped because their process held more than its share.
  int64_t DroppedForProcessCap() const noexcept { return FDroppedForCap.load(); }
  // How many connections were dropped to make room for new ones.
  int64_t DroppedForRoom() const noexcept { return FDroppedForRoom.load(); }
  // The request handling.
  TServiceCore& Core() noexcept { return FCore; }

 private:
  struct TConnection;
  struct TShard;
  struct TAcceptOp;
  void ServeLoop(TShard& shard);
  void PostAccept(TShard& shard, TAcceptOp& op);
  void Accepted(TShard& shard, TAcceptOp& op, bool ok, bool stopping, int64_t now);
  void RunDuties(TShard& shard, int64_t now);
  void AddConnection(TShard& shard, uintptr_t socket, int64_t now);
  void Completed(TConnection& c, bool receive, bool ok, unsigned long bytes);
  void ReadFrom(TConnection& c);
  void Consume(TConnection& c, std::string_view data);
  void Account(TConnection& c);
  void Advance(TConnection& c);
  void Arm(TConnection& c);
  void Answer(TConnection& c, int32_t seq, std::string_view answer);
  void Flush(TConnection& c, int64_t now);
  void CheckTimes(TShard& shard, int64_t now);
  void FinishFreePass(TShard& shard);
  void Drop(TConnection& c, const char* why);
  void DropOneForRoom(TShard& shard, int64_t now);
  void ResolveOwners(TShard& shard, int64_t now);
  void WantOwnerTable();  // under FOwnerLock
  void OwnerLoop();
  void Wake() noexcept;
  void WantFreeThread();  // under FLock
  void FreeLoop();

  IServiceLog& FLog;
  IClock& FClock;
  TServiceCore FCore;
  TServerLimits FLimits;
  std::atomic<uintptr_t> FListen;  // SOCKET, kept as an integer so this header needs no Winsock
  uint16_t FPort = 0;
  bool FWinsock = false;
  std::unique_ptr<TShard> FShard;  // the serving thread's, while the host runs
  void* FAcceptEx = nullptr;       // the listening socket's AcceptEx (LPFN_ACCEPTEX)
  std::atomic<int64_t> FDroppedForRoom{0};
  std::atomic<int64_t> FDroppedForCap{0};
  std::unique_ptr<IPeerOwners> FSystemOwners;
  IPeerOwners* FOwners;

  // The latest table of connection owners, from the owner thread.
  std::mutex FOwnerLock;
  std::condition_variable FOwnerWake;
  bool FOwnersWanted = false;
  bool FOwnerStop = false;
  bool FOwnerRunning = false;  // the owner thread runs and will see FOwnersWanted
  std::atomic<uint64_t> FOwnerTablesStarted{0};
  std::atomic<uint64_t> FOwnerTable{0};  // which of the tables started FOwnerMap is
  std::vector<std::pair<uint16_t, uint32_t>> FOwnerMap;  // sorted by port
  std::thread FOwnerThread;

  std::mutex FLock;  // guards the stop flag, the freeing passes below and the free thread
  bool FStopping = false;
  uint64_t FFreeStarted = 0;   // passes asked for
  uint64_t FFreeFinished = 0;  // passes done; FFreeAnswer is the outcome of the latest
  std::string FFreeAnswer;
  bool FScheduleWanted = false;  // the schedule's pass is due
  bool FFreeRunning = false;     // the free thread runs and will see the passes wanted
  std::thread FFreeThread;
};
