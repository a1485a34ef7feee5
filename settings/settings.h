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
