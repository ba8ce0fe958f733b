#include "service/tcpClient.h"

#include "common/ResStrings.h"
#include "common/TextUtil.h"
#include "service/CommaList.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

int32_t gRequestSeq = 0;

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Takes the next number and advances the counter; past the largest value it starts again at 0
// instead of overflowing into numbers the service would not expect.
int32_t TakeSequenceNumber() noexcept {
  const int32_t n = gRequestSeq;
  gRequestSeq = (n == std::numeric_limits<int32_t>::max()) ? 0 : n + 1;
  return n;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Holds the request lock for one exchange, when it could be had.
class TLockHold {
 public:
  explicit TLockHold(IRequestLock& lock) : FLock(lock), FHeld(lock.Acquire()) {}
  ~TLockHold() {
    if (FHeld) FLock.Release();
  }
  TLockHold(const TLockHold&) = delete;
  TLockHold& operator=(const TLockHold&) = delete;

 private:
  IRequestLock& FLock;
  bool FHeld;
};

}  // namespace

// ---- TLineBuffer

void TLineBuffer::Append(std::string_view bytes) { FData.append(bytes); }

void TLineBuffer::Clear() noexcept {
  FData.clear();
  FScanned = 0;
  FDropping = false;
}

std::optional<std::string> TLineBuffer::TakeLine() {
  for (;;) {
    const size_t lf = FData.find('\n', FScanned);
    if (lf == std::string::npos) {
      FScanned = FData.size();
      if (FDropping) {
        FData.clear();
        FScanned = 0;
        return std::nullopt;
      }
      // Even with a CR to come, more than the limit plus one pending character is too long.
      if (FData.size() > FMaxLine + 1) {
        FData.clear();
        FScanned = 0;
        FDropping = true;
        throw ELineTooLong("Answer line longer than " + std::to_string(FMaxLine) + " characters.");
      }
      return std::nullopt;
    }
    size_t end = lf;
    if (end > 0 && FData[end - 1] == '\r') --end;
    std::string line = FData.substr(0, end);
    FData.erase(0, lf + 1);
    FScanned = 0;
    if (FDropping) {  // the tail of a line already reported too long
      FDropping = false;
      continue;
    }
    if (line.size() > FMaxLine)
      throw ELineTooLong("Answer line longer than " + std::to_string(FMaxLine) + " characters.");
    return line;
  }
}

// ---- helpers

std::string FormatServiceFloat(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s(buf);
  // The locale may have put its own separator in; the wire always carries ".".
  for (char& c : s)
    if (c == ',') c = '.';
  // "1E+20" -> "1E20", "1.5E-07" -> "1.5E-7".
  const size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mantissa = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool negative = false;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
      negative = exp[0] == '-';
      exp.erase(0, 1);
    }
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mantissa + "E" + (negative ? "-" : "") + exp;
  }
  return s;
}

