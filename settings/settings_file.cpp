// The settings record, its defaults, and config.ini in the program folder
// under the user's roaming application data.
#include "settings/settings.h"

#include "app/files.h"
#include "app/shared.h"
#include "settings/settings_internal.h"
#include "tray/tray.h"

// One row per setting but the exclusion list, in the order a save writes
// them: where it lives in config.ini, which member of the record it fills,
// and the settings window's control, if any, with the range OK keeps a
// number in.
const SettingField kSettingFields[SETTING_FIELD_COUNT] = {
    {L"Clean", L"threshold_percent", &Settings::threshold_percent, nullptr, IDC_THRESHOLD, 1, 99},
    {L"Clean", L"interval_minutes", &Settings::interval_minutes, nullptr, IDC_INTERVAL, 0, 1440},
    {L"Clean", L"on_idle_minutes", &Settings::on_idle_minutes, nullptr, IDC_IDLE, 0, 1440},
    {L"Clean", L"on_boot_delay", &Settings::on_boot_delay, nullptr, IDC_BOOT_DELAY, 0, 3600},
    {L"Clean", L"silent_mode", nullptr, &Settings::silent_mode, IDC_SILENT, 0, 0},
    {L"Clean", L"auto_clean", nullptr, &Settings::auto_clean, IDC_AUTO_CLEAN, 0, 0},
    {L"Clean", L"clean_hour", &Settings::clean_hour, nullptr, IDC_CLEAN_HOUR, -1, 23},
    {L"Clean", L"clean_minute", &Settings::clean_minute, nullptr, IDC_CLEAN_MINUTE, 0, 59},
    {L"Clean", L"notify_min_mb", &Settings::notify_min_mb, nullptr, IDC_NOTIFY_MIN_MB, 0, 9999},
    {L"App", L"start_with_windows", nullptr, &Settings::start_with_windows, IDC_START_WITH_WINDOWS, 0, 0},
    {L"App", L"show_status_on_clean", nullptr, &Settings::show_status_on_clean, IDC_SHOW_STATUS, 0, 0},
    {L"Clean", L"free_below_mb", &Settings::free_below_mb, nullptr, IDC_FREE_BELOW_MB, 0, 65535},
    {L"Clean", L"trim_working_sets", nullptr, &Settings::trim_working_sets, IDC_TRIM_WORKING_SETS, 0, 0},
    {L"Clean", L"flush_modified", nullptr, &Settings::flush_modified, IDC_FLUSH_MODIFIED, 0, 0},
    {L"Clean", L"purge_standby", nullptr, &Settings::purge_standby, IDC_PURGE_STANDBY, 0, 0},
    {L"Clean", L"flush_file_cache", nullptr, &Settings::flush_file_cache, IDC_FLUSH_FILE_CACHE, 0, 0},
};

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

TextEncoding DetectTextEncoding(const BYTE* head, size_t count, size_t& mark) {
  if (count >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    mark = 3;
    return TEXT_UTF8;
  }
  if (count >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    mark = 2;
    return TEXT_UTF16LE;
  }
  if (count >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    mark = 2;
    return TEXT_UTF16BE;
  }
  mark = 0;
  return TEXT_ANSI;
}

size_t WholeCharacterBytes(TextEncoding encoding, const BYTE* bytes, size_t count) {
  switch (encoding) {
    case TEXT_UTF16LE:
    case TEXT_UTF16BE:
      return count & ~static_cast<size_t>(1);
    case TEXT_UTF8:
      // A lead byte among the last three whose sequence runs past the end.
      for (size_t back = 1; back <= 3 && back <= count; ++back) {
        BYTE byte = bytes[count - back];
        if ((byte & 0xC0) == 0x80) continue;
        size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? count - back : count;
      }
      return count;
    case TEXT_ANSI: {
      // Walk from a character boundary, so a trail byte that looks like a
      // lead byte is never taken for one.
      size_t i = 0;
      while (i < count) {
        if (IsDBCSLeadByte(bytes[i])) {
          if (i + 1 >= count) break;
          i += 2;
        } else {
          ++i;
        }
      }
      return i;
    }
  }
  return count;
}

