#include "i18n/StringTable.h"

#include "common/WinText_win.h"

void InitializeStringTableModule() {
  gStringTable = std::make_unique<TStringTable>(
      [](std::string_view ansi) { return AnsiToUtf8(ansi); });
}
