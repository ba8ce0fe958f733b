// The theme's entries, built-in look and file parser.
#include "ui/Theme.h"

#include "common/GenericAPI.h"
#include "common/TextUtil.h"

#include <array>

namespace {

struct TColorEntry {
  std::string_view Key;
  TRgb Default;
};

struct TMetricEntry {
  std::string_view Key;
  int Default;
  int Min;
  int Max;
};

// In the order of TThemeColor. The defaults are the product's look, so windows keep it when no
// theme file is found.
constexpr std::array<TColorEntry, kThemeColorCount> kColors = {{
    {"frame.border", {0, 44, 200}},
    {"frame.face", {239, 235, 222}},
    {"frame.caption.text", {255, 255, 255}},
    {"frame.titlebar.top", {52, 104, 232}},
    {"frame.titlebar.bottom", {0, 44, 200}},
    {"frame.button.face", {22, 72, 214}},
    {"frame.button.hot", {84, 132, 240}},
    {"frame.button.glyph", {255, 255, 255}},
    {"button.face.top", {255, 255, 255}},
    {"button.face.bottom", {226, 237, 235}},
    {"button.hot.top", {255, 255, 255}},
    {"button.hot.bottom", {208, 234, 228}},
    {"button.pressed.top", {196, 222, 216}},
    {"button.pressed.bottom", {230, 241, 238}},
    {"button.border", {127, 168, 172}},
    {"button.text", {25, 60, 60}},
    {"button.disabled.text", {100, 100, 100}},
    {"button.focus", {25, 60, 60}},
    {"check.border", {127, 168, 172}},
    {"check.face", {255, 255, 255}},
    {"check.hot.border", {0, 128, 112}},
    {"check.mark", {0, 80, 70}},
    {"check.text", {0, 0, 0}},
    {"check.disabled.text", {100, 100, 100}},
    {"progress.track", {234, 241, 240}},
    {"progress.fill.top", {86, 186, 168}},
    {"progress.fill.bottom", {0, 112, 96}},
    {"progress.border", {25, 60, 60}},
    {"group.border", {127, 168, 172}},
    {"group.text", {0, 0, 0}},
    {"group.face", {255, 255, 255}},
    {"title.strip", {0, 80, 70}},
}};

// In the order of TThemeMetric.
constexpr std::array<TMetricEntry, kThemeMetricCount> kMetrics = {{
    {"frame.radius", 13, 0, 40},
    {"frame.border.width", 3, 0, 10},
    {"frame.titlebar.height", 26, 16, 64},
    {"frame.menubar.height", 22, 0, 64},
}};

// Numbers longer than this are out of range for every entry; it also keeps int from overflowing.
constexpr size_t kMaxDigits = 6;

[[noreturn]] void Fail(int line, const std::string& what) { throw EThemeError(line, what); }

// A decimal number of digits only; nothing when the text is not one.
std::optional<int> ParseNumber(std::string_view s, int line) {
  if (s.empty()) return std::nullopt;
  for (char c : s)
    if (c < '0' || c > '9') return std::nullopt;
  while (s.size() > 1 && s.front() == '0') s.remove_prefix(1);
  if (s.size() > kMaxDigits) Fail(line, "number \"" + std::string(s) + "\" is out of range");
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// "r, g, b" with each part 0 to 255.
TRgb ParseColor(std::string_view value, std::string_view key, int line) {
  std::array<int, 3> parts{};
  size_t n = 0;
  while (true) {
    const size_t comma = value.find(',');
    const std::string_view part = TrimBlanks(value.substr(0, comma));
    if (n == parts.size())
      Fail(line, "colour of \"" + std::string(key) + "\" needs three numbers: red, green, blue");
    const std::optional<int> v = ParseNumber(part, line);
    if (!v)
      Fail(line, "colour of \"" + std::string(key) + "\" needs three numbers 0 to 255 separated "
                 "by commas, found \"" + std::string(part) + "\"");
    if (*v > 255) Fail(line, "colour part " + std::to_string(*v) + " of \"" + std::string(key) +
                                 "\" is out of range 0 to 255");
    parts[n++] = *v;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  if (n != parts.size())
    Fail(line, "colour of \"" + std::string(key) + "\" needs three numbers: red, green, blue");
  return {static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
          static_cast<uint8_t>(parts[2])};
}

// Visible form of a key for a message: control bytes shown as "?", long keys cut.
std::string Shown(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 60)) out += (static_cast<unsigned char>(c) < 0x20 ? '?' : c);
  if (s.size() > 60) out += "...";
  return out;
}

}  // namespace

