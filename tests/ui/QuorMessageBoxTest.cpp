#include "ui/QuorMessageBox.h"

#include <gtest/gtest.h>

namespace {

TEST(StripAccelerator, RemovesTheFirstAmpersandOnly) {
  EXPECT_EQ(StripAccelerator("&Yes"), "Yes");
  EXPECT_EQ(StripAccelerator("A&b&c"), "Ab&c");
  EXPECT_EQ(StripAccelerator("OK"), "OK");
  EXPECT_EQ(StripAccelerator("&"), "");
}

struct TRow {
  MessageBoxButtons Set;
  std::vector<std::string> Captions;  // left to right
  std::vector<int> Lefts;
  std::vector<uint16_t> Results;
  int DefaultIndex;  // -1: none
  int EscapeIndex;   // first Escape button in creation order, -1: none
};

TEST(QuorMessageBox, ButtonSetsInOrderPlaceAndRoles) {
  const TRow rows[] = {
      {MessageBoxButtons::OK, {"OK"}, {281}, {1}, 0, -1},
      {MessageBoxButtons::OKCancel, {"OK", "Cancel"}, {170, 281}, {1, 2}, 0, 1},
      {MessageBoxButtons::AbortRetryIgnore, {"Abort", "Retry", "Ignore"}, {59, 170, 281}, {3, 4, 5}, -1, -1},
      {MessageBoxButtons::YesNoCancel, {"Yes", "No", "Cancel"}, {59, 170, 281}, {6, 7, 2}, 0, 1},
      {MessageBoxButtons::YesNo, {"Yes", "No"}, {170, 281}, {6, 7}, 0, 1},
      {MessageBoxButtons::RetryCancel, {"Retry", "Cancel"}, {170, 281}, {4, 2}, -1, 1},
      {static_cast<MessageBoxButtons>(9), {}, {}, {}, -1, -1},
  };
  for (const TRow& row : rows) {
    TfmQuorMessageBox box;
    box.FormCreate();
    box.Prepare("Quor eBrisko Management", "Title", "Text", MessageBoxIcon::Warning, row.Set);
    SCOPED_TRACE(static_cast<int>(row.Set));
    ASSERT_EQ(box.Buttons.size(), row.Captions.size());
    int firstDefault = -1, firstEscape = -1;
    for (size_t i = 0; i < box.Buttons.size(); ++i) {
      const TControl& b = *box.Buttons[i];
      EXPECT_EQ(b.Text(), row.Captions[i]);
      EXPECT_EQ(b.Bounds(), (TBounds{row.Lefts[i], 169, 105, 25}));
      EXPECT_EQ(b.ModalResult, row.Results[i]);
      if (b.Default && firstDefault < 0) firstDefault = static_cast<int>(i);
      if (b.Cancel && firstEscape < 0) firstEscape = static_cast<int>(i);
    }
    EXPECT_EQ(firstDefault, row.DefaultIndex);
    EXPECT_EQ(firstEscape, row.EscapeIndex);
  }
}

TEST(QuorMessageBox, IconPictureTextPlaceAndCaption) {
  struct {
    MessageBoxIcon Icon;
    const char* Shown;  // nullptr: none
    int TextLeft;
  } cases[] = {{MessageBoxIcon::Warning, "Img_Warning", 88},
               {MessageBoxIcon::Error, "Img_Error", 88},
               {MessageBoxIcon::Information, "Img_Info", 88},
               {MessageBoxIcon::Confirmation, "Img_Warning", 88},
               {MessageBoxIcon::Custom, nullptr, 28},
               {static_cast<MessageBoxIcon>(200), nullptr, 28}};
  for (const auto& c : cases) {
    TfmQuorMessageBox box;
    box.FormCreate();
    box.Prepare("Caption", "", "", c.Icon, MessageBoxButtons::OK);
    for (TControl* img : {box.Img_Error, box.Img_Info, box.Img_Warning})
      EXPECT_EQ(img->Visible(), c.Shown && img->Name() == c.Shown) << img->Name();
    EXPECT_EQ(box.lblText->Bounds().Left, c.TextLeft);
    EXPECT_EQ(box.lblText->Bounds().Width, 305);
    EXPECT_EQ(box.Caption(), "Caption");
    EXPECT_EQ(box.lbTitle->Text(), "");
    EXPECT_EQ(box.lblText->Text(), "");
    EXPECT_EQ(box.ClientWidth, 400);
    EXPECT_EQ(box.ClientHeight, 222);
  }
}

}  // namespace
