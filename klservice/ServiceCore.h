// The request handling of KLService: the line protocol, the guards of the port, the commands,
// the memory-load history, alerts and the optimization schedule (portable). The memory calls,
// the stored schedule, the log and time come in through ports.
//
// Requests are "<Command> <seq>,<args>" ended by LF (a CR before it is dropped); answers are
// "<seq>,<answer>" and LF. Arguments and answers are comma lists. Commands, case-insensitive:
//   GetInfo "module.optimize","<item>",<info>   (info is a comma list; "nocache=true" is
//                                                accepted and changes nothing: no answer is cached)
//     "optimi.free"            frees memory now: FreedMB=,BeforeMB=,AfterMB= (available physical
//                              memory), Steps= (steps done), Refused= (steps the system refused)
//     "optimi.free.getconf"    Enabled=-1|0,Period=5|30|60
//     "optimi.free.setconf"    takes Enabled= (boolean text) and Period= (5, 30 or 60), either
//                              may be missing; answers as getconf, plus Saved=0 when the schedule
//                              could not be stored; an invalid value changes nothing and gets ""
//     "optimize.memory.usage"  count=,60=,80= (samples in the window, at 60 % and 80 % or more)
//     "optimize.memory.status" Load=,TotalMB=,AvailMB=
//   GetField "module.optimize","<item>",<name>  the value <name> of a reading item above
//                                                (never runs "optimi.free" or a setconf)
//   AvaliableSensors                            memory.load,memory.available
//   EnableAlert "<sensor>",<level>,<rearm>      not answered when taken; memory.load (per cent)
//                                                alerts at or above level, memory.available (MB)
//                                                at or below; the alert clears once the value is
//                                                past rearm. Numbers in the general format with
//                                                "." ("80", "0.5", "1E2"); earlier clients'
//                                                decimal comma, "<sensor>",80,5,70,5, is read as
//                                                80.5 and 70.5. Anything else changes nothing and
//                                                is answered Refused=sensor|form|level|rearm
//                                                (unknown sensor, other item count, unreadable
//                                                level, unreadable rearm)
//   DisableAlert "<sensor>"                     not answered
//   IsAlertEnabled "<sensor>"                   True|False
//   Subscribe <handle>                          the handle again when it is the connection's own,
//                                                else a new one (1 to 2147483647, numbers in
//                                                use skipped); -1 beyond 8 per connection
//   Unsubscribe <handle>                        not answered
//   WaitAlert <handle>                          waits up to 10 s for an event of the handle:
//                                                <code>,<events still queued>,<text> with code 1
//                                                raised, 2 cleared, and text the comma list
//                                                Sensor=,Value=,Level=; "0,0" when none came,
//                                                "-1,0" for a handle that is not the connection's
// Anything else with a valid number gets an empty answer. A line that is not of this form, is
// longer than kMaxRequestLine or looks like HTTP ends the connection.
#pragma once

#include "common/SystemPorts.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Longest request line accepted, in characters before its LF (a CR before the LF not counted).
inline constexpr size_t kMaxRequestLine = 300000;
// Shortest time between the end of one freeing pass and the start of the next: each pass empties
// every process's working set, so no client may make the machine thrash through the service.
inline constexpr int64_t kMinFreeIntervalMs = 10000;
// What the server allows; the service reads it from its settings, tests shorten the times.
struct TServerLimits {
  // Connections served at once, each counted until its object is freed. When all are taken, a
  // new connection takes the slot of the one PickConnectionToDrop names.
  int MaxClients = 2048;
  // Connections one client process may hold; beyond it that process's own connections go
  // (those ConnectionsOverProcessCap names).
  int MaxClientsPerProcess = 64;
  // How long a begun request line may stay unfinished. A connection that has a whole line or
  // nothing at all unanswered may stay quiet for as long as it likes: the application holds its
  // one connection for its whole life and ends when it is closed.
  int64_t UnfinishedLineMs = 60000;
  // How long a connection that spoke the protocol keeps the first claim on its slot after its
  // last request.
  int64_t RecentRequestMs = 300000;
  // How long a client may leave its answers unread before it is dropped.
  int64_t StalledSendMs = 10000;
  // Bytes held for all connections together (the connection objects, lines received and not
  // yet answered, unsent answers, buffers by their capacity); beyond it the connection that
  // holds the most is dropped.
  size_t BufferedBytesBudget = size_t{32} << 20;
  // See kMinFreeIntervalMs.
  int64_t MinFreeIntervalMs = kMinFreeIntervalMs;
};

