// The unmodified program run as an administrator: Wine's account database calls every account
// a guest, so a copy of the program runs in a folder of its own beside the test-only
// netapi32.dll stand-in, which that start alone is told to prefer over Wine's own.
#pragma once

#include "e2e/Driver_win.h"

#include <string>

// Makes the administrator's folder afresh: the program, its service library, its language
// packs, its theme file and the stand-in. Returns the folder, with trailing "\".
std::string PrepareAdministratorCopy();
// Removes the administrator's folder, so no stand-in stays behind among the built programs.
void RemoveAdministratorCopy();
// The administrator's copy of the program (PrepareAdministratorCopy first).
std::string AdministratorProgram();
// Starts the administrator's copy with args and returns once its start-up has loaded the
// stand-in; the prefix's settings are back as they were when the call returns.
TDriverProcess StartAsAdministrator(const std::string& args = {});
// Puts the stand-in into folder (with trailing "\"), beside a program found there.
void PlaceStandIn(const std::string& folder);
// StartAsAdministrator for the program eBrisko.exe in another folder that holds the stand-in.
TDriverProcess StartProgramAsAdministrator(const std::string& program, const std::string& args = {});
