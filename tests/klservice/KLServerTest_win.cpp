// The real server on loopback, in this process, with the Windows memory port and a schedule
// store under a test key of HKCU.
#include "klservice/KLServer_win.h"
#include "klservice/ServicePorts_win.h"

#include "LineClient_win.h"
#include "LoadRun_win.h"
#include "fakes/FakeKLPorts.h"
#include "service/CommaList.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const wchar_t* const kTestKey = L"Software\\QuorTests\\KLServerTest";

class KLServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    Restart(TServerLimits());
  }
  void Restart(const TServerLimits& limits) {
    host.reset();
    host = std::make_unique<TKLServiceHost>(memory, store, log, clock, limits);
    host->Start(0);
  }
  // Opens n connections that never send a byte.
  std::vector<std::unique_ptr<TLineClient>> Idle(int n) {
    std::vector<std::unique_ptr<TLineClient>> out;
    for (int i = 0; i < n; ++i) {
      out.push_back(std::make_unique<TLineClient>(host->Port()));
      EXPECT_TRUE(out.back()->Connected());
    }
    return out;
  }
  // Waits (boundedly) until the server serves n connections.
  bool WaitForCount(int n) {
    for (int i = 0; i < 200 && host->ClientCount() != n; ++i) ::Sleep(25);
    return host->ClientCount() == n;
  }
  static constexpr const char* kSensors = "memory.load,memory.available";
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

TEST_F(KLServerTest, DropsBadInputAndStillAnswersWhileManyConnectionsAreOpen) {
  const auto others = Idle(500);
  const std::string cases[] = {
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:2804\r\n\r\n",
      "GetInfo 1,\"module.optimize\",\"optimi.free.getconf\",\r\nOrigin: http://example\r\n",
      "POST /x HTTP/1.1\r\nContent-Length: 10\r\n\r\n",
      std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n", 12),
      "GetInfo 1,x" + std::string(kMaxRequestLine, 'y') + "\r\n",
      std::string(kMaxRequestLine + 2, ','),
      "GetInfo notanumber,\r\n",
  };
  TLineClient steady(host->Port());
  for (const std::string& data : cases) {
    TLineClient bad(host->Port());
    ASSERT_TRUE(bad.Connected());
    EXPECT_TRUE(DropsAfter(bad, data)) << data.substr(0, 40);
    TLineClient good(host->Port());
    EXPECT_EQ(good.Ask("AvaliableSensors 5,"), std::string("5,") + kSensors)
        << "after " << data.substr(0, 40);
    EXPECT_EQ(steady.Ask("AvaliableSensors 6,"), std::string("6,") + kSensors);
  }
  EXPECT_TRUE(WaitForCount(501)) << host->ClientCount();
}

TEST_F(KLServerTest, QuietClientsOutlastEveryLimitAndUnfinishedLinesAreDropped) {
  TServerLimits limits;
  limits.UnfinishedLineMs = 1000;
  limits.RecentRequestMs = 1000;
  limits.StalledSendMs = 1000;
  Restart(limits);
  TLineClient silent(host->Port());
  TLineClient spoke(host->Port());
  EXPECT_EQ(spoke.Ask("AvaliableSensors 1,"), std::string("1,") + kSensors);
  TLineClient stalled(host->Port());
  // One send: the answer to its first line shows the server has read the unfinished second.
  std::string line;
  stalled.Send("AvaliableSensors 2,\r\nAvaliableSensors 2");
  ASSERT_TRUE(stalled.ReadLine(line));
  TLineClient talker(host->Port());
  EXPECT_EQ(talker.Ask("AvaliableSensors 3,"), std::string("3,") + kSensors);
  clock.Advance(24 * 3600000);  // a day: past every limit of the server
  // Connections go to the two serving threads in turn: silent and stalled to one, spoke and
  // talker to the other. This round trip and the drop of stalled show that each thread has
  // looked at its limits at the new time before silent and spoke speak again.
  EXPECT_EQ(talker.Ask("AvaliableSensors 4,"), std::string("4,") + kSensors);
  EXPECT_FALSE(stalled.ReadLine(line));
  EXPECT_TRUE(stalled.ClosedByPeer()) << "a line begun and never finished";
  EXPECT_EQ(silent.Ask("AvaliableSensors 5,"), std::string("5,") + kSensors)
      << "a client that had not spoken yet is still served";
  EXPECT_EQ(spoke.Ask("AvaliableSensors 6,"), std::string("6,") + kSensors)
      << "a client that spoke a day ago is still served";
}

TEST_F(KLServerTest, TheConnectionHoldingTheMostGoesWhenBuffersPassTheBudget) {
  TServerLimits limits;
  limits.BufferedBytesBudget = 2 * 100000;  // 100000 for each serving thread
  Restart(limits);
  TLineClient app(host->Port());
  EXPECT_EQ(app.Ask("AvaliableSensors 1,"), std::string("1,") + kSensors);
  std::vector<std::unique_ptr<TLineClient>> hogs;
  for (int i = 0; i < 8; ++i) {
    hogs.push_back(std::make_unique<TLineClient>(host->Port(), 1000));
    hogs.back()->Send("GetInfo 1," + std::string(60000, 'x'));  // never ended
  }
  EXPECT_EQ(app.Ask("AvaliableSensors 2,"), std::string("2,") + kSensors);
  int dropped = 0;
  std::string line;
  for (auto& hog : hogs) dropped += !hog->ReadLine(line) && hog->ClosedByPeer();
  EXPECT_EQ(dropped, 6) << "four to each serving thread; one 60000-byte line fits its share";
}

