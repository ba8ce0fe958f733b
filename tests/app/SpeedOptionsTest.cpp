// The "Speed Optimization" group: loading the switches, Apply for administrators and for
// everyone else, and errors on the way, on the in-memory registry with the real tweak engine.
#include "app/PerformanceFixture.h"

#include <gtest/gtest.h>

namespace {

std::optional<TRegValue> StoredStates(TWindowFixture& f) {
  return GetValue(f.Registry, HKLM, kProductKey, kSpeedStatesValue);
}
std::optional<TRegValue> BootDefrag(TWindowFixture& f) {
  return GetValue(f.Registry, HKLM, kBootDefragKey, kBootDefragValue);
}

// The five switches as "1" and "0", top to bottom.
std::string Ticks(const TfmPerformance& w) {
  std::string ticks;
  for (const TControl* box : w.cbSpeedOpt) ticks += box->Checked() ? '1' : '0';
  return ticks;
}

// Clicks the switches whose state differs from wanted ("1" ticked, "0" not).
void SetTicks(TfmPerformance& w, const std::string& wanted) {
  for (int i = 0; i < 5; ++i)
    if (w.cbSpeedOpt[i]->Checked() != (wanted[static_cast<size_t>(i)] == '1'))
      w.cbSpeedOpt[i]->Click();
}

// The value a catalogue row writes, as the registry then holds it.
TRegValue CatalogueValue(const TTweak& t) {
  std::string text = t.ValueText;
  if (TOptimizeIt::ParseValueText(text) == TRegValueKind::rvkString) return Sz(text);
  return Dword(static_cast<uint32_t>(std::stoul(text, nullptr, 16)));
}

// Whether every row of the switch holds its catalogue value.
bool HoldsCatalogue(IRawRegistry& reg, TSpeedSwitch which) {
  for (const TTweak& t : Catalogue(which))
    if (GetValue(reg, t.CurrentUser, t.KeyPath, RegName(t)) != CatalogueValue(t)) return false;
  return true;
}

TEST(SpeedOptions, LoadingTakesTheStoredStatesAndTheSystemsDefragmentationOption) {
  struct {
    std::optional<std::string> Stored;
    std::optional<TRegValue> Enable;
    const char* Ticks;
  } cases[] = {
      {"1,0,1", std::nullopt, "10110"},
      {"1,1,1,1,1", Sz("N"), "11101"},
      {std::nullopt, std::nullopt, "00010"},
      {"", Sz(""), "00010"},
      {"0,0,0,0,1,1,1", Sz("Y"), "00011"},
      {"x,2,-1,0,99999999999", Sz("yes"), "01110"},
      {"1,1,1,0,1", Sz("0"), "11111"},
      // The option's texts: only "N", "n" and "no" in any case are off.
      {"0", Sz("No"), "00000"},
      {"0", Sz("NO"), "00000"},
      {"0", Sz("nO"), "00000"},
      {"0", Sz("n"), "00000"},
      {"0", Sz("Y"), "00010"},
      {"0", Sz(" N"), "00010"},
      {"0", Sz("Nein"), "00010"},
      {"0", Dword(0), "00010"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.Stored ? *c.Stored : "(none)") << " / "
                                    << (c.Enable ? c.Enable->Data : "(none)"));
    TWindowFixture f;
    if (c.Stored) PutValue(f.Registry, HKLM, kProductKey, kSpeedStatesValue, Sz(*c.Stored));
    if (c.Enable) PutValue(f.Registry, HKLM, kBootDefragKey, kBootDefragValue, c.Enable);
    f.Counted.Changes = 0;
    TfmPerformance& w = f.Create();
    EXPECT_EQ(Ticks(w), c.Ticks);
    EXPECT_FALSE(w.FSpeedChanged);
    EXPECT_FALSE(w.btnApply->Enabled());
    EXPECT_EQ(f.Counted.Changes, 0);
  }
}

