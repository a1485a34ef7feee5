// Start at logon: the Run value, the task's name, the logon task's XML, the
// permissions that decide whether there may be one, and the task through a
// played and through the real Task Scheduler.
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

// Permissions as a test plays them: what the user's unelevated token holds
// on each path the judgement asks about (read and execute alone, as on an
// object only administrators may change, for any path not listed), the
// kind of drive, and every question asked.
struct PlayedPermissions {
  std::map<std::wstring, ACCESS_MASK> granted;
  std::set<std::wstring> unreadable;
  UINT drive_type = DRIVE_FIXED;
  std::wstring drive_asked;
  struct Question {
    std::wstring path;
    bool folder;
    HANDLE token;
  };
  std::vector<Question> asked;
};
PlayedPermissions permissions;

constexpr ACCESS_MASK kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

UINT WINAPI PlayedDriveType(LPCWSTR root) {
  permissions.drive_asked = root;
  return permissions.drive_type;
}

bool PlayedUserAccess(HANDLE token, const wchar_t* path, bool folder, ACCESS_MASK& granted) {
  permissions.asked.push_back({path, folder, token});
  granted = 0;
  if (permissions.unreadable.count(path)) return false;
  auto listed = permissions.granted.find(path);
  granted = listed == permissions.granted.end() ? kReadAndExecute : listed->second;
  return true;
}

const ExeAccessPlatform kPlayedPermissions = {PlayedDriveType, PlayedUserAccess};

HANDLE const kUserToken = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));

const wchar_t kInstalledExe[] = L"\\\\?\\C:\\Program Files\\Quillmere\\quillmere.exe";
const wchar_t kInstallFolder[] = L"\\\\?\\C:\\Program Files\\Quillmere";
const wchar_t kProgramFiles[] = L"\\\\?\\C:\\Program Files";
const wchar_t kDriveRoot[] = L"\\\\?\\C:\\";

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

// The token an elevated process keeps for its user without elevation.
struct LinkedToken {
  HANDLE handle = nullptr;
  LinkedToken() {
    HANDLE process = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process)) return;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size)) handle = linked.LinkedToken;
    CloseHandle(process);
  }
  ~LinkedToken() {
    if (handle) CloseHandle(handle);
  }
};

}  // namespace

