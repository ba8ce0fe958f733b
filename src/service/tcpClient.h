// The service client: one TCP connection to the local service, one text line per request and
// one per answer, requests serialized across processes by a named lock (portable). The socket,
// the lock, time, the message pump and the application's reactions come in through ports.
#pragma once

#include "common/Errors.h"
#include "common/SystemPorts.h"
#include "ui/MessageBox.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The service's port on the loopback interface.
inline constexpr int kServiceTcpPort = 2804;
// Longest answer line, in characters before its LF (a CR directly before the LF not counted).
inline constexpr size_t kMaxAnswerLine = 300000;
// How long one answer read waits.
inline constexpr uint32_t kAnswerReadTimeoutMs = 10000;
// Whole seconds after which a waiting request gives up.
inline constexpr int64_t kRequestLimitSeconds = 20;
// The lock that serializes the requests of every process using this client.
inline constexpr const char* kRequestLockName = "Quor eCentrio for Desktop TCP Connection Mutex";

// The connection ended: the peer closed it or a send or receive failed.
class EConnectionClosed : public Exception {
 public:
  using Exception::Exception;
};
// An incoming line passed kMaxAnswerLine; it is dropped up to its LF.
class ELineTooLong : public Exception {
 public:
  using Exception::Exception;
};

// Splits received bytes into lines ended by LF, dropping a CR right before the LF, and drops
// whole lines that pass the length limit.
class TLineBuffer {
 public:
  explicit TLineBuffer(size_t maxLine = kMaxAnswerLine) : FMaxLine(maxLine) {}
  // Appends received bytes.
  void Append(std::string_view bytes);
  // The next complete line, or nullopt when none is complete yet. Throws ELineTooLong once for
  // a line over the limit; its bytes, including those still to come up to its LF, are dropped.
  std::optional<std::string> TakeLine();
  // Forgets everything buffered (a new connection starts clean).
  void Clear() noexcept;

 private:
  std::string FData;
  size_t FScanned = 0;  // FData[0..FScanned) holds no LF
  bool FDropping = false;
  size_t FMaxLine;
};

// The state changes a transport reports; only Disconnected matters to the client.
enum class TTransportStatus { Connected, Disconnected };

// The TCP line transport (Winsock in the program). Texts are UTF-8 here; the transport puts them
// on the wire in the system ANSI code page and reads answers back from it.
class ILineTransport {
 public:
  virtual ~ILineTransport() = default;
  // Sets the events raised when the transport finds the connection gone by itself (never for
  // Disconnect): the status event with Disconnected, then the disconnect event.
  virtual void SetEvents(std::function<void()> onDisconnected,
                         std::function<void(TTransportStatus)> onStatus) = 0;
  // Connects to host:port, blocking; throws Exception with the reason when it fails.
  virtual void Connect(const std::string& host, int port) = 0;
  // Closes the connection, if any, without raising the events.
  virtual void Disconnect() noexcept = 0;
  // Whether the connection is up, watching the socket for up to pollMs so that a close by the
  // peer is noticed (and reported through the events); never throws.
  virtual bool Connected(uint32_t pollMs) noexcept = 0;
  // Sends line followed by CR LF; throws EConnectionClosed when the send fails.
  virtual void WriteLine(std::string_view line) = 0;
  // The next line without its ending, waiting at most timeoutMs; an empty text when the wait
  // ends first. Throws EConnectionClosed or ELineTooLong.
  virtual std::string ReadLine(uint32_t timeoutMs) = 0;
};

// The named lock that serializes the exchanges of all processes (a mutex in the program). A
// thread that holds it may take it again; every Acquire that succeeded is matched by one Release.
class IRequestLock {
 public:
  virtual ~IRequestLock() = default;
  // Takes the lock, waiting without a time limit; false when it cannot be had at all (the
  // implementation logs why), and the exchange then goes on without it.
  virtual bool Acquire() noexcept = 0;
  // Gives back the lock taken by the latest successful Acquire of this thread.
  virtual void Release() noexcept = 0;
};

// What the built-in lost-service handler asks of the application.
class IServiceLostUi {
 public:
  virtual ~IServiceLostUi() = default;
  // The translation of text in the string-table section, or text itself.
  virtual std::string Translate(const std::string& section, const std::string& text) = 0;
  // The application title, the caption of the message.
  virtual std::string ApplicationTitle() = 0;
  // Shows a message box (see ShowMessageBox) and returns its result.
  virtual uint16_t ShowMessage(const std::string& caption, const std::string& title,
                               const std::string& text, MessageBoxIcon icon,
                               MessageBoxButtons buttons) = 0;
  // Asks the application to end; returns at once, the running code goes on to its end.
  virtual void Terminate() = 0;
};

