#include "tests/e2e/harness.h"

#include <commctrl.h>
#include <shellapi.h>

#include <stdio.h>

#include "app/app.h"
#include "tests/support.h"
#include "tray/tray.h"
#include "common/system.h"

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

int HostRun(const std::string& command, DWORD timeout_ms) {
  // Wine starts Unix programs but hands back no process handle: the shell
  // leaves the exit code in a marker file that we wait for.
  // Wine's process ids are small and repeat from run to run (and between
  // prefixes on one machine): a stamp taken once per test program keeps a
  // marker left by another run from answering for this one.
  static int serial = 0;
  static LARGE_INTEGER stamp = [] {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
  }();
  char marker[128];
  snprintf(marker, sizeof marker, "/tmp/quillmere-e2e-%lu-%llx-%d", GetCurrentProcessId(),
           static_cast<unsigned long long>(stamp.QuadPart), ++serial);
  std::string script = command + "; echo $? > " + marker + ".tmp && mv " + marker + ".tmp " + marker;
  std::wstring line = L"/bin/sh -c \"";
  for (char c : script) {
    if (c == '"' || c == '\\') line += L'\\';
    line += static_cast<wchar_t>(c);
  }
  line += L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  // For a Unix program Wine leaves hProcess 0 and hThread whatever was on
  // its stack: closing that closed some other handle of this process (once
  // its desktop's, after which FindWindowW and GetForegroundWindow found
  // nothing and the notification area seemed gone for the tests after).
  if (process.hProcess) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  std::wstring marker_path = WinePath(marker);
  std::string result;
  if (!WaitUntil([&] { return !(result = ReadFileBytes(marker_path)).empty(); }, timeout_ms)) return -1;
  DeleteFileW(marker_path.c_str());
  return atoi(result.c_str());
}

void MouseClick(POINT at, int button, int count) {
  // A window made under a resting pointer misses a click that comes with no
  // motion first (Wine's tray icon of a restarted program does), so the
  // pointer arrives from one pixel off. No "--sync": it waits 15 s for a
  // move that never comes when the pointer is already there.
  char command[200];
  snprintf(command, sizeof command,
           "xdotool mousemove %ld %ld sleep 0.05 mousemove %ld %ld sleep 0.05 click --repeat %d --delay 80 %d",
           at.x + 1, at.y + 1, at.x, at.y, count, button);
  HostRun(command);
}

void PressKeysInWineWindow(const std::string& keys, const std::string& window_name) {
  HostRun("xdotool search --name '" + window_name + "' windowfocus --sync key " + keys);
}

void FocusWineWindow(const std::string& title_pattern) {
  HostRun("xdotool search --name '" + title_pattern + "' windowfocus --sync");
}

void PressKeys(const std::string& keys) { HostRun("xdotool key --delay 40 " + keys); }

void TypeText(const std::string& text) { HostRun("xdotool type --delay 40 -- '" + text + "'"); }

namespace {

// The tooltip controls of Wine's tray live in the explorer process: the one
// that names the icons, and a balloon-style one per balloon on screen. Their
// texts are read through memory lent inside that process (a balloon's title
// cannot be read that way under Wine).
struct TooltipText {
  HWND tool_window = nullptr;  // the window the text belongs to
  std::wstring text;
};

std::vector<TooltipText> ReadTooltips(bool balloons) {
  std::vector<TooltipText> texts;
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  DWORD tray_process = 0;
  if (!tray || !GetWindowThreadProcessId(tray, &tray_process)) return texts;
  HANDLE explorer = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, tray_process);
  if (!explorer) return texts;
  const SIZE_T kText = 1024;
  BYTE* remote = static_cast<BYTE*>(VirtualAllocEx(explorer, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
  HWND tooltip = nullptr;
  while (remote && (tooltip = FindWindowExW(nullptr, tooltip, L"tooltips_class32", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(tooltip, &owner);
    bool balloon = (GetWindowLongW(tooltip, GWL_STYLE) & TTS_BALLOON) != 0;
    if (owner != tray_process || balloon != balloons || (balloons && !IsWindowVisible(tooltip))) continue;
    int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      TTTOOLINFOW info = {};
      info.cbSize = sizeof info;
      info.lpszText = reinterpret_cast<LPWSTR>(remote + kText);
      wchar_t empty = 0;
      WriteProcessMemory(explorer, remote, &info, sizeof info, nullptr);
      WriteProcessMemory(explorer, remote + kText, &empty, sizeof empty, nullptr);
      if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote))) continue;
      wchar_t text[512] = {};
      ReadProcessMemory(explorer, remote + kText, text, sizeof text - sizeof(wchar_t), nullptr);
      ReadProcessMemory(explorer, remote, &info, sizeof info, nullptr);
      texts.push_back({info.hwnd, text});
    }
  }
  if (remote) VirtualFreeEx(explorer, remote, 0, MEM_RELEASE);
  CloseHandle(explorer);
  return texts;
}

}  // namespace

