// The auto-clean triggers, evaluated once a timer tick while auto-clean is on.
#include "app/auto_clean.h"

#include "app/app.h"
#include "clean/memory.h"
#include "settings/settings.h"

namespace {

constexpr uint64_t kMillisecondsPerSecond = 1000;
constexpr uint64_t kMillisecondsPerMinute = 60000;
// Also the cool-down of the free-memory trigger.
constexpr uint64_t kThresholdCooldown = 300000;

// A due clean: run it, or hold it while the user is busy. Answers whether
// it ran.
bool StartDueClean(AutoCleanState& state, const Settings& settings, HWND owner, bool may_hold) {
  const AutoCleanPlatform& platform = *state.platform;
  QUERY_USER_NOTIFICATION_STATE quns = QUNS_ACCEPTS_NOTIFICATIONS;
  const bool read = SUCCEEDED(platform.query_notification_state(&quns));
  UserBusy busy = UserBusyFor(read, quns);
  if (may_hold && settings.hold_when_busy && busy.hold_cleans) return false;
  platform.run_clean(owner, {true, busy.quiet});
  return true;
}

}  // namespace

const AutoCleanPlatform kSystemAutoCleanPlatform = {
    GetTickCount64,         GetLocalTime,    GetLastInputInfo, TakeMemorySnapshot, ReadProgramMemoryLists,
    SHQueryUserNotificationState, RunClean,
};

UserBusy UserBusyFor(bool read, QUERY_USER_NOTIFICATION_STATE state) {
  if (!read) return {false, false};
  switch (state) {
    case QUNS_BUSY:                     // a full-screen program, or presentation settings on
    case QUNS_RUNNING_D3D_FULL_SCREEN:  // a Direct3D game in exclusive mode
    case QUNS_PRESENTATION_MODE:
      return {true, true};
    case QUNS_QUIET_TIME:  // the first hour after a first logon: clean, but say nothing
      return {false, true};
    default:  // accepts notifications, locked or away, a Store app
      return {false, false};
  }
}

bool FreeMemoryBelow(const MemoryLists& lists, int32_t free_below_mb) {
  return free_below_mb > 0 && lists.readable &&
         lists.free_mb + lists.zeroed_mb < static_cast<double>(free_below_mb);
}

uint32_t LocalDateKey(const SYSTEMTIME& time) {
  return static_cast<uint32_t>(time.wYear) * 10000u + static_cast<uint32_t>(time.wMonth) * 100u + time.wDay;
}

void EvaluateAutoClean() {
  EvaluateAutoClean(app.auto_clean, app.settings, app.clean.last_clean_tick, app.main_window);
}

void EvaluateAutoClean(AutoCleanState& state, const Settings& settings, uint64_t last_clean_tick, HWND owner) {
  const AutoCleanPlatform& platform = *state.platform;
  // One reading for every comparison but the idle time, so that no trigger
  // sees a later clock than the one before it.
  uint64_t now = platform.tick_count();
  uint64_t since_clean = now - last_clean_tick;

  if (!state.boot_delay_armed && settings.on_boot_delay > 0) {
    state.boot_delay_armed = true;
    state.boot_deadline_tick = now + static_cast<uint64_t>(settings.on_boot_delay) * kMillisecondsPerSecond;
  }
  // A deadline of 0 (none pending) wraps to the largest value and never fires.
  if (state.boot_deadline_tick - 1 < now) {
    state.boot_deadline_tick = 0;
    StartDueClean(state, settings, owner, false);  // never held: it runs once, at start
    return;
  }

  if (settings.clean_hour >= 0) {
    SYSTEMTIME local = {};
    platform.local_time(&local);
    const uint32_t today = LocalDateKey(local);
    bool at_time = local.wHour == static_cast<WORD>(settings.clean_hour) &&
                   local.wMinute == static_cast<WORD>(settings.clean_minute);
    // A held one still holds for the rest of its day.
    if ((at_time || state.held_scheduled_date == today) && today != state.last_scheduled_date) {
      if (StartDueClean(state, settings, owner, true)) {
        state.last_scheduled_date = today;
        state.held_scheduled_date = 0;
      } else {
        state.held_scheduled_date = today;
      }
      return;
    }
  }

  if (settings.interval_minutes > 0 &&
      since_clean >= static_cast<uint64_t>(settings.interval_minutes) * kMillisecondsPerMinute) {
    StartDueClean(state, settings, owner, true);
    return;
  }

  if (settings.threshold_percent > 0) {
    MemorySnapshot snapshot = {};
    // A failed reading counts as a threshold not reached.
    if (platform.take_snapshot(snapshot) &&
        static_cast<int32_t>(snapshot.load_percent) >= settings.threshold_percent &&
        since_clean >= kThresholdCooldown) {
      StartDueClean(state, settings, owner, true);
      return;
    }
  }

  // The lists are read only while the trigger is on: each reading is a
  // system call that the other triggers do not need.
  if (settings.free_below_mb > 0) {
    MemoryLists lists = {};
    if (platform.read_memory_lists(lists) && FreeMemoryBelow(lists, settings.free_below_mb) &&
        since_clean >= kThresholdCooldown) {
      StartDueClean(state, settings, owner, true);
      return;
    }
  }

  if (settings.on_idle_minutes > 0) {
    uint64_t limit = static_cast<uint64_t>(settings.on_idle_minutes) * kMillisecondsPerMinute;
    LASTINPUTINFO input = {};
    input.cbSize = sizeof input;
    platform.last_input_info(&input);
    // Both are 32-bit millisecond counts: the difference stays right when
    // the count wraps after 49.7 days of uptime.
    uint32_t idle = static_cast<uint32_t>(platform.tick_count()) - input.dwTime;
    if (idle >= limit && since_clean >= limit) {
      StartDueClean(state, settings, owner, true);
      return;
    }
  }
}