std::string_view ThemeColorKey(TThemeColor c) { return kColors[static_cast<size_t>(c)].Key; }
std::string_view ThemeMetricKey(TThemeMetric m) { return kMetrics[static_cast<size_t>(m)].Key; }
int ThemeMetricMin(TThemeMetric m) { return kMetrics[static_cast<size_t>(m)].Min; }
int ThemeMetricMax(TThemeMetric m) { return kMetrics[static_cast<size_t>(m)].Max; }

TTheme::TTheme() {
  for (size_t i = 0; i < kColors.size(); ++i) FColors[i] = kColors[i].Default;
  for (size_t i = 0; i < kMetrics.size(); ++i) FMetrics[i] = kMetrics[i].Default;
}

EThemeError::EThemeError(int line, const std::string& what)
    : Exception("line " + std::to_string(line) + ": " + what), FLine(line) {}

TTheme ParseTheme(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  TTheme theme;
  std::array<bool, kThemeColorCount> colorSeen{};
  std::array<bool, kThemeMetricCount> metricSeen{};
  int lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    line = TrimBlanks(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    // A "#" after the value starts a comment; no value ever holds one.
    if (const size_t hash = line.find('#'); hash != std::string_view::npos)
      line = TrimBlanks(line.substr(0, hash));

    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
      Fail(lineNo, "expected \"key = value\", found \"" + Shown(line) + "\"");
    const std::string_view key = TrimBlanks(line.substr(0, eq));
    const std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (key.empty()) Fail(lineNo, "missing key before \"=\"");
    if (value.empty()) Fail(lineNo, "missing value for \"" + Shown(key) + "\"");

    bool known = false;
    for (size_t i = 0; i < kColors.size() && !known; ++i) {
      if (!SameText(key, kColors[i].Key)) continue;
      known = true;
      if (colorSeen[i]) Fail(lineNo, "\"" + std::string(kColors[i].Key) + "\" is given twice");
      colorSeen[i] = true;
      theme.SetColor(static_cast<TThemeColor>(i), ParseColor(value, kColors[i].Key, lineNo));
    }
    for (size_t i = 0; i < kMetrics.size() && !known; ++i) {
      if (!SameText(key, kMetrics[i].Key)) continue;
      known = true;
      const TMetricEntry& m = kMetrics[i];
      if (metricSeen[i]) Fail(lineNo, "\"" + std::string(m.Key) + "\" is given twice");
      metricSeen[i] = true;
      const std::optional<int> v = ParseNumber(value, lineNo);
      if (!v)
        Fail(lineNo, "\"" + std::string(m.Key) + "\" needs a whole number, found \"" +
                         Shown(value) + "\"");
      if (*v < m.Min || *v > m.Max)
        Fail(lineNo, "\"" + std::string(m.Key) + "\" = " + std::to_string(*v) +
                         " is out of range " + std::to_string(m.Min) + " to " +
                         std::to_string(m.Max));
      theme.SetMetric(static_cast<TThemeMetric>(i), *v);
    }
    if (!known) Fail(lineNo, "unknown key \"" + Shown(key) + "\"");
  }
  return theme;
}

std::optional<std::string> FindThemeFile(std::string_view name,
                                         const std::vector<std::string>& folders,
                                         const std::function<bool(const std::string&)>& exists) {
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string path = IncludeTrailingSeparator(folder) + std::string(name);
    if (exists(path)) return path;
  }
  return std::nullopt;
}
