// The help launcher and its diagnostics over an in-memory machine: paths, versions and their
// names, the debug log's lines and header, and what each viewer host does.
#include "fakes/FakeHelpPlatform.h"
#include "fakes/FakeRegistry.h"
#include "help/hh.h"
#include "help/hh_funcs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TFileVersion V(uint16_t a, uint16_t b, uint16_t c, uint16_t d) { return MakeFileVersion(a, b, c, d); }

TEST(MakeHelpPath, BuildsEveryForm) {
  struct TCase {
    const char* File;
    const char* Topic;
    const char* Window;
    bool Prefix;
    const char* Path;
  };
  const TCase cases[] = {
      {"C:\\Pool\\h.chm", "html\\sub\\Quor-eBrisko.htm", "", false,
       "C:\\Pool\\h.chm::/html/sub/Quor-eBrisko.htm"},
      {"  C:\\My%20Files\\h.chm ", " /html/a%20b.htm  ", "", false,
       "C:\\My Files\\h.chm::/html/a b.htm"},
      {"", "/html/Quor-eBrisko.htm", "", false, "/html/Quor-eBrisko.htm"},
      {"   ", "html\\Quor-eBrisko.htm", "", false, "/html/Quor-eBrisko.htm"},
      {"h.chm", "/t.htm", " main ", false, "h.chm::/t.htm>main"},
      {"h.chm", "/t.htm", "", true, "mk:@MSITStore:h.chm::/t.htm"},
      {"h.chm", "", "", false, "h.chm"},
      {"h.chm", "%20", "win", true, "mk:@MSITStore:h.chm>win"},
      {"", "", "", false, ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(MakeHelpPath(c.File, c.Topic, c.Window, c.Prefix), c.Path) << c.File << "|" << c.Topic;
  }
}

TEST(Versions, CompareDecidesByTheFirstDifferenceUnsigned) {
  EXPECT_EQ(CompareVersions(V(4, 74, 9273, 0), V(4, 74, 9273, 0)), 0);
  EXPECT_EQ(CompareVersions(V(4, 74, 9273, 1), V(4, 74, 9273, 0)), 1);
  EXPECT_EQ(CompareVersions(V(4, 73, 65535, 65535), V(4, 74, 0, 0)), -1);
  EXPECT_EQ(CompareVersions(V(65535, 0, 0, 0), V(5, 9, 9, 9)), 1);
  EXPECT_EQ(CompareVersions(V(5, 0, 0, 0), V(5, 0, 40000, 0)), -1);
}

TEST(Versions, TextHasTheFourNumbers) {
  EXPECT_EQ(V(5, 2, 3790, 2744).Text, "5.2.3790.2744");
  EXPECT_EQ(V(65535, 0, 0, 1).Text, "65535.0.0.1");
}

TEST(Versions, OldEngineNumberingIsPutRightOnlyWhereItApplies) {
  const TFileVersion fixed = FixOldEngineNumbering(V(4, 70, 0, 1155));
  EXPECT_EQ(fixed.Text, "4.70.1155.0");
  EXPECT_EQ(IEFriendlyName(fixed), "Internet Explorer 3.0");
  EXPECT_EQ(FixOldEngineNumbering(V(4, 40, 0, 520)).Text, "4.40.520.0");
  for (const TFileVersion& kept : {V(4, 71, 0, 1712), V(4, 70, 5, 1155), V(5, 0, 0, 1)})
    EXPECT_EQ(FixOldEngineNumbering(kept).Text, kept.Text);
  EXPECT_EQ(FixOldEngineNumbering(TFileVersion{}).Text, "");
}

TEST(Versions, ReleaseNamesFollowTheTables) {
  EXPECT_EQ(HHFriendlyName(V(4, 74, 9273, 0)), "1.33");
  EXPECT_EQ(HHFriendlyName(V(4, 74, 9274, 0)), "> 1.33");
  EXPECT_EQ(HHFriendlyName(V(4, 74, 9273, 1)), "> 1.33");
  EXPECT_EQ(HHFriendlyName(V(4, 74, 9272, 65535)), "1.32");
  EXPECT_EQ(HHFriendlyName(V(4, 72, 7290, 0)), "1.0");
  EXPECT_EQ(HHFriendlyName(V(4, 72, 7289, 9)), "< 1.0");
  EXPECT_EQ(HHFriendlyName(V(5, 2, 3790, 2744)), "> 1.33");
  EXPECT_EQ(HHFriendlyName(TFileVersion{}), "");

  EXPECT_EQ(IEFriendlyName(V(6, 0, 2600, 0)), "Internet Explorer 6 (Windows XP)");
  EXPECT_EQ(IEFriendlyName(V(6, 0, 2900, 2180)), "> Internet Explorer 6");
  EXPECT_EQ(IEFriendlyName(V(5, 50, 4134, 100)), "Internet Explorer 5.5 for Windows Me (4.90.3000)");
  EXPECT_EQ(IEFriendlyName(V(5, 50, 4134, 599)), "Internet Explorer 5.5 for Windows Me (4.90.3000)");
  EXPECT_EQ(IEFriendlyName(V(4, 70, 1158, 0)), "Internet Explorer 3.0 (OSR2)");
  EXPECT_EQ(IEFriendlyName(V(4, 40, 307, 0)), "< Internet Explorer 1.0 (Plus!)");
  EXPECT_EQ(IEFriendlyName(TFileVersion{}), "");
}

TEST(DebugLines, SeparatorsMarksAndTimedLines) {
  EXPECT_EQ(DebugLineText("-", "10:11:12"), std::string(79, '-'));
  EXPECT_EQ(DebugLineText("=", "10:11:12"), std::string(79, '='));
  EXPECT_EQ(DebugLineText("!_hhVerStr = x", "10:11:12"), "_hhVerStr = x");
  EXPECT_EQ(DebugLineText("-- x", "10:11:12"), "- x");
  EXPECT_EQ(DebugLineText("ShowTopic(\"p\", 0)", "10:11:12"), "10:11:12   ShowTopic(\"p\", 0)");
  EXPECT_EQ(DebugLineText("  returned - 1", "10:11:12"), "10:11:12     returned - 1");
  EXPECT_EQ(DebugLineText("", "10:11:12"), "10:11:12   ");
}

TEST(DebugLines, SwitchByFileOrByEitherParameterInAnyCase) {
  EXPECT_TRUE(DebugSwitchOn(true, {}));
  EXPECT_TRUE(DebugSwitchOn(false, {"first", "/DEBUG"}));
  EXPECT_TRUE(DebugSwitchOn(false, {"-Debug"}));
  EXPECT_FALSE(DebugSwitchOn(false, {"debug", "/debugx", "--debug"}));
  EXPECT_FALSE(DebugSwitchOn(false, {}));
}

TEST(LastErrorText, NamesTheKnownCodesAndFallsBack) {
  EXPECT_EQ(LastErrorText(2), "[Error:2] File Not Found");
  EXPECT_EQ(LastErrorText(33), "[Error:33] File In Use");
  EXPECT_EQ(LastErrorText(112), "[Error:112] Disk Full");
  EXPECT_EQ(LastErrorText(1393), "[Error:1393] Corrupt File Or Disk");
  EXPECT_EQ(LastErrorText(1358), "[Error:1358] Corrupt Registry");
  EXPECT_EQ(LastErrorText(1151), "[Error:1151] Not A Windows Or MSDos Program");
  EXPECT_EQ(LastErrorText(87), "[Error:87] General Failure");
}

TEST(FindHelpControl, NamesTheRegisteredExistingFileOnly) {
  const std::string key = std::string("HKCR\\") + kHelpControlKey;
  auto exists = [](const std::string& p) { return p == "C:\\Windows\\system32\\hhctrl.ocx"; };
  TFakeRegistry reg;
  EXPECT_EQ(FindHelpControl(reg, exists), "");
  reg.PutString(key, "", "C:\\Windows\\system32\\missing.ocx");
  EXPECT_EQ(FindHelpControl(reg, exists), "");
  reg.PutString(key, "", "C:\\Windows\\system32\\hhctrl.ocx");
  EXPECT_EQ(FindHelpControl(reg, exists), "C:\\Windows\\system32\\hhctrl.ocx");
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
  EXPECT_EQ(reg.Opens().back().Access, kKeyRead);
}

class HelpFuncsTest : public ::testing::Test {
 protected:
  HelpFuncsTest() {
    P.PutVersioned(P.ControlPath, V(5, 2, 3790, 2744));
    P.PutVersioned("C:\\Windows\\System32\\Shdocvw.dll", V(4, 70, 0, 1155));
  }
  std::vector<std::string> Log(const std::string& dir = "C:\\Program Files\\Quor") {
    return P.LogOf(dir + "\\HHDebug.txt");
  }
  TFakeHelpPlatform P;
  THelpFuncs H{P};
};

TEST_F(HelpFuncsTest, StartUpReadsFoldersVersionsAndWritesTheHeader) {
  P.Params = {"first", "/DEBUG"};
  P.Program = "C:\\Run\\eBrisko.exe";
  H.InitHelpDiagnostics();
  EXPECT_EQ(H.ModuleDir(), "C:\\Program Files\\Quor");
  EXPECT_EQ(H.ModuleName(), "eBrisko.exe");
  EXPECT_EQ(H.RunDir(), "C:\\Run");
  EXPECT_EQ(H.HelpLogDir(), "C:\\Program Files\\Quor");
  EXPECT_THAT(P.ProbesMade, ElementsAre("C:\\Program Files\\Quor\\$_Temp_$.$$$"));
  EXPECT_FALSE(P.FileExists(P.ProbesMade[0]));
  EXPECT_TRUE(H.HelpDebug());
  EXPECT_TRUE(H.HHInstalled());
  EXPECT_EQ(H.HHFriendlyVerStr(), "> 1.33");
  EXPECT_EQ(H.IEVerStr(), "4.70.1155.0");
  EXPECT_EQ(H.IEFriendlyVerStr(), "Internet Explorer 3.0");

  const std::string sep(79, '-');
  EXPECT_THAT(Log(), ElementsAre(
      "Filename:             \tC:\\Program Files\\Quor\\HHDebug.txt",
      "Date:                 \t01.02.2024 10:11:12",
      "Operating System:      \tWindows NT 10.0.19045",
      "SysLocale.DefaultLCID: \t0x0407",
      "SysLocale.PriLangID:   \t0x0007",
      "SysLocale.SubLangID:   \t0x0001",
      "DecimalSeparator:      \t,",
      sep,
      "EXE Path =          \tC:\\Run\\eBrisko.exe",
      "Cmdline Param(s) =  \tfirst | /DEBUG",
      "_RunDir =           \tC:\\Run",
      "_ModuleName =       \teBrisko.exe",
      "_ModuleDir =        \tC:\\Program Files\\Quor",
      sep,
      "_hhInstalled =      \tYES",
      "_hhVerStr =         \t5.2.3790.2744",
      "_hhFriendlyVerStr = \t> 1.33",
      sep,
      "_ieInstalled =      \tYES",
      "_ieVerStr =         \t4.70.1155.0",
      "_ieFriendlyVerStr = \tInternet Explorer 3.0",
      std::string(79, '=')));
}

TEST_F(HelpFuncsTest, EachRunStartsANewLogAndWritesNoneWhenOff) {
  P.AppendLine("C:\\Program Files\\Quor\\HHDebug.txt", "old run");
  H.InitHelpDiagnostics();
  EXPECT_FALSE(H.HelpDebug());
  EXPECT_FALSE(P.FileExists("C:\\Program Files\\Quor\\HHDebug.txt"));

  P.Files.insert(LowerAscii("C:\\Program Files\\Quor\\debug.debug"));
  H.InitHelpDiagnostics();
  EXPECT_TRUE(H.HelpDebug());
  EXPECT_EQ(Log().size(), 22u);
}

TEST_F(HelpFuncsTest, LogGoesToTheTemporaryFolderWhenTheProgramFolderIsReadOnly) {
  P.ReadOnlyDirs = {LowerAscii("C:\\Program Files\\Quor")};
  P.Params = {"-debug"};
  H.InitHelpDiagnostics();
  EXPECT_EQ(H.HelpLogDir(), "C:\\Temp");
  EXPECT_EQ(Log("C:\\Temp").front(), "Filename:             \tC:\\Temp\\HHDebug.txt");

  P.Dirs.clear();
  H.InitHelpDiagnostics();
  EXPECT_EQ(H.HelpLogDir(), "c:");
}

TEST_F(HelpFuncsTest, NoControlMeansNothingIsShownOnAnyHost) {
  P.ControlPath.clear();
  P.Files.insert(LowerAscii("C:\\Windows\\KeyHH.EXE"));
  P.Files.insert(LowerAscii("C:\\Windows\\HH.EXE"));
  P.Params = {"/debug"};
  H.InitHelpDiagnostics();
  EXPECT_FALSE(H.HHInstalled());
  EXPECT_EQ(H.HHVerStr(), "");
  EXPECT_EQ(H.HHFriendlyVerStr(), "");
  for (int host : {0, 1, 2, 9}) EXPECT_EQ(H.ShowHelpTopic("C:\\h.chm", "/t.htm", "", host), 1);
  EXPECT_THAT(P.Displayed, IsEmpty());
  EXPECT_THAT(P.Opened, IsEmpty());
  const auto log = Log();
  EXPECT_EQ(log[log.size() - 3], "10:11:12   HHHelpContext(\"C:\\h.chm\", /t.htm, \"\", 9)");
  EXPECT_EQ(log[log.size() - 2], "10:11:12   ShowTopic(\"C:\\h.chm::/t.htm\", 9)");
  EXPECT_EQ(log.back(), "10:11:12     returned - 1");
}

TEST_F(HelpFuncsTest, HostsShowWithTheirViewerOrSayWhichIsMissing) {
  H.InitHelpDiagnostics();
  EXPECT_EQ(H.ShowHelpTopic("C:\\Pool\\h.chm", "/html/Quor-eBrisko.htm", "", 0), 0);
  EXPECT_THAT(P.Displayed, ElementsAre("C:\\Pool\\h.chm::/html/Quor-eBrisko.htm"));
  P.Display = IHelpPlatform::TDisplayResult::NoWindow;  // the viewer reports a bad file itself
  EXPECT_EQ(H.ShowHelpTopic("", "/html/Quor-eBrisko.htm", "", 0), 0);
  EXPECT_EQ(P.Displayed.back(), "/html/Quor-eBrisko.htm");

  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 1), 2);
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 2), 3);
  EXPECT_THAT(P.Opened, IsEmpty());
  P.Files.insert(LowerAscii("C:\\Windows\\KeyHH.EXE"));
  P.Files.insert(LowerAscii("C:\\Windows\\HH.EXE"));
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "w", 1), 0);
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 2), 0);
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 3), 0);
  EXPECT_THAT(P.Opened,
              ElementsAre(std::pair<std::string, std::string>("C:\\Windows\\KeyHH.EXE", "-win h.chm::/t.htm>w"),
                          std::pair<std::string, std::string>("C:\\Windows\\HH.EXE",
                                                              "mk:@MSITStore:h.chm::/t.htm")));
  EXPECT_EQ(P.Displayed.size(), 2u);
  EXPECT_THAT(P.Warnings, IsEmpty());
}

