// Tray presence: the notification-area icon and its balloons, the drawn
// usage icon with its tooltip, and the tray menu.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "clean/clean.h"

constexpr UINT TRAY_ICON_ID = 1;

// The shell, clock and memory calls behind the icon, gathered so that a
// test can play a shell that refuses adds or a load of its choosing. The
// program always uses kSystemTrayPlatform (AppState::tray_platform).
struct TrayPlatform {
  BOOL(WINAPI* notify_icon)(DWORD message, PNOTIFYICONDATAW data);
  ULONGLONG(WINAPI* tick_count)();
  bool (*take_snapshot)(MemorySnapshot& snapshot);
};
extern const TrayPlatform kSystemTrayPlatform;

bool AddTrayIcon(HWND window);

// A refused add is tried again on every tick and on "TaskbarCreated" until
// the shell takes the icon. At start (a logon can bring the taskbar minutes
// late on a slow machine) the program gives up TRAY_ADD_START_RETRY_MS after
// the first refusal and ends with exit code 1, so that a copy in a session
// that never gets a notification area does not linger unseen. After a
// taskbar restart it never gives up: the session has a shell, and the
// program goes on cleaning until the new taskbar takes the icon.
constexpr uint64_t TRAY_ADD_START_RETRY_MS = 10 * 60 * 1000;
enum TrayAddStep { TRAY_ADD_DONE, TRAY_ADD_WAIT, TRAY_ADD_GIVE_UP };
TrayAddStep NextTrayAddStep(bool added, bool at_start, uint64_t now_tick, uint64_t first_failure_tick);
// The add at start: draws the icon at once when the shell takes it, and
// otherwise leaves the add pending. Answers whether the icon was added.
bool StartTrayIcon(HWND window);
// On "TaskbarCreated": the icon again (drawn by the next tick), or a pending
// add that never gives up; a pending add is tried once more, and drawn at
// once when it works.
void AddTrayIconAgain(HWND window);
// One more try at a pending add. TRAY_ADD_DONE: the icon is in (the caller
// draws it); TRAY_ADD_GIVE_UP: the window is destroyed and the quit code is 1.
TrayAddStep RetryTrayIcon(HWND window);
void RemoveTrayIcon();
void ShowBalloon(const wchar_t* title, const wchar_t* text);

void RefreshTray();
// Draws the icon and sends it and the tooltip to the shell, each only when
// it differs from what the shell last took; nothing at all when neither does.
void UpdateUsageIcon(double used_gb, double total_gb, int load_percent);

// What the tray shows: the picture's key and the tooltip text. All zero
// (AddTrayIcon's reset) matches no drawing, so the next refresh sends both.
struct TrayShown {
  int icon_size;
  int bar_top;
  COLORREF bar_colour;
  wchar_t tip[128];
};
// NIF_ICON when the picture of `wanted` differs from `shown`, NIF_TIP when
// its text does; 0 when the shell needs no call.
UINT TrayChanges(const TrayShown& shown, const TrayShown& wanted);

// Decisions behind the drawn icon and its tooltip.
int UsageIconSize(int small_icon_width);
int UsageBarTop(int size, int load_percent);
COLORREF UsageBarColor(int load_percent);
void FormatTooltip(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent);

// The context menu: "Clean Now" (default), "Status Window...", "Auto-clean"
// (checked when on), "Settings...", then "Run as Administrator" when
// `offer_elevation`, and "Exit". The caller destroys it.
HMENU BuildTrayMenu(bool auto_clean_on, bool offer_elevation);
// Shows the menu at the cursor; the picked command arrives as WM_COMMAND.
void ShowTrayMenu(HWND window, bool auto_clean_on, bool offer_elevation);
