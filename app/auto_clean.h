// The auto-clean triggers, looked at once a timer tick while auto-clean is on.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "clean/memory.h"
#include "settings/settings.h"

// The platform calls the triggers make while they decide, gathered so that a
// test can play the clock, the user's input and the load; the program always
// uses kSystemAutoCleanPlatform (AutoCleanState::platform).
// What the user is doing, as it bears on the program: whether an automatic
// clean waits, and whether a clean's popup and balloon stay away.
struct UserBusy {
  bool hold_cleans;   // a full-screen program, a Direct3D game or a presentation
  bool quiet;         // those, or the quiet time after a first logon
};
// The rule for both, over what SHQueryUserNotificationState answered
// (`read` false: it failed, and nothing is held or kept quiet).
UserBusy UserBusyFor(bool read, QUERY_USER_NOTIFICATION_STATE state);

// How a clean was started: by the user (hot key, tray, menu), or by a
// trigger, when nothing it shows may take the focus and, while the user is
// busy (`quiet`), nothing is shown at all.
struct CleanStart {
  bool automatic;
  bool quiet;
};

struct AutoCleanPlatform {
  ULONGLONG(WINAPI* tick_count)();
  void(WINAPI* local_time)(LPSYSTEMTIME time);
  BOOL(WINAPI* last_input_info)(PLASTINPUTINFO info);
  bool (*take_snapshot)(MemorySnapshot& snapshot);
  bool (*read_memory_lists)(MemoryLists& lists);
  // Asked only when a clean is due, never on a tick with none.
  HRESULT(WINAPI* query_notification_state)(QUERY_USER_NOTIFICATION_STATE* state);
  void (*run_clean)(HWND owner, CleanStart start);
};
extern const AutoCleanPlatform kSystemAutoCleanPlatform;

// The boot-delay and scheduled triggers' memory, in AppState::auto_clean.
struct AutoCleanState {
  const AutoCleanPlatform* platform = &kSystemAutoCleanPlatform;
  uint64_t boot_deadline_tick;   // 0: none pending
  bool boot_delay_armed;
  uint32_t last_scheduled_date;  // LocalDateKey of the last scheduled clean; 0 = none yet
  // The date of a scheduled clean held while the user was busy: it runs
  // once that ends, the same day; 0 = none.
  uint32_t held_scheduled_date;
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
// from `last_clean_tick`. A clean that comes due asks what the user is
// doing: with hold_when_busy set, every trigger but the boot delay waits
// while UserBusyFor says hold_cleans, and the first tick after it, if the
// trigger still holds then, runs one clean (the interval and idle times
// keep counting from the last clean, so missed ones never pile up).
void EvaluateAutoClean(AutoCleanState& state, const Settings& settings, uint64_t last_clean_tick, HWND owner);
// The same on the program's state and settings.
void EvaluateAutoClean();
