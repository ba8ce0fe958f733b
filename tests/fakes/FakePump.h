// A message pump that counts its calls and can run code as if a window message came in.
#pragma once

#include "common/SystemPorts.h"

#include <functional>

class TFakePump final : public IMessagePump {
 public:
  void ProcessMessages() override {
    ++Calls;
    if (OnPump) OnPump();
  }

  int Calls = 0;
  std::function<void()> OnPump;
};
