// The settings window, created for real and driven as a user would: keys
// and characters arrive through its own message loop.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/support.h"
#include "common/dpi.h"
#include "settings/settings_internal.h"

namespace {

// The settings window is opened and closed hundreds of times here.
::testing::Environment* const unmanaged = ::testing::AddGlobalTestEnvironment(new UnmanagedWineWindows);
// The notices need an icon to show from.
::testing::Environment* const anchor_icon = ::testing::AddGlobalTestEnvironment(new AnchorTrayIcon);

using Step = std::function<void(HWND window)>;

// The user's actions, played one per tick of a thread timer from inside the
// window's own loop.
struct Script {
  std::vector<Step> steps;
  size_t next = 0;
  int idle_ticks = 0;
  HWND window = nullptr;
  bool timed_out = false;
};
Script script;

BOOL CALLBACK FindSettingsWindowProc(HWND window, LPARAM found) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (wcscmp(name, L"QuillmereSettings") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND FindSettingsWindow() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindSettingsWindowProc, reinterpret_cast<LPARAM>(&found));
  return found;
}

void CALLBACK PlayNextStep(HWND, UINT, UINT_PTR, DWORD) {
  HWND window = FindSettingsWindow();
  if (!window) return;
  script.window = window;
  if (script.next < script.steps.size()) {
    script.steps[script.next++](window);
  } else if (++script.idle_ticks > 200) {
    script.timed_out = true;  // the script is done but the window stayed
    DestroyWindow(window);
  }
}

// Clears the field and types the text into it, one WM_CHAR per character
// through the loop, so the fields' own filters see every key.
Step Type(int id, const std::wstring& text) {
  return [id, text](HWND window) {
    HWND field = GetDlgItem(window, id);
    SendMessageW(field, EM_SETSEL, 0, -1);
    PostMessageW(field, WM_CHAR, VK_BACK, 1);
    for (wchar_t c : text) PostMessageW(field, WM_CHAR, c, 1);
  };
}

// Sets the text as a paste would, past any typing filter.
Step SetText(int id, const std::wstring& text) {
  return [id, text](HWND window) { SetDlgItemTextW(window, id, text.c_str()); };
}

// An item of a drop-down list chosen as the user does: the list tells its
// parent that the selection changed.
Step Choose(int id, int item) {
  return [id, item](HWND window) {
    HWND box = GetDlgItem(window, id);
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
  };
}

Step Click(int id) {
  return [id](HWND window) { SendMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0); };
}

// A key pressed with the focus in a field.
Step PressInField(int id, UINT key) {
  return [id, key](HWND window) {
    HWND field = GetDlgItem(window, id);
    SetFocus(field);
    PostMessageW(field, WM_KEYDOWN, key, 1);
  };
}

// A window as CreateWindowExW was asked to make it.
struct Created {
  std::wstring window_class;
  std::wstring text;
  DWORD style;
  DWORD ex_style;
  int x, y, width, height;
  INT_PTR id;
  HWND window = nullptr;
  HWND parent = nullptr;
};

// Records, through thread hooks, every window this thread creates and every
// font sent to one; can make one creation fail.
struct WatchCreation {
  static inline WatchCreation* active = nullptr;
  std::vector<Created> created;
  std::map<HWND, HFONT> fonts;
  INT_PTR refuse_id = -1;  // a control with this identifier cannot be made
  HHOOK cbt = nullptr;
  HHOOK calls = nullptr;

  WatchCreation() {
    active = this;
    cbt = SetWindowsHookExW(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
    calls = SetWindowsHookExW(WH_CALLWNDPROC, OnCall, nullptr, GetCurrentThreadId());
  }
  ~WatchCreation() { Stop(); }
  void Stop() {
    if (cbt) UnhookWindowsHookEx(cbt);
    if (calls) UnhookWindowsHookEx(calls);
    cbt = calls = nullptr;
    active = nullptr;
  }
  static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && active) {
      const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
      Created c;
      c.window_class = IS_INTRESOURCE(cs->lpszClass) ? L"#atom" : cs->lpszClass;
      for (wchar_t& ch : c.window_class) ch = towupper(ch);
      if (c.window_class == L"QUILLMERESETTINGS") c.window_class = L"QuillmereSettings";
      c.text = cs->lpszName ? cs->lpszName : L"";
      c.style = static_cast<DWORD>(cs->style);
      c.ex_style = cs->dwExStyle;
      c.x = cs->x;
      c.y = cs->y;
      c.width = cs->cx;
      c.height = cs->cy;
      c.id = reinterpret_cast<INT_PTR>(cs->hMenu);
      c.window = reinterpret_cast<HWND>(wParam);
      c.parent = cs->hwndParent;
      // The system's own: the input method's, and a drop-down list's list.
      if (c.window_class == L"IME" || c.window_class == L"COMBOLBOX") return CallNextHookEx(nullptr, code, wParam, lParam);
      active->created.push_back(c);
      if (c.id == active->refuse_id && c.parent) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static LRESULT CALLBACK OnCall(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && active && call->message == WM_SETFONT)
      active->fonts[call->hwnd] = reinterpret_cast<HFONT>(call->wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
};

// The controls in creation order, at 96 DPI with Segoe UI's text: the left
// column, the right one, what runs across, OK and Cancel.
constexpr DWORD label = 0x50000000, separator = 0x50000010, number = 0x50012002, hour = 0x50010002,
          check = 0x50010003, list = 0x50010080, default_button = 0x50010001, button = 0x50010000,
          choice = 0x50210003;
// A drop-down list is made as tall as its dropped list: six of its rows.
constexpr int kChoiceDroppedRows = 6;
const Created kControls[] = {
    {L"STATIC", L"Auto-clean Triggers", label, 0, 14, 14, 276, 18, 0},
    {L"STATIC", L"&RAM threshold (%):", label, 0, 14, 40, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 38, 70, 22, IDC_THRESHOLD},
    {L"STATIC", L"Clean &interval (min, 0=off):", label, 0, 14, 68, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 66, 70, 22, IDC_INTERVAL},
    {L"STATIC", L"Idle &timeout (min, 0=off):", label, 0, 14, 96, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 94, 70, 22, IDC_IDLE},
    {L"STATIC", L"&Boot delay (sec, 0=off):", label, 0, 14, 124, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 122, 70, 22, IDC_BOOT_DELAY},
    {L"STATIC", L"Clean below &free MB (0=off):", label, 0, 14, 152, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 150, 70, 22, IDC_FREE_BELOW_MB},
    {L"STATIC", L"", separator, 0, 14, 180, 276, 2, 0},
    {L"STATIC", L"Options", label, 0, 14, 188, 276, 18, 0},
    {L"BUTTON", L"Enable &auto-clean", check, 0, 14, 210, 276, 20, IDC_AUTO_CLEAN},
    {L"BUTTON", L"&Silent mode (no balloons)", check, 0, 14, 234, 276, 20, IDC_SILENT},
    {L"BUTTON", L"Start with &Windows", check, 0, 14, 258, 276, 20, IDC_START_WITH_WINDOWS},
    {L"BUTTON", L"Hold auto-clean durin&g full screen", check, 0, 14, 282, 276, 20, IDC_HOLD_WHEN_BUSY},
    {L"STATIC", L"Schedule && Notifications", label, 0, 314, 14, 276, 18, 0},
    {L"STATIC", L"Scheduled clean &hour (0-23, -1=off):", label, 0, 314, 40, 200, 18, 0},
    {L"EDIT", L"", hour, WS_EX_CLIENTEDGE, 520, 38, 70, 22, IDC_CLEAN_HOUR},
    {L"STATIC", L"Scheduled clean &minute (0-59):", label, 0, 314, 68, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 520, 66, 70, 22, IDC_CLEAN_MINUTE},
    {L"STATIC", L"Min freed MB to &notify:", label, 0, 314, 96, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 520, 94, 70, 22, IDC_NOTIFY_MIN_MB},
    {L"STATIC", L"Warn when &commit reaches (%, 0=off):", label, 0, 314, 124, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 520, 122, 70, 22, IDC_COMMIT_WARN},
    {L"BUTTON", L"&Open status window after each clean", check, 0, 314, 148, 276, 20, IDC_SHOW_STATUS},
    {L"STATIC", L"", separator, 0, 314, 176, 276, 2, 0},
    {L"STATIC", L"Clean steps", label, 0, 314, 184, 276, 18, 0},
    // Two steps a row, the second halfway across the column.
    {L"BUTTON", L"&Empty working sets", check, 0, 314, 206, 130, 20, IDC_TRIM_WORKING_SETS},
    {L"BUTTON", L"Flush mo&dified list", check, 0, 452, 206, 138, 20, IDC_FLUSH_MODIFIED},
    {L"BUTTON", L"&Keep the program in front untouched", check, 0, 314, 230, 276, 20, IDC_KEEP_FOREGROUND},
    {L"BUTTON", L"Flush fi&le cache", check, 0, 314, 254, 276, 20, IDC_FLUSH_FILE_CACHE},
    // The standby step's three choices, in a drop-down list under its label.
    {L"STATIC", L"&Purge standby list:", label, 0, 314, 280, 276, 18, 0},
    {L"COMBOBOX", L"", choice, 0, 314, 300, 276, 22, IDC_PURGE_STANDBY},
    // Across both columns, below the longer one.
    {L"STATIC", L"", separator, 0, 14, 330, 576, 2, 0},
    {L"STATIC", L"Process Exclusion", label, 0, 14, 338, 576, 18, 0},
    {L"STATIC", L"E&xclude from working-set trim (comma-sep exe names):", label, 0, 14, 362, 576, 18, 0},
    {L"EDIT", L"notepad.exe, Code.exe", list, WS_EX_CLIENTEDGE, 14, 382, 576, 22, IDC_EXCLUDE_LIST},
    // The last row: the language in a drop-down list after its label at
    // the left, as wide as its widest item; OK and Cancel at the right.
    {L"STATIC", L"Lang&uage:", label, 0, 14, 423, 55, 18, 0},
    {L"COMBOBOX", L"", choice, 0, 75, 421, 133, 22, IDC_LANGUAGE},
    {L"BUTTON", L"OK", default_button, 0, 432, 418, 76, 28, IDC_OK},
    {L"BUTTON", L"Cancel", button, 0, 514, 418, 76, 28, IDC_CANCEL},
};
static_assert(std::size(kControls) == SETTINGS_CONTROL_COUNT);
// The indexes of kControls that start each part.
constexpr int kRightColumn = 17, kAcross = 35;
// The clean step on the right of its row, halfway across its column.
constexpr int kSecondOfPair[] = {30, 30};
// A group's title: no access key.
constexpr int kHeadings[] = {0, 12, 17, 28, 36};

// The access key of a control's text, or 0; `marks` counts the ampersands
// that mark one. Windows matches them without regard to case.
wchar_t AccessKey(const std::wstring& text, int* marks = nullptr) {
  wchar_t key = 0;
  int count = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] != L'&') {
      wchar_t upper[2] = {text[i + 1], 0};
      CharUpperBuffW(upper, 1);
      key = upper[0];
      ++count;
    }
    ++i;
  }
  if (marks) *marks = count;
  return key;
}

// Puts back the language the tests started in (English) when a test that
// changed it ends.
struct LanguageInUseForTheTest {
  ~LanguageInUseForTheTest() { UseLanguage(0); }
};

// A child with text, its client area and its text's extent in its own font.
struct Drawn {
  std::wstring text;
  RECT client;
  SIZE extent;
  bool check;
};

std::vector<Drawn> DrawnTexts(HWND window) {
  std::vector<Drawn> drawn;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {}, text[128] = {};
    GetClassNameW(child, name, 16);
    GetWindowTextW(child, text, 128);
    if (!text[0] || _wcsicmp(name, L"EDIT") == 0) continue;
    Drawn d = {};
    d.text = std::wstring(text, wcslen(text));
    d.check = _wcsicmp(name, L"BUTTON") == 0 && (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
    GetClientRect(child, &d.client);
    HDC dc = GetDC(child);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
    RECT extent = {};
    DrawTextW(dc, text, -1, &extent, DT_CALCRECT | DT_SINGLELINE);  // as drawn: an access key's mark takes no room
    d.extent = {extent.right, extent.bottom};
    SelectObject(dc, previous);
    ReleaseDC(child, dc);
    drawn.push_back(d);
  }
  return drawn;
}

const wchar_t kRunMarker[] = L"untouched";

void SetRunMarker() {
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quillmere", REG_SZ,
                  kRunMarker, sizeof kRunMarker);
}

// A visible top-level window for the settings window to belong to.
HWND CreateOwnerWindow() {
  return CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                         nullptr);
}

// An exclusion list of exactly 300 characters: `name`, its own length so
// far and `ending`, over and over, the last one cut.
std::wstring ExeListOf300(const wchar_t* name, const wchar_t* ending) {
  std::wstring list;
  while (list.size() < 300) list += name + std::to_wstring(list.size()) + ending;
  list.resize(300);
  return list;
}

