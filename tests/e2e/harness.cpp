#include "tests/e2e/harness.h"

#include <commctrl.h>
#include <shellapi.h>

#include <stdio.h>

#include "app/app.h"
#include "tests/support.h"
#include "tray/tray.h"

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
  if (process.hProcess) CloseHandle(process.hProcess);
  if (process.hThread) CloseHandle(process.hThread);
  std::wstring marker_path = L"Z:";
  for (const char* p = marker; *p; ++p) marker_path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  std::string result;
  if (!WaitUntil([&] { return !(result = ReadFileBytes(marker_path)).empty(); }, timeout_ms)) return -1;
  DeleteFileW(marker_path.c_str());
  return atoi(result.c_str());
}

void MouseClick(POINT at, int button, int count) {
  char command[160];
  snprintf(command, sizeof command, "xdotool mousemove --sync %ld %ld click --repeat %d --delay 80 %d", at.x, at.y,
           count, button);
  HostRun(command);
}

void PressKeysInWineWindow(const std::string& keys) {
  HostRun("xdotool search --name 'Wine System Tray' windowfocus --sync key " + keys);
}

void FocusWineWindow(const std::string& title_pattern) {
  HostRun("xdotool search --name '" + title_pattern + "' windowfocus --sync");
}

void PressKeys(const std::string& keys) { HostRun("xdotool key --delay 40 " + keys); }

void TypeText(const std::string& text) { HostRun("xdotool type --delay 40 -- '" + text + "'"); }

COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  COLORREF colour = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return colour;
}

