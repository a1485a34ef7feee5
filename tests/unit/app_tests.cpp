// The shell: the shared helpers, the single-instance guard, the main and
// shell windows, and the whole program run in this process.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/support.h"
#include "tests/support/logon_entries.h"
#include "tests/support/in_language.h"
#include "tray/tray.h"
#include "common/files.h"
#include "common/system.h"
#include "common/text.h"
#include "common/user_rights.h"

#include <sddl.h>

TEST(FormatBounded, RefusesCapacitiesOutsideTheIntRange) {
  wchar_t buffer[4] = {L'x', L'x', L'x', 0};
  EXPECT_FALSE(FormatBounded(buffer, 0, L"%d", 1));
  EXPECT_FALSE(FormatBounded(buffer, size_t{2147483648u}, L"%d", 1));
  EXPECT_EQ(std::wstring(buffer), L"xxx");  // nothing written
}

TEST(FormatBounded, FollowsTheWindowsWideRulesAndCutsLongOutput) {
  struct Case {
    size_t capacity;
    std::wstring expected;
    bool complete;
  };
  // "%s" takes UTF-16 text and 2.5 rounds away from zero, as on Windows.
  const Case cases[] = {
      {64, L"Quillmere 3 0.1 -1", true},
      {19, L"Quillmere 3 0.1 -1", true},   // exactly fits with its terminator
      {18, L"Quillmere 3 0.1 -", false},   // one short: cut and terminated
      {1, L"", false},
  };
  for (const Case& c : cases) {
    wchar_t buffer[64];
    wmemset(buffer, L'#', 64);
    bool complete = FormatBounded(buffer, c.capacity, L"%s %.0f %.1f %d", L"Quillmere", 2.5, 0.05, -1);
    EXPECT_EQ(complete, c.complete) << c.capacity;
    EXPECT_EQ(std::wstring(buffer), c.expected) << c.capacity;
  }
}

TEST(CopyBounded, KeepsAtMostOneLessThanTheFieldAndAlwaysTerminates) {
  struct Case {
    size_t text_length;
    size_t capacity;
    size_t kept;
  };
  const Case cases[] = {{63, 64, 63}, {64, 64, 63}, {255, 256, 255}, {256, 256, 255}, {0, 128, 0}, {5, 1, 0}};
  for (const Case& c : cases) {
    std::wstring text(c.text_length, L'a');
    wchar_t field[300];
    wmemset(field, L'#', 300);
    CopyBounded(field, c.capacity, text.c_str());
    EXPECT_EQ(wcslen(field), c.kept) << c.text_length << " into " << c.capacity;
    EXPECT_EQ(field[c.capacity], L'#') << "wrote past the field";
  }
  wchar_t field[8] = {L'x', 0};
  CopyBounded(field, 8, nullptr);
  EXPECT_EQ(field[0], 0);
}

namespace {

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Empties the roaming application-data entry, so that the lookup fails with an
// empty answer, as on a machine whose profile cannot be found.
class NoAppDataFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_size_ = sizeof saved_;
    had_value_ = RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                              nullptr, saved_, &saved_size_) == ERROR_SUCCESS;
    const wchar_t nowhere[] = L"";
    RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", REG_EXPAND_SZ, nowhere, sizeof nowhere);
  }
  void TearDown() override {
    if (had_value_)
      RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", REG_EXPAND_SZ, saved_, saved_size_);
    else
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData");
  }
  wchar_t saved_[MAX_PATH] = {};
  DWORD saved_size_ = 0;
  bool had_value_ = false;
};

}  // namespace

TEST(GetAppDataFolder, AnswersTheRoamingFolder) {
  wchar_t folder[MAX_PATH];
  ASSERT_EQ(GetAppDataFolder(folder, UserToken(), kSystemFilePlatform), APP_FOLDER_FOUND);
  EXPECT_EQ(std::wstring(folder) + L"\\Quillmere", AppFolder());
}

TEST_F(NoAppDataFolder, NoFolderMeansNoPathAndNothingWrittenAnywhere) {
  wchar_t folder[MAX_PATH];
  EXPECT_EQ(GetAppDataFolder(folder, UserToken(), kSystemFilePlatform), APP_FOLDER_NONE);
  EXPECT_EQ(folder[0], 0) << "a failed lookup must not leave a path to trust";

  Settings settings;
  settings.threshold_percent = 5;
  EXPECT_TRUE(LoadSettings(settings, kSystemFilePlatform, UserToken()));
  EXPECT_EQ(settings.threshold_percent, 80) << "runs on the defaults";
  settings.threshold_percent = 42;
  SaveSettings(settings, kSystemFilePlatform, UserToken());
  // Neither the drive root nor the unreachable path gets a folder.
  EXPECT_EQ(GetFileAttributesW(L"C:\\Quillmere"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(L"\\Quillmere"), INVALID_FILE_ATTRIBUTES);
}

TEST(LoadSystemLibrary, LoadsFromSystem32Only) {
  HMODULE module = LoadSystemLibrary(L"dwmapi.dll");
  ASSERT_NE(module, nullptr);
  wchar_t path[MAX_PATH] = {}, system[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(_wcsnicmp(path, system, wcslen(system)), 0) << Narrow(path);
  FreeLibrary(module);
  EXPECT_EQ(LoadSystemLibrary(L"no-such-library.dll"), nullptr);
}

namespace {

// The attributes `group` has among the token's groups; `found` false when it
// is not one of them.
DWORD GroupAttributes(HANDLE token, WELL_KNOWN_SID_TYPE group, bool& found) {
  found = false;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof sid;
  std::vector<BYTE> buffer(8192);
  DWORD size = 0;
  if (!CreateWellKnownSid(group, nullptr, sid, &sid_size) ||
      !GetTokenInformation(token, TokenGroups, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
    return 0;
  const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i)
    if (EqualSid(groups->Groups[i].Sid, sid)) {
      found = true;
      return groups->Groups[i].Attributes;
    }
  return 0;
}

// The token's integrity level (SECURITY_MANDATORY_*_RID); ~0 when unreadable.
DWORD IntegrityLevel(HANDLE token) {
  BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) return ~DWORD{0};
  PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
  return *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
}

// Whether a token lowered to low integrity reads back as low: Windows keeps
// integrity levels; Wine 8 answers success and keeps none.
bool SystemKeepsIntegrityLevels() {
  HANDLE process = nullptr, copy = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) return false;
  bool kept = false;
  if (DuplicateTokenEx(process, TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, nullptr, SecurityImpersonation,
                       TokenImpersonation, &copy)) {
    BYTE low[SECURITY_MAX_SID_SIZE];
    DWORD low_size = sizeof low;
    TOKEN_MANDATORY_LABEL label = {{low, SE_GROUP_INTEGRITY}};
    kept = CreateWellKnownSid(WinLowLabelSid, nullptr, low, &low_size) &&
           SetTokenInformation(copy, TokenIntegrityLevel, &label, sizeof label + GetLengthSid(low)) &&
           IntegrityLevel(copy) == SECURITY_MANDATORY_LOW_RID;
    CloseHandle(copy);
  }
  CloseHandle(process);
  return kept;
}

}  // namespace

// The token every file in the program folder is reached with: the process's
// user with no administrator's rights, fit for impersonating.
TEST(UserRightsToken, ReachesNoFurtherThanTheUsersStandardToken) {
  HANDLE token = MakeUserRightsToken();
  ASSERT_NE(token, nullptr);
  HANDLE process = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process));
  DWORD size = 0;
  TOKEN_TYPE type = TokenPrimary;
  ASSERT_TRUE(GetTokenInformation(token, TokenType, &type, sizeof type, &size));
  EXPECT_EQ(type, TokenImpersonation);
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  ASSERT_TRUE(GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &size));
  EXPECT_EQ(level, SecurityImpersonation) << "files can be opened under it, not only checked";

  BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE], process_user[sizeof user];
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  ASSERT_TRUE(GetTokenInformation(process, TokenUser, process_user, sizeof process_user, &size));
  EXPECT_TRUE(EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid,
                       reinterpret_cast<TOKEN_USER*>(process_user)->User.Sid));

  bool in_process = false, in_token = false;
  GroupAttributes(process, WinBuiltinAdministratorsSid, in_process);
  DWORD attributes = GroupAttributes(token, WinBuiltinAdministratorsSid, in_token);
  EXPECT_EQ(in_token, in_process);
  EXPECT_EQ(attributes & SE_GROUP_ENABLED, 0u) << "Administrators grants nothing";
  if (in_process) {
    EXPECT_NE(attributes & SE_GROUP_USE_FOR_DENY_ONLY, 0u) << "and still denies what it is denied";
  }
  // Wine 8 keeps no integrity level and ignores DISABLE_MAX_PRIVILEGE: only
  // Windows can show these two.
  if (SystemKeepsIntegrityLevels()) {
    EXPECT_LE(IntegrityLevel(token), static_cast<DWORD>(SECURITY_MANDATORY_MEDIUM_RID));
    BYTE buffer[4096];
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size));
    const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    LUID change_notify = {};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &change_notify));
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID& luid = privileges->Privileges[i].Luid;
      EXPECT_TRUE(luid.LowPart == change_notify.LowPart && luid.HighPart == change_notify.HighPart)
          << "a privilege beyond traverse checking";
    }
  } else {
    std::cout << "[ NOTE     ] this system keeps no integrity levels (Wine): the token's integrity and "
                 "privileges are shown on Windows only\n";
  }
  CloseHandle(process);
  CloseHandle(token);
}

