// The running service: the loopback server that answers the request lines, the memory-load
// sampler and the schedule runner, over a TServiceCore (Windows-only header).
#pragma once

#include "ServiceCore.h"

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// Everything KLService does while it runs, for the service, the console mode and the tests.
class TKLServiceHost {
 public:
  // A host over the given ports; nothing runs until Start.
  TKLServiceHost(IMemoryPort& memory, IScheduleStore& store, IServiceLog& log, IClock& clock);
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
  // The connections being served now.
  int ClientCount();
  // The request handling.
  TServiceCore& Core() noexcept { return FCore; }

 private:
  struct TClient;
  void AcceptLoop();
  void Serve(TClient& client);
  void SampleLoop();
  void ScheduleLoop();
  void ReapFinished(bool all);

  IServiceLog& FLog;
  IClock& FClock;
  TServiceCore FCore;
  uintptr_t FListen;  // SOCKET, kept as an integer so this header needs no Winsock
  uint16_t FPort = 0;
  bool FWinsock = false;

  std::mutex FLock;  // guards the client list and the stop flag
  std::condition_variable FWake;
  bool FStopping = false;
  std::list<std::unique_ptr<TClient>> FClients;
  std::thread FAcceptThread, FSampleThread, FScheduleThread;
};
