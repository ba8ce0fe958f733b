// Shell folders on the Win32 shell.
#include "common/GenericShellAPI.h"
#include "common/GenericShellAPI_win.h"

#include "common/Errors.h"
#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <shlobj.h>

#include <vector>

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

void EnumFolderItems(PCIDLIST_ABSOLUTE folder, TFolderItemKinds kinds,
                     std::vector<TItemIdList>& list) {
  list.clear();
  TComPtr<IShellFolder> desktop;
  const HRESULT hr = ::SHGetDesktopFolder(desktop.put());
  if (FAILED(hr)) throw OleSysError(hr);
  TComPtr<IShellFolder> shellFolder;
  if (folder == nullptr || folder->mkid.cb == 0) {
    shellFolder = std::move(desktop);  // the empty list names the desktop itself
  } else if (FAILED(desktop->BindToObject(folder, nullptr, IID_IShellFolder,
                                          shellFolder.put_void()))) {
    return;
  }
  TComPtr<IEnumIDList> items;
  // S_FALSE with no enumerator: nothing to list.
  if (shellFolder->EnumObjects(nullptr, kinds.ShellFlags(), items.put()) != S_OK || !items) return;
  for (;;) {
    TItemIdList item;
    if (items->Next(1, item.put(), nullptr) != S_OK || !item) break;
    list.push_back(std::move(item));
  }
}

std::wstring SpecialFolderPath(int csidl) {
  wchar_t path[MAX_PATH + 1] = {};
  // Neither checking nor creating: counting and clearing leave the disk as they find it.
  if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                SHGFP_TYPE_CURRENT, path)))
    return {};
  path[MAX_PATH] = L'\0';
  return path;
}
