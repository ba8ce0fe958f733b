#include "klservice/ServiceCore.h"

#include "fakes/FakeKLPorts.h"
#include "fakes/FakeMemoryPort.h"
#include "fakes/FakeScheduleStore.h"
#include "service/CommaList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

namespace {

// Frees only when released, so a second request can arrive during the pass.
class TBlockingMemoryPort final : public IMemoryPort {
 public:
  TMemoryStatus Status() override {
    std::lock_guard lock(FLock);
    return FStatus;
  }
  TFreeSteps FreeMemory(std::function<void(std::string_view)>) override {
    std::unique_lock lock(FLock);
    ++FFrees;
    FFreeing = true;
    FChanged.notify_all();
    FChanged.wait(lock, [&] { return FReleased || FFrees > 1; });
    FFreeing = false;
    FStatus.AvailPhys += 256ull << 20;
    return {1, 0};
  }
  void WaitUntilFreeing() {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] { return FFreeing.load(); });
  }
  void Release() {
    std::lock_guard lock(FLock);
    FReleased = true;
    FChanged.notify_all();
  }

  std::mutex FLock;
  std::condition_variable FChanged;
  TMemoryStatus FStatus{50, 8ull << 30, 4ull << 30};
  std::atomic<bool> FFreeing{false};
  bool FReleased = false;
  int FFrees = 0;
};

}  // namespace

TEST(RequestLine, ParsesOnlyProtocolLines) {
  const struct {
    const char* line;
    bool ok;
    const char* command;
    int32_t seq;
    const char* args;
  } cases[] = {
      {"GetInfo 7,\"module.optimize\",\"optimi.free\",nocache=true", true, "GetInfo", 7,
       "\"module.optimize\",\"optimi.free\",nocache=true"},
      {"AvaliableSensors 0,", true, "AvaliableSensors", 0, ""},
      {"Subscribe 2147483647,5", true, "Subscribe", 2147483647, "5"},
      {"Subscribe -2147483648,5", true, "Subscribe", -2147483648, "5"},
      {"Subscribe 2147483648,5", false, "", 0, ""},
      {"GetInfo 7", false, "", 0, ""},
      {"GetInfo ,x", false, "", 0, ""},
      {"GetInfo  7,x", false, "", 0, ""},
      {"Get-Info 7,x", false, "", 0, ""},
      {"7,x", false, "", 0, ""},
      {"GetInfo 7x,", false, "", 0, ""},
      {"GetInfo 99999999999,", false, "", 0, ""},
      {"", false, "", 0, ""},
  };
  for (const auto& c : cases) {
    const auto r = ParseRequestLine(c.line);
    ASSERT_EQ(r.has_value(), c.ok) << c.line;
    if (!r) continue;
    EXPECT_EQ(r->Command, c.command);
    EXPECT_EQ(r->Seq, c.seq);
    EXPECT_EQ(r->Args, c.args);
  }
  EXPECT_FALSE(ParseRequestLine(std::string(65, 'A') + " 1,"));
}

TEST(RequestLine, AnswerIsOneLine) {
  EXPECT_EQ(FormatAnswer(12, "a=1,b=2"), "12,a=1,b=2\n");
  EXPECT_EQ(FormatAnswer(-3, "x\r\ny"), "-3,x  y\n");
}

TEST(LineFramer, SplitsChunksAndDropsCr) {
  TLineFramer f;
  std::vector<std::string> lines;
  EXPECT_EQ(f.Feed("GetInfo 1,a\r", lines), TDropReason::None);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(f.HasPartial());
  EXPECT_EQ(f.Feed("\nGetInfo 2,b\n\r\n\nGet", lines), TDropReason::None);
  EXPECT_EQ(lines, (std::vector<std::string>{"GetInfo 1,a", "GetInfo 2,b"}))
      << "empty lines are not kept";
  EXPECT_EQ(f.LinesEnded(), 4u);
  EXPECT_TRUE(f.HasPartial());
}

