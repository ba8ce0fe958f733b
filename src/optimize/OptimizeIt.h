// The speed-tweak engine: four switches, each a fixed set of registry values, applied with a
// backup of the values they replace and taken back from that backup (portable interface).
#pragma once

#include "common/Errors.h"
#include "common/Registry.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The kind of a value text, told by its prefix: none (text), "dword:" or "hex:" (a number).
enum class TRegValueKind { rvkString, rvkDword, rvkHex };

// The four switches of the engine, in the order the main window handles them.
enum class TSpeedSwitch { ssTurboStartup, ssTurboShutdown, ssPerformanceEnhancement, ssNetworkBooster };

// One catalogue row: a registry value and the text to write ("@" names the default value).
struct TTweak {
  bool CurrentUser;          // HKEY_CURRENT_USER, else HKEY_LOCAL_MACHINE
  const char* KeyPath;       // below the root, with a leading "\"
  const char* ValueName;
  const char* ValueText;     // payload with its kind prefix; dword payloads are hexadecimal
};

// The rows of a switch, in the order they are applied and restored.
std::span<const TTweak> Catalogue(TSpeedSwitch which);
// Every switch, in the main window's order.
inline constexpr TSpeedSwitch kAllSpeedSwitches[] = {
    TSpeedSwitch::ssTurboStartup, TSpeedSwitch::ssTurboShutdown,
    TSpeedSwitch::ssPerformanceEnhancement, TSpeedSwitch::ssNetworkBooster};

// The files the engine keeps its backup in, as a port. Error codes are Win32 error numbers
// (kErrorSuccess on success); text on disk is in the system's ANSI code page, in memory UTF-8.
class IRestoreFileSystem {
 public:
  virtual ~IRestoreFileSystem() = default;
  // The whole file as text; kErrorFileNotFound or 3 (path not found) when it does not exist.
  virtual long ReadText(const std::string& path, std::string& text) = 0;
  // Creates or truncates path, writes text whole and flushes it to the disk before returning.
  virtual long WriteTextFlushed(const std::string& path, std::string_view text) = 0;
  // Puts the file source in place of target in one step (target may be missing); source is
  // gone on success. A read-only target is refused.
  virtual long ReplaceWith(const std::string& target, const std::string& source) = 0;
  // Deletes path; a missing file is no error.
  virtual long RemoveFile(const std::string& path) = 0;
  // The system's reason for an error code, for messages.
  virtual std::string ErrorText(long code) = 0;
  // Whether the UTF-8 text survives the trip to the file's code page and back unchanged.
  virtual bool CodePageHolds(std::string_view text) = 0;
};

// The machine's files (Windows build).
IRestoreFileSystem& SystemRestoreFileSystem();

// The accounts whose own values (HKEY_CURRENT_USER) the engine changes, as a port.
class IUserHives {
 public:
  // Another account's registry root, open for as long as the lease lives.
  class TLease {
   public:
    virtual ~TLease() = default;
    // The root of the account's values (its hive under HKEY_USERS).
    virtual TRegHandle Root() const = 0;
  };
  virtual ~IUserHives() = default;
  // The string SID of the account running the process; empty when it cannot be told.
  virtual std::string CurrentUserSid() = 0;
  // The root of the running account's own values.
  virtual TRegHandle CurrentUserRoot() = 0;
  // The root of the account sid: its hive when it is loaded, else its profile's NTUSER.DAT
  // loaded for the lease's life. Null, with the reason in error, when it cannot be reached.
  virtual std::unique_ptr<TLease> OpenUserRoot(const std::string& sid, std::string& error) = 0;
};

// The accounts of this machine (Windows build): the process token's SID and HKEY_USERS.
IUserHives& SystemUserHives();

// Saves text as the file path crash-safely: the whole text goes to path + ".tmp" and is
// flushed, then replaces path in one step, so path always holds the old or the new text whole.
// Raises Exception "Cannot create file" with the system's reason and leaves path untouched on
// failure.
void SaveTextFileSafely(IRestoreFileSystem& files, const std::string& path, std::string_view text);
// The text of the file path; empty when it does not exist; raises Exception "Cannot open file"
// when it exists but cannot be read.
std::string LoadTextFile(IRestoreFileSystem& files, const std::string& path);

