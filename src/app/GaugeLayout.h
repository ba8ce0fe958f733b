// The memory gauge's two labels over its bar (portable): both texts measured in the font they
// are drawn in, laid out so that they never overlap and are never clipped, at any figure.
#pragma once

#include "ui/Controls.h"

#include <functional>
#include <string>

// Width in pixels of text drawn in font, at the windows' design scale.
using TTextWidth = std::function<int(const TFontSpec& font, const std::string& text)>;

// Where the labels may go in the "Memory Optimization" group: lbUsed starts at Left, lbFree
// ends at Right (a little past the bar, which runs from 6 to 245), one line at Top; a second
// line sits at UpperTop, right below the period group (which ends at 105) and above the first.
struct TGaugeGeometry {
  int Left = 6;
  int Right = 247;
  int Top = 120;
  int UpperTop = 105;
  int LineHeight = 15;
};

// The space kept between the two texts on one line: as designed, and the least it may shrink to.
inline constexpr int kGaugePreferredGap = 8;
inline constexpr int kGaugeMinGap = 3;

// How the labels were fitted, in the order the layout tries.
enum class TGaugeFit { Design, NarrowGap, SmallerFont, TwoLines };

struct TGaugeLayout {
  TGaugeFit Fit = TGaugeFit::Design;
  TFontSpec Font;
  TBounds Used;
  TBounds Free;
};

// Lays out the texts used and free, designed in font: on one line at the design positions while
// they fit with the preferred gap, then with the gap shrunk to its least, then in the font 1 pt
// smaller; otherwise Free stays on the line above the bar and Used goes one line up. Each label
// is as wide as its text plus one pixel; Free is right-aligned.
TGaugeLayout LayoutGaugeLabels(const std::string& used, const std::string& free,
                               const TFontSpec& font, const TTextWidth& width,
                               const TGaugeGeometry& geometry = {});
