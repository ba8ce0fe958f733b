// Shell folders on the Win32 shell.
#include "common/GenericShellAPI.h"

#include "common/Errors.h"
#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <shlobj.h>

namespace {

std::string gCommonAppDataDir;
std::string gUserAppDataDir;

}  // namespace

std::string GPGetSpecialFolder(int csidl) {
  try {
    TScopedCoMem<ITEMIDLIST> idList;
    const HRESULT hr = ::SHGetSpecialFolderLocation(nullptr, csidl, idList.put());
    if (FAILED(hr))
      throw Exception("SHGetSpecialFolderLocation(" + std::to_string(csidl) +
                      ") failed: " + SystemErrorText(static_cast<unsigned long>(hr)));
    wchar_t path[MAX_PATH + 1] = {};
    if (!::SHGetPathFromIDListW(idList.get(), path)) return {};  // a folder without a path
    path[MAX_PATH] = L'\0';
    return WideToUtf8(path);
  } catch (const std::exception& e) {
    WriteLog(std::string("[GPGetSpecialFolder]") + e.what());
  }
  return {};
}

const std::string& GetCommonAppDataDir() { return gCommonAppDataDir; }
const std::string& GetUserAppDataDir() { return gUserAppDataDir; }

void InitializeShellModule() {
  gCommonAppDataDir = IncludeTrailingSeparator(GPGetSpecialFolder(CSIDL_COMMON_APPDATA));
  gUserAppDataDir = IncludeTrailingSeparator(GPGetSpecialFolder(CSIDL_APPDATA));
}

void FinalizeShellModule() {
  gCommonAppDataDir.clear();
  gUserAppDataDir.clear();
}
