#include "ui/PictureIds.h"
#include "ui/Pictures_win.h"

#include <gtest/gtest.h>

namespace {

struct TPicture {
  int Id;
  int Width;
  int Height;
  bool Shaped = true;  // has transparent parts (the banner and the background do not)
};

// Every picture of the resources with its designed size; state sets give their first id.
constexpr TPicture kPictures[] = {
    {IDB_MACHINE_NOTEBOOK, 145, 134}, {IDB_MACHINE_DESKTOP, 145, 134},
    {IDB_ABOUT_NOTEBOOK, 65, 65},     {IDB_ABOUT_DESKTOP, 65, 65},
    {IDB_BANNER_LEFT, 360, 130, false}, {IDB_BANNER_MIDDLE, 16, 130, false},
    {IDB_BANNER_RIGHT, 90, 130, false}, {IDB_MSG_ERROR, 68, 64},
    {IDB_MSG_INFO, 68, 64},             {IDB_MSG_WARNING, 68, 64},
    {IDB_ABOUT_BACKGROUND, 457, 321, false}, {IDB_ABOUT_LOGO, 165, 45},
};
constexpr TPicture kStateSets[] = {
    {IDB_BANNER_MENU, 48, 48}, {IDB_BANNER_ABOUT, 48, 48}, {IDB_BANNER_HELP, 48, 48},
    {IDB_BUTTON_FACE, 104, 24}, {IDB_ABOUT_CLOSE, 23, 14},
};

// Decodes one picture at every scale and checks its size and its alpha: a shaped picture has
// transparent pixels, an unshaped one none; premultiplied colour never exceeds its alpha.
void CheckPicture(const TPicture& p, int state = 0) {
  const int id = p.Id + state;
  for (int i = 0; i < kPictureScaleCount; ++i) {
    SCOPED_TRACE(testing::Message() << id << " at " << kPictureScales[i] << " %");
    const auto image = PictureRendering(id, i);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width, PictureLengthAtScale(p.Width, kPictureScales[i]));
    EXPECT_EQ(image->Height, PictureLengthAtScale(p.Height, kPictureScales[i]));
    int transparent = 0, overflow = 0;
    for (uint32_t px : image->Pixels) {
      const uint32_t a = px >> 24;
      transparent += a == 0;
      overflow += (px & 0xFF) > a || ((px >> 8) & 0xFF) > a || ((px >> 16) & 0xFF) > a;
    }
    EXPECT_EQ(transparent > 0, p.Shaped) << transparent << " transparent pixels";
    EXPECT_EQ(overflow, 0);
    // Decoded once: a second request gives the very same pixels.
    EXPECT_EQ(PictureRendering(id, i), image);
  }
}

TEST(Pictures, EveryPictureDecodesAtEveryScaleWithItsSize) {
  for (const TPicture& p : kPictures) CheckPicture(p);
  for (const TPicture& p : kStateSets)
    for (int state : {IDB_STATE_NORMAL, IDB_STATE_HOT, IDB_STATE_PRESSED, IDB_STATE_DISABLED})
      CheckPicture(p, state);
  EXPECT_FALSE(PictureRendering(IDB_MSG_ERROR + 7, 0));  // no such resource
}

TEST(Pictures, TheBoxTakesTheRenderingOfItsScaleOrTheNextLargerShrunk) {
  const int id = IDB_MACHINE_DESKTOP;
  // The scales rendered at build time are drawn as they are.
  EXPECT_EQ(PictureForBox(id, 96, 145, 134), PictureRendering(id, 0));
  EXPECT_EQ(PictureForBox(id, 144, 218, 201), PictureRendering(id, 2));
  EXPECT_EQ(PictureForBox(id, 192, 290, 268), PictureRendering(id, 3));
  // 175 %: the 200 % rendering shrunk to the box, once.
  const auto shrunk = PictureForBox(id, 168, 254, 235);
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Width, 254);
  EXPECT_EQ(shrunk->Height, 235);
  EXPECT_EQ(PictureForBox(id, 168, 254, 235), shrunk);
  // A box larger than the rendering (a designed stretch) gets the rendering for the stretch.
  EXPECT_EQ(PictureForBox(IDB_BANNER_MIDDLE, 120, 438, 163), PictureRendering(IDB_BANNER_MIDDLE, 1));
}

}  // namespace
