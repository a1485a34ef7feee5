// The memory-releasing core of a clean: trim, then the three system requests;
// and the reading of the lists those requests empty.
#include "clean/clean.h"

#include <psapi.h>

namespace {

// Looked up at most once per run when found; a failed lookup is tried again
// the next time the entry point is needed.
FARPROC NtdllEntry(FARPROC& cached, const char* name, const CleanPlatform& platform) {
  if (!cached) {
    HMODULE ntdll = platform.get_module_handle(L"ntdll.dll");
    if (ntdll) cached = platform.get_proc_address(ntdll, name);
  }
  return cached;
}

void SendMemoryListCommand(CleanState& state, ULONG command) {
  SetSystemInformationFunction entry = reinterpret_cast<SetSystemInformationFunction>(reinterpret_cast<void*>(
      NtdllEntry(state.set_system_information_entry, "NtSetSystemInformation", *state.platform)));
  if (entry) entry(SYSTEM_MEMORY_LIST_INFORMATION, &command, sizeof command);
}

}  // namespace

const CleanPlatform kSystemCleanPlatform = {
    K32EnumProcesses, OpenProcess,    K32GetProcessImageFileNameW, K32EmptyWorkingSet,  CloseHandle,
    GetModuleHandleW, GetProcAddress, SetSystemFileCacheSize,      SetProcessPrivilege, GetSystemInfo,
    GetForegroundWindow, GetWindowThreadProcessId,
};

StandbyPurge StandbyPurgeOf(int32_t value) {
  if (value == 0) return STANDBY_PURGE_NONE;
  if (value == 2) return STANDBY_PURGE_LOW_PRIORITY;
  return STANDBY_PURGE_ALL;
}

bool PrivilegesAdjusted(BOOL result, DWORD last_error) { return result && last_error == ERROR_SUCCESS; }

bool SetProcessPrivilege(const wchar_t* privilege, bool enable) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!LookupPrivilegeValueW(nullptr, privilege, &privileges.Privileges[0].Luid)) return false;
  HANDLE token = nullptr;
  // TOKEN_ADJUST_PRIVILEGES is what AdjustTokenPrivileges needs; no previous
  // state is asked for, which would need TOKEN_QUERY too.
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
  SetLastError(ERROR_SUCCESS);
  BOOL result = AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  bool adjusted = PrivilegesAdjusted(result, GetLastError());
  CloseHandle(token);
  return adjusted;
}

bool EnsurePurgePrivileges(CleanState& state) {
  if (!state.purge_privileges_asked) {
    const CleanPlatform& platform = *state.platform;
    bool profile = platform.set_privilege(SE_PROF_SINGLE_PROCESS_NAME, true);
    bool quota = platform.set_privilege(SE_INCREASE_QUOTA_NAME, true);
    state.purge_privileges_held = profile && quota;
    state.purge_privileges_asked = true;
  }
  return state.purge_privileges_held;
}

bool ReadMemoryLists(CleanState& state, MemoryLists& lists) {
  ZeroMemory(&lists, sizeof lists);
  EnsurePurgePrivileges(state);
  QuerySystemInformationFunction entry = reinterpret_cast<QuerySystemInformationFunction>(reinterpret_cast<void*>(
      NtdllEntry(state.query_system_information_entry, "NtQuerySystemInformation", *state.platform)));
  if (!entry) return false;
  SystemMemoryListInformation pages = {};
  ULONG returned = 0;
  // Any NTSTATUS with the top bit set is a refusal (an unknown class, a
  // missing privilege, a record of another size).
  if (entry(SYSTEM_MEMORY_LIST_INFORMATION, &pages, sizeof pages, &returned) < 0) return false;
  SYSTEM_INFO system = {};
  state.platform->get_system_info(&system);
  if (system.dwPageSize == 0) return false;
  lists = MemoryListsFromPages(pages, system.dwPageSize);
  return true;
}

uint32_t PurgeSystemLists(CleanState& state, const wchar_t* exclusion_list, const CleanSteps& steps,
                          KeptProgram* kept) {
  const CleanPlatform& platform = *state.platform;
  if (kept) *kept = {};
  uint32_t count = 0;
  if (steps.trim_working_sets) {
    // Once, before the first process is opened: a window that comes to the
    // front during the trim does not change what this clean keeps.
    DWORD keep = steps.keep_foreground ? ForegroundProcessId(platform) : 0;
    // Only for the trim's opens: the program holds no more than it uses.
    bool debugging = platform.set_privilege(SE_DEBUG_NAME, true);
    count = TrimWorkingSets(exclusion_list, platform, keep, kept);
    if (debugging) platform.set_privilege(SE_DEBUG_NAME, false);
  }
  EnsurePurgePrivileges(state);
  if (steps.flush_modified) SendMemoryListCommand(state, MEMORY_FLUSH_MODIFIED_LIST);
  switch (StandbyPurgeOf(steps.purge_standby)) {
    case STANDBY_PURGE_ALL:
      SendMemoryListCommand(state, MEMORY_PURGE_STANDBY_LIST);
      break;
    case STANDBY_PURGE_LOW_PRIORITY:
      SendMemoryListCommand(state, MEMORY_PURGE_LOW_PRIORITY_STANDBY_LIST);
      break;
    case STANDBY_PURGE_NONE:
      break;
  }
  if (steps.flush_file_cache) platform.set_file_cache_size(static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1), 0);
  return count;
}
