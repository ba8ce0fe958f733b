// The current user's account privilege level (portable interface).
#pragma once

#include <functional>

// A privilege query: true with the level set when it succeeds, false with it untouched.
using TPrivilegeQuery = std::function<bool(int& level)>;

// The level-1 privilege (0 guest, 1 user, 2 administrator) of the user running the process,
// from the local account database; false with Level untouched when the query fails. Failures
// raised on the way are logged as "[GPGetUserPrivilege]" + message (Windows build).
bool GPGetUserPrivilege(int& level);

// Whether the current user is an administrator; settled before the main routine.
bool gIsAdmin();

// Settles gIsAdmin from GPGetUserPrivilege; runs once before the main routine (Windows build).
void InitializeNetModule();
// Settles gIsAdmin from query: true only when it succeeds with level 2.
void InitializeNetModule(const TPrivilegeQuery& query);
// Sets gIsAdmin back to false.
void FinalizeNetModule();
