#include "common/AccessRules.h"

#include "common/WinApi.h"

#include <aclapi.h>
#include <sddl.h>

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

namespace {

using TScopedDescriptor = TUniqueHandle<TLocalMemTraits<PSECURITY_DESCRIPTOR>>;

// The descriptor of sddl, or an invalid one with the error in GetLastError.
TScopedDescriptor Descriptor(const std::string& sddl) {
  TScopedDescriptor sd;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(Utf8ToWide(sddl).c_str(), SDDL_REVISION_1,
                                                         sd.put(), nullptr);
  return sd;
}

class TSystemAccessPort final : public IAccessPort {
 public:
  TPathKind Kind(const std::string& path) override {
    const std::wstring wide = Utf8ToWide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD err = ::GetLastError();
      return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? TPathKind::Missing
                                                                          : TPathKind::Unreadable;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return TPathKind::NotFolder;
    // A link or junction is not a folder of ours, whatever it points at.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TPathKind::NotFolder;
    WIN32_FIND_DATAW data;
    TScopedFindHandle find(::FindFirstFileExW((wide + L"\\*").c_str(), FindExInfoBasic, &data,
                                              FindExSearchNameMatch, nullptr, 0));
    if (!find) return TPathKind::Unreadable;
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") return TPathKind::Folder;
    } while (::FindNextFileW(find.get(), &data));
    return ::GetLastError() == ERROR_NO_MORE_FILES ? TPathKind::EmptyFolder : TPathKind::Unreadable;
  }

  uint32_t CreateFolder(const std::string& path, const std::string& sddl) override {
    TScopedDescriptor sd = Descriptor(sddl);
    if (!sd) return ::GetLastError();
    SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
    return ::CreateDirectoryW(Utf8ToWide(path).c_str(), &sa) ? NO_ERROR : ::GetLastError();
  }

  uint32_t SetFolderAccess(const std::string& path, const std::string& sddl) override {
    TScopedDescriptor sd = Descriptor(sddl);
    if (!sd) return ::GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted)) return ::GetLastError();
    std::wstring wide = Utf8ToWide(path);
    return ::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, dacl, nullptr);
  }

  uint32_t SetServiceAccess(const std::string& name, const std::string& sddl) override {
    TScopedDescriptor sd = Descriptor(sddl);
    if (!sd) return ::GetLastError();
    TScopedServiceHandle scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return ::GetLastError();
    TScopedServiceHandle svc(::OpenServiceW(scm.get(), Utf8ToWide(name).c_str(), WRITE_DAC));
    if (!svc) return ::GetLastError();
    return ::SetServiceObjectSecurity(svc.get(), DACL_SECURITY_INFORMATION, sd.get())
               ? NO_ERROR
               : ::GetLastError();
  }

  std::string ErrorText(uint32_t code) override { return SystemErrorText(code); }
};

}  // namespace

IAccessPort& SystemAccessPort() {
  static TSystemAccessPort port;
  return port;
}
