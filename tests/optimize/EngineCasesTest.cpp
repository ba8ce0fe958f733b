// The engine's cases on the in-memory registry and files; the Windows build runs the same
// cases on the real registry and disk as well (EngineWinTest_win.cpp).
#include "fakes/FakeRegistry.h"
#include "fakes/FakeRestoreFiles.h"
#include "optimize/OptimizeWorld.h"

#include "common/Errors.h"

#include <gmock/gmock.h>

namespace {


class TFakeWorld final : public TEngineWorld {
 public:
  IRawRegistry& Registry() override { return FReg; }
  IRestoreFileSystem& Files() override { return FFiles; }
  std::string Dir() override { return "C:\\Program Files\\Quor\\eBrisko\\"; }

 private:
  TFakeRegistry FReg;
  TFakeRestoreFiles FFiles;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(InMemory, EngineCases,
                         ::testing::Values(TWorldKind{"InMemory", [] {
                           return std::unique_ptr<TEngineWorld>(new TFakeWorld);
                         }}),
                         [](const auto& info) { return info.param.Name; });

TEST_P(EngineCases, ApplyingASwitchTwiceRecordsAndWritesNothingTheSecondTime) {
  Put(HKLM, kTcpParamsKey, "DefaultTTL", Dword(64));
  Put(HKLM, kTcpipKey, "GlobalMaxTcpWindowSize", Dword(0x7fff));  // already the tweak's value
  TOptimizeIt engine = Engine();
  engine.ApplyNetworkBooster();
  EXPECT_EQ(Get(HKLM, kTcpParamsKey, "DefaultTTL"), Dword(128));
  EXPECT_EQ(RestoreText(), std::string(kTcpParamsKey) + "_DefaultTTL=dword:64\r\n");
  const int changes = FReg->Changes;
  const int saves = FFiles->Saves;
  engine.ApplyNetworkBooster();
  EXPECT_EQ(FReg->Changes, changes);
  EXPECT_EQ(FFiles->Saves, saves);
  EXPECT_EQ(RestoreText(), std::string(kTcpParamsKey) + "_DefaultTTL=dword:64\r\n");
}

TEST_P(EngineCases, AValueThatDidNotExistGetsNoEntryAndIsDeletedByTheUndo) {
  TOptimizeIt engine = Engine();
  engine.ApplyTurboStartup();
  EXPECT_EQ(Get(HKLM, kPrefetchKey, "EnablePrefetcher"), Dword(1));
  EXPECT_EQ(Get(HKLM, kSessionKey, "AutoChkTimeOut"), Dword(3));
  EXPECT_EQ(RestoreText(), "");
  engine.UndoTurboStartup();
  EXPECT_EQ(Get(HKLM, kPrefetchKey, "EnablePrefetcher"), std::nullopt);
  EXPECT_EQ(Get(HKLM, kSessionKey, "AutoChkTimeOut"), std::nullopt);
}

TEST_P(EngineCases, AnExistingValueIsRecordedAndRestoredWithItsKind) {
  struct TCase {
    bool CurrentUser;
    const char* Key;
    const char* Name;
    TSpeedSwitch Switch;
    TRegValue Before;
    const char* Entry;
  };
  const TCase cases[] = {
      {HKLM, kControlKey, "WaitToKillServiceTimeout", TSpeedSwitch::ssTurboShutdown, Sz("20000"), "20000"},
      {HKCU, kDesktopKey, "WaitToKillAppTimeout", TSpeedSwitch::ssTurboShutdown,
       ExpandSz("%WAIT%"), "%WAIT%"},
      {HKLM, kPrefetchKey, "EnablePrefetcher", TSpeedSwitch::ssTurboStartup, Dword(3), "dword:3"},
      {HKLM, kSessionKey, "AutoChkTimeOut", TSpeedSwitch::ssTurboStartup, Dword(0xffffffffu),
       "dword:-1"},
      {HKLM, kMemoryKey, "DisablePagingExecutive", TSpeedSwitch::ssPerformanceEnhancement,
       Dword(0), "dword:0"},
      {HKLM, kTcpipKey, "DefaultTTL", TSpeedSwitch::ssNetworkBooster, Dword(0x80000000u),
       "dword:-2147483648"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Put(c.CurrentUser, c.Key, c.Name, c.Before);
    TOptimizeIt engine = Engine();
    engine.Apply(c.Switch);
    EXPECT_EQ(engine.ReadRestoreEntry(std::string(c.Key) + "_" + c.Name), c.Entry);
    EXPECT_NE(Get(c.CurrentUser, c.Key, c.Name), c.Before);
    engine.Undo(c.Switch);
    EXPECT_EQ(Get(c.CurrentUser, c.Key, c.Name), c.Before);
  }
}

TEST_P(EngineCases, TheSharedShutdownTimeoutFollowsTheSwitchHandledLast) {
  Put(HKLM, kControlKey, "WaitToKillServiceTimeout", Sz("20000"));
  TOptimizeIt engine = Engine();
  // Both on: the first records the old value, the second finds its own value.
  engine.ApplyTurboShutdown();
  const int changes = FReg->Changes;
  engine.ApplyPerformanceEnhancement();
  EXPECT_EQ(Get(HKLM, kControlKey, "WaitToKillServiceTimeout"), Sz("3000"));
  EXPECT_EQ(FReg->Changes, changes + 8);  // every row of the second switch but the shared one
  EXPECT_EQ(engine.ReadRestoreEntry(std::string(kControlKey) + "_WaitToKillServiceTimeout"), "20000");
  // Turbo Shutdown on, Performance Enhancement off, in the main window's order.
  engine.ApplyTurboShutdown();
  engine.UndoPerformanceEnhancement();
  EXPECT_EQ(Get(HKLM, kControlKey, "WaitToKillServiceTimeout"), Sz("20000"));
  // Then the other way round: the undo finds nothing it holds changed, the apply records again.
  engine.UndoTurboShutdown();
  EXPECT_EQ(Get(HKLM, kControlKey, "WaitToKillServiceTimeout"), Sz("20000"));
  engine.ApplyPerformanceEnhancement();
  EXPECT_EQ(Get(HKLM, kControlKey, "WaitToKillServiceTimeout"), Sz("3000"));
  engine.UndoPerformanceEnhancement();
  EXPECT_EQ(Get(HKLM, kControlKey, "WaitToKillServiceTimeout"), Sz("20000"));
}

TEST_P(EngineCases, TheDefaultValueHasAnEntryEndingInTheUnderscore) {
  Put(HKLM, kUnloadKey, "", Sz("0"));
  TOptimizeIt engine = Engine();
  engine.ApplyPerformanceEnhancement();
  EXPECT_EQ(Get(HKLM, kUnloadKey, ""), Sz("1"));
  EXPECT_EQ(RestoreText(), std::string(kUnloadKey) + "_=0\r\n");
  engine.UndoPerformanceEnhancement();
  EXPECT_EQ(Get(HKLM, kUnloadKey, ""), Sz("0"));
}

TEST_P(EngineCases, AStringPrefetcherStopsTurboStartupBeforeAnythingIsWritten) {
  Put(HKLM, kPrefetchKey, "EnablePrefetcher", Sz("3"));
  Put(HKLM, kSessionKey, "AutoChkTimeOut", Dword(10));
  FReg->Changes = 0;
  TOptimizeIt engine = Engine();
  try {
    engine.ApplyTurboStartup();
    FAIL() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'EnablePrefetcher'");
  }
  EXPECT_EQ(FReg->Changes, 0);
  EXPECT_EQ(FFiles->Saves, 0);
  EXPECT_EQ(Get(HKLM, kPrefetchKey, "EnablePrefetcher"), Sz("3"));
  EXPECT_EQ(Get(HKLM, kSessionKey, "AutoChkTimeOut"), Dword(10));
}

TEST_P(EngineCases, ARestoreFileEditedByHandNoLongerGoesWithTheRecordAndNothingIsWritten) {
  Put(HKLM, kTcpParamsKey, "DefaultTTL", Dword(64));
  TOptimizeIt engine = Engine();
  engine.ApplyNetworkBooster();
  WriteRestoreText(std::string(kTcpParamsKey) + "_DefaultTTL=dword:00000080\r\n");
  const int changes = FReg->Changes;
  EXPECT_THROW(engine.UndoNetworkBooster(), Exception);
  EXPECT_EQ(FReg->Changes, changes);
  EXPECT_EQ(Get(HKLM, kTcpParamsKey, "DefaultTTL"), Dword(128));
}

TEST_P(EngineCases, OfTwoLinesDifferingInCaseTheFirstIsReadAndReplaced) {
  WriteRestoreText("\\Key_Name=1\r\n\\KEY_name=2\r\nno equals sign\r\n\\Other_=a=b\r\n");
  TOptimizeIt engine = Engine();
  EXPECT_EQ(engine.ReadRestoreEntry("\\key_NAME"), "1");
  EXPECT_EQ(engine.ReadRestoreEntry("\\other_"), "a=b");
  EXPECT_EQ(engine.ReadRestoreEntry("no equals sign"), "");
  engine.WriteRestoreEntry("\\KEY_NAME", "3");
  EXPECT_EQ(RestoreText(), "\\KEY_NAME=3\r\n\\KEY_name=2\r\nno equals sign\r\n\\Other_=a=b\r\n");
}

TEST_P(EngineCases, AnEmptyPreviousTextRemovesTheEntryAndComesBackEmpty) {
  const std::string entry = std::string(kDesktopKey) + "_MenuShowDelay";
  WriteRestoreText(entry + "=400\r\n");
  Put(HKCU, kDesktopKey, "MenuShowDelay", Sz(""));
  TOptimizeIt engine = Engine();
  engine.ApplyPerformanceEnhancement();
  EXPECT_EQ(RestoreText(), "");  // rewritten, now empty
  EXPECT_EQ(Get(HKCU, kDesktopKey, "MenuShowDelay"), Sz("0"));
  engine.UndoPerformanceEnhancement();
  EXPECT_EQ(Get(HKCU, kDesktopKey, "MenuShowDelay"), Sz(""));
}

TEST_P(EngineCases, OnlyNetworkBoosterLeavesTheOtherSwitchesValuesAsTheyWere) {
  // Values set by Windows or the user, some equal to the tweaks', and old entries of a switch
  // that was applied and undone long ago.
  Put(HKLM, kPrefetchKey, "EnablePrefetcher", Dword(3));
  Put(HKLM, kSessionKey, "AutoChkTimeOut", Dword(3));
  Put(HKLM, kControlKey, "WaitToKillServiceTimeout", Sz("5000"));
  Put(HKCU, kDesktopKey, "WaitToKillAppTimeout", Sz("3000"));
  Put(HKCU, kDesktopKey, "MenuShowDelay", Sz("400"));
  Put(HKLM, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegDone", Sz("1"));
  Put(HKLM, kMemoryKey, "SecondLevelDataCache", Dword(0));
  Put(HKLM, kTcpParamsKey, "TcpWindowSize", Dword(65535));
  WriteRestoreText(std::string(kControlKey) + "_WaitToKillServiceTimeout=20000\r\n" + kDesktopKey +
                   "_MenuShowDelay=100\r\n");
  const auto before = CatalogueState(*FReg);
  TOptimizeIt engine = Engine();
  engine.UndoTurboStartup();
  engine.UndoTurboShutdown();
  engine.UndoPerformanceEnhancement();
  engine.ApplyNetworkBooster();
  for (const auto& [id, value] : CatalogueState(*FReg)) {
    if (std::get<1>(id).starts_with(kTcpipKey)) continue;
    SCOPED_TRACE(std::get<2>(id));
    EXPECT_EQ(value, before.at(id));
  }
  EXPECT_EQ(Get(HKLM, kTcpParamsKey, "TcpWindowSize"), Dword(0x7fff));
}
