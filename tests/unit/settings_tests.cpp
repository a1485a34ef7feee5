// The settings record and config.ini: defaults, load and save, the file's
// text encodings, and a save or load that meets a link or fails halfway.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support.h"
#include "settings/settings_internal.h"

namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { DeleteAppFolder(); }
  void TearDown() override { DeleteAppFolder(); }
  std::wstring config_ = AppFile(L"config.ini");
  std::wstring new_config_ = AppFile(L"config.ini.new");
};

Settings Defaults() {
  Settings settings;
  InitDefaultSettings(settings);
  return settings;
}

// ASCII text as UTF-16.
std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The text of such a file; "<not UTF-16>" without the mark.
std::wstring Utf16Text(const std::string& bytes) {
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return L"<not UTF-16>";
  std::wstring text((bytes.size() - 2) / 2, L'\0');
  memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
  return text;
}

std::string Encode(const std::wstring& text, UINT code_page) {
  std::string bytes(text.size() * 4, '\0');
  int length = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                   static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return bytes;
}

std::string Utf16BigEndian(const std::wstring& text) {
  std::string bytes = "\xFE\xFF";
  for (wchar_t c : text) {
    bytes += static_cast<char>(c >> 8);
    bytes += static_cast<char>(c & 0xFF);
  }
  return bytes;
}

}  // namespace

TEST(DefaultSettings, DefaultsReplaceWhateverTheRecordHeld) {
  Settings settings;
  memset(&settings, 0xAB, sizeof settings);
  InitDefaultSettings(settings);
  EXPECT_EQ(settings.threshold_percent, 80);
  EXPECT_EQ(settings.interval_minutes, 30);
  EXPECT_EQ(settings.on_idle_minutes, 5);
  EXPECT_EQ(settings.on_boot_delay, 60);
  EXPECT_FALSE(settings.silent_mode);
  EXPECT_TRUE(settings.auto_clean);
  EXPECT_FALSE(settings.start_with_windows);
  EXPECT_EQ(settings.exclude_list[0], 0);
  EXPECT_EQ(settings.clean_hour, -1);
  EXPECT_EQ(settings.clean_minute, 0);
  EXPECT_EQ(settings.notify_min_mb, 10);
  EXPECT_FALSE(settings.show_status_on_clean);
  EXPECT_EQ(settings.free_below_mb, 0);
  EXPECT_TRUE(settings.trim_working_sets);
  EXPECT_TRUE(settings.flush_modified);
  EXPECT_EQ(settings.purge_standby, 1) << "the whole standby list";
  EXPECT_TRUE(settings.flush_file_cache);
  EXPECT_EQ(settings.commit_warn_percent, 90);
  EXPECT_EQ(settings.keep_foreground, 1);
  EXPECT_EQ(settings.hold_when_busy, 1);
}

TEST_F(SettingsFile, FirstRunWritesEveryDefaultInOrder) {
  Settings settings;
  EXPECT_TRUE(LoadSettings(settings, kSystemFilePlatform, UserToken()));
  Settings defaults = Defaults();
  EXPECT_EQ(memcmp(&settings, &defaults, sizeof settings), 0);
  std::vector<std::wstring> clean = {L"threshold_percent=80", L"interval_minutes=30", L"on_idle_minutes=5",
                                     L"on_boot_delay=60",     L"silent_mode=0",       L"auto_clean=1",
                                     L"clean_hour=-1",        L"clean_minute=0",      L"notify_min_mb=10",
                                     L"free_below_mb=0",      L"trim_working_sets=1", L"flush_modified=1",
                                     L"purge_standby=1",      L"flush_file_cache=1",  L"commit_warn_percent=90",
                                     L"keep_foreground=1",    L"hold_when_busy=1",    L"exclude_list="};
  std::vector<std::wstring> app_keys = {L"start_with_windows=0", L"show_status_on_clean=0", L"language="};
  EXPECT_EQ(ConfigSectionLines(L"Clean"), clean);
  EXPECT_EQ(ConfigSectionLines(L"App"), app_keys);
  // UTF-16 with its byte-order mark, so that every name survives a restart.
  EXPECT_EQ(ReadFileBytes(config_),
            Utf16File(L"[Clean]\r\nthreshold_percent=80\r\ninterval_minutes=30\r\non_idle_minutes=5\r\n"
                      L"on_boot_delay=60\r\nsilent_mode=0\r\nauto_clean=1\r\nclean_hour=-1\r\nclean_minute=0\r\n"
                      L"notify_min_mb=10\r\nfree_below_mb=0\r\ntrim_working_sets=1\r\nflush_modified=1\r\n"
                      L"purge_standby=1\r\nflush_file_cache=1\r\ncommit_warn_percent=90\r\nkeep_foreground=1\r\n"
                      L"hold_when_busy=1\r\nexclude_list=\r\n[App]\r\n"
                      L"start_with_windows=0\r\n"
                      L"show_status_on_clean=0\r\n"
                      L"language=\r\n"));
  EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing left beside it";
}

