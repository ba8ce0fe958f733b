// The HTML Help control: found through its COM registration, loaded once by the first help
// request and released at exit (portable lookup; loading in the Windows build).
#pragma once

#include <functional>
#include <string>

class IRawRegistry;

// The registry key (below HKEY_CLASSES_ROOT) naming the help control's library.
inline constexpr const char* kHelpControlKey =
    "CLSID\\{adb880a6-d8ff-11cf-9377-00aa003b7a11}\\InprocServer32";
// The entry point of the control that shows help.
inline constexpr const char* kHtmlHelpEntryName = "HtmlHelpA";

// The control's file: the default value of kHelpControlKey, read-only; empty when the key
// cannot be opened or the value names a file that does not exist.
std::string FindHelpControl(IRawRegistry& reg,
                            const std::function<bool(const std::string&)>& fileExists);

// The same on the machine's registry and disk (Windows build).
std::string FindHelpControl();
// Loads the registered control and resolves its entry point, once: a control that is missing
// or cannot be loaded is not tried again until UnloadHelpControl (Windows build).
void LoadHelpControl();
// Closes every viewer window the control opened, then releases it (Windows build).
void UnloadHelpControl();
// Whether the control is loaded with its entry point (Windows build).
bool HelpControlLoaded();

// The help modules' slot in the module list: reads the diagnostics and writes the debug log's
// header; the control is loaded by the first help request (Windows build).
void InitializeHelpModule();
// Clears the diagnostics, then releases the control (Windows build).
void FinalizeHelpModule();
