// The real server on loopback, in this process, with the Windows memory port and a schedule
// store under a test key of HKCU.
#include "klservice/KLServer_win.h"
#include "klservice/ServicePorts_win.h"

#include "klservice/PortProbe_win.h"

#include "LineClient_win.h"
#include "LoadRun_win.h"
#include "fakes/FakeKLPorts.h"
#include "fakes/FakeMemoryPort.h"
#include "service/CommaList.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
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
    host = std::make_unique<TKLServiceHost>(memory, store, log, clock, limits, &owners);
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
  // Wine's TCP table names no process and takes milliseconds a row: the tests say who owns what.
  TFakePeerOwners owners;
  std::unique_ptr<TKLServiceHost> host;
};

size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS m{};
  m.cb = sizeof m;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &m, sizeof m);
  return m.WorkingSetSize;  // Wine reports no private bytes
}

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
  host = std::make_unique<TKLServiceHost>(memory, store, log, clock, TServerLimits(), &owners);
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
  // This round trip and the drop of stalled show that the serving thread has looked at its
  // limits at the new time before silent and spoke speak again.
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
  limits.BufferedBytesBudget = 150000;
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
  // A 60000-byte line holds from about 64 KiB up to twice that in its growing buffer, so at most
  // two of them fit beside the application's connection.
  EXPECT_GE(dropped, 6);
  // A dropped connection holds its bytes until the system gives back its cancelled operations.
  for (int i = 0; i < 200 && host->HeldBytes() > limits.BufferedBytesBudget; ++i) ::Sleep(25);
  EXPECT_LE(host->HeldBytes(), limits.BufferedBytesBudget);
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
    EXPECT_TRUE(WaitForCount(limits.MaxClients)) << "the dropped ones freed";
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

// ---- hostile clients

TEST_F(KLServerTest, ThousandsOfConnectionsFromOneProcessCannotEvictTheApplication) {
  const DWORD start = ::GetTickCount();
  owners.SetOthers(200);  // the flood's process
  TLineClient app(host->Port());
  ASSERT_TRUE(app.Connected());
  owners.Set(app.LocalPort(), 100);
  int seq = 0;
  auto appAnswered = [&] {
    ++seq;
    return app.Ask("IsAlertEnabled " + std::to_string(seq) + ",\"memory.load\"") ==
           std::to_string(seq) + ",False";
  };
  ASSERT_TRUE(appAnswered());
  clock.Advance(TServerLimits().RecentRequestMs);  // the application has been quiet for long
  std::vector<std::unique_ptr<TLineClient>> flood;
  int answered = 0;
  for (int total : {2048, 4096}) {
    const size_t first = flood.size();
    // Each sends its one request at once; the answers are read after the application's.
    while (static_cast<int>(flood.size()) < total) {
      flood.push_back(std::make_unique<TLineClient>(host->Port(), 5000));
      flood.back()->Send("AvaliableSensors " + std::to_string(flood.size()) + ",\r\n");
    }
    EXPECT_TRUE(appAnswered()) << "after " << total << " connections of one process";
    std::string line;
    for (size_t i = first; i < flood.size(); ++i)
      answered += flood[i]->ReadLine(line) && line == std::to_string(i + 1) + "," + kSensors;
  }
  // Once the flood's last connections are looked up, it holds no more than its share.
  for (int i = 0; i < 400 && (host->OwnersToLookUp() > 0 ||
                              host->ClientCount() > TServerLimits().MaxClientsPerProcess + 1);
       ++i)
    ::Sleep(25);
  EXPECT_LE(host->ClientCount(), TServerLimits().MaxClientsPerProcess + 1);
  EXPECT_GE(host->DroppedForProcessCap(), 4096 - TServerLimits().MaxClientsPerProcess);
  EXPECT_EQ(host->DroppedForRoom(), 0) << "the slots never ran out";
  EXPECT_TRUE(appAnswered());
  std::printf("4096 connections of one process against the application: %d answered before "
              "they went, %lu ms\n", answered, ::GetTickCount() - start);
}