namespace {

// A SID from its text form, kept for the test.
struct TextSid {
  explicit TextSid(const wchar_t* text) { ConvertStringSidToSidW(text, &sid); }
  ~TextSid() { LocalFree(sid); }
  TextSid(const TextSid&) = delete;
  TextSid& operator=(const TextSid&) = delete;
  PSID sid = nullptr;
};

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return "(none)";
  std::string out = Narrow(text);
  LocalFree(text);
  return out;
}

}  // namespace

// UAC's filtered token denies more than Administrators: every group it
// makes deny-only is deny-only in the user-rights token too, and what it
// leaves enabled stays.
TEST(UserRightsToken, DeniesEveryGroupThatUacsFilteredTokenDenies) {
  TextSid administrators(L"S-1-5-32-544");
  TextSid local_admin(L"S-1-5-114");  // local account and member of Administrators
  TextSid domain_admins(L"S-1-5-21-1111111111-2222222222-3333333333-512");
  TextSid enterprise_admins(L"S-1-5-21-1111111111-2222222222-3333333333-519");
  TextSid domain_users(L"S-1-5-21-1111111111-2222222222-3333333333-513");
  TextSid users(L"S-1-5-32-545");
  TextSid medium(L"S-1-16-8192");
  const DWORD deny = SE_GROUP_USE_FOR_DENY_ONLY;
  const DWORD enabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
  struct Case {
    const char* what;
    std::vector<SID_AND_ATTRIBUTES> filtered;
    bool made;
    std::vector<PSID> chosen;
  };
  const Case cases[] = {
      {"no filtered token: Administrators alone", {}, true, {administrators.sid}},
      {"a local administrator",
       {{users.sid, enabled}, {administrators.sid, deny}, {local_admin.sid, deny}, {medium.sid, SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED}},
       true,
       {administrators.sid, local_admin.sid}},
      {"a domain administrator",
       {{domain_users.sid, enabled}, {domain_admins.sid, deny | SE_GROUP_MANDATORY}, {administrators.sid, deny},
        {enterprise_admins.sid, deny}},
       true,
       {administrators.sid, domain_admins.sid, enterprise_admins.sid}},
      {"a plain group stays", {{users.sid, enabled}, {domain_users.sid, SE_GROUP_MANDATORY}}, true, {administrators.sid}},
      {"a group listed twice is chosen once", {{local_admin.sid, deny}, {local_admin.sid, deny}}, true,
       {administrators.sid, local_admin.sid}},
      {"a deny-only entry without a SID", {{local_admin.sid, deny}, {nullptr, deny}}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SID_AND_ATTRIBUTES chosen[USER_RIGHTS_DENY_ONLY_CAPACITY];
    DWORD count = 99;
    EXPECT_EQ(ChooseDenyOnlySids(administrators.sid, c.filtered.data(), static_cast<DWORD>(c.filtered.size()), chosen,
                                 count),
              c.made);
    ASSERT_EQ(count, c.chosen.size());
    for (DWORD i = 0; i < count; ++i) EXPECT_TRUE(EqualSid(chosen[i].Sid, c.chosen[i])) << SidText(chosen[i].Sid);
  }

  // More than the fixed list holds: no token rather than one that keeps a
  // group enabled. Exactly as many fit.
  std::vector<std::unique_ptr<TextSid>> many;
  std::vector<SID_AND_ATTRIBUTES> filtered;
  for (DWORD i = 0; i < USER_RIGHTS_DENY_ONLY_CAPACITY; ++i) {
    many.push_back(std::make_unique<TextSid>((L"S-1-5-21-1-2-3-" + std::to_wstring(1000 + i)).c_str()));
    filtered.push_back({many.back()->sid, deny});
  }
  SID_AND_ATTRIBUTES chosen[USER_RIGHTS_DENY_ONLY_CAPACITY];
  DWORD count = 99;
  EXPECT_TRUE(ChooseDenyOnlySids(administrators.sid, filtered.data(), USER_RIGHTS_DENY_ONLY_CAPACITY - 1, chosen, count));
  EXPECT_EQ(count, USER_RIGHTS_DENY_ONLY_CAPACITY);
  EXPECT_TRUE(EqualSid(chosen[USER_RIGHTS_DENY_ONLY_CAPACITY - 1].Sid, filtered[USER_RIGHTS_DENY_ONLY_CAPACITY - 2].Sid));
  EXPECT_FALSE(ChooseDenyOnlySids(administrators.sid, filtered.data(), USER_RIGHTS_DENY_ONLY_CAPACITY, chosen, count));
  EXPECT_EQ(count, 0u);
}

// The token made from a filtered token's groups: a group this process has
// enabled (Users) that the filtered token denies is deny-only in it, the
// other groups as the process has them.
TEST(UserRightsToken, TheFilteredTokensDenyOnlyGroupsAreDenyOnlyInIt) {
  HANDLE process = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
  bool has_users = false, has_authenticated = false;
  DWORD users_before = GroupAttributes(process, WinBuiltinUsersSid, has_users);
  DWORD authenticated_before = GroupAttributes(process, WinAuthenticatedUserSid, has_authenticated);
  ASSERT_TRUE(has_users && (users_before & SE_GROUP_ENABLED)) << "the test needs a group this process has enabled";
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD users_size = sizeof users;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &users_size));
  SID_AND_ATTRIBUTES filtered[] = {{users, SE_GROUP_USE_FOR_DENY_ONLY}};
  HANDLE token = RestrictToUserRights(process, filtered, 1);
  ASSERT_NE(token, nullptr);
  bool in_token = false;
  DWORD attributes = GroupAttributes(token, WinBuiltinUsersSid, in_token);
  EXPECT_TRUE(in_token);
  EXPECT_EQ(attributes & SE_GROUP_ENABLED, 0u) << "Users grants nothing";
  EXPECT_NE(attributes & SE_GROUP_USE_FOR_DENY_ONLY, 0u);
  if (has_authenticated) {
    EXPECT_EQ(GroupAttributes(token, WinAuthenticatedUserSid, in_token) & SE_GROUP_ENABLED,
              authenticated_before & SE_GROUP_ENABLED)
        << "a group the filtered token leaves alone";
  }
  CloseHandle(token);
  CloseHandle(process);
}

// The real thing: with UAC's filtered token beside this elevated one, each
// group deny-only there is deny-only in the token the program makes.
TEST(UserRightsToken, MadeWithTheLinkedTokensDenials) {
  HANDLE process = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process));
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  if (!GetTokenInformation(process, TokenElevationType, &type, sizeof type, &size) || type != TokenElevationTypeFull ||
      !GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size)) {
    CloseHandle(process);
    std::cout << "[ NOTE     ] no filtered token beside this one (Wine, UAC off or not elevated): the "
                 "groups UAC denies are shown on an elevated Windows only\n";
    return;
  }
  HANDLE token = MakeUserRightsToken();
  ASSERT_NE(token, nullptr);
  std::vector<BYTE> buffer(65536), made(65536);
  ASSERT_TRUE(GetTokenInformation(linked.LinkedToken, TokenGroups, buffer.data(), 65536, &size));
  ASSERT_TRUE(GetTokenInformation(token, TokenGroups, made.data(), 65536, &size));
  const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  const TOKEN_GROUPS* ours = reinterpret_cast<const TOKEN_GROUPS*>(made.data());
  int denied = 0;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (!(groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY)) continue;
    ++denied;
    for (DWORD j = 0; j < ours->GroupCount; ++j)
      if (EqualSid(ours->Groups[j].Sid, groups->Groups[i].Sid)) {
        EXPECT_EQ(ours->Groups[j].Attributes & SE_GROUP_ENABLED, 0u) << SidText(groups->Groups[i].Sid);
        EXPECT_NE(ours->Groups[j].Attributes & SE_GROUP_USE_FOR_DENY_ONLY, 0u) << SidText(groups->Groups[i].Sid);
      }
  }
  if (denied == 0) {
    std::cout << "[ NOTE     ] the filtered token here denies no group (Wine): the groups UAC denies are "
                 "shown on an elevated Windows only\n";
  }
  CloseHandle(token);
  CloseHandle(linked.LinkedToken);
  CloseHandle(process);
}

