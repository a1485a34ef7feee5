// Where the shell shows the program's icon, for the windows that open
// beside it.
#include "tray/tray.h"

#include "app/app.h"

bool GetTrayIconRect(RECT& rect) {
  using GetRectFunction = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER* icon, RECT* rect);
  HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
  auto get_rect = reinterpret_cast<GetRectFunction>(
      reinterpret_cast<void*>(shell32 ? GetProcAddress(shell32, "Shell_NotifyIconGetRect") : NULL));
  if (!get_rect || !app.tray.data.hWnd) return false;
  NOTIFYICONIDENTIFIER icon = {};
  icon.cbSize = sizeof icon;
  icon.hWnd = app.tray.data.hWnd;
  icon.uID = app.tray.data.uID;
  return SUCCEEDED(get_rect(&icon, &rect));
}
