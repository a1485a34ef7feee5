// Tray presence: the notification-area icon and its balloons, the drawn
// usage icon with its tooltip, and the tray menu.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stddef.h>
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

// The shell, clock, memory and display calls behind the icon, gathered so
// that a test can play a shell that refuses adds, a load, a scale or a
// contrast mode of its choosing. The program always uses kSystemTrayPlatform
// (TrayState::platform).
struct TrayPlatform {
  BOOL(WINAPI* notify_icon)(DWORD message, PNOTIFYICONDATAW data);
  ULONGLONG(WINAPI* tick_count)();
  bool (*take_snapshot)(MemorySnapshot& snapshot);
  UINT (*taskbar_dpi)();     // the scale the notification area draws at now
  bool (*high_contrast)();   // a high-contrast theme is on
};
extern const TrayPlatform kSystemTrayPlatform;

// How the icon is drawn whatever the load: its size, from the taskbar's
// scale, and its colours, from the contrast mode. Read at every add and on
// every change of scale, display or theme (ReadTrayLook), never by the
// once-a-second refresh.
struct TrayLook {
  int icon_size;
  bool high_contrast;
  COLORREF background;  // around and above the bar
  COLORREF outline;     // under high contrast: the frame and the bar's top edge
};
// The look for the small-icon width of the taskbar's scale; under high
// contrast the system's window and window-text colours frame the bar, so
// that the icon and its bar stand out whatever the theme's colours.
TrayLook TrayLookFor(int small_icon_width, bool high_contrast, COLORREF window, COLORREF window_text);
constexpr COLORREF USAGE_ICON_BACKGROUND = RGB(28, 28, 35);

// What the tray shows: the picture's key and the tooltip text. All zero
// (AddTrayIcon's reset) matches no drawing, so the next refresh sends both.
struct TrayShown {
  TrayLook look;
  int bar_top;
  COLORREF bar_colour;
  wchar_t tip[128];
};

// What a message from the icon asks for. Under NOTIFYICON_VERSION_4 the
// shell puts the event in the low word of lParam and the icon's id in the
// high word, and the point (the icon's, for the keyboard) in wParam; in the
// classic form lParam is the mouse message alone. Each form has its own
// events: a click is NIN_SELECT in the first and the left release in the
// second, the menu WM_CONTEXTMENU or the right release, so whatever the
// shell follows, every click and every menu acts once. Version 4 sends the
// right release before the menu of a right click, and the menu alone for
// Shift+F10 or the menu key: that tells a menu the keyboard opened.
enum TrayAction {
  TRAY_NO_ACTION,
  TRAY_SELECT,        // a left click
  TRAY_KEY_SELECT,    // Enter or Space on the focused icon
  TRAY_MENU,          // version 4: right click, Shift+F10, the menu key
  TRAY_MOUSE_MENU,    // classic: the right release
  TRAY_RIGHT_RELEASE, // version 4: the right release, before a right click's menu
  TRAY_DOUBLE_CLICK,
  TRAY_WAIT_OVER,     // not from the shell: the double-click time after a click has passed
};
struct TrayCallback {
  TrayAction action;
  bool at_point;  // the shell gave `point`
  POINT point;
};
TrayCallback ReadTrayCallback(WPARAM wParam, LPARAM lParam);

// A click acts only once the double-click time has passed without a second
// one, so that a double-click cleans without opening and closing the popup.
struct TrayClicks {
  bool click_waiting;          // a click waits for the double-click time
  bool after_double_click;     // the click that ends a double-click is not one of its own
  uint64_t double_click_tick;
  bool right_released;         // a right release that a menu may follow
  uint64_t right_release_tick;
  bool menu_by_keyboard;       // the newest menu was opened from the keyboard
};
enum TrayClickStep {
  TRAY_STEP_NONE,
  TRAY_STEP_WAIT,    // start the double-click time
  TRAY_STEP_TOGGLE,  // a click: open the popup, or close it
  TRAY_STEP_OPEN,    // the keyboard: open the popup or bring it forward, never close it
  TRAY_STEP_MENU,    // clicks.menu_by_keyboard tells how it was opened
  TRAY_STEP_CLEAN,
};
// The step for `action` at `now`. `closed_popup`: the press of this click
// has just closed the popup (a select), which it must not open again.
TrayClickStep NextTrayClickStep(TrayClicks& clicks, TrayAction action, uint64_t now, uint32_t double_click_time,
                                bool closed_popup);

// A balloon that tells of a failure rather than of a clean: shown even in
// silent mode, at most once every TRAY_NOTICE_INTERVAL_MS for each kind, and
// kept, when there is no icon to show it from (a failure at start, or while
// the taskbar is away), until the icon is in.
enum TrayNoticeKind { NOTICE_SETTINGS_NOT_SAVED, NOTICE_AUTOSTART_FAILED, TRAY_NOTICE_COUNT };
// A balloon's text field: 255 characters and the terminator.
constexpr size_t TRAY_BALLOON_TEXT_CAPACITY = 256;
struct TrayNotice {
  // A copy of the text, kept until the icon is in: the caller's text is
  // loaded or formatted into a buffer that is gone by then. Empty: none.
  wchar_t waiting[TRAY_BALLOON_TEXT_CAPACITY];
  bool shown;              // shown at least once
  uint64_t shown_tick;     // when it was last shown
};
constexpr uint64_t TRAY_NOTICE_INTERVAL_MS = 60ull * 1000;