TEST(SingleInstance, AnExistingOrUnopenableGuardMeansASecondInstance) {
  struct Case {
    DWORD error;
    bool second;
  };
  const Case cases[] = {
      {ERROR_SUCCESS, false},
      {ERROR_ALREADY_EXISTS, true},
      {ERROR_ACCESS_DENIED, true},    // held by a copy at another integrity level
      {ERROR_INVALID_HANDLE, false},  // the name belongs to another kind of object
      {ERROR_NOT_ENOUGH_MEMORY, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSecondInstance(c.error), c.second) << c.error;
}

namespace {

// The shell's calls as the tests play them: the real hot key, recorded; an
// elevation answer; a start of the elevated copy that works or is refused.
struct FakeApp {
  int hot_keys = 0;
  HWND hot_key_window = nullptr;
  int hot_key_id = 0;
  UINT hot_key_modifiers = 0;
  UINT hot_key_key = 0;
  bool elevated = true;
  bool start_accepted = false;
  bool other_copy_starts = false;  // another copy takes the guard while the prompt is up
  HANDLE other_copy_guard = nullptr;
  int starts = 0;
  std::wstring verb, file;
  bool guard_free_during_start = false;
  struct Filtered {
    HWND window;
    UINT message;
    DWORD action;
  };
  std::vector<Filtered> let_through;  // ChangeWindowMessageFilterEx, in order
};
FakeApp fake_app;

// Whether some copy holds the single-instance guard.
bool GuardHeld() {
  HANDLE probe = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  bool held = GetLastError() == ERROR_ALREADY_EXISTS;
  if (probe) CloseHandle(probe);
  return held;
}

BOOL WINAPI FakeRegisterHotKey(HWND window, int id, UINT modifiers, UINT key) {
  ++fake_app.hot_keys;
  fake_app.hot_key_window = window;
  fake_app.hot_key_id = id;
  fake_app.hot_key_modifiers = modifiers;
  fake_app.hot_key_key = key;
  return RegisterHotKey(window, id, modifiers, key);
}

bool FakeIsElevated() { return fake_app.elevated; }

BOOL WINAPI FakeShellExecute(SHELLEXECUTEINFOW* info) {
  ++fake_app.starts;
  fake_app.verb = info->lpVerb ? info->lpVerb : L"";
  fake_app.file = info->lpFile ? info->lpFile : L"";
  fake_app.guard_free_during_start = !GuardHeld();
  if (fake_app.other_copy_starts) fake_app.other_copy_guard = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  if (fake_app.start_accepted) return TRUE;
  SetLastError(ERROR_CANCELLED);  // the user said no to the prompt
  return FALSE;
}

BOOL WINAPI FakeMessageFilter(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT status) {
  fake_app.let_through.push_back({window, message, action});
  return ChangeWindowMessageFilterEx(window, message, action, status);
}

const AppPlatform kFakeApp = {FakeRegisterHotKey, FakeIsElevated, FakeShellExecute, FakeMessageFilter};

// Plays the shell's calls through fake_app, afresh, and records the tray.
void PlayAppSeams() {
  fake_app = FakeApp{};
  app.platform = &kFakeApp;
  RecordTray();
}

std::wstring CleanedText(int index) { return CleanedBalloonText(app.status.clean_history.entries[index]); }

::testing::Environment* const anchor_icon = ::testing::AddGlobalTestEnvironment(new AnchorTrayIcon);

}  // namespace

// The main window procedure, driven through a real message-only window.
class MainWindow : public ProgramWindowTest {
 protected:
  explicit MainWindow(bool shell_window = false) : ProgramWindowTest(shell_window) {}
  void BindSeams() override { PlayAppSeams(); }
};

// The same with the hidden top-level shell window beside the main window,
// made as start-up makes it.
class ShellWindow : public MainWindow {
 protected:
  ShellWindow() : MainWindow(true) {}
};

TEST_F(MainWindow, HotKeyIsCtrlAltRWithoutAutoRepeat) {
  EXPECT_EQ(fake_app.hot_keys, 1);
  EXPECT_EQ(fake_app.hot_key_window, app.main_window);
  EXPECT_EQ(fake_app.hot_key_id, HOTKEY_CLEAN);
  EXPECT_EQ(fake_app.hot_key_modifiers, static_cast<UINT>(MOD_CONTROL | MOD_ALT | MOD_NOREPEAT))
      << "a held key must clean once";
  EXPECT_EQ(fake_app.hot_key_key, static_cast<UINT>('R'));
}

// The shell's callback for the icon and its "TaskbarCreated" come from an
// unelevated Explorer: both are let through the elevation filter, each on
// the window that receives it.
TEST_F(ShellWindow, TheIconsMessagesPassTheElevationFilter) {
  bool callback = false, taskbar_created = false;
  for (const FakeApp::Filtered& filtered : fake_app.let_through) {
    EXPECT_EQ(filtered.action, static_cast<DWORD>(MSGFLT_ALLOW));
    if (filtered.message == WM_TRAYICON) callback = filtered.window == app.main_window;
    if (filtered.message == app.taskbar_created_message) taskbar_created = filtered.window == app.shell_window;
  }
  EXPECT_TRUE(callback) << "WM_TRAYICON on the main window, where the icon's messages go";
  EXPECT_TRUE(taskbar_created) << "\"TaskbarCreated\" on the shell window, which hears the broadcast";
}

TEST_F(MainWindow, IgnoresUnknownCommandsTimersAndHotKeys) {
  struct Case {
    UINT message;
    WPARAM wParam;
  };
  const Case cases[] = {
      {WM_COMMAND, 0},   {WM_COMMAND, 99},  {WM_COMMAND, 105}, {WM_COMMAND, 106},
      {WM_COMMAND, 109}, {WM_COMMAND, 111}, {WM_COMMAND, 200}, {WM_COMMAND, 0xFFFF},
      {WM_COMMAND, MAKEWPARAM(99, 1)},      {WM_TIMER, 0},     {WM_TIMER, 2},
      {WM_TIMER, 7},     {WM_TIMER, 0x10001},                   {WM_HOTKEY, 0},
      {WM_HOTKEY, 2},    {WM_HOTKEY, static_cast<WPARAM>(IDHOT_SNAPDESKTOP)},
  };
  // Due by the interval, so a tick taken for the main one would clean.
  app.settings.interval_minutes = 1;
  app.clean.last_clean_tick = GetTickCount64() - 120000;
  Settings before = app.settings;
  for (const Case& c : cases) {
    EXPECT_EQ(Send(c.message, c.wParam), 0);
    EXPECT_EQ(app.status.clean_history.count, 0) << c.message << " " << c.wParam;
    EXPECT_EQ(app.status.usage_history.count, 0) << "no refresh: " << c.message << " " << c.wParam;
    EXPECT_TRUE(recording_tray.requests.empty()) << "no tray request: " << c.message << " " << c.wParam;
    EXPECT_FALSE(IsStatusWindowOpen(app.status)) << c.message << " " << c.wParam;
    EXPECT_EQ(fake_app.starts, 0) << c.message << " " << c.wParam;
    EXPECT_TRUE(IsWindow(app.main_window)) << c.message << " " << c.wParam;
    EXPECT_FALSE(TakeQuitMessage()) << c.message << " " << c.wParam;
  }
  EXPECT_EQ(memcmp(&before, &app.settings, sizeof before), 0);
  EXPECT_EQ(GetFileAttributesW(AppFile(L"clean.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MainWindow, OnlyTheHotKeyInSilentModeAddsItsBalloon) {
  struct Case {
    bool silent;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool balloon;
  };
  const Case cases[] = {
      {true, WM_HOTKEY, HOTKEY_CLEAN, MAKELPARAM(MOD_CONTROL | MOD_ALT, 'R'), true},
      {true, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK, false},
      {true, WM_COMMAND, IDM_CLEAN_NOW, 0, false},
      {false, WM_HOTKEY, HOTKEY_CLEAN, MAKELPARAM(MOD_CONTROL | MOD_ALT, 'R'), false},
  };
  app.is_elevated = true;
  app.full_rights = true;
  app.settings.notify_min_mb = 2147483647;  // no "RAM Cleaned"
  for (const Case& c : cases) {
    app.settings.silent_mode = c.silent;
    recording_tray.now += TRAY_CLEAN_COOLDOWN_MS;  // a double-click comes long after the clean before
    recording_tray.requests.clear();
    int cleans = app.status.clean_history.count;
    Send(c.message, c.wParam, c.lParam);
    EXPECT_EQ(app.status.clean_history.count, cleans + 1);
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), c.balloon ? 1u : 0u) << c.silent << " " << c.message;
    if (c.balloon) ExpectBalloon(balloons[0], L"Quillmere", L"Clean triggered (Ctrl+Alt+R)");
  }
}

namespace {

class MainWindowInEachLanguage : public MainWindow {
 protected:
  void TearDown() override {
    UseLanguage(0);
    UseDecimalSeparator(L".");
    MainWindow::TearDown();
  }
  // The one balloon since the last clear of the requests.
  TrayRequest OnlyBalloon() {
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    EXPECT_EQ(balloons.size(), 1u);
    recording_tray.requests.clear();
    return balloons.empty() ? TrayRequest{} : balloons[0];
  }
};

}  // namespace

// Every balloon and notice of the shell is in the language in use when it
// shows: limited mode, "RAM Cleaned", the hot key in silent mode, the failed
// save and each start-at-logon notice.
TEST_F(MainWindowInEachLanguage, BalloonsAndNoticesAreInTheLanguageInUse) {
  ASSERT_TRUE(AddTrayIcon(app.tray, app.main_window));
  app.settings.notify_min_mb = INT32_MIN;
  AutostartAccounts accounts = {};
  wcscpy(accounts.process, L"PC\\alice");
  wcscpy(accounts.signed_in, L"PC\\bob");
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    SCOPED_TRACE(LanguageTag(language));
    UseLanguage(language);
    UseDecimalSeparator(L",");
    recording_tray.requests.clear();

    app.settings.silent_mode = false;
    app.is_elevated = false;
    app.full_rights = false;
    app.clean.limited_notice_shown = false;
    Send(WM_COMMAND, IDM_CLEAN_NOW);
    ExpectBalloon(OnlyBalloon(), TableTextIn(language, IDS_BALLOON_LIMITED_TITLE),
                  TableTextIn(language, IDS_BALLOON_LIMITED));

    app.is_elevated = true;
    app.full_rights = true;
    Send(WM_COMMAND, IDM_CLEAN_NOW);
    const CleanHistory& history = app.status.clean_history;
    const CleanRecord& clean = history.entries[(history.next + CLEAN_HISTORY_CAPACITY - 1) % CLEAN_HISTORY_CAPACITY];
    ExpectBalloon(OnlyBalloon(), TableTextIn(language, IDS_BALLOON_CLEANED_TITLE),
                  TableTextIn(language, IDS_BALLOON_CLEANED, clean.freed_mb, clean.processes), true);

    app.settings.silent_mode = true;
    Send(WM_HOTKEY, HOTKEY_CLEAN, MAKELPARAM(MOD_CONTROL | MOD_ALT, 'R'));
    ExpectBalloon(OnlyBalloon(), L"Quillmere", TableTextIn(language, IDS_BALLOON_HOT_KEY));

    recording_tray.now += TRAY_NOTICE_INTERVAL_MS;
    NoteSettingsSaved(false);
    ExpectBalloon(OnlyBalloon(), L"Quillmere", TableTextIn(language, IDS_NOTICE_NOT_SAVED));
    NoteAutostartResult(false, true, AUTOSTART_RUN_VALUE_ONLY, accounts);
    ExpectBalloon(OnlyBalloon(), L"Quillmere", TableTextIn(language, IDS_NOTICE_AUTOSTART_ADMINS));
    NoteAutostartResult(false, true, AUTOSTART_NEITHER, accounts);
    ExpectBalloon(OnlyBalloon(), L"Quillmere", TableTextIn(language, IDS_NOTICE_AUTOSTART_USER));
    NoteAutostartResult(false, true, AUTOSTART_FAILED, accounts);
    ExpectBalloon(OnlyBalloon(), L"Quillmere", TableTextIn(language, IDS_NOTICE_AUTOSTART_FAILED));
    recording_tray.now += TRAY_NOTICE_INTERVAL_MS;  // the same kind of notice
    NoteAutostartResult(false, true, AUTOSTART_OTHER_ACCOUNT, accounts);
    ExpectBalloon(OnlyBalloon(), L"Quillmere",
                  TableTextIn(language, IDS_NOTICE_OTHER_ACCOUNT, L"PC\\alice", L"PC\\bob"));
  }
}

TEST_F(MainWindow, AutoCleanToggleFlipsAndSavesAtOnce) {
  std::wstring config = AppFile(L"config.ini");
  ASSERT_TRUE(app.settings.auto_clean);
  Send(WM_COMMAND, IDM_TOGGLE_AUTO);
  EXPECT_FALSE(app.settings.auto_clean);
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"auto_clean", 9, config.c_str()), 0u);
  Send(WM_COMMAND, IDM_TOGGLE_AUTO);
  EXPECT_TRUE(app.settings.auto_clean);
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"auto_clean", 9, config.c_str()), 1u);
}

