// The settings record, its defaults, and config.ini in the program folder
// under the user's roaming application data.
#include "app/app.h"

namespace {

// Every key of config.ini in the order a save writes them; each entry names
// either a number or a flag of the record. exclude_list follows separately.
struct SettingKey {
  const wchar_t* section;
  const wchar_t* key;
  int32_t Settings::*number;
  bool Settings::*flag;
};

const SettingKey kKeys[] = {
    {L"Clean", L"threshold_percent", &Settings::threshold_percent, nullptr},
    {L"Clean", L"interval_minutes", &Settings::interval_minutes, nullptr},
    {L"Clean", L"on_idle_minutes", &Settings::on_idle_minutes, nullptr},
    {L"Clean", L"on_boot_delay", &Settings::on_boot_delay, nullptr},
    {L"Clean", L"silent_mode", nullptr, &Settings::silent_mode},
    {L"Clean", L"auto_clean", nullptr, &Settings::auto_clean},
    {L"Clean", L"clean_hour", &Settings::clean_hour, nullptr},
    {L"Clean", L"clean_minute", &Settings::clean_minute, nullptr},
    {L"Clean", L"notify_min_mb", &Settings::notify_min_mb, nullptr},
    {L"App", L"start_with_windows", nullptr, &Settings::start_with_windows},
    {L"App", L"show_status_on_clean", nullptr, &Settings::show_status_on_clean},
    {L"Clean", L"free_below_mb", &Settings::free_below_mb, nullptr},
    {L"Clean", L"trim_working_sets", nullptr, &Settings::trim_working_sets},
    {L"Clean", L"flush_modified", nullptr, &Settings::flush_modified},
    {L"Clean", L"purge_standby", nullptr, &Settings::purge_standby},
    {L"Clean", L"flush_file_cache", nullptr, &Settings::flush_file_cache},
};

bool BuildAppPath(wchar_t (&path)[MAX_PATH], const wchar_t* format) {
  ZeroMemory(path, sizeof path);
  wchar_t folder[MAX_PATH];
  if (!GetAppDataFolder(folder)) return false;
  // A cut path would name some other file; keep nothing rather than that.
  if (!FormatBounded(path, MAX_PATH, format, folder)) {
    ZeroMemory(path, sizeof path);
    return false;
  }
  return true;
}

}  // namespace

void InitDefaultSettings(Settings& settings) {
  ZeroMemory(&settings, sizeof settings);
  settings.threshold_percent = 80;
  settings.interval_minutes = 30;
  settings.on_idle_minutes = 5;
  settings.on_boot_delay = 60;
  settings.auto_clean = true;
  settings.clean_hour = -1;
  settings.notify_min_mb = 10;
  settings.trim_working_sets = true;
  settings.flush_modified = true;
  settings.purge_standby = true;
  settings.flush_file_cache = true;
}

bool BuildConfigPath(wchar_t (&path)[MAX_PATH]) {
  return BuildAppPath(path, L"%s\\Quillmere\\config.ini");
}

bool EnsureAppFolder() {
  wchar_t folder[MAX_PATH];
  if (!BuildAppPath(folder, L"%s\\Quillmere")) return false;
  return CreateDirectoryW(folder, NULL) != FALSE;
}

bool LoadSettings(Settings& settings) {
  InitDefaultSettings(settings);
  wchar_t path[MAX_PATH];
  if (!BuildConfigPath(path)) return true;  // no folder to keep settings in: defaults only
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
    EnsureAppFolder();
    SaveSettings(settings);
    return true;
  }
  for (const SettingKey& entry : kKeys) {
    if (entry.number) {
      int32_t fallback = settings.*entry.number;
      settings.*entry.number = static_cast<int32_t>(GetPrivateProfileIntW(entry.section, entry.key, fallback, path));
    } else {
      int32_t fallback = settings.*entry.flag ? 1 : 0;
      settings.*entry.flag = GetPrivateProfileIntW(entry.section, entry.key, fallback, path) != 0;
    }
  }
  GetPrivateProfileStringW(L"Clean", L"exclude_list", L"", settings.exclude_list, 256, path);
  return true;
}

bool SaveSettings(const Settings& settings) {
  EnsureAppFolder();
  wchar_t path[MAX_PATH];
  if (!BuildConfigPath(path)) return true;
  wchar_t value[32] = {};
  for (const SettingKey& entry : kKeys) {
    int32_t number = entry.number ? settings.*entry.number : (settings.*entry.flag ? 1 : 0);
    FormatBounded(value, 32, L"%d", number);
    WritePrivateProfileStringW(entry.section, entry.key, value, path);
  }
  WritePrivateProfileStringW(L"Clean", L"exclude_list", settings.exclude_list, path);
  return true;
}
