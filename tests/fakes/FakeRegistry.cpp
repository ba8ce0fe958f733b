#include "fakes/FakeRegistry.h"

#include "common/TextUtil.h"

#include <cstring>

namespace {

const char* RootName(TRegHandle root) {
  switch (root) {
    case kHkeyClassesRoot: return "HKCR";
    case kHkeyCurrentUser: return "HKCU";
    case kHkeyLocalMachine: return "HKLM";
    case kHkeyUsers: return "HKU";
    default: return nullptr;
  }
}

// Joins base and the parts of sub, dropping empty parts as the registry does for "a\\b\".
std::string Join(std::string base, std::string_view sub) {
  size_t start = 0;
  while (start <= sub.size()) {
    size_t end = sub.find('\\', start);
    if (end == std::string_view::npos) end = sub.size();
    if (end > start) base += "\\" + std::string(sub.substr(start, end - start));
    start = end + 1;
  }
  return base;
}

}  // namespace

std::optional<std::string> TFakeRegistry::PathOf(TRegHandle key) const {
  if (const char* root = RootName(key)) return LowerAscii(root);
  const auto it = FHandles.find(key);
  if (it == FHandles.end()) return std::nullopt;
  return it->second.Path;
}

TFakeRegistry::TKey* TFakeRegistry::Lookup(TRegHandle key, uint32_t& access, long& error) {
  const auto path = PathOf(key);
  if (!path) {
    error = kErrorInvalidHandle;
    return nullptr;
  }
  access = RootName(key) ? kKeyAllAccess : FHandles.at(key).Access;
  const auto it = FKeys.find(*path);
  if (it == FKeys.end()) {
    if (RootName(key)) return &FKeys[*path];  // roots always exist
    error = kErrorKeyDeleted;
    return nullptr;
  }
  return &it->second;
}

long TFakeRegistry::Open(TRegHandle parent, std::string_view subKey, uint32_t access, bool create,
                         TRegHandle& out) {
  const auto base = PathOf(parent);
  if (!base) return kErrorInvalidHandle;
  const std::string path = LowerAscii(Join(*base, subKey));
  const std::string display =
      Join(RootName(parent) ? std::string(RootName(parent)) : FHandles.at(parent).Display, subKey);
  FOpens.push_back({display, access, create});
  for (const auto& [denied, mask] : FDenied)
    if (mask == access && (denied.empty() || denied == path)) return kErrorAccessDenied;
  if (!RootName(parent) && !FKeys.count(*base)) return kErrorKeyDeleted;
  const bool isRoot = RootName(parent) && path == *base;  // roots always exist
  if (!isRoot && !FKeys.count(path)) {
    if (!create) return kErrorFileNotFound;
    AddKey(path);
  }
  out = FNextHandle++;
  FHandles[out] = {path, display, access};
  return kErrorSuccess;
}

long TFakeRegistry::OpenKey(TRegHandle parent, std::string_view subKey, uint32_t access,
                            TRegHandle& out) {
  return Open(parent, subKey, access, false, out);
}

long TFakeRegistry::CreateKey(TRegHandle parent, std::string_view subKey, uint32_t access,
                              TRegHandle& out) {
  return Open(parent, subKey, access, true, out);
}

void TFakeRegistry::CloseKey(TRegHandle key) { FHandles.erase(key); }

long TFakeRegistry::QueryValue(TRegHandle key, std::string_view name, TRegValue& out) {
  uint32_t access = 0;
  long error = kErrorSuccess;
  TKey* k = Lookup(key, access, error);
  if (!k) return error;
  if ((access & kKeyQueryValue) == 0) return kErrorAccessDenied;
  const auto it = k->Values.find(LowerAscii(name));
  if (it == k->Values.end()) return kErrorFileNotFound;
  out = it->second.second;
  return kErrorSuccess;
}

long TFakeRegistry::SetValue(TRegHandle key, std::string_view name, uint32_t type,
                             std::string_view data) {
  uint32_t access = 0;
  long error = kErrorSuccess;
  TKey* k = Lookup(key, access, error);
  if (!k) return error;
  if ((access & kKeySetValue) == 0) return kErrorAccessDenied;
  if (FSetValueError != kErrorSuccess) return FSetValueError;
  k->Values[LowerAscii(name)] = {std::string(name), TRegValue{type, std::string(data)}};
  return kErrorSuccess;
}