// A toggle that cannot be saved says so, even in silent mode, at most once a
// minute; one that is saved says nothing.
TEST_F(MainWindow, AnAutoCleanToggleThatCannotBeSavedSaysSoOnceAMinute) {
  ASSERT_TRUE(AddTrayIcon(app.tray, app.main_window));
  app.settings.silent_mode = true;
  Send(WM_COMMAND, IDM_TOGGLE_AUTO);
  EXPECT_TRUE(recording_tray.Balloons().empty()) << "saved";

  app.file_platform = &kPlayedFilePlatform;
  ResetPlayedFiles();
  played.failing_move = true;  // the new file cannot take the old one's place
  Send(WM_COMMAND, IDM_TOGGLE_AUTO);
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  ExpectBalloon(recording_tray.Balloons()[0], L"Quillmere", kSettingsNotSavedText);
  EXPECT_TRUE(app.settings.auto_clean) << "the change applies all the same";
  Send(WM_COMMAND, IDM_TOGGLE_AUTO);
  EXPECT_EQ(recording_tray.Balloons().size(), 1u) << "within the minute";
  recording_tray.now += TRAY_NOTICE_INTERVAL_MS;
  Send(WM_COMMAND, IDM_TOGGLE_AUTO);
  EXPECT_EQ(recording_tray.Balloons().size(), 2u);
  ResetPlayedFiles();
}

// The hidden top-level shell window hears what the message-only main window
// cannot: the taskbar's broadcast, and the commands of the menu it owns.
TEST_F(ShellWindow, HandsTaskbarCreatedAndMenuCommandsOn) {
  HWND shell = app.shell_window;
  EXPECT_EQ(GetParent(shell), nullptr);
  EXPECT_FALSE(IsWindowVisible(shell));
  EXPECT_EQ(SendMessageW(shell, app.taskbar_created_message, 0, 0), 0);
  EXPECT_EQ(app.tray.data.hWnd, app.main_window) << "the icon was added on the main window";
  EXPECT_EQ(app.tray.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));

  ASSERT_TRUE(app.settings.auto_clean);
  SendMessageW(shell, WM_COMMAND, IDM_TOGGLE_AUTO, 0);
  EXPECT_FALSE(app.settings.auto_clean) << "the menu's command reached the main window";

  SendMessageW(shell, WM_COMMAND, IDM_EXIT, 0);
  EXPECT_FALSE(IsWindow(app.main_window));
  WPARAM exit_code = 99;
  ASSERT_TRUE(TakeQuitMessage(&exit_code));
  EXPECT_EQ(exit_code, 0u);
}