TEST(LineFramer, EnforcesTheLineLimit) {
  const std::string longest = "X 1," + std::string(kMaxRequestLine - 4, 'a');
  {
    TLineFramer f;
    std::vector<std::string> lines;
    EXPECT_EQ(f.Feed(longest + "\r\n", lines), TDropReason::None);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), kMaxRequestLine);
  }
  {
    TLineFramer f;
    std::vector<std::string> lines;
    EXPECT_EQ(f.Feed(longest + "b\n", lines), TDropReason::LineTooLong);
  }
  {  // an endless line is refused while it arrives, not once it ends
    TLineFramer f;
    std::vector<std::string> lines;
    const std::string chunk(65536, 'a');
    TDropReason r = TDropReason::None;
    for (int i = 0; i < 10 && r == TDropReason::None; ++i) r = f.Feed(chunk, lines);
    EXPECT_EQ(r, TDropReason::LineTooLong);
  }
}

TEST(LineFramer, RefusesOtherProtocolsEarly) {
  const struct {
    const char* data;
    TDropReason reason;
  } cases[] = {
      {"GET / HTTP/1.1", TDropReason::ForeignProtocol},
      {"POST ", TDropReason::ForeignProtocol},
      {"OPTIONS * HTTP/1.1\r\n", TDropReason::ForeignProtocol},
      {"GetInfo 1,x\nhost: 127.0.0.1:2804\r\n", TDropReason::ForeignProtocol},
      {"ORIGIN: http://evil\r\n", TDropReason::ForeignProtocol},
      {"GetInfo 1,x\r\n", TDropReason::None},
      {"get / http/1.1\r\n", TDropReason::None},  // not HTTP; the session drops it as malformed
      {"Hostile 1,x\r\n", TDropReason::None},
  };
  for (const auto& c : cases) {
    TLineFramer f;
    std::vector<std::string> lines;
    EXPECT_EQ(f.Feed(c.data, lines), c.reason) << c.data;
  }
}

TEST(BooleanText, ReadsTrueFalseAndNumbers) {
  EXPECT_EQ(ParseBooleanText("TRUE"), true);
  EXPECT_EQ(ParseBooleanText("false"), false);
  EXPECT_EQ(ParseBooleanText("-1"), true);
  EXPECT_EQ(ParseBooleanText("0"), false);
  EXPECT_EQ(ParseBooleanText("yes"), std::nullopt);
  EXPECT_EQ(ParseBooleanText(""), std::nullopt);
}

TEST(MemoryHistory, CountsTheLastWindowOnly) {
  TMemoryHistory h(4);
  for (uint32_t load : {90u, 85u, 70u, 10u}) h.Add(load);
  EXPECT_EQ(h.Counts().Count, 4);
  EXPECT_EQ(h.Counts().AtLeast60, 3);
  EXPECT_EQ(h.Counts().AtLeast80, 2);
  h.Add(60);  // replaces 90
  h.Add(79);  // replaces 85
  EXPECT_EQ(h.Counts().Count, 4);
  EXPECT_EQ(h.Counts().AtLeast60, 3);
  EXPECT_EQ(h.Counts().AtLeast80, 0);
  h.Add(250);  // out-of-range loads count as 100
  EXPECT_EQ(h.Counts().AtLeast80, 1);
}

TEST(MemoryHistory, WindowAllowsTheAdviceOnlyAfterSustainedPressure) {
  // The application advises more memory when count > 1000, 3*S > 2*C and 3*E > C.
  auto advised = [](TUsageCounts c) {
    return c.Count > 1000 && 3 * c.AtLeast60 > 2 * c.Count && 3 * c.AtLeast80 > c.Count;
  };
  TMemoryHistory h(kHistorySamples);
  const int64_t fiftyMinutes = 50 * 60000 / kSampleIntervalMs;
  for (int64_t i = 0; i < fiftyMinutes; ++i) h.Add(95);
  EXPECT_FALSE(advised(h.Counts())) << "50 minutes of full load are not yet enough";
  for (int i = 0; i < 10; ++i) h.Add(95);
  EXPECT_TRUE(advised(h.Counts()));
  for (int64_t i = 0; i < 40 * 60000 / kSampleIntervalMs; ++i) h.Add(20);
  EXPECT_FALSE(advised(h.Counts())) << "40 quiet minutes of the last hour end the advice";
}

class ServiceCoreTest : public ::testing::Test {
 protected:
  void SetUp() override { core.Start(); }
  std::optional<std::string> Ask(const std::string& line, int session = 1) {
    const auto r = ParseRequestLine(line);
    EXPECT_TRUE(r) << line;
    return core.Handle(*r, session);
  }
  std::string Value(const std::string& line, const char* name) {
    return TCommaList::Parse(Ask(line).value_or("")).Value(name);
  }

