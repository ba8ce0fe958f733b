// A scripted line transport: what the service "sends" is a queue of lines, each arriving a
// given time after the previous event; reads advance the fake clock by the time they wait.
#pragma once

#include "FakeClock.h"
#include "service/tcpClient.h"

#include <deque>
#include <string>
#include <vector>

class TFakeTransport final : public ILineTransport {
 public:
  enum class TKind { Line, Close, TooLong };
  struct TIncoming {
    int64_t AfterMs;
    TKind Kind;
    std::string Text;
  };

  explicit TFakeTransport(TFakeClock& clock) : FClock(clock) {}

  // The service sends line afterMs after the previous event.
  void Send(std::string line, int64_t afterMs = 0) {
    Incoming.push_back({afterMs, TKind::Line, std::move(line)});
  }
  // The service closes the connection afterMs after the previous event.
  void CloseAfter(int64_t afterMs = 0) { Incoming.push_back({afterMs, TKind::Close, {}}); }
  // A line over the limit arrives afterMs after the previous event.
  void SendTooLong(int64_t afterMs = 0) { Incoming.push_back({afterMs, TKind::TooLong, {}}); }

  void SetEvents(std::function<void()> onDisconnected,
                 std::function<void(TTransportStatus)> onStatus) override {
    FOnDisconnected = std::move(onDisconnected);
    FOnStatus = std::move(onStatus);
  }

  void Connect(const std::string& host, int port) override {
    ++ConnectCalls;
    if (ConnectTally) ++*ConnectTally;
    LastHost = host;
    LastPort = port;
    if (!Accepting) throw Exception("Connection refused.");
    IsUp = true;
  }

  void Disconnect() noexcept override {
    ++DisconnectCalls;
    IsUp = false;
  }

  bool Connected(uint32_t pollMs) noexcept override {
    PollsMs.push_back(pollMs);
    if (IsUp && !Incoming.empty() && Incoming.front().Kind == TKind::Close &&
        Incoming.front().AfterMs <= pollMs) {
      FClock.Advance(Incoming.front().AfterMs);
      Incoming.pop_front();
      Lose();
    }
    return IsUp;
  }

  void WriteLine(std::string_view line) override {
    if (!IsUp) throw EConnectionClosed("Not connected.");
    if (FailSends) {
      Lose();
      throw EConnectionClosed("Send failed.");
    }
    Sent.emplace_back(line);
  }

  std::string ReadLine(uint32_t timeoutMs) override {
    ReadTimeouts.push_back(timeoutMs);
    if (!IsUp) throw EConnectionClosed("Not connected.");
    if (Incoming.empty() || Incoming.front().AfterMs > timeoutMs) {
      if (!Incoming.empty()) Incoming.front().AfterMs -= timeoutMs;
      FClock.Advance(timeoutMs);
      return {};
    }
    TIncoming next = std::move(Incoming.front());
    Incoming.pop_front();
    FClock.Advance(next.AfterMs);
    switch (next.Kind) {
      case TKind::Line: return next.Text;
      case TKind::TooLong: throw ELineTooLong("Too long.");
      case TKind::Close: break;
    }
    Lose();
    throw EConnectionClosed("Closed by the peer.");
  }

  // The connection drops now, as the real transport reports it: status, then disconnect.
  void Lose() {
    IsUp = false;
    if (FOnStatus) FOnStatus(TTransportStatus::Disconnected);
    if (FOnDisconnected) FOnDisconnected();
  }

  bool HasEvents() const { return FOnDisconnected || FOnStatus; }

  std::deque<TIncoming> Incoming;
  std::vector<std::string> Sent;
  std::vector<uint32_t> ReadTimeouts;
  std::vector<uint32_t> PollsMs;
  bool Accepting = true;
  bool IsUp = false;
  bool FailSends = false;
  int ConnectCalls = 0;
  int* ConnectTally = nullptr;  // also counts here, for checks after the transport is gone
  int DisconnectCalls = 0;
  std::string LastHost;
  int LastPort = 0;

 private:
  TFakeClock& FClock;
  std::function<void()> FOnDisconnected;
  std::function<void(TTransportStatus)> FOnStatus;
};
