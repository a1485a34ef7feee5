// The once-a-second refresh and the tray icon's adds, as the program runs
// them: the tray draws, the status module keeps the sample and repaints.
#include "app/app.h"

#include "clean/memory.h"
#include "status/status.h"
#include "tray/tray.h"

namespace {

bool DrawTrayIcon(MemorySnapshot& snapshot) {
  if (!app.tray.platform->take_snapshot(snapshot)) return false;
  UpdateUsageIcon(app.tray, snapshot.used_gb, snapshot.total_gb, static_cast<int>(snapshot.load_percent));
  return true;
}

}  // namespace

void RefreshTray() {
  MemorySnapshot snapshot = {};
  if (!DrawTrayIcon(snapshot)) return;
  PushUsageSample(app.status.usage_history, static_cast<int>(snapshot.load_percent));
  InvalidateStatusWindow(app.status);
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