// The exe as Windows shows one in a folder of the user's own on an internal
// disk, run on their own desktop, wherever the tests were built: it gets the
// Run value alone.
bool OwnFolderSecurity(const wchar_t*, bool, SecurityBuffer& buffer) {
  wchar_t sid[SID_TEXT_CAPACITY];
  if (!GetProcessUserSid(sid)) return false;
  std::wstring sddl = std::wstring(L"O:") + sid + L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + sid + L")";
  return SddlIntoBuffer(sddl.c_str(), buffer);
}
bool InternalDisk(const wchar_t*, STORAGE_BUS_TYPE& bus, bool& removable_media) {
  bus = BusTypeSata;
  removable_media = false;
  return true;
}
ShellUser OwnDesktop(SidBuffer& sid) {
  wchar_t text[SID_TEXT_CAPACITY];
  PSID parsed = nullptr;
  if (!GetProcessUserSid(text) || !ConvertStringSidToSidW(text, &parsed)) return SHELL_USER_UNREADABLE;
  CopySid(sizeof sid.bytes, sid.bytes, parsed);
  LocalFree(parsed);
  return SHELL_USER_READ;
}
UINT WINAPI FixedDrive(LPCWSTR) { return DRIVE_FIXED; }
const ExeTrustPlatform kOwnFolderTrust = {FixedDrive, OwnFolderSecurity, InternalDisk};
const ExeAccessPlatform kOwnFolderExe = {&kOwnFolderTrust, OwnDesktop};

// The settings window as the program opens it: on the program's live
// record, with OK kept and applied as the program does.
class SettingsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    UseLanguage(0);
    app.exe_access = &kOwnFolderExe;
    DeleteAppFolder();
    InitDefaultSettings(app.settings);
    SetRunMarker();
  }
  void TearDown() override {
    DeleteAppFolder();
    DeleteRunValue();
    UseLanguage(0);
  }

  // Opens the window on the live record (or `settings`, handing OK's values
  // to `stored`) and plays the steps; answers what ShowSettingsWindow
  // answered.
  static bool Play(std::vector<Step> steps, HWND owner = nullptr, Settings& settings = app.settings,
                   SettingsStored stored = ApplyStoredSettings) {
    script = Script{};
    script.steps = std::move(steps);
    UINT_PTR timer = SetTimer(nullptr, 0, 10, PlayNextStep);
    bool saved = ShowSettingsWindow(app.settings_window, owner, settings, stored);
    KillTimer(nullptr, timer);
    return saved;
  }
  // The same, expecting the window to have shown and closed.
  static bool Show(std::vector<Step> steps, HWND owner = nullptr, Settings& settings = app.settings,
                   SettingsStored stored = ApplyStoredSettings) {
    bool saved = Play(std::move(steps), owner, settings, stored);
    EXPECT_NE(script.window, nullptr) << "the window never showed";
    EXPECT_FALSE(script.timed_out) << "the window did not close";
    EXPECT_FALSE(IsWindow(script.window)) << "the window outlived ShowSettingsWindow";
    return saved;
  }

  std::wstring config_ = AppFile(L"config.ini");
  int ConfigNumber(const wchar_t* section, const wchar_t* key) {
    return static_cast<int>(GetPrivateProfileIntW(section, key, -12345, config_.c_str()));
  }
};

}  // namespace

namespace {

// Widths of the controls' text as shown in Windows' Segoe UI 9 pt at 96 DPI,
// about; separators and fields have none.
// A drop-down list's is its widest item's.
const int kSegoeWidths[SETTINGS_CONTROL_COUNT] = {118, 112, 0,   155, 0,   145, 0,   137, 0,   160, 0,   0,   44,
                                                  101, 141, 109, 190, 140, 196, 0,   176, 0,   130, 0,   192, 0,
                                                  200, 0,   64,  107, 100, 205, 86,  105, 95,  0,   102, 291, 0,
                                                  55,  104, 16,  37};

// The text of `kSegoeWidths` drawn `percent` as wide and `height_percent` as
// tall as there, at `dpi`.
SettingsTextMetrics Text(UINT dpi, int percent = 100, int height_percent = 100) {
  SettingsTextMetrics text = {};
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) text.width[i] = MulDiv(kSegoeWidths[i] * percent / 100, dpi, 96);
  text.height = MulDiv(16 * height_percent / 100, dpi, 96);
  text.check_width = MulDiv(21, dpi, 96);
  return text;
}

// The settings window's own font at `dpi`, Segoe UI 9 pt (a substitute under
// Wine) at the user's text size `text_percent`, as this system draws the
// texts of the language in use.
SettingsTextMetrics SystemText(UINT dpi, int text_percent = 100) {
  HFONT font = CreateFontW(-MulDiv(9 * text_percent, static_cast<int>(dpi), 72 * 100), 0, 0, 0, FW_NORMAL, FALSE,
                           FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
  SettingsTextMetrics text = MeasureSettingsText(nullptr, font, dpi);
  DeleteObject(font);
  return text;
}

RECT At(const Created& c) { return {c.x, c.y, c.x + c.width, c.y + c.height}; }

// The screens people have, each with the largest scale Windows offers for
// it; every smaller one in steps of 24 DPI is offered too.
struct Screen {
  int width, height;
  UINT largest_dpi;
};
const Screen kScreens[] = {{1366, 768, 120}, {1600, 900, 144}, {1920, 1080, 168}, {2560, 1440, 168},
                           {3840, 2160, 288}};
// The user's text sizes Windows offers, up to 225 %.
const int kTextSizes[] = {100, 125, 150, 175, 200, 225};

bool Overlap(const RECT& a, const RECT& b) {
  RECT both;
  return IntersectRect(&both, &a, &b) != 0;
}

std::string Describe(const RECT& r) {
  char text[64];
  snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

// What is wrong with the window laid out for `text` on `screen` at `dpi`
// with the user's text size `text_size`, its taskbar 48 pixels at 100 %:
// nothing when every control holds its text whole, none overlaps another or
// leaves the client area, and the window lies inside the work area. Up to
// 125 % text it holds the whole layout; past that it may be as tall as the
// work area and scroll (`scrolls`), every control still inside the client
// area's width and none taller than the view, so that scrolling shows each
// whole. The frame is the larger of this system's and Windows 10's.
std::vector<std::string> WindowFaults(const Screen& screen, UINT dpi, int text_size, const SettingsTextMetrics& text,
                                      bool& scrolls) {
  std::vector<std::string> faults;
  auto fault = [&faults](const std::string& what) { faults.push_back(what); };
  SettingsLayout layout = LayOutSettings(dpi, text);
  const int margin = MulDiv(14, dpi, 96);
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const RECT& at = layout.controls[i];
    const Created& c = kControls[i];
    const std::string name = "control " + std::to_string(i) + " " + Describe(at);
    int need_width = text.width[i] + (c.style == check ? text.check_width : 0);
    int need_height = c.window_class == L"EDIT" ? text.height + MulDiv(4, dpi, 96) : c.style == separator ? 1 : text.height;
    if (at.right - at.left < need_width) fault(name + " narrower than its text, " + std::to_string(need_width));
    if (at.bottom - at.top < need_height) fault(name + " lower than its text, " + std::to_string(need_height));
    if (at.left < margin || at.top < margin || at.right > layout.client.cx - margin ||
        at.bottom > layout.client.cy - margin)
      fault(name + " outside the client area with its margin");
    for (int j = 0; j < i; ++j)
      if (Overlap(at, layout.controls[j])) fault(name + " on control " + std::to_string(j));
  }
  SIZE outer = SettingsWindowSize(layout.client, dpi);
  outer.cx = std::max<LONG>(outer.cx, layout.client.cx + MulDiv(14, dpi, 96));
  outer.cy = std::max<LONG>(outer.cy, layout.client.cy + MulDiv(37, dpi, 96));
  const SIZE frame = {outer.cx - layout.client.cx, outer.cy - layout.client.cy};
  const RECT work = {0, 0, screen.width, screen.height - MulDiv(48, dpi, 96)};
  const int scroll_bar = MulDiv(17, dpi, 96);
  SettingsPlace place = PlaceSettingsWindow(outer, work, {0, 0}, true, scroll_bar);
  const RECT& w = place.window;
  scrolls = place.scrolls;
  if (!(w.left >= work.left && w.top >= work.top && w.right <= work.right && w.bottom <= work.bottom))
    fault("the window " + Describe(w) + " outside the work area " + Describe(work));
  const LONG view_width = w.right - w.left - frame.cx - (place.scrolls ? scroll_bar : 0);
  const LONG view_height = w.bottom - w.top - frame.cy;
  if (view_width < layout.client.cx) fault("a control under the scroll bar or past the edge");
  if (!place.scrolls) {
    if (view_height < layout.client.cy) fault("the view lower than the layout");
    return faults;
  }
  if (text_size <= 125) fault("scrolls at " + std::to_string(text_size) + " % text");
  for (const RECT& at : layout.controls) {
    if (at.bottom - at.top > view_height) fault(Describe(at) + " taller than the view");
    // Scrolled to each control, it lies whole in the view.
    int position = ScrollToShow(0, view_height, layout.client.cy, at.top, at.bottom);
    if (at.top - position < 0 || at.bottom - position > view_height) fault(Describe(at) + " not whole in view");
  }
  return faults;
}

}  // namespace

TEST(SettingsLayout, ReadsInTwoColumnsThenAcrossThenOkAndCancel) {
  SettingsLayout layout = LayOutSettings(96, Text(96));
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    RECT want = At(kControls[i]);
    EXPECT_TRUE(EqualRect(&layout.controls[i], &want))
        << "control " << i << " " << Narrow(kControls[i].text) << ": " << Describe(layout.controls[i]) << " not "
        << Describe(want);
  }
  EXPECT_EQ(layout.client.cx, 604);
  EXPECT_EQ(layout.client.cy, 460);

  // At every scale and font: each column's controls in one band, the right
  // one beside the left, what runs across below both.
  for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 288u}) {
    for (int percent : {80, 100, 140}) {
      SCOPED_TRACE(std::to_string(dpi) + " dpi, text " + std::to_string(percent) + "%");
      SettingsLayout at = LayOutSettings(dpi, Text(dpi, percent, percent));
      LONG left_right = 0, right_left = LONG_MAX, columns_bottom = 0, across_top = LONG_MAX;
      for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
        const RECT& r = at.controls[i];
        if (i < kRightColumn) left_right = std::max(left_right, r.right);
        else if (i < kAcross) right_left = std::min(right_left, r.left);
        if (i < kAcross) columns_bottom = std::max(columns_bottom, r.bottom);
        else across_top = std::min(across_top, r.top);
      }
      EXPECT_LT(left_right, right_left);
      EXPECT_LT(columns_bottom, across_top);
      EXPECT_EQ(at.controls[0].top, at.controls[kRightColumn].top) << "both columns start at the top";
    }
  }
}

TEST(SettingsLayout, WideTextWidensOnlyItsColumn) {
  struct Case {
    const char* what;
    UINT dpi;
    int control;  // index whose text is set to `width`
    int width;
    int left_field_x;   // where the left column's number fields go
    int right_x;        // where the right column starts
    int right_field_x;  // and its number fields
    int across;         // the width of the list and what runs across
    int cancel_x, ok_x, button_width;
    LONG client_width;
  };
  const Case cases[] = {
      {"fits", 96, 3, 155, 220, 314, 520, 576, 514, 432, 76, 604},
      {"left label 230", 96, 3, 230, 250, 344, 550, 606, 544, 462, 76, 634},
      {"left label at 150 %", 144, 3, 345, 375, 516, 825, 909, 816, 693, 114, 951},
      {"right label 230", 96, 18, 230, 220, 314, 550, 606, 544, 462, 76, 634},
      {"left check box 300", 96, 14, 300, 220, 359, 565, 621, 559, 477, 76, 649},
      {"right check box 300", 96, 26, 300, 220, 314, 520, 621, 559, 477, 76, 649},
      {"right-hand clean step 200", 96, 30, 200, 220, 314, 520, 657, 595, 513, 76, 685},
      {"exclusion label 650", 96, 37, 650, 220, 314, 520, 650, 588, 506, 76, 678},
      {"Cancel 70", 96, 42, 70, 220, 314, 520, 576, 504, 412, 86, 604},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsTextMetrics text = Text(c.dpi);
    text.width[c.control] = c.width;
    SettingsLayout layout = LayOutSettings(c.dpi, text);
    SettingsLayout fits = LayOutSettings(c.dpi, Text(c.dpi));
    for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
      const RECT& at = layout.controls[i];
      EXPECT_EQ(at.top, fits.controls[i].top) << "rows stay " << i;
      EXPECT_EQ(at.bottom, fits.controls[i].bottom) << i;
      const Created& k = kControls[i];
      if (k.window_class == L"EDIT" && k.id != IDC_EXCLUDE_LIST) {
        EXPECT_EQ(at.left, i < kRightColumn ? c.left_field_x : c.right_field_x) << i;
        EXPECT_EQ(at.right - at.left, MulDiv(70, c.dpi, 96)) << i;
      } else if (k.id == IDC_OK || k.id == IDC_CANCEL) {
        EXPECT_EQ(at.left, k.id == IDC_OK ? c.ok_x : c.cancel_x);
        EXPECT_EQ(at.right - at.left, c.button_width);
      } else if (k.id == IDC_LANGUAGE || (i + 1 < SETTINGS_CONTROL_COUNT && kControls[i + 1].id == IDC_LANGUAGE)) {
        EXPECT_EQ(at.left, fits.controls[i].left) << "the language's row stays at the left " << i;
        EXPECT_EQ(at.right, fits.controls[i].right) << i;
      } else if (i >= kAcross) {
        EXPECT_EQ(at.left, MulDiv(14, c.dpi, 96)) << i;
        EXPECT_EQ(at.right - at.left, c.across) << i;
      } else if (i != kSecondOfPair[0] && i != kSecondOfPair[1]) {
        EXPECT_EQ(at.left - (i < kRightColumn ? 0 : c.right_x - fits.controls[kRightColumn].left),
                  fits.controls[i].left)
            << "left edges move only with their column " << i;
      }
    }
    EXPECT_EQ(layout.controls[kRightColumn].left, c.right_x);
    EXPECT_EQ(layout.client.cx, c.client_width);
    EXPECT_EQ(layout.client.cy, fits.client.cy);
  }
}

