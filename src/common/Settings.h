// The product family's settings, the program folder and its version lines (portable interface).
#pragma once

#include <string>
#include <string_view>
#include <vector>

class IRawRegistry;

// The product family's key, used when a settings call passes an empty key.
inline constexpr const char* kProductFamilyKey = "\\Software\\Quor\\eCentrio";

// The string value Name under Key (empty Key: the product family's key), HKLM unless
// CurrentUser, opened read-only; empty when the key, the value or the read fails.
std::string ReadSetting(IRawRegistry& reg, std::string_view name, bool currentUser = false,
                        std::string_view key = {});
// The same on the machine's registry (Windows build).
std::string ReadSetting(std::string_view name, bool currentUser = false, std::string_view key = {});

// Writes Value as REG_SZ Name under Key (created when missing); does nothing when the key
// cannot be opened; raises ERegistryException "Failed to set data for '<Name>'" when the write
// on the open key fails.
void WriteSetting(IRawRegistry& reg, std::string_view name, std::string_view value,
                  bool currentUser = false, std::string_view key = {});
// The same on the machine's registry (Windows build).
void WriteSetting(std::string_view name, std::string_view value, bool currentUser = false,
                  std::string_view key = {});

// The version keys read from "StringFileInfo\040904e4\", in the order of the version lines.
inline constexpr const char* kVersionInfoKeys[] = {
    "CompanyName",    "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFileName", "ProductName", "ProductVersion", "Comments"};

// Appends "Key=Value" for each of the ten version keys that the running program's version
// resource holds; leaves the list unchanged when it has none (Windows build).
void ReadVersionInfo(std::vector<std::string>& list);
// The same for the program or library file at path (UTF-8) (Windows build).
void ReadVersionInfoOf(std::string_view path, std::vector<std::string>& list);

// The program folder with trailing separator; set before the main routine (Windows build).
const std::string& gAppDir();
// The version lines of the running program; set before the main routine (Windows build).
const std::vector<std::string>& gVersionInfo();

// Sets gAppDir and gVersionInfo; runs once before the main routine (Windows build).
void InitializeSettingsModule();
// Releases gVersionInfo and clears gAppDir (Windows build).
void FinalizeSettingsModule();
