// The tray icon's context menu, built anew for every showing.
#include "tray/tray.h"

#include "common/language.h"

HMENU BuildTrayMenu(bool auto_clean_on, bool offer_elevation) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return nullptr;
  // Loaded at each showing, so that the menu follows a change of language.
  wchar_t text[128];
  MENUITEMINFOW clean_now = {};
  clean_now.cbSize = sizeof clean_now;
  clean_now.fMask = MIIM_STATE | MIIM_ID | MIIM_STRING;
  clean_now.fType = MFT_STRING;
  clean_now.fState = MFS_DEFAULT;
  clean_now.wID = IDM_CLEAN_NOW;
  LoadText(IDS_MENU_CLEAN_NOW, text);
  clean_now.dwTypeData = text;
  InsertMenuItemW(menu, 0, TRUE, &clean_now);
  AppendMenuW(menu, MF_STRING, IDM_STATUS, LoadText(IDS_MENU_STATUS, text));
  AppendMenuW(menu, MF_STRING | (auto_clean_on ? MF_CHECKED : MF_UNCHECKED), IDM_TOGGLE_AUTO,
              LoadText(IDS_MENU_AUTO_CLEAN, text));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_SETTINGS, LoadText(IDS_MENU_SETTINGS, text));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  // Last but one, so that every other item keeps its place either way.
  if (offer_elevation) AppendMenuW(menu, MF_STRING, IDM_RUN_AS_ADMIN, LoadText(IDS_MENU_RUN_AS_ADMIN, text));
  AppendMenuW(menu, MF_STRING, IDM_EXIT, LoadText(IDS_MENU_EXIT, text));
  return menu;
}

POINT TrayMenuPoint(bool at_point, POINT point, POINT cursor) { return at_point ? point : cursor; }

bool TrayFocusReturns(bool command_chosen, bool owner_foreground, bool mouse_button_down) {
  return !command_chosen && owner_foreground && !mouse_button_down;
}

bool TrayCommandReturnsFocus(bool menu_by_keyboard, WORD command, bool opened_window) {
  if (!menu_by_keyboard || opened_window) return false;
  return command == IDM_CLEAN_NOW || command == IDM_TOGGLE_AUTO;
}

UINT ShowTrayMenu(HWND owner, bool auto_clean_on, bool offer_elevation, bool at_point, POINT point) {
  HMENU menu = BuildTrayMenu(auto_clean_on, offer_elevation);
  if (!menu) return 0;
  SetForegroundWindow(owner);
  POINT cursor = {0, 0};
  if (!at_point) GetCursorPos(&cursor);
  const POINT at = TrayMenuPoint(at_point, point, cursor);
  UINT command = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, owner,
                     nullptr));
  if (command) PostMessageW(owner, WM_COMMAND, command, 0);
  // Without a task switch the next showing would close at once.
  PostMessageW(owner, WM_NULL, 0, 0);
  DestroyMenu(menu);
  return command;
}
