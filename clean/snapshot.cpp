// One reading of the system's physical-memory state, the lists in megabytes,
// and the load's band.
#include "clean/memory.h"

#include "clean/clean.h"

CommitCharge CommitChargeOf(uint64_t used_bytes, uint64_t limit_bytes) {
  CommitCharge commit = {};
  if (limit_bytes == 0) return commit;
  commit.readable = true;
  commit.used_bytes = used_bytes;
  commit.limit_bytes = limit_bytes;
  // In doubles: the charge times 100 may pass 2^64. Exact for any figure
  // below 2^53 bytes, so a charge of exactly 60 % reads 60.
  double percent = static_cast<double>(used_bytes) * 100.0 / static_cast<double>(limit_bytes);
  commit.percent = percent >= 100.0 ? 100 : static_cast<int32_t>(percent);
  return commit;
}

void FillMemorySnapshot(MemorySnapshot& snapshot, const MEMORYSTATUSEX& status) {
  snapshot.total_bytes = status.ullTotalPhys;
  snapshot.avail_bytes = status.ullAvailPhys;
  snapshot.used_bytes = snapshot.total_bytes - snapshot.avail_bytes;
  snapshot.load_percent = status.dwMemoryLoad;
  snapshot.used_gb = static_cast<double>(snapshot.used_bytes) * BYTES_TO_GB;
  snapshot.total_gb = static_cast<double>(snapshot.total_bytes) * BYTES_TO_GB;
  // The page-file figures are the commit limit and the limit less the
  // charge: the system's, unless a job object limits this process's commit,
  // when they are the job's.
  snapshot.commit = status.ullAvailPageFile <= status.ullTotalPageFile
                        ? CommitChargeOf(status.ullTotalPageFile - status.ullAvailPageFile, status.ullTotalPageFile)
                        : CommitCharge{};
}

bool TakeMemorySnapshot(MemorySnapshot& snapshot) {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  FillMemorySnapshot(snapshot, status);
  return true;
}

MemoryLists MemoryListsFromPages(const SystemMemoryListInformation& pages, uint64_t page_size) {
  // In doubles all the way: a count times the page size may pass 2^64.
  const double mb_per_page = static_cast<double>(page_size) * BYTES_TO_MB;
  double standby_pages = 0;
  for (ULONG_PTR count : pages.PageCountByPriority) standby_pages += static_cast<double>(count);
  MemoryLists lists = {};
  lists.readable = true;
  lists.zeroed_mb = static_cast<double>(pages.ZeroPageCount) * mb_per_page;
  lists.free_mb = static_cast<double>(pages.FreePageCount) * mb_per_page;
  lists.modified_mb = static_cast<double>(pages.ModifiedPageCount) * mb_per_page;
  lists.standby_mb = standby_pages * mb_per_page;
  // The low-priority purge takes the standby pages of priority 0 alone: the
  // cache nothing has asked for in a long while, or that was read at the
  // lowest priority (prefetching, background work). Priorities 1 to 7,
  // among them the normal 5 of what running programs read, stay.
  lists.standby_low_priority_mb = static_cast<double>(pages.PageCountByPriority[0]) * mb_per_page;
  return lists;
}

LoadBand LoadBandOf(int load_percent) {
  if (load_percent > 79) return LOAD_BAND_CRITICAL;
  if (load_percent >= 60) return LOAD_BAND_HIGH;
  return LOAD_BAND_LOW;
}
