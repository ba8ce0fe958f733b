#include "optimize/OptimizeIt.h"

#include "common/GenericAPI.h"
#include "common/ResStrings.h"
#include "common/TextUtil.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>

std::unique_ptr<TOptimizeIt> gOptimizeIt;

namespace {

constexpr bool HKLM = false;
constexpr bool HKCU = true;

struct TCatalogueRow {
  TSpeedSwitch Switch;
  TTweak Tweak;
};

// The whole catalogue; each switch's rows are together, in the order they are applied.
constexpr TCatalogueRow kCatalogue[] = {
    {TSpeedSwitch::ssTurboStartup,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\PrefetchParameters",
      "EnablePrefetcher", "dword:00000001"}},
    {TSpeedSwitch::ssTurboStartup,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "AutoChkTimeOut", "dword:00000003"}},

    {TSpeedSwitch::ssTurboShutdown,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control", "WaitToKillServiceTimeout", "3000"}},
    {TSpeedSwitch::ssTurboShutdown, {HKCU, "\\Control Panel\\Desktop", "WaitToKillAppTimeout", "3000"}},
    {TSpeedSwitch::ssTurboShutdown, {HKCU, "\\Control Panel\\Desktop", "ABC", "2"}},

    {TSpeedSwitch::ssPerformanceEnhancement,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control", "WaitToKillServiceTimeout", "3000"}},
    {TSpeedSwitch::ssPerformanceEnhancement,
     {HKLM, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL", "@", "1"}},
    {TSpeedSwitch::ssPerformanceEnhancement,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
      "IoPageLockLimit", "dword:00010000"}},
    {TSpeedSwitch::ssPerformanceEnhancement, {HKCU, "\\Control Panel\\Desktop", "AutoEndTasks", "1"}},
    {TSpeedSwitch::ssPerformanceEnhancement, {HKCU, "\\Control Panel\\Desktop", "HungAppTimeout", "1000"}},
    {TSpeedSwitch::ssPerformanceEnhancement, {HKCU, "\\Control Panel\\Desktop", "MenuShowDelay", "0"}},
    {TSpeedSwitch::ssPerformanceEnhancement,
     {HKLM, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegDone", "1"}},
    {TSpeedSwitch::ssPerformanceEnhancement,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
      "DisablePagingExecutive", "dword:00000001"}},
    {TSpeedSwitch::ssPerformanceEnhancement,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
      "SecondLevelDataCache", "dword:00000100"}},

    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip", "DefaultTTL", "dword:00000080"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip", "GlobalMaxTcpWindowSize", "dword:00007fff"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "DefaultTTL", "dword:00000080"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "EnablePMTUBHDetect",
      "dword:00000000"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "EnablePMTUDiscovery",
      "dword:00000001"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "GlobalMaxTcpWindowSize",
      "dword:00007fff"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "TcpMaxDupAcks", "dword:00000002"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "SackOpts", "dword:00000001"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "Tcp1323Opts", "dword:00000003"}},
    {TSpeedSwitch::ssNetworkBooster,
     {HKLM, "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", "TcpWindowSize", "dword:00007fff"}},
};

// The marks of the record of an earlier version: "created" or the type the value had.
constexpr std::string_view kMarkCreated = "created";
constexpr std::string_view kMarkSz = "REG_SZ";
constexpr std::string_view kMarkExpandSz = "REG_EXPAND_SZ";
constexpr std::string_view kMarkDword = "REG_DWORD";

// The product's stored switch states and the boot defragmentation option.
constexpr const char* kStatesKey = "\\Software\\Quor\\eBrisko";
constexpr const char* kStatesValue = "Optimization";
constexpr const char* kDefragKey = "\\SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction";
constexpr const char* kDefragValue = "Enable";

constexpr long kErrorPathNotFound = 3;

// A hexadecimal payload as a 32-bit value; 0 when it is not a number or does not fit.
uint32_t HexPayload(std::string_view text) {
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

std::string EntryName(std::string_view keyPath, std::string_view valueName) {
  return std::string(keyPath) + "_" + std::string(valueName);
}

std::string_view RegistryValueName(std::string_view catalogueName) {
  return catalogueName == "@" ? std::string_view() : catalogueName;
}

}  // namespace

std::span<const TTweak> Catalogue(TSpeedSwitch which) {
  static const auto spans = [] {
    std::vector<std::vector<TTweak>> rows(std::size(kAllSpeedSwitches));
    for (const TCatalogueRow& row : kCatalogue)
      rows[static_cast<size_t>(row.Switch)].push_back(row.Tweak);
    return rows;
  }();
  return spans[static_cast<size_t>(which)];
}

// ---- Files ----

std::string LoadTextFile(IRestoreFileSystem& files, const std::string& path) {
  std::string text;
  const long rc = files.ReadText(path, text);
  if (rc == kErrorFileNotFound || rc == kErrorPathNotFound) return {};
  if (rc != kErrorSuccess)
    throw Exception(LoadResStringFmt(rsCannotOpenFile, {path, files.ErrorText(rc)}));
  return text;
}

