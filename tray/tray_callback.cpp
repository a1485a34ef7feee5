// The icon's messages read into actions, and the clicks' timing: a click
// waits out the double-click time, so that a double-click only cleans.
#include "tray/tray.h"

#include <windowsx.h>

TrayCallback ReadTrayCallback(WPARAM wParam, LPARAM lParam) {
  TrayCallback callback = {};
  // Only version 4 puts the icon's id in the high word; the classic form
  // leaves it zero.
  if (HIWORD(lParam) == TRAY_ICON_ID) {
    switch (LOWORD(lParam)) {
      case NIN_SELECT:
        callback.action = TRAY_SELECT;
        break;
      case NIN_KEYSELECT:
        callback.action = TRAY_KEY_SELECT;
        break;
      case WM_CONTEXTMENU:
        callback.action = TRAY_MENU;
        callback.at_point = 1;
        callback.point = {GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
        break;
      case WM_LBUTTONDBLCLK:
        callback.action = TRAY_DOUBLE_CLICK;
        break;
      case WM_RBUTTONUP:
        callback.action = TRAY_RIGHT_RELEASE;
        break;
      default:  // the presses and the left release, which the events above follow
        break;
    }
    return callback;
  }
  switch (lParam) {
    case WM_LBUTTONUP:
      callback.action = TRAY_SELECT;
      break;
    case WM_RBUTTONUP:
      callback.action = TRAY_MOUSE_MENU;
      break;
    case WM_LBUTTONDBLCLK:
      callback.action = TRAY_DOUBLE_CLICK;
      break;
    default:  // a shell of version 3 sends its selects beside the releases
      break;
  }
  return callback;
}

namespace {

// A clock behind the earlier tick counts as no time passed.
bool Within(uint64_t now, uint64_t since, uint32_t span) { return now < since || now - since < span; }

}  // namespace

TrayClickStep NextTrayClickStep(TrayClicks& clicks, TrayAction action, uint64_t now, uint32_t double_click_time,
                                bool closed_popup) {
  switch (action) {
    case TRAY_SELECT:
      // The release of a double-click's second press comes as a click too.
      if (clicks.after_double_click && Within(now, clicks.double_click_tick, double_click_time)) {
        clicks.after_double_click = 0;
        return TRAY_STEP_NONE;
      }
      clicks.after_double_click = 0;
      if (closed_popup) {
        clicks.click_waiting = 0;
        return TRAY_STEP_NONE;
      }
      // A click while another waits is the same toggle: it acts once.
      clicks.click_waiting = 1;
      return TRAY_STEP_WAIT;
    case TRAY_WAIT_OVER:
      if (!clicks.click_waiting) return TRAY_STEP_NONE;
      clicks.click_waiting = 0;
      return TRAY_STEP_TOGGLE;
    case TRAY_DOUBLE_CLICK:
      clicks.click_waiting = 0;
      clicks.after_double_click = 1;
      clicks.double_click_tick = now;
      return TRAY_STEP_CLEAN;
    case TRAY_KEY_SELECT:
      // Windows can send one Enter as two selects: opening never closes,
      // so the second only brings the popup forward.
      clicks.click_waiting = 0;
      return TRAY_STEP_OPEN;
    case TRAY_RIGHT_RELEASE:
      clicks.right_released = 1;
      clicks.right_release_tick = now;
      return TRAY_STEP_NONE;
    case TRAY_MENU:
    case TRAY_MOUSE_MENU:
      // A click waiting would open the popup under the menu.
      clicks.click_waiting = 0;
      clicks.menu_by_keyboard = action == TRAY_MENU && !(clicks.right_released &&
                                                         Within(now, clicks.right_release_tick, double_click_time));
      clicks.right_released = 0;
      return TRAY_STEP_MENU;
    default:
      return TRAY_STEP_NONE;
  }
}
