#include "ServiceCore.h"

#include "common/Errors.h"
#include "common/TextUtil.h"
#include "service/CommaList.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr const char* kModuleOptimize = "module.optimize";
constexpr const char* kItemFree = "optimi.free";
constexpr const char* kItemGetConf = "optimi.free.getconf";
constexpr const char* kItemSetConf = "optimi.free.setconf";
constexpr const char* kItemUsage = "optimize.memory.usage";
constexpr const char* kItemStatus = "optimize.memory.status";
constexpr uint64_t kMiB = 1024 * 1024;

// The sensors alerts can watch: a high sensor alerts at or above its level, a low one at or below.
struct TSensor {
  const char* Name;
  bool High;
};
constexpr TSensor kSensors[] = {{"memory.load", true}, {"memory.available", false}};

const TSensor* FindSensor(std::string_view name) {
  for (const TSensor& s : kSensors)
    if (SameText(s.Name, name)) return &s;
  return nullptr;
}

bool IsAsciiLetter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// A number in the general format with "." as the decimal separator ("80", "0.5", "1E20").
std::optional<double> ParseNumber(std::string_view text) {
  const std::string_view t = TrimBlanks(text);
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

bool AllDigits(std::string_view text) noexcept {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

std::string FormatNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

std::string Decimal(uint64_t v) { return std::to_string(v); }

}  // namespace

std::optional<TRequest> ParseRequestLine(std::string_view line) {
  size_t p = 0;
  while (p < line.size() && IsAsciiLetter(line[p])) ++p;
  if (p == 0 || p > 64 || p >= line.size() || line[p] != ' ') return std::nullopt;
  TRequest r;
  r.Command.assign(line.substr(0, p));
  ++p;
  const size_t numStart = p;
  if (p < line.size() && line[p] == '-') ++p;
  const size_t digitStart = p;
  while (p < line.size() && IsDigit(line[p])) ++p;
  if (p == digitStart || p - digitStart > 10 || p >= line.size() || line[p] != ',')
    return std::nullopt;
  const std::string_view num = line.substr(numStart, p - numStart);
  const auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), r.Seq);
  if (ec != std::errc() || end != num.data() + num.size()) return std::nullopt;
  r.Args.assign(line.substr(p + 1));
  return r;
}

std::string FormatAnswer(int32_t seq, std::string_view answer) {
  std::string out = std::to_string(seq);
  out += ',';
  for (char c : answer) out += (c == '\n' || c == '\r') ? ' ' : c;
  out += '\n';
  return out;
}

bool LooksLikeForeignProtocol(std::string_view text) noexcept {
  // Methods are case-sensitive in HTTP, and "GetInfo" must not look like "GET ".
  static constexpr std::string_view kMethods[] = {"GET ",     "POST ",    "PUT ",
                                                  "HEAD ",    "DELETE ",  "OPTIONS ",
                                                  "PATCH ",   "CONNECT ", "TRACE ", "PRI "};
  for (std::string_view m : kMethods)
    if (text.substr(0, m.size()) == m) return true;
  return StartsWithNoCase(text, "Host:") || StartsWithNoCase(text, "Origin:");
}

std::optional<bool> ParseBooleanText(std::string_view text) {
  text = TrimBlanks(text);
  if (SameText(text, "True")) return true;
  if (SameText(text, "False")) return false;
  if (const auto n = ParseInteger(text)) return *n != 0;
  return std::nullopt;
}

TDropReason TLineFramer::Feed(std::string_view data, std::vector<std::string>& lines) {
  while (!data.empty()) {
    const size_t lf = data.find('\n');
    const std::string_view piece = data.substr(0, lf);
    // One character more than the limit may be the CR of the line end.
    if (FPartial.size() + piece.size() > kMaxRequestLine + 1) return TDropReason::LineTooLong;
    FPartial.append(piece);
    if (LooksLikeForeignProtocol(FPartial)) return TDropReason::ForeignProtocol;
    if (lf == std::string_view::npos) break;
    if (!FPartial.empty() && FPartial.back() == '\r') FPartial.pop_back();
    if (FPartial.size() > kMaxRequestLine) return TDropReason::LineTooLong;
    ++FLinesEnded;
    if (!FPartial.empty()) lines.push_back(std::move(FPartial));
    // A long line's buffer is not kept for the next one.
    std::string().swap(FPartial);
    data.remove_prefix(lf + 1);
  }
  return TDropReason::None;
}

