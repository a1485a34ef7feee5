// The settings window: every field of the live settings record in one fixed
// window, with a message loop of its own that keeps the whole program going.
#include "settings/settings.h"

#include "common/dpi.h"
#include "common/text.h"
#include "settings/settings_internal.h"

namespace {

const wchar_t kSettingsClass[] = L"QuillmereSettings";
const wchar_t kSettingsTitle[] = L"Quillmere \u2014 Settings";
constexpr int kWidth = 350;
constexpr int kHeight = 632;
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

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
// five digits; six digits pass every range's top (65535 the highest), so
// that too big still shows.
constexpr int kNumberFieldLength = 6;
constexpr int kNumberReadLength = 16;
static_assert(kNumberFieldLength < kNumberReadLength, "OK reads the whole of a typed number");
// The record's exclusion list, less its terminator.
constexpr int kExcludeListLength = 255;

// The settings window's creation parameter, on the stack of
// ShowSettingsWindow; the window never outlives it.
struct SettingsWindowContext {
  Settings* settings;
  SettingsStored stored;
  bool saved;
  HFONT font;  // owned by the window, deleted when it is destroyed
  HWND controls[SETTINGS_CONTROL_COUNT];  // in creation order
  SIZE client;                            // what the layout needs
};

LRESULT CALLBACK SettingsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The controls in creation order (also the Tab order), at 96 DPI. A field
// label shares its row with the number field after it.
enum ControlKind { FIELD_LABEL, HEADING, SEPARATOR, NUMBER, CHECK, LIST, BUTTON };

// Fields in the order the table reads, at 8 padding bytes a row.
struct ControlRow {  // NOLINT(clang-analyzer-optin.performance.Padding)
  ControlKind kind;
  const wchar_t* text;
  int id;
  int x, y, width, height;
};

const ControlRow kControls[SETTINGS_CONTROL_COUNT] = {
    {HEADING, L"Auto-clean Triggers", 0, 14, 14, 300, 18},
    {FIELD_LABEL, L"RAM threshold (%):", 0, 14, 40, 200, 18},
    {NUMBER, L"", IDC_THRESHOLD, 220, 38, 70, 22},
    {FIELD_LABEL, L"Clean interval (min, 0=off):", 0, 14, 68, 200, 18},
    {NUMBER, L"", IDC_INTERVAL, 220, 66, 70, 22},
    {FIELD_LABEL, L"Idle timeout (min, 0=off):", 0, 14, 96, 200, 18},
    {NUMBER, L"", IDC_IDLE, 220, 94, 70, 22},
    {FIELD_LABEL, L"Boot delay (sec, 0=off):", 0, 14, 124, 200, 18},
    {NUMBER, L"", IDC_BOOT_DELAY, 220, 122, 70, 22},
    {SEPARATOR, L"", 0, 14, 154, 314, 2},
    {HEADING, L"Options", 0, 14, 162, 300, 18},
    {CHECK, L"Enable auto-clean", IDC_AUTO_CLEAN, 14, 184, 290, 20},
    {CHECK, L"Silent mode (no balloons)", IDC_SILENT, 14, 208, 290, 20},
    {CHECK, L"Start with Windows", IDC_START_WITH_WINDOWS, 14, 232, 290, 20},
    {SEPARATOR, L"", 0, 14, 260, 314, 2},
    {HEADING, L"Schedule & Notifications", 0, 14, 268, 300, 18},
    {FIELD_LABEL, L"Scheduled clean hour (0-23, -1=off):", 0, 14, 290, 200, 18},
    {NUMBER, L"", IDC_CLEAN_HOUR, 220, 288, 70, 22},
    {FIELD_LABEL, L"Scheduled clean minute (0-59):", 0, 14, 314, 200, 18},
    {NUMBER, L"", IDC_CLEAN_MINUTE, 220, 312, 70, 22},
    {FIELD_LABEL, L"Min freed MB to notify:", 0, 14, 338, 200, 18},
    {NUMBER, L"", IDC_NOTIFY_MIN_MB, 220, 336, 70, 22},
    {CHECK, L"Open status window after each clean", IDC_SHOW_STATUS, 14, 362, 290, 20},
    {SEPARATOR, L"", 0, 14, 390, 314, 2},
    {HEADING, L"Clean steps", 0, 14, 398, 300, 18},
    // Two steps a row: the window must still fit a 1080-line screen at 150 %.
    {CHECK, L"Empty working sets", IDC_TRIM_WORKING_SETS, 14, 420, 150, 20},
    {CHECK, L"Flush modified list", IDC_FLUSH_MODIFIED, 172, 420, 150, 20},
    {CHECK, L"Purge standby list", IDC_PURGE_STANDBY, 14, 444, 150, 20},
    {CHECK, L"Flush file cache", IDC_FLUSH_FILE_CACHE, 172, 444, 150, 20},
    {FIELD_LABEL, L"Clean when free MB below (0=off):", 0, 14, 470, 200, 18},
    {NUMBER, L"", IDC_FREE_BELOW_MB, 220, 468, 70, 22},
    {SEPARATOR, L"", 0, 14, 502, 314, 2},
    {HEADING, L"Process Exclusion", 0, 14, 510, 300, 18},
    {HEADING, L"Exclude from working-set trim (comma-sep exe names):", 0, 14, 528, 310, 18},
    {LIST, L"", IDC_EXCLUDE_LIST, 14, 548, 314, 22},
    {BUTTON, L"OK", IDC_OK, 174, 584, 76, 28},
    {BUTTON, L"Cancel", IDC_CANCEL, 256, 584, 76, 28},
};

// A check box that shares its row with the one after it, or the one before.
bool IsLeftOfPair(int i) {
  return i + 1 < SETTINGS_CONTROL_COUNT && kControls[i].kind == CHECK && kControls[i + 1].kind == CHECK &&
         kControls[i + 1].y == kControls[i].y;
}
bool IsRightOfPair(int i) { return i > 0 && IsLeftOfPair(i - 1); }

// 96-DPI figures of the layout that are not a control's own.
constexpr int kMargin = 14;
constexpr int kContentRight = 328;
constexpr int kLayoutBottom = 612;  // OK and Cancel end here
constexpr int kEditPadding = 4;      // an edit's sunken border around its text
constexpr int kButtonPadding = 8;
constexpr int kButtonTextPadding = 16;

HWND AddControl(HWND parent, DWORD ex_style, const wchar_t* window_class, const wchar_t* text, DWORD style,
                const RECT& at, int id) {
  return CreateWindowExW(ex_style, window_class, text, style, at.left, at.top, at.right - at.left,
                         at.bottom - at.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(NULL), NULL);
}

HWND AddLabel(HWND parent, const wchar_t* text, const RECT& at) {
  return AddControl(parent, 0, L"STATIC", text, kLabelStyle, at, 0);
}

HWND AddSeparator(HWND parent, const RECT& at) {
  return AddControl(parent, 0, L"STATIC", L"", kSeparatorStyle, at, 0);
}

HWND AddNumberEdit(HWND parent, int id, const RECT& at, int32_t value, DWORD style = kNumberStyle) {
  HWND edit = AddControl(parent, WS_EX_CLIENTEDGE, L"EDIT", L"", style, at, id);
  if (!edit) return NULL;
  SendMessageW(edit, EM_LIMITTEXT, kNumberFieldLength, 0);
  wchar_t text[16] = {};
  FormatBounded(text, 16, L"%d", value);
  SetWindowTextW(edit, text);
  return edit;
}

HWND AddCheckbox(HWND parent, int id, const wchar_t* text, const RECT& at, bool checked) {
  HWND box = AddControl(parent, 0, L"BUTTON", text, kCheckboxStyle, at, id);
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

HWND AddHourEdit(HWND parent, const RECT& at, int32_t value) {
  HWND edit = AddNumberEdit(parent, IDC_CLEAN_HOUR, at, value, kHourStyle);
  if (!edit) return NULL;
  SetWindowLongPtrW(edit, GWLP_USERDATA, GetWindowLongPtrW(edit, GWLP_WNDPROC));
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HourFieldProc));
  return edit;
}

