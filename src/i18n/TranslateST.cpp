#include "i18n/TranslateST.h"

#include "common/ResStrings.h"
#include "i18n/StringTable.h"

std::string TranslateResourceString(const std::string& text) {
  if (text.empty() || !gStringTable) return text;
  return gStringTable->GetText(kResourceSection, text);
}

void InstallResourceTranslation() { SetResStringTranslator(&TranslateResourceString); }

void RemoveResourceTranslation() { SetResStringTranslator({}); }