TEST_F(SettingsFile, LoadTakesEachKeyAsItStands) {
  struct Case {
    const char* file;
    int32_t Settings::*number;
    bool Settings::*flag;
    int32_t expected;
  };
  const Case cases[] = {
      {"[Clean]\r\nthreshold_percent=90\r\n", &Settings::threshold_percent, nullptr, 90},
      {"[Clean]\r\nsilent_mode=7\r\n", nullptr, &Settings::silent_mode, 1},
      {"[Clean]\r\nauto_clean=0\r\n", nullptr, &Settings::auto_clean, 0},
      {"[Clean]\r\nclean_hour=-1\r\n", &Settings::clean_hour, nullptr, -1},
      {"[Clean]\r\nstart_with_windows=1\r\n", nullptr, &Settings::start_with_windows, 0},  // wrong section
      {"[App]\r\nstart_with_windows=1\r\n", nullptr, &Settings::start_with_windows, 1},
      {"[Clean]\r\nclean_minute=75\r\n", &Settings::clean_minute, nullptr, 75},  // out of range kept
      {"[Clean]\r\nthreshold_percent=150\r\n", &Settings::threshold_percent, nullptr, 150},
      {"[Clean]\r\nnotify_min_mb=-5\r\n", &Settings::notify_min_mb, nullptr, -5},
      {"[App]\r\nshow_status_on_clean=1\r\n", nullptr, &Settings::show_status_on_clean, 1},
      {"[Clean]\r\nfree_below_mb=2048\r\n", &Settings::free_below_mb, nullptr, 2048},
      {"[Clean]\r\nfree_below_mb=70000\r\n", &Settings::free_below_mb, nullptr, 70000},  // past the window's range
      {"[Clean]\r\nfree_below_mb=-7\r\n", &Settings::free_below_mb, nullptr, -7},
      {"[Clean]\r\ntrim_working_sets=0\r\n", nullptr, &Settings::trim_working_sets, 0},
      {"[Clean]\r\nflush_modified=0\r\n", nullptr, &Settings::flush_modified, 0},
      {"[Clean]\r\npurge_standby=0\r\n", &Settings::purge_standby, nullptr, 0},
      {"[Clean]\r\npurge_standby=2\r\n", &Settings::purge_standby, nullptr, 2},  // the low-priority part
      // Any other value was "on" while the key was a flag: the whole list.
      {"[Clean]\r\npurge_standby=3\r\n", &Settings::purge_standby, nullptr, 1},
      {"[Clean]\r\npurge_standby=2147483647\r\n", &Settings::purge_standby, nullptr, 1},
      {"[Clean]\r\nkeep_foreground=0\r\n", nullptr, &Settings::keep_foreground, 0},
      {"[Clean]\r\nhold_when_busy=0\r\n", nullptr, &Settings::hold_when_busy, 0},
      {"[App]\r\nhold_when_busy=0\r\n", nullptr, &Settings::hold_when_busy, 1},  // wrong section
      {"[Clean]\r\nflush_file_cache=0\r\n", nullptr, &Settings::flush_file_cache, 0},
      {"[Clean]\r\npurge_standby=-3\r\n", &Settings::purge_standby, nullptr, 1},
      {"[App]\r\nflush_file_cache=0\r\n", nullptr, &Settings::flush_file_cache, 1},  // wrong section
      {"[Clean]\r\ncommit_warn_percent=0\r\n", &Settings::commit_warn_percent, nullptr, 0},
      {"[Clean]\r\ncommit_warn_percent=75\r\n", &Settings::commit_warn_percent, nullptr, 75},
      // Kept as they stand; CommitWarnLevel says what they mean.
      {"[Clean]\r\ncommit_warn_percent=1\r\n", &Settings::commit_warn_percent, nullptr, 1},
      {"[Clean]\r\ncommit_warn_percent=-5\r\n", &Settings::commit_warn_percent, nullptr, -5},
      {"[Clean]\r\ncommit_warn_percent=2147483647\r\n", &Settings::commit_warn_percent, nullptr, 2147483647},
      {"[App]\r\ncommit_warn_percent=50\r\n", &Settings::commit_warn_percent, nullptr, 90},  // wrong section
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteConfig(c.file));
    Settings settings;
    LoadSettings(settings, kSystemFilePlatform, UserToken());
    int32_t got = c.number ? settings.*c.number : settings.*c.flag;
    EXPECT_EQ(got, c.expected) << c.file;
    // Every other field keeps its default.
    Settings expected = Defaults();
    if (c.number) expected.*c.number = c.expected;
    else expected.*c.flag = c.expected != 0;
    EXPECT_EQ(memcmp(&settings, &expected, sizeof settings), 0) << c.file;
    // A load converts the file to UTF-16 but never adds the missing keys.
    EXPECT_EQ(ReadFileBytes(config_), Utf16File(Ascii(c.file))) << c.file;
  }
}

