// The auto-clean triggers, played through their platform seam.
#include <gtest/gtest.h>

#include <stdint.h>
#include <vector>

#include "app/app.h"
#include "app/auto_clean.h"
#include "tests/support.h"

namespace {

constexpr uint64_t kSecond = 1000;
constexpr uint64_t kMinute = 60 * kSecond;
constexpr uint64_t kHour = 60 * kMinute;
constexpr uint64_t kDay = 24 * kHour;
constexpr uint64_t kWrap = uint64_t{1} << 32;  // 49.7 days of uptime

// The machine as one case plays it, and what the triggers asked of it.
struct FakeMachine {
  uint64_t now;
  uint32_t last_input;   // dwTime that GetLastInputInfo answers
  int32_t load;          // -1: the memory reading fails
  MemoryLists lists;     // what the list reading answers; unreadable fails it
  SYSTEMTIME clock_zero; // local time at tick 0
  int local_time_calls;
  int snapshot_calls;
  int lists_calls;
  int input_calls;
  int cleans;
  HWND clean_owner;
  // What SHQueryUserNotificationState answers, and how often it was asked.
  QUERY_USER_NOTIFICATION_STATE notification = QUNS_ACCEPTS_NOTIFICATIONS;
  bool notification_fails;
  int notification_calls;
  CleanStart clean_start;
};
FakeMachine machine;

// What the triggers work on: their own record, the settings and the time of
// the last clean, which FakeClean stamps.
struct Triggers {
  AutoCleanState state;
  Settings settings;
  uint64_t last_clean_tick;
};
Triggers triggers;
const HWND kOwner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150));

ULONGLONG WINAPI FakeTickCount() { return machine.now; }

void WINAPI FakeLocalTime(LPSYSTEMTIME time) {
  ++machine.local_time_calls;
  FILETIME zero;
  SystemTimeToFileTime(&machine.clock_zero, &zero);
  ULARGE_INTEGER at;
  at.LowPart = zero.dwLowDateTime;
  at.HighPart = zero.dwHighDateTime;
  at.QuadPart += machine.now * 10000;  // 100 ns units
  FILETIME later;
  later.dwLowDateTime = at.LowPart;
  later.dwHighDateTime = at.HighPart;
  FileTimeToSystemTime(&later, time);
}

BOOL WINAPI FakeLastInput(PLASTINPUTINFO info) {
  ++machine.input_calls;
  if (info->cbSize != 8 || info->dwTime != 0) return FALSE;
  info->dwTime = machine.last_input;
  return TRUE;
}

bool FakeSnapshot(MemorySnapshot& snapshot) {
  ++machine.snapshot_calls;
  if (machine.load < 0) return false;
  snapshot.load_percent = static_cast<uint32_t>(machine.load);
  return true;
}

bool FakeLists(MemoryLists& lists) {
  ++machine.lists_calls;
  lists = machine.lists;
  return lists.readable;
}

HRESULT WINAPI FakeNotificationState(QUERY_USER_NOTIFICATION_STATE* state) {
  ++machine.notification_calls;
  if (machine.notification_fails) return E_FAIL;
  *state = machine.notification;
  return S_OK;
}

// Stamps the tick as the real clean does.
void FakeClean(HWND owner, CleanStart start) {
  ++machine.cleans;
  machine.clean_owner = owner;
  machine.clean_start = start;
  triggers.last_clean_tick = machine.now;
}

const AutoCleanPlatform kFakeMachine = {FakeTickCount, FakeLocalTime,         FakeLastInput, FakeSnapshot,
                                        FakeLists,     FakeNotificationState, FakeClean};

// One timer tick at `now` with the user idle for `idle` ms, and the trigger
// expected to clean in it: '.' none, 'B' boot delay, 'S' scheduled, 'I'
// interval, 'T' threshold, 'F' free memory, 'D' idle. 'M' is a manual clean
// at `now` instead of a tick.
struct Tick {
  uint64_t now;
  uint64_t idle;
  char expected;
};

struct Case {
  const char* name;
  int32_t threshold, interval, idle, boot, hour, minute;
  uint64_t last_clean;
  int32_t load;
  std::vector<Tick> ticks;
  // The free-memory trigger, off unless a case sets it: the setting and the
  // lists' free and zeroed figures (free -1: the lists cannot be read).
  int32_t free_below = 0;
  double free_mb = -1;
  double zeroed_mb = 0;
};

