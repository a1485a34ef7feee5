// Settings: the settings record and its INI file, start-at-logon
// registration, and the settings window. What only this module and its
// tests use is in settings/settings_internal.h.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "common/files.h"
#include "common/language.h"

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
  // The language shown, a name of kLanguages ("de-DE"); empty: Windows'
  // display language.
  wchar_t language[LANGUAGE_NAME_CAPACITY];
  // Not a setting: config.ini is there but this run's load could not read
  // it whole (refused, or not converted), so saves refuse to replace it with
  // values that may never have been read from it.
  bool keep_file;
  // Not a setting: this run could not read the user's values (no user-rights
  // token, no roaming folder, a refused path or file, a file not read whole):
  // what the record holds only stands in for them, and start at logon is not
  // decided by it. A first run, with no file yet, reads the defaults as the
  // user's own.
  bool unread;
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
// kept: the first run's save failed, there is no user token, or the user's
// registry names an application-data folder that is no drive or share path.
// Sets `unread` when the user's values could not be read.
bool LoadSettings(Settings& settings, const FilePlatform& platform, HANDLE user_token);
// Writes every key into a new UTF-16 config.ini beside the old one, carrying
// over the rest of the old file's text (ANSI, UTF-8 or UTF-16), and puts it in
// the old one's place in one step. False when nothing was replaced, and at
// once for a record whose load set keep_file: the old file is then as it was.
bool SaveSettings(const Settings& settings, const FilePlatform& platform, HANDLE user_token);

// The Task Scheduler calls behind the logon task, and the checks of the
// exe's files, its disk and the desktop's account that decide which logon
// entries there may be (settings_internal.h); the
// program always hands over kSystemTaskScheduler and
// kSystemExeAccessPlatform.
struct TaskScheduler;
extern const TaskScheduler kSystemTaskScheduler;
struct ExeAccessPlatform;
extern const ExeAccessPlatform kSystemExeAccessPlatform;

enum AutostartResult {
  AUTOSTART_DONE,            // on: the Run value and the logon task; off: neither is left
  AUTOSTART_RUN_VALUE_ONLY,  // on, but the exe is not the administrators' alone: the Run value alone
  AUTOSTART_NEITHER,         // on, but another account could change the exe: both removed
  AUTOSTART_OTHER_ACCOUNT,   // run as another account than the desktop's: both left as they are
  // on, but whose desktop this is cannot be told yet: nothing written, an
  // entry the exe may no longer have removed
  AUTOSTART_ACCOUNT_UNKNOWN,
  AUTOSTART_FAILED,          // a step did not work
};
// Room for "DOMAIN\name" with the longest domain and account names.
constexpr size_t ACCOUNT_NAME_CAPACITY = 2 * 256 + 2;
// The accounts behind AUTOSTART_OTHER_ACCOUNT, as DOMAIN\name (or name):
// the one Quillmere runs as, and the desktop's (empty when it cannot be
// read).
struct AutostartAccounts {
  wchar_t process[ACCOUNT_NAME_CAPACITY];
  wchar_t signed_in[ACCOUNT_NAME_CAPACITY];
};
// Start at logon follows `enable`, on the desktop of the account this
// process runs as; on another account's desktop nothing is written or
// removed. Off: both entries are removed; one that is already missing (or a
// Run key that is) is no error. On: the quoted Run value for an exe that no
// account but this user, the administrators, SYSTEM and TrustedInstaller
// can change, and this user's logon task for one that only the last three
// can (each entry that may not be is removed); with no shell on the desktop
// yet, only the removals. The exe is judged by its files' owners and
// permissions (settings_internal.h); `accounts` is filled for
// AUTOSTART_OTHER_ACCOUNT.
AutostartResult SetAutostart(bool enable, const TaskScheduler& scheduler, const ExeAccessPlatform& exe_access,
                             AutostartAccounts& accounts);
// What the user must hear of a start-at-logon result, `was_on` before and
// `on` now: nothing; why Quillmere will not start elevated, or not at all,
// when they have just switched it on and an entry was refused; that
// Quillmere runs as another account than the desktop's, whenever start at
// logon is on or was just switched; or, whenever a step failed (or, just
// switched on, could not be taken yet), that it did.
enum AutostartNotice {
  AUTOSTART_NOTICE_NONE,
  AUTOSTART_NOTICE_NOT_ELEVATED,
  AUTOSTART_NOTICE_NOT_TRUSTED,
  AUTOSTART_NOTICE_OTHER_ACCOUNT,
  AUTOSTART_NOTICE_FAILED,
};
AutostartNotice AutostartNoticeFor(bool was_on, bool on, AutostartResult result);
// The notice for AUTOSTART_NOTICE_OTHER_ACCOUNT: "Quillmere runs as <account>
// here, not as <signed-in user>; ...", with "the signed-in user" where that
// account could not be read, in the language in use. False when it had to
// be cut.
bool FormatOtherAccountNotice(wchar_t* text, size_t capacity, const AutostartAccounts& accounts);

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
