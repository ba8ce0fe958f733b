#include "ui/About.h"

#include "common/ResStrings.h"
#include "ui/PictureIds.h"

namespace {

TFontSpec Font(int height, bool bold, TColorValue color) {
  TFontSpec f;
  f.Height = height;
  f.Bold = bold;
  f.Color = color;
  return f;
}

}  // namespace

TAboutBox::TAboutBox() : Form(TControlKind::Form, "TAboutBox") {
  Form.SetBounds({0, 0, 457, 321});
  Form.SetColor(clWhite);
  Form.SetText("About");
  Image2 = &Form.AddChild(TControlKind::Image, "Image2", {0, 0, 457, 321});
  Image2->SetPicture(IDB_ABOUT_BACKGROUND);
  lblCaption = &Form.AddChild(TControlKind::Label, "lblCaption", {18, 5, 407, 21});
  lblCaption->SetFont(Font(-12, true, kAboutCaptionColor));
  lblCaption->Transparent = true;
  Image1 = &Form.AddChild(TControlKind::Image, "Image1", {48, 221, 165, 45});
  Image1->SetPicture(IDB_ABOUT_LOGO);
  Image3 = &Form.AddChild(TControlKind::Image, "Image3", {48, 90, 65, 65});
  Image3->Transparent = true;
  lblProductName = &Form.AddChild(TControlKind::Label, "lblProductName", {125, 118, 318, 24});
  lblProductName->SetText("Quor eBrisko Management");
  lblProductName->SetFont(Font(-19, true, kDarkTealColor));
  lblProductName->Transparent = true;
  lblVersion = &Form.AddChild(TControlKind::Label, "lblVersion", {62, 176, 361, 25});
  lblVersion->SetFont(Font(-13, true, clBlack));
  lblVersion->Transparent = true;
  Label3 = &Form.AddChild(TControlKind::Label, "Label3", {219, 221, 217, 45});
  Label3->SetFont(Font(-12, false, clBlack));
  Label3->Transparent = true;
  Label3->WordWrap = true;
  Label3->Alignment = TAlignment::Center;
  Label3->CenterVertically = true;
  Label3->SetText("Designed and built by Quor.\nAll rights reserved.");
  btnClose = &Form.AddChild(TControlKind::ImageButton, "btnClose", {428, 7, 23, 14});
  btnClose->SetPicture(IDB_ABOUT_CLOSE);
  // Its picture says it all; the text names it for screen readers.
  btnClose->ShowCaption = false;
  btnClose->SetText(LoadResString(rsMsgDlgClose));
  btnClose->TabStop = true;
  btnClose->ModalResult = 2;
  btnClose->Transparent = true;
  btnOK = &Form.AddChild(TControlKind::ImageButton, "btnOK", {327, 285, 104, 24});
  btnOK->SetText("OK");
  btnOK->SetFont(Font(-12, true, kDarkTealColor));
  btnOK->SetPicture(IDB_BUTTON_FACE);
  btnOK->TabStop = true;
  btnOK->ModalResult = 1;
  btnOK->Transparent = true;
  ImageList1 = &Form.AddComponent(TControlKind::ImageList, "ImageList1");
  ImageList1->Pictures = {IDB_ABOUT_NOTEBOOK, IDB_ABOUT_DESKTOP};
  lblCaption->OnMouseDown = [this](int x, int y) { Drag.MouseDown(x, y); };
}

void TAboutBox::FormCreate(int machineType) {
  Drag = TCaptionDrag{};
  Image3->SetPicture(0);
  Image3->SetPicture(ImageList1->Pictures[machineType == 2 ? 1 : 0]);
}

void TAboutBox::FormActivate(const std::string& title, const std::string& versionSetting,
                             const std::vector<std::string>& versionInfo) {
  btnOK->SetText(LoadResString(rsMsgDlgOK));
  btnClose->SetText(LoadResString(rsMsgDlgClose));
  lblCaption->SetText(title);
  lblProductName->SetText(title);
  std::string version = versionSetting;
  if (version.empty()) {
    const std::string key = "ProductVersion=";
    for (const std::string& line : versionInfo)
      if (line.compare(0, key.size(), key) == 0) {
        version = line.substr(key.size());
        break;
      }
  }
  lblVersion->SetText("Version " + version + "    " + kCopyrightNotice);
}