std::vector<TrayIconView> ListTrayIcons() {
  std::vector<TrayIconView> icons;
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (!tray || !IsWindowVisible(tray)) return icons;
  std::vector<TooltipText> tips = ReadTooltips(false);
  HWND child = nullptr;
  while ((child = FindWindowExW(tray, child, L"__winex11_tray_icon", nullptr)) != nullptr) {
    if (!IsWindowVisible(child)) continue;
    TrayIconView icon;
    icon.window = child;
    GetWindowRect(child, &icon.rect);
    for (const TooltipText& tip : tips)
      if (tip.tool_window == child) icon.tip = tip.text;
    icons.push_back(icon);
  }
  return icons;
}

bool VisibleBalloonText(std::wstring& text) {
  for (const TooltipText& balloon : ReadTooltips(true)) {
    text = balloon.text;
    return true;
  }
  return false;
}

bool FindQuillmereIcon(TrayIconView& found) {
  for (const TrayIconView& icon : ListTrayIcons()) {
    if (icon.tip.rfind(L"Quillmere", 0) == 0) {
      found = icon;
      return true;
    }
  }
  return false;
}

HWND FindMainWindow() { return FindWindowExW(HWND_MESSAGE, nullptr, L"Quillmere", nullptr); }

HWND FindMenuWindow(DWORD process_id) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process_id && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND FindStatusPopup() {
  HWND popup = FindWindowW(L"QuillmereStatus", nullptr);
  return popup && IsWindowVisible(popup) ? popup : nullptr;
}

StatusPopupWatch::StatusPopupWatch() { thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr); }

StatusPopupWatch::~StatusPopupWatch() {
  InterlockedExchange(&stop_, 1);
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
}

DWORD WINAPI StatusPopupWatch::Watch(void* self) {
  StatusPopupWatch* watch = static_cast<StatusPopupWatch*>(self);
  while (!InterlockedCompareExchange(&watch->stop_, 0, 0) && watch->seen_tick_ == 0) {
    if (FindStatusPopup()) watch->seen_tick_ = GetTickCount64();
    Sleep(20);
  }
  return 0;
}

namespace {

std::vector<RECT> measured_menu_items;

// Measures the menu the moment it waits for input, then closes it; a timer
// closes it should that moment never come.
LRESULT CALLBACK MeasuringOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ENTERIDLE && wParam == MSGF_MENU && measured_menu_items.empty()) {
    HWND popup = reinterpret_cast<HWND>(lParam);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    RECT frame = {};
    GetWindowRect(popup, &frame);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      RECT item = {};
      GetMenuItemRect(nullptr, menu, i, &item);
      OffsetRect(&item, -frame.left, -frame.top);
      measured_menu_items.push_back(item);
    }
    EndMenu();
    return 0;
  }
  if (message == WM_TIMER) {
    EndMenu();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Where each item of the tray menu lies, relative to its window's top-left
// corner. Menus of another process cannot be read, so the same menu is shown
// in this process for an instant and measured.
const std::vector<RECT>& TrayMenuItemRects() {
  if (!measured_menu_items.empty()) return measured_menu_items;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = MeasuringOwnerProc;
  window_class.lpszClassName = L"QuillmereMenuMeasure";
  RegisterClassW(&window_class);
  HWND owner = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
  // The program offers "Run as Administrator" only when it runs unelevated,
  // as it does here exactly when this process does.
  HMENU menu = BuildTrayMenu(true, !IsProcessElevated());
  if (owner && menu) {
    SetTimer(owner, 1, 5000, nullptr);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, 600, 600, 0, owner, nullptr);
    KillTimer(owner, 1);
  }
  if (menu) DestroyMenu(menu);
  if (owner) DestroyWindow(owner);
  return measured_menu_items;
}

