// The commit charge against its limit, and the warning when it nears it.
#include "clean/clean.h"

#include <math.h>

#include "common/language.h"

const MemoryUsePlatform kSystemMemoryUsePlatform = {
    K32GetPerformanceInfo, K32EnumProcesses, OpenProcess, QueryFullProcessImageNameW, K32GetProcessMemoryInfo,
    CloseHandle,
};

CommitCharge CommitChargeFromPages(const PERFORMANCE_INFORMATION& info) {
  const uint64_t page = info.PageSize;
  const uint64_t used = info.CommitTotal;
  const uint64_t limit = info.CommitLimit;
  if (page != 0 && (used > UINT64_MAX / page || limit > UINT64_MAX / page)) return CommitCharge{};
  return CommitChargeOf(used * page, limit * page);
}

LoadBand CommitLoadBand(const CommitCharge& commit) { return LoadBandOf(commit.readable ? commit.percent : 0); }

bool ReadCommitCharge(CommitCharge& commit, const MemoryUsePlatform& platform) {
  PERFORMANCE_INFORMATION info = {};
  info.cb = sizeof info;
  commit = platform.get_performance_info(&info, sizeof info) ? CommitChargeFromPages(info) : CommitCharge{};
  return commit.readable;
}

namespace {

// Tenths of a GB, rounded half up, so that the text never depends on how
// the C runtime rounds a half.
uint64_t GigabyteTenths(uint64_t bytes) {
  return static_cast<uint64_t>(llround(static_cast<double>(bytes) * BYTES_TO_GB * 10.0));
}

}  // namespace

void FormatCommitText(wchar_t (&text)[COMMIT_TEXT_CAPACITY], const CommitCharge& commit) {
  ZeroMemory(text, sizeof text);
  if (!commit.readable) return;
  wchar_t used[FIGURE_CAPACITY], limit[FIGURE_CAPACITY];
  FormatTenths(used, GigabyteTenths(commit.used_bytes));
  FormatTenths(limit, GigabyteTenths(commit.limit_bytes));
  FormatText(text, COMMIT_TEXT_CAPACITY, IDS_COMMIT_LINE, used, limit, commit.percent);
}

int32_t CommitWarnLevel(int32_t commit_warn_percent) {
  if (commit_warn_percent <= 0) return 0;
  if (commit_warn_percent < 50) return 50;
  if (commit_warn_percent > 99) return 99;
  return commit_warn_percent;
}

bool CommitAtWarnLevel(const CommitCharge& commit, int32_t commit_warn_percent) {
  int32_t level = CommitWarnLevel(commit_warn_percent);
  return level != 0 && commit.readable && commit.percent >= level;
}

bool CommitWarningDue(const CommitWarning& warning, const CommitCharge& commit, int32_t commit_warn_percent,
                      uint64_t now_tick) {
  if (!CommitAtWarnLevel(commit, commit_warn_percent)) return false;
  return !warning.shown ||
         (now_tick > warning.shown_tick && now_tick - warning.shown_tick >= COMMIT_WARNING_INTERVAL_MS);
}

void FormatCommitWarning(wchar_t (&text)[COMMIT_WARNING_CAPACITY], int32_t percent) {
  ZeroMemory(text, sizeof text);
  FormatText(text, COMMIT_WARNING_CAPACITY, IDS_BALLOON_COMMIT, percent);
}