// Which trigger cleaned, told apart by their traces: the boot delay clears
// its deadline, the schedule stores the date, the threshold reads the load
// and the idle trigger the last input; the free-memory trigger reads the
// lists after the load.
char Evaluate() {
  AutoCleanState& state = triggers.state;
  uint64_t deadline = state.boot_deadline_tick;
  uint32_t date = state.last_scheduled_date;
  int lists_calls = machine.lists_calls;
  machine.snapshot_calls = machine.input_calls = machine.cleans = 0;
  EvaluateAutoClean(state, triggers.settings, triggers.last_clean_tick, kOwner);
  if (machine.cleans == 0) return '.';
  if (machine.cleans > 1) return '!';
  if (deadline != 0 && state.boot_deadline_tick == 0) return 'B';
  if (state.last_scheduled_date != date) return 'S';
  if (machine.input_calls) return 'D';
  if (machine.lists_calls != lists_calls) return 'F';
  if (machine.snapshot_calls) return 'T';
  return 'I';
}

const int32_t kMax = INT32_MAX;

// Defaults: threshold 80, interval 30, idle 5, boot delay 60, no schedule.
const Case kCases[] = {
    {"defaults just after boot: the boot delay cleans first, 60 s after the first tick",
     80, 30, 5, 60, -1, 0, 0, 50,
     {{30 * kSecond, 0, '.'}, {31 * kSecond, 0, '.'}, {90 * kSecond - 1, 0, '.'}, {90 * kSecond, 0, 'B'},
      {91 * kSecond, 0, '.'}, {150 * kSecond, 0, '.'}}},
    {"defaults long after boot: an interval clean on the first tick, the boot delay after it",
     80, 30, 5, 60, -1, 0, 0, 50,
     {{2 * kHour, 0, 'I'}, {2 * kHour + kSecond, 0, '.'}, {2 * kHour + 59 * kSecond, 0, '.'},
      {2 * kHour + 60 * kSecond, 0, 'B'}, {2 * kHour + 61 * kSecond, 0, '.'}}},
    {"boot deadline in the scheduled minute: boot delay first, schedule next tick",
     80, 30, 5, 60, 0, 1, 0, 50,
     {{30 * kSecond, 0, '.'}, {90 * kSecond, 0, 'B'}, {91 * kSecond, 0, 'S'}, {92 * kSecond, 0, '.'}}},
    {"threshold: load equal fires after 300,000 ms, not 299,999, and again 5 min later",
     80, 0, 0, 0, -1, 0, 10 * kMinute, 80,
     {{15 * kMinute - 1, 0, '.'}, {15 * kMinute, 0, 'T'}, {16 * kMinute, 0, '.'}, {20 * kMinute, 0, 'T'}}},
    {"threshold: a load below it never fires",
     81, 0, 0, 0, -1, 0, 0, 80, {{kHour, 0, '.'}}},
    {"threshold off when negative", -5, 0, 0, 0, -1, 0, 0, 100, {{kHour, 0, '.'}}},
    {"a failed memory reading skips the threshold and goes on to idle",
     80, 0, 5, 0, -1, 0, 0, -1, {{kHour, 10 * kMinute, 'D'}}},
    {"interval fires when exactly reached",
     0, 30, 0, 0, -1, 0, kHour, 0, {{kHour + 30 * kMinute - 1, 0, '.'}, {kHour + 30 * kMinute, 0, 'I'}}},
    {"idle needs both the user idle and the last clean that long ago, and repeats",
     0, 0, 5, 0, -1, 0, 50 * kMinute, 0,
     {{kHour, 1 * kMinute, '.'},                           // cleaned 10 min ago, user active
      {kHour + kSecond, 5 * kMinute, 'D'},
      {kHour + 4 * kMinute, 8 * kMinute, '.'},             // idle 8 min, cleaned 4 min ago
      {kHour + 5 * kMinute + kSecond, 10 * kMinute, 'D'}}},
    {"a manual clean pushes the interval back",
     0, 30, 0, 0, -1, 0, 0, 0,
     {{29 * kMinute, 0, '.'}, {29 * kMinute, 0, 'M'}, {30 * kMinute, 0, '.'}, {59 * kMinute - 1, 0, '.'},
      {59 * kMinute, 0, 'I'}}},
    {"past 2^32 ms of uptime the idle time is still the time since the last input",
     0, 0, 5, 0, -1, 0, 0, 0, {{kWrap + kHour, 1 * kMinute, '.'}, {kWrap + kHour + kSecond, 6 * kMinute, 'D'}}},
    {"past 2^32 ms of uptime the time since the last clean counts in 64 bits",
     0, 30, 0, 0, -1, 0, 0, 0,
     {{kWrap + 10 * kMinute, 0, 'I'}, {kWrap + 40 * kMinute - 1, 0, '.'}, {kWrap + 40 * kMinute, 0, 'I'}}},
    {"the schedule cleans once a day, and on the same day of a later month or year",
     0, 0, 0, 0, 3, 0, 0, 0,
     {{kDay + 3 * kHour, 0, 'S'},            // 5 Jan 2024, 03:00:00
      {kDay + 3 * kHour + 59 * kSecond, 0, '.'},
      {kDay + 3 * kHour + kMinute, 0, '.'},  // 03:01
      {2 * kDay + 3 * kHour, 0, 'S'},        // 6 Jan
      {32 * kDay + 3 * kHour, 0, 'S'},       // 5 Feb
      {367 * kDay + 3 * kHour, 0, 'S'}}},    // 5 Jan 2025
    {"schedule and interval due in one tick: one clean, the schedule's",
     80, 30, 5, 0, 3, 0, 0, 50, {{kDay + 3 * kHour, 0, 'S'}, {kDay + 3 * kHour + kSecond, 0, '.'},
                                 {kDay + 3 * kHour + 30 * kMinute, 0, 'I'}}},
    {"the largest settings never overflow into an early clean",
     0, kMax, kMax, kMax, -1, 0, 0, 0, {{10 * kDay, 10 * kDay, '.'}, {20 * kDay, 20 * kDay, '.'}}},
    // 71,583 min and 4,294,968 s are just past 2^32 ms: cut to 32 bits they
    // would come due within seconds.
    {"settings whose products pass 2^32 ms stay that far off",
     0, 71583, 71583, 4294968, -1, 0, 0, 0, {{kHour, kHour, '.'}, {kHour + 10 * kSecond, kHour, '.'}}},
    // Free memory: free plus zeroed below the setting, at most every 5 min.
    {"free memory: just below the setting fires",
     0, 0, 0, 0, -1, 0, 0, 0, {{kHour, 0, 'F'}}, 500, 300.0, 199.99},
    {"free memory: exactly at the setting never fires",
     0, 0, 0, 0, -1, 0, 0, 0, {{kHour, 0, '.'}}, 500, 300.0, 200.0},
    {"free memory: zeroed pages count as free",
     0, 0, 0, 0, -1, 0, 0, 0, {{kHour, 0, '.'}}, 500, 0.0, 600.0},
    {"free memory: fires after 300,000 ms, not 299,999, and again 5 min later",
     0, 0, 0, 0, -1, 0, 10 * kMinute, 0,
     {{15 * kMinute - 1, 0, '.'}, {15 * kMinute, 0, 'F'}, {16 * kMinute, 0, '.'}, {20 * kMinute, 0, 'F'}},
     1024, 100.0, 0.0},
    {"free memory: unreadable lists switch the trigger off and idle comes next",
     0, 0, 5, 0, -1, 0, 0, 0, {{kHour, 0, '.'}, {kHour + kSecond, 10 * kMinute, 'D'}}, 65535, -1},
    {"free memory: 0 or less is off and reads no lists",
     0, 0, 0, 0, -1, 0, 0, 0, {{kHour, 0, '.'}}, -1, 0.0, 0.0},
    {"free memory: a threshold met in the same tick cleans first",
     80, 0, 0, 0, -1, 0, 0, 90, {{kHour, 0, 'T'}, {kHour + 5 * kMinute, 0, 'T'}}, 500, 10.0, 0.0},
    {"free memory: a threshold not met goes on to free memory",
     80, 0, 0, 0, -1, 0, 0, 50, {{kHour, 0, 'F'}}, 500, 10.0, 0.0},
    {"free memory comes before the idle trigger",
     0, 0, 5, 0, -1, 0, 0, 0, {{kHour, 10 * kMinute, 'F'}}, 500, 10.0, 0.0},
    {"free memory: the largest setting compares without overflow",
     0, 0, 0, 0, -1, 0, 0, 0, {{kHour, 0, 'F'}}, kMax, 2147483646.0, 0.0},
};

