#include "common/FileSystem.h"

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

namespace {

DWORD AttributesOf(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(Utf8ToWide(path).c_str());
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsFile(const std::string& path) {
  const DWORD attr = AttributesOf(path);
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
  const DWORD attr = AttributesOf(path);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceFolders(const std::string& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  std::string dir = path;
  while (dir.size() > 1 && IsSeparator(dir.back())) dir.pop_back();
  const size_t cut = dir.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) {
    const std::string parent = dir.substr(0, cut);
    // A drive ("C:") or the start of a network or long path ("\\server", "\\?") is no folder
    // to create; the system answers for it when the first folder below is made.
    const bool root = parent.back() == ':' ||
                      parent.find_first_not_of("\\/?.") == std::string::npos ||
                      (parent.starts_with("\\\\") && parent.find_first_of("\\/", 2) == std::string::npos);
    if (!root && !IsFolder(parent) && !ForceFolders(parent)) return false;
  }
  if (::CreateDirectoryW(Utf8ToWide(dir).c_str(), nullptr)) return true;
  return IsFolder(dir);  // made meanwhile by someone else, or there as it was
}

std::string TempFolder() {
  std::wstring buf(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD n = ::GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(n + 1);
  }
  std::string dir = WideToUtf8(buf);
  if (!dir.empty() && !IsSeparator(dir.back())) dir += '\\';
  return dir;
}

std::vector<std::string> FolderEntryNames(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  std::wstring pattern = Utf8ToWide(dir);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data{};
  TScopedFindHandle find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, 0));
  if (!find) return names;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(WideToUtf8(name));
  } while (::FindNextFileW(find.get(), &data));
  return names;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  if (path.empty()) return std::nullopt;
  TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > 0x7FFFFFFFull)
    return std::nullopt;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                    nullptr))
      return std::nullopt;
    if (got == 0) break;  // the file became shorter while it was read
    done += got;
  }
  bytes.resize(done);
  return bytes;
}
