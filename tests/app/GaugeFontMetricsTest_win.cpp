// The metrics table of the gauge's layout tests is what GDI draws the gauge's font with.
#include "app/GaugeFontMetrics.h"
#include "ui/WinControls_win.h"

#include <gtest/gtest.h>

namespace {

TEST(GaugeFontMetrics, TheTableIsWhatGdiMeasures) {
  TSkinCache fonts;
  HDC dc = ::CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  for (int height : {-12, -11}) {
    TFontSpec font;
    font.Height = height;
    HGDIOBJ old = ::SelectObject(dc, fonts.Font(font));
    const int* table = height == -12 ? kArialWidths12 : kArialWidths11;
    for (unsigned c = 32; c < 127; ++c) {
      INT width = 0;
      ASSERT_TRUE(::GetCharWidth32W(dc, c, c, &width));
      EXPECT_EQ(table[c - 32], width) << "'" << static_cast<char>(c) << "' at " << height << " px";
    }
    // A line is the sum of its advances.
    const std::string text = "Belegt: 4194304 MB (50%)";
    const std::wstring wide(text.begin(), text.end());
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    EXPECT_EQ(extent.cx, TableTextWidth(font, text));
    ::SelectObject(dc, old);
  }
  ::DeleteDC(dc);
}

}  // namespace
