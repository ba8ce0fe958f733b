#include "service/tcpClient.h"

#include "fakes/FakeClock.h"
#include "fakes/FakePump.h"
#include "fakes/FakeServicePorts.h"
#include "fakes/FakeTransport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <limits>

namespace {

// Read before any test runs: the counter's value at program start.
const int32_t kSeqAtProgramStart = gRequestSeq;

class TcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { gRequestSeq = 0; }

  // A client over a fresh fake transport; connected unless told otherwise.
  std::shared_ptr<TtcpServOpr> MakeClient(bool connected = true) {
    auto transport = std::make_unique<TFakeTransport>(FClock);
    FTransport = transport.get();
    auto client = std::make_shared<TtcpServOpr>(
        "127.0.0.1", false, FakeLinkPorts(std::move(transport), FLock, FClock, FPump, FUi));
    if (connected) client->SetConnected(true);
    return client;
  }

  // One GetInfo on a fresh client whose service sends lines (all at once); the info afterwards.
  std::string GetInfoWith(int32_t seq, const std::vector<std::string>& lines) {
    FKept = MakeClient();  // keeps the transport for the checks afterwards
    auto& client = FKept;
    gRequestSeq = seq;
    for (const auto& l : lines) FTransport->Send(l);
    std::string info = "nocache=true";
    client->GetInfo("module.optimize", "optimi.free.getconf", info);
    return info;
  }

  TFakeClock FClock;
  TFakePump FPump;
  TFakeServiceLock FLock;
  TFakeServiceUi FUi;
  TFakeTransport* FTransport = nullptr;
  std::shared_ptr<TtcpServOpr> FKept;
};

TEST(TcpClientProcess, FirstRequestOfTheProcessCarriesZero) { EXPECT_EQ(kSeqAtProgramStart, 0); }

TEST_F(TcpClientTest, WritesEachOperationsRequestLine) {
  using TOp = std::function<void(TtcpServOpr&)>;
  const struct {
    const char* name;
    TOp op;
    const char* line;
  } cases[] = {
      {"optimize", [](TtcpServOpr& c) { std::string i = "nocache=true"; c.GetInfo("module.optimize", "optimi.free", i); },
       R"(GetInfo 0,"module.optimize","optimi.free",nocache=true)"},
      {"empty info", [](TtcpServOpr& c) { std::string i; c.GetInfo("m", "i", i); }, R"(GetInfo 0,"m","i",)"},
      {"info with commas",
       [](TtcpServOpr& c) { std::string i = "nocache=true,Enabled=-1,Period=5"; c.GetInfo("module.optimize", "optimi.free.setconf", i); },
       R"(GetInfo 0,"module.optimize","optimi.free.setconf","nocache=true,Enabled=-1,Period=5")"},
      {"sensors", [](TtcpServOpr& c) { std::string s; c.AvaliableSensors(s); }, "AvaliableSensors 0,"},
      // Ids and names go between quotes unescaped; the field goes as it is.
      {"disable", [](TtcpServOpr& c) { c.DisableAlert("a\"b"); }, R"(DisableAlert 0,"a"b")"},
      {"enable", [](TtcpServOpr& c) { c.EnableAlert("load", 0.5f, 80.0f); }, R"(EnableAlert 0,"load",0.5,80)"},
      {"field", [](TtcpServOpr& c) { c.GetField("m", "i", "a b,c"); }, R"(GetField 0,"m","i",a b,c)"},
      {"enabled?", [](TtcpServOpr& c) { int16_t e; c.IsAlertEnabled("load", e); }, R"(IsAlertEnabled 0,"load")"},
      {"subscribe", [](TtcpServOpr& c) { int32_t h = -5; c.Subscribe(h); }, "Subscribe 0,-5"},
      {"unsubscribe", [](TtcpServOpr& c) { c.Unsubscribe(9); }, "Unsubscribe 0,9"},
      {"wait alert", [](TtcpServOpr& c) { int32_t code; uint8_t f; std::string t; c.WaitAlert(3, code, f, t); }, "WaitAlert 0,3"},
  };
  for (const auto& c : cases) {
    gRequestSeq = 0;
    auto client = MakeClient();
    c.op(*client);
    ASSERT_EQ(FTransport->Sent.size(), 1u) << c.name;
    EXPECT_EQ(FTransport->Sent[0], c.line) << c.name;
    EXPECT_EQ(FLock.Depth, 0) << c.name;
  }
  EXPECT_EQ(FLock.Acquired, static_cast<int>(std::size(cases)));
}

