// Fakes of the service link's remaining ports: the request lock, the application's side of the
// lost-service message, and the service-control library.
#pragma once

#include "service/ConnectService.h"
#include "service/tcpClient.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

class TFakeServiceLock final : public IRequestLock {
 public:
  bool Acquire() noexcept override {
    if (Unavailable) return false;
    ++Acquired;
    ++Depth;
    return true;
  }
  void Release() noexcept override {
    ++Released;
    --Depth;
  }
  bool Unavailable = false;  // Acquire fails as a lock that cannot be had at all
  int Acquired = 0;
  int Released = 0;
  int Depth = 0;
};

class TFakeServiceUi final : public IServiceLostUi {
 public:
  struct TShown {
    std::string Caption, Title, Text;
    MessageBoxIcon Icon;
    MessageBoxButtons Buttons;
  };

  std::string Translate(const std::string& section, const std::string& text) override {
    return Translations ? Translations(section, text) : text;
  }
  std::string ApplicationTitle() override { return "Quor eBrisko Management"; }
  uint16_t ShowMessage(const std::string& caption, const std::string& title, const std::string& text,
                       MessageBoxIcon icon, MessageBoxButtons buttons) override {
    Shown.push_back({caption, title, text, icon, buttons});
    if (OnShow) OnShow();
    return mrOk;
  }
  void Terminate() override { ++Terminations; }

  std::function<std::string(const std::string&, const std::string&)> Translations;
  std::function<void()> OnShow;  // runs inside the "modal" box
  std::vector<TShown> Shown;
  int Terminations = 0;
};

// Answers status queries from a script (the last entry repeats) and records every call.
class TFakeServiceControl final : public IServiceControl {
 public:
  bool GetServiceStatus(uint32_t& status, const std::string& name, const std::wstring&) override {
    if (!Available) return false;
    Names.push_back(name);
    if (!Statuses.empty())
      status = Statuses[std::min(StatusCalls, Statuses.size() - 1)];
    ++StatusCalls;
    return true;
  }
  bool SetServiceAction(int32_t action, const std::string& name, std::wstring& buffer) override {
    if (!Available) return false;
    Names.push_back(name);
    Actions.push_back(action);
    BufferLengths.push_back(buffer.size());
    if (OnAction) OnAction();
    return true;
  }

  std::vector<uint32_t> Statuses;
  size_t StatusCalls = 0;
  bool Available = true;
  std::vector<std::string> Names;
  std::vector<int32_t> Actions;
  std::vector<size_t> BufferLengths;
  std::function<void()> OnAction;  // e.g. the service starts listening
};

// The ports of one client over the given transport and fakes.
inline TServiceLinkPorts FakeLinkPorts(std::unique_ptr<ILineTransport> transport,
                                       IRequestLock& lock, IClock& clock, IMessagePump& pump,
                                       IServiceLostUi& ui) {
  TServiceLinkPorts ports;
  ports.Transport = std::move(transport);
  ports.RequestLock = &lock;
  ports.Clock = &clock;
  ports.Pump = &pump;
  ports.Ui = &ui;
  return ports;
}
