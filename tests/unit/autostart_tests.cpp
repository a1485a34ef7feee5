// Start at logon as the program applies it: what is written, removed and
// told, for each exe, desktop and switch, through the played system.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "settings/settings_internal.h"
#include "tests/support.h"
#include "tests/support/logon_entries.h"
#include "tests/support/in_language.h"

// Why an entry is missing only when just switched on; a run as another
// account and a failure whenever they come, at start too.
TEST(AutostartNotice, WhyAnEntryIsMissingWhenJustSwitchedOnAndEveryFailure) {
  struct Case {
    bool was_on;
    bool on;
    AutostartResult result;
    AutostartNotice notice;
  };
  const Case cases[] = {
      {0, 1, AUTOSTART_RUN_VALUE_ONLY, AUTOSTART_NOTICE_NOT_ELEVATED},
      {1, 1, AUTOSTART_RUN_VALUE_ONLY, AUTOSTART_NOTICE_NONE},
      {0, 1, AUTOSTART_NEITHER, AUTOSTART_NOTICE_NOT_TRUSTED},
      {1, 1, AUTOSTART_NEITHER, AUTOSTART_NOTICE_NONE},
      // Run as another account: told while on or just switched; off all
      // along asks nothing of it.
      {0, 1, AUTOSTART_OTHER_ACCOUNT, AUTOSTART_NOTICE_OTHER_ACCOUNT},
      {1, 1, AUTOSTART_OTHER_ACCOUNT, AUTOSTART_NOTICE_OTHER_ACCOUNT},
      {1, 0, AUTOSTART_OTHER_ACCOUNT, AUTOSTART_NOTICE_OTHER_ACCOUNT},
      {0, 0, AUTOSTART_OTHER_ACCOUNT, AUTOSTART_NOTICE_NONE},
      {0, 1, AUTOSTART_ACCOUNT_UNKNOWN, AUTOSTART_NOTICE_FAILED},  // tried again at the next start
      {1, 1, AUTOSTART_ACCOUNT_UNKNOWN, AUTOSTART_NOTICE_NONE},   // started at logon ahead of the shell
      {0, 1, AUTOSTART_DONE, AUTOSTART_NOTICE_NONE},
      {1, 1, AUTOSTART_DONE, AUTOSTART_NOTICE_NONE},
      {1, 0, AUTOSTART_DONE, AUTOSTART_NOTICE_NONE},
      {0, 1, AUTOSTART_FAILED, AUTOSTART_NOTICE_FAILED},
      {1, 1, AUTOSTART_FAILED, AUTOSTART_NOTICE_FAILED},
      {1, 0, AUTOSTART_FAILED, AUTOSTART_NOTICE_FAILED},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AutostartNoticeFor(c.was_on, c.on, c.result), c.notice) << c.was_on << c.on << " " << c.result;
}

TEST(AutostartNotice, OtherAccountNamesBothAccounts) {
  struct Case {
    const wchar_t* process;
    const wchar_t* signed_in;
    const wchar_t* text;
  };
  const Case cases[] = {
      {L"CONTOSO\\alice", L"CONTOSO\\bob",
       L"Quillmere runs as CONTOSO\\alice here, not as CONTOSO\\bob; start with Windows needs Quillmere run from an "
       L"administrator's own account."},
      {L"alice", L"", L"Quillmere runs as alice here, not as the signed-in user; start with Windows needs Quillmere "
                      L"run from an administrator's own account."},
  };
  for (const Case& c : cases) {
    AutostartAccounts accounts = {};
    wcscpy(accounts.process, c.process);
    wcscpy(accounts.signed_in, c.signed_in);
    wchar_t text[512];
    EXPECT_TRUE(FormatOtherAccountNotice(text, 512, accounts));
    EXPECT_STREQ(text, c.text);
  }
}

