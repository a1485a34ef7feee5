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

TEST(JoinPath, CutPathsAreRefused) {
  struct Case {
    size_t folder_length;
    bool whole;
  };
  const std::wstring name = L"clean.log";
  // folder, backslash, name and the terminator in 260 characters
  const Case cases[] = {{20, true}, {259 - 1 - 9, true}, {260 - 1 - 9, false}, {259, false}, {300, false}};
  for (const Case& c : cases) {
    std::wstring folder = L"C:\\" + std::wstring(c.folder_length - 3, L'u');
    wchar_t path[MAX_PATH + 1];
    wmemset(path, L'#', MAX_PATH + 1);
    EXPECT_EQ(JoinPath(reinterpret_cast<wchar_t(&)[MAX_PATH]>(path), folder.c_str(), name.c_str()), c.whole)
        << c.folder_length;
    EXPECT_EQ(std::wstring(path), c.whole ? folder + L"\\" + name : L"") << c.folder_length;
    EXPECT_EQ(path[MAX_PATH], L'#') << "wrote past the buffer";
  }
}

TEST(CheckedFiles, FinalPathMustNameWhatWasAskedFor) {
  struct Case {
    const wchar_t* final_path;
    const wchar_t* expected;
    bool same;
  };
  const Case cases[] = {
      {L"\\\\?\\C:\\Users\\ann\\AppData\\Roaming\\Quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", true},
      {L"\\\\?\\C:\\users\\ANN\\appdata\\roaming\\quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", true},
      {L"C:\\q\\config.ini", L"C:\\q\\config.ini", true},
      {L"\\\\?\\UNC\\server\\home\\ann\\Quillmere", L"\\\\server\\home\\ann\\Quillmere", true},
      // A junction or link somewhere on the way.
      {L"\\\\?\\C:\\Windows\\System32\\Quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", false},
      {L"\\\\?\\D:\\Users\\ann\\AppData\\Roaming\\Quillmere", L"C:\\Users\\ann\\AppData\\Roaming\\Quillmere", false},
      {L"\\\\?\\C:\\q\\config.ini.new", L"C:\\q\\config.ini", false},
      {L"\\\\?\\C:\\q\\config.in", L"C:\\q\\config.ini", false},
      {L"\\\\?\\UNC\\server\\home\\ann\\Quillmere", L"C:\\server\\home\\ann\\Quillmere", false},
      {L"\\\\?\\C:\\q", L"", false},
      {L"", L"C:\\q", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FinalPathIs(c.final_path, c.expected), c.same) << Narrow(c.final_path) << " vs " << Narrow(c.expected);
}

TEST(CheckedFiles, OnlyPlainEntriesAreGoneThrough) {
  struct Case {
    DWORD attributes;
    DWORD links;
    bool folder;
    bool plain;
  };
  const Case cases[] = {
      {FILE_ATTRIBUTE_ARCHIVE, 1, false, true},
      {FILE_ATTRIBUTE_NORMAL, 1, false, true},
      {FILE_ATTRIBUTE_ARCHIVE, 2, false, false},  // a hard link to some other file
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, false, false},
      {FILE_ATTRIBUTE_DIRECTORY, 1, false, false},
      {FILE_ATTRIBUTE_DIRECTORY, 1, true, true},
      {FILE_ATTRIBUTE_DIRECTORY, 3, true, true},  // a folder's link count says nothing
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 1, true, false},  // a junction
      {FILE_ATTRIBUTE_ARCHIVE, 1, true, false},
  };
  for (const Case& c : cases) {
    BY_HANDLE_FILE_INFORMATION information = {};
    information.dwFileAttributes = c.attributes;
    information.nNumberOfLinks = c.links;
    EXPECT_EQ(IsPlainEntry(information, c.folder), c.plain) << std::hex << c.attributes << " links " << c.links;
  }
}

namespace {

// A folder of its own under the roaming folder, removed after each test.
class CheckedFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPlayedFiles();
    wchar_t app_data[MAX_PATH];
    ASSERT_TRUE(GetAppDataFolder(app_data));
    parent_ = app_data;
    folder_ = parent_ + L"\\quillmere-checked";
    RemoveDirectoryW(folder_.c_str());
  }
  void TearDown() override {
    EXPECT_TRUE(played.open.empty()) << "every handle closed";
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring parent_, folder_;
};

}  // namespace

