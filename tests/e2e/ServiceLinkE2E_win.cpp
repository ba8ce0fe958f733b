// The application's service client against the installed KLService.
#include "e2e/ServiceEnvironment_win.h"
#include "service/CommaList.h"
#include "service/ConnectService_win.h"

#include <gtest/gtest.h>

namespace {

const std::string kModule = "module.optimize";

std::shared_ptr<TtcpServOpr> ConnectedClient() {
  std::shared_ptr<TtcpServOpr> client = CreateSystemServiceClient("127.0.0.1");
  client->SetConnected(true);
  return client;
}

TCommaList Ask(IServiceLink& link, const std::string& item, std::string info = "nocache=true") {
  link.GetInfo(kModule, item, info);
  return TCommaList::Parse(info);
}

TEST(ServiceLinkE2E, TheInstalledServiceAnswersTheWindowsRequests) {
  auto client = ConnectedClient();
  ASSERT_TRUE(client->Connected());
  const TCommaList usage = Ask(*client, "optimize.memory.usage");
  for (const char* name : {"count", "60", "80"})
    EXPECT_FALSE(usage.Value(name).empty()) << name << " in " << usage.Text();
  EXPECT_FALSE(Ask(*client, "optimi.free").Items().empty());
  std::string sensors;
  client->AvaliableSensors(sensors);
  EXPECT_FALSE(sensors.empty());
}

TEST(ServiceLinkE2E, TheScheduleSurvivesARestartOfTheService) {
  {
    auto client = ConnectedClient();
    Ask(*client, "optimi.free.setconf",
        TCommaList({"nocache=true", "Enabled=-1", "Period=30"}).Text());
  }
  ASSERT_TRUE(StopTestService());
  ASSERT_TRUE(StartTestService());
  auto client = ConnectedClient();
  const TCommaList conf = Ask(*client, "optimi.free.getconf");
  EXPECT_EQ(conf.Value("Period"), "30") << conf.Text();
  EXPECT_EQ(conf.Value("Enabled"), "-1") << conf.Text();
  Ask(*client, "optimi.free.setconf", TCommaList({"nocache=true", "Enabled=0", "Period=5"}).Text());
  EXPECT_EQ(Ask(*client, "optimi.free.getconf").Value("Period"), "5");
}

TEST(ServiceLinkE2E, AStoppedServiceIsReportedAsLostOnce) {
  auto client = ConnectedClient();
  ASSERT_TRUE(client->Connected());
  int losses = 0;
  client->SetOnServiceLost([&](IServiceLink*) { ++losses; });
  ASSERT_TRUE(StopTestService());
  std::string info = "unchanged";
  try {
    client->GetInfo(kModule, "optimi.free.getconf", info);
  } catch (const std::exception&) {
    // The reconnection attempt of the next operation fails: the caller hears of it.
  }
  EXPECT_GE(losses, 1);
  EXPECT_EQ(info, "unchanged");
  EXPECT_FALSE(client->IsConnected());
  ASSERT_TRUE(StartTestService());
}

}  // namespace
