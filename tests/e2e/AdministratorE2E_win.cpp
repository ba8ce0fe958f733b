// Start-up as an administrator: with the service stopped, the program starts it through
// ServiceControl.dll and opens its main window connected to it.
#include "common/ScopedHandle_win.h"
#include "e2e/AdminRun_win.h"
#include "e2e/Driver_win.h"
#include "e2e/ServiceEnvironment_win.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

const std::string kTitle = "Quor eBrisko Management";

// The state of the installed service as the service manager reports it; 0 when unknown.
DWORD ServiceState() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return 0;
  TScopedServiceHandle svc(::OpenServiceW(scm.get(), L"KLService", SERVICE_QUERY_STATUS));
  SERVICE_STATUS status{};
  if (!svc || !::QueryServiceStatus(svc.get(), &status)) return 0;
  return status.dwCurrentState;
}

std::string ServiceLog() {
  std::ifstream in(TestBinDir() + "KLService.log", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class AdministratorE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    RemoveAdministratorCopy();
    StartTestService();
  }
};

TEST_F(AdministratorE2E, AStoppedServiceIsStartedAndTheMainWindowOpens) {
  PrepareAdministratorCopy();
  ASSERT_TRUE(StopTestService());
  ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
  TDriverProcess app = StartAsAdministrator();
  HWND main = WaitForTopWindow("TfmPerformance", &kTitle, app.Pid(), 30000);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(main) != FALSE; }, 10000));
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  // Connected to the service it started: Optimize reaches it.
  const size_t before = ServiceLog().size();
  const std::string optimize = "Optimize";
  ClickButton(FindChildWindow(main, "Button", &optimize));
  EXPECT_TRUE(WaitUntil([&] {
    return ServiceLog().find("memory freed (request)", before) != std::string::npos;
  }, 20000)) << ServiceLog().substr(before);
  EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Pid()), nullptr);
  SaveScreenshot(main, ArtifactDir() + "administrator-main-window.bmp");
  const std::string cancel = "Cancel";
  ClickButton(FindChildWindow(main, "Button", &cancel));
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