TMemoryHistory::TMemoryHistory(size_t capacity) : FRing(std::max<size_t>(capacity, 1)) {}

void TMemoryHistory::Add(uint32_t load) {
  const uint8_t v = static_cast<uint8_t>(std::min<uint32_t>(load, 100));
  if (static_cast<size_t>(FCounts.Count) == FRing.size()) {
    const uint8_t old = FRing[FNext];
    FCounts.AtLeast60 -= old >= 60;
    FCounts.AtLeast80 -= old >= 80;
  } else {
    ++FCounts.Count;
  }
  FRing[FNext] = v;
  FNext = (FNext + 1) % FRing.size();
  FCounts.AtLeast60 += v >= 60;
  FCounts.AtLeast80 += v >= 80;
}

TClientSession::TClientSession(TServiceCore& core, IClock& clock, int64_t unfinishedLineMs)
    : FCore(core),
      FClock(clock),
      FId(core.OpenSession()),
      FUnfinishedLineMs(unfinishedLineMs),
      FStartMs(clock.NowMs()) {}

TClientSession::~TClientSession() { FCore.CloseSession(FId); }

namespace {

// Lines taken are not kept: an emptied list gives its memory back.
void ReleaseTaken(std::vector<std::string>& lines, size_t& next) {
  if (next != lines.size()) return;
  std::vector<std::string>().swap(lines);
  next = 0;
}

}  // namespace

TDropReason TClientSession::Feed(std::string_view data) {
  const bool hadPartial = FFramer.HasPartial();
  ReleaseTaken(FLines, FNextLine);
  const size_t before = FLines.size();
  const uint64_t endedBefore = FFramer.LinesEnded();
  const TDropReason reason = FFramer.Feed(data, FLines);
  const bool ended = FFramer.LinesEnded() != endedBefore;
  for (size_t i = before; i < FLines.size(); ++i)
    FLineBytes += HeapBytes(FLines[i]);
  if (reason != TDropReason::None) return reason;
  // A line's time runs from its first byte: more of the same line does not renew it.
  if (!FFramer.HasPartial())
    FPartialSinceMs = 0;
  else if (!hadPartial || ended)
    FPartialSinceMs = FClock.NowMs();
  return TDropReason::None;
}

TDropReason TClientSession::NextRequest(std::optional<TRequest>& request) {
  request.reset();
  while (FNextLine < FLines.size()) {
    std::string line = std::move(FLines[FNextLine++]);
    FLineBytes -= HeapBytes(line);
    if (line.empty()) continue;
    request = ParseRequestLine(line);
    if (!request) return TDropReason::Malformed;
    FSpoken = true;
    FLastRequestMs = FClock.NowMs();
    break;
  }
  if (FNextLine == FLines.size()) {
    ReleaseTaken(FLines, FNextLine);
    FLineBytes = 0;
  }
  return TDropReason::None;
}

TDropReason TClientSession::Receive(std::string_view data,
                                    const std::function<bool(std::string_view)>& send) {
  const TDropReason reason = Feed(data);
  if (reason != TDropReason::None) return reason;
  for (;;) {
    std::optional<TRequest> request;
    if (NextRequest(request) != TDropReason::None) return TDropReason::Malformed;
    if (!request) return TDropReason::None;
    if (const auto answer = FCore.Handle(*request, FId)) {
      if (!send(FormatAnswer(request->Seq, *answer))) return TDropReason::Closed;
    }
  }
}

bool TClientSession::Expired() const {
  return FFramer.HasPartial() && FClock.NowMs() - FPartialSinceMs >= FUnfinishedLineMs;
}

