// The settings window: every field of the live settings record in one
// window of two columns that behaves as a dialog, with a message loop of its
// own that keeps the whole program going. Its controls are made where the
// layout places them (settings_layout.cpp), scrolled, laid out again at a
// new DPI or text size, and given the focus as a dialog gives it.
#include "settings/settings.h"

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

bool IsField(SettingsRowKind kind) {
  return kind == ROW_NUMBER || kind == ROW_CHECK || kind == ROW_LIST || kind == ROW_CHOICE;
}

// A drop-down list's window is as tall as its list when dropped.
constexpr int kChoiceDroppedRows = 6;

int ChoiceControlHeight(const RECT& at) { return (at.bottom - at.top) * kChoiceDroppedRows; }

SettingsRowKind KindOfControl(int id) {
  for (const SettingsRow& row : kSettingsRows) {
    if (row.id == id) return row.kind;
  }
  return ROW_LABEL;
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
    const SettingsRow& row = kSettingsRows[i];
    const RECT& at = layout.controls[i];
    const SettingField* field = FindSettingField(row.id);
    wchar_t text[SETTINGS_TEXT_CAPACITY];
    SettingsControlText(i, text);
    switch (row.kind) {
      case ROW_LABEL:
      case ROW_HEADING:
        made[i] = AddLabel(window, text, at);
        break;
      case ROW_SEPARATOR:
        made[i] = AddSeparator(window, at);
        break;
      case ROW_NUMBER:
        made[i] = row.id == IDC_CLEAN_HOUR ? AddHourEdit(window, at, settings.clean_hour)
                                           : AddNumberEdit(window, row.id, at, settings.*field->number);
        break;
      case ROW_CHECK:
        made[i] = AddCheckbox(window, row.id, text, at, settings.*field->flag);
        break;
      case ROW_CHOICE:
        made[i] = AddChoice(window, row.id, at,
                            row.id == IDC_LANGUAGE ? LanguageChoice(settings.language) : settings.*field->number);
        break;
      case ROW_LIST:
        made[i] = AddControl(window, WS_EX_CLIENTEDGE, L"EDIT", settings.exclude_list, kListStyle, at, row.id);
        if (made[i]) SendMessageW(made[i], EM_LIMITTEXT, kExcludeListLength, 0);
        break;
      case ROW_BUTTON:
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
    int height = kSettingsRows[i].kind == ROW_CHOICE ? ChoiceControlHeight(at) : at.bottom - at.top;
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
  const int margin = ScaleForDpi(SETTINGS_MARGIN, WindowDpi(window));
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
    if (IsField(kSettingsRows[i].kind)) return context.controls[i];
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
    if (field.number && KindOfControl(field.control) == ROW_CHOICE) {
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
                                            ScaleForDpi(SETTINGS_LINE_HEIGHT, WindowDpi(window)), info.nTrackPos));
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
