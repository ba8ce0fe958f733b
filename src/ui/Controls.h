// The portable model of the skinned controls: kinds, texts, tags, states, bounds, fonts,
// colours, parents and owned components. The walks that theme, style and translate a window
// work on this model; the Win32 layer mirrors each control in a real child window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TTheme;

// A colour value as stored: red in the low byte, blue in the high byte.
using TColorValue = uint32_t;
// The colour of red, green and blue.
constexpr TColorValue MakeColor(uint8_t r, uint8_t g, uint8_t b) noexcept {
  return static_cast<TColorValue>(r) | (static_cast<TColorValue>(g) << 8) |
         (static_cast<TColorValue>(b) << 16);
}
// No colour of its own: the control shows what is behind it.
inline constexpr TColorValue clNone = 0x1FFFFFFF;
inline constexpr TColorValue clBlack = MakeColor(0, 0, 0);
inline constexpr TColorValue clWhite = MakeColor(255, 255, 255);

// What a control is; the walks test these, a radio button counting as a check box.
enum class TControlKind {
  Form,         // a top-level window
  Frame,        // the skinned frame with its own title bar
  Panel,        // a plain container
  Label,        // static text
  Image,        // a picture
  ImageList,    // a non-visual list of pictures
  Button,       // themed push button
  ImageButton,  // picture button with its caption below or on it
  CheckBox,     // themed check box
  RadioButton,  // themed radio button (a kind of check box)
  GroupBox,     // themed group box
  RadioGroup,   // group box of radio items, one selected
  CheckGroup,   // group box of check items
  ProgressBar,  // themed progress bar
  Menu,         // a main or pop-up menu (owned component)
  MenuItem,     // an item of a menu; sub-items are its children
};

// Left, top, width and height in pixels, relative to the parent's client area.
struct TBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TBounds&) const = default;
};

// A font by face name, pixel height (negative: character height) and weight.
struct TFontSpec {
  std::string Name = "Arial";
  int Height = -12;
  bool Bold = false;
  TColorValue Color = clBlack;
  bool operator==(const TFontSpec&) const = default;
};

// The pixel height of a font of the given point size on the 96-dpi screen the windows are
// designed for.
constexpr int FontHeightOfPoints(int points) noexcept { return -(points * 96 + 36) / 72; }

enum class TAlignment { Left, Right, Center };

// Docking inside the parent: top and bottom strips first, then left and right, then the rest.
enum class TAlign { None, Top, Bottom, Left, Right, Client };

// What changed on a control, so that its window can follow.
enum class TChange { Text, Hint, Enabled, Visible, Checked, Bounds, Font, Colors, Items, Position, Picture };

// The window side of a control: told of every change made through the model.
class IControlPeer {
 public:
  virtual ~IControlPeer() = default;
  // The model changed; the window shows the new state.
  virtual void ControlChanged(TChange what) = 0;
};

class TControl {
 public:
  // A control of kind, named as in the window's design.
  TControl(TControlKind kind, std::string name);
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  // Adds child as the last child of this control and returns it.
  template <class T>
  T& Add(std::unique_ptr<T> child) {
    T& ref = *child;
    AdoptChild(std::move(child));
    return ref;
  }
  // Creates a child control of kind, appended after the existing ones, docked as align says.
  TControl& AddChild(TControlKind kind, std::string name, TBounds bounds = {},
                     TAlign align = TAlign::None);
  // Creates a component owned by this control that is not one of its children (a menu, a
  // picture list).
  TControl& AddComponent(TControlKind kind, std::string name);

  TControlKind Kind() const noexcept { return FKind; }
  const std::string& Name() const noexcept { return FName; }
  TControl* Parent() const noexcept { return FParent; }
  const std::vector<std::unique_ptr<TControl>>& Children() const noexcept { return FChildren; }
  const std::vector<std::unique_ptr<TControl>>& Components() const noexcept { return FComponents; }
  // The first control of that name at any depth below this one (children, then components).
  TControl* Find(std::string_view name) noexcept;
  // The same; a missing control is a programming error and raises.
  TControl& Get(std::string_view name);

  // Whether the control is a check box or radio button (radio buttons are check boxes).
  bool IsCheckBox() const noexcept;
  // Whether the control is a group box, a radio group or a check group.
  bool IsGroup() const noexcept;

