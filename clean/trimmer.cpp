// Empties the working sets of all processes but the excluded ones.
#include "clean/clean.h"

#include <psapi.h>
#include <wchar.h>

#include "common/text.h"

namespace {
constexpr DWORD kMaxProcesses = 4096;
constexpr DWORD kOpenAccess = PROCESS_QUERY_INFORMATION | PROCESS_SET_QUOTA;  // 0x0500
}  // namespace

const wchar_t* ImageBaseName(const wchar_t* image_path) {
  const wchar_t* slash = wcsrchr(image_path, L'\\');
  return slash ? slash + 1 : image_path;
}

bool IsExcluded(const wchar_t* base_name, const wchar_t* exclusion_list) {
  if (!exclusion_list) return false;
  // Tokenising writes into the text, so every process gets a fresh copy.
  wchar_t copy[256] = {};
  for (int i = 0; i < 256 && exclusion_list[i] != 0; ++i) copy[i] = exclusion_list[i];
  copy[255] = 0;
  wchar_t* context = nullptr;
  for (wchar_t* token = wcstok_s(copy, L", ", &context); token; token = wcstok_s(nullptr, L", ", &context)) {
    if (_wcsnicmp(base_name, token, 256) == 0) return true;
  }
  return false;
}

DWORD ForegroundProcessId(const CleanPlatform& platform) {
  HWND window = platform.foreground_window();
  DWORD id = 0;
  if (!window || !platform.window_thread_process_id(window, &id)) return 0;
  return id;
}

uint32_t TrimWorkingSets(const wchar_t* exclusion_list, const CleanPlatform& platform, DWORD keep_process_id,
                         KeptProgram* kept) {
  if (kept) *kept = {};
  DWORD ids[kMaxProcesses] = {};
  DWORD returned = 0;
  if (!platform.enum_processes(ids, sizeof ids, &returned)) return 0;
  bool compare_names = exclusion_list && exclusion_list[0] != 0;
  DWORD n = returned / sizeof(DWORD);
  if (n > kMaxProcesses) n = kMaxProcesses;
  uint32_t count = 0;
  for (DWORD i = 0; i < n; ++i) {
    if (ids[i] == 0) continue;
    HANDLE process = platform.open_process(kOpenAccess, FALSE, ids[i]);
    if (!process) continue;
    bool excluded = false;
    bool named = false;
    wchar_t image[MAX_PATH] = {};
    if (compare_names) {
      // A name that cannot be read never excludes its process.
      named = platform.get_image_name(process, image, MAX_PATH) != 0;
      if (named) excluded = IsExcluded(ImageBaseName(image), exclusion_list);
    }
    if (!excluded && ids[i] == keep_process_id) {
      // Its pages are the ones the user needs next: the one process left
      // as it is, named for the report.
      if (kept) {
        kept->kept = true;
        if (!compare_names) named = platform.get_image_name(process, image, MAX_PATH) != 0;
        if (named) CopyBounded(kept->name, KEPT_NAME_CAPACITY, ImageBaseName(image));
      }
    } else if (!excluded && platform.empty_working_set(process)) {
      count += 1;
    }
    platform.close_handle(process);
  }
  return count;
}