  TFakeMemoryPort memory;
  TFakeScheduleStore store;
  TFakeKLClock clock;
  TFakeKLLog log;
  TServiceCore core{memory, store, clock, log};
};

TEST_F(ServiceCoreTest, FreeMeasuresWhatWasFreed) {
  const auto a = Ask("GetInfo 7,\"module.optimize\",\"optimi.free\",nocache=true");
  EXPECT_EQ(memory.FFrees, 1);
  EXPECT_EQ(a, "FreedMB=256,BeforeMB=4096,AfterMB=4352,Steps=3,Refused=1");
  clock.Advance(kMinFreeIntervalMs);
  memory.FGain = 0;
  memory.FStatus.AvailPhys = 4096ull << 20;
  EXPECT_EQ(TCommaList::Parse(*Ask("GetInfo 8,\"module.optimize\",\"optimi.free\",")).Value("FreedMB"), "0");
  clock.Advance(kMinFreeIntervalMs);
  memory.FFailStatus = true;
  EXPECT_EQ(Ask("GetInfo 9,\"module.optimize\",\"optimi.free\",nocache=true"), "");
}

TEST_F(ServiceCoreTest, RequestsDuringAFreeingPassShareItsOutcome) {
  TBlockingMemoryPort slow;
  TServiceCore shared(slow, store, clock, log);
  const TRequest free = *ParseRequestLine("GetInfo 1,\"module.optimize\",\"optimi.free\",");
  std::optional<std::string> first, second;
  std::thread a([&] { first = shared.Handle(free, 1); });
  slow.WaitUntilFreeing();
  std::thread b([&] { second = shared.Handle(free, 2); });
  // b must be waiting for the running pass before it ends (bounded: a hang fails below).
  for (int i = 0; i < 5000 && shared.FreeSharers() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(shared.FreeSharers(), 1);
  slow.Release();
  a.join();
  b.join();
  EXPECT_EQ(slow.FFrees, 1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(TCommaList::Parse(*first).Value("FreedMB"), "256");
  clock.Advance(kMinFreeIntervalMs);
  EXPECT_EQ(TCommaList::Parse(*shared.Handle(free, 1)).Value("FreedMB"), "256");
  EXPECT_EQ(slow.FFrees, 2) << "a request after the pass and its interval runs its own";
}

TEST_F(ServiceCoreTest, FreeingPassesKeepTheirMinimumInterval) {
  const std::string free = "GetInfo 1,\"module.optimize\",\"optimi.free\",nocache=true";
  const auto first = Ask(free);
  ASSERT_EQ(memory.FFrees, 1);
  // 1000 requests in the 10 seconds after the pass: each gets the pass's outcome, none frees.
  for (int i = 1; i < 1000; ++i) {
    clock.Advance(kMinFreeIntervalMs / 1000);
    ASSERT_EQ(Ask(free), first) << i;
  }
  EXPECT_EQ(memory.FFrees, 1);
  EXPECT_EQ(core.FreePasses(), 1);
  clock.Advance(kMinFreeIntervalMs / 1000);  // 10 s after the pass
  EXPECT_EQ(TCommaList::Parse(*Ask(free)).Value("BeforeMB"), "4352") << "a new pass, measured anew";
  EXPECT_EQ(memory.FFrees, 2);

  // The schedule runs when due, the interval being long over by then.
  Ask("GetInfo 2,\"module.optimize\",\"optimi.free.setconf\",\"Enabled=-1,Period=5\"");
  clock.Advance(5 * 60000);
  EXPECT_TRUE(core.RunScheduleIfDue());
  EXPECT_EQ(memory.FFrees, 3);

  core.SetMinFreeIntervalMs(0);
  Ask(free);
  Ask(free);
  EXPECT_EQ(memory.FFrees, 5) << "the interval is a setting";
}

TEST_F(ServiceCoreTest, ScheduleIsSetKeptAndRefusedWhenInvalid) {
  const std::string get = "GetInfo 1,\"module.optimize\",\"optimi.free.getconf\",nocache=true";
  EXPECT_EQ(Ask(get), "Enabled=0,Period=60");
  EXPECT_EQ(Ask("GetInfo 2,\"module.optimize\",\"optimi.free.setconf\","
                "\"nocache=true,Enabled=-1,Period=5\""),
            "Enabled=-1,Period=5");
  EXPECT_EQ(store.FStored, (TSchedule{true, 5}));
  EXPECT_EQ(Ask(get), "Enabled=-1,Period=5");
  // a wrong period or boolean changes nothing
  for (const char* info : {"\"nocache=true,Enabled=-1,Period=45\"", "\"Enabled=maybe,Period=30\""})
    EXPECT_EQ(Ask(std::string("GetInfo 3,\"module.optimize\",\"optimi.free.setconf\",") + info), "");
  EXPECT_EQ(core.Schedule(), (TSchedule{true, 5}));
  // without a period item only Enabled changes
  EXPECT_EQ(Ask("GetInfo 4,\"module.optimize\",\"optimi.free.setconf\",\"nocache=true,Enabled=0\""),
            "Enabled=0,Period=5");
  store.FFailSave = true;
  EXPECT_EQ(Ask("GetInfo 5,\"module.optimize\",\"optimi.free.setconf\",\"Enabled=True,Period=30\""),
            "Enabled=-1,Period=30,Saved=0");
  EXPECT_EQ(core.Schedule(), (TSchedule{true, 30}));
}

TEST_F(ServiceCoreTest, StoredScheduleRunsEveryPeriod) {
  store.FStored = TSchedule{true, 30};
  TServiceCore restarted(memory, store, clock, log);
  restarted.Start();
  EXPECT_EQ(restarted.Schedule(), (TSchedule{true, 30}));
  clock.Advance(30 * 60000 - 1);
  EXPECT_FALSE(restarted.RunScheduleIfDue());
  clock.Advance(1);
  EXPECT_TRUE(restarted.RunScheduleIfDue());
  EXPECT_FALSE(restarted.RunScheduleIfDue());
  clock.Advance(30 * 60000);
  EXPECT_TRUE(restarted.RunScheduleIfDue());
  EXPECT_EQ(memory.FFrees, 2);
  // disabled: never runs
  EXPECT_TRUE(core.Schedule() == TSchedule{});
  clock.Advance(24 * 3600000);
  EXPECT_FALSE(core.RunScheduleIfDue());
}

TEST_F(ServiceCoreTest, UsageCountsTheSampledHistory) {
  for (uint32_t load : {65u, 85u, 30u}) {
    memory.SetLoad(load);
    core.Sample();
  }
  // Start took the first sample at load 50
  EXPECT_EQ(Ask("GetInfo 1,\"module.optimize\",\"optimize.memory.usage\",nocache=true"),
            "count=4,60=2,80=1");
  EXPECT_EQ(Ask("GetField 2,\"module.optimize\",\"optimize.memory.usage\",80"), "1");
  EXPECT_EQ(Ask("GetField 3,\"module.optimize\",\"optimi.free.getconf\",period"), "60");
  EXPECT_EQ(Ask("GetField 4,\"module.optimize\",\"optimi.free\",FreedMB"), "");
  EXPECT_EQ(memory.FFrees, 0) << "GetField never runs an action";
  EXPECT_EQ(Value("GetInfo 5,\"module.optimize\",\"optimize.memory.status\",", "TotalMB"), "8192");
}

TEST_F(ServiceCoreTest, UnknownRequestsGetAnEmptyAnswer) {
  EXPECT_EQ(Ask("Shutdown 1,"), "");
  EXPECT_EQ(Ask("GetInfo 2,\"module.other\",\"optimi.free\","), "");
  EXPECT_EQ(Ask("GetInfo 3,\"module.optimize\",\"no.such.item\","), "");
  EXPECT_EQ(Ask("GetInfo 4,"), "");
  EXPECT_EQ(memory.FFrees, 0);
}

TEST_F(ServiceCoreTest, AlertsAreEnabledRaisedAndWaitedFor) {
  EXPECT_EQ(Ask("AvaliableSensors 1,"), "memory.load,memory.available");
  EXPECT_EQ(Ask("IsAlertEnabled 2,\"memory.load\""), "False");
  EXPECT_EQ(Ask("EnableAlert 3,\"memory.load\",80,70"), std::nullopt);
  EXPECT_EQ(Ask("IsAlertEnabled 4,\"MEMORY.LOAD\""), "True");
  const std::string h = Ask("Subscribe 5,-1").value();
  EXPECT_EQ(Ask("Subscribe 6," + h), h) << "an own handle is kept";
  // nothing happens: the wait ends after its limit, on the injected clock
  const int64_t t0 = clock.NowMs();
  EXPECT_EQ(Ask("WaitAlert 7," + h), "0,0");
  EXPECT_EQ(clock.NowMs() - t0, kWaitAlertMs);

  memory.SetLoad(85);
  core.Sample();
  core.Sample();  // still alerting: no second event
  memory.SetLoad(75);
  core.Sample();  // between the levels: still active
  memory.SetLoad(60);
  core.Sample();  // below the re-arm level: cleared
  const std::string raised = Ask("WaitAlert 8," + h).value();
  const TCommaList list = TCommaList::Parse(raised);
  ASSERT_EQ(list.Count(), 3u) << raised;
  EXPECT_EQ(list.Items()[0], "1");
  EXPECT_EQ(list.Items()[1], "1") << "one more event waits";
  EXPECT_EQ(TCommaList::Parse(list.Items()[2]).Items(),
            (std::vector<std::string>{"Sensor=memory.load", "Value=85", "Level=80"}));
  EXPECT_EQ(TCommaList::Parse(Ask("WaitAlert 9," + h).value()).Items()[0], "2");

  EXPECT_EQ(Ask("DisableAlert 10,\"memory.load\""), std::nullopt);
  EXPECT_EQ(Ask("IsAlertEnabled 11,\"memory.load\""), "False");
}

TEST_F(ServiceCoreTest, AlertLevelsTakeThePointFormAndTheEarlierCommaForm) {
  EXPECT_EQ(Ask("EnableAlert 1,\"memory.available\",512,5,1024,25"), std::nullopt);
  const std::string h = Ask("Subscribe 2,0").value();
  memory.FStatus.AvailPhys = 512ull << 20;
  core.Sample();
  TCommaList list = TCommaList::Parse(Ask("WaitAlert 3," + h).value());
  EXPECT_EQ(TCommaList::Parse(list.Items()[2]).Value("Level"), "512.5");

  EXPECT_EQ(Ask("EnableAlert 4,\"memory.load\",0.5E2,4.25e1"), std::nullopt);
  memory.SetLoad(50);
  core.Sample();
  list = TCommaList::Parse(Ask("WaitAlert 5," + h).value());
  EXPECT_EQ(TCommaList::Parse(list.Items()[2]).Value("Sensor"), "memory.load");
  EXPECT_EQ(TCommaList::Parse(list.Items()[2]).Value("Level"), "50");
}

TEST_F(ServiceCoreTest, UnreadableAlertFormsAreRefusedAndChangeNothing) {
  const struct {
    const char* args;
    const char* answer;
  } cases[] = {
      {"\"cpu.heat\",1,1", "Refused=sensor"},
      {"", "Refused=sensor"},
      {"\"memory.load\",80", "Refused=form"},
      {"\"memory.load\",80,5,70", "Refused=form"},  // 80.5 and 70, or 80 and 5.70?
      {"\"memory.load\",80,x,70,5", "Refused=form"},
      {"\"memory.load\",80,5,70,5,1", "Refused=form"},
      {"\"memory.load\",x,1", "Refused=level"},
      {"\"memory.load\",\"80,5\",70", "Refused=level"},  // one item with a comma inside
      {"\"memory.load\",80,inf", "Refused=rearm"},
      {"\"memory.load\",1e999,70", "Refused=level"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ask(std::string("EnableAlert 9,") + c.args), c.answer) << c.args;
    EXPECT_EQ(Ask("IsAlertEnabled 10,\"memory.load\""), "False") << c.args;
  }
}

TEST_F(ServiceCoreTest, SubscriptionsBelongToTheirConnection) {
  const int a = core.OpenSession(), b = core.OpenSession();
  const std::string h = core.Handle(*ParseRequestLine("Subscribe 1,0"), a).value();
  EXPECT_EQ(core.Handle(*ParseRequestLine("WaitAlert 2," + h), b), "-1,0");
  EXPECT_NE(core.Handle(*ParseRequestLine("Subscribe 3," + h), b), h);
  core.Handle(*ParseRequestLine("Unsubscribe 4," + h), b);  // not b's: stays
  EXPECT_EQ(core.Handle(*ParseRequestLine("Subscribe 5," + h), a), h);
  core.CloseSession(a);
  EXPECT_EQ(core.Handle(*ParseRequestLine("WaitAlert 6," + h), a), "-1,0");
  for (size_t i = 0; i < kMaxSubscriptionsPerClient; ++i)
    core.Handle(*ParseRequestLine("Subscribe 7,0"), a);
  EXPECT_EQ(core.Handle(*ParseRequestLine("Subscribe 8,0"), a), "-1");
}

class ClientSessionTest : public ServiceCoreTest {
 protected:
  TDropReason Send(std::string_view data) {
    return session.Receive(data, [&](std::string_view a) {
      answers += a;
      return true;
    });
  }
  TClientSession session{core, clock};
  std::string answers;
};

TEST_F(ClientSessionTest, AnswersEachLineWithItsNumber) {
  EXPECT_EQ(Send("AvaliableSensors 0,\r\n\r\nGetInfo 1,\"module.optimize\",\"optimi.free.getconf\",noc"),
            TDropReason::None);
  EXPECT_EQ(Send("ache=true\r\nDisableAlert 2,\"memory.load\"\r\nSubscribe 3,x\r\n"),
            TDropReason::None);
  EXPECT_EQ(answers, "0,memory.load,memory.available\n1,Enabled=0,Period=60\n3,1\n");
}

TEST_F(ClientSessionTest, DropsGarbageButAnswersWhatCameBefore) {
  EXPECT_EQ(Send("Subscribe 1,0\r\n\x01\x02garbage\r\nSubscribe 2,0\r\n"), TDropReason::Malformed);
  EXPECT_EQ(answers, "1,1\n");
}

TEST_F(ClientSessionTest, QuietConnectionsStayAndOnlyUnfinishedLinesExpire) {
  const int64_t limit = TServerLimits().UnfinishedLineMs;
  clock.Advance(24 * 3600000);
  EXPECT_FALSE(session.Expired()) << "a connection that never spoke is not dropped for it";

  TClientSession talker(core, clock);
  auto sink = [](std::string_view) { return true; };
  talker.Receive("Subscribe 1,0\n", sink);
  EXPECT_TRUE(talker.Spoken());
  EXPECT_EQ(talker.LastRequestMs(), clock.NowMs());
  clock.Advance(24 * 3600000);
  EXPECT_FALSE(talker.Expired()) << "a client that has spoken may stay idle";
  talker.Receive("Subscribe 2,", sink);
  clock.Advance(limit / 2);
  talker.Receive("0", sink);  // more of the same line does not renew its time
  EXPECT_EQ(talker.UnfinishedBytes(), 13u);
  clock.Advance(limit / 2 - 1);
  EXPECT_FALSE(talker.Expired());
  clock.Advance(1);
  EXPECT_TRUE(talker.Expired()) << "a line begun and never ended";

  TClientSession shortLimit(core, clock, 50);
  shortLimit.Receive("Sub", sink);
  clock.Advance(50);
  EXPECT_TRUE(shortLimit.Expired()) << "the limit is the session's setting";
}

TEST_F(ClientSessionTest, RequestsAreTakenOneAtATime) {
  TClientSession s(core, clock);
  EXPECT_EQ(s.Feed("Subscribe 1,0\r\n\r\nWaitAlert 2,1\r\nGarbage\r\nSub"), TDropReason::None);
  std::optional<TRequest> r;
  ASSERT_EQ(s.NextRequest(r), TDropReason::None);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Seq, 1);
  ASSERT_EQ(s.NextRequest(r), TDropReason::None);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Command, "WaitAlert");
  EXPECT_TRUE(s.HasLines());
  EXPECT_EQ(s.NextRequest(r), TDropReason::Malformed);
  EXPECT_FALSE(s.HasLines());
  EXPECT_EQ(s.NextRequest(r), TDropReason::None);
  EXPECT_FALSE(r) << "the unfinished line waits";
}

