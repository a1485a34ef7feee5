// Tray presence: the notification-area icon and its balloons, the drawn
// usage icon with its tooltip, and the tray menu.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "clean/memory.h"

constexpr UINT TRAY_ICON_ID = 1;
// The icon's callback message to the main window.
constexpr UINT WM_TRAYICON = WM_USER + 1;

// The menu's commands, sent to the main window as WM_COMMAND.

constexpr WORD IDM_CLEAN_NOW = 100;
constexpr WORD IDM_TOGGLE_AUTO = 101;
constexpr WORD IDM_SETTINGS = 102;
constexpr WORD IDM_EXIT = 103;
constexpr WORD IDM_STATUS = 104;
// Shown only while the program runs without elevation.
constexpr WORD IDM_RUN_AS_ADMIN = 110;

// The shell, clock and memory calls behind the icon, gathered so that a
// test can play a shell that refuses adds or a load of its choosing. The
// program always uses kSystemTrayPlatform (TrayState::platform).
struct TrayPlatform {
  BOOL(WINAPI* notify_icon)(DWORD message, PNOTIFYICONDATAW data);
  ULONGLONG(WINAPI* tick_count)();
  bool (*take_snapshot)(MemorySnapshot& snapshot);
};
extern const TrayPlatform kSystemTrayPlatform;

// What the tray shows: the picture's key and the tooltip text. All zero
// (AddTrayIcon's reset) matches no drawing, so the next refresh sends both.
struct TrayShown {
  int icon_size;
  int bar_top;
  COLORREF bar_colour;
  wchar_t tip[128];
};

// A balloon that tells of a failure rather than of a clean: shown even in
// silent mode, at most once every TRAY_NOTICE_INTERVAL_MS for each kind, and
// kept, when there is no icon to show it from (a failure at start, or while
// the taskbar is away), until the icon is in.
enum TrayNoticeKind { NOTICE_SETTINGS_NOT_SAVED, NOTICE_AUTOSTART_FAILED, TRAY_NOTICE_COUNT };
struct TrayNotice {
  const wchar_t* waiting;  // the text kept until the icon is in; null: none
  bool shown;              // shown at least once
  uint64_t shown_tick;     // when it was last shown
};
constexpr uint64_t TRAY_NOTICE_INTERVAL_MS = 60ull * 1000;

// The icon's state: one record for the program's icon.
struct TrayState {
  NOTIFYICONDATAW data;  // the icon's record, shared by every request
  HICON drawn_icon;      // the icon last drawn; exactly one at a time
  TrayShown shown;       // what the shell last took from UpdateUsageIcon
  const TrayPlatform* platform = &kSystemTrayPlatform;
  bool add_pending;          // an add was refused; still retrying
  bool add_at_start;         // that add was the first one, which may give up
  uint64_t add_failed_tick;  // when it was refused
  bool icon_in;              // the shell took the icon, and it has not been removed
  TrayNotice notices[TRAY_NOTICE_COUNT];
};

// Adds the icon with its callback to `window`, which then also gets the
// balloons; false when the shell refuses it.
bool AddTrayIcon(TrayState& state, HWND window);

// A refused add is tried again on every tick and on "TaskbarCreated" until
// the shell takes the icon. At start (a logon can bring the taskbar minutes
// late on a slow machine) the program gives up TRAY_ADD_START_RETRY_MS after
// the first refusal, and the shell ends with exit code 1, so that a copy in a session
// that never gets a notification area does not linger unseen. After a
// taskbar restart it never gives up: the session has a shell, and the
// program goes on cleaning until the new taskbar takes the icon.
constexpr uint64_t TRAY_ADD_START_RETRY_MS = 10ull * 60 * 1000;
enum TrayAddStep { TRAY_ADD_DONE, TRAY_ADD_WAIT, TRAY_ADD_GIVE_UP };
TrayAddStep NextTrayAddStep(bool added, bool at_start, uint64_t now_tick, uint64_t first_failure_tick);
// An add that, when the shell refuses it, is left pending: the add at start
// (`at_start`, which may give up) or one after a taskbar restart. Answers
// whether the icon was added; the caller then draws it and shows the waiting
// notices (ShowWaitingNotices).
bool AddTrayIconOrKeepTrying(TrayState& state, HWND window, bool at_start);
// One more try at a pending add. TRAY_ADD_DONE: the icon is in (the caller
// draws it); TRAY_ADD_GIVE_UP: the add at start has waited too long, and the
// caller ends the program.
TrayAddStep RetryTrayIcon(TrayState& state, HWND window);
// Takes the icon from the tray and destroys the drawn picture.
void RemoveTrayIcon(TrayState& state);
// Answers whether the shell took the balloon.
bool ShowBalloon(TrayState& state, const wchar_t* title, const wchar_t* text);
// Whether a notice last shown at `shown_tick` (if it was `shown` at all) may
// show again at `now_tick`; a clock behind that showing counts as no time
// passed.
bool TrayNoticeDue(bool shown, uint64_t shown_tick, uint64_t now_tick);
// The notice of this kind, titled "Quillmere", when it is due: at once when
// the icon is in, otherwise once it is (`text` must outlive the wait).
void ShowTrayNotice(TrayState& state, TrayNoticeKind kind, const wchar_t* text);
// The notices kept while there was no icon, now that there is one. One the
// shell refuses (its taskbar just went) waits for the next add.
void ShowWaitingNotices(TrayState& state);
// Where the shell shows the icon; false when it cannot say (before Windows
// 7, or an icon the shell does not know).
bool GetTrayIconRect(const TrayState& state, RECT& rect);

// Draws the icon and sends it and the tooltip to the shell, each only when
// it differs from what the shell last took; nothing at all when neither does.
void UpdateUsageIcon(TrayState& state, double used_gb, double total_gb, int load_percent);

// NIF_ICON when the picture of `wanted` differs from `shown`, NIF_TIP when
// its text does; 0 when the shell needs no call.
UINT TrayChanges(const TrayShown& shown, const TrayShown& wanted);

// Decisions behind the drawn icon and its tooltip.
int UsageIconSize(int small_icon_width);
int UsageBarTop(int size, int load_percent);
COLORREF UsageBarColor(int load_percent);
void FormatTooltip(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent);
// The same with the commit figure on a line below it while the charge is at
// or above the warning level of `commit_warn_percent` (CommitAtWarnLevel).
void FormatTooltipWithCommit(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent,
                             const CommitCharge& commit, int32_t commit_warn_percent);

// The context menu: "Clean Now" (default), "Status Window...", "Auto-clean"
// (checked when on), "Settings...", then "Run as Administrator" when
// `offer_elevation`, and "Exit". The caller destroys it.
HMENU BuildTrayMenu(bool auto_clean_on, bool offer_elevation);
// Shows the menu at the cursor; the picked command arrives at `owner` as
// WM_COMMAND. The menu closes on a click elsewhere only while its owner is
// the foreground window.
void ShowTrayMenu(HWND owner, bool auto_clean_on, bool offer_elevation);
