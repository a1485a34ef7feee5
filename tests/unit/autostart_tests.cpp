// Start at logon: the Run value, the task's name, the logon task's XML, the
// owners, permissions, disks and desktops that decide which entries there
// may be, and the task through a played and through the real Task
// Scheduler.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>
#include <sddl.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support.h"
#include "tests/support/logon_entries.h"
#include "tests/unit/in_language.h"
#include "settings/settings_internal.h"

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
    EXPECT_EQ(std::wstring(command), c.ok ? Quoted(c.path) : L"") << c.path.size();
  }
}

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

TEST(TaskName, IsThisUsers) {
  wchar_t sid[SID_TEXT_CAPACITY];
  ASSERT_TRUE(GetProcessUserSid(sid));
  wchar_t name[TASK_NAME_CAPACITY];
  ASSERT_TRUE(BuildTaskName(name, sid));
  EXPECT_EQ(std::wstring(name), UserTaskName());
  // The SID names this process's account, which the environment it
  // inherited names too.
  PSID parsed = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(sid, &parsed));
  wchar_t account[256] = {}, domain[256] = {};
  DWORD account_length = 256, domain_length = 256;
  SID_NAME_USE use;
  ASSERT_TRUE(LookupAccountSidW(nullptr, parsed, account, &account_length, domain, &domain_length, &use));
  LocalFree(parsed);
  wchar_t env_domain[256] = {}, env_name[256] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"USERDOMAIN", env_domain, 256), 0u);
  ASSERT_GT(GetEnvironmentVariableW(L"USERNAME", env_name, 256), 0u);
  EXPECT_EQ(_wcsicmp(domain, env_domain), 0) << Narrow(domain);
  EXPECT_EQ(_wcsicmp(account, env_name), 0) << Narrow(account);
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

struct TrustCase {
  const char* what;
  std::wstring sddl;
  ACCESS_MASK change_rights;
  bool task;       // judged with the administrators, SYSTEM and TrustedInstaller alone trusted
  bool run_value;  // judged with Ann trusted too
};

}  // namespace

