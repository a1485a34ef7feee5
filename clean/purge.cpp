// The memory-releasing core of a clean: trim, then the three system requests.
#include "clean/clean.h"

#include "app/app.h"

#include <psapi.h>

namespace {

void EnablePrivilege(HANDLE token, const wchar_t* name) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return;
  AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
}

// Looked up at most once per run when found; a failed lookup is tried again
// the next time the entry point is needed.
SetSystemInformationFunction SystemInformationEntry(CleanState& state, const CleanPlatform& platform) {
  if (!state.set_system_information_entry) {
    HMODULE ntdll = platform.get_module_handle(L"ntdll.dll");
    if (ntdll) state.set_system_information_entry = platform.get_proc_address(ntdll, "NtSetSystemInformation");
  }
  return reinterpret_cast<SetSystemInformationFunction>(reinterpret_cast<void*>(state.set_system_information_entry));
}

void SendMemoryListCommand(CleanState& state, const CleanPlatform& platform, ULONG command) {
  SetSystemInformationFunction entry = SystemInformationEntry(state, platform);
  if (entry) entry(SYSTEM_MEMORY_LIST_INFORMATION, &command, sizeof command);
}

}  // namespace

const CleanPlatform kSystemCleanPlatform = {
    K32EnumProcesses, OpenProcess,      K32GetProcessImageFileNameW, K32EmptyWorkingSet,   CloseHandle,
    GetModuleHandleW, GetProcAddress,   SetSystemFileCacheSize,      EnablePurgePrivileges,
};

void EnablePurgePrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  EnablePrivilege(token, SE_PROF_SINGLE_PROCESS_NAME);  // the standby purge
  EnablePrivilege(token, SE_INCREASE_QUOTA_NAME);       // the file-cache flush
  CloseHandle(token);
}

uint32_t PurgeSystemLists(const wchar_t* exclusion_list, const CleanPlatform& platform) {
  return PurgeSystemLists(app.clean, exclusion_list, platform);
}

uint32_t PurgeSystemLists(CleanState& state, const wchar_t* exclusion_list, const CleanPlatform& platform) {
  uint32_t count = TrimWorkingSets(exclusion_list, platform);
  if (!state.purge_privileges_enabled) {
    platform.enable_purge_privileges();
    state.purge_privileges_enabled = true;
  }
  SendMemoryListCommand(state, platform, MEMORY_FLUSH_MODIFIED_LIST);
  SendMemoryListCommand(state, platform, MEMORY_PURGE_STANDBY_LIST);
  platform.set_file_cache_size(static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1), 0);
  return count;
}
