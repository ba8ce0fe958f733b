#include "e2e/RegistryGuard_win.h"

#include <algorithm>

namespace {

TRegHandle RootOf(bool currentUser) { return currentUser ? kHkeyCurrentUser : kHkeyLocalMachine; }

std::string SubKey(const std::string& keyPath) {
  return keyPath.substr(keyPath.rfind('\\', 0) == 0 ? 1 : 0);
}

bool KeyExists(IRawRegistry& reg, bool currentUser, const std::string& subKey) {
  TRegHandle key = 0;
  if (reg.OpenKey(RootOf(currentUser), subKey, kKeyRead, key) != kErrorSuccess) return false;
  reg.CloseKey(key);
  return true;
}

}  // namespace

TRegistryGuard::TRegistryGuard(std::vector<TId> ids) {
  IRawRegistry& reg = SystemRegistry();
  for (TId& id : ids) {
    const std::string sub = SubKey(id.Key);
    TSaved saved{id, KeyExists(reg, id.CurrentUser, sub), std::nullopt};
    if (saved.KeyExisted) {
      TRegHandle key = 0;
      if (reg.OpenKey(RootOf(id.CurrentUser), sub, kKeyRead, key) == kErrorSuccess) {
        TRegValue value;
        if (reg.QueryValue(key, id.Name, value) == kErrorSuccess) saved.Value = value;
        reg.CloseKey(key);
      }
    } else {
      // The outermost key of the path that is missing: everything below it is the test's.
      size_t end = 0;
      do {
        end = sub.find('\\', end + 1);
        const std::string part = sub.substr(0, end);
        if (!KeyExists(reg, id.CurrentUser, part)) {
          const std::pair<bool, std::string> missing{id.CurrentUser, part};
          if (std::find(FMissingKeys.begin(), FMissingKeys.end(), missing) == FMissingKeys.end())
            FMissingKeys.push_back(missing);
          break;
        }
      } while (end != std::string::npos);
    }
    FSaved.push_back(std::move(saved));
  }
}

TRegistryGuard::~TRegistryGuard() {
  IRawRegistry& reg = SystemRegistry();
  for (const TSaved& s : FSaved) {
    if (!s.KeyExisted) continue;
    TRegHandle key = 0;
    const TRegHandle root = RootOf(s.Id.CurrentUser);
    if (reg.CreateKey(root, SubKey(s.Id.Key), kKeyAllAccess, key) != kErrorSuccess) continue;
    if (s.Value) {
      reg.SetValue(key, s.Id.Name, s.Value->Type, s.Value->Data);
    } else {
      reg.DeleteValue(key, s.Id.Name);
    }
    reg.CloseKey(key);
  }
  for (const auto& [currentUser, path] : FMissingKeys) reg.DeleteKeyTree(RootOf(currentUser), path);
}
