// Feeds arbitrary bytes to the theme parser, as a damaged or hand-edited msgbox.skn could hold.
// Checks that it either gives a theme whose sizes are in range or throws EThemeError naming a
// line that exists, and that the shipped-style text of a parsed theme reads back the same.
#include "common/GenericAPI.cpp"
#include "common/ResStrings.cpp"
#include "common/Registry.cpp"
#include "common/Registry64.cpp"
#include "common/TextUtil.cpp"
#include "ui/Theme.cpp"

#include <cstdlib>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The theme written back as a file, one entry per line.
std::string Write(const TTheme& t) {
  std::string out;
  for (size_t i = 0; i < kThemeColorCount; ++i) {
    const auto c = static_cast<TThemeColor>(i);
    const TRgb v = t.Color(c);
    out += std::string(ThemeColorKey(c)) + " = " + std::to_string(v.R) + "," +
           std::to_string(v.G) + "," + std::to_string(v.B) + "\n";
  }
  for (size_t i = 0; i < kThemeMetricCount; ++i) {
    const auto m = static_cast<TThemeMetric>(i);
    out += std::string(ThemeMetricKey(m)) + " = " + std::to_string(t.Metric(m)) + "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const TTheme t = ParseTheme(text);
    for (size_t i = 0; i < kThemeMetricCount; ++i) {
      const auto m = static_cast<TThemeMetric>(i);
      Check(t.Metric(m) >= ThemeMetricMin(m) && t.Metric(m) <= ThemeMetricMax(m));
    }
    Check(ParseTheme(Write(t)) == t);
  } catch (const EThemeError& e) {
    size_t lines = 1;
    for (char c : text) lines += c == '\n';
    Check(e.Line() >= 1 && static_cast<size_t>(e.Line()) <= lines);
  }
  return 0;
}
