// Settings record, config.ini, and start at logon (Run value and task).
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
  EXPECT_EQ(settings.free_below_mb, 0);
  EXPECT_TRUE(settings.trim_working_sets);
  EXPECT_TRUE(settings.flush_modified);
  EXPECT_TRUE(settings.purge_standby);
  EXPECT_TRUE(settings.flush_file_cache);
}

TEST_F(SettingsFile, FirstRunWritesEveryDefaultInOrder) {
  Settings settings;
  EXPECT_TRUE(LoadSettings(settings));
  Settings defaults = Defaults();
  EXPECT_EQ(memcmp(&settings, &defaults, sizeof settings), 0);
  std::vector<std::wstring> clean = {L"threshold_percent=80", L"interval_minutes=30", L"on_idle_minutes=5",
                                     L"on_boot_delay=60",     L"silent_mode=0",       L"auto_clean=1",
                                     L"clean_hour=-1",        L"clean_minute=0",      L"notify_min_mb=10",
                                     L"free_below_mb=0",      L"trim_working_sets=1", L"flush_modified=1",
                                     L"purge_standby=1",      L"flush_file_cache=1",  L"exclude_list="};
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
      {"[Clean]\r\nfree_below_mb=2048\r\n", &Settings::free_below_mb, nullptr, 2048},
      {"[Clean]\r\nfree_below_mb=70000\r\n", &Settings::free_below_mb, nullptr, 70000},  // past the window's range
      {"[Clean]\r\nfree_below_mb=-7\r\n", &Settings::free_below_mb, nullptr, -7},
      {"[Clean]\r\ntrim_working_sets=0\r\n", nullptr, &Settings::trim_working_sets, 0},
      {"[Clean]\r\nflush_modified=0\r\n", nullptr, &Settings::flush_modified, 0},
      {"[Clean]\r\npurge_standby=0\r\n", nullptr, &Settings::purge_standby, 0},
      {"[Clean]\r\nflush_file_cache=0\r\n", nullptr, &Settings::flush_file_cache, 0},
      {"[Clean]\r\npurge_standby=-3\r\n", nullptr, &Settings::purge_standby, 1},
      {"[App]\r\nflush_file_cache=0\r\n", nullptr, &Settings::flush_file_cache, 1},  // wrong section
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

TEST_F(SettingsFile, FileFromBeforeTheCleanStepsLoadsThemAsAFullClean) {
  const std::string old_file =
      "[Clean]\r\nthreshold_percent=70\r\ninterval_minutes=0\r\non_idle_minutes=9\r\non_boot_delay=0\r\n"
      "silent_mode=1\r\nauto_clean=1\r\nclean_hour=4\r\nclean_minute=30\r\nnotify_min_mb=50\r\n"
      "exclude_list=chrome.exe\r\n[App]\r\nstart_with_windows=1\r\nshow_status_on_clean=1\r\n";
  WriteConfig(old_file);
  Settings settings;
  memset(&settings, 0xAB, sizeof settings);
  LoadSettings(settings);
  EXPECT_EQ(settings.threshold_percent, 70);
  EXPECT_EQ(settings.clean_minute, 30);
  EXPECT_STREQ(settings.exclude_list, L"chrome.exe");
  EXPECT_EQ(settings.free_below_mb, 0) << "the free-memory trigger stays off";
  EXPECT_EQ(settings.trim_working_sets, 1);
  EXPECT_EQ(settings.flush_modified, 1);
  EXPECT_EQ(settings.purge_standby, 1);
  EXPECT_EQ(settings.flush_file_cache, 1);
  EXPECT_EQ(ReadFileBytes(config_), old_file) << "loading adds no key";

  // The next save keeps every line it had, in place, and adds the new keys.
  SaveSettings(settings);
  std::vector<std::wstring> clean = SectionLines(L"Clean");
  const std::vector<std::wstring> kept = {L"threshold_percent=70", L"interval_minutes=0", L"on_idle_minutes=9",
                                          L"on_boot_delay=0",      L"silent_mode=1",      L"auto_clean=1",
                                          L"clean_hour=4",         L"clean_minute=30",    L"notify_min_mb=50",
                                          L"exclude_list=chrome.exe"};
  const std::vector<std::wstring> added = {L"free_below_mb=0", L"trim_working_sets=1", L"flush_modified=1",
                                           L"purge_standby=1", L"flush_file_cache=1"};
  ASSERT_EQ(clean.size(), kept.size() + added.size());
  EXPECT_EQ(std::vector<std::wstring>(clean.begin(), clean.begin() + 10), kept);
  EXPECT_EQ(std::vector<std::wstring>(clean.begin() + 10, clean.end()), added);
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
  saved.free_below_mb = 70000;
  saved.trim_working_sets = false;
  saved.flush_file_cache = false;
  wcscpy(saved.exclude_list, L"chrome.exe, Code.exe");
  SaveSettings(saved);
  EXPECT_EQ(SectionLines(L"Clean").size(), 15u);
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

TEST(AccountName, JoinsDomainAndName) {
  struct Case {
    const wchar_t* domain;
    std::wstring name;
    const wchar_t* expected;  // null: refused
  };
  const std::wstring longest(256, L'n');
  const Case cases[] = {
      {L"VM", L"root", L"VM\\root"},
      {L"", L"root", L"root"},
      {nullptr, L"root", L"root"},
      {L"VM", L"", nullptr},
      {L"", L"", nullptr},
  };
  for (const Case& c : cases) {
    wchar_t user[ACCOUNT_NAME_CAPACITY];
    wmemset(user, L'#', ACCOUNT_NAME_CAPACITY);
    EXPECT_EQ(JoinAccountName(user, c.domain, c.name.c_str()), c.expected != nullptr) << Narrow(c.name);
    EXPECT_STREQ(user, c.expected ? c.expected : L"");
  }
  // The longest names the system gives fit whole.
  wchar_t user[ACCOUNT_NAME_CAPACITY];
  ASSERT_TRUE(JoinAccountName(user, longest.c_str(), longest.c_str()));
  EXPECT_EQ(std::wstring(user), longest + L"\\" + longest);
  EXPECT_FALSE(JoinAccountName(user, longest.c_str(), (longest + longest).c_str()));
  EXPECT_STREQ(user, L"");
}

TEST(AccountName, IsTheProcessUser) {
  wchar_t user[ACCOUNT_NAME_CAPACITY];
  ASSERT_TRUE(GetProcessUserName(user));
  // This process inherited an environment that names the same account.
  wchar_t domain[256] = {}, name[256] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"USERDOMAIN", domain, 256), 0u);
  ASSERT_GT(GetEnvironmentVariableW(L"USERNAME", name, 256), 0u);
  EXPECT_EQ(_wcsicmp(user, (std::wstring(domain) + L"\\" + name).c_str()), 0) << Narrow(user);
}