TEST(SpeedOptions, EveryoneButAnAdministratorGetsTheWarningAndTheStoredStatesBack) {
  const std::optional<int> privileges[] = {1, 0, std::nullopt};  // none: the query failed
  for (const std::optional<int> privilege : privileges) {
    SCOPED_TRACE(privilege ? std::to_string(*privilege) : "query failed");
    TWindowFixture f;
    f.Privilege = privilege;
    PutValue(f.Registry, HKLM, kProductKey, kSpeedStatesValue, Sz("0,1,0,0,0"));
    PutValue(f.Registry, HKLM, kBootDefragKey, kBootDefragValue, Sz("N"));
    f.Counted.Changes = 0;
    TfmPerformance& w = f.Create();
    w.cbSpeedOpt[0]->Click();
    w.cbSpeedOpt[1]->Click();
    EXPECT_TRUE(w.btnApply->Enabled());
    w.btnApply->Click();

    ASSERT_EQ(f.Boxes.size(), 1u);
    const TBox& box = f.Boxes[0];
    EXPECT_TRUE(box.Owned);
    EXPECT_EQ(box.Caption, "Quor eBrisko Management");
    EXPECT_EQ(box.Title, w.Caption());
    EXPECT_EQ(box.Text,
              "Speed optimization can be operated by users with Administrator privileges only.");
    EXPECT_EQ(box.Icon, MessageBoxIcon::Warning);
    EXPECT_EQ(box.Buttons, MessageBoxButtons::OK);
    EXPECT_EQ(Ticks(w), "01000");
    EXPECT_FALSE(w.FSpeedChanged);
    EXPECT_FALSE(w.btnApply->Enabled());
    // Nothing written: no registry value, no engine file.
    EXPECT_EQ(f.Counted.Changes, 0);
    EXPECT_TRUE(f.Files.Files().empty());
    EXPECT_EQ(StoredStates(f), Sz("0,1,0,0,0"));
  }
}

TEST(SpeedOptions, AnAdministratorWhoChangesOnlyNetworkBoosterAppliesOrUndoesEveryEngineSwitch) {
  TWindowFixture f;
  // The user's own values: one of a switch that stays off, one that Network Booster replaces.
  PutValue(f.Registry, HKCU, kDesktopKey, "WaitToKillAppTimeout", Sz("20000"));
  PutValue(f.Registry, HKLM, kTcpParamsKey, "TcpWindowSize", Dword(0xffff));
  // Turbo Shutdown still applied although stored off: an earlier Apply ended by an error after
  // it, before the states were stored.
  f.Engine->ApplyTurboShutdown();
  PutValue(f.Registry, HKLM, kProductKey, kSpeedStatesValue, Sz("1,0,1,1,0"));
  TfmPerformance& w = f.Create();
  ASSERT_EQ(Ticks(w), "10110");
  w.cbSpeedOpt[4]->Click();
  w.btnApply->Click();

  EXPECT_TRUE(HoldsCatalogue(f.Registry, TSpeedSwitch::ssTurboStartup));
  EXPECT_TRUE(HoldsCatalogue(f.Registry, TSpeedSwitch::ssPerformanceEnhancement));
  EXPECT_TRUE(HoldsCatalogue(f.Registry, TSpeedSwitch::ssNetworkBooster));
  // Turbo Shutdown undone: the user's value back, the created one gone; the shared timeout
  // holds Performance Enhancement's value, which is handled after it.
  EXPECT_EQ(GetValue(f.Registry, HKCU, kDesktopKey, "WaitToKillAppTimeout"), Sz("20000"));
  EXPECT_EQ(GetValue(f.Registry, HKCU, kDesktopKey, "ABC"), std::nullopt);
  EXPECT_EQ(GetValue(f.Registry, HKLM, kControlKey, "WaitToKillServiceTimeout"), Sz("3000"));
  EXPECT_EQ(f.Engine->ReadRestoreEntry(std::string(kTcpParamsKey) + "_TcpWindowSize"),
            "dword:65535");
  EXPECT_EQ(BootDefrag(f), Sz("Y"));
  EXPECT_EQ(StoredStates(f), Sz("1,0,1,1,1"));
  EXPECT_FALSE(w.FSpeedChanged);
  EXPECT_FALSE(w.btnApply->Enabled());
  EXPECT_TRUE(f.Boxes.empty());
}

