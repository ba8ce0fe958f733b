// The windows ask for "Arial": the machine must give a face with Arial's metrics, so that the
// texts fit the sizes the windows were designed for.
#include "common/WinText_win.h"
#include "ui/WinControls_win.h"

#include <gtest/gtest.h>

namespace {

std::string FaceOf(HFONT font) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return WideToUtf8(face) + (tm.tmWeight >= FW_BOLD ? " bold" : "");
}

TEST(SkinFonts, ArialGetsAnArialMetricFaceAndArialBoldIsTheBoldOne) {
  TSkinCache cache;
  TFontSpec regular;
  EXPECT_EQ(FaceOf(cache.Font(regular)), "Liberation Sans");
  TFontSpec bold;
  bold.Name = "Arial Bold";  // the group boxes' font name
  EXPECT_EQ(FaceOf(cache.Font(bold)), "Liberation Sans bold");
  // One owner per font: the same description gives the same object.
  EXPECT_EQ(cache.Font(regular), cache.Font(regular));
}

}  // namespace
