// The engine on the in-memory registry and files: value texts, the catalogue as written,
// failures, the crash-safe save and the randomized round trip.
#include "fakes/FakeRegistry.h"
#include "fakes/FakeRestoreFiles.h"
#include "optimize/OptimizeWorld.h"

#include "common/Errors.h"

#include <gmock/gmock.h>


namespace {


struct Engine : ::testing::Test {
  TFakeRegistry Reg;
  TFakeRestoreFiles Files;
  TOptimizeIt Make() { return TOptimizeIt("C:\\App", Reg, Files); }
};

}  // namespace

TEST(OptimizeIt, ValueTextsTellTheirKindByAPrefixOfAnyCase) {
  struct TCase {
    const char* Text;
    TRegValueKind Kind;
    const char* Payload;
  };
  for (const TCase& c : {TCase{"dword:00000080", TRegValueKind::rvkDword, "00000080"},
                         TCase{"DWord:-1", TRegValueKind::rvkDword, "-1"},
                         TCase{"HEX:ff", TRegValueKind::rvkHex, "ff"},
                         TCase{"hex:", TRegValueKind::rvkHex, ""},
                         TCase{"dword", TRegValueKind::rvkString, "dword"},
                         TCase{" dword:1", TRegValueKind::rvkString, " dword:1"},
                         TCase{"3000", TRegValueKind::rvkString, "3000"}}) {
    std::string text = c.Text;
    EXPECT_EQ(TOptimizeIt::ParseValueText(text), c.Kind) << c.Text;
    EXPECT_EQ(text, c.Payload);
  }
}

TEST(OptimizeIt, TheFolderGetsItsSeparator) {
  TFakeRegistry reg;
  TFakeRestoreFiles files;
  EXPECT_EQ(TOptimizeIt("C:\\App", reg, files).Dir(), "C:\\App\\");
  EXPECT_EQ(TOptimizeIt("C:\\App\\", reg, files).Dir(), "C:\\App\\");
  EXPECT_TRUE(files.Files().empty());
}

TEST(RestoreLines, LinesEndAtCrLfOrEitherAloneAndAreWrittenWithCrLf) {
  TNameValueLines lines("a=1\rb=2\nc=3\r\n\r\nd=4");
  EXPECT_THAT(lines.Lines(), ::testing::ElementsAre("a=1", "b=2", "c=3", "", "d=4"));
  EXPECT_EQ(lines.Text(), "a=1\r\nb=2\r\nc=3\r\n\r\nd=4\r\n");
  lines.SetValue("E", " spaced ");
  lines.SetValue("B", "");
  EXPECT_EQ(lines.Text(), "a=1\r\nc=3\r\n\r\nd=4\r\nE= spaced \r\n");
  EXPECT_EQ(lines.Value("e"), " spaced ");
  EXPECT_EQ(lines.Value(" e"), "");
  EXPECT_TRUE(TNameValueLines("").Lines().empty());
}

TEST_F(Engine, EveryTweakIsWrittenAsItsTypeAndNumber) {
  TOptimizeIt engine = Make();
  for (const TSpeedSwitch s : kAllSpeedSwitches) engine.Apply(s);
  const std::string pp = std::string("HKLM") + kTcpParamsKey;
  const std::string mm = std::string("HKLM") + kMemoryKey;
  const std::string dk = std::string("HKCU") + kDesktopKey;
  struct TCase {
    std::string Path;
    const char* Name;
    TRegValue Value;
  };
  const TCase cases[] = {
      {std::string("HKLM") + kPrefetchKey, "EnablePrefetcher", Dword(1)},
      {std::string("HKLM") + kSessionKey, "AutoChkTimeOut", Dword(3)},
      {std::string("HKLM") + kControlKey, "WaitToKillServiceTimeout", Sz("3000")},
      {dk, "WaitToKillAppTimeout", Sz("3000")},
      {dk, "ABC", Sz("2")},
      {std::string("HKLM") + kUnloadKey, "", Sz("1")},
      {mm, "IoPageLockLimit", Dword(65536)},
      {dk, "AutoEndTasks", Sz("1")},
      {dk, "HungAppTimeout", Sz("1000")},
      {dk, "MenuShowDelay", Sz("0")},
      {"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegDone", Sz("1")},
      {mm, "DisablePagingExecutive", Dword(1)},
      {mm, "SecondLevelDataCache", Dword(256)},
      {std::string("HKLM") + kTcpipKey, "DefaultTTL", Dword(128)},
      {std::string("HKLM") + kTcpipKey, "GlobalMaxTcpWindowSize", Dword(32767)},
      {pp, "DefaultTTL", Dword(128)},
      {pp, "EnablePMTUBHDetect", Dword(0)},
      {pp, "EnablePMTUDiscovery", Dword(1)},
      {pp, "GlobalMaxTcpWindowSize", Dword(32767)},
      {pp, "TcpMaxDupAcks", Dword(2)},
      {pp, "SackOpts", Dword(1)},
      {pp, "Tcp1323Opts", Dword(3)},
      {pp, "TcpWindowSize", Dword(32767)},
  };
  for (const TCase& c : cases) EXPECT_EQ(Reg.Value(c.Path, c.Name), c.Value) << c.Path << " " << c.Name;
  EXPECT_EQ(CatalogueValues().size(), std::size(cases));
  EXPECT_FALSE(Files.File(kRestorePath));  // nothing existed, so nothing was recorded
}

