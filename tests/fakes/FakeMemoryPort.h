// A memory port for tests: figures set by the test, freeing that adds a fixed amount.
#pragma once

#include "common/Errors.h"
#include "../../klservice/ServiceCore.h"

#include <atomic>
#include <mutex>

class TFakeMemoryPort final : public IMemoryPort {
 public:
  TMemoryStatus Status() override {
    std::lock_guard lock(FLock);
    if (FFailStatus) throw Exception("no memory status");
    return FStatus;
  }
  TFreeSteps FreeMemory(std::function<void(std::string_view)> log) override {
    ++FFrees;
    log("step refused");
    std::lock_guard lock(FLock);
    FStatus.AvailPhys += FGain;
    return {3, 1};
  }
  // Sets the load the next status reports.
  void SetLoad(uint32_t load) {
    std::lock_guard lock(FLock);
    FStatus.Load = load;
  }

  std::mutex FLock;
  TMemoryStatus FStatus{50, 8ull << 30, 4ull << 30};
  uint64_t FGain = 256ull << 20;
  bool FFailStatus = false;
  std::atomic<int> FFrees{0};
};
