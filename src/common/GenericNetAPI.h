// The current user's account privilege level (portable interface).
#pragma once

// The level-1 privilege (0 guest, 1 user, 2 administrator) of the user running the process,
// from the local account database; false with Level untouched when the query fails.
bool GPGetUserPrivilege(int& level);

// Whether the current user is an administrator; settled before the main routine.
bool gIsAdmin();

// Settles gIsAdmin; runs once before the main routine.
void InitializeNetModule();
