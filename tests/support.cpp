#include "tests/support.h"

#include <sddl.h>
#include <shlobj.h>

#include "app/app.h"
#include "common/dpi.h"
#include "common/system.h"
#include "common/text.h"
#include "common/user_rights.h"
#include "settings/settings_internal.h"

std::wstring AppFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder);
  return std::wstring(folder) + L"\\Quillmere";
}

std::wstring AppFile(const wchar_t* name) { return AppFolder() + L"\\" + name; }

void DeleteFolder(const std::wstring& folder) {
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  // A link goes, never what it leads to.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          DeleteFolder(path);
        else
          DeleteFileW(path.c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  RemoveDirectoryW(folder.c_str());
}

void DeleteAppFolder() { DeleteFolder(AppFolder()); }

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, NULL) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}

std::string Utf16File(const std::wstring& text) {
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

bool WriteConfig(const std::string& text) {
  CreateDirectoryW(AppFolder().c_str(), nullptr);
  return WriteFileBytes(AppFile(L"config.ini"), text);
}

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  std::string log = ReadFileBytes(AppFile(L"clean.log"));
  size_t start = 0;
  for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(log.substr(start, end + 2 - start));
  return lines;
}

std::vector<std::wstring> ConfigSectionLines(const wchar_t* section) {
  wchar_t buffer[8192] = {};
  GetPrivateProfileSectionW(section, buffer, 8192, AppFile(L"config.ini").c_str());
  std::vector<std::wstring> lines;
  for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) lines.push_back(p);
  return lines;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

bool PumpMessages(WPARAM* quit_code) {
  bool quit = false;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      if (quit_code) *quit_code = message.wParam;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return quit;
}

bool TakeQuitMessage(WPARAM* quit_code) {
  MSG message;
  if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
  if (quit_code) *quit_code = message.wParam;
  return true;
}

COLORREF WindowPixel(HWND window, int x, int y) {
  HDC dc = GetDC(window);
  COLORREF colour = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return colour;
}

COLORREF ScreenPixel(int x, int y) { return WindowPixel(nullptr, x, y); }

COLORREF PixelImage::At(int x, int y) const {
  DWORD p = pixels[static_cast<size_t>(y) * width + x];
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

BITMAPINFOHEADER TopDownHeader(int width, int height) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = -height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  return header;
}

PixelImage CapturePixels(HWND window, const RECT& area) {
  PixelImage image;
  image.width = area.right - area.left;
  image.height = area.bottom - area.top;
  BITMAPINFO info = {};
  info.bmiHeader = TopDownHeader(image.width, image.height);
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, image.width, image.height, source, area.left, area.top, SRCCOPY);
    GdiFlush();
    const DWORD* first = static_cast<const DWORD*>(bits);
    image.pixels.assign(first, first + static_cast<size_t>(image.width) * image.height);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  } else {
    image.width = image.height = 0;
  }
  DeleteDC(memory);
  ReleaseDC(window, source);
  return image;
}

bool KeepPicture(const PixelImage& image, const std::string& file_name) {
  char folder[512] = {};
  if (!GetEnvironmentVariableA("QUILLMERE_SHOTS", folder, sizeof folder)) return true;
  BITMAPINFOHEADER header = TopDownHeader(image.width, image.height);
  DWORD bytes = static_cast<DWORD>(image.pixels.size() * 4);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + bytes;
  std::string data(reinterpret_cast<const char*>(&file), sizeof file);
  data.append(reinterpret_cast<const char*>(&header), sizeof header);
  data.append(reinterpret_cast<const char*>(image.pixels.data()), bytes);
  return WriteFileBytes(WinePath(std::string(folder) + "/" + file_name), data);
}

