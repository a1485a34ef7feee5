// The auto-clean triggers, looked at once a timer tick while auto-clean is on.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "clean/memory.h"
#include "settings/settings.h"

// The platform calls the triggers make while they decide, gathered so that a
// test can play the clock, the user's input and the load; the program always
// uses kSystemAutoCleanPlatform (AutoCleanState::platform).
struct AutoCleanPlatform {
  ULONGLONG(WINAPI* tick_count)();
  void(WINAPI* local_time)(LPSYSTEMTIME time);
  BOOL(WINAPI* last_input_info)(PLASTINPUTINFO info);
  bool (*take_snapshot)(MemorySnapshot& snapshot);
  bool (*read_memory_lists)(MemoryLists& lists);
  void (*run_clean)(HWND owner);
};
extern const AutoCleanPlatform kSystemAutoCleanPlatform;

// The boot-delay and scheduled triggers' memory, in AppState::auto_clean.
struct AutoCleanState {
  const AutoCleanPlatform* platform = &kSystemAutoCleanPlatform;
  uint64_t boot_deadline_tick;   // 0: none pending
  bool boot_delay_armed;
  uint32_t last_scheduled_date;  // LocalDateKey of the last scheduled clean; 0 = none yet
};

// The local date as yyyymmdd: the scheduled trigger remembers the whole date
// it last ran on, so the same day of a later month still gets its clean.
uint32_t LocalDateKey(const SYSTEMTIME& time);
// Whether free plus zeroed memory is below `free_below_mb`; never when the
// lists could not be read or the setting is 0 or less (off).
bool FreeMemoryBelow(const MemoryLists& lists, int32_t free_below_mb);
// Called on each timer tick while auto-clean is on: tests the boot delay, the
// scheduled time, the interval, the load threshold, free memory and the idle
// time, in that order, and starts at most one clean.
// Cleans run for `owner`; the interval, threshold and idle triggers measure
// from `last_clean_tick`.
void EvaluateAutoClean(AutoCleanState& state, const Settings& settings, uint64_t last_clean_tick, HWND owner);
// The same on the program's state and settings.
void EvaluateAutoClean();