TEST_F(SettingsFile, FileFromBeforeTheCleanStepsLoadsThemAsAFullClean) {
  const std::string old_file =
      "[Clean]\r\nthreshold_percent=70\r\ninterval_minutes=0\r\non_idle_minutes=9\r\non_boot_delay=0\r\n"
      "silent_mode=1\r\nauto_clean=1\r\nclean_hour=4\r\nclean_minute=30\r\nnotify_min_mb=50\r\n"
      "exclude_list=chrome.exe\r\n[App]\r\nstart_with_windows=1\r\nshow_status_on_clean=1\r\n";
  ASSERT_TRUE(WriteConfig(old_file));
  Settings settings;
  memset(&settings, 0xAB, sizeof settings);
  LoadSettings(settings, kSystemFilePlatform, UserToken());
  EXPECT_EQ(settings.threshold_percent, 70);
  EXPECT_EQ(settings.clean_minute, 30);
  EXPECT_STREQ(settings.exclude_list, L"chrome.exe");
  EXPECT_EQ(settings.free_below_mb, 0) << "the free-memory trigger stays off";
  EXPECT_EQ(settings.trim_working_sets, 1);
  EXPECT_EQ(settings.flush_modified, 1);
  EXPECT_EQ(settings.purge_standby, 1);
  EXPECT_EQ(settings.flush_file_cache, 1);
  EXPECT_EQ(settings.keep_foreground, 1);
  EXPECT_EQ(settings.hold_when_busy, 1);
  EXPECT_EQ(ReadFileBytes(config_), Utf16File(Ascii(old_file))) << "loading adds no key";

  // The next save keeps every line it had, in place, and adds the new keys.
  SaveSettings(settings, kSystemFilePlatform, UserToken());
  std::vector<std::wstring> clean = ConfigSectionLines(L"Clean");
  const std::vector<std::wstring> kept = {L"threshold_percent=70", L"interval_minutes=0", L"on_idle_minutes=9",
                                          L"on_boot_delay=0",      L"silent_mode=1",      L"auto_clean=1",
                                          L"clean_hour=4",         L"clean_minute=30",    L"notify_min_mb=50",
                                          L"exclude_list=chrome.exe"};
  const std::vector<std::wstring> added = {L"free_below_mb=0",    L"trim_working_sets=1", L"flush_modified=1",
                                           L"purge_standby=1",    L"flush_file_cache=1",
                                           L"commit_warn_percent=90", L"keep_foreground=1",
                                           L"hold_when_busy=1"};
  ASSERT_EQ(clean.size(), kept.size() + added.size());
  EXPECT_EQ(std::vector<std::wstring>(clean.begin(), clean.begin() + 10), kept);
  EXPECT_EQ(std::vector<std::wstring>(clean.begin() + 10, clean.end()), added);
}

TEST_F(SettingsFile, GarbageInOneKeyLeavesTheOthersAlone) {
  ASSERT_TRUE(WriteConfig("[Clean]\r\nthreshold_percent=abc\r\ninterval_minutes=99999999999999\r\non_idle_minutes=7\r\n"
                          "\x01\x02\xff=\xfe\r\n[App]\r\nstart_with_windows=1\r\n"));
  Settings settings;
  EXPECT_TRUE(LoadSettings(settings, kSystemFilePlatform, UserToken()));
  EXPECT_EQ(settings.on_idle_minutes, 7);
  EXPECT_TRUE(settings.start_with_windows);
  EXPECT_EQ(settings.on_boot_delay, 60);
}

TEST_F(SettingsFile, ExclusionListLoadsAtMost255Characters) {
  std::string list(300, 'x');
  ASSERT_TRUE(WriteConfig("[Clean]\r\nexclude_list=" + list + "\r\n"));
  Settings settings;
  LoadSettings(settings, kSystemFilePlatform, UserToken());
  EXPECT_EQ(wcslen(settings.exclude_list), 255u);
}

TEST_F(SettingsFile, SaveWritesEveryKeyAndRoundTrips) {
  Settings saved = Defaults();
  saved.threshold_percent = 150;
  saved.clean_hour = -1;
  saved.clean_minute = 75;
  saved.notify_min_mb = -3;
  saved.silent_mode = true;
  saved.auto_clean = false;
  saved.show_status_on_clean = true;
  saved.free_below_mb = 70000;
  saved.trim_working_sets = false;
  saved.flush_file_cache = false;
  saved.commit_warn_percent = 100;
  saved.purge_standby = 2;
  saved.keep_foreground = false;
  saved.hold_when_busy = false;
  wcscpy(saved.exclude_list, L"chrome.exe, Code.exe");
  wcscpy(saved.language, L"pt-BR");
  SaveSettings(saved, kSystemFilePlatform, UserToken());
  EXPECT_EQ(ConfigSectionLines(L"Clean").size(), 18u);
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"purge_standby", 9, config_.c_str()), 2u);
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"keep_foreground", 9, config_.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"hold_when_busy", 9, config_.c_str()), 0u);
  EXPECT_EQ(ConfigSectionLines(L"App").size(), 3u);
  Settings loaded;
  LoadSettings(loaded, kSystemFilePlatform, UserToken());
  EXPECT_EQ(memcmp(&saved, &loaded, sizeof saved), 0);

  // An empty list is written as a present, empty key.
  saved.exclude_list[0] = 0;
  SaveSettings(saved, kSystemFilePlatform, UserToken());
  wchar_t value[8] = L"?";
  GetPrivateProfileStringW(L"Clean", L"exclude_list", L"missing", value, 8, config_.c_str());
  EXPECT_STREQ(value, L"");
}

