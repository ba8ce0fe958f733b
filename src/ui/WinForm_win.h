// A top-level window made from a model form: the skinned frame with its own title bar (when
// the model has one), every control as a real child window, notifications routed to the
// model's click handlers, the dialog keyboard, and the modal loop (Windows-only header).
#pragma once

#include "common/WinApi.h"
#include "ui/Controls.h"
#include "ui/WinControls_win.h"

#include <functional>
#include <memory>
#include <vector>

class TfmBaseUI;

class TWinForm {
 public:
  // Makes the window of root (its window class is root's name) owned by owner; frame names
  // the base window whose frame it draws, none for a plain borderless window. The window is
  // centred on the owner's monitor (without owner: the primary one) with its top-left corner
  // inside the monitor's work area, scaled to that monitor's pixel density, and stays hidden
  // until shown.
  TWinForm(TControl& root, TfmBaseUI* frame, HWND owner);
  ~TWinForm();
  TWinForm(const TWinForm&) = delete;
  TWinForm& operator=(const TWinForm&) = delete;

  // Shows the window; the keyboard focus goes to the first control that takes it.
  void Show();
  // Shows the window modally: the owner is disabled until the window is done; returns the
  // result it was closed with (2 when the system closed it).
  int ShowModal();
  // Ends a modal showing with result, or closes a modeless window.
  void Close(int result);
  // Gives the keyboard focus to the control of model.
  void FocusControl(const TControl& model);
  // A control window of this form took the focus: it gets it back when the form is activated
  // again (disabling the form for a modal window takes the focus away before that).
  void NoteFocus(HWND control) noexcept { FLastFocus = control; }
  // The focus as a button that keeps it on a click is pressed; the click gives it back.
  void NoteFocusBeforeClick(HWND focus) noexcept { FFocusBeforeClick = focus; }
  // Repaints the default buttons, whose outline follows the focus.
  void InvalidateDefaultButtons();

  HWND Handle() const noexcept { return FHandle; }
  TControl& Root() const noexcept { return FRoot; }
  TSkinCache& Skin() noexcept { return FSkin; }
  // The pixel density the window is laid out for.
  int Dpi() const noexcept { return FSkin.Dpi(); }
  // Whether the controls are being laid out for a new density (they do not paint meanwhile).
  bool Relayout() const noexcept { return FRelayout; }
  // Lays the window out for dpi: its size from the design, every control's font and place,
  // then one repaint; the window's top-left corner goes to where (screen pixels, or the
  // current corner when null).
  void ApplyDpi(int dpi, const POINT* where);
  // The window of a model control, or null.
  HWND WindowOf(const TControl& model) const;
  // Result the modal showing ends with; 0 while it runs.
  int ModalResult = 0;
  // Sees every message of the window before the default handling; sets handled to stop it.
  std::function<LRESULT(UINT msg, WPARAM wp, LPARAM lp, bool& handled)> OnMessage;
  // Sees every key message of the thread's loop before the focused control (key preview).
  std::function<void(const MSG& msg)> OnKey;
  // Runs when the window is activated.
  std::function<void()> OnActivate;
  // Runs when the window has been laid out for a new pixel density, before it repaints.
  std::function<void()> OnDpiChanged;
  // Runs as the window closes, before it is destroyed.
  std::function<void()> OnClose;

  // Routes a notification of a control (by id) to its model.
  void Command(int id, int code, HWND from);
  // Paints the frame or the plain background of the form.
  void PaintForm(HDC dc, const RECT& client);
  // True when msg was a dialog-keyboard message of this window and has been handled.
  bool PreTranslate(MSG& msg);

  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND FHandle = nullptr;

 private:
  void Realize(TControl& model, HWND parent);
  TWinControl* ById(int id) const;
  RECT CloseSpot() const;
  RECT MinimizeSpot() const;
  // Height of the frame's title bar in pixels.
  int TitleBarPixels() const;
  // A design rectangle of the form's client area in pixels.
  RECT Scaled(int left, int top, int right, int bottom) const;
  void UpdateRegion();
  void PressFrameButton(int which);
  // The first control in creation order that takes the focus, or null.
  HWND FirstTabStop() const;
  // Gives the focus back to the control that had it last, else to the first that takes it.
  void RestoreFocus();

  TControl& FRoot;
  TfmBaseUI* FFrame;
  HWND FOwner;
  TSkinCache FSkin;
  std::vector<std::unique_ptr<TWinControl>> FControls;
  int FNextId = 1000;
  bool FModal = false;
  bool FRelayout = false;  // controls are being laid out anew: no painting yet
  int FHotButton = 0;      // 1 minimize, 2 close
  int FPressedButton = 0;
  HWND FLastFocus = nullptr;
  HWND FFocusBeforeClick = nullptr;
};

// Runs the thread's message loop until done() is true or WM_QUIT arrives (which is posted
// again for the outer loop); dialog keys go to the active skinned form.
void RunMessageLoop(const std::function<bool()>& done);
// Offers msg to the skinned form that is active or holds its window (dialog keys, key
// preview); true when the form handled it.
bool PreTranslateFormMessage(MSG& msg);
// Makes the base windows read "msgbox.skn" when start-up has set no theme source.
void EnsureThemeLoader();
// The skinned form whose window is hwnd or contains it, or null.
TWinForm* FormOfWindow(HWND hwnd);
// The pixel density of the monitor window is on, or of the primary monitor when window is
// null; the system's density where the system cannot tell per monitor.
int DpiOfWindowMonitor(HWND window);
