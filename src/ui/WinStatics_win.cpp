// Painting of the labels, group boxes and progress bars.
#include "common/WinText_win.h"
#include "ui/BaseForms.h"
#include "ui/WinControls_win.h"
#include "ui/WinForm_win.h"

#include <commctrl.h>

void PaintLabel(TWinControl& c, HDC dc, const RECT& rc) {
  const TControl& m = c.Model();
  PaintParentBackground(c.Handle(), dc);
  if (!m.Transparent && m.Color() != clNone) FillSolid(dc, rc, m.Color());
  UINT format = DT_NOPREFIX;
  if (m.Alignment == TAlignment::Right) format |= DT_RIGHT;
  if (m.Alignment == TAlignment::Center) format |= DT_CENTER;
  format |= m.WordWrap ? (DT_WORDBREAK | DT_END_ELLIPSIS) : DT_SINGLELINE;
  const std::wstring text = WindowTextOf(c.Handle());
  HGDIOBJ oldFont = ::SelectObject(dc, c.Form().Skin().Font(m.Font()));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ColorRefOf(::IsWindowEnabled(c.Handle()) ? m.Font().Color : MakeColor(128, 128, 128)));
  RECT box = rc;
  if (m.CenterVertically) {
    RECT measure = rc;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure, format | DT_CALCRECT);
    box.top += (rc.bottom - rc.top - (measure.bottom - measure.top)) / 2;
  }
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
  ::SelectObject(dc, oldFont);
}

void PaintGroupBox(TWinControl& c, HDC dc, const RECT& rc) {
  const TControl& m = c.Model();
  PaintParentBackground(c.Handle(), dc);
  const std::wstring text = WindowTextOf(c.Handle());
  HGDIOBJ oldFont = ::SelectObject(dc, c.Form().Skin().Font(m.Font()));
  SIZE extent{0, 0};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  const int half = extent.cy / 2;
  const TColorValue border = m.BorderColor() != clNone ? m.BorderColor()
                                                       : SkinColor(m, "group.border", MakeColor(127, 168, 172));
  const TColorValue face = m.Color() != clNone ? m.Color() : SkinColor(m, "group.face", clWhite);
  DrawShape(dc, TShape::RoundRect, RECT{rc.left, rc.top + half, rc.right, rc.bottom}, border, face, c.S(7),
            c.S(1));
  if (!text.empty()) {
    RECT caption{rc.left + c.S(8), rc.top, rc.left + c.S(8) + extent.cx + c.S(8), rc.top + extent.cy};
    FillSolid(dc, caption, face);
    ::SetBkMode(dc, TRANSPARENT);
    const TColorValue color = m.Font().Color;
    ::SetTextColor(dc, ColorRefOf(::IsWindowEnabled(c.Handle()) || m.Kind() != TControlKind::RadioGroup
                               ? color
                               : MakeColor(128, 128, 128)));
    ::InflateRect(&caption, -c.S(4), 0);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &caption,
                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
  ::SelectObject(dc, oldFont);
}

void PaintProgressBar(TWinControl& c, HDC dc, const RECT& rc) {
  const TControl& m = c.Model();
  const int low = static_cast<int>(::SendMessageW(c.Handle(), PBM_GETRANGE, TRUE, 0));
  const int high = static_cast<int>(::SendMessageW(c.Handle(), PBM_GETRANGE, FALSE, 0));
  const int pos = static_cast<int>(::SendMessageW(c.Handle(), PBM_GETPOS, 0, 0));
  const TColorValue border = m.BorderColor() != clNone ? m.BorderColor()
                                                       : SkinColor(m, "progress.border", MakeColor(25, 60, 60));
  FillSolid(dc, rc, border);
  RECT inner = rc;
  ::InflateRect(&inner, -c.S(1), -c.S(1));
  FillSolid(dc, inner, SkinColor(m, "progress.track", MakeColor(236, 241, 241)));
  if (high > low && pos > low) {
    RECT bar = inner;
    bar.right = inner.left + MulDiv(inner.right - inner.left, pos - low, high - low);
    FillGradient(dc, bar, SkinColor(m, "progress.fill.top", MakeColor(94, 200, 160)),
                 SkinColor(m, "progress.fill.bottom", MakeColor(20, 130, 100)));
  }
}