// The language is kept as the name of the row it stands for; anything that
// names none of them (unknown, Traditional Chinese, too long to be a name,
// control characters) is Windows' choice, as is a missing key.
TEST_F(SettingsFile, LanguageLoadsAsItsRowsNameOrEmpty) {
  struct Case {
    std::string value;  // UTF-8; none: no key
    const wchar_t* stored;
  };
  const Case cases[] = {
      {"de-DE", L"de-DE"},
      {"de", L"de-DE"},
      {"DE-de", L"de-DE"},
      {"de-AT", L"de-DE"},
      {"  fr-FR  ", L"fr-FR"},
      {"es", L"es-ES"},
      {"pt_BR", L"pt-BR"},
      {"ru-RU", L"ru-RU"},
      {"zh-CN", L"zh-CN"},
      {"zh-Hans-SG", L"zh-CN"},
      {"ja", L"ja-JP"},
      {"en-GB", L"en-US"},
      {"zh-TW", L""},
      {"zh-Hant", L""},
      {"tlh-KL", L""},
      {"deutsch", L""},
      {"d", L""},
      {"", L""},
      {"de-DE-1996-abcdef", L""},  // 17 characters: longer than any name kept
      {"de-DE-1996-abcde", L""},   // 16: one too many
      {"zh-Hans-CN-x-abc", L""},
      {"zh-Hans-CN-x-ab", L"zh-CN"},  // 15: fits
      {std::string(10000, 'd'), L""},
      {"de-" + std::string(10000, 'x'), L""},
      {"" "de", L""},
      {"Ã©n", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.substr(0, 40));
    ASSERT_TRUE(WriteConfig("[App]\r\nlanguage=" + c.value + "\r\n"));
    Settings settings;
    memset(&settings, 0xAB, sizeof settings);
    LoadSettings(settings, kSystemFilePlatform, UserToken());
    Settings expected = Defaults();
    wcscpy(expected.language, c.stored);
    EXPECT_EQ(memcmp(&settings, &expected, sizeof settings), 0) << Narrow(settings.language);
  }
  // A missing key, or the key in another section.
  for (const char* file : {"[App]\r\nstart_with_windows=0\r\n", "[Clean]\r\nlanguage=de-DE\r\n"}) {
    ASSERT_TRUE(WriteConfig(file));
    Settings settings;
    LoadSettings(settings, kSystemFilePlatform, UserToken());
    EXPECT_STREQ(settings.language, L"") << file;
  }
}

// Saved as the name the record holds, or empty for anything that is none.
TEST_F(SettingsFile, LanguageIsSavedAsItsNameOrEmpty) {
  struct Case {
    const wchar_t* held;
    const wchar_t* written;
  };
  const Case cases[] = {{L"ja-JP", L"ja-JP"}, {L"", L""}, {L"ru", L"ru-RU"}, {L"xx-YY", L""}};
  for (const Case& c : cases) {
    Settings saved = Defaults();
    wcscpy(saved.language, c.held);
    ASSERT_TRUE(SaveSettings(saved, kSystemFilePlatform, UserToken()));
    wchar_t value[32] = L"<missing>";
    GetPrivateProfileStringW(L"App", L"language", L"<missing>", value, 32, config_.c_str());
    EXPECT_STREQ(value, c.written) << Narrow(c.held);
  }
  // A name that fills the field with no terminator is read no further.
  Settings unterminated = Defaults();
  for (wchar_t& c : unterminated.language) c = L'd';
  ASSERT_TRUE(SaveSettings(unterminated, kSystemFilePlatform, UserToken()));
  wchar_t value[32] = L"<missing>";
  GetPrivateProfileStringW(L"App", L"language", L"<missing>", value, 32, config_.c_str());
  EXPECT_STREQ(value, L"");
}

TEST_F(SettingsFile, NamesBeyondAsciiSurviveARestart) {
  Settings saved = Defaults();
  const wchar_t list[] = L"caf\u00e9.exe, \u65e5\u672c.exe, \U0001F600.exe";
  wcscpy(saved.exclude_list, list);
  ASSERT_TRUE(SaveSettings(saved, kSystemFilePlatform, UserToken()));
  Settings loaded;
  LoadSettings(loaded, kSystemFilePlatform, UserToken());
  EXPECT_STREQ(loaded.exclude_list, list);
  EXPECT_EQ(memcmp(&saved, &loaded, sizeof saved), 0);
  EXPECT_NE(Utf16Text(ReadFileBytes(config_)).find(list), std::wstring::npos);
}