TEST_F(ClientSessionTest, HeldBytesCountEveryBufferAndEmptiedOnesAreGivenBack) {
  TClientSession s(core, clock);
  EXPECT_EQ(s.Feed(std::string(16384, '\n')), TDropReason::None);
  EXPECT_FALSE(s.HasLines());
  EXPECT_EQ(s.HeldBytes(), 0u) << "line ends cost nothing, not even list capacity";
  EXPECT_EQ(s.Feed(std::string(16384, '\n') + "Subscribe 1,0\nSubscribe 2,0\n"), TDropReason::None);
  EXPECT_GE(s.HeldBytes(), 2 * sizeof(std::string)) << "the list counts by its capacity";
  const std::string longLine = "Subscribe 3," + std::string(100000, '0');
  EXPECT_EQ(s.Feed(longLine.substr(0, 60000)), TDropReason::None);
  EXPECT_GE(s.HeldBytes(), 60000u) << "the unfinished line's buffer";
  EXPECT_EQ(s.Feed(longLine.substr(60000) + "\n"), TDropReason::None);
  EXPECT_GE(s.HeldBytes(), longLine.size());
  std::optional<TRequest> r;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(s.NextRequest(r), TDropReason::None);
    ASSERT_TRUE(r);
  }
  EXPECT_EQ(s.HeldBytes(), 0u) << "every buffer given back once its lines are taken";
}

