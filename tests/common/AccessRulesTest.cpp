// The setup's access steps over a fake system: what is created, refused and reported.
#include "common/AccessRules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Paths and their kinds; records every change asked for, and fails the one named in FailOn.
struct TFakeAccessPort final : IAccessPort {
  std::map<std::string, TPathKind> Paths;
  std::vector<std::string> Calls;  // "create <path> <sddl>", "set <path> <sddl>", ...
  std::string FailOn;              // a call's first two words
  uint32_t FailCode = 5;

  TPathKind Kind(const std::string& path) override {
    const auto it = Paths.find(path);
    return it == Paths.end() ? TPathKind::Missing : it->second;
  }
  uint32_t Record(const std::string& what, const std::string& path, const std::string& sddl) {
    Calls.push_back(what + " " + path + " " + sddl);
    return what + " " + path == FailOn ? FailCode : 0;
  }
  uint32_t CreateFolder(const std::string& path, const std::string& sddl) override {
    const uint32_t err = Record("create", path, sddl);
    if (!err) Paths[path] = TPathKind::EmptyFolder;
    return err;
  }
  uint32_t SetFolderAccess(const std::string& path, const std::string& sddl) override {
    return Record("set", path, sddl);
  }
  uint32_t SetServiceAccess(const std::string& name, const std::string& sddl) override {
    return Record("service", name, sddl);
  }
  std::string ErrorText(uint32_t code) override { return "error " + std::to_string(code); }
};

const std::string kFolder = kProgramFolderSddl;

}  // namespace

TEST(AccessRules, ANewFolderAndEachMissingParentAreCreatedWithTheProgramFolderRights) {
  const struct {
    const char* Given;
    std::vector<std::string> Created;
  } cases[] = {
      {R"(C:\Apps\Quor\eBrisko)", {R"(C:\Apps)", R"(C:\Apps\Quor)", R"(C:\Apps\Quor\eBrisko)"}},
      {"C:/Apps/eBrisko/", {R"(C:\Apps)", R"(C:\Apps\eBrisko)"}},
      {R"(D:\eBrisko\\\)", {R"(D:\eBrisko)"}},
      {R"(C:\Program Files\Quor\eBrisko)", {R"(C:\Program Files\Quor\eBrisko)"}},
      {R"(\\server\share\eBrisko)", {R"(\\server\share\eBrisko)"}},
  };
  for (const auto& c : cases) {
    TFakeAccessPort port;
    port.Paths[R"(C:\Program Files\Quor)"] = TPathKind::Folder;
    const TAccessOutcome out = PrepareProgramFolder(port, c.Given);
    EXPECT_EQ(out.ExitCode, 0) << c.Given << ": " << out.Reason;
    std::vector<std::string> expected;
    for (const auto& p : c.Created) expected.push_back("create " + p + " " + kFolder);
    EXPECT_EQ(port.Calls, expected) << c.Given;
  }
}

TEST(AccessRules, AnEmptyFolderGetsTheRightsAndAnythingElseIsRefusedUntouched) {
  const std::string dir = R"(C:\Apps\eBrisko)";
  {
    TFakeAccessPort port;
    port.Paths[dir] = TPathKind::EmptyFolder;
    EXPECT_EQ(PrepareProgramFolder(port, dir + "\\").ExitCode, 0);
    EXPECT_EQ(port.Calls, std::vector<std::string>{"set " + dir + " " + kFolder});
  }
  const struct {
    TPathKind Kind;
    const char* Says;
  } refused[] = {{TPathKind::Folder, "is not empty"},
                 {TPathKind::NotFolder, "is not a folder"},
                 {TPathKind::Unreadable, "cannot be examined"}};
  for (const auto& r : refused) {
    TFakeAccessPort port;
    port.Paths[dir] = r.Kind;
    const TAccessOutcome out = PrepareProgramFolder(port, dir);
    EXPECT_EQ(out.ExitCode, 2) << r.Says;
    EXPECT_NE(out.Reason.find(r.Says), std::string::npos) << out.Reason;
    EXPECT_NE(out.Reason.find(dir), std::string::npos) << out.Reason;
    EXPECT_TRUE(port.Calls.empty()) << r.Says;
  }
}

TEST(AccessRules, APathThatIsNotAFullFolderPathIsRefused) {
  for (const char* bad : {"", "eBrisko", R"(C:eBrisko)", R"(C:\)", "C:", R"(\eBrisko)",
                          R"(C:\Apps\..\Windows)", R"(C:\Apps\.\eBrisko)", R"(C:\Apps\\eBrisko)",
                          R"(\\server)", R"(\\server\share)", R"(\\?\C:\eBrisko)",
                          R"(\\.\C:\eBrisko)"}) {
    TFakeAccessPort port;
    const TAccessOutcome out = PrepareProgramFolder(port, bad);
    EXPECT_EQ(out.ExitCode, 2) << bad;
    EXPECT_NE(out.Reason.find("not a full path"), std::string::npos) << bad << ": " << out.Reason;
    EXPECT_TRUE(port.Calls.empty()) << bad;
  }
}

TEST(AccessRules, AFailedCallStopsWithItsReasonAndNothingAfterIt) {
  const std::string dir = R"(C:\Apps\eBrisko)";
  const struct {
    const char* FailOn;
    bool Exists;
    size_t Calls;
    const char* Says;
  } cases[] = {
      {R"(create C:\Apps)", false, 1, R"(The folder "C:\Apps" could not be created: error 5)"},
      {R"(create C:\Apps\eBrisko)", false, 2,
       R"(The folder "C:\Apps\eBrisko" could not be created: error 5)"},
      {R"(set C:\Apps\eBrisko)", true, 1,
       R"(The access rights of the folder "C:\Apps\eBrisko" could not be set: error 5)"},
  };
  for (const auto& c : cases) {
    TFakeAccessPort port;
    port.FailOn = c.FailOn;
    if (c.Exists) port.Paths[dir] = TPathKind::EmptyFolder;
    const TAccessOutcome out = PrepareProgramFolder(port, dir);
    EXPECT_EQ(out.ExitCode, 1) << c.FailOn;
    EXPECT_EQ(out.Reason, c.Says);
    EXPECT_EQ(port.Calls.size(), c.Calls) << c.FailOn;
  }

  TFakeAccessPort port;
  EXPECT_EQ(GrantServiceAccess(port, "KLService").ExitCode, 0);
  EXPECT_EQ(port.Calls, std::vector<std::string>{"service KLService " + std::string(kServiceSddl)});
  port.FailOn = "service KLService";
  port.FailCode = 1060;
  const TAccessOutcome out = GrantServiceAccess(port, "KLService");
  EXPECT_EQ(out.ExitCode, 1);
  EXPECT_EQ(out.Reason,
            "The access rights of the service \"KLService\" could not be set: error 1060");
}
