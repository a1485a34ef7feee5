// The shell: the shared helpers, the single-instance guard, the main and
// shell windows, and the whole program run in this process.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/support.h"
#include "tray/tray.h"
#include "common/files.h"
#include "common/system.h"
#include "common/text.h"
#include "common/user_rights.h"

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
  ASSERT_TRUE(GetAppDataFolder(folder));
  EXPECT_EQ(std::wstring(folder) + L"\\Quillmere", AppFolder());
}

TEST_F(NoAppDataFolder, NoFolderMeansNoPathAndNothingWrittenAnywhere) {
  wchar_t folder[MAX_PATH];
  EXPECT_FALSE(GetAppDataFolder(folder));
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

const AppPlatform kFakeApp = {FakeRegisterHotKey, FakeIsElevated, FakeShellExecute};

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
  app.settings.notify_min_mb = 2147483647;  // no "RAM Cleaned"
  for (const Case& c : cases) {
    app.settings.silent_mode = c.silent;
    recording_tray.requests.clear();
    int cleans = app.status.clean_history.count;
    Send(c.message, c.wParam, c.lParam);
    EXPECT_EQ(app.status.clean_history.count, cleans + 1);
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), c.balloon ? 1u : 0u) << c.silent << " " << c.message;
    if (c.balloon) ExpectBalloon(balloons[0], L"Quillmere", L"Clean triggered (Ctrl+Alt+R)");
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
    int before = app.status.clean_history.count;
    EXPECT_EQ(Send(c.message, c.wParam, c.lParam), 0);
    EXPECT_EQ(app.status.clean_history.count - before, c.cleans) << c.message << " " << c.wParam << " " << c.lParam;
  }
  EXPECT_EQ(LogLines().size(), 4u) << "one log line per clean";
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

// Unelevated, the first clean shows the limited-mode notice instead of
// "RAM Cleaned", and only the first; elevated, every clean reports.
TEST_F(ProgramRun, LimitedNoticeTakesThePlaceOfTheFirstCleanedBalloonOnly) {
  for (bool elevated : {false, true}) {
    Restart();
    fake_app.elevated = elevated;
    // Automatic cleans off and every "RAM Cleaned" shown.
    ASSERT_TRUE(WriteConfig("[Clean]\r\nauto_clean=0\r\nsilent_mode=0\r\nnotify_min_mb=0\r\n"));
    ASSERT_TRUE(Start());
    EXPECT_EQ(app.is_elevated, elevated);
    for (int clean = 0; clean < 3; ++clean) SendMessageW(app.main_window, WM_COMMAND, IDM_CLEAN_NOW, 0);
    ASSERT_EQ(app.status.clean_history.count, 3);
    std::vector<TrayRequest> balloons = recording_tray.Balloons();
    ASSERT_EQ(balloons.size(), 3u) << elevated;
    ExpectBalloon(balloons[0], elevated ? L"RAM Cleaned" : kLimitedModeTitle,
                  elevated ? CleanedText(0) : std::wstring(kLimitedModeText), elevated);
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