// A command from a menu the keyboard opened gives the keys back to the
// notification area when it opened no window; a popup it opened is the
// keyboard's, so that its Esc gives them back. Each menu's flag serves its
// one command.
TEST_F(ShellWindow, MenuCommandsGiveTheFocusBackAsTheirMenuWasOpened) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  app.settings.silent_mode = true;
  struct Case {
    const char* what;
    WORD command;
    bool by_keyboard, popup_on_clean;
    bool focus_returns, popup_open, popup_by_keyboard;
  };
  const Case cases[] = {
      {"Clean Now from the keyboard", IDM_CLEAN_NOW, true, false, true, false, false},
      {"Auto-clean from the keyboard", IDM_TOGGLE_AUTO, true, false, true, false, false},
      {"Clean Now from the mouse", IDM_CLEAN_NOW, false, false, false, false, false},
      {"Auto-clean from the mouse", IDM_TOGGLE_AUTO, false, false, false, false, false},
      {"Status Window... from the keyboard", IDM_STATUS, true, false, false, true, true},
      {"Status Window... from the mouse", IDM_STATUS, false, false, false, true, false},
      {"Clean Now with its popup, from the keyboard", IDM_CLEAN_NOW, true, true, false, true, true},
      {"Clean Now with its popup, from the mouse", IDM_CLEAN_NOW, false, true, false, true, false},
  };
  for (const Case& c : cases) {
    CloseStatusWindow(app.status);
    app.settings.show_status_on_clean = c.popup_on_clean;
    app.tray.clicks.menu_by_keyboard = c.by_keyboard;
    int before = recording_tray.area.focus_returns;
    SendMessageW(app.shell_window, WM_COMMAND, c.command, 0);
    EXPECT_EQ(recording_tray.area.focus_returns, before + (c.focus_returns ? 1 : 0)) << c.what;
    EXPECT_FALSE(app.tray.clicks.menu_by_keyboard) << c.what;
    ASSERT_EQ(IsStatusWindowOpen(app.status), c.popup_open) << c.what;
    if (!c.popup_open) continue;
    EXPECT_EQ(app.status.opened_by_keyboard, c.popup_by_keyboard) << c.what;
    SendMessageW(app.status.window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(IsStatusWindowOpen(app.status)) << c.what;
    EXPECT_EQ(recording_tray.area.focus_returns, before + (c.popup_by_keyboard ? 1 : 0)) << c.what << ", Esc";
  }
}

// Only top-level windows hear a close request or the end of the session,
// and the shell window is the program's one top-level window.
TEST_F(ShellWindow, EndsTheProgramOnACloseRequestAndOnlyThen) {
  ASSERT_TRUE(AddTrayIcon(app.tray, app.main_window));
  HWND shell = app.shell_window;
  EXPECT_NE(SendMessageW(shell, WM_QUERYENDSESSION, 0, 0), 0) << "never holds the session up";
  SendMessageW(shell, WM_ENDSESSION, FALSE, 0);  // the session goes on
  EXPECT_TRUE(IsWindow(app.main_window));
  EXPECT_TRUE(IsWindow(shell));
  EXPECT_FALSE(TakeQuitMessage());
  EXPECT_EQ(recording_tray.Count(NIM_DELETE), 0);

  HWND main = app.main_window;
  EXPECT_EQ(SendMessageW(shell, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(main));
  EXPECT_FALSE(IsWindow(shell)) << "nothing left half alive";
  EXPECT_EQ(app.shell_window, nullptr);
  EXPECT_EQ(recording_tray.Count(NIM_DELETE), 1);
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &app.tray.data)) << "the icon is gone";
  WPARAM exit_code = 99;
  ASSERT_TRUE(TakeQuitMessage(&exit_code));
  EXPECT_EQ(exit_code, 0u);
}

// The tray icon's button release, once the double-click time has passed,
// and the "Status Window..." command open and close the popup; the press
// does not.
using StatusToggle = ShellWindow;
TEST_F(StatusToggle, TrayReleaseAndMenuCommandToggle) {
  Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP);
  EXPECT_FALSE(IsStatusWindowOpen(app.status)) << "not before the double-click time";
  Send(WM_TIMER, TIMER_TRAY_CLICK);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP);
  Send(WM_TIMER, TIMER_TRAY_CLICK);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  Send(WM_COMMAND, IDM_STATUS);
  EXPECT_TRUE(IsStatusWindowOpen(app.status));
  Send(WM_COMMAND, IDM_STATUS);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDOWN);
  Send(WM_TIMER, TIMER_TRAY_CLICK);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
}

TEST_F(MainWindow, RunAsAdministratorStartsTheElevatedCopyAndHandsOver) {
  struct Case {
    const char* what;
    bool elevated;
    bool accepted;
    bool other_copy_starts;
    int starts;
    bool ends;
  };
  const Case cases[] = {
      {"refused: everything as it was", false, false, false, 1, false},
      {"already elevated: nothing to do", true, true, false, 0, false},
      {"accepted: the elevated copy takes over", false, true, false, 1, true},
      // Two copies must not run on: the one that lost the guard ends.
      {"refused while another copy took the guard", false, false, true, 1, true},
  };
  ASSERT_TRUE(AddTrayIcon(app.tray, app.main_window));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!app.main_window) {  // the case before ended the program
      ASSERT_NE(CreateTestMainWindow(), nullptr);
      ASSERT_TRUE(AddTrayIcon(app.tray, app.main_window));
    }
    app.instance_mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    ASSERT_NE(app.instance_mutex, nullptr);
    fake_app = FakeApp{};
    fake_app.start_accepted = c.accepted;
    fake_app.other_copy_starts = c.other_copy_starts;
    app.is_elevated = c.elevated;
    app.full_rights = c.elevated;
    recording_tray.requests.clear();

    EXPECT_EQ(Send(WM_COMMAND, IDM_RUN_AS_ADMIN), 0);
    EXPECT_EQ(fake_app.starts, c.starts);
    if (c.starts) {
      EXPECT_EQ(fake_app.verb, L"runas");
      EXPECT_EQ(fake_app.file, TestExePath());
      EXPECT_TRUE(fake_app.guard_free_during_start) << "the copy would take itself for a second instance";
    }
    EXPECT_EQ(IsWindow(app.main_window) != FALSE, !c.ends);
    EXPECT_EQ(app.instance_mutex != nullptr, !c.ends) << "this copy holds the guard";
    EXPECT_EQ(GuardHeld(), !c.ends || c.other_copy_starts);
    if (fake_app.other_copy_guard) CloseHandle(fake_app.other_copy_guard);
    EXPECT_EQ(recording_tray.Count(NIM_DELETE), c.ends ? 1 : 0);
    WPARAM exit_code = 99;
    bool quit = TakeQuitMessage(&exit_code);
    EXPECT_EQ(quit, c.ends);
    if (quit) {
      EXPECT_EQ(exit_code, 0u);
    }
    if (app.instance_mutex) CloseHandle(app.instance_mutex);
    app.instance_mutex = nullptr;
  }
}