namespace {

// Reads the tooltip texts of Wine's tray from the explorer process, whose
// tooltip control knows which icon window each text belongs to.
std::vector<TrayIconView> ReadTrayTooltips(HWND tray) {
  std::vector<TrayIconView> icons;
  HWND tooltip = nullptr;
  DWORD tray_process = 0;
  GetWindowThreadProcessId(tray, &tray_process);
  while ((tooltip = FindWindowExW(nullptr, tooltip, L"tooltips_class32", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(tooltip, &owner);
    if (owner == tray_process) break;
  }
  if (!tooltip) return icons;
  HANDLE explorer = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, tray_process);
  if (!explorer) return icons;
  const SIZE_T kText = 1024;
  BYTE* remote = static_cast<BYTE*>(VirtualAllocEx(explorer, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
  int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
  for (int i = 0; remote && i < count; ++i) {
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
    TrayIconView icon;
    icon.window = info.hwnd;
    icon.tip = text;
    icons.push_back(icon);
  }
  if (remote) VirtualFreeEx(explorer, remote, 0, MEM_RELEASE);
  CloseHandle(explorer);
  return icons;
}

}  // namespace

std::vector<TrayIconView> ListTrayIcons() {
  std::vector<TrayIconView> icons;
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (!tray || !IsWindowVisible(tray)) return icons;
  std::vector<TrayIconView> tips = ReadTrayTooltips(tray);
  HWND child = nullptr;
  while ((child = FindWindowExW(tray, child, L"__winex11_tray_icon", nullptr)) != nullptr) {
    if (!IsWindowVisible(child)) continue;
    TrayIconView icon;
    icon.window = child;
    GetWindowRect(child, &icon.rect);
    for (const TrayIconView& tip : tips)
      if (tip.window == child) icon.tip = tip.tip;
    icons.push_back(icon);
  }
  return icons;
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

namespace {

// Where the tray menu's items lie, measured on the same menu (BuildTrayMenu)
// shown in this process: the program's menu lives in another process, whose
// item rectangles cannot be read from here.
struct MenuLayout {
  bool measured = false;
  RECT window = {};
  std::vector<std::wstring> texts;
  std::vector<RECT> items;
};
MenuLayout* layout_in_progress = nullptr;
HMENU menu_in_progress = nullptr;

LRESULT CALLBACK MenuProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Sent once the menu is up and waiting for the user.
  if (message == WM_ENTERIDLE && wParam == MSGF_MENU && layout_in_progress) {
    MenuLayout& layout = *layout_in_progress;
    GetWindowRect(reinterpret_cast<HWND>(lParam), &layout.window);
    for (int i = 0; i < GetMenuItemCount(menu_in_progress); ++i) {
      wchar_t text[128] = {};
      GetMenuStringW(menu_in_progress, i, text, 128, MF_BYPOSITION);
      RECT item = {};
      GetMenuItemRect(nullptr, menu_in_progress, i, &item);
      std::wstring name = text;
      layout.texts.push_back(name.substr(0, name.find(L'\t')));
      layout.items.push_back(item);
    }
    layout.measured = true;
    layout_in_progress = nullptr;
    EndMenu();
    return 0;
  }
  if (message == WM_TIMER) EndMenu();  // never left waiting for a user
  return DefWindowProcW(window, message, wParam, lParam);
}

const MenuLayout& TrayMenuLayout() {
  static MenuLayout layout;
  if (layout.measured) return layout;
  WNDCLASSW probe_class = {};
  probe_class.lpfnWndProc = MenuProbeProc;
  probe_class.hInstance = GetModuleHandleW(nullptr);
  probe_class.lpszClassName = L"QuillmereTestMenuProbe";
  RegisterClassW(&probe_class);
  HWND owner = CreateWindowExW(WS_EX_TOOLWINDOW, probe_class.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                               nullptr, probe_class.hInstance, nullptr);
  menu_in_progress = BuildTrayMenu(true);
  layout_in_progress = &layout;
  SetTimer(owner, 1, 5000, nullptr);
  TrackPopupMenu(menu_in_progress, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY, 100, 100, 0, owner,
                 nullptr);
  layout_in_progress = nullptr;
  DestroyMenu(menu_in_progress);
  menu_in_progress = nullptr;
  DestroyWindow(owner);
  return layout;
}

BOOL CALLBACK FindOtherProcessMenu(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (wcscmp(name, L"#32768") != 0 || !IsWindowVisible(window) || process == GetCurrentProcessId()) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

bool ClickTrayMenuItem(const wchar_t* item) {
  const MenuLayout& layout = TrayMenuLayout();
  size_t index = 0;
  while (index < layout.texts.size() && layout.texts[index] != item) ++index;
  if (index == layout.texts.size()) return false;
  TrayIconView icon;
  if (!FindQuillmereIcon(icon)) return false;
  MouseClick(icon.Center(), 3);
  HWND menu = nullptr;
  if (!WaitUntil([&] { return !EnumWindows(FindOtherProcessMenu, reinterpret_cast<LPARAM>(&menu)) && menu; }, 5000))
    return false;
  RECT shown = {};
  GetWindowRect(menu, &shown);
  const RECT& at = layout.items[index];
  POINT target = {(shown.left + shown.right) / 2, shown.top + (at.top + at.bottom) / 2 - layout.window.top};
  MouseClick(target, 1);
  return true;
}

HWND FindMainWindow() { return FindWindowExW(HWND_MESSAGE, nullptr, L"Quillmere", nullptr); }

std::wstring ExePath() {
  char unix_path[1024] = {};
  GetEnvironmentVariableA("QUILLMERE_EXE", unix_path, sizeof unix_path);
  std::wstring path = L"Z:";
  for (const char* p = unix_path; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

namespace {

// Wine takes two seconds to remove the last icon of its tray; an icon of the
// test program's own keeps every removal quick.
class AnchorIcon : public ::testing::Environment {
 public:
  void SetUp() override {
    data_.cbSize = sizeof data_;
    data_.hWnd = CreateWindowExW(0, L"STATIC", L"anchor", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    data_.uID = 99;
    data_.uFlags = NIF_ICON | NIF_TIP;
    data_.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wcscpy(data_.szTip, L"test anchor");
    Shell_NotifyIconW(NIM_ADD, &data_);
  }
  void TearDown() override {
    Shell_NotifyIconW(NIM_DELETE, &data_);
    DestroyWindow(data_.hWnd);
  }

 private:
  NOTIFYICONDATAW data_ = {};
};

::testing::Environment* const anchor = ::testing::AddGlobalTestEnvironment(new AnchorIcon);

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
}

void QuillmereTest::TearDown() {
  if (Running()) {
    Exit();
    if (Running()) TerminateProcess(process_.hProcess, 99);
  }
  EndLeftoverCopy();
  if (process_.hProcess) CloseHandle(process_.hProcess);
  if (process_.hThread) CloseHandle(process_.hThread);
  process_ = {};
  DeleteAppFolder();
  DeleteRunValue();
}

bool QuillmereTest::Start() {
  std::wstring exe = ExePath();
  std::wstring line = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
    return false;
  if (!WaitUntil([&] { return (main_window_ = FindMainWindow()) != nullptr; }, 15000)) return false;
  TrayIconView icon;
  return WaitUntil([&] { return FindQuillmereIcon(icon) && icon.tip.find(L"GB") != std::wstring::npos; }, 15000);
}

DWORD QuillmereTest::StartSecondCopy(DWORD timeout_ms) {
  std::wstring exe = ExePath();
  std::wstring line = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION second = {};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &second))
    return static_cast<DWORD>(-2);
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

DWORD QuillmereTest::WaitForExitCode(DWORD timeout_ms) {
  if (!process_.hProcess || WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0)
    return static_cast<DWORD>(-1);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

DWORD QuillmereTest::Exit() {
  PostMessageW(main_window_, WM_COMMAND, IDM_EXIT, 0);
  return WaitForExitCode(10000);
}
