#include "i18n/TranslateST.h"

#include "common/ResStrings.h"
#include "i18n/StringTable.h"
#include "ui/Controls.h"

#include <gtest/gtest.h>

namespace {

constexpr int32_t kFlag = 65536;

// A string table made of the given file text, installed as the process-wide one.
class TranslateST : public ::testing::Test {
 protected:
  void Use(std::string_view text) {
    gStringTable = std::make_unique<TStringTable>();
    gStringTable->LoadText(text);
  }
  void TearDown() override {
    RemoveResourceTranslation();
    gStringTable.reset();
  }
};

TEST_F(TranslateST, FormatTextKeyFollowsTheSectionsHexSetting) {
  struct {
    const char* Hex;  // nullptr: no HEX entry
    const char* Expected;
  } cases[] = {{nullptr, "6110"}, {"1", "17DE"}, {"true", "17DE"}, {"TRUE", "17DE"},
               {"-2", "17DE"},    {"0", "6110"}, {"yes", "6110"},  {"False", "6110"}};
  for (const auto& c : cases) {
    Use(c.Hex ? std::string("[S]\nHEX=") + c.Hex + "\n" : std::string("[S]\nx=y\n"));
    EXPECT_EQ(FormatTextKey("S", 6110), c.Expected) << (c.Hex ? c.Hex : "(none)");
  }
  Use("[S]\nHEX=1\n");
  EXPECT_EQ(FormatTextKey("S", 0), "0000");
  EXPECT_EQ(FormatTextKey("Other", 0), "0");
}

TEST_F(TranslateST, MarkingFlagsUntaggedControlsAtEveryDepthOnly) {
  TControl form(TControlKind::Form, "form");
  TControl& group = form.AddChild(TControlKind::GroupBox, "group");
  TControl& deep = group.AddChild(TControlKind::Panel, "panel").AddChild(TControlKind::Label, "deep");
  TControl& five = group.AddChild(TControlKind::Label, "five");
  five.Tag = 5;
  MarkForTranslation(form);
  EXPECT_EQ(group.Tag, kFlag);
  EXPECT_EQ(deep.Tag, kFlag);
  EXPECT_EQ(five.Tag, 5);
  EXPECT_EQ(form.Tag, 0);
}

TEST_F(TranslateST, TranslatesByKindTagAndHint) {
  Use("[Optimization]\nUsed=Belegt\n17DE=Hex-Text\n6110=Dezimal-Text\nhelp me=Hilfe\n"
      "Every=Alle\n5 minutes=5 Minuten\n1 hour=1 Stunde\nMemory=Speicher\n0=Null-Hinweis\n"
      "Apply=Anwenden\n");
  TControl form(TControlKind::Form, "form");
  TControl& unmarked = form.AddChild(TControlKind::Label, "unmarked");
  unmarked.SetText("Used");
  TControl& group = form.AddChild(TControlKind::GroupBox, "group");
  group.Tag = kFlag;
  group.SetText("Memory");
  TControl& used = group.AddChild(TControlKind::Label, "used");  // below a translated group
  used.Tag = kFlag;
  used.SetText("Used");
  used.SetHint("help me");  // ShowHint off: the hint stays English
  TControl& check = group.AddChild(TControlKind::CheckBox, "check");
  check.Tag = kFlag + 6110;
  check.SetText("Enable");
  check.ShowHint = true;
  check.SetHint("help me");
  TControl& five = form.AddChild(TControlKind::Label, "five");
  five.Tag = 5;
  five.SetText("Used");
  TControl& radios = form.AddChild(TControlKind::RadioGroup, "radios");
  radios.Tag = kFlag;
  radios.SetText("Every");
  radios.SetItems({"5 minutes", "30 minutes", "1 hour"});
  radios.SetItemIndex(2);
  TControl& picture = form.AddChild(TControlKind::Image, "picture");
  picture.Tag = kFlag;
  picture.ShowHint = true;
  picture.SetHint("help me");
  TControl& quietPicture = form.AddChild(TControlKind::Image, "quietPicture");
  quietPicture.ShowHint = true;
  quietPicture.SetHint("help me");
  TControl& button = form.AddChild(TControlKind::ImageButton, "button");
  button.Tag = kFlag;
  button.SetText("Apply");
  button.ShowHint = true;
  button.SetHint("help me");
  TControl& missing = form.AddChild(TControlKind::Label, "missing");
  missing.Tag = kFlag;
  missing.SetText("Not in the table");

  TranslateControls("Optimization", form);

  EXPECT_EQ(unmarked.Text(), "Used");
  EXPECT_EQ(group.Text(), "Speicher");
  EXPECT_EQ(used.Text(), "Belegt");
  EXPECT_EQ(used.Hint(), "help me");
  EXPECT_EQ(check.Text(), "Dezimal-Text");
  EXPECT_EQ(check.Hint(), "Hilfe");
  EXPECT_EQ(five.Text(), "Used");
  EXPECT_EQ(radios.Text(), "Alle");
  EXPECT_EQ(radios.Items(), (std::vector<std::string>{"5 Minuten", "30 minutes", "1 Stunde"}));
  EXPECT_EQ(radios.ItemIndex(), 2);
  EXPECT_EQ(picture.Hint(), "Null-Hinweis");  // the flag alone: key "0"
  EXPECT_EQ(quietPicture.Hint(), "Hilfe");    // no flag: the hint itself
  EXPECT_EQ(button.Text(), "Anwenden");
  EXPECT_EQ(button.Hint(), "help me");
  EXPECT_EQ(missing.Text(), "Not in the table");

  // With "HEX" on, the numeric key is written in hexadecimal.
  Use("[Optimization]\nHEX=True\n17DE=Hex-Text\n6110=Dezimal-Text\n");
  check.SetText("Enable");
  TranslateControls("Optimization", form);
  EXPECT_EQ(check.Text(), "Hex-Text");
}

TEST_F(TranslateST, MenusTranslateFlaggedTopItemsAndEverySubItem) {
  Use("[S]\nHEX=1\nFile=Datei\n0010=Sechzehn\n16=Dezimal\nOpen=Oeffnen\nDeep=Tief\nHelp=Hilfe\n");
  TControl form(TControlKind::Form, "form");
  TControl& menu = form.AddComponent(TControlKind::Menu, "menu");
  TControl& file = menu.AddChild(TControlKind::MenuItem, "file");
  file.Tag = kFlag;
  file.SetText("File");
  TControl& open = file.AddChild(TControlKind::MenuItem, "open");  // no flag needed below
  open.SetText("Open");
  TControl& numbered = file.AddChild(TControlKind::MenuItem, "numbered");
  numbered.Tag = 16;  // sub-items use the decimal key, whatever HEX says
  numbered.SetText("x");
  TControl& deep = open.AddChild(TControlKind::MenuItem, "deep");
  deep.SetText("Deep");
  TControl& top16 = menu.AddChild(TControlKind::MenuItem, "top16");
  top16.Tag = kFlag + 16;
  TControl& help = menu.AddChild(TControlKind::MenuItem, "help");  // no flag: left alone
  help.SetText("Help");

  TranslateControls("S", form);

  EXPECT_EQ(file.Text(), "Datei");
  EXPECT_EQ(open.Text(), "Oeffnen");
  EXPECT_EQ(numbered.Text(), "Dezimal");
  EXPECT_EQ(deep.Text(), "Tief");
  EXPECT_EQ(top16.Text(), "Sechzehn");
  EXPECT_EQ(help.Text(), "Help");
}

TEST_F(TranslateST, ResourceMessagesAreFoundUnderTheirFormattedTextOnly) {
  Use("[General]\nFailed to set data for '%s'=Formatvorlage\n"
      "Failed to set data for 'RegDone'=Daten fuer 'RegDone' nicht gesetzt\n&Yes=&Ja\n");
  EXPECT_EQ(LoadResString(rsMsgDlgYes), "&Yes");  // before the redirection: English
  InstallResourceTranslation();
  EXPECT_EQ(LoadResString(rsMsgDlgYes), "&Ja");
  EXPECT_EQ(LoadResStringFmt(rsSetDataFailed, {"RegDone"}), "Daten fuer 'RegDone' nicht gesetzt");
  EXPECT_EQ(LoadResStringFmt(rsSetDataFailed, {"Other"}), "Failed to set data for 'Other'");
  EXPECT_EQ(TranslateResourceString(""), "");
}

}  // namespace
