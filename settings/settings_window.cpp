// The settings window: every field of the live settings record in one
// window of two columns that behaves as a dialog, with a message loop of its
// own that keeps the whole program going.
#include "settings/settings.h"

#include "clean/memory_use.h"
#include "common/dpi.h"
#include "common/text.h"
#include "settings/settings_internal.h"

namespace {

const wchar_t kSettingsClass[] = L"QuillmereSettings";
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
// Windows 10 1703 on, to a window that is per-monitor aware (version 2).
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

// Labels underline their access key; the heading that shows an ampersand
// writes it twice. (SS_NOPREFIX would not do: Wine's dialog manager, at
// least, takes a lone one for an access key whatever the style.)
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kSeparatorStyle = WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ;
constexpr DWORD kNumberStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_RIGHT;
// No ES_NUMBER: it refuses the minus sign of -1 (off); the field filters its
// typing itself instead.
constexpr DWORD kHourStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_RIGHT;
constexpr DWORD kCheckboxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kChoiceStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
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
  SettingsWindowState* state;
  Settings* settings;
  SettingsStored stored;
  bool saved;
  HFONT font;  // owned by the window, deleted when it is destroyed
  HWND controls[SETTINGS_CONTROL_COUNT];  // in creation order
  SIZE client;                            // what the layout needs
  HWND focus;  // the control that had the focus when the window was last left
  bool opened;  // placed and shown: from then on a move to another monitor goes where Windows says
  bool scrolls;  // shorter than its layout, with a vertical scroll bar
  int scroll;    // how far the controls are scrolled up
  HWND focus_in_view;  // the focused control last scrolled into view
};

LRESULT CALLBACK SettingsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A CHOICE is a drop-down list under its label, as wide as its column, or
// beside it on the buttons' row; its value is the index of the chosen item,
// and its text width its widest item's (ChoiceItemText), which the column or
// the row makes room for.
enum ControlKind { HEADING, LABEL, SEPARATOR, NUMBER, CHECK, LIST, BUTTON, CHOICE };
// Down the left or the right column, or across both below them.
enum ControlColumn { LEFT, RIGHT, ACROSS };

struct ControlRow {
  UINT text;  // its string's id; 0: none
  ControlKind kind;
  int id;
  ControlColumn column;
  // On the row of the control before it: a field after its label, the
  // second check box of a pair, Cancel after OK.
  bool beside;
};

// The controls in creation order, which is the Tab order and the order the
// window reads in: the left column top to bottom, the right one, then what
// runs across, then the language, OK and Cancel on one row, where the
// language takes no height of its own. A label comes just before its field,
// so that its access key moves the focus there. A row is added with one line
// (two for a label and its field); the layout makes room for it.
const ControlRow kControls[SETTINGS_CONTROL_COUNT] = {
    {IDS_TRIGGERS, HEADING, 0, LEFT, false},
    {IDS_THRESHOLD, LABEL, 0, LEFT, false},
    {0, NUMBER, IDC_THRESHOLD, LEFT, true},
    {IDS_INTERVAL, LABEL, 0, LEFT, false},
    {0, NUMBER, IDC_INTERVAL, LEFT, true},
    {IDS_IDLE, LABEL, 0, LEFT, false},
    {0, NUMBER, IDC_IDLE, LEFT, true},
    {IDS_BOOT_DELAY, LABEL, 0, LEFT, false},
    {0, NUMBER, IDC_BOOT_DELAY, LEFT, true},
    {IDS_FREE_BELOW, LABEL, 0, LEFT, false},
    {0, NUMBER, IDC_FREE_BELOW_MB, LEFT, true},
    {0, SEPARATOR, 0, LEFT, false},
    {IDS_OPTIONS, HEADING, 0, LEFT, false},
    {IDS_AUTO_CLEAN, CHECK, IDC_AUTO_CLEAN, LEFT, false},
    {IDS_SILENT, CHECK, IDC_SILENT, LEFT, false},
    {IDS_START_WITH_WINDOWS, CHECK, IDC_START_WITH_WINDOWS, LEFT, false},
    {IDS_HOLD_WHEN_BUSY, CHECK, IDC_HOLD_WHEN_BUSY, LEFT, false},
    {IDS_SCHEDULE, HEADING, 0, RIGHT, false},
    {IDS_CLEAN_HOUR, LABEL, 0, RIGHT, false},
    {0, NUMBER, IDC_CLEAN_HOUR, RIGHT, true},
    {IDS_CLEAN_MINUTE, LABEL, 0, RIGHT, false},
    {0, NUMBER, IDC_CLEAN_MINUTE, RIGHT, true},
    {IDS_NOTIFY_MIN, LABEL, 0, RIGHT, false},
    {0, NUMBER, IDC_NOTIFY_MIN_MB, RIGHT, true},
    {IDS_COMMIT_WARN, LABEL, 0, RIGHT, false},
    {0, NUMBER, IDC_COMMIT_WARN, RIGHT, true},
    {IDS_SHOW_STATUS, CHECK, IDC_SHOW_STATUS, RIGHT, false},
    {0, SEPARATOR, 0, RIGHT, false},
    {IDS_CLEAN_STEPS, HEADING, 0, RIGHT, false},
    {IDS_TRIM_WORKING_SETS, CHECK, IDC_TRIM_WORKING_SETS, RIGHT, false},
    {IDS_FLUSH_MODIFIED, CHECK, IDC_FLUSH_MODIFIED, RIGHT, true},
    {IDS_KEEP_FOREGROUND, CHECK, IDC_KEEP_FOREGROUND, RIGHT, false},
    {IDS_FLUSH_FILE_CACHE, CHECK, IDC_FLUSH_FILE_CACHE, RIGHT, false},
    {IDS_PURGE_STANDBY, LABEL, 0, RIGHT, false},
    {0, CHOICE, IDC_PURGE_STANDBY, RIGHT, false},
    {0, SEPARATOR, 0, ACROSS, false},
    {IDS_EXCLUSION, HEADING, 0, ACROSS, false},
    {IDS_EXCLUDE_LIST, LABEL, 0, ACROSS, false},
    {0, LIST, IDC_EXCLUDE_LIST, ACROSS, false},
    {IDS_LANGUAGE, LABEL, 0, ACROSS, false},
    {0, CHOICE, IDC_LANGUAGE, ACROSS, true},
    {IDS_OK, BUTTON, IDC_OK, ACROSS, true},
    {IDS_CANCEL, BUTTON, IDC_CANCEL, ACROSS, true},
};

