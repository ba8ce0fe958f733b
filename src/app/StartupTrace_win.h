// Times of the start-up steps, for measuring start-up from outside: when the environment
// variable QB_STARTUP_TRACE names a file, the steps' times are written to it once the main
// window has painted. Without it nothing is written; a mark costs a clock read.
#pragma once

#include <cstdint>

// The clock of the marks: system time in 100 ns units, precise where the system has it, so a
// measuring process reading it agrees with the marks.
uint64_t StartupClock() noexcept;
// Notes the time of a step (system time, 100 ns units); only a step's first mark counts.
void StartupMark(const char* step) noexcept;
// Writes the process's creation time and the marks to the file QB_STARTUP_TRACE names, once;
// does nothing without it.
void WriteStartupTrace() noexcept;
