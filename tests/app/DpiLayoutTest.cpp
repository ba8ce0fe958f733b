// The main window laid out for the pixel densities of common display scales: every control
// scaled from its design values, inside its parent, clear of the controls it is clear of at
// 96 dpi, the bottom buttons aligned as designed, and 96 dpi giving the design itself.
#include "app/PerformanceFixture.h"
#include "ui/DpiScale.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A control's rectangle, or a radio item's, in pixels relative to its window parent.
struct TPlaced {
  const TControl* Parent;  // the window parent (a radio item's is its group)
  std::string Name;
  TBounds Design;  // the same at 96 dpi
  TBounds Pixels;
};

std::vector<TPlaced> Place(TControl& root, int dpi) {
  std::vector<TPlaced> out;
  ForEachControl(root, [&](TControl& c) {
    if (c.Kind() == TControlKind::Frame) return;  // drawn by its form, no window
    out.push_back({WindowParentOf(c), c.Name(), ScaledBounds(c, kDesignDpi), ScaledBounds(c, dpi)});
    for (size_t i = 0; i < c.Items().size(); ++i) {
      const TBounds item = GroupItemBounds(c, static_cast<int>(i));
      out.push_back({&c, c.Name() + "/" + c.Items()[i], ScaledLocalBounds(c, item, kDesignDpi),
                     ScaledLocalBounds(c, item, dpi)});
    }
  });
  return out;
}

bool Overlap(const TBounds& a, const TBounds& b) {
  return a.Left < b.Left + b.Width && b.Left < a.Left + a.Width && a.Top < b.Top + b.Height &&
         b.Top < a.Top + a.Height;
}

// The size in pixels of a window parent at dpi.
TBounds SizeOf(const TControl* parent, const TControl& root, int dpi) {
  return parent == &root || !parent ? ScaledWindowSize(root, dpi) : ScaledBounds(*parent, dpi);
}

TEST(DpiLayout, MainWindowAtCommonScalesKeepsContainmentSeparationAndAlignment) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  const std::vector<TPlaced> design = Place(w.Form, kDesignDpi);
  for (const TPlaced& p : design) {
    SCOPED_TRACE(p.Name);
    // At 96 dpi the pixels are the design values.
    EXPECT_EQ(p.Pixels, p.Design);
  }
  for (const int dpi : {120, 144, 192}) {
    SCOPED_TRACE(dpi);
    const std::vector<TPlaced> placed = Place(w.Form, dpi);
    ASSERT_EQ(placed.size(), design.size());
    const TBounds window = ScaledWindowSize(w.Form, dpi);
    EXPECT_EQ(window.Width, ScaleToDpi(806, dpi));
    EXPECT_EQ(window.Height, ScaleToDpi(629, dpi));
    for (size_t i = 0; i < placed.size(); ++i) {
      const TPlaced& p = placed[i];
      SCOPED_TRACE(p.Name);
      // Within a pixel of the design value scaled, for place and size alike.
      EXPECT_NEAR(p.Pixels.Width, ScaleToDpi(p.Design.Width, dpi), 1);
      EXPECT_NEAR(p.Pixels.Height, ScaleToDpi(p.Design.Height, dpi), 1);
      EXPECT_NEAR(p.Pixels.Left, ScaleToDpi(p.Design.Left, dpi), 1);
      EXPECT_NEAR(p.Pixels.Top, ScaleToDpi(p.Design.Top, dpi), 1);
      // Inside its parent wherever it is inside at 96 dpi.
      const TBounds parent96 = SizeOf(p.Parent, w.Form, kDesignDpi);
      const TBounds parent = SizeOf(p.Parent, w.Form, dpi);
      if (p.Design.Left >= 0 && p.Design.Top >= 0 && p.Design.Left + p.Design.Width <= parent96.Width &&
          p.Design.Top + p.Design.Height <= parent96.Height) {
        EXPECT_GE(p.Pixels.Left, 0);
        EXPECT_GE(p.Pixels.Top, 0);
        EXPECT_LE(p.Pixels.Left + p.Pixels.Width, parent.Width);
        EXPECT_LE(p.Pixels.Top + p.Pixels.Height, parent.Height);
      } else {
        ADD_FAILURE() << "outside its parent at 96 dpi";
      }
      // Clear of every sibling it is clear of at 96 dpi.
      for (size_t j = i + 1; j < placed.size(); ++j) {
        if (placed[j].Parent == p.Parent && !Overlap(design[i].Pixels, design[j].Pixels)) {
          EXPECT_FALSE(Overlap(p.Pixels, placed[j].Pixels)) << "overlaps " << placed[j].Name;
        }
      }
    }
    // The bottom buttons from the right: Cancel 26 from the body's right edge, 6 to OK, 24 to
    // Apply, all on one line 14 above the bottom (a pixel either way for the rounding).
    const TBounds body = ScaledBounds(*w.PanelBody, dpi);
    const TBounds cancel = ScaledBounds(*w.btnCancel, dpi), ok = ScaledBounds(*w.btnOK, dpi),
                  apply = ScaledBounds(*w.btnApply, dpi);
    EXPECT_NEAR(body.Width - (cancel.Left + cancel.Width), ScaleToDpi(26, dpi), 1);
    EXPECT_NEAR(cancel.Left - (ok.Left + ok.Width), ScaleToDpi(6, dpi), 1);
    EXPECT_NEAR(ok.Left - (apply.Left + apply.Width), ScaleToDpi(24, dpi), 1);
    EXPECT_NEAR(body.Height - (cancel.Top + cancel.Height), ScaleToDpi(14, dpi), 1);
    EXPECT_EQ(ok.Top, cancel.Top);
    EXPECT_EQ(apply.Top, cancel.Top);
    EXPECT_EQ(ok.Height, cancel.Height);
    EXPECT_EQ(apply.Height, cancel.Height);
  }
  // Laid out at another density and back: the model itself never took a scaled value.
  EXPECT_EQ(w.btnCancel->Bounds(), (TBounds{670, 562, 104, 24}));
  const std::vector<TPlaced> again = Place(w.Form, kDesignDpi);
  for (size_t i = 0; i < again.size(); ++i) EXPECT_EQ(again[i].Pixels, design[i].Pixels) << again[i].Name;
}

}  // namespace