size_t DecodeText(TextEncoding encoding, const BYTE* bytes, size_t count, wchar_t* text) {
  if (count == 0) return 0;
  switch (encoding) {
    case TEXT_UTF16LE:
    case TEXT_UTF16BE: {
      size_t characters = count / 2;
      for (size_t i = 0; i < characters; ++i) {
        BYTE low = bytes[2 * i + (encoding == TEXT_UTF16BE ? 1 : 0)];
        BYTE high = bytes[2 * i + (encoding == TEXT_UTF16BE ? 0 : 1)];
        text[i] = static_cast<wchar_t>(low | high << 8);
      }
      return characters;
    }
    case TEXT_UTF8:
    case TEXT_ANSI: {
      // No byte becomes more than one UTF-16 character in either form.
      int written = MultiByteToWideChar(encoding == TEXT_UTF8 ? CP_UTF8 : CP_ACP, 0,
                                        reinterpret_cast<const char*>(bytes), static_cast<int>(count), text,
                                        static_cast<int>(count));
      return written > 0 ? static_cast<size_t>(written) : 0;
    }
  }
  return 0;
}

namespace {

const wchar_t kConfigName[] = L"config.ini";
// The next config.ini is written under this name beside it, then takes its
// place in one step.
const wchar_t kNewConfigName[] = L"config.ini.new";

bool WriteAll(HANDLE file, const void* bytes, size_t count, const FilePlatform& platform) {
  if (count == 0) return true;
  DWORD written = 0;
  return platform.write_file(file, bytes, static_cast<DWORD>(count), &written, nullptr) && written == count;
}

// Writes the byte-order mark, then the old file's text in UTF-16, so that
// every key and comment of it survives the save.
bool WriteUtf16Copy(HANDLE old_file, HANDLE new_file, const FilePlatform& platform) {
  const BYTE mark[] = {0xFF, 0xFE};
  if (!WriteAll(new_file, mark, sizeof mark, platform)) return false;
  if (old_file == INVALID_HANDLE_VALUE) return true;
  BYTE bytes[4096 + 4];
  wchar_t text[4096 + 4];
  size_t held = 0;  // bytes of a character cut by the end of the last read
  bool first = true;
  TextEncoding encoding = TEXT_ANSI;
  for (;;) {
    DWORD read = 0;
    if (!platform.read_file(old_file, bytes + held, 4096, &read, nullptr)) return false;
    size_t count = held + read;
    size_t start = 0;
    if (first) {
      encoding = DetectTextEncoding(bytes, count, start);
      first = false;
    }
    size_t whole = read == 0 ? count : start + WholeCharacterBytes(encoding, bytes + start, count - start);
    size_t characters = DecodeText(encoding, bytes + start, whole - start, text);
    if (!WriteAll(new_file, text, characters * sizeof(wchar_t), platform)) return false;
    if (read == 0) return true;
    held = count - whole;
    MoveMemory(bytes, bytes + whole, held);
  }
}

bool WriteKeys(const Settings& settings, const wchar_t* path, const FilePlatform& platform) {
  wchar_t value[32] = {};
  for (const SettingField& entry : kSettingFields) {
    int32_t number = entry.number ? settings.*entry.number : (settings.*entry.flag ? 1 : 0);
    FormatBounded(value, 32, L"%d", number);
    if (!platform.write_profile_string(entry.section, entry.key, value, path)) return false;
  }
  return platform.write_profile_string(L"Clean", L"exclude_list", settings.exclude_list, path) != FALSE;
}

// Writes the whole next file beside config.ini and puts it in its place;
// on any failure config.ini is left as it was.
bool ReplaceConfigFile(const CheckedFolder& folder, const Settings& settings, const FilePlatform& platform) {
  wchar_t config_path[MAX_PATH];
  wchar_t new_path[MAX_PATH];
  if (!JoinPath(config_path, folder.path, kConfigName) || !JoinPath(new_path, folder.path, kNewConfigName))
    return false;
  BY_HANDLE_FILE_INFORMATION old_information, new_information, information;
  bool missing = false;
  // An old file that may not be read (a link, a second name, a folder, held
  // by another program) refuses the save rather than lose what it holds.
  HANDLE old_file = OpenCheckedFile(folder, kConfigName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                    old_information, missing, platform);
  if (old_file == INVALID_HANDLE_VALUE && !missing) return false;

  // Whatever has the new file's name (a save cut short, or a planted link)
  // goes; the name is then made afresh, so no link there is followed.
  platform.delete_file(new_path);
  HANDLE new_file = OpenCheckedFile(folder, kNewConfigName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    CREATE_NEW, new_information, missing, platform);
  bool ok = new_file != INVALID_HANDLE_VALUE && WriteUtf16Copy(old_file, new_file, platform);
  if (old_file != INVALID_HANDLE_VALUE) platform.close_handle(old_file);
  if (new_file == INVALID_HANDLE_VALUE) {
    platform.delete_file(new_path);
    return false;
  }

  // The profile functions open the file by name. A reading handle held
  // without delete sharing keeps that name on this file while they write.
  HANDLE pin = INVALID_HANDLE_VALUE;
  if (ok) {
    pin = OpenCheckedFile(folder, kNewConfigName, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                          information, missing, platform);
    ok = pin != INVALID_HANDLE_VALUE && IsSameFile(information, new_information);
  }
  platform.close_handle(new_file);
  ok = ok && WriteKeys(settings, new_path, platform);
  if (ok) {
    // On the disk before it takes the old file's place.
    HANDLE flush = OpenCheckedFile(folder, kNewConfigName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, information, missing, platform);
    ok = flush != INVALID_HANDLE_VALUE && IsSameFile(information, new_information) && platform.flush_file(flush);
    if (flush != INVALID_HANDLE_VALUE) platform.close_handle(flush);
  }
  if (pin != INVALID_HANDLE_VALUE) platform.close_handle(pin);
  ok = ok && platform.move_file(new_path, config_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) platform.delete_file(new_path);
  return ok;
}

}  // namespace

bool LoadSettings(Settings& settings, const FilePlatform& platform) {
  InitDefaultSettings(settings);
  wchar_t folder_path[MAX_PATH];
  if (!BuildAppFolderPath(folder_path)) return true;  // no folder to keep settings in: defaults only
  CheckedFolder folder;
  FolderOpen opened = OpenCheckedFolder(folder, folder_path, false, platform);
  if (opened == CHECKED_FOLDER_MISSING) return SaveSettings(settings, platform);
  if (opened == CHECKED_FOLDER_REFUSED) return true;
  // Held while the profile functions read by name, so the name stays on the
  // file that was checked. One that is refused leaves the defaults, and the
  // file as it is.
  BY_HANDLE_FILE_INFORMATION information;
  bool missing = false;
  HANDLE pin = OpenCheckedFile(folder, kConfigName, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, information, missing, platform);
  wchar_t path[MAX_PATH];
  if (pin != INVALID_HANDLE_VALUE && JoinPath(path, folder.path, kConfigName)) {
    for (const SettingField& entry : kSettingFields) {
      if (entry.number) {
        int32_t fallback = settings.*entry.number;
        settings.*entry.number =
            static_cast<int32_t>(GetPrivateProfileIntW(entry.section, entry.key, fallback, path));
      } else {
        int32_t fallback = settings.*entry.flag ? 1 : 0;
        settings.*entry.flag = GetPrivateProfileIntW(entry.section, entry.key, fallback, path) != 0;
      }
    }
    GetPrivateProfileStringW(L"Clean", L"exclude_list", L"", settings.exclude_list, 256, path);
  }
  if (pin != INVALID_HANDLE_VALUE) platform.close_handle(pin);
  CloseCheckedFolder(folder, platform);
  return !missing || SaveSettings(settings, platform);  // first run: the defaults go on disk too
}

void NoteSettingsSaved(bool saved) {
  if (!saved)
    ShowTrayNotice(NOTICE_SETTINGS_NOT_SAVED,
                   L"Settings could not be saved to config.ini; they apply until Quillmere exits.");
}

bool SaveSettings(const Settings& settings, const FilePlatform& platform) {
  wchar_t folder_path[MAX_PATH];
  if (!BuildAppFolderPath(folder_path)) return false;
  CheckedFolder folder;
  if (OpenCheckedFolder(folder, folder_path, true, platform) != CHECKED_FOLDER_OPEN) return false;
  bool saved = ReplaceConfigFile(folder, settings, platform);
  CloseCheckedFolder(folder, platform);
  return saved;
}
