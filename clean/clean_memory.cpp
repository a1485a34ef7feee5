// The clean: measure, trim and purge, measure again; and what it tells the
// user afterwards.
#include "clean/clean.h"

#include "common/language.h"

double FreedMegabytes(uint64_t avail_before, uint64_t avail_after) {
  double freed = static_cast<double>(static_cast<int64_t>(avail_after - avail_before)) * BYTES_TO_MB;
  return freed < 0 ? 0 : freed;
}

CleanBalloon ChooseCleanBalloon(bool silent_mode, bool full_rights, bool limited_notice_shown, double freed_mb,
                                int32_t notify_min_mb) {
  if (silent_mode) return CLEAN_BALLOON_NONE;
  if (!full_rights && !limited_notice_shown) return CLEAN_BALLOON_LIMITED_MODE;
  return freed_mb >= static_cast<double>(notify_min_mb) ? CLEAN_BALLOON_CLEANED : CLEAN_BALLOON_NONE;
}

void FormatCleanBalloon(wchar_t (&text)[128], double freed_mb, int32_t processes) {
  ZeroMemory(text, sizeof text);
  FormatText(text, 128, IDS_BALLOON_CLEANED, freed_mb, processes);
}

CleanReport CleanMemory(CleanState& state, const wchar_t* exclusion_list, const CleanSteps& steps) {
  CleanReport report = {};
  MemorySnapshot before = {};
  MemorySnapshot after = {};
  TakeMemorySnapshot(before);
  ReadMemoryLists(state, report.lists_before);
  report.processes = static_cast<int32_t>(PurgeSystemLists(state, exclusion_list, steps, &report.kept));
  TakeMemorySnapshot(after);
  ReadMemoryLists(state, report.lists_after);
  state.last_clean_tick = GetTickCount64();
  report.freed_mb = FreedMegabytes(before.avail_bytes, after.avail_bytes);
  return report;
}
