// Entry point: single-instance guard, start-up in order, the message loop.
#include "app/app.h"

#include "tray/tray.h"

namespace {

// An elevated program must never pick up a DLL planted beside the exe (in
// Downloads, say). The call is missing on Windows 7 without KB2533623.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  auto set_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_directories) set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearchToSystem32();

  HANDLE mutex = CreateMutexW(NULL, TRUE, L"Quillmere_SingleInstance");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (mutex) CloseHandle(mutex);
    return 0;
  }

  app.taskbar_created_message = RegisterWindowMessageW(L"TaskbarCreated");
  RegisterMainWindowClass(instance);
  app.main_window = CreateMainWindow(instance);
  if (!app.main_window) {
    if (mutex) CloseHandle(mutex);
    return 1;
  }
  app.shell_window = CreateShellWindow(instance);

  LoadSettings(app.settings);
  SetAutostart(app.settings.start_with_windows);
  app.is_elevated = IsProcessElevated();

  // Started at logon, the program can be ahead of the shell's notification
  // area: a refused add is retried from the loop, with the timer, hot key
  // and settings already live, and the program ends with 1 only after a
  // minute of refusals.
  StartTrayIcon(app.main_window);
  MSG message = {};
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  int exit_code = static_cast<int>(static_cast<uint32_t>(message.wParam));

  if (app.shell_window) DestroyWindow(app.shell_window);
  if (mutex) CloseHandle(mutex);
  return exit_code;
}
