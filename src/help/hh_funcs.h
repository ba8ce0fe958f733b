// The help launcher and its diagnostics: building the help path, showing a topic with one of
// the viewers, the installed versions of the help control and the browser engine, and the help
// debug log "HHDebug.txt" (portable interface; the machine comes in through IHelpPlatform).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A file version: four unsigned 16-bit numbers and their text ("major.minor.release.build"),
// or all zero with an empty text when there is none.
struct TFileVersion {
  uint16_t Major = 0;
  uint16_t Minor = 0;
  uint16_t Release = 0;
  uint16_t Build = 0;
  std::string Text;
};

// The version of the four numbers, with its text.
TFileVersion MakeFileVersion(uint16_t major, uint16_t minor, uint16_t release, uint16_t build);
// -1, 0 or 1 as a is older than, equal to or newer than b (major, then minor, release, build).
int CompareVersions(const TFileVersion& a, const TFileVersion& b);
// The browser engine's version with the old numbering (4.x with x <= 70 and release 0, the build
// holding the release) put right: 4.70.0.1155 becomes 4.70.1155.0.
TFileVersion FixOldEngineNumbering(const TFileVersion& v);
// The release name of a help control of version v; empty when v has no text.
std::string HHFriendlyName(const TFileVersion& v);
// The release name of a browser engine of version v (after the fix-up); empty when v has no text.
std::string IEFriendlyName(const TFileVersion& v);

// The path the viewers take: "%20" read as a blank and outer blanks dropped in each part; the
// topic with "/" separators and a leading "/", after the help file and "::" when there is a
// file; ">" and the window name when there is one; "mk:@MSITStore:" in front when asked.
std::string MakeHelpPath(std::string_view helpFile, std::string_view topic,
                         std::string_view windowName, bool storePrefix);
// "[Error:<code>] " and the plain-words reason for a system error code.
std::string LastErrorText(unsigned long code);
// The log line for text: a bare "-" or "=" becomes 80 of them; a leading "!", "-" or "=" is
// dropped and the line carries no time; any other text follows timeText and three blanks.
std::string DebugLineText(std::string_view text, std::string_view timeText);
// Whether the debug log is on: the switch file exists, or a parameter is "/debug" or "-debug"
// in any letter case.
bool DebugSwitchOn(bool switchFileExists, const std::vector<std::string>& params);
// Text formatted as printf does, for the log lines and the warnings.
std::string FormatHelpText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// File name of the help debug log, of the file that turns it on, and of the writable probe.
inline constexpr const char* kHelpLogName = "HHDebug.txt";
inline constexpr const char* kHelpSwitchFileName = "debug.debug";
inline constexpr const char* kWritableProbeName = "$_Temp_$.$$$";

// Viewer hosts of ShowTopic, and its result codes.
inline constexpr int kHostHelpControl = 0;
inline constexpr int kHostKeyHH = 1;
inline constexpr int kHostHH = 2;
inline constexpr int kHelpDone = 0;
inline constexpr int kHelpControlMissing = 1;
inline constexpr int kKeyHHMissing = 2;
inline constexpr int kHHMissing = 3;

// What the launcher and the diagnostics need of the machine.
class IHelpPlatform {
 public:
  // What the system reports of itself for the log header.
  struct TSystemInfo {
    bool NtFamily = true;
    unsigned long Major = 0, Minor = 0, Build = 0;
    unsigned long DefaultLcid = 0;
    std::string DecimalSeparator;
  };
  // How a request to the help control's entry point ended.
  enum class TDisplayResult { NoEntryPoint, NoWindow, Window };

