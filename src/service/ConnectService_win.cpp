#include "service/ConnectService_win.h"

#include "common/WinApi.h"

#include "common/GenericAPI.h"
#include "common/MessagePump_win.h"
#include "common/ResStrings.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "klservice/PortProbe_win.h"
#include "klservice/ServiceControl.h"
#include "service/tcpClient_win.h"
#include "ui/MessageBox.h"

#include <string_view>

static_assert(std::string_view(kServiceName) == kServiceControlName);
static_assert(kServicePort == kServiceTcpPort);
static_assert(kServiceCtlBufferChars == kServiceCtlBufferLength);

namespace {

constexpr const char* kDefaultTitle = "Quor eBrisko Management";

TServiceAppHooks& Hooks() {
  static TServiceAppHooks hooks;
  return hooks;
}

class TSystemServiceLostUi final : public IServiceLostUi {
 public:
  std::string Translate(const std::string& section, const std::string& text) override {
    return Hooks().Translate ? Hooks().Translate(section, text) : text;
  }
  std::string ApplicationTitle() override {
    return Hooks().ApplicationTitle ? Hooks().ApplicationTitle() : kDefaultTitle;
  }
  uint16_t ShowMessage(const std::string& caption, const std::string& title, const std::string& text,
                       MessageBoxIcon icon, MessageBoxButtons buttons) override {
    return ShowMessageBox(nullptr, caption, title, text, icon, buttons);
  }
  void Terminate() override {
    if (Hooks().Terminate)
      Hooks().Terminate();
    else
      ::PostQuitMessage(0);
  }
};

TSystemServiceLostUi& SystemServiceLostUi() {
  static TSystemServiceLostUi ui;
  return ui;
}

class TLibraryServiceControl final : public IServiceControl {
 public:
  explicit TLibraryServiceControl(std::wstring path) : FPath(std::move(path)) {}

  bool GetServiceStatus(uint32_t& status, const std::string& name, const std::wstring& text) override {
    if (!Load() || FGetStatus == nullptr) return false;
    FGetStatus(&status, Utf8ToWide(name).c_str(), text.c_str());
    return true;
  }

  bool SetServiceAction(int32_t action, const std::string& name, std::wstring& buffer) override {
    if (!Load() || FSetAction == nullptr) return false;
    // The library may fill the whole buffer it was promised.
    if (buffer.size() < kServiceCtlBufferLength) buffer.resize(kServiceCtlBufferLength, L'\0');
    FSetAction(action, Utf8ToWide(name).c_str(), buffer.data());
    return true;
  }

 private:
  bool Load() {
    if (FTried) return FModule.valid();
    FTried = true;
    // A full path, so no library of that name elsewhere on the search path is taken instead;
    // the library's own dependencies are looked up beside it.
    FModule.reset(::LoadLibraryExW(FPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!FModule) return false;
    FGetStatus = reinterpret_cast<TGetServiceStatus>(
        reinterpret_cast<void*>(::GetProcAddress(FModule.get(), "GetServiceStatus")));
    FSetAction = reinterpret_cast<TSetServiceAction>(
        reinterpret_cast<void*>(::GetProcAddress(FModule.get(), "SetServiceAction")));
    return true;
  }

  std::wstring FPath;
  bool FTried = false;
  TScopedModule FModule;
  TGetServiceStatus FGetStatus = nullptr;
  TSetServiceAction FSetAction = nullptr;
};

// The process of the running service, 0 when it does not run or cannot be asked.
uint32_t ServiceProcessId() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(
      scm ? ::OpenServiceW(scm.get(), Utf8ToWide(kServiceName).c_str(), SERVICE_QUERY_STATUS)
          : nullptr);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!svc || !::QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO,
                                      reinterpret_cast<BYTE*>(&status), sizeof status, &needed) ||
      status.dwCurrentState != SERVICE_RUNNING)
    return 0;
  return status.dwProcessId;
}

