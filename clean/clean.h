// Cleaning engine: memory snapshot, working-set trimmer, system list purge,
// the clean operation and its log.
#pragma once

#include <windows.h>
#include <stdint.h>

struct MemorySnapshot {
  uint64_t total_bytes;
  uint64_t avail_bytes;
  uint64_t used_bytes;
  uint32_t load_percent;
  double used_gb;
  double total_gb;
};

constexpr double BYTES_TO_GB = 1.0 / 1073741824.0;
constexpr double BYTES_TO_MB = 1.0 / 1048576.0;

// Fills the snapshot from the figures of one GlobalMemoryStatusEx reading.
void FillMemorySnapshot(MemorySnapshot& snapshot, const MEMORYSTATUSEX& status);
// False when the system gives no reading; the snapshot is then untouched.
bool TakeMemorySnapshot(MemorySnapshot& snapshot);
