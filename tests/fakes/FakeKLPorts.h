// A clock that moves only when told or slept on, and a log that keeps its lines, for the
// service's tests.
#pragma once

#include "common/SystemPorts.h"
#include "../../klservice/ServiceCore.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class TFakeKLClock final : public IClock {
 public:
  int64_t NowMs() override { return FNow.load(); }
  void SleepMs(uint32_t ms) override { FNow += ms; }
  // Moves the clock on by ms.
  void Advance(int64_t ms) { FNow += ms; }

  std::atomic<int64_t> FNow{1000000};
};

class TFakeKLLog final : public IServiceLog {
 public:
  void Log(std::string_view line) override {
    std::lock_guard lock(FLock);
    FLines.emplace_back(line);
  }
  std::mutex FLock;
  std::vector<std::string> FLines;
};

// Owners of connections as the test says: a process id per client port, and one for every
// other port (0: not known).
class TFakePeerOwners final : public IPeerOwners {
 public:
  std::vector<std::pair<uint16_t, uint32_t>> Snapshot(uint16_t) override {
    std::lock_guard lock(FLock);
    ++FSnapshots;
    std::vector<std::pair<uint16_t, uint32_t>> out;
    for (uint32_t port = 1; port < 65536; ++port) {
      const auto it = FByPort.find(static_cast<uint16_t>(port));
      const uint32_t owner = it != FByPort.end() ? it->second : FOthers;
      if (owner) out.emplace_back(static_cast<uint16_t>(port), owner);
    }
    return out;
  }
  // The connection from port belongs to process pid.
  void Set(uint16_t port, uint32_t pid) {
    std::lock_guard lock(FLock);
    FByPort[port] = pid;
  }
  // Every port not set belongs to pid.
  void SetOthers(uint32_t pid) {
    std::lock_guard lock(FLock);
    FOthers = pid;
  }

  std::mutex FLock;
  std::map<uint16_t, uint32_t> FByPort;
  uint32_t FOthers = 0;
  int FSnapshots = 0;
};
