#include "common/WinApi.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/ResStrings.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "fakes/FakePump.h"
#include "fakes/FakeServicePorts.h"
#include "service/ConnectService_win.h"
#include "service/tcpClient_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// A one-connection server on an ephemeral loopback port, run by script on its own thread.
class TLoopbackServer {
 public:
  TLoopbackServer() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    FListen = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(FListen, 1);
    int len = sizeof addr;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
    Port = ntohs(addr.sin_port);
  }
  ~TLoopbackServer() {
    if (FThread.joinable()) FThread.join();
    if (FPeer != INVALID_SOCKET) ::closesocket(FPeer);
    ::closesocket(FListen);
    ::WSACleanup();
  }

  // Accepts one client and runs script with it on the server's thread.
  void Serve(std::function<void(TLoopbackServer&)> script) {
    FThread = std::thread([this, script] {
      FPeer = ::accept(FListen, nullptr, nullptr);
      script(*this);
    });
  }
  // Reads one line (without CR LF) from the client.
  std::string ReadLine() {
    std::string line;
    char c;
    while (::recv(FPeer, &c, 1, 0) == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  void Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const int n = ::send(FPeer, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }
  void Close() {
    ::closesocket(FPeer);
    FPeer = INVALID_SOCKET;
  }
  void Join() { FThread.join(); }

  int Port = 0;

 private:
  SOCKET FListen = INVALID_SOCKET;
  SOCKET FPeer = INVALID_SOCKET;
  std::thread FThread;
};

class WinsockClientTest : public ::testing::Test {
 protected:
  std::shared_ptr<TtcpServOpr> MakeClient(int port) {
    TServiceLinkPorts ports;
    ports.Transport = CreateWinsockTransport();
    ports.RequestLock = FLock.get();
    ports.Clock = &SystemClock();
    ports.Pump = &FPump;
    ports.Ui = &FUi;
    ports.Port = port;
    return std::make_shared<TtcpServOpr>("127.0.0.1", false, std::move(ports));
  }

  std::unique_ptr<IRequestLock> FLock = CreateNamedRequestLock("eBrisko service test lock");
  TFakePump FPump;
  TFakeServiceUi FUi;
};

TEST_F(WinsockClientTest, ExchangesLinesWithTheServiceInTheAnsiCodePage) {
  TLoopbackServer server;
  std::string received;
  server.Serve([&](TLoopbackServer& s) {
    received = s.ReadLine();
    s.Send("9,foreign\r\n\n");
    s.Send("0,Enabled=True,");  // the answer comes in two pieces
    ::Sleep(50);
    s.Send("Period=30\r\n");
  });
  auto client = MakeClient(server.Port);
  client->SetConnected(true);
  ASSERT_TRUE(client->Connected());
  gRequestSeq = 0;
  std::string info = "nocache=true \xC3\xA9";  // "é": one byte on the wire in code page 1252
  client->GetInfo("module.optimize", "optimi.free.getconf", info);
  server.Join();
  EXPECT_EQ(info, "Enabled=True,Period=30");
  if (::GetACP() == 1252)
    EXPECT_EQ(received, "GetInfo 0,\"module.optimize\",\"optimi.free.getconf\",\"nocache=true \xE9\"");
  else
    EXPECT_EQ(received.rfind("GetInfo 0,\"module.optimize\",\"optimi.free.getconf\",", 0), 0u);
  EXPECT_TRUE(FUi.Shown.empty());
}

TEST(WinSystemClient, TalksThroughTheSystemPorts) {
  TLoopbackServer server;
  std::string received;
  server.Serve([&](TLoopbackServer& s) {
    received = s.ReadLine();
    s.Send("4,count=1200,60=900,80=500\r\n");
  });
  auto client = CreateSystemServiceClient("127.0.0.1", server.Port);
  client->SetConnected(true);
  gRequestSeq = 4;
  std::string info = "nocache=true";
  client->GetInfo("module.optimize", "optimize.memory.usage", info);
  server.Join();
  EXPECT_EQ(received, R"(GetInfo 4,"module.optimize","optimize.memory.usage",nocache=true)");
  EXPECT_EQ(info, "count=1200,60=900,80=500");
  EXPECT_TRUE(client->IsConnected());
}

TEST(WinServiceOnlyTransport, RefusesAPortHeldByAnotherProgram) {
  // The system's table names no process under Wine: the owners are given here.
  const struct {
    const char* name;
    uint32_t listener, service;
    bool refused;
  } cases[] = {
      {"the service's own listener", 17, 17, false},
      {"the owner not known", 0, 17, false},
      {"another program on the port", 4242, 17, true},
      {"another program while the service does not run", 4242, 0, true},
  };
  for (const auto& k : cases) {
    TLoopbackServer server;
    bool closedAtOnce = false;
    server.Serve([&](TLoopbackServer& s) { closedAtOnce = s.ReadLine().empty(); });
    auto transport = CreateServiceOnlyTransport(
        CreateWinsockTransport(), [&](int) { return k.listener; }, [&] { return k.service; });
    if (k.refused) {
      EXPECT_THROW(transport->Connect("127.0.0.1", server.Port), Exception) << k.name;
      EXPECT_FALSE(transport->Connected(0)) << k.name;
    } else {
      EXPECT_NO_THROW(transport->Connect("127.0.0.1", server.Port)) << k.name;
      EXPECT_TRUE(transport->Connected(0)) << k.name;
      transport->WriteLine("AvaliableSensors 0,");
    }
    server.Join();
    EXPECT_EQ(closedAtOnce, k.refused) << k.name;
  }
}

TEST_F(WinsockClientTest, RefusesALineOverTheLimitAndReadsTheNextOne) {
  TLoopbackServer server;
  server.Serve([](TLoopbackServer& s) {
    s.Send(std::string(kMaxAnswerLine, 'a') + "\r\n");
    s.Send(std::string(kMaxAnswerLine + 1, 'b') + "\r\n");
    s.Send("after\n");
  });
  auto transport = CreateWinsockTransport();
  transport->Connect("127.0.0.1", server.Port);
  EXPECT_EQ(transport->ReadLine(5000).size(), kMaxAnswerLine);
  EXPECT_THROW(transport->ReadLine(5000), ELineTooLong);
  EXPECT_EQ(transport->ReadLine(5000), "after");
  EXPECT_EQ(transport->ReadLine(1), "");  // nothing more: the wait ends empty
  server.Join();
}

TEST_F(WinsockClientTest, IsConnectedNoticesThePeersCloseAndReportsItOnce) {
  TLoopbackServer server;
  server.Serve([](TLoopbackServer& s) { s.Close(); });
  auto client = MakeClient(server.Port);
  client->SetConnected(true);
  server.Join();
  bool connected = true;
  for (int i = 0; i < 500 && connected; ++i) connected = client->IsConnected();
  EXPECT_FALSE(connected);
  EXPECT_EQ(FUi.Shown.size(), 1u);
  EXPECT_EQ(FUi.Terminations, 1);
  EXPECT_FALSE(client->IsConnected());
  EXPECT_EQ(FUi.Shown.size(), 1u);
}

TEST_F(WinsockClientTest, ConnectingWhereNobodyListensRaisesForTheCaller) {
  int port = 0;
  {
    TLoopbackServer unused;  // a port that was free a moment ago
    port = unused.Port;
  }
  auto client = MakeClient(port);
  client->SetConnected(true);  // absorbed
  EXPECT_FALSE(client->Connected());
  std::string info = "keep";
  EXPECT_THROW(client->GetInfo("m", "i", info), Exception);
  EXPECT_EQ(info, "keep");
}

TEST(WinRequestLock, NestsOnOneThreadAndIsFreeForOthersOnceReleased) {
  const wchar_t* name = L"eBrisko lock release test";
  auto lock = CreateNamedRequestLock(WideToUtf8(name));
  auto takenElsewhere = [name] {
    DWORD wait = WAIT_FAILED;
    std::thread([&] {
      TScopedHandle h(::OpenMutexW(SYNCHRONIZE, FALSE, name));
      if (!h) return;
      wait = ::WaitForSingleObject(h.get(), 0);
      if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ::ReleaseMutex(h.get());
    }).join();
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  };
  // Another process made the mutex: the lock opens it, and must be able to give it back.
  TScopedHandle other(::CreateMutexW(nullptr, FALSE, name));
  ASSERT_TRUE(other);
  ASSERT_TRUE(lock->Acquire());
  ASSERT_TRUE(lock->Acquire());  // a nested request of the same thread
  EXPECT_FALSE(takenElsewhere());
  lock->Release();
  EXPECT_FALSE(takenElsewhere());
  lock->Release();
  EXPECT_TRUE(takenElsewhere());
  other.reset();
  // Nobody has it: the lock makes it, and leaves no handle open afterwards.
  ASSERT_TRUE(lock->Acquire());
  lock->Release();
  TScopedHandle left(::OpenMutexW(SYNCHRONIZE, FALSE, name));
  EXPECT_FALSE(left);
}

TEST(WinRequestLock, SynchronizeAccessIsEnoughToWaitAndRelease) {
  // What the lock relies on: a handle with synchronize access only takes and gives back the
  // mutex; the modify-state right alone can do neither.
  const wchar_t* name = L"eBrisko lock rights test";
  TScopedHandle made(::CreateMutexW(nullptr, FALSE, name));
  ASSERT_TRUE(made);
  TScopedHandle sync(::OpenMutexW(SYNCHRONIZE, FALSE, name));
  ASSERT_TRUE(sync);
  ASSERT_EQ(::WaitForSingleObject(sync.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(::ReleaseMutex(sync.get()));
  TScopedHandle modify(::OpenMutexW(MUTEX_MODIFY_STATE, FALSE, name));
  ASSERT_TRUE(modify);
  EXPECT_EQ(::WaitForSingleObject(modify.get(), 0), WAIT_FAILED);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(WinRequestLock, ANameTakenByAnotherKindOfObjectLetsRequestsGoOn) {
  // A program that holds the name with an event: the lock cannot be had at all, and is
  // neither made nor waited for.
  const wchar_t* name = L"eBrisko lock squatted test";
  TScopedHandle squatter(::CreateEventW(nullptr, TRUE, FALSE, name));
  ASSERT_TRUE(squatter);
  auto lock = CreateNamedRequestLock(WideToUtf8(name));
  EXPECT_FALSE(lock->Acquire());
  lock->Release();  // nothing held: nothing happens
}

TEST(WinTransport, AConnectionThatCannotBeMadeRaisesTheTranslatedLibraryMessage) {
  // A loopback port nobody listens on: bound, then closed again.
  WSADATA wsa;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  int len = sizeof addr;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
  const int port = ntohs(addr.sin_port);
  ::closesocket(probe);
  auto transport = CreateWinsockTransport();
  for (const bool german : {false, true}) {
    if (german)
      SetResStringTranslator([](const std::string& text) {
        return text == "Connection refused." ? std::string("Die Verbindung wurde abgelehnt.") : text;
      });
    try {
      transport->Connect("127.0.0.1", port);
      ADD_FAILURE() << "connected to a closed port";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), german ? "Die Verbindung wurde abgelehnt." : "Connection refused.");
    }
  }
  SetResStringTranslator({});
  ::WSACleanup();
}

TEST(WinServiceControl, AMissingLibraryOrFunctionIsAFailedCallNotACrash) {
  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring paths[] = {
      L"Z:\\nonexistent\\ServiceControl.dll",
      std::wstring(system) + L"\\version.dll",  // a library without the two functions
  };
  for (const auto& path : paths) {
    auto control = CreateLibraryServiceControl(path);
    uint32_t status = 77;
    std::wstring buffer;
    EXPECT_FALSE(control->GetServiceStatus(status, "KLService", L""));
    EXPECT_FALSE(control->SetServiceAction(0, "KLService", buffer));
    EXPECT_EQ(status, 77u);
  }
}

}  // namespace
