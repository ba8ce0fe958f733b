#include "common/CleanupAPI.h"

#include "common/Registry.h"

namespace {

// The number of values of key below HKEY_CURRENT_USER, opened for reading only.
int64_t CountValues(IRawRegistry& raw, std::string_view key) {
  TRegistry reg(raw);
  reg.SetRootKey(kHkeyCurrentUser);
  if (!reg.OpenKeyReadOnly(key)) return 0;
  return static_cast<int64_t>(reg.GetValueNames().size());
}

}  // namespace

int64_t CountSavedPasswords(IRawRegistry& reg) { return CountValues(reg, kSavedPasswordsKey); }

int64_t ClearSavedPasswords(IRawRegistry& raw) {
  TRegistry reg(raw);
  reg.SetRootKey(kHkeyCurrentUser);
  if (!reg.OpenKey(kSavedPasswordsKey, false)) return 0;
  // The caller shows this as the number removed, so only deletions that worked count.
  int64_t deleted = 0;
  for (const std::string& name : reg.GetValueNames())
    if (reg.DeleteValue(name)) ++deleted;
  return deleted;
}

int64_t CountTypedUrls(IRawRegistry& reg) { return CountValues(reg, kTypedUrlsKey); }

void DeleteTypedUrlsKey(IRawRegistry& raw) {
  TRegistry reg(raw);
  reg.SetRootKey(kHkeyCurrentUser);
  if (reg.KeyExists(kTypedUrlsKey)) reg.DeleteKey(kTypedUrlsKey);
}
