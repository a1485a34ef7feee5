// The clean: measure, trim and purge, measure again, record, log, report.
#include "clean/clean.h"

#include "app/app.h"
#include "app/files.h"
#include "app/shared.h"
#include "settings/settings.h"
#include "status/status.h"
#include "tray/tray.h"

double FreedMegabytes(uint64_t avail_before, uint64_t avail_after) {
  double freed = static_cast<double>(static_cast<int64_t>(avail_after - avail_before)) * BYTES_TO_MB;
  return freed < 0 ? 0 : freed;
}

CleanBalloon ChooseCleanBalloon(bool silent_mode, bool is_elevated, bool limited_notice_shown, double freed_mb,
                                int32_t notify_min_mb) {
  if (silent_mode) return CLEAN_BALLOON_NONE;
  if (!is_elevated && !limited_notice_shown) return CLEAN_BALLOON_LIMITED_MODE;
  return freed_mb >= static_cast<double>(notify_min_mb) ? CLEAN_BALLOON_CLEANED : CLEAN_BALLOON_NONE;
}

void FormatCleanBalloon(wchar_t (&text)[128], double freed_mb, int32_t processes) {
  ZeroMemory(text, sizeof text);
  FormatBounded(text, 128, L"Freed %.0f MB  (%d processes trimmed)", freed_mb, processes);
}

namespace {

void Notify(double freed_mb, int32_t processes) {
  const Settings& settings = app.settings;
  switch (ChooseCleanBalloon(settings.silent_mode, app.is_elevated, app.clean.limited_notice_shown, freed_mb,
                             settings.notify_min_mb)) {
    case CLEAN_BALLOON_LIMITED_MODE:
      app.clean.limited_notice_shown = true;
      ShowBalloon(L"Quillmere \u2014 Limited mode",
                  L"Not running as admin \u2014 standby & cache cleanup skipped. "
                  L"Right-click tray \u2192 Run as Administrator.");
      break;
    case CLEAN_BALLOON_CLEANED: {
      wchar_t text[128];
      FormatCleanBalloon(text, freed_mb, processes);
      ShowBalloon(L"RAM Cleaned", text);
      break;
    }
    case CLEAN_BALLOON_NONE:
      break;
  }
}

}  // namespace

void RunClean(HWND owner) {
  MemorySnapshot before = {};
  MemorySnapshot after = {};
  MemoryLists lists_before = {};
  MemoryLists lists_after = {};
  TakeMemorySnapshot(before);
  ReadMemoryLists(app.clean, lists_before);
  const Settings& settings = app.settings;
  const wchar_t* list = settings.exclude_list[0] != 0 ? settings.exclude_list : nullptr;
  const CleanSteps steps = {settings.trim_working_sets, settings.flush_modified, settings.purge_standby,
                            settings.flush_file_cache};
  int32_t processes = static_cast<int32_t>(PurgeSystemLists(app.clean, list, steps));
  TakeMemorySnapshot(after);
  ReadMemoryLists(app.clean, lists_after);
  app.clean.last_clean_tick = GetTickCount64();
  double freed_mb = FreedMegabytes(before.avail_bytes, after.avail_bytes);
  RecordClean(freed_mb, processes, lists_before, lists_after);

  // Without an application-data folder the clean goes unlogged rather than
  // into a folder at the drive root that anyone could have made.
  wchar_t folder[MAX_PATH];
  if (BuildAppFolderPath(folder)) AppendCleanLog(folder, freed_mb, processes, *app.file_platform, app.user_token);
  Notify(freed_mb, processes);
  RefreshTray();
  if (app.settings.show_status_on_clean) ShowStatusWindow(PopupOwner(owner));
}
