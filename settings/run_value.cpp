// The "Quillmere" value under the current user's Run key: the quoted path
// it starts, written or removed.
#include "settings/settings_internal.h"

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Quillmere";

}  // namespace

bool SetRunValue(bool enable, const wchar_t* command, DWORD length) {
  HKEY key = NULL;
  // KEY_SET_VALUE is what RegSetValueExW and RegDeleteValueW need.
  LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
  // A profile without a Run key has no value in it to remove.
  if (!enable && opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  LONG result = ERROR_SUCCESS;
  if (enable) {
    DWORD bytes = (length + 1) * sizeof(wchar_t);
    result = RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), bytes);
  } else {
    result = RegDeleteValueW(key, kRunValue);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;  // already gone
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

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

