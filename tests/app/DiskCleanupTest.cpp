// The "Disk Optimization" group of the main window on fakes: figures, the question, the order
// of the clearing, the pause, the saved-password count and the typed-URL error.
#include "app/PerformanceFixture.h"
#include "i18n/StringTable.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kMiB = 1048576;

TEST(DiskCleanup, SizeFiguresFollowZeroPointHashHash) {
  struct {
    int64_t Bytes;
    const char* Separator;
    const char* Text;
  } cases[] = {{0, ".", "0 MB"},
               {kMiB, ".", "1 MB"},
               {3 * kMiB + kMiB / 2, ".", "3.5 MB"},
               {3 * kMiB + kMiB / 2, ",", "3,5 MB"},
               {3 * kMiB + kMiB / 2, "\xD9\xAB", "3\xD9\xAB" "5 MB"},  // U+066B, as the locale writes it
               {3 * kMiB + kMiB / 4, "::", "3::25 MB"},              // every character of a longer one
               {kMiB + kMiB / 100 * 1 + 5000, ".", "1.01 MB"},
               {kMiB * 2 - 1, ".", "2 MB"},
               {5 * 1024 * kMiB + 123 * kMiB / 100, ".", "5121.23 MB"},  // beyond 32 bits
               {kMiB / 200, ".", "0 MB"},             // 0.00499... MiB
               {kMiB / 200 + 1, ".", "0.01 MB"}};
  for (const auto& c : cases) EXPECT_EQ(SizeFigureText(c.Bytes, c.Separator), c.Text) << c.Bytes;
}

TEST(DiskCleanup, ACountPassFillsTheFourFiguresAndLeavesTheRecycleBinWithout) {
  TWindowFixture f;
  f.Disk.InternetCacheBytes = 3 * kMiB + kMiB / 2;
  f.Disk.Cookies = 7;
  f.Disk.TempFilesBytes = std::nullopt;
  f.Disk.SavedPasswords = 12;
  TfmPerformance& w = f.Create();
  EXPECT_EQ(w.lblTempFilesSize->Text(), "0 MB");  // design text until the pass arrives
  EXPECT_EQ(w.lblCookies->Text(), "0 Records");
  ASSERT_EQ(f.PendingPasses.size(), 1u);
  f.RunCountPasses();
  EXPECT_EQ(w.lblTempFilesSize->Text(), "3.5 MB");
  EXPECT_EQ(w.lblCookies->Text(), "7 Records");
  EXPECT_EQ(w.lblSysFilesSize->Text(), "Unknown");
  EXPECT_EQ(w.lblSavedPwd->Text(), "12 Records");
  EXPECT_FALSE(w.lblRecycleFiles->Visible());
  EXPECT_EQ(w.lblRecycleFiles->Text(), "0 MB");
}

TEST(DiskCleanup, NothingTickedAsksNothingAndNoClearsNothing) {
  TWindowFixture f;
  TfmPerformance& w = f.Create();
  f.RunCountPasses();
  w.suiImageButton2->Click();
  EXPECT_TRUE(f.Boxes.empty());
  for (TControl* box : w.cbDiskOpt) box->Click();
  f.BoxAnswer = mrNo;
  w.suiImageButton2->Click();
  ASSERT_EQ(f.Boxes.size(), 1u);
  EXPECT_EQ(f.Boxes[0].Title, "Disk Optimization");
  EXPECT_EQ(f.Boxes[0].Text, "This action cannot be undone. Continue?");
  EXPECT_EQ(f.Boxes[0].Buttons, MessageBoxButtons::YesNo);
  EXPECT_TRUE(f.Cleared.empty());
  EXPECT_TRUE(f.PendingPasses.empty());
}

TEST(DiskCleanup, EverythingTickedClearsInItsOrderWithThePauseThenCountsAgain) {
  TWindowFixture f;
  f.Disk.SavedPasswords = 12;
  TfmPerformance& w = f.Create();
  f.RunCountPasses();
  EXPECT_EQ(w.lblSavedPwd->Text(), "12 Records");
  for (TControl* box : w.cbDiskOpt) box->Click();
  w.suiImageButton2->Click();
  EXPECT_EQ(f.Cleared, (std::vector<std::string>{"cache", "cookies", "pause 1000", "temp", "recycle",
                                                 "urls", "passwords"}));
  // First the number removed, then the fresh count.
  EXPECT_EQ(w.lblSavedPwd->Text(), "12 Records");
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
  ASSERT_EQ(f.PendingPasses.size(), 1u);
  f.RunCountPasses();
  EXPECT_EQ(w.lblSavedPwd->Text(), "0 Records");
  for (TControl* box : w.cbDiskOpt) EXPECT_TRUE(box->Checked());  // the ticks stay
}

TEST(DiskCleanup, OnlyTypedUrlsStillPausesAndShowsNoPasswordsRemoved) {
  TWindowFixture f;
  f.Disk.SavedPasswords = 3;
  TfmPerformance& w = f.Create();
  f.RunCountPasses();
  w.cbDiskOpt[4]->Click();
  w.suiImageButton2->Click();
  EXPECT_EQ(f.Cleared, (std::vector<std::string>{"pause 1000", "urls"}));
  EXPECT_EQ(w.lblSavedPwd->Text(), "0 Records");
  f.RunCountPasses();
  EXPECT_EQ(w.lblSavedPwd->Text(), "3 Records");
}

TEST(DiskCleanup, ATypedUrlErrorEndsTheClearingThere) {
  TWindowFixture f;
  f.Disk.SavedPasswords = 5;
  TfmPerformance& w = f.Create();
  f.RunCountPasses();
  f.TypedUrlsFail = true;
  for (TControl* box : w.cbDiskOpt) box->Click();
  EXPECT_THROW(w.suiImageButton2->Click(), Exception);
  EXPECT_EQ(f.Cleared, (std::vector<std::string>{"cache", "cookies", "pause 1000", "temp", "recycle"}));
  EXPECT_TRUE(f.PendingPasses.empty());
  EXPECT_EQ(w.lblSavedPwd->Text(), "5 Records");
  EXPECT_EQ(f.Cursor, TScreenCursor::Other);
}

TEST(DiskCleanup, RecordsIsTranslatedWithTheBlankOutsideTheKey) {
  // The design text is translated with the window, the figures as they come.
  gStringTable = std::make_unique<TStringTable>();
  gStringTable->LoadText("\xEF\xBB\xBF[Optimization]\nRecords=Einträge\n0 Records=0 Einträge\n");
  TWindowFixture f;
  f.Window->Ports().Text = [](std::string_view section, std::string_view key) {
    return gStringTable->GetText(section, key);
  };
  f.Disk.Cookies = 4;
  TfmPerformance& w = f.Create();
  EXPECT_EQ(w.lblCookies->Text(), "0 Einträge");
  f.RunCountPasses();
  EXPECT_EQ(w.lblCookies->Text(), "4 Einträge");
  gStringTable.reset();
}

}  // namespace
