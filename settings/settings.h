// Settings: the settings record and its INI file, start-at-logon
// registration, and the settings window.
#pragma once

#include <windows.h>
#include <stdint.h>

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
};

void InitDefaultSettings(Settings& settings);
bool EnsureAppFolder();
// %APPDATA%\Quillmere\config.ini; false when there is no application-data
// folder or the path does not fit.
bool BuildConfigPath(wchar_t (&path)[MAX_PATH]);
bool LoadSettings(Settings& settings);
bool SaveSettings(const Settings& settings);

// Writes the quoted exe path ("C:\Program Files\x\quillmere.exe") for the
// Run value into `command`; false when the path cannot be quoted whole.
bool BuildRunCommand(wchar_t (&command)[MAX_PATH + 2], const wchar_t* module_path, DWORD length);

// Room for "DOMAIN\user": two names of at most 256 characters.
constexpr size_t ACCOUNT_NAME_CAPACITY = 2 * 257;
// "domain\name", or the name alone when there is no domain; false (and
// empty) when the name is missing or the result does not fit.
bool JoinAccountName(wchar_t (&user)[ACCOUNT_NAME_CAPACITY], const wchar_t* domain, const wchar_t* name);
// DOMAIN\user of the process token's user; false when it cannot be looked up.
bool GetProcessUserName(wchar_t (&user)[ACCOUNT_NAME_CAPACITY]);

// Room for the longest user name and path even with every character escaped.
constexpr size_t TASK_XML_CAPACITY = 8192;
// The Task Scheduler definition of the logon task: started for `user` at
// their logon, elevated (highest run level, interactive token), no time
// limit, on batteries too, never a second copy, running `command`. False
// (and empty) when a value holds a control character or the text does not fit.
bool BuildTaskXml(wchar_t (&xml)[TASK_XML_CAPACITY], const wchar_t* user, const wchar_t* command);

// Start at logon follows `enable`: the Run value and the "Quillmere" task in
// the Task Scheduler's root folder are both written or both removed; one
// that is already missing is no error. True when both steps worked.
bool SetAutostart(bool enable);

// The settings window's controls.
constexpr int IDC_THRESHOLD = 200;
constexpr int IDC_INTERVAL = 201;
constexpr int IDC_IDLE = 202;
constexpr int IDC_BOOT_DELAY = 203;
constexpr int IDC_AUTO_CLEAN = 204;
constexpr int IDC_SILENT = 205;
constexpr int IDC_START_WITH_WINDOWS = 206;
constexpr int IDC_OK = 207;
constexpr int IDC_CANCEL = 208;
constexpr int IDC_CLEAN_HOUR = 209;
constexpr int IDC_CLEAN_MINUTE = 210;
constexpr int IDC_NOTIFY_MIN_MB = 211;
constexpr int IDC_EXCLUDE_LIST = 212;
constexpr int IDC_SHOW_STATUS = 213;

constexpr int SETTINGS_CONTROL_COUNT = 29;

// The settings window's creation parameter, on the stack of
// ShowSettingsWindow; the window never outlives it.
struct SettingsWindowContext {
  Settings* settings;
  bool saved;
  HFONT font;  // owned by the window, deleted when it is destroyed
  HWND controls[SETTINGS_CONTROL_COUNT];  // in creation order
  SIZE client;                            // what the layout needs
};

// The text of the settings window as its font draws it.
struct SettingsTextMetrics {
  int width[SETTINGS_CONTROL_COUNT];  // each control's text; 0 without text
  int height;                         // one line
  int check_width;                    // a check box's glyph and the gap to its text
};

// Where every control of the settings window goes, in creation order, and
// the client size that holds them with their margin.
struct SettingsLayout {
  RECT controls[SETTINGS_CONTROL_COUNT];
  SIZE client;
};

// The window's fixed 96-DPI layout scaled to `dpi`, grown only where the
// text needs it: a label wider than its column pushes the number fields
// right, a wide check box or heading widens the window, and text taller
// than its row moves the rows below it down. Nothing ever wraps or is cut.
SettingsLayout LayOutSettings(UINT dpi, const SettingsTextMetrics& text);
// The text each control is created with (empty for separators and fields).
const wchar_t* SettingsControlText(int index);
// The controls' text as `font` draws it on `window`, whose DPI is `dpi`.
SettingsTextMetrics MeasureSettingsText(HWND window, HFONT font, UINT dpi);

// Edits the live record in a window of its own and returns once the window
// is gone (or a quit message came, which is posted again): true when OK
// stored and saved the values.
bool ShowSettingsWindow(HWND owner, Settings& settings);
LRESULT CALLBACK SettingsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The window's outer size: 350 x 520 scaled to `dpi`, grown to the frame
// that holds the whole layout when the caption, borders or text need more.
SIZE SettingsWindowSize(const RECT& frame_for_layout, UINT dpi);
// What OK stores for the number typed into a field: each field's range,
// e.g. the threshold 1-99 and the hour -1 (off) to 23. Other identifiers
// keep the value.
int32_t ClampSettingsField(int id, int32_t value);
// A number field's text as OK reads it: its leading decimal number, 0 when
// there is none.
int32_t SettingsFieldNumber(const wchar_t* text);
// A check box state (BM_GETCHECK) as a setting: 1 only when checked.
bool SettingsCheckState(LRESULT state);
// Whether typing `typed` over the selection [start, end) of the hour field's
// `text` keeps it digits with at most one leading minus sign, so that the
// schedule can be switched off with -1.
bool HourFieldAccepts(const wchar_t* text, DWORD start, DWORD end, wchar_t typed);
