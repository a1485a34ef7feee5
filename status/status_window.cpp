// The status popup's window: creation and placement, its messages, its end.
#include "status/status.h"

#include "app/app.h"
#include "app/shared.h"
#include "status/status_internal.h"

namespace {

LRESULT CALLBACK StatusWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

const wchar_t kStatusClass[] = L"QuillmereStatus";

const DWORD kUseImmersiveDarkMode = 20;
const DWORD kWindowCornerPreference = 33;
const DWORD kCornerRound = 2;

using SetWindowAttributeFunction = HRESULT(WINAPI*)(HWND window, DWORD attribute, LPCVOID value, DWORD size);

// dwmapi is no KnownDLL, so it is loaded from System32 at the first popup
// and kept for the run: one reference, however many popups follow.
SetWindowAttributeFunction FindSetWindowAttribute() {
  if (!app.status.dwm_set_window_attribute_entry) {
    HMODULE dwm = LoadSystemLibrary(L"dwmapi.dll");
    FARPROC entry = dwm ? GetProcAddress(dwm, "DwmSetWindowAttribute") : NULL;
    if (entry) app.status.dwm_set_window_attribute_entry = entry;
    else if (dwm) FreeLibrary(dwm);
  }
  return reinterpret_cast<SetWindowAttributeFunction>(reinterpret_cast<void*>(app.status.dwm_set_window_attribute_entry));
}

// Dark title bar on Windows 10 and 11, rounded corners on 11; older systems
// refuse both and keep their frame.
void DarkenFrame(HWND window) {
  SetWindowAttributeFunction set_attribute = FindSetWindowAttribute();
  if (!set_attribute) return;
  BOOL dark = TRUE;
  set_attribute(window, kUseImmersiveDarkMode, &dark, sizeof dark);
  DWORD corner = kCornerRound;
  set_attribute(window, kWindowCornerPreference, &corner, sizeof corner);
}

void Paint(HWND window) {
  PAINTSTRUCT paint = {};
  HDC dc = BeginPaint(window, &paint);
  RECT client = {};
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  StatusFigures figures;
  GatherStatusFigures(figures);

  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
  if (memory && bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    DrawStatus(memory, width, height, figures);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  } else {
    // No room for the off-screen copy: draw straight on, flicker and all.
    DrawStatus(dc, width, height, figures);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  EndPaint(window, &paint);
}

bool RegisterStatusClass() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = StatusWndProc;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.hCursor = LoadCursorW(NULL, IDC_ARROW);
  window_class.lpszClassName = kStatusClass;
  return RegisterClassExW(&window_class) != 0;
}

}  // namespace

RECT StatusWindowRect(const RECT& work_area) {
  RECT rect = {};
  rect.left = work_area.right - (STATUS_WIDTH + 12);
  rect.top = work_area.bottom - (STATUS_HEIGHT + 12);
  rect.right = rect.left + STATUS_WIDTH;
  rect.bottom = rect.top + STATUS_HEIGHT;
  return rect;
}

LOGFONTW LargeStatusFont(LOGFONTW normal) {
  normal.lfWeight = FW_BOLD;
  normal.lfHeight *= 4;
  return normal;
}

bool ShouldIgnoreStatusToggle(uint64_t now, uint64_t closed_by_deactivation_tick, uint32_t double_click_time) {
  if (closed_by_deactivation_tick == 0 || now < closed_by_deactivation_tick) return false;
  return now - closed_by_deactivation_tick < double_click_time;
}

bool IsStatusToggleIgnoredNow() {
  return ShouldIgnoreStatusToggle(GetTickCount64(), app.status.closed_by_deactivation_tick, GetDoubleClickTime());
}

void CreateStatusFonts() {
  DeleteStatusFonts();
  LOGFONTW font = {};
  SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0);
  app.status.font = CreateFontIndirectW(&font);
  LOGFONTW large = LargeStatusFont(font);
  app.status.large_font = CreateFontIndirectW(&large);
}

void DeleteStatusFonts() {
  if (app.status.large_font) {
    DeleteObject(app.status.large_font);
    app.status.large_font = NULL;
  }
  if (app.status.font) {
    DeleteObject(app.status.font);
    app.status.font = NULL;
  }
}

void ShowStatusWindow(HWND owner) {
  if (app.status.window) {
    SetForegroundWindow(app.status.window);
    return;
  }
  if (!app.status.class_registered) {
    RegisterStatusClass();
    app.status.class_registered = true;
  }
  RECT work_area = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0);
  RECT place = StatusWindowRect(work_area);
  // Shown without activation while it is made; activated once complete.
  app.status.window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kStatusClass, L"Quillmere",
                                      WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU, place.left, place.top,
                                      STATUS_WIDTH, STATUS_HEIGHT, owner, NULL, GetModuleHandleW(NULL), NULL);
  if (!app.status.window) return;
  LONG style = GetWindowLongW(app.status.window, GWL_EXSTYLE);
  SetWindowLongW(app.status.window, GWL_EXSTYLE, style & ~WS_EX_NOACTIVATE);
  SetForegroundWindow(app.status.window);
}

void CloseStatusWindow() {
  if (app.status.window) DestroyWindow(app.status.window);
}

bool IsStatusWindowOpen() { return app.status.window != NULL; }

void InvalidateStatusWindow() {
  if (app.status.window) InvalidateRect(app.status.window, NULL, FALSE);
}

namespace {

LRESULT CALLBACK StatusWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      DarkenFrame(window);
      CreateStatusFonts();
      SetTimer(window, TIMER_STATUS, 1000, NULL);
      return 0;
    case WM_DESTROY:
      KillTimer(window, TIMER_STATUS);
      DeleteStatusFonts();
      app.status.window = NULL;
      return 0;
    case WM_ACTIVATE:
      // A popup being destroyed is hidden first and then loses activation;
      // only a visible one lost it to the user's click elsewhere. Stamped
      // once it is gone, so the button release that follows is judged from
      // the close however long the close took.
      if (LOWORD(wParam) == WA_INACTIVE && IsWindowVisible(window)) {
        DestroyWindow(window);
        app.status.closed_by_deactivation_tick = GetTickCount64();
      } else if (LOWORD(wParam) != WA_INACTIVE) {
        // The default procedure, kept out of this message, is what gives an
        // activated window the keyboard focus; without it Windows sends Esc
        // as WM_SYSKEYDOWN and the popup never sees it.
        SetFocus(window);
      }
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_KEYDOWN:
      if (wParam != VK_ESCAPE) break;
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      InvalidateRect(window, NULL, FALSE);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace
