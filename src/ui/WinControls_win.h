// The Win32 side of the skinned controls: each model control mirrored in a real child window
// of the standard class (BUTTON, STATIC, msctls_progress32), subclassed and painted from its
// own state with the theme's colours; containers reflect notifications to the form
// (Windows-only header).
#pragma once

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "ui/Controls.h"
#include "ui/DpiScale.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TWinForm;

// One owner per font, brush and picture of the skin at the pixel density of its window:
// created on first use, freed with it. Objects made for an earlier density stay until the
// cache goes, so a control never holds a deleted font.
class TSkinCache {
 public:
  // The pixel density the fonts and pictures are made for; 96 until set.
  int Dpi() const noexcept { return FDpi; }
  void SetDpi(int dpi) noexcept { FDpi = dpi > 0 ? dpi : kDesignDpi; }
  // A design length at the cache's density.
  int Scale(int designValue) const noexcept { return ScaleToDpi(designValue, FDpi); }
  // The font described by wanted ("<Face> Bold" asks for the face in bold), its design height
  // scaled to the cache's density.
  HFONT Font(const TFontSpec& wanted);
  // Picture id as a premultiplied 32-bit DIB for a box of width x height pixels (see
  // PictureForBox), and its size; null when missing.
  HBITMAP Picture(int id, int width, int height, SIZE& size);
  // Picture id at its design size scaled to the cache's density, or null.
  HBITMAP Picture(int id) {
    const SIZE box = PictureSize(id);
    SIZE size{};
    return box.cx > 0 ? Picture(id, box.cx, box.cy, size) : nullptr;
  }
  // The size picture id is drawn at: its design size scaled; {0, 0} when missing.
  SIZE PictureSize(int id);

 private:
  int FDpi = kDesignDpi;
  std::map<std::string, TScopedGdiObject<HFONT>> FFonts;
  std::map<const void*, TScopedGdiObject<HBITMAP>> FBitmaps;
};

// A colour value as GDI takes it.
inline COLORREF ColorRefOf(TColorValue c) { return static_cast<COLORREF>(c & 0xFFFFFF); }
// The window text of a window of this process, as painted.
std::wstring WindowTextOf(HWND hwnd);
// Answers WM_PAINT of hwnd: paint draws the whole client area into a buffer, clipped to
// what needs painting, and the buffer goes to the screen in one piece, so nothing flickers.
void PaintBuffered(HWND hwnd, const std::function<void(HDC dc, const RECT& client)>& paint);

// The theme colour named key of control's theme, or builtIn when the control has none.
TColorValue SkinColor(const TControl& control, std::string_view key, TColorValue builtIn);

// Fills rc of dc with a vertical gradient from top to bottom colour.
void FillGradient(HDC dc, const RECT& rc, TColorValue top, TColorValue bottom);
// Fills rc with one colour.
void FillSolid(HDC dc, const RECT& rc, TColorValue color);
// The shape a drawing helper fills and outlines.
enum class TShape { RoundRect, Ellipse };
// Outlines rc (penWidth px in border, inside rc) and fills it (clNone: not filled); radius
// rounds the corners of a RoundRect.
void DrawShape(HDC dc, TShape shape, const RECT& rc, TColorValue border, TColorValue fill,
               int radius = 0, int penWidth = 1);
// Fills an ellipse within rc without an outline.
void FillEllipse(HDC dc, const RECT& rc, TColorValue color);
// Draws the open line through points, width px wide.
void DrawLines(HDC dc, const POINT* points, int count, int width, TColorValue color);
// Draws picture id alpha-blended, greyed when disabled: stretched to rc, or with stretch unset
// at rc's top-left corner in its own size at the cache's density.
void DrawPicture(HDC dc, TSkinCache& cache, int id, const RECT& rc, bool greyed = false, bool stretch = true);
// Whether the picture of an image control fills its box (a designed stretch or docking).
bool PictureFillsBox(const TControl& image);

// A model control and its window (none for a picture, which its parent paints).
class TWinControl final : public IControlPeer {
 public:
  TWinControl(TWinForm& form, TControl& model, int id);
  ~TWinControl() override;
  TWinControl(const TWinControl&) = delete;
  TWinControl& operator=(const TWinControl&) = delete;

  // Creates the window as a child of parent at the model's bounds scaled to the form's density;
  // a picture gets none: parent paints it as part of its background.
  void Create(HWND parent);
  // Takes the form's new pixel density: font, place and items anew, without painting.
  void Rescale();
  void ControlChanged(TChange what) override;

  TControl& Model() const noexcept { return FModel; }
  HWND Handle() const noexcept { return FHandle; }
  int Id() const noexcept { return FId; }
  // Windows of a radio group's items, in item order.
  const std::vector<HWND>& ItemWindows() const noexcept { return FItems; }
  // Whether the pointer is over the control.
  bool Hot() const noexcept { return FHot; }
  TWinForm& Form() const noexcept { return FForm; }
  // A design length at the form's pixel density.
  int S(int designValue) const noexcept;

  // Paints the control into dc (a buffer of the client size).
  void Paint(HDC dc, const RECT& client);
  // Paints what a transparent child at childRect (in this window's client coordinates)
  // shows through: the background and the pictures below it.
  void PaintBackground(HDC dc, const RECT& client);

  LRESULT SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  void CreateItems();
  void SyncItems();
  void Repaint();
  // Moves the window (and a group's items) to the model's scaled bounds.
  void Place(UINT flags);
  // Makes an auto-sized label as wide as its text.
  void FitText();

  TWinForm& FForm;
  TControl& FModel;
  int FId;
  HWND FHandle = nullptr;
  HWND FParentWindow = nullptr;  // the window the control lies on
  bool FHot = false;
  bool FTracking = false;
  std::vector<HWND> FItems;
};

// Paints what a window shows behind its transparent children: its parent chain's
// background, offset to the child.
void PaintParentBackground(HWND child, HDC dc);

// Whether hwnd is a push button (image buttons are push buttons too).
bool IsPushButtonWindow(HWND hwnd);
// Whether Enter presses c now: the focused push button of its window, or the default button
// while no push button has the focus.
bool IsEnterTarget(const TWinControl& c);

// Paint routines of the control kinds (one file each).
void PaintPushButton(TWinControl& c, HDC dc, const RECT& rc);
void PaintImageButton(TWinControl& c, HDC dc, const RECT& rc);
void PaintCheckBox(TWinControl& c, HWND hwnd, HDC dc, const RECT& rc);
void PaintLabel(TWinControl& c, HDC dc, const RECT& rc);
void PaintGroupBox(TWinControl& c, HDC dc, const RECT& rc);
void PaintProgressBar(TWinControl& c, HDC dc, const RECT& rc);