long TFakeRegistry::EnumValueNames(TRegHandle key, std::vector<std::string>& names) {
  uint32_t access = 0;
  long error = kErrorSuccess;
  TKey* k = Lookup(key, access, error);
  if (!k) return error;
  if ((access & kKeyQueryValue) == 0) return kErrorAccessDenied;
  names.clear();
  for (const auto& entry : k->Values) names.push_back(entry.second.first);
  return kErrorSuccess;
}

long TFakeRegistry::DeleteKeyTree(TRegHandle parent, std::string_view subKey) {
  const auto base = PathOf(parent);
  if (!base) return kErrorInvalidHandle;
  const std::string path = LowerAscii(Join(*base, subKey));
  // As the Win32 tree delete: with no subkey name the base key's contents go, the key stays.
  const bool keepSelf = path == *base;
  if (!keepSelf && !FKeys.count(path)) return kErrorFileNotFound;
  for (auto it = FKeys.begin(); it != FKeys.end();) {
    const bool below = it->first.size() > path.size() && it->first.compare(0, path.size(), path) == 0 &&
                       it->first[path.size()] == '\\';
    if (below || (!keepSelf && it->first == path)) {
      it = FKeys.erase(it);
    } else {
      ++it;
    }
  }
  if (keepSelf) FKeys[path].Values.clear();
  return kErrorSuccess;
}

long TFakeRegistry::DeleteValue(TRegHandle key, std::string_view name) {
  uint32_t access = 0;
  long error = kErrorSuccess;
  TKey* k = Lookup(key, access, error);
  if (!k) return error;
  if ((access & kKeySetValue) == 0) return kErrorAccessDenied;
  return k->Values.erase(LowerAscii(name)) ? kErrorSuccess : kErrorFileNotFound;
}

long TFakeRegistry::DeleteKey(TRegHandle parent, std::string_view subKey) {
  const auto base = PathOf(parent);
  if (!base) return kErrorInvalidHandle;
  const std::string path = LowerAscii(Join(*base, subKey));
  if (path == *base || !FKeys.count(path)) return kErrorFileNotFound;
  for (const auto& entry : FKeys)
    if (entry.first.size() > path.size() && entry.first.compare(0, path.size(), path) == 0 &&
        entry.first[path.size()] == '\\')
      return kErrorAccessDenied;  // as the Win32 call: subkeys keep their parent
  FKeys.erase(path);
  return kErrorSuccess;
}

std::vector<std::string> TFakeRegistry::KeyPaths() const {
  std::vector<std::string> paths;
  for (const auto& entry : FKeys) paths.push_back(entry.first);
  return paths;
}

void TFakeRegistry::DenyAccess(std::string_view path, uint32_t access) {
  FDenied.emplace_back(LowerAscii(path), access);
}

void TFakeRegistry::AddKey(std::string_view path) {
  const std::string lower = LowerAscii(path);
  for (size_t pos = lower.find('\\'); pos != std::string::npos; pos = lower.find('\\', pos + 1))
    FKeys[lower.substr(0, pos)];
  FKeys[lower];
}

void TFakeRegistry::PutString(std::string_view path, std::string_view name,
                              std::string_view value) {
  AddKey(path);
  FKeys[LowerAscii(path)].Values[LowerAscii(name)] = {std::string(name),
                                                      TRegValue{kRegSz, std::string(value)}};
}

void TFakeRegistry::PutDword(std::string_view path, std::string_view name, uint32_t value) {
  AddKey(path);
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  FKeys[LowerAscii(path)].Values[LowerAscii(name)] = {std::string(name),
                                                      TRegValue{kRegDword, bytes}};
}

std::optional<TRegValue> TFakeRegistry::Value(std::string_view path, std::string_view name) const {
  const auto k = FKeys.find(LowerAscii(path));
  if (k == FKeys.end()) return std::nullopt;
  const auto v = k->second.Values.find(LowerAscii(name));
  if (v == k->second.Values.end()) return std::nullopt;
  return v->second.second;
}

bool TFakeRegistry::HasKey(std::string_view path) const {
  return FKeys.count(LowerAscii(path)) != 0;
}