class TServiceOnlyTransport final : public ILineTransport {
 public:
  TServiceOnlyTransport(std::unique_ptr<ILineTransport> inner,
                        std::function<uint32_t(int)> listenerProcess,
                        std::function<uint32_t()> serviceProcess)
      : FInner(std::move(inner)),
        FListener(std::move(listenerProcess)),
        FService(std::move(serviceProcess)) {}

  void SetEvents(std::function<void()> onDisconnected,
                 std::function<void(TTransportStatus)> onStatus) override {
    FInner->SetEvents(std::move(onDisconnected), std::move(onStatus));
  }
  void Connect(const std::string& host, int port) override {
    FInner->Connect(host, port);
    const uint32_t listener = FListener(port);
    if (listener == 0) return;
    const uint32_t service = FService();
    if (listener == service) return;
    FInner->Disconnect();
    WriteLog("[TtcpServOpr] " + host + ":" + std::to_string(port) + " is held by process " +
             std::to_string(listener) + ", not by the service " + kServiceName +
             (service ? " (process " + std::to_string(service) + ")" : " (not running)"));
    throw Exception(LoadResString(rsConnectionRefused));
  }
  void Disconnect() noexcept override { FInner->Disconnect(); }
  bool Connected(uint32_t pollMs) noexcept override { return FInner->Connected(pollMs); }
  void WriteLine(std::string_view line) override { FInner->WriteLine(line); }
  std::string ReadLine(uint32_t timeoutMs) override { return FInner->ReadLine(timeoutMs); }

 private:
  std::unique_ptr<ILineTransport> FInner;
  std::function<uint32_t(int)> FListener;
  std::function<uint32_t()> FService;
};

}  // namespace

std::unique_ptr<ILineTransport> CreateServiceOnlyTransport(
    std::unique_ptr<ILineTransport> inner, std::function<uint32_t(int port)> listenerProcess,
    std::function<uint32_t()> serviceProcess) {
  if (!listenerProcess)
    listenerProcess = [](int port) { return ListenerProcess(static_cast<uint16_t>(port)); };
  if (!serviceProcess) serviceProcess = ServiceProcessId;
  return std::make_unique<TServiceOnlyTransport>(std::move(inner), std::move(listenerProcess),
                                                 std::move(serviceProcess));
}

void InitializeServiceModule(TServiceAppHooks hooks) {
  gService.reset();
  Hooks() = std::move(hooks);
}

std::unique_ptr<IServiceControl> CreateLibraryServiceControl(const std::wstring& libraryPath) {
  std::wstring path = libraryPath;
  if (path.empty()) path = Utf8ToWide(GetAppDir() + kServiceControlDll);
  return std::make_unique<TLibraryServiceControl>(std::move(path));
}

std::shared_ptr<TtcpServOpr> CreateSystemServiceClient(const std::string& host, int port,
                                                       bool serviceOnly) {
  TServiceLinkPorts ports;
  // The window keeps answering while a request waits for the service.
  ports.Transport = CreateWinsockTransport(kMaxAnswerLine, &DispatchWaitingMessages);
  if (serviceOnly) ports.Transport = CreateServiceOnlyTransport(std::move(ports.Transport));
  ports.RequestLock = &SystemRequestLock();
  ports.Clock = &SystemClock();
  ports.Pump = &SystemMessagePump();
  ports.Ui = &SystemServiceLostUi();
  ports.Port = port;
  return std::make_shared<TtcpServOpr>(host, false, std::move(ports));
}

std::shared_ptr<IServiceLink> ConnectService(bool isAdmin, TServiceLostEvent onLost) {
  const std::unique_ptr<IServiceControl> control = CreateLibraryServiceControl();
  TConnectServicePorts ports;
  ports.ServiceControl = control.get();
  ports.Clock = &SystemClock();
  ports.Pump = &SystemMessagePump();
  ports.CreateClient = [] { return CreateSystemServiceClient("127.0.0.1", kServiceTcpPort, true); };
  return ConnectService(ports, isAdmin, std::move(onLost));
}
