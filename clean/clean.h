// Cleaning engine: working-set trimmer, system list purge, the reading of
// the lists, the clean itself and its log, and the balloon it calls for.
// The figures it measures are in clean/memory.h; who uses the memory (the
// commit charge and the programs holding the most) in clean/memory_use.h.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "clean/memory.h"
#include "clean/memory_use.h"
#include "common/files.h"

struct CleanPlatform;
extern const CleanPlatform kSystemCleanPlatform;

// What the clean keeps between runs: one record for the program.
struct CleanState {
  const CleanPlatform* platform = &kSystemCleanPlatform;
  uint64_t last_clean_tick;              // stamped by each clean; 0 before the first
  bool limited_notice_shown;             // the limited-mode balloon was shown in this run
  FARPROC set_system_information_entry;    // NtSetSystemInformation, once found
  FARPROC query_system_information_entry;  // NtQuerySystemInformation, once found
  bool purge_privileges_asked;  // the purge's privileges were asked for, once per run
  bool purge_privileges_held;   // and Windows enabled both
};

// What NtQuerySystemInformation answers for the memory-list class on 64-bit
// Windows, in pages. Only the zeroed, free, modified and standby counts are
// read; the rest keeps the record the size the system expects.
struct SystemMemoryListInformation {
  ULONG_PTR ZeroPageCount;
  ULONG_PTR FreePageCount;
  ULONG_PTR ModifiedPageCount;
  ULONG_PTR ModifiedNoWritePageCount;
  ULONG_PTR BadPageCount;
  ULONG_PTR PageCountByPriority[8];
  ULONG_PTR RepurposedPagesByPriority[8];
  ULONG_PTR ModifiedPageCountPageFile;
};

// The page counts as megabytes (pages x page size / 2^20), marked readable.
MemoryLists MemoryListsFromPages(const SystemMemoryListInformation& pages, uint64_t page_size);

// The platform calls the trimmer, the purge and the list reading make,
// gathered so that a test can play the system: processes that cannot be
// opened, 5,000 processes, a missing ntdll entry point, lists that cannot be
// read. The program always uses kSystemCleanPlatform (CleanState::platform).
struct CleanPlatform {
  BOOL(WINAPI* enum_processes)(DWORD* ids, DWORD bytes, DWORD* returned);
  HANDLE(WINAPI* open_process)(DWORD access, BOOL inherit, DWORD id);
  DWORD(WINAPI* get_image_name)(HANDLE process, LPWSTR name, DWORD size);
  BOOL(WINAPI* empty_working_set)(HANDLE process);
  BOOL(WINAPI* close_handle)(HANDLE handle);
  HMODULE(WINAPI* get_module_handle)(LPCWSTR name);
  FARPROC(WINAPI* get_proc_address)(HMODULE module, LPCSTR name);
  BOOL(WINAPI* set_file_cache_size)(SIZE_T minimum, SIZE_T maximum, DWORD flags);
  // Enables (or disables) a privilege in the process token; true only when
  // the token holds it and it is now as asked (SetProcessPrivilege).
  bool (*set_privilege)(const wchar_t* privilege, bool enable);
  void(WINAPI* get_system_info)(LPSYSTEM_INFO info);
  // The program the user works in: read once at the start of a trim.
  HWND(WINAPI* foreground_window)();
  DWORD(WINAPI* window_thread_process_id)(HWND window, LPDWORD process_id);
};

using SetSystemInformationFunction = LONG(NTAPI*)(ULONG information_class, PVOID information, ULONG length);
using QuerySystemInformationFunction = LONG(NTAPI*)(ULONG information_class, PVOID information, ULONG length,
                                                    PULONG returned);
constexpr ULONG SYSTEM_MEMORY_LIST_INFORMATION = 80;
constexpr ULONG MEMORY_FLUSH_MODIFIED_LIST = 3;
constexpr ULONG MEMORY_PURGE_STANDBY_LIST = 4;
constexpr ULONG MEMORY_PURGE_LOW_PRIORITY_STANDBY_LIST = 5;

// How much of the standby list a clean purges, as purge_standby stores it.
enum StandbyPurge { STANDBY_PURGE_NONE, STANDBY_PURGE_ALL, STANDBY_PURGE_LOW_PRIORITY };
// 0 none, 2 the low-priority part; any other value the whole list, which is
// what any value but 0 meant when the setting was on or off.
StandbyPurge StandbyPurgeOf(int32_t value);

// The program a clean left alone because it was in front: its image's base
// name, cut to fit; empty when the name could not be read.
constexpr int KEPT_NAME_CAPACITY = 64;
struct KeptProgram {
  bool kept;
  wchar_t name[KEPT_NAME_CAPACITY];
};
// The process that owns the foreground window; 0 when there is none.
DWORD ForegroundProcessId(const CleanPlatform& platform);