TEST_F(TcpClientTest, ALockThatCannotBeHadLetsTheRequestGoOnWithoutIt) {
  FLock.Unavailable = true;
  const std::string info = GetInfoWith(4, {"4,Enabled=0,Period=60"});
  EXPECT_EQ(info, "Enabled=0,Period=60");
  const std::vector<std::string> sent = {
      R"(GetInfo 4,"module.optimize","optimi.free.getconf",nocache=true)"};
  EXPECT_EQ(FTransport->Sent, sent);
  EXPECT_EQ(FLock.Released, 0) << "nothing to give back";
  EXPECT_TRUE(FUi.Shown.empty());
}

TEST_F(TcpClientTest, OperationsThatDoNotWaitConsumeANumberAndTheirAnswerIsSkipped) {
  auto client = MakeClient();
  client->DisableAlert("a");
  client->EnableAlert("a", 1, 2);
  client->Unsubscribe(4);
  FTransport->Send("0,ack");
  FTransport->Send("2,ack");
  FTransport->Send("3,new");
  std::string info = "x";
  client->GetInfo("m", "i", info);
  EXPECT_EQ(info, "new");
  EXPECT_EQ(FTransport->Sent.back(), R"(GetInfo 3,"m","i",x)");
  EXPECT_EQ(gRequestSeq, 4);
  EXPECT_EQ(FTransport->ReadTimeouts, (std::vector<uint32_t>{10000, 10000, 10000}));
}

TEST_F(TcpClientTest, PicksTheLineThatAnswersTheRequest) {
  const struct {
    int32_t seq;
    std::vector<std::string> lines;
    const char* answer;
  } cases[] = {
      {1, {"12,foreign", "1,mine"}, "mine"},
      {1, {"", "", "1,mine"}, "mine"},
      {1, {"1"}, ""},  // the number alone: an empty answer, the wait is over
      {1, {"x1,no", "01,no", "1,Enabled=True,Period=30"}, "Enabled=True,Period=30"},
      {12, {"1,no", "123,no", "12,yes"}, "yes"},
      {7, {"7,"}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetInfoWith(c.seq, c.lines), c.answer) << c.lines.back();
    EXPECT_TRUE(FTransport->Incoming.empty()) << c.lines.back();
  }
}

TEST_F(TcpClientTest, ABareNumberEndsTheWaitAtOnce) {
  EXPECT_EQ(GetInfoWith(1, {"1", "1,later"}), "");
  EXPECT_EQ(FTransport->Incoming.size(), 1u);
}

TEST_F(TcpClientTest, GivesUpAtTheFirstReadEndingTwentyWholeSecondsAfterTheStart) {
  const struct {
    const char* name;
    std::vector<std::pair<int64_t, std::string>> lines;  // delay after the previous one, text
    std::string answer;
    int64_t elapsedMs;
    size_t reads;
  } cases[] = {
      {"silent", {}, "", 20000, 2},
      {"answer just in time", {{19999, "0,ok"}}, "ok", 19999, 2},
      {"matching answer at 20 s is a time-out", {{10000, "5,x"}, {10000, "0,ok"}}, "", 20000, 2},
      // Foreign lines every 9 s: the reads end at 9, 18 and 27 s.
      {"foreign traffic", {{9000, "5,x"}, {9000, "5,x"}, {9000, "5,x"}, {9000, "0,ok"}}, "", 27000, 3},
  };
  for (const auto& c : cases) {
    gRequestSeq = 0;
    auto client = MakeClient();
    for (const auto& [after, text] : c.lines) FTransport->Send(text, after);
    const int64_t start = FClock.NowMs();
    std::string info = "nocache=true";
    EXPECT_NO_THROW(client->GetInfo("m", "i", info)) << c.name;
    EXPECT_EQ(info, c.answer) << c.name;
    EXPECT_EQ(FClock.NowMs() - start, c.elapsedMs) << c.name;
    EXPECT_EQ(FTransport->ReadTimeouts.size(), c.reads) << c.name;
    EXPECT_FALSE(FUi.Terminations) << c.name;
  }
}

