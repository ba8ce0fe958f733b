#include "i18n/TranslateST.h"

#include "common/ResStrings.h"
#include "common/TextUtil.h"
#include "i18n/StringTable.h"
#include "ui/Controls.h"

std::string TranslateResourceString(const std::string& text) {
  if (text.empty() || !gStringTable) return text;
  return gStringTable->GetText(kResourceSection, text);
}

void InstallResourceTranslation() { SetResStringTranslator(&TranslateResourceString); }

void RemoveResourceTranslation() { SetResStringTranslator({}); }

namespace {

constexpr int32_t kTranslateFlag = 65536;

bool Flagged(const TControl& c) noexcept { return (c.Tag & kTranslateFlag) != 0; }
unsigned NumericKey(const TControl& c) noexcept { return static_cast<unsigned>(c.Tag) & 0xFFFFu; }

std::string Lookup(std::string_view section, std::string_view key) {
  return gStringTable ? gStringTable->GetText(section, key) : std::string(key);
}

// "True" in any letter case, or a number other than 0.
bool ReadsAsTrue(const std::string& text) {
  if (SameText(text, "True")) return true;
  const std::string_view t = TrimBlanks(text);
  if (t.empty()) return false;
  size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i == t.size()) return false;
  bool nonZero = false;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    nonZero = nonZero || t[i] != '0';
  }
  return nonZero;
}

// The key of a control's text: its numeric key when it has one, else the text itself.
std::string TextKey(std::string_view section, const TControl& c) {
  return NumericKey(c) != 0 ? FormatTextKey(section, NumericKey(c)) : c.Text();
}

void TranslateText(std::string_view section, TControl& c) {
  c.SetText(Lookup(section, TextKey(section, c)));
}

void TranslateHint(std::string_view section, TControl& c) { c.SetHint(Lookup(section, c.Hint())); }

void TranslateSubMenuIn(std::string_view section, TControl& item) {
  for (auto& sub : item.Children()) {
    const unsigned n = NumericKey(*sub);
    sub->SetText(Lookup(section, n != 0 ? std::to_string(n) : sub->Text()));
    TranslateSubMenuIn(section, *sub);
  }
}

void TranslateControl(std::string_view section, TControl& c) {
  if (c.Kind() == TControlKind::Image) {
    // A picture has no text; its hint is translated whenever it is shown, flagged or not.
    if (!c.ShowHint) return;
    c.SetHint(Lookup(section, Flagged(c) ? FormatTextKey(section, NumericKey(c)) : c.Hint()));
    return;
  }
  if (!Flagged(c)) return;
  switch (c.Kind()) {
    case TControlKind::Label:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
    case TControlKind::GroupBox:
    case TControlKind::CheckGroup:
      TranslateText(section, c);
      if (c.ShowHint) TranslateHint(section, c);
      break;
    case TControlKind::RadioGroup:
      TranslateText(section, c);
      if (c.ShowHint) TranslateHint(section, c);
      // Each item by its own text: the selection is by index, so nothing reads the texts.
      for (size_t i = 0; i < c.Items().size(); ++i) c.SetItem(i, Lookup(section, c.Items()[i]));
      break;
    case TControlKind::Button:
    case TControlKind::ImageButton:
      TranslateText(section, c);
      break;
    default:
      break;
  }
}

}  // namespace

std::string FormatTextKey(std::string_view section, unsigned n) {
  if (ReadsAsTrue(Lookup(section, "HEX"))) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string key(4, '0');
    for (int i = 3; i >= 0; --i, n >>= 4) key[i] = kDigits[n & 0xF];
    return key;
  }
  return std::to_string(n);
}

void MarkForTranslation(TControl& window) {
  ForEachControl(window, [](TControl& c) {
    if (c.Tag == 0) c.Tag = kTranslateFlag;
  });
}

void TranslateSubMenu(std::string_view section, TControl& item) { TranslateSubMenuIn(section, item); }

void TranslateControls(std::string_view section, TControl& control) {
  for (auto& child : control.Children()) {
    TranslateControl(section, *child);
    TranslateControls(section, *child);
  }
  for (auto& component : control.Components()) {
    if (component->Kind() != TControlKind::Menu) continue;
    for (auto& item : component->Children()) {
      if (!Flagged(*item)) continue;
      item->SetText(Lookup(section, TextKey(section, *item)));
      if (!item->Children().empty()) TranslateSubMenu(section, *item);
    }
  }
}
