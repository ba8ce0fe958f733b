// The main window "TfmPerformance": its design, its creation steps, the memory gauge, the
// Optimize command, the schedule kept by the service, Apply, OK and Cancel, Help and About,
// and the memory usage check (portable; the window itself is PerformanceMain_win.cpp).
#pragma once

#include "app/GaugeLayout.h"
#include "common/CleanupAPI.h"
#include "common/Elevation.h"
#include "optimize/SpeedStates.h"
#include "ui/BaseForms.h"
#include "ui/MessageBox.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class IServiceLink;
class IMessagePump;
class IRawRegistry;
class TOptimizeIt;

// The physical memory status: the system's load in percent and the byte counts.
struct TMemoryFigures {
  uint32_t Load = 0;
  uint64_t Total = 0;
  uint64_t Avail = 0;
};

// How a run of the elevated speed switch helper ended.
struct TSpeedHelperRun {
  enum class TOutcome {
    Finished,    // it ran; ExitCode tells whether it succeeded, Text holds its reason
    Declined,    // the user declined the consent prompt: nothing was started
    NotStarted,  // it could not be started; Text says why
  };
  TOutcome Outcome = TOutcome::NotStarted;
  unsigned long ExitCode = 0;
  std::string Text;
};

// Screen cursors the window switches between.
enum class TScreenCursor { Default, HourGlass, Other };

// Everything the main window works with beyond its own controls.
struct TPerformancePorts {
  // The connected service client (gService); may be empty.
  std::function<std::shared_ptr<IServiceLink>()> Service;
  // Reads the memory status; false when it cannot be read.
  std::function<bool(TMemoryFigures&)> MemoryStatus;
  // The current user's privilege level; false when the query fails.
  std::function<bool(int& level)> UserPrivilege;
  // The translation of key in section (the key itself when there is none).
  std::function<std::string(std::string_view section, std::string_view key)> Text;
  // The screen cursor and its change.
  std::function<TScreenCursor()> GetCursor;
  std::function<void(TScreenCursor)> SetCursor;
  // Dispatches the window messages that wait.
  IMessagePump* Pump = nullptr;
  // Shows a message box owned by the main window (owner true) or by none.
  std::function<uint16_t(bool ownedByMainWindow, const std::string& caption, const std::string& title,
                         const std::string& text, MessageBoxIcon icon, MessageBoxButtons buttons)>
      ShowBox;
  // Opens the help topic; shows the About window modally.
  std::function<void()> ShowHelp;
  std::function<void()> ShowAbout;
  // Closes the window (which ends the application).
  std::function<void()> Close;
  // The product family's machine type (1 notebook, 2 other).
  std::function<int()> MachineType;
  // The machine's registry: the stored speed switch states and the boot defragmentation option.
  IRawRegistry* Registry = nullptr;
  // The speed-tweak engine (gOptimizeIt); null when there is none.
  std::function<TOptimizeIt*()> OptimizeIt;
  // The elevation of the process token; false when it cannot be read (taken as elevated).
  std::function<bool(TTokenElevation&)> TokenElevation;
  // Runs the elevated speed switch helper on the five states ("1,0,1,1,0") and waits for it,
  // dispatching the window's messages meanwhile.
  std::function<TSpeedHelperRun(const std::string& states)> RunSpeedHelper;
  // Starts a count pass of the disk cleanup on a thread of its own; each figure comes back
  // through onFigure on the window thread, and none once the window is gone.
  std::function<void(TCountSink onFigure)> StartCountPass;
  // The clearing of the disk cleanup's items, on the window thread.
  std::function<void()> ClearInternetCache;
  std::function<void()> ClearCookies;
  std::function<void()> ClearTempFolder;
  std::function<void()> EmptyRecycleBin;
  std::function<void()> ClearTypedUrls;
  // Deletes the saved passwords and gives how many there were.
  std::function<int64_t()> ClearSavedPasswords;
  // Waits on the window thread.
  std::function<void(uint32_t ms)> Sleep;
  // The decimal separator of the user's locale (UTF-8, one or more characters).
  std::string DecimalSeparator = ".";
  // Measures a text in a font; without it the gauge's labels keep their design places.
  TTextWidth TextWidth;
};

// The application title, the main window's caption.
inline constexpr const char* kPerformanceCaption = "Quor eBrisko Management";

// The helper program that applies the speed switches elevated, in the program folder.
inline constexpr const char* kSpeedHelperName = "SpeedSwitches.exe";
// The warning a user other than an administrator gets on applying the speed switches.
inline constexpr const char* kSpeedAdminOnlyText =
    "Speed optimization can be operated by users with Administrator privileges only.";

// A size figure of the disk cleanup: bytes in MiB with the pattern "0.##" (up to two decimals,
// halves up, trailing zeros and a bare separator dropped) and " MB".
std::string SizeFigureText(int64_t bytes, std::string_view decimalSeparator);

// "#0": x rounded to the nearest whole number, halves up.
long long RoundHalfUp(double x);
// The texts of the gauge's labels for figures: "Used: 640 MB (63%)", "Free: 384 MB (38%)",
// with used and free translated.
std::string UsedText(const TMemoryFigures& m, const std::string& used);
std::string FreeText(const TMemoryFigures& m, const std::string& free);
// Whether a text reads as a true boolean: "True" in any case or a number other than 0.
bool ReadsAsTrueBoolean(std::string_view text);
// Whether the boot defragmentation option's text means on: everything but "N", "n" and "no" in
// any letter case (a missing or empty value is on).
bool BootDefragEnabled(std::string_view text);
// Whether the memory usage answer advises an upgrade: count > 1000, 3 * "60" > 2 * count
// and 3 * "80" > count, each read from the comma list (0 when missing or not a number).
bool UpgradeAdvised(const std::string& answer);

