// Advance widths of the gauge's font as GDI draws it: "Arial" at 9 pt (-12 px) and 8 pt (-11 px),
// regular, for the characters 32 to 126. Measured with GetCharWidth32W under Wine, where the
// face is Liberation Sans, metric-compatible with Arial; GaugeFontMetricsTest_win checks the
// table against the machine's GDI. GDI adds the advances of a line without kerning.
#pragma once

#include "ui/Controls.h"

#include <string>

inline constexpr int kArialWidths12[95] = {
    3, 3, 4, 7, 7, 11, 8, 2, 4, 4, 5, 7, 3, 4, 3, 3, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 3, 3, 7, 7, 7, 7, 12, 8, 8, 9, 9, 8,
    7, 9, 9, 3, 6, 8, 7, 10, 9, 9, 8, 9, 9, 8, 7, 9, 8, 11, 8,
    8, 7, 3, 3, 3, 6, 7, 4, 7, 7, 6, 7, 7, 3, 7, 7, 3, 3, 6,
    3, 10, 7, 7, 7, 7, 4, 6, 3, 7, 6, 9, 6, 6, 6, 4, 3, 4, 7,
};
inline constexpr int kArialWidths11[95] = {
    3, 3, 4, 6, 6, 10, 7, 2, 4, 4, 4, 6, 3, 4, 3, 3, 6, 6, 6,
    6, 6, 6, 6, 6, 6, 6, 3, 3, 6, 6, 6, 6, 11, 7, 7, 8, 8, 7,
    7, 9, 8, 3, 6, 7, 6, 9, 8, 9, 7, 9, 8, 7, 7, 8, 7, 10, 7,
    7, 7, 3, 3, 3, 5, 6, 4, 6, 6, 6, 6, 6, 3, 6, 6, 2, 2, 6,
    2, 9, 6, 6, 6, 6, 4, 6, 3, 6, 6, 8, 6, 6, 6, 4, 3, 4, 6,
};

// The width of text in the table's font (-12 or -11 px; other characters count as "M").
inline int TableTextWidth(const TFontSpec& font, const std::string& text) {
  const int* widths = font.Height == -11 ? kArialWidths11 : kArialWidths12;
  int sum = 0;
  for (unsigned char c : text) sum += widths[(c >= 32 && c < 127 ? c : 'M') - 32];
  return sum;
}