// The decision over one descriptor, for the task and for the Run value.
TEST(TrustDecision, OnlyTheOwnerAndGrantsOfTrustedAccountsPass) {
  const std::wstring ann = kAnn, bob = kBob;
  const TrustCase cases[] = {
      {"Program Files' default, as a folder above", kProgramFilesSddl, FOLDER_CHANGE_RIGHTS, true, true},
      {"Program Files' default, as the exe's folder", kProgramFilesSddl, EXE_FOLDER_CHANGE_RIGHTS, true, true},
      {"an installer's folder", kInstalledFolderSddl, EXE_FOLDER_CHANGE_RIGHTS, true, true},
      {"an installer's exe", kInstalledExeSddl, EXE_CHANGE_RIGHTS, true, true},
      {"the drive's root, as a folder above: making folders is harmless", kDriveRootSddl, FOLDER_CHANGE_RIGHTS,
       true, true},
      {"the drive's root as the exe's folder: anyone adds files", kDriveRootSddl, EXE_FOLDER_CHANGE_RIGHTS, false,
       false},
      {"inherited Authenticated Users: Modify", kSharedToolsSddl, FOLDER_CHANGE_RIGHTS, false, false},
      {"another user as owner", L"O:" + bob + L"D:(A;;FA;;;SY)(A;;FA;;;BA)", EXE_CHANGE_RIGHTS, false, false},
      {"the user herself as owner", L"O:" + ann + L"D:(A;;FA;;;SY)(A;;FA;;;BA)", EXE_CHANGE_RIGHTS, false, true},
      {"her own profile's folder", OwnSddl(kAnn), EXE_FOLDER_CHANGE_RIGHTS, false, true},
      {"another user's profile folder", OwnSddl(kBob), FOLDER_CHANGE_RIGHTS, false, false},
      {"the user with Modify", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;" + ann + L")", EXE_CHANGE_RIGHTS, false,
       true},
      {"an explicit WRITE_DAC for another user", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;WD;;;" + bob + L")",
       FOLDER_CHANGE_RIGHTS, false, false},
      {"an explicit WRITE_OWNER for another user", L"O:BAD:(A;;FA;;;SY)(A;;WO;;;" + bob + L")", EXE_CHANGE_RIGHTS,
       false, false},
      {"delete for everyone", L"O:BAD:(A;;FA;;;SY)(A;;SD;;;WD)", FOLDER_CHANGE_RIGHTS, false, false},
      {"delete child for users", L"O:BAD:(A;;FA;;;SY)(A;;0x40;;;BU)", FOLDER_CHANGE_RIGHTS, false, false},
      {"a deny ACE alone", L"O:BAD:(D;;FA;;;AU)", EXE_CHANGE_RIGHTS, true, true},
      {"a deny after the grant widens nothing", L"O:BAD:(A;;FA;;;AU)(D;;FA;;;AU)", EXE_CHANGE_RIGHTS, false, false},
      {"a deny before the grant is not credited", L"O:BAD:(D;;FA;;;WD)(A;;FA;;;AU)", EXE_CHANGE_RIGHTS, false,
       false},
      {"an inherit-only grant to CREATOR OWNER", L"O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)", EXE_FOLDER_CHANGE_RIGHTS,
       true, true},
      {"an inherit-only grant to users", L"O:BAD:(A;;FA;;;SY)(A;OICIIO;FA;;;BU)", EXE_FOLDER_CHANGE_RIGHTS, true,
       true},
      {"CREATOR OWNER on the object itself", L"O:BAD:(A;;FA;;;SY)(A;OI;GA;;;CO)", EXE_FOLDER_CHANGE_RIGHTS, false,
       false},
      {"generic all for users, mapped", L"O:BAD:(A;;GA;;;BU)", EXE_CHANGE_RIGHTS, false, false},
      {"generic write for users, mapped", L"O:BAD:(A;;GW;;;BU)", EXE_CHANGE_RIGHTS, false, false},
      {"generic read and execute for users", L"O:BAD:(A;;GRGX;;;BU)", EXE_CHANGE_RIGHTS, true, true},
      {"generic all for the administrators", L"O:BAD:(A;;GA;;;BA)", EXE_CHANGE_RIGHTS, true, true},
      // FILE_ADD_SUBDIRECTORY on a folder is FILE_APPEND_DATA on a file.
      {"the root's folder right on a file appends", L"O:BAD:(A;;FA;;;SY)(A;;0x4;;;AU)", EXE_CHANGE_RIGHTS, false,
       false},
      {"reading and running for everyone", L"O:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)", EXE_CHANGE_RIGHTS, true, true},
      // With it another account can make the file a reparse point.
      {"the exe's attributes for another user", L"O:BAD:(A;;FA;;;SY)(A;;0x100;;;" + bob + L")", EXE_CHANGE_RIGHTS,
       false, false},
      {"the exe's attributes for the user herself", L"O:BAD:(A;;FA;;;SY)(A;;0x100;;;" + ann + L")", EXE_CHANGE_RIGHTS,
       false, true},
      {"TrustedInstaller's", std::wstring(L"O:") + kTrustedInstaller + L"D:(A;;FA;;;" + kTrustedInstaller + L")",
       EXE_CHANGE_RIGHTS, true, true},
      {"no DACL: anyone may do anything", L"O:BA", EXE_CHANGE_RIGHTS, false, false},
      {"an empty DACL: nobody may", L"O:BAD:", EXE_CHANGE_RIGHTS, true, true},
      {"no owner", L"D:(A;;FA;;;SY)", EXE_CHANGE_RIGHTS, false, false},
  };
  Sid user(kAnn);
  for (const TrustCase& c : cases) {
    SCOPED_TRACE(c.what);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr))
        << Narrow(c.sddl);
    EXPECT_EQ(OnlyTrustedMayChange(descriptor, c.change_rights, nullptr), c.task);
    EXPECT_EQ(OnlyTrustedMayChange(descriptor, c.change_rights, user.get()), c.run_value);
    LocalFree(descriptor);
  }
  // A null DACL (which Wine's SDDL does not write) lets anyone do anything.
  Sid administrators(L"S-1-5-32-544");
  SECURITY_DESCRIPTOR null_dacl;
  InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&null_dacl, administrators.get(), FALSE);
  SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE);
  EXPECT_FALSE(OnlyTrustedMayChange(&null_dacl, EXE_CHANGE_RIGHTS, nullptr));
  EXPECT_FALSE(OnlyTrustedMayChange(&null_dacl, EXE_CHANGE_RIGHTS, user.get()));
  SetSecurityDescriptorDacl(&null_dacl, FALSE, nullptr, FALSE);
  EXPECT_FALSE(OnlyTrustedMayChange(&null_dacl, EXE_CHANGE_RIGHTS, user.get())) << "no DACL";
  EXPECT_FALSE(OnlyTrustedMayChange(nullptr, EXE_CHANGE_RIGHTS, user.get()));
  alignas(void*) BYTE garbage[64];
  memset(garbage, 0xA5, sizeof garbage);
  EXPECT_FALSE(OnlyTrustedMayChange(garbage, EXE_CHANGE_RIGHTS, user.get())) << "not a descriptor";
}