TEST(TaskXml, StartsTheUserElevatedAtLogonWithTheQuotedPath) {
  wchar_t xml[TASK_XML_CAPACITY];
  ASSERT_TRUE(BuildTaskXml(xml, L"VM\\root", L"\"C:\\Program Files\\Quillmere\\quillmere.exe\""));
  EXPECT_STREQ(xml,
               L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
               L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
               L"  <Triggers>\r\n"
               L"    <LogonTrigger>\r\n"
               L"      <Enabled>true</Enabled>\r\n"
               L"      <UserId>VM\\root</UserId>\r\n"
               L"    </LogonTrigger>\r\n"
               L"  </Triggers>\r\n"
               L"  <Principals>\r\n"
               L"    <Principal id=\"Author\">\r\n"
               L"      <UserId>VM\\root</UserId>\r\n"
               L"      <LogonType>InteractiveToken</LogonType>\r\n"
               L"      <RunLevel>HighestAvailable</RunLevel>\r\n"
               L"    </Principal>\r\n"
               L"  </Principals>\r\n"
               L"  <Settings>\r\n"
               L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
               L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
               L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
               L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
               L"    <Priority>5</Priority>\r\n"
               L"  </Settings>\r\n"
               L"  <Actions Context=\"Author\">\r\n"
               L"    <Exec>\r\n"
               L"      <Command>\"C:\\Program Files\\Quillmere\\quillmere.exe\"</Command>\r\n"
               L"    </Exec>\r\n"
               L"  </Actions>\r\n"
               L"</Task>\r\n");
}

