// Display scaling of the designed windows: every position, size and font height of the
// design is given at 96 dots per inch and turned into pixels of the monitor a window is on,
// always from the design value and always rounded the same way (portable).
#pragma once

#include "ui/Controls.h"

#include <cstdint>
#include <vector>

// The pixel density the windows are designed at.
inline constexpr int kDesignDpi = 96;

// value (a design length or coordinate) at dpi, rounded half away from zero as MulDiv does;
// ScaleToDpi(v, 96) is v.
constexpr int ScaleToDpi(int value, int dpi) noexcept {
  const long long p = static_cast<long long>(value) * dpi;
  return static_cast<int>(p >= 0 ? (p + kDesignDpi / 2) / kDesignDpi
                                 : -((-p + kDesignDpi / 2) / kDesignDpi));
}

// A design width measured at dpi in pixels, rounded up so that the scaled width holds it.
constexpr int DesignLengthOf(int pixels, int dpi) noexcept {
  if (dpi == kDesignDpi || pixels <= 0) return pixels;
  return static_cast<int>((static_cast<long long>(pixels) * kDesignDpi + dpi - 1) / dpi);
}

// The nearest ancestor of control that is a window of its own (a frame is drawn by its form
// and has none); null for the root.
const TControl* WindowParentOf(const TControl& control) noexcept;

// The design rectangle of control in the coordinates of the top-level window's client area
// (the root's own position on the screen does not count).
TBounds DesignBoundsInWindow(const TControl& control) noexcept;

// The pixel rectangle of control at dpi, relative to its window parent. Edges are scaled in
// the top-level window's coordinates, so that a control inside its parent at 96 dpi stays
// inside it, controls that do not overlap at 96 dpi never overlap, and adjacent ones stay
// adjacent.
TBounds ScaledBounds(const TControl& control, int dpi) noexcept;

// A design rectangle given in the coordinates of control (such as the items of a radio
// group) in pixels relative to control's window at dpi, scaled the same way.
TBounds ScaledLocalBounds(const TControl& control, const TBounds& local, int dpi) noexcept;

// The design place of item index of a radio or check group (each item is a window of its
// own), in the group's coordinates.
TBounds GroupItemBounds(const TControl& group, int index) noexcept;

// The pixel size of a top-level window designed width x height.
TBounds ScaledWindowSize(const TControl& root, int dpi) noexcept;

// The display scales in percent at which every picture is rendered from its source.
inline constexpr int kPictureScales[] = {100, 125, 150, 200};
inline constexpr int kPictureScaleCount = 4;

// The index in kPictureScales of the rendering a picture is drawn from at dpi: the smallest
// one at least as large as the scale of dpi, else the largest.
int PictureScaleIndexForDpi(int dpi) noexcept;

// The size of a picture designed at width x height when rendered at scale percent, as the
// build renders it (rounded half up).
constexpr int PictureLengthAtScale(int length, int scalePercent) noexcept {
  return (length * scalePercent + 50) / 100;
}

// Pixels as 32-bit words, blue in the low byte, alpha in the high byte (premultiplied).
struct TPixelImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;  // rows top to bottom
};

// image reduced to width x height (each at most the image's own) by averaging the area each
// new pixel covers, so that a larger rendering shrinks smoothly.
TPixelImage ShrinkImage(const TPixelImage& image, int width, int height);