void SaveTextFileSafely(IRestoreFileSystem& files, const std::string& path, std::string_view text) {
  // A leftover of an interrupted save has this name too; it is only ever overwritten.
  const std::string temp = path + ".tmp";
  long rc = files.WriteTextFlushed(temp, text);
  if (rc == kErrorSuccess) rc = files.ReplaceWith(path, temp);
  if (rc != kErrorSuccess) {
    files.RemoveFile(temp);
    throw Exception(LoadResStringFmt(rsCannotCreateFile, {path, files.ErrorText(rc)}));
  }
}

TNameValueLines::TNameValueLines(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      FLines.emplace_back(text.substr(pos));
      break;
    }
    FLines.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
}

long TNameValueLines::Find(std::string_view name) const {
  for (size_t i = 0; i < FLines.size(); ++i) {
    const size_t eq = FLines[i].find('=');
    if (eq != std::string::npos && SameText(std::string_view(FLines[i]).substr(0, eq), name))
      return static_cast<long>(i);
  }
  return -1;
}

std::string TNameValueLines::Value(std::string_view name) const {
  const long i = Find(name);
  if (i < 0) return {};
  const std::string& line = FLines[static_cast<size_t>(i)];
  return line.substr(line.find('=') + 1);
}

void TNameValueLines::SetValue(std::string_view name, std::string_view value) {
  const long i = Find(name);
  if (value.empty()) {
    if (i >= 0) FLines.erase(FLines.begin() + i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i >= 0) {
    FLines[static_cast<size_t>(i)] = std::move(line);
  } else {
    FLines.push_back(std::move(line));
  }
}

std::string TNameValueLines::Text() const {
  std::string text;
  for (const std::string& line : FLines) text += line + "\r\n";
  return text;
}

// ---- The record of changed values ----

namespace {

constexpr std::string_view kFormatLine = "format=2";

std::string Hex8(uint32_t v) {
  static const char* const kDigits = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) text[static_cast<size_t>(i)] = kDigits[v & 15];
  return text;
}

bool ParseHex8(std::string_view text, uint32_t& v) {
  if (text.size() != 8) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + 8, v, 16);
  return ec == std::errc() && end == text.data() + 8;
}

// Strict unsigned decimal of 32 bits, as the record writes it.
bool ParseDecimal32(std::string_view text, uint32_t& v) {
  if (text.empty() || text.size() > 10) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  return ec == std::errc() && end == text.data() + text.size();
}

// Every byte that could end a line or a field, and every non-ASCII byte, as %XX: the record
// stays plain ASCII, which any code page keeps as it is.
std::string Escape(std::string_view text) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7f || c == '%' || c == ',' || c == '=') {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    uint8_t byte = 0;
    if (i + 2 >= text.size()) return false;
    const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
    if (ec != std::errc() || end != text.data() + i + 3) return false;
    out += static_cast<char>(byte);
    i += 2;
  }
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                         : comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

const char* PreviousToken(TPreviousKind kind) {
  switch (kind) {
    case TPreviousKind::pkNone: return "none";
    case TPreviousKind::pkString: return "REG_SZ";
    case TPreviousKind::pkExpandString: return "REG_EXPAND_SZ";
    case TPreviousKind::pkDword: return "REG_DWORD";
    case TPreviousKind::pkUnknown: return "unknown";
  }
  return "unknown";
}

bool PreviousOfToken(std::string_view token, TPreviousKind& kind) {
  for (const TPreviousKind k : {TPreviousKind::pkNone, TPreviousKind::pkString,
                                TPreviousKind::pkExpandString, TPreviousKind::pkDword,
                                TPreviousKind::pkUnknown})
    if (token == PreviousToken(k)) {
      kind = k;
      return true;
    }
  return false;
}

bool RootOfToken(std::string_view token, bool& currentUser) {
  if (token == "HKLM" || token == "HKCU") {
    currentUser = token == "HKCU";
    return true;
  }
  return false;
}

bool ParseValueLine(std::string_view body, TChangedValue& v) {
  const auto f = SplitFields(body);
  if (f.size() != 9 || !RootOfToken(f[0], v.CurrentUser) || !Unescape(f[1], v.Sid) ||
      !Unescape(f[2], v.KeyPath) || !Unescape(f[3], v.ValueName) ||
      !PreviousOfToken(f[4], v.Previous) || !Unescape(f[5], v.PreviousData) ||
      !Unescape(f[7], v.WrittenData) || !Unescape(f[8], v.WrittenBefore))
    return false;
  if (f[6] != "REG_SZ" && f[6] != "REG_DWORD") return false;
  v.WroteDword = f[6] == "REG_DWORD";
  uint32_t n = 0;
  if (v.WroteDword && !ParseDecimal32(v.WrittenData, n)) return false;
  if (v.WroteDword && !v.WrittenBefore.empty() && !ParseDecimal32(v.WrittenBefore, n)) return false;
  if (v.Previous == TPreviousKind::pkDword && !ParseDecimal32(v.PreviousData, n)) return false;
  return !v.KeyPath.empty() && (v.CurrentUser || v.Sid.empty());
}

}  // namespace