TEST_F(HelpFuncsTest, ControlWithoutEntryPointCountsAsNotInstalled) {
  H.InitHelpDiagnostics();
  P.Display = IHelpPlatform::TDisplayResult::NoEntryPoint;
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 0), 1);
}

TEST_F(HelpFuncsTest, ViewerThatFailsToStartIsReportedAndLogged) {
  P.Params = {"/debug"};
  P.Files.insert(LowerAscii("C:\\Windows\\HH.EXE"));
  P.ShellSucceeds = false;
  P.ShellError = 5;
  H.InitHelpDiagnostics();
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 2), 0);
  const std::string text =
      "Function ShellExecute(C:\\Windows\\HH.EXE, mk:@MSITStore:h.chm::/t.htm)\r"
      "Returned: [Error:5] Access Denied";
  EXPECT_THAT(P.Warnings, ElementsAre(text));
  const auto log = Log();
  EXPECT_EQ(log[log.size() - 2], "10:11:12   " + text);
}

TEST_F(HelpFuncsTest, ClearingForgetsTheControl) {
  H.InitHelpDiagnostics();
  H.ClearHelpDiagnostics();
  EXPECT_FALSE(H.HHInstalled());
  EXPECT_EQ(H.ShowHelpTopic("h.chm", "/t.htm", "", 0), 1);
  EXPECT_THAT(P.Displayed, IsEmpty());
}

}  // namespace