namespace {

// While a menu runs its loop: reads the shown menu's items, then closes it.
int shown_menu_items = -1;
bool shown_menu_offers_elevation = false;
LRESULT CALLBACK ReadShownMenu(int code, WPARAM wParam, LPARAM lParam) {
  HWND popup = FindWindowW(L"#32768", nullptr);
  if (code == MSGF_MENU && popup && shown_menu_items < 0) {
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    shown_menu_items = GetMenuItemCount(menu);
    shown_menu_offers_elevation = GetMenuState(menu, IDM_RUN_AS_ADMIN, MF_BYCOMMAND) != static_cast<UINT>(-1);
    EndMenu();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_F(MainWindow, TrayMenuOffersRunAsAdministratorOnlyWhenUnelevated) {
  HHOOK hook = SetWindowsHookExW(WH_MSGFILTER, ReadShownMenu, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  for (bool elevated : {true, false}) {
    app.is_elevated = elevated;
    app.full_rights = elevated;
    shown_menu_items = -1;
    Send(WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONUP);
    EXPECT_EQ(shown_menu_items, elevated ? 7 : 8);
    EXPECT_EQ(shown_menu_offers_elevation, !elevated);
  }
  UnhookWindowsHookEx(hook);
}

TEST_F(MainWindow, NoTaskbarMessageNumberTakesNoMessageForIt) {
  app.taskbar_created_message = 0;
  // Message 0 is WM_NULL: it must reach the default procedure, not the tray.
  EXPECT_EQ(Send(0, 0), 0);
  EXPECT_EQ(app.tray.data.cbSize, 0u);
}

TEST_F(MainWindow, HotKeyDoubleClickAndCleanNowEachRunOneClean) {
  struct Case {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int cleans;
  };
  const Case cases[] = {
      {WM_HOTKEY, HOTKEY_CLEAN, MAKELPARAM(MOD_CONTROL | MOD_ALT, 'R'), 1},
      {WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK, 1},
      {WM_COMMAND, IDM_CLEAN_NOW, 0, 1},
      {WM_COMMAND, MAKEWPARAM(IDM_CLEAN_NOW, 1), 0, 1},  // the notification code is not looked at
      {WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDOWN, 0},
      {WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONDOWN, 0},
      {WM_TRAYICON, TRAY_ICON_ID, WM_MOUSEMOVE, 0},
      {WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONDBLCLK, 0},
      {WM_HOTKEY, HOTKEY_CLEAN + 1, 0, 0},
  };
  for (const Case& c : cases) {
    recording_tray.now += TRAY_CLEAN_COOLDOWN_MS;  // a double-click comes long after the clean before
    int before = app.status.clean_history.count;
    EXPECT_EQ(Send(c.message, c.wParam, c.lParam), 0);
    EXPECT_EQ(app.status.clean_history.count - before, c.cleans) << c.message << " " << c.wParam << " " << c.lParam;
  }
  EXPECT_EQ(LogLines().size(), 4u) << "one log line per clean";
}

TEST(TrayCleanAllowed, ADoubleClickCleansOnlyTenSecondsAfterTheEndOfTheLastClean) {
  struct Case {
    const char* what;
    uint64_t now;
    uint64_t last_end;
    bool cleaned;
    bool allowed;
  };
  const uint64_t k32 = uint64_t{1} << 32;
  const uint64_t kMax = ~uint64_t{0};
  const Case cases[] = {
      {"the first clean of the run", 5000, 0, false, true},
      {"the first clean, the stamp's field as it starts", 0, 0, false, true},
      {"right after a clean", 5000000, 5000000, true, false},
      {"a millisecond short", 5000000 + 9999, 5000000, true, false},
      {"exactly ten seconds after", 5000000 + 10000, 5000000, true, true},
      {"long after", 5000000 + 3600000, 5000000, true, true},
      {"a clean that ended at tick 0", 9999, 0, true, false},
      {"a clean that ended at tick 0, ten seconds on", 10000, 0, true, true},
      // 64-bit ticks: no wrap at 2^32 shortens or stretches the wait.
      {"across 2^32, short", k32 + 6999, k32 - 3000, true, false},
      {"across 2^32, ten seconds", k32 + 7000, k32 - 3000, true, true},
      {"at the top of the clock, short", kMax, kMax - 9999, true, false},
      {"at the top of the clock, ten seconds", kMax, kMax - 10000, true, true},
      {"a clock behind the stamp", 1000, 5000, true, false},
      {"a clock far behind the stamp", 0, kMax, true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TrayCleanAllowed(c.now, c.last_end, c.cleaned), c.allowed) << c.what;
}

// Any program of the user can post the icon's double-click, as often as it
// likes: within ten seconds of the end of a clean it cleans nothing, in
// either form of the icon's messages. The menu and the hot key, which such a
// program cannot send, clean every time.
TEST_F(MainWindow, ADoubleClickSoonAfterACleanIsDroppedTheMenuAndHotKeyAreNot) {
  const LPARAM double_click_v4 = MAKELPARAM(WM_LBUTTONDBLCLK, TRAY_ICON_ID);
  int cleans = 0;
  auto expect_cleans = [&](int more, const char* what) {
    cleans += more;
    EXPECT_EQ(app.status.clean_history.count, cleans) << what;
  };
  // The first of the run cleans whenever it comes, even three seconds
  // after the machine started, when no clean has ever ended.
  recording_tray.now = 3000;
  Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
  expect_cleans(1, "the first double-click of the run");
  for (int i = 0; i < 50; ++i) {
    Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    Send(WM_TRAYICON, MAKEWPARAM(20, 30), double_click_v4);
  }
  expect_cleans(0, "a hundred posted double-clicks");
  Send(WM_HOTKEY, HOTKEY_CLEAN, MAKELPARAM(MOD_CONTROL | MOD_ALT, 'R'));
  expect_cleans(1, "the hot key");
  Send(WM_HOTKEY, HOTKEY_CLEAN, MAKELPARAM(MOD_CONTROL | MOD_ALT, 'R'));
  expect_cleans(1, "the hot key again at once");
  Send(WM_COMMAND, IDM_CLEAN_NOW);
  expect_cleans(1, "Clean Now");
  Send(WM_COMMAND, IDM_CLEAN_NOW);
  expect_cleans(1, "Clean Now again at once");
  // Measured from the end of the last one, the menu's.
  recording_tray.now += TRAY_CLEAN_COOLDOWN_MS - 1;
  Send(WM_TRAYICON, MAKEWPARAM(20, 30), double_click_v4);
  expect_cleans(0, "a millisecond short of ten seconds");
  recording_tray.now += 1;
  Send(WM_TRAYICON, MAKEWPARAM(20, 30), double_click_v4);
  expect_cleans(1, "ten seconds after");
  Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
  expect_cleans(0, "and again too soon");
  EXPECT_FALSE(IsStatusWindowOpen(app.status)) << "a dropped double-click opens nothing either";
}

// The wait starts when the clean returns: its stamp is the clock's last
// reading of the clean, after the log, the balloons, the refresh and the
// popup.
TEST_F(MainWindow, TheCleansEndIsStampedWhenItReturns) {
  app.settings.show_status_on_clean = true;
  app.settings.notify_min_mb = 0;
  app.is_elevated = true;
  app.full_rights = true;
  ASSERT_TRUE(AddTrayIcon(app.tray, app.main_window));
  recording_tray.tick_step = 7;  // every reading of the clock a little later
  for (UINT message : {WM_HOTKEY, WM_COMMAND}) {
    uint64_t before = recording_tray.now;
    Send(message, message == WM_HOTKEY ? HOTKEY_CLEAN : IDM_CLEAN_NOW);
    EXPECT_TRUE(app.clean_ended);
    EXPECT_GT(app.last_clean_end_tick, before);
    EXPECT_EQ(app.last_clean_end_tick, recording_tray.now) << "no reading came after the stamp";
    CloseStatusWindow(app.status);
  }
}

TEST_F(MainWindow, TimerTicksEvaluateTheTriggersOnlyWhileAutoCleanIsOn) {
  // Due by the interval whatever the uptime: the last clean lies two minutes
  // back (or wraps far into the past on a machine up for less).
  app.settings.interval_minutes = 1;
  app.settings.threshold_percent = 1;
  app.settings.on_idle_minutes = 0;
  app.settings.on_boot_delay = 60;
  uint64_t two_minutes_ago = GetTickCount64() - 120000;
  app.clean.last_clean_tick = two_minutes_ago;

  app.settings.auto_clean = false;
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_FALSE(app.auto_clean.boot_delay_armed);
  EXPECT_EQ(app.auto_clean.boot_deadline_tick, 0u);
  EXPECT_EQ(app.clean.last_clean_tick, two_minutes_ago) << "no clean";
  EXPECT_EQ(GetFileAttributesW(AppFile(L"clean.log").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(app.status.usage_history.count, 1) << "the tray refresh goes on";

  app.settings.auto_clean = true;
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_TRUE(app.auto_clean.boot_delay_armed);
  EXPECT_NE(app.clean.last_clean_tick, two_minutes_ago) << "the interval clean ran";
  EXPECT_FALSE(LogLines().empty());
}

namespace {

VOID CALLBACK QuitAfterTimeout(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); }

}  // namespace

// The whole program in this process: start-up, the loop and the exit code,
// with the elevation answer and the tray played through their seams.
class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    Restart();
    DeleteAppFolder();
  }
  // A fresh process's state with the seams played again.
  void Restart() {
    ResetAppState();
    PlayAppSeams();
  }
  void TearDown() override {
    if (app.main_window) DestroyWindow(app.main_window);
    if (app.instance_mutex) CloseHandle(app.instance_mutex);
    if (app.user_token && app.user_token != UserToken()) CloseHandle(app.user_token);
    PumpMessages();
    DeleteAppFolder();
  }
  bool Start() {
    int exit_code = -1;
    bool going_on = StartQuillmere(GetModuleHandleW(nullptr), &exit_code);
    EXPECT_EQ(exit_code, 0);
    return going_on;
  }
  // The loop, ended by a quit of 99 if nothing else ends it in time.
  int Loop() {
    UINT_PTR guard = SetTimer(nullptr, 0, 30000, QuitAfterTimeout);
    int exit_code = RunMessageLoop();
    KillTimer(nullptr, guard);
    return exit_code;
  }
  // Everything gone that the program made.
  void ExpectAllGone() {
    EXPECT_EQ(app.main_window, nullptr);
    EXPECT_EQ(app.shell_window, nullptr);
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"Quillmere", nullptr), nullptr);
    EXPECT_EQ(FindWindowW(L"QuillmereShell", nullptr), nullptr);
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &app.tray.data)) << "the icon is gone";
    EXPECT_FALSE(GuardHeld());
    EXPECT_EQ(app.user_token, nullptr) << "the user's token closed";
  }
};

