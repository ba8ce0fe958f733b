// The speed-tweak engine: four switches, each a fixed set of registry values, applied with a
// backup of the values they replace and taken back from that backup (portable interface).
#pragma once

#include "common/Errors.h"
#include "common/Registry.h"

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
};

// The machine's files (Windows build).
IRestoreFileSystem& SystemRestoreFileSystem();

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
// Name of the file that lists the values the engine holds changed now, in the same folder:
// entry name = "created" (the value did not exist) or the registry type the value had before
// ("REG_SZ", "REG_EXPAND_SZ", "REG_DWORD"). Undo touches only the values listed there.
inline constexpr const char* kChangedFileName = "optchanged.rgd";

// The tweak engine. Not reentrant: one registry accessor serves every operation.
class TOptimizeIt {
 public:
  // An engine keeping its files in dir, on the registry reg and the files of files; touches
  // neither the registry nor the files.
  TOptimizeIt(std::string_view dir, IRawRegistry& reg, IRestoreFileSystem& files);
  TOptimizeIt(const TOptimizeIt&) = delete;
  TOptimizeIt& operator=(const TOptimizeIt&) = delete;

  // Apply or undo the values of one switch, row by row; the first failure ends the switch.
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
  // Undoes the four switches in the main window's order, every value even after a failure;
  // raises one Exception naming every failure, one per line, when any value could not be put
  // back (for the uninstaller).
  void UndoAll();

  // Writes the value text of valueName under keyPath (HKCU when currentUser, else HKLM),
  // recording the value it replaces first; does nothing when the value already equals it.
  // Raises ERegistryException when the old value has another type or cannot be read, or the
  // write fails, and Exception when the backup cannot be saved.
  void ApplyValue(std::string_view keyPath, std::string_view valueName, std::string valueText,
                  bool currentUser);
  // Puts back the value this engine changed (as recorded) or deletes the value it created;
  // leaves a value it does not hold changed alone. Raises as ApplyValue.
  void RestoreValue(std::string_view keyPath, std::string_view valueName, bool currentUser);
  // The kind of a value text; the text becomes its payload (the prefix, letters folded, goes).
  static TRegValueKind ParseValueText(std::string& text);

  // The restore file's value of entry name; empty when the file or the entry is missing.
  std::string ReadRestoreEntry(std::string_view name);
  // Sets entry name to value in the restore file (an empty value deletes it) and saves it.
  void WriteRestoreEntry(std::string_view name, std::string_view value);

  // The folder of the engine's files, with a trailing separator.
  const std::string& Dir() const { return FDir; }

 private:
  // What the changed-values file says of entry name; empty when the engine holds it unchanged.
  std::string ReadChangedMark(std::string_view name);
  // Sets or (empty mark) deletes entry name in the changed-values file and saves it.
  void WriteChangedMark(std::string_view name, std::string_view mark);

  std::string FDir;
  TRegistry FRegistry;
  IRestoreFileSystem& FFiles;
};

// The process-wide engine, working in the program folder; none before start-up makes it.
extern std::unique_ptr<TOptimizeIt> gOptimizeIt;

// Creates gOptimizeIt in gAppDir on the machine's registry and files (Windows build).
void InitializeOptimizeModule();
// Releases gOptimizeIt.
void FinalizeOptimizeModule();