// The lines of a name=value file. Lines end at CR, LF or CR LF and are written back with CR LF;
// the entry is the first line whose text before its first "=" equals the name, letters folded;
// lines without "=" are kept as they are.
class TNameValueLines {
 public:
  // Splits text into lines.
  explicit TNameValueLines(std::string_view text);
  // The value of name, or empty when no line holds it.
  std::string Value(std::string_view name) const;
  // Whether a line holds name.
  bool Has(std::string_view name) const { return Find(name) >= 0; }
  // Replaces the line of name by name=value, or appends it; an empty value deletes the line.
  void SetValue(std::string_view name, std::string_view value);
  // The lines, each ended by CR LF.
  std::string Text() const;
  // The lines as read or changed.
  const std::vector<std::string>& Lines() const { return FLines; }

 private:
  // Index of the line holding name, or -1.
  long Find(std::string_view name) const;
  std::vector<std::string> FLines;
};

// Name of the restore file in the engine's folder.
inline constexpr const char* kRestoreFileName = "optrestore.rgd";
// Name of the record of every value the engine holds changed, in the same folder (see
// TChangeRecord). A file of an earlier version (one "<entry>=<mark>" line per value) is read
// and rewritten in the current form.
inline constexpr const char* kChangedFileName = "optchanged.rgd";

// The earlier state of a value the engine changed.
enum class TPreviousKind { pkNone, pkString, pkExpandString, pkDword, pkUnknown };

// One value the engine changed: where it is, what it held before and what was written.
struct TChangedValue {
  bool CurrentUser = false;
  std::string Sid;        // the account, for a value of HKEY_CURRENT_USER
  std::string KeyPath;    // with its leading "\"
  std::string ValueName;  // as in the registry; empty for the default value
  TPreviousKind Previous = TPreviousKind::pkNone;  // pkNone: the value did not exist
  std::string PreviousData;  // the text, or the 32 bits in decimal
  bool WroteDword = false;   // REG_DWORD, else REG_SZ
  std::string WrittenData;   // the text, or the 32 bits in decimal
  // What this program had written before, while a new write may not have landed (same type);
  // empty when there is none.
  std::string WrittenBefore;
  bool operator==(const TChangedValue&) const = default;
};
// A key the engine created (it did not exist before its value was written).
struct TCreatedKey {
  bool CurrentUser = false;
  std::string Sid;
  std::string KeyPath;
  bool operator==(const TCreatedKey&) const = default;
};
// The whole record of optchanged.rgd. On disk: "format=2", "generation=<n>",
// "restore=<sum>[,<sum>]" (the checksums of the restore files this record goes with), one
// "value=" line per changed value (root, SID, key, name, earlier kind and data, written type
// and data, data written before) and one "key=" line per created key (comma-separated,
// percent-escaped fields), and last "checksum=<sum of every byte before it>".
struct TChangeRecord {
  uint64_t Generation = 0;
  std::vector<uint32_t> RestoreSums;
  std::vector<TChangedValue> Values;
  std::vector<TCreatedKey> Keys;
};
// The record as text.
std::string FormatChangeRecord(const TChangeRecord& record);
// The record of text in the current form; false when it is not one (damaged or cut short).
bool ParseChangeRecord(std::string_view text, TChangeRecord& record);
// The checksum the record keeps of a restore file's text (32-bit FNV-1a).
uint32_t TextChecksum(std::string_view text);

// The tweak engine. Not reentrant: one registry accessor serves every operation.
class TOptimizeIt {
 public:
  // An engine keeping its files in dir, on the registry reg, the files of files and the
  // accounts of hives (none: the running account only, as HKEY_CURRENT_USER with no SID);
  // touches neither the registry nor the files.
  TOptimizeIt(std::string_view dir, IRawRegistry& reg, IRestoreFileSystem& files,
              IUserHives* hives = nullptr);
  TOptimizeIt(const TOptimizeIt&) = delete;
  TOptimizeIt& operator=(const TOptimizeIt&) = delete;

