// The shell, on top of every module: the process-wide state record,
// start-up, the message loop, the hidden main window that routes every
// message, and what follows each module's result. Only the shell reads or
// writes the record; a module works on the part of it that it is handed.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "app/auto_clean.h"
#include "clean/clean.h"
#include "common/files.h"
#include "settings/settings.h"
#include "status/status.h"
#include "tray/tray.h"

constexpr UINT_PTR TIMER_MAIN = 1;
// One-shot: a click on the tray icon has waited out the double-click time.
constexpr UINT_PTR TIMER_TRAY_CLICK = 2;
constexpr int HOTKEY_CLEAN = 1;

constexpr wchar_t kInstanceMutexName[] = L"Quillmere_SingleInstance";

// The shell's platform calls that tests play: the hot key's registration,
// the elevation answer taken at start, the elevated start of a copy, and
// the messages let through the elevation filter. The program always uses
// kSystemAppPlatform (AppState::platform).
struct AppPlatform {
  BOOL(WINAPI* register_hot_key)(HWND window, int id, UINT modifiers, UINT key);
  bool (*is_elevated)();
  BOOL(WINAPI* shell_execute)(SHELLEXECUTEINFOW* info);
  BOOL(WINAPI* change_message_filter)(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT status);
};
extern const AppPlatform kSystemAppPlatform;
// The popup's reading of the memory lists: through the program's clean
// state, whose privileges and entry point the clean shares.
extern const StatusPlatform kSystemStatusPlatform;

// The one record of process-wide state: the shell's own fields, the
// settings, and one record per subsystem, each declared in its own header.
// Everything starts zero except the status popup's elevation, which starts
// unknown, and the platform records. Each platform record is chosen in one
// place, a pointer here or in a subsystem's record, which starts at the real
// calls and which a test points at calls of its own.
struct AppState {
  HWND main_window;
  UINT taskbar_created_message;
  HWND shell_window;  // hidden top-level: hears "TaskbarCreated", owns the tray menu
  bool is_elevated;
  // Elevated, and Windows enabled the privileges a full clean needs: what
  // "Limited" in the popup and the limited-mode notice go by. Set at start.
  bool full_rights;
  int quit_code;  // posted when the main window is destroyed
  const AppPlatform* platform = &kSystemAppPlatform;
  const FilePlatform* file_platform = &kSystemFilePlatform;  // the program folder's files
  const TaskScheduler* task_scheduler = &kSystemTaskScheduler;  // the logon task
  const ExeAccessPlatform* exe_access = &kSystemExeAccessPlatform;  // whether there may be one
  HANDLE instance_mutex;  // the single-instance guard, while held
  // The user's own rights (MakeUserRightsToken), made at start and closed at
  // exit; NULL when none could be made.
  HANDLE user_token;
  Settings settings;
  SettingsWindowState settings_window;
  CleanState clean;
  TrayState tray;
  StatusState status = {.platform = &kSystemStatusPlatform};
  AutoCleanState auto_clean;
  CommitWarning commit_warning;  // the commit charge's warning balloon, last shown
  // When the last clean of any kind returned, on the tray's clock, and
  // whether one has: what TrayCleanAllowed measures from.
  uint64_t last_clean_end_tick;
  bool clean_ended;
  // Start at logon was applied before the desktop's shell was there: once
  // more when the icon is in (ApplyStartAtLogon).
  bool start_at_logon_waits;
};

extern AppState app;

// Start-up and the message loop. StartQuillmere runs the start-up in order;
// false means the program ends at once with *exit_code (0: a second
// instance; 1: no main window). RunMessageLoop then answers the exit code.
bool StartQuillmere(HINSTANCE instance, int* exit_code);
int RunMessageLoop();
// Whether CreateMutexW's error says another copy holds the guard. A copy at
// another integrity level may not open it: access denied means it exists.
bool IsSecondInstance(DWORD create_mutex_error);
// Starts this exe again elevated, with the guard released for it.
enum ElevatedStart {
  ELEVATED_COPY_STARTED,  // the elevated copy is on its way: this one ends
  ELEVATED_COPY_REFUSED,  // refused or failed: the guard is taken again, all as it was
  ELEVATED_COPY_REFUSED_GUARD_LOST,  // refused, and meanwhile another copy took the guard: this one ends
};
ElevatedStart StartElevatedCopy();

