// The table of folders the disk cleanup never touches, applied to the folders of one machine.
#include "common/ProtectedFolders.h"
#include "optimize/OptimizeIt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

using G = TGuardedFolder;

// A Windows 11 machine whose user "Jörg" has Documents redirected to D:\Data\Docs.
TProtectedFolders Machine() {
  const std::string profile = "C:\\Users\\J\xC3\xB6rg";
  TProtectedFolders p;
  const std::pair<G, std::string> folders[] = {
      {G::gfWindows, R"(C:\Windows)"},
      {G::gfWindows, R"(\\?\C:\Windows)"},
      {G::gfSystem, R"(C:\Windows\system32)"},
      {G::gfSystemX86, R"(C:\Windows\SysWOW64)"},
      {G::gfProgramFiles, R"(C:\Program Files)"},
      {G::gfProgramFilesX86, R"(C:\Program Files (x86))"},
      {G::gfProgramFilesCommon, R"(C:\Program Files\Common Files)"},
      {G::gfProgramFilesCommonX86, R"(C:\Program Files (x86)\Common Files)"},
      {G::gfUserProgramFiles, profile + R"(\AppData\Local\Programs)"},
      {G::gfProgramData, R"(C:\ProgramData)"},
      {G::gfAppFolder, R"(C:\Program Files\Quor\eBrisko\)"},
      {G::gfUserProfiles, R"(C:\Users)"},
      {G::gfProfile, profile},
      {G::gfDesktop, profile + R"(\Desktop)"},
      {G::gfDocuments, profile + R"(\Documents)"},
      {G::gfDocuments, R"(\\?\D:\Data\Docs)"},  // where the link leads
      {G::gfDownloads, profile + R"(\Downloads)"},
      {G::gfRoamingAppData, profile + R"(\AppData\Roaming)"},
      {G::gfLocalAppData, profile + R"(\AppData\Local)"},
      {G::gfPublic, R"(C:\Users\Public)"},
      {G::gfPublicDocuments, R"(C:\Users\Public\Documents)"},
      {G::gfMusic, ""},  // a folder the machine does not name
  };
  for (const auto& [folder, path] : folders) p.Add(folder, path);
  return p;
}

}  // namespace

TEST(ProtectedFolders, RefusesTheTableFoldersTheFoldersAboveThemAndWholeTreesWhereTheyReach) {
  const TProtectedFolders machine = Machine();
  const std::string profile = "C:\\Users\\J\xC3\xB6rg";
  // Folder, and the start of the reason (empty: it may be cleared).
  const std::pair<std::string, std::string> cases[] = {
      {R"(\\?\C:\)", "it is the root of a drive"},
      {R"(D:)", "it is the root of a drive"},
      {R"(\\?\UNC\server\share\)", "it is the root of a drive"},
      {R"(c:\windows\)", "it is the Windows folder"},
      {R"(\\?\C:\Windows\System32)", "it is the system folder"},
      {R"(C:\Windows\Temp)", "it lies in the Windows folder"},
      {R"(C:\Program Files)", "it is the Program Files folder"},
      {R"(C:\Program Files\Other Vendor\App)", "it lies in the Program Files folder"},
      {R"(C:\Program Files\Quor\eBrisko)", "it is the program's own folder"},
      {R"(C:\Program Files\Quor)", "it lies in the Program Files folder"},
      {R"(C:\ProgramData)", "it is the ProgramData folder"},
      {R"(C:\ProgramData\Quor)", "it lies in the ProgramData folder"},
      {R"(C:\Users)", "it is the folder of the user profiles"},
      {"c:/USERS/J\xC3\xB6rg/", "it is the user's profile"},
      {profile + R"(\AppData)", "it holds the user's program folder"},
      {profile + R"(\AppData\Roaming)", "it is the roaming application data"},
      {profile + R"(\AppData\Local)", "it is the local application data"},
      {profile + R"(\AppData\Local\Programs\Tool)", "it lies in the user's program folder"},
      {profile + R"(\Documents)", "it is the Documents folder"},
      {profile + R"(\Documents\Projects)", "it lies in the Documents folder"},
      {profile + R"(\Desktop\old)", "it lies in the Desktop folder"},
      {R"(D:\Data\Docs\2024)", "it lies in the Documents folder"},
      {R"(\\?\D:\Data)", "it holds the Documents folder"},
      {R"(C:\Users\Public)", "it is the Public profile"},
      {R"(C:\Users\Public\Documents\x)", "it lies in the Public Documents folder"},
      // What the clean-up is for.
      {profile + R"(\AppData\Local\Temp)", ""},
      {R"(\\?\)" + profile + R"(\AppData\Local\Microsoft\Windows\INetCache\)", ""},
      {profile + R"(\AppData\Local\Microsoft\Windows\INetCookies)", ""},
      {R"(C:\Users\Public\Temp)", ""},
      {R"(D:\Data\Docs2)", ""},  // a name's prefix is no ancestor
      {R"(C:\Win)", ""},
      {R"(D:\Temp)", ""},
      {R"(\\?\UNC\server\share\temp)", ""},
  };
  for (const auto& [path, reason] : cases) {
    const std::string refusal = machine.RefusalOf(path);
    if (reason.empty())
      EXPECT_THAT(refusal, IsEmpty()) << path;
    else
      EXPECT_THAT(refusal, StartsWith(reason)) << path;
  }
  // The reason names the folder as the machine gave it.
  EXPECT_THAT(machine.RefusalOf(R"(D:\Data)"), HasSubstr(R"((\\?\D:\Data\Docs))"));
  // Without any folders only roots are refused.
  EXPECT_THAT(TProtectedFolders().RefusalOf(R"(C:\Windows)"), IsEmpty());
  EXPECT_THAT(TProtectedFolders().RefusalOf(R"(C:\)"), StartsWith("it is the root"));
}

TEST(ProtectedFolders, EveryFolderHasOneRuleAndTheGuardFilesAreTheEnginesOwn) {
  std::set<G> seen;
  for (const TGuardRule& rule : kProtectedFolders) EXPECT_TRUE(seen.insert(rule.Folder).second) << rule.Name;
  EXPECT_EQ(seen.size(), static_cast<size_t>(G::gfPublicVideos) + 1);

  const std::pair<const char*, bool> names[] = {
      {kRestoreFileName, true}, {kChangedFileName, true}, {"OPTRESTORE.RGD", true},
      {"optrestore.rgd.bak", false}, {"restore.rgd", false}, {"", false},
  };
  for (const auto& [name, guard] : names) EXPECT_EQ(IsGuardFileName(name), guard) << name;
}

TEST(ProtectedFolders, DriveRootsInEveryFormOfAPath) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},
      {R"(C:)", true},
      {R"(c:\)", true},
      {R"(C:/)", true},
      {R"(\\?\C:\)", true},
      {R"(\\?\UNC\server\share\)", true},
      {R"(\\server\share)", true},
      {R"(\\server)", true},
      {R"(\\?\Volume{2c6c9b8d-1c2f-4a0e-9a4e-000000000001}\)", true},
      {R"(C:\Temp)", false},
      {R"(\\?\C:\Users\x\AppData\Local\Temp)", false},
      {R"(\\?\UNC\server\share\temp)", false},
      {R"(\\server\share\temp\)", false},
      {R"(\\?\Volume{2c6c9b8d-1c2f-4a0e-9a4e-000000000001}\Temp)", false},
  };
  for (const auto& [path, root] : cases) EXPECT_EQ(IsDriveRoot(path), root) << path;
}
