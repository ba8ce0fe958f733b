#include "optimize/OptimizeIt.h"

#include "common/GenericAPI.h"
#include "common/ResStrings.h"
#include "common/TextUtil.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

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

// What the changed-values file says of a value.
constexpr std::string_view kMarkCreated = "created";
constexpr std::string_view kMarkSz = "REG_SZ";
constexpr std::string_view kMarkExpandSz = "REG_EXPAND_SZ";
constexpr std::string_view kMarkDword = "REG_DWORD";

constexpr long kErrorPathNotFound = 3;

// A hexadecimal payload as a 32-bit value; 0 when it is not a number or does not fit.
uint32_t HexPayload(std::string_view text) {
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

// A signed decimal payload (optional "+" or "-") as the 32 bits of its value; 0 when it is
// not a number or does not fit a signed 32-bit integer.
uint32_t DecimalPayload(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return 0;
  return static_cast<uint32_t>(value);
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

// ---- Engine ----

TOptimizeIt::TOptimizeIt(std::string_view dir, IRawRegistry& reg, IRestoreFileSystem& files)
    : FDir(IncludeTrailingSeparator(dir)), FRegistry(reg, kKeyAllAccess), FFiles(files) {}

void TOptimizeIt::Apply(TSpeedSwitch which) {
  for (const TTweak& t : Catalogue(which))
    ApplyValue(t.KeyPath, t.ValueName, t.ValueText, t.CurrentUser);
}

void TOptimizeIt::Undo(TSpeedSwitch which) {
  for (const TTweak& t : Catalogue(which)) RestoreValue(t.KeyPath, t.ValueName, t.CurrentUser);
}

void TOptimizeIt::ApplyTurboStartup() { Apply(TSpeedSwitch::ssTurboStartup); }
void TOptimizeIt::UndoTurboStartup() { Undo(TSpeedSwitch::ssTurboStartup); }
void TOptimizeIt::ApplyTurboShutdown() { Apply(TSpeedSwitch::ssTurboShutdown); }
void TOptimizeIt::UndoTurboShutdown() { Undo(TSpeedSwitch::ssTurboShutdown); }
void TOptimizeIt::ApplyPerformanceEnhancement() { Apply(TSpeedSwitch::ssPerformanceEnhancement); }
void TOptimizeIt::UndoPerformanceEnhancement() { Undo(TSpeedSwitch::ssPerformanceEnhancement); }
void TOptimizeIt::ApplyNetworkBooster() { Apply(TSpeedSwitch::ssNetworkBooster); }
void TOptimizeIt::UndoNetworkBooster() { Undo(TSpeedSwitch::ssNetworkBooster); }

void TOptimizeIt::UndoAll() {
  std::vector<std::string> failures;
  for (const TSpeedSwitch which : kAllSpeedSwitches) {
    for (const TTweak& t : Catalogue(which)) {
      try {
        RestoreValue(t.KeyPath, t.ValueName, t.CurrentUser);
      } catch (const std::exception& e) {
        // One unreadable file fails every value alike: name it once.
        if (std::find(failures.begin(), failures.end(), e.what()) == failures.end())
          failures.emplace_back(e.what());
      }
    }
  }
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
  FRegistry.SetRootKey(currentUser ? kHkeyCurrentUser : kHkeyLocalMachine);
  const std::string_view name = RegistryValueName(valueName);
  const TRegValueKind kind = ParseValueText(valueText);
  // A key that cannot be opened is not reported here: the write below fails and says so.
  FRegistry.OpenKey(keyPath, true);
  const std::string entry = EntryName(keyPath, name);
  const bool isString = kind == TRegValueKind::rvkString;
  const uint32_t newNumber = isString ? 0 : HexPayload(valueText);

  // Record first, write second: a crash in between leaves a record of a value that still has
  // its old content, which an undo merely writes again.
  std::string_view mark = kMarkCreated;
  if (FRegistry.ValueExists(name)) {
    std::string backup;
    if (isString) {
      const bool expand = FRegistry.GetDataType(name) == TRegDataType::rdExpandString;
      std::string previous = FRegistry.ReadString(name);
      if (previous == valueText) return;
      backup = std::move(previous);
      mark = expand ? kMarkExpandSz : kMarkSz;
    } else {
      const uint32_t previous = FRegistry.ReadInteger(name);
      if (previous == newNumber) return;
      backup = (kind == TRegValueKind::rvkHex ? "hex:" : "dword:") +
               std::to_string(static_cast<int32_t>(previous));
      mark = kMarkDword;
    }
    // An empty previous text leaves no entry; the mark says the value existed.
    WriteRestoreEntry(entry, backup);
  }
  const std::string oldMark = ReadChangedMark(entry);
  if (oldMark != mark) WriteChangedMark(entry, mark);
  try {
    if (isString) {
      FRegistry.WriteString(name, valueText);
    } else {
      FRegistry.WriteInteger(name, newNumber);
    }
  } catch (...) {
    // The value was not changed: take back the claim that it was, where the file allows.
    if (oldMark != mark) {
      try {
        WriteChangedMark(entry, oldMark);
      } catch (...) {
        // Left as it is, the mark makes an undo write back what the value holds already.
      }
    }
    throw;
  }
}

void TOptimizeIt::RestoreValue(std::string_view keyPath, std::string_view valueName,
                               bool currentUser) {
  FRegistry.SetRootKey(currentUser ? kHkeyCurrentUser : kHkeyLocalMachine);
  const std::string_view name = RegistryValueName(valueName);
  const std::string entry = EntryName(keyPath, name);
  const std::string mark = ReadChangedMark(entry);
  // A value this engine does not hold changed is the user's or the system's: left alone.
  if (mark.empty()) return;

  if (mark == kMarkCreated) {
    if (FRegistry.OpenKey(keyPath, false)) {
      if (!FRegistry.DeleteValue(name) && FRegistry.ValueExists(name))
        throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {name}));
    } else if (FRegistry.KeyExists(keyPath)) {
      throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {name}));
    }
  } else {
    std::string backup = ReadRestoreEntry(entry);
    FRegistry.OpenKey(keyPath, true);
    if (mark == kMarkDword) {
      // Without its entry the old number is unknown; the value is kept as it is.
      if (!backup.empty()) {
        ParseValueText(backup);
        FRegistry.WriteInteger(name, DecimalPayload(backup));
      }
    } else if (mark == kMarkExpandSz) {
      FRegistry.WriteExpandString(name, backup);
    } else {
      // The old type is known: a text that happens to start with "dword:" stays a text.
      FRegistry.WriteString(name, backup);
    }
  }
  // Cleared only once the value is back, so an interrupted undo is simply done again.
  WriteChangedMark(entry, {});
}

std::string TOptimizeIt::ReadRestoreEntry(std::string_view name) {
  return TNameValueLines(LoadTextFile(FFiles, FDir + kRestoreFileName)).Value(name);
}

void TOptimizeIt::WriteRestoreEntry(std::string_view name, std::string_view value) {
  const std::string path = FDir + kRestoreFileName;
  TNameValueLines lines(LoadTextFile(FFiles, path));
  lines.SetValue(name, value);
  SaveTextFileSafely(FFiles, path, lines.Text());
}

std::string TOptimizeIt::ReadChangedMark(std::string_view name) {
  return TNameValueLines(LoadTextFile(FFiles, FDir + kChangedFileName)).Value(name);
}

void TOptimizeIt::WriteChangedMark(std::string_view name, std::string_view mark) {
  const std::string path = FDir + kChangedFileName;
  TNameValueLines lines(LoadTextFile(FFiles, path));
  lines.SetValue(name, mark);
  SaveTextFileSafely(FFiles, path, lines.Text());
}

void FinalizeOptimizeModule() { gOptimizeIt.reset(); }