TEST_F(ProgramRun, ExitAndEveryCloseRequestEndWithZeroAndTakeTheIconAlong) {
  enum Target { MAIN, SHELL, DESTROY_SHELL };
  struct Case {
    const char* what;
    Target target;
    UINT message;
    WPARAM wParam;
  };
  const Case cases[] = {
      {"Exit", MAIN, WM_COMMAND, IDM_EXIT},
      {"close to the main window", MAIN, WM_CLOSE, 0},
      {"close to the shell window", SHELL, WM_CLOSE, 0},
      {"end of the session", SHELL, WM_ENDSESSION, TRUE},
      {"shell window destroyed", DESTROY_SHELL, 0, 0},
  };
  for (const Case& c : cases) {
    Restart();
    ASSERT_TRUE(Start()) << c.what;
    ASSERT_NE(app.shell_window, nullptr);
    EXPECT_NE(app.user_token, nullptr) << "the user's token made at start";
    EXPECT_TRUE(GuardHeld());
    EXPECT_EQ(recording_tray.Count(NIM_ADD), 1);
    if (c.target == DESTROY_SHELL) DestroyWindow(app.shell_window);
    else PostMessageW(c.target == MAIN ? app.main_window : app.shell_window, c.message, c.wParam, 0);
    EXPECT_EQ(Loop(), 0) << c.what;
    EXPECT_EQ(recording_tray.Count(NIM_DELETE), 1) << c.what;
    ExpectAllGone();
  }
}

TEST_F(ProgramRun, AnIconThatCanNeverBeAddedEndsWithOne) {
  recording_tray.refuse_adds = true;
  recording_tray.tick_step = TRAY_ADD_START_RETRY_MS;  // each reading the whole bound later
  ASSERT_TRUE(Start());
  EXPECT_TRUE(IsWindow(app.main_window)) << "runs on while it waits for the taskbar";
  EXPECT_EQ(Loop(), 1);
  EXPECT_EQ(recording_tray.Count(NIM_ADD), 2) << "refused at start and once more at the first tick";
  ExpectAllGone();
}

TEST_F(ProgramRun, ASecondInstanceEndsWithZeroAndTouchesNothing) {
  HANDLE first = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(Start());
  CloseHandle(first);
  EXPECT_EQ(app.main_window, nullptr);
  EXPECT_EQ(app.instance_mutex, nullptr);
  EXPECT_TRUE(recording_tray.requests.empty());
  EXPECT_EQ(GetFileAttributesW(AppFile(L"config.ini").c_str()), INVALID_FILE_ATTRIBUTES) << "no settings read";
}

// A save or a start-at-logon update that fails at start comes before the
// icon: its notice shows once the shell takes the icon, even in silent
// mode, and only then.
TEST_F(ProgramRun, FailuresAtStartAreToldOnceTheIconIsIn) {
  struct Case {
    const char* what;
    const char* config;  // null: none, the first run
    bool save_fails;
    bool scheduler_fails;
    bool add_refused_at_start;
    std::vector<std::wstring> notices;
  };
  const char* const on_and_silent = "[Clean]\r\nsilent_mode=1\r\n[App]\r\nstart_with_windows=1\r\n";
  const Case cases[] = {
      {"the first run's save fails", nullptr, true, false, false, {kSettingsNotSavedText}},
      {"the logon entries cannot be updated", on_and_silent, false, true, false, {kAutostartFailedText}},
      {"both, and the taskbar takes the icon a tick late", nullptr, true, true, true,
       {kSettingsNotSavedText, kAutostartFailedText}},
      {"nothing fails", on_and_silent, false, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    DeleteAppFolder();
    if (c.config) {
      ASSERT_TRUE(WriteConfig(c.config));
    }
    ResetPlayedFiles();
    played.failing_move = c.save_fails;
    app.file_platform = &kPlayedFilePlatform;
    if (c.scheduler_fails) app.task_scheduler = &kUnreachableScheduler;
    recording_tray.refuse_adds = c.add_refused_at_start;
    ASSERT_TRUE(Start());
    if (c.add_refused_at_start) {
      EXPECT_TRUE(recording_tray.Balloons().empty()) << "no icon yet";
      recording_tray.refuse_adds = false;
      SendMessageW(app.main_window, WM_TIMER, TIMER_MAIN, 0);
    }
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), c.notices.size());
    for (size_t i = 0; i < balloons.size(); ++i) ExpectBalloon(balloons[i], L"Quillmere", c.notices[i]);
    // Each after the add the shell took.
    size_t last_add = 0;
    for (size_t i = 0; i < recording_tray.requests.size(); ++i)
      if (recording_tray.requests[i].message == NIM_ADD) last_add = i;
    for (size_t i = 0; i < last_add; ++i) EXPECT_FALSE(recording_tray.requests[i].flags & NIF_INFO) << i;
    PostMessageW(app.main_window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(Loop(), 0);
    DeleteRunValue();
  }
  ResetPlayedFiles();
  DeleteAppFolder();
}

// Start at logon at start-up: only settings that were read (or a first
// run's defaults) decide it; another account's desktop changes nothing; a
// start ahead of the shell removes only what may no longer be, and applies
// the setting once more when the icon is in.
TEST_F(ProgramRun, StartAtLogonFollowsOnlySettingsThatWereReadOnTheProcessUsersOwnDesktop) {
  enum Values { READ_ON, FIRST_RUN, UNREAD };
  const char* const values_name[] = {"read, on", "a first run (off)", "config.ini refused (on in it)"};
  const char* const desktop_name[] = {"ours", "another account's", "no shell yet"};
  const ShellUser shells[] = {SHELL_USER_READ, SHELL_USER_READ, SHELL_NONE};
  wchar_t sid[SID_TEXT_CAPACITY];
  ASSERT_TRUE(GetProcessUserSid(sid));
  const std::wstring written = Quoted(TestExePath());
  const char on[] = "[App]\r\nstart_with_windows=1\r\n[Clean]\r\nsilent_mode=1\r\n";
  for (Values values : {READ_ON, FIRST_RUN, UNREAD}) {
    for (bool present : {true, false}) {
      for (int desktop = 0; desktop < 3; ++desktop) {
        SCOPED_TRACE(std::string(values_name[values]) + ", entries " + (present ? "there" : "absent") + ", desktop " +
                     desktop_name[desktop]);
        Restart();
        DeleteAppFolder();
        ResetPlayedFiles();
        app.file_platform = &kPlayedFilePlatform;
        if (values != FIRST_RUN) {
          ASSERT_TRUE(WriteConfig(on));
        }
        if (values == UNREAD) PlantLink(LinksPlantedAt(AppFolder(), AppFile(L"config.ini"))[1]);
        played_exe_access = PlayedExeAccess{};  // an installer's copy
        played_exe_access.shell = shells[desktop];
        if (desktop == 1) played_exe_access.shell_sid = kBob;
        app.exe_access = &kPlayedExeAccess;
        fake_scheduler = FakeScheduler{};
        fake_scheduler.registering_user = sid;
        app.task_scheduler = &kFakeSchedulerWithStore;
        DeleteRunValue();
        const std::wstring marker = L"\"C:\\Old\\quillmere.exe\"";
        if (present) {
          RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quillmere",
                          REG_SZ, marker.c_str(), static_cast<DWORD>((marker.size() + 1) * sizeof(wchar_t)));
          fake_scheduler.tasks[UserTaskName()] = {L"<Task/>", sid, L""};
        }
        ASSERT_TRUE(Start());
        const bool unchanged = values == UNREAD || desktop == 1 || (values == READ_ON && desktop == 2);
        const bool on_now = values == READ_ON;
        std::wstring run_value = ReadRunValue();
        bool task = fake_scheduler.tasks.count(UserTaskName()) != 0;
        if (unchanged) {
          EXPECT_EQ(run_value, present ? marker : L"");
          EXPECT_EQ(task, present);
        } else {
          EXPECT_EQ(run_value, on_now ? written : L"");
          EXPECT_EQ(task, on_now);
        }
        // Told only of a run as another account, while start at logon is on.
        std::vector<TrayRequest> balloons = recording_tray.Balloons();
        if (values == READ_ON && desktop == 1) {
          ASSERT_EQ(balloons.size(), 1u);
          EXPECT_NE(balloons[0].text.find(L"not as "), std::wstring::npos) << Narrow(balloons[0].text);
        } else {
          EXPECT_TRUE(balloons.empty()) << Narrow(balloons.empty() ? L"" : balloons[0].text);
        }
        EXPECT_EQ(app.start_at_logon_waits, values == READ_ON && desktop == 2);
        // The shell comes, and takes the icon: applied again, now on its
        // user's own desktop.
        played_exe_access.shell = SHELL_USER_READ;
        SendMessageW(app.main_window, WM_TIMER, TIMER_MAIN, 0);
        if (values == READ_ON && desktop == 2) {
          EXPECT_EQ(ReadRunValue(), written);
          EXPECT_TRUE(fake_scheduler.tasks.count(UserTaskName()));
        } else {
          EXPECT_EQ(ReadRunValue(), run_value) << "nothing more at the tick";
        }
        EXPECT_FALSE(app.start_at_logon_waits);
        PostMessageW(app.main_window, WM_COMMAND, IDM_EXIT, 0);
        EXPECT_EQ(Loop(), 0);
      }
    }
  }
  DeleteRunValue();
  ResetPlayedFiles();
}

