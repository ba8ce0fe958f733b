// Ports for time and the message pump, so every wait the program counts can be driven by a
// fake clock in the tests.
#pragma once

#include <cstdint>

// The wall clock and sleeping.
class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds of the local wall clock since some fixed point.
  virtual int64_t NowMs() = 0;
  // Blocks the calling thread for ms milliseconds.
  virtual void SleepMs(uint32_t ms) = 0;
};

// Lets the user interface process its pending window messages.
class IMessagePump {
 public:
  virtual ~IMessagePump() = default;
  // Dispatches every message waiting in the calling thread's queue, then returns.
  virtual void ProcessMessages() = 0;
};

// The real clock of the machine.
IClock& SystemClock();
