// Start-up in order, the one message loop, and the single-instance guard.
#include "app/app.h"

#include "common/system.h"
#include "common/user_rights.h"
#include "settings/settings.h"

AppState app;

const AppPlatform kSystemAppPlatform = {RegisterHotKey, IsProcessElevated, ShellExecuteExW, ChangeWindowMessageFilterEx};

bool IsSecondInstance(DWORD create_mutex_error) {
  return create_mutex_error == ERROR_ALREADY_EXISTS || create_mutex_error == ERROR_ACCESS_DENIED;
}

namespace {

// Any outcome but another copy goes on, a failed creation included: the
// program then runs without the guard.
bool TakeInstanceMutex() {
  HANDLE mutex = CreateMutexW(NULL, TRUE, kInstanceMutexName);
  if (IsSecondInstance(GetLastError())) {
    if (mutex) CloseHandle(mutex);
    return false;
  }
  app.instance_mutex = mutex;
  return true;
}

void ReleaseInstanceMutex() {
  if (!app.instance_mutex) return;
  ReleaseMutex(app.instance_mutex);
  CloseHandle(app.instance_mutex);
  app.instance_mutex = NULL;
}

}  // namespace

bool StartQuillmere(HINSTANCE instance, int* exit_code) {
  *exit_code = 0;
  if (!TakeInstanceMutex()) return false;

  app.taskbar_created_message = RegisterWindowMessageW(L"TaskbarCreated");
  RegisterMainWindowClass(instance);
  app.main_window = CreateMainWindow(instance);
  if (!app.main_window) {
    ReleaseInstanceMutex();
    *exit_code = 1;
    return false;
  }
  app.shell_window = CreateShellWindow(instance);

  app.user_token = MakeUserRightsToken();
  bool loaded = LoadSettings(app.settings, *app.file_platform, app.user_token);
  ApplyLanguage(app.settings);
  // A failure here comes before the icon: its notice waits for it.
  NoteSettingsSaved(loaded);
  app.start_at_logon_waits = ApplyStartAtLogon();
  app.is_elevated = app.platform->is_elevated();
  // A policy may withhold a privilege from the administrators too.
  app.full_rights = EnsurePurgePrivileges(app.clean) && app.is_elevated;
  app.status.elevation = app.full_rights ? 1 : 0;

  // Started at logon, the program can be ahead of the shell's notification
  // area: a refused add is retried from the loop, with the timer, hot key
  // and settings already live (see StartTrayIcon).
  StartTrayIcon(app.main_window);
  return true;
}

int RunMessageLoop() {
  MSG message = {};
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // A quit posted from outside ends the loop with the windows still up:
  // take them down, so the icon leaves with the process.
  if (app.main_window) DestroyWindow(app.main_window);
  if (app.user_token) CloseHandle(app.user_token);
  app.user_token = NULL;
  ReleaseInstanceMutex();
  return static_cast<int>(static_cast<uint32_t>(message.wParam));
}

ElevatedStart StartElevatedCopy() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ELEVATED_COPY_REFUSED;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC;  // this process ends right after
  info.hwnd = app.shell_window;   // the consent prompt's owner
  info.lpVerb = L"runas";
  info.lpFile = path;
  info.nShow = SW_SHOWNORMAL;
  // The elevated copy must not find this one's guard and take itself for a
  // second instance; a refused prompt gives the guard back. Another copy
  // may have started while the prompt was up: then two would run, so this
  // one gives way.
  ReleaseInstanceMutex();
  if (app.platform->shell_execute(&info)) return ELEVATED_COPY_STARTED;
  return TakeInstanceMutex() ? ELEVATED_COPY_REFUSED : ELEVATED_COPY_REFUSED_GUARD_LOST;
}