// The clean steps stand two a row; a left-hand one whose text needs more
// than its half pushes its neighbour right instead of running under it.
TEST(SettingsLayout, AWideLeftHandStepPushesTheOneBesideIt) {
  const int left = 29, beside = 30;  // "Empty working sets", "Flush modified list"
  SettingsTextMetrics text = Text(96);
  SettingsLayout fits = LayOutSettings(96, text);
  EXPECT_EQ(fits.controls[beside].left, 452);
  EXPECT_EQ(fits.controls[beside].top, fits.controls[left].top) << "one row";
  text.width[left] = 200;
  SettingsLayout wide = LayOutSettings(96, text);
  EXPECT_GE(wide.controls[left].right - wide.controls[left].left, 200 + text.check_width);
  EXPECT_EQ(wide.controls[beside].left, 314 + 221 + 8) << "pushed past the text and the gap";
  EXPECT_LE(wide.controls[left].right, wide.controls[beside].left);
  EXPECT_GE(wide.controls[beside].right - wide.controls[beside].left, 100 + text.check_width);
  EXPECT_EQ(wide.controls[beside].top, fits.controls[beside].top) << "still one row";
  EXPECT_GE(wide.client.cx, wide.controls[beside].right + 14);
  EXPECT_EQ(wide.client.cy, fits.client.cy);
}

TEST(SettingsLayout, TallTextGrowsItsRowAndMovesTheRestDown) {
  SettingsTextMetrics text = Text(96);
  text.height = 22;  // labels need 22 of 18, fields 26 of 22, check boxes 22 of 20, buttons 30 of 28
  SettingsLayout layout = LayOutSettings(96, text);
  EXPECT_EQ(layout.controls[0].top, 14);
  EXPECT_EQ(layout.controls[0].bottom, 36);
  EXPECT_EQ(layout.controls[2].top, 42) << "the next row moved down by the heading's 4";
  EXPECT_EQ(layout.controls[2].bottom, 68) << "the field grew to 26";
  EXPECT_EQ(layout.controls[1].top, 44) << "its label in the middle of the row";
  EXPECT_EQ(layout.controls[1].bottom, 66);
  EXPECT_EQ(layout.controls[4].top, 74);
  EXPECT_EQ(layout.controls[13].bottom - layout.controls[13].top, 22);
  EXPECT_EQ(layout.controls[42].bottom - layout.controls[42].top, 30);
  EXPECT_EQ(layout.client.cy, layout.controls[42].bottom + 14);
}

// Any scale, any font: every text whole, nothing on top of anything else,
// everything inside the client area with its margin.
TEST(SettingsLayout, NothingCutOrOverlappingAtAnyScaleOrFont) {
  struct Font {
    int width_percent, height_percent;
  };
  const Font fonts[] = {{100, 100}, {125, 100}, {140, 125}, {80, 90}, {170, 150}};
  for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 288u}) {
    for (const Font& f : fonts) {
      SettingsTextMetrics text = Text(dpi, f.width_percent, f.height_percent);
      SettingsLayout layout = LayOutSettings(dpi, text);
      SCOPED_TRACE(std::to_string(dpi) + " dpi, text " + std::to_string(f.width_percent) + "% x " +
                   std::to_string(f.height_percent) + "%");
      const int margin = MulDiv(14, dpi, 96);
      for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
        const RECT& at = layout.controls[i];
        const Created& c = kControls[i];
        int need_width = text.width[i] + (c.style == check ? text.check_width : 0);
        int need_height = c.window_class == L"EDIT" ? text.height + MulDiv(4, dpi, 96)
                          : c.style == separator    ? 1
                                                    : text.height;
        EXPECT_GE(at.right - at.left, need_width) << i;
        EXPECT_GE(at.bottom - at.top, need_height) << i;
        EXPECT_GE(at.left, margin) << i;
        EXPECT_GE(at.top, margin) << i;
        EXPECT_LE(at.right, layout.client.cx - margin) << i;
        EXPECT_LE(at.bottom, layout.client.cy - margin) << i;
        for (int j = 0; j < i; ++j)
          EXPECT_FALSE(Overlap(at, layout.controls[j])) << i << " on " << j << ": " << Describe(at) << " "
                                                        << Describe(layout.controls[j]);
      }
    }
  }
}

// The screens people have, each at the largest scale Windows offers for it
// and every smaller one, with a taskbar of 48 pixels at 100 %: the whole
// window, caption and frame included, fits above it with room to spare for
// one more field row. The frame is the larger of this system's and
// Windows 10's (a 23-pixel caption and 7-pixel borders at 100 %).
TEST(SettingsLayout, FitsAboveTheTaskbarOfEveryScreenAtEveryScale) {
  for (const Screen& screen : kScreens) {
    for (UINT dpi = 96; dpi <= screen.largest_dpi; dpi += 24) {
      struct Font {
        const char* name;
        SettingsTextMetrics text;
      };
      const Font fonts[] = {{"Segoe UI", Text(dpi)},
                            {"this system's", SystemText(dpi)},
                            {"Segoe UI a quarter larger", Text(dpi, 125, 125)}};
      for (const Font& font : fonts) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height) + " at " +
                     std::to_string(dpi) + " dpi, " + font.name);
        ASSERT_GT(font.text.height, 0);
        SettingsLayout layout = LayOutSettings(dpi, font.text);
        SIZE outer = SettingsWindowSize(layout.client, dpi);
        EXPECT_GT(outer.cy, layout.client.cy) << "a caption";
        outer.cx = std::max<LONG>(outer.cx, layout.client.cx + MulDiv(14, dpi, 96));
        outer.cy = std::max<LONG>(outer.cy, layout.client.cy + MulDiv(37, dpi, 96));
        const int work_height = screen.height - MulDiv(48, dpi, 96);
        EXPECT_LE(outer.cx, screen.width);
        // One more field row: the taller of its label and field, and the
        // space above it.
        int row = std::max(std::max(MulDiv(22, dpi, 96), font.text.height + MulDiv(4, dpi, 96)),
                           MulDiv(18, dpi, 96)) +
                  MulDiv(6, dpi, 96);
        EXPECT_LE(outer.cy + row, work_height) << "outer " << outer.cx << "x" << outer.cy;
      }
    }
  }
}

// The user's text size on the screens people have, each at every scale
// Windows offers for it, with a taskbar of 48 pixels at 100 %. Up to 125 %
// text the window fits the work area with every control whole. Past that
// (Windows offers up to 225 %) the layout may be taller than the work area:
// then the window is as tall as it and scrolls, every control still inside
// the client area's width and none taller than the view, so that scrolling
// shows each whole.
TEST(SettingsLayout, EveryTextSizeFitsOrScrollsInsideTheWorkArea) {
  int scrolling = 0;
  for (const Screen& screen : kScreens) {
    for (UINT dpi = 96; dpi <= screen.largest_dpi; dpi += 24) {
      for (int text_size : kTextSizes) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height) + " at " +
                     std::to_string(dpi) + " dpi, text " + std::to_string(text_size) + "%");
        const SettingsTextMetrics text = Text(dpi, text_size, text_size);
        bool scrolls = false;
        for (const std::string& fault : WindowFaults(screen, dpi, text_size, text, scrolls)) ADD_FAILURE() << fault;
        scrolling += scrolls;
      }
    }
  }
  EXPECT_GT(scrolling, 0) << "the small screens at the largest text cannot hold the whole window";
}

// The same in every language, each text measured as this system draws it in
// the window's font at the text sizes the window is made for (100 % and
// 125 %, and 150 %, where the smaller screens at their largest scale
// scroll): every label whole, the window inside the work area. A language
// without a table of its own shows English.
TEST(SettingsLayout, EveryLanguageFitsOrScrollsInsideTheWorkAreaWithEveryTextWhole) {
  LanguageInUseForTheTest restore;
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    UseLanguage(language);
    for (const Screen& screen : kScreens) {
      for (UINT dpi = 96; dpi <= screen.largest_dpi; dpi += 24) {
        for (int text_size : {100, 125, 150}) {
          SCOPED_TRACE(Narrow(kLanguages[language].name) + " on " + std::to_string(screen.width) + "x" +
                       std::to_string(screen.height) + " at " + std::to_string(dpi) + " dpi, text " +
                       std::to_string(text_size) + "%");
          const SettingsTextMetrics text = SystemText(dpi, text_size);
          ASSERT_GT(text.height, 0);
          bool scrolls = false;
          for (const std::string& fault : WindowFaults(screen, dpi, text_size, text, scrolls)) ADD_FAILURE() << fault;
        }
      }
    }
  }
}

