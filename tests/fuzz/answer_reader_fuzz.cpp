// Feeds arbitrary bytes, as the service would send them, to the client's answer reading: line
// splitting with its limit, matching the sequence number, and decoding every typed answer. Also
// checks that the comma list reads back what it writes.
#include "common/ResStrings.cpp"
#include "common/TextUtil.cpp"
#include "service/CommaList.cpp"
#include "service/tcpClient.cpp"

#include "fakes/FakeClock.h"
#include "fakes/FakePump.h"
#include "fakes/FakeServicePorts.h"

#include <cstdlib>
#include <cstring>

namespace {

// Hands out the input in chunks of sizes taken from the input; byte 0xFF as a chunk size means
// the service closes the connection.
class TFuzzTransport final : public ILineTransport {
 public:
  TFuzzTransport(const uint8_t* data, size_t size, TFakeClock& clock)
      : FData(data), FSize(size), FClock(clock), FLines(64) {}

  void SetEvents(std::function<void()> onDisconnected, std::function<void(TTransportStatus)> onStatus) override {
    FOnDisconnected = std::move(onDisconnected);
    FOnStatus = std::move(onStatus);
  }
  void Connect(const std::string&, int) override { FUp = true; }
  void Disconnect() noexcept override { FUp = false; }
  bool Connected(uint32_t) noexcept override { return FUp; }
  void WriteLine(std::string_view) override {
    if (!FUp) throw EConnectionClosed("closed");
  }
  std::string ReadLine(uint32_t timeoutMs) override {
    int64_t waited = 0;
    for (;;) {
      if (auto line = FLines.TakeLine()) return *line;
      if (!FUp) throw EConnectionClosed("closed");
      if (FPos >= FSize) {
        FClock.Advance(timeoutMs - waited);
        return {};
      }
      const uint8_t n = FData[FPos++];
      if (n == 0xFF) {
        FUp = false;
        if (FOnStatus) FOnStatus(TTransportStatus::Disconnected);
        if (FOnDisconnected) FOnDisconnected();
        throw EConnectionClosed("closed");
      }
      const size_t take = std::min<size_t>(n % 80, FSize - FPos);
      const int64_t step = n % 7 * 1000;
      if (waited + step > timeoutMs) {  // this chunk comes after the read has given up
        --FPos;
        FClock.Advance(timeoutMs - waited);
        return {};
      }
      waited += step;
      FClock.Advance(step);
      FLines.Append(std::string_view(reinterpret_cast<const char*>(FData + FPos), take));
      FPos += take;
    }
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  TFakeClock& FClock;
  TLineBuffer FLines;
  bool FUp = false;
  std::function<void()> FOnDisconnected;
  std::function<void(TTransportStatus)> FOnStatus;
};

void CheckCommaListRoundTrip(std::string_view text) {
  const TCommaList parsed = TCommaList::Parse(text);
  const TCommaList again = TCommaList::Parse(parsed.Text());
  if (again.Items() != parsed.Items()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckCommaListRoundTrip(text);
  (void)ParseBoolText(text);
  (void)ParseInt32Text(text);
  if (size >= sizeof(double)) {
    double d;
    std::memcpy(&d, data, sizeof d);
    const std::string s = FormatServiceFloat(d);
    if (s.empty() || s.find(',') != std::string::npos) std::abort();
  }

  TFakeClock clock;
  TFakePump pump;
  TFakeServiceLock lock;
  TFakeServiceUi ui;
  TServiceLinkPorts ports;
  ports.Transport = std::make_unique<TFuzzTransport>(data + 2, size - 2, clock);
  ports.RequestLock = &lock;
  ports.Clock = &clock;
  ports.Pump = &pump;
  ports.Ui = &ui;
  auto client = std::make_shared<TtcpServOpr>("127.0.0.1", true, std::move(ports));
  gRequestSeq = data[1] % 16;

  // Each selector bit pattern runs a different sequence of operations over the same stream.
  for (int round = 0; round < 4; ++round) {
    const int64_t start = clock.NowMs();
    try {
      switch ((data[0] >> (2 * round)) & 3) {
        case 0: {
          std::string info = "nocache=true";
          client->GetInfo("module.optimize", "optimi.free.getconf", info);
          const TCommaList answer = TCommaList::Parse(info);
          (void)ParseBoolText(answer.Value("Enabled"));
          (void)ParseInt32Text(answer.Value("Period"));
          break;
        }
        case 1: {
          int32_t code;
          uint8_t flag;
          std::string alert;
          client->WaitAlert(1, code, flag, alert);
          break;
        }
        case 2: {
          int16_t enabled = 1;
          client->IsAlertEnabled("load", enabled);
          if (enabled != 0 && enabled != -1) std::abort();
          break;
        }
        default: {
          int32_t handle = 0;
          client->Subscribe(handle);
          break;
        }
      }
    } catch (const EConnectionClosed&) {
      // A reconnection attempt after the loss is refused only by a real transport.
    }
    // No wait outlives the limit by more than one read.
    if (clock.NowMs() - start > (kRequestLimitSeconds * 1000) + kAnswerReadTimeoutMs + 10) std::abort();
    if (lock.Depth != 0) std::abort();
  }
  if (ui.Shown.size() > 1) std::abort();
  return 0;
}
