// Paths, the diagnostic log and the registry string read (portable interface).
#pragma once

#include <string>
#include <string_view>
#include <vector>

class IRawRegistry;

// Dir with a trailing separator: empty stays empty; a name ending in "\" or "/" is unchanged;
// otherwise "/" is appended when the name holds a "/", else "\".
std::string IncludeTrailingSeparator(std::string_view dir);

// The folder part of a file name: everything up to and including its last "\", "/" or ":".
std::string ExtractFilePath(std::string_view fileName);

// The full file name of the running program (Windows build).
std::string GetAppFileName();

// The folder of the running program file, with trailing separator (Windows build).
std::string GetAppDir();

// Appends "<short date> <long time>: Msg" and CR LF to "tqrlog.txt" in the all-users
// application-data folder, only when that file exists; every error is swallowed (Windows build).
void WriteLog(std::string_view msg);

// The same for the log file at path (UTF-8 text); the file is never created (Windows build).
void WriteLogTo(std::string_view path, std::string_view msg);

// The string value Name of Key under HKLM (HKCU when CurrentUser), opened read-only, in the
// 64-bit view when asked; empty when anything is missing or not a string.
std::string ReadRegString(IRawRegistry& reg, std::string_view key, std::string_view name,
                          bool currentUser, bool use64BitView);
// The same on the machine's registry (Windows build).
std::string ReadRegString(std::string_view key, std::string_view name, bool currentUser,
                          bool use64BitView);

// Deletes everything below Dir; Dir itself stays. Links (junctions, symbolic links, mount
// points) are removed themselves (under Wine, which cannot remove one without its target, they
// stay), never entered, so their targets stay untouched. Whatever
// cannot be deleted (in use, no rights) is left silently. A protected folder (the table of
// ProtectedFolders.h, or a folder holding the speed switches' restore file) is neither cleared
// nor entered, and the diagnostic log gets one line naming it (Windows build).
void DeleteFolderContents(std::string_view dir);
// Whether DeleteFolderContents would clear anything of dir: it resolves to a folder that is not
// protected and holds no restore file of the speed switches (Windows build).
bool IsFolderClearable(std::string_view dir);
