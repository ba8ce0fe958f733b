// The base window family: the themed frame with its body, the dialog with its title strip,
// the full window with its banner; the theme and product-style walks; the machine type;
// the image-button switches and the caption dragging (portable).
#pragma once

#include "ui/Controls.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class IRawRegistry;

// The product's fixed colours.
inline constexpr TColorValue kFrameBorderColor = MakeColor(0, 44, 200);
inline constexpr TColorValue kFrameFaceColor = MakeColor(239, 235, 222);
inline constexpr TColorValue kTitleStripColor = MakeColor(0, 80, 70);
inline constexpr TColorValue kDarkTealColor = MakeColor(25, 60, 60);
inline constexpr TColorValue kBannerCaptionColor = MakeColor(89, 89, 89);
inline constexpr TColorValue kGroupBorderColor = MakeColor(127, 168, 172);
inline constexpr TColorValue kDisabledCaptionColor = MakeColor(100, 100, 100);
inline constexpr TColorValue kAboutCaptionColor = MakeColor(1, 78, 68);

// Reads a theme file by name (searched where themes are looked for); none keeps the
// controls' built-in look.
using TThemeLoader = std::function<std::shared_ptr<const TTheme>(const std::string& fileName)>;
// Looks a text up in the string table by section and key; unset while there is no table.
using TTextLookup = std::function<std::string(std::string_view section, std::string_view key)>;

// Where the base windows take their theme and the banner hint from; set by start-up.
void SetThemeLoader(TThemeLoader loader);
void SetTextLookup(TTextLookup lookup);
// The text of key in section, or none when no string table is set.
bool LookupText(std::string_view section, std::string_view key, std::string& text);

// The root of every themed window: the frame fmBase with the body panel PanelBody.
class TfmBaseUI {
 public:
  // A window named name with the design caption and body size.
  TfmBaseUI(std::string name, std::string caption, int bodyWidth, int bodyHeight);
  virtual ~TfmBaseUI();
  TfmBaseUI(const TfmBaseUI&) = delete;
  TfmBaseUI& operator=(const TfmBaseUI&) = delete;

  // The creation handler: theme file, frame theme, "  " + caption, theme walk.
  virtual void FormCreate();
  // Client width = body width; client height = body height + the frame's menu-bar height.
  void ApplyClientSizeRule();
  // The caption of the window and of its frame.
  const std::string& Caption() const noexcept { return fmBase->Text(); }
  void SetCaption(std::string caption);

  TControl Form;
  TControl* fmBase = nullptr;
  TControl* PanelBody = nullptr;
  std::shared_ptr<const TTheme> QuorFileTheme;
  std::string ThemeFileName;
  // The frame's sizes in design units, from the theme file when it gives them: the menu bar,
  // which the client height leaves room for, the border on the left, right and bottom, the
  // title bar above the body, and the radius of the rounded top corners.
  int MenuBarHeight = 22;
  int FrameBorder = 3;
  int TitleBarHeight = 26;
  int CornerRadius = 13;
  int ClientWidth = 0;
  int ClientHeight = 0;
  // The frame's close and minimize buttons are shown.
  bool ShowFrameButtons = true;
};

// A dialog: the dark title strip PanelTitle with lbTitle on top of the body.
class TfmBaseDialog : public TfmBaseUI {
 public:
  TfmBaseDialog(std::string name, std::string caption = "The Base Dialog UI", int bodyWidth = 342,
                int bodyHeight = 244);
  // The base creation handler, then the client-size rule.
  void FormCreate() override;

  TControl* PanelTitle = nullptr;
  TControl* lbTitle = nullptr;
};

// A full window: the banner PanelTop with its pictures, the Menu, About and Help buttons and
// the caption label.
class TfmBaseForm : public TfmBaseUI {
 public:
  TfmBaseForm(std::string name, std::string caption, int bodyWidth = 646, int bodyHeight = 458);
  // The base creation handler, the client-size rule, then the banner hint from the table.
  void FormCreate() override;

  TControl* PanelTop = nullptr;
  TControl* imgMainLeft = nullptr;
  TControl* imgMainRight = nullptr;
  TControl* imgMainMiddle = nullptr;
  TControl* btnMenu = nullptr;
  TControl* btnAbout = nullptr;
  TControl* btnHelp = nullptr;
  TControl* lbCaption = nullptr;
  TControl* lbWWW = nullptr;
};

// Gives every themed push button, check box, radio button, progress bar and group below
// container the theme, descending through every control.
void ApplyThemeToControls(TControl& container, const std::shared_ptr<const TTheme>& theme);
// Applies the product's fixed focus insets, font colours and border colours below container.
void ApplyProductStyle(TControl* container);

// 1 when the product family's "Type" reads "notebook" in any letter case, else 2.
int GetMachineType(IRawRegistry& reg);
// The same on the machine's registry (Windows build).
int GetMachineType();

// Enables an image button and gives its caption the active colour.
void EnableImageButton(TControl& button);
// Disables an image button and greys its caption.
void DisableImageButton(TControl& button);

// Caption dragging of a borderless window by its caption label.
struct TCaptionDrag {
  int GrabX = 0;
  int GrabY = 0;
  // Any press on the label remembers the pointer position within it.
  void MouseDown(int x, int y) noexcept {
    GrabX = x;
    GrabY = y;
  }
  // With the left button held and a grab point, the window's new position; false otherwise.
  bool MouseMove(bool leftHeld, int x, int y, int& windowLeft, int& windowTop) const noexcept {
    if (!leftHeld || GrabX < 0) return false;
    windowLeft += x - GrabX + 1;
    windowTop += y - GrabY + 1;
    return true;
  }
};