uint32_t TextChecksum(std::string_view text) {
  uint32_t h = 2166136261u;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

std::string FormatChangeRecord(const TChangeRecord& record) {
  std::string text = std::string(kFormatLine) + "\r\n";
  text += "generation=" + std::to_string(record.Generation) + "\r\n";
  text += "restore=";
  for (size_t i = 0; i < record.RestoreSums.size(); ++i)
    text += (i ? "," : "") + Hex8(record.RestoreSums[i]);
  text += "\r\n";
  for (const TChangedValue& v : record.Values)
    text += std::string("value=") + (v.CurrentUser ? "HKCU" : "HKLM") + "," + Escape(v.Sid) + "," +
            Escape(v.KeyPath) + "," + Escape(v.ValueName) + "," + PreviousToken(v.Previous) + "," +
            Escape(v.PreviousData) + "," + (v.WroteDword ? "REG_DWORD" : "REG_SZ") + "," +
            Escape(v.WrittenData) + "," + Escape(v.WrittenBefore) + "\r\n";
  for (const TCreatedKey& k : record.Keys)
    text += std::string("key=") + (k.CurrentUser ? "HKCU" : "HKLM") + "," + Escape(k.Sid) + "," +
            Escape(k.KeyPath) + "\r\n";
  return text + "checksum=" + Hex8(TextChecksum(text)) + "\r\n";
}

bool ParseChangeRecord(std::string_view text, TChangeRecord& record) {
  record = {};
  if (!text.ends_with("\r\n")) return false;
  const size_t last = text.rfind("\r\n", text.size() - 3);
  const size_t bodyEnd = last == std::string_view::npos ? 0 : last + 2;
  const std::string_view tail = text.substr(bodyEnd, text.size() - 2 - bodyEnd);
  uint32_t sum = 0;
  if (!tail.starts_with("checksum=") || !ParseHex8(tail.substr(9), sum)) return false;
  const std::string_view body = text.substr(0, bodyEnd);
  if (TextChecksum(body) != sum) return false;
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < body.size();) {
    const size_t end = body.find("\r\n", pos);
    if (end == std::string_view::npos) return false;
    lines.push_back(body.substr(pos, end - pos));
    pos = end + 2;
  }
  if (lines.size() < 3 || lines[0] != kFormatLine || !lines[1].starts_with("generation=") ||
      !lines[2].starts_with("restore="))
    return false;
  const std::string_view generation = lines[1].substr(11);
  const auto [gend, gec] =
      std::from_chars(generation.data(), generation.data() + generation.size(), record.Generation);
  if (generation.empty() || gec != std::errc() || gend != generation.data() + generation.size())
    return false;
  for (const std::string_view sumText : SplitFields(lines[2].substr(8))) {
    uint32_t s = 0;
    if (!ParseHex8(sumText, s)) return false;
    record.RestoreSums.push_back(s);
  }
  for (size_t i = 3; i < lines.size(); ++i) {
    if (lines[i].starts_with("value=")) {
      TChangedValue v;
      if (!ParseValueLine(lines[i].substr(6), v)) return false;
      record.Values.push_back(std::move(v));
    } else if (lines[i].starts_with("key=")) {
      const auto f = SplitFields(lines[i].substr(4));
      TCreatedKey k;
      if (f.size() != 3 || !RootOfToken(f[0], k.CurrentUser) || !Unescape(f[1], k.Sid) ||
          !Unescape(f[2], k.KeyPath) || k.KeyPath.empty())
        return false;
      record.Keys.push_back(std::move(k));
    } else {
      return false;
    }
  }
  return true;
}

// ---- Engine ----

struct TOptimizeIt::TApplyRow {
  bool CurrentUser;
  std::string KeyPath;
  std::string Name;  // as in the registry
  TRegValueKind Kind;
  std::string Payload;
  bool RestoreEntry;  // the restore file keeps the earlier value (every catalogue row)
};

namespace {

// A value as it is now; nullopt when it or its key is missing. Raises "Failed to get data"
// when it exists but cannot be read.
std::optional<TRegValue> ReadCurrent(IRawRegistry& reg, TRegHandle root, std::string_view keyPath,
                                     std::string_view name) {
  TRegHandle key = 0;
  if (reg.OpenKey(root, keyPath.substr(keyPath.starts_with('\\') ? 1 : 0), kKeyRead, key) !=
      kErrorSuccess)
    return std::nullopt;
  TRegValue value;
  const long rc = reg.QueryValue(key, name, value);
  reg.CloseKey(key);
  if (rc == kErrorFileNotFound) return std::nullopt;
  if (rc != kErrorSuccess) throw ERegistryException(LoadResStringFmt(rsGetDataFailed, {name}));
  return value;
}

bool IsText(const TRegValue& v) { return v.Type == kRegSz || v.Type == kRegExpandSz; }
bool IsDword(const TRegValue& v) { return v.Type == kRegDword && v.Data.size() == 4; }

uint32_t DwordOf(const TRegValue& v) {
  uint32_t n = 0;
  std::memcpy(&n, v.Data.data(), 4);
  return n;
}

TRegValue DwordValue(uint32_t n) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &n, 4);
  return {kRegDword, bytes};
}

bool SameValue(const std::optional<TRegValue>& a, const TRegValue& b) {
  return a && a->Type == b.Type && a->Data == b.Data;
}