// The check above finds a label too wide for the screen, a window too tall
// at text that should fit, and no fault where there is none.
TEST(SettingsLayout, TheFitCheckFindsWhatDoesNotFit) {
  struct Case {
    const char* what;
    int control;  // its text's width set to `width`, at 96 DPI
    int width;
    int height;  // the text's height, at 96 DPI
    int text_size;
    bool faults;
  };
  const Case cases[] = {
      {"English", 1, 112, 16, 100, false},
      {"a label as wide as the smallest screen", 1, 1300, 16, 100, true},
      {"a check box as wide as the smallest screen", 13, 1350, 16, 100, true},
      {"the exclusion label as wide", 37, 1340, 16, 100, true},
      {"the language list's widest item as wide", 40, 1200, 16, 100, true},
      {"text two and a half times as tall at 100 %", 1, 112, 40, 100, true},
      {"the same at 250 %: scrolls", 1, 112, 40, 250, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsTextMetrics text = Text(96);
    text.width[c.control] = c.width;
    text.height = c.height;
    bool scrolls = false;
    EXPECT_EQ(!WindowFaults(kScreens[0], 96, c.text_size, text, scrolls).empty(), c.faults);
  }
}

TEST(SettingsLayout, PlacedCentredOrWhereAskedInsideTheWorkArea) {
  struct Case {
    const char* what;
    SIZE outer;
    RECT work;
    POINT top_left;
    bool centre;
    RECT window;
    bool scrolls;
  };
  const Case cases[] = {
      {"centred", {600, 400}, {0, 0, 1000, 800}, {0, 0}, true, {200, 200, 800, 600}, false},
      {"centred on a second monitor", {600, 400}, {1000, 0, 2000, 800}, {0, 0}, true, {1200, 200, 1800, 600}, false},
      {"kept where asked", {600, 400}, {0, 0, 1000, 800}, {50, 60}, false, {50, 60, 650, 460}, false},
      {"past the right and bottom", {600, 400}, {0, 0, 1000, 800}, {900, 700}, false, {400, 400, 1000, 800}, false},
      {"past the left and top", {600, 400}, {0, 0, 1000, 800}, {-50, -60}, false, {0, 0, 600, 400}, false},
      {"taller than the work area", {600, 900}, {0, 0, 1000, 800}, {0, 0}, true, {192, 0, 808, 800}, true},
      {"taller, where asked", {600, 900}, {0, 40, 1000, 800}, {700, 300}, false, {384, 40, 1000, 800}, true},
      {"wider than the work area", {1200, 400}, {0, 0, 1000, 800}, {0, 0}, true, {0, 200, 1200, 600}, false},
      {"no work area", {600, 400}, {0, 0, 0, 0}, {0, 0}, true, {0, 0, 600, 400}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsPlace place = PlaceSettingsWindow(c.outer, c.work, c.top_left, c.centre, 16);
    EXPECT_TRUE(EqualRect(&place.window, &c.window)) << Describe(place.window);
    EXPECT_EQ(place.scrolls, c.scrolls);
  }
}

TEST(SettingsLayout, ScrollingShowsWhatIsAskedAndStaysInRange) {
  struct Case {
    const char* what;
    int position, page, range, top, bottom;
    int shown;
  };
  const Case shows[] = {
      {"in view already", 100, 300, 900, 150, 200, 100},
      {"above the view", 100, 300, 900, 40, 80, 40},
      {"below the view", 100, 300, 900, 420, 460, 160},
      {"taller than the view: its top", 0, 300, 900, 400, 800, 400},
      {"past the end", 0, 300, 900, 880, 950, 600},
      {"before the start", 100, 300, 900, -20, 10, 0},
      {"the page holds everything", 50, 900, 600, 500, 550, 0},
  };
  for (const Case& c : shows) {
    EXPECT_EQ(ScrollToShow(c.position, c.page, c.range, c.top, c.bottom), c.shown) << c.what;
  }
  struct Request {
    int request, lines, position;
    int target;
  };
  // A view of 300 on 900, lines of 18, the thumb dragged to 250.
  const Request requests[] = {
      {SB_LINEDOWN, 0, 100, 118}, {SB_LINEUP, 0, 100, 82},    {SB_LINEUP, 0, 10, 0},
      {SB_PAGEDOWN, 0, 100, 400}, {SB_PAGEDOWN, 0, 500, 600}, {SB_PAGEUP, 0, 100, 0},
      {SB_THUMBTRACK, 0, 0, 250}, {SB_THUMBPOSITION, 0, 0, 250}, {SB_TOP, 0, 400, 0},
      {SB_BOTTOM, 0, 0, 600},     {SB_ENDSCROLL, 0, 100, 100},  {SB_ENDSCROLL, 3, 100, 46},
      {SB_ENDSCROLL, -3, 100, 154}, {SB_ENDSCROLL, -60, 100, 600},
  };
  for (const Request& r : requests) {
    EXPECT_EQ(SettingsScrollTarget(r.request, r.lines, r.position, 300, 900, 18, 250), r.target)
        << r.request << " " << r.lines << " from " << r.position;
  }
}

TEST(SettingsFont, TheMessageFontAtTheWindowsDpiOrSegoeUiNinePoint) {
  LOGFONTW segoe = {};
  segoe.lfHeight = -12;
  segoe.lfWeight = FW_NORMAL;
  wcscpy(segoe.lfFaceName, L"Segoe UI");
  LOGFONTW larger = segoe;
  larger.lfHeight = -18;  // text size 150 %
  wcscpy(larger.lfFaceName, L"Meiryo UI");
  LOGFONTW cell = segoe;
  cell.lfHeight = 20;  // a cell height, kept as such
  LOGFONTW no_height = segoe;
  no_height.lfHeight = 0;
  LOGFONTW no_face = segoe;
  no_face.lfFaceName[0] = 0;
  LOGFONTW huge = segoe;
  huge.lfHeight = -5000;
  LOGFONTW unterminated = segoe;
  for (wchar_t& c : unterminated.lfFaceName) c = L'A';
  struct Case {
    const char* what;
    const LOGFONTW* message;
    UINT dpi;
    LONG height;
    const wchar_t* face;
  };
  const Case cases[] = {
      {"Windows' own", &segoe, 96, -12, L"Segoe UI"},
      {"a larger text size, another face", &larger, 96, -18, L"Meiryo UI"},
      {"a cell height", &cell, 96, 20, L"Segoe UI"},
      {"unreadable, 100 %", nullptr, 96, -12, L"Segoe UI"},
      {"unreadable, 150 %", nullptr, 144, -18, L"Segoe UI"},
      {"unreadable, 300 %", nullptr, 288, -36, L"Segoe UI"},
      {"no height", &no_height, 120, -15, L"Segoe UI"},
      {"no face", &no_face, 96, -12, L"Segoe UI"},
      {"absurdly tall: four times 9 pt", &huge, 96, -48, L"Segoe UI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LOGFONTW font = SettingsLogFont(c.message, c.dpi);
    EXPECT_EQ(font.lfHeight, c.height);
    EXPECT_STREQ(font.lfFaceName, c.face);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
  }
  LOGFONTW font = SettingsLogFont(&unterminated, 96);
  EXPECT_EQ(wcsnlen(font.lfFaceName, LF_FACESIZE), static_cast<size_t>(LF_FACESIZE - 1)) << "ends inside its field";
}

TEST(SettingsFieldInput, ClampsEachFieldToItsRange) {
  struct Case {
    int id;
    int32_t low, high;
  };
  const Case cases[] = {{IDC_THRESHOLD, 1, 99},    {IDC_INTERVAL, 0, 1440},   {IDC_IDLE, 0, 1440},
                        {IDC_BOOT_DELAY, 0, 3600}, {IDC_CLEAN_HOUR, -1, 23}, {IDC_CLEAN_MINUTE, 0, 59},
                        {IDC_NOTIFY_MIN_MB, 0, 9999}, {IDC_FREE_BELOW_MB, 0, 65535}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(ClampSettingsField(c.id, INT32_MIN), c.low);
    EXPECT_EQ(ClampSettingsField(c.id, c.low - 1), c.low);
    EXPECT_EQ(ClampSettingsField(c.id, c.low), c.low);
    EXPECT_EQ(ClampSettingsField(c.id, c.low + 1), c.low + 1);
    EXPECT_EQ(ClampSettingsField(c.id, c.high), c.high);
    EXPECT_EQ(ClampSettingsField(c.id, c.high + 1), c.high);
    EXPECT_EQ(ClampSettingsField(c.id, INT32_MAX), c.high);
  }
  EXPECT_EQ(ClampSettingsField(IDC_THRESHOLD, 0), 1) << "0 would switch the trigger off";
  // The commit warning: off, or from 50 to 99.
  const int32_t warn_cases[][2] = {{INT32_MIN, 0}, {-1, 0}, {0, 0},   {1, 50},   {49, 50},        {50, 50},
                                   {51, 51},       {98, 98}, {99, 99}, {100, 99}, {INT32_MAX, 99}};
  for (const auto& c : warn_cases) EXPECT_EQ(ClampSettingsField(IDC_COMMIT_WARN, c[0]), c[1]) << c[0];
  EXPECT_EQ(ClampSettingsField(IDC_AUTO_CLEAN, 5000), 5000) << "not a number field";
}

TEST(SettingsFieldInput, ReadsTheLeadingNumberAndOnlyACheckedBox) {
  EXPECT_EQ(SettingsFieldNumber(L""), 0);
  EXPECT_EQ(SettingsFieldNumber(L"42"), 42);
  EXPECT_EQ(SettingsFieldNumber(L"-1"), -1);
  EXPECT_EQ(SettingsFieldNumber(L"12abc"), 12);
  EXPECT_EQ(SettingsFieldNumber(L"abc"), 0);
  EXPECT_EQ(SettingsFieldNumber(L"999999999999999"), INT32_MAX) << "saturates, so the clamp takes the top";
  EXPECT_EQ(SettingsFieldNumber(L"-999999999999999"), INT32_MIN);
  EXPECT_TRUE(SettingsCheckState(BST_CHECKED));
  EXPECT_FALSE(SettingsCheckState(BST_UNCHECKED));
  EXPECT_FALSE(SettingsCheckState(BST_INDETERMINATE));
}

// Any run of digits saturates, never wraps: what OK stores is the nearer
// end of the field's range.
TEST(SettingsFieldInput, NumbersTooBigForInt32SaturateAndClampToTheRangeEnds) {
  struct Case {
    const wchar_t* text;
    int32_t number;
    int32_t notify_stored;  // 0-9999
    int32_t hour_stored;    // -1-23
  };
  const Case cases[] = {
      {L"2147483647", INT32_MAX, 9999, 23},
      {L"2147483648", INT32_MAX, 9999, 23},  // _wtoi's own overflow
      {L"4294967297", INT32_MAX, 9999, 23},  // wraps to 1 in 32 bits
      {L"99999999999", INT32_MAX, 9999, 23},
      {L"00000000000000000000000000042", 42, 42, 23},
      {L"-2147483648", INT32_MIN, 0, -1},
      {L"-2147483649", INT32_MIN, 0, -1},
      {L"-99999999999", INT32_MIN, 0, -1},
      {L"  17", 17, 17, 17},  // a paste with leading spaces
      {L"-", 0, 0, 0},
      {L"--5", 0, 0, 0},
      {L"+5", 0, 0, 0},
      {L"5-", 5, 5, 5},
      {L"\x0663", 0, 0, 0},  // Arabic-Indic three is no decimal digit here
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    int32_t number = SettingsFieldNumber(c.text);
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(ClampSettingsField(IDC_NOTIFY_MIN_MB, number), c.notify_stored);
    EXPECT_EQ(ClampSettingsField(IDC_CLEAN_HOUR, number), c.hour_stored);
  }
}

TEST(SettingsFieldInput, HourFieldTakesDigitsAndOneLeadingMinus) {
  struct Case {
    const wchar_t* text;
    DWORD start, end;
    wchar_t typed;
    bool accepted;
  };
  const Case cases[] = {
      {L"", 0, 0, L'-', true},     {L"", 0, 0, L'7', true},      {L"-", 1, 1, L'1', true},
      {L"1", 1, 1, L'-', false},   {L"1", 0, 0, L'-', true},     {L"-1", 0, 0, L'-', false},
      {L"-1", 0, 0, L'5', false},  // a digit in front of the minus
      {L"-1", 0, 1, L'-', true},   // replacing the minus
      {L"-1", 0, 2, L'5', true},   {L"12", 2, 0, L'-', true},    // a selection made backwards
      {L"5", 0, 0, L'a', false},   {L"5", 1, 1, L'+', false},    {L"5", 1, 1, L' ', false},
      {L"5", 1, 1, VK_BACK, true}, {L"5", 0, 1, 0x16, true},     // Ctrl+V
      {L"3", 40, 90, L'-', false}, {L"", 0, 0, 0x663, false},    // Arabic-Indic three
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HourFieldAccepts(c.text, c.start, c.end, c.typed), c.accepted)
        << Narrow(c.text) << " [" << c.start << "," << c.end << ") + " << static_cast<int>(c.typed);
  }
}

TEST_F(SettingsWindow, HasItsTitleSizePlaceAndFortyThreeControlsInOrder) {
  const auto& expected = kControls;
  wcscpy(app.settings.exclude_list, L"notepad.exe, Code.exe");
  wcscpy(app.settings.language, L"ja-JP");
  app.settings.silent_mode = true;
  app.settings.clean_hour = -1;
  app.settings.free_below_mb = 512;
  app.settings.commit_warn_percent = 75;
  app.settings.flush_modified = false;
  app.settings.purge_standby = 2;
  HWND owner = CreateOwnerWindow();
  bool owner_disabled = false;
  std::vector<std::wstring> values;
  RECT client = {}, placed = {};
  UINT shown_dpi = 0;
  SettingsTextMetrics measured = {};
  std::vector<Drawn> drawn;
  std::vector<std::wstring> languages;

  WatchCreation watch;
  EXPECT_FALSE(Show({[&](HWND window) {
                       owner_disabled = !IsWindowEnabled(owner);
                       GetClientRect(window, &client);
                       GetWindowRect(window, &placed);
                       shown_dpi = WindowDpi(window);
                       HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageW(window, IDC_OK, WM_GETFONT, 0, 0));
                       measured = MeasureSettingsText(window, font, shown_dpi);
                       drawn = DrawnTexts(window);
                       const int fields[] = {IDC_THRESHOLD,    IDC_INTERVAL,     IDC_IDLE,
                                             IDC_BOOT_DELAY,   IDC_CLEAN_HOUR,   IDC_CLEAN_MINUTE,
                                             IDC_NOTIFY_MIN_MB, IDC_COMMIT_WARN, IDC_FREE_BELOW_MB};
                       for (int id : fields) {
                         wchar_t text[16] = {};
                         GetDlgItemTextW(window, id, text, 16);
                         values.push_back(text);
                       }
                       for (int id : {IDC_AUTO_CLEAN, IDC_SILENT, IDC_START_WITH_WINDOWS, IDC_SHOW_STATUS,
                                      IDC_TRIM_WORKING_SETS, IDC_FLUSH_MODIFIED, IDC_FLUSH_FILE_CACHE,
                                      IDC_KEEP_FOREGROUND, IDC_HOLD_WHEN_BUSY})
                         values.push_back(std::to_wstring(SendDlgItemMessageW(window, id, BM_GETCHECK, 0, 0)));
                       values.push_back(
                           std::to_wstring(SendDlgItemMessageW(window, IDC_PURGE_STANDBY, CB_GETCURSEL, 0, 0)));
                       values.push_back(
                           std::to_wstring(SendDlgItemMessageW(window, IDC_LANGUAGE, CB_GETCURSEL, 0, 0)));
                       LRESULT count = SendDlgItemMessageW(window, IDC_LANGUAGE, CB_GETCOUNT, 0, 0);
                       for (LRESULT item = 0; item < count; ++item) {
                         wchar_t text[64] = {};
                         if (SendDlgItemMessageW(window, IDC_LANGUAGE, CB_GETLBTEXTLEN, item, 0) < 64)
                           SendDlgItemMessageW(window, IDC_LANGUAGE, CB_GETLBTEXT, item,
                                               reinterpret_cast<LPARAM>(text));
                         languages.push_back(text);
                       }
                     },
                     Click(IDC_CANCEL)},
                    owner));
  watch.Stop();

  ASSERT_EQ(watch.created.size(), 1 + std::size(expected));
  const Created& window = watch.created[0];
  EXPECT_EQ(window.window_class, L"QuillmereSettings");
  EXPECT_EQ(window.text, L"Quillmere \u2014 Settings");
  EXPECT_EQ(window.style, 0x00C80000u) << "caption and system menu only, created hidden";
  EXPECT_EQ(window.ex_style & ~WS_EX_WINDOWEDGE, 0x9u) << "modal frame (which brings the edge), topmost";
  EXPECT_EQ(window.parent, owner);

  // Every control where the layout puts it for the text as this font draws
  // it; the window holds them all, sized to them in the middle of the work
  // area.
  ASSERT_EQ(shown_dpi, 96u) << "the test prefix runs at 100 %";
  SettingsLayout layout = LayOutSettings(96, measured);
  EXPECT_EQ(client.right, layout.client.cx);
  EXPECT_EQ(client.bottom, layout.client.cy);
  EXPECT_GE(client.right, 590 + 14) << "every control inside the client area, with its margin";
  EXPECT_GE(client.bottom, 402 + 14) << "OK and Cancel end at least 402 pixels down";
  RECT frame = {0, 0, layout.client.cx, layout.client.cy};
  AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME | WS_EX_TOPMOST);
  SIZE size = SettingsWindowSize(layout.client, 96);
  EXPECT_EQ(size.cx, frame.right - frame.left);
  EXPECT_EQ(size.cy, frame.bottom - frame.top);
  EXPECT_EQ(placed.right - placed.left, size.cx);
  EXPECT_EQ(placed.bottom - placed.top, size.cy);
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(placed.left, work.left + (work.right - work.left - size.cx) / 2);
  EXPECT_EQ(placed.top, work.top + (work.bottom - work.top - size.cy) / 2);
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Created& c = watch.created[i + 1];
    const Created& e = expected[i];
    const RECT& at = layout.controls[i];
    SCOPED_TRACE("control " + std::to_string(i + 1) + " " + Narrow(e.text));
    EXPECT_EQ(c.window_class, e.window_class);
    EXPECT_EQ(c.text, e.text);
    EXPECT_EQ(c.style, e.style);
    EXPECT_EQ(c.ex_style, e.ex_style);
    EXPECT_EQ(c.x, at.left);
    EXPECT_EQ(c.y, at.top);
    EXPECT_EQ(c.width, at.right - at.left);
    EXPECT_EQ(c.height, (at.bottom - at.top) * (e.style == choice ? kChoiceDroppedRows : 1));
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.parent, watch.created[0].window);
  }
  // Each text whole in its control, measured here in the control's font.
  for (const Drawn& d : drawn) {
    SCOPED_TRACE(Narrow(d.text));
    EXPECT_GE(d.client.right, d.extent.cx + (d.check ? GetSystemMetrics(SM_CXMENUCHECK) : 0));
    EXPECT_GE(d.client.bottom, d.extent.cy);
  }
  EXPECT_EQ(drawn.size(), 30u) << "every label, check box and button, and the two chosen items";
  EXPECT_EQ(values, (std::vector<std::wstring>{L"80", L"30", L"5", L"60", L"-1", L"0", L"10", L"75", L"512", L"1", L"1",
                                               L"0", L"0", L"1", L"0", L"1", L"1", L"1", L"2", L"8"}));
  // Windows' choice first, then each language by its own name.
  std::vector<std::wstring> names = {L"As Windows"};
  for (const Language& language : kLanguages) names.push_back(language.native_name);
  EXPECT_EQ(languages, names);

  // One font given to the window and every control.
  HFONT font = watch.fonts[watch.created[0].window];
  EXPECT_NE(font, nullptr);
  for (const Created& c : watch.created) EXPECT_EQ(watch.fonts[c.window], font) << Narrow(c.text);
  EXPECT_TRUE(owner_disabled) << "a visible owner waits while the window is open";
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