static const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring ReadRunValue(DWORD* type, DWORD* bytes) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD value_type = 0;
  LONG result = RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere", RRF_RT_ANY | RRF_NOEXPAND, &value_type, data,
                             &size);
  if (type) *type = result == ERROR_SUCCESS ? value_type : 0;
  if (bytes) *bytes = result == ERROR_SUCCESS ? size : 0;
  return result == ERROR_SUCCESS ? std::wstring(data) : std::wstring();
}

void DeleteRunValue() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Quillmere"); }

HANDLE UserToken() {
  static HANDLE token = MakeUserRightsToken();
  return token;
}

void ResetAppState() {
  app = AppState{};
  app.user_token = UserToken();
}

namespace {
bool ChangingLoad(MemorySnapshot& snapshot) {
  static const uint32_t kLoads[] = {20, 50, 70, 90};
  static int next = 0;
  uint32_t load = kLoads[next];
  next = (next + 1) % 4;
  snapshot = {};
  snapshot.load_percent = load;
  snapshot.total_gb = 16.0;
  snapshot.used_gb = 16.0 * load / 100;
  return true;
}
}  // namespace

const TrayPlatform kChangingLoadTray = {Shell_NotifyIconW, GetTickCount64, ChangingLoad, TaskbarDpi, IsHighContrastOn};

HWND CreateTestMainWindow() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterMainWindowClass(instance);
  app.taskbar_created_message = RegisterWindowMessageW(L"TaskbarCreated");
  app.main_window = CreateMainWindow(instance);
  return app.main_window;
}

void ProgramWindowTest::SetUp() {
  ResetAppState();
  BindSeams();
  DeleteAppFolder();
  LoadSettings(app.settings, *app.file_platform, app.user_token);
  ASSERT_NE(CreateTestMainWindow(), nullptr);
  if (shell_window_) {
    app.shell_window = CreateShellWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(app.shell_window, nullptr);
  }
}

void ProgramWindowTest::TearDown() {
  CloseStatusWindow(app.status);
  // The main window takes the icon and the shell window with it.
  if (IsWindow(app.main_window)) DestroyWindow(app.main_window);
  if (IsWindow(app.shell_window)) DestroyWindow(app.shell_window);
  if (app.tray.drawn_icon) DestroyIcon(app.tray.drawn_icon);
  PumpMessages();
  DeleteAppFolder();
}

