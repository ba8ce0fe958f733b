#include "ui/BaseForms.h"

#include "fakes/FakeRegistry.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::shared_ptr<const TTheme> SomeTheme() { return std::make_shared<const TTheme>(); }

TEST(ApplyThemeToControls, ReachesThemedKindsAtEveryDepthAndNothingElse) {
  TControl form(TControlKind::Form, "form");
  TControl& group = form.AddChild(TControlKind::GroupBox, "group");
  TControl& panel = group.AddChild(TControlKind::Panel, "panel");
  TControl& check = panel.AddChild(TControlKind::CheckBox, "check");
  TControl& radio = panel.AddChild(TControlKind::RadioButton, "radio");
  TControl& radios = form.AddChild(TControlKind::RadioGroup, "radios");
  TControl& checks = radios.AddChild(TControlKind::CheckGroup, "checks");
  TControl& bar = checks.AddChild(TControlKind::ProgressBar, "bar");
  TControl& button = panel.AddChild(TControlKind::Button, "button");
  TControl& label = panel.AddChild(TControlKind::Label, "label");
  TControl& image = panel.AddChild(TControlKind::ImageButton, "image");
  const auto theme = SomeTheme();
  ApplyThemeToControls(form, theme);
  for (TControl* c : {&group, &check, &radio, &radios, &checks, &bar, &button})
    EXPECT_EQ(c->Theme, theme) << c->Name();
  for (TControl* c : {&panel, &label, &image}) EXPECT_EQ(c->Theme, nullptr) << c->Name();
}

TEST(ApplyProductStyle, SetsEachKindsFixedValuesOnly) {
  TControl form(TControlKind::Form, "form");
  TControl& group = form.AddChild(TControlKind::GroupBox, "group");
  TControl& radios = group.AddChild(TControlKind::RadioGroup, "radios");
  TControl& bar = group.AddChild(TControlKind::ProgressBar, "bar");
  TControl& button = group.AddChild(TControlKind::Button, "button");
  TControl& imageButton = group.AddChild(TControlKind::ImageButton, "imageButton");
  TControl& label = group.AddChild(TControlKind::Label, "label");
  radios.SetBorderColor(MakeColor(1, 2, 3));
  TFontSpec red;
  red.Color = MakeColor(255, 0, 0);
  radios.SetFont(red);
  label.SetFont(red);

  ApplyProductStyle(&form);
  ApplyProductStyle(nullptr);

  EXPECT_EQ(group.BorderColor(), MakeColor(127, 168, 172));
  EXPECT_EQ(group.Font().Name, "Arial Bold");
  EXPECT_EQ(group.Font().Height, -12);
  EXPECT_EQ(group.Font().Color, clBlack);
  // A radio group gets its font colour and keeps its border.
  EXPECT_EQ(radios.Font().Color, clBlack);
  EXPECT_EQ(radios.BorderColor(), MakeColor(1, 2, 3));
  EXPECT_EQ(radios.Font().Name, "Arial");
  EXPECT_EQ(bar.BorderColor(), MakeColor(25, 60, 60));
  EXPECT_EQ(button.FocusInset, 5);
  EXPECT_EQ(imageButton.FocusInset, 5);
  EXPECT_EQ(label.Font().Color, MakeColor(255, 0, 0));
}

TEST(GetMachineType, NotebookInAnyCaseOnly) {
  struct {
    const char* Type;
    int Expected;
  } cases[] = {{"notebook", 1}, {"NoteBook", 1}, {"notebook ", 2}, {"", 2}, {"desktop", 2}};
  for (const auto& c : cases) {
    TFakeRegistry reg;
    reg.PutString("HKLM\\Software\\Quor\\eCentrio", "Type", c.Type);
    EXPECT_EQ(GetMachineType(reg), c.Expected) << '"' << c.Type << '"';
  }
  TFakeRegistry empty;
  EXPECT_EQ(GetMachineType(empty), 2);
}

TEST(ImageButtons, SwitchStateAndCaptionColour) {
  TControl button(TControlKind::ImageButton, "btnApply");
  DisableImageButton(button);
  EXPECT_FALSE(button.Enabled());
  EXPECT_EQ(button.Font().Color, MakeColor(100, 100, 100));
  EnableImageButton(button);
  EXPECT_TRUE(button.Enabled());
  EXPECT_EQ(button.Font().Color, MakeColor(25, 60, 60));
}

TEST(CaptionDrag, MovesOnePixelMoreThanTheTravelWithTheLeftButtonOnly) {
  TCaptionDrag drag;
  drag.MouseDown(10, 4);
  int left = 100, top = 50;
  EXPECT_FALSE(drag.MouseMove(false, 30, 14, left, top));
  EXPECT_EQ(left, 100);
  EXPECT_TRUE(drag.MouseMove(true, 30, 14, left, top));
  EXPECT_EQ(left, 121);
  EXPECT_EQ(top, 61);
}