// Pixels of the rectangle that differ from its top-left pixel.
int PixelsUnlike(const RECT& area) {
  PixelImage image = CapturePixels(nullptr, area);
  int unlike = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) unlike += image.At(x, y) != image.At(0, 0);
  return unlike;
}

RECT OnScreen(HWND menu_window, int position) {
  RECT frame = {};
  GetWindowRect(menu_window, &frame);
  RECT item = TrayMenuItemRects().at(static_cast<size_t>(position));
  OffsetRect(&item, frame.left, frame.top);
  return item;
}

// A real right-click on the program's tray icon; answers the menu window of
// that process once it is drawn, or nullptr.
HWND RightClickTrayIcon(DWORD process_id) {
  TrayIconView icon;
  if (!FindQuillmereIcon(icon) || TrayMenuItemRects().empty()) return nullptr;
  MouseClick(icon.Center(), 3);
  HWND menu = nullptr;
  // Drawn once the first item's text is on the screen.
  bool drawn = WaitUntil([&] { return (menu = FindMenuWindow(process_id)) && PixelsUnlike(OnScreen(menu, 0)) > 0; },
                         10000);
  return drawn ? menu : nullptr;
}

}  // namespace

bool MenuItemChecked(HWND menu_window, int position) {
  // The check mark stands in a column of the standard width before the text.
  RECT mark = OnScreen(menu_window, position);
  mark.right = mark.left + GetSystemMetrics(SM_CXMENUCHECK);
  return PixelsUnlike(mark) > 0;
}

void ClickMenuItem(HWND menu_window, int position) {
  RECT item = OnScreen(menu_window, position);
  MouseClick({(item.left + item.right) / 2, (item.top + item.bottom) / 2}, 1);
}

bool ClickTrayMenuItem(const wchar_t* text) {
  // The item's position in the program's menu, from a menu built alike.
  int position = -1;
  HMENU copy = BuildTrayMenu(true, !IsProcessElevated());
  for (int i = 0; copy && i < GetMenuItemCount(copy) && position < 0; ++i) {
    wchar_t label[64] = {};
    GetMenuStringW(copy, i, label, 64, MF_BYPOSITION);
    if (wchar_t* tab = wcschr(label, L'\t')) *tab = 0;
    if (wcscmp(label, text) == 0) position = i;
  }
  if (copy) DestroyMenu(copy);
  DWORD program = 0;
  GetWindowThreadProcessId(FindMainWindow(), &program);
  HWND menu = position < 0 ? nullptr : RightClickTrayIcon(program);
  if (!menu) return false;
  ClickMenuItem(menu, position);
  return true;
}

std::wstring ExePath() {
  char unix_path[1024] = {};
  GetEnvironmentVariableA("QUILLMERE_EXE", unix_path, sizeof unix_path);
  return WinePath(unix_path);
}

HWND WaitForSettingsWindow(DWORD timeout_ms) {
  HWND window = nullptr;
  bool active = WaitUntil(
      [&] {
        window = FindWindowW(L"QuillmereSettings", nullptr);
        return window && IsWindowVisible(window) && GetForegroundWindow() == window;
      },
      timeout_ms);
  return active ? window : nullptr;
}

