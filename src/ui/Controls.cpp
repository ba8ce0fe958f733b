#include "ui/Controls.h"

#include <stdexcept>

TControl::TControl(TControlKind kind, std::string name) : FKind(kind), FName(std::move(name)) {}

TControl::~TControl() = default;

void TControl::AdoptChild(std::unique_ptr<TControl> child) {
  child->FParent = this;
  FChildren.push_back(std::move(child));
  if (FChildren.back()->Align != TAlign::None) Realign(0);
}

TControl& TControl::AddChild(TControlKind kind, std::string name, TBounds bounds, TAlign align) {
  auto child = std::make_unique<TControl>(kind, std::move(name));
  child->FBounds = bounds;
  child->Align = align;
  TControl& ref = *child;
  AdoptChild(std::move(child));
  return ref;
}

TControl& TControl::AddComponent(TControlKind kind, std::string name) {
  FComponents.push_back(std::make_unique<TControl>(kind, std::move(name)));
  FComponents.back()->FParent = nullptr;
  return *FComponents.back();
}

TControl* TControl::Find(std::string_view name) noexcept {
  for (auto& c : FChildren) {
    if (c->FName == name) return c.get();
    if (TControl* found = c->Find(name)) return found;
  }
  for (auto& c : FComponents) {
    if (c->FName == name) return c.get();
    if (TControl* found = c->Find(name)) return found;
  }
  return nullptr;
}

TControl& TControl::Get(std::string_view name) {
  if (TControl* found = Find(name)) return *found;
  throw std::logic_error("no control named " + std::string(name) + " in " + FName);
}

bool TControl::IsCheckBox() const noexcept {
  return FKind == TControlKind::CheckBox || FKind == TControlKind::RadioButton;
}

bool TControl::IsGroup() const noexcept {
  return FKind == TControlKind::GroupBox || FKind == TControlKind::RadioGroup ||
         FKind == TControlKind::CheckGroup;
}

void TControl::Notify(TChange what) {
  if (Peer) Peer->ControlChanged(what);
}

void TControl::SetText(std::string text) {
  if (text == FText) return;
  FText = std::move(text);
  Notify(TChange::Text);
}

void TControl::SetHint(std::string hint) {
  if (hint == FHint) return;
  FHint = std::move(hint);
  Notify(TChange::Hint);
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  Notify(TChange::Enabled);
}

void TControl::SetVisible(bool visible) {
  if (visible == FVisible) return;
  FVisible = visible;
  Notify(TChange::Visible);
}

void TControl::SetChecked(bool checked) {
  if (checked == FChecked) return;
  FChecked = checked;
  Notify(TChange::Checked);
}

void TControl::SetBounds(TBounds bounds) {
  if (bounds == FBounds) return;
  const int widthChange = bounds.Width - FBounds.Width;
  const bool resized = widthChange != 0 || bounds.Height != FBounds.Height;
  FBounds = bounds;
  Notify(TChange::Bounds);
  if (resized) Realign(widthChange);
}

void TControl::Realign(int widthChange) {
  if (widthChange != 0)
    for (auto& c : FChildren)
      if (c->AnchorRight && c->Align == TAlign::None) c->SetLeft(c->FBounds.Left + widthChange);
  int top = 0, bottom = FBounds.Height, left = 0, right = FBounds.Width;
  for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client}) {
    for (auto& c : FChildren) {
      if (c->Align != pass || !c->FVisible) continue;
      TBounds b = c->FBounds;
      switch (pass) {
        case TAlign::Top: b = {left, top, right - left, b.Height}; top += b.Height; break;
        case TAlign::Bottom: b = {left, bottom - b.Height, right - left, b.Height}; bottom -= b.Height; break;
        case TAlign::Left: b = {left, top, b.Width, bottom - top}; left += b.Width; break;
        case TAlign::Right: b = {right - b.Width, top, b.Width, bottom - top}; right -= b.Width; break;
        default: b = {left, top, right - left, bottom - top}; break;
      }
      c->SetBounds(b);
    }
  }
}

void TControl::SetLeft(int left) {
  TBounds b = FBounds;
  b.Left = left;
  SetBounds(b);
}

void TControl::SetTop(int top) {
  TBounds b = FBounds;
  b.Top = top;
  SetBounds(b);
}

void TControl::SetFont(TFontSpec font) {
  if (font == FFont) return;
  FFont = std::move(font);
  Notify(TChange::Font);
}

void TControl::SetColor(TColorValue color) {
  if (color == FColor) return;
  FColor = color;
  Notify(TChange::Colors);
}

void TControl::SetBorderColor(TColorValue color) {
  if (color == FBorderColor) return;
  FBorderColor = color;
  Notify(TChange::Colors);
}

void TControl::SetItems(std::vector<std::string> items) {
  FItems = std::move(items);
  FItemChecks.resize(FItems.size(), false);
  if (FItemIndex >= static_cast<int>(FItems.size())) FItemIndex = -1;
  Notify(TChange::Items);
}

void TControl::SetItem(size_t index, std::string text) {
  if (index >= FItems.size() || FItems[index] == text) return;
  FItems[index] = std::move(text);
  Notify(TChange::Items);
}

void TControl::SetItemChecked(size_t index, bool checked) {
  if (index >= FItems.size() || ItemChecked(index) == checked) return;
  if (FItemChecks.size() < FItems.size()) FItemChecks.resize(FItems.size(), false);
  FItemChecks[index] = checked;
  Notify(TChange::Checked);
}

void TControl::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(FItems.size())) index = -1;
  if (index == FItemIndex) return;
  FItemIndex = index;
  Notify(TChange::Checked);
}

void TControl::SetPosition(int position) {
  if (position < Min) position = Min;
  if (position > Max) position = Max;
  if (position == FPosition) return;
  FPosition = position;
  Notify(TChange::Position);
}

void TControl::SetPicture(int picture) {
  if (picture == FPicture) return;
  FPicture = picture;
  Notify(TChange::Picture);
}

void TControl::SetShield(bool shield) {
  if (shield == FShield) return;
  FShield = shield;
  Notify(TChange::Picture);
}

void TControl::Click() {
  if (!FEnabled) return;
  if (FKind == TControlKind::CheckBox) {
    SetChecked(!FChecked);
  } else if (FKind == TControlKind::RadioButton) {
    // Only the siblings of the same parent form a radio set.
    if (FParent)
      for (auto& sibling : FParent->FChildren)
        if (sibling.get() != this && sibling->FKind == TControlKind::RadioButton)
          sibling->SetChecked(false);
    SetChecked(true);
  }
  if (OnClick) OnClick();
}

void TControl::ClickItem(int index) {
  if (!FEnabled || index < 0 || index >= static_cast<int>(FItems.size())) return;
  if (FKind == TControlKind::CheckGroup)
    SetItemChecked(static_cast<size_t>(index), !ItemChecked(static_cast<size_t>(index)));
  else
    SetItemIndex(index);
  if (OnClick) OnClick();
}

void ForEachControl(TControl& root, const std::function<void(TControl&)>& visit) {
  for (auto& child : root.Children()) {
    visit(*child);
    ForEachControl(*child, visit);
  }
}