// The text after the last backslash of an image path.
const wchar_t* ImageBaseName(const wchar_t* image_path);
// Whether the list (names separated by commas and spaces) holds the whole
// base name, ignoring the case of ASCII letters; no list excludes nothing.
bool IsExcluded(const wchar_t* base_name, const wchar_t* exclusion_list);
// Empties the working set of every process it may open that the list does
// not name, but the process `keep_process_id` (0: none), which it notes in
// `kept` when given; answers how many it emptied. An excluded process stays
// excluded and is not counted as kept. Which processes it may open is the
// caller's: PurgeSystemLists enables "Debug programs" around it.
uint32_t TrimWorkingSets(const wchar_t* exclusion_list, const CleanPlatform& platform, DWORD keep_process_id = 0,
                         KeptProgram* kept = nullptr);

// Enables or disables `privilege` in the process token. An elevated
// token holds the privileges a clean needs but does not enable them, and a
// policy may take any of them from the administrators: AdjustTokenPrivileges
// then succeeds all the same, saying ERROR_NOT_ALL_ASSIGNED. True only when
// the privilege is held and now as asked.
bool SetProcessPrivilege(const wchar_t* privilege, bool enable);
// Whether a call that set privileges (its result, and GetLastError right
// after) set all of them.
bool PrivilegesAdjusted(BOOL result, DWORD last_error);
// The purge's two privileges, "Profile single process" (the list commands
// and the list reading) and "Adjust memory quotas" (the file-cache flush),
// enabled once per run, before the first request or list reading that
// needs them; whether Windows enabled both, which a full clean needs.
bool EnsurePurgePrivileges(CleanState& state);
// Reads the memory lists; false (and `lists` all zero) when the system
// refuses or lacks the query.
bool ReadMemoryLists(CleanState& state, MemoryLists& lists);

// Which parts of a clean run; all on is the full clean.
struct CleanSteps {
  bool trim_working_sets;
  bool flush_modified;
  int32_t purge_standby;  // StandbyPurgeOf says what it means
  bool flush_file_cache;
  bool keep_foreground;  // the trim leaves the foreground window's process alone
};
// Trims, then flushes the modified list, purges the standby list (whole or
// its low-priority part) and flushes the file cache, each only when its step
// is on; answers the trimmer's count, 0 when the trim is off. The program
// kept in front goes to `kept` when given. The trim alone runs with "Debug
// programs" enabled, where the token holds it: Windows lets an
// administrator open the processes of services and other sessions with the
// rights a trim needs only then (protected processes refuse all the same).
uint32_t PurgeSystemLists(CleanState& state, const wchar_t* exclusion_list, const CleanSteps& steps,
                          KeptProgram* kept = nullptr);

// Megabytes that became available, never negative.
double FreedMegabytes(uint64_t avail_before, uint64_t avail_after);
void FormatCleanLogLine(wchar_t (&line)[256], const SYSTEMTIME& time, double freed_mb, int32_t processes);
// Appends one line to clean.log in `folder`, under the user's own rights
// (`user_token`, common/files.h); false when the folder or the file cannot be
// opened (locked, missing folder, no token) or is refused as a link or a
// second name of another file, in which case the clean simply goes unlogged.
bool AppendCleanLog(const wchar_t* folder, double freed_mb, int32_t processes, const FilePlatform& platform,
                    HANDLE user_token);

enum CleanBalloon { CLEAN_BALLOON_NONE, CLEAN_BALLOON_LIMITED_MODE, CLEAN_BALLOON_CLEANED };
// `full_rights`: elevated, with the purge's privileges (EnsurePurgePrivileges).
CleanBalloon ChooseCleanBalloon(bool silent_mode, bool full_rights, bool limited_notice_shown, double freed_mb,
                                int32_t notify_min_mb);
// "Freed 512 MB  (37 processes trimmed)" in the language in use. Its title is
// IDS_BALLOON_CLEANED_TITLE; clean.log's line stays in English.
void FormatCleanBalloon(wchar_t (&text)[128], double freed_mb, int32_t processes);

// What one clean did.
struct CleanReport {
  double freed_mb;
  int32_t processes;  // working sets emptied
  MemoryLists lists_before;  // readings around the clean; unreadable: all 0
  MemoryLists lists_after;
  KeptProgram kept;  // the foreground program the trim left alone
};
// The clean: measures memory and the lists, trims and purges with
// PurgeSystemLists, measures again and stamps state.last_clean_tick.
// Recording, logging and telling the user are the caller's.
CleanReport CleanMemory(CleanState& state, const wchar_t* exclusion_list, const CleanSteps& steps);
