// The real program's settings window, opened from the real tray menu: edits
// saved by OK, and the program answering its hot key and Exit beside it.
#include "app/app.h"

#include <psapi.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/support/in_language.h"
#include "tests/support.h"
#include "settings/settings_internal.h"

namespace {

// config.ini with the given "Clean" keys; every other key takes its default.
std::string Config(const std::string& clean) { return "[Clean]\r\n" + clean + "[App]\r\nstart_with_windows=0\r\n"; }

// WM_GETTEXT itself: GetWindowTextW answers another process's edit control
// with its creation text.
std::wstring FieldText(HWND settings, int id) {
  wchar_t text[64] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(GetDlgItem(settings, id), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000,
                      &copied);
  return text;
}

// Clicks into a field of the settings window, types over its text and waits
// until the field shows `shown`, so the keys cannot reach the next field.
bool TypeIntoField(HWND settings, int id, const std::string& keys, const std::wstring& shown) {
  MouseClick(CentreOf(GetDlgItem(settings, id)), 1);
  PressKeys("End BackSpace BackSpace BackSpace BackSpace");
  TypeText(keys);
  return WaitUntil([&] { return FieldText(settings, id) == shown; }, 5000);
}

// The `language` of config.ini's "App" section, "<missing>" without one.
std::wstring ConfigLanguage() {
  wchar_t text[64] = {};
  GetPrivateProfileStringW(L"App", L"language", L"<missing>", text, 64, AppFile(L"config.ini").c_str());
  return text;
}

// A window's title, asked of its own thread.
std::wstring TitleOf(HWND window) {
  wchar_t text[128] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000, &copied);
  return text;
}

// The control that has the keyboard focus in the window's thread.
HWND FocusIn(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

BOOL CALLBACK CountSettingsWindow(HWND window, LPARAM count) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (wcscmp(name, L"QuillmereSettings") == 0 && IsWindowVisible(window)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int SettingsWindowCount() {
  int count = 0;
  EnumWindows(CountSettingsWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

// The paths of the DLLs the process has loaded that are named `name`.
std::vector<std::wstring> LoadedCopiesOf(HANDLE process, const wchar_t* name) {
  std::vector<std::wstring> found;
  HMODULE modules[512] = {};
  DWORD bytes = 0;
  if (!EnumProcessModulesEx(process, modules, sizeof modules, &bytes, LIST_MODULES_ALL)) return found;
  for (DWORD i = 0; i < bytes / sizeof modules[0] && i < 512; ++i) {
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleFileNameExW(process, modules[i], path, MAX_PATH)) continue;
    const wchar_t* file = wcsrchr(path, L'\\');
    if (_wcsicmp(file ? file + 1 : path, name) == 0) found.push_back(path);
  }
  return found;
}

using SettingsWindowEdits = QuillmereTest;
using ProgramBesideSettingsWindow = QuillmereTest;
using OneSettingsWindow = QuillmereTest;
using SettingsWindowAsADialog = QuillmereTest;
using CommonControls6 = QuillmereTest;

}  // namespace

TEST_F(SettingsWindowEdits, FromTheTrayMenuAreSavedAtOnceByOk) {
  ASSERT_TRUE(WriteConfig(Config("threshold_percent=80\r\nauto_clean=0\r\nclean_hour=5\r\nclean_minute=30\r\n")));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(settings, title, 64);
  EXPECT_STREQ(title, L"Quillmere \u2014 Settings");

  FocusWineWindow("Quillmere.*Settings");
  // The number field drops the minus; the hour field keeps it: schedule off.
  EXPECT_TRUE(TypeIntoField(settings, IDC_THRESHOLD, "-42", L"42")) << Narrow(FieldText(settings, IDC_THRESHOLD));
  EXPECT_TRUE(TypeIntoField(settings, IDC_CLEAN_HOUR, "-1", L"-1")) << Narrow(FieldText(settings, IDC_CLEAN_HOUR));
  MouseClick(CentreOf(GetDlgItem(settings, IDC_OK)), 1);

  EXPECT_TRUE(WaitUntil([] { return ConfigNumber(L"threshold_percent") == 42; }, 5000))
      << "threshold_percent=" << ConfigNumber(L"threshold_percent");
  EXPECT_EQ(ConfigNumber(L"clean_hour"), -1);
  EXPECT_EQ(ConfigNumber(L"clean_minute"), 30);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 5000));
  EXPECT_EQ(Exit(), 0u);
}