// In every language, with the language's own words for an account that
// could not be read.
TEST_F(ShownInLanguage, OtherAccountNoticeInEachLanguage) {
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    ShowIn(language, L",");
    const std::wstring this_account = StringIn(language, IDS_THIS_ACCOUNT);
    const std::wstring signed_in_user = StringIn(language, IDS_SIGNED_IN_USER);
    struct Case {
      const wchar_t* process;
      const wchar_t* signed_in;
      std::wstring text;
    };
    const Case cases[] = {
        {L"CONTOSO\\alice", L"CONTOSO\\bob",
         TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, L"CONTOSO\\alice", L"CONTOSO\\bob")},
        {L"alice", L"", TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, L"alice", signed_in_user.c_str())},
        {L"", L"bob", TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, this_account.c_str(), L"bob")},
    };
    for (const Case& c : cases) {
      AutostartAccounts accounts = {};
      wcscpy(accounts.process, c.process);
      wcscpy(accounts.signed_in, c.signed_in);
      wchar_t text[512];
      EXPECT_TRUE(FormatOtherAccountNotice(text, 512, accounts));
      EXPECT_EQ(std::wstring(text), c.text) << LanguageTag(language);
    }
  }
  // And English, word for word.
  ShowIn(0, L".");
  AutostartAccounts accounts = {};
  wcscpy(accounts.signed_in, L"bob");
  wchar_t text[512];
  FormatOtherAccountNotice(text, 512, accounts);
  EXPECT_STREQ(text, L"Quillmere runs as this account here, not as bob; start with Windows needs Quillmere run from "
                     L"an administrator's own account.");
}

namespace {

// SetAutostart: the Run value and the task as "Start with Windows" asks.
class StartWithWindows : public LogonEntries {};

}  // namespace

TEST_F(StartWithWindows, RunValueFollowsTheChoice) {
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE) << "deleting a missing value is no error";
  EXPECT_EQ(ReadRunValue(), L"");

  const std::wstring module = TestExePath();
  for (int round = 0; round < 2; ++round) {
    // A copy in a folder of the user's own: no task.
    EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
    DWORD type = 0, bytes = 0;
    EXPECT_EQ(ReadRunValue(&type, &bytes), Quoted(module));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, (module.size() + 3) * sizeof(wchar_t)) << "two quotes and the terminator";
  }
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE);
  EXPECT_EQ(ReadRunValue(), L"");
}

// An exe only the administrators can change gets the task, which starts it
// by its judged path and names the user by SID; once the user could change
// it, the task goes again. A task that cannot be registered or removed is a
// failure.
TEST_F(StartWithWindows, TheTaskFollowsThePermissionsOfTheExe) {
  task_scheduler_ = &kFakeSchedulerWithStore;
  fake_scheduler = FakeScheduler{};
  fake_scheduler.registering_user = sid_;
  const std::wstring exe = L"\\\\?\\" + TestExePath();
  const std::wstring task_name = UserTaskName();

  played_exe_access.fallback.clear();  // an installer's, all the way up
  ASSERT_EQ(Autostart(true), AUTOSTART_DONE);
  EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));
  ASSERT_FALSE(played_exe_access.asked.empty());
  EXPECT_EQ(played_exe_access.asked[0].path, exe);
  ASSERT_TRUE(fake_scheduler.Has(task_name.c_str()));
  std::wstring xml = fake_scheduler.tasks[task_name].xml;
  std::wstring user_id = std::wstring(L"<UserId>") + sid_ + L"</UserId>";
  size_t trigger = xml.find(user_id);
  ASSERT_NE(trigger, std::wstring::npos) << Narrow(xml);
  EXPECT_NE(xml.find(user_id, trigger + 1), std::wstring::npos) << "the principal too";
  EXPECT_NE(xml.find(L"<Command>" + Quoted(TestExePath()) + L"</Command>"), std::wstring::npos);
  EXPECT_EQ(fake_scheduler.tasks[task_name].sddl,
            std::wstring(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;") + sid_ + L")");

  played_exe_access.sddl[exe] = OwnSddl(sid_);  // moved in with the user's own permissions
  EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
  EXPECT_FALSE(fake_scheduler.Has(task_name.c_str()));
  EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));

  played_exe_access.sddl.clear();
  played_exe_access.bus = BusTypeUsb;  // a USB hard disk that calls itself fixed
  EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
  EXPECT_FALSE(fake_scheduler.Has(task_name.c_str()));
  played_exe_access.bus = BusTypeSata;

  played_exe_access.sddl[exe] = OwnSddl(sid_);
  fake_scheduler.reachable = false;
  task_scheduler_ = &kFakeScheduler;  // a store that cannot be looked into
  EXPECT_EQ(Autostart(true), AUTOSTART_FAILED) << "a task of ours may be left";
  played_exe_access.sddl.clear();
  EXPECT_EQ(Autostart(true), AUTOSTART_FAILED) << "the task could not be registered";
  EXPECT_EQ(Autostart(false), AUTOSTART_FAILED) << "the task could not be removed";
  EXPECT_EQ(ReadRunValue(), L"");
}

