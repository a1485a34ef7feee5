// Who uses the memory: the commit charge against its limit, the warning when
// it nears the limit (which a clean cannot lower), and the programs holding
// the most physical memory. Part of the clean module (clean/clean.h).
#pragma once

#include <windows.h>
#include <psapi.h>
#include <stdint.h>

#include "clean/memory.h"

// The commit row's band: the load's, on the percentage the row shows.
LoadBand CommitLoadBand(const CommitCharge& commit);
// The same from GetPerformanceInfo's CommitTotal and CommitLimit, in pages
// of PageSize; none when a figure overflows 64 bits.
CommitCharge CommitChargeFromPages(const PERFORMANCE_INFORMATION& info);

// "Commit 14.2 / 24.0 GB (59%)" in the language in use, the figures with
// the user's decimal separator; empty when the record is not readable. Room
// for a translation twice the English length.
constexpr int COMMIT_TEXT_CAPACITY = 128;
void FormatCommitText(wchar_t (&text)[COMMIT_TEXT_CAPACITY], const CommitCharge& commit);

// The warning level a commit_warn_percent value stands for, and what the
// settings window stores for a typed number: 0 (off) for 0 and below, 50 for
// 1 to 49 (the earliest warning offered), 99 for 100 and above, anything
// from 50 to 99 as it is. A value from a hand-edited file means the same.
int32_t CommitWarnLevel(int32_t commit_warn_percent);
// Whether the charge is at or above the level of `commit_warn_percent`;
// never when the level is off or the charge unreadable.
bool CommitAtWarnLevel(const CommitCharge& commit, int32_t commit_warn_percent);

// When the warning balloon last showed, kept by whoever shows it. It shows
// in silent mode too: it is a warning, not a report of a clean.
struct CommitWarning {
  bool shown;           // shown at least once
  uint64_t shown_tick;  // when it last showed
};
constexpr uint64_t COMMIT_WARNING_INTERVAL_MS = 30ull * 60 * 1000;
// Whether the balloon is due at `now_tick`: the charge at the level, and
// never shown or last shown COMMIT_WARNING_INTERVAL_MS or more before. A
// clock behind that showing counts as no time passed.
bool CommitWarningDue(const CommitWarning& warning, const CommitCharge& commit, int32_t commit_warn_percent,
                      uint64_t now_tick);
// "Committed memory is at 93% of its limit. Close programs or enlarge the
// page file; a clean cannot lower it." in the language in use, as long as a
// balloon's text may be. Its title is IDS_BALLOON_COMMIT_TITLE.
constexpr int COMMIT_WARNING_CAPACITY = 256;
void FormatCommitWarning(wchar_t (&text)[COMMIT_WARNING_CAPACITY], int32_t percent);

// The programs holding the most physical memory: the working sets of all
// the processes of one image name, summed.
constexpr int32_t MEMORY_HOLDER_CAPACITY = 4096;      // the processes the clean handles, each its own name
constexpr int32_t MEMORY_HOLDER_NAME_CAPACITY = 256;  // a file name: at most 255 characters
struct MemoryHolder {
  wchar_t name[MEMORY_HOLDER_NAME_CAPACITY];  // as the first of its processes spells it
  uint64_t working_set_bytes;
  uint32_t processes;
};

// One name's processes in the table; the name is kept in the table's pool.
struct MemoryHolderGroup {
  uint32_t name_at;  // where the name starts in MemoryHolderTable::names
  uint32_t processes;
  uint64_t working_set_bytes;
};
// All names together, each with its end: 16 characters a name on average
// for a full table (real image names are shorter), 128 KB.
constexpr int32_t MEMORY_HOLDER_NAMES_CAPACITY = 65536;

// Every name read, in a fixed table of about 200 KB: keep it in static
// storage, not on a stack.
struct MemoryHolderTable {
  MemoryHolderGroup groups[MEMORY_HOLDER_CAPACITY];  // in the order the names came
  uint16_t by_name[MEMORY_HOLDER_CAPACITY];          // `groups` indexes in name order
  wchar_t names[MEMORY_HOLDER_NAMES_CAPACITY];       // as the first of its processes spells it
  int32_t names_used;
  int32_t count;
  // Processes in no group. Hidden: this copy may not open them (without
  // elevation, other users' and the system's services), or no group or no
  // room for the name was left. Unnamed: opened, but with no image name or no
  // memory figures, as the system's own kernel processes (System, Registry,
  // Memory Compression) are for every copy, elevated or not.
  uint32_t hidden;
  uint32_t unnamed;
  bool more_processes;  // the system listed as many as could be read: there may be more
};
void ClearMemoryHolders(MemoryHolderTable& table);
// Adds one process's working set to the group of `name`, compared as
// Windows compares file names (case ignored); a new name opens a group.
// False for an empty name (the process counted as unnamed) and for a new
// name when the table or its names are full (counted as hidden). A name longer than 255 characters is kept,
// and compared, as its first 255.
bool AddMemoryHolder(MemoryHolderTable& table, const wchar_t* name, uint64_t working_set_bytes);
// The name of group `group` (0 to count - 1).
const wchar_t* MemoryHolderName(const MemoryHolderTable& table, int32_t group);

constexpr int32_t TOP_MEMORY_HOLDERS = 3;
struct TopMemoryHolders {
  MemoryHolder holders[TOP_MEMORY_HOLDERS];  // the largest first
  int32_t count;
  // Processes were hidden, or the list may go on: say "(some processes
  // hidden)". The unnamed ones alone do not count: no copy could show them.
  bool some_hidden;
};
// The three groups with the largest working sets; of two equal ones the
// name that sorts first (case ignored) ranks first.
TopMemoryHolders RankMemoryHolders(const MemoryHolderTable& table);

// "msedge.exe  3.1 GB  (24)": the name, the working sets in GB with one
// decimal (the user's separator), or in whole MB below 1,024 MB (where GB
// would read 0.0 or 0.3), and the process count; in the language in use.
constexpr int MEMORY_HOLDER_TEXT_CAPACITY = 320;
void FormatMemoryHolder(wchar_t (&text)[MEMORY_HOLDER_TEXT_CAPACITY], const MemoryHolder& holder);

// The calls behind the commit charge and the holders, so that a test can
// play the system: a failed reading, processes that cannot be opened or
// read, 4,096 processes. The program always uses kSystemMemoryUsePlatform.
struct MemoryUsePlatform {
  BOOL(WINAPI* get_performance_info)(PPERFORMANCE_INFORMATION info, DWORD size);
  BOOL(WINAPI* enum_processes)(DWORD* ids, DWORD bytes, DWORD* returned);
  HANDLE(WINAPI* open_process)(DWORD access, BOOL inherit, DWORD id);
  BOOL(WINAPI* query_image_name)(HANDLE process, DWORD flags, LPWSTR name, PDWORD size);
  BOOL(WINAPI* get_memory_info)(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD size);
  BOOL(WINAPI* close_handle)(HANDLE handle);
};
extern const MemoryUsePlatform kSystemMemoryUsePlatform;

// One GetPerformanceInfo reading; false (and `commit` not readable) when it
// fails. It counts every process, thread and handle as well, so it is read
// when the popup opens; once a second, MemorySnapshot::commit gives the same
// figures from the snapshot's own reading.
bool ReadCommitCharge(CommitCharge& commit, const MemoryUsePlatform& platform);
// Fills the table from every process the system lists (at most 4,096), each
// opened for limited query and memory reading and closed again; false, with an empty table,
// when the system lists none.
bool ReadMemoryHolders(MemoryHolderTable& table, const MemoryUsePlatform& platform);