LRESULT ProgramWindowTest::Send(UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(app.main_window, message, wParam, lParam);
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

RecordingTray recording_tray;

void NotificationArea::Forget() {
  icon_in = false;
  window = nullptr;
  id = 0;
  callback_message = 0;
  version = 0;
  show_tip = false;
  tip.clear();
  picture = nullptr;
}

BOOL NotificationArea::Take(DWORD message, const NOTIFYICONDATAW& data) {
  if (data.cbSize != sizeof data) return FALSE;
  const bool this_icon = icon_in && data.hWnd == window && data.uID == id;
  if (message == NIM_ADD) {
    if (this_icon) return FALSE;
    Forget();
    icon_in = true;
    window = data.hWnd;
    id = data.uID;
  } else if (!this_icon) {
    return FALSE;
  }
  switch (message) {
    case NIM_ADD:
    case NIM_MODIFY:
      if (data.uFlags & NIF_MESSAGE) callback_message = data.uCallbackMessage;
      if (data.uFlags & NIF_ICON) picture = data.hIcon;
      if (data.uFlags & NIF_TIP) tip = data.szTip;
      show_tip = (data.uFlags & NIF_SHOWTIP) != 0;
      if ((data.uFlags & NIF_INFO) && data.szInfo[0]) {
        ++balloons;
        balloon_title = data.szInfoTitle;
        balloon_text = data.szInfo;
      }
      return TRUE;
    case NIM_SETVERSION:
      if (data.uVersion != 0 && data.uVersion != NOTIFYICON_VERSION && data.uVersion != NOTIFYICON_VERSION_4)
        return FALSE;
      version = data.uVersion;
      return TRUE;
    case NIM_SETFOCUS:
      ++focus_returns;
      return TRUE;
    case NIM_DELETE:
      Forget();
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL WINAPI RecordingNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
  TrayRequest request;
  request.message = message;
  request.flags = data->uFlags;
  request.info_flags = data->dwInfoFlags;
  request.version = data->uVersion;
  if (data->uFlags & NIF_INFO) {
    request.title = data->szInfoTitle;
    request.text = data->szInfo;
  }
  request.popup_open = IsStatusWindowOpen(app.status);
  recording_tray.requests.push_back(request);
  if (message == NIM_ADD && recording_tray.refuse_adds) return FALSE;
  if (!recording_tray.area.Take(message, *data)) return FALSE;
  Shell_NotifyIconW(message, data);
  return TRUE;
}

namespace {

bool RecordingSnapshot(MemorySnapshot& snapshot) {
  if (!recording_tray.play_load) return TakeMemorySnapshot(snapshot);
  snapshot = recording_tray.load;
  return true;
}

ULONGLONG WINAPI RecordingTickCount() { return recording_tray.now += recording_tray.tick_step; }

UINT RecordingTaskbarDpi() { return recording_tray.dpi ? recording_tray.dpi : TaskbarDpi(); }

bool RecordingHighContrast() { return recording_tray.high_contrast; }

}  // namespace

const TrayPlatform kRecordingTrayPlatform = {RecordingNotifyIcon, RecordingTickCount, RecordingSnapshot,
                                             RecordingTaskbarDpi, RecordingHighContrast};

std::vector<TrayRequest> RecordingTray::Balloons() const {
  std::vector<TrayRequest> balloons;
  for (const TrayRequest& request : requests)
    if (request.flags & NIF_INFO) balloons.push_back(request);
  return balloons;
}

int RecordingTray::Count(DWORD message) const {
  int count = 0;
  for (const TrayRequest& request : requests) count += request.message == message;
  return count;
}

void RecordingTray::RestartTaskbar() {
  if (area.icon_in) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = area.window;
    data.uID = area.id;
    Shell_NotifyIconW(NIM_DELETE, &data);
  }
  area.Forget();
}

void RecordTray() {
  recording_tray = RecordingTray{};
  app.tray.platform = &kRecordingTrayPlatform;
}

namespace {

// MinGW's taskschd.h has no ILogonTrigger; its methods follow ITrigger's.
struct LogonTrigger : ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
const IID kLogonTriggerIid = {0x72dade38, 0xfae4, 0x4b3e, {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};

// Runs `work` on the Task Scheduler's root folder, with COM up around it.
template <typename Work>
void WithRootTaskFolder(Work work) {
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ITaskService* service = nullptr;
  ITaskFolder* folder = nullptr;
  VARIANT none;
  VariantInit(&none);
  BSTR root = SysAllocString(L"\\");
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                 reinterpret_cast<void**>(&service))) &&
      SUCCEEDED(service->Connect(none, none, none, none)) && SUCCEEDED(service->GetFolder(root, &folder)))
    work(folder);
  SysFreeString(root);
  if (folder) folder->Release();
  if (service) service->Release();
  if (SUCCEEDED(com)) CoUninitialize();
}

std::wstring TakeBstr(BSTR text) {
  std::wstring copy = text ? text : L"";
  SysFreeString(text);
  return copy;
}

void ReadTrigger(ITaskDefinition* definition, TaskView& view) {
  ITriggerCollection* triggers = nullptr;
  ITrigger* trigger = nullptr;
  LogonTrigger* logon = nullptr;
  LONG count = 0;
  if (SUCCEEDED(definition->get_Triggers(&triggers)) && SUCCEEDED(triggers->get_Count(&count))) {
    view.reported = true;
    view.triggers = count;
  }
  if (count == 1 && SUCCEEDED(triggers->get_Item(1, &trigger))) {
    trigger->get_Type(&view.trigger_type);
    BSTR user = nullptr;
    if (SUCCEEDED(trigger->QueryInterface(kLogonTriggerIid, reinterpret_cast<void**>(&logon))) &&
        SUCCEEDED(logon->get_UserId(&user)))
      view.trigger_user = TakeBstr(user);
  }
  if (logon) logon->Release();
  if (trigger) trigger->Release();
  if (triggers) triggers->Release();
}