TEST_F(KLServerTest, RoomIsMadeFromTheProcessHoldingTheMost) {
  TServerLimits limits;
  limits.MaxClients = 32;
  Restart(limits);
  owners.SetOthers(200);
  auto connect = [&](uint32_t pid, int seq, bool mustAnswer = true) {
    auto c = std::make_unique<TLineClient>(host->Port());
    owners.Set(c->LocalPort(), pid);
    const std::string answer = c->Ask("AvaliableSensors " + std::to_string(seq) + ",");
    // A newcomer of the crowding process may itself be the one that goes next.
    if (mustAnswer) {
      EXPECT_EQ(answer, std::to_string(seq) + "," + kSensors);
    }
    return c;
  };
  // The application and a second program of the family, each holding little, spoke first.
  std::vector<std::unique_ptr<TLineClient>> few;
  few.push_back(connect(100, 1));
  few.push_back(connect(300, 2));
  few.push_back(connect(300, 3));
  clock.Advance(limits.RecentRequestMs);  // they have been quiet longest
  std::vector<std::unique_ptr<TLineClient>> flood;
  for (int i = 0; i < 29; ++i) flood.push_back(connect(200, 10 + i));
  for (int i = 0; i < 400 && host->OwnersToLookUp() > 0; ++i) ::Sleep(25);
  ASSERT_EQ(host->OwnersToLookUp(), 0);
  for (int i = 0; i < 40; ++i) flood.push_back(connect(200, 100 + i, false));  // each needs room
  EXPECT_GE(host->DroppedForRoom(), 30);
  for (size_t i = 0; i < few.size(); ++i)
    EXPECT_EQ(few[i]->Ask("AvaliableSensors 7,"), std::string("7,") + kSensors)
        << "connection " << i << " of a process holding one or two";
}

TEST_F(KLServerTest, ThousandConnectionsOfLineFeedsStayWithinTheBudget) {
  const size_t before = WorkingSet();
  std::vector<std::unique_ptr<TLineClient>> quiet;
  const std::string feeds(16384, '\n');
  for (int i = 0; i < 1000; ++i) {
    quiet.push_back(std::make_unique<TLineClient>(host->Port()));
    ASSERT_TRUE(quiet.back()->Send(feeds));
  }
  // Every byte read: a request on each of a few of them comes back after its line feeds.
  for (int i = 0; i < 1000; i += 111)
    EXPECT_EQ(quiet[size_t(i)]->Ask("AvaliableSensors 1,"), std::string("1,") + kSensors);
  ::Sleep(500);
  const size_t held = host->HeldBytes();
  const size_t grown = WorkingSet() > before ? WorkingSet() - before : 0;
  std::printf("1000 connections after 16 KB of line feeds each: %zu bytes held by the service "
              "(budget %zu), working set of both ends +%zu bytes\n",
              held, TServerLimits().BufferedBytesBudget, grown);
  EXPECT_LE(held, size_t{1000} * 2048) << "about a kilobyte a connection, line feeds cost nothing";
  EXPECT_LT(grown, size_t{64} << 20) << "the line feeds left no buffers behind";
  EXPECT_EQ(host->ClientCount(), 1000);
}