TEST_F(Engine, PayloadsThatAreNoNumbersAreWrittenAsZero) {
  TOptimizeIt engine = Make();
  for (const char* text : {"dword:xyz", "dword:", "hex:100000000", "dword:-1"}) {
    engine.ApplyValue("\\K", "V", text, HKCU);
    EXPECT_EQ(Reg.Value("HKCU\\K", "V"), Dword(0)) << text;
  }
  engine.ApplyValue("\\K", "V", "hex:FFFFFFFF", HKCU);
  EXPECT_EQ(Reg.Value("HKCU\\K", "V"), Dword(0xffffffffu));
}

TEST_F(Engine, AFailedWriteIsReportedAndItsRecordNeverTurnsIntoAWrite) {
  const std::string prefetch = std::string("HKLM") + kPrefetchKey;
  Reg.PutDword(prefetch, "EnablePrefetcher", 3);
  Reg.FailSetValue(kErrorAccessDenied);
  TOptimizeIt engine = Make();
  EXPECT_THROW(
      {
        try {
          engine.ApplyTurboStartup();
        } catch (const ERegistryException& e) {
          EXPECT_STREQ(e.what(), "Failed to set data for 'EnablePrefetcher'");
          throw;
        }
      },
      ERegistryException);
  // The record was saved before the write (as after a crash between the two); the value does
  // not hold what the record says was written, so undo leaves it and drops the record.
  ASSERT_EQ(engine.LoadChangeRecord().Values.size(), 1u);
  Reg.FailSetValue(kErrorSuccess);
  std::vector<std::string> log;
  engine.Log = [&](const std::string& line) { log.push_back(line); };
  engine.UndoTurboStartup();
  EXPECT_EQ(Reg.Value(prefetch, "EnablePrefetcher"), Dword(3));
  EXPECT_TRUE(engine.LoadChangeRecord().Values.empty());
  EXPECT_EQ(log.size(), 1u);
  // A key that cannot be opened fails at the write as well, and undo deletes nothing.
  Reg.DenyAccess(std::string("HKLM") + kSessionKey, kKeyAllAccess);
  EXPECT_THROW(engine.ApplyValue(kSessionKey, "AutoChkTimeOut", "dword:3", HKLM), ERegistryException);
  Reg.PutDword(std::string("HKLM") + kSessionKey, "AutoChkTimeOut", 9);
  engine.UndoTurboStartup();
  EXPECT_EQ(Reg.Value(std::string("HKLM") + kSessionKey, "AutoChkTimeOut"), Dword(9));
}

TEST_F(Engine, UnreadableAndUnsavableFilesStopTheValueBeforeTheRegistryChanges) {
  Reg.PutString(std::string("HKLM") + kControlKey, "WaitToKillServiceTimeout", "20000");
  TOptimizeIt engine = Make();
  Files.MakeReadOnly(kRestorePath);
  Files.Put(kRestorePath, "old=1\r\n");
  try {
    engine.ApplyTurboShutdown();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + kRestorePath + "\". System error 5.");
  }
  EXPECT_EQ(Reg.Value(std::string("HKLM") + kControlKey, "WaitToKillServiceTimeout"), Sz("20000"));
  EXPECT_EQ(Files.File(kRestorePath), "old=1\r\n");
  EXPECT_FALSE(Files.File(kRestorePath + ".tmp"));

  Files.MakeUnreadable(kChangedPath);
  try {
    engine.UndoTurboShutdown();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + kChangedPath + "\". System error 1117.");
  }
}

