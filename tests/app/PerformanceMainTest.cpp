#include "app/PerformanceFixture.h"

#include "common/Errors.h"

#include <gtest/gtest.h>

namespace {

TEST(PerformanceMain, GaugeFiguresRoundHalvesUpOnExactCounts) {
  struct {
    TMemoryFigures M;
    const char* Used;
    const char* Free;
  } cases[] = {
      {{63, 1024 * kMiB, 384 * kMiB}, "Used: 640 MB (63%)", "Free: 384 MB (38%)"},
      {{40, 24 * 1024 * kMiB, 10 * 1024 * kMiB}, "Used: 14336 MB (58%)", "Free: 10240 MB (42%)"},
      {{70, 64 * 1024 * kMiB, 20 * 1024 * kMiB + kMiB / 2}, "Used: 45056 MB (69%)", "Free: 20481 MB (31%)"},
  };
  for (const auto& c : cases) {
    TWindowFixture f;
    f.Memory = c.M;
    TfmPerformance& w = f.Create();
    EXPECT_EQ(w.lbUsed->Text(), c.Used);
    EXPECT_EQ(w.lbFree->Text(), c.Free);
    EXPECT_EQ(w.pbPhysicalmemory->Position(), static_cast<int>(c.M.Load));
  }
  EXPECT_EQ(RoundHalfUp(62.5), 63);
  EXPECT_EQ(RoundHalfUp(37.5), 38);
  EXPECT_EQ(RoundHalfUp(37.49), 37);
}

TEST(PerformanceMain, ScheduleAnswersSetTheControls) {
  struct {
    const char* Answer;
    bool Ticked;
    bool GroupEnabled;
    int Index;
  } cases[] = {{"Enabled=True,Period=30", true, true, 1},
               {"Enabled=1,Period=45", true, true, 2},
               {"enabled=TRUE,period=5", true, true, 0},
               {"Enabled=-1", true, true, 2},
               {"Enabled=0,Period=5", false, false, -1},
               {"Enabled=yes,Period=5", false, false, -1},
               {"", false, true, -1}};
  for (const auto& c : cases) {
    TWindowFixture f;
    TfmPerformance& w = f.Create(c.Answer);
    SCOPED_TRACE(c.Answer);
    EXPECT_EQ(w.cbAutoOptimize->Checked(), c.Ticked);
    EXPECT_EQ(w.rgTimeSelect->Enabled(), c.GroupEnabled);
    EXPECT_EQ(w.rgTimeSelect->ItemIndex(), c.Index);
    EXPECT_FALSE(w.btnApply->Enabled());
  }
}

TEST(PerformanceMain, TickingAndUntickingSendTheScheduleOnApply) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  w.cbAutoOptimize->Click();
  EXPECT_EQ(w.rgTimeSelect->ItemIndex(), 2);
  EXPECT_TRUE(w.btnApply->Enabled());
  w.btnApply->Click();
  EXPECT_EQ(f.Link->Calls, (std::vector<std::string>{
                               "module.optimize|optimi.free.setconf|nocache=true,Enabled=-1,Period=60"}));
  EXPECT_FALSE(w.btnApply->Enabled());

  f.Link->Calls.clear();
  w.rgTimeSelect->ClickItem(1);
  w.cbAutoOptimize->Click();
  EXPECT_FALSE(w.rgTimeSelect->Enabled());
  w.btnApply->Click();
  EXPECT_EQ(f.Link->Calls, (std::vector<std::string>{
                               "module.optimize|optimi.free.setconf|nocache=true,Enabled=0,Period=30"}));
}

TEST(PerformanceMain, ApplyAndOkSendOnlyWhatChanged) {
  TWindowFixture f;
  TfmPerformance& w = f.Create("Enabled=1,Period=5");
  // OK with nothing changed closes at once without a request.
  w.btnOK->Click();
  EXPECT_TRUE(f.Link->Calls.empty());
  EXPECT_EQ(f.Closes, 1);
  EXPECT_EQ(f.Counted.Changes, 0);
  // A speed switch alone: Apply sends nothing to the service and applies the switches.
  w.cbSpeedOpt[4]->Click();
  EXPECT_TRUE(w.btnApply->Enabled());
  w.btnOK->Click();
  EXPECT_TRUE(f.Link->Calls.empty());
  EXPECT_EQ(f.Registry.Value("HKLM\\Software\\Quor\\eBrisko", "Optimization")->Data, "0,0,0,1,1");
  EXPECT_EQ(f.Closes, 2);
  w.btnCancel->Click();
  EXPECT_EQ(f.Closes, 3);
}

