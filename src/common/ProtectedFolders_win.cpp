// The protected folders looked up on the Win32 shell.
#include "common/ProtectedFolders_win.h"

#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <vector>

namespace {

// The known folder of a table entry, or null for those found otherwise.
const KNOWNFOLDERID* KnownFolderOf(TGuardedFolder folder) {
  switch (folder) {
    case TGuardedFolder::gfWindows: return &FOLDERID_Windows;
    case TGuardedFolder::gfSystem: return &FOLDERID_System;
    case TGuardedFolder::gfSystemX86: return &FOLDERID_SystemX86;
    case TGuardedFolder::gfProgramFiles: return &FOLDERID_ProgramFiles;
    case TGuardedFolder::gfProgramFilesX86: return &FOLDERID_ProgramFilesX86;
    case TGuardedFolder::gfProgramFilesCommon: return &FOLDERID_ProgramFilesCommon;
    case TGuardedFolder::gfProgramFilesCommonX86: return &FOLDERID_ProgramFilesCommonX86;
    case TGuardedFolder::gfUserProgramFiles: return &FOLDERID_UserProgramFiles;
    case TGuardedFolder::gfProgramData: return &FOLDERID_ProgramData;
    case TGuardedFolder::gfAppFolder: return nullptr;
    case TGuardedFolder::gfUserProfiles: return &FOLDERID_UserProfiles;
    case TGuardedFolder::gfProfile: return &FOLDERID_Profile;
    case TGuardedFolder::gfDesktop: return &FOLDERID_Desktop;
    case TGuardedFolder::gfDocuments: return &FOLDERID_Documents;
    case TGuardedFolder::gfDownloads: return &FOLDERID_Downloads;
    case TGuardedFolder::gfPictures: return &FOLDERID_Pictures;
    case TGuardedFolder::gfMusic: return &FOLDERID_Music;
    case TGuardedFolder::gfVideos: return &FOLDERID_Videos;
    case TGuardedFolder::gfFavorites: return &FOLDERID_Favorites;
    case TGuardedFolder::gfOneDrive: return &FOLDERID_SkyDrive;
    case TGuardedFolder::gfRoamingAppData: return &FOLDERID_RoamingAppData;
    case TGuardedFolder::gfLocalAppData: return &FOLDERID_LocalAppData;
    case TGuardedFolder::gfLocalAppDataLow: return &FOLDERID_LocalAppDataLow;
    case TGuardedFolder::gfPublic: return &FOLDERID_Public;
    case TGuardedFolder::gfPublicDesktop: return &FOLDERID_PublicDesktop;
    case TGuardedFolder::gfPublicDocuments: return &FOLDERID_PublicDocuments;
    case TGuardedFolder::gfPublicDownloads: return &FOLDERID_PublicDownloads;
    case TGuardedFolder::gfPublicPictures: return &FOLDERID_PublicPictures;
    case TGuardedFolder::gfPublicMusic: return &FOLDERID_PublicMusic;
    case TGuardedFolder::gfPublicVideos: return &FOLDERID_PublicVideos;
  }
  return nullptr;
}

std::wstring KnownFolderPath(const KNOWNFOLDERID& id) {
  TScopedCoMem<wchar_t> path;
  // Neither created nor checked: a folder missing now may still be named by a setting.
  if (FAILED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put())) || !path)
    return {};
  return path.get();
}