// Whatever the old file's encoding, its own keys and comments come over into
// the UTF-16 file, each character kept, beside the twelve keys: at the load,
// and at a save after an editor wrote the file again meanwhile.
TEST_F(SettingsFile, OldFilesAreCarriedOverIntoUtf16) {
  const std::wstring body =
      L"; written by hand\r\n[Other]\r\nnote=caf\u00e9\r\n[Clean]\r\nthreshold_percent=90\r\nmine=1\r\n";
  const bool ansi_has_e = Encode(L"\u00e9", CP_ACP) != "?";
  struct Case {
    const char* what;
    std::string bytes;
    std::wstring text;  // as it must stand in the new file
  };
  const Case cases[] = {
      {"ANSI", Encode(body, CP_ACP), ansi_has_e ? body : L""},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + Encode(body, CP_UTF8), body},
      {"UTF-16", Utf16File(body), body},
      {"UTF-16 big-endian", Utf16BigEndian(body), body},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteConfig(c.bytes));
    Settings settings;
    LoadSettings(settings, kSystemFilePlatform, UserToken());
    EXPECT_EQ(settings.threshold_percent, 90);
    if (!c.text.empty()) {
      EXPECT_EQ(Utf16Text(ReadFileBytes(config_)), c.text) << "converted at the load";
    }
    ASSERT_TRUE(WriteConfig(c.bytes));
    settings.interval_minutes = 45;
    ASSERT_TRUE(SaveSettings(settings, kSystemFilePlatform, UserToken()));
    std::wstring text = Utf16Text(ReadFileBytes(config_));
    if (!c.text.empty()) {
      // Only the twelve keys were added, each after the old lines of its section.
      std::wstring before_clean = c.text.substr(0, c.text.find(L"threshold_percent=90\r\n"));
      EXPECT_EQ(text.compare(0, before_clean.size(), before_clean), 0) << Narrow(text.substr(0, 200));
    }
    EXPECT_NE(text.find(L"threshold_percent=90\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"interval_minutes=45\r\n"), std::wstring::npos);
    Settings loaded;
    LoadSettings(loaded, kSystemFilePlatform, UserToken());
    EXPECT_EQ(memcmp(&settings, &loaded, sizeof settings), 0);
    if (c.text == body) {
      wchar_t note[8] = {};
      GetPrivateProfileStringW(L"Other", L"note", L"", note, 8, config_.c_str());
      EXPECT_STREQ(note, L"caf\u00e9");
    }
    EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"mine", 0, config_.c_str()), 1u);
    EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// The copy reads 4,096 bytes at a time; a character cut by the end of one
// read waits for the next. The paddings put the two-byte é and each inner
// byte boundary of the three-byte € across a read, wherever the reads fall
// (after a mark or not).
TEST_F(SettingsFile, CharactersCutByAReadComeThroughWhole) {
  struct Form {
    const char* what;
    std::string head;     // bytes before the text
    std::wstring prefix;  // text before the padding, as it must come through
    std::string encoded_prefix;
    UINT code_page;
  };
  const Form forms[] = {
      {"UTF-8 with its mark", "\xEF\xBB\xBF", L"", "", 1252},
      {"UTF-8 without a mark", "", L"", "", 1252},
      // Not all UTF-8: ANSI, which code page 65001 reads as UTF-8.
      {"code page 65001", "", L"; \uFFFD\r\n", "; \xE9\r\n", 65001},
  };
  for (const Form& form : forms) {
    for (size_t padding = 4073; padding <= 4083; ++padding) {
      SCOPED_TRACE(std::string(form.what) + ", padding " + std::to_string(padding));
      const std::wstring pad(padding, L'x');
      const std::wstring rest = L"[Other]\r\npad=" + pad + L"\u00e9\u20ac\r\n[Clean]\r\nthreshold_percent=90\r\n";
      ASSERT_TRUE(WriteConfig(form.head + form.encoded_prefix + Encode(rest, CP_UTF8)));
      ResetPlayedFiles();
      played.code_page = form.code_page;
      Settings settings;
      LoadSettings(settings, kPlayedFilePlatform, UserToken());
      EXPECT_EQ(settings.threshold_percent, 90);
      EXPECT_EQ(Utf16Text(ReadFileBytes(config_)), form.prefix + rest);
      std::wstring value(5000, L'\0');
      GetPrivateProfileStringW(L"Other", L"pad", L"", value.data(), 5000, config_.c_str());
      EXPECT_EQ(std::wstring(value.c_str()), pad + L"\u00e9\u20ac");
    }
  }
}

// Windows' profile functions read UTF-16 after its mark and take everything
// else for ANSI, so before any key is read the file becomes UTF-16 (UTF-8
// without a mark is taken as UTF-8, as Notepad takes it).
TEST_F(SettingsFile, OtherEncodingsAreConvertedBeforeAnyKeyIsRead) {
  const std::wstring latin = L"[Clean]\r\nthreshold_percent=90\r\nexclude_list=caf\u00e9.exe\r\n; mine\r\n"
                             L"[App]\r\nshow_status_on_clean=1\r\n";
  const std::wstring japanese = L"[Clean]\r\nthreshold_percent=90\r\nexclude_list=\u65e5\u672c.exe\r\n"
                                L"[App]\r\nshow_status_on_clean=1\r\n";
  struct Case {
    const char* what;
    std::string bytes;
    UINT code_page;
    std::wstring text;  // as config.ini must stand after the load
    const wchar_t* list;
  };
  const Case cases[] = {
      {"UTF-8 with its mark, [Clean] on line 1", "\xEF\xBB\xBF" + Encode(latin, CP_UTF8), 1252, latin,
       L"caf\u00e9.exe"},
      {"UTF-16 big-endian", Utf16BigEndian(latin), 1252, latin, L"caf\u00e9.exe"},
      {"ANSI", Encode(latin, 1252), 1252, latin, L"caf\u00e9.exe"},
      {"ANSI in a double-byte code page", Encode(japanese, 932), 932, japanese, L"\u65e5\u672c.exe"},
      {"UTF-8 without a mark", Encode(latin, CP_UTF8), 1252, latin, L"caf\u00e9.exe"},
      {"code page 65001, UTF-8 with a stray byte", Encode(latin, CP_UTF8) + "; \xE9\r\n", 65001,
       latin + L"; \uFFFD\r\n", L"caf\u00e9.exe"},
      {"UTF-16, left as it is", Utf16File(latin), 1252, latin, L"caf\u00e9.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteConfig(c.bytes));
    ResetPlayedFiles();
    played.code_page = c.code_page;
    Settings settings;
    LoadSettings(settings, kPlayedFilePlatform, UserToken());
    EXPECT_EQ(ReadFileBytes(config_), Utf16File(c.text)) << Narrow(Utf16Text(ReadFileBytes(config_)));
    EXPECT_EQ(settings.threshold_percent, 90) << "[Clean] read";
    EXPECT_TRUE(settings.show_status_on_clean) << "[App] read";
    EXPECT_STREQ(settings.exclude_list, c.list);
    EXPECT_FALSE(settings.keep_file);
    EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES);
    // The file took its new form in one step, before the first key was read.
    size_t moved = played.calls.size(), first_read = played.calls.size();
    for (size_t i = 0; i < played.calls.size(); ++i) {
      if (played.calls[i].call == "move_file") moved = i;
      if (played.calls[i].call == "get_profile_int" && first_read == played.calls.size()) first_read = i;
    }
    ASSERT_LT(first_read, played.calls.size());
    if (c.bytes == Utf16File(latin)) {
      EXPECT_EQ(moved, played.calls.size()) << "nothing to convert";
    } else {
      EXPECT_LT(moved, first_read);
    }
  }
}

