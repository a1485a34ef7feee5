// The hidden message-only main window: the switchboard that turns the timer,
// the hot key, tray mouse actions and menu commands into calls.
#include "app/app.h"

#include "clean/clean.h"
#include "tray/tray.h"

namespace {

const wchar_t kMainClass[] = L"Quillmere";
const wchar_t kTaskbarWatchClass[] = L"QuillmereTaskbarWatch";

void RunCommand(HWND window, WORD command) {
  switch (command) {
    case IDM_CLEAN_NOW:
      RunClean(window);
      break;
    case IDM_TOGGLE_AUTO:
      app.settings.auto_clean ^= 1;
      SaveSettings(app.settings);
      break;
    case IDM_SETTINGS:
      ShowSettingsWindow(window, app.settings);
      break;
    case IDM_EXIT:
      DestroyWindow(window);
      break;
    default:
      break;
  }
}

// The shell broadcasts "TaskbarCreated" to top-level windows only, and a
// message-only window is not one: this hidden window hears it and hands it on.
LRESULT CALLBACK TaskbarWatchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != 0 && message == app.taskbar_created_message) {
    SendMessageW(app.main_window, message, 0, 0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != 0 && message == app.taskbar_created_message) {
    AddTrayIcon(window);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      SetTimer(window, TIMER_MAIN, 1000, NULL);
      RegisterHotKey(window, HOTKEY_CLEAN, MOD_CONTROL | MOD_ALT, 'R');
      return 0;
    case WM_DESTROY:
      KillTimer(window, TIMER_MAIN);
      UnregisterHotKey(window, HOTKEY_CLEAN);
      RemoveTrayIcon();
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      RunCommand(window, LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == TIMER_MAIN) {
        RefreshTray();
        if (app.settings.auto_clean) EvaluateAutoClean();
      }
      return 0;
    case WM_HOTKEY:
      if (wParam == HOTKEY_CLEAN) {
        RunClean(window);
        if (app.settings.silent_mode) ShowBalloon(L"Quillmere", L"Clean triggered (Ctrl+Alt+R)");
      }
      return 0;
    case WM_TRAYICON:
      switch (LOWORD(lParam)) {
        case WM_LBUTTONDBLCLK:
          RunClean(window);
          break;
        case WM_RBUTTONUP:
          ShowTrayMenu(window, app.settings.auto_clean);
          break;
        default:
          break;
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
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

HWND CreateTaskbarWatchWindow(HINSTANCE instance) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = TaskbarWatchWndProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kTaskbarWatchClass;
  RegisterClassExW(&window_class);
  // Never shown; a tool window so it never appears in Alt+Tab.
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kTaskbarWatchClass, L"", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                instance, NULL);
  // An elevated process hears a non-elevated shell only through the filter.
  if (window && app.taskbar_created_message != 0)
    ChangeWindowMessageFilterEx(window, app.taskbar_created_message, MSGFLT_ALLOW, NULL);
  return window;
}
