// Start at logon: the "Quillmere" value under the current user's Run key.
#include "app/app.h"

namespace {
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Quillmere";
}  // namespace

bool BuildRunCommand(wchar_t (&command)[MAX_PATH + 2], const wchar_t* module_path, DWORD length) {
  ZeroMemory(command, sizeof command);
  // GetModuleFileNameW answers MAX_PATH when it had to cut the path: a cut
  // path would start some other file, so nothing is registered.
  if (length == 0 || length >= MAX_PATH) return false;
  // Quoted, so that a path with spaces cannot start C:\Program.exe.
  command[0] = L'"';
  for (DWORD i = 0; i < length; ++i) {
    if (module_path[i] == 0) return false;
    command[1 + i] = module_path[i];
  }
  command[1 + length] = L'"';
  command[2 + length] = 0;
  return true;
}

bool SetAutostart(bool enable) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  if (!enable) {
    RegDeleteValueW(key, kRunValue);
    RegCloseKey(key);
    return true;
  }
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  wchar_t command[MAX_PATH + 2];
  if (!BuildRunCommand(command, path, length)) {
    RegCloseKey(key);
    return false;
  }
  DWORD bytes = (length + 3) * sizeof(wchar_t);  // two quotes and the terminator
  RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), bytes);
  RegCloseKey(key);
  return true;
}
