#include "common/AccessRules.h"

#include <cctype>
#include <optional>
#include <vector>

namespace {

// The path with '\' separators and no trailing one, or nothing when it is not a full path
// ("X:\..." or "\\server\share\...") or has an empty, "." or ".." part.
std::optional<std::string> FullPath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  while (p.size() > 3 && p.back() == '\\') p.pop_back();
  size_t rootEnd = 0;  // where the parts below the root begin
  const bool drive = p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) &&
                     p[1] == ':' && p[2] == '\\';
  if (drive) {
    rootEnd = 3;
  } else if (p.size() > 2 && p[0] == '\\' && p[1] == '\\' && p[2] != '\\' && p[2] != '?' &&
             p[2] != '.') {
    // \\server\share is the root of a network path.
    const size_t server = p.find('\\', 2);
    if (server == std::string::npos) return std::nullopt;
    const size_t share = p.find('\\', server + 1);
    if (share == server + 1) return std::nullopt;
    rootEnd = share == std::string::npos ? p.size() : share + 1;
  } else {
    return std::nullopt;
  }
  if (rootEnd >= p.size()) return std::nullopt;  // a root is never a program folder
  size_t start = rootEnd;
  while (start <= p.size()) {
    size_t end = p.find('\\', start);
    if (end == std::string::npos) end = p.size();
    const std::string part = p.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    start = end + 1;
  }
  return p;
}

std::string Parent(const std::string& path) {
  const size_t cut = path.find_last_of('\\');
  return path.substr(0, cut);
}

TAccessOutcome Failed(IAccessPort& port, const std::string& what, uint32_t code) {
  return {1, what + ": " + port.ErrorText(code)};
}

}  // namespace

TAccessOutcome PrepareProgramFolder(IAccessPort& port, const std::string& folder) {
  const auto path = FullPath(folder);
  if (!path) return {2, "\"" + folder + "\" is not a full path of a folder."};
  switch (port.Kind(*path)) {
    case TPathKind::EmptyFolder:
      if (const uint32_t err = port.SetFolderAccess(*path, kProgramFolderSddl))
        return Failed(port, "The access rights of the folder \"" + *path + "\" could not be set",
                      err);
      return {};
    case TPathKind::Folder:
      return {2, "The folder \"" + *path +
                     "\" is not empty. Choose a new or empty folder: the setup does not take "
                     "over files it did not install."};
    case TPathKind::NotFolder:
      return {2, "\"" + *path + "\" exists and is not a folder."};
    case TPathKind::Unreadable:
      return {2, "The folder \"" + *path + "\" cannot be examined."};
    case TPathKind::Missing:
      break;
  }
  // Every folder made here is ours, parents included: a parent that ordinary users could
  // change would let them move the program folder away and put another in its place.
  std::vector<std::string> missing{*path};
  for (std::string up = Parent(*path); FullPath(up) && port.Kind(up) == TPathKind::Missing;
       up = Parent(up))
    missing.push_back(up);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (const uint32_t err = port.CreateFolder(*it, kProgramFolderSddl))
      return Failed(port, "The folder \"" + *it + "\" could not be created", err);
  return {};
}

TAccessOutcome GrantServiceAccess(IAccessPort& port, const std::string& name) {
  if (const uint32_t err = port.SetServiceAccess(name, kServiceSddl))
    return Failed(port, "The access rights of the service \"" + name + "\" could not be set", err);
  return {};
}
