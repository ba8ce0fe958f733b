#include "ui/BaseForms.h"

#include "common/GenericAPI.h"
#include "common/RawRegistry.h"
#include "common/TextUtil.h"
#include "ui/Theme.h"

#include <algorithm>

namespace {

TThemeLoader& ThemeLoaderSlot() {
  static TThemeLoader loader;
  return loader;
}

TTextLookup& TextLookupSlot() {
  static TTextLookup lookup;
  return lookup;
}

TFontSpec Font(int height, bool bold, TColorValue color, std::string name = "Arial") {
  TFontSpec f;
  f.Name = std::move(name);
  f.Height = height;
  f.Bold = bold;
  f.Color = color;
  return f;
}

}  // namespace

void SetThemeLoader(TThemeLoader loader) { ThemeLoaderSlot() = std::move(loader); }

void SetTextLookup(TTextLookup lookup) { TextLookupSlot() = std::move(lookup); }

bool LookupText(std::string_view section, std::string_view key, std::string& text) {
  if (!TextLookupSlot()) return false;
  text = TextLookupSlot()(section, key);
  return true;
}

TfmBaseUI::TfmBaseUI(std::string name, std::string caption, int bodyWidth, int bodyHeight)
    : Form(TControlKind::Form, std::move(name)) {
  Form.SetBounds({0, 0, bodyWidth + 2 * FrameBorder, bodyHeight + TitleBarHeight + FrameBorder});
  fmBase = &Form.AddChild(TControlKind::Frame, "fmBase", {}, TAlign::Client);
  fmBase->SetColor(kFrameFaceColor);
  fmBase->SetBorderColor(kFrameBorderColor);
  fmBase->SetFont(Font(-12, true, clWhite));
  PanelBody = &fmBase->AddChild(TControlKind::Panel, "PanelBody",
                                {FrameBorder, TitleBarHeight, bodyWidth, bodyHeight});
  PanelBody->SetColor(clWhite);
  PanelBody->SetFont(Font(FontHeightOfPoints(9), false, clBlack));
  SetCaption(std::move(caption));
}

TfmBaseUI::~TfmBaseUI() = default;

void TfmBaseUI::SetCaption(std::string caption) {
  Form.SetText(caption);
  fmBase->SetText(std::move(caption));
}

void TfmBaseUI::FormCreate() {
  ThemeFileName = "msgbox.skn";
  if (ThemeLoaderSlot()) QuorFileTheme = ThemeLoaderSlot()(ThemeFileName);
  fmBase->Theme = QuorFileTheme;
  fmBase->UseThemeFile = true;
  if (QuorFileTheme) {
    // The title bar holds the menu bar, so it is never the lower of the two.
    MenuBarHeight = QuorFileTheme->Metric(TThemeMetric::FrameMenubarHeight);
    FrameBorder = QuorFileTheme->Metric(TThemeMetric::FrameBorderWidth);
    TitleBarHeight = std::max(QuorFileTheme->Metric(TThemeMetric::FrameTitlebarHeight), MenuBarHeight);
    CornerRadius = QuorFileTheme->Metric(TThemeMetric::FrameRadius);
    const TBounds& b = PanelBody->Bounds();
    PanelBody->SetBounds({FrameBorder, TitleBarHeight, b.Width, b.Height});
  }
  SetCaption("  " + Caption());
  ApplyThemeToControls(Form, QuorFileTheme);
}

void TfmBaseUI::ApplyClientSizeRule() {
  ClientWidth = PanelBody->Bounds().Width;
  ClientHeight = PanelBody->Bounds().Height + MenuBarHeight;
  // The frame draws its border and title bar around the client area.
  const TBounds& b = Form.Bounds();
  Form.SetBounds({b.Left, b.Top, ClientWidth + 2 * FrameBorder,
                  ClientHeight + (TitleBarHeight - MenuBarHeight) + FrameBorder});
  PanelBody->SetBounds({FrameBorder, TitleBarHeight, PanelBody->Bounds().Width,
                        PanelBody->Bounds().Height});
}

TfmBaseDialog::TfmBaseDialog(std::string name, std::string caption, int bodyWidth, int bodyHeight)
    : TfmBaseUI(std::move(name), std::move(caption), bodyWidth, bodyHeight) {
  PanelTitle = &PanelBody->AddChild(TControlKind::Panel, "PanelTitle", {0, 0, 0, 45}, TAlign::Top);
  PanelTitle->SetColor(kTitleStripColor);
  PanelTitle->SetFont(Font(-15, true, clWhite));
  lbTitle = &PanelTitle->AddChild(TControlKind::Label, "lbTitle", {16, 13, 300, 20});
  lbTitle->SetText("Title");
  lbTitle->SetFont(PanelTitle->Font());
  lbTitle->Transparent = true;
}

