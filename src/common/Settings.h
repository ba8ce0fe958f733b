// The product family's settings, the program folder and its version lines (portable interface).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The product family's key, used when a settings call passes an empty key.
inline constexpr const char* kProductFamilyKey = "\\Software\\Quor\\eCentrio";

// The string value Name under Key (empty Key: the product family's key), HKLM unless
// CurrentUser; empty when the key, the value or the read fails.
std::string ReadSetting(std::string_view name, bool currentUser = false, std::string_view key = {});

// Writes Value as REG_SZ Name under Key (created when missing); does nothing when the key
// cannot be opened; raises ERegistryException "Failed to set data for '<Name>'" when the write
// on the open key fails.
void WriteSetting(std::string_view name, std::string_view value, bool currentUser = false,
                  std::string_view key = {});

// Appends "Key=Value" for each of the ten version keys that the running program's version
// resource holds; leaves the list unchanged when it has none.
void ReadVersionInfo(std::vector<std::string>& list);

// The program folder with trailing separator; set before the main routine.
const std::string& gAppDir();
// The version lines of the running program; set before the main routine.
const std::vector<std::string>& gVersionInfo();

// Sets gAppDir and gVersionInfo; runs once before the main routine.
void InitializeSettingsModule();
// Releases gVersionInfo.
void FinalizeSettingsModule();
