// Waiting for, starting and connecting to the local service at start-up (portable). Service
// control, time and the message pump come in through ports.
#pragma once

#include "common/SystemPorts.h"
#include "service/tcpClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The service the program waits for, starts and talks to.
inline constexpr const char* kServiceControlName = "KLService";
// Characters of the writable text the start call receives.
inline constexpr size_t kServiceCtlBufferLength = 255;
// Status queries of the settle wait, and the pause taken from the third one on.
inline constexpr int kSettleAttempts = 600;
inline constexpr uint32_t kSettlePauseMs = 100;

// The two calls of the service-control library. Both report only whether the call could be
// made at all (the library and its function exist); what the call itself returns is not used.
class IServiceControl {
 public:
  virtual ~IServiceControl() = default;
  // Writes the state of the service name into status (low byte: 1 stopped, 4 running, other
  // values still changing); text is passed as the call's read-only text.
  virtual bool GetServiceStatus(uint32_t& status, const std::string& name,
                                const std::wstring& text) = 0;
  // Performs action (0 starts) on the service name; buffer is the call's writable text.
  virtual bool SetServiceAction(int32_t action, const std::string& name, std::wstring& buffer) = 0;
};

// What ConnectService works with.
struct TConnectServicePorts {
  IServiceControl* ServiceControl = nullptr;
  IClock* Clock = nullptr;
  IMessagePump* Pump = nullptr;
  // Makes a client of host "127.0.0.1" that is not connected yet.
  std::function<std::shared_ptr<TtcpServOpr>()> CreateClient;
};

// The process-wide connected service client the windows use; empty when there is none.
extern std::shared_ptr<IServiceLink> gService;
// The text handed to the service-control calls: empty until the service is started, then a
// writable buffer of kServiceCtlBufferLength characters whose contents the program never reads.
// UTF-16, as the library's calls take it.
extern std::wstring gServiceCtlBuffer;

// For an administrator waits until the service has settled, connects, and when that fails
// (administrator only) starts the service and connects once more. Sets gService and returns the
// connected client; without a connection clears gService, calls the client's lost-service
// handler (onLost when given, else the built-in one) with no sender and returns nullptr.
std::shared_ptr<IServiceLink> ConnectService(const TConnectServicePorts& ports, bool isAdmin,
                                             TServiceLostEvent onLost = {});

// Releases gService; the client closes its connection without reporting a loss.
void FinalizeServiceModule();
