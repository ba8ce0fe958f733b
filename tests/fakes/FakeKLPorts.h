// A clock that moves only when told or slept on, and a log that keeps its lines, for the
// service's tests.
#pragma once

#include "common/SystemPorts.h"
#include "../../klservice/ServiceCore.h"

#include <atomic>
#include <mutex>
#include <string>
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
