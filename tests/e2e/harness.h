// Drives the real quillmere.exe from outside, as Windows and a user would:
// starts it, finds its windows and its tray icon, clicks and types through
// xdotool on the virtual display, and reads pixels from the screen.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Polls `done` every 50 ms until it holds or `timeout_ms` passes.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

// Runs a command of the Linux host through /bin/sh and waits for it;
// answers its exit code, or -1 when it did not finish in time.
int HostRun(const std::string& command, DWORD timeout_ms = 15000);

// Real input on the virtual display.
void MouseClick(POINT at, int button, int count = 1);
// Keys go to the focused Wine window; Wine delivers hot keys only then.
// The window is found by its X title (a regular expression).
void PressKeysInWineWindow(const std::string& keys, const std::string& window_name = "Wine System Tray");

// Gives the keyboard to the Wine window whose title matches the pattern (a
// regular expression); PressKeys and TypeText then go to it.
void FocusWineWindow(const std::string& title_pattern);
void PressKeys(const std::string& keys);
void TypeText(const std::string& text);

// One icon in Wine's system tray, with the tooltip text it shows.
struct TrayIconView {
  HWND window = nullptr;
  RECT rect = {};
  std::wstring tip;
  POINT Center() const { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }
};
std::vector<TrayIconView> ListTrayIcons();
// The icon whose tooltip starts with "Quillmere".
bool FindQuillmereIcon(TrayIconView& icon);

// The text of the balloon Wine's tray shows now, if any. Wine shows a
// balloon a second or two after it was asked for.
bool VisibleBalloonText(std::wstring& text);

HWND FindMainWindow();
// The program's status popup while it is on screen.
HWND FindStatusPopup();
// Looks for the status popup every 20 ms on a thread of its own, from its
// start to its end, and keeps when it first saw it: a popup shown even for
// a moment while the test waits on something else is seen.
class StatusPopupWatch {
 public:
  StatusPopupWatch();
  ~StatusPopupWatch();
  StatusPopupWatch(const StatusPopupWatch&) = delete;
  StatusPopupWatch& operator=(const StatusPopupWatch&) = delete;
  bool Seen() const { return seen_tick_ != 0; }
  ULONGLONG SeenTick() const { return seen_tick_; }  // 0: not seen

 private:
  static DWORD WINAPI Watch(void* self);
  HANDLE thread_ = nullptr;
  volatile LONG stop_ = 0;
  volatile ULONGLONG seen_tick_ = 0;
};
// Right-clicks the program's tray icon and clicks the menu item whose text
// (before any tab) is `text`; false when the menu or the item is not found.
bool ClickTrayMenuItem(const wchar_t* text);
std::wstring ExePath();

// Wine shows a popup menu as a window of class "#32768"; this finds the
// visible one of a process.
HWND FindMenuWindow(DWORD process_id);
// Whether the screen shows a check mark beside that item of an open menu.
bool MenuItemChecked(HWND menu_window, int position);
// A real left click on that item of an open menu.
void ClickMenuItem(HWND menu_window, int position);

// The settings window once it is up and has become the active one: the
// keyboard focus moved elsewhere before that would be taken back by it.
// nullptr when that does not happen within `timeout_ms`.
HWND WaitForSettingsWindow(DWORD timeout_ms = 5000);
// The middle of a window on the screen, where a click on it lands.
POINT CentreOf(HWND window);
// A number of the "Clean" section of config.ini as the profile functions
// read it (the file is UTF-16), or -12345 when the key is missing.
int ConfigNumber(const wchar_t* key);
// Whether `inner` lies wholly inside `outer`.
bool Inside(const RECT& inner, const RECT& outer);

// Each test starts with no Quillmere running, no program folder, no Run
// value and no logon task, and ends with the program gone.
class QuillmereTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the exe (the one built, or a copy) and waits for its tray icon
  // to show the load.
  bool Start(const std::wstring& exe = ExePath());
  // Starts the exe as a Unix command with these environment variables
  // ("NAME=value ...") and its Unix standard error going to `stderr_file`
  // (a Unix path), which CreateProcess cannot redirect; waits for the tray
  // icon as Start does.
  bool StartThroughHost(const std::string& variables, const std::string& stderr_file);
  // Starts another copy and answers its exit code (-1: still running).
  DWORD StartSecondCopy(DWORD timeout_ms = 10000);
  // Asks the program to exit through its Exit command; answers the code.
  DWORD Exit();
  // A real right-click on the tray icon of the program started here, once
  // the tray menu's seven items are measured; answers the menu window once
  // it is drawn, or nullptr.
  HWND OpenTrayMenu();
  bool Running() const;
  DWORD WaitForExitCode(DWORD timeout_ms);
  // Closes the handles of the process started here and forgets it.
  void ReleaseProcess();

  PROCESS_INFORMATION process_ = {};
  HWND main_window_ = nullptr;
};
