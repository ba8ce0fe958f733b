// Small text helpers shared by every subsystem (portable).
#pragma once

#include <string>
#include <string_view>

// Whether a and b are equal when ASCII letters are folded to one case.
bool SameText(std::string_view a, std::string_view b) noexcept;
// A copy of s with ASCII letters in lower case.
std::string LowerAscii(std::string_view s);
// s without the spaces and tabs at both ends.
std::string_view TrimBlanks(std::string_view s) noexcept;