namespace {

// A descriptor owned by the administrators whose DACL holds SYSTEM's full
// control and one ACE built byte by byte (SDDL under Wine writes neither
// callback nor object ACEs), or, with a short `ace_size`, an ACE whose SID
// runs past its end.
struct HandBuiltDescriptor {
  SECURITY_DESCRIPTOR descriptor;
  alignas(DWORD) BYTE acl[512];
  Sid administrators{L"S-1-5-32-544"};
  Sid system{L"S-1-5-18"};
  HandBuiltDescriptor(BYTE type, BYTE flags, ACCESS_MASK mask, const wchar_t* sid, size_t extra,
                      WORD shrink = 0) {
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, administrators.get(), FALSE);
    ACL* list = reinterpret_cast<ACL*>(acl);
    InitializeAcl(list, sizeof acl, ACL_REVISION_DS);
    AddAccessAllowedAce(list, ACL_REVISION_DS, FILE_ALL_ACCESS, system.get());
    Sid grantee(sid);
    // Header and mask, then (object ACEs) flags and one GUID, then the SID,
    // then (callback ACEs) the condition's bytes.
    alignas(DWORD) BYTE ace[256] = {};
    size_t at = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    bool object = type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    if (object) {
      DWORD object_flags = ACE_OBJECT_TYPE_PRESENT;
      memcpy(ace + at, &object_flags, sizeof object_flags);
      at += sizeof object_flags + sizeof(GUID);
    }
    DWORD sid_length = GetLengthSid(grantee.get());
    memcpy(ace + at, grantee.get(), sid_length);
    at += sid_length + extra;
    at = (at + 3) & ~size_t{3};
    ACE_HEADER* header = reinterpret_cast<ACE_HEADER*>(ace);
    header->AceType = type;
    header->AceFlags = flags;
    header->AceSize = static_cast<WORD>(at - shrink);
    memcpy(ace + sizeof(ACE_HEADER), &mask, sizeof mask);
    added = AddAce(list, ACL_REVISION_DS, MAXDWORD, ace, header->AceSize) != FALSE;
    SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
  }
  bool added = false;
};

}  // namespace

// Callback and object ACEs carry conditions and object types this check
// does not read: they count as granting everything, even read alone. A deny
// of any kind only narrows.
TEST(TrustDecision, AceKindsItDoesNotReadCountAsGrantingEverything) {
  struct Case {
    const char* what;
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    const wchar_t* sid;
    size_t extra;
    WORD shrink;
    bool allowed;
  };
  const Case cases[] = {
      {"a callback grant of reading", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 8, 0,
       false},
      {"a callback grant to the administrators", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_ALL_ACCESS,
       L"S-1-5-32-544", 8, 0, false},
      {"an object grant of reading", ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 0, 0, false},
      {"a callback object grant", ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 8, 0,
       false},
      {"an inherit-only callback grant", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE,
       FILE_ALL_ACCESS, L"S-1-5-11", 8, 0, false},
      {"an audit ACE where a grant belongs", SYSTEM_AUDIT_ACE_TYPE, 0, FILE_ALL_ACCESS, L"S-1-5-11", 0, 0, false},
      {"a callback deny", ACCESS_DENIED_CALLBACK_ACE_TYPE, 0, FILE_ALL_ACCESS, L"S-1-5-11", 8, 0, true},
      {"an object deny", ACCESS_DENIED_OBJECT_ACE_TYPE, 0, FILE_ALL_ACCESS, L"S-1-5-11", 0, 0, true},
      {"a plain grant of reading, built the same way", ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ, L"S-1-5-11", 0,
       0, true},
      {"a plain grant whose SID runs past the ACE", ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ,
       L"S-1-5-21-1111-2222-3333-1001", 0, 8, false},
  };
  Sid user(kAnn);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HandBuiltDescriptor built(c.type, c.flags, c.mask, c.sid, c.extra, c.shrink);
    ASSERT_TRUE(built.added);
    EXPECT_EQ(OnlyTrustedMayChange(&built.descriptor, EXE_CHANGE_RIGHTS, nullptr), c.allowed);
    EXPECT_EQ(OnlyTrustedMayChange(&built.descriptor, EXE_CHANGE_RIGHTS, user.get()), c.allowed);
  }
}

// The topmost folder below a drive's root must be one Windows made: only
// SYSTEM and TrustedInstaller own those.
TEST(TrustDecision, OnlyWindowsOwnTheTopmostFolder) {
  const struct {
    std::wstring sddl;
    bool windows;
  } cases[] = {
      {kProgramFilesSddl, true},
      {L"O:SYD:(A;;FA;;;SY)", true},
      {L"O:BAD:(A;;FA;;;SY)", false},  // an administrator made it
      {OwnSddl(kAnn), false},
      {L"D:(A;;FA;;;SY)", false},  // no owner
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    EXPECT_EQ(OwnedByWindows(descriptor), c.windows) << Narrow(c.sddl);
    LocalFree(descriptor);
  }
  EXPECT_FALSE(OwnedByWindows(nullptr));
}

TEST(TrustDecision, OnlyDisksThatStayInTheMachineKeepTheTask) {
  struct Case {
    bool read;
    STORAGE_BUS_TYPE bus;
    bool removable_media;
    bool stays;
  };
  const Case cases[] = {
      {true, BusTypeSata, false, true},   {true, BusTypeNvme, false, true},
      {true, BusTypeSas, false, true},    {true, BusTypeScsi, false, true},
      {true, BusTypeRAID, false, true},   {true, BusTypeSpaces, false, true},
      {true, BusTypeUsb, false, false},   {true, BusType1394, false, false},
      {true, BusTypeSd, false, false},    {true, BusTypeMmc, false, false},
      {true, BusTypeiScsi, false, false},  // a disk its target serves on the network
      {true, BusTypeFileBackedVirtual, false, false},
      {true, BusTypeSata, true, false},  // a drive with removable media, fixed or not
      {false, BusTypeSata, false, false},  // the query failed
  };
  for (const Case& c : cases)
    EXPECT_EQ(VolumeStaysPut(c.read, c.bus, c.removable_media), c.stays)
        << c.read << " bus " << c.bus << " removable " << c.removable_media;
}