void ReadPrincipalAndAction(ITaskDefinition* definition, TaskView& view) {
  IPrincipal* principal = nullptr;
  if (SUCCEEDED(definition->get_Principal(&principal))) {
    BSTR user = nullptr;
    if (SUCCEEDED(principal->get_UserId(&user))) view.principal_user = TakeBstr(user);
    principal->get_RunLevel(&view.run_level);
    principal->get_LogonType(&view.logon_type);
    principal->Release();
  }
  IActionCollection* actions = nullptr;
  IAction* action = nullptr;
  IExecAction* exec = nullptr;
  LONG count = 0;
  BSTR path = nullptr;
  if (SUCCEEDED(definition->get_Actions(&actions)) && SUCCEEDED(actions->get_Count(&count)) && count == 1 &&
      SUCCEEDED(actions->get_Item(1, &action)) &&
      SUCCEEDED(action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec))) &&
      SUCCEEDED(exec->get_Path(&path)))
    view.command = TakeBstr(path);
  if (exec) exec->Release();
  if (action) action->Release();
  if (actions) actions->Release();
}

}  // namespace

const wchar_t kLegacyTaskName[] = L"Quillmere";

std::wstring UserTaskName() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  wchar_t* sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) return L"";
  std::wstring name = std::wstring(L"Quillmere ") + sid;
  LocalFree(sid);
  return name;
}

TaskView ReadAutostartTask(const std::wstring& task_name) {
  TaskView view;
  // The scheduler stores one file per task in System32\Tasks, Wine too; the
  // files are counted because Wine's task collections cannot (E_NOTIMPL).
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(system) + L"\\Tasks\\Quillmere*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do view.stored += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileW(search, &found));
    FindClose(search);
  }
  WithRootTaskFolder([&](ITaskFolder* folder) {
    BSTR name = SysAllocString(task_name.c_str());
    IRegisteredTask* task = nullptr;
    ITaskDefinition* definition = nullptr;
    ITaskSettings* settings = nullptr;
    if (SUCCEEDED(folder->GetTask(name, &task)) && SUCCEEDED(task->get_Definition(&definition))) {
      view.exists = true;
      if (SUCCEEDED(definition->get_Settings(&settings))) {
        settings->get_MultipleInstances(&view.instances);
        BSTR limit = nullptr;
        if (SUCCEEDED(settings->get_ExecutionTimeLimit(&limit))) view.time_limit = TakeBstr(limit);
        VARIANT_BOOL flag = VARIANT_TRUE;
        if (SUCCEEDED(settings->get_DisallowStartIfOnBatteries(&flag))) view.disallow_on_batteries = flag != 0;
        flag = VARIANT_TRUE;
        if (SUCCEEDED(settings->get_StopIfGoingOnBatteries(&flag))) view.stop_on_batteries = flag != 0;
        settings->get_Priority(&view.priority);
      }
      ReadTrigger(definition, view);
      ReadPrincipalAndAction(definition, view);
    }
    if (settings) settings->Release();
    if (definition) definition->Release();
    if (task) task->Release();
    SysFreeString(name);
  });
  return view;
}

void DeleteAutostartTask() {
  WithRootTaskFolder([](ITaskFolder* folder) {
    for (const std::wstring& task_name : {UserTaskName(), std::wstring(kLegacyTaskName)}) {
      BSTR name = SysAllocString(task_name.c_str());
      folder->DeleteTask(name, 0);
      SysFreeString(name);
    }
  });
}