TEST(SlotPolicy, DropsTheNeverSpokenThenTheLongQuietAndRecentSpeakersLast) {
  const TServerLimits limits;
  const int64_t now = 10000000;
  const int64_t recent = now - limits.RecentRequestMs + 1, old = now - limits.RecentRequestMs;
  using S = TSlotState;
  const struct {
    const char* name;
    std::vector<TSlotState> slots;
    size_t drop;
  } cases[] = {
      {"never spoke goes before any speaker",
       {S{1, true, old - 5, 0}, S{now - 1, false, 0, 0}, S{2, true, recent, 0}}, 1},
      {"the oldest silent one", {S{5, false, 0, 0}, S{3, false, 0, 0}, S{4, false, 0, 0}}, 1},
      {"the longest unfinished line before the oldest",
       {S{3, false, 0, 0}, S{9, false, 0, 700}, S{8, false, 0, 20}}, 1},
      {"a long-quiet speaker before a recent one", {S{1, true, recent, 0}, S{9, true, old, 0}}, 1},
      {"the longest quiet among long-quiet speakers",
       {S{1, true, old, 0}, S{9, true, old - 100, 0}, S{5, true, old - 50, 0}}, 1},
      {"only recent speakers: the longest quiet",
       {S{1, true, now, 0}, S{2, true, recent, 0}, S{3, true, now - 5, 0}}, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PickConnectionToDrop(c.slots, now, limits), c.drop) << c.name;
}

TEST(SlotPolicy, AProcessWithFewConnectionsKeepsThemWhileAnotherHoldsMore) {
  const TServerLimits limits;
  const int64_t now = 10000000;
  const int64_t old = now - limits.RecentRequestMs - 1000;
  auto slots = [&](uint32_t owner, int n, bool spoken, int64_t last) {
    std::vector<TSlotState> v;
    for (int i = 0; i < n; ++i) v.push_back({now - 100 + i, spoken, last + i, 0, owner});
    return v;
  };
  auto join = [](std::vector<std::vector<TSlotState>> parts) {
    std::vector<TSlotState> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const struct {
    const char* name;
    std::vector<TSlotState> slots;
    uint32_t owner;  // whose connection goes
  } cases[] = {
      // The application: one connection, spoke long ago; the other process spoke just now.
      {"one quiet connection stays beside dozens of busy ones",
       join({slots(7, 1, true, old), slots(9, 30, true, now - 50)}), 9},
      {"two never-spoken ones stay beside dozens that spoke",
       join({slots(7, 2, false, 0), slots(9, 24, true, now)}), 9},
      {"the process with the most, of three",
       join({slots(5, 10, true, now), slots(7, 2, true, old), slots(9, 12, true, now)}), 9},
      {"connections of unknown processes count as one more process",
       join({slots(7, 1, true, old), slots(9, 3, true, now), slots(0, 40, true, now)}), 0},
      {"all unknown: the order within one process",
       join({slots(0, 3, true, now), slots(0, 1, true, old)}), 0},
  };
  for (const auto& c : cases) {
    const size_t drop = PickConnectionToDrop(c.slots, now, limits);
    ASSERT_LT(drop, c.slots.size()) << c.name;
    EXPECT_EQ(c.slots[drop].Owner, c.owner) << c.name;
  }
  // Within the process that gives one up, the order stays: its longest-quiet one.
  const auto mixed = join({slots(7, 1, true, old), slots(9, 3, true, now), slots(9, 1, true, old)});
  EXPECT_EQ(PickConnectionToDrop(mixed, now, limits), 4u);
}

TEST(SlotPolicy, EachKnownProcessIsCappedByItsOwnLongestQuiet) {
  const TServerLimits limits;
  const int64_t now = 10000000;
  std::vector<TSlotState> slots;
  for (int i = 0; i < 70; ++i) slots.push_back({i, true, now - 70 + i, 0, 9});  // 0 quiet longest
  slots.push_back({0, true, 0, 0, 7});
  for (int i = 0; i < 100; ++i) slots.push_back({i, true, now, 0, 0});  // unknown: never capped
  std::vector<size_t> over = ConnectionsOverProcessCap(slots, now, limits, 64);
  std::sort(over.begin(), over.end());
  EXPECT_EQ(over, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(ConnectionsOverProcessCap(slots, now, limits, 70).empty());
}

TEST(SubscriptionHandles, StayPositiveSigned32BitNumbers) {
  EXPECT_EQ(NextSubscriptionHandle(1), 2);
  EXPECT_EQ(NextSubscriptionHandle(2147483646), 2147483647);
  EXPECT_EQ(NextSubscriptionHandle(2147483647), 1) << "no overflow into negative numbers";
  EXPECT_EQ(NextSubscriptionHandle(0), 1);
}

TEST_F(ServiceCoreTest, AClientCannotFloodTheLog) {
  const size_t before = log.FLines.size();
  auto linesWith = [&](const std::string& text) {
    size_t n = 0;
    for (size_t i = before; i < log.FLines.size(); ++i) n += log.FLines[i].find(text) != std::string::npos;
    return n;
  };
  for (int i = 0; i < 5000; ++i) {
    Ask("Shutdown " + std::to_string(i) + ",", 1);
    Ask("EnableAlert " + std::to_string(i) + ",\"cpu.heat\",1,2", 1);
  }
  EXPECT_EQ(linesWith("unknown command"), 1u) << "one line per kind and second from a connection";
  EXPECT_EQ(linesWith("EnableAlert Refused=sensor"), 1u);
  clock.Advance(kClientLogWindowMs);
  core.FlushLogSummaries();
  EXPECT_EQ(linesWith("4999 such lines"), 2u) << "the rest counted into one summary each";

  // Many connections, one line each: a few a second are written, the rest counted.
  clock.Advance(kClientLogWindowMs);
  const size_t mark = log.FLines.size();
  for (int session = 100; session < 300; ++session) Ask("Shutdown 1,", session);
  EXPECT_EQ(log.FLines.size() - mark, size_t(kClientLogLinesPerWindow));
  clock.Advance(kClientLogWindowMs);
  core.FlushLogSummaries();
  EXPECT_EQ(linesWith(std::to_string(200 - kClientLogLinesPerWindow) + " further line(s)"), 1u);

  // What a connection had counted is written when it closes.
  clock.Advance(kClientLogWindowMs);
  {
    TClientSession s(core, clock);
    auto sink = [](std::string_view) { return true; };
    s.Receive("Nope 1,\nNope 2,\nNope 3,\n", sink);
  }
  EXPECT_EQ(linesWith("2 such lines of this connection in all"), 1u);
}

TEST_F(ServiceCoreTest, AlertQueuesOfAllSubscriptionsStayBounded) {
  Ask("EnableAlert 1,\"memory.load\",80,70");
  const int sessions = 400;  // 3200 subscriptions
  for (int s = 1; s <= sessions; ++s)
    for (int i = 0; i < int(kMaxSubscriptionsPerClient); ++i) Ask("Subscribe 1,x", s);
  for (int i = 0; i < 40; ++i) {
    memory.SetLoad(i % 2 ? 10 : 90);  // raised and cleared in turn: an event every sample
    core.Sample();
  }
  EXPECT_LE(core.QueuedEvents(), kMaxQueuedEventsTotal);
  EXPECT_GE(core.QueuedEvents(), size_t(sessions) * kMaxSubscriptionsPerClient)
      << "each queue keeps at least its newest event";
  const auto answer = Ask("WaitAlert 1,1", 1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->substr(0, 2), "2,") << "the oldest event kept, a clear";
}