TEST(TrustDecision, TheDesktopMustBeTheProcessUsersOwn) {
  Sid ann(kAnn), bob(kBob), ann_again(kAnn);
  struct Case {
    const char* what;
    ShellUser shell;
    PSID shell_user;
    PSID process_user;
    DesktopAccount account;
  };
  const Case cases[] = {
      {"her own desktop", SHELL_USER_READ, ann_again.get(), ann.get(), DESKTOP_OURS},
      {"Bob's desktop, Ann's password typed at his prompt", SHELL_USER_READ, bob.get(), ann.get(), DESKTOP_OTHER},
      {"a shell whose user cannot be read", SHELL_USER_UNREADABLE, nullptr, ann.get(), DESKTOP_OTHER},
      {"no shell yet, as at logon", SHELL_NONE, nullptr, ann.get(), DESKTOP_UNKNOWN},
      {"the process user unknown", SHELL_USER_READ, ann_again.get(), nullptr, DESKTOP_UNKNOWN},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchDesktopAccount(c.shell, c.shell_user, c.process_user), c.account) << c.what;
}

namespace {


const wchar_t kInstalledExe[] = L"\\\\?\\C:\\Program Files\\Quillmere\\quillmere.exe";
const wchar_t kInstallFolder[] = L"\\\\?\\C:\\Program Files\\Quillmere";
const wchar_t kProgramFiles[] = L"\\\\?\\C:\\Program Files";
const wchar_t kDriveRoot[] = L"\\\\?\\C:\\";
const wchar_t kBobsExe[] = L"\\\\?\\C:\\Users\\Bob\\Downloads\\quillmere.exe";
const wchar_t kAnnsExe[] = L"\\\\?\\C:\\Users\\Ann\\Downloads\\quillmere.exe";
const wchar_t kToolsExe[] = L"\\\\?\\C:\\Tools\\quillmere.exe";

// Windows' own descriptors along the way: the root's, Program Files', the
// Users folder's (everyone reads) and each profile's.
std::map<std::wstring, std::wstring> WindowsDescriptors() {
  std::map<std::wstring, std::wstring> sddl = {
      {kDriveRoot, kDriveRootSddl},
      {kProgramFiles, kProgramFilesSddl},
      {L"\\\\?\\C:\\Users", L"O:SYG:SYD:PAI(A;OICIIO;GA;;;SY)(A;;FA;;;SY)(A;OICIIO;GA;;;BA)(A;;FA;;;BA)"
                            L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;WD)(A;OICIIO;GXGR;;;WD)"},
      {L"\\\\?\\C:\\Tools", kSharedToolsSddl},
      {kToolsExe, L"O:" + std::wstring(kAnn) + L"D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)"
                                               L"(A;ID;0x1301bf;;;AU)"},
  };
  for (const wchar_t* user : {kAnn, kBob}) {
    const wchar_t* name = user == kAnn ? L"Ann" : L"Bob";
    std::wstring home = std::wstring(L"\\\\?\\C:\\Users\\") + name;
    sddl[home] = OwnSddl(user);
    sddl[home + L"\\Downloads"] = OwnSddl(user);
    sddl[home + L"\\Downloads\\quillmere.exe"] = OwnSddl(user);
  }
  return sddl;
}

}  // namespace

