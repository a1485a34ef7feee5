// The once-a-second refresh and the tray icon's adds, as the program runs
// them: the tray draws, the status module keeps the sample and repaints.
#include "app/app.h"

#include "clean/memory.h"
#include "status/status.h"
#include "tray/tray.h"

void RefreshTray() {
  MemorySnapshot snapshot = {};
  if (!app.tray.platform->take_snapshot(snapshot)) return;
  int load = static_cast<int>(snapshot.load_percent);
  UpdateUsageIcon(app.tray, snapshot.used_gb, snapshot.total_gb, load);
  PushUsageSample(app.status.usage_history, load);
  InvalidateStatusWindow(app.status);
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
