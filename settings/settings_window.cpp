// The settings window: every field of the live settings record in one fixed
// window, with a message loop of its own that keeps the whole program going.
#include "settings/settings.h"

#include "app/shared.h"
#include "settings/settings_internal.h"

namespace {

const wchar_t kSettingsClass[] = L"QuillmereSettings";
const wchar_t kSettingsTitle[] = L"Quillmere \u2014 Settings";
constexpr int kWidth = 350;
constexpr int kHeight = 520;
constexpr int kControlCount = 29;
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
// The layout's right- and bottom-most control edges and the margin around.
constexpr int kLayoutRight = 328;
constexpr int kLayoutBottom = 500;
constexpr int kMargin = 14;

// No prefix: "Schedule & Notifications" shows its ampersand.
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_NOPREFIX;
constexpr DWORD kSeparatorStyle = WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ;
constexpr DWORD kNumberStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_RIGHT;
// No ES_NUMBER: it refuses the minus sign of -1 (off); the field filters its
// typing itself instead.
constexpr DWORD kHourStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_RIGHT;
constexpr DWORD kCheckboxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kDefaultButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
// Typing stops here, so OK reads what the field shows: room for a minus and
// five digits, past every range's top (9999) so that too big still shows.
constexpr int kNumberFieldLength = 6;
constexpr int kNumberReadLength = 16;
static_assert(kNumberFieldLength < kNumberReadLength, "OK reads the whole of a typed number");
// The record's exclusion list, less its terminator.
constexpr int kExcludeListLength = 255;

// The settings window's creation parameter, on the stack of
// ShowSettingsWindow; the window never outlives it.
struct SettingsWindowContext {
  Settings* settings;
  bool saved;
  HFONT font;  // owned by the window, deleted when it is destroyed
};

LRESULT CALLBACK SettingsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

HWND AddControl(HWND parent, DWORD ex_style, const wchar_t* window_class, const wchar_t* text, DWORD style, int x,
                int y, int width, int height, int id) {
  return CreateWindowExW(ex_style, window_class, text, style, x, y, width, height, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(NULL), NULL);
}

HWND AddLabel(HWND parent, const wchar_t* text, int y, int width) {
  return AddControl(parent, 0, L"STATIC", text, kLabelStyle, 14, y, width, 18, 0);
}

HWND AddSeparator(HWND parent, int y) {
  return AddControl(parent, 0, L"STATIC", L"", kSeparatorStyle, 14, y, 314, 2, 0);
}

HWND AddNumberEdit(HWND parent, int id, int y, int32_t value, DWORD style = kNumberStyle) {
  HWND edit = AddControl(parent, WS_EX_CLIENTEDGE, L"EDIT", L"", style, 220, y, 70, 22, id);
  if (!edit) return NULL;
  SendMessageW(edit, EM_LIMITTEXT, kNumberFieldLength, 0);
  wchar_t text[16] = {};
  FormatBounded(text, 16, L"%d", value);
  SetWindowTextW(edit, text);
  return edit;
}

HWND AddCheckbox(HWND parent, int id, const wchar_t* text, int y, bool checked) {
  HWND box = AddControl(parent, 0, L"BUTTON", text, kCheckboxStyle, 14, y, 290, 20, id);
  if (box) SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  return box;
}

// Digits and one leading minus sign only; the edit control's own procedure
// waits in the field's user data.
LRESULT CALLBACK HourFieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC edit_proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_USERDATA));
  if (!edit_proc) return DefWindowProcW(edit, message, wParam, lParam);
  if (message == WM_CHAR) {
    wchar_t text[64] = {};
    GetWindowTextW(edit, text, 64);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (!HourFieldAccepts(text, start, end, static_cast<wchar_t>(wParam))) return 0;
  }
  return CallWindowProcW(edit_proc, edit, message, wParam, lParam);
}

HWND AddHourEdit(HWND parent, int y, int32_t value) {
  HWND edit = AddNumberEdit(parent, IDC_CLEAN_HOUR, y, value, kHourStyle);
  if (!edit) return NULL;
  SetWindowLongPtrW(edit, GWLP_USERDATA, GetWindowLongPtrW(edit, GWLP_WNDPROC));
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HourFieldProc));
  return edit;
}

