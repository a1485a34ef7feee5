// The logon task: its name, descriptor and XML, the tasks of several users
// and of earlier versions in one scheduler, and the real Task Scheduler.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "settings/settings_internal.h"
#include "tests/support.h"
#include "tests/support/logon_entries.h"

TEST(TaskName, IsQuillmereAndTheSid) {
  struct Case {
    std::wstring sid;
    const wchar_t* name;  // null: refused
  };
  const std::wstring longest_sid = L"S-1-5-21" + [] {
    std::wstring tail;
    for (int i = 0; i < 14; ++i) tail += L"-4294967295";
    return tail;
  }();
  const Case cases[] = {
      {L"S-1-5-21-3623811015-3361044348-30300820-1013", L"Quillmere S-1-5-21-3623811015-3361044348-30300820-1013"},
      {L"S-1-5-21-0-0-0-1000", L"Quillmere S-1-5-21-0-0-0-1000"},
      {L"S-1-5-18", L"Quillmere S-1-5-18"},
      {L"S-1-0x123456789ABC-1", L"Quillmere S-1-0x123456789ABC-1"},  // a large authority, written in hex
      {L"", nullptr},
      {L"S-", nullptr},
      {L"Bob", nullptr},
      {L"S-1-5\\Evil", nullptr},  // would name a folder of the library
      {L"S-1-5-21/1", nullptr},
      {L"S-1-5 21", nullptr},
      {L"S-1-5-21:1", nullptr},
      {L"S-1-5-21-" + std::wstring(TASK_NAME_CAPACITY, L'1'), nullptr},
  };
  for (const Case& c : cases) {
    wchar_t name[TASK_NAME_CAPACITY];
    wmemset(name, L'#', TASK_NAME_CAPACITY);
    EXPECT_EQ(BuildTaskName(name, c.sid.c_str()), c.name != nullptr) << Narrow(c.sid);
    EXPECT_STREQ(name, c.name ? c.name : L"");
  }
  wchar_t name[TASK_NAME_CAPACITY];
  ASSERT_TRUE(BuildTaskName(name, longest_sid.c_str()));
  EXPECT_EQ(std::wstring(name), L"Quillmere " + longest_sid);
  EXPECT_FALSE(BuildTaskName(name, nullptr));
}

