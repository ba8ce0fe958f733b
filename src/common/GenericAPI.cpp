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

namespace {

// One spelling for every form of a resolved path: "\" separators, no "\\?\" prefix ("UNC\"
// becomes "\\"), no trailing separators, ASCII letters in lower case.
std::string CanonicalPath(std::string_view path) {
  std::string p = LowerAscii(path);
  for (char& c : p)
    if (c == '/') c = '\\';
  if (p.rfind("\\\\?\\", 0) == 0 || p.rfind("\\\\.\\", 0) == 0) {
    p.erase(0, 4);
    if (p.rfind("unc\\", 0) == 0) p.replace(0, 3, "\\");
  }
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

}  // namespace

bool IsDriveRoot(std::string_view path) {
  const std::string p = CanonicalPath(path);
  if (p.empty()) return true;
  if (p.size() == 2 && p[1] == ':') return true;  // "c:"
  if (p.rfind("\\\\", 0) == 0) {
    // "\\server" or "\\server\share": no folder below the share.
    const size_t share = p.find('\\', 2);
    return share == std::string::npos || p.find('\\', share + 1) == std::string::npos;
  }
  // A volume named by its GUID ("volume{...}") with nothing below it.
  return p.rfind("volume{", 0) == 0 && p.find('\\') == std::string::npos;
}

bool IsProtectedFolder(std::string_view folder, const std::vector<std::string>& protectedFolders) {
  if (IsDriveRoot(folder)) return true;
  const std::string f = CanonicalPath(folder);
  for (const std::string& guarded : protectedFolders) {
    const std::string g = CanonicalPath(guarded);
    if (g.empty()) continue;
    // The folder itself, or one of its ancestors: clearing either would empty it.
    if (g == f || (g.size() > f.size() && g.rfind(f, 0) == 0 && g[f.size()] == '\\'))
      return true;
  }
  return false;
}
