// The Win32 half of the settings module: the system registry, the version resource and the
// program folder.
#include "common/Settings.h"

#include "common/GenericAPI.h"
#include "common/RawRegistry.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <vector>

namespace {

std::string gAppDirValue;
std::vector<std::string> gVersionInfoValue;

void ReadVersionInfoOfWide(const std::wstring& path, std::vector<std::string>& list) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return;
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return;
  std::vector<std::string> lines;
  for (const char* key : kVersionInfoKeys) {
    const std::wstring query = L"\\StringFileInfo\\040904e4\\" + Utf8ToWide(key);
    wchar_t* text = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &len) ||
        text == nullptr)
      continue;
    // The length counts the terminator when there is one; never read past it.
    std::wstring_view value(text, len);
    value = value.substr(0, value.find(L'\0'));
    lines.push_back(std::string(key) + "=" + WideToUtf8(value));
  }
  list.insert(list.end(), lines.begin(), lines.end());
}

}  // namespace

std::string ReadSetting(std::string_view name, bool currentUser, std::string_view key) {
  return ReadSetting(SystemRegistry(), name, currentUser, key);
}

void WriteSetting(std::string_view name, std::string_view value, bool currentUser,
                  std::string_view key) {
  WriteSetting(SystemRegistry(), name, value, currentUser, key);
}

void ReadVersionInfoOf(std::string_view path, std::vector<std::string>& list) {
  ReadVersionInfoOfWide(Utf8ToWide(path), list);
}

void ReadVersionInfo(std::vector<std::string>& list) {
  ReadVersionInfoOfWide(Utf8ToWide(GetAppFileName()), list);
}

const std::string& gAppDir() { return gAppDirValue; }
const std::vector<std::string>& gVersionInfo() { return gVersionInfoValue; }

void InitializeSettingsModule() {
  gAppDirValue = GetAppDir();
  gVersionInfoValue.clear();
  ReadVersionInfo(gVersionInfoValue);
}

void FinalizeSettingsModule() {
  gVersionInfoValue.clear();
  gAppDirValue.clear();
}
