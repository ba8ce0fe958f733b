// The gauge's labels over the real font metrics: from 1 MB to 8 TB, in English and German, they
// never overlap each other or the group's other controls and are never clipped.
#include "app/GaugeFontMetrics.h"
#include "app/PerformanceFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Overlap(const TBounds& a, const TBounds& b) {
  return a.Left < b.Left + b.Width && b.Left < a.Left + a.Width && a.Top < b.Top + b.Height &&
         b.Top < a.Top + a.Height;
}

std::string Show(const TBounds& b) {
  return std::to_string(b.Left) + "," + std::to_string(b.Top) + " " + std::to_string(b.Width) + "x" +
         std::to_string(b.Height);
}

// A main window measuring with the table, in English or German.
struct TGaugeWindow : TWindowFixture {
  explicit TGaugeWindow(bool german) {
    TPerformancePorts& p = Window->Ports();
    p.TextWidth = &TableTextWidth;
    if (german)
      p.Text = [](std::string_view, std::string_view key) {
        return key == "Used" ? std::string("Belegt") : key == "Free" ? std::string("Frei") : std::string(key);
      };
    Create();
  }
  // Shows the figures and checks the labels against their texts and their neighbours.
  void Check(uint64_t total, uint64_t avail) {
    Memory = {50, total, avail};
    Window->Timer1Timer();
    TfmPerformance& w = *Window;
    const std::string where = w.lbUsed->Text() + " | " + w.lbFree->Text();
    const TControl* labels[] = {w.lbUsed, w.lbFree};
    for (const TControl* label : labels) {
      const TBounds& b = label->Bounds();
      // Nothing clipped: the text fits its label, the label fits the group inside its border.
      EXPECT_GE(b.Width, TableTextWidth(label->Font(), label->Text())) << where << " " << Show(b);
      EXPECT_GE(b.Height, label->Font().Height == -11 ? 13 : 14) << where;
      EXPECT_GE(b.Left, 6) << where << " " << Show(b);
      EXPECT_LE(b.Left + b.Width, 247) << where << " " << Show(b);
      // At most one point smaller than designed.
      EXPECT_TRUE(label->Font().Height == -12 || label->Font().Height == -11) << where;
      for (const auto& other : w.suiGroupBox1->Children())
        if (other.get() != label && other->Visible())
          EXPECT_FALSE(Overlap(b, other->Bounds()))
              << where << ": " << label->Name() << " " << Show(b) << " meets " << other->Name() << " "
              << Show(other->Bounds());
    }
  }
};

TEST(GaugeLayout, NoFigureFrom1MBTo8TBOverlapsOrIsClipped) {
  // Every number of digits of total, used and free, and the percentages from 0 to 100.
  std::vector<uint64_t> totals;
  for (uint64_t mb = 1; mb <= 8ull * 1024 * 1024; mb *= 10) totals.push_back(mb * kMiB);
  totals.push_back(8ull * 1024 * 1024 * kMiB);  // 8 TB
  for (bool german : {false, true}) {
    TGaugeWindow f(german);
    for (uint64_t total : totals)
      for (uint64_t avail : {uint64_t{0}, kMiB, total / 3, total / 2, total - kMiB, total})
        if (avail <= total) f.Check(total, avail);
  }
}

TEST(GaugeLayout, KeepsTheDesignWhileItFitsThenShrinksThenTakesTwoLines) {
  struct {
    uint64_t TotalMb, AvailMb;
    bool German;
    TGaugeFit Fit;
  } cases[] = {
      {1024, 384, false, TGaugeFit::Design},           // today's figures stay where they were
      {16 * 1024, 8 * 1024, false, TGaugeFit::NarrowGap},  // 8192 MB each: 3 px apart
      {24 * 1024, 12 * 1024, false, TGaugeFit::SmallerFont},  // the reported collision
      {24 * 1024, 12 * 1024, true, TGaugeFit::SmallerFont},
      {64 * 1024, 20 * 1024, false, TGaugeFit::SmallerFont},
      {512 * 1024, 256 * 1024, false, TGaugeFit::TwoLines},
      {8ull * 1024 * 1024, 4ull * 1024 * 1024, true, TGaugeFit::TwoLines},
  };
  for (const auto& c : cases) {
    TGaugeWindow f(c.German);
    f.Check(c.TotalMb * kMiB, c.AvailMb * kMiB);
    TfmPerformance& w = *f.Window;
    const TGaugeLayout layout = LayoutGaugeLabels(w.lbUsed->Text(), w.lbFree->Text(), TFontSpec{}, &TableTextWidth);
    EXPECT_EQ(layout.Fit, c.Fit) << w.lbUsed->Text() << " | " << w.lbFree->Text();
    EXPECT_EQ(w.lbUsed->Bounds(), layout.Used);
    EXPECT_EQ(w.lbFree->Bounds(), layout.Free);
    // Used starts at the design's left, Free ends at its right, Free stays above the bar.
    EXPECT_EQ(w.lbUsed->Bounds().Left, 6);
    EXPECT_EQ(w.lbFree->Bounds().Left + w.lbFree->Bounds().Width, 247);
    EXPECT_EQ(w.lbFree->Bounds().Top, 120);
    EXPECT_EQ(w.lbUsed->Bounds().Top, c.Fit == TGaugeFit::TwoLines ? 105 : 120);
  }
}

TEST(GaugeLayout, TheGapShrinksBeforeTheFont) {
  // One pixel per character in the design font, nine tenths of that a point smaller.
  auto width = [](const TFontSpec& font, const std::string& text) {
    const int n = static_cast<int>(text.size());
    return font.Height == -12 ? n : n * 9 / 10;
  };
  // 121 + 116 of the 241 px leave 4: less than the preferred gap, more than the least.
  const TGaugeLayout narrow = LayoutGaugeLabels(std::string(120, 'u'), std::string(115, 'f'), TFontSpec{}, width);
  EXPECT_EQ(narrow.Fit, TGaugeFit::NarrowGap);
  EXPECT_EQ(narrow.Font.Height, -12);
  EXPECT_EQ(narrow.Used, (TBounds{6, 120, 121, 15}));
  EXPECT_EQ(narrow.Free, (TBounds{131, 120, 116, 15}));
  // 126 + 116 do not fit at all: the font a point smaller does.
  const TGaugeLayout smaller = LayoutGaugeLabels(std::string(125, 'u'), std::string(115, 'f'), TFontSpec{}, width);
  EXPECT_EQ(smaller.Fit, TGaugeFit::SmallerFont);
  EXPECT_EQ(smaller.Font.Height, -11);
}

}  // namespace
