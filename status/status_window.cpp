// The status popup's window: creation and placement, its messages, its end.
#include "status/status.h"

#include <wchar.h>

#include "common/dpi.h"
#include "common/language.h"
#include "common/system.h"
#include "common/text.h"
#include "status/status_internal.h"

namespace {

const wchar_t kStatusClass[] = L"QuillmereStatus";

const DWORD kUseImmersiveDarkMode = 20;
const DWORD kUseImmersiveDarkModeBefore20H1 = 19;
const DWORD kWindowCornerPreference = 33;
const DWORD kCornerRound = 2;

// dwmapi is no KnownDLL, so it is loaded from System32 at the first popup
// and kept for the run: one reference, however many popups follow.
SetWindowAttributeFunction FindSetWindowAttribute(StatusState& status) {
  if (!status.dwm_set_window_attribute_entry) {
    HMODULE dwm = LoadSystemLibrary(L"dwmapi.dll");
    FARPROC entry = dwm ? GetProcAddress(dwm, "DwmSetWindowAttribute") : NULL;
    if (entry) status.dwm_set_window_attribute_entry = entry;
    else if (dwm) FreeLibrary(dwm);
  }
  return reinterpret_cast<SetWindowAttributeFunction>(reinterpret_cast<void*>(status.dwm_set_window_attribute_entry));
}

// Rounded corners on Windows 11; older systems refuse and keep their frame.
void RoundCorners(StatusState& status, HWND window) {
  SetWindowAttributeFunction set_attribute = FindSetWindowAttribute(status);
  if (!set_attribute) return;
  DWORD corner = kCornerRound;
  set_attribute(window, kWindowCornerPreference, &corner, sizeof corner);
}

// The colours and the title bar for the theme and app mode of the moment:
// dark in dark mode on Windows 10 and 11 (older systems refuse it), light
// in light mode, the system's under high contrast.
void ApplyStatusTheme(StatusState& status, HWND window) {
  ChooseStatusColours(status);
  SetWindowAttributeFunction set_attribute = FindSetWindowAttribute(status);
  if (set_attribute) SetStatusTitleBarDark(window, status.palette.dark_title_bar, set_attribute);
}

// The screen readers' name and description, from the figures of this
// moment; nothing announced.
void NameStatusPopup(StatusState& status, HWND window) {
  StatusFigures figures;
  GatherStatusFigures(status, figures);
  status.description[0] = 0;
  DescribeStatusPopup(status, window, figures);
}

// Where the taskbar is, or an empty rectangle when the shell cannot say.
StatusTaskbar FindTaskbar(const StatusState& status) {
  APPBARDATA data = {};
  data.cbSize = sizeof data;
  StatusTaskbar taskbar = {};
  if (status.platform->app_bar_message(ABM_GETTASKBARPOS, &data)) taskbar = {data.rc, data.uEdge};
  return taskbar;
}

// The work area and bounds of the monitor that holds `rect`, or of the
// primary one when `rect` is empty.
void MonitorOf(const RECT& rect, RECT& work, RECT& bounds) {
  HMONITOR monitor = IsRectEmpty(&rect) ? MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY)
                                        : MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (monitor && GetMonitorInfoW(monitor, &info)) {
    work = info.rcWork;
    bounds = info.rcMonitor;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    bounds = work;
  }
}

// The popup's outer size for its client layout at its DPI.
SIZE StatusOuterSize(const StatusLayout& layout, HWND window, UINT dpi) {
  RECT frame = {0, 0, layout.client.cx, layout.client.cy};
  AdjustWindowRectForDpi(frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)),
                         static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// Beside the icon, inside its monitor's work area: CalculatePopupWindowPosition