// The icon's state: one record for the program's icon.
struct TrayState {
  NOTIFYICONDATAW data;  // the icon's record, shared by every request
  HICON drawn_icon;      // the icon last drawn; exactly one at a time
  TrayShown shown;       // what the shell last took from UpdateUsageIcon
  TrayLook look;         // the look the next drawing takes; icon_size 0: not read yet
  TrayClicks clicks;
  const TrayPlatform* platform = &kSystemTrayPlatform;
  bool add_pending;          // an add was refused; still retrying
  bool add_at_start;         // that add was the first one, which may give up
  uint64_t add_failed_tick;  // when it was refused
  bool icon_in;              // the shell took the icon, and it has not been removed
  TrayNotice notices[TRAY_NOTICE_COUNT];
};

// Adds the icon with its callback to `window`, which then also gets the
// balloons, and asks the shell for NOTIFYICON_VERSION_4, with the standard
// tooltip; false when the shell refuses the add. Reads the look anew.
bool AddTrayIcon(TrayState& state, HWND window);
// Reads the taskbar's scale and the contrast mode into the look; true when
// it changed, and the icon is then drawn anew by the next UpdateUsageIcon.
bool ReadTrayLook(TrayState& state);
// Gives the keyboard focus back to the notification area.
void ReturnTrayFocus(TrayState& state);

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
// Answers whether the shell took the balloon. A clean's report passes
// `respect_quiet_time`, so that Windows keeps it back in the quiet time after
// a first logon; a notice of something that failed never does.
bool ShowBalloon(TrayState& state, const wchar_t* title, const wchar_t* text, bool respect_quiet_time = false);
// Whether a notice last shown at `shown_tick` (if it was `shown` at all) may
// show again at `now_tick`; a clock behind that showing counts as no time
// passed.
bool TrayNoticeDue(bool shown, uint64_t shown_tick, uint64_t now_tick);
// The notice of this kind, titled "Quillmere", when it is due: at once when
// the icon is in, otherwise once it is (from a copy of `text`, cut to a
// balloon's 255 characters).
void ShowTrayNotice(TrayState& state, TrayNoticeKind kind, const wchar_t* text);
// The notices kept while there was no icon, now that there is one. One the
// shell refuses (its taskbar just went) waits for the next add.
void ShowWaitingNotices(TrayState& state);
// Where the shell shows the icon; false when it cannot say (before Windows
// 7, or an icon the shell does not know).
bool GetTrayIconRect(const TrayState& state, RECT& rect);

// Draws the icon and sends it and the tooltip to the shell, each only when
// it differs from what the shell last took; nothing at all when neither does.
// The tooltip has the commit figure on a line below the load while the charge
// is at the warning level (FormatTooltipWithCommit).
void UpdateUsageIcon(TrayState& state, double used_gb, double total_gb, int load_percent, const CommitCharge& commit,
                     int32_t commit_warn_percent);

// NIF_ICON when the picture of `wanted` differs from `shown`, NIF_TIP when
// its text does; 0 when the shell needs no call.
UINT TrayChanges(const TrayShown& shown, const TrayShown& wanted);

// Decisions behind the drawn icon and its tooltip.
int UsageIconSize(int small_icon_width);
int UsageBarTop(int size, int load_percent);
COLORREF UsageBarColor(int load_percent);
// "Quillmere\n11.7 / 31.9 GB  (37%)" in the language in use, the figures
// with the user's decimal separator.
void FormatTooltip(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent);
// The same with the commit figure on a line below it while the charge is at
// or above the warning level of `commit_warn_percent` (CommitAtWarnLevel).
void FormatTooltipWithCommit(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent,
                             const CommitCharge& commit, int32_t commit_warn_percent);

// The context menu: "Clean Now" (default), "Status Window...", "Auto-clean"
// (checked when on), "Settings...", then "Run as Administrator" when
// `offer_elevation`, and "Exit". The caller destroys it.
HMENU BuildTrayMenu(bool auto_clean_on, bool offer_elevation);
// Shows the menu at the point the shell gave (`at_point`), otherwise at the
// cursor; the picked command arrives at `owner` as WM_COMMAND, and is
// answered (0: dismissed). The menu closes on a click elsewhere only while
// its owner is the foreground window.
UINT ShowTrayMenu(HWND owner, bool auto_clean_on, bool offer_elevation, bool at_point, POINT point);
POINT TrayMenuPoint(bool at_point, POINT point, POINT cursor);
// Whether a menu that closed gives the focus back to the notification area:
// only when it was dismissed without a choice by the keyboard, its owner
// still in the foreground (not when a click elsewhere closed it, which
// gives the focus to what was clicked).
bool TrayFocusReturns(bool command_chosen, bool owner_foreground, bool mouse_button_down);
// Whether a command of the menu, once carried out, gives the focus back to
// the notification area: when the keyboard opened the menu and the command
// opened no window to take the keys (Clean Now without its popup,
// Auto-clean; not the popup or the settings window, nor Exit or the
// elevated start, after which this copy is gone or a prompt has the keys).
bool TrayCommandReturnsFocus(bool menu_by_keyboard, WORD command, bool opened_window);
