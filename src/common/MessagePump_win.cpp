#include "common/MessagePump_win.h"

#include "common/WinApi.h"

namespace {

class TWinMessagePump final : public IMessagePump {
 public:
  void ProcessMessages() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
};

}  // namespace

IMessagePump& SystemMessagePump() {
  static TWinMessagePump pump;
  return pump;
}
