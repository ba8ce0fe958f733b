#include "common/SystemPorts.h"

#include <chrono>
#include <thread>

namespace {

class TSystemClock final : public IClock {
 public:
  int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

IClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}