// A copy another account can change gets neither entry, whatever its task
// would have been: both left from before go.
TEST_F(StartWithWindows, AnExeAnotherAccountCanChangeGetsNeither) {
  task_scheduler_ = &kFakeSchedulerWithStore;
  const std::wstring exe = L"\\\\?\\" + TestExePath();
  const std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
  struct Case {
    const char* what;
    std::wstring path;
    std::wstring sddl;
  };
  const Case cases[] = {
      {"the exe is Bob's", exe, OwnSddl(kBob)},
      {"its folder lets Authenticated Users change it", folder, kSharedToolsSddl},
      {"its folder lets Bob add files", folder, OwnSddl(sid_) + L"(A;;0x2;;;" + std::wstring(kBob) + L")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_scheduler = FakeScheduler{};
    fake_scheduler.tasks[UserTaskName()] = {L"<Task/>", sid_, L""};
    WriteRunMarker();
    played_exe_access.sddl = {{c.path, c.sddl}};
    EXPECT_EQ(Autostart(true), AUTOSTART_NEITHER);
    EXPECT_EQ(ReadRunValue(), L"");
    EXPECT_FALSE(fake_scheduler.Has(UserTaskName().c_str()));
  }
}

// Run as another account than the desktop's (an administrator's password
// typed at a standard user's prompt), Quillmere writes nothing and removes
// nothing, on or off, even for a copy only administrators can change: its
// entries were written and judged on its own desktop. It names both
// accounts.
TEST_F(StartWithWindows, RunAsAnotherAccountThanTheDesktopsWritesAndRemovesNothing) {
  task_scheduler_ = &kFakeSchedulerWithStore;
  played_exe_access.fallback.clear();  // an installer's, all the way up
  wchar_t own_name[ACCOUNT_NAME_CAPACITY] = {};
  {
    Sid own(sid_);
    wchar_t account[257] = {}, domain[257] = {};
    DWORD account_length = 257, domain_length = 257;
    SID_NAME_USE use;
    ASSERT_TRUE(LookupAccountSidW(nullptr, own.get(), account, &account_length, domain, &domain_length, &use));
    swprintf(own_name, ACCOUNT_NAME_CAPACITY, domain[0] ? L"%ls\\%ls" : L"%ls%ls", domain, account);
  }
  struct Case {
    const char* what;
    ShellUser shell;
    const wchar_t* signed_in;  // as named in the notice
    bool entries;              // both there before
  };
  const Case cases[] = {
      // Bob's SID names no account here: it is named by its SID.
      {"Bob's desktop, both entries there", SHELL_USER_READ, kBob, true},
      {"Bob's desktop, neither there", SHELL_USER_READ, kBob, false},
      {"a desktop whose user cannot be read", SHELL_USER_UNREADABLE, L"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access.shell = c.shell;
    played_exe_access.shell_sid = kBob;
    for (bool on : {true, false}) {
      fake_scheduler = FakeScheduler{};
      DeleteRunValue();
      if (c.entries) {
        fake_scheduler.tasks[UserTaskName()] = {L"<Task/>", sid_, L""};
        WriteRunMarker();
      }
      played_exe_access.asked.clear();
      EXPECT_EQ(Autostart(on), AUTOSTART_OTHER_ACCOUNT) << on;
      EXPECT_EQ(ReadRunValue(), c.entries ? kRunMarker : L"") << on;
      EXPECT_EQ(fake_scheduler.Has(UserTaskName().c_str()), c.entries) << on;
      EXPECT_EQ(fake_scheduler.opened, 0) << "the scheduler is not asked";
      EXPECT_TRUE(played_exe_access.asked.empty()) << "no file was judged";
      EXPECT_STREQ(accounts_.process, own_name);
      EXPECT_STREQ(accounts_.signed_in, c.signed_in);
    }
  }
}

// With no shell on the desktop yet (a start at logon ahead of it), whose
// desktop it is cannot be told: nothing is written, but the exe is judged
// and an entry it may no longer have is removed. Switching off needs no
// desktop.
TEST_F(StartWithWindows, WithoutAShellOnlyWhatMayNoLongerBeIsRemoved) {
  task_scheduler_ = &kFakeSchedulerWithStore;
  const std::wstring exe = L"\\\\?\\" + TestExePath();
  struct Case {
    const char* what;
    std::wstring exe_sddl;  // empty: an installer's
    bool entries;           // both there before
    bool run_value_left;
    bool task_left;
  };
  const Case cases[] = {
      {"installed, both there", L"", true, true, true},
      {"installed, neither there: none is written", L"", false, false, false},
      {"the user's own permissions: the task goes", OwnSddl(sid_), true, true, false},
      {"Bob's exe: both go", OwnSddl(kBob), true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.shell = SHELL_NONE;
    if (!c.exe_sddl.empty()) played_exe_access.sddl[exe] = c.exe_sddl;
    fake_scheduler = FakeScheduler{};
    DeleteRunValue();
    if (c.entries) {
      fake_scheduler.tasks[UserTaskName()] = {L"<Task/>", sid_, L""};
      WriteRunMarker();
    }
    EXPECT_EQ(Autostart(true), AUTOSTART_ACCOUNT_UNKNOWN);
    EXPECT_FALSE(played_exe_access.asked.empty()) << "the exe was judged";
    EXPECT_EQ(ReadRunValue(), c.run_value_left ? kRunMarker : L"");
    EXPECT_EQ(fake_scheduler.Has(UserTaskName().c_str()), c.task_left);
    for (const auto& [name, task] : fake_scheduler.tasks) EXPECT_EQ(task.xml, L"<Task/>") << "nothing registered";
  }
  WriteRunMarker();
  fake_scheduler.tasks[UserTaskName()] = {L"<Task/>", sid_, L""};
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE) << "switching off needs no answer";
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(fake_scheduler.Has(UserTaskName().c_str()));
}

// A task of ours left from another place goes when the copy started now may
// not have one.
TEST_F(StartWithWindows, ACopyTheUserCanChangeGetsTheRunValueOnly) {
  ASSERT_TRUE(RegisterAutostartTask(UserTaskName(), xml_));
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY) << "round " << round;
    EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));
    TaskView task = ReadAutostartTask();
    EXPECT_FALSE(task.exists);
    EXPECT_EQ(task.stored, 0);
  }
}

TEST_F(StartWithWindows, DisablingRemovesBothAndMissingOnesAreNoError) {
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE) << "neither exists";
  ASSERT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
  wchar_t xml[TASK_XML_CAPACITY];
  ASSERT_TRUE(BuildTaskXml(xml, sid_, Quoted(TestExePath()).c_str()));
  ASSERT_TRUE(RegisterAutostartTask(UserTaskName(), xml));
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE);
  TaskView task = ReadAutostartTask();
  EXPECT_FALSE(task.exists);
  EXPECT_EQ(task.stored, 0);
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE) << "again, with both gone";
}