// The service client's interface, through which the windows talk to the service. Texts are
// UTF-8. Every operation but IsConnected raises only when a missing connection cannot be made.
class IServiceLink {
 public:
  virtual ~IServiceLink() = default;
  // The service's list of sensors (the answer text).
  virtual void AvaliableSensors(std::string& sensors) = 0;
  // Switches an alert off; does not wait for an answer.
  virtual void DisableAlert(const std::string& alertId) = 0;
  // Switches an alert on with its two limits; does not wait for an answer.
  virtual void EnableAlert(const std::string& alertId, float limit1, float limit2) = 0;
  // The service's value of one field of an item of a module.
  virtual std::string GetField(const std::string& module, const std::string& item,
                               const std::string& field) = 0;
  // Sends info for an item of a module and replaces it by the service's answer.
  virtual void GetInfo(const std::string& module, const std::string& item, std::string& info) = 0;
  // Whether an alert is on: -1 (all bits set) for true, 0 for false or an unreadable answer.
  virtual void IsAlertEnabled(const std::string& alertId, int16_t& enabled) = 0;
  // Subscribes: handle becomes the service's new handle, -1 for an unreadable answer.
  virtual void Subscribe(int32_t& handle) = 0;
  // Ends a subscription; does not wait for an answer.
  virtual void Unsubscribe(int32_t handle) = 0;
  // Waits for an alert of a subscription: its code (-1 when none), flag and text lines.
  virtual void WaitAlert(int32_t handle, int32_t& code, uint8_t& flag, std::string& text) = 0;
  // Whether the connection is still up, noticing a close by the service; never throws.
  virtual bool IsConnected() = 0;
};

// The lost-service handler: receives the client that found the loss, or nullptr.
using TServiceLostEvent = std::function<void(IServiceLink* sender)>;

// The ports one client works with. The transport is owned by the client; the other ports must
// outlive it.
struct TServiceLinkPorts {
  std::unique_ptr<ILineTransport> Transport;
  IRequestLock* RequestLock = nullptr;
  IClock* Clock = nullptr;
  IMessagePump* Pump = nullptr;
  IServiceLostUi* Ui = nullptr;
  int Port = kServiceTcpPort;
};

// The next sequence number of the process, shared by every client and never reset.
extern int32_t gRequestSeq;

// The service client. Create it with std::make_shared; the last reference closes the connection
// without reporting a loss.
class TtcpServOpr final : public IServiceLink, public std::enable_shared_from_this<TtcpServOpr> {
 public:
  // A client of host; connects at once when connectNow is set (throwing when that fails).
  TtcpServOpr(const std::string& host, bool connectNow, TServiceLinkPorts ports);
  ~TtcpServOpr() override;
  TtcpServOpr(const TtcpServOpr&) = delete;
  TtcpServOpr& operator=(const TtcpServOpr&) = delete;

  void AvaliableSensors(std::string& sensors) override;
  void DisableAlert(const std::string& alertId) override;
  void EnableAlert(const std::string& alertId, float limit1, float limit2) override;
  std::string GetField(const std::string& module, const std::string& item,
                       const std::string& field) override;
  void GetInfo(const std::string& module, const std::string& item, std::string& info) override;
  void IsAlertEnabled(const std::string& alertId, int16_t& enabled) override;
  void Subscribe(int32_t& handle) override;
  void Unsubscribe(int32_t handle) override;
  void WaitAlert(int32_t handle, int32_t& code, uint8_t& flag, std::string& text) override;
  bool IsConnected() override;

  // Whether the connection is up (a close by the service is noticed and reported).
  bool Connected();
  // Connects (true) or disconnects (false); every error is absorbed.
  void SetConnected(bool value);
  // One exchange under the request lock: sends command with the next sequence number and args,
  // and when waitAnswer is set reads lines until the one that answers it. Failures after the
  // lock is taken give an empty answer and no error. A loss found meanwhile is reported once the
  // lock is given back (after the outermost exchange of a nested wait).
  void Request(const std::string& command, const std::string& args, bool waitAnswer,
               std::string& answer);
  // The built-in lost-service handler: shows the loss once and asks the application to end.
  void ServiceLost(IServiceLink* sender);

  // The lost-service handler in use.
  const TServiceLostEvent& OnServiceLost() const noexcept { return FOnServiceLost; }
  // Replaces the lost-service handler; an empty one ignores losses.
  void SetOnServiceLost(TServiceLostEvent handler) { FOnServiceLost = std::move(handler); }
  // Whether the built-in handler has shown the loss.
  bool LostReported() const noexcept { return FLostReported; }

 private:
  void ReportLost(IServiceLink* sender);
  // Steps shared by every operation but IsConnected: a connection attempt when there is none
  // (its error reaches the caller); false after reporting the loss when still not connected.
  bool EnsureConnected();
  // Reads lines until the answer to sequence number seq; throws on time-out or failure.
  std::string AwaitAnswer(int32_t seq);

  std::unique_ptr<ILineTransport> FClient;
  std::string FHost;
  int FPort;
  IRequestLock& FLock;
  IClock& FClock;
  IMessagePump& FPump;
  IServiceLostUi& FUi;
  TServiceLostEvent FOnServiceLost;
  bool FLostReported = false;
  int FRequestDepth = 0;      // exchanges of this client running on the stack
  int FLossesPending = 0;     // reports of a loss found inside an exchange, made after it
};

// A number as the request line carries it: general format, up to 15 significant digits, "." as
// the decimal separator ("0.5", "1E20", "1.5E-7").
std::string FormatServiceFloat(double value);
// A boolean text: "True"/"False" in any letter case, or a number (any value but 0 is true);
// nullopt for anything else.
std::optional<bool> ParseBoolText(std::string_view text);
// A decimal number within the signed 32-bit range (blanks around it allowed); nullopt otherwise.
std::optional<int32_t> ParseInt32Text(std::string_view text);