// 96-DPI figures of the layout.
constexpr int kMargin = 14;
constexpr int kColumnGap = 24;
constexpr int kLabelWidth = 200;  // a field's label, at least
constexpr int kFieldGap = 6;      // between a label and its field
constexpr int kFieldWidth = 70;
constexpr int kPairGap = 8;       // between the check boxes of a pair
constexpr int kLineHeight = 18;   // a heading or label
constexpr int kFieldHeight = 22;
constexpr int kCheckHeight = 20;
constexpr int kSeparatorHeight = 2;
constexpr int kButtonWidth = 76;
constexpr int kButtonHeight = 28;
constexpr int kButtonGap = 6;
constexpr int kEditPadding = 4;  // an edit's sunken border around its text
constexpr int kButtonPadding = 8;
constexpr int kButtonTextPadding = 16;

// The space above a row, by the kind of its first control; none above the
// first row of a column.
int SpaceAbove(ControlKind kind) {
  switch (kind) {
    case SEPARATOR:
      return 8;
    case CHECK:
      return 4;
    case LIST:
    case CHOICE:
      return 2;  // under its label
    case BUTTON:
      return 14;
    default:
      return 6;
  }
}

// A label with its number field beside it, and a check box with another.
bool HasFieldBeside(int i) {
  return kControls[i].kind == LABEL && i + 1 < SETTINGS_CONTROL_COUNT && kControls[i + 1].beside &&
         kControls[i + 1].kind == NUMBER;
}
// A label that starts the buttons' row with its drop-down list: the two at
// the left, the buttons at the right.
bool OpensButtonRow(int i) {
  return kControls[i].kind == LABEL && i + 1 < SETTINGS_CONTROL_COUNT && kControls[i + 1].beside &&
         kControls[i + 1].kind == CHOICE;
}
bool StartsPair(int i) {
  return kControls[i].kind == CHECK && i + 1 < SETTINGS_CONTROL_COUNT && kControls[i + 1].beside;
}

bool IsField(ControlKind kind) { return kind == NUMBER || kind == CHECK || kind == LIST || kind == CHOICE; }

// The standby purge's items, in the order of their values (StandbyPurge).
const UINT kStandbyChoices[] = {IDS_STANDBY_NONE, IDS_STANDBY_WHOLE, IDS_STANDBY_LOW};
// A drop-down list's window is as tall as its list when dropped.
constexpr int kChoiceDroppedRows = 6;

int ChoiceControlHeight(const RECT& at) { return (at.bottom - at.top) * kChoiceDroppedRows; }

