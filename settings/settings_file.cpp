// The settings record, its defaults, and config.ini in the program folder
// under the user's roaming application data.
#include "settings/settings.h"

#include "clean/clean.h"
#include "common/files.h"
#include "common/text.h"
#include "settings/settings_internal.h"

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
    {L"Clean", L"purge_standby", &Settings::purge_standby, nullptr, IDC_PURGE_STANDBY, 0, 2},
    {L"Clean", L"flush_file_cache", nullptr, &Settings::flush_file_cache, IDC_FLUSH_FILE_CACHE, 0, 0},
    // Its range, 0 or 50 to 99, is CommitWarnLevel's: 1 to 49 stores 50.
    {L"Clean", L"commit_warn_percent", &Settings::commit_warn_percent, nullptr, IDC_COMMIT_WARN, 0, 99},
    {L"Clean", L"keep_foreground", nullptr, &Settings::keep_foreground, IDC_KEEP_FOREGROUND, 0, 0},
    {L"Clean", L"hold_when_busy", nullptr, &Settings::hold_when_busy, IDC_HOLD_WHEN_BUSY, 0, 0},
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
  settings.purge_standby = STANDBY_PURGE_ALL;
  settings.flush_file_cache = true;
  settings.keep_foreground = true;
  settings.hold_when_busy = true;
  settings.commit_warn_percent = 90;
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

size_t WholeCharacterBytes(TextEncoding encoding, UINT code_page, const BYTE* bytes, size_t count) {
  // A system whose ANSI code page is UTF-8 reads text without a mark as UTF-8.
  if (encoding == TEXT_ANSI && code_page == CP_UTF8) encoding = TEXT_UTF8;
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
        if (IsDBCSLeadByteEx(code_page, bytes[i])) {
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

size_t DecodeText(TextEncoding encoding, UINT code_page, const BYTE* bytes, size_t count, wchar_t* text) {
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
      int written = MultiByteToWideChar(encoding == TEXT_UTF8 ? CP_UTF8 : code_page, 0,
                                        reinterpret_cast<const char*>(bytes), static_cast<int>(count), text,
                                        static_cast<int>(count));
      return written > 0 ? static_cast<size_t>(written) : 0;
    }
  }
  return 0;
}

void WeighUtf8(Utf8Evidence& evidence, const BYTE* piece, size_t count) {
  if (count == 0) return;
  for (size_t i = 0; i < count && !evidence.beyond_ascii; ++i) evidence.beyond_ascii = piece[i] > 0x7F;
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(piece),
                          static_cast<int>(count), nullptr, 0) == 0)
    evidence.malformed = true;
}

bool IsUtf8Text(const Utf8Evidence& evidence) { return !evidence.malformed && evidence.beyond_ascii; }