TEST_F(KLServerTest, TheLogRotatesUnderAFloodAndGoesOn) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + L"KLServerTest.log";
  const struct {
    const char* name;
    DWORD readerShare;  // how a reader that keeps the log open shares it
  } cases[] = {
      {"a reader that shares the rename", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
      {"a reader that does not", FILE_SHARE_READ | FILE_SHARE_WRITE},
  };
  for (const auto& k : cases) {
    ::DeleteFileW(path.c_str());
    ::DeleteFileW((path + L".1").c_str());
    TFileServiceLog fileLog(path, false, 8192);
    TKLServiceHost logged(memory, store, fileLog, clock, TServerLimits(), &owners);
    logged.Start(0);
    TScopedFileHandle reader(::CreateFileW(path.c_str(), GENERIC_READ, k.readerShare, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader) << k.name;
    int lines = 0;
    for (int round = 0; round < 20; ++round) {
      clock.Advance(kClientLogWindowMs);
      for (int i = 0; i < 30; ++i) {  // more connections a second than lines are written
        TLineClient c(logged.Port());
        EXPECT_EQ(c.Ask("Flood" + std::string(40, 'x') + " 1,"), "1,");
        ++lines;
      }
    }
    clock.Advance(kClientLogWindowMs);
    TLineClient last(logged.Port());
    EXPECT_EQ(last.Ask("Afterwards 1,"), "1,");
    logged.Stop();
    reader.reset();
    std::string text, old;
    auto read = [](const std::wstring& p) {
      std::string t;
      TScopedFileHandle f(::CreateFileW(p.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      char buf[65536];
      DWORD n = 0;
      while (f && ::ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n) t.append(buf, n);
      return t;
    };
    text = read(path);
    old = read(path + L".1");
    EXPECT_NE(text.find("unknown command Afterwards"), std::string::npos) << k.name;
    EXPECT_NE(text.find("stopped"), std::string::npos) << k.name << ": still logging at the end";
    EXPECT_LE(text.size(), 8192u) << k.name;
    if (k.readerShare & FILE_SHARE_DELETE) {
      EXPECT_NE(old.find("unknown command Flood"), std::string::npos) << k.name << ": rotated";
    }
    std::printf("%s: %d flood lines sent, log %zu bytes, previous log %zu bytes\n", k.name, lines,
                text.size(), old.size());
  }
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".1").c_str());
}

TEST_F(KLServerTest, ClientsThatNeverReadAreGoneWithinTheStallLimit) {
  TServerLimits limits;
  limits.StalledSendMs = 1000;
  Restart(limits);
  std::string burst;
  for (int i = 0; i < 20000; ++i) burst += "AvaliableSensors " + std::to_string(i) + ",\r\n";
  std::vector<std::unique_ptr<TLineClient>> deaf;
  size_t sent = 0;
  for (int i = 0; i < 20; ++i) {
    deaf.push_back(std::make_unique<TLineClient>(host->Port(), 1000, 4096));
    // Until the server stops reading: its answers fill both ends' buffers.
    size_t mine = 0;
    for (int idle = 0; mine < burst.size() && idle < 5;) {
      const size_t n = deaf.back()->SendWhatFits(std::string_view(burst).substr(mine));
      mine += n;
      idle = n ? 0 : idle + 1;
      if (!n) ::Sleep(20);
    }
    sent += mine;
  }
  TLineClient app(host->Port());
  EXPECT_EQ(app.Ask("AvaliableSensors 1,"), std::string("1,") + kSensors);
  const DWORD start = ::GetTickCount();
  // Time passes for the server only: every answer it could not hand over waits past the limit.
  for (int i = 0; i < 300 && host->ClientCount() > 1; ++i) {
    clock.Advance(limits.StalledSendMs);
    ::Sleep(20);
  }
  std::printf("20 clients that never read, %zu bytes of requests: gone after %lu ms\n", sent,
              ::GetTickCount() - start);
  EXPECT_EQ(host->ClientCount(), 1) << "each socket and its unsent answers freed";

  EXPECT_LT(host->HeldBytes(), size_t{16384});
  EXPECT_EQ(app.Ask("AvaliableSensors 2,"), std::string("2,") + kSensors);
}

TEST_F(KLServerTest, FreeingRequestsAreSpacedByTheInterval) {
  TFakeMemoryPort counting;
  TKLServiceHost spaced(counting, store, log, clock, TServerLimits(), &owners);
  spaced.Start(0);
  std::vector<std::unique_ptr<TLineClient>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(std::make_unique<TLineClient>(spaced.Port()));
  std::string burst;
  for (int i = 0; i < 250; ++i)
    burst += "GetInfo " + std::to_string(i) + ",\"module.optimize\",\"optimi.free\",nocache=true\r\n";
  for (auto& c : clients) ASSERT_TRUE(c->Send(burst));
  std::string first, line;
  int answered = 0;
  for (auto& c : clients)
    for (int i = 0; i < 250; ++i) {
      ASSERT_TRUE(c->ReadLine(line));
      const std::string outcome = line.substr(line.find(',') + 1);
      if (first.empty()) first = outcome;
      answered += outcome == first && outcome.find("FreedMB=") == 0;
    }
  EXPECT_EQ(answered, 1000) << "every request answered with the one pass's outcome";
  EXPECT_EQ(counting.FFrees, 1);
  clock.Advance(TServerLimits().MinFreeIntervalMs);
  EXPECT_EQ(clients[0]->Ask("GetInfo 9,\"module.optimize\",\"optimi.free\",nocache=true").substr(0, 10),
            "9,FreedMB=");
  EXPECT_EQ(counting.FFrees, 2);
}

// The threads of this process now.
int ThreadCount() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 t{};
  t.dwSize = sizeof t;
  int n = 0;
  for (BOOL more = ::Thread32First(snapshot, &t); more; more = ::Thread32Next(snapshot, &t))
    n += t.th32OwnerProcessID == ::GetCurrentProcessId();
  ::CloseHandle(snapshot);
  return n;
}

