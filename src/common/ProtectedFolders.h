// The folders the disk cleanup never counts or clears, in one table, and the rule that applies
// it to a folder (portable; the folders of the machine are looked up in the Windows build).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A folder of the system or the user that the table names.
enum class TGuardedFolder : uint8_t {
  gfWindows,
  gfSystem,
  gfSystemX86,
  gfProgramFiles,
  gfProgramFilesX86,
  gfProgramFilesCommon,
  gfProgramFilesCommonX86,
  gfUserProgramFiles,
  gfProgramData,
  gfAppFolder,
  gfUserProfiles,
  gfProfile,
  gfDesktop,
  gfDocuments,
  gfDownloads,
  gfPictures,
  gfMusic,
  gfVideos,
  gfFavorites,
  gfOneDrive,
  gfRoamingAppData,
  gfLocalAppData,
  gfLocalAppDataLow,
  gfPublic,
  gfPublicDesktop,
  gfPublicDocuments,
  gfPublicDownloads,
  gfPublicPictures,
  gfPublicMusic,
  gfPublicVideos,
};

// How far a rule reaches. Every rule covers the folder itself and every folder holding it
// (clearing either would empty it).
enum class TGuardReach : uint8_t {
  // Only that: the folders below it may be cleared (the temporary folder lies below the
  // profile and the local application data).
  grFolderAndAbove,
  // Every folder below it as well: nothing in it is clutter of the user's.
  grWholeTree,
};

struct TGuardRule {
  TGuardedFolder Folder;
  TGuardReach Reach;
  // How the diagnostic log names it.
  const char* Name;
};

// Everything the disk cleanup must never touch, in one place.
inline constexpr TGuardRule kProtectedFolders[] = {
    {TGuardedFolder::gfWindows, TGuardReach::grWholeTree, "the Windows folder"},
    {TGuardedFolder::gfSystem, TGuardReach::grWholeTree, "the system folder"},
    {TGuardedFolder::gfSystemX86, TGuardReach::grWholeTree, "the 32-bit system folder"},
    {TGuardedFolder::gfProgramFiles, TGuardReach::grWholeTree, "the Program Files folder"},
    {TGuardedFolder::gfProgramFilesX86, TGuardReach::grWholeTree, "the 32-bit Program Files folder"},
    {TGuardedFolder::gfProgramFilesCommon, TGuardReach::grWholeTree, "the Common Files folder"},
    {TGuardedFolder::gfProgramFilesCommonX86, TGuardReach::grWholeTree, "the 32-bit Common Files folder"},
    {TGuardedFolder::gfUserProgramFiles, TGuardReach::grWholeTree, "the user's program folder"},
    {TGuardedFolder::gfProgramData, TGuardReach::grWholeTree, "the ProgramData folder"},
    {TGuardedFolder::gfAppFolder, TGuardReach::grWholeTree, "the program's own folder"},
    {TGuardedFolder::gfUserProfiles, TGuardReach::grFolderAndAbove, "the folder of the user profiles"},
    {TGuardedFolder::gfProfile, TGuardReach::grFolderAndAbove, "the user's profile"},
    {TGuardedFolder::gfDesktop, TGuardReach::grWholeTree, "the Desktop folder"},
    {TGuardedFolder::gfDocuments, TGuardReach::grWholeTree, "the Documents folder"},
    {TGuardedFolder::gfDownloads, TGuardReach::grWholeTree, "the Downloads folder"},
    {TGuardedFolder::gfPictures, TGuardReach::grWholeTree, "the Pictures folder"},
    {TGuardedFolder::gfMusic, TGuardReach::grWholeTree, "the Music folder"},
    {TGuardedFolder::gfVideos, TGuardReach::grWholeTree, "the Videos folder"},
    {TGuardedFolder::gfFavorites, TGuardReach::grWholeTree, "the Favorites folder"},
    {TGuardedFolder::gfOneDrive, TGuardReach::grWholeTree, "the OneDrive folder"},
    {TGuardedFolder::gfRoamingAppData, TGuardReach::grFolderAndAbove, "the roaming application data"},
    {TGuardedFolder::gfLocalAppData, TGuardReach::grFolderAndAbove, "the local application data"},
    {TGuardedFolder::gfLocalAppDataLow, TGuardReach::grFolderAndAbove, "the low-integrity application data"},
    {TGuardedFolder::gfPublic, TGuardReach::grFolderAndAbove, "the Public profile"},
    {TGuardedFolder::gfPublicDesktop, TGuardReach::grWholeTree, "the Public Desktop folder"},
    {TGuardedFolder::gfPublicDocuments, TGuardReach::grWholeTree, "the Public Documents folder"},
    {TGuardedFolder::gfPublicDownloads, TGuardReach::grWholeTree, "the Public Downloads folder"},
    {TGuardedFolder::gfPublicPictures, TGuardReach::grWholeTree, "the Public Pictures folder"},
    {TGuardedFolder::gfPublicMusic, TGuardReach::grWholeTree, "the Public Music folder"},
    {TGuardedFolder::gfPublicVideos, TGuardReach::grWholeTree, "the Public Videos folder"},
};

// Files whose folder is never cleared wherever it is: the speed switches' restore file and the
// record of the values they hold changed (their loss makes the switches impossible to undo).
inline constexpr const char* kGuardFileNames[] = {"optrestore.rgd", "optchanged.rgd"};

// Whether a file name is one of kGuardFileNames (ASCII letters folded, as the file system
// does on Windows).
bool IsGuardFileName(std::string_view name);

// The protected folders of one machine and user, each by the names it goes by.
class TProtectedFolders {
 public:
  // Adds a name of the table's folder (a path as the system gives it, or its final path after
  // links; "\\?\" forms and "/" separators are fine); an empty path is ignored.
  void Add(TGuardedFolder folder, std::string_view path);

  // Why clearing the contents of folder (a path in any of the forms above) must be refused:
  // a drive, share or volume root, a folder of the table, a folder holding one, or a folder
  // inside one that reaches its whole tree. Empty when it may be cleared. Paths compare with
  // ASCII letters folded, so a spelling in another case is refused too.
  std::string RefusalOf(std::string_view folder) const;

 private:
  struct TEntry {
    const TGuardRule* Rule;
    std::string Path;
    std::string Key;
  };
  std::vector<TEntry> FEntries;
};

// Whether a path ("C:\", "\\?\C:\x", "\\server\share", "\\?\UNC\s\h", "\\?\Volume{...}\")
// names the root of a drive, share or volume; trailing separators are ignored and an empty
// path counts as a root.
bool IsDriveRoot(std::string_view path);

// One spelling for every form of a path, for comparing: "\" separators, no "\\?\" prefix
// ("UNC\" becomes "\\"), no trailing separators, ASCII letters in lower case.
std::string CanonicalPath(std::string_view path);
