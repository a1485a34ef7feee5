// The real program: first run, single instance, the tray icon with its drawn
// bar and tooltip, the return after a taskbar restart, ends by the tray menu's
// Exit and from outside, and a profile without an application data folder.
#include "app/app.h"

#include <stdio.h>

#include "clean/clean.h"
#include "tests/e2e/harness.h"
#include "tests/robustness/hostile_config.h"
#include "tests/support.h"
#include "tray/tray.h"

namespace {

constexpr int kExit = 6;  // position in the tray menu

std::string Config() { return ReadFileBytes(AppFile(L"config.ini")); }

const char kDefaultConfig[] =
    "[Clean]\r\nthreshold_percent=80\r\ninterval_minutes=30\r\non_idle_minutes=5\r\non_boot_delay=60\r\n"
    "silent_mode=0\r\nauto_clean=1\r\nclean_hour=-1\r\nclean_minute=0\r\nnotify_min_mb=10\r\nfree_below_mb=0\r\n"
    "trim_working_sets=1\r\nflush_modified=1\r\npurge_standby=1\r\nflush_file_cache=1\r\ncommit_warn_percent=90\r\n"
    "keep_foreground=1\r\nhold_when_busy=1\r\nexclude_list=\r\n[App]\r\nstart_with_windows=0\r\nshow_status_on_clean=0\r\n"
    "language=\r\n";

using FirstRun = QuillmereTest;
using ConfigInAnotherEncoding = QuillmereTest;
using SecondInstance = QuillmereTest;
using TrayIcon = QuillmereTest;
using TrayMenuExit = QuillmereTest;
using NoAppDataFolder = QuillmereTest;
using CloseFromOutside = QuillmereTest;

}  // namespace

TEST_F(FirstRun, WritesTheDefaultsAndExitEndsWithZero) {
  ASSERT_TRUE(Start());
  // As the program stores config.ini: UTF-16 after its byte-order mark.
  EXPECT_EQ(Config(), Utf16(kDefaultConfig, false, true));
  EXPECT_EQ(Exit(), 0u);
  TrayIconView icon;
  EXPECT_FALSE(FindQuillmereIcon(icon)) << "the icon leaves with the program";
}

// Saved by an editor as UTF-8 with a byte-order mark, which Windows' profile
// functions do not skip: the program converts it before reading a key, every
// line kept, and saves on from what it read.
TEST_F(ConfigInAnotherEncoding, IsConvertedToUtf16AtStartAndReadWhole) {
  const std::string text = "[Clean]\r\nthreshold_percent=90\r\nauto_clean=0\r\n; mine\r\n";
  ASSERT_TRUE(WriteConfig("\xEF\xBB\xBF" + text));
  ASSERT_TRUE(Start());
  EXPECT_EQ(Config(), Utf16(text, false, true));
  SendMessageW(main_window_, WM_COMMAND, IDM_TOGGLE_AUTO, 0);  // a save
  EXPECT_EQ(ConfigNumber(L"auto_clean"), 1) << "the loaded 0, toggled";
  EXPECT_EQ(ConfigNumber(L"threshold_percent"), 90);
  EXPECT_NE(Config().find(Utf16("; mine\r\n", false, false)), std::string::npos) << "the comment kept";
  EXPECT_EQ(Exit(), 0u);
}

TEST_F(SecondInstance, ExitsZeroAndChangesNothing) {
  ASSERT_TRUE(Start());
  // Had the copy gone on, it would have loaded this and written the Run value.
  std::string edited = kDefaultConfig;
  edited.replace(edited.find("start_with_windows=0"), 20, "start_with_windows=1");
  ASSERT_TRUE(WriteConfig(edited));

  EXPECT_EQ(StartSecondCopy(), 0u);
  EXPECT_EQ(Config(), edited);
  EXPECT_EQ(ReadRunValue(), L"");
  int icons = 0;
  for (const TrayIconView& icon : ListTrayIcons()) icons += icon.tip.rfind(L"Quillmere", 0) == 0;
  EXPECT_EQ(icons, 1);
  EXPECT_TRUE(Running());
}