bool RegisterAutostartTask(const std::wstring& task_name, const wchar_t* xml) {
  bool registered = false;
  WithRootTaskFolder([&](ITaskFolder* folder) {
    BSTR name = SysAllocString(task_name.c_str());
    BSTR definition = SysAllocString(xml);
    VARIANT none;
    VariantInit(&none);
    IRegisteredTask* task = nullptr;
    registered = SUCCEEDED(folder->RegisterTask(name, definition, TASK_CREATE_OR_UPDATE, none, none,
                                                TASK_LOGON_INTERACTIVE_TOKEN, none, &task));
    if (task) task->Release();
    SysFreeString(definition);
    SysFreeString(name);
  });
  return registered;
}

namespace {

// HKCU\Software\Wine\AppDefaults\<this exe>, the per-program settings.
std::wstring AppDefaultsKey() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const wchar_t* name = wcsrchr(path, L'\\');
  return std::wstring(L"Software\\Wine\\AppDefaults\\") + (name ? name + 1 : path);
}

}  // namespace

void UnmanagedWineWindows::SetUp() {
  std::wstring key = AppDefaultsKey() + L"\\X11 Driver";
  RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Managed", REG_SZ, L"N", 2 * sizeof(wchar_t));
}

void UnmanagedWineWindows::TearDown() { RegDeleteTreeW(HKEY_CURRENT_USER, AppDefaultsKey().c_str()); }

bool FillHandleTables(FilledHandleTables& tables, size_t room, bool fill_gdi) {
  tables.gdi_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  tables.user_before = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  const size_t kMost = 200000;
  for (HMENU menu; tables.menus.size() < kMost && (menu = CreatePopupMenu()) != nullptr;) tables.menus.push_back(menu);
  for (HBRUSH brush; fill_gdi && tables.brushes.size() < kMost && (brush = CreateSolidBrush(RGB(1, 2, 3))) != nullptr;)
    tables.brushes.push_back(brush);
  if (tables.menus.size() <= room || (fill_gdi && tables.brushes.size() <= room)) return false;
  for (size_t i = 0; i < room; ++i) {
    DestroyMenu(tables.menus.back());
    tables.menus.pop_back();
    if (!fill_gdi) continue;
    DeleteObject(tables.brushes.back());
    tables.brushes.pop_back();
  }
  return true;
}

bool RoomForMore(int count) {
  std::vector<HMENU> menus;
  std::vector<HBRUSH> brushes;
  bool room = true;
  for (int i = 0; i < count && room; ++i) {
    HMENU menu = CreatePopupMenu();
    HBRUSH brush = CreateSolidBrush(RGB(4, 5, 6));
    if (menu) menus.push_back(menu);
    if (brush) brushes.push_back(brush);
    room = menu && brush;
  }
  for (HMENU menu : menus) DestroyMenu(menu);
  for (HBRUSH brush : brushes) DeleteObject(brush);
  return room;
}

void FreeHandleTables(FilledHandleTables& tables) {
  for (HMENU menu : tables.menus) DestroyMenu(menu);
  for (HBRUSH brush : tables.brushes) DeleteObject(brush);
  tables.menus.clear();
  tables.brushes.clear();
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), tables.gdi_before);
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), tables.user_before);
}

void ExpectAutostartTaskSettings(const TaskView& task) {
  EXPECT_EQ(task.stored, 1);
  EXPECT_EQ(task.instances, TASK_INSTANCES_IGNORE_NEW);
  EXPECT_EQ(task.time_limit, L"PT0S");
  EXPECT_FALSE(task.disallow_on_batteries);
  EXPECT_FALSE(task.stop_on_batteries);
}

PlayedFiles played;

bool ThreadImpersonates() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return false;
  CloseHandle(token);
  return true;
}

