#include "ui/WinControls_win.h"

#include "common/WinText_win.h"
#include "ui/Pictures_win.h"
#include "ui/WinForm_win.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr UINT_PTR kSubclassId = 0x51424B;  // one subclass of ours per control window
const wchar_t kControlProp[] = L"QuorSkinControl";

LRESULT CALLBACK ControlSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                 DWORD_PTR ref) noexcept {
  auto* control = reinterpret_cast<TWinControl*>(ref);
  try {
    return control->SubclassProc(hwnd, msg, wp, lp);
  } catch (...) {
    // Painting and state sync never throw on purpose; nothing may cross into the system.
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

bool IsContainer(TControlKind kind) {
  return kind == TControlKind::Panel || kind == TControlKind::GroupBox ||
         kind == TControlKind::RadioGroup || kind == TControlKind::CheckGroup;
}

bool IsButtonClass(TControlKind kind) {
  switch (kind) {
    case TControlKind::Button:
    case TControlKind::ImageButton:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
    case TControlKind::GroupBox:
    case TControlKind::RadioGroup:
    case TControlKind::CheckGroup:
      return true;
    default:
      return false;
  }
}

}  // namespace

HFONT TSkinCache::Font(const TFontSpec& wanted) {
  std::string face = wanted.Name;
  bool bold = wanted.Bold;
  // "Arial Bold" names a face and a weight; the font mapper knows the family only.
  const std::string boldSuffix = " Bold";
  if (face.size() > boldSuffix.size() &&
      face.compare(face.size() - boldSuffix.size(), boldSuffix.size(), boldSuffix) == 0) {
    face.resize(face.size() - boldSuffix.size());
    bold = true;
  }
  const int height = Scale(wanted.Height);
  const std::string key = face + '|' + std::to_string(height) + (bold ? "|b" : "|n");
  auto it = FFonts.find(key);
  if (it != FFonts.end()) return it->second.get();
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  const std::wstring wface = Utf8ToWide(face);
  wcsncpy(lf.lfFaceName, wface.c_str(), LF_FACESIZE - 1);
  HFONT font = ::CreateFontIndirectW(&lf);
  FFonts.emplace(key, TScopedGdiObject<HFONT>(font));
  return font;
}

HBITMAP TSkinCache::Picture(int id, int width, int height, SIZE& size) {
  size = SIZE{0, 0};
  const std::shared_ptr<const TPixelImage> image = PictureForBox(id, FDpi, width, height);
  if (!image) return nullptr;
  size = SIZE{image->Width, image->Height};
  auto it = FBitmaps.find(image.get());
  if (it != FBitmaps.end()) return it->second.get();
  // A bitmap of its own per window: the decoded pixels are shared, a DC selection is not.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = image->Width;
  bi.bmiHeader.biHeight = -image->Height;  // top-down, as decoded
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits)
    memcpy(bits, image->Pixels.data(), image->Pixels.size() * sizeof(uint32_t));
  FBitmaps.emplace(image.get(), TScopedGdiObject<HBITMAP>(bmp));
  return bmp;
}

SIZE TSkinCache::PictureSize(int id) {
  const SIZE design = PictureDesignSize(id);
  return SIZE{Scale(design.cx), Scale(design.cy)};
}

std::wstring WindowTextOf(HWND hwnd) {
  const int len = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), len + 1)));
  return text;
}

void PaintBuffered(HWND hwnd, const std::function<void(HDC dc, const RECT& client)>& paint) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd, &ps);
  RECT client;
  ::GetClientRect(hwnd, &client);
  if (!::IsRectEmpty(&ps.rcPaint) && client.right > 0 && client.bottom > 0) {
    HDC mem = ::CreateCompatibleDC(dc);
    HBITMAP bmp = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::IntersectClipRect(mem, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
    paint(mem, client);
    ::BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
             ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
  }
  ::EndPaint(hwnd, &ps);
}

