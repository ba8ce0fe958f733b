#include "ui/QuorMessageBox.h"

#include "common/ResStrings.h"
#include "ui/PictureIds.h"

std::string StripAccelerator(std::string_view caption) {
  const size_t amp = caption.find('&');
  if (amp == std::string_view::npos) return std::string(caption);
  return std::string(caption.substr(0, amp)) + std::string(caption.substr(amp + 1));
}

std::vector<TMsgButtonKind> MessageBoxButtonList(MessageBoxButtons buttons) {
  const TMsgButtonKind yes{rsMsgDlgYes, mrYes, true, false};
  const TMsgButtonKind no{rsMsgDlgNo, mrNo, false, true};
  const TMsgButtonKind ok{rsMsgDlgOK, mrOk, true, false};
  const TMsgButtonKind cancel{rsMsgDlgCancel, mrCancel, false, true};
  const TMsgButtonKind abort{rsMsgDlgAbort, mrAbort, false, false};
  const TMsgButtonKind retry{rsMsgDlgRetry, mrRetry, false, false};
  const TMsgButtonKind ignore{rsMsgDlgIgnore, mrIgnore, false, false};
  switch (buttons) {
    case MessageBoxButtons::OK: return {ok};
    case MessageBoxButtons::OKCancel: return {cancel, ok};
    case MessageBoxButtons::AbortRetryIgnore: return {ignore, retry, abort};
    case MessageBoxButtons::YesNoCancel: return {cancel, no, yes};
    case MessageBoxButtons::YesNo: return {no, yes};
    case MessageBoxButtons::RetryCancel: return {cancel, retry};
  }
  return {};
}

TfmQuorMessageBox::TfmQuorMessageBox() : TfmBaseDialog("TfmQuorMessageBox", "", 400, 178) {
  ShowFrameButtons = false;
  const int pictures[] = {IDB_MSG_ERROR, IDB_MSG_INFO, IDB_MSG_WARNING};
  const char* names[] = {"Img_Error", "Img_Info", "Img_Warning"};
  TControl** slots[] = {&Img_Error, &Img_Info, &Img_Warning};
  for (int i = 0; i < 3; ++i) {
    TControl& img = PanelBody->AddChild(TControlKind::Image, names[i], {11, 58, 68, 64});
    img.SetPicture(pictures[i]);
    img.Transparent = true;
    img.SetVisible(false);
    *slots[i] = &img;
  }
  lblText = &PanelBody->AddChild(TControlKind::Label, "lblText", {88, 58, 305, 77});
  lblText->WordWrap = true;
  lblText->Transparent = true;
  TFontSpec f;
  f.Height = -12;
  lblText->SetFont(f);
  lblText->SetText("Display Text");
}

void TfmQuorMessageBox::Prepare(const std::string& caption, const std::string& title,
                                const std::string& text, MessageBoxIcon icon,
                                MessageBoxButtons buttons) {
  SetCaption(caption);
  lbTitle->SetText(title);
  lblText->SetText(text);
  switch (icon) {
    case MessageBoxIcon::Warning:
    case MessageBoxIcon::Confirmation:
      Img_Warning->SetVisible(true);
      break;
    case MessageBoxIcon::Error:
      Img_Error->SetVisible(true);
      break;
    case MessageBoxIcon::Information:
      Img_Info->SetVisible(true);
      break;
    default:
      break;
  }
  PanelBody->SetBounds({PanelBody->Bounds().Left, PanelBody->Bounds().Top, 400, 200});
  ApplyClientSizeRule();
  if (static_cast<uint8_t>(icon) >= static_cast<uint8_t>(MessageBoxIcon::Custom))
    lblText->SetLeft(28);

  const std::vector<TMsgButtonKind> list = MessageBoxButtonList(buttons);
  const TBounds body = PanelBody->Bounds();
  for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i) {
    const TMsgButtonKind& kind = list[static_cast<size_t>(i)];
    TControl& b = PanelBody->AddChild(TControlKind::Button, "Button" + std::to_string(i),
                                      {body.Width - 8 - 111 * (i + 1), body.Height - 31, 105, 25});
    b.Theme = QuorFileTheme;
    b.UseThemeFile = true;
    b.FocusInset = 5;
    TFontSpec f;
    f.Bold = true;
    f.Height = -12;
    f.Color = kDarkTealColor;
    b.SetFont(f);
    b.SetText(StripAccelerator(LoadResString(kind.CaptionId)));
    b.ModalResult = kind.Result;
    b.Default = kind.IsDefault;
    b.Cancel = kind.IsCancel;
    b.TabStop = true;
    Buttons.push_back(&b);
  }
}
