#include "common/GenericAPI.h"

#include "common/Registry64.h"
#include "common/TextUtil.h"

std::string IncludeTrailingSeparator(std::string_view dir) {
  std::string result(dir);
  if (result.empty() || result.back() == '\\' || result.back() == '/') return result;
  result += result.find('/') != std::string::npos ? '/' : '\\';
  return result;
}

std::string ExtractFilePath(std::string_view fileName) {
  const size_t last = fileName.find_last_of("\\/:");
  return last == std::string_view::npos ? std::string() : std::string(fileName.substr(0, last + 1));
}

std::string ReadRegString(IRawRegistry& reg, std::string_view key, std::string_view name,
                          bool currentUser, bool use64BitView) {
  try {
    TRegistry64 registry(reg, use64BitView);
    registry.SetRootKey(currentUser ? kHkeyCurrentUser : kHkeyLocalMachine);
    if (registry.OpenKeyReadOnly(key)) return registry.ReadString(name);
  } catch (...) {
    // Callers only ever want the text or nothing.
  }
  return {};
}
