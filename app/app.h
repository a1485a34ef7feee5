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
// Shown only while the program runs without elevation.
constexpr WORD IDM_RUN_AS_ADMIN = 110;

constexpr wchar_t kInstanceMutexName[] = L"Quillmere_SingleInstance";

// The shell's platform calls that tests play: the hot key's registration,
// the elevation answer taken at start, and the elevated start of a copy.
// The program always uses kSystemAppPlatform (AppState::app_platform).
struct AppPlatform {
  BOOL(WINAPI* register_hot_key)(HWND window, int id, UINT modifiers, UINT key);
  bool (*is_elevated)();
  BOOL(WINAPI* shell_execute)(SHELLEXECUTEINFOW* info);
};
extern const AppPlatform kSystemAppPlatform;

// The one record of process-wide state. Everything starts zero except the
// platform records, which start at the real calls, and status_elevation,
// which starts unknown.
struct AppState {
  HWND main_window;
  UINT taskbar_created_message;
  HWND shell_window;  // hidden top-level: hears "TaskbarCreated", owns the tray menu
  bool is_elevated;
  Settings settings;
  uint64_t last_clean_tick;
  bool limited_notice_shown;
  FARPROC set_system_information_entry;
  FARPROC query_system_information_entry;
  bool purge_privileges_enabled;
  uint64_t boot_deadline_tick;
  bool boot_delay_armed;
  uint32_t last_scheduled_date;  // LocalDateKey of the last scheduled clean; 0 = none yet
  bool settings_class_registered;
  NOTIFYICONDATAW tray_data;
  HICON drawn_icon;
  TrayShown tray_shown;  // what the shell last took from UpdateUsageIcon
  const TrayPlatform* tray_platform = &kSystemTrayPlatform;
  bool tray_add_pending;          // an add was refused; still retrying
  bool tray_add_at_start;         // that add was the first one, which may give up
  uint64_t tray_add_failed_tick;  // when it was refused
  int quit_code;                  // posted when the main window is destroyed
  const AppPlatform* app_platform = &kSystemAppPlatform;
  HANDLE instance_mutex;          // the single-instance guard, while held
  UsageHistory usage_history;
  CleanHistory clean_history;
  HWND status_window;
  HFONT status_font;
  HFONT status_large_font;
  StatusLayout status_layout;  // of the open popup, from its fonts
  const StatusPlatform* status_platform = &kSystemStatusPlatform;
  bool status_class_registered;
  int status_elevation = -1;
  uint64_t status_closed_by_deactivation_tick;  // 0: never
  FARPROC dwm_set_window_attribute_entry;       // DwmSetWindowAttribute, once found
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
// Starts this exe again elevated, with the guard released for it; false
// (guard taken again) when the start was refused or failed.
bool StartElevatedCopy();

// Main window.
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
  bool (*read_memory_lists)(MemoryLists& lists);
  void (*run_clean)(HWND owner);
};
extern const AutoCleanPlatform kSystemAutoCleanPlatform;

// The local date as yyyymmdd: the scheduled trigger remembers the whole date
// it last ran on, so the same day of a later month still gets its clean.
uint32_t LocalDateKey(const SYSTEMTIME& time);
// Whether free plus zeroed memory is below `free_below_mb`; never when the
// lists could not be read or the setting is 0 or less (off).
bool FreeMemoryBelow(const MemoryLists& lists, int32_t free_below_mb);
// Called on each timer tick while auto-clean is on: tests the boot delay, the
// scheduled time, the interval, the load threshold, free memory and the idle
// time, in that order, and starts at most one clean.
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
// folder + "\" + name; false (and empty) when it does not fit whole, since a
// cut path names some other file.
bool JoinPath(wchar_t (&path)[MAX_PATH], const wchar_t* folder, const wchar_t* name);
// %APPDATA%\Quillmere; false (and empty) without an application-data folder
// or when the path does not fit.
bool BuildAppFolderPath(wchar_t (&path)[MAX_PATH]);

// Files in the program folder. The program runs elevated in a folder that
// any program of the user may change, so every file is opened without
// following a link and checked through its handle before anything is written
// or read: no link (reparse point), no folder where a file belongs, no file
// with a second name (a hard link), and the handle names exactly the path
// that was asked for, so no link further up steered the open either. A check
// that fails behaves like a missing folder: nothing written, the program goes
// on. The calls, gathered so that a test can play links; the program always
// uses kSystemFilePlatform.
struct FilePlatform {
  HANDLE(WINAPI* create_file)(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE template_file);
  BOOL(WINAPI* get_file_information)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  DWORD(WINAPI* get_final_path)(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags);
  BOOL(WINAPI* create_directory)(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
  BOOL(WINAPI* read_file)(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped);
  BOOL(WINAPI* write_file)(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped);
  BOOL(WINAPI* flush_file)(HANDLE file);
  BOOL(WINAPI* write_profile_string)(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR path);
  BOOL(WINAPI* move_file)(LPCWSTR from, LPCWSTR to, DWORD flags);
  BOOL(WINAPI* delete_file)(LPCWSTR path);
  BOOL(WINAPI* close_handle)(HANDLE handle);
};
extern const FilePlatform kSystemFilePlatform;

// Whether a handle's information shows what the program may go through: a
// plain folder when `folder`, otherwise a plain file with one name.
bool IsPlainEntry(const BY_HANDLE_FILE_INFORMATION& information, bool folder);
// Whether the path GetFinalPathNameByHandleW gave ("\\?\C:\x",
// "\\?\UNC\server\share\x") is `expected` ("C:\x", "\\server\share\x"),
// ignoring letter case as the file system does.
bool FinalPathIs(const wchar_t* final_path, const wchar_t* expected);
// Both handles' information names the same file.
bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b);

// A folder held open while files in it are written or read: it cannot be
// renamed, removed or swapped for a link meanwhile.
struct CheckedFolder {
  HANDLE handle;
  wchar_t path[MAX_PATH];
};
enum FolderOpen { CHECKED_FOLDER_OPEN, CHECKED_FOLDER_MISSING, CHECKED_FOLDER_REFUSED };
// Opens the folder at `path` checked; with `create`, a missing last level is
// made first (inside its checked parent). On anything but CHECKED_FOLDER_OPEN the
// record holds no handle.
FolderOpen OpenCheckedFolder(CheckedFolder& folder, const wchar_t* path, bool create,
                             const FilePlatform& platform = kSystemFilePlatform);
void CloseCheckedFolder(CheckedFolder& folder, const FilePlatform& platform = kSystemFilePlatform);
// Opens `name` in the held folder without following a link, and keeps the
// handle only if it is a plain file with one name at exactly that path.
// FILE_READ_ATTRIBUTES is added to `access`. INVALID_HANDLE_VALUE otherwise;
// `missing` tells a file that is not there from one that was refused.
HANDLE OpenCheckedFile(const CheckedFolder& folder, const wchar_t* name, DWORD access, DWORD share,
                       DWORD disposition, BY_HANDLE_FILE_INFORMATION& information, bool& missing,
                       const FilePlatform& platform = kSystemFilePlatform);

// Display scale. Sizes are 96-DPI figures scaled to the DPI of the monitor a
// window is on; where the per-DPI calls are missing (Windows 7 to 10 1511)
// the system DPI and the plain calls stand in.
int ScaleForDpi(int value, UINT dpi);
UINT SystemDpi();
UINT WindowDpi(HWND window);
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, UINT dpi);
int SystemMetricForDpi(int index, UINT dpi);
// The icon-title font (the popup's) as the system gives it at `dpi`.
bool IconTitleFontForDpi(LOGFONTW& font, UINT dpi);