namespace {

// Whether a goes before b within one process: lower tiers first (0 never spoke, 1 spoke long
// ago, 2 spoke lately).
bool DropsBefore(const TSlotState& a, const TSlotState& b, int64_t nowMs,
                 const TServerLimits& limits) {
  auto tier = [&](const TSlotState& s) {
    if (!s.Spoken) return 0;
    return nowMs - s.LastRequestMs >= limits.RecentRequestMs ? 1 : 2;
  };
  const int ta = tier(a), tb = tier(b);
  if (ta != tb) return ta < tb;
  if (ta == 0) {
    if (a.UnfinishedBytes != b.UnfinishedBytes) return a.UnfinishedBytes > b.UnfinishedBytes;
    return a.StartMs < b.StartMs;
  }
  return a.LastRequestMs < b.LastRequestMs;
}

}  // namespace

size_t PickConnectionToDrop(const std::vector<TSlotState>& slots, int64_t nowMs,
                            const TServerLimits& limits) {
  std::map<uint32_t, size_t> held;  // owner 0 gathers the connections of unknown processes
  for (const TSlotState& s : slots) ++held[s.Owner];
  uint32_t most = 0;
  size_t mostHeld = 0;
  for (const auto& [owner, n] : held)
    if (n > mostHeld) {
      most = owner;
      mostHeld = n;
    }
  size_t pick = slots.size();
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].Owner != most) continue;
    if (pick == slots.size() || DropsBefore(slots[i], slots[pick], nowMs, limits)) pick = i;
  }
  return pick == slots.size() ? 0 : pick;
}

std::vector<size_t> ConnectionsOverProcessCap(const std::vector<TSlotState>& slots, int64_t nowMs,
                                              const TServerLimits& limits, int cap) {
  std::map<uint32_t, std::vector<size_t>> byOwner;
  for (size_t i = 0; i < slots.size(); ++i)
    if (slots[i].Owner != 0) byOwner[slots[i].Owner].push_back(i);
  std::vector<size_t> drop;
  const size_t keep = static_cast<size_t>(std::max(cap, 1));
  for (auto& [owner, indexes] : byOwner) {
    if (indexes.size() <= keep) continue;
    std::sort(indexes.begin(), indexes.end(), [&](size_t a, size_t b) {
      return DropsBefore(slots[a], slots[b], nowMs, limits);
    });
    drop.insert(drop.end(), indexes.begin(),
                indexes.begin() + static_cast<std::ptrdiff_t>(indexes.size() - keep));
  }
  return drop;
}

int32_t NextSubscriptionHandle(int32_t handle) noexcept {
  return handle <= 0 || handle == std::numeric_limits<int32_t>::max() ? 1 : handle + 1;
}

TServiceCore::TServiceCore(IMemoryPort& memory, IScheduleStore& store, IClock& clock,
                           IServiceLog& log)
    : FMemory(memory), FStore(store), FClock(clock), FLog(log) {}

void TServiceCore::Start() {
  std::optional<TSchedule> stored;
  try {
    stored = FStore.Load();
  } catch (const std::exception& e) {
    FLog.Log(std::string("schedule not read: ") + e.what());
  }
  {
    std::lock_guard lock(FLock);
    FStopping = false;
    if (stored) FSchedule = *stored;
    FNextRunMs = FClock.NowMs() + int64_t{FSchedule.PeriodMinutes} * 60000;
  }
  Sample();
}

void TServiceCore::Stop() {
  std::lock_guard lock(FLock);
  FStopping = true;
}

int64_t TServiceCore::OpenSession() {
  std::lock_guard lock(FLock);
  return FNextSession++;
}

void TServiceCore::CloseSession(int64_t sessionId) {
  {
    std::lock_guard lock(FLock);
    std::erase_if(FSubscriptions, [&](const auto& s) { return s.second.Session == sessionId; });
  }
  std::lock_guard lock(FLogLock);
  const int64_t now = FClock.NowMs();
  for (auto it = FLogCounts.lower_bound({sessionId, TClientLogKind::UnknownCommand});
       it != FLogCounts.end() && it->first.first == sessionId;) {
    // What was counted is not lost with the connection.
    if (it->second.Unwritten)
      WriteClientLine(now, it->second.Last + " (" + std::to_string(it->second.Unwritten) +
                               " such lines of this connection in all)");
    it = FLogCounts.erase(it);
  }
}

size_t TServiceCore::QueuedEvents() const {
  std::lock_guard lock(FLock);
  size_t n = 0;
  for (const auto& [handle, sub] : FSubscriptions) n += sub.Events.size();
  return n;
}

