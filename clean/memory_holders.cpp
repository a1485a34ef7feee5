// The programs holding the most physical memory: every process's working
// set, grouped by image name.
#include "clean/clean.h"

#include <math.h>

#include "common/language.h"
#include "common/text.h"

namespace {

constexpr DWORD kMaxProcesses = 4096;
static_assert(sizeof(MemoryHolderTable) <= size_t{256} * 1024, "the table stays small in static storage");
static_assert(MEMORY_HOLDER_CAPACITY >= static_cast<int32_t>(kMaxProcesses), "a group for every process read");
static_assert(MEMORY_HOLDER_CAPACITY <= 65536, "group indexes fit in 16 bits");
// The longest path the system gives (a UNICODE_STRING's 32,767 characters).
constexpr DWORD kImagePathCapacity = 32768;

// Windows' own comparison of file names: ordinal, case ignored by the
// system's upper-case table. Below 0, 0 or above 0 as for strcmp.
int CompareNames(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) - CSTR_EQUAL; }

}  // namespace

void ClearMemoryHolders(MemoryHolderTable& table) {
  // Only the counts: the groups past `count` are never read.
  table.count = 0;
  table.names_used = 0;
  table.hidden = 0;
  table.unnamed = 0;
  table.more_processes = false;
}

bool AddMemoryHolder(MemoryHolderTable& table, const wchar_t* name, uint64_t working_set_bytes) {
  if (!name || !name[0]) {
    table.unnamed += 1;
    return false;
  }
  wchar_t kept[MEMORY_HOLDER_NAME_CAPACITY];
  CopyBounded(kept, MEMORY_HOLDER_NAME_CAPACITY, name);
  // The first name in order not below this one.
  int32_t low = 0, high = table.count;
  while (low < high) {
    int32_t middle = low + (high - low) / 2;
    if (CompareNames(MemoryHolderName(table, table.by_name[middle]), kept) < 0) low = middle + 1;
    else high = middle;
  }
  if (low < table.count && CompareNames(MemoryHolderName(table, table.by_name[low]), kept) == 0) {
    MemoryHolderGroup& group = table.groups[table.by_name[low]];
    group.working_set_bytes += working_set_bytes;
    group.processes += 1;
    return true;
  }
  int32_t length = static_cast<int32_t>(wcslen(kept)) + 1;
  if (table.count >= MEMORY_HOLDER_CAPACITY || length > MEMORY_HOLDER_NAMES_CAPACITY - table.names_used) {
    table.hidden += 1;
    return false;
  }
  MemoryHolderGroup& group = table.groups[table.count];
  group.name_at = static_cast<uint32_t>(table.names_used);
  CopyMemory(&table.names[table.names_used], kept, length * sizeof(wchar_t));
  table.names_used += length;
  group.working_set_bytes = working_set_bytes;
  group.processes = 1;
  MoveMemory(&table.by_name[low + 1], &table.by_name[low], (table.count - low) * sizeof table.by_name[0]);
  table.by_name[low] = static_cast<uint16_t>(table.count);
  table.count += 1;
  return true;
}

const wchar_t* MemoryHolderName(const MemoryHolderTable& table, int32_t group) {
  return &table.names[table.groups[group].name_at];
}

TopMemoryHolders RankMemoryHolders(const MemoryHolderTable& table) {
  TopMemoryHolders top = {};
  top.some_hidden = table.hidden > 0 || table.more_processes;
  // In name order, and only a strictly larger one passes another: of two
  // equal ones the first by name stays ahead.
  for (int32_t i = 0; i < table.count; ++i) {
    const MemoryHolderGroup& group = table.groups[table.by_name[i]];
    int32_t place = top.count;
    while (place > 0 && group.working_set_bytes > top.holders[place - 1].working_set_bytes) --place;
    if (place >= TOP_MEMORY_HOLDERS) continue;
    int32_t last = top.count < TOP_MEMORY_HOLDERS ? top.count : TOP_MEMORY_HOLDERS - 1;
    for (int32_t j = last; j > place; --j) top.holders[j] = top.holders[j - 1];
    MemoryHolder& holder = top.holders[place];
    CopyBounded(holder.name, MEMORY_HOLDER_NAME_CAPACITY, MemoryHolderName(table, table.by_name[i]));
    holder.working_set_bytes = group.working_set_bytes;
    holder.processes = group.processes;
    if (top.count < TOP_MEMORY_HOLDERS) top.count += 1;
  }
  return top;
}

void FormatMemoryHolder(wchar_t (&text)[MEMORY_HOLDER_TEXT_CAPACITY], const MemoryHolder& holder) {
  ZeroMemory(text, sizeof text);
  // Rounded half up here, not by the C runtime, whose rounding of a half
  // differs between versions.
  double megabytes = static_cast<double>(holder.working_set_bytes) * BYTES_TO_MB;
  uint64_t whole_mb = static_cast<uint64_t>(llround(megabytes));
  if (whole_mb < 1024) {
    FormatText(text, MEMORY_HOLDER_TEXT_CAPACITY, IDS_HOLDER_MB, holder.name, whole_mb, holder.processes);
    return;
  }
  wchar_t gigabytes[FIGURE_CAPACITY];
  FormatTenths(gigabytes, static_cast<uint64_t>(llround(megabytes / 1024.0 * 10.0)));
  FormatText(text, MEMORY_HOLDER_TEXT_CAPACITY, IDS_HOLDER_GB, holder.name, gigabytes, holder.processes);
}

bool ReadMemoryHolders(MemoryHolderTable& table, const MemoryUsePlatform& platform) {
  ClearMemoryHolders(table);
  DWORD ids[kMaxProcesses] = {};
  DWORD returned = 0;
  if (!platform.enum_processes(ids, sizeof ids, &returned)) return false;
  DWORD n = returned / sizeof(DWORD);
  if (n >= kMaxProcesses) {
    n = kMaxProcesses;
    table.more_processes = true;
  }
  wchar_t path[kImagePathCapacity];
  for (DWORD i = 0; i < n; ++i) {
    // 0 is the idle process, no program.
    if (ids[i] == 0) continue;
    // Its name needs limited query; its memory figures read access too.
    HANDLE process = platform.open_process(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (!process) {
      table.hidden += 1;
      continue;
    }
    DWORD size = kImagePathCapacity;
    bool named = platform.query_image_name(process, 0, path, &size) && size > 0 && size < kImagePathCapacity;
    if (named) path[size] = 0;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    bool measured = platform.get_memory_info(process, &counters, sizeof counters) != FALSE;
    platform.close_handle(process);
    if (named && measured) AddMemoryHolder(table, ImageBaseName(path), counters.WorkingSetSize);
    else table.unnamed += 1;
  }
  return n > 0;
}