// A file that cannot be converted (the replace fails, the file is held
// against it, the new file's name is taken by a link) is read as it stands,
// and no save of that run replaces it with values it may never have given.
TEST_F(SettingsFile, AFileThatCannotBeConvertedIsReadAsItStandsAndNeverSavedOver) {
  enum Trouble { REPLACE_FAILS, HELD_OPEN, NEW_FILE_A_LINK };
  const struct {
    const char* what;
    Trouble trouble;
  } cases[] = {{"the replace fails", REPLACE_FAILS},
               {"config.ini held open against deleting", HELD_OPEN},
               {"config.ini.new is a symbolic link", NEW_FILE_A_LINK}};
  const std::string old = "\xEF\xBB\xBF[Clean]\r\nthreshold_percent=90\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteConfig(old));
    ResetPlayedFiles();
    played.failing_move = c.trouble == REPLACE_FAILS;
    if (c.trouble == NEW_FILE_A_LINK) played.reparse_point = new_config_;
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (c.trouble == HELD_OPEN) {
      holder = CreateFileW(config_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    }
    Settings settings;
    LoadSettings(settings, kPlayedFilePlatform, UserToken());
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_EQ(settings.threshold_percent, 90) << "Wine's profile functions read the UTF-8 mark";
    EXPECT_TRUE(settings.keep_file);
    EXPECT_EQ(ReadFileBytes(config_), old);
    EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES);
    // With the trouble gone, a save of this run still leaves the file alone.
    ResetPlayedFiles();
    settings.interval_minutes = 45;
    EXPECT_FALSE(SaveSettings(settings, kPlayedFilePlatform, UserToken()));
    EXPECT_TRUE(played.calls.empty()) << "refused before any file call";
    EXPECT_EQ(ReadFileBytes(config_), old);
    // The next run's load converts it.
    Settings next;
    LoadSettings(next, kSystemFilePlatform, UserToken());
    EXPECT_FALSE(next.keep_file);
    EXPECT_EQ(Utf16Text(ReadFileBytes(config_)), L"[Clean]\r\nthreshold_percent=90\r\n");
  }
}

TEST(TextEncoding, ToldByTheByteOrderMarkAsTheProfileFunctionsDo) {
  struct Case {
    std::string head;
    TextEncoding encoding;
    size_t mark;
  };
  const Case cases[] = {
      {std::string("\xFF\xFE[\0", 4), TEXT_UTF16LE, 2}, {"\xFF\xFE", TEXT_UTF16LE, 2},     {std::string("\xFE\xFF\0[", 4), TEXT_UTF16BE, 2},
      {"\xEF\xBB\xBF[", TEXT_UTF8, 3},  {"\xEF\xBB", TEXT_ANSI, 0},         {"[Clean]", TEXT_ANSI, 0},
      {std::string("[\0C\0", 4), TEXT_ANSI, 0},         {"", TEXT_ANSI, 0},                 {"\xFF", TEXT_ANSI, 0},
  };
  for (const Case& c : cases) {
    size_t mark = 99;
    EXPECT_EQ(DetectTextEncoding(reinterpret_cast<const BYTE*>(c.head.data()), c.head.size(), mark), c.encoding)
        << c.head.size();
    EXPECT_EQ(mark, c.mark) << c.head.size();
  }
}