class AutoCleanTriggers : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void Reset() {
    triggers = Triggers{};
    triggers.state.platform = &kFakeMachine;
    InitDefaultSettings(triggers.settings);
    machine = FakeMachine{};
    machine.clock_zero = {2024, 1, 4, 4, 0, 0, 0, 0};  // Thursday 4 Jan 2024, midnight
  }
};

}  // namespace

TEST_F(AutoCleanTriggers, TriggersFireInTheirOrderAtMostOncePerTick) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Reset();
    Settings& settings = triggers.settings;
    settings.threshold_percent = c.threshold;
    settings.interval_minutes = c.interval;
    settings.on_idle_minutes = c.idle;
    settings.on_boot_delay = c.boot;
    settings.clean_hour = c.hour;
    settings.clean_minute = c.minute;
    settings.free_below_mb = c.free_below;
    triggers.last_clean_tick = c.last_clean;
    machine.load = c.load;
    machine.lists = MemoryLists{};
    machine.lists.readable = c.free_mb >= 0;
    if (machine.lists.readable) {
      machine.lists.free_mb = c.free_mb;
      machine.lists.zeroed_mb = c.zeroed_mb;
      machine.lists.standby_mb = 8192.0;  // a large cache never counts as free
    }
    for (const Tick& tick : c.ticks) {
      machine.now = tick.now;
      machine.last_input = static_cast<uint32_t>(tick.now - tick.idle);
      if (tick.expected == 'M') {
        FakeClean(nullptr, {});
        continue;
      }
      int asked = machine.notification_calls;
      EXPECT_EQ(Evaluate(), tick.expected) << "at tick " << tick.now;
      // What the user is doing is asked once for a clean, never on a tick
      // without one.
      EXPECT_EQ(machine.notification_calls - asked, machine.cleans) << "at tick " << tick.now;
      if (machine.cleans) {
        EXPECT_EQ(machine.clean_owner, kOwner);
        EXPECT_TRUE(machine.clean_start.automatic);
        EXPECT_FALSE(machine.clean_start.quiet);
      }
    }
    if (c.hour < 0) {
      EXPECT_EQ(machine.local_time_calls, 0) << "no clock reading without a schedule";
    }
    if (c.free_below <= 0) {
      EXPECT_EQ(machine.lists_calls, 0) << "no list reading while the trigger is off";
    }
  }
}