ControlKind KindOfControl(int id) {
  for (const ControlRow& row : kControls) {
    if (row.id == id) return row.kind;
  }
  return LABEL;
}

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

// The value chooses the item; one outside the items shows none chosen.
HWND AddChoice(HWND parent, int id, const RECT& at, int32_t value) {
  RECT dropped = at;
  dropped.bottom = at.top + ChoiceControlHeight(at);
  HWND box = AddControl(parent, 0, L"COMBOBOX", L"", kChoiceStyle, dropped, id);
  if (!box) return NULL;
  const int count = ChoiceItemCount(id);
  for (int item = 0; item < count; ++item) {
    wchar_t text[SETTINGS_TEXT_CAPACITY];
    ChoiceItemText(id, item, text);
    if (SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)) < 0) {
      DestroyWindow(box);
      return NULL;
    }
  }
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
  return box;
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
    wchar_t text[SETTINGS_TEXT_CAPACITY];
    SettingsControlText(i, text);
    switch (row.kind) {
      case LABEL:
      case HEADING:
        made[i] = AddLabel(window, text, at);
        break;
      case SEPARATOR:
        made[i] = AddSeparator(window, at);
        break;
      case NUMBER:
        made[i] = row.id == IDC_CLEAN_HOUR ? AddHourEdit(window, at, settings.clean_hour)
                                           : AddNumberEdit(window, row.id, at, settings.*field->number);
        break;
      case CHECK:
        made[i] = AddCheckbox(window, row.id, text, at, settings.*field->flag);
        break;
      case CHOICE:
        made[i] = AddChoice(window, row.id, at,
                            row.id == IDC_LANGUAGE ? LanguageChoice(settings.language) : settings.*field->number);
        break;
      case LIST:
        made[i] = AddControl(window, WS_EX_CLIENTEDGE, L"EDIT", settings.exclude_list, kListStyle, at, row.id);
        if (made[i]) SendMessageW(made[i], EM_LIMITTEXT, kExcludeListLength, 0);
        break;
      case BUTTON:
        made[i] = AddControl(window, 0, L"BUTTON", text, row.id == IDC_OK ? kDefaultButtonStyle : kButtonStyle,
                             at, row.id);
        break;
    }
    if (!made[i]) return false;
  }
  return true;
}

BOOL CALLBACK SetFontOnChild(HWND child, LPARAM font) {
  SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}

// The message font at the window's DPI, the user's text size included.
HFONT CreateSettingsFont(UINT dpi) {
  LOGFONTW message = {};
  LOGFONTW font = SettingsLogFont(MessageFontForDpi(message, dpi) ? &message : nullptr, dpi);
  return CreateFontIndirectW(&font);
}

bool SameFont(const LOGFONTW& a, const LOGFONTW& b) {
  return a.lfHeight == b.lfHeight && a.lfWidth == b.lfWidth && a.lfWeight == b.lfWeight && a.lfItalic == b.lfItalic &&
         a.lfCharSet == b.lfCharSet && a.lfQuality == b.lfQuality && wcsncmp(a.lfFaceName, b.lfFaceName, LF_FACESIZE) == 0;
}