const wchar_t* LanguageSetting(const wchar_t* text) {
  int row = FindLanguage(text);
  return row >= 0 ? kLanguages[row].name : L"";
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

// Reads a file in pieces that end on whole characters: the bytes of a
// character cut by the end of one read wait for the next.
struct PieceReader {
  BYTE bytes[4096 + 4];
  size_t count;  // bytes in the buffer
  size_t whole;  // the piece: the first of them, up to the last whole character
  bool end;      // the file has no more; the piece is all that was left
};

// Drops the last piece, keeps the bytes held back from it, and reads on.
bool ReadPiece(PieceReader& reader, HANDLE file, TextEncoding encoding, UINT code_page,
               const FilePlatform& platform) {
  size_t held = reader.count - reader.whole;
  MoveMemory(reader.bytes, reader.bytes + reader.whole, held);
  DWORD read = 0;
  if (!platform.read_file(file, reader.bytes + held, 4096, &read, nullptr)) return false;
  reader.count = held + read;
  reader.end = read == 0;
  reader.whole = reader.end ? reader.count : WholeCharacterBytes(encoding, code_page, reader.bytes, reader.count);
  return true;
}

bool SeekTo(HANDLE file, size_t offset, const FilePlatform& platform) {
  LARGE_INTEGER distance = {};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return platform.set_file_pointer(file, distance, nullptr, FILE_BEGIN) != FALSE;
}

// The file's encoding: its mark's, or without one UTF-8 when the whole file
// reads as UTF-8 text, else ANSI. Leaves the file at its text, past the mark.
bool ReadTextEncoding(HANDLE file, TextEncoding& encoding, size_t& mark, const FilePlatform& platform) {
  BYTE head[3] = {};
  DWORD read = 0;
  if (!platform.read_file(file, head, sizeof head, &read, nullptr)) return false;
  encoding = DetectTextEncoding(head, read, mark);
  if (encoding == TEXT_ANSI) {
    if (!SeekTo(file, 0, platform)) return false;
    PieceReader reader = {};
    Utf8Evidence evidence = {};
    do {
      if (!ReadPiece(reader, file, TEXT_UTF8, CP_UTF8, platform)) return false;
      WeighUtf8(evidence, reader.bytes, reader.whole);
    } while (!reader.end);
    if (IsUtf8Text(evidence)) encoding = TEXT_UTF8;
  }
  return SeekTo(file, mark, platform);
}

// Writes the byte-order mark, then the old file's text in UTF-16, so that
// every key and comment of it survives.
bool WriteUtf16Copy(HANDLE old_file, HANDLE new_file, const FilePlatform& platform) {
  const BYTE utf16_mark[] = {0xFF, 0xFE};
  if (!WriteAll(new_file, utf16_mark, sizeof utf16_mark, platform)) return false;
  if (old_file == INVALID_HANDLE_VALUE) return true;
  TextEncoding encoding = TEXT_ANSI;
  size_t mark = 0;
  if (!ReadTextEncoding(old_file, encoding, mark, platform)) return false;
  UINT code_page = platform.get_code_page();
  PieceReader reader = {};
  wchar_t text[4096 + 4];
  do {
    if (!ReadPiece(reader, old_file, encoding, code_page, platform)) return false;
    size_t characters = DecodeText(encoding, code_page, reader.bytes, reader.whole, text);
    if (!WriteAll(new_file, text, characters * sizeof(wchar_t), platform)) return false;
  } while (!reader.end);
  return true;
}

bool WriteKeys(const Settings& settings, const wchar_t* path, const FilePlatform& platform) {
  wchar_t value[32] = {};
  for (const SettingField& entry : kSettingFields) {
    int32_t number = entry.number ? settings.*entry.number : (settings.*entry.flag ? 1 : 0);
    FormatBounded(value, 32, L"%d", number);
    if (!platform.write_profile_string(entry.section, entry.key, value, path)) return false;
  }
  if (!platform.write_profile_string(L"Clean", L"exclude_list", settings.exclude_list, path)) return false;
  wchar_t language[LANGUAGE_NAME_CAPACITY];
  CopyBounded(language, LANGUAGE_NAME_CAPACITY, settings.language);
  return platform.write_profile_string(L"App", L"language", LanguageSetting(language), path) != FALSE;
}

// Writes the whole next file beside config.ini, the old one's text in UTF-16
// and every setting's key (none without `settings`: the old file converted),
// and puts it in the old one's place; on any failure config.ini is left as
// it was.
bool ReplaceConfigFile(const CheckedFolder& folder, const Settings* settings, const FilePlatform& platform) {
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
  ok = ok && (!settings || WriteKeys(*settings, new_path, platform));
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

// The save itself, while the thread impersonates the user.
bool SaveAsUser(const Settings& settings, const wchar_t* folder_path, const FilePlatform& platform) {
  CheckedFolder folder;
  if (OpenCheckedFolder(folder, folder_path, true, platform) != CHECKED_FOLDER_OPEN) return false;
  bool saved = ReplaceConfigFile(folder, &settings, platform);
  CloseCheckedFolder(folder, platform);
  return saved;
}

// Held while the profile functions read config.ini by name, so that the
// name stays on the file that was checked.
HANDLE PinConfigFile(const CheckedFolder& folder, bool& missing, const FilePlatform& platform) {
  BY_HANDLE_FILE_INFORMATION information;
  return OpenCheckedFile(folder, kConfigName, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                         information, missing, platform);
}

bool StartsWithUtf16Mark(HANDLE file, const FilePlatform& platform) {
  BYTE head[2] = {};
  DWORD read = 0;
  return platform.read_file(file, head, sizeof head, &read, nullptr) && read == 2 && head[0] == 0xFF && head[1] == 0xFE;
}

// The load itself, while the thread impersonates the user: the settings
// from config.ini, or on the first run the defaults written there. False
// only when that first save failed.
bool LoadAsUser(Settings& settings, const wchar_t* folder_path, const FilePlatform& platform) {
  CheckedFolder folder;
  FolderOpen opened = OpenCheckedFolder(folder, folder_path, false, platform);
  if (opened == CHECKED_FOLDER_MISSING) {
    settings.unread = 0;  // the first run: the defaults are the user's
    return SaveAsUser(settings, folder_path, platform);
  }
  if (opened == CHECKED_FOLDER_REFUSED) return true;
  bool missing = false;
  HANDLE pin = PinConfigFile(folder, missing, platform);
  // Windows' profile functions read UTF-16 after its mark, and everything
  // else as ANSI: a UTF-8 mark hides the first section, UTF-16 big-endian
  // reads as nothing, UTF-8 without a mark as the wrong characters. So any
  // other file first becomes UTF-16, every line kept, as a save would write
  // it. One that cannot be converted is read as it stands.
  bool converted = true;
  if (pin != INVALID_HANDLE_VALUE && !StartsWithUtf16Mark(pin, platform)) {
    platform.close_handle(pin);
    converted = ReplaceConfigFile(folder, nullptr, platform);
    pin = PinConfigFile(folder, missing, platform);
  }
  wchar_t path[MAX_PATH];
  if (pin != INVALID_HANDLE_VALUE && JoinPath(path, folder.path, kConfigName)) {
    for (const SettingField& entry : kSettingFields) {
      if (entry.number) {
        int32_t fallback = settings.*entry.number;
        settings.*entry.number =
            static_cast<int32_t>(platform.get_profile_int(entry.section, entry.key, fallback, path));
      } else {
        int32_t fallback = settings.*entry.flag ? 1 : 0;
        settings.*entry.flag = platform.get_profile_int(entry.section, entry.key, fallback, path) != 0;
      }
    }
    platform.get_profile_string(L"Clean", L"exclude_list", L"", settings.exclude_list, 256, path);
    // One character more than a name may have: a value that fills it is too
    // long to be one, whatever it starts with.
    wchar_t language[LANGUAGE_NAME_CAPACITY + 1] = {};
    DWORD length = platform.get_profile_string(L"App", L"language", L"", language, LANGUAGE_NAME_CAPACITY + 1, path);
    ZeroMemory(settings.language, sizeof settings.language);
    CopyBounded(settings.language, LANGUAGE_NAME_CAPACITY,
                length < LANGUAGE_NAME_CAPACITY ? LanguageSetting(language) : L"");
    // Once a flag: any value but 0 and 2 reads as on, the whole list.
    settings.purge_standby = StandbyPurgeOf(settings.purge_standby);
  }
  if (pin != INVALID_HANDLE_VALUE) platform.close_handle(pin);
  CloseCheckedFolder(folder, platform);
  // A file that is there but was refused, or read without being converted,
  // may hold values that were not read: no save of this run replaces it.
  settings.keep_file = !missing && (pin == INVALID_HANDLE_VALUE || !converted);
  settings.unread = settings.keep_file;
  return !missing || SaveAsUser(settings, folder_path, platform);  // first run: the defaults go on disk too
}

}  // namespace

bool LoadSettings(Settings& settings, const FilePlatform& platform, HANDLE user_token) {
  InitDefaultSettings(settings);
  // Until the file is read, or shown to be missing.
  settings.unread = 1;
  wchar_t folder_path[MAX_PATH];
  switch (BuildAppFolderPath(folder_path, user_token, platform)) {
    case APP_FOLDER_NONE:  // no folder to keep settings in: the defaults, and nothing on disk
      return true;
    case APP_FOLDER_REFUSED:  // the same, and nothing the user changes can be kept either
      return false;
    case APP_FOLDER_FOUND:
      break;
  }
  if (!ImpersonateUser(user_token, platform)) return false;
  bool saved = LoadAsUser(settings, folder_path, platform);
  StopImpersonating(platform);
  return saved;
}

bool SaveSettings(const Settings& settings, const FilePlatform& platform, HANDLE user_token) {
  wchar_t folder_path[MAX_PATH];
  if (settings.keep_file || BuildAppFolderPath(folder_path, user_token, platform) != APP_FOLDER_FOUND ||
      !ImpersonateUser(user_token, platform))
    return false;
  bool saved = SaveAsUser(settings, folder_path, platform);
  StopImpersonating(platform);
  return saved;
}