TEST(TextEncoding, ReadsEndOnWholeCharacters) {
  struct Case {
    TextEncoding encoding;
    UINT code_page;
    std::string bytes;
    size_t whole;
  };
  const Case cases[] = {
      {TEXT_UTF8, 1252, "ab", 2},
      {TEXT_UTF8, 1252, "a\xC3\xA9", 3},
      {TEXT_UTF8, 1252, "a\xC3", 1},
      {TEXT_UTF8, 1252, "a\xE2\x82", 1},
      {TEXT_UTF8, 1252, "a\xE2\x82\xAC", 4},
      {TEXT_UTF8, 1252, "a\xF0\x9F\x98", 1},
      {TEXT_UTF8, 1252, "a\xF0\x9F\x98\x80", 5},
      {TEXT_UTF8, 1252, "\x80\x80\x80\x80", 4},  // stray continuation bytes wait for nothing
      {TEXT_UTF16LE, 1252, std::string("a\0b", 3), 2},
      {TEXT_UTF16BE, 1252, std::string("\0a\0b", 4), 4},
      {TEXT_ANSI, 1252, "abc", 3},
      {TEXT_ANSI, 1252, "a\xC3", 2},
      {TEXT_UTF8, 1252, "", 0},
      // A double-byte code page: a lead byte waits for its trail byte, and
      // a trail byte that looks like a lead byte is none.
      {TEXT_ANSI, 932, "a\x93", 1},
      {TEXT_ANSI, 932, "a\x93\xFA", 3},
      {TEXT_ANSI, 932, "\x82\x82\x82", 2},
      // Code page 65001 makes ANSI text UTF-8.
      {TEXT_ANSI, 65001, "a\xC3", 1},
      {TEXT_ANSI, 65001, "a\xE2\x82", 1},
      {TEXT_ANSI, 65001, "a\xE2\x82\xAC", 4},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WholeCharacterBytes(c.encoding, c.code_page, reinterpret_cast<const BYTE*>(c.bytes.data()),
                                  c.bytes.size()),
              c.whole)
        << c.encoding << " " << c.code_page << " " << c.bytes.size();

  wchar_t text[8] = {};
  const BYTE big_endian[] = {0x00, 'a', 0x65, 0xE5};
  ASSERT_EQ(DecodeText(TEXT_UTF16BE, 1252, big_endian, 4, text), 2u);
  EXPECT_EQ(std::wstring(text, 2), L"a\u65e5");
  const BYTE little_endian[] = {'a', 0x00, 0xE5, 0x65, 'z'};
  ASSERT_EQ(DecodeText(TEXT_UTF16LE, 1252, little_endian, 5, text), 2u) << "an odd last byte is no character";
  EXPECT_EQ(std::wstring(text, 2), L"a\u65e5");
  const BYTE utf8[] = {'c', 0xC3, 0xA9};
  ASSERT_EQ(DecodeText(TEXT_UTF8, 1252, utf8, 3, text), 2u);
  EXPECT_EQ(std::wstring(text, 2), L"c\u00e9");
  ASSERT_EQ(DecodeText(TEXT_ANSI, 1252, utf8, 3, text), 3u);
  EXPECT_EQ(std::wstring(text, 3), L"c\u00c3\u00a9") << "ANSI in its code page";
  ASSERT_EQ(DecodeText(TEXT_ANSI, 65001, utf8, 3, text), 2u);
  EXPECT_EQ(std::wstring(text, 2), L"c\u00e9") << "ANSI in code page 65001 is UTF-8";
  const BYTE shift_jis[] = {0x93, 0xFA, 0x96, 0x7B};
  ASSERT_EQ(DecodeText(TEXT_ANSI, 932, shift_jis, 4, text), 2u);
  EXPECT_EQ(std::wstring(text, 2), L"\u65e5\u672c");
}

// A file without a mark is UTF-8 only when all of it is, and some of it
// lies beyond ASCII.
TEST(TextEncoding, FilesWithoutAMarkAreUtf8OnlyWhenWhollyUtf8) {
  struct Case {
    const char* what;
    std::vector<std::string> pieces;
    bool utf8;
  };
  const Case cases[] = {
      {"ASCII", {"[Clean]\r\n", "x=1\r\n"}, false},
      {"UTF-8", {"[Clean]\r\n", "exclude_list=caf\xC3\xA9.exe\r\n"}, true},
      {"UTF-8 in the last piece only", {"[Clean]\r\n", "\xE2\x82\xAC"}, true},
      {"ANSI", {"exclude_list=caf\xE9.exe\r\n"}, false},
      {"UTF-8, then an ANSI byte", {"caf\xC3\xA9\r\n", "caf\xE9\r\n"}, false},
      {"an ANSI byte, then UTF-8", {"caf\xE9\r\n", "caf\xC3\xA9\r\n"}, false},
      {"a character cut off at the end", {"caf\xC3\xA9\r\n", "\xE2\x82"}, false},
      {"an overlong form", {"\xC0\xAF"}, false},
      {"a surrogate", {"\xED\xA0\x80"}, false},
      {"nothing", {}, false},
  };
  for (const Case& c : cases) {
    Utf8Evidence evidence = {};
    for (const std::string& piece : c.pieces)
      WeighUtf8(evidence, reinterpret_cast<const BYTE*>(piece.data()), piece.size());
    EXPECT_EQ(IsUtf8Text(evidence), c.utf8) << c.what;
  }
}

namespace {

// A config.ini with its own values, and the played file calls.
class OldSettingsFile : public SettingsFile {
 protected:
  void SetUp() override {
    SettingsFile::SetUp();
    ResetPlayedFiles();
    ASSERT_TRUE(WriteConfig(kOld));
  }
  void TearDown() override {
    EXPECT_TRUE(played.open.empty()) << "every handle closed";
    SettingsFile::TearDown();
  }
  static constexpr const char* kOld = "[Clean]\r\nthreshold_percent=90\r\n";
  std::wstring folder_ = AppFolder();
};

// A save refused or failed halfway leaves the old file whole.
class SettingsSaveFailure : public OldSettingsFile {};
// A link in place of the folder or config.ini is neither read nor written.
class SettingsFileLinks : public OldSettingsFile {};

}  // namespace

