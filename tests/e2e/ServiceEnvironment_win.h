// The companion service for end-to-end runs: installed in the prefix's service manager and
// started through ServiceControl.dll before the first test, stopped and removed after the last.
#pragma once

#include <string>

// Starts the installed service (action 0 of ServiceControl.dll); true when it runs.
bool StartTestService();
// Stops the service (action 1 of ServiceControl.dll); true when it stopped.
bool StopTestService();
// Writes the product family's "Language" value (empty: deletes it).
void SetLanguageSetting(const std::string& language);