void TServiceCore::SetMinFreeIntervalMs(int64_t ms) { FMinFreeIntervalMs = std::max<int64_t>(ms, 0); }

void TServiceCore::RollLogWindow(int64_t now) {
  if (now - FLogWindowStartMs >= kClientLogWindowMs) {
    if (FLogWindowUnwritten)
      FLog.Log(std::to_string(FLogWindowUnwritten) + " further line(s) of clients not written: " +
               "more than " + std::to_string(kClientLogLinesPerWindow) + " a second");
    FLogWindowStartMs = now;
    FLogWindowLines = 0;
    FLogWindowUnwritten = 0;
  }
}

bool TServiceCore::WriteClientLine(int64_t now, const std::string& line) {
  RollLogWindow(now);
  if (FLogWindowLines >= kClientLogLinesPerWindow) {
    ++FLogWindowUnwritten;
    return false;
  }
  ++FLogWindowLines;
  FLog.Log(line);
  return true;
}

void TServiceCore::ClientLog(int64_t sessionId, TClientLogKind kind, std::string line) {
  std::lock_guard lock(FLogLock);
  const int64_t now = FClock.NowMs();
  auto [it, fresh] = FLogCounts.try_emplace({sessionId, kind});
  TLogCount& c = it->second;
  if (!fresh && now - c.LastWrittenMs < kClientLogWindowMs) {
    ++c.Unwritten;
    c.Last = std::move(line);
    return;
  }
  if (c.Unwritten) line += " (and " + std::to_string(c.Unwritten) + " such lines before it)";
  c.LastWrittenMs = now;
  c.Unwritten = 0;
  c.Last.clear();
  c.Last.shrink_to_fit();
  WriteClientLine(now, line);
}

void TServiceCore::FlushLogSummaries() {
  std::lock_guard lock(FLogLock);
  const int64_t now = FClock.NowMs();
  for (auto& [key, c] : FLogCounts) {
    if (!c.Unwritten || now - c.LastWrittenMs < kClientLogWindowMs) continue;
    WriteClientLine(now, c.Last + " (" + std::to_string(c.Unwritten) +
                             " such lines of this connection in the last second or more)");
    c.LastWrittenMs = now;
    c.Unwritten = 0;
    c.Last.clear();
    c.Last.shrink_to_fit();
  }
  RollLogWindow(now);
}

TSchedule TServiceCore::Schedule() const {
  std::lock_guard lock(FLock);
  return FSchedule;
}

TUsageCounts TServiceCore::Usage() const {
  std::lock_guard lock(FLock);
  return FHistory.Counts();
}

std::optional<std::string> TServiceCore::Handle(const TRequest& request, int64_t sessionId) {
  const std::string& cmd = request.Command;
  const TCommaList args = TCommaList::Parse(request.Args);
  auto arg = [&](size_t i) { return i < args.Count() ? args.Items()[i] : std::string(); };
  if (SameText(cmd, "GetInfo")) {
    if (!SameText(arg(0), kModuleOptimize)) return std::string();
    return GetInfo(arg(1), arg(2));
  }
  if (SameText(cmd, "GetField")) {
    if (!SameText(arg(0), kModuleOptimize)) return std::string();
    return TCommaList::Parse(ReadOnlyItem(arg(1))).Value(arg(2));
  }
  if (SameText(cmd, "AvaliableSensors")) {
    TCommaList list;
    for (const TSensor& s : kSensors) list.Add(s.Name);
    return list.Text();
  }
  if (SameText(cmd, "EnableAlert")) {
    auto answer = EnableAlert(request);
    if (answer)
      ClientLog(sessionId, TClientLogKind::AlertRefused,
                "EnableAlert " + *answer + ": " + request.Args.substr(0, 200));
    return answer;
  }
  if (SameText(cmd, "DisableAlert")) {
    std::lock_guard lock(FLock);
    if (const TSensor* s = FindSensor(arg(0))) FAlerts.erase(s->Name);
    return std::nullopt;
  }
  if (SameText(cmd, "IsAlertEnabled")) {
    std::lock_guard lock(FLock);
    const TSensor* s = FindSensor(arg(0));
    return std::string(s && FAlerts.count(s->Name) ? "True" : "False");
  }
  if (SameText(cmd, "Subscribe")) return Subscribe(arg(0), sessionId);
  if (SameText(cmd, "Unsubscribe")) {
    if (const auto h = ParseInteger(arg(0))) {
      std::lock_guard lock(FLock);
      const auto it = *h >= INT32_MIN && *h <= INT32_MAX ? FSubscriptions.find(static_cast<int32_t>(*h))
                                                          : FSubscriptions.end();
      if (it != FSubscriptions.end() && it->second.Session == sessionId) FSubscriptions.erase(it);
    }
    return std::nullopt;
  }
  if (SameText(cmd, "WaitAlert")) return WaitAlert(request, sessionId);
  ClientLog(sessionId, TClientLogKind::UnknownCommand, "unknown command " + cmd.substr(0, 64));
  return std::string();
}

