// The one notification-area icon: add, remove, balloons.
#include "tray/tray.h"

#include "common/dpi.h"
#include "common/system.h"
#include "common/text.h"

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the complete 64-bit NOTIFYICONDATAW");
static_assert(ARRAYSIZE(NOTIFYICONDATAW{}.szInfo) == TRAY_BALLOON_TEXT_CAPACITY, "a balloon's text field");

const TrayPlatform kSystemTrayPlatform = {Shell_NotifyIconW, GetTickCount64, TakeMemorySnapshot, TaskbarDpi,
                                          IsHighContrastOn};

namespace {

// Version 4 brings the keyboard's select and menu, and the icon's point
// with each. A shell that refuses it goes on with the classic messages,
// which ReadTrayCallback reads too. The record's uVersion shares its place
// with the balloons' uTimeout, which no other request of this record uses.
void AskForVersion4(TrayState& state) {
  state.data.uVersion = NOTIFYICON_VERSION_4;
  state.platform->notify_icon(NIM_SETVERSION, &state.data);
}

}  // namespace

bool AddTrayIcon(TrayState& state, HWND window) {
  NOTIFYICONDATAW& tray = state.data;
  ZeroMemory(&tray, sizeof tray);
  // The add shows the resource icon and a bare name: the next refresh must
  // send its picture and tooltip again.
  state.shown = {};
  tray.cbSize = sizeof tray;
  tray.hWnd = window;
  tray.uID = TRAY_ICON_ID;
  // Version 4 shows no standard tooltip unless asked.
  tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  tray.uCallbackMessage = WM_TRAYICON;
  tray.hIcon = LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(1));
  if (!tray.hIcon) tray.hIcon = LoadIconW(NULL, IDI_APPLICATION);
  CopyBounded(tray.szTip, ARRAYSIZE(tray.szTip), L"Quillmere");
  // A new taskbar may sit on another monitor, at another scale.
  ReadTrayLook(state);
  state.icon_in = state.platform->notify_icon(NIM_ADD, &tray) != FALSE;
  if (state.icon_in) AskForVersion4(state);
  return state.icon_in;
}

void ReturnTrayFocus(TrayState& state) {
  if (state.icon_in) state.platform->notify_icon(NIM_SETFOCUS, &state.data);
}

TrayAddStep NextTrayAddStep(bool added, bool at_start, uint64_t now_tick, uint64_t first_failure_tick) {
  if (added) return TRAY_ADD_DONE;
  if (!at_start) return TRAY_ADD_WAIT;
  // A clock behind the first failure counts as no time passed.
  uint64_t waited = now_tick > first_failure_tick ? now_tick - first_failure_tick : 0;
  return waited >= TRAY_ADD_START_RETRY_MS ? TRAY_ADD_GIVE_UP : TRAY_ADD_WAIT;
}

void ShowWaitingNotices(TrayState& state) {
  if (!state.icon_in) return;
  for (TrayNotice& notice : state.notices) {
    if (!notice.waiting[0] || !ShowBalloon(state, L"Quillmere", notice.waiting)) continue;
    notice.waiting[0] = 0;
    notice.shown = 1;
    notice.shown_tick = state.platform->tick_count();
  }
}

bool AddTrayIconOrKeepTrying(TrayState& state, HWND window, bool at_start) {
  if (AddTrayIcon(state, window)) return true;
  state.add_pending = 1;
  state.add_at_start = at_start;
  state.add_failed_tick = state.platform->tick_count();
  return false;
}

TrayAddStep RetryTrayIcon(TrayState& state, HWND window) {
  // A busy shell can time out on an add and still place the icon; adding
  // it again is then refused, but modifying it works.
  bool added = AddTrayIcon(state, window);
  if (!added && state.platform->notify_icon(NIM_MODIFY, &state.data)) {
    added = true;
    AskForVersion4(state);
  }
  state.icon_in = added;
  TrayAddStep step = NextTrayAddStep(added, state.add_at_start, state.platform->tick_count(), state.add_failed_tick);
  if (step != TRAY_ADD_WAIT) state.add_pending = 0;
  ShowWaitingNotices(state);
  return step;
}

void RemoveTrayIcon(TrayState& state) {
  state.platform->notify_icon(NIM_DELETE, &state.data);
  state.icon_in = 0;
  if (state.drawn_icon) {
    DestroyIcon(state.drawn_icon);
    state.drawn_icon = NULL;
  }
}

bool ShowBalloon(TrayState& state, const wchar_t* title, const wchar_t* text, bool respect_quiet_time) {
  // A record of its own, so a balloon never changes the icon or tooltip;
  // without NIF_SHOWTIP a version 4 shell would hide the tooltip after it.
  NOTIFYICONDATAW balloon = {};
  balloon.cbSize = sizeof balloon;
  balloon.hWnd = state.data.hWnd;
  balloon.uID = TRAY_ICON_ID;
  balloon.uFlags = NIF_INFO | NIF_SHOWTIP;
  balloon.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND | (respect_quiet_time ? NIIF_RESPECT_QUIET_TIME : 0);
  CopyBounded(balloon.szInfoTitle, ARRAYSIZE(balloon.szInfoTitle), title);
  CopyBounded(balloon.szInfo, ARRAYSIZE(balloon.szInfo), text);
  return state.platform->notify_icon(NIM_MODIFY, &balloon) != FALSE;
}

bool TrayNoticeDue(bool shown, uint64_t shown_tick, uint64_t now_tick) {
  return !shown || (now_tick > shown_tick && now_tick - shown_tick >= TRAY_NOTICE_INTERVAL_MS);
}

void ShowTrayNotice(TrayState& state, TrayNoticeKind kind, const wchar_t* text) {
  if (kind < 0 || kind >= TRAY_NOTICE_COUNT || !text) return;
  TrayNotice& notice = state.notices[kind];
  if (!TrayNoticeDue(notice.shown, notice.shown_tick, state.platform->tick_count())) return;
  CopyBounded(notice.waiting, ARRAYSIZE(notice.waiting), text);
  ShowWaitingNotices(state);
}