// One memory-load sample every 3 s, kept for one hour (1200 samples). The application advises
// more memory when more than 1000 samples are counted, two thirds at 60 % or more and one third
// at 80 % or more: with this rate and window that needs at least 50 minutes of observation, and
// the shares are those of the last hour, so a short burst (a build, a game loading) cannot
// satisfy it while an hour of steady pressure does.
inline constexpr int64_t kSampleIntervalMs = 3000;
inline constexpr size_t kHistorySamples = 1200;
// Longest time a WaitAlert request waits for an event: well inside the client's 20 seconds.
inline constexpr int64_t kWaitAlertMs = 10000;
// Subscriptions one connection may hold, and events kept per subscription; all queues together
// keep at most kMaxQueuedEventsTotal events (each queue its share, at least one), so the queues
// of every client stay small whatever the number of subscriptions.
inline constexpr size_t kMaxSubscriptionsPerClient = 8;
inline constexpr size_t kMaxQueuedEvents = 32;
inline constexpr size_t kMaxQueuedEventsTotal = 16384;
// Lines a client's requests make the service log: one per kind and connection per this time,
// the rest counted into a summary line; and at most kClientLogLinesPerWindow such lines in
// that time from all connections together.
inline constexpr int64_t kClientLogWindowMs = 1000;
inline constexpr int kClientLogLinesPerWindow = 20;

// One request line, "<Command> <seq>,<args>".
struct TRequest {
  std::string Command;
  int32_t Seq = 0;
  std::string Args;
};

// Parses a request line without its line end; none when the line is not of the protocol (command
// of 1 to 64 ASCII letters, one blank, a decimal 32-bit sequence number, a comma).
std::optional<TRequest> ParseRequestLine(std::string_view line);
// The answer line "<seq>,<answer>" with its LF; line breaks inside answer become blanks.
std::string FormatAnswer(int32_t seq, std::string_view answer);
// Whether text begins like a line of another protocol: an HTTP method and a blank, or a "Host:"
// or "Origin:" header. Works on a line's first bytes as well as on the whole line.
bool LooksLikeForeignProtocol(std::string_view text) noexcept;
// Reads a boolean text: "True"/"False" in any letter case, or a decimal number (not 0 is true).
std::optional<bool> ParseBooleanText(std::string_view text);

// The heap memory a string holds: none while its text fits inside the object.
inline size_t HeapBytes(const std::string& s) noexcept {
  return s.capacity() > std::string().capacity() ? s.capacity() + 1 : 0;
}

// Why a connection is to be dropped.
enum class TDropReason { None, LineTooLong, ForeignProtocol, Malformed, Closed };

// Splits received bytes into lines, enforcing the line limit and the protocol's look.
class TLineFramer {
 public:
  // Appends data; every complete line that is not empty (CR before LF dropped) goes to lines:
  // empty lines are no requests and cost nothing. Gives the reason to drop the connection, or
  // None.
  TDropReason Feed(std::string_view data, std::vector<std::string>& lines);
  // Whether bytes of an unfinished line are held.
  bool HasPartial() const noexcept { return !FPartial.empty(); }
  // How many bytes of an unfinished line are held.
  size_t PartialBytes() const noexcept { return FPartial.size(); }
  // The memory held for the unfinished line (its capacity).
  size_t PartialCapacity() const noexcept { return HeapBytes(FPartial); }
  // How many line ends were seen, empty lines included.
  uint64_t LinesEnded() const noexcept { return FLinesEnded; }

