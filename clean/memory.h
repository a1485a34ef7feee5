// The memory's figures: one reading of physical memory, the system's memory
// lists, and the load's colour band. The tray and the popup show them.
#pragma once

#include <windows.h>
#include <stdint.h>

// The system's commit charge: the memory programs have been promised, which
// must fit in RAM plus the page files (the commit limit). Emptying working
// sets does not lower it.
struct CommitCharge {
  bool readable;         // 0: no figures (the system gave none, or none that make sense)
  uint64_t used_bytes;   // the charge
  uint64_t limit_bytes;  // the limit
  int32_t percent;       // the charge of the limit, rounded down, 0-100
};

// The record from a charge and a limit in bytes; a limit of 0 gives none.
// A charge past the limit is kept and reads 100 %.
CommitCharge CommitChargeOf(uint64_t used_bytes, uint64_t limit_bytes);

struct MemorySnapshot {
  uint64_t total_bytes;
  uint64_t avail_bytes;
  uint64_t used_bytes;
  uint32_t load_percent;
  double used_gb;
  double total_gb;
  // From the same reading: the commit limit and what is left of it.
  CommitCharge commit;
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

// The system's memory lists in megabytes. Unreadable (not elevated, an older
// system, Wine) leaves every figure 0.
struct MemoryLists {
  bool readable;
  double zeroed_mb;
  double free_mb;
  double modified_mb;
  double standby_mb;  // all eight priorities
  // The part of it that the low-priority purge empties (priority 0).
  double standby_low_priority_mb;
};