TEST_F(TcpClientTest, ProcessesMessagesAfterEveryFourthRead) {
  auto client = MakeClient();
  for (int i = 0; i < 8; ++i) FTransport->Send("5,foreign");
  FTransport->Send("0,ok");  // the ninth read
  std::vector<size_t> readsAtPump;
  FPump.OnPump = [&] { readsAtPump.push_back(FTransport->ReadTimeouts.size()); };
  std::string info = "x";
  client->GetInfo("m", "i", info);
  EXPECT_EQ(info, "ok");
  EXPECT_EQ(readsAtPump, (std::vector<size_t>{4, 8}));
  EXPECT_EQ(FClock.Sleeps, (std::vector<uint32_t>{10, 10}));
}

TEST_F(TcpClientTest, DecodesTheAnswersOfTheTypedOperations) {
  const struct {
    const char* answer;
    int16_t enabled;
    int32_t handle;
  } cases[] = {
      {"True", -1, -1}, {"fALSE", 0, -1}, {"1", -1, 1},   {"0", 0, 0},      {"-3", -1, -3},
      {"2.5", -1, -1},  {"0.0", 0, -1},   {"yes", 0, -1}, {"", 0, -1},      {"42x", 0, -1},
      {"99999999999", -1, -1},
  };
  for (const auto& c : cases) {
    auto client = MakeClient();
    gRequestSeq = 0;
    FTransport->Send(std::string("0,") + c.answer);
    FTransport->Send(std::string("1,") + c.answer);
    int16_t enabled = 5;
    client->IsAlertEnabled("load", enabled);
    int32_t handle = 7;
    client->Subscribe(handle);
    EXPECT_EQ(enabled, c.enabled) << c.answer;
    EXPECT_EQ(handle, c.handle) << c.answer;
  }
}

TEST_F(TcpClientTest, ReadsAnAlertFromItsCommaList) {
  const struct {
    const char* answer;
    int32_t code;
    uint8_t flag;
    const char* text;
  } cases[] = {
      {R"(5,300,"line1,line2")", 5, 44, "line1\r\nline2\r\n"},
      {R"(5,1,"two words")", 5, 1, "two\r\nwords\r\n"},  // the inner list splits at blanks too
      {"7,1", 7, 1, ""},
      {"", -1, 0, ""},
      {"x,y,z", -1, 0, "z\r\n"},
      {R"(2,-1,"""a b"",c")", 2, 255, "a b\r\nc\r\n"},
  };
  for (const auto& c : cases) {
    auto client = MakeClient();
    gRequestSeq = 0;
    FTransport->Send(std::string("0,") + c.answer);
    int32_t code = 99;
    uint8_t flag = 99;
    std::string text = "old";
    client->WaitAlert(1, code, flag, text);
    EXPECT_EQ(code, c.code) << c.answer;
    EXPECT_EQ(flag, c.flag) << c.answer;
    EXPECT_EQ(text, c.text) << c.answer;
  }
}

TEST_F(TcpClientTest, ConnectsOnceWhenNotConnectedAndPassesItsErrorOn) {
  auto client = MakeClient(false);
  FTransport->Accepting = false;
  std::string info = "keep";
  std::string sensors = "old";
  EXPECT_THROW(client->GetInfo("m", "i", info), Exception);
  EXPECT_THROW(client->AvaliableSensors(sensors), Exception);
  EXPECT_EQ(info, "keep");
  EXPECT_EQ(sensors, "");
  EXPECT_EQ(FTransport->ConnectCalls, 2);
  EXPECT_TRUE(FTransport->Sent.empty());
  EXPECT_EQ(gRequestSeq, 0);
  EXPECT_EQ(FLock.Acquired, 0);

  FTransport->Accepting = true;
  FTransport->Send("0,fresh");
  client->GetInfo("m", "i", info);
  EXPECT_EQ(info, "fresh");
  EXPECT_EQ(FTransport->LastHost, "127.0.0.1");
  EXPECT_EQ(FTransport->LastPort, 2804);
}