// What the engine wrote, as the registry holds it.
TRegValue WrittenValue(const TChangedValue& v, bool before = false) {
  const std::string& data = before ? v.WrittenBefore : v.WrittenData;
  if (!v.WroteDword) return {kRegSz, data};
  uint32_t n = 0;
  ParseDecimal32(data, n);
  return DwordValue(n);
}

// Whether the value holds what the engine wrote (or wrote before a write that may have failed).
bool HoldsWritten(const std::optional<TRegValue>& current, const TChangedValue& v) {
  return SameValue(current, WrittenValue(v)) ||
         (!v.WrittenBefore.empty() && SameValue(current, WrittenValue(v, true)));
}

bool Matches(const TChangedValue& v, bool currentUser, std::string_view sid,
             std::string_view keyPath, std::string_view name) {
  return v.CurrentUser == currentUser && SameText(v.Sid, sid) && SameText(v.KeyPath, keyPath) &&
         SameText(v.ValueName, name);
}

std::string Describe(const TChangedValue& v) {
  return std::string(v.CurrentUser ? "HKCU" : "HKLM") + (v.Sid.empty() ? "" : "(" + v.Sid + ")") +
         v.KeyPath + "\\" + v.ValueName;
}

// The prefixes of a key path, shortest first: "\A", "\A\B", "\A\B\C".
std::vector<std::string> KeyPrefixes(std::string_view keyPath) {
  std::vector<std::string> prefixes;
  for (size_t pos = 1; pos <= keyPath.size(); ++pos)
    if (pos == keyPath.size() || keyPath[pos] == '\\')
      if (pos > 1) prefixes.emplace_back(keyPath.substr(0, pos));
  return prefixes;
}

bool KeyPresent(IRawRegistry& reg, TRegHandle root, std::string_view keyPath) {
  TRegHandle key = 0;
  const long rc = reg.OpenKey(root, keyPath.substr(1), kKeyRead, key);
  if (rc == kErrorSuccess) reg.CloseKey(key);
  return rc != kErrorFileNotFound;  // a key this user may not read is still there
}

void AddFailure(std::vector<std::string>& failures, const std::string& text) {
  // One unreadable file fails every value alike: name it once.
  if (std::find(failures.begin(), failures.end(), text) == failures.end()) failures.push_back(text);
}

}  // namespace

TOptimizeIt::TOptimizeIt(std::string_view dir, IRawRegistry& reg, IRestoreFileSystem& files,
                         IUserHives* hives)
    : FDir(IncludeTrailingSeparator(dir)), FRegistry(reg, kKeyAllAccess), FRaw(reg),
      FFiles(files), FHives(hives) {}

std::string TOptimizeIt::CurrentSid() { return FHives ? FHives->CurrentUserSid() : std::string(); }
TRegHandle TOptimizeIt::UserRoot() { return FHives ? FHives->CurrentUserRoot() : kHkeyCurrentUser; }

void TOptimizeIt::Apply(TSpeedSwitch which) {
  std::vector<TApplyRow> rows;
  for (const TTweak& t : Catalogue(which)) {
    std::string payload = t.ValueText;
    const TRegValueKind kind = ParseValueText(payload);
    rows.push_back({t.CurrentUser, t.KeyPath, std::string(RegistryValueName(t.ValueName)), kind,
                    std::move(payload), true});
  }
  // Every earlier value is checked before the first is written, so that a switch that cannot
  // be taken back is not half applied.
  for (const TApplyRow& row : rows) CheckEarlierValue(row);
  for (const TApplyRow& row : rows) ApplyRow(row);
  // A switch applied over values that held the tweaks already leaves a record all the same:
  // a missing record then always means a lost one.
  if (LoadTextFile(FFiles, FDir + kChangedFileName).empty()) {
    TChangeRecord record = LoadChangeRecord(false);
    const std::string restore = LoadTextFile(FFiles, FDir + kRestoreFileName);
    SaveChangeRecord(record, restore, restore);
  }
}

void TOptimizeIt::Undo(TSpeedSwitch which) {
  for (const TTweak& t : Catalogue(which)) RestoreValue(t.KeyPath, t.ValueName, t.CurrentUser);
  TChangeRecord record = LoadChangeRecord(true);
  const size_t keys = record.Keys.size();
  RemoveCreatedKeys(record, false, {}, kHkeyLocalMachine, false);
  RemoveCreatedKeys(record, true, CurrentSid(), UserRoot(), false);
  if (record.Keys.size() != keys) {
    const std::string restore = LoadTextFile(FFiles, FDir + kRestoreFileName);
    SaveChangeRecord(record, restore, restore);
  }
}

void TOptimizeIt::ApplyTurboStartup() { Apply(TSpeedSwitch::ssTurboStartup); }
void TOptimizeIt::UndoTurboStartup() { Undo(TSpeedSwitch::ssTurboStartup); }
void TOptimizeIt::ApplyTurboShutdown() { Apply(TSpeedSwitch::ssTurboShutdown); }
void TOptimizeIt::UndoTurboShutdown() { Undo(TSpeedSwitch::ssTurboShutdown); }
void TOptimizeIt::ApplyPerformanceEnhancement() { Apply(TSpeedSwitch::ssPerformanceEnhancement); }
void TOptimizeIt::UndoPerformanceEnhancement() { Undo(TSpeedSwitch::ssPerformanceEnhancement); }
void TOptimizeIt::ApplyNetworkBooster() { Apply(TSpeedSwitch::ssNetworkBooster); }
void TOptimizeIt::UndoNetworkBooster() { Undo(TSpeedSwitch::ssNetworkBooster); }

