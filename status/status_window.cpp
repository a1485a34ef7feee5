// The status popup's window: creation and placement, its messages, its end.
#include "status/status.h"

#include "common/dpi.h"
#include "common/system.h"
#include "status/status_internal.h"

namespace {

const wchar_t kStatusClass[] = L"QuillmereStatus";

const DWORD kUseImmersiveDarkMode = 20;
const DWORD kWindowCornerPreference = 33;
const DWORD kCornerRound = 2;

using SetWindowAttributeFunction = HRESULT(WINAPI*)(HWND window, DWORD attribute, LPCVOID value, DWORD size);

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

// Dark title bar on Windows 10 and 11, rounded corners on 11; older systems
// refuse both and keep their frame.
void DarkenFrame(StatusState& status, HWND window) {
  SetWindowAttributeFunction set_attribute = FindSetWindowAttribute(status);
  if (!set_attribute) return;
  BOOL dark = TRUE;
  set_attribute(window, kUseImmersiveDarkMode, &dark, sizeof dark);
  DWORD corner = kCornerRound;
  set_attribute(window, kWindowCornerPreference, &corner, sizeof corner);
}

// The monitor of the icon, or the primary one when there is no icon.
void IconMonitor(const RECT& icon, RECT& work, RECT& bounds) {
  HMONITOR monitor = IsRectEmpty(&icon) ? MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY)
                                        : MonitorFromRect(&icon, MONITOR_DEFAULTTONEAREST);
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

void Paint(StatusState& status, HWND window) {
  PAINTSTRUCT paint = {};
  HDC dc = BeginPaint(window, &paint);
  RECT client = {};
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  StatusFigures figures;
  GatherStatusFigures(status, figures);

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
      DarkenFrame(status, window);
      // The lists' row only where the lists can be read; the size stays
      // for this showing even if that changes while it is open.
      MemoryLists lists = {};
      CreateStatusFonts(status, WindowDpi(window), status.platform->read_memory_lists(lists));
      SetTimer(window, TIMER_STATUS, 1000, NULL);
      return 0;
    }
    case WM_DPICHANGED: {
      // On a monitor of another scale: new fonts and layout, Windows' place.
      UINT dpi = HIWORD(wParam);
      CreateStatusFonts(status, dpi, status.layout.lists_row);
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SIZE size = StatusOuterSize(status.layout, window, dpi);
      SetWindowPos(window, NULL, suggested->left, suggested->top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(window, NULL, FALSE);
      return 0;
    }
    case WM_DESTROY:
      KillTimer(window, TIMER_STATUS);
      KillTimer(window, TIMER_STATUS_AUTOCLOSE);
      DeleteStatusFonts(status);
      status.window = NULL;
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
    case WM_KEYDOWN:
      if (wParam != VK_ESCAPE) break;
      DestroyWindow(window);
      return 0;
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

StatusAnchor StatusPopupAnchor(const RECT& icon, const RECT& work, const RECT& monitor, int gap) {
  StatusAnchor anchor = {};
  anchor.exclude = icon;
  const POINT centre = {(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
  const bool on_monitor = !IsRectEmpty(&icon) && PtInRect(&monitor, centre);
  const bool auto_hide = EqualRect(&work, &monitor) != 0;  // the taskbar covers the work area when shown
  enum { NONE, BOTTOM, TOP, LEFT, RIGHT } edge = NONE;
  if (on_monitor) {
    if (icon.top >= work.bottom) edge = BOTTOM;
    else if (icon.bottom <= work.top) edge = TOP;
    else if (icon.right <= work.left) edge = LEFT;
    else if (icon.left >= work.right) edge = RIGHT;
    else if (auto_hide) {
      // The nearest edge of the monitor is the taskbar's.
      LONG to_bottom = monitor.bottom - centre.y, to_top = centre.y - monitor.top;
      LONG to_left = centre.x - monitor.left, to_right = monitor.right - centre.x;
      LONG nearest = to_bottom;
      edge = BOTTOM;
      if (to_top < nearest) nearest = to_top, edge = TOP;
      if (to_left < nearest) nearest = to_left, edge = LEFT;
      if (to_right < nearest) edge = RIGHT;
    }
  }
  switch (edge) {
    case BOTTOM:
      anchor.point = {centre.x, (icon.top < work.bottom ? icon.top : work.bottom) - gap};
      anchor.flags = TPM_CENTERALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL;
      break;
    case TOP:
      anchor.point = {centre.x, (icon.bottom > work.top ? icon.bottom : work.top) + gap};
      anchor.flags = TPM_CENTERALIGN | TPM_TOPALIGN | TPM_VERTICAL;
      break;
    case LEFT:
      anchor.point = {(icon.right > work.left ? icon.right : work.left) + gap, centre.y};
      // NOLINTNEXTLINE(misc-redundant-expression): both 0, named as in the other cases
      anchor.flags = TPM_LEFTALIGN | TPM_VCENTERALIGN | TPM_HORIZONTAL;
      break;
    case RIGHT:
      anchor.point = {(icon.left < work.right ? icon.left : work.right) - gap, centre.y};
      anchor.flags = TPM_RIGHTALIGN | TPM_VCENTERALIGN | TPM_HORIZONTAL;
      break;
    case NONE:
      // The shell cannot say, or the icon sits in the overflow flyout.
      anchor.point = {work.right - gap, work.bottom - gap};
      anchor.flags = TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL;
      anchor.exclude = {};
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

void CreateStatusFonts(StatusState& status, UINT dpi, bool lists_row) {
  DeleteStatusFonts(status);
  LOGFONTW font = {};
  IconTitleFontForDpi(font, dpi);
  status.font = CreateFontIndirectW(&font);
  LOGFONTW large = LargeStatusFont(font);
  status.large_font = CreateFontIndirectW(&large);

  // The rows follow the fonts' real heights.
  TEXTMETRICW normal = {}, figure = {};
  HDC screen = GetDC(NULL);
  if (screen) {
    HGDIOBJ previous = SelectObject(screen, status.large_font);
    GetTextMetricsW(screen, &figure);
    SelectObject(screen, status.font);
    GetTextMetricsW(screen, &normal);
    SelectObject(screen, previous);
    ReleaseDC(NULL, screen);
  }
  status.layout = LayOutStatus(dpi, figure.tmAscent, normal.tmHeight, lists_row);
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

void ShowStatusWindow(StatusState& status, HWND owner, const RECT& icon) {
  if (status.window) {
    SetForegroundWindow(status.window);
    return;
  }
  RegisterStatusClass();
  RECT work = {}, monitor = {};
  IconMonitor(icon, work, monitor);
  // Made hidden and small at the corner of the icon's monitor, so that it
  // has that monitor's DPI when it makes its fonts and layout; then sized,
  // placed and shown without activation, and activated once complete.
  HWND popup = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kStatusClass, L"Quillmere",
                               WS_POPUP | WS_CAPTION | WS_SYSMENU, work.right - 1, work.bottom - 1, 1, 1, owner, NULL,
                               GetModuleHandleW(NULL), &status);
  if (!popup) return;
  status.window = popup;
  UINT dpi = WindowDpi(popup);
  int gap = ScaleForDpi(12, dpi);
  SIZE size = StatusOuterSize(status.layout, popup, dpi);
  RECT place = PlaceStatusPopup(StatusPopupAnchor(icon, work, monitor, gap), size, work, gap);
  SetWindowPos(popup, HWND_TOPMOST, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
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