namespace {

const std::wstring* PlayedPath(HANDLE handle) {
  for (const auto& entry : played.open)
    if (entry.first == handle) return &entry.second;
  return nullptr;
}

// The path a call naming `named` reaches: in the decoy once the folder has
// turned into a junction.
std::wstring Redirected(const std::wstring& named) {
  const std::wstring& folder = played.junction_after_check;
  if (!played.junction_made || folder.empty() || named.size() <= folder.size() ||
      _wcsnicmp(named.c_str(), folder.c_str(), folder.size()) != 0 || named[folder.size()] != L'\\')
    return named;
  return played.decoy + named.substr(folder.size());
}

// Keeps the call, and answers the path it reaches.
std::wstring Reach(const char* call, const wchar_t* path) {
  DWORD error = GetLastError();
  std::wstring named = path ? path : L"";
  played.calls.push_back({call, named, played.acting_as, ThreadImpersonates()});
  SetLastError(error);
  return Redirected(named);
}

// Whether a call that reaches `path` is refused: the decoy takes nothing
// under the user's token; with the program's own rights it takes everything,
// and the call is kept.
bool RefusedAt(const std::wstring& path, const char* call) {
  const std::wstring& decoy = played.decoy;
  if (decoy.empty() || path.size() < decoy.size() || _wcsnicmp(path.c_str(), decoy.c_str(), decoy.size()) != 0)
    return false;
  if (ThreadImpersonates()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
  }
  played.decoy_reached.push_back(std::string(call) + " " + Narrow(path));
  return false;
}

void Note(const char* call) { Reach(call, nullptr); }

BOOL WINAPI PlayedImpersonate(HANDLE token) {
  if (played.refuse_impersonation) {
    SetLastError(ERROR_BAD_IMPERSONATION_LEVEL);
    return FALSE;
  }
  if (!ImpersonateLoggedOnUser(token)) return FALSE;
  played.acting_as = token;
  return TRUE;
}

BOOL WINAPI PlayedRevert() {
  played.acting_as = nullptr;
  return RevertToSelf();
}

HANDLE WINAPI PlayedCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE template_file) {
  std::wstring path = Reach("create_file", name);
  if (RefusedAt(path, "create_file")) return INVALID_HANDLE_VALUE;
  HANDLE handle = CreateFileW(path.c_str(), access, share, security, disposition, flags, template_file);
  DWORD error = GetLastError();
  if (handle != INVALID_HANDLE_VALUE) played.open.push_back({handle, name});
  SetLastError(error);
  return handle;
}

BOOL WINAPI PlayedFileInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  Note("get_file_information");
  BOOL ok = GetFileInformationByHandle(file, information);
  const std::wstring* path = PlayedPath(file);
  if (ok && path && *path == played.reparse_point) information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return ok;
}

DWORD WINAPI PlayedFinalPath(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags) {
  Note("get_final_path");
  const std::wstring* opened = PlayedPath(file);
  // Checked as it was opened; the junction is made right after.
  if (opened && !played.junction_after_check.empty() && *opened == played.junction_after_check)
    played.junction_made = true;
  if (!opened || *opened != played.moved) return GetFinalPathNameByHandleW(file, path, capacity, flags);
  std::wstring final_path = L"\\\\?\\" + played.moved_to;
  if (final_path.size() >= capacity) return static_cast<DWORD>(final_path.size() + 1);
  wcscpy(path, final_path.c_str());
  return static_cast<DWORD>(final_path.size());
}

BOOL WINAPI PlayedCreateDirectory(LPCWSTR name, LPSECURITY_ATTRIBUTES security) {
  std::wstring path = Reach("create_directory", name);
  return !RefusedAt(path, "create_directory") && CreateDirectoryW(path.c_str(), security);
}

BOOL WINAPI PlayedRead(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) {
  Note("read_file");
  return ReadFile(file, buffer, bytes, read, overlapped);
}

BOOL WINAPI PlayedSeek(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
  Note("set_file_pointer");
  return SetFilePointerEx(file, distance, position, method);
}

UINT WINAPI PlayedCodePage() { return played.code_page ? played.code_page : GetACP(); }

BOOL WINAPI PlayedWrite(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
  Note("write_file");
  return WriteFile(file, buffer, bytes, written, overlapped);
}

BOOL WINAPI PlayedFlush(HANDLE file) {
  Note("flush_file");
  return FlushFileBuffers(file);
}

UINT WINAPI PlayedProfileInt(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR name) {
  std::wstring path = Reach("get_profile_int", name);
  if (RefusedAt(path, "get_profile_int")) return static_cast<UINT>(fallback);
  return GetPrivateProfileIntW(section, key, fallback, path.c_str());
}

DWORD WINAPI PlayedProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR value, DWORD capacity,
                                 LPCWSTR name) {
  std::wstring path = Reach("get_profile_string", name);
  if (RefusedAt(path, "get_profile_string")) {
    CopyBounded(value, capacity, fallback);
    return static_cast<DWORD>(wcslen(value));
  }
  return GetPrivateProfileStringW(section, key, fallback, value, capacity, path.c_str());
}

BOOL WINAPI PlayedProfileWrite(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR name) {
  std::wstring path = Reach("write_profile_string", name);
  if (++played.profile_writes == played.failing_profile_write || RefusedAt(path, "write_profile_string")) return FALSE;
  return WritePrivateProfileStringW(section, key, value, path.c_str());
}

BOOL WINAPI PlayedMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::wstring from_path = Reach("move_file", from);
  std::wstring to_path = Redirected(to);
  if (played.failing_move || RefusedAt(from_path, "move_file") || RefusedAt(to_path, "move_file")) return FALSE;
  return MoveFileExW(from_path.c_str(), to_path.c_str(), flags);
}

BOOL WINAPI PlayedDelete(LPCWSTR name) {
  std::wstring path = Reach("delete_file", name);
  return !RefusedAt(path, "delete_file") && DeleteFileW(path.c_str());
}

HRESULT WINAPI PlayedFolderPath(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path) {
  Reach("get_folder_path", played.app_data.c_str());
  if (played.app_data.empty()) return SHGetFolderPathW(owner, folder, token, flags, path);
  CopyBounded(path, MAX_PATH, played.app_data.c_str());
  return S_OK;
}

BOOL WINAPI PlayedComputerName(COMPUTER_NAME_FORMAT format, LPWSTR name, LPDWORD size) {
  if (played.machine_name.empty()) return GetComputerNameExW(format, name, size);
  if (*size <= played.machine_name.size()) return FALSE;
  CopyBounded(name, *size, played.machine_name.c_str());
  *size = static_cast<DWORD>(played.machine_name.size());
  return TRUE;
}