// A roaming folder the user's registry names as a pipe: the program starts
// on the defaults, says that nothing can be kept, as without the user's
// token, and does no file work there, its cleans unlogged.
TEST_F(ProgramRun, ARoamingFolderThatIsNoDriveOrShareIsToldAndNothingIsTouched) {
  ResetPlayedFiles();
  played.app_data = L"\\\\.\\pipe\\quillmere";
  app.file_platform = &kPlayedFilePlatform;
  ASSERT_TRUE(Start());
  std::vector<TrayRequest> balloons = recording_tray.Balloons();
  ASSERT_EQ(balloons.size(), 1u);
  ExpectBalloon(balloons[0], L"Quillmere", kSettingsNotSavedText);
  Settings defaults;
  InitDefaultSettings(defaults);
  EXPECT_EQ(app.settings.threshold_percent, defaults.threshold_percent);
  SendMessageW(app.main_window, WM_COMMAND, IDM_CLEAN_NOW, 0);
  EXPECT_EQ(app.status.clean_history.count, 1);
  for (const PlayedFileCall& call : played.calls) {
    EXPECT_EQ(call.call, "get_folder_path") << "no file work";
    EXPECT_EQ(call.acting_as, app.user_token);
    EXPECT_TRUE(call.impersonating);
  }
  EXPECT_GE(played.calls.size(), 2u) << "looked up at the load and at the clean";
  EXPECT_EQ(GetFileAttributesW(AppFolder().c_str()), INVALID_FILE_ATTRIBUTES);
  PostMessageW(app.main_window, WM_COMMAND, IDM_EXIT, 0);
  EXPECT_EQ(Loop(), 0);
  DeleteRunValue();
  ResetPlayedFiles();
}

namespace {

// The real clean, with a token from which a policy took "Profile single
// process".
bool ProfilingWithheld(const wchar_t* privilege, bool enable) {
  return wcscmp(privilege, SE_PROF_SINGLE_PROCESS_NAME) != 0 && SetProcessPrivilege(privilege, enable);
}
CleanPlatform withheld_platform;

}  // namespace

// Without the rights a full clean needs (unelevated, or elevated with a
// privilege withheld), the popup says Limited and the first clean shows
// the limited-mode notice instead of "RAM Cleaned", and only the first;
// the notice offers running as administrator only where that would help.
// With them, every clean reports.
TEST_F(ProgramRun, LimitedNoticeTakesThePlaceOfTheFirstCleanedBalloonOnly) {
  enum Rights { UNELEVATED, ELEVATED, PRIVILEGE_WITHHELD };
  for (Rights rights : {UNELEVATED, ELEVATED, PRIVILEGE_WITHHELD}) {
    SCOPED_TRACE(rights);
    Restart();
    fake_app.elevated = rights != UNELEVATED;
    withheld_platform = kSystemCleanPlatform;
    withheld_platform.set_privilege = ProfilingWithheld;
    if (rights == PRIVILEGE_WITHHELD) app.clean.platform = &withheld_platform;
    // Automatic cleans off and every "RAM Cleaned" shown.
    ASSERT_TRUE(WriteConfig("[Clean]\r\nauto_clean=0\r\nsilent_mode=0\r\nnotify_min_mb=0\r\n"));
    ASSERT_TRUE(Start());
    EXPECT_EQ(app.is_elevated, rights != UNELEVATED);
    EXPECT_EQ(app.full_rights, rights == ELEVATED);
    EXPECT_EQ(app.status.elevation, rights == ELEVATED ? 1 : 0) << "the popup's badge";
    for (int clean = 0; clean < 3; ++clean) SendMessageW(app.main_window, WM_COMMAND, IDM_CLEAN_NOW, 0);
    ASSERT_EQ(app.status.clean_history.count, 3);
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), 3u);
    wchar_t withheld[TRAY_BALLOON_TEXT_CAPACITY];
    switch (rights) {
      case UNELEVATED:
        ExpectBalloon(balloons[0], kLimitedModeTitle, kLimitedModeText);
        break;
      case PRIVILEGE_WITHHELD:
        ExpectBalloon(balloons[0], kLimitedModeTitle, LoadText(IDS_BALLOON_PRIVILEGES_WITHHELD, withheld));
        EXPECT_EQ(std::wstring(withheld).find(L"Run as Administrator"), std::wstring::npos);
        break;
      case ELEVATED:
        ExpectBalloon(balloons[0], L"RAM Cleaned", CleanedText(0), true);
        break;
    }
    ExpectBalloon(balloons[1], L"RAM Cleaned", CleanedText(1), true);
    ExpectBalloon(balloons[2], L"RAM Cleaned", CleanedText(2), true);
    PostMessageW(app.main_window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(Loop(), 0);
    DeleteAppFolder();
  }
}

// The unelevated program's own way out of limited mode: the elevated copy
// starts with the guard free, and this one ends with zero.
TEST_F(ProgramRun, RunAsAdministratorEndsWithZeroOnceTheElevatedCopyStarts) {
  fake_app.elevated = false;
  fake_app.start_accepted = true;
  ASSERT_TRUE(Start());
  PostMessageW(app.main_window, WM_COMMAND, IDM_RUN_AS_ADMIN, 0);
  EXPECT_EQ(Loop(), 0);
  EXPECT_EQ(fake_app.starts, 1);
  EXPECT_TRUE(fake_app.guard_free_during_start);
  ExpectAllGone();
}

// A refused prompt while another copy took the guard: this copy cannot take
// it back, so it ends as Exit does, icon and all, and only one runs on.
TEST_F(ProgramRun, ARefusedPromptWhileAnotherCopyTookTheGuardEndsWithZero) {
  fake_app.elevated = false;
  fake_app.other_copy_starts = true;
  ASSERT_TRUE(Start());
  PostMessageW(app.main_window, WM_COMMAND, IDM_RUN_AS_ADMIN, 0);
  EXPECT_EQ(Loop(), 0);
  EXPECT_EQ(fake_app.starts, 1);
  EXPECT_EQ(recording_tray.Count(NIM_DELETE), 1);
  EXPECT_EQ(app.instance_mutex, nullptr);
  ASSERT_NE(fake_app.other_copy_guard, nullptr);
  CloseHandle(fake_app.other_copy_guard);
  ExpectAllGone();
}