// (Windows 7 on) flips the popup away from the icon where it must; without
// it the popup is aligned to the anchor as asked.
RECT PlaceStatusPopup(const StatusAnchor& anchor, SIZE size, const RECT& work, int gap) {
  using CalculateFunction = BOOL(WINAPI*)(const POINT* anchor, const SIZE* size, UINT flags, RECT* exclude,
                                          RECT* placed);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto calculate = reinterpret_cast<CalculateFunction>(
      reinterpret_cast<void*>(user32 ? GetProcAddress(user32, "CalculatePopupWindowPosition") : NULL));
  RECT exclude = anchor.exclude;
  RECT placed = {};
  if (!calculate || !calculate(&anchor.point, &size, anchor.flags | TPM_WORKAREA, &exclude, &placed))
    placed = AlignStatusPopup(anchor, size);
  return FitInWorkArea(placed, work, gap);
}

// Closes the popup once it has sat a while without the foreground, unless
// the pointer is on it; asked again later then.
void AutoCloseTick(HWND window) {
  POINT cursor = {};
  RECT frame = {};
  bool pointer_over = GetCursorPos(&cursor) && GetWindowRect(window, &frame) && PtInRect(&frame, cursor);
  bool active = GetForegroundWindow() == window;
  if (active) KillTimer(window, TIMER_STATUS_AUTOCLOSE);
  if (ShouldAutoCloseStatus(active, pointer_over)) DestroyWindow(window);
}

