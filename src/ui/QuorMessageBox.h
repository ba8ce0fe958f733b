// The themed message box: its design, its button sets and their roles (portable model; the
// modal showing is in MessageBox_win.cpp).
#pragma once

#include "ui/BaseForms.h"
#include "ui/MessageBox.h"

#include <string>
#include <string_view>
#include <vector>

// caption without its first "&" ("&Yes" gives "Yes"; only the first one goes).
std::string StripAccelerator(std::string_view caption);

// One kind of button: its caption resource, result and roles.
struct TMsgButtonKind {
  unsigned CaptionId;
  uint16_t Result;
  bool IsDefault;  // OK and Yes
  bool IsCancel;   // Cancel and No
};

// The stored list of a button set, rightmost button first; empty for an unknown set.
std::vector<TMsgButtonKind> MessageBoxButtonList(MessageBoxButtons buttons);

class TfmQuorMessageBox : public TfmBaseDialog {
 public:
  TfmQuorMessageBox();

  // Fills the box for one showing: texts, picture, body size, and the buttons created from
  // the leftmost to the rightmost, so that the leftmost comes first in the tab order.
  void Prepare(const std::string& caption, const std::string& title, const std::string& text,
               MessageBoxIcon icon, MessageBoxButtons buttons);

  TControl* Img_Error = nullptr;
  TControl* Img_Info = nullptr;
  TControl* Img_Warning = nullptr;
  TControl* lblText = nullptr;
  // The buttons in order of creation: leftmost first.
  std::vector<TControl*> Buttons;
};
