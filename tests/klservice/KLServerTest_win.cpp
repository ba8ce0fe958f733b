// The real server on loopback, in this process, with the Windows memory port and a schedule
// store under a test key of HKCU.
#include "klservice/KLServer_win.h"
#include "klservice/ServicePorts_win.h"

#include "LineClient_win.h"
#include "LoadRun_win.h"
#include "fakes/FakeKLPorts.h"
#include "service/CommaList.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const wchar_t* const kTestKey = L"Software\\QuorTests\\KLServerTest";

class KLServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    host = std::make_unique<TKLServiceHost>(memory, store, log, clock);
    host->Start(0);
  }
  void TearDown() override {
    host.reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  }
  // Whether the server closed client's connection after data (instead of answering it).
  bool DropsAfter(TLineClient& client, std::string_view data) {
    std::string line;
    client.Send(data);
    return !client.ReadLine(line) && client.ClosedByPeer();
  }

  TWinsockScope winsock;
  TWinMemoryPort memory;
  TRegistryScheduleStore store{HKEY_CURRENT_USER, kTestKey};
  TFakeKLLog log;
  TFakeKLClock clock;
  std::unique_ptr<TKLServiceHost> host;
};

TEST_F(KLServerTest, AnswersRequestsAndKeepsTheScheduleInTheRegistry) {
  TLineClient client(host->Port());
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(client.Ask("GetInfo 0,\"module.optimize\",\"optimi.free.setconf\","
                       "\"nocache=true,Enabled=-1,Period=30\""),
            "0,Enabled=-1,Period=30");
  const TCommaList freed =
      TCommaList::Parse(client.Ask("GetInfo 1,\"module.optimize\",\"optimi.free\",nocache=true").substr(2));
  EXPECT_NE(freed.Value("BeforeMB"), "") << "measured with the real memory status";
  const TCommaList usage = TCommaList::Parse(
      client.Ask("GetInfo 2,\"module.optimize\",\"optimize.memory.usage\",nocache=true").substr(2));
  EXPECT_EQ(usage.Value("count"), "1") << "the first sample is taken at start";

  host.reset();  // a restart reads the stored schedule
  host = std::make_unique<TKLServiceHost>(memory, store, log, clock);
  host->Start(0);
  TLineClient again(host->Port());
  EXPECT_EQ(again.Ask("GetInfo 3,\"module.optimize\",\"optimi.free.getconf\",nocache=true"),
            "3,Enabled=-1,Period=30");
}

TEST_F(KLServerTest, DropsBadInputAndStillAnswers) {
  const std::string cases[] = {
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:2804\r\n\r\n",
      "GetInfo 1,\"module.optimize\",\"optimi.free.getconf\",\r\nOrigin: http://example\r\n",
      "POST /x HTTP/1.1\r\nContent-Length: 10\r\n\r\n",
      std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n", 12),
      "GetInfo 1,x" + std::string(kMaxRequestLine, 'y') + "\r\n",
      std::string(kMaxRequestLine + 2, ','),
      "GetInfo notanumber,\r\n",
  };
  for (const std::string& data : cases) {
    TLineClient bad(host->Port());
    ASSERT_TRUE(bad.Connected());
    EXPECT_TRUE(DropsAfter(bad, data)) << data.substr(0, 40);
    TLineClient good(host->Port());
    EXPECT_EQ(good.Ask("AvaliableSensors 5,"), "5,memory.load,memory.available")
        << "after " << data.substr(0, 40);
  }
}

TEST_F(KLServerTest, SilentClientsAreDroppedAndClientsAreBounded) {
  TLineClient silent(host->Port());
  TLineClient stalled(host->Port());
  stalled.Ask("AvaliableSensors 0,");
  stalled.Send("AvaliableSensors 1");  // never ended
  TLineClient talker(host->Port());
  EXPECT_EQ(talker.Ask("AvaliableSensors 2,"), "2,memory.load,memory.available");
  ::Sleep(300);  // lets the server read the unfinished line before the clock moves on
  clock.Advance(kSilentClientMs);
  std::string line;
  EXPECT_FALSE(silent.ReadLine(line));
  EXPECT_TRUE(silent.ClosedByPeer());
  EXPECT_FALSE(stalled.ReadLine(line));
  EXPECT_TRUE(stalled.ClosedByPeer());
  EXPECT_EQ(talker.Ask("AvaliableSensors 3,"), "3,memory.load,memory.available")
      << "a client that has spoken keeps its connection";

  std::vector<std::unique_ptr<TLineClient>> full;
  for (int i = 1; i < kMaxClients; ++i) {
    full.push_back(std::make_unique<TLineClient>(host->Port()));
    ASSERT_EQ(full.back()->Ask("Subscribe 1,0").substr(0, 2), "1,");
  }
  TLineClient refused(host->Port());
  EXPECT_TRUE(DropsAfter(refused, "AvaliableSensors 4,\r\n"));
  full.pop_back();
  for (int i = 0; i < 50 && host->ClientCount() >= kMaxClients; ++i) ::Sleep(50);
  TLineClient admitted(host->Port());
  EXPECT_EQ(admitted.Ask("AvaliableSensors 5,"), "5,memory.load,memory.available");
}

TEST_F(KLServerTest, ParallelClientsGetEveryAnswerMatched) {
  const int clients = 6, requests = 500;
  const TLoadResult r = RunLoad(host->Port(), clients, requests);
  EXPECT_EQ(r.Unconnected, 0);
  EXPECT_EQ(r.Matched, int64_t{clients} * requests);
  EXPECT_EQ(r.Wrong, 0);
  EXPECT_EQ(r.Lost, 0);
}

TEST_F(KLServerTest, PipelinedRequestsAreAnsweredInOrder) {
  TLineClient client(host->Port());
  std::string burst;
  for (int i = 0; i < 200; ++i)
    burst += "GetField " + std::to_string(i) + ",\"module.optimize\",\"optimi.free.getconf\",Period\r\n";
  ASSERT_TRUE(client.Send(burst));
  std::string line;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(client.ReadLine(line));
    EXPECT_EQ(line, std::to_string(i) + ",60");
  }
}

}  // namespace
