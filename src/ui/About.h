// The About window: product name, version line, machine picture and notices (portable model;
// shown by About_win.cpp).
#pragma once

#include "ui/BaseForms.h"

#include <string>
#include <vector>

class TAboutBox {
 public:
  TAboutBox();

  // Sets the grab point to (0, 0) and the machine picture: the desktop for machine type 2,
  // the notebook otherwise.
  void FormCreate(int machineType);
  // Sets the texts shown each time the window comes to the front: the OK caption, the title
  // on the caption strip and as product name, and the version line from the product's
  // "Version" setting, or when that is empty from the version lines' "ProductVersion".
  void FormActivate(const std::string& title, const std::string& versionSetting,
                    const std::vector<std::string>& versionInfo);

  TControl Form;
  TControl* Image2 = nullptr;
  TControl* lblCaption = nullptr;
  TControl* Image1 = nullptr;
  TControl* Image3 = nullptr;
  TControl* lblProductName = nullptr;
  TControl* lblVersion = nullptr;
  TControl* Label3 = nullptr;
  TControl* btnClose = nullptr;
  TControl* btnOK = nullptr;
  TControl* ImageList1 = nullptr;
  TCaptionDrag Drag;
};

// The notice after the version number.
inline constexpr const char* kCopyrightNotice = "Copyright (C) 2026 Quor";