TEST_F(TcpClientTest, ShowsTheLossOnceHoweverManyEventsReportIt) {
  FUi.Translations = [](const std::string& section, const std::string& text) {
    return section == "TcpClient" ? "[" + text + "]" : text;
  };
  auto client = MakeClient();
  int nestedInsideBox = 0;
  FUi.OnShow = [&] {  // a timer tick inside the modal box sends a request of its own
    std::string answer;
    client->Request("GetInfo", "", true, answer);
    ++nestedInsideBox;
  };
  FTransport->CloseAfter(500);  // noticed by the read: status and disconnect events both fire
  std::string info = "nocache=true";
  client->GetInfo("m", "i", info);
  EXPECT_EQ(info, "");
  EXPECT_TRUE(client->LostReported());
  EXPECT_EQ(nestedInsideBox, 1);

  FTransport->Accepting = false;
  EXPECT_FALSE(client->IsConnected());
  std::string answer = "x";
  client->Request("GetInfo", "", true, answer);  // finds no connection: reports again
  EXPECT_EQ(answer, "");
  FTransport->Lose();

  ASSERT_EQ(FUi.Shown.size(), 1u);
  EXPECT_EQ(FUi.Terminations, 1);
  const auto& shown = FUi.Shown[0];
  EXPECT_EQ(shown.Caption, "Quor eBrisko Management");
  EXPECT_EQ(shown.Title, "[Service stopped]");
  EXPECT_EQ(shown.Text, "[Can not connect to service. Application will be terminated!]");
  EXPECT_EQ(shown.Icon, MessageBoxIcon::Error);
  EXPECT_EQ(shown.Buttons, MessageBoxButtons::OK);
}

TEST_F(TcpClientTest, AReplacedHandlerHearsEveryLossWithTheClientAsSender) {
  auto client = MakeClient();
  std::vector<IServiceLink*> senders;
  client->SetOnServiceLost([&](IServiceLink* sender) { senders.push_back(sender); });
  FTransport->FailSends = true;
  std::string info = "keep";
  client->GetInfo("m", "i", info);  // the send fails: loss, empty answer, no error
  EXPECT_EQ(info, "");
  EXPECT_EQ(senders, (std::vector<IServiceLink*>{client.get(), client.get()}));
  EXPECT_FALSE(client->LostReported());
  EXPECT_TRUE(FUi.Shown.empty());
}

TEST_F(TcpClientTest, IsConnectedPollsOneMillisecondAndNoticesAClose) {
  auto client = MakeClient();
  EXPECT_TRUE(client->IsConnected());
  FTransport->CloseAfter(1);
  EXPECT_FALSE(client->IsConnected());
  EXPECT_EQ(FTransport->PollsMs.back(), 1u);
  EXPECT_EQ(FUi.Shown.size(), 1u);
}

TEST_F(TcpClientTest, ALineOverTheLimitEndsOnlyItsRequest) {
  auto client = MakeClient();
  FTransport->SendTooLong();
  FTransport->Send("1,next");
  std::string first = "a", second = "b";
  client->GetInfo("m", "i", first);
  client->GetInfo("m", "i", second);
  EXPECT_EQ(first, "");
  EXPECT_EQ(second, "next");
  EXPECT_TRUE(FUi.Shown.empty());
  EXPECT_EQ(FLock.Depth, 0);
}

TEST_F(TcpClientTest, ARequestInsideTheWaitRunsToItsEndAndTheOuterOneTimesOut) {
  auto client = MakeClient();
  for (int i = 0; i < 4; ++i) FTransport->Send("9,foreign");  // the fourth read pumps
  FTransport->Send("0,outer");  // read by the inner request, which skips it
  FTransport->Send("1,inner");
  std::string inner;
  int lockDepthInside = 0;
  bool pumped = false;
  FPump.OnPump = [&] {
    if (pumped) return;
    pumped = true;
    lockDepthInside = FLock.Depth + 1;
    inner = "nocache=true";
    client->GetInfo("m", "inner", inner);
  };
  std::string outer = "nocache=true";
  client->GetInfo("m", "outer", outer);
  EXPECT_EQ(inner, "inner");
  EXPECT_EQ(outer, "");
  EXPECT_EQ(lockDepthInside, 2);
  EXPECT_EQ(FLock.Depth, 0);
  EXPECT_EQ(FLock.Acquired, FLock.Released);
}

TEST_F(TcpClientTest, TheLossIsShownOnlyOnceTheRequestLockIsGivenBack) {
  // Another client of the lock must not wait for the user to close the box.
  std::vector<int> depthsAtShow;
  FUi.OnShow = [&] { depthsAtShow.push_back(FLock.Depth); };
  const struct {
    const char* name;
    std::function<void(TtcpServOpr&)> loseInside;
  } cases[] = {
      {"closed while the answer is awaited",
       [&](TtcpServOpr& c) {
         FTransport->CloseAfter(500);
         std::string info = "nocache=true";
         c.GetInfo("m", "i", info);
       }},
      {"the send fails",
       [&](TtcpServOpr& c) {
         FTransport->FailSends = true;
         std::string info;
         c.GetInfo("m", "i", info);
       }},
      {"found by a request nested inside another's wait",
       [&](TtcpServOpr& c) {
         for (int i = 0; i < 4; ++i) FTransport->Send("9,foreign");  // the fourth read pumps
         FPump.OnPump = [&] {
           if (!FTransport->IsUp) return;  // once: the loss is in
           FTransport->Lose();
           std::string answer;
           c.Request("GetInfo", "", true, answer);
         };
         std::string info = "nocache=true";
         c.GetInfo("m", "outer", info);
       }},
  };
  for (const auto& k : cases) {
    depthsAtShow.clear();
    FUi.Shown.clear();
    auto client = MakeClient();
    k.loseInside(*client);
    EXPECT_EQ(FUi.Shown.size(), 1u) << k.name;
    EXPECT_EQ(depthsAtShow, std::vector<int>{0}) << k.name;
    EXPECT_EQ(FLock.Depth, 0) << k.name;
  }
}

