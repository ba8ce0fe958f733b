#include "i18n/Localization.h"

#include "common/MessagePump_win.h"
#include "common/Settings.h"

void CreateLocalization(const std::string& resourceDir, const std::string& workDir) {
  gLocalization = std::make_unique<TLocalization>(resourceDir, workDir, gAppDir(), SystemClock(),
                                                  SystemMessagePump());
}