TEST(TaskXml, EscapesMarkupAndRefusesWhatCannotBeWritten) {
  struct Case {
    std::wstring user;
    std::wstring command;
    bool ok;
    std::wstring expected_user;  // as it stands in both UserId elements
    std::wstring expected_command;
  };
  const std::wstring all_amps(256, L'&');
  const std::wstring escaped_amps = [&] {
    std::wstring text;
    for (size_t i = 0; i < all_amps.size(); ++i) text += L"&amp;";
    return text;
  }();
  const Case cases[] = {
      {L"R&D\\<ann>", L"\"C:\\Tools & More\\q.exe\"", true, L"R&amp;D\\&lt;ann&gt;",
       L"\"C:\\Tools &amp; More\\q.exe\""},
      // The longest account and path, every character escaped, still fit.
      {all_amps + L"\\" + all_amps, L"\"C:\\" + std::wstring(255, L'&') + L"\"", true,
       escaped_amps + L"\\" + escaped_amps, L"\"C:\\" + escaped_amps.substr(5) + L"\""},
      {L"", L"\"C:\\q.exe\"", false, L"", L""},
      {L"VM\\root", L"", false, L"", L""},
      {L"VM\\ro\not", L"\"C:\\q.exe\"", false, L"", L""},
      {L"VM\\root", L"\"C:\\q\t.exe\"", false, L"", L""},
      {std::wstring(5000, L'u'), L"\"C:\\q.exe\"", false, L"", L""},
  };
  for (const Case& c : cases) {
    wchar_t xml[TASK_XML_CAPACITY];
    wmemset(xml, L'#', TASK_XML_CAPACITY);
    ASSERT_EQ(BuildTaskXml(xml, c.user.c_str(), c.command.c_str()), c.ok) << Narrow(c.user);
    std::wstring text = xml;
    if (!c.ok) {
      EXPECT_EQ(text, L"") << "nothing half-written for " << Narrow(c.user);
      continue;
    }
    std::wstring user = L"<UserId>" + c.expected_user + L"</UserId>";
    size_t first = text.find(user);
    ASSERT_NE(first, std::wstring::npos);
    EXPECT_NE(text.find(user, first + 1), std::wstring::npos) << "trigger and principal";
    EXPECT_NE(text.find(L"<Command>" + c.expected_command + L"</Command>"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 9), L"</Task>\r\n");
  }
  wchar_t xml[TASK_XML_CAPACITY];
  EXPECT_FALSE(BuildTaskXml(xml, nullptr, L"\"C:\\q.exe\""));
  EXPECT_FALSE(BuildTaskXml(xml, L"VM\\root", nullptr));
}

namespace {

// Each test starts and ends with neither entry present.
class AutostartTask : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRunValue();
    DeleteAutostartTask();
    ASSERT_FALSE(ReadAutostartTask().exists);
  }
  void TearDown() override {
    DeleteRunValue();
    DeleteAutostartTask();
  }
  std::wstring QuotedModulePath() {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    return L"\"" + std::wstring(module) + L"\"";
  }
};

}  // namespace

TEST_F(AutostartTask, EnablingTwiceLeavesOneTaskBesideTheRunValue) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(SetAutostart(true)) << "round " << round;
    EXPECT_EQ(ReadRunValue(), QuotedModulePath());
    TaskView task = ReadAutostartTask();
    ASSERT_TRUE(task.exists);
    // Each differs from the scheduler's own default.
    ExpectAutostartTaskSettings(task);
    EXPECT_EQ(task.priority, 5);
  }
}

TEST_F(AutostartTask, TaskStartsThisUserElevatedAtLogonWithTheQuotedPath) {
  ASSERT_TRUE(SetAutostart(true));
  TaskView task = ReadAutostartTask();
  ASSERT_TRUE(task.exists);
  if (!task.reported) GTEST_SKIP() << "this Task Scheduler keeps no trigger, principal or action (Wine 8)";
  wchar_t user[ACCOUNT_NAME_CAPACITY];
  ASSERT_TRUE(GetProcessUserName(user));
  EXPECT_EQ(task.triggers, 1);
  EXPECT_EQ(task.trigger_type, TASK_TRIGGER_LOGON);
  EXPECT_EQ(_wcsicmp(task.trigger_user.c_str(), user), 0) << Narrow(task.trigger_user);
  EXPECT_EQ(_wcsicmp(task.principal_user.c_str(), user), 0) << Narrow(task.principal_user);
  EXPECT_EQ(task.run_level, TASK_RUNLEVEL_HIGHEST);
  EXPECT_EQ(task.logon_type, TASK_LOGON_INTERACTIVE_TOKEN);
  EXPECT_EQ(task.command, QuotedModulePath());
}

TEST_F(AutostartTask, DisablingRemovesBothAndMissingOnesAreNoError) {
  EXPECT_TRUE(SetAutostart(false)) << "neither exists";
  ASSERT_TRUE(SetAutostart(true));
  ASSERT_TRUE(ReadAutostartTask().exists);
  EXPECT_TRUE(SetAutostart(false));
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_TRUE(SetAutostart(false)) << "again, with both gone";
}
