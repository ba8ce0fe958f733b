// The two descriptors read back by the system's own parser into their entries, and the real
// port on this machine's file system and service manager.
#include "common/AccessRules.h"

#include "common/WinApi.h"

#include <sddl.h>

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

namespace {

// One entry of an access list: who (SID text), what (access mask), how inherited (ACE flags).
using TEntry = std::tuple<std::string, DWORD, BYTE>;

struct TParsed {
  bool Protected = false;
  bool HasOwner = false, HasGroup = false, HasSacl = false;
  std::set<TEntry> Allowed;
  int Other = 0;  // entries that are not "allowed" entries
};

TParsed Parse(const char* sddl) {
  TParsed out;
  PSECURITY_DESCRIPTOR sd = nullptr;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      Utf8ToWide(sddl).c_str(), SDDL_REVISION_1, &sd, nullptr))
      << sddl;
  if (!sd) return out;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(sd, &control, &revision);
  out.Protected = control & SE_DACL_PROTECTED;
  PSID sid = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  out.HasOwner = ::GetSecurityDescriptorOwner(sd, &sid, &defaulted) && sid;
  sid = nullptr;
  out.HasGroup = ::GetSecurityDescriptorGroup(sd, &sid, &defaulted) && sid;
  PACL acl = nullptr;
  out.HasSacl = ::GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted) && present;
  acl = nullptr;
  EXPECT_TRUE(::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) && present && acl);
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(acl, i, &ace)) continue;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ++out.Other;
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(&allowed->SidStart, &text);
    out.Allowed.emplace(WideToUtf8(text ? text : L"?"), allowed->Mask, header->AceFlags);
    ::LocalFree(text);
  }
  ::LocalFree(sd);
  return out;
}

constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kInteractive = "S-1-5-4";
constexpr const char* kServiceUsers = "S-1-5-6";

}  // namespace

TEST(AccessRulesWin, TheServiceKeepsTheDefaultEntriesAndInteractiveUsersMayStartButNotStopIt) {
  const TParsed sd = Parse(kServiceSddl);
  // Windows' defaults for a new service.
  constexpr DWORD kRead = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                          SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                          SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;
  const std::set<TEntry> expected = {
      {kSystem, kRead | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE, 0},
      {kAdministrators, SERVICE_ALL_ACCESS, 0},
      {kInteractive, kRead | SERVICE_START, 0},
      {kServiceUsers, kRead, 0},
  };
  EXPECT_EQ(sd.Allowed, expected);
  EXPECT_EQ(sd.Other, 0);
  // Only the access list is replaced: owner, group and audit entries stay the system's.
  EXPECT_FALSE(sd.HasOwner || sd.HasGroup || sd.HasSacl);
  EXPECT_FALSE(sd.Protected);
}

TEST(AccessRulesWin, TheProgramFolderHasProgramFilesRightsForEverythingInItAndInheritsNothing) {
  const TParsed sd = Parse(kProgramFolderSddl);
  constexpr BYTE kAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const std::set<TEntry> expected = {
      {kSystem, FILE_ALL_ACCESS, kAll},
      {kAdministrators, FILE_ALL_ACCESS, kAll},
      {kUsers, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kAll},
  };
  EXPECT_EQ(sd.Allowed, expected);
  EXPECT_EQ(sd.Other, 0);
  EXPECT_TRUE(sd.Protected);
  EXPECT_FALSE(sd.HasOwner || sd.HasGroup || sd.HasSacl);
  // Read and execute: no write, append, delete or change of rights.
  for (const DWORD write : {DWORD(FILE_WRITE_DATA), DWORD(FILE_APPEND_DATA), DWORD(FILE_WRITE_EA),
                            DWORD(FILE_WRITE_ATTRIBUTES), DWORD(FILE_DELETE_CHILD), DWORD(DELETE),
                            DWORD(WRITE_DAC), DWORD(WRITE_OWNER)})
    EXPECT_FALSE((FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) & write);
}

TEST(AccessRulesWin, TheRealPortCreatesTheFolderAndNamesWhatFails) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() /
                        ("qb-access-" + std::to_string(::GetCurrentProcessId()));
  fs::remove_all(base);
  const std::string dir = WideToUtf8((base / L"Quor" / L"eBrisko").wstring());
  IAccessPort& port = SystemAccessPort();
  EXPECT_EQ(port.Kind(dir), TPathKind::Missing);
  const TAccessOutcome made = PrepareProgramFolder(port, dir);
  EXPECT_EQ(made.ExitCode, 0) << made.Reason;
  EXPECT_EQ(port.Kind(dir), TPathKind::EmptyFolder);
  EXPECT_EQ(PrepareProgramFolder(port, dir).ExitCode, 0);  // empty: given the rights again

  { std::ofstream(fs::path(Utf8ToWide(dir)) / L"planted.dll") << "x"; }
  EXPECT_EQ(port.Kind(dir), TPathKind::Folder);
  EXPECT_EQ(PrepareProgramFolder(port, dir).ExitCode, 2);
  EXPECT_EQ(port.Kind(dir + "\\planted.dll"), TPathKind::NotFolder);
  // Below a file no folder can be made: the call's own error is the reason.
  const TAccessOutcome below = PrepareProgramFolder(port, dir + "\\planted.dll\\eBrisko");
  EXPECT_EQ(below.ExitCode, 1);
  EXPECT_NE(below.Reason.find("could not be created"), std::string::npos) << below.Reason;
  fs::remove_all(base);

  const TAccessOutcome service = GrantServiceAccess(port, "QBNoSuchService");
  EXPECT_EQ(service.ExitCode, 1);
  EXPECT_EQ(service.Reason, "The access rights of the service \"QBNoSuchService\" could not be set: " +
                                SystemErrorText(ERROR_SERVICE_DOES_NOT_EXIST));
}