// False when a control could not be made: OK on a window missing a field
// would store 0 for a setting the user never saw.
bool AddControls(HWND window, const Settings& settings) {
  HWND made[kControlCount];
  int n = 0;
  made[n++] = AddLabel(window, L"Auto-clean Triggers", 14, 300);
  made[n++] = AddLabel(window, L"RAM threshold (%):", 40, 200);
  made[n++] = AddNumberEdit(window, IDC_THRESHOLD, 38, settings.threshold_percent);
  made[n++] = AddLabel(window, L"Clean interval (min, 0=off):", 68, 200);
  made[n++] = AddNumberEdit(window, IDC_INTERVAL, 66, settings.interval_minutes);
  made[n++] = AddLabel(window, L"Idle timeout (min, 0=off):", 96, 200);
  made[n++] = AddNumberEdit(window, IDC_IDLE, 94, settings.on_idle_minutes);
  made[n++] = AddLabel(window, L"Boot delay (sec, 0=off):", 124, 200);
  made[n++] = AddNumberEdit(window, IDC_BOOT_DELAY, 122, settings.on_boot_delay);
  made[n++] = AddSeparator(window, 154);
  made[n++] = AddLabel(window, L"Options", 162, 300);
  made[n++] = AddCheckbox(window, IDC_AUTO_CLEAN, L"Enable auto-clean", 184, settings.auto_clean);
  made[n++] = AddCheckbox(window, IDC_SILENT, L"Silent mode (no balloons)", 208, settings.silent_mode);
  made[n++] = AddCheckbox(window, IDC_START_WITH_WINDOWS, L"Start with Windows", 232, settings.start_with_windows);
  made[n++] = AddSeparator(window, 260);
  made[n++] = AddLabel(window, L"Schedule & Notifications", 268, 300);
  made[n++] = AddLabel(window, L"Scheduled clean hour (0-23, -1=off):", 290, 200);
  made[n++] = AddHourEdit(window, 288, settings.clean_hour);
  made[n++] = AddLabel(window, L"Scheduled clean minute (0-59):", 314, 200);
  made[n++] = AddNumberEdit(window, IDC_CLEAN_MINUTE, 312, settings.clean_minute);
  made[n++] = AddLabel(window, L"Min freed MB to notify:", 338, 200);
  made[n++] = AddNumberEdit(window, IDC_NOTIFY_MIN_MB, 336, settings.notify_min_mb);
  made[n++] = AddCheckbox(window, IDC_SHOW_STATUS, L"Open status window after each clean", 362,
                          settings.show_status_on_clean);
  made[n++] = AddSeparator(window, 390);
  made[n++] = AddLabel(window, L"Process Exclusion", 398, 300);
  made[n++] = AddLabel(window, L"Exclude from working-set trim (comma-sep exe names):", 416, 310);
  made[n++] = AddControl(window, WS_EX_CLIENTEDGE, L"EDIT", settings.exclude_list, kListStyle, 14, 436, 314, 22,
                         IDC_EXCLUDE_LIST);
  if (made[n - 1]) SendMessageW(made[n - 1], EM_LIMITTEXT, kExcludeListLength, 0);
  made[n++] = AddControl(window, 0, L"BUTTON", L"OK", kDefaultButtonStyle, 174, 472, 76, 28, IDC_OK);
  made[n++] = AddControl(window, 0, L"BUTTON", L"Cancel", kButtonStyle, 256, 472, 76, 28, IDC_CANCEL);
  for (HWND control : made) {
    if (!control) return false;
  }
  return true;
}

