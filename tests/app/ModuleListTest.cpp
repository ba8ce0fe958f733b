#include "app/ErrorReport.h"
#include "app/ModuleList.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ModuleList, InitializesInOrderAndFinalizesInReverseOnce) {
  std::string trace;
  TModuleList modules;
  modules.Add("a", [&] { trace += "+a"; }, [&] { trace += "-a"; });
  modules.Add("b", [&] { trace += "+b"; });
  modules.Add("c", [&] { trace += "+c"; }, [&] { trace += "-c"; });
  modules.InitializeAll();
  modules.FinalizeAll();
  modules.FinalizeAll();
  EXPECT_EQ(trace, "+a+b+c-c-a");
}

TEST(ModuleList, AFailingModuleIsReportedAndTheRestStillRun) {
  std::string trace, failed;
  TModuleList modules;
  modules.Add("a", [&] { trace += "+a"; }, [&] { trace += "-a"; });
  modules.Add("bad", [] { throw std::runtime_error("no folder"); }, [&] { trace += "-bad"; });
  modules.Add("c", [&] { trace += "+c"; });
  modules.InitializeAll([&](const std::string& m, const std::string& e) { failed = m + ": " + e; });
  modules.FinalizeAll();
  EXPECT_EQ(failed, "bad: no folder");
  EXPECT_EQ(trace, "+a+c-bad-a");
}

TEST(ErrorReport, AppendsAFullStopOnlyAfterCharactersSortingAfterIt) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"Failed", "Failed."},
      {"Done.", "Done."},
      {"Really?", "Really?."},  // '?' sorts after '.'
      {"Stop!", "Stop!"},       // '!' sorts before '.'
      {"Value 7", "Value 7."},
      {"a-", "a-"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorReportText(c.in), c.out) << c.in;
}
