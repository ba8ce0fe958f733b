#include "service/ConnectService.h"

#include "fakes/FakeClock.h"
#include "fakes/FakePump.h"
#include "fakes/FakeServicePorts.h"
#include "fakes/FakeTransport.h"

#include <gtest/gtest.h>

namespace {

class ConnectServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gService.reset();
    gServiceCtlBuffer.clear();
    FPorts.ServiceControl = &FControl;
    FPorts.Clock = &FClock;
    FPorts.Pump = &FPump;
    FPorts.CreateClient = [this] {
      auto transport = std::make_unique<TFakeTransport>(FClock);
      FTransport = transport.get();
      FTransport->Accepting = FListening;
      FTransport->ConnectTally = &FConnects;
      auto client = std::make_shared<TtcpServOpr>(
          "127.0.0.1", false, FakeLinkPorts(std::move(transport), FLock, FClock, FPump, FUi));
      FClient = client;
      return client;
    };
    // Starting the service makes it listen.
    FControl.OnAction = [this] { FTransport->Accepting = true; };
  }
  void TearDown() override { FinalizeServiceModule(); }

  TFakeClock FClock;
  TFakePump FPump;
  TFakeServiceLock FLock;
  TFakeServiceUi FUi;
  TFakeServiceControl FControl;
  TConnectServicePorts FPorts;
  TFakeTransport* FTransport = nullptr;
  std::weak_ptr<TtcpServOpr> FClient;
  bool FListening = true;
  int FConnects = 0;
};

TEST_F(ConnectServiceTest, RunningServiceForAnAdministratorTakesOneQueryAndNoSleep) {
  FControl.Statuses = {4};
  const auto link = ConnectService(FPorts, true);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(gService, link);
  EXPECT_EQ(FControl.StatusCalls, 1u);
  EXPECT_EQ(FControl.Names, (std::vector<std::string>{"KLService"}));
  EXPECT_TRUE(FClock.Sleeps.empty());
  EXPECT_EQ(FTransport->ConnectCalls, 1);
  EXPECT_TRUE(FControl.Actions.empty());
  EXPECT_TRUE(gServiceCtlBuffer.empty());
}

TEST_F(ConnectServiceTest, StoppedServiceIsStartedAndConnectedTheSecondTime) {
  FControl.Statuses = {1};
  FListening = false;
  const auto link = ConnectService(FPorts, true);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(gService, link);
  EXPECT_EQ(FControl.StatusCalls, 1u);
  EXPECT_EQ(FControl.Actions, (std::vector<int32_t>{0}));
  EXPECT_EQ(FControl.BufferLengths, (std::vector<size_t>{255}));
  EXPECT_EQ(FTransport->ConnectCalls, 2);
  EXPECT_TRUE(FUi.Shown.empty());
}

TEST_F(ConnectServiceTest, SettleWaitSleepsFromTheThirdAttemptAndEndsOnAFinalState) {
  const struct {
    const char* name;
    std::vector<uint32_t> statuses;
    size_t queries;
    size_t sleeps;
  } cases[] = {
      {"running on the third", {2, 2, 4}, 3, 1},
      {"stopped on the fifth", {3, 3, 3, 3, 1}, 5, 3},
      {"only the low byte counts", {0x0102, 0x0404}, 2, 0},
      {"paused for ever", {7}, 600, 598},
  };
  for (const auto& c : cases) {
    FControl = TFakeServiceControl();
    FControl.Statuses = c.statuses;
    FClock.Sleeps.clear();
    FPump.Calls = 0;
    EXPECT_NE(ConnectService(FPorts, true), nullptr) << c.name;
    EXPECT_EQ(FControl.StatusCalls, c.queries) << c.name;
    EXPECT_EQ(FClock.Sleeps, std::vector<uint32_t>(c.sleeps, 100)) << c.name;
    EXPECT_EQ(FPump.Calls, static_cast<int>(c.sleeps)) << c.name;
  }
}

TEST_F(ConnectServiceTest, WithoutTheLibraryTheWaitEndsAtOnceAndTheConnectionDecides) {
  FControl.Available = false;
  EXPECT_NE(ConnectService(FPorts, true), nullptr);
  EXPECT_TRUE(FClock.Sleeps.empty());
}

TEST_F(ConnectServiceTest, ForAUserTheFirstConnectionAloneDecides) {
  EXPECT_NE(ConnectService(FPorts, false), nullptr);
  EXPECT_EQ(FControl.StatusCalls, 0u);

  FListening = false;
  const auto link = ConnectService(FPorts, false);
  EXPECT_EQ(link, nullptr);
  EXPECT_EQ(gService, nullptr);
  EXPECT_EQ(FControl.StatusCalls, 0u);
  EXPECT_TRUE(FControl.Actions.empty());
  EXPECT_EQ(FConnects, 2);  // one for each call
  // The built-in handling: the message once, then the request to end.
  ASSERT_EQ(FUi.Shown.size(), 1u);
  EXPECT_EQ(FUi.Shown[0].Title, "Service stopped");
  EXPECT_EQ(FUi.Terminations, 1);
  EXPECT_TRUE(FClient.expired());
}

TEST_F(ConnectServiceTest, AServiceThatWillNotStartRunsTheGivenHandlerWithNoSender) {
  FControl.Statuses = {1};
  FControl.OnAction = nullptr;
  FListening = false;
  gService = std::make_shared<TtcpServOpr>("127.0.0.1", false, [this] {
    TServiceLinkPorts p;
    p.Transport = std::make_unique<TFakeTransport>(FClock);
    p.RequestLock = &FLock;
    p.Clock = &FClock;
    p.Pump = &FPump;
    p.Ui = &FUi;
    return p;
  }());
  std::vector<IServiceLink*> senders;
  const auto link = ConnectService(FPorts, true, [&](IServiceLink* s) { senders.push_back(s); });
  EXPECT_EQ(link, nullptr);
  EXPECT_EQ(gService, nullptr);
  EXPECT_EQ(senders, (std::vector<IServiceLink*>{nullptr}));
  EXPECT_EQ(FConnects, 2);
  EXPECT_TRUE(FUi.Shown.empty());
  EXPECT_TRUE(FClient.expired());
}

TEST_F(ConnectServiceTest, FinalizingReleasesTheClientWithoutReportingALoss) {
  ConnectService(FPorts, false);
  ASSERT_FALSE(FClient.expired());
  FinalizeServiceModule();
  EXPECT_TRUE(FClient.expired());
  EXPECT_TRUE(FUi.Shown.empty());
}

}  // namespace
