#include "app/PerformanceMain.h"

#include "common/Errors.h"
#include "common/Settings.h"
#include "common/SystemPorts.h"
#include "common/TextUtil.h"
#include "i18n/TranslateST.h"
#include "optimize/OptimizeIt.h"
#include "service/CommaList.h"
#include "service/tcpClient.h"
#include "ui/PictureIds.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

constexpr const char* kSection = "Optimization";
constexpr const char* kModule = "module.optimize";
constexpr const char* kNoCache = "nocache=true";

// Switches the screen cursor to the hourglass and puts the remembered one back, also when an
// error leaves the command.
class TBusyCursor {
 public:
  explicit TBusyCursor(TPerformancePorts& ports) : FPorts(ports) {
    if (FPorts.GetCursor) FSaved = FPorts.GetCursor();
    if (FPorts.SetCursor) FPorts.SetCursor(TScreenCursor::HourGlass);
  }
  ~TBusyCursor() {
    if (FPorts.SetCursor) FPorts.SetCursor(FSaved);
  }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  TPerformancePorts& FPorts;
  TScreenCursor FSaved = TScreenCursor::Default;
};

TFontSpec ButtonFont() {
  TFontSpec f;
  f.Bold = true;
  f.Color = kDarkTealColor;
  return f;
}

// A whole number of the text, or fallback when it is none.
long long NumberOr(std::string_view text, long long fallback) {
  const std::string t(TrimBlanks(text));
  if (t.empty()) return fallback;
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  return *end == '\0' ? v : fallback;
}

// A stored switch state: on when the item reads as a whole number other than 0.
bool StoredStateOn(std::string_view item) {
  const std::string_view t = TrimBlanks(item);
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, 10);
  return !t.empty() && ec == std::errc() && end == t.data() + t.size() && value != 0;
}

// The engine's operations behind the switches (switch 4 is the boot defragmentation option).
struct TSpeedOperation {
  void (TOptimizeIt::*On)();
  void (TOptimizeIt::*Off)();
};
constexpr TSpeedOperation kSpeedOperations[5] = {
    {&TOptimizeIt::ApplyTurboStartup, &TOptimizeIt::UndoTurboStartup},
    {&TOptimizeIt::ApplyTurboShutdown, &TOptimizeIt::UndoTurboShutdown},
    {&TOptimizeIt::ApplyPerformanceEnhancement, &TOptimizeIt::UndoPerformanceEnhancement},
    {nullptr, nullptr},
    {&TOptimizeIt::ApplyNetworkBooster, &TOptimizeIt::UndoNetworkBooster},
};
constexpr int kBootDefragSwitch = 3;

}  // namespace

bool BootDefragEnabled(std::string_view text) {
  return !(text == "N" || text == "n" || SameText(text, "no"));
}

