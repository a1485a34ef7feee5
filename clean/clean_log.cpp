// clean.log: one UTF-8 line per clean, appended, never read or rotated.
#include "clean/clean.h"

#include "common/files.h"
#include "common/text.h"

void FormatCleanLogLine(wchar_t (&line)[256], const SYSTEMTIME& time, double freed_mb, int32_t processes) {
  ZeroMemory(line, sizeof line);
  FormatBounded(line, 256, L"%04d-%02d-%02d %02d:%02d:%02d  Freed %.0f MB  (%d processes)\r\n", time.wYear,
                time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, freed_mb, processes);
}

namespace {

// The append itself, while the thread impersonates the user.
bool AppendAsUser(const wchar_t* folder_path, const char* bytes, DWORD length, const FilePlatform& platform) {
  CheckedFolder folder;
  if (OpenCheckedFolder(folder, folder_path, false, platform) != CHECKED_FOLDER_OPEN) return false;
  // Append-only access: every write lands at the end, whatever others do.
  BY_HANDLE_FILE_INFORMATION information;
  bool missing = false;
  HANDLE file = OpenCheckedFile(folder, L"clean.log", FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, information,
                                missing, platform);
  CloseCheckedFolder(folder, platform);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  platform.write_file(file, bytes, length, &written, nullptr);
  platform.close_handle(file);
  return true;
}

}  // namespace

bool AppendCleanLog(const wchar_t* folder_path, double freed_mb, int32_t processes, const FilePlatform& platform,
                    HANDLE user_token) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t line[256];
  FormatCleanLogLine(line, now, freed_mb, processes);
  char bytes[512] = {};
  int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
  if (length <= 1 || !ImpersonateUser(user_token, platform)) return false;
  bool logged = AppendAsUser(folder_path, bytes, static_cast<DWORD>(length - 1), platform);
  StopImpersonating(platform);
  return logged;
}