class TfmPerformance : public TfmBaseForm {
 public:
  explicit TfmPerformance(TPerformancePorts ports);

  // The creation steps; an error of the state request ends them where it arose.
  void FormCreate() override;
  // Reads the privilege, the speed options, starts a count pass, refreshes the gauge and
  // reads the schedule from the service.
  void LoadState();
  // Refreshes the gauge from the memory status.
  void Timer1Timer();
  // Shows the gauge's texts, laid out so that they never run into each other (again after the
  // window moved to a monitor of another pixel density, where they measure differently).
  void ShowGaugeTexts(const std::string& used, const std::string& free);
  void ActOptimizeExecute();
  void cbAutoOptimizeClick();
  void rgTimeSelectClick();
  // Sends the schedule to the service when it was changed since the last apply.
  void ApplySchedule();
  void ActApplyExecute();
  void ActOKExecute();
  void btnCancelClick();
  void btnHelpClick();
  void btnAboutClick();
  // A key released anywhere in the window (it sees keys before its controls): F1 opens help.
  void FormKeyUp(unsigned key);
  void ActMemoryUsageCheckExecute();
  // Starts a count pass whose figures fill the disk cleanup's labels.
  void StartCountPass();
  // Shows one figure of a count pass in its label.
  void ShowFigure(TCountItem item, const TCountFigures& figures);
  // The "Clear" button: asks, then clears the ticked items in their fixed order.
  void ActCacheOptimizationExecute();
  void ClearSelectedItems();
  // Marks a changed speed switch: Apply becomes available.
  void SpeedOptionChanged();
  // The change handlers of the five speed switches.
  void cbSpeedOpt1Click() { SpeedOptionChanged(); }
  void cbSpeedOpt2Click() { SpeedOptionChanged(); }
  void cbSpeedOpt3Click() { SpeedOptionChanged(); }
  void cbSpeedOpt4Click() { SpeedOptionChanged(); }
  void cbSpeedOpt5Click() { SpeedOptionChanged(); }
  // Sets the five speed switches from the stored states, switch 4 from the system's boot
  // defragmentation option.
  void LoadSpeedOptions();
  // When a switch was changed: for an administrator applies or undoes every switch from top to
  // bottom and stores the states (in this process when its token is elevated, else through
  // the elevated helper, which asks for consent, and then loads the stored states back); for
  // anyone else shows the warning and loads the stored states back. An error of the engine,
  // the registry or the helper ends it there and leaves the change pending (Apply stays
  // enabled); a declined consent changes nothing and shows nothing.
  void ApplySpeedOptions();
  // Whether applying the speed switches now asks for consent: an administrator whose token is
  // not elevated, with a change pending. Apply and OK then carry the shield.
  bool SpeedApplyNeedsConsent() const;
  // Stores the five switch states.
  void SaveSpeedOptions();

  int32_t FPrivilege = 0;
  // The token's elevation, read with the privilege.
  TTokenElevation FElevation;
  bool FScheduleChanged = false;
  bool FSpeedChanged = false;

  TControl* Image1 = nullptr;
  TControl* ImageList1 = nullptr;
  TControl* suiGroupBox1 = nullptr;
  TControl* cbAutoOptimize = nullptr;
  TControl* Label1 = nullptr;
  TControl* rgTimeSelect = nullptr;
  TControl* lbUsed = nullptr;
  TControl* lbFree = nullptr;
  TControl* pbPhysicalmemory = nullptr;
  TControl* suiImageButton1 = nullptr;
  TControl* suiGroupBox2 = nullptr;
  TControl* cbDiskOpt[6] = {};
  TControl* lblTempFilesSize = nullptr;
  TControl* lblCookies = nullptr;
  TControl* lblSysFilesSize = nullptr;
  TControl* lblRecycleFiles = nullptr;
  TControl* lblSavedPwd = nullptr;
  TControl* suiImageButton2 = nullptr;
  TControl* suiGroupBox3 = nullptr;
  TControl* cbSpeedOpt[5] = {};
  TControl* suiGroupBox4 = nullptr;
  TControl* lblCheckText = nullptr;
  TControl* suiImageButton7 = nullptr;
  TControl* btnApply = nullptr;
  TControl* btnOK = nullptr;
  TControl* btnCancel = nullptr;

  TPerformancePorts& Ports() noexcept { return FPorts; }

 private:
  void ArrangeRows();
  void EnableTimeSelect(bool enabled);
  // Apply enabled while a change waits; the shields while applying would ask for consent.
  void UpdateApplyButtons();
  // The five ticks.
  TSpeedStates SpeedTicks() const;
  // The switches through the elevated helper; false when the user declined.
  bool ApplySpeedOptionsElevated();
  std::string Text(std::string_view section, std::string_view key) const;

  TPerformancePorts FPorts;
  // The font the gauge's labels are designed in; the layout may draw them a point smaller.
  TFontSpec FGaugeFont;
  bool FApplying = false;
};

// The suggestion window: never shown; it runs the memory usage check and owns its verdict.
class TfmSuggestForm {
 public:
  explicit TfmSuggestForm(TPerformancePorts& ports) : FPorts(ports) {}
  // Has the service measure the memory use and shows the verdict; true once shown.
  bool RunServiceCheck();

 private:
  TPerformancePorts& FPorts;
};