const SettingField* FindSettingField(int control) {
  for (const SettingField& field : kSettingFields) {
    if (field.control && field.control == control) return &field;
  }
  return nullptr;
}

// False when a control could not be made: OK on a window missing a field
// would store 0 for a setting the user never saw.
bool AddControls(HWND window, const Settings& settings, const SettingsLayout& layout, HWND (&made)[SETTINGS_CONTROL_COUNT]) {
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const ControlRow& row = kControls[i];
    const RECT& at = layout.controls[i];
    const SettingField* field = FindSettingField(row.id);
    switch (row.kind) {
      case FIELD_LABEL:
      case HEADING:
        made[i] = AddLabel(window, row.text, at);
        break;
      case SEPARATOR:
        made[i] = AddSeparator(window, at);
        break;
      case NUMBER:
        made[i] = row.id == IDC_CLEAN_HOUR ? AddHourEdit(window, at, settings.clean_hour)
                                           : AddNumberEdit(window, row.id, at, settings.*field->number);
        break;
      case CHECK:
        made[i] = AddCheckbox(window, row.id, row.text, at, settings.*field->flag);
        break;
      case LIST:
        made[i] = AddControl(window, WS_EX_CLIENTEDGE, L"EDIT", settings.exclude_list, kListStyle, at, row.id);
        if (made[i]) SendMessageW(made[i], EM_LIMITTEXT, kExcludeListLength, 0);
        break;
      case BUTTON:
        made[i] = AddControl(window, 0, L"BUTTON", row.text, row.id == IDC_OK ? kDefaultButtonStyle : kButtonStyle,
                             at, row.id);
        break;
    }
    if (!made[i]) return false;
  }
  return true;
}