void TfmBaseDialog::FormCreate() {
  TfmBaseUI::FormCreate();
  ApplyClientSizeRule();
}

TfmBaseForm::TfmBaseForm(std::string name, std::string caption, int bodyWidth, int bodyHeight)
    : TfmBaseUI(std::move(name), std::move(caption), bodyWidth, bodyHeight) {
  Form.Get("fmBase").SetFont(Font(-12, true, clWhite));
  PanelBody->SetFont(Font(-12, false, clBlack));
  PanelTop = &PanelBody->AddChild(TControlKind::Panel, "PanelTop", {0, 0, 0, 130}, TAlign::Top);
  PanelTop->SetColor(clWhite);
  imgMainLeft = &PanelTop->AddChild(TControlKind::Image, "imgMainLeft", {0, 0, 360, 130}, TAlign::Left);
  imgMainRight = &PanelTop->AddChild(TControlKind::Image, "imgMainRight", {0, 0, 90, 130}, TAlign::Right);
  imgMainMiddle = &PanelTop->AddChild(TControlKind::Image, "imgMainMiddle", {}, TAlign::Client);
  imgMainMiddle->Stretch = true;
  const char* names[] = {"btnMenu", "btnAbout", "btnHelp"};
  const char* captions[] = {"Menu", "About", "Help"};
  TControl** slots[] = {&btnMenu, &btnAbout, &btnHelp};
  for (int i = 0; i < 3; ++i) {
    TControl& b = PanelTop->AddChild(TControlKind::ImageButton, names[i],
                                     {436 + 68 * i + (bodyWidth - 646), 15, 68, 80});
    b.SetText(captions[i]);
    b.SetFont(Font(-12, true, kBannerCaptionColor));
    b.AnchorRight = true;
    b.HandCursor = true;
    b.Transparent = true;
    b.CaptionBelow = true;
    b.WordWrap = true;
    b.KeepsFocusOnClick = true;
    *slots[i] = &b;
  }
  lbCaption = &PanelTop->AddChild(TControlKind::Label, "lbCaption", {36, 103, 283, 24});
  lbCaption->SetText("Quor Lumentar");
  lbCaption->SetFont(Font(-20, true, kDarkTealColor));
  lbCaption->Transparent = true;
  lbWWW = &PanelTop->AddChild(TControlKind::Label, "lbWWW", {147, 28, 213, 48});
  lbWWW->SetVisible(false);
  lbWWW->HandCursor = true;
  lbWWW->ShowHint = true;
  lbWWW->Transparent = true;
}

void TfmBaseForm::FormCreate() {
  TfmBaseUI::FormCreate();
  ApplyClientSizeRule();
  std::string hint;
  if (LookupText("Hint", "Lumentar", hint)) lbWWW->SetHint(std::move(hint));
}

void ApplyThemeToControls(TControl& container, const std::shared_ptr<const TTheme>& theme) {
  for (auto& child : container.Children()) {
    TControl& c = *child;
    if (c.Kind() == TControlKind::Button || c.IsCheckBox() ||
        c.Kind() == TControlKind::ProgressBar || c.IsGroup())
      c.Theme = theme;
    ApplyThemeToControls(c, theme);
  }
}

void ApplyProductStyle(TControl* container) {
  if (!container) return;
  for (auto& child : container->Children()) {
    TControl& c = *child;
    if (c.Kind() == TControlKind::Button || c.Kind() == TControlKind::ImageButton) {
      c.FocusInset = 5;
    } else if (c.Kind() == TControlKind::RadioGroup) {
      TFontSpec f = c.Font();
      f.Color = clBlack;
      c.SetFont(f);
    } else if (c.Kind() == TControlKind::ProgressBar) {
      c.SetBorderColor(kDarkTealColor);
    } else if (c.Kind() == TControlKind::GroupBox) {
      c.SetBorderColor(kGroupBorderColor);
      TFontSpec f = c.Font();
      f.Color = clBlack;
      f.Name = "Arial Bold";
      f.Height = FontHeightOfPoints(9);
      c.SetFont(f);
    }
    ApplyProductStyle(&c);
  }
}

int GetMachineType(IRawRegistry& reg) {
  return LowerAscii(ReadRegString(reg, "\\Software\\Quor\\eCentrio", "Type", false, false)) ==
                 "notebook"
             ? 1
             : 2;
}

void EnableImageButton(TControl& button) {
  button.SetEnabled(true);
  TFontSpec f = button.Font();
  f.Color = kDarkTealColor;
  button.SetFont(f);
}

void DisableImageButton(TControl& button) {
  button.SetEnabled(false);
  TFontSpec f = button.Font();
  f.Color = kDisabledCaptionColor;
  button.SetFont(f);
}
