// Cleaning engine: memory snapshot, working-set trimmer, system list purge,
// the clean operation and its log.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "app/files.h"

struct MemorySnapshot {
  uint64_t total_bytes;
  uint64_t avail_bytes;
  uint64_t used_bytes;
  uint32_t load_percent;
  double used_gb;
  double total_gb;
};

// What the clean keeps between runs, in AppState::clean.
struct CleanState {
  uint64_t last_clean_tick;              // stamped by each clean; 0 before the first
  bool limited_notice_shown;             // the limited-mode balloon was shown in this run
  FARPROC set_system_information_entry;  // NtSetSystemInformation, once found
  bool purge_privileges_enabled;
};

constexpr double BYTES_TO_GB = 1.0 / 1073741824.0;
constexpr double BYTES_TO_MB = 1.0 / 1048576.0;

// The load's colour band, one for the icon and the popup alike: green below
// 60, amber to 79, red above. Each draws the band in colours of its own.
enum LoadBand { LOAD_BAND_LOW, LOAD_BAND_HIGH, LOAD_BAND_CRITICAL };
LoadBand LoadBandOf(int load_percent);

// Fills the snapshot from the figures of one GlobalMemoryStatusEx reading.
void FillMemorySnapshot(MemorySnapshot& snapshot, const MEMORYSTATUSEX& status);
// False when the system gives no reading; the snapshot is then untouched.
bool TakeMemorySnapshot(MemorySnapshot& snapshot);

// The platform calls the trimmer and the purge make, gathered so that a test
// can play the system: processes that cannot be opened, 5,000 processes, a
// missing ntdll entry point. The program always uses kSystemCleanPlatform.
struct CleanPlatform {
  BOOL(WINAPI* enum_processes)(DWORD* ids, DWORD bytes, DWORD* returned);
  HANDLE(WINAPI* open_process)(DWORD access, BOOL inherit, DWORD id);
  DWORD(WINAPI* get_image_name)(HANDLE process, LPWSTR name, DWORD size);
  BOOL(WINAPI* empty_working_set)(HANDLE process);
  BOOL(WINAPI* close_handle)(HANDLE handle);
  HMODULE(WINAPI* get_module_handle)(LPCWSTR name);
  FARPROC(WINAPI* get_proc_address)(HMODULE module, LPCSTR name);
  BOOL(WINAPI* set_file_cache_size)(SIZE_T minimum, SIZE_T maximum, DWORD flags);
  void (*enable_purge_privileges)();
};
extern const CleanPlatform kSystemCleanPlatform;

using SetSystemInformationFunction = LONG(NTAPI*)(ULONG information_class, PVOID information, ULONG length);
constexpr ULONG SYSTEM_MEMORY_LIST_INFORMATION = 80;
constexpr ULONG MEMORY_FLUSH_MODIFIED_LIST = 3;
constexpr ULONG MEMORY_PURGE_STANDBY_LIST = 4;

// The text after the last backslash of an image path.
const wchar_t* ImageBaseName(const wchar_t* image_path);
// Whether the list (names separated by commas and spaces) holds the whole
// base name, ignoring the case of ASCII letters; no list excludes nothing.
bool IsExcluded(const wchar_t* base_name, const wchar_t* exclusion_list);
// Empties the working set of every process it may open that the list does
// not name; answers how many it emptied.
uint32_t TrimWorkingSets(const wchar_t* exclusion_list, const CleanPlatform& platform = kSystemCleanPlatform);

// Enables, in the process token, the two privileges the purge needs: an
// elevated token holds them but does not enable them.
void EnablePurgePrivileges();
// Trims, then flushes the modified list, purges the standby list and flushes
// the file cache; answers the trimmer's count.
uint32_t PurgeSystemLists(CleanState& state, const wchar_t* exclusion_list, const CleanPlatform& platform);
// The same on the program's clean state.
uint32_t PurgeSystemLists(const wchar_t* exclusion_list, const CleanPlatform& platform = kSystemCleanPlatform);

// Megabytes that became available, never negative.
double FreedMegabytes(uint64_t avail_before, uint64_t avail_after);
void FormatCleanLogLine(wchar_t (&line)[256], const SYSTEMTIME& time, double freed_mb, int32_t processes);
// Appends one line to clean.log in `folder`; false when the folder or the
// file cannot be opened (locked, missing folder) or is refused as a link or a
// second name of another file, in which case the clean simply goes unlogged.
bool AppendCleanLog(const wchar_t* folder, double freed_mb, int32_t processes,
                    const FilePlatform& platform = kSystemFilePlatform);

enum CleanBalloon { CLEAN_BALLOON_NONE, CLEAN_BALLOON_LIMITED_MODE, CLEAN_BALLOON_CLEANED };
CleanBalloon ChooseCleanBalloon(bool silent_mode, bool is_elevated, bool limited_notice_shown, double freed_mb,
                                int32_t notify_min_mb);
void FormatCleanBalloon(wchar_t (&text)[128], double freed_mb, int32_t processes);

// The one clean of the program, whatever started it.
void RunClean(HWND owner);
