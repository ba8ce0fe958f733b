#include "ui/PictureIds.h"

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"

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

// Loads one bitmap as a DIB section and checks its size, its depth and its alpha: a shaped
// picture has transparent pixels, an unshaped one none.
void CheckPicture(const TPicture& p, int state = 0) {
  const int id = p.Id + state, width = p.Width, height = p.Height;
  SCOPED_TRACE(id);
  TScopedGdiObject<HBITMAP> bmp(static_cast<HBITMAP>(::LoadImageW(
      ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  ASSERT_TRUE(bmp);
  DIBSECTION dib{};
  ASSERT_EQ(::GetObjectW(bmp.get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmWidth, width);
  EXPECT_EQ(dib.dsBm.bmHeight, height);
  EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
  ASSERT_NE(dib.dsBm.bmBits, nullptr);
  const auto* px = static_cast<const uint8_t*>(dib.dsBm.bmBits);
  int transparent = 0;
  for (int i = 0; i < width * height; ++i) transparent += px[i * 4 + 3] == 0;
  EXPECT_EQ(transparent > 0, p.Shaped) << transparent << " transparent pixels";
}

TEST(Pictures, EveryBitmapLoadsWithItsSizeAnd32BitsPerPixel) {
  for (const TPicture& p : kPictures) CheckPicture(p);
  for (const TPicture& p : kStateSets)
    for (int state : {IDB_STATE_NORMAL, IDB_STATE_HOT, IDB_STATE_PRESSED, IDB_STATE_DISABLED})
      CheckPicture(p, state);
}

}  // namespace
