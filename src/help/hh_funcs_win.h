// The help launcher of this process on the machine (Windows-only header).
#pragma once

#include "common/WinApi.h"
#include "help/hh_funcs.h"

#include <string_view>

// The help file in every language pack, and the topic the program opens in it.
inline constexpr const char* kProductHelpFile = "EHELP_eBrisko.CHM";
inline constexpr const char* kProductHelpTopic = "/html/Quor-eBrisko.htm";

// The machine as the help launcher sees it.
IHelpPlatform& SystemHelpPlatform();
// The launcher and diagnostics state of this process, on the machine.
THelpFuncs& HelpFuncs();

// ShowHelpTopic and ShowTopic of this process's launcher; the result code.
int ShowHelpTopic(std::string_view helpFile, std::string_view topic, std::string_view windowName,
                  int host);
int ShowTopic(const std::string& path, int host);

// What the main window's Help button and F1 do: the language pack's help file at the start
// topic in the help control's viewer. mainWindow owns the warnings of a viewer that fails to
// start when no window of the program is active. The result code, which the window may ignore.
int ShowProductHelp(HWND mainWindow);
