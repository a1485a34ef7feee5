// The once-a-second refresh and the tray icon's adds, as the program runs
// them: the tray draws and warns of the commit charge, the status module
// keeps the sample and repaints.
#include "app/app.h"

#include "clean/memory.h"
#include "common/language.h"
#include "status/status.h"
#include "tray/tray.h"

namespace {

bool DrawTrayIcon(MemorySnapshot& snapshot) {
  if (!app.tray.platform->take_snapshot(snapshot)) return false;
  UpdateUsageIcon(app.tray, snapshot.used_gb, snapshot.total_gb, static_cast<int>(snapshot.load_percent),
                  snapshot.commit, app.settings.commit_warn_percent);
  return true;
}

// A warning, not a report of a clean: shown in silent mode too, and never
// followed by a clean, which cannot lower the charge. Counted as shown only
// once the shell has taken it; until then each refresh tries again.
void WarnOfCommit(const CommitCharge& commit) {
  uint64_t now = app.tray.platform->tick_count();
  if (!app.tray.icon_in || !CommitWarningDue(app.commit_warning, commit, app.settings.commit_warn_percent, now))
    return;
  wchar_t title[64], text[COMMIT_WARNING_CAPACITY];
  FormatCommitWarning(text, commit.percent);
  if (ShowBalloon(app.tray, LoadText(IDS_BALLOON_COMMIT_TITLE, title), text)) app.commit_warning = {1, now};
}

}  // namespace

void RefreshTray() {
  MemorySnapshot snapshot = {};
  if (!DrawTrayIcon(snapshot)) return;
  WarnOfCommit(snapshot.commit);
  PushUsageSample(app.status.usage_history, static_cast<int>(snapshot.load_percent));
  InvalidateStatusWindow(app.status);
}

void RedrawTrayIcon() {
  MemorySnapshot snapshot = {};
  if (app.tray.icon_in) DrawTrayIcon(snapshot);
}

void TrayLookMayHaveChanged() {
  // Without the icon in, the next add draws it; the history takes no sample
  // out of its once-a-second step.
  MemorySnapshot snapshot = {};
  if (ReadTrayLook(app.tray) && app.tray.icon_in) DrawTrayIcon(snapshot);
}

bool StartTrayIcon(HWND window) {
  if (!AddTrayIconOrKeepTrying(app.tray, window, true)) return false;
  RefreshTray();
  ShowWaitingNotices(app.tray);
  return true;
}

TrayAddStep AddTrayIconAgain(HWND window) {
  if (app.tray.add_pending) {
    TrayAddStep step = RetryTrayIcon(app.tray, window);
    if (step == TRAY_ADD_DONE) RefreshTray();
    return step;
  }
  // A new taskbar can announce itself before it takes icons.
  if (!AddTrayIconOrKeepTrying(app.tray, window, false)) return TRAY_ADD_WAIT;
  ShowWaitingNotices(app.tray);
  return TRAY_ADD_DONE;
}
