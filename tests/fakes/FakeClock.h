// A clock that moves only when told to or when someone sleeps on it.
#pragma once

#include "common/SystemPorts.h"

#include <cstdint>
#include <vector>

class TFakeClock final : public IClock {
 public:
  int64_t NowMs() override { return FNow; }
  void SleepMs(uint32_t ms) override {
    Sleeps.push_back(ms);
    FNow += ms;
  }
  // Moves time on without counting a sleep.
  void Advance(int64_t ms) { FNow += ms; }

  std::vector<uint32_t> Sleeps;

 private:
  int64_t FNow = 1'000'000;  // not 0, so no rule leans on a zero start
};