TEST_F(KLServerTest, SamplesAndTheScheduleFollowTheClockAndNoThreadWaitsIdle) {
  TFakeMemoryPort counting;
  const int before = ThreadCount();
  TKLServiceHost timed(counting, store, log, clock, TServerLimits(), &owners);
  timed.Start(0);
  EXPECT_EQ(ThreadCount(), before + 1) << "one serving thread and nothing else while idle";
  TLineClient client(timed.Port());
  auto samples = [&](int seq) {
    const std::string answer = client.Ask("GetInfo " + std::to_string(seq) +
                                          ",\"module.optimize\",\"optimize.memory.usage\",nocache=true");
    return TCommaList::Parse(answer.substr(answer.find(',') + 1)).Value("count");
  };
  EXPECT_EQ(samples(1), "1");
  EXPECT_EQ(samples(2), "1") << "no sample before its interval has passed on the clock";
  clock.Advance(kSampleIntervalMs);
  int seq = 3;
  for (int i = 0; i < 200 && samples(seq++) != "2"; ++i) ::Sleep(25);
  EXPECT_EQ(samples(seq++), "2");

  EXPECT_EQ(client.Ask("GetInfo 9,\"module.optimize\",\"optimi.free.setconf\","
                       "\"nocache=true,Enabled=-1,Period=5\""),
            "9,Enabled=-1,Period=5");
  clock.Advance(5 * 60000 - 1);
  ::Sleep(1500);  // more than a turn of the serving thread
  EXPECT_EQ(counting.FFrees, 0) << "not due yet";
  clock.Advance(1000);  // past the period, and the schedule is looked at every second
  for (int i = 0; i < 200 && counting.FFrees == 0; ++i) ::Sleep(25);
  EXPECT_EQ(counting.FFrees, 1) << "the scheduled pass ran";
  EXPECT_EQ(client.Ask("AvaliableSensors 10,"), std::string("10,") + kSensors);
  for (int i = 0; i < 200 && ThreadCount() != before + 1; ++i) ::Sleep(25);
  EXPECT_EQ(ThreadCount(), before + 1) << "the thread of the pass ended with it";
  timed.Stop();
  EXPECT_EQ(ThreadCount(), before);
}

TEST(KLServerPorts, TheTcpTableFindsEachClientByItsPort) {
  TWinsockScope winsock;
  TWinMemoryPort memory;
  TRegistryScheduleStore store{HKEY_CURRENT_USER, L"Software\\QuorTests\\KLServerPorts"};
  TFakeKLLog log;
  TFakeKLClock clock;
  TKLServiceHost host(memory, store, log, clock);
  host.Start(0);
  TLineClient a(host.Port()), b(host.Port());
  ASSERT_TRUE(a.Connected() && b.Connected());
  const auto table = CreateTcpTableOwners()->Snapshot(host.Port());
  for (const uint16_t port : {a.LocalPort(), b.LocalPort()}) {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const auto& e) { return e.first == port; });
    ASSERT_NE(it, table.end()) << port;
    // Windows names this process; Wine 8 gives 0 (not known) for every connection.
    EXPECT_TRUE(it->second == ::GetCurrentProcessId() || it->second == 0) << it->second;
  }
  EXPECT_EQ(table.size(), 2u) << "only the clients' ends of connections to the server";
  host.Stop();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuorTests\\KLServerPorts");
}

TEST(KLServerPorts, TheServiceClockIsTheTickCountNotTheWallClock) {
  const int64_t tick = static_cast<int64_t>(::GetTickCount64());
  const int64_t now = ServiceClock().NowMs();
  EXPECT_GE(now, tick);
  EXPECT_LT(now - tick, 1000) << "a clock set back or forward does not move it";
}

TEST(KLServerPorts, TheStartProbeGivesUpOnAFullBacklog) {
  TWinsockScope winsock;
  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  int len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const uint16_t port = ntohs(addr.sin_port);
  EXPECT_TRUE(AcceptsWithin(port, 1000));
  // Never accepted: the backlog fills and further connections wait for it.
  std::vector<SOCKET> pending;
  for (int i = 0; i < 8; ++i) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
    ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    pending.push_back(s);
  }
  ::Sleep(200);
  const ULONGLONG start = ::GetTickCount64();
  const bool accepted = AcceptsWithin(port, 500);
  const ULONGLONG took = ::GetTickCount64() - start;
  std::printf("probe of a full backlog: %s after %llu ms\n", accepted ? "accepted" : "refused",
              took);
  EXPECT_FALSE(accepted);
  EXPECT_LT(took, 3000u) << "within its limit, not the system's minutes of retries";
  for (SOCKET s : pending) ::closesocket(s);
  ::closesocket(listener);
}

}  // namespace