TEST_F(Engine, UndoAllPutsBackEveryValueItCanAndNamesEachFailure) {
  Reg.PutString(std::string("HKCU") + kDesktopKey, "MenuShowDelay", "400");
  Reg.PutDword(std::string("HKLM") + kTcpipKey, "DefaultTTL", 64);
  TOptimizeIt engine = Make();
  for (const TSpeedSwitch s : kAllSpeedSwitches) engine.Apply(s);
  Reg.FailSetValue(kErrorAccessDenied);
  try {
    engine.UndoAll();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Failed to set data for 'DefaultTTL'\nFailed to set data for 'MenuShowDelay'");
  }
  // The values it created are gone all the same; the two it could not write wait for a retry.
  EXPECT_FALSE(Reg.Value(std::string("HKLM") + kPrefetchKey, "EnablePrefetcher"));
  EXPECT_FALSE(Reg.Value(std::string("HKLM") + kTcpParamsKey, "DefaultTTL"));
  Reg.FailSetValue(kErrorSuccess);
  engine.UndoAll();
  EXPECT_EQ(Reg.Value(std::string("HKCU") + kDesktopKey, "MenuShowDelay"), Sz("400"));
  EXPECT_EQ(Reg.Value(std::string("HKLM") + kTcpipKey, "DefaultTTL"), Dword(64));
  const TChangeRecord left = engine.LoadChangeRecord();
  EXPECT_TRUE(left.Values.empty());
  EXPECT_TRUE(left.Keys.empty());
}

TEST_F(Engine, UndoLeavesValuesItNeverChangedAndCreatesNoKeys) {
  Files.Put(kRestorePath, std::string(kSessionKey) + "_AutoChkTimeOut=dword:10\r\n");
  Reg.PutDword(std::string("HKLM") + kSessionKey, "AutoChkTimeOut", 3);
  TOptimizeIt engine = Make();
  engine.ApplyTurboStartup();  // AutoChkTimeOut had the tweak's value already
  engine.UndoTurboStartup();
  EXPECT_EQ(Reg.Value(std::string("HKLM") + kSessionKey, "AutoChkTimeOut"), Dword(3));
  EXPECT_FALSE(Reg.Value(std::string("HKLM") + kPrefetchKey, "EnablePrefetcher"));
  engine.UndoNetworkBooster();
  EXPECT_FALSE(Reg.HasKey(std::string("HKLM") + kTcpipKey));
}

// ---- The crash-safe save ----

TEST_F(Engine, ASaveCutShortAtAnyStepLeavesTheOldOrTheNewFileWhole) {
  using TStep = TFakeRestoreFiles::TStep;
  std::string old;
  for (int i = 0; i < 500; ++i) old += "\\Key" + std::to_string(i) + "_V=" + std::to_string(i) + "\r\n";
  for (const TStep step : {TStep::BeforeWrite, TStep::DuringWrite, TStep::AfterWrite,
                           TStep::BeforeReplace, TStep::AfterReplace}) {
    SCOPED_TRACE(static_cast<int>(step));
    TFakeRestoreFiles files;
    files.Put(kRestorePath, old);
    files.CrashAt(step);
    {
      TOptimizeIt engine("C:\\App", Reg, files);
      EXPECT_THROW(engine.WriteRestoreEntry("\\Key7_V", "changed"), TFakeCrash);
    }
    // The next run of the program.
    TOptimizeIt engine("C:\\App", Reg, files);
    const bool replaced = step == TStep::AfterReplace;
    std::string expected = old;
    if (replaced) expected.replace(expected.find("\\Key7_V=7"), 9, "\\Key7_V=changed");
    EXPECT_EQ(files.File(kRestorePath), expected);
    EXPECT_EQ(engine.ReadRestoreEntry("\\Key7_V"), replaced ? "changed" : "7");
    engine.WriteRestoreEntry("\\Key8_V", "again");  // a leftover temporary file is no obstacle
    EXPECT_EQ(engine.ReadRestoreEntry("\\Key499_V"), "499");
    EXPECT_EQ(engine.ReadRestoreEntry("\\Key8_V"), "again");
    EXPECT_FALSE(files.File(kRestorePath + ".tmp"));
  }
}

TEST_F(Engine, AFullDiskOrARefusedWriteKeepsTheOldFile) {
  struct TCase {
    const char* Name;
    std::function<void(TFakeRestoreFiles&)> Arrange;
    const char* Reason;
  };
  const TCase cases[] = {
      {"full disk", [](TFakeRestoreFiles& f) { f.SetFreeSpace(20); }, "System error 112."},
      {"refused write", [](TFakeRestoreFiles& f) { f.WriteFault = [] { return kErrorAccessDenied; }; },
       "System error 5."},
      {"read-only target", [](TFakeRestoreFiles& f) { f.MakeReadOnly(kRestorePath); }, "System error 5."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeRestoreFiles files;
    files.Put(kRestorePath, "\\A_B=1\r\n\\C_D=dword:2\r\n");
    c.Arrange(files);
    TOptimizeIt engine("C:\\App", Reg, files);
    try {
      engine.WriteRestoreEntry("\\E_F", "a longer value than the disk has room for");
      FAIL();
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + kRestorePath + "\". " + c.Reason);
    }
    EXPECT_EQ(files.File(kRestorePath), "\\A_B=1\r\n\\C_D=dword:2\r\n");
    EXPECT_FALSE(files.File(kRestorePath + ".tmp"));
  }
}
