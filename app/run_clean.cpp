// The clean as the program runs it: the clean module cleans and reports,
// and the shell records, logs, tells the user and shows the result.
#include "app/app.h"

#include "clean/clean.h"
#include "common/files.h"
#include "common/language.h"
#include "common/system.h"
#include "settings/settings.h"
#include "status/status.h"
#include "tray/tray.h"

namespace {

// Nothing while the user is busy (`quiet`): the limited-mode notice waits
// for a later clean.
void Notify(double freed_mb, int32_t processes, bool quiet) {
  const Settings& settings = app.settings;
  wchar_t title[64];
  switch (ChooseCleanBalloon(settings.silent_mode || quiet, app.full_rights, app.clean.limited_notice_shown,
                             freed_mb, settings.notify_min_mb)) {
    case CLEAN_BALLOON_LIMITED_MODE: {
      app.clean.limited_notice_shown = true;
      // Elevated already, running as administrator would not help.
      wchar_t text[TRAY_BALLOON_TEXT_CAPACITY];
      ShowBalloon(app.tray, LoadText(IDS_BALLOON_LIMITED_TITLE, title),
                  LoadText(app.is_elevated ? IDS_BALLOON_PRIVILEGES_WITHHELD : IDS_BALLOON_LIMITED, text));
      break;
    }
    case CLEAN_BALLOON_CLEANED: {
      wchar_t text[128];
      FormatCleanBalloon(text, freed_mb, processes);
      ShowBalloon(app.tray, LoadText(IDS_BALLOON_CLEANED_TITLE, title), text, true);
      break;
    }
    case CLEAN_BALLOON_NONE:
      break;
  }
}

}  // namespace

bool ReadProgramMemoryLists(MemoryLists& lists) { return ReadMemoryLists(app.clean, lists); }

bool ReadProgramCommit(CommitCharge& commit) { return ReadCommitCharge(commit, kSystemMemoryUsePlatform); }

bool ReadProgramMemoryHolders(TopMemoryHolders& top) {
  // About 200 KB, touched only while a popup opens.
  static MemoryHolderTable table;
  top = ReadMemoryHolders(table, kSystemMemoryUsePlatform) ? RankMemoryHolders(table) : TopMemoryHolders{};
  return top.count > 0;
}

const StatusPlatform kSystemStatusPlatform = {
    ReadProgramMemoryLists,  IsHighContrastOn,          GetSysColor,       SHAppBarMessage,
    SetStatusAccessibleName, ClearStatusAccessibleName, ReadProgramCommit, ReadProgramMemoryHolders,
    ReadAppsUseLightTheme,   NotifyWinEvent};

ShowAfterClean ShowAfterCleanFor(bool show_status_on_clean, CleanStart start) {
  if (!show_status_on_clean || (start.automatic && start.quiet)) return SHOW_AFTER_CLEAN_NONE;
  return start.automatic ? SHOW_AFTER_CLEAN_INACTIVE : SHOW_AFTER_CLEAN_ACTIVATED;
}

void RunClean(HWND owner, CleanStart start) {
  const Settings& settings = app.settings;
  const wchar_t* list = settings.exclude_list[0] != 0 ? settings.exclude_list : nullptr;
  const CleanSteps steps = {settings.trim_working_sets, settings.flush_modified, settings.purge_standby,
                            settings.flush_file_cache, settings.keep_foreground};
  const CleanReport report = CleanMemory(app.clean, list, steps);
  RecordClean(app.status.clean_history, report.freed_mb, report.processes, report.lists_before, report.lists_after,
              report.kept.kept ? report.kept.name : nullptr);

  // Without an application-data folder the clean goes unlogged rather than
  // into a folder at the drive root that anyone could have made.
  wchar_t folder[MAX_PATH];
  if (BuildAppFolderPath(folder, app.user_token, *app.file_platform) == APP_FOLDER_FOUND)
    AppendCleanLog(folder, report.freed_mb, report.processes, *app.file_platform, app.user_token);
  Notify(report.freed_mb, report.processes, start.automatic && start.quiet);
  RefreshTray();
  switch (ShowAfterCleanFor(settings.show_status_on_clean, start)) {
    case SHOW_AFTER_CLEAN_ACTIVATED:
      ShowStatusPopup(PopupOwner(owner));
      break;
    case SHOW_AFTER_CLEAN_INACTIVE:
      ShowStatusPopup(PopupOwner(owner), false);
      break;
    case SHOW_AFTER_CLEAN_NONE:
      break;
  }
  app.last_clean_end_tick = app.tray.platform->tick_count();
  app.clean_ended = true;
}

bool TrayCleanAllowed(uint64_t now, uint64_t last_clean_end_tick, bool clean_ended) {
  return !clean_ended || (now >= last_clean_end_tick && now - last_clean_end_tick >= TRAY_CLEAN_COOLDOWN_MS);
}