void TOptimizeIt::ApplyBootDefrag(bool on) {
  const TApplyRow row{false, kDefragKey, kDefragValue, TRegValueKind::rvkString, on ? "Y" : "N",
                      false};
  CheckEarlierValue(row);
  ApplyRow(row);
}

void TOptimizeIt::UndoAll() {
  TChangeRecord record = LoadChangeRecord(true);
  const std::string restore = LoadTextFile(FFiles, FDir + kRestoreFileName);
  // The accounts in the order they first appear; the machine's values are one "account".
  std::vector<std::pair<bool, std::string>> accounts;
  auto addAccount = [&](bool cu, const std::string& sid) {
    for (const auto& [c, s] : accounts)
      if (c == cu && SameText(s, sid)) return;
    accounts.emplace_back(cu, sid);
  };
  for (const TChangedValue& v : record.Values) addAccount(v.CurrentUser, v.Sid);
  for (const TCreatedKey& k : record.Keys) addAccount(k.CurrentUser, k.Sid);

  std::vector<std::string> failures;
  const std::string self = CurrentSid();
  for (const auto& [cu, sid] : accounts) {
    std::unique_ptr<IUserHives::TLease> lease;
    TRegHandle root = kHkeyLocalMachine;
    if (cu && SameText(sid, self)) {
      root = UserRoot();
    } else if (cu) {
      std::string error;
      lease = FHives ? FHives->OpenUserRoot(sid, error) : nullptr;
      if (!lease) {
        // Its records stay for a later try.
        AddFailure(failures, LoadResStringFmt(rsAccountUnreachable, {sid, error}));
        continue;
      }
      root = lease->Root();
    }
    for (size_t i = 0; i < record.Values.size();) {
      const TChangedValue v = record.Values[i];
      if (v.CurrentUser != cu || !SameText(v.Sid, sid)) {
        ++i;
        continue;
      }
      try {
        RestoreRecorded(v, root);
        record.Values.erase(record.Values.begin() + static_cast<long>(i));
      } catch (const std::exception& e) {
        AddFailure(failures, e.what());
        ++i;
      }
    }
    RemoveCreatedKeys(record, cu, sid, root, true);
    FRegistry.SetRootKey(kHkeyLocalMachine);  // no key of a hive about to go stays open
  }
  SaveChangeRecord(record, restore, restore);
  if (failures.empty()) return;
  std::string message;
  for (const std::string& f : failures) message += (message.empty() ? "" : "\n") + f;
  throw Exception(message);
}

TRegValueKind TOptimizeIt::ParseValueText(std::string& text) {
  if (text.size() >= 6 && SameText(std::string_view(text).substr(0, 6), "dword:")) {
    text.erase(0, 6);
    return TRegValueKind::rvkDword;
  }
  if (text.size() >= 4 && SameText(std::string_view(text).substr(0, 4), "hex:")) {
    text.erase(0, 4);
    return TRegValueKind::rvkHex;
  }
  return TRegValueKind::rvkString;
}

void TOptimizeIt::ApplyValue(std::string_view keyPath, std::string_view valueName,
                             std::string valueText, bool currentUser) {
  const TRegValueKind kind = ParseValueText(valueText);
  const TApplyRow row{currentUser, std::string(keyPath), std::string(RegistryValueName(valueName)),
                      kind, std::move(valueText), true};
  CheckEarlierValue(row);
  ApplyRow(row);
}

void TOptimizeIt::CheckEarlierValue(const TApplyRow& row) {
  const TRegHandle root = row.CurrentUser ? UserRoot() : kHkeyLocalMachine;
  const std::optional<TRegValue> current = ReadCurrent(FRaw, root, row.KeyPath, row.Name);
  if (!current) return;
  if (row.Kind != TRegValueKind::rvkString) {
    if (!IsDword(*current))
      throw ERegistryException(LoadResStringFmt(rsInvalidDataType, {row.Name}));
    return;
  }
  if (!IsText(*current)) throw ERegistryException(LoadResStringFmt(rsInvalidDataType, {row.Name}));
  if (current->Data == row.Payload || !row.RestoreEntry) return;
  // The restore file is lines of the code page: what it cannot hold would come back cut or
  // changed, so the switch is refused instead.
  if (current->Data.find_first_of("\r\n") != std::string::npos)
    throw Exception(LoadResStringFmt(rsPreviousLineBreak, {row.Name}));
  if (!FFiles.CodePageHolds(current->Data))
    throw Exception(LoadResStringFmt(rsPreviousCodePage, {row.Name}));
}

