#include "common/MessagePump_win.h"

#include <atomic>

namespace {

std::atomic<bool (*)(MSG&)> gMessageFilter{nullptr};

class TWinMessagePump final : public IMessagePump {
 public:
  void ProcessMessages() override { DispatchWaitingMessages(); }
};

}  // namespace

bool DispatchWaitingMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    // Keys inside a wait work as in the main loop: Tab, Enter, Escape and the key preview.
    if (bool (*filter)(MSG&) = gMessageFilter.load(); filter && filter(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}

void SetMessageFilter(bool (*filter)(MSG& msg)) { gMessageFilter = filter; }

IMessagePump& SystemMessagePump() {
  static TWinMessagePump pump;
  return pump;
}
