#include "ui/MessageBox.h"

#include "common/WinApi.h"
#include "ui/QuorMessageBox.h"
#include "ui/WinForm_win.h"

uint16_t ShowMessageBox(TMessageBoxOwner owner, const std::string& caption, const std::string& title,
                        const std::string& text, MessageBoxIcon icon, MessageBoxButtons buttons) {
  EnsureThemeLoader();
  TfmQuorMessageBox box;
  box.FormCreate();
  box.Prepare(caption, title, text, icon, buttons);
  TWinForm window(box.Form, &box, static_cast<HWND>(owner));
  return static_cast<uint16_t>(window.ShowModal());
}