// The scroll bar's range and page for the client area of now; Windows hides
// it when the page holds the whole layout. The controls follow a position
// that the new page no longer allows.
void UpdateSettingsScroll(HWND window, SettingsWindowContext& context) {
  RECT client = {};
  GetClientRect(window, &client);
  const int target = ScrollToShow(context.scroll, client.bottom, context.client.cy, context.scroll, context.scroll);
  if (target != context.scroll) {
    ScrollWindowEx(window, 0, context.scroll - target, NULL, NULL, NULL, NULL,
                   SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
    context.scroll = target;
  }
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMax = context.client.cy - 1;
  info.nPage = static_cast<UINT>(client.bottom > 0 ? client.bottom : 0);
  info.nPos = context.scroll;
  SetScrollInfo(window, SB_VERT, &info, TRUE);
}

void ScrollSettingsTo(HWND window, SettingsWindowContext& context, int position) {
  if (position == context.scroll) return;
  ScrollWindowEx(window, 0, context.scroll - position, NULL, NULL, NULL, NULL,
                 SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
  context.scroll = position;
  SetScrollPos(window, SB_VERT, position, TRUE);
}

// Sizes the window to hold a client area of `client` at `dpi` (or as much
// of it as the work area holds, with a scroll bar for the rest), keeping
// its top-left corner, or centred in its monitor's work area when `centre`.
void FitSettingsWindow(HWND window, SettingsWindowContext& context, UINT dpi, POINT top_left, bool centre) {
  SIZE size = SettingsWindowSize(context.client, dpi);
  SettingsPlace place = {{top_left.x, top_left.y, top_left.x + size.cx, top_left.y + size.cy}, false};
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
    place = PlaceSettingsWindow(size, monitor.rcWork, top_left, centre, SystemMetricForDpi(SM_CXVSCROLL, dpi));
  context.scrolls = place.scrolls;
  SetWindowPos(window, NULL, place.window.left, place.window.top, place.window.right - place.window.left,
               place.window.bottom - place.window.top, SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateSettingsScroll(window, context);
}

// New font and layout for `dpi` and the text size of now, every control
// moved to its place (at the scroll position of now) and given the font.
// False, with nothing changed, when the font cannot be made.
bool LayOutSettingsAgain(HWND window, SettingsWindowContext& context, UINT dpi) {
  HFONT font = CreateSettingsFont(dpi);
  if (!font) return false;
  SettingsLayout layout = LayOutSettings(dpi, MeasureSettingsText(window, font, dpi));
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const RECT& at = layout.controls[i];
    int height = kControls[i].kind == CHOICE ? ChoiceControlHeight(at) : at.bottom - at.top;
    SetWindowPos(context.controls[i], NULL, at.left, at.top - context.scroll, at.right - at.left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  EnumChildWindows(window, SetFontOnChild, reinterpret_cast<LPARAM>(font));
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  DeleteObject(context.font);
  context.font = font;
  context.client = layout.client;
  return true;
}

// A control that took the focus (by Tab or an access key) scrolled into
// view, with the margin around it.
void ShowFocusedControl(HWND window, SettingsWindowContext& context) {
  HWND focus = GetFocus();
  if (focus == context.focus_in_view) return;
  context.focus_in_view = focus;
  if (!context.scrolls || !focus || !IsChild(window, focus)) return;
  RECT at = {}, client = {};
  GetWindowRect(focus, &at);
  MapWindowPoints(NULL, window, reinterpret_cast<POINT*>(&at), 2);
  GetClientRect(window, &client);
  const int margin = ScaleForDpi(kMargin, WindowDpi(window));
  ScrollSettingsTo(window, context,
                   ScrollToShow(context.scroll, client.bottom, context.client.cy,
                                at.top + context.scroll - margin, at.bottom + context.scroll + margin));
}

// Gives a control the focus as the dialog manager does: a field's text
// selected whole, so that typing replaces it.
void FocusControl(HWND control) {
  SetFocus(control);
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
}

HWND FirstField(const SettingsWindowContext& context) {
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    if (IsField(kControls[i].kind)) return context.controls[i];
  }
  return NULL;
}


// OK: every field clamped and stored straight into the live record, then
// handed on to be kept and applied. No message is dispatched in between, so
// nobody sees a half-stored record.
void StoreFields(HWND window, SettingsWindowContext& context) {
  Settings& settings = *context.settings;
  bool was_starting_with_windows = settings.start_with_windows;
  for (const SettingField& field : kSettingFields) {
    if (!field.control) continue;
    if (field.number && KindOfControl(field.control) == CHOICE) {
      // Nothing chosen (CB_ERR) keeps the value.
      LRESULT chosen = SendDlgItemMessageW(window, field.control, CB_GETCURSEL, 0, 0);
      if (chosen != CB_ERR) settings.*field.number = ClampSettingsField(field.control, static_cast<int32_t>(chosen));
    } else if (field.number) {
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
  // Nothing chosen (CB_ERR) keeps the language.
  LRESULT language = SendDlgItemMessageW(window, IDC_LANGUAGE, CB_GETCURSEL, 0, 0);
  if (language != CB_ERR) {
    ZeroMemory(settings.language, sizeof settings.language);
    CopyBounded(settings.language, LANGUAGE_NAME_CAPACITY, LanguageOfChoice(static_cast<int>(language)));
  }
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

SIZE SettingsWindowSize(SIZE client, UINT dpi) {
  RECT frame = {0, 0, client.cx, client.cy};
  AdjustWindowRectForDpi(frame, kWindowStyle, kWindowExStyle, dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// No face of its own per language: the message font is already the one
// Windows chose for its display language ("Yu Gothic UI" on Japanese Windows,
// "Microsoft YaHei UI" on Chinese), and where the user chose a language other
// than Windows', GDI's font linking draws its characters from the fonts
// linked to Segoe UI.
LOGFONTW SettingsLogFont(const LOGFONTW* message, UINT dpi) {
  const int nine_point = MulDiv(9, static_cast<int>(dpi), 72);
  if (message && message->lfHeight != 0 && message->lfFaceName[0]) {
    LOGFONTW font = *message;
    font.lfFaceName[LF_FACESIZE - 1] = 0;
    const int largest = 4 * nine_point;
    if (font.lfHeight > largest) font.lfHeight = largest;
    if (font.lfHeight < -largest) font.lfHeight = -largest;
    return font;
  }
  LOGFONTW font = {};
  font.lfHeight = -nine_point;
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = CLEARTYPE_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  CopyBounded(font.lfFaceName, LF_FACESIZE, L"Segoe UI");
  return font;
}

SettingsPlace PlaceSettingsWindow(SIZE outer, const RECT& work, POINT top_left, bool centre, int scroll_bar) {
  SettingsPlace place = {};
  const LONG work_height = work.bottom - work.top;
  if (outer.cy > work_height && work_height > 0) {
    outer.cy = work_height;
    outer.cx += scroll_bar;
    place.scrolls = true;
  }
  if (centre) {
    top_left.x = work.left + (work.right - work.left - outer.cx) / 2;
    top_left.y = work.top + (work_height - outer.cy) / 2;
  }
  if (top_left.x + outer.cx > work.right) top_left.x = work.right - outer.cx;
  if (top_left.y + outer.cy > work.bottom) top_left.y = work.bottom - outer.cy;
  if (top_left.x < work.left) top_left.x = work.left;
  if (top_left.y < work.top) top_left.y = work.top;
  place.window = {top_left.x, top_left.y, top_left.x + outer.cx, top_left.y + outer.cy};
  return place;
}

int ScrollToShow(int position, int page, int range, int top, int bottom) {
  if (top < position) position = top;
  else if (bottom > position + page) position = bottom - page < top ? bottom - page : top;
  const int last = range - page > 0 ? range - page : 0;
  if (position > last) position = last;
  if (position < 0) position = 0;
  return position;
}

int SettingsScrollTarget(int request, int lines, int position, int page, int range, int line, int track) {
  int target = position;
  switch (request) {
    case SB_LINEUP: target -= line; break;
    case SB_LINEDOWN: target += line; break;
    case SB_PAGEUP: target -= page; break;
    case SB_PAGEDOWN: target += page; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: target = track; break;
    case SB_TOP: target = 0; break;
    case SB_BOTTOM: target = range; break;
    case SB_ENDSCROLL: target -= lines * line; break;
    default: break;
  }
  return ScrollToShow(target, page, range, target, target);
}

void SettingsControlText(int index, wchar_t (&text)[SETTINGS_TEXT_CAPACITY]) {
  text[0] = 0;
  if (index >= 0 && index < SETTINGS_CONTROL_COUNT && kControls[index].text) LoadText(kControls[index].text, text);
}

int ChoiceItemCount(int id) {
  switch (id) {
    case IDC_PURGE_STANDBY:
      return static_cast<int>(ARRAYSIZE(kStandbyChoices));
    case IDC_LANGUAGE:
      return 1 + LANGUAGE_COUNT;
    default:
      return 0;
  }
}

void ChoiceItemText(int id, int item, wchar_t (&text)[SETTINGS_TEXT_CAPACITY]) {
  text[0] = 0;
  if (item < 0 || item >= ChoiceItemCount(id)) return;
  if (id == IDC_PURGE_STANDBY) LoadText(kStandbyChoices[item], text);
  else if (item == 0) LoadText(IDS_LANGUAGE_WINDOWS, text);
  else CopyBounded(text, SETTINGS_TEXT_CAPACITY, kLanguages[item - 1].native_name);
}

int LanguageChoice(const wchar_t (&setting)[LANGUAGE_NAME_CAPACITY]) {
  wchar_t name[LANGUAGE_NAME_CAPACITY];
  CopyBounded(name, LANGUAGE_NAME_CAPACITY, setting);
  return FindLanguage(name) + 1;
}

const wchar_t* LanguageOfChoice(int item) {
  return item >= 1 && item <= LANGUAGE_COUNT ? kLanguages[item - 1].name : L"";
}

SettingsLayout LayOutSettings(UINT dpi, const SettingsTextMetrics& text) {
  auto scale = [dpi](int value) { return ScaleForDpi(value, dpi); };
  auto larger = [](int a, int b) { return a > b ? a : b; };
  auto smaller = [](int a, int b) { return a < b ? a : b; };
  const int margin = scale(kMargin);
  const int field_gap = scale(kFieldGap);
  const int field_width = scale(kFieldWidth);
  const int pair_gap = scale(kPairGap);
  const int button_gap = scale(kButtonGap);

  // Each row as tall as its fixed figure, or as its text needs.
  const int line = larger(scale(kLineHeight), text.height);
  const int field = larger(scale(kFieldHeight), text.height + scale(kEditPadding));
  const int field_row = larger(line, field);
  const int check = larger(scale(kCheckHeight), text.height);
  const int button = larger(scale(kButtonHeight), text.height + scale(kButtonPadding));
  const int button_row = larger(button, field_row);
  int button_width = scale(kButtonWidth);
  int buttons = 0;
  int lead = 0;  // what stands left of the buttons on their row, with the gap to them

  // Each column as wide as its widest row: the labels of its fields, which
  // line the fields up, a check box alone or a pair of them, a heading. What
  // runs across is as wide as both columns, or as its own rows need: the
  // buttons' row as its label, list and buttons side by side.
  int label_width[3] = {scale(kLabelWidth), scale(kLabelWidth), scale(kLabelWidth)};
  int first_of_pair[3] = {};
  int second_of_pair[3] = {};
  int column_width[3] = {};
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const ControlRow& row = kControls[i];
    int need = text.width[i] + (row.kind == CHECK ? text.check_width : 0);
    // A drop-down list: its widest item, the arrow beside it and the edges.
    if (row.kind == CHOICE) need += text.check_width + 2 * scale(kEditPadding);
    if (row.kind == BUTTON) {
      button_width = larger(button_width, text.width[i] + scale(kButtonTextPadding));
      ++buttons;
    } else if (OpensButtonRow(i)) {
      lead += need + field_gap;
    } else if (row.kind == CHOICE && row.beside) {
      lead += need + scale(kColumnGap);
    } else if (HasFieldBeside(i)) {
      label_width[row.column] = larger(label_width[row.column], need);
    } else if (StartsPair(i)) {
      first_of_pair[row.column] = larger(first_of_pair[row.column], need);
    } else if (row.kind == CHECK && row.beside) {
      second_of_pair[row.column] = larger(second_of_pair[row.column], need);
    } else if (row.kind != NUMBER) {
      column_width[row.column] = larger(column_width[row.column], need);
    }
  }
  for (int c = LEFT; c <= ACROSS; ++c) {
    column_width[c] = larger(column_width[c], label_width[c] + field_gap + field_width);
    if (first_of_pair[c]) column_width[c] = larger(column_width[c], first_of_pair[c] + pair_gap + second_of_pair[c]);
  }
  const int column_x[3] = {margin, margin + column_width[LEFT] + scale(kColumnGap), margin};
  const int content = larger(larger(column_x[RIGHT] + column_width[RIGHT] - margin, column_width[ACROSS]),
                             lead + buttons * button_width + (buttons - 1) * button_gap);
  const int width_of[3] = {column_width[LEFT], column_width[RIGHT], content};

  // Rows, top to bottom in each column; what runs across starts below both.
  SettingsLayout layout = {};
  int next_y[3] = {margin, margin, 0};
  bool started[3] = {};
  int top = 0;
  int row_height = 0;
  int bottom = margin;
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const ControlRow& row = kControls[i];
    const int c = row.column;
    const int x = column_x[c];
    const int width = width_of[c];
    int height = line;
    switch (row.kind) {
      case LABEL:
        if (HasFieldBeside(i)) height = field_row;
        if (OpensButtonRow(i)) height = button_row;
        break;
      case SEPARATOR:
        height = larger(1, scale(kSeparatorHeight));
        break;
      case NUMBER:
      case LIST:
      case CHOICE:
        height = field;
        break;
      case CHECK:
        height = check;
        break;
      case BUTTON:
        height = button;
        break;
      case HEADING:
        break;
    }
    if (!row.beside) {
      if (c == ACROSS && !started[ACROSS]) next_y[ACROSS] = larger(next_y[LEFT], next_y[RIGHT]);
      top = next_y[c] + (started[c] || c == ACROSS ? scale(SpaceAbove(OpensButtonRow(i) ? BUTTON : row.kind)) : 0);
      row_height = height;
      next_y[c] = top + height;
      started[c] = true;
    }
    RECT& at = layout.controls[i];
    switch (row.kind) {
      case LABEL:
        if (HasFieldBeside(i)) {
          // In the middle of its field's row, as wide as every label there.
          int label_top = top + (field_row - line) / 2;
          at = {x, label_top, x + label_width[c], label_top + line};
        } else if (OpensButtonRow(i)) {
          // At the left of the buttons' row, in its middle.
          int label_top = top + (row_height - line) / 2;
          at = {x, label_top, x + text.width[i], label_top + line};
        } else {
          at = {x, top, x + width, top + line};
        }
        break;
      case NUMBER: {
        // Beside its label; the row is as tall as the taller of the two.
        int left = x + label_width[c] + field_gap;
        int field_top = top + (field_row - field) / 2;
        at = {left, field_top, left + field_width, field_top + field};
        break;
      }
      case CHECK: {
        // The second of a pair starts halfway across the column, or past
        // the first's text when that needs more.
        int second = x + larger(first_of_pair[c] + pair_gap, smaller(width / 2, width - second_of_pair[c]));
        if (StartsPair(i)) at = {x, top, second - pair_gap, top + check};
        else if (row.beside) at = {second, top, x + width, top + check};
        else at = {x, top, x + width, top + check};
        break;
      }
      case BUTTON: {
        // Right-aligned, Cancel last.
        int after = 0;
        for (int j = i + 1; j < SETTINGS_CONTROL_COUNT && kControls[j].beside; ++j) ++after;
        int right = x + width - after * (button_width + button_gap);
        int button_top = top + (row_height - button) / 2;
        at = {right - button_width, button_top, right, button_top + button};
        break;
      }
      case CHOICE:
        if (row.beside) {
          // After its label, as wide as its widest item.
          int left = layout.controls[i - 1].right + field_gap;
          int field_top = top + (row_height - field) / 2;
          at = {left, field_top, left + text.width[i] + text.check_width + 2 * scale(kEditPadding), field_top + field};
        } else {
          at = {x, top, x + width, top + field};
        }
        break;
      default:
        at = {x, top, x + width, top + height};
        break;
    }
    bottom = larger(bottom, at.bottom);
  }
  layout.client = {margin + content + margin, bottom + margin};
  return layout;
}

SettingsTextMetrics MeasureSettingsText(HWND window, HFONT font, UINT dpi) {
  SettingsTextMetrics text = {};
  HDC dc = GetDC(window);
  if (!dc) return text;
  HGDIOBJ previous = SelectObject(dc, font);
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    // As the controls draw it: an access key's ampersand takes no room. A
    // drop-down list's items are drawn as they stand.
    const bool choice = kControls[i].kind == CHOICE;
    const int items = choice ? ChoiceItemCount(kControls[i].id) : 1;
    for (int item = 0; item < items; ++item) {
      wchar_t label[SETTINGS_TEXT_CAPACITY];
      if (choice) ChoiceItemText(kControls[i].id, item, label);
      else SettingsControlText(i, label);
      RECT extent = {};
      if (label[0] &&
          DrawTextW(dc, label, -1, &extent, DT_CALCRECT | DT_SINGLELINE | (choice ? DT_NOPREFIX : 0)) &&
          extent.right > text.width[i])
        text.width[i] = extent.right;
    }
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
    // 1 to 49 stores 50, the earliest warning offered, as the file reads them.
    if (id == IDC_COMMIT_WARN) return CommitWarnLevel(value);
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

bool ShowSettingsWindow(SettingsWindowState& state, HWND owner, Settings& settings, SettingsStored stored) {
  if (IsSettingsWindowOpen(state)) return false;
  RegisterSettingsClass();
  SettingsWindowContext context = {};
  context.state = &state;
  context.settings = &settings;
  context.stored = stored;
  // Made hidden on the primary monitor; once it knows its DPI and text, it
  // is sized to fit them in the middle of the work area.
  wchar_t title[SETTINGS_TEXT_CAPACITY];
  LoadText(IDS_SETTINGS_TITLE, title);
  HWND window = CreateWindowExW(kWindowExStyle, kSettingsClass, title, kWindowStyle, 0, 0, 0, 0, owner, NULL,
                                GetModuleHandleW(NULL), &context);
  if (!window) return false;
  state.window = window;
  FitSettingsWindow(window, context, WindowDpi(window), {0, 0}, true);
  context.opened = true;
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
    if (IsWindow(window)) ShowFocusedControl(window, context);
  }
  // A quit message or an error can end the loop with the window still open;
  // it must not outlive the context it points to.
  if (IsWindow(window)) DestroyWindow(window);
  if (fetched == 0) PostQuitMessage(static_cast<int>(message.wParam));
  if (owner && IsWindowVisible(owner)) EnableWindow(owner, TRUE);
  return context.saved;
}

bool IsSettingsWindowOpen(const SettingsWindowState& state) { return state.window != NULL; }

void BringSettingsWindowToFront(const SettingsWindowState& state) {
  if (!state.window) return;
  if (IsIconic(state.window)) ShowWindow(state.window, SW_RESTORE);
  SetForegroundWindow(state.window);
}

void SetSettingsWindowCheck(const SettingsWindowState& state, bool Settings::*flag, bool checked) {
  if (!state.window || !flag) return;
  for (const SettingField& field : kSettingFields) {
    if (field.flag == flag && field.control)
      SendDlgItemMessageW(state.window, field.control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
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
    case kGetDpiScaledSize: {
      // Asked before a move to a monitor of another scale: the size the
      // layout needs there, so that the rectangle Windows then suggests
      // holds it (a window that scrolls keeps Windows' height).
      if (!context || !context->font) break;
      UINT dpi = static_cast<UINT>(wParam);
      HFONT font = CreateSettingsFont(dpi);
      if (!font) break;
      SettingsLayout layout = LayOutSettings(dpi, MeasureSettingsText(window, font, dpi));
      DeleteObject(font);
      SIZE outer = SettingsWindowSize(layout.client, dpi);
      SIZE* size = reinterpret_cast<SIZE*>(lParam);
      size->cx = outer.cx + (context->scrolls ? SystemMetricForDpi(SM_CXVSCROLL, dpi) : 0);
      if (!context->scrolls) size->cy = outer.cy;
      return TRUE;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the font and every control
      // follow. While the user drags it, the window takes the rectangle
      // Windows suggests as it is: moved elsewhere, it would land back on
      // the other monitor. Only as it opens is it kept in the work area.
      if (!context || !context->font) break;
      UINT dpi = HIWORD(wParam);
      if (!LayOutSettingsAgain(window, *context, dpi)) return 0;
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      if (!context->opened) {
        FitSettingsWindow(window, *context, dpi, {suggested->left, suggested->top}, false);
        return 0;
      }
      SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      UpdateSettingsScroll(window, *context);
      return 0;
    }
    case WM_SETTINGCHANGE: {
      // The user's text size (or another font of the system) changed: laid
      // out again in the new font, where the window is, inside the work area.
      if (!context || !context->font) break;
      UINT dpi = WindowDpi(window);
      LOGFONTW now = {}, wanted = {};
      LOGFONTW message = {};
      wanted = SettingsLogFont(MessageFontForDpi(message, dpi) ? &message : nullptr, dpi);
      if (!GetObjectW(context->font, sizeof now, &now) || SameFont(now, wanted)) break;
      if (!LayOutSettingsAgain(window, *context, dpi)) break;
      RECT frame = {};
      GetWindowRect(window, &frame);
      FitSettingsWindow(window, *context, dpi, {frame.left, frame.top}, false);
      break;
    }
    case WM_VSCROLL:
    case WM_MOUSEWHEEL: {
      if (!context || !context->scrolls) break;
      RECT client = {};
      GetClientRect(window, &client);
      SCROLLINFO info = {};
      info.cbSize = sizeof info;
      info.fMask = SIF_TRACKPOS;
      GetScrollInfo(window, SB_VERT, &info);
      const int request = message == WM_VSCROLL ? LOWORD(wParam) : SB_ENDSCROLL;
      const int lines = message == WM_MOUSEWHEEL ? GET_WHEEL_DELTA_WPARAM(wParam) * 3 / WHEEL_DELTA : 0;
      ScrollSettingsTo(window, *context,
                       SettingsScrollTarget(request, lines, context->scroll, client.bottom, context->client.cy,
                                            ScaleForDpi(kLineHeight, WindowDpi(window)), info.nTrackPos));
      return 0;
    }
    case WM_ACTIVATE:
      // As a dialog: the focus is remembered when the user switches away and
      // given back on return; the first time, the first field has it.
      if (!context) break;
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) context->focus = focus;
      } else if (!HIWORD(wParam)) {
        if (context->focus && IsWindow(context->focus)) SetFocus(context->focus);
        else if (HWND first = FirstField(*context)) FocusControl(first);
      }
      return 0;
    case WM_NEXTDLGCTL: {
      // The dialog manager's move for a label's access key: to the label,
      // then on to the field after it.
      HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                   : GetNextDlgTabItem(window, GetFocus(), wParam != 0);
      if (target && IsChild(window, target)) FocusControl(target);
      return 0;
    }
    case DM_GETDEFID: {
      // Enter presses the focused button, and OK from anywhere else.
      HWND focus = GetFocus();
      int id = IDC_OK;
      if (focus && IsChild(window, focus) &&
          (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
        id = GetDlgCtrlID(focus);
      return MAKELRESULT(id, DC_HASDEFID);
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OK:  // also Enter, through DM_GETDEFID
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
      if (context) context->state->window = NULL;
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
