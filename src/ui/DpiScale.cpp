#include "ui/DpiScale.h"

#include <algorithm>
#include <array>

namespace {

struct TEdges {
  int Left, Top, Right, Bottom;
};

TEdges ScaledEdges(const TBounds& b, int dpi) noexcept {
  return {ScaleToDpi(b.Left, dpi), ScaleToDpi(b.Top, dpi), ScaleToDpi(b.Left + b.Width, dpi),
          ScaleToDpi(b.Top + b.Height, dpi)};
}

// The top-left corner of a window parent in the top-level window, in design units.
void OriginInWindow(const TControl* parent, int& x, int& y) noexcept {
  x = y = 0;
  if (parent && parent->Parent()) {
    const TBounds b = DesignBoundsInWindow(*parent);
    x = b.Left;
    y = b.Top;
  }
}

TBounds Relative(const TBounds& inWindow, const TControl* windowParent, int dpi) noexcept {
  int ox = 0, oy = 0;
  OriginInWindow(windowParent, ox, oy);
  const TEdges e = ScaledEdges(inWindow, dpi);
  const int px = ScaleToDpi(ox, dpi), py = ScaleToDpi(oy, dpi);
  return {e.Left - px, e.Top - py, e.Right - e.Left, e.Bottom - e.Top};
}

// For each new pixel along one axis, the source pixels it covers and their shares.
struct TTap {
  int Index;
  float Weight;
};
std::vector<std::vector<TTap>> AreaTaps(int from, int to) {
  std::vector<std::vector<TTap>> taps(static_cast<size_t>(to));
  const double ratio = static_cast<double>(from) / to;
  for (int i = 0; i < to; ++i) {
    const double a = i * ratio, b = (i + 1) * ratio;
    for (int s = static_cast<int>(a); s < from && s < b; ++s) {
      const double w = std::min<double>(b, s + 1) - std::max<double>(a, s);
      if (w > 0) taps[static_cast<size_t>(i)].push_back({s, static_cast<float>(w / ratio)});
    }
  }
  return taps;
}

}  // namespace

const TControl* WindowParentOf(const TControl& control) noexcept {
  const TControl* p = control.Parent();
  while (p && p->Kind() == TControlKind::Frame) p = p->Parent();
  return p;
}

TBounds DesignBoundsInWindow(const TControl& control) noexcept {
  TBounds b = control.Bounds();
  if (!control.Parent()) return {0, 0, b.Width, b.Height};
  for (const TControl* p = control.Parent(); p && p->Parent(); p = p->Parent()) {
    b.Left += p->Bounds().Left;
    b.Top += p->Bounds().Top;
  }
  return b;
}

TBounds ScaledBounds(const TControl& control, int dpi) noexcept {
  return Relative(DesignBoundsInWindow(control), WindowParentOf(control), dpi);
}

TBounds ScaledLocalBounds(const TControl& control, const TBounds& local, int dpi) noexcept {
  const TBounds origin = DesignBoundsInWindow(control);
  const TBounds inWindow{origin.Left + local.Left, origin.Top + local.Top, local.Width, local.Height};
  return Relative(inWindow, control.Parent() ? &control : nullptr, dpi);
}

TBounds GroupItemBounds(const TControl& group, int index) noexcept {
  const int count = static_cast<int>(group.Items().size());
  // Below the caption; a group without one starts its items higher, so that the first sits on
  // the line of a label beside the group (the main window's "every").
  const int top = group.Text().empty() ? 13 : 16;
  const int step = count > 0 ? std::max(17, (group.Bounds().Height - top - 4) / count) : 0;
  return {10, top + index * step, group.Bounds().Width - 16, std::min(step, 20)};
}

TBounds ScaledWindowSize(const TControl& root, int dpi) noexcept {
  return {0, 0, ScaleToDpi(root.Bounds().Width, dpi), ScaleToDpi(root.Bounds().Height, dpi)};
}

int PictureScaleIndexForDpi(int dpi) noexcept {
  for (int i = 0; i < kPictureScaleCount; ++i)
    if (kPictureScales[i] * kDesignDpi >= dpi * 100) return i;
  return kPictureScaleCount - 1;
}

TPixelImage ShrinkImage(const TPixelImage& image, int width, int height) {
  width = std::clamp(width, 1, std::max(1, image.Width));
  height = std::clamp(height, 1, std::max(1, image.Height));
  TPixelImage out;
  if (image.Width <= 0 || image.Height <= 0 ||
      image.Pixels.size() < static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height))
    return out;
  if (width == image.Width && height == image.Height) return image;
  const auto cols = AreaTaps(image.Width, width);
  const auto rows = AreaTaps(image.Height, height);
  // Columns first into a float buffer of width x source height, then rows.
  std::vector<std::array<float, 4>> mid(static_cast<size_t>(width) * static_cast<size_t>(image.Height));
  for (int y = 0; y < image.Height; ++y) {
    const uint32_t* src = &image.Pixels[static_cast<size_t>(y) * static_cast<size_t>(image.Width)];
    for (int x = 0; x < width; ++x) {
      std::array<float, 4> acc{};
      for (const TTap& t : cols[static_cast<size_t>(x)]) {
        const uint32_t p = src[t.Index];
        for (int c = 0; c < 4; ++c) acc[static_cast<size_t>(c)] += static_cast<float>((p >> (8 * c)) & 0xFF) * t.Weight;
      }
      mid[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = acc;
    }
  }
  out.Width = width;
  out.Height = height;
  out.Pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::array<float, 4> acc{};
      for (const TTap& t : rows[static_cast<size_t>(y)]) {
        const auto& m = mid[static_cast<size_t>(t.Index) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        for (size_t c = 0; c < 4; ++c) acc[c] += m[c] * t.Weight;
      }
      uint32_t p = 0;
      for (int c = 0; c < 4; ++c) {
        const int v = static_cast<int>(acc[static_cast<size_t>(c)] + 0.5f);
        p |= static_cast<uint32_t>(std::clamp(v, 0, 255)) << (8 * c);
      }
      // Premultiplied colour never exceeds its alpha.
      const uint32_t a = p >> 24;
      for (int c = 0; c < 3; ++c)
        if (((p >> (8 * c)) & 0xFF) > a) p = (p & ~(0xFFu << (8 * c))) | (a << (8 * c));
      out.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = p;
    }
  }
  return out;
}
