#include "service/ConnectService_win.h"

#include "common/WinApi.h"

#include "common/GenericAPI.h"
#include "common/MessagePump_win.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
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

}  // namespace

void InitializeServiceModule(TServiceAppHooks hooks) {
  gService.reset();
  Hooks() = std::move(hooks);
}

std::unique_ptr<IServiceControl> CreateLibraryServiceControl(const std::wstring& libraryPath) {
  std::wstring path = libraryPath;
  if (path.empty()) path = Utf8ToWide(GetAppDir() + kServiceControlDll);
  return std::make_unique<TLibraryServiceControl>(std::move(path));
}

std::shared_ptr<TtcpServOpr> CreateSystemServiceClient(const std::string& host, int port) {
  TServiceLinkPorts ports;
  // The window keeps answering while a request waits for the service.
  ports.Transport = CreateWinsockTransport(kMaxAnswerLine, &DispatchWaitingMessages);
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
  ports.CreateClient = [] { return CreateSystemServiceClient("127.0.0.1"); };
  return ConnectService(ports, isAdmin, std::move(onLost));
}