void FillSolid(HDC dc, const RECT& rc, TColorValue color) {
  const COLORREF old = ::SetBkColor(dc, ColorRefOf(color));
  ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
  ::SetBkColor(dc, old);
}

void FillGradient(HDC dc, const RECT& rc, TColorValue top, TColorValue bottom) {
  TRIVERTEX v[2] = {};
  v[0].x = rc.left;
  v[0].y = rc.top;
  v[0].Red = static_cast<COLOR16>((top & 0xFF) << 8);
  v[0].Green = static_cast<COLOR16>(((top >> 8) & 0xFF) << 8);
  v[0].Blue = static_cast<COLOR16>(((top >> 16) & 0xFF) << 8);
  v[1].x = rc.right;
  v[1].y = rc.bottom;
  v[1].Red = static_cast<COLOR16>((bottom & 0xFF) << 8);
  v[1].Green = static_cast<COLOR16>(((bottom >> 8) & 0xFF) << 8);
  v[1].Blue = static_cast<COLOR16>(((bottom >> 16) & 0xFF) << 8);
  GRADIENT_RECT g{0, 1};
  ::GradientFill(dc, v, 2, &g, 1, GRADIENT_FILL_RECT_V);
}

namespace {

// Selects a GDI object into a DC for the guard's life, then puts the earlier one back, so an
// object is never deleted while selected.
class TSelectGuard {
 public:
  TSelectGuard(HDC dc, HGDIOBJ object) : FDC(dc), FOld(::SelectObject(dc, object)) {}
  ~TSelectGuard() { ::SelectObject(FDC, FOld); }
  TSelectGuard(const TSelectGuard&) = delete;
  TSelectGuard& operator=(const TSelectGuard&) = delete;

 private:
  HDC FDC;
  HGDIOBJ FOld;
};

}  // namespace

void DrawShape(HDC dc, TShape shape, const RECT& rc, TColorValue border, TColorValue fill, int radius,
               int penWidth) {
  // A wider outline of a scaled window stays within the shape, as the thin one does.
  TScopedGdiObject<HPEN> pen(::CreatePen(penWidth > 1 ? PS_INSIDEFRAME : PS_SOLID, std::max(1, penWidth),
                                         ColorRefOf(border)));
  TScopedGdiObject<HBRUSH> brush(fill == clNone ? nullptr : ::CreateSolidBrush(ColorRefOf(fill)));
  TSelectGuard penGuard(dc, pen.get());
  TSelectGuard brushGuard(dc, brush ? static_cast<HGDIOBJ>(brush.get()) : ::GetStockObject(NULL_BRUSH));
  if (shape == TShape::Ellipse)
    ::Ellipse(dc, rc.left, rc.top, rc.right, rc.bottom);
  else
    ::RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, radius, radius);
}

void FillEllipse(HDC dc, const RECT& rc, TColorValue color) {
  TScopedGdiObject<HBRUSH> brush(::CreateSolidBrush(ColorRefOf(color)));
  TSelectGuard brushGuard(dc, brush.get());
  TSelectGuard penGuard(dc, ::GetStockObject(NULL_PEN));
  ::Ellipse(dc, rc.left, rc.top, rc.right, rc.bottom);
}

void DrawLines(HDC dc, const POINT* points, int count, int width, TColorValue color) {
  TScopedGdiObject<HPEN> pen(::CreatePen(PS_SOLID, width, ColorRefOf(color)));
  TSelectGuard penGuard(dc, pen.get());
  ::Polyline(dc, points, count);
}

void DrawPicture(HDC dc, TSkinCache& cache, int id, const RECT& rc, bool greyed, bool stretch) {
  const SIZE box = stretch ? SIZE{rc.right - rc.left, rc.bottom - rc.top} : cache.PictureSize(id);
  if (box.cx <= 0 || box.cy <= 0) return;
  SIZE size{};
  HBITMAP bmp = cache.Picture(id, box.cx, box.cy, size);
  if (!bmp) return;
  HDC mem = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(mem, bmp);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(greyed ? 110 : 255), AC_SRC_ALPHA};
  ::AlphaBlend(dc, rc.left, rc.top, box.cx, box.cy, mem, 0, 0, size.cx, size.cy, blend);
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
}

bool PictureFillsBox(const TControl& image) { return image.Stretch || image.Align != TAlign::None; }

TWinControl::TWinControl(TWinForm& form, TControl& model, int id)
    : FForm(form), FModel(model), FId(id) {
  FModel.Peer = this;
}

int TWinControl::S(int designValue) const noexcept { return FForm.Skin().Scale(designValue); }

TWinControl::~TWinControl() {
  if (FModel.Peer == this) FModel.Peer = nullptr;
  // A window that outlives this object must not reach it through the subclass: the items of
  // a group point here as well as the control's own window.
  for (HWND item : FItems)
    if (::IsWindow(item)) {
      ::RemoveWindowSubclass(item, &ControlSubclass, kSubclassId);
      ::RemovePropW(item, kControlProp);
    }
  if (FHandle) {
    ::RemoveWindowSubclass(FHandle, &ControlSubclass, kSubclassId);
    ::RemovePropW(FHandle, kControlProp);
  }
}

void TWinControl::Create(HWND parent) {
  const TControlKind kind = FModel.Kind();
  FParentWindow = parent;
  // A picture is part of its parent's background, which paints it: a window of its own would
  // add nothing a user or a screen reader can reach, only the system's work for each window.
  if (kind == TControlKind::Image) return;
  const wchar_t* cls = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  switch (kind) {
    case TControlKind::Button:
    case TControlKind::ImageButton:
      cls = L"BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case TControlKind::CheckBox:
      cls = L"BUTTON";
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    case TControlKind::RadioButton:
      cls = L"BUTTON";
      style |= BS_AUTORADIOBUTTON | WS_TABSTOP;
      break;
    case TControlKind::GroupBox:
    case TControlKind::RadioGroup:
    case TControlKind::CheckGroup:
      cls = L"BUTTON";
      style |= BS_GROUPBOX | WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
      break;
    case TControlKind::ProgressBar:
      cls = PROGRESS_CLASSW;
      break;
    case TControlKind::Panel:
      style |= WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
      break;
    case TControlKind::Label:
      style |= SS_NOTIFY;
      break;
    default:
      break;
  }
  if (FModel.Visible()) style |= WS_VISIBLE;
  if (!FModel.Enabled()) style |= WS_DISABLED;
  const TBounds b = ScaledBounds(FModel, FForm.Skin().Dpi());
  FHandle = ::CreateWindowExW(exStyle, cls, Utf8ToWide(FModel.Text()).c_str(), style,
                              b.Left, b.Top, b.Width, b.Height, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(FId)),
                              ::GetModuleHandleW(nullptr), nullptr);
  if (!FHandle) return;
  ::SetPropW(FHandle, kControlProp, this);
  ::SetWindowSubclass(FHandle, &ControlSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FForm.Skin().Font(FModel.Font())), FALSE);
  if (kind == TControlKind::ProgressBar) {
    ::SendMessageW(FHandle, PBM_SETRANGE32, FModel.Min, FModel.Max);
    ::SendMessageW(FHandle, PBM_SETPOS, FModel.Position(), 0);
  }
  if (FModel.IsCheckBox()) ::SendMessageW(FHandle, BM_SETCHECK, FModel.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  if (kind == TControlKind::RadioGroup || kind == TControlKind::CheckGroup) CreateItems();
  FitText();
}

