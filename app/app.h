// Application shell: process-wide state, the hidden main window, start-up,
// the auto-clean triggers, and the small helpers every module shares.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "clean/clean.h"
#include "settings/settings.h"
#include "status/status.h"
#include "tray/tray.h"

constexpr UINT_PTR TIMER_MAIN = 1;
constexpr int HOTKEY_CLEAN = 1;
constexpr UINT WM_TRAYICON = WM_USER + 1;

constexpr WORD IDM_CLEAN_NOW = 100;
constexpr WORD IDM_TOGGLE_AUTO = 101;
constexpr WORD IDM_SETTINGS = 102;
constexpr WORD IDM_EXIT = 103;
constexpr WORD IDM_STATUS = 104;

// The one record of process-wide state. Everything starts zero except
// tray_platform, which starts at the real shell, and status_elevation, which
// starts unknown.
struct AppState {
  HWND main_window;
  UINT taskbar_created_message;
  HWND shell_window;  // hidden top-level: hears "TaskbarCreated", owns the tray menu
  bool is_elevated;
  Settings settings;
  uint64_t last_clean_tick;
  bool limited_notice_shown;
  FARPROC set_system_information_entry;
  bool purge_privileges_enabled;
  uint64_t boot_deadline_tick;
  bool boot_delay_armed;
  uint32_t last_scheduled_date;  // LocalDateKey of the last scheduled clean; 0 = none yet
  bool settings_class_registered;
  NOTIFYICONDATAW tray_data;
  HICON drawn_icon;
  TrayShown tray_shown;  // what the shell last took from UpdateUsageIcon
  const TrayPlatform* tray_platform = &kSystemTrayPlatform;
  bool tray_add_pending;          // the first add was refused; still retrying
  uint64_t tray_add_failed_tick;  // when it was refused
  int quit_code;                  // posted when the main window is destroyed
  UsageHistory usage_history;
  CleanHistory clean_history;
  HWND status_window;
  HFONT status_font;
  HFONT status_large_font;
  bool status_class_registered;
  int status_elevation = -1;
  uint64_t status_closed_by_deactivation_tick;  // 0: never
  FARPROC dwm_set_window_attribute_entry;       // DwmSetWindowAttribute, once found
};

extern AppState app;

// Main window and start-up.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
// Creates the hidden top-level window that does for the message-only main
// window what only a top-level window can: it hears the shell's
// "TaskbarCreated" broadcast and, as the foreground window, owns the tray
// menu. Both arrive at the main window.
HWND CreateShellWindow(HINSTANCE instance);

// Auto-clean triggers. The platform calls they make while they decide,
// gathered so that a test can play the clock, the user's input and the load;
// the program always uses kSystemAutoCleanPlatform.
struct AutoCleanPlatform {
  ULONGLONG(WINAPI* tick_count)();
  void(WINAPI* local_time)(LPSYSTEMTIME time);
  BOOL(WINAPI* last_input_info)(PLASTINPUTINFO info);
  bool (*take_snapshot)(MemorySnapshot& snapshot);
  void (*run_clean)(HWND owner);
};
extern const AutoCleanPlatform kSystemAutoCleanPlatform;

// The local date as yyyymmdd: the scheduled trigger remembers the whole date
// it last ran on, so the same day of a later month still gets its clean.
uint32_t LocalDateKey(const SYSTEMTIME& time);
// Called on each timer tick while auto-clean is on: tests the boot delay, the
// scheduled time, the interval, the load threshold and the idle time, in that
// order, and starts at most one clean.
void EvaluateAutoClean(const AutoCleanPlatform& platform = kSystemAutoCleanPlatform);

// Shared helpers.
bool IsProcessElevated();
// printf-style UTF-16 formatting with the platform's wide rules; the buffer
// always ends with a terminator and over-long output is cut.
bool FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
// Copies text into a fixed field of `capacity` characters, keeping at most
// capacity - 1 of them and always the terminator.
void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text);
// The user's roaming application-data folder; false when the system cannot
// name it, in which case the program keeps nothing on disk.
bool GetAppDataFolder(wchar_t (&folder)[MAX_PATH]);
// Loads a DLL from the System32 folder only, never from the exe's folder.
HMODULE LoadSystemLibrary(const wchar_t* name);
