// The elevation of the process token.
#include "common/Elevation.h"

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"

bool QueryTokenElevation(TTokenElevation& out) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const TScopedHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
    return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  if (!::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size))
    return false;
  out.Elevated = elevation.TokenIsElevated != 0;
  out.Type = static_cast<TElevationType>(type);
  return true;
}
