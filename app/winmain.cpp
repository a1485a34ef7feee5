// Entry point.
#include "app/app.h"
#include "common/user_rights.h"

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
  EnforceRedirectionTrust();
  int exit_code = 0;
  if (!StartQuillmere(instance, &exit_code)) return exit_code;
  return RunMessageLoop();
}