// The exe, its folder and every folder up to the drive's root are read, in
// that order, and each judged with its level's change rights: the task
// takes an exe only the administrators can change, the Run value one that
// the user can change too.
TEST(TaskExeJudgement, EachEntryGetsOnlyAnExeItsTrustedAccountsAloneCanChange) {
  struct Case {
    const char* what;
    const wchar_t* exe;
    std::map<std::wstring, std::wstring> changed;  // descriptors that differ from Windows' own
    bool run_value;
    bool task;
  };
  const std::wstring bob = kBob;
  const Case cases[] = {
      {"installed in Program Files", kInstalledExe, {}, true, true},
      {"in Bob's Downloads, Ann's the process: Bob can replace it", kBobsExe, {}, false, false},
      {"in her own Downloads", kAnnsExe, {}, true, false},
      {"in a folder Authenticated Users may change", kToolsExe, {}, false, false},
      {"moved into Program Files with her own permissions", kInstalledExe, {{kInstalledExe, OwnSddl(kAnn)}}, true,
       false},
      {"moved into Program Files from Bob's folder", kInstalledExe, {{kInstalledExe, OwnSddl(kBob)}}, false, false},
      {"the install folder lets Bob add files", kInstalledExe,
       {{kInstallFolder, kInstalledFolderSddl + L"(A;;0x2;;;" + bob + L")"}}, false, false},
      {"Program Files lets Bob change its permissions", kInstalledExe,
       {{kProgramFiles, kProgramFilesSddl + L"(A;;WD;;;" + bob + L")"}}, false, false},
      {"the root lets users delete what is in it", kInstalledExe,
       {{kDriveRoot, kDriveRootSddl + L"(A;;0x40;;;BU)"}}, false, false},
      {"the exe in the root, where users make folders", L"\\\\?\\C:\\quillmere.exe", {}, false, false},
      // A folder an administrator made in the root can be deleted and made
      // again by any user: the Run value keeps it, the task does not.
      {"installed in a folder of the administrators' in the root", L"\\\\?\\C:\\Apps\\Quillmere\\quillmere.exe",
       {{L"\\\\?\\C:\\Apps", kInstalledFolderSddl}, {L"\\\\?\\C:\\Apps\\Quillmere", kInstalledFolderSddl}}, true, false},
      {"installed in a folder SYSTEM owns in the root", L"\\\\?\\C:\\Apps\\Quillmere\\quillmere.exe",
       {{L"\\\\?\\C:\\Apps", L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"},
        {L"\\\\?\\C:\\Apps\\Quillmere", kInstalledFolderSddl}},
       true, true},
      {"Program Files made over by the administrators", kInstalledExe,
       {{kProgramFiles, L"O:BA" + kProgramFilesSddl.substr(kProgramFilesSddl.find(L"G:"))}}, true, false},
      {"a path without the prefix is judged the same", L"C:\\Program Files\\Quillmere\\quillmere.exe", {}, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.sddl = WindowsDescriptors();
    for (const auto& [path, sddl] : c.changed) played_exe_access.sddl[path] = sddl;
    Sid user(kAnn);
    ExeTrust trust = JudgeExe(c.exe, user.get(), kPlayedExeAccess);
    EXPECT_EQ(trust.run_value, c.run_value);
    EXPECT_EQ(trust.task, c.task);
    ASSERT_FALSE(played_exe_access.asked.empty());
    if (!c.run_value) continue;
    // Every level was read, bottom up.
    std::vector<std::wstring> levels;
    std::wstring level = c.exe;
    if (level.rfind(L"\\\\?\\", 0) != 0) level = L"\\\\?\\" + level;
    for (;;) {
      levels.push_back(level);
      if (level.size() <= 7) break;
      size_t slash = level.rfind(L'\\');
      level = slash == 6 ? level.substr(0, 7) : level.substr(0, slash);
    }
    ASSERT_EQ(played_exe_access.asked.size(), levels.size());
    for (size_t i = 0; i < levels.size(); ++i) {
      EXPECT_EQ(played_exe_access.asked[i].path, levels[i]);
      EXPECT_EQ(played_exe_access.asked[i].folder, i > 0) << Narrow(levels[i]);
    }
    EXPECT_EQ(played_exe_access.drive_asked, std::wstring(1, levels[0][4]) + L":\\");
    EXPECT_EQ(played_exe_access.volume_asked, std::wstring(L"\\\\.\\") + levels[0][4] + L":");
  }
}

// A disk on a bus for carrying, or one whose bus cannot be told, keeps the
// task away and leaves the Run value to the permissions.
TEST(TaskExeJudgement, ADiskThatLeavesTheMachineGetsNoTask) {
  struct Case {
    const char* what;
    bool read;
    STORAGE_BUS_TYPE bus;
    bool removable_media;
    bool task;
  };
  const Case cases[] = {
      {"SATA", true, BusTypeSata, false, true},        {"NVMe", true, BusTypeNvme, false, true},
      {"a USB hard disk", true, BusTypeUsb, false, false}, {"FireWire", true, BusType1394, false, false},
      {"an SD card", true, BusTypeSd, false, false},   {"an MMC card", true, BusTypeMmc, false, false},
      {"an iSCSI disk", true, BusTypeiScsi, false, false},
      {"removable media", true, BusTypeSata, true, false}, {"not told", false, BusTypeSata, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.sddl = WindowsDescriptors();
    played_exe_access.bus_read = c.read;
    played_exe_access.bus = c.bus;
    played_exe_access.removable_media = c.removable_media;
    Sid user(kAnn);
    ExeTrust trust = JudgeExe(kInstalledExe, user.get(), kPlayedExeAccess);
    EXPECT_TRUE(trust.run_value);
    EXPECT_EQ(trust.task, c.task);
  }
}

TEST(TaskExeJudgement, WhatCannotBeToldKeepsBothAway) {
  struct Case {
    const char* what;
    std::wstring exe;
    UINT drive_type;
    const wchar_t* unreadable;
    bool user;
  };
  const Case cases[] = {
      {"a descriptor further up cannot be read", kInstalledExe, DRIVE_FIXED, kProgramFiles, true},
      {"the exe's descriptor cannot be read (or it is a link)", kInstalledExe, DRIVE_FIXED, kInstalledExe, true},
      {"the root's descriptor cannot be read", kInstalledExe, DRIVE_FIXED, kDriveRoot, true},
      {"the process user is unknown", kInstalledExe, DRIVE_FIXED, nullptr, false},
      // Taken away, such a drive can be changed on any machine.
      {"a removable drive", kInstalledExe, DRIVE_REMOVABLE, nullptr, true},
      {"a network drive", kInstalledExe, DRIVE_REMOTE, nullptr, true},
      {"a RAM disk", kInstalledExe, DRIVE_RAMDISK, nullptr, true},
      {"a drive the system does not know", kInstalledExe, DRIVE_NO_ROOT_DIR, nullptr, true},
      // A share's permissions are the server's.
      {"a share", L"\\\\?\\UNC\\server\\share\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a share without the prefix", L"\\\\server\\share\\Quillmere\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a device path", L"\\\\.\\C:\\Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a volume path", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a relative path", L"Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a drive-relative path", L"C:Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a climb out", L"\\\\?\\C:\\Program Files\\..\\Users\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a dot", L"\\\\?\\C:\\Program Files\\.\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"forward slashes", L"\\\\?\\C:\\Program Files/../Users/quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"an empty component", L"\\\\?\\C:\\Program Files\\\\quillmere.exe", DRIVE_FIXED, nullptr, true},
      {"a stream", L"\\\\?\\C:\\Program Files\\quillmere.exe:stream", DRIVE_FIXED, nullptr, true},
      {"the root itself", L"\\\\?\\C:\\", DRIVE_FIXED, nullptr, true},
      {"no path", L"", DRIVE_FIXED, nullptr, true},
      {"longer than a normalised path can be", L"\\\\?\\C:\\" + std::wstring(300, L'a') + L"\\quillmere.exe",
       DRIVE_FIXED, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_exe_access = PlayedExeAccess{};
    played_exe_access.sddl = WindowsDescriptors();
    played_exe_access.drive_type = c.drive_type;
    if (c.unreadable) played_exe_access.unreadable.insert(c.unreadable);
    Sid user(kAnn);
    ExeTrust trust = JudgeExe(c.exe.c_str(), c.user ? user.get() : nullptr, kPlayedExeAccess);
    EXPECT_FALSE(trust.run_value);
    EXPECT_FALSE(trust.task);
  }
  played_exe_access = PlayedExeAccess{};
  Sid user(kAnn);
  ExeTrust trust = JudgeExe(nullptr, user.get(), kPlayedExeAccess);
  EXPECT_FALSE(trust.run_value || trust.task);
  EXPECT_TRUE(played_exe_access.asked.empty());
}

namespace {

// A file made for the test, and its folder, removed again.
struct ScratchFile {
  std::wstring folder;
  std::wstring path;
  ScratchFile(const std::wstring& folder_path, const wchar_t* name) : folder(folder_path), path(folder_path + name) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(path, "MZ");
  }
  ~ScratchFile() {
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
  }
};

// This process's user as a SID.
struct ProcessUser : Sid {
  ProcessUser() : Sid(L"") {
    wchar_t text[SID_TEXT_CAPACITY];
    if (GetProcessUserSid(text)) *static_cast<Sid*>(this) = Sid(text);
  }
};

bool OwnerIs(PSECURITY_DESCRIPTOR descriptor, PSID sid) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && EqualSid(owner, sid);
}

}  // namespace

// The real calls under Wine, which reports every file and folder as its
// user's: an installed copy in Program Files gets the Run value and no
// task there. (On Windows a copy an administrator installed is the
// administrators' and gets both; the tables above show that decision.)
TEST(TaskExeJudgement, RealChecksReadTheOwnerAndFindAnInstalledCopyTheUsersUnderWine) {
  ProcessUser user;
  ASSERT_TRUE(IsValidSid(user.get()));
  ScratchFile file(KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillmere Test Folder", L"\\quillmere.exe");
  wchar_t normalized[NORMALIZED_PATH_CAPACITY];
  ASSERT_TRUE(NormalizeExistingPath(normalized, file.path.c_str()));
  const std::wstring folder = L"\\\\?\\" + file.folder;

  SecurityBuffer descriptor;
  ASSERT_TRUE(kSystemExeAccessPlatform.read_security(normalized, false, descriptor));
  EXPECT_TRUE(OwnerIs(descriptor.bytes, user.get())) << "Wine makes every file its user's";
  ASSERT_TRUE(kSystemExeAccessPlatform.read_security(folder.c_str(), true, descriptor));
  EXPECT_TRUE(OwnerIs(descriptor.bytes, user.get()));
  EXPECT_TRUE(kSystemExeAccessPlatform.read_security(L"\\\\?\\C:\\", true, descriptor));
  EXPECT_EQ(kSystemExeAccessPlatform.drive_type(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  bool removable_media = true;
  ASSERT_TRUE(kSystemExeAccessPlatform.read_bus(L"\\\\.\\C:", bus, removable_media)) << "the system disk's bus";
  EXPECT_TRUE(VolumeStaysPut(true, bus, removable_media)) << "bus " << bus;
  ExeTrust trust = JudgeExe(normalized, user.get(), kSystemExeAccessPlatform);
  EXPECT_TRUE(trust.run_value);
  EXPECT_FALSE(trust.task);

  // Asked as the wrong kind of object, or for one that is not there, nothing
  // is read.
  EXPECT_FALSE(kSystemExeAccessPlatform.read_security(normalized, true, descriptor));
  EXPECT_FALSE(kSystemExeAccessPlatform.read_security(folder.c_str(), false, descriptor));
  EXPECT_FALSE(kSystemExeAccessPlatform.read_security((folder + L"\\missing.exe").c_str(), false, descriptor));
  EXPECT_FALSE(kSystemExeAccessPlatform.read_bus(L"\\\\.\\Quillmere Missing", bus, removable_media));
}

// This process runs on its own user's desktop (under Wine, the taskbar's
// process is the shell, and runs as the same account).
TEST(TaskExeJudgement, RealShellUserIsThisProcesssUser) {
  ProcessUser user;
  SidBuffer shell_user;
  ShellUser shell = kSystemExeAccessPlatform.shell_user(shell_user);
  ASSERT_EQ(shell, SHELL_USER_READ);
  EXPECT_EQ(MatchDesktopAccount(shell, shell_user.bytes, user.get()), DESKTOP_OURS);
}

// Both entries start the long, normalised path that was judged.
TEST(TaskExeJudgement, ShortNamesAreJudgedAndStartedAsTheirLongForm) {
  ScratchFile file(KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillmere Test Folder", L"\\quillmere.exe");
  wchar_t short_path[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(file.path.c_str(), short_path, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring(short_path).find(L"Quillmere Test Folder"), std::wstring::npos)
      << "the system gave no 8.3 name: " << Narrow(short_path);

  wchar_t from_long[NORMALIZED_PATH_CAPACITY], from_short[NORMALIZED_PATH_CAPACITY];
  ASSERT_TRUE(NormalizeExistingPath(from_long, file.path.c_str()));
  ASSERT_TRUE(NormalizeExistingPath(from_short, short_path));
  EXPECT_STREQ(from_short, from_long);
  EXPECT_EQ(std::wstring(from_long), L"\\\\?\\" + file.path);

  Sid user(kAnn);
  for (const wchar_t* path : {file.path.c_str(), static_cast<const wchar_t*>(short_path)}) {
    played_exe_access = PlayedExeAccess{};
    wchar_t plain[MAX_PATH];
    ExeTrust trust = {};
    ASSERT_TRUE(TrustedExePath(plain, trust, path, user.get(), kPlayedExeAccess)) << Narrow(path);
    EXPECT_TRUE(trust.run_value && trust.task);
    EXPECT_EQ(std::wstring(plain), file.path) << "the entries start the long name";
    ASSERT_FALSE(played_exe_access.asked.empty());
    EXPECT_EQ(played_exe_access.asked[0].path, L"\\\\?\\" + file.path) << "the long name was judged";
  }
  // Refused: nothing to start.
  played_exe_access = PlayedExeAccess{};
  played_exe_access.sddl[L"\\\\?\\" + file.path] = OwnSddl(kBob);
  wchar_t plain[MAX_PATH];
  wmemset(plain, L'#', MAX_PATH);
  ExeTrust trust = {1, 1};
  EXPECT_FALSE(TrustedExePath(plain, trust, file.path.c_str(), user.get(), kPlayedExeAccess));
  EXPECT_STREQ(plain, L"");
  EXPECT_FALSE(trust.run_value || trust.task);
}

TEST(TaskExeJudgement, AnExeThatIsNotThereIsRefused) {
  std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  Sid user(kAnn);
  for (const std::wstring& path : {program_files + L"\\Quillmere Missing\\quillmere.exe",
                                   program_files + L"\\..\\Quillmere Test\\quillmere.exe", std::wstring()}) {
    played_exe_access = PlayedExeAccess{};
    wchar_t plain[MAX_PATH];
    wmemset(plain, L'#', MAX_PATH);
    ExeTrust trust = {1, 1};
    EXPECT_FALSE(TrustedExePath(plain, trust, path.c_str(), user.get(), kPlayedExeAccess)) << Narrow(path);
    EXPECT_STREQ(plain, L"");
    EXPECT_TRUE(played_exe_access.asked.empty());
  }
}

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
    wchar_t this_account[64] = {}, signed_in_user[64] = {};
    if (!LoadTextIn(kLanguages[language].id, IDS_THIS_ACCOUNT, this_account, 64, nullptr))
      LoadTextIn(kLanguages[0].id, IDS_THIS_ACCOUNT, this_account, 64, nullptr);
    if (!LoadTextIn(kLanguages[language].id, IDS_SIGNED_IN_USER, signed_in_user, 64, nullptr))
      LoadTextIn(kLanguages[0].id, IDS_SIGNED_IN_USER, signed_in_user, 64, nullptr);
    struct Case {
      const wchar_t* process;
      const wchar_t* signed_in;
      std::wstring text;
    };
    const Case cases[] = {
        {L"CONTOSO\\alice", L"CONTOSO\\bob",
         TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, L"CONTOSO\\alice", L"CONTOSO\\bob")},
        {L"alice", L"", TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, L"alice", signed_in_user)},
        {L"", L"bob", TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, this_account, L"bob")},
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

const wchar_t kAnnTask[] = L"Quillmere S-1-5-21-1111-2222-3333-1001";
const wchar_t kBobTask[] = L"Quillmere S-1-5-21-1111-2222-3333-1002";

bool Has(const wchar_t* name) { return fake_scheduler.tasks.count(name) != 0; }

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
  ASSERT_TRUE(Has(kAnnTask));
  ASSERT_TRUE(Has(kBobTask));
  EXPECT_EQ(fake_scheduler.tasks[kAnnTask].xml, L"<Task for S-1-5-21-1111-2222-3333-1001/>");
  EXPECT_EQ(fake_scheduler.tasks[kBobTask].owner, kBob);

  ASSERT_TRUE(Update(kAnn, true)) << "again: rewritten in place";
  EXPECT_EQ(fake_scheduler.tasks.size(), 2u);

  ASSERT_TRUE(Update(kAnn, false));
  EXPECT_FALSE(Has(kAnnTask));
  EXPECT_TRUE(Has(kBobTask)) << "Ann's off left Bob's task";
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
    EXPECT_EQ(Has(L"Quillmere"), c.legacy_left);
    EXPECT_EQ(Has(kAnnTask), c.on);
    EXPECT_TRUE(Has(kBobTask));
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
    EXPECT_EQ(Has(kAnnTask), c.on);
    EXPECT_EQ(Has(kBobTask), c.stored == kBobTask) << "another user's task is never touched";
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

const wchar_t kInstalledCommand[] = L"\"C:\\Program Files\\Quillmere\\quillmere.exe\"";
const wchar_t kRunMarker[] = L"a Run value left from before";

void WriteRunMarker() {
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quillmere", REG_SZ,
                  kRunMarker, sizeof kRunMarker);
}

// Each test starts and ends with neither the Run value nor a logon task of
// this user's, and has this user's SID and the XML of a task that starts an
// installed copy. The system is played as on Windows for a copy in a folder
// of the user's own, on a SATA disk, on their own desktop.
class LogonEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRunValue();
    DeleteAutostartTask();
    ASSERT_FALSE(ReadAutostartTask().exists);
    ASSERT_TRUE(GetProcessUserSid(sid_));
    ASSERT_TRUE(BuildTaskXml(xml_, sid_, kInstalledCommand));
    played_exe_access = PlayedExeAccess{};
    played_exe_access.fallback = OwnSddl(sid_);
  }
  void TearDown() override {
    DeleteRunValue();
    DeleteAutostartTask();
  }
  // SetAutostart through the seams below.
  AutostartResult Autostart(bool enable) { return SetAutostart(enable, *task_scheduler_, *exe_access_, accounts_); }
  const TaskScheduler* task_scheduler_ = &kSystemTaskScheduler;
  const ExeAccessPlatform* exe_access_ = &kPlayedExeAccess;
  AutostartAccounts accounts_ = {};
  wchar_t sid_[SID_TEXT_CAPACITY] = {};
  wchar_t xml_[TASK_XML_CAPACITY] = {};
};

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

// SetAutostart: the Run value and the task as "Start with Windows" asks.
class StartWithWindows : public LogonEntries {};
// The logon task through the real Task Scheduler and its store.
class SystemTaskScheduler : public LogonEntries {};

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
  ASSERT_TRUE(Has(task_name.c_str()));
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
  EXPECT_FALSE(Has(task_name.c_str()));
  EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));

  played_exe_access.sddl.clear();
  played_exe_access.bus = BusTypeUsb;  // a USB hard disk that calls itself fixed
  EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
  EXPECT_FALSE(Has(task_name.c_str()));
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
    EXPECT_FALSE(Has(UserTaskName().c_str()));
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
      EXPECT_EQ(Has(UserTaskName().c_str()), c.entries) << on;
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
    EXPECT_EQ(Has(UserTaskName().c_str()), c.task_left);
    for (const auto& [name, task] : fake_scheduler.tasks) EXPECT_EQ(task.xml, L"<Task/>") << "nothing registered";
  }
  WriteRunMarker();
  fake_scheduler.tasks[UserTaskName()] = {L"<Task/>", sid_, L""};
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE) << "switching off needs no answer";
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(Has(UserTaskName().c_str()));
}

// A profile without a Run key has nothing to remove there.
TEST_F(StartWithWindows, SwitchingOffWithoutARunKeyIsDone) {
  const wchar_t run[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegDeleteTreeW(key, L"Run");
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE);
  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, run, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(made);
  RegCloseKey(key);
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