// Another language chosen while the popup is open: its texts measured, the
// popup resized where it stands before they are drawn.
void FitStatusToLanguage(StatusState& status, HWND window) {
  const UINT dpi = WindowDpi(window);
  CreateStatusFonts(status, dpi, status.layout.lists_row, status.layout.commit_row, status.layout.holder_lines);
  RECT frame = {}, work = {}, bounds = {};
  if (!GetWindowRect(window, &frame)) return;
  MonitorOf(frame, work, bounds);
  const RECT place = ResizeStatusPopup(frame, StatusOuterSize(status.layout, window, dpi), work, ScaleForDpi(12, dpi));
  SetWindowPos(window, NULL, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void Paint(StatusState& status, HWND window) {
  if (status.layout_language != LanguageInUse()) FitStatusToLanguage(status, window);
  PAINTSTRUCT paint = {};
  HDC dc = BeginPaint(window, &paint);
  RECT client = {};
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  StatusFigures figures;
  GatherStatusFigures(status, figures);
  DescribeStatusPopup(status, window, figures);

  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
  if (memory && bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    DrawStatus(memory, width, height, status, figures);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  } else {
    // No room for the off-screen copy: draw straight on, flicker and all.
    DrawStatus(dc, width, height, status, figures);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  EndPaint(window, &paint);
}

// The popup's record comes with its creation and stays for its life.
LRESULT CALLBACK StatusWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    void* created = reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* record = reinterpret_cast<StatusState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!record) return DefWindowProcW(window, message, wParam, lParam);
  StatusState& status = *record;
  switch (message) {
    case WM_CREATE: {
      ApplyStatusTheme(status, window);
      RoundCorners(status, window);
      // The lists' row only where the lists can be read; the size stays
      // for this showing even if that changes while it is open.
      // Likewise the commit row. The holders are read now, and only now:
      // a pass over every process is too much for each second.
      MemoryLists lists = {};
      CommitCharge commit = {};
      bool lists_row = status.platform->read_memory_lists(lists);
      bool commit_row = status.platform->read_commit(commit);
      if (!status.platform->read_memory_holders(status.holders)) status.holders = {};
      CreateStatusFonts(status, WindowDpi(window), lists_row, commit_row, StatusHolderLines(status.holders));
      SetTimer(window, TIMER_STATUS, 1000, NULL);
      return 0;
    }
    case WM_DPICHANGED: {
      // On a monitor of another scale: new fonts and layout, Windows' place.
      UINT dpi = HIWORD(wParam);
      CreateStatusFonts(status, dpi, status.layout.lists_row, status.layout.commit_row, status.layout.holder_lines);
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SIZE size = StatusOuterSize(status.layout, window, dpi);
      SetWindowPos(window, NULL, suggested->left, suggested->top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(window, NULL, FALSE);
      return 0;
    }
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
      // High contrast switched on or off, another theme, or the app mode
      // ("ImmersiveColorSet") while open: repainted in the new colours, the
      // title bar asked for again.
      ApplyStatusTheme(status, window);
      InvalidateRect(window, NULL, FALSE);
      return 0;
    case WM_DESTROY:
      status.platform->clear_accessible_name(status.annotation, window);
      KillTimer(window, TIMER_STATUS);
      KillTimer(window, TIMER_STATUS_AUTOCLOSE);
      DeleteStatusFonts(status);
      status.window = NULL;
      status.opened_by_keyboard = false;
      return 0;
    case WM_ACTIVATE:
      // A popup being destroyed is hidden first and then loses activation;
      // only a visible one lost it to the user's click elsewhere. Stamped
      // once it is gone, so the button release that follows is judged from
      // the close however long the close took.
      if (LOWORD(wParam) == WA_INACTIVE && IsWindowVisible(window)) {
        DestroyWindow(window);
        status.closed_by_deactivation_tick = GetTickCount64();
      } else if (LOWORD(wParam) != WA_INACTIVE) {
        KillTimer(window, TIMER_STATUS_AUTOCLOSE);
        // The default procedure, kept out of this message, is what gives an
        // activated window the keyboard focus; without it Windows sends Esc
        // as WM_SYSKEYDOWN and the popup never sees it.
        SetFocus(window);
      }
      return 0;
    case WM_PAINT:
      Paint(status, window);
      return 0;
    case WM_KEYDOWN: {
      if (wParam != VK_ESCAPE) break;
      bool by_keyboard = status.opened_by_keyboard;
      DestroyWindow(window);
      if (status.closed_by_escape) status.closed_by_escape(by_keyboard);
      return 0;
    }
    case WM_TIMER:
      if (wParam == TIMER_STATUS_AUTOCLOSE) AutoCloseTick(window);
      else InvalidateRect(window, NULL, FALSE);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Registered at each showing: a class already there is refused and stays.
void RegisterStatusClass() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = StatusWndProc;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.hCursor = LoadCursorW(NULL, IDC_ARROW);
  window_class.lpszClassName = kStatusClass;
  RegisterClassExW(&window_class);
}

}  // namespace

namespace {

enum IconEdge { EDGE_NONE, EDGE_BOTTOM, EDGE_TOP, EDGE_LEFT, EDGE_RIGHT };

// The taskbar edge the icon is on, or none.
IconEdge EdgeOfIcon(const RECT& icon, const RECT& work, const RECT& monitor) {
  const POINT centre = {(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
  if (IsRectEmpty(&icon) || !PtInRect(&monitor, centre)) return EDGE_NONE;
  if (icon.top >= work.bottom) return EDGE_BOTTOM;
  if (icon.bottom <= work.top) return EDGE_TOP;
  if (icon.right <= work.left) return EDGE_LEFT;
  if (icon.left >= work.right) return EDGE_RIGHT;
  // Inside the work area: the overflow flyout, unless the taskbar hides
  // itself and covers the work area when shown; then the nearest edge of
  // the monitor is the taskbar's.
  if (!EqualRect(&work, &monitor)) return EDGE_NONE;
  LONG to_bottom = monitor.bottom - centre.y, to_top = centre.y - monitor.top;
  LONG to_left = centre.x - monitor.left, to_right = monitor.right - centre.x;
  LONG nearest = to_bottom;
  IconEdge edge = EDGE_BOTTOM;
  if (to_top < nearest) nearest = to_top, edge = EDGE_TOP;
  if (to_left < nearest) nearest = to_left, edge = EDGE_LEFT;
  if (to_right < nearest) edge = EDGE_RIGHT;
  return edge;
}

LONG Lesser(LONG a, LONG b) { return a < b ? a : b; }
LONG Greater(LONG a, LONG b) { return a > b ? a : b; }

}  // namespace

bool IsStatusIconOnTaskbar(const RECT& icon, const RECT& work, const RECT& monitor) {
  return EdgeOfIcon(icon, work, monitor) != EDGE_NONE;
}

StatusAnchor StatusPopupAnchor(const RECT& icon, const StatusTaskbar& taskbar, const RECT& work,
                               const RECT& monitor, int gap) {
  StatusAnchor anchor = {};
  anchor.exclude = icon;
  const POINT centre = {(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
  switch (EdgeOfIcon(icon, work, monitor)) {
    case EDGE_BOTTOM:
      anchor.point = {centre.x, Lesser(icon.top, work.bottom) - gap};
      anchor.flags = TPM_CENTERALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL;
      return anchor;
    case EDGE_TOP:
      anchor.point = {centre.x, Greater(icon.bottom, work.top) + gap};
      anchor.flags = TPM_CENTERALIGN | TPM_TOPALIGN | TPM_VERTICAL;
      return anchor;
    case EDGE_LEFT:
      anchor.point = {Greater(icon.right, work.left) + gap, centre.y};
      // NOLINTNEXTLINE(misc-redundant-expression): both 0, named as in the other cases
      anchor.flags = TPM_LEFTALIGN | TPM_VCENTERALIGN | TPM_HORIZONTAL;
      return anchor;
    case EDGE_RIGHT:
      anchor.point = {Lesser(icon.left, work.right) - gap, centre.y};
      anchor.flags = TPM_RIGHTALIGN | TPM_VCENTERALIGN | TPM_HORIZONTAL;
      return anchor;
    case EDGE_NONE:
      break;
  }
  // The shell cannot say, or the icon sits in the overflow flyout: the end
  // of the taskbar where the notification area is. The bar's thickness
  // from the monitor's edge, because an auto-hidden one is reported where
  // it hides and covers the work area when it shows.
  anchor.exclude = {};
  RECT touching = {};
  const bool on_monitor = !IsRectEmpty(&taskbar.rect) && IntersectRect(&touching, &taskbar.rect, &monitor);
  const LONG wide = taskbar.rect.right - taskbar.rect.left, high = taskbar.rect.bottom - taskbar.rect.top;
  switch (on_monitor ? taskbar.edge : ~0u) {
    case ABE_TOP:
      anchor.point = {work.right - gap, Greater(work.top, monitor.top + high) + gap};
      anchor.flags = TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL;
      break;
    case ABE_LEFT:
      anchor.point = {Greater(work.left, monitor.left + wide) + gap, work.bottom - gap};
      // NOLINTNEXTLINE(misc-redundant-expression): both 0, named as in the other cases
      anchor.flags = TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_HORIZONTAL;
      break;
    case ABE_RIGHT:
      anchor.point = {Lesser(work.right, monitor.right - wide) - gap, work.bottom - gap};
      anchor.flags = TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_HORIZONTAL;
      break;
    case ABE_BOTTOM:
      anchor.point = {work.right - gap, Lesser(work.bottom, monitor.bottom - high) - gap};
      anchor.flags = TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL;
      break;
    default:
      // No taskbar: the bottom-right corner of the work area.
      anchor.point = {work.right - gap, work.bottom - gap};
      anchor.flags = TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL;
      break;
  }
  return anchor;
}

RECT AlignStatusPopup(const StatusAnchor& anchor, SIZE size) {
  LONG left = anchor.point.x;
  if (anchor.flags & TPM_RIGHTALIGN) left -= size.cx;
  else if (anchor.flags & TPM_CENTERALIGN) left -= size.cx / 2;
  LONG top = anchor.point.y;
  if (anchor.flags & TPM_BOTTOMALIGN) top -= size.cy;
  else if (anchor.flags & TPM_VCENTERALIGN) top -= size.cy / 2;
  return {left, top, left + size.cx, top + size.cy};
}

RECT ResizeStatusPopup(const RECT& frame, SIZE size, const RECT& work, int gap) {
  RECT rect = frame;
  if (work.right - frame.right < frame.left - work.left) rect.left = frame.right - size.cx;
  if (work.bottom - frame.bottom < frame.top - work.top) rect.top = frame.bottom - size.cy;
  rect.right = rect.left + size.cx;
  rect.bottom = rect.top + size.cy;
  return FitInWorkArea(rect, work, gap);
}

RECT FitInWorkArea(RECT rect, const RECT& work, int gap) {
  const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
  // The gap only where the popup fits with it; the top-left edge first when
  // even the work area is too small.
  LONG x_gap = width + 2 * gap <= work.right - work.left ? gap : 0;
  LONG y_gap = height + 2 * gap <= work.bottom - work.top ? gap : 0;
  if (rect.right > work.right - x_gap) rect.left = work.right - x_gap - width;
  if (rect.left < work.left + x_gap) rect.left = work.left + x_gap;
  if (rect.bottom > work.bottom - y_gap) rect.top = work.bottom - y_gap - height;
  if (rect.top < work.top + y_gap) rect.top = work.top + y_gap;
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
  return rect;
}

bool SetStatusTitleBarDark(HWND window, bool dark, SetWindowAttributeFunction set_attribute) {
  BOOL value = dark ? TRUE : FALSE;
  if (SUCCEEDED(set_attribute(window, kUseImmersiveDarkMode, &value, sizeof value))) return true;
  return SUCCEEDED(set_attribute(window, kUseImmersiveDarkModeBefore20H1, &value, sizeof value));
}

bool ChooseStatusColours(StatusState& status) {
  const StatusPlatform& platform = *status.platform;
  const bool high_contrast = platform.high_contrast();
  const bool light = !high_contrast && platform.light_mode();
  StatusSystemColours system = {};
  if (high_contrast) {
    system = {platform.system_colour(COLOR_WINDOW), platform.system_colour(COLOR_WINDOWTEXT),
              platform.system_colour(COLOR_HIGHLIGHT), platform.system_colour(COLOR_GRAYTEXT)};
  }
  status.palette = ChooseStatusPalette(high_contrast, system, light);
  return high_contrast;
}

bool ReadAppsUseLightTheme() {
  DWORD value = 0;
  DWORD size = sizeof value;
  const bool read = RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                                 L"AppsUseLightTheme", RRF_RT_REG_DWORD, NULL, &value, &size) == ERROR_SUCCESS;
  return IsLightAppMode(read, value);
}

void DescribeStatusPopup(StatusState& status, HWND window, const StatusFigures& figures) {
  const bool first = status.description[0] == 0;
  const int32_t cleans[2] = {status.clean_history.count, status.clean_history.next};
  const bool cleaned = cleans[0] != status.described_cleans[0] || cleans[1] != status.described_cleans[1];
  wchar_t text[STATUS_DESCRIPTION_CAPACITY];
  FormatStatusAccessibleDescription(text, figures, status.holders);
  if (!first && !cleaned && wcscmp(text, status.description) == 0) return;
  wchar_t name[64];
  status.platform->set_accessible_name(status.annotation, window, LoadText(IDS_STATUS_NAME, name), text);
  CopyBounded(status.description, STATUS_DESCRIPTION_CAPACITY, text);
  status.described_cleans[0] = cleans[0];
  status.described_cleans[1] = cleans[1];
  if (!first && cleaned)
    status.platform->notify_event(EVENT_OBJECT_DESCRIPTIONCHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

bool ShouldAutoCloseStatus(bool active, bool pointer_over) { return !active && !pointer_over; }

LOGFONTW LargeStatusFont(LOGFONTW normal) {
  normal.lfWeight = FW_BOLD;
  normal.lfHeight *= 4;
  return normal;
}

bool ShouldIgnoreStatusToggle(uint64_t now, uint64_t closed_by_deactivation_tick, uint32_t double_click_time) {
  if (closed_by_deactivation_tick == 0 || now < closed_by_deactivation_tick) return false;
  return now - closed_by_deactivation_tick < double_click_time;
}

bool IsStatusToggleIgnoredNow(const StatusState& status) {
  return ShouldIgnoreStatusToggle(GetTickCount64(), status.closed_by_deactivation_tick, GetDoubleClickTime());
}

void CreateStatusFonts(StatusState& status, UINT dpi, bool lists_row, bool commit_row, int holder_lines) {
  DeleteStatusFonts(status);
  LOGFONTW font = {};
  IconTitleFontForDpi(font, dpi);
  status.font = CreateFontIndirectW(&font);
  LOGFONTW large = LargeStatusFont(font);
  status.large_font = CreateFontIndirectW(&large);

  // The rows follow the fonts' real heights, the width their widest texts.
  StatusTextMetrics metrics = {};
  HDC screen = GetDC(NULL);
  if (screen) {
    MeasureStatusTexts(screen, status.font, status.large_font, metrics);
    ReleaseDC(NULL, screen);
  }
  status.layout = LayOutStatus(dpi, metrics, lists_row, commit_row, holder_lines);
  status.layout_language = LanguageInUse();
}

void DeleteStatusFonts(StatusState& status) {
  if (status.large_font) {
    DeleteObject(status.large_font);
    status.large_font = NULL;
  }
  if (status.font) {
    DeleteObject(status.font);
    status.font = NULL;
  }
}

void ShowStatusWindow(StatusState& status, HWND owner, const RECT& icon, bool activate) {
  if (status.window) {
    // Opened again (a clean that shows it): described with the figures of
    // now, a clean announced.
    StatusFigures figures;
    GatherStatusFigures(status, figures);
    DescribeStatusPopup(status, status.window, figures);
    if (activate) SetForegroundWindow(status.window);
    return;
  }
  RegisterStatusClass();
  RECT work = {}, monitor = {};
  MonitorOf(icon, work, monitor);
  // Where the icon cannot place the popup, the taskbar does, on its monitor.
  StatusTaskbar taskbar = {};
  if (!IsStatusIconOnTaskbar(icon, work, monitor)) {
    taskbar = FindTaskbar(status);
    if (!IsRectEmpty(&taskbar.rect)) MonitorOf(taskbar.rect, work, monitor);
  }
  // Made hidden and small at the corner of that monitor, so that it has
  // that monitor's DPI when it makes its fonts and layout; then named,
  // sized, placed and shown without activation, and activated once
  // complete.
  HWND popup = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kStatusClass, L"Quillmere",
                               WS_POPUP | WS_CAPTION | WS_SYSMENU, work.right - 1, work.bottom - 1, 1, 1, owner, NULL,
                               GetModuleHandleW(NULL), &status);
  if (!popup) return;
  status.window = popup;
  NameStatusPopup(status, popup);
  UINT dpi = WindowDpi(popup);
  int gap = ScaleForDpi(12, dpi);
  SIZE size = StatusOuterSize(status.layout, popup, dpi);
  RECT place = PlaceStatusPopup(StatusPopupAnchor(icon, taskbar, work, monitor, gap), size, work, gap);
  SetWindowPos(popup, HWND_TOPMOST, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
  if (!activate) {
    // Left as made, WS_EX_NOACTIVATE: a click on it does not take the focus
    // either, and its timer closes it.
    SetTimer(popup, TIMER_STATUS_AUTOCLOSE, STATUS_AUTOCLOSE_MS, NULL);
    return;
  }
  LONG style = GetWindowLongW(popup, GWL_EXSTYLE);
  SetWindowLongW(popup, GWL_EXSTYLE, style & ~WS_EX_NOACTIVATE);
  SetForegroundWindow(popup);
  // Windows keeps the foreground from a program the user is not working
  // with (an automatic clean): that popup would never hear a click
  // elsewhere, so it goes by itself.
  if (IsWindow(popup) && GetForegroundWindow() != popup)
    SetTimer(popup, TIMER_STATUS_AUTOCLOSE, STATUS_AUTOCLOSE_MS, NULL);
}

void CloseStatusWindow(StatusState& status) {
  if (status.window) DestroyWindow(status.window);
}

bool IsStatusWindowOpen(const StatusState& status) { return status.window != NULL; }

void InvalidateStatusWindow(const StatusState& status) {
  if (status.window) InvalidateRect(status.window, NULL, FALSE);
}
