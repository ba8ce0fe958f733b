// The look of the skinned controls: named colours and sizes with built-in defaults, read from
// the plain-text theme file "msgbox.skn" (portable; the format is described in assets/THEME.md).
#pragma once

#include "common/Errors.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The theme file the windows look for.
inline constexpr std::string_view kThemeFileName = "msgbox.skn";

// A colour as red, green and blue.
struct TRgb {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;

  // The same colour as a stored colour value 0x00BBGGRR, as GDI takes it.
  constexpr uint32_t ColorRef() const { return R | (uint32_t{G} << 8) | (uint32_t{B} << 16); }
  friend constexpr bool operator==(const TRgb&, const TRgb&) = default;
};

// The themed colours; each has a stable key in the file (ThemeColorKey).
enum class TThemeColor : int {
  FrameBorder,
  FrameFace,
  FrameCaptionText,
  FrameTitlebarTop,
  FrameTitlebarBottom,
  FrameButtonFace,
  FrameButtonHot,
  FrameButtonGlyph,
  ButtonFaceTop,
  ButtonFaceBottom,
  ButtonHotTop,
  ButtonHotBottom,
  ButtonPressedTop,
  ButtonPressedBottom,
  ButtonBorder,
  ButtonText,
  ButtonDisabledText,
  ButtonFocus,
  CheckBorder,
  CheckFace,
  CheckHotBorder,
  CheckMark,
  CheckText,
  CheckDisabledText,
  ProgressTrack,
  ProgressFillTop,
  ProgressFillBottom,
  ProgressBorder,
  GroupBorder,
  GroupText,
  GroupFace,
  TitleStrip,
  Count
};

// The themed sizes in pixels; each has a stable key and an allowed range.
enum class TThemeMetric : int {
  FrameRadius,
  FrameBorderWidth,
  FrameTitlebarHeight,
  FrameMenubarHeight,
  Count
};

inline constexpr size_t kThemeColorCount = static_cast<size_t>(TThemeColor::Count);
inline constexpr size_t kThemeMetricCount = static_cast<size_t>(TThemeMetric::Count);

// The key of a colour in the theme file, such as "frame.border".
std::string_view ThemeColorKey(TThemeColor c);
// The key of a size in the theme file, such as "frame.radius".
std::string_view ThemeMetricKey(TThemeMetric m);
// The smallest and the largest value a size may take.
int ThemeMetricMin(TThemeMetric m);
int ThemeMetricMax(TThemeMetric m);

// One complete look. A default-constructed theme is the product's built-in look.
class TTheme {
 public:
  // The built-in look.
  TTheme();

  // The colour of an entry.
  TRgb Color(TThemeColor c) const { return FColors[static_cast<size_t>(c)]; }
  // The colour of an entry as 0x00BBGGRR, ready for GDI.
  uint32_t ColorRef(TThemeColor c) const { return Color(c).ColorRef(); }
  // The size of an entry in pixels.
  int Metric(TThemeMetric m) const { return FMetrics[static_cast<size_t>(m)]; }

  // Replaces a colour.
  void SetColor(TThemeColor c, TRgb value) { FColors[static_cast<size_t>(c)] = value; }
  // Replaces a size; the caller keeps it within ThemeMetricMin and ThemeMetricMax.
  void SetMetric(TThemeMetric m, int value) { FMetrics[static_cast<size_t>(m)] = value; }

  friend bool operator==(const TTheme&, const TTheme&) = default;

 private:
  std::array<TRgb, kThemeColorCount> FColors;
  std::array<int, kThemeMetricCount> FMetrics;
};

// A theme file that cannot be read; the message names the line (1-based) and the fault.
class EThemeError : public Exception {
 public:
  EThemeError(int line, const std::string& what);
  // The line of the fault, counted from 1.
  int Line() const { return FLine; }

 private:
  int FLine;
};

// The theme described by text: the built-in look with the file's entries put over it. Empty
// text or comments only give the built-in look. Throws EThemeError for a malformed line (bad
// syntax, bad colour, number out of range, unknown or repeated key).
TTheme ParseTheme(std::string_view text);

// The full name of the first of folders (in the given order, empty ones skipped) that holds a
// file called name according to exists; nothing when none does.
std::optional<std::string> FindThemeFile(std::string_view name,
                                         const std::vector<std::string>& folders,
                                         const std::function<bool(const std::string&)>& exists);

// Receives one line for the diagnostic log.
using TThemeLog = std::function<void(std::string_view)>;

// The folders searched for the theme file, in order: the current folder, the program's folder,
// the Windows folder and the system folder (Windows build).
std::vector<std::string> ThemeFolders();

// Finds name in folders and parses it. Not found: the built-in look, nothing reported.
// Unreadable or malformed: the built-in look and one line to log (Windows build).
TTheme LoadThemeFile(std::string_view name, const std::vector<std::string>& folders,
                     const TThemeLog& log);

// The look of the windows: "msgbox.skn" from ThemeFolders(), problems to the diagnostic log.
// Reads the file on every call, so each window sees the file as it is (Windows build).
TTheme LoadQuorTheme();
