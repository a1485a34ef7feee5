// Settings: the settings record and its INI file, start-at-logon
// registration, and the settings window. What only this module and its
// tests use is in settings/settings_internal.h.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "common/files.h"

struct Settings {
  int32_t threshold_percent;
  int32_t interval_minutes;
  int32_t on_idle_minutes;
  int32_t on_boot_delay;
  bool silent_mode;
  bool auto_clean;
  bool start_with_windows;
  wchar_t exclude_list[256];
  int32_t clean_hour;
  int32_t clean_minute;
  int32_t notify_min_mb;
  bool show_status_on_clean;
  int32_t free_below_mb;  // clean when free + zeroed memory falls below; 0: off
  // Warn when the commit charge reaches this percentage of its limit; 0: off.
  // CommitWarnLevel (clean/memory_use.h) says what any value means.
  int32_t commit_warn_percent;
  // The steps a clean takes; all on is the full clean.
  bool trim_working_sets;
  bool flush_modified;
  int32_t purge_standby;  // 0 none, 1 the whole standby list, 2 its low-priority part
  bool flush_file_cache;
  bool keep_foreground;  // the trim leaves the program in front alone
  bool hold_when_busy;   // automatic cleans wait while a full-screen program or presentation runs
  // Not a setting: config.ini is there but this run's load could not read
  // it whole (refused, or not converted), so saves refuse to replace it with
  // values that may never have been read from it.
  bool keep_file;
};

void InitDefaultSettings(Settings& settings);
// Fills the record from %APPDATA%\Quillmere\config.ini, or on the first run
// (no file) writes the defaults there. A file in any other form than UTF-16
// with its mark is first converted to it, every line kept, so that Windows
// reads it as it was meant; one that cannot be converted is read as it
// stands and sets keep_file. A folder or file refused as a link leaves the
// defaults in memory and writes nothing (a refused file sets keep_file).
// Load and save run whole under the user's own rights, `user_token`
// (common/files.h); without it they touch no file. False when nothing can be
// kept: the first run's save failed, or there is no user token.
bool LoadSettings(Settings& settings, const FilePlatform& platform, HANDLE user_token);
// Writes every key into a new UTF-16 config.ini beside the old one, carrying
// over the rest of the old file's text (ANSI, UTF-8 or UTF-16), and puts it in
// the old one's place in one step. False when nothing was replaced, and at
// once for a record whose load set keep_file: the old file is then as it was.
bool SaveSettings(const Settings& settings, const FilePlatform& platform, HANDLE user_token);

// The Task Scheduler calls behind the logon task, and the permission
// checks that decide whether there may be one (settings_internal.h); the
// program always hands over kSystemTaskScheduler and
// kSystemExeAccessPlatform.
struct TaskScheduler;
extern const TaskScheduler kSystemTaskScheduler;
struct ExeAccessPlatform;
extern const ExeAccessPlatform kSystemExeAccessPlatform;

enum AutostartResult {
  AUTOSTART_DONE,            // on: the Run value and the logon task; off: neither is left
  AUTOSTART_RUN_VALUE_ONLY,  // on, but the user could change the exe unelevated: the Run value alone
  AUTOSTART_FAILED,          // a step did not work
};
// Start at logon follows `enable`. On: the quoted Run value, and this
// user's logon task for an exe that they cannot change without elevation
// (otherwise their task is removed). Off: both are removed; one that is
// already missing is no error. The exe is judged with the user's rights:
// the token UAC links to an elevated one, or else `user_token` (the user's
// own rights, common/user_rights.h).
AutostartResult SetAutostart(bool enable, const TaskScheduler& scheduler, const ExeAccessPlatform& exe_access,
                             HANDLE user_token);
// What the user must hear of a start-at-logon result: nothing; why
// Quillmere will not start elevated, when they have just switched it on
// (`was_on` false) and the task was refused; or, whenever a step failed,
// that it did.
enum AutostartNotice { AUTOSTART_NOTICE_NONE, AUTOSTART_NOTICE_NOT_ELEVATED, AUTOSTART_NOTICE_FAILED };
AutostartNotice AutostartNoticeFor(bool was_on, AutostartResult result);

// What follows once OK has stored the typed values in `settings`: keeping
// them and applying the start-at-logon choice, which was
// `was_starting_with_windows` before. Called before the window closes, with
// no message dispatched since the values were stored.
using SettingsStored = void (*)(const Settings& settings, bool was_starting_with_windows);

// The settings window of one owner of a record: at most one is open.
struct SettingsWindowState {
  HWND window = NULL;  // while it is open
};
// Edits the live record in a window of its own and returns once the window
// is gone (or a quit message came, which is posted again): true when OK
// stored the values and handed them to `stored`. While `state` has its
// window open no second one opens: false at once.
bool ShowSettingsWindow(SettingsWindowState& state, HWND owner, Settings& settings, SettingsStored stored);
bool IsSettingsWindowOpen(const SettingsWindowState& state);
// The open window restored if minimised and made the active, foreground one.
void BringSettingsWindowToFront(const SettingsWindowState& state);
// Shows `checked` in the open window's check box of the setting `flag`, for
// a setting changed elsewhere while it is open; OK then stores what it shows.
// Nothing when no window is open or the setting has no check box.
void SetSettingsWindowCheck(const SettingsWindowState& state, bool Settings::*flag, bool checked);
