// clean.log: one UTF-8 line per clean, appended, never read or rotated.
#include "app/app.h"
#include "clean/clean.h"

bool BuildCleanLogPath(wchar_t (&path)[MAX_PATH], const wchar_t* app_data_folder) {
  const wchar_t kTail[] = L"\\Quillmere\\clean.log";
  ZeroMemory(path, sizeof path);
  CopyBounded(path, MAX_PATH, app_data_folder);
  size_t end = wcslen(path);
  CopyBounded(path + end, MAX_PATH - end, kTail);
  return wcslen(path) == end + ARRAYSIZE(kTail) - 1;
}

void FormatCleanLogLine(wchar_t (&line)[256], const SYSTEMTIME& time, double freed_mb, int32_t processes) {
  ZeroMemory(line, sizeof line);
  FormatBounded(line, 256, L"%04d-%02d-%02d %02d:%02d:%02d  Freed %.0f MB  (%d processes)\r\n", time.wYear,
                time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, freed_mb, processes);
}

bool AppendCleanLog(const wchar_t* path, double freed_mb, int32_t processes) {
  // Append-only access: every write lands at the end, whatever others do.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[256];
  FormatCleanLogLine(line, now, freed_mb, processes);
  char bytes[512] = {};
  int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
  DWORD written = 0;
  if (length > 1) WriteFile(file, bytes, static_cast<DWORD>(length - 1), &written, nullptr);
  CloseHandle(file);
  return true;
}