// The message font Windows hands to programs, at the window's DPI: under
// this prefix Wine's own, on Windows Segoe UI 9 pt unless the user chose a
// larger text size.
TEST_F(SettingsWindow, FontIsTheSystemsMessageFontAndDeletedWithTheWindow) {
  WatchCreation watch;
  LOGFONTW face = {};
  UINT dpi = 0;
  Show({[&](HWND window) {
          HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageW(window, IDC_OK, WM_GETFONT, 0, 0));
          GetObjectW(font, sizeof face, &face);
          dpi = WindowDpi(window);
        },
        Click(IDC_CANCEL)});
  watch.Stop();
  LOGFONTW message = {};
  ASSERT_TRUE(MessageFontForDpi(message, dpi));
  EXPECT_STREQ(face.lfFaceName, message.lfFaceName);
  EXPECT_EQ(face.lfHeight, message.lfHeight);
  EXPECT_EQ(face.lfWeight, message.lfWeight);
  EXPECT_EQ(face.lfCharSet, message.lfCharSet);
  ASSERT_FALSE(watch.created.empty());
  HFONT font = watch.fonts[watch.created[0].window];
  ASSERT_NE(font, nullptr);
  LOGFONTW after = {};
  EXPECT_EQ(GetObjectW(font, sizeof after, &after), 0) << "deleted with the window";
}

// The message font made larger, as Windows' text size does, for as long as
// it lives; the system's own again after.
struct LargerMessageFont {
  NONCLIENTMETRICSW saved = {};
  bool set = false;
  explicit LargerMessageFont(int percent) {
    saved.cbSize = sizeof saved;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof saved, &saved, 0)) return;
    NONCLIENTMETRICSW larger = saved;
    larger.lfMessageFont.lfHeight = MulDiv(saved.lfMessageFont.lfHeight, percent, 100);
    set = SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof larger, &larger, 0) != FALSE;
  }
  ~LargerMessageFont() {
    if (set) SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof saved, &saved, 0);
  }
};

// A text size chosen while the window is open: WM_SETTINGCHANGE lays it out
// again in the larger font, every control given it, the old one deleted,
// the window grown to hold the new layout inside the work area.
TEST_F(SettingsWindow, ALargerTextSizeChosenWhileOpenLaysTheWindowOutAgain) {
  WatchCreation watch;
  LOGFONTW before = {}, after = {};
  RECT client_before = {}, client_after = {}, frame = {}, ok = {}, work = {};
  HFONT first_font = nullptr;
  bool set = false;
  SettingsTextMetrics measured = {};
  std::set<HFONT> fonts_after;
  std::unique_ptr<LargerMessageFont> larger;
  Show({[&](HWND window) {
          first_font = reinterpret_cast<HFONT>(SendDlgItemMessageW(window, IDC_OK, WM_GETFONT, 0, 0));
          GetObjectW(first_font, sizeof before, &before);
          GetClientRect(window, &client_before);
          larger = std::make_unique<LargerMessageFont>(150);
          set = larger->set;
          SendMessageW(window, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
        },
        [&](HWND window) {
          HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageW(window, IDC_OK, WM_GETFONT, 0, 0));
          GetObjectW(font, sizeof after, &after);
          // A separator keeps no font.
          for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            HFONT given = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
            if (given) fonts_after.insert(given);
          }
          measured = MeasureSettingsText(window, font, WindowDpi(window));
          GetClientRect(window, &client_after);
          GetWindowRect(window, &frame);
          GetWindowRect(GetDlgItem(window, IDC_OK), &ok);
          SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
          larger.reset();
        },
        Click(IDC_CANCEL)});
  watch.Stop();
  ASSERT_TRUE(set) << "the prefix took no larger message font";
  EXPECT_EQ(after.lfHeight, MulDiv(before.lfHeight, 150, 100));
  EXPECT_EQ(fonts_after.size(), 1u) << "one font for every control";
  LOGFONTW gone = {};
  EXPECT_EQ(GetObjectW(first_font, sizeof gone, &gone), 0) << "the old font deleted";
  SettingsLayout layout = LayOutSettings(96, measured);
  EXPECT_GT(layout.client.cy, client_before.bottom);
  EXPECT_EQ(client_after.right, layout.client.cx) << "the window holds the new layout";
  EXPECT_EQ(client_after.bottom, layout.client.cy);
  EXPECT_TRUE(frame.left >= work.left && frame.top >= work.top && frame.right <= work.right &&
              frame.bottom <= work.bottom);
  RECT want = layout.controls[SETTINGS_CONTROL_COUNT - 2];  // OK, where the new layout puts it
  EXPECT_EQ(ok.right - ok.left, want.right - want.left);
  EXPECT_EQ(ok.bottom - ok.top, want.bottom - want.top);
}

// Dragged onto a monitor of another scale, the window takes the rectangle
// Windows suggests as it is, even where that reaches past this monitor's
// work area: moved back, it would land on the first monitor again.
TEST_F(SettingsWindow, MovedToAnotherScaleTakesTheSuggestedRectangleAsItIs) {
  RECT placed = {}, suggested = {}, work = {};
  Show({[&](HWND window) {
          SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
          RECT frame = {};
          GetWindowRect(window, &frame);
          suggested = {work.right - 200, work.bottom - 100, work.right - 200 + (frame.right - frame.left),
                       work.bottom - 100 + (frame.bottom - frame.top)};
          SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
          GetWindowRect(window, &placed);
        },
        Click(IDC_CANCEL)});
  EXPECT_TRUE(EqualRect(&placed, &suggested)) << Describe(placed) << " not " << Describe(suggested);
}

// Windows asks for the size before it suggests the rectangle: the layout's
// at the new scale, so that the rectangle holds every control.
TEST_F(SettingsWindow, AskedForItsSizeAtAnotherScaleAnswersTheLayoutsThere) {
  SIZE asked = {1, 1};
  LRESULT answered = 0;
  Show({[&](HWND window) { answered = SendMessageW(window, 0x02E4, 144, reinterpret_cast<LPARAM>(&asked)); },
        Click(IDC_CANCEL)});
  LOGFONTW message = {};
  ASSERT_TRUE(MessageFontForDpi(message, 144));
  LOGFONTW wanted = SettingsLogFont(&message, 144);
  HFONT font = CreateFontIndirectW(&wanted);
  SIZE want = SettingsWindowSize(LayOutSettings(144, MeasureSettingsText(nullptr, font, 144)).client, 144);
  DeleteObject(font);
  EXPECT_EQ(answered, TRUE);
  EXPECT_EQ(asked.cx, want.cx);
  EXPECT_EQ(asked.cy, want.cy);
}

// What OK stores for what the user typed, checked in the live record, in
// config.ini and in the Run value.
TEST_F(SettingsWindow, OkClampsWhatWasTypedThenSavesAndAppliesAutostart) {
  struct Case {
    const char* what;
    Step edit;
    const wchar_t* key;
    int32_t Settings::*number;
    bool Settings::*flag;
    int32_t stored;
  };
  const Case cases[] = {
      {"threshold 0", Type(IDC_THRESHOLD, L"0"), L"threshold_percent", &Settings::threshold_percent, nullptr, 1},
      {"threshold empty", Type(IDC_THRESHOLD, L""), L"threshold_percent", &Settings::threshold_percent, nullptr, 1},
      {"threshold negative", SetText(IDC_THRESHOLD, L"-7"), L"threshold_percent", &Settings::threshold_percent,
       nullptr, 1},
      {"threshold typed -7: the number field refuses the minus", Type(IDC_THRESHOLD, L"-7"), L"threshold_percent",
       &Settings::threshold_percent, nullptr, 7},
      {"threshold 100", Type(IDC_THRESHOLD, L"100"), L"threshold_percent", &Settings::threshold_percent, nullptr, 99},
      {"threshold 42", Type(IDC_THRESHOLD, L"42"), L"threshold_percent", &Settings::threshold_percent, nullptr, 42},
      {"interval 5000", Type(IDC_INTERVAL, L"5000"), L"interval_minutes", &Settings::interval_minutes, nullptr, 1440},
      {"interval empty", Type(IDC_INTERVAL, L""), L"interval_minutes", &Settings::interval_minutes, nullptr, 0},
      {"idle 5000", Type(IDC_IDLE, L"5000"), L"on_idle_minutes", &Settings::on_idle_minutes, nullptr, 1440},
      {"boot delay 99999", Type(IDC_BOOT_DELAY, L"99999"), L"on_boot_delay", &Settings::on_boot_delay, nullptr, 3600},
      {"hour empty", Type(IDC_CLEAN_HOUR, L""), L"clean_hour", &Settings::clean_hour, nullptr, 0},
      {"hour 24", Type(IDC_CLEAN_HOUR, L"24"), L"clean_hour", &Settings::clean_hour, nullptr, 23},
      {"hour -5", Type(IDC_CLEAN_HOUR, L"-5"), L"clean_hour", &Settings::clean_hour, nullptr, -1},
      {"hour typed 1-2: a minus only leads", Type(IDC_CLEAN_HOUR, L"1-2"), L"clean_hour", &Settings::clean_hour,
       nullptr, 12},
      {"hour typed x7: letters refused", Type(IDC_CLEAN_HOUR, L"x7"), L"clean_hour", &Settings::clean_hour, nullptr, 7},
      {"minute 60", Type(IDC_CLEAN_MINUTE, L"60"), L"clean_minute", &Settings::clean_minute, nullptr, 59},
      {"notify 10000", Type(IDC_NOTIFY_MIN_MB, L"10000"), L"notify_min_mb", &Settings::notify_min_mb, nullptr, 9999},
      {"only the first 15 characters are read", SetText(IDC_NOTIFY_MIN_MB, L"00000000000004299"), L"notify_min_mb",
       &Settings::notify_min_mb, nullptr, 42},
      {"auto-clean unticked", Click(IDC_AUTO_CLEAN), L"auto_clean", nullptr, &Settings::auto_clean, 0},
      {"silent mode ticked", Click(IDC_SILENT), L"silent_mode", nullptr, &Settings::silent_mode, 1},
      {"start with Windows ticked", Click(IDC_START_WITH_WINDOWS), L"start_with_windows", nullptr,
       &Settings::start_with_windows, 1},
      {"status after clean ticked", Click(IDC_SHOW_STATUS), L"show_status_on_clean", nullptr,
       &Settings::show_status_on_clean, 1},
      {"free memory 70000", Type(IDC_FREE_BELOW_MB, L"70000"), L"free_below_mb", &Settings::free_below_mb, nullptr,
       65535},
      {"free memory -5", SetText(IDC_FREE_BELOW_MB, L"-5"), L"free_below_mb", &Settings::free_below_mb, nullptr, 0},
      {"free memory 65535", Type(IDC_FREE_BELOW_MB, L"65535"), L"free_below_mb", &Settings::free_below_mb, nullptr,
       65535},
      {"free memory 1500", Type(IDC_FREE_BELOW_MB, L"1500"), L"free_below_mb", &Settings::free_below_mb, nullptr,
       1500},
      {"commit warning 0: off", Type(IDC_COMMIT_WARN, L"0"), L"commit_warn_percent", &Settings::commit_warn_percent,
       nullptr, 0},
      {"commit warning 20: the earliest offered", Type(IDC_COMMIT_WARN, L"20"), L"commit_warn_percent",
       &Settings::commit_warn_percent, nullptr, 50},
      {"commit warning 75", Type(IDC_COMMIT_WARN, L"75"), L"commit_warn_percent", &Settings::commit_warn_percent,
       nullptr, 75},
      {"commit warning 100", Type(IDC_COMMIT_WARN, L"100"), L"commit_warn_percent", &Settings::commit_warn_percent,
       nullptr, 99},
      {"commit warning -3", SetText(IDC_COMMIT_WARN, L"-3"), L"commit_warn_percent", &Settings::commit_warn_percent,
       nullptr, 0},
      {"trim unticked", Click(IDC_TRIM_WORKING_SETS), L"trim_working_sets", nullptr, &Settings::trim_working_sets, 0},
      {"modified flush unticked", Click(IDC_FLUSH_MODIFIED), L"flush_modified", nullptr, &Settings::flush_modified, 0},
      {"standby purge: none", Choose(IDC_PURGE_STANDBY, 0), L"purge_standby", &Settings::purge_standby, nullptr, 0},
      {"standby purge: low-priority only", Choose(IDC_PURGE_STANDBY, 2), L"purge_standby", &Settings::purge_standby,
       nullptr, 2},
      {"standby purge: whole list", Choose(IDC_PURGE_STANDBY, 1), L"purge_standby", &Settings::purge_standby,
       nullptr, 1},
      {"foreground kept unticked", Click(IDC_KEEP_FOREGROUND), L"keep_foreground", nullptr,
       &Settings::keep_foreground, 0},
      {"hold while busy unticked", Click(IDC_HOLD_WHEN_BUSY), L"hold_when_busy", nullptr, &Settings::hold_when_busy,
       0},
      {"cache flush unticked", Click(IDC_FLUSH_FILE_CACHE), L"flush_file_cache", nullptr, &Settings::flush_file_cache,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    EXPECT_TRUE(Show({c.edit, Click(IDC_OK)}));

    Settings expected;
    InitDefaultSettings(expected);
    if (c.number) expected.*c.number = c.stored;
    else expected.*c.flag = c.stored != 0;
    EXPECT_EQ(memcmp(&app.settings, &expected, sizeof expected), 0) << "only the edited field changes";
    const wchar_t* section = c.flag == &Settings::start_with_windows || c.flag == &Settings::show_status_on_clean
                                 ? L"App"
                                 : L"Clean";
    EXPECT_EQ(ConfigNumber(section, c.key), c.stored);
    EXPECT_EQ(ConfigNumber(L"Clean", L"threshold_percent"), expected.threshold_percent) << "every key is written";
    EXPECT_EQ(ReadRunValue(), expected.start_with_windows ? Quoted(TestExePath()) : L"");
  }
}

// The language list shows the stored language; OK stores the chosen one as
// its name ("" for Windows' choice), keeps it in config.ini and shows it
// from then on.
TEST_F(SettingsWindow, OkStoresTheChosenLanguageKeepsItAndShowsIt) {
  wchar_t preferred[256];
  ReadPreferredLanguages(preferred, ARRAYSIZE(preferred));
  const int windows_choice = ChooseLanguage(L"", preferred);
  struct Case {
    const wchar_t* stored_before;
    int shown;  // the item chosen as the window opens
    int chosen;  // -1: left alone
    const wchar_t* stored;
    int in_use;
  };
  const Case cases[] = {
      {L"", 0, 3, L"fr-FR", 2},         {L"", 0, 8, L"ja-JP", 7},           {L"de-DE", 2, 0, L"", windows_choice},
      {L"ja-JP", 8, -1, L"ja-JP", 7},   {L"pt-BR", 5, 6, L"ru-RU", 5},      {L"", 0, -1, L"", windows_choice},
      {L"en-US", 1, 7, L"zh-CN", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.stored_before) + " chosen " + std::to_string(c.chosen));
    SetUp();
    wcscpy(app.settings.language, c.stored_before);
    Settings expected = app.settings;
    ZeroMemory(expected.language, sizeof expected.language);
    wcscpy(expected.language, c.stored);
    LRESULT shown = -1;
    std::vector<Step> steps = {[&](HWND window) { shown = SendDlgItemMessageW(window, IDC_LANGUAGE, CB_GETCURSEL, 0, 0); }};
    if (c.chosen >= 0) steps.push_back(Choose(IDC_LANGUAGE, c.chosen));
    steps.push_back(Click(IDC_OK));
    EXPECT_TRUE(Show(steps));
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(memcmp(&app.settings, &expected, sizeof expected), 0) << Narrow(app.settings.language);
    wchar_t written[32] = L"<missing>";
    GetPrivateProfileStringW(L"App", L"language", L"<missing>", written, 32, config_.c_str());
    EXPECT_STREQ(written, c.stored);
    EXPECT_EQ(LanguageInUse(), c.in_use) << "applied by OK";
  }
}

TEST_F(SettingsWindow, TypingMinusOneSwitchesTheScheduleOff) {
  app.settings.clean_hour = 3;
  app.settings.clean_minute = 30;
  SaveSettings(app.settings, kSystemFilePlatform, UserToken());
  EXPECT_TRUE(Show({Type(IDC_CLEAN_HOUR, L"-1"), Click(IDC_OK)}));
  EXPECT_EQ(app.settings.clean_hour, -1);
  EXPECT_EQ(ConfigNumber(L"Clean", L"clean_hour"), -1);
  EXPECT_EQ(app.settings.clean_minute, 30);
}

// The bold default button promises that Enter stores, as OK does.
TEST_F(SettingsWindow, EnterInAFieldStoresLikeOk) {
  EXPECT_TRUE(Show({Type(IDC_INTERVAL, L"45"), PressInField(IDC_INTERVAL, VK_RETURN)}));
  EXPECT_EQ(app.settings.interval_minutes, 45);
  EXPECT_EQ(ConfigNumber(L"Clean", L"interval_minutes"), 45);
}

// Typing stops at 255 characters (below); text set from outside the
// field's typing is cut by OK.
TEST_F(SettingsWindow, ExclusionListIsCutTo255Characters) {
  const std::wstring list = ExeListOf300(L"app", L".exe, ");
  EXPECT_TRUE(Show({SetText(IDC_EXCLUDE_LIST, list), [&](HWND window) {
                      EXPECT_EQ(GetWindowTextLengthW(GetDlgItem(window, IDC_EXCLUDE_LIST)), 300)
                          << "set text passes the typing limit";
                    },
                    Click(IDC_OK)}));
  EXPECT_EQ(std::wstring(app.settings.exclude_list), list.substr(0, 255));
  wchar_t saved[512] = {};
  GetPrivateProfileStringW(L"Clean", L"exclude_list", L"", saved, 512, config_.c_str());
  EXPECT_EQ(std::wstring(saved), list.substr(0, 255));
}