std::wstring FromBuffer(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t buf[MAX_PATH + 1] = {};
  const UINT n = get(buf, MAX_PATH + 1);
  return n > 0 && n <= MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

// The names a table entry goes by on this machine.
std::vector<std::wstring> PathsOf(TGuardedFolder folder) {
  std::vector<std::wstring> paths;
  if (const KNOWNFOLDERID* id = KnownFolderOf(folder)) paths.push_back(KnownFolderPath(*id));
  switch (folder) {
    case TGuardedFolder::gfWindows:
      paths.push_back(FromBuffer(&::GetWindowsDirectoryW));
      paths.push_back(FromBuffer(&::GetSystemWindowsDirectoryW));
      break;
    case TGuardedFolder::gfSystem:
      paths.push_back(FromBuffer(&::GetSystemDirectoryW));
      break;
    case TGuardedFolder::gfAppFolder:
      paths.push_back(Utf8ToWide(GetAppDir()));
      break;
    default:
      break;
  }
  return paths;
}

// A path as the log shows it: without the "\\?\" prefix.
std::string Shown(const std::wstring& path) {
  if (path.rfind(LR"(\\?\UNC\)", 0) == 0) return WideToUtf8(L"\\" + path.substr(7));
  if (path.rfind(LR"(\\?\)", 0) == 0) return WideToUtf8(path.substr(4));
  return WideToUtf8(path);
}

void LogRefusal(const std::string& who, const std::string& folder, const std::string& why) {
  WriteLog("[" + who + "]Left " + folder + " alone: " + why);
}

// Why the folder named by dir and resolved to folder must be left alone as a whole, or empty.
std::string RefusalOfTop(const TProtectedFolders& guarded, const std::wstring& dir,
                         const std::wstring& folder) {
  // The name as given counts too (and says most): a substituted drive's root resolves to an
  // ordinary folder of another drive.
  const DWORD n = ::GetFullPathNameW(dir.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    std::wstring full(n, L'\0');
    const DWORD m = ::GetFullPathNameW(dir.c_str(), n, full.data(), nullptr);
    if (m > 0 && m < n) {
      full.resize(m);
      std::string why = guarded.RefusalOf(WideToUtf8(full));
      if (!why.empty()) return why;
    }
  }
  std::string why = guarded.RefusalOf(WideToUtf8(folder));
  if (!why.empty()) return why;
  // A folder where another volume is mounted is that volume's root.
  std::wstring volume(folder.size() + 2, L'\0');
  if (::GetVolumePathNameW(folder.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    volume.resize(std::wcslen(volume.c_str()));
    if (CanonicalPath(WideToUtf8(volume)) == CanonicalPath(WideToUtf8(folder)))
      return "it is the root of a mounted volume";
  }
  return {};
}

}  // namespace

TProtectedFolders LoadProtectedFolders() {
  TProtectedFolders guarded;
  for (const TGuardRule& rule : kProtectedFolders) {
    for (const std::wstring& path : PathsOf(rule.Folder)) {
      if (path.empty()) continue;
      guarded.Add(rule.Folder, WideToUtf8(path));
      // Where it leads: a Documents folder that is a link to elsewhere guards that place.
      const TObjectName resolved = ResolveFolder(path);
      if (!resolved.Path.empty()) guarded.Add(rule.Folder, WideToUtf8(resolved.Path));
    }
  }
  return guarded;
}

TCleanupTarget CleanupTarget(const std::wstring& dir, const std::string& who) {
  if (ResolveFolder(dir).Path.empty()) return {};
  return CleanupTarget(dir, who, std::make_shared<const TProtectedFolders>(LoadProtectedFolders()));
}

TCleanupTarget CleanupTarget(const std::wstring& dir, const std::string& who,
                             std::shared_ptr<const TProtectedFolders> guarded) {
  TCleanupTarget target;
  const TObjectName folder = ResolveFolder(dir);
  if (folder.Path.empty() || !guarded) return target;
  const std::string why = RefusalOfTop(*guarded, dir, folder.Path);
  if (!why.empty()) {
    std::string shown = Shown(dir);
    const std::string resolved = Shown(folder.Path);
    if (CanonicalPath(shown) != CanonicalPath(resolved)) shown += " (" + resolved + ")";
    LogRefusal(who, shown, why);
    return target;
  }
  target.Folder = folder;
  target.Gate = [guarded, who](const TObjectName& f, const std::wstring& guardFile) {
    const std::string why = guardFile.empty() ? guarded->RefusalOf(WideToUtf8(f.Path))
                                              : "it holds " + WideToUtf8(guardFile);
    if (why.empty()) return true;
    LogRefusal(who, Shown(f.Path), why);
    return false;
  };
  return target;
}
