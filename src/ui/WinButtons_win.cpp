// Painting of the push buttons, image buttons, check boxes and radio buttons, each from the
// state of its own window.
#include "common/WinText_win.h"
#include "ui/BaseForms.h"
#include "ui/WinControls_win.h"
#include "ui/WinForm_win.h"

#include <shellapi.h>

#include <algorithm>

namespace {

// The pointer-over state of buttons of the newer common controls.
constexpr LRESULT kButtonHot = 0x0200;

struct TButtonState {
  bool Pressed;
  bool Hot;
  bool Focused;
  bool Enabled;
  bool ShowFocus;
  bool ShowAccel;
};

TButtonState StateOf(HWND hwnd, bool hot) {
  const LRESULT state = ::SendMessageW(hwnd, BM_GETSTATE, 0, 0);
  const LRESULT ui = ::SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0);
  return {(state & BST_PUSHED) != 0, hot || (state & kButtonHot) != 0, ::GetFocus() == hwnd,
          ::IsWindowEnabled(hwnd) != FALSE, (ui & UISF_HIDEFOCUS) == 0, (ui & UISF_HIDEACCEL) == 0};
}

void DrawCaption(HDC dc, HFONT font, TColorValue color, const std::wstring& text, RECT rc,
                 UINT format) {
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ColorRefOf(color));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, format);
  ::SelectObject(dc, oldFont);
}

// The system's small shield, loaded once and kept for the process.
HICON ShieldIcon() {
  struct TIcon {
    HICON Icon = nullptr;
    bool Owned = false;
    TIcon() {
      SHSTOCKICONINFO info{};
      info.cbSize = sizeof info;
      // Wine answers S_OK without an icon.
      if (SUCCEEDED(::SHGetStockIconInfo(SIID_SHIELD, SHGSI_ICON | SHGSI_SMALLICON, &info)) && info.hIcon) {
        Icon = info.hIcon;
        Owned = true;
      } else {
        // The same picture from the system's shared icons (which are never destroyed).
        Icon = ::LoadIconW(nullptr, IDI_SHIELD);
      }
    }
    ~TIcon() {
      if (Icon && Owned) ::DestroyIcon(Icon);
    }
  };
  static const TIcon icon;
  return icon.Icon;
}

// Draws the shield left of a centred one-line caption and narrows rc to the caption's place.
void DrawShieldBeside(const TWinControl& c, HDC dc, HFONT font, const std::wstring& text, RECT& rc,
                      UINT& format) {
  HICON shield = ShieldIcon();
  if (!shield) return;
  // A small icon at the window's scale.
  const int size = c.S(16);
  RECT measure = rc;
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure,
              DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
  ::SelectObject(dc, oldFont);
  const int gap = c.S(4);
  const int width = size + gap + (measure.right - measure.left);
  const int left = static_cast<int>(rc.left) + std::max(0, static_cast<int>(rc.right - rc.left - width) / 2);
  ::DrawIconEx(dc, left, rc.top + (rc.bottom - rc.top - size) / 2, shield, size, size, 0, nullptr,
               DI_NORMAL);
  rc.left = left + size + gap;
  format = (format & ~DT_CENTER) | DT_LEFT;
}

}  // namespace