TEST_F(AutoCleanTriggers, BootDelayArmsOnceAtTheFirstTickWithAPositiveValue) {
  triggers.settings = Settings{};  // every trigger off
  machine.now = kHour;
  EXPECT_EQ(Evaluate(), '.');
  EXPECT_FALSE(triggers.state.boot_delay_armed) << "a delay of 0 arms nothing";

  triggers.settings.on_boot_delay = 2;  // set while unarmed: armed at the next tick
  machine.now = kHour + kSecond;
  EXPECT_EQ(Evaluate(), '.');
  EXPECT_TRUE(triggers.state.boot_delay_armed);
  EXPECT_EQ(triggers.state.boot_deadline_tick, kHour + 3 * kSecond);

  triggers.settings.on_boot_delay = 600;  // no effect once armed
  machine.now = kHour + 3 * kSecond;
  EXPECT_EQ(Evaluate(), 'B');
  machine.now = kHour + 20 * kMinute;
  EXPECT_EQ(Evaluate(), '.') << "at most one boot-delay clean per run";
  EXPECT_TRUE(triggers.state.boot_delay_armed);
  EXPECT_EQ(triggers.state.boot_deadline_tick, 0u);
}

// The program's tick evaluates its own record, settings, last clean and
// main window.
TEST_F(AutoCleanTriggers, TheProgramsTickWorksOnTheProgramsState) {
  ResetAppState();
  app.auto_clean.platform = &kFakeMachine;
  app.settings = Settings{};
  app.settings.interval_minutes = 10;
  app.main_window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7070));
  machine.now = kHour;
  app.clean.last_clean_tick = kHour - 9 * kMinute;
  EvaluateAutoClean();
  EXPECT_EQ(machine.cleans, 0) << "nine minutes since the program's last clean";
  app.clean.last_clean_tick = kHour - 10 * kMinute;
  EvaluateAutoClean();
  EXPECT_EQ(machine.cleans, 1);
  EXPECT_EQ(machine.clean_owner, app.main_window);
  ResetAppState();
}