// "Segoe UI" 9 pt at the window's pixel density.
HFONT CreateSettingsFont(HWND window) {
  HDC dc = GetDC(window);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(window, dc);
  return CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

BOOL CALLBACK SetFontOnChild(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}

// OK: every field clamped and stored straight into the live record, then
// saved and the start-with-Windows choice applied. No message is dispatched
// in between, so nobody sees a half-stored record.
void StoreFields(HWND window, SettingsWindowContext& context) {
  Settings& settings = *context.settings;
  bool was_starting_with_windows = settings.start_with_windows;
  for (const SettingField& field : kSettingFields) {
    if (!field.control) continue;
    if (field.number) {
      wchar_t text[kNumberReadLength] = {};
      GetDlgItemTextW(window, field.control, text, kNumberReadLength);
      settings.*field.number = ClampSettingsField(field.control, SettingsFieldNumber(text));
    } else {
      settings.*field.flag = SettingsCheckState(SendDlgItemMessageW(window, field.control, BM_GETCHECK, 0, 0));
    }
  }
  // The field stops typing at this length; a longer text set from outside
  // is cut here.
  static_assert(kExcludeListLength + 1 == sizeof settings.exclude_list / sizeof settings.exclude_list[0]);
  GetDlgItemTextW(window, IDC_EXCLUDE_LIST, settings.exclude_list, kExcludeListLength + 1);
  SaveSettings(settings);
  NoteAutostartResult(was_starting_with_windows, SetAutostart(settings.start_with_windows));
  context.saved = true;
}

void RegisterSettingsClass() {
  HINSTANCE module = GetModuleHandleW(NULL);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = SettingsWndProc;
  window_class.hInstance = module;
  window_class.hIcon = LoadIconW(module, MAKEINTRESOURCEW(1));
  window_class.hCursor = LoadCursorW(NULL, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = kSettingsClass;
  RegisterClassExW(&window_class);
}

}  // namespace

SIZE SettingsWindowSize(const RECT& frame_for_layout) {
  // 350 x 520 unless the frame leaves too little room inside: OK and Cancel
  // end 500 pixels down, below the client area of 520 with any caption.
  SIZE size = {kWidth, kHeight};
  int width = frame_for_layout.right - frame_for_layout.left;
  int height = frame_for_layout.bottom - frame_for_layout.top;
  if (width > size.cx) size.cx = width;
  if (height > size.cy) size.cy = height;
  return size;
}

int32_t ClampSettingsField(int id, int32_t value) {
  for (const SettingField& field : kSettingFields) {
    if (!field.control || field.control != id || !field.number) continue;
    if (value < field.low) return field.low;
    if (value > field.high) return field.high;
    return value;
  }
  return value;
}

int32_t SettingsFieldNumber(const wchar_t* text) {
  while (*text == L' ' || *text == L'\t') ++text;
  bool negative = *text == L'-';
  if (negative) ++text;
  // The magnitude stops growing just past int32's range: any run of digits
  // saturates instead of wrapping, and the clamp then takes the range's end.
  constexpr int64_t kCap = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    magnitude = magnitude * 10 + (*text - L'0');
    if (magnitude > kCap) magnitude = kCap;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

bool SettingsCheckState(LRESULT state) { return state == BST_CHECKED; }

bool HourFieldAccepts(const wchar_t* text, DWORD start, DWORD end, wchar_t typed) {
  if (typed < L' ') return true;  // Backspace and the Ctrl+ editing keys
  bool digit = typed >= L'0' && typed <= L'9';
  if (!digit && typed != L'-') return false;
  if (start > end) {
    DWORD swap = start;
    start = end;
    end = swap;
  }
  DWORD length = static_cast<DWORD>(wcslen(text));
  if (end > length) end = length;
  if (start > end) start = end;
  // Neither a digit nor a second minus may go in front of a minus sign.
  for (DWORD i = end; i < length; ++i) {
    if (text[i] == L'-') return false;
  }
  return digit || start == 0;
}

bool ShowSettingsWindow(HWND owner, Settings& settings) {
  static bool class_registered = false;
  if (!class_registered) {
    RegisterSettingsClass();
    class_registered = true;
  }
  SettingsWindowContext context = {&settings, false, NULL};
  RECT frame = {0, 0, kLayoutRight + kMargin, kLayoutBottom + kMargin};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  SIZE size = SettingsWindowSize(frame);
  int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
  HWND window = CreateWindowExW(kWindowExStyle, kSettingsClass, kSettingsTitle, kWindowStyle, x, y, size.cx, size.cy,
                                owner, NULL, GetModuleHandleW(NULL), &context);
  if (!window) return false;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  if (owner && IsWindowVisible(owner)) EnableWindow(owner, FALSE);

  // The thread's only pump while the window is open: the main window's
  // timer, hot key and tray messages pass through here too.
  // The window is looked for before each fetch: every message fetched is
  // dispatched, so an Exit chosen while the window closes is not lost. A
  // message sent to the thread can close it inside GetMessageW too.
  MSG message = {};
  BOOL fetched = 1;
  while (IsWindow(window) && (fetched = GetMessageW(&message, NULL, 0, 0)) > 0) {
    if (!IsWindow(window) || !IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // A quit message or an error can end the loop with the window still open;
  // it must not outlive the context it points to.
  if (IsWindow(window)) DestroyWindow(window);
  if (fetched == 0) PostQuitMessage(static_cast<int>(message.wParam));
  if (owner && IsWindowVisible(owner)) EnableWindow(owner, TRUE);
  return context.saved;
}

namespace {

LRESULT CALLBACK SettingsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* context = reinterpret_cast<SettingsWindowContext*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      context = static_cast<SettingsWindowContext*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
      if (!AddControls(window, *context->settings)) return -1;
      context->font = CreateSettingsFont(window);
      EnumChildWindows(window, SetFontOnChild, reinterpret_cast<LPARAM>(context->font));
      SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(context->font), TRUE);
      return 0;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDOK:  // Enter, which the bold default button promises
          if (context) StoreFields(window, *context);
          DestroyWindow(window);
          return 0;
        case IDC_CANCEL:
        case IDCANCEL:
          DestroyWindow(window);
          return 0;
        default:
          break;
      }
      break;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (context && context->font) {
        DeleteObject(context->font);
        context->font = NULL;
      }
      // Wakes the loop when the window goes inside its GetMessageW; the loop
      // then sees it gone. Left over otherwise, for the outer loop.
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace
