// Start-up without a reachable service: one "Service stopped" message, in the chosen
// language, then the program ends without a main window.
#include "e2e/Driver_win.h"
#include "e2e/MainWindowRun_win.h"
#include "e2e/ServiceEnvironment_win.h"
#include "common/ScopedHandle_win.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

// Stands in for the service on its port: answers every request with a schedule and usage
// figures, and closes the connection when asked to free memory, so the loss is found while the
// application waits for an answer holding the request lock.
class TVanishingService {
 public:
  TVanishingService() {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    FListen = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(2804);
    Listening = ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                ::listen(FListen, 4) == 0;
    if (Listening) FThread = std::thread([this] { Serve(); });
  }
  ~TVanishingService() {
    ::closesocket(FListen);
    if (FThread.joinable()) FThread.join();
    ::WSACleanup();
  }
  bool Listening = false;
  std::atomic<bool> Vanished{false};

 private:
  void Serve() {
    const SOCKET s = ::accept(FListen, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    std::string pending;
    char buf[4096];
    for (int n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;) {
      pending.append(buf, size_t(n));
      for (size_t lf; (lf = pending.find('\n')) != std::string::npos; pending.erase(0, lf + 1)) {
        const std::string line = pending.substr(0, lf);
        if (line.find("\"optimi.free\"") != std::string::npos) {
          ::closesocket(s);
          Vanished = true;
          return;
        }
        const size_t space = line.find(' '), comma = line.find(',');
        if (space == std::string::npos || comma == std::string::npos) continue;
        const std::string answer =
            line.substr(space + 1, comma - space) + "Enabled=0,Period=60,count=0,60=0,80=0\n";
        ::send(s, answer.data(), int(answer.size()), 0);
      }
    }
    ::closesocket(s);
  }
  SOCKET FListen;
  std::thread FThread;
};

TEST_F(ServiceLossE2E, WhileTheLossIsShownAnotherProcessTakesTheRequestLock) {
  TVanishingService service;
  ASSERT_TRUE(service.Listening);
  TMainWindowRun app = TMainWindowRun::Start();
  ASSERT_NE(app.Main, nullptr);
  ClickButton(app.Control("Button", "Optimize"));
  HWND box = WaitForTopWindow("TfmQuorMessageBox", &kTitle, app.Process.Pid(), 20000);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(service.Vanished) << "the loss was found inside the request";
  // As another program of the family takes it: open it, or make it when nobody holds it.
  const wchar_t* const name = L"Quor eCentrio for Desktop TCP Connection Mutex";
  TScopedHandle lock(::OpenMutexW(SYNCHRONIZE, FALSE, name));
  if (!lock) lock.reset(::CreateMutexExW(nullptr, name, 0, SYNCHRONIZE));
  ASSERT_TRUE(lock.valid());
  const DWORD wait = ::WaitForSingleObject(lock.get(), 100);
  EXPECT_EQ(wait, WAIT_OBJECT_0) << "the request lock is free while the box waits for the user";
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ::ReleaseMutex(lock.get());
  SaveScreenshot(box, ArtifactDir() + "service-lost-in-request.bmp");
  const std::string ok = "OK";
  ClickButton(FindChildWindow(box, "Button", &ok));
  EXPECT_TRUE(app.Process.WaitExit(20000));
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
