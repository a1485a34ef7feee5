// Session rings: the load of the last 300 refreshes and the last 50 cleans.
#include "status/status.h"

#include "clean/memory.h"
#include "common/text.h"

void PushUsageSample(UsageHistory& ring, int32_t load_percent) {
  ring.samples[ring.next] = load_percent;
  ring.next = (ring.next + 1) % USAGE_HISTORY_CAPACITY;
  if (ring.count < USAGE_HISTORY_CAPACITY) ring.count += 1;
}

void CopyRecentUsage(const UsageHistory& ring, int32_t* out, int32_t n) {
  if (n > ring.count) n = ring.count;
  if (n <= 0) return;
  int32_t start = (ring.next - n + USAGE_HISTORY_CAPACITY) % USAGE_HISTORY_CAPACITY;
  for (int32_t k = 0; k < n; ++k) out[k] = ring.samples[(start + k) % USAGE_HISTORY_CAPACITY];
}

void RecordClean(CleanHistory& ring, double freed_mb, int32_t processes, const MemoryLists& before,
                 const MemoryLists& after, const wchar_t* kept_name) {
  CleanRecord& entry = ring.entries[ring.next];
  ZeroMemory(&entry, sizeof entry);
  GetLocalTime(&entry.time);
  entry.freed_mb = freed_mb;
  entry.processes = processes;
  // One reading alone says nothing about what the clean did.
  if (before.readable && after.readable) {
    entry.lists_read = true;
    entry.standby_before_mb = before.standby_mb;
    entry.standby_after_mb = after.standby_mb;
    entry.modified_before_mb = before.modified_mb;
    entry.modified_after_mb = after.modified_mb;
  }
  if (kept_name) {
    entry.kept = true;
    CopyBounded(entry.kept_name, 64, kept_name);
  }
  ring.next = (ring.next + 1) % CLEAN_HISTORY_CAPACITY;
  if (ring.count < CLEAN_HISTORY_CAPACITY) ring.count += 1;
}

int32_t CopyRecentCleans(const CleanHistory& ring, CleanRecord* out, int32_t n) {
  int32_t m = n < ring.count ? n : ring.count;
  if (m <= 0) return m;
  int32_t start = (ring.next - m + CLEAN_HISTORY_CAPACITY) % CLEAN_HISTORY_CAPACITY;
  for (int32_t k = 0; k < m; ++k) out[k] = ring.entries[(start + k) % CLEAN_HISTORY_CAPACITY];
  return m;
}