TEST(SpeedOptions, AllOffRunsTheFourUndosWritesNAndStoresZeros) {
  TWindowFixture f;
  PutValue(f.Registry, HKCU, kDesktopKey, "MenuShowDelay", Sz("400"));
  PutValue(f.Registry, HKLM, kTcpipKey, "DefaultTTL", Dword(64));
  PutValue(f.Registry, HKLM, kSessionKey, "AutoChkTimeOut", Dword(0xffffffffu));
  PutValue(f.Registry, HKLM, kUnloadKey, "", ExpandSz("%ONE%"));
  const auto before = CatalogueState(f.Registry);
  PutValue(f.Registry, HKLM, kBootDefragKey, kBootDefragValue, Sz("Y"));
  TfmPerformance& w = f.Create();
  SetTicks(w, "11111");
  w.btnApply->Click();
  for (const TSpeedSwitch s : kAllSpeedSwitches) EXPECT_TRUE(HoldsCatalogue(f.Registry, s));
  ASSERT_EQ(StoredStates(f), Sz("1,1,1,1,1"));

  SetTicks(w, "00000");
  w.btnApply->Click();
  EXPECT_EQ(CatalogueState(f.Registry), before);
  EXPECT_EQ(BootDefrag(f), Sz("N"));
  EXPECT_EQ(StoredStates(f), Sz("0,0,0,0,0"));
  EXPECT_FALSE(w.btnApply->Enabled());
  // The engine holds nothing changed any more but the option, which was "Y" before.
  const TChangeRecord left = f.Engine->LoadChangeRecord();
  ASSERT_EQ(left.Values.size(), 1u);
  EXPECT_EQ(left.Values[0].ValueName, kBootDefragValue);
  EXPECT_EQ(left.Values[0].PreviousData, "Y");
}