TEST_F(SettingsSaveFailure, SaveRefusedOrFailedLeavesTheOldFileWhole) {
  struct Case {
    PlantedLink link;
    int failing_profile_write;
    bool failing_move;
  };
  const Case cases[] = {
      {{"folder is a junction", folder_, L"", L""}, 0, false},
      {{"config.ini is a symbolic link", config_, L"", L""}, 0, false},
      {{"config.ini.new is a symbolic link", new_config_, L"", L""}, 0, false},
      {{"folder resolves elsewhere", L"", folder_, L"C:\\windows"}, 0, false},
      {{"config.ini resolves elsewhere", L"", config_, L"C:\\windows\\win.ini"}, 0, false},
      {{"config.ini.new resolves elsewhere", L"", new_config_, L"C:\\windows\\win.ini"}, 0, false},
      {{"first key not written", L"", L"", L""}, 1, false},
      {{"sixth key not written", L"", L"", L""}, 6, false},
      {{"exclusion list not written", L"", L"", L""}, 18, false},
      {{"new file not moved into place", L"", L"", L""}, 0, true},
  };
  Settings settings = Defaults();
  settings.threshold_percent = 42;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link.what);
    PlantLink(c.link);
    played.failing_profile_write = c.failing_profile_write;
    played.failing_move = c.failing_move;
    EXPECT_FALSE(SaveSettings(settings, kPlayedFilePlatform, UserToken()));
    EXPECT_EQ(ReadFileBytes(config_), kOld);
    EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES) << "no half-written file left";
    EXPECT_TRUE(played.open.empty());
  }
  // The same calls, played without trouble, save.
  ResetPlayedFiles();
  EXPECT_TRUE(SaveSettings(settings, kPlayedFilePlatform, UserToken()));
  EXPECT_EQ(played.profile_writes, 21);
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"threshold_percent", 0, config_.c_str()), 42u);
}

TEST_F(SettingsSaveFailure, OldFileThatCannotBeReplacedStaysWhole) {
  // Another program holds config.ini open and forbids deleting it.
  HANDLE holder = CreateFileW(config_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  Settings settings = Defaults();
  EXPECT_FALSE(SaveSettings(settings, kSystemFilePlatform, UserToken()));
  CloseHandle(holder);
  EXPECT_EQ(ReadFileBytes(config_), kOld);
  EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES);

  // A new file left by a save cut short is no obstacle.
  ASSERT_TRUE(WriteFileBytes(new_config_, "half"));
  EXPECT_TRUE(SaveSettings(settings, kSystemFilePlatform, UserToken()));
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"threshold_percent", 0, config_.c_str()), 80u);
  EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SettingsFileLinks, LoadThroughALinkKeepsTheDefaultsAndWritesNothing) {
  for (const PlantedLink& link : LinksPlantedAt(folder_, config_)) {
    SCOPED_TRACE(link.what);
    PlantLink(link);
    Settings settings;
    EXPECT_TRUE(LoadSettings(settings, kPlayedFilePlatform, UserToken()));
    Settings defaults = Defaults();
    // A config.ini that is there but refused is kept from this run's saves.
    defaults.keep_file = link.reparse_point == config_ || link.moved == config_;
    defaults.unread = 1;  // and start at logon is left alone
    EXPECT_EQ(memcmp(&settings, &defaults, sizeof settings), 0) << "the file's 90 was not read";
    EXPECT_FALSE(SaveSettings(settings, kPlayedFilePlatform, UserToken()));
    EXPECT_EQ(ReadFileBytes(config_), kOld);
    EXPECT_EQ(played.profile_writes, 0);
    EXPECT_TRUE(played.open.empty());
  }
  ResetPlayedFiles();
  Settings settings;
  LoadSettings(settings, kPlayedFilePlatform, UserToken());
  EXPECT_EQ(settings.threshold_percent, 90);
}

// Hard links work under Wine: config.ini as a second name of another file is
// neither read nor replaced.
TEST_F(SettingsFileLinks, HardLinkedConfigIsNeitherReadNorSaved) {
  std::wstring other = folder_ + L"-other.ini";
  const std::string secret = "[Clean]\r\nexclude_list=secret.exe\r\n";
  ASSERT_TRUE(WriteFileBytes(other, secret));
  DeleteFileW(config_.c_str());
  ASSERT_TRUE(CreateHardLinkW(config_.c_str(), other.c_str(), nullptr));
  Settings settings;
  LoadSettings(settings, kSystemFilePlatform, UserToken());
  EXPECT_STREQ(settings.exclude_list, L"");
  EXPECT_FALSE(SaveSettings(settings, kSystemFilePlatform, UserToken()));
  EXPECT_EQ(ReadFileBytes(config_), secret);
  EXPECT_EQ(ReadFileBytes(other), secret);
  EXPECT_EQ(GetFileAttributesW(new_config_.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileW(other.c_str());
}