BOOL WINAPI PlayedClose(HANDLE handle) {
  Note("close_handle");
  for (size_t i = 0; i < played.open.size(); ++i)
    if (played.open[i].first == handle) {
      played.open.erase(played.open.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
  return CloseHandle(handle);
}

}  // namespace

const FilePlatform kPlayedFilePlatform = {
    PlayedImpersonate,   PlayedRevert,       PlayedCreateFile, PlayedFileInformation, PlayedFinalPath,
    PlayedCreateDirectory, PlayedRead,       PlayedSeek,       PlayedWrite,           PlayedFlush,
    PlayedProfileInt,    PlayedProfileString, PlayedProfileWrite, PlayedMove,         PlayedDelete,
    PlayedClose,         PlayedCodePage,      PlayedFolderPath, PlayedComputerName,
};

void ResetPlayedFiles() { played = PlayedFiles{}; }

// Played links planted at a checked file or its folder.

std::vector<PlantedLink> LinksPlantedAt(const std::wstring& folder, const std::wstring& file) {
  const std::string name = Narrow(file.substr(file.rfind(L'\\') + 1));
  return {
      {"folder is a junction", folder, L"", L""},
      {name + " is a symbolic link", file, L"", L""},
      {"folder resolves elsewhere", L"", folder, L"C:\\windows"},
      {name + " resolves elsewhere", L"", file, L"C:\\windows\\win.ini"},
  };
}

void PlantLink(const PlantedLink& link) {
  ResetPlayedFiles();
  played.reparse_point = link.reparse_point;
  played.moved = link.moved;
  played.moved_to = link.moved_to;
}

// For tests of the Run value, start at logon and the tray icon.
std::wstring TestExePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

void AnchorTrayIcon::SetUp() {
  data_.cbSize = sizeof data_;
  data_.hWnd = CreateWindowExW(0, L"STATIC", L"anchor", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  data_.uID = 99;
  data_.uFlags = NIF_ICON | NIF_TIP;
  data_.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wcscpy(data_.szTip, L"test anchor");
  Shell_NotifyIconW(NIM_ADD, &data_);
}

void AnchorTrayIcon::TearDown() {
  Shell_NotifyIconW(NIM_DELETE, &data_);
  DestroyWindow(data_.hWnd);
}

// Shared by app_tests, clean_tests, tray_tests and settings_tests.
const wchar_t kLimitedModeTitle[] = L"Quillmere \u2014 Limited mode";
const wchar_t kLimitedModeText[] =
    L"Not running as admin \u2014 standby & cache cleanup skipped. Right-click tray \u2192 Run as Administrator.";
const wchar_t kSettingsNotSavedText[] =
    L"Settings could not be saved to config.ini; they apply until Quillmere exits.";
const wchar_t kAutostartFailedText[] =
    L"Start with Windows could not be updated (Run value or logon task); Quillmere tries again at its next start.";

// Shared by app_tests and settings_tests.
namespace {

void* UnreachableOpen() { return nullptr; }
bool UnreachableRegister(void*, const wchar_t*, const wchar_t*, const wchar_t*) { return false; }
bool UnreachableDelete(void*, const wchar_t*) { return false; }
TaskOwner UnreachableOwner(void*, const wchar_t*, wchar_t (&)[SID_TEXT_CAPACITY]) { return TASK_OWNER_UNKNOWN; }
void UnreachableClose(void*) {}
bool UnreadableStore(const wchar_t*) { return false; }

}  // namespace

const TaskScheduler kUnreachableScheduler = {UnreachableOpen,  UnreachableRegister, UnreachableDelete,
                                             UnreachableOwner, UnreachableClose,    UnreadableStore};

std::wstring CleanedBalloonText(const CleanRecord& record) {
  wchar_t text[128];
  FormatCleanBalloon(text, record.freed_mb, record.processes);
  return text;
}

void ExpectBalloon(const TrayRequest& balloon, const std::wstring& title, const std::wstring& text,
                   bool clean_report) {
  EXPECT_EQ(balloon.message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(balloon.flags, static_cast<UINT>(NIF_INFO | NIF_SHOWTIP));
  EXPECT_EQ(balloon.info_flags,
            static_cast<DWORD>(NIIF_INFO | NIIF_NOSOUND | (clean_report ? NIIF_RESPECT_QUIET_TIME : 0)));
  EXPECT_EQ(balloon.title, title) << Narrow(balloon.title);
  EXPECT_EQ(balloon.text, text) << Narrow(balloon.text);
}

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring copy = SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) ? path : L"";
  CoTaskMemFree(path);
  return copy;
}

std::wstring WinePath(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

bool SddlIntoBuffer(const wchar_t* sddl, SecurityBuffer& buffer) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  DWORD length = GetSecurityDescriptorLength(descriptor);
  bool fits = length <= sizeof buffer.bytes;
  if (fits) memcpy(buffer.bytes, descriptor, length);
  LocalFree(descriptor);
  return fits;
}