POINT CentreOf(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

int ConfigNumber(const wchar_t* key) {
  return static_cast<int>(GetPrivateProfileIntW(L"Clean", key, -12345, AppFile(L"config.ini").c_str()));
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

namespace {

::testing::Environment* const anchor = ::testing::AddGlobalTestEnvironment(new AnchorTrayIcon);

void EndLeftoverCopy() {
  HWND window = FindMainWindow();
  if (!window) return;
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
  PostMessageW(window, WM_COMMAND, IDM_EXIT, 0);
  if (process && WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) TerminateProcess(process, 99);
  if (process) CloseHandle(process);
  NOTIFYICONDATAW orphan = {};
  orphan.cbSize = sizeof orphan;
  orphan.hWnd = window;
  orphan.uID = 1;
  Shell_NotifyIconW(NIM_DELETE, &orphan);
}

}  // namespace

void QuillmereTest::SetUp() {
  EndLeftoverCopy();
  DeleteAppFolder();
  DeleteRunValue();
  DeleteAutostartTask();
}

void QuillmereTest::TearDown() {
  if (Running()) {
    Exit();
    if (Running()) TerminateProcess(process_.hProcess, 99);
  }
  EndLeftoverCopy();
  ReleaseProcess();
  DeleteAppFolder();
  DeleteRunValue();
  DeleteAutostartTask();
}

namespace {

bool StartProcess(const std::wstring& exe, PROCESS_INFORMATION& process) {
  std::wstring line = Quoted(exe);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  return CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
}

}  // namespace

bool QuillmereTest::Start(const std::wstring& exe) {
  // A test that starts the program again and again must not keep every
  // ended process alive in the server through its handles.
  if (!Running()) ReleaseProcess();
  // Wine now and then refuses a new process with ERROR_INTERNAL_ERROR
  // before any of the program runs; that is the test bed, so try again.
  for (int attempt = 1;; ++attempt) {
    if (StartProcess(exe, process_)) break;
    DWORD error = GetLastError();
    fprintf(stderr, "start: CreateProcess failed (%lu), attempt %d\n", error, attempt);
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) return false;
    Sleep(1000);
  }
  // Wine can stall a new process for up to half a minute while it brings
  // its services up; a process that ends meanwhile is reported at once.
  bool ended = false;
  auto up = [&](const std::function<bool()>& seen) {
    return WaitUntil([&] { return seen() || (ended = !Running()); }, 30000) && !ended;
  };
  if (!up([&] { return (main_window_ = FindMainWindow()) != nullptr; })) {
    fprintf(stderr, "start: %s\n", ended ? "the program ended before its window" : "no main window after 30 s");
    if (ended) fprintf(stderr, "start: exit code %lu\n", WaitForExitCode(0));
    return false;
  }
  TrayIconView icon;
  if (!up([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"GB") != std::wstring::npos; })) {
    fprintf(stderr, "start: %s\n", ended ? "the program ended before its icon" : "no tray icon with a figure after 30 s");
    if (ended) fprintf(stderr, "start: exit code %lu\n", WaitForExitCode(0));
    return false;
  }
  return true;
}

bool QuillmereTest::StartThroughHost(const std::string& variables, const std::string& stderr_file) {
  if (!Running()) ReleaseProcess();
  char exe[1024] = {};
  GetEnvironmentVariableA("QUILLMERE_EXE", exe, sizeof exe);
  // In the background: the shell ends at once and the program runs on.
  std::string command = variables + " wine '" + exe + "' 2>'" + stderr_file + "' >/dev/null </dev/null";
  if (HostRun("(" + command + " &)") != 0) return false;
  DWORD id = 0;
  TrayIconView icon;
  bool up = WaitUntil([&] { return (main_window_ = FindMainWindow()) != nullptr; }, 30000) &&
            GetWindowThreadProcessId(main_window_, &id) &&
            (process_.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                                             FALSE, id)) != nullptr &&
            WaitUntil([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"GB") != std::wstring::npos; }, 30000);
  process_.dwProcessId = id;
  if (!up) fprintf(stderr, "start through the host: no main window or tray icon after 30 s\n");
  return up;
}

DWORD QuillmereTest::StartSecondCopy(DWORD timeout_ms) {
  PROCESS_INFORMATION second = {};
  if (!StartProcess(ExePath(), second)) return static_cast<DWORD>(-2);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(second.hProcess, timeout_ms) == WAIT_OBJECT_0) GetExitCodeProcess(second.hProcess, &code);
  else TerminateProcess(second.hProcess, 99);
  CloseHandle(second.hProcess);
  CloseHandle(second.hThread);
  return code;
}

bool QuillmereTest::Running() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void QuillmereTest::ReleaseProcess() {
  if (process_.hProcess) CloseHandle(process_.hProcess);
  if (process_.hThread) CloseHandle(process_.hThread);
  process_ = {};
}

DWORD QuillmereTest::WaitForExitCode(DWORD timeout_ms) {
  if (!process_.hProcess || WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0)
    return static_cast<DWORD>(-1);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

HWND QuillmereTest::OpenTrayMenu() {
  return TrayMenuItemRects().size() == 7 ? RightClickTrayIcon(process_.dwProcessId) : nullptr;
}

DWORD QuillmereTest::Exit() {
  PostMessageW(main_window_, WM_COMMAND, IDM_EXIT, 0);
  return WaitForExitCode(10000);
}