  // Translation instructions: bit 16 flags the control, bits 0-15 are a numeric key.
  int32_t Tag = 0;
  // The text of the control (its caption); the window text of its window.
  const std::string& Text() const noexcept { return FText; }
  void SetText(std::string text);
  const std::string& Hint() const noexcept { return FHint; }
  void SetHint(std::string hint);
  bool ShowHint = false;

  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool enabled);
  bool Visible() const noexcept { return FVisible; }
  void SetVisible(bool visible);
  // The check state of a check box, radio button or menu item.
  bool Checked() const noexcept { return FChecked; }
  void SetChecked(bool checked);

  const TBounds& Bounds() const noexcept { return FBounds; }
  void SetBounds(TBounds bounds);
  void SetLeft(int left);
  void SetTop(int top);

  const TFontSpec& Font() const noexcept { return FFont; }
  void SetFont(TFontSpec font);
  // Background colour; clNone shows the parent through.
  TColorValue Color() const noexcept { return FColor; }
  void SetColor(TColorValue color);
  // Border colour of group boxes and progress bars; clNone keeps the theme's.
  TColorValue BorderColor() const noexcept { return FBorderColor; }
  void SetBorderColor(TColorValue color);

  // Items of a radio group or check group; ItemIndex is the selected radio item or -1.
  const std::vector<std::string>& Items() const noexcept { return FItems; }
  void SetItems(std::vector<std::string> items);
  void SetItem(size_t index, std::string text);
  int ItemIndex() const noexcept { return FItemIndex; }
  void SetItemIndex(int index);
  // The tick of item index of a check group; false for an index out of range.
  bool ItemChecked(size_t index) const noexcept {
    return index < FItemChecks.size() && FItemChecks[index];
  }
  void SetItemChecked(size_t index, bool checked);

  // Position of a progress bar, between Min and Max.
  int Position() const noexcept { return FPosition; }
  void SetPosition(int position);
  int Min = 0;
  int Max = 100;

  // Picture resource: of an image; of an image button, the first of its four state pictures
  // (normal, pointer over, pressed, disabled); 0 for none.
  int Picture() const noexcept { return FPicture; }
  void SetPicture(int picture);
  // Pictures of a picture list, in order.
  std::vector<int> Pictures;

  // Design properties, set before the control's window exists.
  TAlign Align = TAlign::None;
  // Keeps the distance to the parent's right edge when the parent's width changes.
  bool AnchorRight = false;
  TAlignment Alignment = TAlignment::Left;
  bool WordWrap = false;
  // A one-line label as wide as its text: it grows to the right, or to the left when
  // right-aligned.
  bool AutoSize = false;
  // Text centred between the top and bottom edges.
  bool CenterVertically = false;
  bool Transparent = false;
  bool HandCursor = false;
  bool Stretch = false;
  // Caption below the picture of an image button (else centred on it).
  bool CaptionBelow = false;
  // The caption is drawn; a picture-only button keeps its text for screen readers alone.
  bool ShowCaption = true;
  // Focus rectangle inset of push and image buttons, 0 for none.
  int FocusInset = 0;
  // Result a button closes a modal window with, 0 for none.
  int ModalResult = 0;
  // Enter presses this button when no button has the focus.
  bool Default = false;
  // Escape presses the first such button.
  bool Cancel = false;
  // The control can take the keyboard focus with Tab.
  bool TabStop = false;
  // A mouse click leaves the keyboard focus where it was (a toolbar-like button); Tab still
  // reaches it.
  bool KeepsFocusOnClick = false;

  // The theme the control is drawn with (none: the built-in look) and whether it takes its
  // style from the theme file.
  std::shared_ptr<const TTheme> Theme;
  bool UseThemeFile = false;

  // Runs when the user clicks the control, after its state changed.
  std::function<void()> OnClick;
  // Runs when a mouse button goes down on the control, with the pointer in its coordinates.
  std::function<void(int x, int y)> OnMouseDown;
  // Runs when the pointer moves over the control, with whether the left button is held.
  std::function<void(bool leftHeld, int x, int y)> OnMouseMove;
  // Clicks the control as the user would: toggles a check box, selects a radio button or a
  // radio group's item, then runs OnClick; a disabled control ignores it.
  void Click();
  // Selects item index of a radio group, or toggles it in a check group, as a click on it
  // would, then runs OnClick.
  void ClickItem(int index);

  // The window side, told of changes; none before the window exists.
  IControlPeer* Peer = nullptr;

 private:
  void AdoptChild(std::unique_ptr<TControl> child);
  // Lays the docked children out anew and moves right-anchored ones by the width change.
  void Realign(int widthChange);
  void Notify(TChange what);

  TControlKind FKind;
  std::string FName;
  TControl* FParent = nullptr;
  std::vector<std::unique_ptr<TControl>> FChildren;
  std::vector<std::unique_ptr<TControl>> FComponents;
  std::string FText;
  std::string FHint;
  bool FEnabled = true;
  bool FVisible = true;
  bool FChecked = false;
  TBounds FBounds;
  TFontSpec FFont;
  TColorValue FColor = clNone;
  TColorValue FBorderColor = clNone;
  std::vector<std::string> FItems;
  int FItemIndex = -1;
  std::vector<bool> FItemChecks;
  int FPosition = 0;
  int FPicture = 0;
};

// Calls visit on every child below root, depth first in child order (a child before its
// own children).
void ForEachControl(TControl& root, const std::function<void(TControl&)>& visit);