TEST_F(TcpClientTest, ReleasingTheLastReferenceDisconnectsWithoutReportingALoss) {
  auto client = MakeClient();
  std::weak_ptr<TtcpServOpr> weak = client;
  TFakeTransport* transport = FTransport;
  EXPECT_TRUE(transport->IsUp);
  client.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(FUi.Shown.empty());
}

TEST_F(TcpClientTest, TheCounterStartsAgainAtZeroInsteadOfOverflowing) {
  auto client = MakeClient();
  gRequestSeq = std::numeric_limits<int32_t>::max();
  client->Unsubscribe(1);
  client->Unsubscribe(2);
  EXPECT_EQ(FTransport->Sent[0], "Unsubscribe 2147483647,1");
  EXPECT_EQ(FTransport->Sent[1], "Unsubscribe 0,2");
}

TEST(TcpClientText, FormatsNumbersForTheWire) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.5, "0.5"},         {80, "80"},          {-2.25, "-2.25"},  {0, "0"},
      {0.1f, "0.100000001490116"},  {1e20, "1E20"}, {1.5e-7, "1.5E-7"}, {0.0001, "0.0001"},
      {123456789012345.0, "123456789012345"}, {1234567890123456.0, "1.23456789012346E15"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatServiceFloat(c.value), c.text) << c.text;
}

TEST(TcpClientText, KeepsThePointWhereTheLocaleWritesAComma) {
  const char* names[] = {"de_DE.UTF-8", "de_DE", "German_Germany.1252", "de-DE"};
  const char* found = nullptr;
  for (const char* n : names)
    if ((found = std::setlocale(LC_NUMERIC, n)) != nullptr) break;
  if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma here";
  const std::string text = FormatServiceFloat(2.5);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(text, "2.5");
}

TEST(TcpClientText, SplitsLinesAndDropsThoseOverTheLimit) {
  TLineBuffer buffer(5);
  buffer.Append("ab\r\ncd\nx\ry\n\n12345\r\n");
  EXPECT_EQ(buffer.TakeLine(), "ab");
  EXPECT_EQ(buffer.TakeLine(), "cd");
  EXPECT_EQ(buffer.TakeLine(), "x\ry");
  EXPECT_EQ(buffer.TakeLine(), "");
  EXPECT_EQ(buffer.TakeLine(), "12345");  // exactly the limit, CR not counted
  EXPECT_EQ(buffer.TakeLine(), std::nullopt);

  buffer.Append("par");
  EXPECT_EQ(buffer.TakeLine(), std::nullopt);
  buffer.Append("t\n123456\nok\n");
  EXPECT_EQ(buffer.TakeLine(), "part");
  EXPECT_THROW(buffer.TakeLine(), ELineTooLong);
  EXPECT_EQ(buffer.TakeLine(), "ok");

  // Too long before its end has come: refused once, the rest up to its LF is dropped.
  buffer.Append("1234567");
  EXPECT_THROW(buffer.TakeLine(), ELineTooLong);
  buffer.Append("890");
  EXPECT_EQ(buffer.TakeLine(), std::nullopt);
  buffer.Append("tail\r\nnext\n");
  EXPECT_EQ(buffer.TakeLine(), "next");
}

TEST(TcpClientText, TheRealLimitIsThreeHundredThousandCharacters) {
  TLineBuffer buffer;
  buffer.Append(std::string(kMaxAnswerLine, 'a') + "\r\n" + std::string(kMaxAnswerLine + 1, 'b') + "\n");
  EXPECT_EQ(buffer.TakeLine()->size(), 300000u);
  EXPECT_THROW(buffer.TakeLine(), ELineTooLong);
}

}  // namespace
