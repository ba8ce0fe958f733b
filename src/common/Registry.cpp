#include "common/Registry.h"

#include "common/Errors.h"
#include "common/ResStrings.h"

#include <cstring>

namespace {

bool IsRelative(std::string_view key) noexcept { return key.empty() || key.front() != '\\'; }

std::string_view WithoutLeadingSeparator(std::string_view key) noexcept {
  if (!IsRelative(key)) key.remove_prefix(1);
  return key;
}


}  // namespace

TRegistry::TRegistry(IRawRegistry& reg, uint32_t access) : FReg(reg), FAccess(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(TRegHandle root) {
  CloseKey();
  FRootKey = root;
}

TRegHandle TRegistry::BaseKey(bool relative) const noexcept {
  return (FCurrentKey != 0 && relative) ? FCurrentKey : FRootKey;
}

void TRegistry::ChangeKey(TRegHandle key, bool relative, std::string_view name) {
  std::string path = (FCurrentKey != 0 && relative) ? FCurrentPath + "\\" + std::string(name)
                                                     : std::string(name);
  CloseKey();
  FCurrentKey = key;
  FCurrentPath = std::move(path);
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate) {
  const bool relative = IsRelative(key);
  const std::string_view name = WithoutLeadingSeparator(key);
  TRegHandle opened = 0;
  const long rc = canCreate ? FReg.CreateKey(BaseKey(relative), name, FAccess, opened)
                            : FReg.OpenKey(BaseKey(relative), name, FAccess, opened);
  if (rc != kErrorSuccess) return false;
  ChangeKey(opened, relative, name);
  return true;
}

bool TRegistry::OpenKeyReadOnly(std::string_view key) { return OpenKeyReadOnlyWithView(key, 0); }

bool TRegistry::OpenKeyReadOnlyWithView(std::string_view key, uint32_t viewFlag) {
  static constexpr uint32_t kReadMasks[] = {kKeyRead,
                                            kStandardRightsRead | kKeyQueryValue |
                                                kKeyEnumerateSubKeys,
                                            kKeyQueryValue};
  const bool relative = IsRelative(key);
  const std::string_view name = WithoutLeadingSeparator(key);
  for (const uint32_t mask : kReadMasks) {
    TRegHandle opened = 0;
    if (FReg.OpenKey(BaseKey(relative), name, mask | viewFlag, opened) == kErrorSuccess) {
      FAccess = mask;
      ChangeKey(opened, relative, name);
      return true;
    }
  }
  return false;
}

void TRegistry::CloseKey() {
  if (FCurrentKey != 0) FReg.CloseKey(FCurrentKey);
  FCurrentKey = 0;
  FCurrentPath.clear();
}

bool TRegistry::KeyExists(std::string_view key) {
  const bool relative = IsRelative(key);
  TRegHandle opened = 0;
  const long rc =
      FReg.OpenKey(BaseKey(relative), WithoutLeadingSeparator(key),
                   kStandardRightsRead | kKeyQueryValue | kKeyEnumerateSubKeys, opened);
  if (rc == kErrorSuccess) {
    FReg.CloseKey(opened);
    return true;
  }
  // A key this user may not read is still there.
  return rc == kErrorAccessDenied;
}

bool TRegistry::DeleteKey(std::string_view key) {
  const bool relative = IsRelative(key);
  const std::string_view name = WithoutLeadingSeparator(key);
  // An empty name would make the tree delete empty the base key itself (the whole root).
  if (name.empty()) return false;
  return FReg.DeleteKeyTree(BaseKey(relative), name) == kErrorSuccess;
}

std::string TRegistry::ReadString(std::string_view name) {
  TRegValue value;
  if (FCurrentKey == 0 || FReg.QueryValue(FCurrentKey, name, value) != kErrorSuccess) return {};
  if (value.Type != kRegSz && value.Type != kRegExpandSz)
    throw ERegistryException(LoadResStringFmt(rsInvalidDataType, {name}));
  return std::move(value.Data);
}

void TRegistry::WriteString(std::string_view name, std::string_view value) {
  if (FCurrentKey == 0 || FReg.SetValue(FCurrentKey, name, kRegSz, value) != kErrorSuccess)
    throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {name}));
}

void TRegistry::WriteExpandString(std::string_view name, std::string_view value) {
  if (FCurrentKey == 0 || FReg.SetValue(FCurrentKey, name, kRegExpandSz, value) != kErrorSuccess)
    throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {name}));
}

uint32_t TRegistry::ReadInteger(std::string_view name) {
  TRegValue value;
  if (FCurrentKey == 0 || FReg.QueryValue(FCurrentKey, name, value) != kErrorSuccess)
    throw ERegistryException(LoadResStringFmt(rsGetDataFailed, {name}));
  if (value.Type != kRegDword || value.Data.size() != sizeof(uint32_t))
    throw ERegistryException(LoadResStringFmt(rsInvalidDataType, {name}));
  uint32_t result = 0;
  std::memcpy(&result, value.Data.data(), sizeof result);
  return result;
}

void TRegistry::WriteInteger(std::string_view name, uint32_t value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  if (FCurrentKey == 0 ||
      FReg.SetValue(FCurrentKey, name, kRegDword, std::string_view(bytes, sizeof bytes)) !=
          kErrorSuccess)
    throw ERegistryException(LoadResStringFmt(rsSetDataFailed, {name}));
}

TRegDataType TRegistry::GetDataType(std::string_view name) {
  TRegValue value;
  if (FCurrentKey == 0 || FReg.QueryValue(FCurrentKey, name, value) != kErrorSuccess)
    return TRegDataType::rdUnknown;
  switch (value.Type) {
    case kRegSz: return TRegDataType::rdString;
    case kRegExpandSz: return TRegDataType::rdExpandString;
    case kRegDword: return TRegDataType::rdInteger;
    case kRegBinary: return TRegDataType::rdBinary;
    default: return TRegDataType::rdUnknown;
  }
}

std::vector<std::string> TRegistry::GetValueNames() {
  std::vector<std::string> names;
  if (FCurrentKey == 0 || FReg.EnumValueNames(FCurrentKey, names) != kErrorSuccess) names.clear();
  return names;
}

bool TRegistry::ValueExists(std::string_view name) {
  TRegValue value;
  return FCurrentKey != 0 && FReg.QueryValue(FCurrentKey, name, value) == kErrorSuccess;
}

bool TRegistry::DeleteValue(std::string_view name) {
  return FCurrentKey != 0 && FReg.DeleteValue(FCurrentKey, name) == kErrorSuccess;
}