void TOptimizeIt::ApplyRow(const TApplyRow& row) {
  const TRegHandle root = row.CurrentUser ? UserRoot() : kHkeyLocalMachine;
  const std::string sid = row.CurrentUser ? CurrentSid() : std::string();
  const bool isString = row.Kind == TRegValueKind::rvkString;
  const TRegValue wanted = isString ? TRegValue{kRegSz, row.Payload} : DwordValue(HexPayload(row.Payload));
  const std::optional<TRegValue> current = ReadCurrent(FRaw, root, row.KeyPath, row.Name);
  if (current) {
    if (isString && !IsText(*current))
      throw ERegistryException(LoadResStringFmt(rsInvalidDataType, {row.Name}));
    if (!isString && !IsDword(*current))
      throw ERegistryException(LoadResStringFmt(rsInvalidDataType, {row.Name}));
    // Text is compared with text (an expandable text equal to the tweak counts as equal).
    if (current->Data == wanted.Data) return;
  }

  TChangeRecord record = LoadChangeRecord(false);
  const std::string restorePath = FDir + kRestoreFileName;
  const std::string restoreBefore = LoadTextFile(FFiles, restorePath);

  TChangedValue entry;
  entry.CurrentUser = row.CurrentUser;
  entry.Sid = sid;
  entry.KeyPath = row.KeyPath;
  entry.ValueName = row.Name;
  entry.WroteDword = !isString;
  entry.WrittenData = isString ? row.Payload : std::to_string(DwordOf(wanted));
  auto found = std::find_if(record.Values.begin(), record.Values.end(), [&](const TChangedValue& v) {
    return Matches(v, row.CurrentUser, sid, row.KeyPath, row.Name);
  });
  if (found != record.Values.end() && HoldsWritten(current, *found)) {
    // Still as this program left it: the value from before it took it over stays the earlier
    // one, and what it holds now stays vouched for until the new write has landed.
    entry.Previous = found->Previous;
    entry.PreviousData = found->PreviousData;
    if (found->WroteDword == entry.WroteDword)
      entry.WrittenBefore = current->Type == kRegDword ? std::to_string(DwordOf(*current)) : current->Data;
  } else if (!current) {
    entry.Previous = TPreviousKind::pkNone;
  } else if (isString) {
    entry.Previous = current->Type == kRegExpandSz ? TPreviousKind::pkExpandString : TPreviousKind::pkString;
    entry.PreviousData = current->Data;
  } else {
    entry.Previous = TPreviousKind::pkDword;
    entry.PreviousData = std::to_string(DwordOf(*current));
  }
  // Written back to what it held before this program took it over: nothing left to undo once
  // the write has landed.
  const bool backToEarlier =
      (entry.WroteDword ? entry.Previous == TPreviousKind::pkDword : entry.Previous == TPreviousKind::pkString) &&
      entry.PreviousData == entry.WrittenData;
  if (found != record.Values.end()) {
    *found = entry;
  } else if (!backToEarlier) {
    record.Values.push_back(entry);
  }
  // The keys this write creates, so that undo can take them away again.
  bool missing = false;
  for (const std::string& prefix : KeyPrefixes(row.KeyPath)) {
    missing = missing || !KeyPresent(FRaw, root, prefix);
    if (!missing) continue;
    const TCreatedKey key{row.CurrentUser, sid, prefix};
    if (std::find_if(record.Keys.begin(), record.Keys.end(), [&](const TCreatedKey& k) {
          return k.CurrentUser == key.CurrentUser && SameText(k.Sid, key.Sid) &&
                 SameText(k.KeyPath, key.KeyPath);
        }) == record.Keys.end())
      record.Keys.push_back(key);
  }

  std::string restoreAfter = restoreBefore;
  const bool restoreEntry = row.RestoreEntry && current.has_value();
  if (restoreEntry) {
    TNameValueLines lines(restoreBefore);
    // An empty previous text leaves no entry; the record keeps it.
    lines.SetValue(EntryName(row.KeyPath, row.Name),
                   isString ? current->Data
                            : (row.Kind == TRegValueKind::rvkHex ? "hex:" : "dword:") +
                                  std::to_string(static_cast<int32_t>(DwordOf(*current))));
    restoreAfter = lines.Text();
  }
  // The record first, then the restore file, then the value: after a crash at any point the
  // record names what was there before, and a value that was not written yet does not hold
  // what the record says was written, so undo leaves it alone.
  SaveChangeRecord(record, restoreBefore, restoreAfter);
  if (restoreEntry) SaveTextFileSafely(FFiles, restorePath, restoreAfter);
  FRegistry.SetRootKey(root);
  // A key that cannot be opened is not reported here: the write below fails and says so.
  FRegistry.OpenKey(row.KeyPath, true);
  if (isString) {
    FRegistry.WriteString(row.Name, row.Payload);
  } else {
    FRegistry.WriteInteger(row.Name, DwordOf(wanted));
  }
  // Only once the write has landed: until then the record still vouches for the old content.
  if (backToEarlier && found != record.Values.end()) {
    record.Values.erase(std::find(record.Values.begin(), record.Values.end(), entry));
    SaveChangeRecord(record, restoreAfter, restoreAfter);
  }
}

