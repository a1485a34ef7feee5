// Status and history: the session rings of load samples and cleans, and the
// status popup that shows them.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr int USAGE_HISTORY_CAPACITY = 300;
constexpr int CLEAN_HISTORY_CAPACITY = 50;

struct UsageHistory {
  int32_t samples[USAGE_HISTORY_CAPACITY];
  int32_t count;
  int32_t next;
};

struct CleanRecord {
  SYSTEMTIME time;
  double freed_mb;
  int32_t processes;
};

struct CleanHistory {
  CleanRecord entries[CLEAN_HISTORY_CAPACITY];
  int32_t count;
  int32_t next;
};

void PushUsageSample(int32_t load_percent);
int32_t UsageSampleCount();
// Copies the newest n samples, oldest first; `out` holds min(n, count).
void CopyRecentUsage(int32_t* out, int32_t n);
void RecordClean(double freed_mb, int32_t processes);
// Copies the newest n cleans, oldest first, and returns min(n, count).
int32_t CopyRecentCleans(CleanRecord* out, int32_t n);
