#include "app/GaugeLayout.h"

#include <algorithm>

namespace {

// The font one point smaller than font (points of the 96-dpi design, rounded to the nearest).
TFontSpec SmallerFont(TFontSpec font) {
  const int points = (-font.Height * 72 + 48) / 96;
  font.Height = FontHeightOfPoints(std::max(1, points - 1));
  return font;
}

}  // namespace

TGaugeLayout LayoutGaugeLabels(const std::string& used, const std::string& free,
                               const TFontSpec& font, const TTextWidth& width,
                               const TGaugeGeometry& g) {
  const int span = g.Right - g.Left;
  TGaugeLayout layout;
  auto place = [&](TGaugeFit fit, const TFontSpec& f, int usedTop, int freeTop) {
    // A text wider than the whole row is cut at its end rather than pushed outside the group.
    const int u = std::min(width(f, used) + 1, span);
    const int r = std::min(width(f, free) + 1, span);
    layout.Fit = fit;
    layout.Font = f;
    layout.Used = {g.Left, usedTop, u, g.LineHeight};
    layout.Free = {g.Right - r, freeTop, r, g.LineHeight};
  };
  const int u = width(font, used) + 1;
  const int r = width(font, free) + 1;
  if (u + kGaugePreferredGap + r <= span) {
    place(TGaugeFit::Design, font, g.Top, g.Top);
  } else if (u + kGaugeMinGap + r <= span) {
    place(TGaugeFit::NarrowGap, font, g.Top, g.Top);
  } else {
    const TFontSpec smaller = SmallerFont(font);
    if (width(smaller, used) + 1 + kGaugeMinGap + width(smaller, free) + 1 <= span) {
      place(TGaugeFit::SmallerFont, smaller, g.Top, g.Top);
    } else {
      // Each text on a line of its own, in the design font while each fits the row.
      const bool fits = u <= span && r <= span;
      place(TGaugeFit::TwoLines, fits ? font : smaller, g.UpperTop, g.Top);
    }
  }
  return layout;
}
