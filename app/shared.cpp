// The helpers every module shares.
#include "app/shared.h"

#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

bool IsProcessElevated() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  bool read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): a bounded front for _vsnwprintf_s, called with literal formats
bool FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  if (capacity == 0 || capacity > 2147483647u) return false;
  va_list args;
  va_start(args, format);
  // The C runtime's bounded formatter follows the platform's wide rules
  // ("%s" takes UTF-16) and always terminates; -1 means it had to cut.
  int written = _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
  va_end(args);
  return written >= 0;
}

void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return;
  size_t i = 0;
  if (text) {
    for (; i + 1 < capacity && text[i] != 0; ++i) field[i] = text[i];
  }
  field[i] = 0;
}

bool GetAppDataFolder(wchar_t (&folder)[MAX_PATH]) {
  ZeroMemory(folder, sizeof folder);
  // A failed lookup can still leave a path in the buffer; trusting it, or
  // falling back to the drive root, would let another user choose where an
  // elevated program reads its settings and writes its log.
  HRESULT result = SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder);
  if (result != S_OK || folder[0] == 0) {
    ZeroMemory(folder, sizeof folder);
    return false;
  }
  return true;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return NULL;
  wchar_t path[MAX_PATH] = {};
  if (!FormatBounded(path, MAX_PATH, L"%s\\%s", system, name)) return NULL;
  return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