// The clean steps and the free-memory trigger: set in the window, written
// to config.ini, shown again the next time the window opens.
TEST_F(SettingsWindowEdits, CleanStepsAndFreeMemoryTriggerRoundTrip) {
  ASSERT_TRUE(WriteConfig(Config("auto_clean=0\r\nfree_below_mb=0\r\n")));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  const int steps[] = {IDC_TRIM_WORKING_SETS, IDC_FLUSH_MODIFIED, IDC_FLUSH_FILE_CACHE, IDC_KEEP_FOREGROUND};
  for (int id : steps)
    EXPECT_EQ(SendMessageW(GetDlgItem(settings, id), BM_GETCHECK, 0, 0), BST_CHECKED) << id << ": on by default";
  EXPECT_EQ(SendMessageW(GetDlgItem(settings, IDC_PURGE_STANDBY), CB_GETCURSEL, 0, 0), 1) << "the whole list";
  EXPECT_EQ(FieldText(settings, IDC_FREE_BELOW_MB), L"0");

  // The standby step's list by its access key, and its first item, "None".
  FocusWineWindow("Quillmere.*Settings");
  PressKeys("alt+p");
  PressKeys("Home");
  EXPECT_TRUE(WaitUntil(
      [&] { return SendMessageW(GetDlgItem(settings, IDC_PURGE_STANDBY), CB_GETCURSEL, 0, 0) == 0; }, 5000))
      << "the keys did not choose None";
  EXPECT_TRUE(TypeIntoField(settings, IDC_FREE_BELOW_MB, "2048", L"2048"))
      << Narrow(FieldText(settings, IDC_FREE_BELOW_MB));
  MouseClick(CentreOf(GetDlgItem(settings, IDC_OK)), 1);

  // The file is UTF-16: read through the profile functions, as Windows does.
  EXPECT_TRUE(WaitUntil([] { return ConfigNumber(L"free_below_mb") == 2048; }, 5000))
      << "free_below_mb=" << ConfigNumber(L"free_below_mb");
  EXPECT_EQ(ConfigNumber(L"purge_standby"), 0);
  EXPECT_EQ(ConfigNumber(L"trim_working_sets"), 1);
  EXPECT_EQ(ConfigNumber(L"flush_modified"), 1);
  EXPECT_EQ(ConfigNumber(L"flush_file_cache"), 1);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));

  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(FieldText(settings, IDC_FREE_BELOW_MB), L"2048");
  for (int id : steps) EXPECT_EQ(SendMessageW(GetDlgItem(settings, id), BM_GETCHECK, 0, 0), BST_CHECKED) << id;
  EXPECT_EQ(SendMessageW(GetDlgItem(settings, IDC_PURGE_STANDBY), CB_GETCURSEL, 0, 0), 0);
  MouseClick(CentreOf(GetDlgItem(settings, IDC_CANCEL)), 1);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  EXPECT_EQ(Exit(), 0u);
}

// A language chosen in the list by the keyboard, as a user does, is written
// to config.ini by OK and shown from then on without a restart: the window
// opened again carries that language's title. "As Windows" empties it.
TEST_F(SettingsWindowEdits, ChosenLanguageIsSavedAndShownAtOnce) {
  ASSERT_TRUE(WriteConfig(Config("auto_clean=0\r\n")));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  HWND list = GetDlgItem(settings, IDC_LANGUAGE);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0) << "As Windows";

  // Its label's access key, then the last language of the list.
  FocusWineWindow("Quillmere.*Settings");
  PressKeys("alt+u");
  ASSERT_TRUE(WaitUntil([&] { return FocusIn(settings) == list; }, 5000)) << "Alt+U";
  PressKeys("End");
  ASSERT_TRUE(WaitUntil([&] { return SendMessageW(list, CB_GETCURSEL, 0, 0) == LANGUAGE_COUNT; }, 5000))
      << "End did not choose the last language";
  MouseClick(CentreOf(GetDlgItem(settings, IDC_OK)), 1);
  const int chosen = LANGUAGE_COUNT - 1;
  EXPECT_TRUE(WaitUntil([&] { return ConfigLanguage() == kLanguages[chosen].name; }, 5000))
      << "language=" << Narrow(ConfigLanguage());
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));

  // Opened again by its command: the menu is in that language now.
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  settings = WaitForSettingsWindow(10000);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(TitleOf(settings), StringIn(chosen, IDS_SETTINGS_TITLE));
  EXPECT_EQ(SendMessageW(GetDlgItem(settings, IDC_LANGUAGE), CB_GETCURSEL, 0, 0), LANGUAGE_COUNT);

  // Back to Windows' choice, the first item (its title and keys are that
  // language's now, so chosen by message).
  SendMessageW(GetDlgItem(settings, IDC_LANGUAGE), CB_SETCURSEL, 0, 0);
  PostMessageW(settings, WM_COMMAND, IDC_OK, 0);
  EXPECT_TRUE(WaitUntil([] { return ConfigLanguage().empty(); }, 5000)) << "language=" << Narrow(ConfigLanguage());
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  settings = WaitForSettingsWindow(10000);
  ASSERT_NE(settings, nullptr);
  // Wine takes the display language from the locale of this run.
  wchar_t preferred[256];
  ReadPreferredLanguages(preferred, ARRAYSIZE(preferred));
  EXPECT_EQ(TitleOf(settings), StringIn(ChooseLanguage(L"", preferred), IDS_SETTINGS_TITLE));
  PostMessageW(settings, WM_COMMAND, IDC_CANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  EXPECT_EQ(Exit(), 0u);
}

