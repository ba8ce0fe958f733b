#include "common/Registry64.h"

TRegistry64::TRegistry64(IRawRegistry& reg, bool use64BitView)
    : TRegistry(reg), FUse64BitView(use64BitView) {}

bool TRegistry64::OpenKeyReadOnly(std::string_view key) {
  return OpenKeyReadOnlyWithView(key, FUse64BitView ? kKeyWow64_64Key : 0);
}
