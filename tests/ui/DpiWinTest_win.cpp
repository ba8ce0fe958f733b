// A skinned window moved to a monitor of another pixel density and back, as the system tells
// it with WM_GETDPISCALEDSIZE and WM_DPICHANGED: everything follows from the design values,
// and the way back gives the very window it was.
#include "ui/DpiScale.h"
#include "ui/QuorMessageBox.h"
#include "ui/WinForm_win.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// Every control window's rectangle in its parent's client area and its font's height.
struct TSeen {
  RECT Place;
  LONG FontHeight;
  bool operator==(const TSeen& o) const {
    return ::EqualRect(&Place, &o.Place) && FontHeight == o.FontHeight;
  }
};

TSeen SeenOf(HWND hwnd) {
  TSeen s{};
  ::GetWindowRect(hwnd, &s.Place);
  ::MapWindowPoints(nullptr, ::GetParent(hwnd), reinterpret_cast<POINT*>(&s.Place), 2);
  LOGFONTW lf{};
  if (HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)))
    ::GetObjectW(font, sizeof lf, &lf);
  s.FontHeight = lf.lfHeight;
  return s;
}

std::vector<TSeen> SeenAll(HWND window) {
  std::vector<TSeen> all;
  ::EnumChildWindows(window, [](HWND child, LPARAM p) -> BOOL {
    reinterpret_cast<std::vector<TSeen>*>(p)->push_back(SeenOf(child));
    return TRUE;
  }, reinterpret_cast<LPARAM>(&all));
  return all;
}

// Every modelled control's window against its design scaled to dpi.
void ExpectLaidOutFor(TWinForm& form, int dpi) {
  ForEachControl(form.Root(), [&](TControl& c) {
    HWND hwnd = form.WindowOf(c);
    if (!hwnd) return;
    SCOPED_TRACE(c.Name());
    const TBounds b = ScaledBounds(c, dpi);
    const TSeen s = SeenOf(hwnd);
    EXPECT_EQ(s.Place.left, b.Left);
    EXPECT_EQ(s.Place.top, b.Top);
    EXPECT_EQ(s.Place.right - s.Place.left, b.Width);
    EXPECT_EQ(s.Place.bottom - s.Place.top, b.Height);
    EXPECT_EQ(s.FontHeight, ScaleToDpi(c.Font().Height, dpi));
  });
}

RECT WindowRect(HWND hwnd) {
  RECT rc;
  ::GetWindowRect(hwnd, &rc);
  return rc;
}

TEST(DpiWin, AMessageBoxMovedToA150PercentMonitorAndBackIsTheSameWindow) {
  EnsureThemeLoader();
  TfmQuorMessageBox box;
  box.FormCreate();
  box.Prepare("Quor eBrisko Management", "Disk Optimization", "This action cannot be undone. Continue?",
              MessageBoxIcon::Warning, MessageBoxButtons::YesNoCancel);
  // A radio group and a label as wide as its text join the box, as the main window has them.
  TControl& group = box.PanelBody->AddChild(TControlKind::RadioGroup, "Periods", {88, 100, 120, 70});
  group.SetItems({"5 minutes", "30 minutes", "1 hour"});
  TControl& figure = box.PanelBody->AddChild(TControlKind::Label, "Figure", {220, 140, 50, 15});
  figure.AutoSize = true;
  figure.Alignment = TAlignment::Right;
  figure.SetText("Free: 12105 MB (50%)");
  TWinForm window(box.Form, &box, nullptr);
  HWND hwnd = window.Handle();
  ASSERT_NE(hwnd, nullptr);
  const int start = window.Dpi();
  EXPECT_EQ(start, DpiOfWindowMonitor(nullptr));
  ExpectLaidOutFor(window, start);
  const RECT before = WindowRect(hwnd);
  const std::vector<TSeen> seenBefore = SeenAll(hwnd);
  const int figureRight = figure.Bounds().Left + figure.Bounds().Width;
  RECT region{};
  ASSERT_NE(::GetWindowRgnBox(hwnd, &region), ERROR);
  const int regionOverhang = (region.right - region.left) - (before.right - before.left);

  for (const int dpi : {144, 120, 192}) {
    SCOPED_TRACE(dpi);
    // The system asks for the size at the new density first, then moves the window there.
    SIZE size{0, 0};
    EXPECT_TRUE(::SendMessageW(hwnd, WM_GETDPISCALEDSIZE, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&size)));
    EXPECT_EQ(size.cx, ScaleToDpi(406, dpi));
    EXPECT_EQ(size.cy, ScaleToDpi(229, dpi));
    RECT suggested{40, 30, 40 + size.cx, 30 + size.cy};
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window.Dpi(), dpi);
    const RECT now = WindowRect(hwnd);
    EXPECT_TRUE(::EqualRect(&now, &suggested));
    ExpectLaidOutFor(window, dpi);
    // The radio items within their group, scaled the same way.
    int items = 0;
    for (HWND item = ::GetWindow(window.WindowOf(group), GW_CHILD); item; item = ::GetWindow(item, GW_HWNDNEXT), ++items) {
      const TBounds b = ScaledLocalBounds(group, GroupItemBounds(group, items), dpi);
      const TSeen s = SeenOf(item);
      EXPECT_EQ(s.Place.left, b.Left);
      EXPECT_EQ(s.Place.top, b.Top);
      EXPECT_EQ(s.Place.bottom - s.Place.top, b.Height);
      EXPECT_EQ(s.FontHeight, ScaleToDpi(group.Font().Height, dpi));
    }
    EXPECT_EQ(items, 3);
    // The measured label keeps its right edge and holds its text at the new size.
    EXPECT_EQ(figure.Bounds().Left + figure.Bounds().Width, figureRight);
    // The rounded corners follow the window's size.
    EXPECT_NE(::GetWindowRgnBox(hwnd, &region), ERROR);
    EXPECT_EQ(region.right - region.left, size.cx + regionOverhang);
  }
  SIZE size{0, 0};
  ::SendMessageW(hwnd, WM_GETDPISCALEDSIZE, MAKEWPARAM(start, start), reinterpret_cast<LPARAM>(&size));
  RECT back{before.left, before.top, before.left + size.cx, before.top + size.cy};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(start, start), reinterpret_cast<LPARAM>(&back));
  const RECT after = WindowRect(hwnd);
  EXPECT_TRUE(::EqualRect(&after, &before));
  EXPECT_TRUE(SeenAll(hwnd) == seenBefore) << "every control exactly where and as it was";
}

}  // namespace
