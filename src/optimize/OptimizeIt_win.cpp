// The Win32 half of the tweak engine: the restore files on disk and the process-wide engine.
#include "optimize/OptimizeIt.h"

#include "common/GenericAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/Settings.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <sddl.h>

#include <algorithm>

namespace {

class TSystemRestoreFileSystem final : public IRestoreFileSystem {
 public:
  long ReadText(const std::string& path, std::string& text) override {
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return static_cast<long>(::GetLastError());
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
        return static_cast<long>(::GetLastError());
      if (got == 0) break;
      bytes.append(buffer, got);
    }
    text = AnsiToUtf8(bytes);
    return ERROR_SUCCESS;
  }

  long WriteTextFlushed(const std::string& path, std::string_view text) override {
    const std::string bytes = Utf8ToAnsi(text);
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return static_cast<long>(::GetLastError());
    size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      DWORD written = 0;
      if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
        return static_cast<long>(::GetLastError());
      if (written == 0) return ERROR_WRITE_FAULT;
      done += written;
    }
    // The new content must be on the disk before it replaces the old.
    if (!::FlushFileBuffers(file.get())) return static_cast<long>(::GetLastError());
    return ERROR_SUCCESS;
  }

  long ReplaceWith(const std::string& target, const std::string& source) override {
    const std::wstring to = Utf8ToWide(target);
    const std::wstring from = Utf8ToWide(source);
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    // A read-only file is not to be rewritten, as an in-place write would be refused.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      return ERROR_ACCESS_DENIED;
    // One rename that replaces the old file. Not ReplaceFileW: Wine's moves the old file away
    // and deletes it before it moves the new one in, so a crash there loses both.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return ERROR_SUCCESS;
    return static_cast<long>(::GetLastError());
  }

  long RemoveFile(const std::string& path) override {
    if (::DeleteFileW(Utf8ToWide(path).c_str())) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
               ? ERROR_SUCCESS
               : static_cast<long>(error);
  }

  std::string ErrorText(long code) override {
    return SystemErrorText(static_cast<unsigned long>(code));
  }

  bool CodePageHolds(std::string_view text) override {
    const std::wstring wide = Utf8ToWide(text);
    if (wide.empty()) return true;
    const UINT codePage = ::GetACP();
    if (codePage == CP_UTF8) return true;  // the file is then UTF-8 and holds everything
    BOOL usedDefault = FALSE;
    const int size = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                           static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                           &usedDefault);
    if (size <= 0 || usedDefault) return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                          bytes.data(), size, nullptr, &usedDefault);
    return !usedDefault && AnsiToUtf8(bytes) == text;
  }
};

// Turns a privilege of the process token on; false when the token does not hold it.
bool EnablePrivilege(const wchar_t* name) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
    return false;
  const TScopedHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) return false;
  return ::GetLastError() == ERROR_SUCCESS;  // ERROR_NOT_ALL_ASSIGNED: not held
}

// An account's hive under HKEY_USERS, unloaded again when the lease ends if it was loaded for it.
class TUserRootLease final : public IUserHives::TLease {
 public:
  TUserRootLease(HKEY key, std::wstring mount) : FKey(key), FMount(std::move(mount)) {}
  ~TUserRootLease() override {
    FKey.reset();
    if (!FMount.empty()) ::RegUnLoadKeyW(HKEY_USERS, FMount.c_str());
  }
  TRegHandle Root() const override { return reinterpret_cast<TRegHandle>(FKey.get()); }

 private:
  TScopedRegKey FKey;
  std::wstring FMount;
};

class TSystemUserHives final : public IUserHives {
 public:
  std::string CurrentUserSid() override {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    const TScopedHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    TUniqueHandle<TLocalMemTraits<wchar_t*>> text;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, text.put()))
      return {};
    return WideToUtf8(text.get());
  }

  TRegHandle CurrentUserRoot() override { return kHkeyCurrentUser; }

  std::unique_ptr<TLease> OpenUserRoot(const std::string& sid, std::string& error) override {
    const std::wstring wsid = Utf8ToWide(sid);
    // A SID is one key name; anything else could reach another part of the registry.
    if (wsid.empty() || wsid.find_first_of(L"\\/") != std::wstring::npos) {
      error = SystemErrorText(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExW(HKEY_USERS, wsid.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_SUCCESS) return std::make_unique<TUserRootLease>(key, std::wstring());
    if (rc != ERROR_FILE_NOT_FOUND) {
      error = SystemErrorText(static_cast<unsigned long>(rc));
      return nullptr;
    }
    // Not signed in: the hive file of the profile, found through the profile list.
    const std::wstring profileKey =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + wsid;
    wchar_t folder[MAX_PATH * 2] = {};
    DWORD size = sizeof folder;
    rc = ::RegGetValueW(HKEY_LOCAL_MACHINE, profileKey.c_str(), L"ProfileImagePath",
                        RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, folder, &size);
    if (rc != ERROR_SUCCESS) {
      error = SystemErrorText(static_cast<unsigned long>(rc));
      return nullptr;
    }
    const std::wstring hive = std::wstring(folder) + L"\\NTUSER.DAT";
    // Loading a hive needs both privileges, which an elevated administrator holds.
    EnablePrivilege(SE_RESTORE_NAME);
    EnablePrivilege(SE_BACKUP_NAME);
    const std::wstring mount = L"QuorEBrisko " + wsid;
    rc = ::RegLoadKeyW(HKEY_USERS, mount.c_str(), hive.c_str());
    if (rc != ERROR_SUCCESS) {
      error = WideToUtf8(hive) + ": " + SystemErrorText(static_cast<unsigned long>(rc));
      return nullptr;
    }
    rc = ::RegOpenKeyExW(HKEY_USERS, mount.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
      ::RegUnLoadKeyW(HKEY_USERS, mount.c_str());
      error = SystemErrorText(static_cast<unsigned long>(rc));
      return nullptr;
    }
    return std::make_unique<TUserRootLease>(key, mount);
  }
};

}  // namespace

IRestoreFileSystem& SystemRestoreFileSystem() {
  static TSystemRestoreFileSystem files;
  return files;
}

IUserHives& SystemUserHives() {
  static TSystemUserHives hives;
  return hives;
}

void InitializeOptimizeModule() {
  gOptimizeIt = std::make_unique<TOptimizeIt>(gAppDir(), SystemRegistry(), SystemRestoreFileSystem(),
                                              &SystemUserHives());
  gOptimizeIt->Log = [](const std::string& line) { WriteLog(line); };
}