// The owner of the program's popup, menu and settings window: the hidden
// shell window, since a message-only window is not meant to own top-level
// windows; `window` only before the shell window exists.
HWND PopupOwner(HWND window);
// The status popup beside the tray icon, owned by `owner`; one already open
// is brought to the front, unless `activate` is false: then it takes no
// focus and closes by itself.
void ShowStatusPopup(HWND owner, bool activate = true);

// What follows each module's result, on the program's records. The modules
// work and report; these decide what the program does next.

// The one clean of the program, whatever started it: CleanMemory (clean),
// then the record in the history (status), the line in clean.log, the
// balloon the settings allow (tray), a refresh, and the popup when
// show_status_on_clean is set (ShowAfterCleanFor says how, by `start`).
void RunClean(HWND owner, CleanStart start = {});
// How the popup follows a clean: not at all, activated (a clean the user
// started) or shown without taking the focus and closing by itself (an
// automatic one); never while the user is busy.
enum ShowAfterClean { SHOW_AFTER_CLEAN_NONE, SHOW_AFTER_CLEAN_ACTIVATED, SHOW_AFTER_CLEAN_INACTIVE };
ShowAfterClean ShowAfterCleanFor(bool show_status_on_clean, CleanStart start);
// The icon's messages must pass the elevation filter for the shell's clicks
// to arrive, so any program of the user can post a double-click; the
// menu's and the hot key's messages it cannot. A double-click cleans only
// this long after the end of the last clean, whatever started that one.
constexpr uint64_t TRAY_CLEAN_COOLDOWN_MS = 10000;
// Whether a double-click on the tray icon at `now` cleans: always before the
// first clean (`clean_ended` false), otherwise only TRAY_CLEAN_COOLDOWN_MS or
// more after `last_clean_end_tick`. A clock behind the stamp counts as no
// time passed.
bool TrayCleanAllowed(uint64_t now, uint64_t last_clean_end_tick, bool clean_ended);
// The memory lists through the program's clean state.
bool ReadProgramMemoryLists(MemoryLists& lists);
// The commit charge and the programs holding the most memory, as the popup
// reads them (kSystemStatusPlatform).
bool ReadProgramCommit(CommitCharge& commit);
bool ReadProgramMemoryHolders(TopMemoryHolders& top);

// The once-a-second refresh: the icon and tooltip from a new memory reading
// (tray), the commit charge's warning balloon when CommitWarningDue says so
// (tray), a load sample in the history and a repaint of an open popup
// (status).
void RefreshTray();
// The add at start: drawn at once when the shell takes it, its waiting
// notices shown; otherwise left pending. Answers whether the icon was added.
bool StartTrayIcon(HWND window);
// The icon and its tooltip drawn again at once, as after a change of
// language; the load history takes no sample out of its step.
void RedrawTrayIcon();
// On a change of scale, display or theme: the icon drawn anew at once when
// its look changed; nothing otherwise.
void TrayLookMayHaveChanged();
// On "TaskbarCreated": the icon again (drawn by the next tick), or a pending
// add that never gives up; a pending add is tried once more, and drawn at
// once when it works. Answers as RetryTrayIcon.
TrayAddStep AddTrayIconAgain(HWND window);

// Shows the language `settings` names, or Windows' display language, and
// figures with the user's decimal separator.
void ApplyLanguage(const Settings& settings);
// After a save that failed (`saved` false), tells the user in a notice
// balloon that the settings apply only until the program exits.
void NoteSettingsSaved(bool saved);
// Tells the user, who has just switched start at logon on (`was_on`
// false) or applied it again, what AutostartNoticeFor says they must know
// (a balloon; a notice for a failure, or for a run as another account,
// naming the `accounts`).
void NoteAutostartResult(bool was_on, bool on, AutostartResult result, const AutostartAccounts& accounts);
// Start at logon as the settings read at start ask, told as
// NoteAutostartResult tells it; nothing when they could not be read
// (Settings::unread). True when it was applied ahead of the desktop's
// shell, which only the removals need: start-up then keeps
// start_at_logon_waits, and the main window applies it once more when the
// tray icon is in.
bool ApplyStartAtLogon();
// What OK in the settings window leads to (SettingsStored): the settings
// saved and start at logon applied, each failure told.
void ApplyStoredSettings(const Settings& settings, bool was_starting_with_windows);

// Main window.
bool RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
// Creates the hidden top-level window that does for the message-only main
// window what only a top-level window can: it hears the shell's
// "TaskbarCreated" broadcast and, as the foreground window, owns the tray
// menu. Both arrive at the main window.
HWND CreateShellWindow(HINSTANCE instance);
