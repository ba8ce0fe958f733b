#include "common/Settings.h"

#include "common/Registry.h"

namespace {

std::string_view KeyOrDefault(std::string_view key) {
  return key.empty() ? std::string_view(kProductFamilyKey) : key;
}

}  // namespace

std::string ReadSetting(IRawRegistry& reg, std::string_view name, bool currentUser,
                        std::string_view key) {
  try {
    TRegistry registry(reg);
    registry.SetRootKey(currentUser ? kHkeyCurrentUser : kHkeyLocalMachine);
    if (registry.OpenKeyReadOnly(KeyOrDefault(key))) return registry.ReadString(name);
  } catch (...) {
    // A setting that cannot be read counts as absent.
  }
  return {};
}

void WriteSetting(IRawRegistry& reg, std::string_view name, std::string_view value,
                  bool currentUser, std::string_view key) {
  TRegistry registry(reg);
  registry.SetRootKey(currentUser ? kHkeyCurrentUser : kHkeyLocalMachine);
  // A key this user may not open or create is skipped quietly; a failing write is reported.
  if (registry.OpenKey(KeyOrDefault(key), true)) registry.WriteString(name, value);
}
