#include "ui/MessageBox.h"

#include "common/WinApi.h"
#include "common/WinText_win.h"

namespace {

UINT IconStyle(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::Warning:
    case MessageBoxIcon::Confirmation:  // the confirmation shows the warning picture
      return MB_ICONWARNING;
    case MessageBoxIcon::Error:
      return MB_ICONERROR;
    case MessageBoxIcon::Information:
      return MB_ICONINFORMATION;
    default:
      return 0;
  }
}

UINT ButtonStyle(MessageBoxButtons buttons, bool& known) {
  known = true;
  switch (buttons) {
    case MessageBoxButtons::OK: return MB_OK;
    case MessageBoxButtons::OKCancel: return MB_OKCANCEL;
    case MessageBoxButtons::AbortRetryIgnore: return MB_ABORTRETRYIGNORE;
    case MessageBoxButtons::YesNoCancel: return MB_YESNOCANCEL;
    case MessageBoxButtons::YesNo: return MB_YESNO;
    case MessageBoxButtons::RetryCancel: return MB_RETRYCANCEL;
  }
  known = false;
  return MB_OK;
}

}  // namespace

uint16_t ShowMessageBox(TMessageBoxOwner owner, const std::string& caption, const std::string& title,
                        const std::string& text, MessageBoxIcon icon, MessageBoxButtons buttons) {
  // The system box has no title strip: the title leads the text as its own paragraph.
  std::string body = text;
  if (!title.empty()) body = text.empty() ? title : title + "\n\n" + text;
  bool known = false;
  UINT style = IconStyle(icon) | ButtonStyle(buttons, known);
  HWND hwnd = static_cast<HWND>(owner);
  if (hwnd == nullptr) style |= MB_TASKMODAL | MB_SETFOREGROUND;
  const int result = ::MessageBoxW(hwnd, Utf8ToWide(body).c_str(), Utf8ToWide(caption).c_str(), style);
  // A set without buttons can only be closed by the system; the stand-in OK counts as that.
  if (!known || result < mrOk || result > mrNo) return mrCancel;
  return static_cast<uint16_t>(result);
}
