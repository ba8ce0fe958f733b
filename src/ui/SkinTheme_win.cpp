// The theme colours of the skinned controls.
#include "ui/Theme.h"
#include "ui/WinControls_win.h"

namespace {

const TTheme& BuiltInTheme() {
  static const TTheme theme;
  return theme;
}

}  // namespace

TColorValue SkinColor(const TControl& control, std::string_view key, TColorValue builtIn) {
  // Without a theme object the control keeps the built-in look of the set.
  const TTheme& theme = control.Theme ? *control.Theme : BuiltInTheme();
  for (size_t i = 0; i < kThemeColorCount; ++i) {
    const auto c = static_cast<TThemeColor>(i);
    if (ThemeColorKey(c) == key) return theme.ColorRef(c);
  }
  return builtIn;
}
