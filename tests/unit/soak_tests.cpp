// A day of running, compressed: 86,400 refreshes (one a second for a day),
// a clean every 300 and the status popup opened and closed every 600, all
// with the GDI and USER tables filled to within 1,000 objects of full. A leak
// of one object in a thousand refreshes would stop the drawing; the rings
// must end holding exactly their capacities.
#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"
#include "clean/clean.h"
#include "tests/support.h"
#include "tray/tray.h"
#include "status/status_internal.h"

namespace {

::testing::Environment* const unmanaged = ::testing::AddGlobalTestEnvironment(new UnmanagedWineWindows);

}  // namespace

TEST(DayOfRunning, ADayOfRefreshesCleansAndPopupsLeaksNothingAndFillsTheRingsExactly) {
  ResetAppState();
  InitDefaultSettings(app.settings);
  app.settings.silent_mode = true;  // no balloon queue in the tray
  DeleteAppFolder();
  CreateDirectoryW(AppFolder().c_str(), nullptr);
  HWND window = CreateWindowExW(0, L"STATIC", L"soak", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  app.main_window = window;
  app.tray.platform = &kChangingLoadTray;  // every refresh draws a new icon
  ASSERT_TRUE(AddTrayIcon(app.tray, window));

  FilledHandleTables tables;
  ASSERT_TRUE(FillHandleTables(tables, 1000));
  const int kRefreshes = 86400;
  int cleans = 0, popups = 0;
  for (int i = 1; i <= kRefreshes; ++i) {
    HICON previous = app.tray.drawn_icon;
    RefreshTray();
    ASSERT_NE(app.tray.drawn_icon, nullptr) << "refresh " << i << " could not draw";
    ASSERT_NE(app.tray.drawn_icon, previous) << "refresh " << i;
    if (i % 300 == 0) {
      RunClean(window);
      ASSERT_EQ(app.status.clean_history.count, ++cleans < 50 ? cleans : 50) << "clean " << cleans;
    }
    if (i % 600 == 0) {
      ShowStatusPopup(window);
      ASSERT_TRUE(IsStatusWindowOpen(app.status)) << "popup " << popups;
      UpdateWindow(app.status.window);
      // The graph box in the palette of the prefix's app mode.
      ASSERT_EQ(WindowPixel(app.status.window, 30, app.status.layout.box_top + 4), app.status.palette.box_fill)
          << "popup " << popups << " painted";
      CloseStatusWindow(app.status);
      PumpMessages();
      ASSERT_FALSE(IsStatusWindowOpen(app.status));
      ++popups;
    }
  }
  EXPECT_EQ(cleans, 288);
  EXPECT_EQ(popups, 144);
  EXPECT_TRUE(RoomForMore(500)) << "objects can still be made";
  FreeHandleTables(tables);

  // 86,400 samples from the timer and 288 from the cleans: full, the newest
  // slot just before the next one.
  EXPECT_EQ(app.status.usage_history.count, USAGE_HISTORY_CAPACITY);
  EXPECT_EQ(app.status.usage_history.next, (kRefreshes + cleans) % USAGE_HISTORY_CAPACITY);
  EXPECT_EQ(app.status.clean_history.count, CLEAN_HISTORY_CAPACITY);
  EXPECT_EQ(app.status.clean_history.next, cleans % CLEAN_HISTORY_CAPACITY);
  CleanRecord newest[5];
  EXPECT_EQ(CopyRecentCleans(app.status.clean_history, newest, 5), 5);

  RemoveTrayIcon(app.tray);
  DestroyWindow(window);
  DeleteAppFolder();
}
