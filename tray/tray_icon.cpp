// The one notification-area icon: add, remove, balloons.
#include "tray/tray.h"

#include "app/app.h"

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the complete 64-bit NOTIFYICONDATAW");

bool AddTrayIcon(HWND window) {
  NOTIFYICONDATAW& tray = app.tray_data;
  ZeroMemory(&tray, sizeof tray);
  tray.cbSize = sizeof tray;
  tray.hWnd = window;
  tray.uID = TRAY_ICON_ID;
  tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray.uCallbackMessage = WM_TRAYICON;
  tray.hIcon = LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(1));
  if (!tray.hIcon) tray.hIcon = LoadIconW(NULL, IDI_APPLICATION);
  CopyBounded(tray.szTip, ARRAYSIZE(tray.szTip), L"Quillmere");
  return Shell_NotifyIconW(NIM_ADD, &tray) != FALSE;
}

void RemoveTrayIcon() {
  Shell_NotifyIconW(NIM_DELETE, &app.tray_data);
  if (app.drawn_icon) {
    DestroyIcon(app.drawn_icon);
    app.drawn_icon = NULL;
  }
}

void ShowBalloon(const wchar_t* title, const wchar_t* text) {
  // A record of its own, so a balloon never changes the icon or tooltip.
  NOTIFYICONDATAW balloon = {};
  balloon.cbSize = sizeof balloon;
  balloon.hWnd = app.main_window;
  balloon.uID = TRAY_ICON_ID;
  balloon.uFlags = NIF_INFO;
  balloon.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
  CopyBounded(balloon.szInfoTitle, ARRAYSIZE(balloon.szInfoTitle), title);
  CopyBounded(balloon.szInfo, ARRAYSIZE(balloon.szInfo), text);
  Shell_NotifyIconW(NIM_MODIFY, &balloon);
}
