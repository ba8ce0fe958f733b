// Scaling of design values, the choice of a picture's rendering, and the smooth shrinking of
// a larger rendering.
#include "ui/DpiScale.h"

#include <gtest/gtest.h>

namespace {

TEST(DpiScale, RoundsHalvesAwayFromZeroAndMeasuredWidthsComeBackRoundedUp) {
  struct {
    int Value, Dpi, Scaled;
  } cases[] = {
      {13, 96, 13}, {13, 120, 16}, {13, 144, 20}, {13, 192, 26}, {-12, 144, -18},
      {-12, 120, -15}, {1, 144, 2}, {1, 120, 1}, {45, 120, 56}, {3, 168, 5}, {0, 192, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ScaleToDpi(c.Value, c.Dpi), c.Scaled) << c.Value << " at " << c.Dpi;
  for (const int dpi : {96, 110, 120, 144, 168, 192, 240})
    for (int px = 0; px < 400; ++px) {
      const int design = DesignLengthOf(px, dpi);
      ASSERT_GE(ScaleToDpi(design, dpi), px) << px << " at " << dpi;
      ASSERT_LE(ScaleToDpi(design - 1, dpi), px) << "no more than needed: " << px << " at " << dpi;
    }
  EXPECT_EQ(DesignLengthOf(117, 96), 117);
}

TEST(DpiScale, ChildrenOfAFrameAndAGroupAreScaledFromTheWindowsEdges) {
  TControl form(TControlKind::Form, "Form");
  form.SetBounds({500, 300, 406, 229});  // its place on the screen does not count
  TControl& frame = form.AddChild(TControlKind::Frame, "fmBase", {0, 0, 406, 229});
  TControl& body = frame.AddChild(TControlKind::Panel, "PanelBody", {3, 26, 400, 200});
  TControl& group = body.AddChild(TControlKind::GroupBox, "Group", {7, 7, 101, 51});
  TControl& box = group.AddChild(TControlKind::CheckBox, "Box", {5, 5, 91, 21});
  EXPECT_EQ(WindowParentOf(body), &form);
  EXPECT_EQ(ScaledBounds(body, 96), (TBounds{3, 26, 400, 200}));
  EXPECT_EQ(ScaledBounds(body, 120), (TBounds{4, 33, 500, 250}));  // 3.75 .. 503.75, 32.5 .. 282.5
  // The group's edges 10 .. 111 and 33 .. 84 in the window (12.5 .. 138.75 and 41.25 .. 105 at
  // 120 dpi), relative to the body's corner at 4, 33.
  EXPECT_EQ(ScaledBounds(group, 120), (TBounds{9, 8, 126, 64}));
  // The box's edges 15 .. 106 and 38 .. 59 (18.75 .. 132.5, 47.5 .. 73.75), relative to the
  // group's corner at 13, 41.
  EXPECT_EQ(ScaledBounds(box, 120), (TBounds{6, 7, 114, 26}));
  EXPECT_EQ(ScaledLocalBounds(group, {5, 5, 91, 21}, 120), ScaledBounds(box, 120));
  EXPECT_EQ(ScaledWindowSize(form, 144), (TBounds{0, 0, 609, 344}));
}

TEST(DpiScale, PicturesComeFromTheSmallestRenderingAtLeastAsLarge) {
  struct {
    int Dpi, Index;
  } cases[] = {{96, 0}, {97, 1}, {120, 1}, {121, 2}, {144, 2}, {168, 3}, {192, 3}, {288, 3}};
  for (const auto& c : cases) EXPECT_EQ(PictureScaleIndexForDpi(c.Dpi), c.Index) << c.Dpi;
  for (int i = 0; i < kPictureScaleCount; ++i)
    EXPECT_EQ(PictureLengthAtScale(145, kPictureScales[i]), ScaleToDpi(145, kPictureScales[i] * 96 / 100));
}

TPixelImage Filled(int w, int h, uint32_t pixel) {
  return TPixelImage{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * static_cast<size_t>(h), pixel)};
}

TEST(DpiScale, ShrinkingAveragesTheAreaEachPixelCovers) {
  // A plain colour stays what it is at any ratio, also with partial alpha.
  for (const uint32_t pixel : {0xFF336699u, 0x80402010u, 0x00000000u}) {
    const TPixelImage out = ShrinkImage(Filled(200, 48, pixel), 175, 42);
    ASSERT_EQ(out.Width, 175);
    ASSERT_EQ(out.Height, 42);
    for (uint32_t p : out.Pixels) ASSERT_EQ(p, pixel);
  }
  // Halving a checker of black and white gives mid grey; a white pixel beside two transparent
  // ones shrunk to two pixels covers two thirds of the first.
  TPixelImage checker = Filled(4, 4, 0xFF000000u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if ((x + y) % 2) checker.Pixels[static_cast<size_t>(y * 4 + x)] = 0xFFFFFFFFu;
  for (uint32_t p : ShrinkImage(checker, 2, 2).Pixels) EXPECT_EQ(p, 0xFF808080u);
  TPixelImage edge = Filled(3, 1, 0);
  edge.Pixels[0] = 0xFFFFFFFFu;
  const TPixelImage two = ShrinkImage(edge, 2, 1);
  EXPECT_EQ(two.Pixels[0], 0xAAAAAAAAu);  // premultiplied: colour and alpha alike
  EXPECT_EQ(two.Pixels[1], 0u);
  // Never larger than the rendering: a smaller picture is not blown up here.
  const TPixelImage same = ShrinkImage(edge, 8, 2);
  EXPECT_EQ(same.Width, 3);
  EXPECT_EQ(same.Height, 1);
}

}  // namespace
