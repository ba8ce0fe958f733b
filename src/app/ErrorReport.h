// The text the top-level error report shows for an error message (portable).
#pragma once

#include <string>
#include <string_view>

// The message with "." appended when its last character sorts after "." (so "Failed" ends in
// "Failed." while "Done." or "Really?" stay as they are); an empty message stays empty.
std::string ErrorReportText(std::string_view message);
