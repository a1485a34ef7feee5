// Shared helpers and the main window procedure.
#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "tests/support.h"
#include "tray/tray.h"

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
class MissingAppData : public ::testing::Test {
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

TEST_F(MissingAppData, NoFolderMeansNoPathAndNothingWrittenAnywhere) {
  wchar_t folder[MAX_PATH];
  EXPECT_FALSE(GetAppDataFolder(folder));
  EXPECT_EQ(folder[0], 0) << "a failed lookup must not leave a path to trust";

  Settings settings;
  settings.threshold_percent = 5;
  EXPECT_TRUE(LoadSettings(settings));
  EXPECT_EQ(settings.threshold_percent, 80) << "runs on the defaults";
  settings.threshold_percent = 42;
  SaveSettings(settings);
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

// The main window procedure, driven through a real message-only window.
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    DeleteAppFolder();
    LoadSettings(app.settings);
    ASSERT_NE(CreateTestMainWindow(), nullptr);
  }
  void TearDown() override {
    if (IsWindow(app.main_window)) DestroyWindow(app.main_window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    DeleteAppFolder();
  }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam = 0) {
    return SendMessageW(app.main_window, message, wParam, lParam);
  }
};

TEST_F(MainWindow, IgnoresUnknownCommandsTimersAndHotKeys) {
  Settings before = app.settings;
  EXPECT_EQ(Send(WM_COMMAND, 99), 0);
  EXPECT_EQ(Send(WM_COMMAND, 105), 0);
  EXPECT_EQ(Send(WM_TIMER, 7), 0);
  EXPECT_EQ(Send(WM_HOTKEY, 2), 0);
  EXPECT_TRUE(IsWindow(app.main_window));
  EXPECT_EQ(memcmp(&before, &app.settings, sizeof before), 0);
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

// The hidden top-level shell window hears what the message-only main window
// cannot: the taskbar's broadcast, and the commands of the menu it owns.
TEST_F(MainWindow, ShellWindowHandsTaskbarCreatedAndMenuCommandsOn) {
  HWND shell = CreateShellWindow(GetModuleHandleW(nullptr));
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(GetParent(shell), nullptr);
  EXPECT_FALSE(IsWindowVisible(shell));
  EXPECT_EQ(SendMessageW(shell, app.taskbar_created_message, 0, 0), 0);
  EXPECT_EQ(app.tray_data.hWnd, app.main_window) << "the icon was added on the main window";
  EXPECT_EQ(app.tray_data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));

  ASSERT_TRUE(app.settings.auto_clean);
  SendMessageW(shell, WM_COMMAND, IDM_TOGGLE_AUTO, 0);
  EXPECT_FALSE(app.settings.auto_clean) << "the menu's command reached the main window";

  SendMessageW(shell, WM_COMMAND, IDM_EXIT, 0);
  EXPECT_FALSE(IsWindow(app.main_window));
  MSG message = {};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
  DestroyWindow(shell);
}

TEST_F(MainWindow, NoTaskbarMessageNumberTakesNoMessageForIt) {
  app.taskbar_created_message = 0;
  // Message 0 is WM_NULL: it must reach the default procedure, not the tray.
  EXPECT_EQ(Send(0, 0), 0);
  EXPECT_EQ(app.tray_data.cbSize, 0u);
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
    int before = app.clean_history.count;
    EXPECT_EQ(Send(c.message, c.wParam, c.lParam), 0);
    EXPECT_EQ(app.clean_history.count - before, c.cleans) << c.message << " " << c.wParam << " " << c.lParam;
  }
  std::string log = ReadFileBytes(AppFile(L"clean.log"));
  int lines = 0;
  for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 4) << "one log line per clean";
}

TEST_F(MainWindow, TimerTicksEvaluateTheTriggersOnlyWhileAutoCleanIsOn) {
  // Due by the interval whatever the uptime: the last clean lies two minutes
  // back (or wraps far into the past on a machine up for less).
  app.settings.interval_minutes = 1;
  app.settings.threshold_percent = 1;
  app.settings.on_idle_minutes = 0;
  app.settings.on_boot_delay = 60;
  uint64_t two_minutes_ago = GetTickCount64() - 120000;
  app.last_clean_tick = two_minutes_ago;

  app.settings.auto_clean = false;
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_FALSE(app.boot_delay_armed);
  EXPECT_EQ(app.boot_deadline_tick, 0u);
  EXPECT_EQ(app.last_clean_tick, two_minutes_ago) << "no clean";
  EXPECT_EQ(GetFileAttributesW(AppFile(L"clean.log").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(UsageSampleCount(), 1) << "the tray refresh goes on";

  app.settings.auto_clean = true;
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_TRUE(app.boot_delay_armed);
  EXPECT_NE(app.last_clean_tick, two_minutes_ago) << "the interval clean ran";
  EXPECT_NE(ReadFileBytes(AppFile(L"clean.log")), "");
}
