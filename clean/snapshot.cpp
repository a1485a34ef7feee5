// One reading of the system's physical-memory state.
#include "clean/clean.h"

void FillMemorySnapshot(MemorySnapshot& snapshot, const MEMORYSTATUSEX& status) {
  snapshot.total_bytes = status.ullTotalPhys;
  snapshot.avail_bytes = status.ullAvailPhys;
  snapshot.used_bytes = snapshot.total_bytes - snapshot.avail_bytes;
  snapshot.load_percent = status.dwMemoryLoad;
  snapshot.used_gb = static_cast<double>(snapshot.used_bytes) * BYTES_TO_GB;
  snapshot.total_gb = static_cast<double>(snapshot.total_bytes) * BYTES_TO_GB;
}

bool TakeMemorySnapshot(MemorySnapshot& snapshot) {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  FillMemorySnapshot(snapshot, status);
  return true;
}

LoadBand LoadBandOf(int load_percent) {
  if (load_percent > 79) return LOAD_BAND_CRITICAL;
  if (load_percent >= 60) return LOAD_BAND_HIGH;
  return LOAD_BAND_LOW;
}