 private:
  std::string FPartial;
  uint64_t FLinesEnded = 0;
};

// The physical memory figures of the machine.
struct TMemoryStatus {
  uint32_t Load = 0;  // per cent in use
  uint64_t TotalPhys = 0;
  uint64_t AvailPhys = 0;
};

// What one pass of memory freeing did.
struct TFreeSteps {
  int Done = 0;
  int Refused = 0;
};

// The machine's memory.
class IMemoryPort {
 public:
  virtual ~IMemoryPort() = default;
  // The current figures; raises Exception when the system gives none.
  virtual TMemoryStatus Status() = 0;
  // Frees physical memory now; each step the system refuses is reported to log and skipped.
  virtual TFreeSteps FreeMemory(std::function<void(std::string_view)> log) = 0;
};

// The optimization schedule.
struct TSchedule {
  bool Enabled = false;
  int PeriodMinutes = 60;  // 5, 30 or 60
  bool operator==(const TSchedule&) const = default;
};

// Where the schedule outlives the service.
class IScheduleStore {
 public:
  virtual ~IScheduleStore() = default;
  // The stored schedule; none when nothing valid is stored.
  virtual std::optional<TSchedule> Load() = 0;
  // Stores the schedule; raises Exception on failure.
  virtual void Save(const TSchedule& schedule) = 0;
};

// The service's diagnostic log.
class IServiceLog {
 public:
  virtual ~IServiceLog() = default;
  // Writes one line.
  virtual void Log(std::string_view line) = 0;
};

// Counts of the memory-load history.
struct TUsageCounts {
  int32_t Count = 0;
  int32_t AtLeast60 = 0;
  int32_t AtLeast80 = 0;
};

// The memory-load samples of a fixed window, newest replacing oldest.
class TMemoryHistory {
 public:
  // A history of at most capacity samples.
  explicit TMemoryHistory(size_t capacity);
  // Adds one sample of the load in per cent.
  void Add(uint32_t load);
  // The samples held and those at 60 and at 80 per cent or more.
  TUsageCounts Counts() const noexcept { return FCounts; }

 private:
  std::vector<uint8_t> FRing;
  size_t FNext = 0;
  TUsageCounts FCounts;
};

class TServiceCore;

// The protocol state of one connection: received bytes become request lines, which are taken
// one at a time (the server) or answered at once (Receive).
class TClientSession {
 public:
  // A session of core, timed by clock from now; a begun line expires after unfinishedLineMs.
  TClientSession(TServiceCore& core, IClock& clock, int64_t unfinishedLineMs = 60000);
  ~TClientSession();
  TClientSession(const TClientSession&) = delete;
  TClientSession& operator=(const TClientSession&) = delete;

  // Keeps received bytes; the complete lines wait for NextRequest. Gives the reason to drop the
  // connection, or None.
  TDropReason Feed(std::string_view data);
  // Takes the next request line kept, skipping empty lines; request stays empty when no whole
  // line waits. Gives Malformed when the line is not a request, else None.
  TDropReason NextRequest(std::optional<TRequest>& request);
  // Whether whole lines wait to be taken.
  bool HasLines() const noexcept { return FNextLine < FLines.size(); }
  // Feeds data and answers each request line through send (false from send ends the handling),
  // with the core's blocking handling. Gives the reason to drop the connection, or None.
  TDropReason Receive(std::string_view data, const std::function<bool(std::string_view)>& send);
  // Whether a line begun has stayed unfinished for longer than its limit. Quiet connections
  // never expire.
  bool Expired() const;
  // Bytes of the unfinished line held.
  size_t UnfinishedBytes() const noexcept { return FFramer.PartialBytes(); }
  // Bytes held for lines received and not yet taken, the unfinished one included, by the
  // capacity of every buffer.
  size_t HeldBytes() const noexcept {
    return FFramer.PartialCapacity() + FLines.capacity() * sizeof(std::string) + FLineBytes;
  }
  // Whether a valid request came, and the clock's time of the latest one.
  bool Spoken() const noexcept { return FSpoken; }
  int64_t LastRequestMs() const noexcept { return FLastRequestMs; }
  // The clock's time the session began.
  int64_t StartMs() const noexcept { return FStartMs; }
  // The session's number, unique within the service for its whole run.
  int64_t Id() const noexcept { return FId; }