std::optional<int32_t> ParseInt32Text(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() > 1 && text.front() == '+' && IsDigit(text[1])) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<bool> ParseBoolText(std::string_view text) {
  const std::string_view t = TrimBlanks(text);
  if (SameText(t, "true")) return true;
  if (SameText(t, "false")) return false;
  // A number: optional sign, digits with at most one ".", an optional exponent.
  size_t p = 0;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
  bool digits = false, nonZero = false, dot = false;
  for (; p < t.size(); ++p) {
    if (IsDigit(t[p])) {
      digits = true;
      if (t[p] != '0') nonZero = true;
    } else if (t[p] == '.' && !dot) {
      dot = true;
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  if (p < t.size() && (t[p] == 'e' || t[p] == 'E')) {
    ++p;
    if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
    const size_t expStart = p;
    while (p < t.size() && IsDigit(t[p])) ++p;
    if (p == expStart) return std::nullopt;
  }
  if (p != t.size()) return std::nullopt;
  return nonZero;
}

// ---- TtcpServOpr

TtcpServOpr::TtcpServOpr(const std::string& host, bool connectNow, TServiceLinkPorts ports)
    : FClient(std::move(ports.Transport)),
      FHost(host),
      FPort(ports.Port),
      FLock(*ports.RequestLock),
      FClock(*ports.Clock),
      FPump(*ports.Pump),
      FUi(*ports.Ui) {
  // Both events may fire for one loss; the handler shows it once.
  FClient->SetEvents([this] { ReportLost(this); },
                     [this](TTransportStatus status) {
                       if (status == TTransportStatus::Disconnected) ReportLost(this);
                     });
  FOnServiceLost = [this](IServiceLink* sender) { ServiceLost(sender); };
  if (connectNow) FClient->Connect(FHost, FPort);
}

TtcpServOpr::~TtcpServOpr() {
  // Going away is no loss: nothing is reported.
  FClient->SetEvents({}, {});
  FClient->Disconnect();
}

void TtcpServOpr::ReportLost(IServiceLink* sender) {
  // The handler's message box waits for the user: with the request lock held every other
  // client on the machine would wait with it.
  if (FRequestDepth > 0) {
    ++FLossesPending;
    return;
  }
  if (FOnServiceLost) {
    const TServiceLostEvent handler = FOnServiceLost;  // the handler may replace itself
    handler(sender);
  }
}

void TtcpServOpr::ServiceLost(IServiceLink*) {
  if (FLostReported) return;
  FLostReported = true;  // before showing: the modal box may let further losses in
  const std::string title = FUi.Translate("TcpClient", "Service stopped");
  const std::string text =
      FUi.Translate("TcpClient", "Can not connect to service. Application will be terminated!");
  FUi.ShowMessage(FUi.ApplicationTitle(), title, text, MessageBoxIcon::Error, MessageBoxButtons::OK);
  FUi.Terminate();
}

bool TtcpServOpr::Connected() { return FClient->Connected(0); }

void TtcpServOpr::SetConnected(bool value) {
  try {
    if (value) {
      if (!FClient->Connected(0)) FClient->Connect(FHost, FPort);
    } else {
      FClient->Disconnect();
    }
  } catch (...) {
  }
}

bool TtcpServOpr::EnsureConnected() {
  if (!Connected()) FClient->Connect(FHost, FPort);
  if (Connected()) return true;
  ReportLost(this);
  return false;
}

std::string TtcpServOpr::AwaitAnswer(int32_t seq) {
  const std::string number = std::to_string(seq);
  const int64_t start = FClock.NowMs();
  int reads = 0;
  for (;;) {
    std::string line = FClient->ReadLine(kAnswerReadTimeoutMs);
    if (reads == 3) {
      FClock.SleepMs(10);
      FPump.ProcessMessages();
      reads = 0;
    } else {
      ++reads;
    }
    if ((FClock.NowMs() - start) / 1000 >= kRequestLimitSeconds) throw Exception(LoadResString(rsTimeOutWaitingClient));
    if (!line.empty() && line.compare(0, number.size(), number) == 0 &&
        (line.size() == number.size() || !IsDigit(line[number.size()])))
      return line.size() > number.size() + 1 ? line.substr(number.size() + 1) : std::string();
  }
}

void TtcpServOpr::Request(const std::string& command, const std::string& args, bool waitAnswer,
                          std::string& answer) {
  // A window closed inside the wait may drop the last other reference: stay alive to the end.
  const std::shared_ptr<TtcpServOpr> keepAlive = weak_from_this().lock();
  {
    ++FRequestDepth;
    struct TLeave {
      int& Depth;
      ~TLeave() { --Depth; }
    } leave{FRequestDepth};
    TLockHold hold(FLock);  // given back before the depth drops
    answer.clear();
    if (!Connected()) {
      ReportLost(this);
    } else {
      try {
        const int32_t seq = TakeSequenceNumber();
        FClient->WriteLine(command + " " + std::to_string(seq) + "," + args);
        if (waitAnswer) answer = AwaitAnswer(seq);
      } catch (const std::exception&) {
        answer.clear();
      }
    }
  }
  // Every report is made, as a replaced handler may count them.
  while (FRequestDepth == 0 && FLossesPending > 0) {
    --FLossesPending;
    ReportLost(this);
  }
}

void TtcpServOpr::AvaliableSensors(std::string& sensors) {
  sensors.clear();
  if (!EnsureConnected()) return;
  Request("AvaliableSensors", "", true, sensors);
}

void TtcpServOpr::DisableAlert(const std::string& alertId) {
  if (!EnsureConnected()) return;
  std::string answer;
  Request("DisableAlert", Quoted(alertId), false, answer);
}

void TtcpServOpr::EnableAlert(const std::string& alertId, float limit1, float limit2) {
  if (!EnsureConnected()) return;
  std::string answer;
  Request("EnableAlert",
          Quoted(alertId) + "," + FormatServiceFloat(limit1) + "," + FormatServiceFloat(limit2),
          false, answer);
}

std::string TtcpServOpr::GetField(const std::string& module, const std::string& item,
                                  const std::string& field) {
  std::string result;
  if (!EnsureConnected()) return result;
  Request("GetField", Quoted(module) + "," + Quoted(item) + "," + field, true, result);
  return result;
}

void TtcpServOpr::GetInfo(const std::string& module, const std::string& item, std::string& info) {
  if (!EnsureConnected()) return;
  std::string args = Quoted(module) + "," + Quoted(item) + ",";
  if (!info.empty()) args += TCommaList({info}).Text();
  Request("GetInfo", args, true, info);
}

void TtcpServOpr::IsAlertEnabled(const std::string& alertId, int16_t& enabled) {
  if (!EnsureConnected()) {
    enabled = 0;
    return;
  }
  std::string answer;
  Request("IsAlertEnabled", Quoted(alertId), true, answer);
  enabled = ParseBoolText(answer).value_or(false) ? -1 : 0;
}

void TtcpServOpr::Subscribe(int32_t& handle) {
  if (!EnsureConnected()) return;
  std::string answer;
  Request("Subscribe", std::to_string(handle), true, answer);
  handle = ParseInt32Text(answer).value_or(-1);
}

void TtcpServOpr::Unsubscribe(int32_t handle) {
  if (!EnsureConnected()) return;
  std::string answer;
  Request("Unsubscribe", std::to_string(handle), false, answer);
}

void TtcpServOpr::WaitAlert(int32_t handle, int32_t& code, uint8_t& flag, std::string& text) {
  text.clear();
  if (!Connected()) FClient->Connect(FHost, FPort);
  code = -1;
  if (!Connected()) {
    ReportLost(this);
    return;
  }
  std::string answer;
  Request("WaitAlert", std::to_string(handle), true, answer);
  const TCommaList list = TCommaList::Parse(answer);
  const auto& items = list.Items();
  code = items.empty() ? -1 : ParseInt32Text(items[0]).value_or(-1);
  flag = items.size() > 1 ? static_cast<uint8_t>(ParseInt32Text(items[1]).value_or(0) & 0xFF) : 0;
  if (items.size() > 2) {
    const TCommaList lines = TCommaList::Parse(items[2]);
    for (const std::string& line : lines.Items()) text += line + "\r\n";
  }
}

bool TtcpServOpr::IsConnected() { return FClient->Connected(1); }