  // Apply or undo the values of one switch, row by row. An apply first checks every earlier
  // value of the switch (its type, and whether the restore file can keep it) and stops before
  // writing anything when one does not fit; otherwise the first failure ends the switch.
  void ApplyTurboStartup();
  void UndoTurboStartup();
  void ApplyTurboShutdown();
  void UndoTurboShutdown();
  void ApplyPerformanceEnhancement();
  void UndoPerformanceEnhancement();
  void ApplyNetworkBooster();
  void UndoNetworkBooster();
  // Applies (on) or undoes (off) the switch which.
  void Apply(TSpeedSwitch which);
  void Undo(TSpeedSwitch which);
  // Writes the boot defragmentation option "Enable" ("Y" when on, else "N"), recorded like a
  // catalogue value but without a restore-file entry.
  void ApplyBootDefrag(bool on);
  // Takes back every value the record holds, of every account (other accounts through their
  // hives), "Enable" included, every one even after a failure; raises one Exception naming
  // every failure, one per line, when any value could not be put back or an account could
  // not be reached (their records are kept).
  void UndoAll();

  // Writes the value text of valueName under keyPath (HKCU when currentUser, else HKLM),
  // recording the value it replaces first; does nothing when the value already equals it.
  // Raises ERegistryException when the old value has another type or cannot be read, or the
  // write fails, and Exception when the backup cannot be read, saved or trusted.
  void ApplyValue(std::string_view keyPath, std::string_view valueName, std::string valueText,
                  bool currentUser);
  // Puts back the value this engine changed, as recorded, when it still holds what the engine
  // wrote; a value changed since is left as the user made it and its record dropped. Raises
  // as ApplyValue, and when the backup is missing, damaged or does not match.
  void RestoreValue(std::string_view keyPath, std::string_view valueName, bool currentUser);
  // The kind of a value text; the text becomes its payload (the prefix, letters folded, goes).
  static TRegValueKind ParseValueText(std::string& text);

  // The restore file's value of entry name; empty when the file or the entry is missing.
  std::string ReadRestoreEntry(std::string_view name);
  // Sets entry name to value in the restore file (an empty value deletes it) and saves it.
  void WriteRestoreEntry(std::string_view name, std::string_view value);
  // The record as it stands, checked against the restore file: raises Exception when it is
  // damaged or does not match the restore file, and, for an undo, when it is missing or
  // empty while the stored switch states say an engine switch is on.
  TChangeRecord LoadChangeRecord(bool forUndo = false);

  // The folder of the engine's files, with a trailing separator.
  const std::string& Dir() const { return FDir; }
  // Where the engine notes what it left alone on purpose (the diagnostic log); none: nowhere.
  std::function<void(const std::string&)> Log;

 private:
  struct TApplyRow;
  void ApplyRow(const TApplyRow& row);
  void CheckEarlierValue(const TApplyRow& row);
  // Puts back one recorded value under root; true when its record may go.
  bool RestoreRecorded(const TChangedValue& value, TRegHandle root);
  // Removes the empty keys of the account (currentUser, sid) the engine created under root;
  // keys still holding something stay recorded unless final.
  void RemoveCreatedKeys(TChangeRecord& record, bool currentUser, const std::string& sid,
                         TRegHandle root, bool final);
  // Saves the record with the restore text it goes with (before: the text on disk now).
  void SaveChangeRecord(TChangeRecord& record, std::string_view restoreBefore,
                        std::string_view restoreAfter);
  // Whether the stored switch states say an engine switch is on.
  bool StatesSayApplied();
  std::string CurrentSid();
  TRegHandle UserRoot();

  std::string FDir;
  TRegistry FRegistry;
  IRawRegistry& FRaw;
  IRestoreFileSystem& FFiles;
  IUserHives* FHives;
};

// The process-wide engine, working in the program folder; none before start-up makes it.
extern std::unique_ptr<TOptimizeIt> gOptimizeIt;

// Creates gOptimizeIt in gAppDir on the machine's registry and files (Windows build).
void InitializeOptimizeModule();
// Releases gOptimizeIt.
void FinalizeOptimizeModule();