  virtual ~IHelpPlatform() = default;
  // The registered help control's file, or empty (FindHelpControl).
  virtual std::string HelpControlPath() = 0;
  // Full path of the module running this code, and of the program file.
  virtual std::string ModuleFileName() = 0;
  virtual std::string ProgramFileName() = 0;
  // The command-line parameters after the program name.
  virtual std::vector<std::string> Parameters() = 0;
  // The system's temporary folder as it names it (may end with "\"); the Windows folder and the
  // system folder without trailing "\".
  virtual std::string TempDir() = 0;
  virtual std::string WindowsDir() = 0;
  virtual std::string SystemDir() = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // Creates path as a new empty file and closes it; false when that is refused.
  virtual bool CreateEmptyFile(const std::string& path) = 0;
  // Deletes path; false when it could not.
  virtual bool DeleteFile(const std::string& path) = 0;
  // Appends line and a line end to path (created when missing), flushed and closed; false when
  // the file cannot be opened or written.
  virtual bool AppendLine(const std::string& path, const std::string& line) = 0;
  // The version of the file at path; empty text when missing or without version information.
  virtual TFileVersion FileVersion(const std::string& path) = 0;
  // The current time in the user's long time format; the current date and time.
  virtual std::string LongTimeNow() = 0;
  virtual std::string DateTimeNow() = 0;
  virtual TSystemInfo SystemInfo() = 0;
  // Hands path to the loaded help control's entry point with the display-topic command, owned
  // by the desktop, and brings a returned window to the foreground.
  virtual TDisplayResult DisplayTopic(const std::string& path) = 0;
  // Asks the shell to open program with args; false with the system error code on failure.
  virtual bool ShellOpen(const std::string& program, const std::string& args,
                         unsigned long& error) = 0;
  // Shows text in the system's warning box with an OK button.
  virtual void ShowWarning(const std::string& text) = 0;
};

// The launcher and diagnostics state of one process.
class THelpFuncs {
 public:
  // Works on platform; nothing is read until InitHelpDiagnostics.
  explicit THelpFuncs(IHelpPlatform& platform) : FPlatform(platform) {}

  // Reads the folders, the debug switch and the installed versions, then writes the log header.
  void InitHelpDiagnostics();
  // Forgets everything InitHelpDiagnostics read: help counts as not installed again.
  void ClearHelpDiagnostics();

  // Shows topic of helpFile (window windowName) with the viewer host; the result code.
  int ShowHelpTopic(std::string_view helpFile, std::string_view topic, std::string_view windowName,
                    int host);
  // Shows the help path with the viewer host; the result code.
  int ShowTopic(const std::string& path, int host);
  // Asks the shell to open program with args; on failure warns and logs, and gives false.
  bool RunViewer(const std::string& program, const std::string& args);
  // Shows text as a warning and, with the log on, writes it as a log line.
  void ReportError(const std::string& text);

  // One line in the debug log (see DebugLineText); dropped silently when it cannot be written.
  void DebugOut(std::string_view text);
  // Deletes the previous log and, with the log on, writes the header of this run.
  void WriteDebugHeader();

  // The version of the browser engine library, old numbering put right.
  TFileVersion GetIEVersion();
  // The release names of the help control and of the browser engine.
  std::string GetHHFriendlyVersion();
  std::string GetIEFriendlyVersion();

  // The state read at start-up.
  const std::string& ModuleDir() const { return FModuleDir; }
  const std::string& ModuleName() const { return FModuleName; }
  const std::string& RunDir() const { return FRunDir; }
  const std::string& HelpLogDir() const { return FHelpLogDir; }
  bool HelpDebug() const { return FHelpDebug; }
  const std::string& HHVerStr() const { return FHHVerStr; }
  bool HHInstalled() const { return FHHInstalled; }
  const std::string& HHFriendlyVerStr() const { return FHHFriendlyVerStr; }
  const std::string& IEVerStr() const { return FIEVerStr; }
  bool IEInstalled() const { return FIEInstalled; }
  const std::string& IEFriendlyVerStr() const { return FIEFriendlyVerStr; }
  // Full path of the debug log.
  std::string HelpLogPath() const;

 private:
  // Whether a file can be created in dir (the probe is deleted again at once).
  bool IsWritable(const std::string& dir);

  IHelpPlatform& FPlatform;
  std::string FModuleDir, FModuleName, FRunDir, FHelpLogDir;
  bool FHelpDebug = false;
  std::string FHHVerStr, FHHFriendlyVerStr;
  bool FHHInstalled = false;
  std::string FIEVerStr, FIEFriendlyVerStr;
  bool FIEInstalled = false;
};
