// Whether the process runs with an administrator's full (elevated) token, as a port: the
// decisions that depend on it are portable, the query is the Win32 token (Elevation_win.cpp).
#pragma once

// The kind of token User Account Control gave the process (the Win32 TOKEN_ELEVATION_TYPE).
enum class TElevationType {
  etDefault = 1,  // no split token: User Account Control off, or not an administrator
  etFull = 2,     // an administrator's elevated token
  etLimited = 3,  // an administrator's filtered token; elevation asks for consent
};

// The elevation of a token.
struct TTokenElevation {
  bool Elevated = true;  // TokenElevation: the token holds its administrator rights
  TElevationType Type = TElevationType::etDefault;
};

// Reads the elevation of the process token; false, with out untouched, when it cannot be read
// (Windows build).
bool QueryTokenElevation(TTokenElevation& out);

// Whether an administrator with this token must start an elevated helper (and so be asked
// for consent) to write what only elevated administrators may write.
constexpr bool NeedsElevatedHelper(const TTokenElevation& token) noexcept {
  return !token.Elevated;
}