std::string TServiceCore::GetInfo(const std::string& item, const std::string& info) {
  if (SameText(item, kItemFree)) return FreeNow("request");
  if (SameText(item, kItemSetConf)) return SetSchedule(info);
  return ReadOnlyItem(item);
}

std::string TServiceCore::ReadOnlyItem(const std::string& item) {
  TCommaList list;
  if (SameText(item, kItemGetConf)) return ScheduleText();
  if (SameText(item, kItemUsage)) {
    const TUsageCounts c = Usage();
    list.AddValue("count", std::to_string(c.Count));
    list.AddValue("60", std::to_string(c.AtLeast60));
    list.AddValue("80", std::to_string(c.AtLeast80));
    return list.Text();
  }
  if (SameText(item, kItemStatus)) {
    try {
      const TMemoryStatus s = FMemory.Status();
      list.AddValue("Load", std::to_string(s.Load));
      list.AddValue("TotalMB", Decimal(s.TotalPhys / kMiB));
      list.AddValue("AvailMB", Decimal(s.AvailPhys / kMiB));
    } catch (const std::exception& e) {
      FLog.Log(std::string("memory status: ") + e.what());
    }
    return list.Text();
  }
  return std::string();
}

std::string TServiceCore::ScheduleText() const {
  const TSchedule s = Schedule();
  TCommaList list;
  list.AddValue("Enabled", s.Enabled ? "-1" : "0");
  list.AddValue("Period", std::to_string(s.PeriodMinutes));
  return list.Text();
}

std::string TServiceCore::SetSchedule(const std::string& info) {
  // The stored schedule must end as the last change left it in memory.
  std::lock_guard scheduleLock(FScheduleLock);
  const TCommaList list = TCommaList::Parse(info);
  TSchedule next = Schedule();
  const std::string enabled = list.Value("Enabled");
  if (!enabled.empty()) {
    const auto b = ParseBooleanText(enabled);
    if (!b) return std::string();
    next.Enabled = *b;
  }
  const std::string period = list.Value("Period");
  if (!period.empty()) {
    const auto p = ParseInteger(period);
    if (!p || (*p != 5 && *p != 30 && *p != 60)) return std::string();
    next.PeriodMinutes = static_cast<int>(*p);
  }
  {
    std::lock_guard lock(FLock);
    FSchedule = next;
    FNextRunMs = FClock.NowMs() + int64_t{next.PeriodMinutes} * 60000;
  }
  std::string answer = ScheduleText();
  try {
    FStore.Save(next);
  } catch (const std::exception& e) {
    // The schedule runs all the same; the answer says it will not outlive the service.
    FLog.Log(std::string("schedule not saved: ") + e.what());
    answer += ",Saved=0";
  }
  return answer;
}

bool TServiceCore::IsFreeRequest(const TRequest& request) {
  if (!SameText(request.Command, "GetInfo")) return false;
  const TCommaList args = TCommaList::Parse(request.Args);
  return args.Count() >= 2 && SameText(args.Items()[0], kModuleOptimize) &&
         SameText(args.Items()[1], kItemFree);
}

bool TServiceCore::IsWaitAlert(const TRequest& request) {
  return SameText(request.Command, "WaitAlert");
}

