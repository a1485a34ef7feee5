// The memory-releasing core of a clean: trim, then the three system requests;
// and the reading of the lists those requests empty.
#include "clean/clean.h"

#include <psapi.h>

namespace {

void EnablePrivilege(HANDLE token, const wchar_t* name) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return;
  AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
}

// Once per run, before the first request or list reading that needs them.
void EnsurePurgePrivileges(CleanState& state) {
  if (state.purge_privileges_enabled) return;
  state.platform->enable_purge_privileges();
  state.purge_privileges_enabled = true;
}

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
    K32EnumProcesses, OpenProcess,    K32GetProcessImageFileNameW, K32EmptyWorkingSet,    CloseHandle,
    GetModuleHandleW, GetProcAddress, SetSystemFileCacheSize,      EnablePurgePrivileges, GetSystemInfo,
    GetForegroundWindow, GetWindowThreadProcessId,
};

StandbyPurge StandbyPurgeOf(int32_t value) {
  if (value == 0) return STANDBY_PURGE_NONE;
  if (value == 2) return STANDBY_PURGE_LOW_PRIORITY;
  return STANDBY_PURGE_ALL;
}

void EnablePurgePrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  EnablePrivilege(token, SE_PROF_SINGLE_PROCESS_NAME);  // the standby purge and the list reading
  EnablePrivilege(token, SE_INCREASE_QUOTA_NAME);       // the file-cache flush
  CloseHandle(token);
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
    count = TrimWorkingSets(exclusion_list, platform, keep, kept);
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
