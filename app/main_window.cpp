// The hidden message-only main window: the switchboard that turns the timer,
// the hot key, the tray icon's clicks and keys, menu commands and changes of
// scale or theme into calls.
#include "app/app.h"

#include "app/auto_clean.h"
#include "clean/clean.h"
#include "common/language.h"
#include "settings/settings.h"
#include "status/status.h"
#include "tray/tray.h"

namespace {

const wchar_t kMainClass[] = L"Quillmere";
const wchar_t kShellClass[] = L"QuillmereShell";

void ToggleStatusWindow(HWND window) {
  if (IsStatusWindowOpen(app.status)) CloseStatusWindow(app.status);
  else ShowStatusPopup(PopupOwner(window));
}

// Enter or Space on the icon: the popup opens or comes forward, and Esc
// on it gives the keys back to the notification area.
void OpenStatusFromKeyboard(HWND window) {
  ShowStatusPopup(PopupOwner(window));
  if (IsStatusWindowOpen(app.status)) app.status.opened_by_keyboard = 1;
}

// Esc closed the popup: one the keyboard opened hands the keys back.
void StatusClosedByEscape(bool opened_by_keyboard) {
  if (opened_by_keyboard) ReturnTrayFocus(app.tray);
}

// Every way the program ends goes through the main window's destruction,
// whose WM_DESTROY takes the timer, hot key, popup, icon and shell window
// down and posts the quit message.
void EndProgram() {
  if (app.main_window) DestroyWindow(app.main_window);
}

// A tray add at start that waited too long: the session has no
// notification area, and a copy nobody can see must not run on.
void GiveUpOnTray(HWND window) {
  app.quit_code = 1;
  DestroyWindow(window);
}

// A menu closes on a click elsewhere only while its owner is the foreground
// window, which a message-only window can never be: the hidden shell window
// owns it and hands the picked command on. Dismissed from the keyboard, it
// gives the focus back to the notification area, where it came from.
void ShowMenu(HWND window, const TrayCallback& callback) {
  HWND owner = PopupOwner(window);
  UINT command = ShowTrayMenu(owner, app.settings.auto_clean, !app.is_elevated, callback.at_point, callback.point);
  bool button_down = ((GetAsyncKeyState(VK_LBUTTON) | GetAsyncKeyState(VK_RBUTTON) | GetAsyncKeyState(VK_MBUTTON)) &
                      0x8000) != 0;
  if (TrayFocusReturns(command != 0, GetForegroundWindow() == owner, button_down)) ReturnTrayFocus(app.tray);
}

// A message of the tray icon, or the end of a click's wait. A click is
// judged at its own moment: its press may just have closed the popup,
// which the end of the wait, a double-click time later, could no longer
// tell.
void OnTrayAction(HWND window, const TrayCallback& callback) {
  if (callback.action == TRAY_NO_ACTION) return;  // the pointer's moves, the buttons' presses
  bool closed_popup = callback.action == TRAY_SELECT && IsStatusToggleIgnoredNow(app.status);
  const UINT double_click_time = GetDoubleClickTime();
  bool was_waiting = app.tray.clicks.click_waiting;
  const uint64_t now = app.tray.platform->tick_count();
  TrayClickStep step = NextTrayClickStep(app.tray.clicks, callback.action, now, double_click_time, closed_popup);
  if (was_waiting && !app.tray.clicks.click_waiting) KillTimer(window, TIMER_TRAY_CLICK);
  switch (step) {
    case TRAY_STEP_WAIT:
      SetTimer(window, TIMER_TRAY_CLICK, double_click_time, NULL);
      break;
    case TRAY_STEP_TOGGLE:
      ToggleStatusWindow(window);
      break;
    case TRAY_STEP_OPEN:
      OpenStatusFromKeyboard(window);
      break;
    case TRAY_STEP_MENU:
      ShowMenu(window, callback);
      break;
    case TRAY_STEP_CLEAN:
      // A double-click too soon after a clean is dropped: it may be any
      // program's, posted as often as it likes.
      if (TrayCleanAllowed(now, app.last_clean_end_tick, app.clean_ended)) RunClean(window);
      break;
    default:
      break;
  }
}

void RunMenuCommand(HWND window, WORD command) {
  switch (command) {
    case IDM_CLEAN_NOW:
      RunClean(window);
      break;
    case IDM_TOGGLE_AUTO:
      app.settings.auto_clean ^= 1;
      NoteSettingsSaved(SaveSettings(app.settings, *app.file_platform, app.user_token));
      // An open settings window shows it, so that its OK keeps it.
      SetSettingsWindowCheck(app.settings_window, &Settings::auto_clean, app.settings.auto_clean);
      break;
    case IDM_SETTINGS:
      // One window: a second would store over the first one's OK.
      if (IsSettingsWindowOpen(app.settings_window)) BringSettingsWindowToFront(app.settings_window);
      else ShowSettingsWindow(app.settings_window, PopupOwner(window), app.settings, ApplyStoredSettings);
      break;
    case IDM_EXIT:
      DestroyWindow(window);
      break;
    case IDM_STATUS:
      ToggleStatusWindow(window);
      break;
    case IDM_RUN_AS_ADMIN:
      // Once the elevated copy is on its way, it takes over; so does a copy
      // that took the guard while the prompt was up.
      if (!app.is_elevated && StartElevatedCopy() != ELEVATED_COPY_REFUSED) DestroyWindow(window);
      break;
    default:
      break;
  }
}

// A command of the tray menu. One from a menu the keyboard opened gives the
// keys back to the notification area unless it opened a window to take
// them; a popup it opened is the keyboard's, whose Esc gives them back.
void RunCommand(HWND window, WORD command) {
  const bool by_keyboard = app.tray.clicks.menu_by_keyboard;
  app.tray.clicks.menu_by_keyboard = 0;
  const bool popup_was_open = IsStatusWindowOpen(app.status);
  RunMenuCommand(window, command);
  const bool opened_popup = !popup_was_open && IsStatusWindowOpen(app.status);
  if (opened_popup) app.status.opened_by_keyboard = by_keyboard;
  if (TrayCommandReturnsFocus(by_keyboard, command, opened_popup)) ReturnTrayFocus(app.tray);
}

// The shell broadcasts "TaskbarCreated" to top-level windows only, and a
// menu closes on a click elsewhere only when its owner is the foreground
// window; a message-only window can be neither, so this hidden window hears
// the broadcast, owns the menu, and hands both on to the main window.
// Being top-level, it is also what window-closing tools, the Restart Manager
// and the end of the session talk to: each of them ends the whole program,
// never this window alone, which would leave no menu and no way back to the
// tray.
LRESULT CALLBACK ShellWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message != 0 && message == app.taskbar_created_message) || message == WM_COMMAND) {
    SendMessageW(app.main_window, message, wParam, lParam);
    return 0;
  }
  switch (message) {
    // Only top-level windows hear these: the tray icon may need another
    // size or other colours.
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
      SendMessageW(app.main_window, message, wParam, lParam);
      return 0;
    case WM_CLOSE:
      EndProgram();
      return 0;
    case WM_ENDSESSION:
      if (wParam) EndProgram();
      return 0;
    case WM_DESTROY:
      if (window == app.shell_window) {
        app.shell_window = NULL;
        EndProgram();
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != 0 && message == app.taskbar_created_message) {
    if (AddTrayIconAgain(window) == TRAY_ADD_GIVE_UP) GiveUpOnTray(window);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      SetTimer(window, TIMER_MAIN, 1000, NULL);
      // Without MOD_NOREPEAT a held key would clean again with every repeat.
      app.platform->register_hot_key(window, HOTKEY_CLEAN, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'R');
      // The icon's callback comes from the shell, which runs unelevated, and
      // lies above WM_USER, where the elevation filter stops what a lower
      // process sends unless it is let through; Shell_NotifyIcon is not
      // documented to do that. What any program can then post is judged
      // where it arrives (TrayCleanAllowed).
      app.platform->change_message_filter(window, WM_TRAYICON, MSGFLT_ALLOW, NULL);
      return 0;
    case WM_DESTROY:
      KillTimer(window, TIMER_MAIN);
      KillTimer(window, TIMER_TRAY_CLICK);
      UnregisterHotKey(window, HOTKEY_CLEAN);
      CloseStatusWindow(app.status);
      RemoveTrayIcon(app.tray);
      if (window == app.main_window) {
        app.main_window = NULL;
        HWND shell = app.shell_window;
        app.shell_window = NULL;
        if (shell) DestroyWindow(shell);
      }
      PostQuitMessage(app.quit_code);
      return 0;
    case WM_COMMAND:
      RunCommand(window, LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == TIMER_MAIN) {
        // Until the shell takes the icon, each tick tries again; giving up
        // destroys this window, and nothing else is due.
        if (app.tray.add_pending && RetryTrayIcon(app.tray, window) == TRAY_ADD_GIVE_UP) {
          GiveUpOnTray(window);
          return 0;
        }
        RefreshTray();
        // The shell that took the icon tells whose desktop this is.
        if (app.start_at_logon_waits && app.tray.icon_in) {
          app.start_at_logon_waits = 0;
          ApplyStartAtLogon();
        }
        if (app.settings.auto_clean) EvaluateAutoClean();
      } else if (wParam == TIMER_TRAY_CLICK) {
        OnTrayAction(window, TrayCallback{TRAY_WAIT_OVER, 0, {}});
      }
      return 0;
    case WM_HOTKEY:
      if (wParam == HOTKEY_CLEAN) {
        RunClean(window);
        wchar_t text[TRAY_BALLOON_TEXT_CAPACITY];
        if (app.settings.silent_mode) ShowBalloon(app.tray, L"Quillmere", LoadText(IDS_BALLOON_HOT_KEY, text));
      }
      return 0;
    case WM_TRAYICON:
      OnTrayAction(window, ReadTrayCallback(wParam, lParam));
      return 0;
    // Handed on by the shell window.
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
      // The user's regional format ("intl") may have a new decimal separator.
      if (message == WM_SETTINGCHANGE) ApplyLanguage(app.settings);
      TrayLookMayHaveChanged();
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

HWND PopupOwner(HWND window) { return app.shell_window ? app.shell_window : window; }

void ShowStatusPopup(HWND owner, bool activate) {
  RECT icon = {};
  // Only a popup about to open asks the shell where the icon is.
  if (!IsStatusWindowOpen(app.status) && !GetTrayIconRect(app.tray, icon)) icon = {};
  app.status.closed_by_escape = StatusClosedByEscape;
  ShowStatusWindow(app.status, owner, icon, activate);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = MainWndProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.lpszClassName = kMainClass;
  return RegisterClassExW(&window_class) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
  return CreateWindowExW(0, kMainClass, L"Quillmere", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance, NULL);
}

HWND CreateShellWindow(HINSTANCE instance) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = ShellWndProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kShellClass;
  RegisterClassExW(&window_class);
  // Never shown; a tool window so it never appears in Alt+Tab.
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kShellClass, L"", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                instance, NULL);
  // An elevated process hears a non-elevated shell only through the filter.
  if (window && app.taskbar_created_message != 0)
    app.platform->change_message_filter(window, app.taskbar_created_message, MSGFLT_ALLOW, NULL);
  return window;
}