void TOptimizeIt::RestoreValue(std::string_view keyPath, std::string_view valueName,
                               bool currentUser) {
  const std::string_view name = RegistryValueName(valueName);
  TChangeRecord record = LoadChangeRecord(true);
  const std::string sid = currentUser ? CurrentSid() : std::string();
  const auto found = std::find_if(record.Values.begin(), record.Values.end(), [&](const TChangedValue& v) {
    return Matches(v, currentUser, sid, keyPath, name);
  });
  // A value this engine does not hold changed is the user's or the system's: left alone.
  if (found == record.Values.end()) return;
  RestoreRecorded(*found, currentUser ? UserRoot() : kHkeyLocalMachine);
  record.Values.erase(found);
  // Dropped only once the value is back, so an interrupted undo is simply done again.
  const std::string restore = LoadTextFile(FFiles, FDir + kRestoreFileName);
  SaveChangeRecord(record, restore, restore);
}

bool TOptimizeIt::RestoreRecorded(const TChangedValue& v, TRegHandle root) {
  if (v.Previous == TPreviousKind::pkUnknown)
    throw Exception(LoadResStringFmt(rsPreviousUnknown, {v.ValueName}));
  const std::optional<TRegValue> current = ReadCurrent(FRaw, root, v.KeyPath, v.ValueName);
  if (!HoldsWritten(current, v)) {
    // Changed by someone since this program wrote it: theirs now.
    if (Log) Log("[TOptimizeIt] " + Describe(v) +
             " was changed after the speed switches wrote it; it is left as it is");
    return true;
  }
  FRegistry.SetRootKey(root);
  if (!FRegistry.OpenKey(v.KeyPath, false))
    throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {v.ValueName}));
  switch (v.Previous) {
    case TPreviousKind::pkNone:
      if (!FRegistry.DeleteValue(v.ValueName) && FRegistry.ValueExists(v.ValueName))
        throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {v.ValueName}));
      break;
    case TPreviousKind::pkString:
      FRegistry.WriteString(v.ValueName, v.PreviousData);
      break;
    case TPreviousKind::pkExpandString:
      FRegistry.WriteExpandString(v.ValueName, v.PreviousData);
      break;
    case TPreviousKind::pkDword: {
      uint32_t n = 0;
      if (!ParseDecimal32(v.PreviousData, n))
        throw Exception(LoadResStringFmt(rsPreviousUnknown, {v.ValueName}));
      FRegistry.WriteInteger(v.ValueName, n);
      break;
    }
    case TPreviousKind::pkUnknown:
      break;
  }
  FRegistry.CloseKey();
  return true;
}

void TOptimizeIt::RemoveCreatedKeys(TChangeRecord& record, bool currentUser,
                                    const std::string& sid, TRegHandle root, bool final) {
  std::vector<TCreatedKey> mine;
  for (const TCreatedKey& k : record.Keys)
    if (k.CurrentUser == currentUser && SameText(k.Sid, sid)) mine.push_back(k);
  // The deepest first: a parent can only go once its created children are gone.
  std::sort(mine.begin(), mine.end(), [](const TCreatedKey& a, const TCreatedKey& b) {
    return std::count(a.KeyPath.begin(), a.KeyPath.end(), '\\') >
           std::count(b.KeyPath.begin(), b.KeyPath.end(), '\\');
  });
  FRegistry.CloseKey();
  for (const TCreatedKey& k : mine) {
    bool drop = true;
    TRegHandle key = 0;
    const std::string_view sub = std::string_view(k.KeyPath).substr(1);
    if (FRaw.OpenKey(root, sub, kKeyRead, key) == kErrorSuccess) {
      std::vector<std::string> names;
      const bool empty = FRaw.EnumValueNames(key, names) == kErrorSuccess && names.empty();
      FRaw.CloseKey(key);
      // A key that still holds something (values, subkeys) stays.
      drop = empty && FRaw.DeleteKey(root, sub) == kErrorSuccess;
      if (!drop && final) {
        if (Log) Log("[TOptimizeIt] " + std::string(currentUser ? "HKCU" : "HKLM") + k.KeyPath +
                 " holds values of others; it is left in place");
        drop = true;
      }
    }
    if (drop)
      record.Keys.erase(std::find(record.Keys.begin(), record.Keys.end(), k));
  }
}

