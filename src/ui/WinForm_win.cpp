#include "ui/WinForm_win.h"

#include "common/MessagePump_win.h"
#include "common/WinText_win.h"
#include "ui/BaseForms.h"
#include "ui/DpiScale.h"
#include "ui/Theme.h"
#include "ui/WindowProc_win.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace {

const wchar_t kFormProp[] = L"QuorSkinForm";

// The system's pixel density (the primary monitor's at sign-in).
int SystemDpi() {
  HDC dc = ::GetDC(nullptr);
  const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSX) : 0;
  if (dc) ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : kDesignDpi;
}

// The density of a window's monitor as the system scales it for a per-monitor aware
// process; systems before Windows 10 1607 know only the system's density.
int DpiOfWindow(HWND hwnd) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && hwnd)
    if (const UINT dpi = getDpiForWindow(hwnd)) return static_cast<int>(dpi);
  return SystemDpi();
}

// A colour a share of the way from a towards white (share in 0..255).
TColorValue Lighter(TColorValue a, int share) {
  auto mix = [share](unsigned v) { return static_cast<uint8_t>(v + (255 - v) * share / 255); };
  return MakeColor(mix(a & 0xFF), mix((a >> 8) & 0xFF), mix((a >> 16) & 0xFF));
}

void EnsureCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    // The pumps inside waits (a service request) give the skinned windows their keys too.
    SetMessageFilter(&PreTranslateFormMessage);
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

// The controls of root in creation order, frames included (they have no window).
void Collect(TControl& root, std::vector<TControl*>& out) {
  for (auto& c : root.Children()) {
    out.push_back(c.get());
    Collect(*c, out);
  }
}

}  // namespace

void EnsureThemeLoader() {
  static const bool installed = [] {
    SetThemeLoader([](const std::string&) { return std::make_shared<const TTheme>(LoadQuorTheme()); });
    return true;
  }();
  (void)installed;
}

TWinForm* FormOfWindow(HWND hwnd) {
  if (!hwnd) return nullptr;
  HWND root = ::GetAncestor(hwnd, GA_ROOT);
  return root ? static_cast<TWinForm*>(::GetPropW(root, kFormProp)) : nullptr;
}

