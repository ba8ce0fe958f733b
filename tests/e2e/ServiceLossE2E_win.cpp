// Start-up without a reachable service: one "Service stopped" message, in the chosen
// language, then the program ends without a main window.
#include "e2e/Driver_win.h"
#include "e2e/ServiceEnvironment_win.h"
#include "common/ScopedHandle_win.h"

#include <gtest/gtest.h>

namespace {

const std::string kTitle = "Quor eBrisko Management";

// The texts of every label below window, one after the other.
std::string StaticTexts(HWND window) {
  std::string text;
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[64] = {};
    ::GetClassNameW(child, cls, 64);
    if (std::wstring(cls) == L"Static") text += WindowText(child) + "\n";
    text += StaticTexts(child);
  }
  return text;
}

// Starts the program with the service stopped and returns the text of its message box,
// which it then confirms; checks that the program ends and shows no main window.
std::string LostServiceMessage(const std::string& language) {
  SetLanguageSetting(language);
  TDriverProcess app = TDriverProcess::Start(TestBinDir() + "eBrisko.exe");
  HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Pid(), 20000);
  EXPECT_NE(box, nullptr);
  if (!box) return {};
  std::string text = StaticTexts(box);
  SaveScreenshot(box, ArtifactDir() + "service-stopped-" + (language.empty() ? "default" : language) + ".bmp");
  EXPECT_EQ(FindTopWindow("TfmPerformance", nullptr, app.Pid()), nullptr);
  const std::string ok = "OK";
  HWND button = FindChildWindow(box, "Button", &ok);
  EXPECT_NE(button, nullptr);
  ClickButton(button);
  EXPECT_TRUE(app.WaitExit(20000));
  EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Pid()), nullptr);
  return text;
}

class ServiceLossE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StopTestService()); }
  void TearDown() override {
    SetLanguageSetting("");
    StartTestService();
  }
};

TEST_F(ServiceLossE2E, NoServiceShowsOneMessageAndEnds) {
  const std::string text = LostServiceMessage("");
  EXPECT_NE(text.find("Service stopped"), std::string::npos) << text;
  EXPECT_NE(text.find("Can not connect to service. Application will be terminated!"),
            std::string::npos) << text;
}

TEST_F(ServiceLossE2E, TheMessageComesInTheChosenLanguage) {
  const std::string text = LostServiceMessage("German");
  EXPECT_NE(text.find("Dienst beendet"), std::string::npos) << text;
  EXPECT_EQ(text.find("Service stopped"), std::string::npos) << text;
}

TEST_F(ServiceLossE2E, AMissingPackLeavesEnglish) {
  const std::string text = LostServiceMessage("Klingon");
  EXPECT_NE(text.find("Service stopped"), std::string::npos) << text;
}

// Sets (or with 0 removes) one of the service's settings, read when it starts.
void SetServiceSetting(const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        L"SYSTEM\\CurrentControlSet\\Services\\KLService\\Parameters", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  TScopedRegKey owned(key);
  if (value)
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  else
    ::RegDeleteValueW(key, name);
}

TEST_F(ServiceLossE2E, WhileTheLossIsShownAnotherProcessTakesTheRequestLock) {
  // A service that may hold no byte for anyone drops each connection at its first request: the
  // application's first request (its schedule, as the main window is made) loses the service
  // while it waits for the answer, holding the request lock.
  struct TSetting {
    TSetting() { SetServiceSetting(L"BufferedBytesBudget", 1); }
    ~TSetting() {  // the next start has the usual budget again
      StopTestService();
      SetServiceSetting(L"BufferedBytesBudget", 0);
    }
  } setting;
  ASSERT_TRUE(StartTestService());
  TDriverProcess app = TDriverProcess::Start(TestBinDir() + "eBrisko.exe");
  HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Pid(), 20000);
  EXPECT_NE(box, nullptr);
  if (box) {
    // As another program of the family takes it: open it, or make it when nobody holds it.
    const wchar_t* const name = L"Quor eCentrio for Desktop TCP Connection Mutex";
    TScopedHandle lock(::OpenMutexW(SYNCHRONIZE, FALSE, name));
    if (!lock) lock.reset(::CreateMutexExW(nullptr, name, 0, SYNCHRONIZE));
    ASSERT_TRUE(lock.valid());
    const DWORD wait = ::WaitForSingleObject(lock.get(), 100);
    EXPECT_EQ(wait, WAIT_OBJECT_0) << "the request lock is free while the box waits for the user";
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ::ReleaseMutex(lock.get());
    EXPECT_NE(StaticTexts(box).find("Service stopped"), std::string::npos);
    SaveScreenshot(box, ArtifactDir() + "service-lost-in-request.bmp");
    const std::string ok = "OK";
    ClickButton(FindChildWindow(box, "Button", &ok));
  }
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace

namespace {

// The process id of the running service, from the service manager.
unsigned long ServiceProcessId() {
  TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  TScopedServiceHandle svc(scm ? ::OpenServiceW(scm.get(), L"KLService", SERVICE_QUERY_STATUS) : nullptr);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!svc || !::QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO,
                                      reinterpret_cast<BYTE*>(&status), sizeof(status), &needed))
    return 0;
  return status.dwProcessId;
}

TEST(ServiceKilledE2E, ARunningProgramReportsTheLossOnceAndEnds) {
  TDriverProcess app = TDriverProcess::Start(TestBinDir() + "eBrisko.exe");
  ASSERT_NE(WaitForTopWindow("TfmPerformance", nullptr, app.Pid(), 20000), nullptr);
  const unsigned long pid = ServiceProcessId();
  ASSERT_NE(pid, 0u);
  {
    TScopedHandle service(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(service.valid());
    ASSERT_TRUE(::TerminateProcess(service.get(), 1));
    ::WaitForSingleObject(service.get(), 10000);
  }
  HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Pid(), 20000);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(StaticTexts(box).find("Service stopped"), std::string::npos);
  SaveScreenshot(box, ArtifactDir() + "service-killed.bmp");
  const std::string ok = "OK";
  ClickButton(FindChildWindow(box, "Button", &ok));
  EXPECT_TRUE(app.WaitExit(20000));
  // The check ran after the loss as well: still one message only.
  EXPECT_EQ(FindTopWindow("TfmQuorMessageBox", &kTitle, app.Pid()), nullptr);
  // The service manager notices the ended process; start it again for the next tests.
  WaitUntil([] { return StartTestService(); }, 20000, 500);
}

}  // namespace