TEST(LocalDateKey, TellsEveryDateApart) {
  SYSTEMTIME a = {2024, 1, 0, 5, 3, 0, 0, 0};
  SYSTEMTIME b = {2024, 2, 0, 5, 3, 0, 0, 0};
  SYSTEMTIME c = {2025, 1, 0, 5, 3, 0, 0, 0};
  SYSTEMTIME d = {2024, 1, 0, 5, 23, 59, 59, 999};
  EXPECT_EQ(LocalDateKey(a), 20240105u);
  EXPECT_NE(LocalDateKey(a), LocalDateKey(b));
  EXPECT_NE(LocalDateKey(a), LocalDateKey(c));
  EXPECT_EQ(LocalDateKey(a), LocalDateKey(d)) << "the time of day is not part of the date";
  EXPECT_NE(LocalDateKey(a), 0u);
}

// ---------------------------------------------------------------------------
// While the user is busy.

// Windows 8's "a Store app is running", beyond the headers for Windows 7.
const QUERY_USER_NOTIFICATION_STATE kStoreApp = static_cast<QUERY_USER_NOTIFICATION_STATE>(7);

TEST(UserBusy, FullScreenGamesAndPresentationsHoldCleansAndQuietTimeOnlyKeepsQuiet) {
  struct Case {
    bool read;
    QUERY_USER_NOTIFICATION_STATE state;
    bool hold, quiet;
  };
  const Case cases[] = {
      {true, QUNS_ACCEPTS_NOTIFICATIONS, false, false},
      {true, QUNS_BUSY, true, true},
      {true, QUNS_RUNNING_D3D_FULL_SCREEN, true, true},
      {true, QUNS_PRESENTATION_MODE, true, true},
      {true, QUNS_QUIET_TIME, false, true},
      {true, QUNS_NOT_PRESENT, false, false},  // locked or away: a good time to clean
      {true, kStoreApp, false, false},
      {true, static_cast<QUERY_USER_NOTIFICATION_STATE>(0), false, false},   // unknown answers
      {true, static_cast<QUERY_USER_NOTIFICATION_STATE>(99), false, false},
      {false, QUNS_BUSY, false, false},  // not read: as before
  };
  for (const Case& c : cases) {
    UserBusy busy = UserBusyFor(c.read, c.state);
    EXPECT_EQ(busy.hold_cleans, c.hold) << c.read << " " << c.state;
    EXPECT_EQ(busy.quiet, c.quiet) << c.read << " " << c.state;
  }
}