// The commit warning's level: reached by its access key, typed, stored by
// OK as 0 or 50 to 99, and shown again the next time the window opens.
TEST_F(SettingsWindowEdits, CommitWarningLevelRoundTripsThroughItsAccessKey) {
  ASSERT_TRUE(WriteConfig(Config("auto_clean=0\r\n")));
  ASSERT_TRUE(Start());
  struct Edit {
    const char* typed;
    const wchar_t* shown_before;  // the field as the window opens
    const wchar_t* shown;         // after typing
    int stored;
  };
  const Edit edits[] = {{"30", L"90", L"30", 50}, {"75", L"50", L"75", 75}, {"0", L"75", L"0", 0}};
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.typed);
    ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
    HWND settings = WaitForSettingsWindow();
    ASSERT_NE(settings, nullptr);
    HWND field = GetDlgItem(settings, IDC_COMMIT_WARN);
    EXPECT_EQ(FieldText(settings, IDC_COMMIT_WARN), edit.shown_before);
    FocusWineWindow("Quillmere.*Settings");
    PressKeys("alt+c");
    ASSERT_TRUE(WaitUntil([&] { return FocusIn(settings) == field; }, 5000)) << "Alt+C";
    // The text selected whole: typing replaces it.
    TypeText(edit.typed);
    EXPECT_TRUE(WaitUntil([&] { return FieldText(settings, IDC_COMMIT_WARN) == edit.shown; }, 5000))
        << Narrow(FieldText(settings, IDC_COMMIT_WARN));
    PressKeys("Return");
    EXPECT_TRUE(WaitUntil([&] { return ConfigNumber(L"commit_warn_percent") == edit.stored; }, 5000))
        << "commit_warn_percent=" << ConfigNumber(L"commit_warn_percent");
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  }
  EXPECT_EQ(Exit(), 0u);
}

TEST_F(ProgramBesideSettingsWindow, HotKeyCleansAndExitEndsWhileItIsOpen) {
  ASSERT_TRUE(WriteConfig(Config("auto_clean=0\r\nsilent_mode=1\r\n")));
  ASSERT_TRUE(Start());
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);

  // Pressed in the settings window itself: moving the focus to another
  // process's window in the same breath can lose the chord under Wine.
  FocusWineWindow("Quillmere.*Settings");
  PressKeys("ctrl+alt+r");
  EXPECT_TRUE(WaitUntil([] { return LogLines().size() == 1; }, 10000)) << "the hot key did not clean";
  EXPECT_TRUE(IsWindow(settings));

  ASSERT_TRUE(ClickTrayMenuItem(L"Exit"));
  EXPECT_EQ(WaitForExitCode(15000), 0u);
  EXPECT_FALSE(IsWindow(settings));
}

// Closing a window takes Wine about two seconds on a display without a
// window manager: the Exit chosen meanwhile must not be lost.
TEST_F(ProgramBesideSettingsWindow, ExitChosenRightAfterClosingItEndsTheProgram) {
  ASSERT_TRUE(WriteConfig(Config("auto_clean=0\r\nsilent_mode=1\r\n")));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);

  MouseClick(CentreOf(GetDlgItem(settings, IDC_CANCEL)), 1);
  ASSERT_TRUE(ClickTrayMenuItem(L"Exit"));
  EXPECT_EQ(WaitForExitCode(15000), 0u);
  EXPECT_FALSE(IsWindow(settings));
}

