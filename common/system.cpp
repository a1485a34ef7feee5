// System libraries, elevation and the contrast theme.
#include "common/system.h"

#include "common/text.h"

bool IsProcessElevated() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  bool read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return NULL;
  wchar_t path[MAX_PATH] = {};
  if (!FormatBounded(path, MAX_PATH, L"%s\\%s", system, name)) return NULL;
  return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool IsHighContrastOn() {
  HIGHCONTRASTW contrast = {};
  contrast.cbSize = sizeof contrast;
  if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)) return false;
  return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}