// "Segoe UI" 9 pt at the window's DPI.
HFONT CreateSettingsFont(UINT dpi) {
  return CreateFontW(-MulDiv(9, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                     L"Segoe UI");
}

// Sizes the window to hold `layout` at `dpi`, keeping its top-left corner,
// or centred on its monitor when `centre`; always inside the work area as
// far as it fits.
void FitSettingsWindow(HWND window, SIZE client, UINT dpi, POINT top_left, bool centre) {
  RECT frame = {0, 0, client.cx, client.cy};
  AdjustWindowRectForDpi(frame, kWindowStyle, kWindowExStyle, dpi);
  SIZE size = SettingsWindowSize(frame, dpi);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    if (centre) {
      top_left.x = monitor.rcMonitor.left + (monitor.rcMonitor.right - monitor.rcMonitor.left - size.cx) / 2;
      top_left.y = monitor.rcMonitor.top + (monitor.rcMonitor.bottom - monitor.rcMonitor.top - size.cy) / 2;
    }
    const RECT& work = monitor.rcWork;
    if (top_left.x + size.cx > work.right) top_left.x = work.right - size.cx;
    if (top_left.y + size.cy > work.bottom) top_left.y = work.bottom - size.cy;
    if (top_left.x < work.left) top_left.x = work.left;
    if (top_left.y < work.top) top_left.y = work.top;
  }
  SetWindowPos(window, NULL, top_left.x, top_left.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CALLBACK SetFontOnChild(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}

// OK: every field clamped and stored straight into the live record, then
// handed on to be kept and applied. No message is dispatched in between, so
// nobody sees a half-stored record.
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
  if (context.stored) context.stored(settings, was_starting_with_windows);
  context.saved = true;
}

// Registered at each showing: a class already there is refused and stays.
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

SIZE SettingsWindowSize(const RECT& frame_for_layout, UINT dpi) {
  // 350 x 632 unless the frame leaves too little room inside: OK and Cancel
  // end 612 pixels down, below the client area of 632 with any caption.
  SIZE size = {ScaleForDpi(kWidth, dpi), ScaleForDpi(kHeight, dpi)};
  int width = frame_for_layout.right - frame_for_layout.left;
  int height = frame_for_layout.bottom - frame_for_layout.top;
  if (width > size.cx) size.cx = width;
  if (height > size.cy) size.cy = height;
  return size;
}

const wchar_t* SettingsControlText(int index) {
  return index >= 0 && index < SETTINGS_CONTROL_COUNT ? kControls[index].text : L"";
}

SettingsLayout LayOutSettings(UINT dpi, const SettingsTextMetrics& text) {
  auto scale = [dpi](int value) { return ScaleForDpi(value, dpi); };
  auto larger = [](int a, int b) { return a > b ? a : b; };
  // Edges are scaled, not sizes, so that rows that touch still touch.
  auto width_of = [&](const ControlRow& row) { return scale(row.x + row.width) - scale(row.x); };
  auto height_of = [&](const ControlRow& row) { return scale(row.y + row.height) - scale(row.y); };
  const int margin = scale(kMargin);

  // Columns. Every figure is the scaled one plus what the text needs
  // beyond it, so text that fits gives the scaled table to the pixel.
  const int label_base = width_of(kControls[1]);
  int label_width = label_base;
  int button_need = 0;
  int button_base = width_of(kControls[SETTINGS_CONTROL_COUNT - 1]);
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const ControlRow& row = kControls[i];
    if (row.kind == FIELD_LABEL) label_width = larger(label_width, text.width[i]);
    if (row.kind == BUTTON) {
      button_need = larger(button_need, text.width[i] + scale(kButtonTextPadding));
      button_base = width_of(row) < button_base ? width_of(row) : button_base;
    }
  }
  // Wider field labels push the number fields, and the content's right
  // edge, by as much as they grew; a check box whose text needs more than
  // its half of a row pushes the one beside it.
  const int label_growth = label_width - label_base;
  int check_growth = 0;
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    if (IsLeftOfPair(i)) check_growth = larger(check_growth, text.check_width + text.width[i] - width_of(kControls[i]));
  }
  int right = scale(kContentRight) + label_growth;
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const ControlRow& row = kControls[i];
    if (row.kind == HEADING) right = larger(right, margin + text.width[i]);
    if (row.kind == CHECK && !IsLeftOfPair(i)) {
      int x = scale(row.x) + (IsRightOfPair(i) ? check_growth : 0);
      right = larger(right, x + larger(width_of(row), text.check_width + text.width[i]));
    }
  }
  const int wider = right - scale(kContentRight);
  const int button_growth = button_need > button_base ? button_need - button_base : 0;

  SettingsLayout layout = {};
  // Rows: text taller than its row grows the row and moves the rest down.
  int shift = 0;
  int row_growth = 0;
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const ControlRow& row = kControls[i];
    bool same_row = row.kind == NUMBER || row.id == IDC_CANCEL || IsRightOfPair(i);
    if (!same_row) {
      shift += row_growth;
      row_growth = 0;
    }
    int x = scale(row.x);
    int width = width_of(row);
    int height = height_of(row);
    int needed = 0;
    switch (row.kind) {
      case FIELD_LABEL:
        width = label_width;
        needed = text.height;
        break;
      case HEADING:
        width = larger(width, text.width[i]);
        needed = text.height;
        break;
      case SEPARATOR:
        width += wider;
        break;
      case NUMBER:
        x += label_growth;
        needed = text.height + scale(kEditPadding);
        break;
      case CHECK:
        if (IsRightOfPair(i)) x += check_growth;
        width = IsLeftOfPair(i) ? width + check_growth : larger(width, text.check_width + text.width[i]);
        needed = text.height;
        break;
      case LIST:
        width += wider;
        needed = text.height + scale(kEditPadding);
        break;
      case BUTTON:
        // Right-aligned under the content, Cancel last.
        width += button_growth;
        x += wider - (row.id == IDC_CANCEL ? button_growth : 2 * button_growth);
        needed = text.height + scale(kButtonPadding);
        break;
    }
    int growth = needed > height ? needed - height : 0;
    row_growth = larger(row_growth, growth);
    int y = scale(row.y) + shift;
    layout.controls[i] = {x, y, x + width, y + height + growth};
  }
  shift += row_growth;
  layout.client = {scale(kContentRight + kMargin) + wider, scale(kLayoutBottom + kMargin) + shift};
  return layout;
}

