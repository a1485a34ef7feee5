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
#include "tests/unit/settings_controls.h"

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
