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
bool SetAutostart(bool enable);