 private:
  TServiceCore& FCore;
  IClock& FClock;
  TLineFramer FFramer;
  std::vector<std::string> FLines;
  size_t FNextLine = 0;
  size_t FLineBytes = 0;  // held for the lines not yet taken
  int64_t FId;
  bool FSpoken = false;
  int64_t FUnfinishedLineMs;
  int64_t FStartMs;
  int64_t FLastRequestMs = 0;
  int64_t FPartialSinceMs = 0;
};

// What the slot policy weighs of one connection.
struct TSlotState {
  int64_t StartMs = 0;
  bool Spoken = false;
  int64_t LastRequestMs = 0;
  size_t UnfinishedBytes = 0;
  uint32_t Owner = 0;  // the client's process id; 0 while not known
};

// The connection to drop when every slot is taken and a new connection comes, so that no
// number of connections held by others keeps a real client out. It comes from the process that
// holds the most connections (the connections whose process is not known count as one more
// process), so a process with one or two connections keeps them while another holds more.
// Within it: first those that never sent a valid request (the longest unfinished line first,
// then the oldest); then those whose last request is older than limits.RecentRequestMs (the
// longest quiet first); a connection that spoke more recently only when no other is left
// (again the longest quiet). Gives the index into slots; slots must not be empty.
size_t PickConnectionToDrop(const std::vector<TSlotState>& slots, int64_t nowMs,
                            const TServerLimits& limits);
// The connections to drop so that no known process holds more than cap of them, chosen within
// each process in the order of PickConnectionToDrop. Gives indexes into slots.
std::vector<size_t> ConnectionsOverProcessCap(const std::vector<TSlotState>& slots, int64_t nowMs,
                                              const TServerLimits& limits, int cap);

// Which process holds each loopback connection to the server.
class IPeerOwners {
 public:
  virtual ~IPeerOwners() = default;
  // The process id of every client of 127.0.0.1:serverPort, by the client's own port; a
  // connection that is missing or has 0 is not known.
  virtual std::vector<std::pair<uint16_t, uint32_t>> Snapshot(uint16_t serverPort) = 0;
};

// The subscription handle after handle: 1 to 2147483647, starting again at 1.
int32_t NextSubscriptionHandle(int32_t handle) noexcept;

// What a client did that the log notes, counted per connection and kind.
enum class TClientLogKind { UnknownCommand, AlertRefused };

// The commands of the service and the state they share; safe to use from several threads.
class TServiceCore {
 public:
  // A core over the given ports; nothing is read until Start.
  TServiceCore(IMemoryPort& memory, IScheduleStore& store, IClock& clock, IServiceLog& log);

  // Loads the stored schedule and takes the first sample.
  void Start();
  // Makes waiting requests return at once, for shutdown.
  void Stop();

  // The answer text of one request of session, or none for the commands that are not answered
  // (DisableAlert, Unsubscribe, and EnableAlert when it is taken).
  std::optional<std::string> Handle(const TRequest& request, int64_t sessionId);

  // Whether request frees memory (it may take long: the server runs it off its loop).
  static bool IsFreeRequest(const TRequest& request);
  // Whether request is a WaitAlert (the server waits for its event without blocking).
  static bool IsWaitAlert(const TRequest& request);
  // Frees memory now and gives the answer text; a request that comes while a pass runs waits
  // for that pass and shares its outcome, and one that comes within the minimum interval after
  // the last pass gets that pass's outcome and frees nothing.
  std::string FreeNow(const char* why);
  // Sets the minimum interval between two freeing passes (kMinFreeIntervalMs by default).
  void SetMinFreeIntervalMs(int64_t ms);
  // How many freeing passes ran.
  int64_t FreePasses() const noexcept { return FFreePasses.load(); }
  // The answer of a WaitAlert request of session when it can be given now: an event queued, a
  // handle that is not the session's, or giveUp set ("0,0"); none while it should wait on.
  std::optional<std::string> TakeAlert(const TRequest& request, int64_t sessionId, bool giveUp);
  // Writes the summary lines of client log lines counted and not written once their time has
  // come; the server calls it every second.
  void FlushLogSummaries();