// What a field holds is what OK reads: typing and pasting stop where the
// record's list ends and where a number could no longer be read whole.
TEST_F(SettingsWindow, TypingAndPastingStopAtTheFieldsLength) {
  const std::wstring long_list = ExeListOf300(L"tool", L".exe,");
  struct Case {
    const char* what;
    int id;
    bool paste;
    std::wstring input;
    size_t held;
  };
  const Case cases[] = {
      {"threshold typed", IDC_THRESHOLD, false, L"123456789", 6},
      {"interval typed", IDC_INTERVAL, false, L"99999999999", 6},
      {"idle typed", IDC_IDLE, false, L"1234567", 6},
      {"boot delay pasted", IDC_BOOT_DELAY, true, L"2147483648", 6},
      {"hour typed", IDC_CLEAN_HOUR, false, L"-123456789", 6},
      {"minute typed", IDC_CLEAN_MINUTE, false, L"5959595959", 6},
      {"notify typed", IDC_NOTIFY_MIN_MB, false, L"10000", 5},
      {"notify pasted", IDC_NOTIFY_MIN_MB, true, L"00000000000004299", 6},
      {"free memory typed", IDC_FREE_BELOW_MB, false, L"65535", 5},
      {"free memory pasted", IDC_FREE_BELOW_MB, true, L"1234567", 6},
      {"exclusion typed", IDC_EXCLUDE_LIST, false, long_list, 255},
      {"exclusion pasted", IDC_EXCLUDE_LIST, true, long_list, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Step paste = [&c](HWND window) {
      HWND field = GetDlgItem(window, c.id);
      SendMessageW(field, EM_SETSEL, 0, -1);
      SendMessageW(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(c.input.c_str()));
    };
    std::wstring held;
    EXPECT_TRUE(Show({c.paste ? paste : Type(c.id, c.input),
                      [&](HWND window) {
                        wchar_t text[512] = {};
                        GetDlgItemTextW(window, c.id, text, 512);
                        held = text;
                      },
                      Click(IDC_OK)}));
    EXPECT_EQ(held, c.input.substr(0, c.held));
    if (c.id == IDC_EXCLUDE_LIST) {
      EXPECT_EQ(std::wstring(app.settings.exclude_list), held);
    }
  }
}

// A command given while the window closes, such as Exit from the tray menu,
// reaches its window: the settings loop never fetches a message it then
// drops.
namespace {
int commands_seen = 0;
LRESULT CALLBACK CountCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && wParam == 4242) ++commands_seen;
  return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

TEST_F(SettingsWindow, ACommandPostedAsTheWindowClosesIsStillDispatched) {
  WNDCLASSW counter_class = {};
  counter_class.lpfnWndProc = CountCommands;
  counter_class.hInstance = GetModuleHandleW(nullptr);
  counter_class.lpszClassName = L"CommandCounter";
  RegisterClassW(&counter_class);
  HWND target = CreateWindowExW(0, L"CommandCounter", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(target, nullptr);
  struct Case {
    const char* how;
    int close_id;
  };
  const Case cases[] = {{"Cancel", IDC_CANCEL}, {"OK", IDC_OK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    commands_seen = 0;
    // Posted ahead of the wake-up that closing the window posts.
    Show({[&](HWND window) {
      PostMessageW(target, WM_COMMAND, 4242, 0);
      SendMessageW(GetDlgItem(window, c.close_id), BM_CLICK, 0, 0);
    }});
    // The program's own loop, which takes over again.
    PumpMessages();
    EXPECT_EQ(commands_seen, 1);
  }
  DestroyWindow(target);
}

TEST_F(SettingsWindow, OkWithoutChangesStillWritesEveryKey) {
  app.settings.threshold_percent = 0;  // from the file: shown as 0, stored as 1
  app.settings.free_below_mb = 70000;  // likewise: stored as 65535
  app.settings.purge_standby = 0;
  app.settings.commit_warn_percent = 75;
  EXPECT_TRUE(Show({Click(IDC_OK)}));
  EXPECT_EQ(app.settings.threshold_percent, 1);
  EXPECT_EQ(app.settings.free_below_mb, 65535);
  EXPECT_EQ(app.settings.purge_standby, 0);
  EXPECT_EQ(ConfigSectionLines(L"Clean").size(), 18u);
  EXPECT_EQ(ConfigNumber(L"Clean", L"free_below_mb"), 65535);
  EXPECT_EQ(ConfigNumber(L"Clean", L"commit_warn_percent"), 75);
  EXPECT_EQ(ConfigNumber(L"Clean", L"purge_standby"), 0);
  EXPECT_EQ(ConfigNumber(L"Clean", L"trim_working_sets"), 1);
  EXPECT_EQ(ConfigNumber(L"App", L"start_with_windows"), 0);
  EXPECT_EQ(ReadRunValue(), L"") << "the Run value follows the unticked box";
}

TEST_F(SettingsWindow, CancelEscAndTheCloseBoxChangeNothing) {
  struct Case {
    const char* how;
    Step close;
  };
  const Case cases[] = {
      {"Cancel button", Click(IDC_CANCEL)},
      {"IDCANCEL", [](HWND window) { PostMessageW(window, WM_COMMAND, IDCANCEL, 0); }},
      {"Esc in a field", PressInField(IDC_INTERVAL, VK_ESCAPE)},
      {"Esc to the window", [](HWND window) { PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1); }},
      {"close box", [](HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Enter on the focused Cancel", PressInField(IDC_CANCEL, VK_RETURN)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    SetUp();
    app.settings.clean_hour = 7;
    SaveSettings(app.settings, kSystemFilePlatform, UserToken());
    Settings before = app.settings;
    std::string file = ReadFileBytes(config_);
    EXPECT_FALSE(Show({Type(IDC_THRESHOLD, L"55"), Type(IDC_CLEAN_HOUR, L"-1"), Type(IDC_EXCLUDE_LIST, L"x.exe"),
                       Type(IDC_FREE_BELOW_MB, L"2048"), Type(IDC_COMMIT_WARN, L"60"), Click(IDC_AUTO_CLEAN), Click(IDC_START_WITH_WINDOWS),
                       Click(IDC_TRIM_WORKING_SETS), Click(IDC_FLUSH_MODIFIED), Click(IDC_PURGE_STANDBY),
                       Click(IDC_FLUSH_FILE_CACHE), Choose(IDC_LANGUAGE, 2), c.close}));
    EXPECT_EQ(memcmp(&app.settings, &before, sizeof before), 0);
    EXPECT_EQ(ReadFileBytes(config_), file);
    EXPECT_EQ(ReadRunValue(), kRunMarker);
  }
}

TEST_F(SettingsWindow, TabVisitsTheFieldsInCreationOrder) {
  const int order[] = {IDC_THRESHOLD,        IDC_INTERVAL,          IDC_IDLE,           IDC_BOOT_DELAY,
                       IDC_FREE_BELOW_MB,    IDC_AUTO_CLEAN,        IDC_SILENT,         IDC_START_WITH_WINDOWS,
                       IDC_HOLD_WHEN_BUSY,   IDC_CLEAN_HOUR,        IDC_CLEAN_MINUTE,   IDC_NOTIFY_MIN_MB,
                       IDC_COMMIT_WARN,      IDC_SHOW_STATUS,       IDC_TRIM_WORKING_SETS, IDC_FLUSH_MODIFIED,
                       IDC_KEEP_FOREGROUND,  IDC_FLUSH_FILE_CACHE,  IDC_PURGE_STANDBY,  IDC_EXCLUDE_LIST,
                       IDC_LANGUAGE,         IDC_OK,               IDC_CANCEL,            IDC_THRESHOLD};
  std::vector<int> visited;
  std::vector<Step> steps = {[](HWND window) { SetFocus(GetDlgItem(window, IDC_THRESHOLD)); }};
  for (size_t i = 1; i < std::size(order); ++i) {
    steps.push_back([](HWND) { PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1); });
    steps.push_back([&](HWND) { visited.push_back(GetDlgCtrlID(GetFocus())); });
  }
  steps.push_back(Click(IDC_CANCEL));
  Show(steps);
  EXPECT_EQ(visited, std::vector<int>(order + 1, order + std::size(order)));
}

// Each label and check box has an access key of its own, in every
// language (two ampersands show one, and keys differing in case are one
// key); a heading or a button has none (Enter and Esc are OK's and
// Cancel's). A label comes just before its field, where its key moves the
// focus.
TEST(SettingsAccessKeys, EachLabelAndCheckBoxHasItsOwnInEveryLanguageAndEachLabelPrecedesItsField) {
  LanguageInUseForTheTest restore;
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    UseLanguage(language);
    SCOPED_TRACE(Narrow(kLanguages[language].name));
    std::map<wchar_t, std::wstring> keys;
    int labels = 0, boxes = 0;
    for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
      wchar_t loaded[SETTINGS_TEXT_CAPACITY];
      SettingsControlText(i, loaded);
      const std::wstring text = loaded;
      SCOPED_TRACE(Narrow(text));
      const bool field = kControls[i].window_class == L"EDIT" || kControls[i].window_class == L"COMBOBOX";
      if (language == 0 && !field) {
        EXPECT_EQ(text, kControls[i].text);
      }
      EXPECT_EQ(text.empty(), field || kControls[i].style == separator) << "text where the control shows one";
      int marks = 0;
      wchar_t key = AccessKey(text, &marks);
      bool heading = std::find(std::begin(kHeadings), std::end(kHeadings), i) != std::end(kHeadings);
      bool box = kControls[i].style == check;
      bool is_label = kControls[i].window_class == L"STATIC" && !text.empty() && !heading;
      if (box || is_label) {
        EXPECT_EQ(marks, 1);
        EXPECT_TRUE(iswalnum(key)) << static_cast<int>(key);
        auto [seen, added] = keys.emplace(key, text);
        EXPECT_TRUE(added) << "the key of " << Narrow(seen->second) << " again";
        if (is_label) {
          ++labels;
          ASSERT_LT(i + 1, SETTINGS_CONTROL_COUNT);
          EXPECT_TRUE(kControls[i + 1].window_class == L"EDIT" || kControls[i + 1].window_class == L"COMBOBOX")
              << "its field next";
        } else {
          ++boxes;
        }
      } else {
        EXPECT_EQ(marks, 0) << "no access key";
      }
    }
    EXPECT_EQ(labels, 12);
    EXPECT_EQ(boxes, 9);
  }
}

// Alt and a label's key moves the focus to its field, its text selected;
// Alt and a check box's key ticks or unticks it, and the focus goes there.
TEST_F(SettingsWindow, AccessKeysMoveTheFocusToTheirFieldOrTickTheirBox) {
  struct Case {
    wchar_t key;
    int id;
    bool box;
  };
  const Case cases[] = {
      {L'r', IDC_THRESHOLD, false},      {L'i', IDC_INTERVAL, false},         {L't', IDC_IDLE, false},
      {L'b', IDC_BOOT_DELAY, false},     {L'H', IDC_CLEAN_HOUR, false},       {L'm', IDC_CLEAN_MINUTE, false},
      {L'n', IDC_NOTIFY_MIN_MB, false},  {L'c', IDC_COMMIT_WARN, false},      {L'f', IDC_FREE_BELOW_MB, false},
      {L'x', IDC_EXCLUDE_LIST, false},   {L'p', IDC_PURGE_STANDBY, false},
      {L'a', IDC_AUTO_CLEAN, true},      {L's', IDC_SILENT, true},            {L'w', IDC_START_WITH_WINDOWS, true},
      {L'o', IDC_SHOW_STATUS, true},     {L'e', IDC_TRIM_WORKING_SETS, true}, {L'd', IDC_FLUSH_MODIFIED, true},
      {L'k', IDC_KEEP_FOREGROUND, true}, {L'l', IDC_FLUSH_FILE_CACHE, true},    {L'g', IDC_HOLD_WHEN_BUSY, true},
      {L'u', IDC_LANGUAGE, false},
  };
  struct Seen {
    int focus;
    DWORD selection;
    LRESULT checked_before, checked_after;
  };
  std::vector<Seen> seen(std::size(cases));
  std::vector<Step> steps;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    Seen& s = seen[i];
    steps.push_back([&c, &s](HWND window) {
      // From OK, as the key comes with the Alt key down.
      SetFocus(GetDlgItem(window, IDC_OK));
      s.checked_before = SendDlgItemMessageW(window, c.id, BM_GETCHECK, 0, 0);
      PostMessageW(GetFocus(), WM_SYSCHAR, c.key, 1 | (1 << 29));
    });
    steps.push_back([&c, &s](HWND window) {
      s.focus = GetDlgCtrlID(GetFocus());
      s.selection = static_cast<DWORD>(SendDlgItemMessageW(window, c.id, EM_GETSEL, 0, 0));
      s.checked_after = SendDlgItemMessageW(window, c.id, BM_GETCHECK, 0, 0);
    });
  }
  steps.push_back(Click(IDC_CANCEL));
  wcscpy(app.settings.exclude_list, L"app.exe");
  Settings before = app.settings;
  EXPECT_FALSE(Show(steps));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const Seen& s = seen[i];
    SCOPED_TRACE(std::string("Alt+") + static_cast<char>(c.key));
    EXPECT_EQ(s.focus, c.id);
    if (c.box) {
      EXPECT_NE(s.checked_after, s.checked_before) << "ticked or unticked";
    } else if (c.id != IDC_PURGE_STANDBY && c.id != IDC_LANGUAGE) {  // a drop-down list has no text to select
      EXPECT_EQ(LOWORD(s.selection), 0) << "its text selected whole";
      EXPECT_GT(HIWORD(s.selection), 0);
    }
  }
  EXPECT_EQ(memcmp(&app.settings, &before, sizeof before), 0) << "Cancel after all";
}

// As a dialog: the first field has the focus with its text selected when the
// window opens, and the focus comes back to where it was when the user
// returns from another window.
TEST_F(SettingsWindow, FocusStartsInTheFirstFieldAndComesBackAfterSwitchingAway) {
  app.settings.threshold_percent = 75;
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  int first = 0, back = 0;
  DWORD selection = 0;
  bool away = true;
  Show({[&](HWND window) {
          first = GetDlgCtrlID(GetFocus());
          selection = static_cast<DWORD>(SendDlgItemMessageW(window, IDC_THRESHOLD, EM_GETSEL, 0, 0));
          SetFocus(GetDlgItem(window, IDC_CLEAN_MINUTE));
        },
        [&](HWND) {
          ShowWindow(other, SW_SHOW);
          SetActiveWindow(other);
        },
        [&](HWND window) {
          away = GetActiveWindow() == other && !IsChild(window, GetFocus());
          SetActiveWindow(window);
        },
        [&](HWND) { back = GetDlgCtrlID(GetFocus()); }, Click(IDC_CANCEL)});
  DestroyWindow(other);
  EXPECT_EQ(first, IDC_THRESHOLD);
  EXPECT_EQ(selection, static_cast<DWORD>(MAKELONG(0, 2))) << "75 selected whole";
  EXPECT_TRUE(away) << "the other window did not take the focus";
  EXPECT_EQ(back, IDC_CLEAN_MINUTE);
}

