// What the message box keeps of the boxes it showed: their texts until taken, the last 256 of
// them, and a count that taking them leaves alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msgbox_test_hook.h"

namespace {

TEST(MessageBoxTest, KeepsEachTextUntilTakenAndCountsEveryBox) {
  msgbox_test::TakeMessageBoxTexts();
  const std::uint64_t before = msgbox_test::MessageBoxesShown();
  EXPECT_EQ(AfxMessageBox("CreateMutex - Permission denied\n", MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(AfxMessageBox(nullptr), IDOK);
  EXPECT_EQ(msgbox_test::TakeMessageBoxTexts(),
            (std::vector<std::string>{"CreateMutex - Permission denied\n", ""}));
  EXPECT_TRUE(msgbox_test::TakeMessageBoxTexts().empty());
  EXPECT_EQ(msgbox_test::MessageBoxesShown(), before + 2);
}

// A run that fails every frame keeps the newest texts and still counts every box.
TEST(MessageBoxTest, KeepsTheLast256TextsOfMore) {
  msgbox_test::TakeMessageBoxTexts();
  const std::uint64_t before = msgbox_test::MessageBoxesShown();
  for (int i = 0; i < 300; ++i) AfxMessageBox(std::to_string(i).c_str());
  const std::vector<std::string> texts = msgbox_test::TakeMessageBoxTexts();
  ASSERT_EQ(texts.size(), 256u);
  EXPECT_EQ(texts.front(), "44");
  EXPECT_EQ(texts.back(), "299");
  EXPECT_EQ(msgbox_test::MessageBoxesShown(), before + 300);
}

}  // namespace