TEST(SpeedOptions, AnErrorEndsApplyThereAndLeavesTheChangePending) {
  struct {
    const char* Name;
    std::function<void(TWindowFixture&)> Arrange;
    const char* Ticks;
    const char* Message;
    bool TurboStartupApplied;
    std::optional<TRegValue> Enable;
  } cases[] = {
      // The last switch fails: the ones before it, the option included, are done.
      {"Network Booster", [](TWindowFixture& f) {
         PutValue(f.Registry, HKLM, kTcpipKey, "DefaultTTL", Sz("128"));
       }, "11111", "Invalid data type for 'DefaultTTL'", true, Sz("Y")},
      // The first switch fails: nothing after it is processed.
      {"Turbo Startup", [](TWindowFixture& f) {
         PutValue(f.Registry, HKLM, kPrefetchKey, "EnablePrefetcher", Sz("3"));
       }, "11111", "Invalid data type for 'EnablePrefetcher'", false, std::nullopt},
      // The option's own write fails.
      {"option", [](TWindowFixture& f) { f.Registry.FailSetValue(kErrorAccessDenied); },
       "00000", "Failed to set data for 'Enable'", false, std::nullopt},
      // No engine: nothing at all is applied.
      {"no engine", [](TWindowFixture& f) { f.Engine.reset(); }, "11111",
       "The speed settings cannot be changed on this computer.", false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TWindowFixture f;
    TfmPerformance& w = f.Create();
    c.Arrange(f);
    SetTicks(w, c.Ticks);
    try {
      w.btnApply->Click();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(HoldsCatalogue(f.Registry, TSpeedSwitch::ssTurboStartup), c.TurboStartupApplied);
    EXPECT_EQ(BootDefrag(f), c.Enable);
    EXPECT_EQ(StoredStates(f), std::nullopt);
    EXPECT_TRUE(w.FSpeedChanged);
    EXPECT_TRUE(w.btnApply->Enabled());
    // OK applies again, meets the same error and leaves the window open.
    EXPECT_THROW(w.btnOK->Click(), Exception);
    EXPECT_EQ(f.Closes, 0);
  }
}

}  // namespace

namespace {

constexpr TTokenElevation kLimited{false, TElevationType::etLimited};

bool Shields(const TfmPerformance& w) { return w.btnApply->Shield() && w.btnOK->Shield(); }
bool NoShields(const TfmPerformance& w) { return !w.btnApply->Shield() && !w.btnOK->Shield(); }

}  // namespace

TEST(SpeedOptionsElevation, ALimitedAdministratorAppliesThroughTheHelperAndReadsTheStatesBack) {
  TWindowFixture f;
  f.Elevation = kLimited;
  PutValue(f.Registry, HKLM, kBootDefragKey, kBootDefragValue, Sz("N"));
  TfmPerformance& w = f.Create();
  f.EngineLookups = 0;
  SetTicks(w, "10110");
  w.btnApply->Click();
  EXPECT_EQ(f.HelperRuns, (std::vector<std::string>{"1,0,1,1,0"}));
  EXPECT_EQ(f.HelperCursors, (std::vector<TScreenCursor>{TScreenCursor::HourGlass}));
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
  EXPECT_EQ(f.EngineLookups, 0);  // nothing is written by this process
  EXPECT_TRUE(HoldsCatalogue(f.Registry, TSpeedSwitch::ssTurboStartup));
  EXPECT_TRUE(HoldsCatalogue(f.Registry, TSpeedSwitch::ssPerformanceEnhancement));
  EXPECT_EQ(BootDefrag(f), Sz("Y"));
  EXPECT_EQ(StoredStates(f), Sz("1,0,1,1,0"));
  EXPECT_EQ(Ticks(w), "10110");
  EXPECT_FALSE(w.FSpeedChanged);
  EXPECT_FALSE(w.btnApply->Enabled());
  EXPECT_TRUE(NoShields(w));
  EXPECT_TRUE(f.Boxes.empty());
  // The ticks show what the helper stored, not what was asked.
  f.Helper = [&](const std::string&) {
    PutValue(f.Registry, HKLM, kProductKey, kSpeedStatesValue, Sz("0,0,0,0,1"));
    return TSpeedHelperRun{TSpeedHelperRun::TOutcome::Finished, 0, ""};
  };
  w.cbSpeedOpt[1]->Click();
  w.btnOK->Click();
  EXPECT_EQ(Ticks(w), "00011");
  EXPECT_EQ(f.Closes, 1);
}

TEST(SpeedOptionsElevation, ADeclinedPromptStoresNothingShowsNothingAndLeavesApplyEnabled) {
  TWindowFixture f;
  f.Elevation = kLimited;
  TfmPerformance& w = f.Create();
  f.Counted.Changes = 0;
  f.Helper = [](const std::string&) { return TSpeedHelperRun{TSpeedHelperRun::TOutcome::Declined, 0, ""}; };
  SetTicks(w, "11111");
  w.btnApply->Click();
  w.btnOK->Click();  // asks again, is declined again, and the window stays
  EXPECT_EQ(f.HelperRuns.size(), 2u);
  EXPECT_EQ(f.Counted.Changes, 0);
  EXPECT_TRUE(f.Files.Files().empty());
  EXPECT_TRUE(f.Boxes.empty());
  EXPECT_EQ(f.Closes, 0);
  EXPECT_EQ(Ticks(w), "11111");
  EXPECT_TRUE(w.FSpeedChanged);
  EXPECT_TRUE(w.btnApply->Enabled());
  EXPECT_TRUE(Shields(w));
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
}

TEST(SpeedOptionsElevation, AFailingHelperShowsItsReasonAndTheChangeStaysPending) {
  struct {
    const char* Name;
    std::function<void(TWindowFixture&)> Arrange;
    std::string Message;
  } cases[] = {
      {"engine error", [](TWindowFixture& f) {
         PutValue(f.Registry, HKLM, kPrefetchKey, "EnablePrefetcher", Sz("3"));
       }, "Invalid data type for 'EnablePrefetcher'"},
      {"not started", [](TWindowFixture& f) {
         f.Helper = [](const std::string&) {
           return TSpeedHelperRun{TSpeedHelperRun::TOutcome::NotStarted, 0,
                                  "The program \"C:\\Program\\SpeedSwitches.exe\" could not be started. "
                                  "The system cannot find the file specified."};
         };
       }, "The program \"C:\\Program\\SpeedSwitches.exe\" could not be started. "
          "The system cannot find the file specified."},
      {"no reason", [](TWindowFixture& f) {
         f.Helper = [](const std::string&) { return TSpeedHelperRun{TSpeedHelperRun::TOutcome::Finished, 5, ""}; };
       }, "The speed settings could not be changed (exit code 5)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TWindowFixture f;
    f.Elevation = kLimited;
    TfmPerformance& w = f.Create();
    c.Arrange(f);
    SetTicks(w, "10000");
    try {
      w.btnApply->Click();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
    EXPECT_EQ(StoredStates(f), std::nullopt);
    EXPECT_TRUE(w.FSpeedChanged);
    EXPECT_TRUE(w.btnApply->Enabled());
    EXPECT_TRUE(Shields(w));
    EXPECT_EQ(f.Cursor, TScreenCursor::Other);
  }
}

TEST(SpeedOptionsElevation, AnElevatedAdministratorAndAUserStartNoHelper) {
  struct {
    const char* Name;
    std::optional<int> Privilege;
    std::optional<TTokenElevation> Elevation;
    bool Applied;
  } cases[] = {
      {"elevated administrator", 2, TTokenElevation{true, TElevationType::etFull}, true},
      {"no split token", 2, TTokenElevation{true, TElevationType::etDefault}, true},
      {"unreadable token", 2, std::nullopt, true},
      {"user", 1, kLimited, false},
      {"user, not elevated", 1, TTokenElevation{false, TElevationType::etDefault}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TWindowFixture f;
    f.Privilege = c.Privilege;
    f.Elevation = c.Elevation;
    TfmPerformance& w = f.Create();
    SetTicks(w, "10000");
    EXPECT_TRUE(NoShields(w));
    w.btnApply->Click();
    EXPECT_TRUE(f.HelperRuns.empty());
    EXPECT_EQ(HoldsCatalogue(f.Registry, TSpeedSwitch::ssTurboStartup), c.Applied);
    EXPECT_EQ(f.Boxes.size(), c.Applied ? 0u : 1u);
    EXPECT_FALSE(w.btnApply->Enabled());
  }
}

TEST(SpeedOptionsElevation, TheShieldIsOnExactlyWhileASpeedChangeWaitsForALimitedAdministrator) {
  TWindowFixture f;
  f.Elevation = kLimited;
  TfmPerformance& w = f.Create();
  EXPECT_TRUE(NoShields(w));
  w.cbAutoOptimize->Click();  // the schedule goes to the service: no consent
  EXPECT_TRUE(w.btnApply->Enabled());
  EXPECT_TRUE(NoShields(w));
  w.cbSpeedOpt[4]->Click();
  EXPECT_TRUE(Shields(w));
  w.btnApply->Click();
  EXPECT_TRUE(NoShields(w));
  EXPECT_EQ(f.HelperRuns.size(), 1u);
  // The schedule still went to the service from the window.
  ASSERT_FALSE(f.Link->Calls.empty());
  EXPECT_NE(f.Link->Calls[0].find("optimi.free.setconf"), std::string::npos);
}

TEST(SpeedOptions, AnEngineErrorAfterTheScheduleKeepsApplyEnabled) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  PutValue(f.Registry, HKLM, kPrefetchKey, "EnablePrefetcher", Sz("3"));
  w.cbAutoOptimize->Click();
  SetTicks(w, "10000");
  EXPECT_THROW(w.btnApply->Click(), Exception);
  EXPECT_FALSE(w.FScheduleChanged);
  EXPECT_TRUE(w.FSpeedChanged);
  EXPECT_TRUE(w.btnApply->Enabled());
  EXPECT_THROW(w.btnOK->Click(), Exception);
  EXPECT_EQ(f.Closes, 0);
}