std::string TServiceCore::FreeNow(const char* why) {
  std::unique_lock freeLock(FFreeLock, std::try_to_lock);
  if (!freeLock.owns_lock()) {
    // A pass is running: another one right after it would find nothing left to free, and
    // clients queued behind many passes would miss their time limit. Share its outcome.
    ++FFreeSharers;
    freeLock.lock();
    --FFreeSharers;
    return FLastFree;
  }
  // Memory freed moments ago is still free; passes back to back would only make every program
  // fault its pages in again.
  if (FFreeRan && FClock.NowMs() - FLastFreeEndMs < FMinFreeIntervalMs.load()) return FLastFree;
  ++FFreePasses;
  try {
    FLastFree = FreePass(why);
  } catch (...) {
    FFreeRan = true;
    FLastFreeEndMs = FClock.NowMs();
    FLastFree.clear();
    throw;
  }
  FFreeRan = true;
  FLastFreeEndMs = FClock.NowMs();
  return FLastFree;
}

std::string TServiceCore::FreePass(const char* why) {
  TMemoryStatus before, after;
  try {
    before = FMemory.Status();
  } catch (const std::exception& e) {
    FLog.Log(std::string("memory status: ") + e.what());
    return std::string();
  }
  const TFreeSteps steps =
      FMemory.FreeMemory([this](std::string_view line) { FLog.Log(line); });
  try {
    after = FMemory.Status();
  } catch (const std::exception& e) {
    FLog.Log(std::string("memory status: ") + e.what());
    return std::string();
  }
  const uint64_t freed = after.AvailPhys > before.AvailPhys ? after.AvailPhys - before.AvailPhys : 0;
  TCommaList list;
  list.AddValue("FreedMB", Decimal(freed / kMiB));
  list.AddValue("BeforeMB", Decimal(before.AvailPhys / kMiB));
  list.AddValue("AfterMB", Decimal(after.AvailPhys / kMiB));
  list.AddValue("Steps", std::to_string(steps.Done));
  list.AddValue("Refused", std::to_string(steps.Refused));
  FLog.Log(std::string("memory freed (") + why + "): " + list.Text());
  return list.Text();
}

bool TServiceCore::TakeDueSchedule() {
  std::lock_guard lock(FLock);
  const int64_t now = FClock.NowMs();
  if (!FSchedule.Enabled || now < FNextRunMs) return false;
  FNextRunMs = now + int64_t{FSchedule.PeriodMinutes} * 60000;
  return true;
}

bool TServiceCore::RunScheduleIfDue() {
  if (!TakeDueSchedule()) return false;
  FreeNow("schedule");
  return true;
}

std::optional<std::string> TServiceCore::EnableAlert(const TRequest& request) {
  const TCommaList args = TCommaList::Parse(request.Args);
  const std::vector<std::string>& items = args.Items();
  auto refuse = [&](const char* what) -> std::optional<std::string> {
    return std::string("Refused=") + what;  // logged by the caller, counted per connection
  };
  const TSensor* sensor = items.empty() ? nullptr : FindSensor(items[0]);
  if (!sensor) return refuse("sensor");
  std::optional<double> level, rearm;
  if (items.size() == 3) {
    level = ParseNumber(items[1]);
    rearm = ParseNumber(items[2]);
  } else if (items.size() == 5 && AllDigits(items[2]) && AllDigits(items[4])) {
    // Earlier clients wrote the decimal comma of their locale: 80,5,70,5 is 80.5 and 70.5.
    level = ParseNumber(items[1] + "." + items[2]);
    rearm = ParseNumber(items[3] + "." + items[4]);
  } else {
    return refuse("form");
  }
  if (!level) return refuse("level");
  if (!rearm) return refuse("rearm");
  TAlert a;
  a.Level = *level;
  // A re-arm level on the alerting side of the level would never clear: use the level itself.
  a.Rearm = sensor->High ? std::min(*rearm, *level) : std::max(*rearm, *level);
  std::lock_guard lock(FLock);
  FAlerts[sensor->Name] = a;
  return std::nullopt;
}

