// Memory snapshot.
#include <gtest/gtest.h>

#include "clean/clean.h"

TEST(MemorySnapshot, FillsFiguresFromOneReading) {
  struct Case {
    uint64_t total, avail;
    DWORD load;
    uint64_t used;
    double used_gb, total_gb;
  };
  const uint64_t GiB = 1073741824ull;
  const Case cases[] = {
      {16 * GiB, 4 * GiB, 75, 12 * GiB, 12.0, 16.0},
      // The load is the system's own figure, not one computed from the bytes.
      {16 * GiB, 4 * GiB, 99, 12 * GiB, 12.0, 16.0},
      // Not clamped: more available than total wraps in unsigned arithmetic.
      {1 * GiB, 2 * GiB, 0, ~0ull - GiB + 1, 17179869183.0, 1.0},
      // Values of 2^63 and above keep their magnitude as doubles.
      {1ull << 63, 0, 100, 1ull << 63, 8589934592.0, 8589934592.0},
  };
  for (const Case& c : cases) {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    status.ullTotalPhys = c.total;
    status.ullAvailPhys = c.avail;
    status.dwMemoryLoad = c.load;
    MemorySnapshot snapshot = {};
    FillMemorySnapshot(snapshot, status);
    EXPECT_EQ(snapshot.total_bytes, c.total);
    EXPECT_EQ(snapshot.avail_bytes, c.avail);
    EXPECT_EQ(snapshot.used_bytes, c.used);
    EXPECT_EQ(snapshot.load_percent, c.load);
    EXPECT_DOUBLE_EQ(snapshot.used_gb, c.used_gb);
    EXPECT_DOUBLE_EQ(snapshot.total_gb, c.total_gb);
  }
}

TEST(MemorySnapshot, ReadsTheSystem) {
  MemorySnapshot snapshot = {};
  ASSERT_TRUE(TakeMemorySnapshot(snapshot));
  EXPECT_GT(snapshot.total_bytes, 0u);
  EXPECT_LE(snapshot.avail_bytes, snapshot.total_bytes);
  EXPECT_EQ(snapshot.used_bytes, snapshot.total_bytes - snapshot.avail_bytes);
  EXPECT_LE(snapshot.load_percent, 100u);
  EXPECT_DOUBLE_EQ(snapshot.total_gb, static_cast<double>(snapshot.total_bytes) / 1073741824.0);
}