// The task's descriptor: SYSTEM and the administrators full control, the
// user reading and running it, nothing inherited; a descriptor Windows
// parses, for a SID only.
TEST(TaskSecurity, TheAdministratorsAndSystemControlItTheUserReadsAndRunsIt) {
  wchar_t sddl[TASK_SDDL_CAPACITY];
  ASSERT_TRUE(BuildTaskSddl(sddl, kAnn));
  EXPECT_EQ(std::wstring(sddl), std::wstring(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;") + kAnn + L")");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
  LocalFree(descriptor);
  for (const wchar_t* bad : {L"", L"Bob", L"S-1-5-21)(A;;FA;;;WD", static_cast<const wchar_t*>(nullptr)}) {
    wmemset(sddl, L'#', TASK_SDDL_CAPACITY);
    EXPECT_FALSE(BuildTaskSddl(sddl, bad));
    EXPECT_EQ(sddl[0], 0);
  }
}

// The user goes in by SID (here an Azure AD account's, whose name the
// scheduler could not map) in both the trigger and the principal.
TEST(TaskXml, StartsTheUserElevatedAtLogonWithTheQuotedPath) {
  wchar_t xml[TASK_XML_CAPACITY];
  ASSERT_TRUE(BuildTaskXml(xml, L"S-1-12-1-3623811015-3361044348-30300820-1013",
                           L"\"C:\\Program Files\\Quillmere\\quillmere.exe\""));
  EXPECT_STREQ(xml,
               L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
               L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
               L"  <Triggers>\r\n"
               L"    <LogonTrigger>\r\n"
               L"      <Enabled>true</Enabled>\r\n"
               L"      <UserId>S-1-12-1-3623811015-3361044348-30300820-1013</UserId>\r\n"
               L"    </LogonTrigger>\r\n"
               L"  </Triggers>\r\n"
               L"  <Principals>\r\n"
               L"    <Principal id=\"Author\">\r\n"
               L"      <UserId>S-1-12-1-3623811015-3361044348-30300820-1013</UserId>\r\n"
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
    std::wstring sid;
    std::wstring command;
    bool ok;
    std::wstring expected_sid;  // as it stands in both UserId elements
    std::wstring expected_command;
  };
  const std::wstring all_amps(256, L'&');
  const std::wstring escaped_amps = [&] {
    std::wstring text;
    for (size_t i = 0; i < all_amps.size(); ++i) text += L"&amp;";
    return text;
  }();
  const Case cases[] = {
      {L"S-1-5-21-1-2-3-1001", L"\"C:\\Tools & <More>\\q.exe\"", true, L"S-1-5-21-1-2-3-1001",
       L"\"C:\\Tools &amp; &lt;More&gt;\\q.exe\""},
      {L"S-1-5&<x>", L"\"C:\\q.exe\"", true, L"S-1-5&amp;&lt;x&gt;", L"\"C:\\q.exe\""},
      // The longest texts and path, every character escaped, still fit.
      {all_amps + L"\\" + all_amps, L"\"C:\\" + std::wstring(255, L'&') + L"\"", true,
       escaped_amps + L"\\" + escaped_amps, L"\"C:\\" + escaped_amps.substr(5) + L"\""},
      {L"", L"\"C:\\q.exe\"", false, L"", L""},
      {L"S-1-5-21-1-2-3-1001", L"", false, L"", L""},
      {L"S-1-5-21-1-2-3\n-1001", L"\"C:\\q.exe\"", false, L"", L""},
      {L"S-1-5-21-1-2-3-1001", L"\"C:\\q\t.exe\"", false, L"", L""},
      {std::wstring(5000, L'u'), L"\"C:\\q.exe\"", false, L"", L""},
  };
  for (const Case& c : cases) {
    wchar_t xml[TASK_XML_CAPACITY];
    wmemset(xml, L'#', TASK_XML_CAPACITY);
    ASSERT_EQ(BuildTaskXml(xml, c.sid.c_str(), c.command.c_str()), c.ok) << Narrow(c.sid);
    std::wstring text = xml;
    if (!c.ok) {
      EXPECT_EQ(text, L"") << "nothing half-written for " << Narrow(c.sid);
      continue;
    }
    std::wstring user = L"<UserId>" + c.expected_sid + L"</UserId>";
    size_t first = text.find(user);
    ASSERT_NE(first, std::wstring::npos);
    EXPECT_NE(text.find(user, first + 1), std::wstring::npos) << "trigger and principal";
    EXPECT_NE(text.find(L"<Command>" + c.expected_command + L"</Command>"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 9), L"</Task>\r\n");
  }
  wchar_t xml[TASK_XML_CAPACITY];
  EXPECT_FALSE(BuildTaskXml(xml, nullptr, L"\"C:\\q.exe\""));
  EXPECT_FALSE(BuildTaskXml(xml, L"S-1-5-21-1-2-3-1001", nullptr));
}

TEST(TaskXml, EachUserGetsATriggerAndPrincipalOfTheirOwn) {
  const wchar_t* const command = L"\"C:\\Program Files\\Quillmere\\quillmere.exe\"";
  const wchar_t ann[] = L"S-1-5-21-1111-2222-3333-1001";
  const wchar_t bob[] = L"S-1-5-21-1111-2222-3333-1002";
  wchar_t ann_xml[TASK_XML_CAPACITY], bob_xml[TASK_XML_CAPACITY];
  ASSERT_TRUE(BuildTaskXml(ann_xml, ann, command));
  ASSERT_TRUE(BuildTaskXml(bob_xml, bob, command));
  for (auto [xml, own, other] : {std::tuple{ann_xml, ann, bob}, std::tuple{bob_xml, bob, ann}}) {
    std::wstring text = xml;
    std::wstring user_id = std::wstring(L"<UserId>") + own + L"</UserId>";
    size_t trigger = text.find(user_id);
    ASSERT_NE(trigger, std::wstring::npos) << Narrow(own);
    EXPECT_LT(trigger, text.find(L"</LogonTrigger>"));
    size_t principal = text.find(user_id, trigger + 1);
    ASSERT_NE(principal, std::wstring::npos) << "the principal is " << Narrow(own) << " too";
    EXPECT_GT(principal, text.find(L"<Principal id=\"Author\">"));
    EXPECT_EQ(text.find(other), std::wstring::npos);
  }
  // Apart from the user, the two are the same task.
  std::wstring ann_text = ann_xml, bob_text = bob_xml;
  for (std::wstring* text : {&ann_text, &bob_text})
    for (size_t at; (at = text->find(L"3333-100")) != std::wstring::npos;) text->replace(at, 9, L"USER");
  EXPECT_EQ(ann_text, bob_text);
}

namespace {

const wchar_t kAnnTask[] = L"Quillmere S-1-5-21-1111-2222-3333-1001";
const wchar_t kBobTask[] = L"Quillmere S-1-5-21-1111-2222-3333-1002";

// Ann's or Bob's turn at the shared scheduler, as SetAutostart takes it.
bool Update(const wchar_t* sid, bool on) {
  fake_scheduler.registering_user = sid;
  return UpdateLogonTask(sid, on ? (std::wstring(L"<Task for ") + sid + L"/>").c_str() : nullptr, kFakeScheduler);
}

}  // namespace

TEST(LogonTaskPerUser, TwoUsersTasksCoexistAndEachOffTouchesOnlyItsOwn) {
  fake_scheduler = FakeScheduler{};
  ASSERT_TRUE(Update(kAnn, true));
  ASSERT_TRUE(Update(kBob, true));
  ASSERT_TRUE(fake_scheduler.Has(kAnnTask));
  ASSERT_TRUE(fake_scheduler.Has(kBobTask));
  EXPECT_EQ(fake_scheduler.tasks[kAnnTask].xml, L"<Task for S-1-5-21-1111-2222-3333-1001/>");
  EXPECT_EQ(fake_scheduler.tasks[kBobTask].owner, kBob);

  ASSERT_TRUE(Update(kAnn, true)) << "again: rewritten in place";
  EXPECT_EQ(fake_scheduler.tasks.size(), 2u);

  ASSERT_TRUE(Update(kAnn, false));
  EXPECT_FALSE(fake_scheduler.Has(kAnnTask));
  EXPECT_TRUE(fake_scheduler.Has(kBobTask)) << "Ann's off left Bob's task";
  ASSERT_TRUE(Update(kAnn, false)) << "already gone";
  ASSERT_TRUE(Update(kBob, false));
  EXPECT_TRUE(fake_scheduler.tasks.empty());
  for (const std::wstring& name : fake_scheduler.deleted) EXPECT_NE(name, L"Quillmere") << "no shared task to touch";
  EXPECT_EQ(fake_scheduler.opened, 6);
  EXPECT_EQ(fake_scheduler.closed, 6) << "every open folder is closed";
}

// The one "Quillmere" task of earlier versions goes only when the fake_scheduler
// shows it is this user's; the other user's own task is never touched.
TEST(LogonTaskPerUser, RemovesOnlyTheSharedTaskThatIsProvablyOurs) {
  struct Case {
    const char* what;
    const wchar_t* legacy_owner;  // null: no shared task
    bool on;
    bool legacy_left;
  };
  const Case cases[] = {
      {"ours, switching on", kAnn, true, false},
      {"ours, switching off", kAnn, false, false},
      {"ours, SID in lower case", L"s-1-5-21-1111-2222-3333-1001", true, false},
      {"Bob's, switching on", kBob, true, true},
      {"Bob's, switching off", kBob, false, true},
      {"a SID that only starts like ours", L"S-1-5-21-1111-2222-3333-10011", false, true},
      {"the principal cannot be read (Wine)", L"", true, true},
      {"the principal cannot be read, switching off", L"", false, true},
      {"none there", nullptr, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_scheduler = FakeScheduler{};
    if (c.legacy_owner) fake_scheduler.tasks[L"Quillmere"] = {L"<old/>", c.legacy_owner, L""};
    fake_scheduler.tasks[kBobTask] = {L"<Task for Bob/>", kBob, L""};
    EXPECT_TRUE(Update(kAnn, c.on));
    EXPECT_EQ(fake_scheduler.Has(L"Quillmere"), c.legacy_left);
    EXPECT_EQ(fake_scheduler.Has(kAnnTask), c.on);
    EXPECT_TRUE(fake_scheduler.Has(kBobTask));
    for (const std::wstring& name : fake_scheduler.deleted) {
      EXPECT_NE(name, kBobTask);
      if (!c.legacy_owner || c.legacy_left) {
        EXPECT_NE(name, L"Quillmere");
      }
    }
  }
}

TEST(LogonTaskPerUser, NothingIsAskedOfAnUnreachableSchedulerOrForABadSid) {
  fake_scheduler = FakeScheduler{};
  fake_scheduler.reachable = false;
  EXPECT_FALSE(Update(kAnn, true));
  EXPECT_FALSE(Update(kAnn, false));
  fake_scheduler.reachable = true;
  EXPECT_FALSE(Update(L"S-1-5\\..\\Quillmere", false));
  EXPECT_FALSE(UpdateLogonTask(nullptr, L"<x/>", kFakeScheduler));
  EXPECT_EQ(fake_scheduler.opened, 0);
  EXPECT_TRUE(fake_scheduler.deleted.empty());
  EXPECT_TRUE(fake_scheduler.tasks.empty());
}

// Switched off with no task of ours stored, a start reaches no fake_scheduler and
// so loads no COM; anything stored, ours or the shared one, still goes
// through the fake_scheduler, and so does every "on".
TEST(LogonTaskPerUser, OffWithNothingStoredLeavesTheSchedulerAlone) {
  struct Case {
    const char* what;
    const wchar_t* stored;  // null: nothing
    bool on;
    int opened;
  };
  const Case cases[] = {
      {"off, nothing stored", nullptr, false, 0},
      {"off, our task stored", kAnnTask, false, 1},
      {"off, the shared task stored", L"Quillmere", false, 1},
      {"off, only another user's task", kBobTask, false, 0},
      {"on, nothing stored", nullptr, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_scheduler = FakeScheduler{};
    if (c.stored) fake_scheduler.tasks[c.stored] = {L"<Task/>", L"", L""};
    fake_scheduler.registering_user = kAnn;
    const wchar_t* xml = c.on ? L"<Task for Ann/>" : nullptr;
    ASSERT_TRUE(UpdateLogonTask(kAnn, xml, kFakeSchedulerWithStore));
    EXPECT_EQ(fake_scheduler.opened, c.opened);
    EXPECT_EQ(fake_scheduler.closed, c.opened);
    EXPECT_EQ(fake_scheduler.Has(kAnnTask), c.on);
    EXPECT_EQ(fake_scheduler.Has(kBobTask), c.stored == kBobTask) << "another user's task is never touched";
  }
}

TEST(LegacyTask, IsOursOnlyWithAKnownMatchingPrincipal) {
  struct Case {
    TaskOwner owner;
    const wchar_t* owner_sid;
    const wchar_t* our_sid;
    bool ours;
  };
  const Case cases[] = {
      {TASK_OWNER_KNOWN, kAnn, kAnn, true},          {TASK_OWNER_KNOWN, L"s-1-5-21-1111-2222-3333-1001", kAnn, true},
      {TASK_OWNER_KNOWN, kBob, kAnn, false},         {TASK_OWNER_UNKNOWN, kAnn, kAnn, false},
      {TASK_MISSING, kAnn, kAnn, false},             {TASK_OWNER_KNOWN, L"", L"", false},
      {TASK_OWNER_KNOWN, nullptr, kAnn, false},      {TASK_OWNER_KNOWN, kAnn, nullptr, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LegacyTaskIsOurs(c.owner, c.owner_sid, c.our_sid), c.ours)
        << c.owner << " " << Narrow(c.owner_sid ? c.owner_sid : L"(null)");
}

namespace {

// An account's SID text, given by name ("DOMAIN\\user") or already as a SID;
// empty when it cannot be looked up.
std::wstring SidOfAccount(const std::wstring& account) {
  alignas(SID) BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof sid;
  wchar_t domain[256] = {};
  DWORD domain_length = 256;
  SID_NAME_USE use;
  PSID parsed = nullptr;
  if (ConvertStringSidToSidW(account.c_str(), &parsed)) {
    CopySid(sizeof sid, sid, parsed);
    LocalFree(parsed);
  } else if (!LookupAccountNameW(nullptr, account.c_str(), sid, &sid_size, domain, &domain_length, &use)) {
    return L"";
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"";
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// The logon task through the real Task Scheduler and its store.
class SystemTaskScheduler : public LogonEntries {};

}  // namespace

// The fake_scheduler keeps the settings that the task's XML gives.
TEST_F(SystemTaskScheduler, RegisteredXmlKeepsItsSettings) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(RegisterAutostartTask(UserTaskName(), xml_)) << "round " << round;
    TaskView task = ReadAutostartTask();
    ASSERT_TRUE(task.exists);
    // Each differs from the fake_scheduler's own default.
    ExpectAutostartTaskSettings(task);
    EXPECT_EQ(task.priority, 5);
    if (!task.reported) continue;  // Wine 8 keeps no trigger, principal or action
    EXPECT_EQ(task.triggers, 1);
    EXPECT_EQ(task.trigger_type, TASK_TRIGGER_LOGON);
    // The fake_scheduler may answer the account by SID or by name.
    EXPECT_EQ(SidOfAccount(task.trigger_user), sid_) << Narrow(task.trigger_user);
    EXPECT_EQ(SidOfAccount(task.principal_user), sid_) << Narrow(task.principal_user);
    EXPECT_EQ(task.run_level, TASK_RUNLEVEL_HIGHEST);
    EXPECT_EQ(task.logon_type, TASK_LOGON_INTERACTIVE_TOKEN);
    EXPECT_EQ(task.command, kInstalledCommand);
  }
}

// The real store: System32\Tasks holds a file for each task of the root
// folder, so a registered task is seen there and a removed one is not.
TEST_F(SystemTaskScheduler, TheStoreShowsWhatTheSchedulerHolds) {
  EXPECT_TRUE(kSystemTaskScheduler.stores_no_task(UserTaskName().c_str()));
  ASSERT_TRUE(RegisterAutostartTask(UserTaskName(), xml_));
  EXPECT_FALSE(kSystemTaskScheduler.stores_no_task(UserTaskName().c_str()));
  ASSERT_TRUE(UpdateLogonTask(sid_, nullptr, kSystemTaskScheduler));
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_TRUE(kSystemTaskScheduler.stores_no_task(UserTaskName().c_str()));
}

// Through the real fake_scheduler: the task goes in under this user's name. Wine
// keeps no principal, so there the shared task of earlier versions cannot be
// shown to be ours and stays; Windows shows it and it goes.
TEST_F(SystemTaskScheduler, RealSchedulerTakesThePerUserTaskAndLeavesAnUnprovenSharedOne) {
  ASSERT_TRUE(RegisterAutostartTask(kLegacyTaskName, xml_));
  bool principal_kept = ReadAutostartTask(kLegacyTaskName).reported;

  ASSERT_TRUE(UpdateLogonTask(sid_, xml_, kSystemTaskScheduler));
  TaskView own = ReadAutostartTask();
  ASSERT_TRUE(own.exists);
  EXPECT_EQ(own.priority, 5);
  EXPECT_EQ(ReadAutostartTask(kLegacyTaskName).exists, !principal_kept);
  EXPECT_EQ(own.stored, principal_kept ? 1 : 2);

  ASSERT_TRUE(UpdateLogonTask(sid_, nullptr, kSystemTaskScheduler));
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask(kLegacyTaskName).exists, !principal_kept);
}

// COM is up only while the fake_scheduler is reached: afterwards the thread is
// as it was. (Whether taskschd.dll then leaves the process is the system's
// call: Windows unloads it, Wine 8 keeps every in-process server loaded.)
TEST_F(SystemTaskScheduler, SchedulerLeavesComAsItFoundIt) {
  struct Case {
    const char* what;
    DWORD model;  // the thread's own COM before the update; 0: none
  };
  const Case cases[] = {{"no COM", 0},
                        {"single-threaded apartment", COINIT_APARTMENTTHREADED},
                        {"multithreaded apartment", COINIT_MULTITHREADED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.model) {
      ASSERT_EQ(CoInitializeEx(nullptr, c.model), S_OK);
    }
    for (const wchar_t* update : {static_cast<const wchar_t*>(xml_), static_cast<const wchar_t*>(nullptr)}) {
      EXPECT_TRUE(UpdateLogonTask(sid_, update, kSystemTaskScheduler));
      EXPECT_EQ(ReadAutostartTask().exists, update != nullptr);
      // Initialising again tells whether the thread still had COM.
      HRESULT again = CoInitializeEx(nullptr, c.model ? c.model : DWORD{COINIT_APARTMENTTHREADED});
      EXPECT_EQ(again, c.model ? S_FALSE : S_OK);
      CoUninitialize();
    }
    if (c.model) CoUninitialize();
  }
}