bool IsPushButtonWindow(HWND hwnd) {
  wchar_t cls[16] = {};
  if (!hwnd || !::GetClassNameW(hwnd, cls, 16) || _wcsicmp(cls, L"BUTTON") != 0) return false;
  const LONG type = ::GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool IsEnterTarget(const TWinControl& c) {
  HWND focus = ::GetFocus();
  if (focus && IsPushButtonWindow(focus) &&
      ::GetAncestor(focus, GA_ROOT) == ::GetAncestor(c.Handle(), GA_ROOT))
    return focus == c.Handle();
  return c.Model().Default;
}

void PaintPushButton(TWinControl& c, HDC dc, const RECT& rc) {
  const TControl& m = c.Model();
  const TButtonState s = StateOf(c.Handle(), c.Hot());
  PaintParentBackground(c.Handle(), dc);
  TColorValue top = SkinColor(m, "button.face.top", MakeColor(255, 255, 255));
  TColorValue bottom = SkinColor(m, "button.face.bottom", MakeColor(221, 232, 232));
  if (!s.Enabled) {
    top = bottom = MakeColor(240, 240, 240);
  } else if (s.Pressed) {
    top = SkinColor(m, "button.pressed.top", MakeColor(190, 212, 212));
    bottom = SkinColor(m, "button.pressed.bottom", MakeColor(225, 236, 236));
  } else if (s.Hot) {
    top = SkinColor(m, "button.hot.top", MakeColor(255, 255, 255));
    bottom = SkinColor(m, "button.hot.bottom", MakeColor(200, 226, 228));
  }
  const int line = c.S(1);
  RECT face = rc;
  ::InflateRect(&face, -line, -line);
  {
    // The face within the rounded outline; the clip region is copied into the DC.
    TScopedGdiObject<HRGN> clip(
        ::CreateRoundRectRgn(face.left, face.top, face.right + 1, face.bottom + 1, c.S(6), c.S(6)));
    ::SelectClipRgn(dc, clip.get());
    FillGradient(dc, face, top, bottom);
    ::SelectClipRgn(dc, nullptr);
  }
  const TColorValue border = s.Enabled ? SkinColor(m, "button.border", MakeColor(90, 130, 135))
                                       : MakeColor(180, 180, 180);
  DrawShape(dc, TShape::RoundRect, rc, border, clNone, c.S(6), line);
  // The outline marks the button Enter presses: it moves with the focus among the buttons.
  if (s.Enabled && IsEnterTarget(c)) {
    RECT inner = rc;
    ::InflateRect(&inner, -line, -line);
    DrawShape(dc, TShape::RoundRect, inner, SkinColor(m, "button.focus", MakeColor(0, 80, 70)), clNone,
              c.S(5), line);
  }
  RECT text = rc;
  if (s.Pressed) ::OffsetRect(&text, line, line);
  const TColorValue color = s.Enabled ? m.Font().Color
                                      : SkinColor(m, "button.disabled.text", MakeColor(100, 100, 100));
  UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | (s.ShowAccel ? 0 : DT_HIDEPREFIX);
  HFONT font = c.Form().Skin().Font(m.Font());
  const std::wstring caption = WindowTextOf(c.Handle());
  if (m.Shield()) DrawShieldBeside(c, dc, font, caption, text, format);
  DrawCaption(dc, font, color, caption, text, format);
  if (s.Focused && s.ShowFocus && m.FocusInset > 0) {
    RECT focus = rc;
    ::InflateRect(&focus, -c.S(m.FocusInset), -c.S(m.FocusInset));
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::DrawFocusRect(dc, &focus);
  }
}

void PaintImageButton(TWinControl& c, HDC dc, const RECT& rc) {
  const TControl& m = c.Model();
  const TButtonState s = StateOf(c.Handle(), c.Hot());
  PaintParentBackground(c.Handle(), dc);
  // The four pictures in a row of ids: normal, pointer over, pressed, disabled.
  const int state = !s.Enabled ? 3 : s.Pressed ? 2 : s.Hot ? 1 : 0;
  const int picture = m.Picture() ? m.Picture() + state : 0;
  const std::wstring text = WindowTextOf(c.Handle());
  HFONT font = c.Form().Skin().Font(m.Font());
  if (m.CaptionBelow) {
    const SIZE size = c.Form().Skin().PictureSize(picture);
    const int left = (rc.right - size.cx) / 2;
    const int top = c.S(2);
    if (picture)
      DrawPicture(dc, c.Form().Skin(), picture, RECT{left, top, left + size.cx, top + size.cy}, false, false);
    RECT caption{rc.left, top + (size.cy ? size.cy : c.S(48)) + c.S(2), rc.right, rc.bottom};
    DrawCaption(dc, font, m.Font().Color, text, caption, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  } else {
    if (picture) {
      DrawPicture(dc, c.Form().Skin(), picture, rc);
    } else {
      PaintPushButton(c, dc, rc);
      return;
    }
    RECT caption = rc;
    if (s.Pressed) ::OffsetRect(&caption, c.S(1), c.S(1));
    if (m.ShowCaption) {
      UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
      if (m.Shield()) DrawShieldBeside(c, dc, font, text, caption, format);
      DrawCaption(dc, font, m.Font().Color, text, caption, format);
    }
  }
  if (s.Focused && s.ShowFocus && m.FocusInset > 0) {
    RECT focus = rc;
    ::InflateRect(&focus, -c.S(m.FocusInset), -c.S(m.FocusInset));
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::DrawFocusRect(dc, &focus);
  }
}

void PaintCheckBox(TWinControl& c, HWND hwnd, HDC dc, const RECT& rc) {
  const TControl& m = c.Model();
  const bool item = hwnd != c.Handle();
  const LONG style = ::GetWindowLongW(hwnd, GWL_STYLE);
  const bool radio = (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON || (style & BS_TYPEMASK) == BS_RADIOBUTTON;
  const TButtonState s = StateOf(hwnd, item ? false : c.Hot());
  const bool checked = ::SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
  PaintParentBackground(hwnd, dc);
  const int box = c.S(13);
  const int top = (rc.bottom - box) / 2;
  RECT square{rc.left + c.S(1), top, rc.left + c.S(1) + box, top + box};
  const TColorValue border =
      !s.Enabled ? MakeColor(170, 170, 170)
                 : (s.Hot || s.Pressed) ? SkinColor(m, "check.hot.border", MakeColor(0, 80, 70))
                                        : SkinColor(m, "check.border", MakeColor(90, 130, 135));
  const TColorValue face = s.Pressed ? MakeColor(214, 230, 230) : SkinColor(m, "check.face", clWhite);
  const TColorValue mark = s.Enabled ? SkinColor(m, "check.mark", MakeColor(0, 80, 70)) : MakeColor(150, 150, 150);
  DrawShape(dc, radio ? TShape::Ellipse : TShape::RoundRect, square, border, face, c.S(3), c.S(1));
  if (checked) {
    if (radio) {
      FillEllipse(dc, RECT{square.left + c.S(3), square.top + c.S(3), square.right - c.S(2), square.bottom - c.S(2)},
                  mark);
    } else {
      const POINT tick[] = {{square.left + c.S(3), square.top + c.S(6)},
                            {square.left + c.S(5), square.top + c.S(9)},
                            {square.left + c.S(10), square.top + c.S(3)}};
      DrawLines(dc, tick, 3, c.S(2), mark);
    }
  }
  RECT text{square.right + c.S(5), rc.top, rc.right, rc.bottom};
  const std::wstring caption = WindowTextOf(hwnd);
  const TColorValue color = s.Enabled ? (item ? m.Font().Color : SkinColor(m, "check.text", m.Font().Color))
                                      : SkinColor(m, "check.disabled.text", MakeColor(140, 140, 140));
  const TFontSpec& font = m.Font();
  DrawCaption(dc, c.Form().Skin().Font(font), color, caption, text,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | (s.ShowAccel ? 0 : DT_HIDEPREFIX));
  if (s.Focused && s.ShowFocus) {
    RECT measure = text;
    HGDIOBJ oldFont = ::SelectObject(dc, c.Form().Skin().Font(font));
    ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measure,
                DT_LEFT | DT_SINGLELINE | DT_CALCRECT);
    ::SelectObject(dc, oldFont);
    const int h = measure.bottom - measure.top;
    RECT focus{text.left - c.S(2), (rc.bottom - h) / 2 - c.S(1), measure.right + c.S(2), (rc.bottom + h) / 2 + c.S(1)};
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::DrawFocusRect(dc, &focus);
  }
}