// Settings... while the window is open brings that one back, with the focus
// where it was, instead of opening a second one whose OK would store over
// the first; Auto-clean switched in the menu shows in its box, so OK keeps it.
TEST_F(OneSettingsWindow, ChosenAgainFromTheMenuComesBackAndShowsAutoCleanSwitchedThere) {
  ASSERT_TRUE(WriteConfig(Config("threshold_percent=80\r\nauto_clean=1\r\n")));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  HWND minute = GetDlgItem(settings, IDC_CLEAN_MINUTE);
  MouseClick(CentreOf(minute), 1);
  ASSERT_TRUE(WaitUntil([&] { return FocusIn(settings) == minute; }, 5000));

  // The menu takes the foreground; choosing the item hands it back.
  ASSERT_TRUE(ClickTrayMenuItem(L"Settings..."));
  EXPECT_EQ(WaitForSettingsWindow(10000), settings);
  EXPECT_EQ(SettingsWindowCount(), 1);
  EXPECT_TRUE(WaitUntil([&] { return FocusIn(settings) == minute; }, 5000)) << "the focus where it was";

  ASSERT_TRUE(ClickTrayMenuItem(L"Auto-clean"));
  EXPECT_TRUE(WaitUntil([] { return ConfigNumber(L"auto_clean") == 0; }, 5000)) << "saved by the menu";
  EXPECT_TRUE(WaitUntil(
      [&] { return SendMessageW(GetDlgItem(settings, IDC_AUTO_CLEAN), BM_GETCHECK, 0, 0) == BST_UNCHECKED; }, 5000))
      << "the box shows it";
  EXPECT_TRUE(TypeIntoField(settings, IDC_THRESHOLD, "42", L"42")) << Narrow(FieldText(settings, IDC_THRESHOLD));
  MouseClick(CentreOf(GetDlgItem(settings, IDC_OK)), 1);
  EXPECT_TRUE(WaitUntil([] { return ConfigNumber(L"threshold_percent") == 42; }, 5000)) << "OK stored";
  EXPECT_EQ(ConfigNumber(L"auto_clean"), 0) << "and kept what the menu chose";
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  EXPECT_EQ(Exit(), 0u);
}

// The first field has the focus with its text selected; Alt and a label's
// key moves the focus to its field, Alt and a check box's key ticks it;
// Esc still closes without a change.
TEST_F(SettingsWindowAsADialog, StartsInTheFirstFieldAndAccessKeysMoveTheFocus) {
  ASSERT_TRUE(WriteConfig(Config("threshold_percent=80\r\nsilent_mode=0\r\n")));
  ASSERT_TRUE(Start());
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  HWND threshold = GetDlgItem(settings, IDC_THRESHOLD);
  EXPECT_TRUE(WaitUntil([&] { return FocusIn(settings) == threshold; }, 5000));
  EXPECT_EQ(SendMessageW(threshold, EM_GETSEL, 0, 0), MAKELONG(0, 2)) << "80 selected whole";

  FocusWineWindow("Quillmere.*Settings");
  struct Key {
    const char* keys;
    int id;
  };
  const Key keys[] = {{"alt+m", IDC_CLEAN_MINUTE}, {"alt+x", IDC_EXCLUDE_LIST}, {"alt+f", IDC_FREE_BELOW_MB},
                      {"alt+r", IDC_THRESHOLD}};
  for (const Key& key : keys) {
    PressKeys(key.keys);
    HWND field = GetDlgItem(settings, key.id);
    EXPECT_TRUE(WaitUntil([&] { return FocusIn(settings) == field; }, 5000)) << key.keys;
  }
  HWND silent = GetDlgItem(settings, IDC_SILENT);
  PressKeys("alt+s");
  EXPECT_TRUE(WaitUntil([&] { return SendMessageW(silent, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000)) << "ticked";
  EXPECT_EQ(FocusIn(settings), silent);
  PressKeys("Escape");
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  EXPECT_EQ(ConfigNumber(L"silent_mode"), 0) << "Esc changed nothing";
  EXPECT_EQ(Exit(), 0u);
}

// The manifest's Common Controls 6 comes in with the settings window's
// controls and not before: the start loads nothing for it.
TEST_F(CommonControls6, LoadsWithTheSettingsWindowNotAtStart) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(LoadedCopiesOf(process_.hProcess, L"comctl32.dll"), std::vector<std::wstring>{});
  PostMessageW(main_window_, WM_COMMAND, IDM_SETTINGS, 0);
  HWND settings = WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  std::vector<std::wstring> copies = LoadedCopiesOf(process_.hProcess, L"comctl32.dll");
  ASSERT_EQ(copies.size(), 1u);
  std::wstring path = copies[0];
  for (wchar_t& c : path) c = towlower(c);
  EXPECT_NE(path.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
      << Narrow(copies[0]);
  PostMessageW(settings, WM_COMMAND, IDC_CANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 8000));
  EXPECT_EQ(Exit(), 0u);
}
