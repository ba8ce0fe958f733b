// The current user's privilege level from the local account database.
#include "common/GenericNetAPI.h"

#include "common/Errors.h"
#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <lm.h>

namespace {

struct TNetBufferTraits {
  using Handle = LPBYTE;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ::NetApiBufferFree(h); }
};
using TScopedNetBuffer = TUniqueHandle<TNetBufferTraits>;

}  // namespace

bool GPGetUserPrivilege(int& level) {
  try {
    wchar_t name[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    if (!::GetUserNameW(name, &size))
      throw Exception("GetUserNameW failed: " + SystemErrorText(::GetLastError()));
    TScopedNetBuffer info;
    // A user the local database does not hold (a domain account) is no error worth a log line.
    if (::NetUserGetInfo(nullptr, name, 1, info.put()) != NERR_Success || !info) return false;
    level = static_cast<int>(reinterpret_cast<const USER_INFO_1*>(info.get())->usri1_priv);
    return true;
  } catch (const std::exception& e) {
    WriteLog(std::string("[GPGetUserPrivilege]") + e.what());
  }
  return false;
}

void InitializeNetModule() { InitializeNetModule(&GPGetUserPrivilege); }