TEST_F(CheckedFolderTest, MadeInAPlainParentAndHeldAgainstRenaming) {
  CheckedFolder folder;
  EXPECT_EQ(OpenCheckedFolder(folder, folder_.c_str(), false, kPlayedFilePlatform), CHECKED_FOLDER_MISSING);
  EXPECT_EQ(folder.handle, INVALID_HANDLE_VALUE);
  ASSERT_EQ(OpenCheckedFolder(folder, folder_.c_str(), true, kPlayedFilePlatform), CHECKED_FOLDER_OPEN);
  EXPECT_EQ(std::wstring(folder.path), folder_);
  // While held it cannot be moved away and a link put in its place.
  std::wstring moved = folder_ + L"-moved";
  EXPECT_FALSE(MoveFileExW(folder_.c_str(), moved.c_str(), 0));
  EXPECT_FALSE(RemoveDirectoryW(folder_.c_str()));
  CloseCheckedFolder(folder, kPlayedFilePlatform);
  // An existing folder opens again, with or without making it.
  for (bool create : {false, true}) {
    ASSERT_EQ(OpenCheckedFolder(folder, folder_.c_str(), create, kPlayedFilePlatform), CHECKED_FOLDER_OPEN) << create;
    CloseCheckedFolder(folder, kPlayedFilePlatform);
  }
}

TEST_F(CheckedFolderTest, LinksOnTheWayAreRefused) {
  struct Case {
    const char* what;
    std::wstring reparse_point, moved, moved_to;
    bool made;  // the folder is made before the check refuses it
  };
  const Case cases[] = {
      {"the folder is a junction", folder_, L"", L"", true},
      {"the parent is a junction", parent_, L"", L"", false},
      {"the folder resolves elsewhere", L"", folder_, L"C:\\windows", true},
      {"the parent resolves elsewhere", L"", parent_, L"C:\\windows", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveDirectoryW(folder_.c_str());
    played.reparse_point = c.reparse_point;
    played.moved = c.moved;
    played.moved_to = c.moved_to;
    CheckedFolder folder;
    EXPECT_EQ(OpenCheckedFolder(folder, folder_.c_str(), true, kPlayedFilePlatform), CHECKED_FOLDER_REFUSED);
    EXPECT_EQ(folder.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES, c.made);
    EXPECT_TRUE(played.open.empty());
  }
}

TEST_F(CheckedFolderTest, FilesAreOpenedOnlyWhenPlainAndWhereAskedFor) {
  CheckedFolder folder;
  ASSERT_EQ(OpenCheckedFolder(folder, folder_.c_str(), true, kPlayedFilePlatform), CHECKED_FOLDER_OPEN);
  std::wstring file = folder_ + L"\\a.txt";
  std::wstring other = folder_ + L"\\b.txt";
  ASSERT_TRUE(WriteFileBytes(file, "a"));
  BY_HANDLE_FILE_INFORMATION information;
  bool missing = true;
  HANDLE handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                                  kPlayedFilePlatform);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(missing);
  EXPECT_EQ(information.nNumberOfLinks, 1u);
  if (handle != INVALID_HANDLE_VALUE) kPlayedFilePlatform.close_handle(handle);

  handle = OpenCheckedFile(folder, L"none.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(missing) << "a file that is not there is told from a refused one";

  played.reparse_point = file;
  handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(missing);
  played.reparse_point.clear();

  played.moved = file;
  played.moved_to = other;
  handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  played.moved.clear();

  ASSERT_TRUE(CreateHardLinkW(other.c_str(), file.c_str(), nullptr));
  handle = OpenCheckedFile(folder, L"a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, information, missing,
                           kPlayedFilePlatform);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << "a file with a second name";
  EXPECT_FALSE(missing);

  CloseCheckedFolder(folder, kPlayedFilePlatform);
  DeleteFileW(file.c_str());
  DeleteFileW(other.c_str());
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