// The exe, its folder and every folder up to the drive's root are asked, in
// that order; any right that lets the user change one of them keeps the
// task away.
TEST(TaskExeJudgement, OnlyAnExeTheUserCannotChangeGetsTheTask) {
  struct Case {
    const char* what;
    const wchar_t* exe;
    std::map<std::wstring, ACCESS_MASK> granted;
    bool allowed;
  };
  const ACCESS_MASK all = FILE_ALL_ACCESS;
  const ACCESS_MASK user_creates = kReadAndExecute | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
  const Case cases[] = {
      {"admin-only exe and folders", kInstalledExe, {}, true},
      // As on every Windows: Authenticated Users may make folders in C:\.
      {"the root lets users make folders", kInstalledExe, {{kDriveRoot, kReadAndExecute | FILE_ADD_SUBDIRECTORY}}, true},
      {"a folder further up lets users add files", kInstalledExe, {{kProgramFiles, user_creates}}, true},
      {"exe writable by the user", kInstalledExe, {{kInstalledExe, kReadAndExecute | FILE_WRITE_DATA}}, false},
      {"exe appendable", kInstalledExe, {{kInstalledExe, kReadAndExecute | FILE_APPEND_DATA}}, false},
      {"exe's permissions changeable", kInstalledExe, {{kInstalledExe, kReadAndExecute | WRITE_DAC}}, false},
      {"exe's owner changeable", kInstalledExe, {{kInstalledExe, kReadAndExecute | WRITE_OWNER}}, false},
      {"exe deletable or renamable", kInstalledExe, {{kInstalledExe, kReadAndExecute | DELETE}}, false},
      // Its owner may always change its permissions.
      {"exe owned by the user", kInstalledExe, {{kInstalledExe, kReadAndExecute | READ_CONTROL | WRITE_DAC}}, false},
      {"exe moved in with its old permissions (the user's, full control)", kInstalledExe, {{kInstalledExe, all}},
       false},
      {"parent folder takes new files", kInstalledExe, {{kInstallFolder, kReadAndExecute | FILE_ADD_FILE}}, false},
      {"parent folder takes new folders", kInstalledExe, {{kInstallFolder, kReadAndExecute | FILE_ADD_SUBDIRECTORY}},
       false},
      {"parent folder lets its files be deleted", kInstalledExe,
       {{kInstallFolder, kReadAndExecute | FILE_DELETE_CHILD}}, false},
      {"parent folder's permissions changeable", kInstalledExe, {{kInstallFolder, kReadAndExecute | WRITE_DAC}},
       false},
      {"parent folder renamable", kInstalledExe, {{kInstallFolder, kReadAndExecute | DELETE}}, false},
      {"parent folder writable (Modify)", kInstalledExe, {{kInstallFolder, FILE_GENERIC_WRITE | kReadAndExecute | DELETE}},
       false},
      {"a folder further up lets its folders be deleted", kInstalledExe,
       {{kProgramFiles, kReadAndExecute | FILE_DELETE_CHILD}}, false},
      {"a folder further up renamable", kInstalledExe, {{kProgramFiles, kReadAndExecute | DELETE}}, false},
      {"a folder further up with a changeable owner", kInstalledExe, {{kProgramFiles, kReadAndExecute | WRITE_OWNER}},
       false},
      {"the root's permissions changeable", kInstalledExe, {{kDriveRoot, kReadAndExecute | WRITE_DAC}}, false},
      {"exe under C:\\Windows\\Temp", L"\\\\?\\C:\\Windows\\Temp\\quillmere.exe",
       {{L"\\\\?\\C:\\Windows\\Temp\\quillmere.exe", all}, {L"\\\\?\\C:\\Windows\\Temp", user_creates}}, false},
      {"exe under C:\\Windows\\Temp, copied by an administrator", L"\\\\?\\C:\\Windows\\Temp\\quillmere.exe",
       {{L"\\\\?\\C:\\Windows\\Temp", user_creates}}, false},
      {"exe in the root, where users make folders", L"\\\\?\\C:\\quillmere.exe",
       {{kDriveRoot, kReadAndExecute | FILE_ADD_SUBDIRECTORY}}, false},
      {"exe in the root of an admin-only drive", L"\\\\?\\D:\\quillmere.exe", {}, true},
      {"a path without the prefix is judged the same", L"C:\\Program Files\\Quillmere\\quillmere.exe",
       {{kProgramFiles, kReadAndExecute | DELETE}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    permissions = PlayedPermissions{};
    permissions.granted = c.granted;
    EXPECT_EQ(ExeBeyondUserReach(c.exe, kUserToken, kPlayedPermissions), c.allowed);
    ASSERT_FALSE(permissions.asked.empty());
    for (const PlayedPermissions::Question& question : permissions.asked) EXPECT_EQ(question.token, kUserToken);
    if (!c.allowed) continue;
    // Every level was asked, bottom up.
    std::vector<std::wstring> levels;
    std::wstring level = c.exe;
    if (level.rfind(L"\\\\?\\", 0) != 0) level = L"\\\\?\\" + level;
    for (;;) {
      levels.push_back(level);
      if (level.size() <= 7) break;
      size_t slash = level.rfind(L'\\');
      level = slash == 6 ? level.substr(0, 7) : level.substr(0, slash);
    }
    ASSERT_EQ(permissions.asked.size(), levels.size());
    for (size_t i = 0; i < levels.size(); ++i) {
      EXPECT_EQ(permissions.asked[i].path, levels[i]);
      EXPECT_EQ(permissions.asked[i].folder, i > 0) << Narrow(levels[i]);
    }
    EXPECT_EQ(permissions.drive_asked, std::wstring(1, levels[0][4]) + L":\\");
  }
}

TEST(TaskExeJudgement, WhatCannotBeToldKeepsTheTaskAway) {
  struct Case {
    const char* what;
    std::wstring exe;
    UINT drive_type;
    const wchar_t* unreadable;
    HANDLE token;
  };
  const Case cases[] = {
      {"permissions of a folder further up cannot be read", kInstalledExe, DRIVE_FIXED, kProgramFiles, kUserToken},
      {"permissions of the exe cannot be read", kInstalledExe, DRIVE_FIXED, kInstalledExe, kUserToken},
      {"no unelevated token", kInstalledExe, DRIVE_FIXED, nullptr, nullptr},
      // Taken away, such a drive can be changed on any machine.
      {"a removable drive", kInstalledExe, DRIVE_REMOVABLE, nullptr, kUserToken},
      {"a network drive", kInstalledExe, DRIVE_REMOTE, nullptr, kUserToken},
      {"a RAM disk", kInstalledExe, DRIVE_RAMDISK, nullptr, kUserToken},
      {"a drive the system does not know", kInstalledExe, DRIVE_NO_ROOT_DIR, nullptr, kUserToken},
      // A share's permissions are the server's.
      {"a share", L"\\\\?\\UNC\\server\\share\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a share without the prefix", L"\\\\server\\share\\Quillmere\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a device path", L"\\\\.\\C:\\Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a volume path", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\quillmere.exe", DRIVE_FIXED, nullptr,
       kUserToken},
      {"a relative path", L"Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a drive-relative path", L"C:Program Files\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a climb out", L"\\\\?\\C:\\Program Files\\..\\Users\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a dot", L"\\\\?\\C:\\Program Files\\.\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"forward slashes", L"\\\\?\\C:\\Program Files/../Users/quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"an empty component", L"\\\\?\\C:\\Program Files\\\\quillmere.exe", DRIVE_FIXED, nullptr, kUserToken},
      {"a stream", L"\\\\?\\C:\\Program Files\\quillmere.exe:stream", DRIVE_FIXED, nullptr, kUserToken},
      {"the root itself", L"\\\\?\\C:\\", DRIVE_FIXED, nullptr, kUserToken},
      {"no path", L"", DRIVE_FIXED, nullptr, kUserToken},
      {"longer than a normalised path can be", L"\\\\?\\C:\\" + std::wstring(300, L'a') + L"\\quillmere.exe",
       DRIVE_FIXED, nullptr, kUserToken},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    permissions = PlayedPermissions{};
    permissions.drive_type = c.drive_type;
    if (c.unreadable) permissions.unreadable.insert(c.unreadable);
    EXPECT_FALSE(ExeBeyondUserReach(c.exe.c_str(), c.token, kPlayedPermissions));
  }
  permissions = PlayedPermissions{};
  EXPECT_FALSE(ExeBeyondUserReach(nullptr, kUserToken, kPlayedPermissions));
  EXPECT_TRUE(permissions.asked.empty());
}

// The real descriptor check with the real unelevated token. (Wine's linked
// token keeps Administrators enabled, so only descriptors without them show
// a refusal here.)
TEST(TaskExeJudgement, TokenAccessAnswersWhatTheDescriptorGrants) {
  LinkedToken token;
  ASSERT_NE(token.handle, nullptr) << "no linked token";
  wchar_t user[SID_TEXT_CAPACITY];
  ASSERT_TRUE(GetProcessUserSid(user));
  struct Case {
    const char* what;
    std::wstring descriptor;
    ACCESS_MASK change_rights;  // of EXE_CHANGE_RIGHTS | EXE_FOLDER_CHANGE_RIGHTS
  };
  const ACCESS_MASK every = EXE_CHANGE_RIGHTS | EXE_FOLDER_CHANGE_RIGHTS;
  const Case cases[] = {
      {"only the system may change it", L"O:SYG:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)", 0},
      {"the user may write it", L"O:SYG:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)(A;;0x2;;;" + std::wstring(user) + L")",
       FILE_WRITE_DATA},
      {"the user may add folders", L"O:SYG:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)(A;;0x4;;;AU)", FILE_ADD_SUBDIRECTORY},
      {"the user owns it", L"O:" + std::wstring(user) + L"G:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)", WRITE_DAC},
      {"no DACL: anyone may do anything", L"O:SYG:SY", every},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.descriptor.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    ACCESS_MASK granted = 0xDEAD;
    EXPECT_TRUE(TokenAccess(token.handle, descriptor, granted));
    EXPECT_EQ(granted & FILE_READ_DATA, static_cast<ACCESS_MASK>(FILE_READ_DATA)) << "everyone reads";
    EXPECT_EQ(granted & every & c.change_rights, c.change_rights) << std::hex << granted;
    if (c.change_rights == 0) {
      EXPECT_EQ(granted & every, 0u) << std::hex << granted;
    }
    ACCESS_MASK none = 0xDEAD;
    EXPECT_FALSE(TokenAccess(nullptr, descriptor, none));
    EXPECT_EQ(none, 0u);
    LocalFree(descriptor);
  }
}

// The real calls under Wine, which reports every file and folder as the
// user's with full control: an installed copy in Program Files is one the
// user can change, so it gets no task there. (On Windows, a copy that an
// administrator installed gets one.)
TEST(TaskExeJudgement, RealChecksFindAnInstalledCopyChangeableUnderWine) {
  LinkedToken token;
  ASSERT_NE(token.handle, nullptr) << "no linked token";
  ScratchFile file(KnownFolderPath(FOLDERID_ProgramFiles) + L"\\Quillmere Test Folder", L"\\quillmere.exe");
  wchar_t normalized[NORMALIZED_PATH_CAPACITY];
  ASSERT_TRUE(NormalizeExistingPath(normalized, file.path.c_str()));

  ACCESS_MASK granted = 0;
  ASSERT_TRUE(kSystemExeAccessPlatform.user_access(token.handle, normalized, false, granted));
  EXPECT_EQ(granted & EXE_CHANGE_RIGHTS, EXE_CHANGE_RIGHTS) << std::hex << granted;
  ASSERT_TRUE(kSystemExeAccessPlatform.user_access(token.handle, (L"\\\\?\\" + file.folder).c_str(), true, granted));
  EXPECT_EQ(granted & EXE_FOLDER_CHANGE_RIGHTS, EXE_FOLDER_CHANGE_RIGHTS) << std::hex << granted;
  EXPECT_TRUE(kSystemExeAccessPlatform.user_access(token.handle, L"\\\\?\\C:\\", true, granted));
  EXPECT_EQ(kSystemExeAccessPlatform.drive_type(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_FALSE(ExeBeyondUserReach(normalized, token.handle, kSystemExeAccessPlatform));

  // Asked as the wrong kind of object, or for one that is not there, the
  // check cannot answer.
  EXPECT_FALSE(kSystemExeAccessPlatform.user_access(token.handle, normalized, true, granted));
  EXPECT_FALSE(kSystemExeAccessPlatform.user_access(token.handle, (L"\\\\?\\" + file.folder).c_str(), false, granted));
  EXPECT_FALSE(
      kSystemExeAccessPlatform.user_access(token.handle, (L"\\\\?\\" + file.folder + L"\\missing.exe").c_str(), false,
                                           granted));
  EXPECT_FALSE(kSystemExeAccessPlatform.user_access(nullptr, normalized, false, granted));
}

// The task starts the long, normalised path that was judged.
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

  for (const wchar_t* path : {file.path.c_str(), static_cast<const wchar_t*>(short_path)}) {
    permissions = PlayedPermissions{};
    wchar_t plain[MAX_PATH];
    ASSERT_TRUE(TaskExePath(plain, path, kUserToken, kPlayedPermissions)) << Narrow(path);
    EXPECT_EQ(std::wstring(plain), file.path) << "the task starts the long name";
    ASSERT_FALSE(permissions.asked.empty());
    EXPECT_EQ(permissions.asked[0].path, L"\\\\?\\" + file.path) << "the long name was judged";
  }
  // Refused: nothing to start.
  permissions = PlayedPermissions{};
  permissions.granted[L"\\\\?\\" + file.path] = FILE_ALL_ACCESS;
  wchar_t plain[MAX_PATH];
  wmemset(plain, L'#', MAX_PATH);
  EXPECT_FALSE(TaskExePath(plain, file.path.c_str(), kUserToken, kPlayedPermissions));
  EXPECT_STREQ(plain, L"");
}

TEST(TaskExeJudgement, AnExeThatIsNotThereIsRefused) {
  std::wstring program_files = KnownFolderPath(FOLDERID_ProgramFiles);
  for (const std::wstring& path : {program_files + L"\\Quillmere Missing\\quillmere.exe",
                                   program_files + L"\\..\\Quillmere Test\\quillmere.exe", std::wstring()}) {
    permissions = PlayedPermissions{};
    wchar_t plain[MAX_PATH];
    wmemset(plain, L'#', MAX_PATH);
    EXPECT_FALSE(TaskExePath(plain, path.c_str(), kUserToken, kPlayedPermissions)) << Narrow(path);
    EXPECT_STREQ(plain, L"");
    EXPECT_TRUE(permissions.asked.empty());
  }
}

// Why there is no elevated task only when just switched on; a failure
// whenever it comes, at start too.
TEST(AutostartNotice, WhyNoTaskWhenJustSwitchedOnAndEveryFailure) {
  struct Case {
    bool was_on;
    AutostartResult result;
    AutostartNotice notice;
  };
  const Case cases[] = {
      {0, AUTOSTART_RUN_VALUE_ONLY, AUTOSTART_NOTICE_NOT_ELEVATED},
      {1, AUTOSTART_RUN_VALUE_ONLY, AUTOSTART_NOTICE_NONE},
      {0, AUTOSTART_DONE, AUTOSTART_NOTICE_NONE},
      {1, AUTOSTART_DONE, AUTOSTART_NOTICE_NONE},
      {0, AUTOSTART_FAILED, AUTOSTART_NOTICE_FAILED},
      {1, AUTOSTART_FAILED, AUTOSTART_NOTICE_FAILED},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AutostartNoticeFor(c.was_on, c.result), c.notice) << c.was_on << " " << c.result;
}

namespace {

// A Task Scheduler in memory: the tasks by name with the SID of their
// principal ("" when the scheduler keeps none, as Wine's), and every call.
struct FakeScheduler {
  struct Task {
    std::wstring xml;
    std::wstring owner;
  };
  std::map<std::wstring, Task> tasks;
  std::wstring registering_user;  // the SID the next registration runs as
  bool reachable = true;
  int opened = 0;
  int closed = 0;
  std::vector<std::wstring> deleted;  // names asked for, present or not
};
FakeScheduler scheduler;

void* FakeOpen() {
  if (!scheduler.reachable) return nullptr;
  ++scheduler.opened;
  return &scheduler;
}

bool FakeRegister(void* folder, const wchar_t* name, const wchar_t* xml) {
  EXPECT_EQ(folder, &scheduler);
  scheduler.tasks[name] = {xml, scheduler.registering_user};
  return true;
}

bool FakeDelete(void* folder, const wchar_t* name) {
  EXPECT_EQ(folder, &scheduler);
  scheduler.deleted.push_back(name);
  scheduler.tasks.erase(name);
  return true;
}

TaskOwner FakeReadOwner(void* folder, const wchar_t* name, wchar_t (&sid)[SID_TEXT_CAPACITY]) {
  EXPECT_EQ(folder, &scheduler);
  ZeroMemory(sid, sizeof sid);
  auto task = scheduler.tasks.find(name);
  if (task == scheduler.tasks.end()) return TASK_MISSING;
  if (task->second.owner.empty()) return TASK_OWNER_UNKNOWN;
  wcscpy(sid, task->second.owner.c_str());
  return TASK_OWNER_KNOWN;
}

void FakeClose(void* folder) {
  EXPECT_EQ(folder, &scheduler);
  ++scheduler.closed;
}

// A store that cannot be looked into: every change goes to the scheduler.
bool FakeStoreUnreadable(const wchar_t*) { return false; }
// A store that tells what it holds, as System32\Tasks does for an elevated
// process.
bool FakeStoresNoTask(const wchar_t* name) { return scheduler.tasks.count(name) == 0; }

const TaskScheduler kFakeScheduler = {FakeOpen, FakeRegister, FakeDelete, FakeReadOwner, FakeClose, FakeStoreUnreadable};
const TaskScheduler kFakeSchedulerWithStore = {FakeOpen,      FakeRegister, FakeDelete,
                                               FakeReadOwner, FakeClose,    FakeStoresNoTask};

const wchar_t kAnn[] = L"S-1-5-21-1111-2222-3333-1001";
const wchar_t kBob[] = L"S-1-5-21-1111-2222-3333-1002";
const wchar_t kAnnTask[] = L"Quillmere S-1-5-21-1111-2222-3333-1001";
const wchar_t kBobTask[] = L"Quillmere S-1-5-21-1111-2222-3333-1002";

bool Has(const wchar_t* name) { return scheduler.tasks.count(name) != 0; }

// Ann's or Bob's turn at the shared scheduler, as SetAutostart takes it.
bool Update(const wchar_t* sid, bool on) {
  scheduler.registering_user = sid;
  return UpdateLogonTask(sid, on ? (std::wstring(L"<Task for ") + sid + L"/>").c_str() : nullptr, kFakeScheduler);
}

}  // namespace

TEST(LogonTaskPerUser, TwoUsersTasksCoexistAndEachOffTouchesOnlyItsOwn) {
  scheduler = FakeScheduler{};
  ASSERT_TRUE(Update(kAnn, true));
  ASSERT_TRUE(Update(kBob, true));
  ASSERT_TRUE(Has(kAnnTask));
  ASSERT_TRUE(Has(kBobTask));
  EXPECT_EQ(scheduler.tasks[kAnnTask].xml, L"<Task for S-1-5-21-1111-2222-3333-1001/>");
  EXPECT_EQ(scheduler.tasks[kBobTask].owner, kBob);

  ASSERT_TRUE(Update(kAnn, true)) << "again: rewritten in place";
  EXPECT_EQ(scheduler.tasks.size(), 2u);

  ASSERT_TRUE(Update(kAnn, false));
  EXPECT_FALSE(Has(kAnnTask));
  EXPECT_TRUE(Has(kBobTask)) << "Ann's off left Bob's task";
  ASSERT_TRUE(Update(kAnn, false)) << "already gone";
  ASSERT_TRUE(Update(kBob, false));
  EXPECT_TRUE(scheduler.tasks.empty());
  for (const std::wstring& name : scheduler.deleted) EXPECT_NE(name, L"Quillmere") << "no shared task to touch";
  EXPECT_EQ(scheduler.opened, 6);
  EXPECT_EQ(scheduler.closed, 6) << "every open folder is closed";
}

// The one "Quillmere" task of earlier versions goes only when the scheduler
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
    scheduler = FakeScheduler{};
    if (c.legacy_owner) scheduler.tasks[L"Quillmere"] = {L"<old/>", c.legacy_owner};
    scheduler.tasks[kBobTask] = {L"<Task for Bob/>", kBob};
    EXPECT_TRUE(Update(kAnn, c.on));
    EXPECT_EQ(Has(L"Quillmere"), c.legacy_left);
    EXPECT_EQ(Has(kAnnTask), c.on);
    EXPECT_TRUE(Has(kBobTask));
    for (const std::wstring& name : scheduler.deleted) {
      EXPECT_NE(name, kBobTask);
      if (!c.legacy_owner || c.legacy_left) {
        EXPECT_NE(name, L"Quillmere");
      }
    }
  }
}

TEST(LogonTaskPerUser, NothingIsAskedOfAnUnreachableSchedulerOrForABadSid) {
  scheduler = FakeScheduler{};
  scheduler.reachable = false;
  EXPECT_FALSE(Update(kAnn, true));
  EXPECT_FALSE(Update(kAnn, false));
  scheduler.reachable = true;
  EXPECT_FALSE(Update(L"S-1-5\\..\\Quillmere", false));
  EXPECT_FALSE(UpdateLogonTask(nullptr, L"<x/>", kFakeScheduler));
  EXPECT_EQ(scheduler.opened, 0);
  EXPECT_TRUE(scheduler.deleted.empty());
  EXPECT_TRUE(scheduler.tasks.empty());
}


// Switched off with no task of ours stored, a start reaches no scheduler and
// so loads no COM; anything stored, ours or the shared one, still goes
// through the scheduler, and so does every "on".
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
    scheduler = FakeScheduler{};
    if (c.stored) scheduler.tasks[c.stored] = {L"<Task/>", L""};
    scheduler.registering_user = kAnn;
    const wchar_t* xml = c.on ? L"<Task for Ann/>" : nullptr;
    ASSERT_TRUE(UpdateLogonTask(kAnn, xml, kFakeSchedulerWithStore));
    EXPECT_EQ(scheduler.opened, c.opened);
    EXPECT_EQ(scheduler.closed, c.opened);
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

// Each test starts and ends with neither the Run value nor a logon task of
// this user's, and has this user's SID and the XML of a task that starts an
// installed copy.
class LogonEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRunValue();
    DeleteAutostartTask();
    ASSERT_FALSE(ReadAutostartTask().exists);
    ASSERT_TRUE(GetProcessUserSid(sid_));
    ASSERT_TRUE(BuildTaskXml(xml_, sid_, kInstalledCommand));
  }
  void TearDown() override {
    DeleteRunValue();
    DeleteAutostartTask();
  }
  // SetAutostart through the seams below, with the user's own rights as the
  // program makes them.
  AutostartResult Autostart(bool enable) {
    return SetAutostart(enable, *task_scheduler_, *exe_access_, UserToken());
  }
  const TaskScheduler* task_scheduler_ = &kSystemTaskScheduler;
  const ExeAccessPlatform* exe_access_ = &kSystemExeAccessPlatform;
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
    // This test program lies where its user can change it: no task.
    EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
    DWORD type = 0, bytes = 0;
    EXPECT_EQ(ReadRunValue(&type, &bytes), Quoted(module));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, (module.size() + 3) * sizeof(wchar_t)) << "two quotes and the terminator";
  }
  EXPECT_EQ(Autostart(false), AUTOSTART_DONE);
  EXPECT_EQ(ReadRunValue(), L"");
}