std::string SizeFigureText(int64_t bytes, char decimalSeparator) {
  const long long hundredths = RoundHalfUp(static_cast<double>(bytes) / 1048576.0 * 100.0);
  std::string text = std::to_string(hundredths / 100);
  const long long fraction = hundredths % 100;
  if (fraction != 0) {
    text += decimalSeparator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text + " MB";
}

long long RoundHalfUp(double x) { return static_cast<long long>(std::floor(x + 0.5)); }

std::string UsedText(const TMemoryFigures& m, const std::string& used) {
  const double total = static_cast<double>(m.Total);
  const double u = total - static_cast<double>(m.Avail);
  return used + ": " + std::to_string(RoundHalfUp(u / 1024 / 1024)) + " MB (" +
         std::to_string(total > 0 ? RoundHalfUp(u / total * 100) : 0) + "%)";
}

std::string FreeText(const TMemoryFigures& m, const std::string& free) {
  const double total = static_cast<double>(m.Total);
  const double a = static_cast<double>(m.Avail);
  return free + ": " + std::to_string(RoundHalfUp(a / 1024 / 1024)) + " MB (" +
         std::to_string(total > 0 ? RoundHalfUp(a / total * 100) : 0) + "%)";
}

bool ReadsAsTrueBoolean(std::string_view text) {
  if (SameText(TrimBlanks(text), "True")) return true;
  return NumberOr(text, 0) != 0;
}

bool UpgradeAdvised(const std::string& answer) {
  const TCommaList list = TCommaList::Parse(answer);
  auto number = [&](const char* name) {
    const long long v = NumberOr(list.Value(name), 0);
    return v < INT32_MIN || v > INT32_MAX ? 0 : v;  // signed 32-bit figures
  };
  const long long c = number("count"), s = number("60"), e = number("80");
  return c > 1000 && 3 * s > 2 * c && 3 * e > c;
}

TfmPerformance::TfmPerformance(TPerformancePorts ports)
    : TfmBaseForm("TfmPerformance", kPerformanceCaption), FPorts(std::move(ports)) {
  btnMenu->SetVisible(false);
  TControl& body = *PanelBody;
  Image1 = &body.AddChild(TControlKind::Image, "Image1", {42, 167, 145, 134});
  Image1->Transparent = true;
  ImageList1 = &Form.AddComponent(TControlKind::ImageList, "ImageList1");
  ImageList1->Pictures = {IDB_MACHINE_NOTEBOOK, IDB_MACHINE_DESKTOP};

  auto imageButton = [](TControl& parent, const char* name, const char* caption, TBounds b) {
    TControl& button = parent.AddChild(TControlKind::ImageButton, name, b);
    button.SetText(caption);
    button.SetFont(ButtonFont());
    button.SetPicture(IDB_BUTTON_FACE);
    button.Transparent = true;
    button.HandCursor = true;
    button.TabStop = true;
    return &button;
  };

  // Memory Optimization.
  suiGroupBox1 = &body.AddChild(TControlKind::GroupBox, "suiGroupBox1", {180, 167, 253, 206});
  suiGroupBox1->SetText("Memory Optimization");
  cbAutoOptimize = &suiGroupBox1->AddChild(TControlKind::CheckBox, "cbAutoOptimize", {6, 16, 233, 21});
  cbAutoOptimize->SetText("Enable Scheduled Optimization");
  cbAutoOptimize->TabStop = true;
  Label1 = &suiGroupBox1->AddChild(TControlKind::Label, "Label1", {24, 41, 48, 15});
  Label1->SetText("every");
  Label1->Alignment = TAlignment::Right;
  Label1->Transparent = true;
  rgTimeSelect = &suiGroupBox1->AddChild(TControlKind::RadioGroup, "rgTimeSelect", {72, 26, 145, 79});
  rgTimeSelect->SetItems({"5 minutes", "30 minutes", "1 hour"});
  // Sized to their texts by the gauge's layout (ShowGaugeTexts), which keeps them apart.
  lbUsed = &suiGroupBox1->AddChild(TControlKind::Label, "lbUsed", {6, 120, 118, 15});
  lbUsed->SetText("Used: 94 MB");
  lbUsed->Transparent = true;
  lbFree = &suiGroupBox1->AddChild(TControlKind::Label, "lbFree", {130, 120, 117, 15});
  lbFree->SetText("Free: 94 MB");
  lbFree->Alignment = TAlignment::Right;
  lbFree->Transparent = true;
  FGaugeFont = lbUsed->Font();
  pbPhysicalmemory = &suiGroupBox1->AddChild(TControlKind::ProgressBar, "pbPhysicalmemory", {6, 136, 239, 12});
  suiImageButton1 = imageButton(*suiGroupBox1, "suiImageButton1", "Optimize", {8, 170, 105, 24});

  // Disk Optimization: rows and figures; the clearing comes with its own group.
  suiGroupBox2 = &body.AddChild(TControlKind::GroupBox, "suiGroupBox2", {448, 167, 339, 205});
  suiGroupBox2->SetText("Disk Optimization");
  const char* disk[] = {"Temporary Internet Files", "Internet Cookies", "Temporary System Files",
                        "Recycle Bin Files",        "Recently Accessed URLs", "Saved Internet Passwords"};
  for (int i = 0; i < 6; ++i) {
    cbDiskOpt[i] = &suiGroupBox2->AddChild(TControlKind::CheckBox, "cbDiskOpt" + std::to_string(i + 1),
                                           {8, 0, 215, 17});
    cbDiskOpt[i]->SetText(disk[i]);
    cbDiskOpt[i]->TabStop = true;
  }
  auto figure = [&](const char* name, const char* text) {
    TControl& label = suiGroupBox2->AddChild(TControlKind::Label, name, {228, 0, 100, 13});
    label.SetText(text);
    label.Alignment = TAlignment::Right;
    label.Transparent = true;
    return &label;
  };
  lblTempFilesSize = figure("lblTempFilesSize", "0 MB");
  lblCookies = figure("lblCookies", "0 Records");
  lblSysFilesSize = figure("lblSysFilesSize", "0 MB");
  lblRecycleFiles = figure("lblRecycleFiles", "0 MB");
  lblRecycleFiles->SetVisible(false);
  lblSavedPwd = figure("lblSavedPwd", "0 Records");
  suiImageButton2 = imageButton(*suiGroupBox2, "suiImageButton2", "Clear", {8, 168, 105, 24});

  // Speed Optimization: the switches, applied by ApplySpeedOptions.
  suiGroupBox3 = &body.AddChild(TControlKind::GroupBox, "suiGroupBox3", {448, 383, 337, 142});
  suiGroupBox3->SetText("Speed Optimization");
  const char* speed[] = {"Turbo Startup", "Turbo Shutdown", "Performance Enhancement",
                         "Disk Defragmentation", "Network Booster"};
  void (TfmPerformance::*speedClick[])() = {
      &TfmPerformance::cbSpeedOpt1Click, &TfmPerformance::cbSpeedOpt2Click,
      &TfmPerformance::cbSpeedOpt3Click, &TfmPerformance::cbSpeedOpt4Click,
      &TfmPerformance::cbSpeedOpt5Click};
  for (int i = 0; i < 5; ++i) {
    cbSpeedOpt[i] = &suiGroupBox3->AddChild(TControlKind::CheckBox, "cbSpeedOpt" + std::to_string(i + 1),
                                            {8, 0, 250, 17});
    cbSpeedOpt[i]->SetText(speed[i]);
    cbSpeedOpt[i]->TabStop = true;
    cbSpeedOpt[i]->OnClick = [this, click = speedClick[i]] { (this->*click)(); };
  }

  // Memory Usage Check.
  suiGroupBox4 = &body.AddChild(TControlKind::GroupBox, "suiGroupBox4", {180, 383, 253, 142});
  suiGroupBox4->SetText("Memory Usage Check");
  lblCheckText = &suiGroupBox4->AddChild(TControlKind::Label, "lblCheckText", {10, 26, 233, 60});
  lblCheckText->SetText("Check if memory upgrade is necessary for this computer.");
  lblCheckText->WordWrap = true;
  lblCheckText->Transparent = true;
  suiImageButton7 = imageButton(*suiGroupBox4, "suiImageButton7", "Check", {8, 106, 105, 24});

  btnApply = imageButton(body, "btnApply", "Apply", {0, 0, 104, 24});
  btnOK = imageButton(body, "btnOK", "OK", {0, 0, 104, 24});
  btnCancel = imageButton(body, "btnCancel", "Cancel", {0, 0, 104, 24});

  imgMainLeft->SetPicture(IDB_BANNER_LEFT);
  imgMainMiddle->SetPicture(IDB_BANNER_MIDDLE);
  imgMainRight->SetPicture(IDB_BANNER_RIGHT);
  btnMenu->SetPicture(IDB_BANNER_MENU);
  btnAbout->SetPicture(IDB_BANNER_ABOUT);
  btnHelp->SetPicture(IDB_BANNER_HELP);
  btnAbout->TabStop = btnHelp->TabStop = true;

  suiImageButton1->OnClick = [this] { ActOptimizeExecute(); };
  suiImageButton7->OnClick = [this] { ActMemoryUsageCheckExecute(); };
  suiImageButton2->OnClick = [this] { ActCacheOptimizationExecute(); };
  cbAutoOptimize->OnClick = [this] { cbAutoOptimizeClick(); };
  rgTimeSelect->OnClick = [this] { rgTimeSelectClick(); };
  btnApply->OnClick = [this] { ActApplyExecute(); };
  btnOK->OnClick = [this] { ActOKExecute(); };
  btnCancel->OnClick = [this] { btnCancelClick(); };
  btnHelp->OnClick = [this] { btnHelpClick(); };
  btnAbout->OnClick = [this] { btnAboutClick(); };
}

std::string TfmPerformance::Text(std::string_view section, std::string_view key) const {
  return FPorts.Text ? FPorts.Text(section, key) : std::string(key);
}

void TfmPerformance::ArrangeRows() {
  for (int i = 0; i < 6; ++i) cbDiskOpt[i]->SetTop(i == 0 ? 16 : cbDiskOpt[i - 1]->Bounds().Top + 20);
  const std::pair<TControl*, TControl*> figures[] = {{lblTempFilesSize, cbDiskOpt[0]},
                                                     {lblCookies, cbDiskOpt[1]},
                                                     {lblSysFilesSize, cbDiskOpt[2]},
                                                     {lblRecycleFiles, cbDiskOpt[3]},
                                                     {lblSavedPwd, cbDiskOpt[5]}};
  for (const auto& [label, box] : figures)
    label->SetTop(box->Bounds().Top + (box->Bounds().Height - label->Bounds().Height) / 2);
  for (int i = 0; i < 5; ++i) cbSpeedOpt[i]->SetTop(i == 0 ? 16 : cbSpeedOpt[i - 1]->Bounds().Top + 20);
  ApplyProductStyle(&Form);
}

void TfmPerformance::FormCreate() {
  // 1. The designed window and body size.
  Form.SetBounds({Form.Bounds().Left, Form.Bounds().Top, 812, 631});
  PanelBody->SetBounds({PanelBody->Bounds().Left, PanelBody->Bounds().Top, 800, 600});
  // 2. The base window's creation step.
  TfmBaseForm::FormCreate();
  // 3 to 6. Rows, style, caption and translation.
  ArrangeRows();
  SetCaption(kPerformanceCaption);
  MarkForTranslation(Form);
  TranslateControls(kSection, Form);
  // 7. An error of the state request ends the creation here; the window opens as it is.
  LoadState();
  // 8. Loading may have ticked boxes through their handlers: nothing is changed yet.
  FScheduleChanged = false;
  FSpeedChanged = false;
  DisableImageButton(*btnApply);
  // 9. The bottom buttons from the right.
  const TBounds body = PanelBody->Bounds();
  btnCancel->SetBounds({body.Width - btnCancel->Bounds().Width - 26,
                        body.Height - btnCancel->Bounds().Height - 14, 104, 24});
  btnOK->SetBounds({btnCancel->Bounds().Left - btnOK->Bounds().Width - 6, btnCancel->Bounds().Top, 104, 24});
  btnApply->SetBounds({btnOK->Bounds().Left - btnApply->Bounds().Width - 24, btnCancel->Bounds().Top, 104, 24});
  // 10, 11. The period group's border and the machine picture.
  rgTimeSelect->SetBorderColor(clWhite);
  const int type = FPorts.MachineType ? FPorts.MachineType() : 2;
  Image1->SetPicture(ImageList1->Pictures[type == 1 ? 0 : 1]);
}

void TfmPerformance::LoadState() {
  int level = 0;
  FPrivilege = (FPorts.UserPrivilege && FPorts.UserPrivilege(level)) ? level : 0;
  LoadSpeedOptions();
  StartCountPass();
  Timer1Timer();
  std::string info = kNoCache;
  const std::shared_ptr<IServiceLink> service = FPorts.Service ? FPorts.Service() : nullptr;
  if (!service) return;
  service->GetInfo(kModule, "optimi.free.getconf", info);
  const TCommaList list = TCommaList::Parse(info);
  if (list.Count() == 0) return;
  cbAutoOptimize->SetChecked(ReadsAsTrueBoolean(list.Value("Enabled")));
  EnableTimeSelect(cbAutoOptimize->Checked());
  if (rgTimeSelect->Enabled()) {
    const long long period = NumberOr(list.Value("Period"), 60);
    rgTimeSelect->SetItemIndex(period == 5 ? 0 : period == 30 ? 1 : 2);
  }
}

void TfmPerformance::Timer1Timer() {
  TMemoryFigures m;
  if (!FPorts.MemoryStatus || !FPorts.MemoryStatus(m)) return;
  pbPhysicalmemory->SetPosition(static_cast<int>(m.Load));
  ShowGaugeTexts(UsedText(m, Text(kSection, "Used")), FreeText(m, Text(kSection, "Free")));
}

void TfmPerformance::ShowGaugeTexts(const std::string& used, const std::string& free) {
  if (FPorts.TextWidth) {
    // Places and font first, so that each label paints once, with its new text.
    const TGaugeLayout layout = LayoutGaugeLabels(used, free, FGaugeFont, FPorts.TextWidth);
    for (TControl* label : {lbUsed, lbFree}) {
      TFontSpec font = label->Font();
      font.Name = layout.Font.Name;
      font.Height = layout.Font.Height;
      label->SetFont(font);
    }
    lbUsed->SetBounds(layout.Used);
    lbFree->SetBounds(layout.Free);
  }
  lbUsed->SetText(used);
  lbFree->SetText(free);
}

void TfmPerformance::ActOptimizeExecute() {
  {
    TBusyCursor busy(FPorts);
    try {
      std::string info = kNoCache;
      if (const auto service = FPorts.Service ? FPorts.Service() : nullptr)
        service->GetInfo(kModule, "optimi.free", info);
      Timer1Timer();
    } catch (const std::exception&) {
      // Optimizing is best effort: a failure shows nothing.
    }
  }
  if (FPorts.Pump) FPorts.Pump->ProcessMessages();
}

void TfmPerformance::EnableTimeSelect(bool enabled) {
  // The group and every item in it.
  rgTimeSelect->SetEnabled(enabled);
}

void TfmPerformance::cbAutoOptimizeClick() {
  FScheduleChanged = true;
  EnableImageButton(*btnApply);
  EnableTimeSelect(cbAutoOptimize->Checked());
  if (cbAutoOptimize->Checked() && rgTimeSelect->ItemIndex() < 0) rgTimeSelect->SetItemIndex(2);
}

void TfmPerformance::rgTimeSelectClick() {
  FScheduleChanged = true;
  EnableImageButton(*btnApply);
}

void TfmPerformance::SpeedOptionChanged() {
  FSpeedChanged = true;
  EnableImageButton(*btnApply);
}

void TfmPerformance::LoadSpeedOptions() {
  // Without a registry nothing is stored: every switch off, switch 4 as a missing option says.
  auto machineSetting = [&](const char* name, const char* key) {
    return FPorts.Registry ? ReadSetting(*FPorts.Registry, name, false, key) : std::string();
  };
  std::vector<std::string> items =
      TCommaList::Parse(machineSetting(kSpeedStatesValue, kProductKey)).Items();
  items.resize(5, "0");
  for (size_t i = 0; i < 5; ++i) cbSpeedOpt[i]->SetChecked(StoredStateOn(items[i]));
  // The system's own option, not the stored state, tells whether boot defragmentation is on.
  cbSpeedOpt[kBootDefragSwitch]->SetChecked(
      BootDefragEnabled(machineSetting(kBootDefragValue, kBootDefragKey)));
}

void TfmPerformance::ApplySpeedOptions() {
  if (!FSpeedChanged) return;
  if (FPrivilege == 2) {
    TOptimizeIt* engine = FPorts.OptimizeIt ? FPorts.OptimizeIt() : nullptr;
    if (!engine || !FPorts.Registry)
      throw Exception("The speed settings cannot be changed on this computer.");
    // Every switch, changed or not, from top to bottom; an error leaves the rest undone and
    // the change pending.
    for (int i = 0; i < 5; ++i) {
      const bool on = cbSpeedOpt[i]->Checked();
      if (i == kBootDefragSwitch) {
        WriteSetting(*FPorts.Registry, kBootDefragValue, on ? "Y" : "N", false, kBootDefragKey);
      } else {
        const TSpeedOperation& operation = kSpeedOperations[static_cast<size_t>(i)];
        (engine->*(on ? operation.On : operation.Off))();
      }
    }
    SaveSpeedOptions();
  } else {
    if (FPorts.ShowBox)
      FPorts.ShowBox(true, kPerformanceCaption, Caption(), Text(kSection, kSpeedAdminOnlyText),
                     MessageBoxIcon::Warning, MessageBoxButtons::OK);
    LoadSpeedOptions();
  }
  FSpeedChanged = false;
  DisableImageButton(*btnApply);
}

void TfmPerformance::SaveSpeedOptions() {
  std::string states;
  for (int i = 0; i < 5; ++i)
    states += std::string(i == 0 ? "" : ",") + (cbSpeedOpt[i]->Checked() ? "1" : "0");
  if (FPorts.Registry)
    WriteSetting(*FPorts.Registry, kSpeedStatesValue, states, false, kProductKey);
}

void TfmPerformance::ApplySchedule() {
  if (!FScheduleChanged) return;
  TCommaList list;
  list.Add(kNoCache);
  list.AddValue("Enabled", cbAutoOptimize->Checked() ? "-1" : "0");
  static const char* kPeriods[] = {"5", "30", "60"};
  if (rgTimeSelect->ItemIndex() >= 0) list.AddValue("Period", kPeriods[rgTimeSelect->ItemIndex()]);
  std::string info = list.Text();
  if (const auto service = FPorts.Service ? FPorts.Service() : nullptr)
    service->GetInfo(kModule, "optimi.free.setconf", info);
  FScheduleChanged = false;
  DisableImageButton(*btnApply);
}

void TfmPerformance::ActApplyExecute() {
  ApplySchedule();
  ApplySpeedOptions();
}

void TfmPerformance::ActOKExecute() {
  if (btnApply->Enabled()) ActApplyExecute();
  if (FPorts.Close) FPorts.Close();
  if (FPorts.Pump) FPorts.Pump->ProcessMessages();
}

void TfmPerformance::btnCancelClick() {
  if (FPorts.Close) FPorts.Close();
  if (FPorts.Pump) FPorts.Pump->ProcessMessages();
}

void TfmPerformance::btnHelpClick() {
  if (FPorts.ShowHelp) FPorts.ShowHelp();
}

void TfmPerformance::btnAboutClick() {
  if (FPorts.ShowAbout) FPorts.ShowAbout();
}

void TfmPerformance::FormKeyUp(unsigned key) {
  if (key == 112) btnHelpClick();  // F1
}

void TfmPerformance::ActMemoryUsageCheckExecute() {
  if (!FPorts.ShowBox) return;
  const uint16_t answer =
      FPorts.ShowBox(true, kPerformanceCaption, Text(kSection, "Memory Usage Check"),
                        Text(kSection, "Memory will be adjusted for usage check. Proceed?"),
                        MessageBoxIcon::Warning, MessageBoxButtons::YesNo);
  if (answer != mrYes) return;
  if (FPorts.Pump) FPorts.Pump->ProcessMessages();
  TfmSuggestForm suggest(FPorts);
  TBusyCursor busy(FPorts);
  suggest.RunServiceCheck();
}

bool TfmSuggestForm::RunServiceCheck() {
  if (FPorts.SetCursor) FPorts.SetCursor(TScreenCursor::HourGlass);
  std::string info = kNoCache;
  if (const auto service = FPorts.Service ? FPorts.Service() : nullptr)
    service->GetInfo(kModule, "optimize.memory.usage", info);
  else
    info.clear();
  auto text = [&](std::string_view key) {
    return FPorts.Text ? FPorts.Text("Suggestion", key) : std::string(key);
  };
  const std::string verdict = UpgradeAdvised(info) ? text("You should upgrade your memory.")
                                                   : text("You do not have to upgrade your memory.");
  // Owned by the main window like every box it opens: it stays in front of the window it
  // disables and gets no taskbar button of its own.
  FPorts.ShowBox(true, kPerformanceCaption, text("Memory Usage Check"), verdict,
                    MessageBoxIcon::Information, MessageBoxButtons::OK);
  return true;
}

namespace {

// The figure of a count with its unit; the blank stays outside the looked-up key, so that a
// pack can translate "Records".
std::string RecordsText(int64_t count, const std::string& records) {
  return std::to_string(count) + " " + records;
}

}  // namespace

void TfmPerformance::StartCountPass() {
  if (FPorts.StartCountPass)
    FPorts.StartCountPass([this](TCountItem item, const TCountFigures& figures) { ShowFigure(item, figures); });
}

void TfmPerformance::ShowFigure(TCountItem item, const TCountFigures& figures) {
  auto size = [&](const std::optional<int64_t>& bytes) {
    return bytes ? SizeFigureText(*bytes, FPorts.DecimalSeparator) : Text(kSection, "Unknown");
  };
  switch (item) {
    case TCountItem::ciInternetCache:
      lblTempFilesSize->SetText(size(figures.InternetCacheBytes));
      break;
    case TCountItem::ciCookies:
      lblCookies->SetText(RecordsText(figures.Cookies, Text(kSection, "Records")));
      break;
    case TCountItem::ciTempFiles:
      lblSysFilesSize->SetText(size(figures.TempFilesBytes));
      break;
    case TCountItem::ciSavedPasswords:
      lblSavedPwd->SetText(RecordsText(figures.SavedPasswords, Text(kSection, "Records")));
      break;
    case TCountItem::ciTypedUrls:
      break;  // no label of its own
  }
}

void TfmPerformance::ActCacheOptimizationExecute() { ClearSelectedItems(); }

void TfmPerformance::ClearSelectedItems() {
  bool any = false;
  for (TControl* box : cbDiskOpt) any = any || box->Checked();
  if (!any || !FPorts.ShowBox) return;
  if (FPorts.ShowBox(true, kPerformanceCaption, Text(kSection, "Disk Optimization"),
                     Text(kSection, "This action cannot be undone. Continue?"), MessageBoxIcon::Warning,
                     MessageBoxButtons::YesNo) != mrYes)
    return;
  if (FPorts.Pump) FPorts.Pump->ProcessMessages();
  int64_t removed = 0;
  {
    TBusyCursor busy(FPorts);
    auto run = [](const std::function<void()>& step) {
      if (step) step();
    };
    if (cbDiskOpt[0]->Checked()) run(FPorts.ClearInternetCache);
    if (cbDiskOpt[1]->Checked()) run(FPorts.ClearCookies);
    if (FPorts.Sleep) FPorts.Sleep(1000);  // every time, whatever is ticked
    if (cbDiskOpt[2]->Checked()) run(FPorts.ClearTempFolder);
    if (cbDiskOpt[3]->Checked()) run(FPorts.EmptyRecycleBin);
    if (cbDiskOpt[4]->Checked()) run(FPorts.ClearTypedUrls);
    if (cbDiskOpt[5]->Checked() && FPorts.ClearSavedPasswords) removed = FPorts.ClearSavedPasswords();
    StartCountPass();
  }
  lblSavedPwd->SetText(RecordsText(removed, Text(kSection, "Records")));
}