SettingsTextMetrics MeasureSettingsText(HWND window, HFONT font, UINT dpi) {
  SettingsTextMetrics text = {};
  HDC dc = GetDC(window);
  if (!dc) return text;
  HGDIOBJ previous = SelectObject(dc, font);
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    SIZE extent = {};
    const wchar_t* label = kControls[i].text;
    if (label[0] && GetTextExtentPoint32W(dc, label, static_cast<int>(wcslen(label)), &extent)) text.width[i] = extent.cx;
  }
  TEXTMETRICW metrics = {};
  if (GetTextMetricsW(dc, &metrics)) text.height = metrics.tmHeight;
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  text.check_width = SystemMetricForDpi(SM_CXMENUCHECK, dpi) + ScaleForDpi(6, dpi);
  return text;
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

bool ShowSettingsWindow(HWND owner, Settings& settings, SettingsStored stored) {
  RegisterSettingsClass();
  SettingsWindowContext context = {};
  context.settings = &settings;
  context.stored = stored;
  // Made at the system DPI in the middle of the primary screen; once it
  // knows its own DPI and text, it is sized to fit them.
  UINT dpi = SystemDpi();
  RECT frame = {0, 0, ScaleForDpi(kContentRight + kMargin, dpi), ScaleForDpi(kLayoutBottom + kMargin, dpi)};
  AdjustWindowRectForDpi(frame, kWindowStyle, kWindowExStyle, dpi);
  SIZE size = SettingsWindowSize(frame, dpi);
  int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
  HWND window = CreateWindowExW(kWindowExStyle, kSettingsClass, kSettingsTitle, kWindowStyle, x, y, size.cx, size.cy,
                                owner, NULL, GetModuleHandleW(NULL), &context);
  if (!window) return false;
  FitSettingsWindow(window, context.client, WindowDpi(window), {0, 0}, true);
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
      UINT dpi = WindowDpi(window);
      context->font = CreateSettingsFont(dpi);
      SettingsLayout layout = LayOutSettings(dpi, MeasureSettingsText(window, context->font, dpi));
      if (!AddControls(window, *context->settings, layout, context->controls)) return -1;
      EnumChildWindows(window, SetFontOnChild, reinterpret_cast<LPARAM>(context->font));
      SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(context->font), TRUE);
      context->client = layout.client;
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the font and every control
      // follow, and the window takes the place Windows suggests.
      if (!context || !context->font) break;
      UINT dpi = HIWORD(wParam);
      HFONT font = CreateSettingsFont(dpi);
      if (!font) return 0;
      SettingsLayout layout = LayOutSettings(dpi, MeasureSettingsText(window, font, dpi));
      for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
        const RECT& at = layout.controls[i];
        SetWindowPos(context->controls[i], NULL, at.left, at.top, at.right - at.left, at.bottom - at.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      }
      EnumChildWindows(window, SetFontOnChild, reinterpret_cast<LPARAM>(font));
      SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      DeleteObject(context->font);
      context->font = font;
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      context->client = layout.client;
      FitSettingsWindow(window, layout.client, dpi, {suggested->left, suggested->top}, false);
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