void TWinControl::CreateItems() {
  const bool radio = FModel.Kind() == TControlKind::RadioGroup;
  const int count = static_cast<int>(FModel.Items().size());
  HFONT font = FForm.Skin().Font(FModel.Font());
  for (int i = 0; i < count; ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS |
                  (radio ? BS_AUTORADIOBUTTON : BS_AUTOCHECKBOX);
    if (i == 0) style |= WS_GROUP | WS_TABSTOP;
    if (!FModel.Enabled()) style |= WS_DISABLED;
    const TBounds r = ScaledLocalBounds(FModel, GroupItemBounds(FModel, i), FForm.Skin().Dpi());
    HWND item = ::CreateWindowExW(
        0, L"BUTTON", Utf8ToWide(FModel.Items()[static_cast<size_t>(i)]).c_str(), style, r.Left,
        r.Top, r.Width, r.Height, FHandle,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(FId + 1 + i)), ::GetModuleHandleW(nullptr),
        nullptr);
    ::SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SetPropW(item, kControlProp, this);
    ::SetWindowSubclass(item, &ControlSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    FItems.push_back(item);
  }
  SyncItems();
}

void TWinControl::SyncItems() {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (i < FModel.Items().size()) ::SetWindowTextW(FItems[i], Utf8ToWide(FModel.Items()[i]).c_str());
    const bool checked = FModel.Kind() == TControlKind::RadioGroup
                             ? static_cast<int>(i) == FModel.ItemIndex()
                             : FModel.ItemChecked(i);
    ::SendMessageW(FItems[i], BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (FModel.Kind() == TControlKind::RadioGroup) {
      // Tab enters a radio group at its selected item, at the first while none is selected.
      const int stop = FModel.ItemIndex() >= 0 ? FModel.ItemIndex() : 0;
      LONG style = ::GetWindowLongW(FItems[i], GWL_STYLE);
      style = static_cast<int>(i) == stop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP);
      ::SetWindowLongW(FItems[i], GWL_STYLE, style);
    }
    ::EnableWindow(FItems[i], FModel.Enabled());
    ::InvalidateRect(FItems[i], nullptr, FALSE);
  }
}

void TWinControl::FitText() {
  if (!FModel.AutoSize || FModel.Kind() != TControlKind::Label || !FHandle) return;
  HDC dc = ::GetDC(FHandle);
  HGDIOBJ old = ::SelectObject(dc, FForm.Skin().Font(FModel.Font()));
  const std::wstring text = Utf8ToWide(FModel.Text());
  SIZE extent{0, 0};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(FHandle, dc);
  TBounds b = FModel.Bounds();
  // The model keeps design units: the measured width is taken back to them, rounded up.
  const int width = DesignLengthOf(extent.cx + 1, FForm.Skin().Dpi());
  if (FModel.Alignment == TAlignment::Right) b.Left += b.Width - width;
  b.Width = width;
  FModel.SetBounds(b);
}

void TWinControl::Place(UINT flags) {
  const int dpi = FForm.Skin().Dpi();
  const TBounds b = ScaledBounds(FModel, dpi);
  ::SetWindowPos(FHandle, nullptr, b.Left, b.Top, b.Width, b.Height,
                 SWP_NOZORDER | SWP_NOACTIVATE | flags);
  for (size_t i = 0; i < FItems.size(); ++i) {
    const TBounds r = ScaledLocalBounds(FModel, GroupItemBounds(FModel, static_cast<int>(i)), dpi);
    ::SetWindowPos(FItems[i], nullptr, r.Left, r.Top, r.Width, r.Height,
                   SWP_NOZORDER | SWP_NOACTIVATE | flags);
  }
  // Descendants sit at whole pixels of their own design edges, which a move of this one can
  // shift by a pixel when the density is not the design's.
  if (!(flags & SWP_NOREDRAW) && dpi != kDesignDpi)
    for (auto& child : FModel.Children())
      if (child->Peer && child->Peer != this) child->Peer->ControlChanged(TChange::Bounds);
}

void TWinControl::Rescale() {
  if (!FHandle) return;
  HFONT font = FForm.Skin().Font(FModel.Font());
  ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  for (HWND item : FItems) ::SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  Place(SWP_NOREDRAW | SWP_NOCOPYBITS);
  FitText();
}

