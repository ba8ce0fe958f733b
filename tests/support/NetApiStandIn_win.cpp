// A test-only netapi32.dll: reports every account as an administrator, so end-to-end tests can
// run the unmodified program on the administrator's paths where the system's account database
// says otherwise (Wine reports a guest). Loaded only when placed beside a program and chosen
// with WINEDLLOVERRIDES="netapi32=n"; never shipped.
#include "common/WinApi.h"

#include <cwchar>

namespace {

// The level-1 account record as the account database hands it out.
struct TUserInfo1 {
  wchar_t* usri1_name;
  wchar_t* usri1_password;
  DWORD usri1_password_age;
  DWORD usri1_priv;
  wchar_t* usri1_home_dir;
  wchar_t* usri1_comment;
  DWORD usri1_flags;
  wchar_t* usri1_script_path;
};

constexpr DWORD kNerrSuccess = 0;
constexpr DWORD kErrorInvalidLevel = 124;
constexpr DWORD kUserPrivAdmin = 2;
constexpr DWORD kUfScript = 0x0001;
constexpr DWORD kUfNormalAccount = 0x0200;

}  // namespace

extern "C" {

// Level 1 only: one block holding the record and the name, freed by NetApiBufferFree.
DWORD WINAPI NetUserGetInfo(const wchar_t* /*server*/, const wchar_t* userName, DWORD level,
                            BYTE** buffer) {
  if (!buffer || !userName) return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  if (level != 1) return kErrorInvalidLevel;
  const size_t nameChars = std::wcslen(userName) + 1;
  void* block = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY,
                            sizeof(TUserInfo1) + nameChars * sizeof(wchar_t));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  auto* info = static_cast<TUserInfo1*>(block);
  info->usri1_name = reinterpret_cast<wchar_t*>(info + 1);
  std::wmemcpy(info->usri1_name, userName, nameChars);
  info->usri1_priv = kUserPrivAdmin;
  info->usri1_flags = kUfScript | kUfNormalAccount;
  *buffer = static_cast<BYTE*>(block);
  return kNerrSuccess;
}

DWORD WINAPI NetApiBufferFree(void* buffer) {
  if (buffer) ::HeapFree(::GetProcessHeap(), 0, buffer);
  return kNerrSuccess;
}

}  // extern "C"
