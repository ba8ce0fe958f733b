#include "common/ProtectedFolders.h"

#include "common/TextUtil.h"

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

bool IsGuardFileName(std::string_view name) {
  for (const char* guard : kGuardFileNames)
    if (SameText(name, guard)) return true;
  return false;
}

void TProtectedFolders::Add(TGuardedFolder folder, std::string_view path) {
  std::string key = CanonicalPath(path);
  if (key.empty()) return;
  for (const TGuardRule& rule : kProtectedFolders) {
    if (rule.Folder != folder) continue;
    for (const TEntry& e : FEntries)
      if (e.Rule == &rule && e.Key == key) return;  // the same name once is enough
    FEntries.push_back({&rule, std::string(path), std::move(key)});
    return;
  }
}

namespace {

// Whether inner lies strictly below outer (both canonical).
bool IsBelow(const std::string& inner, const std::string& outer) {
  return inner.size() > outer.size() && inner.rfind(outer, 0) == 0 && inner[outer.size()] == '\\';
}

}  // namespace

std::string TProtectedFolders::RefusalOf(std::string_view folder) const {
  if (IsDriveRoot(folder)) return "it is the root of a drive, share or volume";
  const std::string f = CanonicalPath(folder);
  const auto named = [](const TEntry& e) {
    return std::string(e.Rule->Name) + " (" + e.Path + ")";
  };
  // The folder itself first: its own name says most.
  for (const TEntry& e : FEntries)
    if (e.Key == f) return "it is " + named(e);
  for (const TEntry& e : FEntries) {
    if (IsBelow(e.Key, f)) return "it holds " + named(e);
    if (e.Rule->Reach == TGuardReach::grWholeTree && IsBelow(f, e.Key))
      return "it lies in " + named(e);
  }
  return {};
}