TChangeRecord TOptimizeIt::LoadChangeRecord(bool forUndo) {
  const std::string recordPath = FDir + kChangedFileName;
  const std::string restorePath = FDir + kRestoreFileName;
  const std::string text = LoadTextFile(FFiles, recordPath);
  const std::string restore = LoadTextFile(FFiles, restorePath);
  TChangeRecord record;
  if (text.empty()) {
    // Nothing known to be changed; an undo that the stored states say is due cannot be done.
    if (forUndo && StatesSayApplied())
      throw Exception(LoadResStringFmt(rsChangeRecordMissing, {recordPath}));
    record.RestoreSums = {TextChecksum(restore)};
    return record;
  }
  if (text.starts_with(std::string(kFormatLine) + "\r\n")) {
    if (!ParseChangeRecord(text, record))
      throw Exception(LoadResStringFmt(rsChangeRecordDamaged, {recordPath}));
    if (std::find(record.RestoreSums.begin(), record.RestoreSums.end(), TextChecksum(restore)) ==
        record.RestoreSums.end())
      throw Exception(LoadResStringFmt(rsBackupMismatch, {restorePath, recordPath}));
    return record;
  }
  // The record of an earlier version: one "<entry>=<mark>" line per value, for the account
  // running it, the earlier values in the restore file. What it cannot vouch for is kept
  // as unknown, never written.
  const TNameValueLines marks(text);
  const TNameValueLines entries(restore);
  for (const std::string& line : marks.Lines()) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      if (line.empty()) continue;
      throw Exception(LoadResStringFmt(rsChangeRecordDamaged, {recordPath}));
    }
    const std::string_view name = std::string_view(line).substr(0, eq);
    const std::string_view mark = std::string_view(line).substr(eq + 1);
    const TTweak* row = nullptr;
    for (const TCatalogueRow& r : kCatalogue)
      if (SameText(EntryName(r.Tweak.KeyPath, RegistryValueName(r.Tweak.ValueName)), name)) row = &r.Tweak;
    if (!row) throw Exception(LoadResStringFmt(rsChangeRecordDamaged, {recordPath}));
    TChangedValue v;
    v.CurrentUser = row->CurrentUser;
    v.Sid = row->CurrentUser ? CurrentSid() : std::string();
    v.KeyPath = row->KeyPath;
    v.ValueName = std::string(RegistryValueName(row->ValueName));
    std::string payload = row->ValueText;
    v.WroteDword = ParseValueText(payload) != TRegValueKind::rvkString;
    v.WrittenData = v.WroteDword ? std::to_string(HexPayload(payload)) : payload;
    const std::string backup = entries.Value(name);
    if (mark == kMarkCreated) {
      v.Previous = TPreviousKind::pkNone;
    } else if (mark == kMarkDword) {
      std::string number = backup;
      const bool prefixed = ParseValueText(number) != TRegValueKind::rvkString;
      int32_t n = 0;
      const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), n, 10);
      if (prefixed && !number.empty() && ec == std::errc() && end == number.data() + number.size()) {
        v.Previous = TPreviousKind::pkDword;
        v.PreviousData = std::to_string(static_cast<uint32_t>(n));
      } else {
        v.Previous = TPreviousKind::pkUnknown;
      }
    } else if (mark == kMarkSz || mark == kMarkExpandSz) {
      // A missing entry may be an empty text or a lost line: not to be told apart.
      v.Previous = !entries.Has(name)    ? TPreviousKind::pkUnknown
                   : mark == kMarkExpandSz ? TPreviousKind::pkExpandString
                                           : TPreviousKind::pkString;
      v.PreviousData = backup;
    } else {
      throw Exception(LoadResStringFmt(rsChangeRecordDamaged, {recordPath}));
    }
    if (std::none_of(record.Values.begin(), record.Values.end(), [&](const TChangedValue& o) {
          return Matches(o, v.CurrentUser, v.Sid, v.KeyPath, v.ValueName);
        }))
      record.Values.push_back(std::move(v));
  }
  record.RestoreSums = {TextChecksum(restore)};
  return record;
}

void TOptimizeIt::SaveChangeRecord(TChangeRecord& record, std::string_view restoreBefore,
                                   std::string_view restoreAfter) {
  ++record.Generation;
  // Either restore file goes with the record: the one on disk now, and the one about to
  // replace it.
  record.RestoreSums = {TextChecksum(restoreBefore)};
  if (restoreAfter != restoreBefore) record.RestoreSums.push_back(TextChecksum(restoreAfter));
  SaveTextFileSafely(FFiles, FDir + kChangedFileName, FormatChangeRecord(record));
}

bool TOptimizeIt::StatesSayApplied() {
  const std::optional<TRegValue> states = ReadCurrent(FRaw, kHkeyLocalMachine, kStatesKey, kStatesValue);
  if (!states || !IsText(*states)) return false;
  // Items 1, 2, 3 and 5 are the engine's switches; an item is on when it is a number other
  // than 0, as the main window reads it.
  const auto items = SplitFields(states->Data);
  for (size_t i : {0u, 1u, 2u, 4u}) {
    if (i >= items.size()) break;
    std::string_view t = items[i];
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    int32_t n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n, 10);
    if (!t.empty() && ec == std::errc() && end == t.data() + t.size() && n != 0) return true;
  }
  return false;
}

std::string TOptimizeIt::ReadRestoreEntry(std::string_view name) {
  return TNameValueLines(LoadTextFile(FFiles, FDir + kRestoreFileName)).Value(name);
}

void TOptimizeIt::WriteRestoreEntry(std::string_view name, std::string_view value) {
  const std::string path = FDir + kRestoreFileName;
  const std::string before = LoadTextFile(FFiles, path);
  TNameValueLines lines(before);
  lines.SetValue(name, value);
  const std::string after = lines.Text();
  // The record goes with the new file as well as the old, so the pair stays whole.
  const std::string recordText = LoadTextFile(FFiles, FDir + kChangedFileName);
  TChangeRecord record;
  if (ParseChangeRecord(recordText, record) &&
      std::find(record.RestoreSums.begin(), record.RestoreSums.end(), TextChecksum(before)) !=
          record.RestoreSums.end())
    SaveChangeRecord(record, before, after);
  SaveTextFileSafely(FFiles, path, after);
}

void FinalizeOptimizeModule() { gOptimizeIt.reset(); }