void TWinControl::Repaint() {
  if (FForm.Relayout()) return;
  if (FHandle) ::RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void TWinControl::ControlChanged(TChange what) {
  if (!FHandle) {
    // A picture changed: the parent repaints it, and the siblings over it show it through.
    if (FModel.Kind() == TControlKind::Image && FParentWindow && !FForm.Relayout())
      ::RedrawWindow(FParentWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return;
  }
  switch (what) {
    case TChange::Text:
      ::SetWindowTextW(FHandle, Utf8ToWide(FModel.Text()).c_str());
      FitText();
      break;
    case TChange::Enabled:
      ::EnableWindow(FHandle, FModel.Enabled());
      SyncItems();
      break;
    case TChange::Visible:
      ::ShowWindow(FHandle, FModel.Visible() ? SW_SHOWNA : SW_HIDE);
      if (HWND parent = ::GetParent(FHandle)) ::InvalidateRect(parent, nullptr, FALSE);
      break;
    case TChange::Checked:
      if (FModel.IsCheckBox())
        ::SendMessageW(FHandle, BM_SETCHECK, FModel.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      SyncItems();
      break;
    case TChange::Bounds:
      Place(FForm.Relayout() ? SWP_NOREDRAW | SWP_NOCOPYBITS : 0);
      break;
    case TChange::Font:
      ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FForm.Skin().Font(FModel.Font())), FALSE);
      for (HWND item : FItems)
        ::SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(FForm.Skin().Font(FModel.Font())), FALSE);
      break;
    case TChange::Items:
      SyncItems();
      break;
    case TChange::Position:
      ::SendMessageW(FHandle, PBM_SETPOS, FModel.Position(), 0);
      break;
    default:
      break;
  }
  Repaint();
  if (FForm.Relayout()) return;
  if (what == TChange::Picture) {
    // A picture is part of its parent's background: the siblings over it repaint too.
    if (HWND parent = ::GetParent(FHandle))
      ::RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
}

void TWinControl::PaintBackground(HDC dc, const RECT& client) {
  const TControlKind kind = FModel.Kind();
  if (kind == TControlKind::GroupBox || kind == TControlKind::RadioGroup ||
      kind == TControlKind::CheckGroup) {
    PaintGroupBox(*this, dc, client);
    return;
  }
  if (FModel.Color() == clNone || FModel.Transparent)
    PaintParentBackground(FHandle, dc);
  else
    FillSolid(dc, client, FModel.Color());
  // Pictures on a panel are part of its background, as their transparent siblings show them.
  for (auto& child : FModel.Children()) {
    if (child->Kind() != TControlKind::Image || !child->Visible() || child->Picture() == 0) continue;
    const TBounds b = ScaledBounds(*child, FForm.Skin().Dpi());
    DrawPicture(dc, FForm.Skin(), child->Picture(), RECT{b.Left, b.Top, b.Left + b.Width, b.Top + b.Height},
                false, PictureFillsBox(*child));
  }
}

void TWinControl::Paint(HDC dc, const RECT& client) {
  switch (FModel.Kind()) {
    case TControlKind::Button: PaintPushButton(*this, dc, client); break;
    case TControlKind::ImageButton: PaintImageButton(*this, dc, client); break;
    case TControlKind::CheckBox:
    case TControlKind::RadioButton: PaintCheckBox(*this, FHandle, dc, client); break;
    case TControlKind::Label: PaintLabel(*this, dc, client); break;
    case TControlKind::ProgressBar: PaintProgressBar(*this, dc, client); break;
    default: PaintBackground(dc, client); break;
  }
}

void PaintParentBackground(HWND child, HDC dc) {
  HWND parent = ::GetParent(child);
  if (!parent) return;
  POINT origin{0, 0};
  ::MapWindowPoints(child, parent, &origin, 1);
  POINT old{};
  ::OffsetViewportOrgEx(dc, -origin.x, -origin.y, &old);
  ::SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

LRESULT TWinControl::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const bool item = hwnd != FHandle;  // a radio group's item
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintBuffered(hwnd, [&](HDC dc, const RECT& client) {
        if (item)
          PaintCheckBox(*this, hwnd, dc, client);
        else
          Paint(dc, client);
      });
      return 0;
    case WM_PRINTCLIENT: {
      RECT client;
      ::GetClientRect(hwnd, &client);
      HDC dc = reinterpret_cast<HDC>(wp);
      if (item)
        PaintCheckBox(*this, hwnd, dc, client);
      else if (IsContainer(FModel.Kind()))
        PaintBackground(dc, client);
      else
        Paint(dc, client);
      return 0;
    }
    case WM_COMMAND:
      // Notifications of the children go to the form, which knows every control by id.
      if (HWND root = ::GetAncestor(hwnd, GA_ROOT)) return ::SendMessageW(root, WM_COMMAND, wp, lp);
      return 0;
    case WM_SETCURSOR:
      if (FModel.HandCursor && !item) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      // The system's button takes the focus as it is pressed; it goes back after the click.
      if (msg == WM_LBUTTONDOWN && FModel.KeepsFocusOnClick && !item) FForm.NoteFocusBeforeClick(::GetFocus());
      if (FModel.OnMouseDown && !item)
        FModel.OnMouseDown(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      // A label that follows the pointer (a caption strip being dragged) keeps getting its
      // moves while the button is held, however far one step takes the pointer.
      if (msg == WM_LBUTTONDOWN && FModel.OnMouseMove && !item && FModel.Kind() == TControlKind::Label)
        ::SetCapture(hwnd);
      break;
    case WM_LBUTTONUP:
      if (!item && ::GetCapture() == hwnd && FModel.Kind() == TControlKind::Label) ::ReleaseCapture();
      break;
    case WM_MOUSEMOVE:
      if (FModel.OnMouseMove && !item)
        FModel.OnMouseMove((wp & MK_LBUTTON) != 0, static_cast<short>(LOWORD(lp)),
                           static_cast<short>(HIWORD(lp)));
      if (!FTracking) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, 0};
        FTracking = ::TrackMouseEvent(&t) != FALSE;
      }
      if (!FHot) {
        FHot = true;
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      FTracking = false;
      FHot = false;
      ::InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_SETFOCUS:
      FForm.NoteFocus(hwnd);
      break;
    case WM_SETTEXT:
      if (!item && FModel.Kind() == TControlKind::Label) {
        // The system's static paints itself with its parent's brush as it takes a new text,
        // and ours would paint over that at once: store the text, paint once.
        const LRESULT result = ::DefWindowProcW(hwnd, msg, wp, lp);
        ::InvalidateRect(hwnd, nullptr, FALSE);
        return result;
      }
      break;
    case WM_NCDESTROY:
      ::RemovePropW(hwnd, kControlProp);
      ::RemoveWindowSubclass(hwnd, &ControlSubclass, kSubclassId);
      if (hwnd == FHandle) FHandle = nullptr;
      return ::DefSubclassProc(hwnd, msg, wp, lp);
    default:
      break;
  }
  const LRESULT result = ::DefSubclassProc(hwnd, msg, wp, lp);
  if (IsButtonClass(FModel.Kind())) {
    // The system's button draws itself on these; ours paints over it at once.
    switch (msg) {
      case WM_SETFOCUS:
      case WM_KILLFOCUS:
      case WM_ENABLE:
      case WM_SETTEXT:
      case BM_SETSTATE:
      case BM_SETCHECK:
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
      case WM_LBUTTONUP:
      case WM_KEYDOWN:
      case WM_KEYUP:
      case WM_UPDATEUISTATE:
      case WM_CAPTURECHANGED:
      case BM_SETSTYLE:
        ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) FForm.InvalidateDefaultButtons();
        break;
      default:
        break;
    }
  }
  return result;
}
