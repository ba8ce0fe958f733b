// The host's file system for the native build, in which the portable modules are tested.
#include "common/FileSystem.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(FsPath(path), ec);
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(FsPath(path), ec);
}

bool ForceFolders(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(FsPath(path), ec);
  return IsFolder(path);
}

std::string TempFolder() {
  std::error_code ec;
  std::string dir = Utf8Of(fs::temp_directory_path(ec));
  if (ec || dir.empty()) return {};
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::vector<std::string> FolderEntryNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(FsPath(dir), ec), end; !ec && it != end; it.increment(ec))
    names.push_back(Utf8Of(it->path().filename()));
  return names;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}
