#pragma once
// Plain file-system steps on UTF-8 paths for the portable modules. The Windows build makes the
// system's W calls directly (no C++ streams or std::filesystem, whose locale and conversion
// machinery would more than double the program's code); the native build uses the host's
// file system, so the portable code runs in its tests as it is.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file, not a folder, is at Path; an empty path names nothing.
bool IsFile(const std::string& path);
// A folder is at Path.
bool IsFolder(const std::string& path);
// Creates the folder and every missing folder above it; true when the folder is there after.
bool ForceFolders(const std::string& path);
// The system's temporary folder with a trailing separator, or "" when there is none.
std::string TempFolder();
// The names (not paths) of the files and folders in Dir, without "." and ".."; empty when the
// folder cannot be read.
std::vector<std::string> FolderEntryNames(const std::string& dir);
// The whole content of the file at Path, or nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);
