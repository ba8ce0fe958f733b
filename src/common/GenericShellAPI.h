// Shell folders (portable interface; implemented in the Windows build).
#pragma once

#include <string>

// The file-system path of the shell special folder csidl, without trailing separator; empty
// when it cannot be resolved (failures are logged as "[GPGetSpecialFolder]" + message).
std::string GPGetSpecialFolder(int csidl);

// The all-users application-data folder (CSIDL 35) with trailing separator, or empty.
const std::string& GetCommonAppDataDir();
// The per-user application-data folder (CSIDL 26) with trailing separator, or empty.
const std::string& GetUserAppDataDir();

// Resolves both folders; runs once before the main routine.
void InitializeShellModule();
// Clears both folders.
void FinalizeShellModule();
