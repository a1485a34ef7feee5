// Where the shell shows the program's icon, for the windows that open
// beside it.
#include "tray/tray.h"

bool GetTrayIconRect(const TrayState& state, RECT& rect) {
  using GetRectFunction = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER* icon, RECT* rect);
  HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
  auto get_rect = reinterpret_cast<GetRectFunction>(
      reinterpret_cast<void*>(shell32 ? GetProcAddress(shell32, "Shell_NotifyIconGetRect") : NULL));
  if (!get_rect || !state.data.hWnd) return false;
  NOTIFYICONIDENTIFIER icon = {};
  icon.cbSize = sizeof icon;
  icon.hWnd = state.data.hWnd;
  icon.uID = state.data.uID;
  return SUCCEEDED(get_rect(&icon, &rect));
}
