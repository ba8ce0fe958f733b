// Text conversions at the Win32 boundary (Windows-only header).
#pragma once

#include "common/Errors.h"

#include <string>
#include <string_view>

// UTF-8 to UTF-16, for the W calls.
std::wstring Utf8ToWide(std::string_view s);
// UTF-16 to UTF-8.
std::string WideToUtf8(std::wstring_view s);
// UTF-8 to the system ANSI code page, where the bytes on disk or wire are ANSI.
std::string Utf8ToAnsi(std::string_view s);
// The system ANSI code page to UTF-8.
std::string AnsiToUtf8(std::string_view s);
// The system's message text for a Win32 error code, without the trailing line break.
std::string SystemErrorText(unsigned long code);
// The error for a failed COM call: the system's text for hr, or "OLE error" and its number.
EOleSysError OleSysError(long hr);