// With permissions played: an exe its user cannot change gets the task,
// which starts it by its judged path and names the user by SID; once the
// user could change it, the task goes again. A task that cannot be
// registered or removed is a failure.
TEST_F(StartWithWindows, TheTaskFollowsThePermissionsOfTheExe) {
  exe_access_ = &kPlayedPermissions;
  task_scheduler_ = &kFakeSchedulerWithStore;
  scheduler = FakeScheduler{};
  scheduler.registering_user = sid_;
  const std::wstring exe = L"\\\\?\\" + TestExePath();
  const std::wstring task_name = UserTaskName();

  permissions = PlayedPermissions{};
  ASSERT_EQ(Autostart(true), AUTOSTART_DONE);
  EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));
  ASSERT_FALSE(permissions.asked.empty());
  EXPECT_EQ(permissions.asked[0].path, exe);
  EXPECT_NE(permissions.asked[0].token, nullptr) << "judged against the user's unelevated token";
  ASSERT_TRUE(Has(task_name.c_str()));
  std::wstring xml = scheduler.tasks[task_name].xml;
  std::wstring user_id = std::wstring(L"<UserId>") + sid_ + L"</UserId>";
  size_t trigger = xml.find(user_id);
  ASSERT_NE(trigger, std::wstring::npos) << Narrow(xml);
  EXPECT_NE(xml.find(user_id, trigger + 1), std::wstring::npos) << "the principal too";
  EXPECT_NE(xml.find(L"<Command>" + Quoted(TestExePath()) + L"</Command>"), std::wstring::npos);

  permissions.granted[exe] = FILE_ALL_ACCESS;  // moved in with the user's own permissions
  EXPECT_EQ(Autostart(true), AUTOSTART_RUN_VALUE_ONLY);
  EXPECT_FALSE(Has(task_name.c_str()));
  EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));

  scheduler.reachable = false;
  task_scheduler_ = &kFakeScheduler;  // a store that cannot be looked into
  EXPECT_EQ(Autostart(true), AUTOSTART_FAILED) << "a task of ours may be left";
  permissions.granted.clear();
  EXPECT_EQ(Autostart(true), AUTOSTART_FAILED) << "the task could not be registered";
  EXPECT_EQ(Autostart(false), AUTOSTART_FAILED) << "the task could not be removed";
  EXPECT_EQ(ReadRunValue(), L"");
}

// This test program lies in the build tree, which its user can change (and
// under Wine every file is its user's): it gets the Run value alone, and a
// task of ours left from another place goes.
TEST_F(StartWithWindows, AnExeAnyoneCanReplaceGetsTheRunValueOnly) {
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

// The scheduler keeps the settings that the task's XML gives.
TEST_F(SystemTaskScheduler, RegisteredXmlKeepsItsSettings) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(RegisterAutostartTask(UserTaskName(), xml_)) << "round " << round;
    TaskView task = ReadAutostartTask();
    ASSERT_TRUE(task.exists);
    // Each differs from the scheduler's own default.
    ExpectAutostartTaskSettings(task);
    EXPECT_EQ(task.priority, 5);
    if (!task.reported) continue;  // Wine 8 keeps no trigger, principal or action
    EXPECT_EQ(task.triggers, 1);
    EXPECT_EQ(task.trigger_type, TASK_TRIGGER_LOGON);
    // The scheduler may answer the account by SID or by name.
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

// Through the real scheduler: the task goes in under this user's name. Wine
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

// COM is up only while the scheduler is reached: afterwards the thread is
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
