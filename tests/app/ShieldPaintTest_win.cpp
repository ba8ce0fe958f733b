// The shield on Apply and OK as the window paints it, under Wine: a limited administrator's
// pending speed change draws the system's shield beside the caption, nothing else does.
#include "app/PerformanceFixture.h"
#include "common/WinText_win.h"
#include "ui/WinForm_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

// The pixels of a window as it paints itself.
std::vector<COLORREF> Pixels(HWND wnd, int& width, int& height) {
  RECT rc{};
  ::GetClientRect(wnd, &rc);
  width = rc.right;
  height = rc.bottom;
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  ::SendMessageW(wnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels.push_back(::GetPixel(dc, x, y));
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

// Keeps the pixels as a 24-bit picture for a person to look at.
void SaveBmp(const std::vector<COLORREF>& pixels, int width, int height, const std::string& path) {
  const int row = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = -height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(row * height);
  std::string data(static_cast<size_t>(row * height), '\0');
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const COLORREF c = pixels[static_cast<size_t>(y * width + x)];
      char* p = &data[static_cast<size_t>(y * row + x * 3)];
      p[0] = static_cast<char>(GetBValue(c));
      p[1] = static_cast<char>(GetGValue(c));
      p[2] = static_cast<char>(GetRValue(c));
    }
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, f);
    std::fwrite(&info, sizeof info, 1, f);
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
}

}  // namespace

TEST(ShieldPaint, ApplyAndOKShowTheShieldOnlyWhileConsentWillBeAsked) {
  EnsureThemeLoader();
  TWindowFixture f;
  f.Elevation = TTokenElevation{false, TElevationType::etLimited};
  TfmPerformance& w = f.Create();
  TWinForm form(w.Form, &w, nullptr);
  form.Show();
  auto paint = [&](const TControl& button, int& width, int& height) {
    return Pixels(form.WindowOf(button), width, height);
  };
  int width = 0, height = 0;
  const auto okPlain = paint(*w.btnOK, width, height);
  w.cbSpeedOpt[0]->Click();
  ASSERT_TRUE(w.btnOK->Shield());
  const auto okShield = paint(*w.btnOK, width, height);
  const auto applyShield = paint(*w.btnApply, width, height);
  int differing = 0;
  for (size_t i = 0; i < okPlain.size(); ++i) differing += okPlain[i] != okShield[i];
  EXPECT_GT(differing, 40);  // the shield, and the caption moved beside it
  char* dir = std::getenv("QB_ARTIFACT_DIR");
  const std::string base = dir ? std::string(dir) + "\\" : std::string();
  SaveBmp(okShield, width, height, base + "shield-ok.bmp");
  SaveBmp(applyShield, width, height, base + "shield-apply.bmp");
  w.cbSpeedOpt[0]->Click();  // still pending: the shield stays
  EXPECT_EQ(paint(*w.btnOK, width, height), okShield);
}
