// Settings record, config.ini and the Run value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "tests/support.h"

namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { DeleteAppFolder(); }
  void TearDown() override { DeleteAppFolder(); }
  std::wstring config_ = AppFile(L"config.ini");

  void WriteConfig(const std::string& text) {
    CreateDirectoryW(AppFolder().c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(config_, text));
  }
  // "key=value" lines of a section, in file order.
  std::vector<std::wstring> SectionLines(const wchar_t* section) {
    wchar_t buffer[8192] = {};
    GetPrivateProfileSectionW(section, buffer, 8192, config_.c_str());
    std::vector<std::wstring> lines;
    for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) lines.push_back(p);
    return lines;
  }
};

Settings Defaults() {
  Settings settings;
  InitDefaultSettings(settings);
  return settings;
}

}  // namespace

TEST(Settings, DefaultsReplaceWhateverTheRecordHeld) {
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
}

TEST_F(SettingsFile, FirstRunWritesTheTwelveDefaultsInOrder) {
  Settings settings;
  EXPECT_TRUE(LoadSettings(settings));
  Settings defaults = Defaults();
  EXPECT_EQ(memcmp(&settings, &defaults, sizeof settings), 0);
  std::vector<std::wstring> clean = {L"threshold_percent=80", L"interval_minutes=30", L"on_idle_minutes=5",
                                     L"on_boot_delay=60",     L"silent_mode=0",       L"auto_clean=1",
                                     L"clean_hour=-1",        L"clean_minute=0",      L"notify_min_mb=10",
                                     L"exclude_list="};
  std::vector<std::wstring> app_keys = {L"start_with_windows=0", L"show_status_on_clean=0"};
  EXPECT_EQ(SectionLines(L"Clean"), clean);
  EXPECT_EQ(SectionLines(L"App"), app_keys);
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
  };
  for (const Case& c : cases) {
    WriteConfig(c.file);
    Settings settings;
    LoadSettings(settings);
    int32_t got = c.number ? settings.*c.number : settings.*c.flag;
    EXPECT_EQ(got, c.expected) << c.file;
    // Every other field keeps its default.
    Settings expected = Defaults();
    if (c.number) expected.*c.number = c.expected;
    else expected.*c.flag = c.expected != 0;
    EXPECT_EQ(memcmp(&settings, &expected, sizeof settings), 0) << c.file;
    // A load never adds the missing keys.
    EXPECT_EQ(ReadFileBytes(config_), c.file);
  }
}

TEST_F(SettingsFile, GarbageInOneKeyLeavesTheOthersAlone) {
  WriteConfig("[Clean]\r\nthreshold_percent=abc\r\ninterval_minutes=99999999999999\r\non_idle_minutes=7\r\n"
              "\x01\x02\xff=\xfe\r\n[App]\r\nstart_with_windows=1\r\n");
  Settings settings;
  EXPECT_TRUE(LoadSettings(settings));
  EXPECT_EQ(settings.on_idle_minutes, 7);
  EXPECT_TRUE(settings.start_with_windows);
  EXPECT_EQ(settings.on_boot_delay, 60);
}

TEST_F(SettingsFile, ExclusionListLoadsAtMost255Characters) {
  std::string list(300, 'x');
  WriteConfig("[Clean]\r\nexclude_list=" + list + "\r\n");
  Settings settings;
  LoadSettings(settings);
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
  wcscpy(saved.exclude_list, L"chrome.exe, Code.exe");
  SaveSettings(saved);
  EXPECT_EQ(SectionLines(L"Clean").size(), 10u);
  EXPECT_EQ(SectionLines(L"App").size(), 2u);
  Settings loaded;
  LoadSettings(loaded);
  EXPECT_EQ(memcmp(&saved, &loaded, sizeof saved), 0);

  // An empty list is written as a present, empty key.
  saved.exclude_list[0] = 0;
  SaveSettings(saved);
  wchar_t value[8] = L"?";
  GetPrivateProfileStringW(L"Clean", L"exclude_list", L"missing", value, 8, config_.c_str());
  EXPECT_STREQ(value, L"");
}

TEST(RunCommand, QuotesWholePathsAndRefusesCutOnes) {
  struct Case {
    std::wstring path;
    bool ok;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\Quillmere\\quillmere.exe", true},
      {L"C:\\q.exe", true},
      {std::wstring(259, L'a'), true},  // the longest path GetModuleFileNameW gives whole
      {std::wstring(260, L'a'), false},  // it answers 260 only when it cut the path
      {L"", false},
  };
  for (const Case& c : cases) {
    wchar_t command[MAX_PATH + 2];
    bool ok = BuildRunCommand(command, c.path.c_str(), static_cast<DWORD>(c.path.size()));
    EXPECT_EQ(ok, c.ok) << c.path.size();
    EXPECT_EQ(std::wstring(command), c.ok ? L"\"" + c.path + L"\"" : L"") << c.path.size();
  }
}

TEST(Autostart, RunValueFollowsTheChoice) {
  DeleteRunValue();
  EXPECT_TRUE(SetAutostart(false)) << "deleting a missing value is no error";
  EXPECT_EQ(ReadRunValue(), L"");

  wchar_t module[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(SetAutostart(true));
    DWORD type = 0, bytes = 0;
    EXPECT_EQ(ReadRunValue(&type, &bytes), L"\"" + std::wstring(module) + L"\"");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, (length + 3) * sizeof(wchar_t)) << "two quotes and the terminator";
  }
  EXPECT_TRUE(SetAutostart(false));
  EXPECT_EQ(ReadRunValue(), L"");
}