TEST(Controls, GroupItemsClickAsTheirKindSays) {
  TControl radios(TControlKind::RadioGroup, "radios");
  TControl checks(TControlKind::CheckGroup, "checks");
  int clicks = 0;
  for (TControl* g : {&radios, &checks}) {
    g->SetItems({"a", "b", "c"});
    g->OnClick = [&] { ++clicks; };
  }
  radios.ClickItem(1);
  radios.ClickItem(2);
  EXPECT_EQ(radios.ItemIndex(), 2);
  checks.ClickItem(1);
  checks.ClickItem(2);
  checks.ClickItem(1);
  EXPECT_FALSE(checks.ItemChecked(1));
  EXPECT_TRUE(checks.ItemChecked(2));
  EXPECT_EQ(checks.ItemIndex(), -1);
  checks.ClickItem(7);  // no such item: nothing happens
  checks.SetEnabled(false);
  checks.ClickItem(0);  // disabled: nothing happens
  EXPECT_FALSE(checks.ItemChecked(0));
  EXPECT_EQ(clicks, 5);
}

class TTestDialog : public TfmBaseDialog {
 public:
  TTestDialog() : TfmBaseDialog("TTestDialog") {}
};

TEST(BaseWindows, CreationThemesCaptionsAndSizes) {
  const auto theme = SomeTheme();
  SetThemeLoader([&](const std::string& name) {
    EXPECT_EQ(name, "msgbox.skn");
    return theme;
  });
  TTestDialog dialog;
  TControl& button = dialog.PanelBody->AddChild(TControlKind::Button, "button");
  dialog.FormCreate();
  SetThemeLoader({});
  EXPECT_EQ(dialog.Caption(), "  The Base Dialog UI");
  EXPECT_EQ(dialog.fmBase->Theme, theme);
  EXPECT_TRUE(dialog.fmBase->UseThemeFile);
  EXPECT_EQ(button.Theme, theme);
  EXPECT_EQ(dialog.ClientWidth, 342);
  EXPECT_EQ(dialog.ClientHeight, 244 + 22);
  // A caption set after creation has no leading blanks.
  dialog.SetCaption("Quor eBrisko Management");
  EXPECT_EQ(dialog.Form.Text(), "Quor eBrisko Management");
}

TEST(BaseWindows, TheThemesFrameSizesPlaceTheBody) {
  auto theme = std::make_shared<TTheme>();
  theme->SetMetric(TThemeMetric::FrameBorderWidth, 5);
  theme->SetMetric(TThemeMetric::FrameTitlebarHeight, 30);
  theme->SetMetric(TThemeMetric::FrameMenubarHeight, 24);
  theme->SetMetric(TThemeMetric::FrameRadius, 8);
  SetThemeLoader([&](const std::string&) { return theme; });
  TTestDialog dialog;
  dialog.FormCreate();
  SetThemeLoader({});
  EXPECT_EQ(dialog.PanelBody->Bounds(), (TBounds{5, 30, 342, 244}));
  EXPECT_EQ(dialog.ClientHeight, 244 + 24);
  EXPECT_EQ(dialog.Form.Bounds().Width, 342 + 2 * 5);
  EXPECT_EQ(dialog.Form.Bounds().Height, 244 + 30 + 5);
  EXPECT_EQ(dialog.CornerRadius, 8);
  // Without a theme file the built-in frame: border 3, title bar 26.
  TTestDialog plain;
  plain.FormCreate();
  EXPECT_EQ(plain.PanelBody->Bounds(), (TBounds{3, 26, 342, 244}));
  EXPECT_EQ(plain.Form.Bounds().Height, 244 + 26 + 3);
}

TEST(BaseWindows, BannerButtonsFollowTheRightEdgeAndTheHintComesFromTheTable) {
  TfmBaseForm form("TTestForm", "The Base Form");
  form.FormCreate();
  EXPECT_EQ(form.lbWWW->Hint(), "");  // no table, no hint
  SetTextLookup([](std::string_view section, std::string_view key) {
    return std::string(section) + "/" + std::string(key);
  });
  form.FormCreate();
  SetTextLookup({});
  EXPECT_EQ(form.lbWWW->Hint(), "Hint/Lumentar");
  EXPECT_EQ(form.btnHelp->Bounds().Left, 572);
  TBounds body = form.PanelBody->Bounds();
  body.Width = 800;
  form.PanelBody->SetBounds(body);
  EXPECT_EQ(form.btnMenu->Bounds().Left, 436 + 154);
  EXPECT_EQ(form.btnHelp->Bounds().Left, 572 + 154);
  EXPECT_EQ(form.imgMainRight->Bounds().Left, 800 - 90);
  EXPECT_EQ(form.imgMainMiddle->Bounds().Width, 800 - 360 - 90);
}

}  // namespace