TEST(PerformanceMain, OptimizeAsksTheServiceAndRestoresTheCursorAlsoOnFailure) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  f.Memory.Avail = 512 * kMiB;
  w.suiImageButton1->Click();
  EXPECT_EQ(f.Link->Calls, (std::vector<std::string>{"module.optimize|optimi.free|nocache=true"}));
  EXPECT_EQ(w.lbFree->Text(), "Free: 512 MB (50%)");
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
  f.Link->Fail = true;
  EXPECT_NO_THROW(w.suiImageButton1->Click());
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
}

TEST(PerformanceMain, AStateRequestErrorEndsTheCreationThere) {
  TWindowFixture f;
  f.Link->Fail = true;
  EXPECT_THROW(f.Window->FormCreate(), Exception);
  TfmPerformance& w = *f.Window;
  // The steps before the request ran, the ones after it did not.
  EXPECT_EQ(w.Caption(), "Quor eBrisko Management");
  EXPECT_EQ(w.lbUsed->Text(), "Used: 640 MB (63%)");
  EXPECT_EQ(w.btnCancel->Bounds().Left, 0);
  EXPECT_EQ(w.Image1->Picture(), 0);
  EXPECT_TRUE(w.btnApply->Enabled());
}

TEST(PerformanceMain, CreationPlacesButtonsAndTheMachinePicture) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  EXPECT_EQ(w.btnCancel->Bounds(), (TBounds{670, 562, 104, 24}));
  EXPECT_EQ(w.btnOK->Bounds(), (TBounds{560, 562, 104, 24}));
  EXPECT_EQ(w.btnApply->Bounds(), (TBounds{432, 562, 104, 24}));
  EXPECT_EQ(w.cbDiskOpt[5]->Bounds().Top, 116);
  EXPECT_EQ(w.lblSavedPwd->Bounds().Top, 118);
  EXPECT_EQ(w.cbSpeedOpt[4]->Bounds().Top, 96);
  EXPECT_EQ(w.rgTimeSelect->BorderColor(), clWhite);
  EXPECT_EQ(w.Image1->Picture(), w.ImageList1->Pictures[0]);
  EXPECT_FALSE(w.btnMenu->Visible());
  EXPECT_EQ(w.btnHelp->Bounds().Left, 572 + 154);
  EXPECT_EQ(w.ClientWidth, 800);
  EXPECT_EQ(w.ClientHeight, 622);
  w.FormKeyUp(112);
  w.FormKeyUp(113);
  w.btnHelp->Click();
  w.btnAbout->Click();
  EXPECT_EQ(f.Helps, 2);
  EXPECT_EQ(f.Abouts, 1);
}

TEST(PerformanceMain, MemoryUsageRule) {
  struct {
    const char* Answer;
    bool Advised;
  } cases[] = {{"count=1001,60=668,80=334", true},   {"count=1000,60=1000,80=1000", false},
               {"count=1200,60=800,80=1000", false}, {"count=1200,60=900", false},
               {"COUNT=1500,60=1001,80=501", true},  {"", false},
               {"count=x,60=2000,80=2000", false},   {"count=99999999999,60=1,80=1", false}};
  for (const auto& c : cases) EXPECT_EQ(UpgradeAdvised(c.Answer), c.Advised) << c.Answer;
}

TEST(PerformanceMain, MemoryUsageCheckConfirmsAsksAndShowsTheVerdict) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  f.BoxAnswer = mrNo;
  w.suiImageButton7->Click();
  EXPECT_TRUE(f.Link->Calls.empty());
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
  ASSERT_EQ(f.Boxes.size(), 1u);
  EXPECT_EQ(f.Boxes[0].Text, "Memory will be adjusted for usage check. Proceed?");
  EXPECT_EQ(f.Boxes[0].Buttons, MessageBoxButtons::YesNo);

  f.BoxAnswer = mrYes;
  f.Link->Answers["optimize.memory.usage"] = "count=1001,60=668,80=334";
  w.suiImageButton7->Click();
  EXPECT_EQ(f.Link->Calls, (std::vector<std::string>{"module.optimize|optimize.memory.usage|nocache=true"}));
  ASSERT_EQ(f.Boxes.size(), 3u);
  EXPECT_EQ(f.Boxes[2].Text, "You should upgrade your memory.");
  EXPECT_EQ(f.Boxes[2].Icon, MessageBoxIcon::Information);
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);

  // A failed request leaves the action with its error; the cursor comes back.
  f.Link->Fail = true;
  EXPECT_THROW(w.suiImageButton7->Click(), Exception);
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
}

}  // namespace