std::string TServiceCore::Subscribe(const std::string& args, int64_t sessionId) {
  const auto h = ParseInteger(args);
  std::lock_guard lock(FLock);
  if (h && *h >= INT32_MIN && *h <= INT32_MAX) {
    const auto it = FSubscriptions.find(static_cast<int32_t>(*h));
    if (it != FSubscriptions.end() && it->second.Session == sessionId) return std::to_string(*h);
  }
  const auto held = std::count_if(FSubscriptions.begin(), FSubscriptions.end(),
                                  [&](const auto& s) { return s.second.Session == sessionId; });
  if (static_cast<size_t>(held) >= kMaxSubscriptionsPerClient) return "-1";
  // Handles go out as signed 32-bit numbers: after the largest, the numbers not in use again.
  int32_t handle = FNextHandle;
  while (FSubscriptions.count(handle)) handle = NextSubscriptionHandle(handle);
  FNextHandle = NextSubscriptionHandle(handle);
  FSubscriptions[handle] = TSubscription{sessionId, {}};
  return std::to_string(handle);
}

std::optional<std::string> TServiceCore::TakeAlert(const TRequest& request, int64_t sessionId,
                                                   bool giveUp) {
  const TCommaList args = TCommaList::Parse(request.Args);
  // 0 is never a handle: what is no number finds none.
  const int64_t h = args.Count() ? ParseInteger(args.Items()[0]).value_or(0) : 0;
  std::lock_guard lock(FLock);
  const auto it = h >= INT32_MIN && h <= INT32_MAX ? FSubscriptions.find(static_cast<int32_t>(h))
                                                   : FSubscriptions.end();
  if (it == FSubscriptions.end() || it->second.Session != sessionId) return "-1,0";
  std::vector<TEvent>& events = it->second.Events;
  if (!events.empty()) {
    const TEvent e = events.front();
    events.erase(events.begin());
    if (events.empty()) std::vector<TEvent>().swap(events);
    TCommaList text;
    text.AddValue("Sensor", kSensors[e.Sensor].Name);
    text.AddValue("Value", FormatNumber(e.Value));
    text.AddValue("Level", FormatNumber(e.Level));
    TCommaList answer;
    answer.Add(std::to_string(e.Code));
    answer.Add(std::to_string(std::min<size_t>(events.size(), 255)));
    answer.Add(text.Text());
    return answer.Text();
  }
  if (giveUp || FStopping) return "0,0";
  return std::nullopt;
}

std::string TServiceCore::WaitAlert(const TRequest& request, int64_t sessionId) {
  const int64_t deadline = FClock.NowMs() + kWaitAlertMs;
  for (;;) {
    if (auto answer = TakeAlert(request, sessionId, FClock.NowMs() >= deadline)) return *answer;
    FClock.SleepMs(100);
  }
}

void TServiceCore::Sample() {
  TMemoryStatus s;
  try {
    s = FMemory.Status();
  } catch (const std::exception& e) {
    FLog.Log(std::string("memory status: ") + e.what());
    return;
  }
  std::lock_guard lock(FLock);
  FHistory.Add(s.Load);
  // Every queue its share of the total, so the queues of all clients together stay bounded.
  const size_t share = std::clamp<size_t>(
      kMaxQueuedEventsTotal / std::max<size_t>(FSubscriptions.size(), 1), 1, kMaxQueuedEvents);
  for (auto& [name, alert] : FAlerts) {
    const TSensor* sensor = FindSensor(name);
    const double value =
        sensor->High ? double(s.Load) : double(s.AvailPhys / kMiB);
    const bool alerting = sensor->High ? value >= alert.Level : value <= alert.Level;
    const bool clear = sensor->High ? value < alert.Rearm : value > alert.Rearm;
    int code = 0;
    if (!alert.Active && alerting) {
      alert.Active = true;
      code = 1;
    } else if (alert.Active && clear && !alerting) {
      alert.Active = false;
      code = 2;
    }
    if (!code) continue;
    const auto sensorIndex = static_cast<uint8_t>(sensor - kSensors);
    for (auto& [handle, sub] : FSubscriptions) {
      std::vector<TEvent>& events = sub.Events;
      if (events.size() >= share)
        events.erase(events.begin(),
                     events.begin() + static_cast<std::ptrdiff_t>(events.size() - share + 1));
      if (events.capacity() > 2 * share) events.shrink_to_fit();
      events.push_back(TEvent{value, alert.Level, static_cast<uint8_t>(code), sensorIndex});
    }
  }
}
