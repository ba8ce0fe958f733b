#include "optimize/SpeedStates.h"

#include "common/Settings.h"
#include "optimize/OptimizeIt.h"

std::string SpeedStatesText(const TSpeedStates& states) {
  std::string text;
  for (size_t i = 0; i < states.size(); ++i) text += std::string(i ? "," : "") + (states[i] ? "1" : "0");
  return text;
}

bool ParseSpeedStates(std::string_view text, TSpeedStates& states) {
  if (text.size() != 2 * states.size() - 1) return false;
  TSpeedStates parsed{};
  for (size_t i = 0; i < states.size(); ++i) {
    const char c = text[2 * i];
    if ((c != '0' && c != '1') || (i + 1 < states.size() && text[2 * i + 1] != ',')) return false;
    parsed[i] = c == '1';
  }
  states = parsed;
  return true;
}

void ApplySpeedStates(TOptimizeIt& engine, IRawRegistry& reg, const TSpeedStates& states) {
  // The engine's switch behind each row (the fourth row is the option, written apart); every
  // one is processed, changed or not.
  static constexpr TSpeedSwitch kRows[] = {TSpeedSwitch::ssTurboStartup, TSpeedSwitch::ssTurboShutdown,
                                           TSpeedSwitch::ssPerformanceEnhancement,
                                           TSpeedSwitch::ssTurboStartup,
                                           TSpeedSwitch::ssNetworkBooster};
  for (int i = 0; i < 5; ++i) {
    const bool on = states[static_cast<size_t>(i)];
    if (i == kBootDefragSwitch) {
      engine.ApplyBootDefrag(on);
    } else if (on) {
      engine.Apply(kRows[i]);
    } else {
      engine.Undo(kRows[i]);
    }
  }
  WriteSetting(reg, kSpeedStatesValue, SpeedStatesText(states), false, kProductKey);
}