  // Takes one memory-load sample into the history and raises or clears the alerts.
  void Sample();
  // Frees memory when the schedule is enabled and its period has passed since it was set or
  // last run; true when it ran.
  bool RunScheduleIfDue();
  // Whether the schedule's pass is due now (as RunScheduleIfDue decides); when it is, the next
  // period is counted from now and the caller runs the pass with FreeNow("schedule").
  bool TakeDueSchedule();

  // The current schedule.
  TSchedule Schedule() const;
  // How many requests wait for the outcome of the freeing pass that runs now.
  int FreeSharers() const noexcept { return FFreeSharers.load(); }
  // The counts of the history.
  TUsageCounts Usage() const;

  // Gives a new session number.
  int64_t OpenSession();
  // Drops the subscriptions and the log counts of a session that ends.
  void CloseSession(int64_t sessionId);
  // Events queued for all subscriptions together.
  size_t QueuedEvents() const;

 private:
  struct TAlert {
    double Level = 0;
    double Rearm = 0;
    bool Active = false;
  };
  struct TEvent {
    double Value;
    double Level;
    uint8_t Code;
    uint8_t Sensor;  // index into the sensors
  };
  struct TSubscription {
    int64_t Session;
    std::vector<TEvent> Events;
  };
  struct TLogCount {
    int64_t LastWrittenMs = 0;
    int64_t Unwritten = 0;
    std::string Last;  // the latest line counted and not written
  };

  std::string FreePass(const char* why);
  std::string GetInfo(const std::string& item, const std::string& info);
  std::string ReadOnlyItem(const std::string& item);
  std::string SetSchedule(const std::string& info);
  std::string ScheduleText() const;
  std::optional<std::string> EnableAlert(const TRequest& request);
  std::string Subscribe(const std::string& args, int64_t sessionId);
  std::string WaitAlert(const TRequest& request, int64_t sessionId);
  void ClientLog(int64_t sessionId, TClientLogKind kind, std::string line);
  void RollLogWindow(int64_t now);                             // under FLogLock
  bool WriteClientLine(int64_t now, const std::string& line);  // under FLogLock

  IMemoryPort& FMemory;
  IScheduleStore& FStore;
  IClock& FClock;
  IServiceLog& FLog;

  mutable std::mutex FLock;  // guards everything below
  TMemoryHistory FHistory{kHistorySamples};
  TSchedule FSchedule;
  int64_t FNextRunMs = 0;
  std::map<std::string, TAlert> FAlerts;
  std::map<int32_t, TSubscription> FSubscriptions;
  int64_t FNextSession = 1;
  int32_t FNextHandle = 1;
  bool FStopping = false;

  std::mutex FLogLock;  // guards the client log counts below
  std::map<std::pair<int64_t, TClientLogKind>, TLogCount> FLogCounts;
  int64_t FLogWindowStartMs = INT64_MIN / 2;
  int FLogWindowLines = 0;
  int64_t FLogWindowUnwritten = 0;  // lines beyond the window's share, not counted elsewhere

  std::mutex FFreeLock;      // one freeing pass at a time; guards FLastFree and the times below
  std::string FLastFree;
  bool FFreeRan = false;
  int64_t FLastFreeEndMs = 0;
  std::atomic<int64_t> FMinFreeIntervalMs{kMinFreeIntervalMs};
  std::atomic<int64_t> FFreePasses{0};
  std::atomic<int> FFreeSharers{0};  // requests waiting for the running pass's outcome
  std::mutex FScheduleLock;  // a schedule change and its saving, one at a time
};
