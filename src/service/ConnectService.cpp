#include "service/ConnectService.h"

std::shared_ptr<IServiceLink> gService;
std::wstring gServiceCtlBuffer;

namespace {

constexpr uint32_t kStatusStopped = 1;
constexpr uint32_t kStatusRunning = 4;

void AwaitSettledService(const TConnectServicePorts& ports) {
  uint32_t status = 0;
  for (int attempt = 1; attempt <= kSettleAttempts; ++attempt) {
    // Without the library the state can never be learnt: waiting longer cannot help.
    if (!ports.ServiceControl->GetServiceStatus(status, kServiceControlName, gServiceCtlBuffer))
      return;
    if (attempt >= 3) {
      ports.Clock->SleepMs(kSettlePauseMs);
      ports.Pump->ProcessMessages();
    }
    const uint32_t state = status & 0xFF;
    if (state == kStatusStopped || state == kStatusRunning) return;
  }
}

}  // namespace

std::shared_ptr<IServiceLink> ConnectService(const TConnectServicePorts& ports, bool isAdmin,
                                             TServiceLostEvent onLost) {
  if (isAdmin) AwaitSettledService(ports);
  std::shared_ptr<TtcpServOpr> client = ports.CreateClient();
  if (onLost) client->SetOnServiceLost(std::move(onLost));
  client->SetConnected(true);
  if (!client->Connected() && isAdmin) {
    gServiceCtlBuffer.assign(kServiceCtlBufferLength, L'\0');
    ports.ServiceControl->SetServiceAction(0, kServiceControlName, gServiceCtlBuffer);
    client->SetConnected(true);
  }
  if (client->Connected()) {
    gService = client;
    return client;
  }
  gService.reset();
  const TServiceLostEvent handler = client->OnServiceLost();
  if (handler) handler(nullptr);
  return nullptr;
}

void FinalizeServiceModule() { gService.reset(); }