// The program's manifest asks for Common Controls 6, whose buttons, check
// boxes and fields are drawn in the current style with their own sizes:
// under it every text still fits. Played with an activation context of
// that dependency alone.
TEST_F(SettingsWindow, UnderCommonControls6EveryTextStillFits) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring manifest = std::wstring(temp) + L"quillmere-common-controls-6.manifest";
  ASSERT_TRUE(WriteFileBytes(manifest,
                             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                             "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
                             "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                             "processorArchitecture=\"amd64\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
                             "</dependentAssembly></dependency></assembly>"));
  ACTCTXW request = {};
  request.cbSize = sizeof request;
  request.lpSource = manifest.c_str();
  HANDLE context = CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE);
  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(context, &cookie));

  struct Button {
    std::wstring text;
    RECT client;
    BOOL ideal_known;
    SIZE ideal;
  };
  std::vector<Button> buttons;
  std::vector<LONG> edit_heights;
  int line = 0;
  std::vector<Drawn> drawn;
  Show({[&](HWND window) {
          drawn = DrawnTexts(window);
          HDC dc = GetDC(window);
          HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
          TEXTMETRICW metrics = {};
          GetTextMetricsW(dc, &metrics);
          line = metrics.tmHeight;
          SelectObject(dc, previous);
          ReleaseDC(window, dc);
          for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t name[16] = {}, text[128] = {};
            GetClassNameW(child, name, 16);
            GetWindowTextW(child, text, 128);
            RECT client = {};
            GetClientRect(child, &client);
            if (_wcsicmp(name, L"EDIT") == 0) edit_heights.push_back(client.bottom);
            if (_wcsicmp(name, L"BUTTON") != 0) continue;
            Button b = {text, client, FALSE, {}};
            // Asked for the size its glyph and text need: only version 6 knows.
            b.ideal_known =
                static_cast<BOOL>(SendMessageW(child, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&b.ideal)));
            buttons.push_back(b);
          }
        },
        Click(IDC_CANCEL)});
  DeactivateActCtx(0, cookie);
  ReleaseActCtx(context);
  DeleteFileW(manifest.c_str());

  ASSERT_EQ(buttons.size(), 11u) << "nine check boxes, OK and Cancel";
  for (const Button& b : buttons) {
    SCOPED_TRACE(Narrow(b.text));
    EXPECT_TRUE(b.ideal_known) << "a version 6 button";
    EXPECT_LE(b.ideal.cx, b.client.right);
    EXPECT_LE(b.ideal.cy, b.client.bottom);
  }
  ASSERT_EQ(edit_heights.size(), 10u);
  for (LONG height : edit_heights) EXPECT_GE(height, line) << "a line of text inside the field's border";
  for (const Drawn& d : drawn) {
    SCOPED_TRACE(Narrow(d.text));
    EXPECT_GE(d.client.right, d.extent.cx + (d.check ? GetSystemMetrics(SM_CXMENUCHECK) : 0));
    EXPECT_GE(d.client.bottom, d.extent.cy);
  }
}

TEST_F(SettingsWindow, QuitEndsTheLoopClosesTheWindowAndIsPostedAgain) {
  HWND owner = CreateOwnerWindow();
  Settings before = app.settings;
  EXPECT_FALSE(Show({Type(IDC_THRESHOLD, L"55"), [](HWND) { PostQuitMessage(7); }}, owner));
  EXPECT_EQ(memcmp(&app.settings, &before, sizeof before), 0);
  EXPECT_TRUE(IsWindowEnabled(owner));
  WPARAM code = 0;
  EXPECT_TRUE(PumpMessages(&code)) << "the outer loop must end too";
  EXPECT_EQ(code, 7u);
  DestroyWindow(owner);
}

// Fills the process's GDI and USER tables to within 400 objects of full: a
// window that kept one object of either kind per opening could no longer be
// made, or would get no font, well before the 500th time.
TEST_F(SettingsWindow, OpeningAndClosing500TimesLeaksNoGdiOrUserObject) {
  FilledHandleTables tables;
  ASSERT_TRUE(FillHandleTables(tables, 400));

  int opened = 0;
  for (int i = 0; i < 500; ++i) {
    bool complete = false;
    Show({[&](HWND window) {
      HWND last = GetDlgItem(window, IDC_CANCEL);
      complete = last && SendMessageW(last, WM_GETFONT, 0, 0) != 0;
      PostMessageW(window, WM_CLOSE, 0, 0);
    }});
    if (!complete) break;
    ++opened;
  }
  EXPECT_EQ(opened, 500) << "opening " << opened + 1 << " found no room for its window or its font";
  EXPECT_TRUE(RoomForMore(1));
  FreeHandleTables(tables);
}

// When a control cannot be made, no window is made: OK on a window missing
// a field would store 0 for a setting never shown.
TEST_F(SettingsWindow, WithoutEveryControlNothingOpensAndNothingChanges) {
  Settings before = app.settings;
  WatchCreation watch;
  watch.refuse_id = IDC_CANCEL;  // the last control
  bool saved = Play({Click(IDC_OK)});  // had it opened after all
  watch.Stop();

  EXPECT_FALSE(saved);
  EXPECT_EQ(script.window, nullptr) << "a window was shown";
  ASSERT_EQ(watch.created.size(), 1u + SETTINGS_CONTROL_COUNT);
  EXPECT_FALSE(IsWindow(watch.created[0].window));
  EXPECT_EQ(memcmp(&app.settings, &before, sizeof before), 0);
  EXPECT_EQ(ReadFileBytes(config_), "");
  EXPECT_EQ(ReadRunValue(), kRunMarker);
}

// This test program is played as a copy in a folder of the user's own, so
// switching start at logon on gets no elevated task: the user hears so once, when switching it
// on, and not on every OK after.
TEST_F(SettingsWindow, SwitchingStartWithWindowsOnForAnExeTheUserCanChangeSaysWhyOnce) {
  RecordTray();
  EXPECT_TRUE(Show({Click(IDC_START_WITH_WINDOWS), Click(IDC_OK)}));
  ASSERT_TRUE(app.settings.start_with_windows);
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  EXPECT_EQ(recording_tray.Balloons()[0].title, L"Quillmere");
  EXPECT_EQ(recording_tray.Balloons()[0].text,
            L"Start with Windows starts Quillmere elevated only when quillmere.exe and its folders can be "
            L"changed by administrators alone, as when installed in Program Files.");
  EXPECT_EQ(ReadRunValue(), Quoted(TestExePath()));

  EXPECT_TRUE(Show({Click(IDC_OK)}));
  EXPECT_EQ(recording_tray.Balloons().size(), 1u) << "already on";
  EXPECT_TRUE(Show({Click(IDC_START_WITH_WINDOWS), Click(IDC_OK)}));
  EXPECT_FALSE(app.settings.start_with_windows);
  EXPECT_EQ(recording_tray.Balloons().size(), 1u) << "switched off";
  EXPECT_EQ(ReadRunValue(), L"");
}

// OK applies what it stored even when it cannot be kept: a save that fails
// and logon entries that cannot be updated each say so in a notice.
TEST_F(SettingsWindow, OkThatCannotSaveOrUpdateTheLogonEntriesSaysSo) {
  RecordTray();
  HWND icon_owner =
      CreateWindowExW(0, L"STATIC", L"icon owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(AddTrayIcon(app.tray, icon_owner));
  app.settings.silent_mode = true;  // notices show all the same

  app.file_platform = &kPlayedFilePlatform;
  ResetPlayedFiles();
  played.failing_move = true;
  EXPECT_TRUE(Show({Type(IDC_THRESHOLD, L"42"), Click(IDC_OK)}));
  EXPECT_EQ(app.settings.threshold_percent, 42) << "applies until Quillmere exits";
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  ExpectBalloon(recording_tray.Balloons()[0], L"Quillmere", kSettingsNotSavedText);

  ResetPlayedFiles();
  app.file_platform = &kSystemFilePlatform;
  app.task_scheduler = &kUnreachableScheduler;
  EXPECT_TRUE(Show({Click(IDC_START_WITH_WINDOWS), Click(IDC_OK)}));
  EXPECT_EQ(ConfigNumber(L"App", L"start_with_windows"), 1) << "saved";
  ASSERT_EQ(recording_tray.Balloons().size(), 2u) << "the failure, not why there is no task";
  ExpectBalloon(recording_tray.Balloons()[1], L"Quillmere", kAutostartFailedText);

  RemoveTrayIcon(app.tray);
  DestroyWindow(icon_owner);
}

namespace {

// What OK handed over, and how often.
struct StoredCall {
  int calls;
  const Settings* settings;
  Settings values;  // as they were when handed over
  bool was_starting_with_windows;
};
StoredCall stored_call;
void RecordStored(const Settings& settings, bool was_starting_with_windows) {
  ++stored_call.calls;
  stored_call.settings = &settings;
  stored_call.values = settings;
  stored_call.was_starting_with_windows = was_starting_with_windows;
}

}  // namespace

// The window edits the record it is handed and leaves keeping it to whoever
// opened it: OK hands that record over once, already stored, with the
// start-at-logon choice from before; the window itself writes nothing.
TEST_F(SettingsWindow, OkHandsTheEditedRecordOverAndKeepsNothingItself) {
  Settings own;
  InitDefaultSettings(own);
  const Settings program = app.settings;
  stored_call = {};
  EXPECT_TRUE(Show({Type(IDC_THRESHOLD, L"42"), Click(IDC_START_WITH_WINDOWS), Click(IDC_OK)}, nullptr, own,
                   RecordStored));
  ASSERT_EQ(stored_call.calls, 1);
  EXPECT_EQ(stored_call.settings, &own);
  EXPECT_EQ(stored_call.values.threshold_percent, 42) << "stored before it is handed over";
  EXPECT_TRUE(stored_call.values.start_with_windows);
  EXPECT_FALSE(stored_call.was_starting_with_windows) << "the choice before OK";
  EXPECT_EQ(own.threshold_percent, 42);
  EXPECT_EQ(memcmp(&app.settings, &program, sizeof program), 0) << "the program's record is not the window's";
  EXPECT_EQ(ReadFileBytes(config_), "") << "keeping the values is the caller's";
  EXPECT_EQ(ReadRunValue(), kRunMarker);

  stored_call = {};
  EXPECT_FALSE(Show({Type(IDC_THRESHOLD, L"7"), Click(IDC_CANCEL)}, nullptr, own, RecordStored));
  EXPECT_EQ(stored_call.calls, 0) << "Cancel hands nothing over";
  EXPECT_EQ(own.threshold_percent, 42);
}

namespace {

BOOL CALLBACK CollectSettingsWindow(HWND window, LPARAM found) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (wcscmp(name, L"QuillmereSettings") == 0 && IsWindowVisible(window))
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// Every settings window this thread shows.
std::vector<HWND> SettingsWindows() {
  std::vector<HWND> found;
  EnumThreadWindows(GetCurrentThreadId(), CollectSettingsWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

// The menu's commands while the settings window is open, through the
// program's real main window and the hidden window that owns the menu.
class SettingsFromTheMenu : public ProgramWindowTest {
 protected:
  SettingsFromTheMenu() : ProgramWindowTest(true) {}
  // Chooses "Settings..." and plays the steps in the window it opens.
  void ChooseSettings(std::vector<Step> steps) {
    script = Script{};
    script.steps = std::move(steps);
    UINT_PTR timer = SetTimer(nullptr, 0, 10, PlayNextStep);
    Send(WM_COMMAND, IDM_SETTINGS);
    KillTimer(nullptr, timer);
    EXPECT_FALSE(script.timed_out) << "a window did not close";
  }
};

// A second window would store over the first one's OK: "Settings..." while
// one is open brings that one back to the front.
TEST_F(SettingsFromTheMenu, ChosenAgainBringsTheOpenWindowToTheFrontInsteadOfASecond) {
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  HWND first = nullptr, active = nullptr;
  std::vector<HWND> shown;
  bool open = false;
  ChooseSettings({[&](HWND window) {
                    first = window;
                    open = IsSettingsWindowOpen(app.settings_window);
                    ShowWindow(other, SW_SHOW);
                    SetActiveWindow(other);
                  },
                  [&](HWND) { PostMessageW(app.shell_window, WM_COMMAND, IDM_SETTINGS, 0); },
                  [&](HWND) {
                    shown = SettingsWindows();
                    active = GetActiveWindow();
                  },
                  [&](HWND) {
                    for (HWND window : SettingsWindows()) PostMessageW(window, WM_CLOSE, 0, 0);
                  }});
  DestroyWindow(other);
  EXPECT_TRUE(open);
  EXPECT_EQ(shown, std::vector<HWND>{first});
  EXPECT_EQ(active, first) << "brought to the front";
  EXPECT_FALSE(IsSettingsWindowOpen(app.settings_window)) << "closed";
}

// Auto-clean switched in the menu is saved at once; the open window shows
// it, so that its OK keeps it rather than storing the box as it was.
TEST_F(SettingsFromTheMenu, AutoCleanSwitchedInTheMenuShowsInItsBoxAndOkKeepsIt) {
  ASSERT_TRUE(app.settings.auto_clean);
  const std::wstring config = AppFile(L"config.ini");
  LRESULT shown = -1;
  UINT saved_by_menu = 9;
  ChooseSettings({[&](HWND) { PostMessageW(app.shell_window, WM_COMMAND, IDM_TOGGLE_AUTO, 0); },
                  [&](HWND window) {
                    shown = SendDlgItemMessageW(window, IDC_AUTO_CLEAN, BM_GETCHECK, 0, 0);
                    saved_by_menu = GetPrivateProfileIntW(L"Clean", L"auto_clean", 9, config.c_str());
                  },
                  Click(IDC_OK)});
  EXPECT_EQ(saved_by_menu, 0u);
  EXPECT_EQ(shown, BST_UNCHECKED);
  EXPECT_FALSE(app.settings.auto_clean) << "OK kept what the menu chose";
  EXPECT_EQ(GetPrivateProfileIntW(L"Clean", L"auto_clean", 9, config.c_str()), 0u);
}