TEST_F(TrayIcon, ShowsTheLoadAsABarAndInItsTooltip) {
  ASSERT_TRUE(Start());
  TrayIconView icon;
  ASSERT_TRUE(FindQuillmereIcon(icon));
  double used = 0, total = 0;
  int load = -1;
  ASSERT_EQ(swscanf(icon.tip.c_str(), L"Quillmere\n%lf / %lf GB  (%d%%)", &used, &total, &load), 3)
      << Narrow(icon.tip);
  wchar_t expected[128];
  FormatTooltip(expected, used, total, load);
  EXPECT_EQ(icon.tip, expected) << "exact layout: line break, two spaces, percent in parentheses";
  MemorySnapshot snapshot = {};
  ASSERT_TRUE(TakeMemorySnapshot(snapshot));
  EXPECT_NEAR(total, snapshot.total_gb, 0.05);

  // The 16-pixel picture sits centred in Wine's icon cell.
  const int size = 16;
  int left = icon.rect.left + (icon.rect.right - icon.rect.left - size) / 2;
  int top = icon.rect.top + (icon.rect.bottom - icon.rect.top - size) / 2;
  const COLORREF background = RGB(28, 28, 35);
  EXPECT_EQ(ScreenPixel(left, top + size - 1), background) << "one-pixel margin left of the bar";
  EXPECT_EQ(ScreenPixel(left + size - 1, top + size - 1), background) << "and right of it";
  if (load < 100) {
    EXPECT_EQ(ScreenPixel(left + size / 2, top), background) << "the bar stops below the load";
  }
  if (UsageBarTop(size, load) < size) {
    EXPECT_EQ(ScreenPixel(left + size / 2, top + size - 1), UsageBarColor(load)) << "the bar in its load colour";
  }
}

TEST_F(TrayIcon, ReturnsWhenTheTaskbarIsCreatedAgain) {
  ASSERT_TRUE(Start());
  // The shell forgets the icon, as when Explorer restarts...
  NOTIFYICONDATAW gone = {};
  gone.cbSize = sizeof gone;
  gone.hWnd = main_window_;
  gone.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
  TrayIconView icon;
  ASSERT_TRUE(WaitUntil([&] { return !FindQuillmereIcon(icon); }, 5000));
  // ...and then tells every top-level window that the taskbar is back.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 5000,
                      &result);
  EXPECT_TRUE(WaitUntil([&] { return FindQuillmereIcon(icon); }, 5000));
  // Within a second the redraw brings back the bar and the full tooltip.
  EXPECT_TRUE(WaitUntil([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"GB") != std::wstring::npos; }, 3000));
  EXPECT_EQ(Exit(), 0u);
}

TEST_F(TrayMenuExit, EndsTheProgramWithZero) {
  // No automatic clean, whose balloon could lie over the menu.
  ASSERT_TRUE(WriteConfig("[Clean]\r\nauto_clean=0\r\n"));
  ASSERT_TRUE(Start());
  HWND menu = OpenTrayMenu();
  ASSERT_NE(menu, nullptr);
  ClickMenuItem(menu, kExit);
  EXPECT_EQ(WaitForExitCode(10000), 0u);
}

TEST_F(NoAppDataFolder, RunsAndWritesNothing) {
  const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  wchar_t saved[MAX_PATH] = {};
  DWORD saved_size = sizeof saved;
  bool had = RegGetValueW(HKEY_CURRENT_USER, key, L"AppData", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, saved,
                          &saved_size) == ERROR_SUCCESS;
  std::wstring real_folder = AppFolder();
  // An empty entry makes the lookup fail with an empty answer.
  const wchar_t nowhere[] = L"";
  RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppData", REG_EXPAND_SZ, nowhere, sizeof nowhere);

  bool started = Start();
  if (started) {
    SendMessageW(main_window_, WM_COMMAND, IDM_TOGGLE_AUTO, 0);  // a save
  }
  if (had) RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppData", REG_EXPAND_SZ, saved, saved_size);
  else RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppData");

  ASSERT_TRUE(started);
  // The program shares this process's current folder: no fallback to the
  // root of its drive, nor of C:.
  EXPECT_EQ(GetFileAttributesW(L"\\Quillmere"), INVALID_FILE_ATTRIBUTES) << "no fallback to the drive root";
  EXPECT_EQ(GetFileAttributesW(L"C:\\Quillmere"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(real_folder.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Exit(), 0u);
}

namespace {

// The program's hidden top-level window: what window-closing tools, the
// Restart Manager and the end of the session talk to.
HWND FindShellWindow(DWORD process_id) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"QuillmereShell", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process_id) return window;
  }
  return nullptr;
}

}  // namespace

TEST_F(CloseFromOutside, CloseRequestsAndTheEndOfTheSessionEndItWithZeroAndTakeTheIconAlong) {
  struct Case {
    const char* what;
    bool to_shell_window;
    UINT message;
    WPARAM wParam;
  };
  const Case cases[] = {
      {"close to the hidden top-level window", true, WM_CLOSE, 0},
      {"close to the main window", false, WM_CLOSE, 0},
      {"end of the session", true, WM_ENDSESSION, TRUE},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Start()) << c.what;
    HWND target = c.to_shell_window ? FindShellWindow(process_.dwProcessId) : main_window_;
    ASSERT_NE(target, nullptr) << c.what;
    PostMessageW(target, c.message, c.wParam, 0);
    EXPECT_EQ(WaitForExitCode(10000), 0u) << c.what;
    TrayIconView icon;
    EXPECT_FALSE(FindQuillmereIcon(icon)) << c.what << ": the icon leaves with the program";
    ReleaseProcess();
  }
}