// Every notification state against every trigger: which clean runs, which is
// held, and that a held one runs once when the state clears, if its trigger
// still holds then.
TEST_F(AutoCleanTriggers, AutomaticCleansWaitWhileTheUserIsBusy) {
  struct Trigger {
    char kind;
    bool may_hold;
  };
  const Trigger kTriggers[] = {{'B', false}, {'S', true}, {'I', true}, {'T', true}, {'F', true}, {'D', true}};
  struct State {
    QUERY_USER_NOTIFICATION_STATE state;
    bool fails;
    bool busy, quiet;
  };
  const State kStates[] = {
      {QUNS_ACCEPTS_NOTIFICATIONS, false, false, false}, {QUNS_BUSY, false, true, true},
      {QUNS_RUNNING_D3D_FULL_SCREEN, false, true, true}, {QUNS_PRESENTATION_MODE, false, true, true},
      {QUNS_QUIET_TIME, false, false, true},             {QUNS_NOT_PRESENT, false, false, false},
      {kStoreApp, false, false, false},                   {QUNS_BUSY, true, false, false},
  };
  for (bool hold_when_busy : {true, false}) {
    for (const Trigger& t : kTriggers) {
      for (const State& st : kStates) {
        SCOPED_TRACE(std::string("trigger ") + t.kind + ", state " + std::to_string(st.state) +
                     (st.fails ? " (unread)" : "") + (hold_when_busy ? "" : ", hold_when_busy=0"));
        Reset();
        Settings& settings = triggers.settings;
        settings = Settings{};
        settings.hold_when_busy = hold_when_busy;
        settings.clean_hour = -1;
        machine.load = 50;
        machine.lists = MemoryLists{};
        uint64_t due = kDay + 3 * kHour;  // 5 Jan 2024, 03:00
        machine.last_input = static_cast<uint32_t>(due);
        switch (t.kind) {
          case 'B':
            settings.on_boot_delay = 60;
            machine.now = due - 60 * kSecond;
            EXPECT_EQ(Evaluate(), '.');  // arms the delay
            break;
          case 'S':
            settings.clean_hour = 3;
            break;
          case 'I':
            settings.interval_minutes = 30;
            break;
          case 'T':
            settings.threshold_percent = 80;
            machine.load = 90;
            break;
          case 'F':
            settings.free_below_mb = 500;
            machine.lists.readable = true;
            machine.lists.free_mb = 10;
            break;
          case 'D':
            settings.on_idle_minutes = 5;
            machine.last_input = static_cast<uint32_t>(due - 10 * kMinute);
            break;
        }
        machine.notification = st.state;
        machine.notification_fails = st.fails;
        machine.notification_calls = 0;
        machine.now = due;
        const bool held = t.may_hold && hold_when_busy && st.busy;
        EXPECT_EQ(Evaluate(), held ? '.' : t.kind);
        EXPECT_EQ(machine.notification_calls, 1) << "asked once, as the clean came due";
        if (!held) {
          EXPECT_TRUE(machine.clean_start.automatic);
          EXPECT_EQ(machine.clean_start.quiet, st.quiet && !st.fails);
          continue;
        }
        // Still busy a minute later: still held, asked again.
        machine.now = due + kMinute;
        EXPECT_EQ(Evaluate(), '.');
        EXPECT_EQ(machine.notification_calls, 2);
        // Two hours of it: the interval and idle times do not pile up.
        machine.now = due + 2 * kHour;
        if (t.kind == 'D') machine.last_input = static_cast<uint32_t>(due - 10 * kMinute);
        EXPECT_EQ(Evaluate(), '.');
        // It ends: one clean, with nothing kept quiet, at the first tick...
        machine.notification = QUNS_ACCEPTS_NOTIFICATIONS;
        machine.now = due + 2 * kHour + kSecond;
        EXPECT_EQ(Evaluate(), t.kind);
        EXPECT_FALSE(machine.clean_start.quiet);
        // ...and no second one after it.
        machine.now = due + 2 * kHour + 2 * kSecond;
        EXPECT_EQ(Evaluate(), '.');
        EXPECT_EQ(machine.cleans, 0);
      }
    }
  }
}

// A held clean whose trigger no longer holds once the user is done never runs.
TEST_F(AutoCleanTriggers, AHeldCleanWhoseTriggerNoLongerHoldsIsDropped) {
  for (char kind : {'T', 'F', 'D', 'S'}) {
    SCOPED_TRACE(std::string("trigger ") + kind);
    Reset();
    Settings& settings = triggers.settings;
    settings = Settings{};
    settings.hold_when_busy = true;
    settings.clean_hour = -1;
    uint64_t due = kDay + 3 * kHour;
    machine.last_input = static_cast<uint32_t>(due);
    machine.load = 90;
    if (kind == 'T') settings.threshold_percent = 80;
    if (kind == 'F') {
      settings.free_below_mb = 500;
      machine.lists.readable = true;
      machine.lists.free_mb = 10;
    }
    if (kind == 'D') {
      settings.on_idle_minutes = 5;
      machine.last_input = static_cast<uint32_t>(due - 10 * kMinute);
    }
    if (kind == 'S') settings.clean_hour = 3;
    machine.notification = QUNS_RUNNING_D3D_FULL_SCREEN;
    machine.now = due;
    EXPECT_EQ(Evaluate(), '.');
    // The game ends: the load fell, memory was freed, the user plays on with
    // the keyboard, or the day of the held schedule is over.
    machine.notification = QUNS_ACCEPTS_NOTIFICATIONS;
    machine.load = 50;
    machine.lists.free_mb = 4000;
    machine.now = kind == 'S' ? due + kDay - 3 * kHour + kMinute : due + kHour;  // 6 Jan 00:01
    machine.last_input = static_cast<uint32_t>(machine.now - kSecond);
    EXPECT_EQ(Evaluate(), '.');
    EXPECT_EQ(machine.cleans, 0);
  }
}
