#include "app/SingleInstance_win.h"

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <gtest/gtest.h>

namespace {

// A title of this test process alone, so parallel runs never meet.
std::string UniqueTitle(const char* what) {
  return std::string("QB single instance test ") + what + " " + std::to_string(::GetCurrentProcessId());
}

bool MutexExists(const std::string& title) {
  TScopedHandle h(::OpenMutexW(SYNCHRONIZE, FALSE, Utf8ToWide(title).c_str()));
  return h.valid();
}

}  // namespace

TEST(SingleInstance, CloseCommandWithNoInstanceEndsWithoutMakingTheMutex) {
  const std::string title = UniqueTitle("exit");
  EXPECT_TRUE(CheckSingleInstance(title, "QBNoSuchClass", true, {"exit"}, nullptr));
  EXPECT_FALSE(MutexExists(title));
}

TEST(SingleInstance, OnlyAnExactFirstArgumentIsTheCloseCommand) {
  const struct {
    std::vector<std::string> args;
  } cases[] = {{{"Exit"}}, {{"EXIT"}}, {{"other", "exit"}}, {{}}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string title = UniqueTitle(("normal" + std::to_string(n++)).c_str());
    EXPECT_FALSE(CheckSingleInstance(title, "QBNoSuchClass", true, c.args, nullptr));
    EXPECT_TRUE(MutexExists(title));
  }
}

TEST(SingleInstance, ASecondCheckFindsTheMutexAndEndsQuietlyWithoutAnAppWindow) {
  const std::string title = UniqueTitle("second");
  ASSERT_FALSE(CheckSingleInstance(title, "QBNoSuchClass", true, {}, nullptr));
  EXPECT_TRUE(CheckSingleInstance(title, "QBNoSuchClass", false, {}, nullptr));
  EXPECT_TRUE(CheckSingleInstance(title, "QBNoSuchClass", true, {}, nullptr));
}