TWinForm::TWinForm(TControl& root, TfmBaseUI* frame, HWND owner)
    : FRoot(root), FFrame(frame), FOwner(owner) {
  EnsureCommonControls();
  const std::wstring cls = Utf8ToWide(root.Name());
  RegisterWindowClass<TWinForm>(cls.c_str(), CS_DBLCLKS);
  // Centred on the owner's monitor at that monitor's density: a window created there takes it.
  HMONITOR monitor = owner ? ::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)
                           : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (!monitor || !::GetMonitorInfoW(monitor, &mi))
    mi.rcWork = mi.rcMonitor = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  const RECT area = mi.rcMonitor;
  int dpi = owner ? DpiOfWindow(owner) : SystemDpi();
  // A window larger than a small screen at a high scale keeps its title bar on the screen,
  // where it can be dragged from.
  const RECT work = mi.rcWork.right > mi.rcWork.left ? mi.rcWork : area;
  auto place = [&](int d, int& x, int& y, TBounds& size) {
    size = ScaledWindowSize(root, d);
    x = std::max<int>(work.left, area.left + (area.right - area.left - size.Width) / 2);
    y = std::max<int>(work.top, area.top + (area.bottom - area.top - size.Height) / 2);
  };
  int x = 0, y = 0;
  TBounds size;
  place(dpi, x, y, size);
  DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU;
  if (frame && frame->ShowFrameButtons) style |= WS_MINIMIZEBOX;
  ::CreateWindowExW(WS_EX_CONTROLPARENT, cls.c_str(), Utf8ToWide(root.Text()).c_str(), style, x, y,
                    size.Width, size.Height, owner, nullptr, ::GetModuleHandleW(nullptr), this);
  if (!FHandle) return;
  ::SetPropW(FHandle, kFormProp, this);
  // The system may know the monitor's density better than the guess.
  if (const int actual = DpiOfWindow(FHandle); actual != dpi) {
    dpi = actual;
    place(dpi, x, y, size);
    ::SetWindowPos(FHandle, nullptr, x, y, size.Width, size.Height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  FSkin.SetDpi(dpi);
  const TBounds& b = root.Bounds();
  root.SetBounds({x, y, b.Width, b.Height});
  Realize(root, FHandle);
  UpdateRegion();
}

int DpiOfWindowMonitor(HWND window) { return window ? DpiOfWindow(window) : SystemDpi(); }

RECT TWinForm::Scaled(int left, int top, int right, int bottom) const {
  const int dpi = Dpi();
  return RECT{ScaleToDpi(left, dpi), ScaleToDpi(top, dpi), ScaleToDpi(right, dpi), ScaleToDpi(bottom, dpi)};
}

void TWinForm::ApplyDpi(int dpi, const POINT* where) {
  if (!FHandle || dpi <= 0) return;
  FSkin.SetDpi(dpi);
  FRelayout = true;
  // Children first without painting, then the window, then one repaint of everything: no
  // control is ever seen at the old size in the new window.
  for (auto& c : FControls) c->Rescale();
  FRelayout = false;
  RECT rc;
  ::GetWindowRect(FHandle, &rc);
  const POINT corner = where ? *where : POINT{rc.left, rc.top};
  const TBounds size = ScaledWindowSize(FRoot, dpi);
  ::SetWindowPos(FHandle, nullptr, corner.x, corner.y, size.Width, size.Height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  const TBounds& b = FRoot.Bounds();
  FRoot.SetBounds({corner.x, corner.y, b.Width, b.Height});
  UpdateRegion();
  if (OnDpiChanged) {
    FRelayout = true;
    OnDpiChanged();
    FRelayout = false;
  }
  ::RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

TWinForm::~TWinForm() {
  // The windows go before the objects they point to: their subclass procedures and the
  // form's own procedure still run while DestroyWindow takes them down, and the control
  // objects, cleared at the form's WM_NCDESTROY, go last. Every window kind ends here.
  if (FHandle) ::DestroyWindow(FHandle);
  FControls.clear();
}

void TWinForm::Realize(TControl& model, HWND parent) {
  for (auto& child : model.Children()) {
    if (child->Kind() == TControlKind::Frame) {
      // The frame is drawn by the form itself; its children live in the form's window.
      Realize(*child, parent);
      continue;
    }
    if (child->Kind() == TControlKind::Menu || child->Kind() == TControlKind::ImageList ||
        child->Kind() == TControlKind::MenuItem)
      continue;
    const int id = FNextId;
    FNextId += 1 + static_cast<int>(child->Items().size());
    auto control = std::make_unique<TWinControl>(*this, *child, id);
    control->Create(parent);
    HWND hwnd = control->Handle();
    FControls.push_back(std::move(control));
    if (hwnd) Realize(*child, hwnd);
  }
}

TWinControl* TWinForm::ById(int id) const {
  for (const auto& c : FControls)
    if (id >= c->Id() && id <= c->Id() + static_cast<int>(c->ItemWindows().size())) return c.get();
  return nullptr;
}

HWND TWinForm::WindowOf(const TControl& model) const {
  for (const auto& c : FControls)
    if (&c->Model() == &model) return c->Handle();
  return nullptr;
}

void TWinForm::InvalidateDefaultButtons() {
  for (const auto& c : FControls)
    if (c->Model().Default && c->Handle()) ::InvalidateRect(c->Handle(), nullptr, FALSE);
}

void TWinForm::FocusControl(const TControl& model) {
  if (HWND hwnd = WindowOf(model)) ::SetFocus(hwnd);
}

HWND TWinForm::FirstTabStop() const {
  // The first control, in creation order, that takes the focus.
  std::vector<TControl*> order;
  Collect(FRoot, order);
  for (TControl* c : order) {
    HWND hwnd = WindowOf(*c);
    if (hwnd && (::GetWindowLongW(hwnd, GWL_STYLE) & WS_TABSTOP) && ::IsWindowVisible(hwnd) &&
        ::IsWindowEnabled(hwnd))
      return hwnd;
  }
  return nullptr;
}

void TWinForm::RestoreFocus() {
  HWND target = FLastFocus;
  if (!target || !::IsWindow(target) || !::IsChild(FHandle, target) ||
      !::IsWindowVisible(target) || !::IsWindowEnabled(target))
    target = FirstTabStop();
  if (target) ::SetFocus(target);
}

void TWinForm::Show() {
  if (!FHandle) return;
  ::ShowWindow(FHandle, SW_SHOW);
  ::SetForegroundWindow(FHandle);
  // The keyboard focus starts on the first control that takes it.
  FLastFocus = nullptr;
  RestoreFocus();
  ::UpdateWindow(FHandle);
}

int TWinForm::ShowModal() {
  if (!FHandle) return 2;
  ModalResult = 0;
  FModal = true;
  // Every other window of the thread waits while the box is up, as with any modal window.
  std::vector<HWND> disabled;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND wnd, LPARAM self) -> BOOL {
        auto* list = reinterpret_cast<std::vector<HWND>*>(self);
        if (::IsWindowVisible(wnd) && ::IsWindowEnabled(wnd)) list->push_back(wnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&disabled));
  disabled.erase(std::remove(disabled.begin(), disabled.end(), FHandle), disabled.end());
  for (HWND wnd : disabled) ::EnableWindow(wnd, FALSE);
  Show();
  RunMessageLoop([this] { return ModalResult != 0 || !FHandle; });
  // The others come back before this window goes, so the activation returns to them.
  for (HWND wnd : disabled)
    if (::IsWindow(wnd)) ::EnableWindow(wnd, TRUE);
  if (FHandle) ::ShowWindow(FHandle, SW_HIDE);
  if (FOwner && ::IsWindow(FOwner)) ::SetActiveWindow(FOwner);
  FModal = false;
  return ModalResult != 0 ? ModalResult : 2;
}

void TWinForm::Close(int result) {
  if (FModal) {
    ModalResult = result;
    return;
  }
  if (FHandle) ::PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

void TWinForm::Command(int id, int code, HWND from) {
  if (id == IDCANCEL && (!from || !ById(id))) {
    // Escape presses the first Escape button in creation order; without one nothing happens.
    std::vector<TControl*> order;
    Collect(FRoot, order);
    for (TControl* c : order)
      if (c->Cancel && c->Visible() && c->Enabled()) {
        Command(::GetDlgCtrlID(WindowOf(*c)), BN_CLICKED, WindowOf(*c));
        return;
      }
    return;
  }
  TWinControl* control = ById(id);
  if (!control || code != BN_CLICKED) return;
  TControl& m = control->Model();
  if (!m.Enabled()) return;
  if (m.Kind() == TControlKind::RadioGroup || m.Kind() == TControlKind::CheckGroup) {
    // The item's own window has already changed its state: the model follows it.
    const int index = id - control->Id() - 1;
    if (index < 0 || static_cast<size_t>(index) >= control->ItemWindows().size()) return;
    const bool checked =
        ::SendMessageW(control->ItemWindows()[static_cast<size_t>(index)], BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (m.Kind() == TControlKind::RadioGroup)
      m.SetItemIndex(index);
    else
      m.SetItemChecked(static_cast<size_t>(index), checked);
    if (m.OnClick) m.OnClick();
    return;
  }
  if (m.IsCheckBox()) {
    // The system's check box has already changed its state.
    m.SetChecked(::SendMessageW(control->Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED);
    if (m.OnClick) m.OnClick();
    return;
  }
  if (m.KeepsFocusOnClick) {
    const HWND before = std::exchange(FFocusBeforeClick, nullptr);
    if (before && before != from && ::IsWindow(before) && ::IsChild(FHandle, before) &&
        ::IsWindowVisible(before) && ::IsWindowEnabled(before))
      ::SetFocus(before);
  }
  if (m.OnClick) m.OnClick();
  if (m.ModalResult != 0) Close(m.ModalResult);
}

RECT TWinForm::CloseSpot() const {
  const int w = FRoot.Bounds().Width, border = FFrame ? FFrame->FrameBorder : 0;
  return Scaled(w - border - 4 - 22, 4, w - border - 4, 4 + 18);
}

RECT TWinForm::MinimizeSpot() const {
  const int w = FRoot.Bounds().Width, border = FFrame ? FFrame->FrameBorder : 0;
  return Scaled(w - border - 4 - 22 - 24, 4, w - border - 4 - 24, 4 + 18);
}

int TWinForm::TitleBarPixels() const { return FFrame ? FSkin.Scale(FFrame->TitleBarHeight) : 0; }

void TWinForm::UpdateRegion() {
  if (!FHandle || !FFrame) return;
  RECT rc;
  ::GetWindowRect(FHandle, &rc);
  // Round top corners only: the rounded rectangle reaches below the bottom edge.
  // The ellipse of a corner is twice as wide as its radius.
  const int radius = FSkin.Scale(FFrame->CornerRadius);
  HRGN region = ::CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + radius + 1,
                                     2 * radius, 2 * radius);
  // The system owns the region from here on.
  if (!::SetWindowRgn(FHandle, region, TRUE)) ::DeleteObject(region);
}

void TWinForm::PaintForm(HDC dc, const RECT& client) {
  if (FFrame) {
    const TControl& frame = *FFrame->fmBase;
    const TColorValue border = SkinColor(frame, "frame.border", frame.BorderColor());
    auto S = [this](int v) { return FSkin.Scale(v); };
    const int titleHeight = TitleBarPixels(), borderWidth = S(FFrame->FrameBorder);
    const int cornerRadius = FFrame->CornerRadius;
    FillSolid(dc, client, SkinColor(frame, "frame.face", frame.Color()));
    RECT title{0, 0, client.right, titleHeight};
    FillGradient(dc, title, SkinColor(frame, "frame.titlebar.top", Lighter(border, 70)),
                 SkinColor(frame, "frame.titlebar.bottom", border));
    // A thin light line under the top edge gives the bar some depth.
    const POINT shine[] = {{S(cornerRadius / 2), S(1)}, {client.right - S(cornerRadius / 2), S(1)}};
    DrawLines(dc, shine, 2, S(1), Lighter(border, 150));
    RECT edge{0, titleHeight, borderWidth, client.bottom};
    FillSolid(dc, edge, border);
    edge = RECT{client.right - borderWidth, titleHeight, client.right, client.bottom};
    FillSolid(dc, edge, border);
    edge = RECT{0, client.bottom - borderWidth, client.right, client.bottom};
    FillSolid(dc, edge, border);
    // The caption.
    const std::wstring caption = Utf8ToWide(frame.Text());
    HGDIOBJ oldFont = ::SelectObject(dc, FSkin.Font(frame.Font()));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ColorRefOf(SkinColor(frame, "frame.caption.text", frame.Font().Color)));
    RECT text{S(8), 0, FFrame->ShowFrameButtons ? MinimizeSpot().left - S(4) : client.right - S(8), titleHeight};
    ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    ::SelectObject(dc, oldFont);
    if (FFrame->ShowFrameButtons) {
      for (int which = 1; which <= 2; ++which) {
        const RECT spot = which == 1 ? MinimizeSpot() : CloseSpot();
        const bool pressed = FPressedButton == which && FHotButton == which;
        const bool hot = FHotButton == which;
        TColorValue face = SkinColor(frame, "frame.button.face", Lighter(border, 40));
        if (hot) face = which == 2 ? MakeColor(212, 64, 52) : SkinColor(frame, "frame.button.hot", Lighter(border, 100));
        if (pressed) face = which == 2 ? MakeColor(170, 40, 32) : border;
        DrawShape(dc, TShape::RoundRect, spot, Lighter(border, 160), face, S(5), S(1));
        const TColorValue glyph = SkinColor(frame, "frame.button.glyph", clWhite);
        const int cx = (spot.left + spot.right) / 2, cy = (spot.top + spot.bottom) / 2;
        if (which == 1) {
          const POINT bar[] = {{cx - S(5), cy + S(4)}, {cx + S(5), cy + S(4)}};
          DrawLines(dc, bar, 2, S(2), glyph);
        } else {
          const POINT down[] = {{cx - S(4), cy - S(4)}, {cx + S(5), cy + S(5)}};
          const POINT up[] = {{cx + S(4), cy - S(4)}, {cx - S(5), cy + S(5)}};
          DrawLines(dc, down, 2, S(2), glyph);
          DrawLines(dc, up, 2, S(2), glyph);
        }
      }
    }
  } else {
    FillSolid(dc, client, FRoot.Color() != clNone ? FRoot.Color() : clWhite);
  }
  // Pictures directly on the form are part of its background.
  for (auto& child : FRoot.Children()) {
    if (child->Kind() != TControlKind::Image || !child->Visible() || child->Picture() == 0) continue;
    const TBounds b = ScaledBounds(*child, Dpi());
    DrawPicture(dc, FSkin, child->Picture(), RECT{b.Left, b.Top, b.Left + b.Width, b.Top + b.Height},
                false, PictureFillsBox(*child));
  }
}

bool TWinForm::PreTranslate(MSG& msg) {
  if (!FHandle) return false;
  if (OnKey && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST &&
      (msg.hwnd == FHandle || ::IsChild(FHandle, msg.hwnd)))
    OnKey(msg);
  if (msg.message == WM_KEYDOWN && (msg.hwnd == FHandle || ::IsChild(FHandle, msg.hwnd))) {
    // Enter presses the focused push button, else the default one; Escape the first Escape
    // button. Done here rather than left to the dialog manager, whose choice depends on how
    // the focus got where it is.
    if (msg.wParam == VK_RETURN) {
      HWND focus = ::GetFocus();
      if (focus && ::IsChild(FHandle, focus) && IsPushButtonWindow(focus)) {
        Command(::GetDlgCtrlID(focus), BN_CLICKED, focus);
      } else {
        const LRESULT def = ::SendMessageW(FHandle, DM_GETDEFID, 0, 0);
        if (HIWORD(def) == DC_HASDEFID) Command(LOWORD(def), BN_CLICKED, nullptr);
      }
      return true;
    }
    if (msg.wParam == VK_ESCAPE) {
      Command(IDCANCEL, BN_CLICKED, nullptr);
      return true;
    }
  }
  return ::IsDialogMessageW(FHandle, &msg) != FALSE;
}

void TWinForm::PressFrameButton(int which) {
  if (which == 2) {
    ::SendMessageW(FHandle, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (which == 1) {
    ::SendMessageW(FHandle, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  }
}

LRESULT TWinForm::HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (OnMessage) {
    bool handled = false;
    const LRESULT r = OnMessage(msg, wp, lp, handled);
    if (handled) return r;
  }
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintBuffered(hwnd, [this](HDC dc, const RECT& client) { PaintForm(dc, client); });
      return 0;
    case WM_PRINTCLIENT: {
      RECT client;
      ::GetClientRect(hwnd, &client);
      PaintForm(reinterpret_cast<HDC>(wp), client);
      return 0;
    }
    case WM_SIZE:
      UpdateRegion();
      break;
    case WM_GETDPISCALEDSIZE: {
      // The size at the new density comes from the design, so that moving to another monitor
      // and back gives the very same window.
      const TBounds size = ScaledWindowSize(FRoot, static_cast<int>(LOWORD(wp)));
      auto* out = reinterpret_cast<SIZE*>(lp);
      out->cx = size.Width;
      out->cy = size.Height;
      return TRUE;
    }
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lp);
      const POINT corner{suggested->left, suggested->top};
      ApplyDpi(static_cast<int>(LOWORD(wp)), &corner);
      return 0;
    }
    case WM_NCHITTEST: {
      const LRESULT hit = ::DefWindowProcW(hwnd, msg, wp, lp);
      if (hit != HTCLIENT || !FFrame) return hit;
      POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      ::ScreenToClient(hwnd, &pt);
      if (pt.y >= TitleBarPixels()) return HTCLIENT;
      if (FFrame->ShowFrameButtons) {
        const RECT close = CloseSpot(), minimize = MinimizeSpot();
        if (::PtInRect(&close, pt) || ::PtInRect(&minimize, pt)) return HTCLIENT;
      }
      return HTCAPTION;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      if (!FFrame || !FFrame->ShowFrameButtons) break;
      POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      const RECT close = CloseSpot(), minimize = MinimizeSpot();
      const int over = ::PtInRect(&close, pt) ? 2 : ::PtInRect(&minimize, pt) ? 1 : 0;
      if (over != FHotButton) {
        FHotButton = over;
        RECT title{0, 0, FSkin.Scale(FRoot.Bounds().Width), TitleBarPixels()};
        ::InvalidateRect(hwnd, &title, FALSE);
        if (over) {
          TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, 0};
          ::TrackMouseEvent(&t);
        }
      }
      if (msg == WM_LBUTTONDOWN && over) {
        FPressedButton = over;
        ::SetCapture(hwnd);
      } else if (msg == WM_LBUTTONUP && FPressedButton) {
        const int pressed = FPressedButton;
        FPressedButton = 0;
        ::ReleaseCapture();
        ::InvalidateRect(hwnd, nullptr, FALSE);
        if (pressed == over) PressFrameButton(pressed);
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      if (FHotButton && !FPressedButton) {
        FHotButton = 0;
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_COMMAND:
      Command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return 0;
    case DM_GETDEFID: {
      std::vector<TControl*> order;
      Collect(FRoot, order);
      for (TControl* c : order)
        if (c->Default && c->Visible() && c->Enabled())
          if (HWND h = WindowOf(*c)) return MAKELRESULT(::GetDlgCtrlID(h), DC_HASDEFID);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        // Remember the control that had the focus: it gets it back when the window comes
        // back (after a modal window, or a switch to another program).
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(hwnd, focus)) FLastFocus = focus;
        break;
      }
      if (OnActivate) OnActivate();
      // The default handling would give the focus to the window itself.
      if (!::IsIconic(hwnd)) {
        RestoreFocus();
        return 0;
      }
      break;
    case WM_DESTROY:
      ::RemovePropW(hwnd, kFormProp);
      break;
    case WM_CLOSE:
      if (FModal) {
        // Closed by the system: the result of a box without a button press.
        ModalResult = 2;
        return 0;
      }
      if (OnClose) OnClose();
      ::DestroyWindow(hwnd);
      return 0;
    case WM_NCDESTROY:
      FControls.clear();
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

bool PreTranslateFormMessage(MSG& msg) {
  TWinForm* form = FormOfWindow(::GetActiveWindow());
  if (!form) form = FormOfWindow(msg.hwnd);
  return form && form->PreTranslate(msg);
}

void RunMessageLoop(const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // The outer loop ends too.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (PreTranslateFormMessage(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}
