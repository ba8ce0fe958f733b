// The five speed switches as the main window applies and stores them, shared by the main
// window and the elevated helper program so that both do exactly the same (portable).
#pragma once

#include <array>
#include <string>
#include <string_view>

class IRawRegistry;
class TOptimizeIt;

// The product's key (machine root) and its value holding the speed switch states last applied:
// a comma list of five "1" or "0" items, one per switch from top to bottom.
inline constexpr const char* kProductKey = "\\Software\\Quor\\eBrisko";
inline constexpr const char* kSpeedStatesValue = "Optimization";
// The system's boot-time defragmentation option (machine root): "Y" or "N".
inline constexpr const char* kBootDefragKey = "\\SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction";
inline constexpr const char* kBootDefragValue = "Enable";
// The switch that is the boot defragmentation option (0-based); the others are the engine's.
inline constexpr int kBootDefragSwitch = 3;

// On or off for each of the five switches, top to bottom.
using TSpeedStates = std::array<bool, 5>;

// The stored form of the states: "1" or "0" per switch, comma-separated, no blanks.
std::string SpeedStatesText(const TSpeedStates& states);
// The states of a text of exactly five "0" or "1" items; false for anything else.
bool ParseSpeedStates(std::string_view text, TSpeedStates& states);

// Applies the switches in the order 1 to 5 (on: the engine's apply, off: its undo; switch 4
// writes the boot defragmentation option through the engine), then stores the states. The
// first error ends it there: the switches after it are not processed, nothing is stored.
void ApplySpeedStates(TOptimizeIt& engine, IRawRegistry& reg, const TSpeedStates& states);