TEST_F(KLServerTest, HeldSlotsCannotKeepTheApplicationOut) {
  // Every slot taken by a connection that sent one valid request: the application's
  // connection still gets in and is answered.
  TServerLimits limits;
  limits.MaxClients = 16;
  Restart(limits);
  std::vector<std::unique_ptr<TLineClient>> held;
  for (int i = 0; i < limits.MaxClients; ++i) {
    held.push_back(std::make_unique<TLineClient>(host->Port()));
    ASSERT_EQ(held.back()->Ask("IsAlertEnabled " + std::to_string(i) + ",\"memory.load\""),
              std::to_string(i) + ",False");
    clock.Advance(1);
  }
  TLineClient app(host->Port());
  EXPECT_EQ(app.Ask("AvaliableSensors 100,"), std::string("100,") + kSensors);
  EXPECT_EQ(host->DroppedForRoom(), 1);
  std::string line;
  EXPECT_FALSE(held[0]->ReadLine(line)) << "the one quiet longest made room";
  for (size_t i = 1; i < held.size(); ++i)
    EXPECT_EQ(held[i]->Ask("AvaliableSensors 7,"), std::string("7,") + kSensors) << i;
}

TEST_F(KLServerTest, ThousandIdleAndSixtyFourHeldConnectionsLeaveRoomForTheApplication) {
  TServerLimits limits;
  limits.MaxClients = 1024;  // fewer than the connections below: the table overflows
  Restart(limits);
  auto workingSet = [] {
    PROCESS_MEMORY_COUNTERS_EX m{};
    m.cb = sizeof m;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m),
                           sizeof m);
    return size_t(m.WorkingSetSize);  // Wine reports no private bytes
  };
  const size_t before = workingSet();
  {
    auto idle = Idle(1000);
    std::vector<std::unique_ptr<TLineClient>> held;
    for (int i = 0; i < 64; ++i) {
      held.push_back(std::make_unique<TLineClient>(host->Port()));
      ASSERT_EQ(held.back()->Ask("AvaliableSensors " + std::to_string(i) + ","),
                std::to_string(i) + "," + kSensors);
    }
    TLineClient app(host->Port());
    int seq = 1000;
    auto appAnswered = [&] {
      ++seq;
      return app.Ask("GetInfo " + std::to_string(seq) +
                     ",\"module.optimize\",\"optimi.free.getconf\",nocache=true") ==
             std::to_string(seq) + ",Enabled=0,Period=60";
    };
    EXPECT_TRUE(appAnswered());
    // A second flood of connections that never speak, the application asking meanwhile.
    std::vector<std::unique_ptr<TLineClient>> flood;
    for (int wave = 0; wave < 10; ++wave) {
      auto more = Idle(100);
      for (auto& c : more) flood.push_back(std::move(c));
      EXPECT_TRUE(appAnswered()) << "wave " << wave;
    }
    // The last connections may still wait to be accepted: every one of them makes room.
    const int64_t overflow = 1000 + 64 + 1 + 1000 - limits.MaxClients;
    for (int i = 0; i < 200 && host->DroppedForRoom() < overflow; ++i) ::Sleep(25);
    EXPECT_EQ(host->DroppedForRoom(), overflow);
    EXPECT_EQ(host->ClientCount(), limits.MaxClients);
    for (int i = 0; i < 64; ++i)
      EXPECT_EQ(held[size_t(i)]->Ask("AvaliableSensors " + std::to_string(i) + ","),
                std::to_string(i) + "," + kSensors)
          << "a connection that spoke keeps its slot while silent ones are left";
    EXPECT_TRUE(appAnswered());
    std::printf("working set: %zu before, %zu with %d connections served and 2065 clients\n",
                before, workingSet(), host->ClientCount());
  }
  EXPECT_TRUE(WaitForCount(0));
  const size_t after = workingSet();
  std::printf("working set after every connection closed: %zu\n", after);
  EXPECT_LT(after, before + (size_t{8} << 20)) << "back near the idle figure";
}

TEST(KLServerLimits, SettingsReplaceTheDefaultsTheyName) {
  const wchar_t* key = L"Software\\QuorTests\\KLServerLimits";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
  const TServerLimits defaults;
  TServerLimits read = ReadServerLimits(HKEY_CURRENT_USER, key);
  EXPECT_EQ(read.MaxClients, defaults.MaxClients) << "no key: the defaults";
  EXPECT_EQ(read.UnfinishedLineMs, defaults.UnfinishedLineMs);
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                              nullptr),
            ERROR_SUCCESS);
  auto set = [&](const wchar_t* name, DWORD v) {
    ::RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  };
  set(L"UnfinishedLineMs", 250);
  set(L"RecentRequestMs", 500);
  set(L"StalledSendMs", 0);  // 0 keeps the default
  ::RegSetValueExW(k, L"MaxClients", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"9"), 4);
  ::RegCloseKey(k);
  read = ReadServerLimits(HKEY_CURRENT_USER, key);
  EXPECT_EQ(read.UnfinishedLineMs, 250);
  EXPECT_EQ(read.RecentRequestMs, 500);
  EXPECT_EQ(read.StalledSendMs, defaults.StalledSendMs);
  EXPECT_EQ(read.MaxClients, defaults.MaxClients) << "not a DWORD: ignored";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
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
