// The theme colours of the skinned controls.
#include "ui/WinControls_win.h"

TColorValue SkinColor(const TControl& control, std::string_view key, TColorValue builtIn) {
  (void)control;
  (void)key;
  return builtIn;
}
