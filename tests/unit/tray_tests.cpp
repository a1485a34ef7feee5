// Tray icon, balloons, the drawn usage icon and its tooltip.
#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"
#include "tests/support.h"
#include "tray/tray.h"

namespace {

struct Pixels {
  int size = 0;
  std::vector<COLORREF> colour;
  std::vector<bool> mask_set;
  COLORREF At(int x, int y) const { return colour[y * size + x]; }
};

// Reads back the colour and mask bitmaps of an icon.
Pixels ReadIcon(HICON icon) {
  Pixels pixels;
  ICONINFO info = {};
  if (!GetIconInfo(icon, &info)) return pixels;
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  int size = bitmap.bmWidth;
  pixels.size = size;
  BITMAPINFO header = {};
  header.bmiHeader = TopDownHeader(size, size);
  std::vector<DWORD> raw(size * size);
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, info.hbmColor, 0, size, raw.data(), &header, DIB_RGB_COLORS);
  for (DWORD p : raw) pixels.colour.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
  std::vector<DWORD> mask(size * size);
  GetDIBits(screen, info.hbmMask, 0, size, mask.data(), &header, DIB_RGB_COLORS);
  for (DWORD p : mask) pixels.mask_set.push_back((p & 0xFFFFFF) != 0);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels;
}

const COLORREF kBackground = RGB(28, 28, 35);

::testing::Environment* const anchor_icon = ::testing::AddGlobalTestEnvironment(new AnchorTrayIcon);

// The tray's procedures on a record of their own, with a plain message
// window as the icon's owner.
class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"tray test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    RemoveTrayIcon(tray_);
    DestroyWindow(window_);
  }
  HWND window_ = nullptr;
  TrayState tray_ = {};
};

// The program's once-a-second refresh (RefreshTray) from a fresh state: the
// program's icon, owned by a plain message window, and its history.
class ProgramRefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    window_ = CreateWindowExW(0, L"STATIC", L"tray test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    app.main_window = window_;
  }
  void TearDown() override {
    RemoveTrayIcon(app.tray);
    DestroyWindow(window_);
  }
  HWND window_ = nullptr;
};

// The bar drawn into the icon.
class DrawnUsageIcon : public TrayIconTest {};
// Adding and removing the icon, and balloons beside it.
class TrayIconAndBalloons : public TrayIconTest {};
// The once-a-second refresh: a sample each time, no object kept.
class TrayRefresh : public ProgramRefreshTest {};

// A shell that refuses the first adds, or times out on one yet places the
// icon, and a clock the test moves; everything else is the real shell.
struct FakeShell {
  int refusals;
  bool refused_add_lands;
  int adds;
  ULONGLONG now;
};
FakeShell fake_shell;

BOOL WINAPI FakeNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
  if (message != NIM_ADD) return Shell_NotifyIconW(message, data);
  ++fake_shell.adds;
  if (fake_shell.refusals <= 0) return Shell_NotifyIconW(message, data);
  --fake_shell.refusals;
  if (fake_shell.refused_add_lands) Shell_NotifyIconW(message, data);
  return FALSE;
}

ULONGLONG WINAPI FakeTickCount() { return fake_shell.now; }

const TrayPlatform kFakeShell = {FakeNotifyIcon, FakeTickCount, TakeMemorySnapshot};

// The real main window, started the way WinMain starts it, against the fake
// shell; auto-clean off, so that a tick does nothing but the tray's work.
class TrayAddRetries : public ProgramWindowTest {
 protected:
  void BindSeams() override {
    fake_shell = {};
    fake_shell.now = 5000000;
    app.tray.platform = &kFakeShell;
  }
  void SetUp() override {
    ProgramWindowTest::SetUp();
    app.settings.auto_clean = false;
    main_ = app.main_window;
  }
  // One TIMER_MAIN tick, `step_ms` after the last.
  void Tick(ULONGLONG step_ms = 1000) {
    fake_shell.now += step_ms;
    Send(WM_TIMER, TIMER_MAIN, 0);
  }
  bool IconInShell() { return Shell_NotifyIconW(NIM_MODIFY, &app.tray.data) != FALSE; }
  // The shell shows the drawn bar with the load tooltip, not the bare add.
  void ExpectDrawn() {
    EXPECT_TRUE(IconInShell());
    EXPECT_NE(app.tray.drawn_icon, nullptr);
    EXPECT_EQ(app.tray.data.hIcon, app.tray.drawn_icon);
    EXPECT_EQ(wcsncmp(app.tray.data.szTip, L"Quillmere\n", 10), 0) << Narrow(app.tray.data.szTip);
  }
  HWND main_ = nullptr;
};

}  // namespace

TEST(UsageIcon, BarGeometryAndColours) {
  struct Case {
    int size, load, top;
  };
  const Case tops[] = {{16, 0, 16}, {16, 100, 0}, {16, 50, 8}, {20, 33, 14}, {32, 99, 1}};
  for (const Case& c : tops) EXPECT_EQ(UsageBarTop(c.size, c.load), c.top) << c.size << "/" << c.load;

  struct Colour {
    int load;
    COLORREF colour;
  };
  const Colour colours[] = {{0, RGB(45, 200, 75)},   {59, RGB(45, 200, 75)}, {60, RGB(220, 175, 0)},
                            {79, RGB(220, 175, 0)}, {80, RGB(220, 55, 55)}, {100, RGB(220, 55, 55)}};
  for (const Colour& c : colours) EXPECT_EQ(UsageBarColor(c.load), c.colour) << c.load;

  EXPECT_EQ(UsageIconSize(0), 16);
  EXPECT_EQ(UsageIconSize(-2), 16);
  EXPECT_EQ(UsageIconSize(24), 24);
  EXPECT_EQ(UsageIconSize(100000), 256);
}

TEST(UsageIcon, TooltipText) {
  wchar_t tip[128];
  FormatTooltip(tip, 11.74, 31.9, 37);
  EXPECT_STREQ(tip, L"Quillmere\n11.7 / 31.9 GB  (37%)");
  FormatTooltip(tip, 0.0, 0.0, 100);
  EXPECT_STREQ(tip, L"Quillmere\n0.0 / 0.0 GB  (100%)");
}

TEST_F(DrawnUsageIcon, DrawsTheBarOnAnOpaqueSquare) {
  for (int load : {0, 50, 73, 100}) {
    UpdateUsageIcon(tray_, 4.0, 8.0, load);
    ASSERT_NE(tray_.drawn_icon, nullptr);
    EXPECT_EQ(tray_.data.hIcon, tray_.drawn_icon);
    EXPECT_EQ(tray_.data.uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP));
    EXPECT_STREQ(tray_.data.szTip, (L"Quillmere\n4.0 / 8.0 GB  (" + std::to_wstring(load) + L"%)").c_str());
    Pixels icon = ReadIcon(tray_.drawn_icon);
    int size = UsageIconSize(GetSystemMetrics(SM_CXSMICON));
    ASSERT_EQ(icon.size, size);
    int top = UsageBarTop(size, load);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        bool in_bar = y >= top && x >= 1 && x <= size - 2;
        ASSERT_EQ(icon.At(x, y), in_bar ? UsageBarColor(load) : kBackground) << load << "% at " << x << "," << y;
        ASSERT_FALSE(icon.mask_set[y * size + x]) << "mask must be clear";
      }
    }
  }
}

TEST_F(TrayIconAndBalloons, AddsRemovesAndShowsBalloonsWithoutTouchingTheIcon) {
  ASSERT_TRUE(AddTrayIcon(tray_, window_));
  EXPECT_EQ(tray_.data.cbSize, 976u);
  EXPECT_EQ(tray_.data.uID, 1u);
  EXPECT_EQ(tray_.data.uCallbackMessage, WM_USER + 1u);
  EXPECT_EQ(tray_.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_STREQ(tray_.data.szTip, L"Quillmere");
  EXPECT_NE(tray_.data.hIcon, nullptr);

  UpdateUsageIcon(tray_, 1.0, 2.0, 50);
  NOTIFYICONDATAW before = tray_.data;
  ShowBalloon(tray_, std::wstring(100, L't').c_str(), std::wstring(400, L'x').c_str());
  EXPECT_EQ(memcmp(&before, &tray_.data, sizeof before), 0);

  RemoveTrayIcon(tray_);
  EXPECT_EQ(tray_.drawn_icon, nullptr);
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &tray_.data)) << "the icon is gone";
}

TEST_F(TrayRefresh, RefreshRecordsOneSamplePerCall) {
  ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  RefreshTray();
  RefreshTray();
  EXPECT_EQ(app.status.usage_history.count, 2);
  EXPECT_NE(app.tray.drawn_icon, nullptr);
  EXPECT_EQ(wcsncmp(app.tray.data.szTip, L"Quillmere\n", 10), 0);
}

// Fills the process's GDI and USER tables to within 1,000 of full: a refresh
// that leaked one object per call would stop drawing long before 2,000 calls.
// The load moves every call, so every refresh replaces the icon.
TEST_F(TrayRefresh, RefreshesLeakNoGdiOrUserObject) {
  app.tray.platform = &kChangingLoadTray;
  ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  RefreshTray();
  FilledHandleTables tables;
  ASSERT_TRUE(FillHandleTables(tables, 1000));

  for (int i = 0; i < 2000; ++i) {
    HICON previous = app.tray.drawn_icon;
    RefreshTray();
    ASSERT_NE(app.tray.drawn_icon, nullptr) << "refresh " << i << " could not draw";
    ASSERT_NE(app.tray.drawn_icon, previous);
  }
  EXPECT_TRUE(RoomForMore(500));
  FreeHandleTables(tables);
}

TEST(UsageIcon, ChangesNameWhatTheShellMustBeTold) {
  TrayShown shown = {16, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"};
  struct Case {
    TrayShown wanted;
    UINT changes;
    const char* what;
  };
  const Case cases[] = {
      {{16, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, 0, "nothing"},
      {{16, 8, RGB(45, 200, 75), L"Quillmere\n4.2 / 8.0 GB  (52%)"}, NIF_TIP, "text only"},
      {{16, 7, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "bar height"},
      {{16, 8, RGB(220, 175, 0), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "colour band"},
      {{20, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "icon size"},
      {{16, 4, RGB(220, 55, 55), L"Quillmere\n6.6 / 8.0 GB  (82%)"}, NIF_ICON | NIF_TIP, "both"},
      {{16, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%"}, NIF_TIP, "a shorter text"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrayChanges(shown, c.wanted), c.changes) << c.what;

  // The reset of a fresh add matches no drawing.
  const TrayShown reset = {};
  EXPECT_EQ(TrayChanges(reset, shown), static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(TrayChanges(reset, TrayShown{1, 0, RGB(0, 0, 0), L"x"}), static_cast<UINT>(NIF_ICON | NIF_TIP));
}

namespace {

// The real shell, with every NIM_MODIFY of the tray icon counted, the last
// one kept, and modifies refused on demand; the load is the test's.
struct CountingShell {
  int modifies;
  UINT flags;
  HICON icon;
  wchar_t tip[128];
  bool refuse_modifies;
  MemorySnapshot load;
};
CountingShell counting;

BOOL WINAPI CountingNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
  if (message == NIM_MODIFY && data->uID == TRAY_ICON_ID && !(data->uFlags & NIF_INFO)) {
    ++counting.modifies;
    counting.flags = data->uFlags;
    counting.icon = data->hIcon;
    wcsncpy(counting.tip, data->szTip, 128);
    if (counting.refuse_modifies) return FALSE;
  }
  return Shell_NotifyIconW(message, data);
}

bool PlayedLoad(MemorySnapshot& snapshot) {
  snapshot = counting.load;
  return true;
}

const TrayPlatform kCountingShell = {CountingNotifyIcon, GetTickCount64, PlayedLoad};

class TrayUpdates : public ProgramRefreshTest {
 protected:
  void SetUp() override {
    ProgramRefreshTest::SetUp();
    counting = {};
    app.tray.platform = &kCountingShell;
    ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  }
  void Play(double used_gb, int load) {
    counting.load.used_gb = used_gb;
    counting.load.total_gb = 8.0;
    counting.load.load_percent = static_cast<uint32_t>(load);
  }
};

}  // namespace

// The icon follows every change of bar height and colour band, the tooltip
// every change of its text, and an unchanged picture costs no shell call.
// The rows are those of 16 px; 50 and 52 % share one up to 40 px.
TEST_F(TrayUpdates, SendsOnlyWhatChanged) {
  struct Step {
    double used_gb;
    int load;
    bool new_icon, new_tip;
    const char* what;
  };
  const Step steps[] = {
      {4.0, 50, true, true, "the first refresh after the add"},
      {4.0, 50, false, false, "a steady load"},
      {4.16, 52, false, true, "same row, another percentage"},
      {4.4, 52, false, true, "same load, other gigabytes"},
      {1.6, 20, true, true, "a lower bar, same band"},
      {4.72, 59, true, true, "a higher bar"},
      {4.8, 60, true, true, "green to amber, same row at 16 px"},
      {6.32, 79, true, true, "a higher bar"},
      {6.4, 80, true, true, "amber to red, same row at 16 px"},
      {6.4, 80, false, false, "steady again"},
      {4.72, 59, true, true, "red to green"},
  };
  int size = UsageIconSize(GetSystemMetrics(SM_CXSMICON));
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    int modifies = counting.modifies;
    HICON before = app.tray.drawn_icon;
    Play(step.used_gb, step.load);
    RefreshTray();
    bool sent = step.new_icon || step.new_tip;
    ASSERT_EQ(counting.modifies, modifies + (sent ? 1 : 0));
    if (sent) {
      EXPECT_EQ(counting.flags, (step.new_icon ? NIF_ICON : 0u) | (step.new_tip ? NIF_TIP : 0u));
    }
    EXPECT_EQ(app.tray.drawn_icon != before, step.new_icon);
    wchar_t tip[128];
    FormatTooltip(tip, step.used_gb, 8.0, step.load);
    EXPECT_STREQ(counting.tip, tip) << "the shell holds the newest text";
    EXPECT_STREQ(app.tray.data.szTip, tip);
    if (step.new_icon) {
      EXPECT_EQ(counting.icon, app.tray.drawn_icon);
      ICONINFO info = {};
      EXPECT_FALSE(GetIconInfo(before, &info)) << "the old icon is destroyed";
    }
    // The shell holds the picture of this load.
    Pixels icon = ReadIcon(counting.icon);
    ASSERT_EQ(icon.size, size);
    int top = UsageBarTop(size, step.load);
    EXPECT_EQ(icon.At(size / 2, top), UsageBarColor(step.load)) << "top row of the bar";
    EXPECT_EQ(icon.At(size / 2, top - 1), kBackground) << "the row above it";
  }
  EXPECT_EQ(app.status.usage_history.count, static_cast<int>(ARRAYSIZE(steps))) << "every refresh records a sample";
}

TEST_F(TrayUpdates, ASteadyLoadCostsOneModifyInAll) {
  Play(3.0, 37);
  for (int i = 0; i < 50; ++i) RefreshTray();
  EXPECT_EQ(counting.modifies, 1);
  EXPECT_EQ(counting.flags, static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(app.status.usage_history.count, 50);
}

// A re-add shows the resource icon and the bare name, so the next refresh
// sends a new picture and the full tooltip even though the load is the same.
TEST_F(TrayUpdates, AReAddSendsBothAgain) {
  Play(3.0, 37);
  RefreshTray();
  HICON first = app.tray.drawn_icon;
  // As after an Explorer restart: the shell has lost the icon.
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &app.tray.data));
  ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  EXPECT_STREQ(app.tray.data.szTip, L"Quillmere");
  RefreshTray();
  EXPECT_EQ(counting.modifies, 2);
  EXPECT_EQ(counting.flags, static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_NE(app.tray.drawn_icon, first);
  EXPECT_EQ(counting.icon, app.tray.drawn_icon);
  ICONINFO info = {};
  EXPECT_FALSE(GetIconInfo(first, &info)) << "the icon of before the re-add is destroyed";
  RefreshTray();
  EXPECT_EQ(counting.modifies, 2);
}

// A refused modify leaves the shell's picture unknown: the next refresh, at
// the same load, sends both again.
TEST_F(TrayUpdates, ARefusedModifyIsSentAgain) {
  Play(3.0, 37);
  RefreshTray();
  Play(2.9, 36);  // the same picture
  counting.refuse_modifies = true;
  RefreshTray();
  EXPECT_EQ(counting.flags, static_cast<UINT>(NIF_TIP));
  counting.refuse_modifies = false;
  RefreshTray();
  EXPECT_EQ(counting.modifies, 3);
  EXPECT_EQ(counting.flags, static_cast<UINT>(NIF_ICON | NIF_TIP));
  RefreshTray();
  EXPECT_EQ(counting.modifies, 3);
}

// Changed with the bound: ten minutes at start instead of one, and no bound
// at all for an add refused after a taskbar restart.
TEST(TrayAdd, RetriesTenMinutesAfterARefusalAtStartAndForeverAfterARestart) {
  struct Case {
    bool added;
    bool at_start;
    uint64_t now;
    uint64_t first_failure;
    TrayAddStep step;
  };
  const uint64_t top = UINT64_MAX;
  const uint64_t bound = TRAY_ADD_START_RETRY_MS;
  ASSERT_EQ(bound, 600000u);
  const Case cases[] = {
      {true, true, 5000, 5000, TRAY_ADD_DONE},
      {true, true, 9000000, 5000, TRAY_ADD_DONE},  // a late success still counts
      {true, false, 9000000, 5000, TRAY_ADD_DONE},
      {false, true, 5000, 5000, TRAY_ADD_WAIT},
      {false, true, 65000, 5000, TRAY_ADD_WAIT},  // a minute is not enough at logon
      {false, true, 5000 + bound - 1, 5000, TRAY_ADD_WAIT},
      {false, true, 5000 + bound, 5000, TRAY_ADD_GIVE_UP},
      {false, true, 9000000, 5000, TRAY_ADD_GIVE_UP},
      {false, true, 4000, 5000, TRAY_ADD_WAIT},  // a clock behind the failure
      {false, true, top, top - bound + 1, TRAY_ADD_WAIT},
      {false, true, top, top - bound, TRAY_ADD_GIVE_UP},
      {false, false, 5000 + bound, 5000, TRAY_ADD_WAIT},
      {false, false, top, 0, TRAY_ADD_WAIT},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NextTrayAddStep(c.added, c.at_start, c.now, c.first_failure), c.step)
        << c.added << c.at_start << " " << c.now << " " << c.first_failure;
}

TEST_F(TrayAddRetries, AcceptedAddIsDrawnAtOnce) {
  EXPECT_TRUE(StartTrayIcon(main_));
  EXPECT_FALSE(app.tray.add_pending);
  ExpectDrawn();
}

TEST_F(TrayAddRetries, RefusedAddsAreTriedEachTickUntilTheIconIsDrawn) {
  fake_shell.refusals = 3;
  EXPECT_FALSE(StartTrayIcon(main_));
  EXPECT_TRUE(app.tray.add_pending);
  for (int tick = 1; tick <= 2; ++tick) {
    Tick();
    EXPECT_EQ(fake_shell.adds, 1 + tick);
    EXPECT_TRUE(app.tray.add_pending);
    EXPECT_FALSE(IconInShell());
  }
  Tick();
  EXPECT_EQ(fake_shell.adds, 4);
  EXPECT_FALSE(app.tray.add_pending);
  ExpectDrawn();
  Tick();
  EXPECT_EQ(fake_shell.adds, 4) << "no add once the icon is in";
  WPARAM code = 0;
  EXPECT_FALSE(TakeQuitMessage(&code));
  EXPECT_TRUE(IsWindow(main_));
}

TEST_F(TrayAddRetries, TenMinutesOfRefusalsDestroyTheWindowAndQuitWithOne) {
  fake_shell.refusals = 1000;
  EXPECT_FALSE(StartTrayIcon(main_));
  WPARAM code = 0;
  // Ticks ten seconds apart, so that the test stays short.
  for (int tick = 1; tick < 60; ++tick) {
    Tick(10000);
    ASSERT_TRUE(IsWindow(main_)) << tick;
    ASSERT_FALSE(TakeQuitMessage(&code)) << tick;
  }
  Tick(10000);
  EXPECT_EQ(fake_shell.adds, 61);
  EXPECT_FALSE(IsWindow(main_));
  ASSERT_TRUE(TakeQuitMessage(&code));
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(app.tray.drawn_icon, nullptr) << "the destroy handling released the drawn icon";
}

// A new taskbar can announce itself before it takes icons: the icon then
// comes whenever it does, however late, and the program never ends for it.
TEST_F(TrayAddRetries, ARefusedAddAfterATaskbarRestartIsRetriedUntilItWorks) {
  EXPECT_TRUE(StartTrayIcon(main_));
  Shell_NotifyIconW(NIM_DELETE, &app.tray.data);  // the old taskbar is gone
  fake_shell.refusals = 1000;
  fake_shell.adds = 0;
  SendMessageW(main_, app.taskbar_created_message, 0, 0);
  EXPECT_EQ(fake_shell.adds, 1);
  EXPECT_TRUE(app.tray.add_pending);
  WPARAM code = 0;
  for (int tick = 1; tick <= 5; ++tick) {
    Tick(3600000);  // an hour apart
    ASSERT_TRUE(IsWindow(main_)) << tick;
    ASSERT_FALSE(TakeQuitMessage(&code)) << tick;
    EXPECT_EQ(fake_shell.adds, 1 + tick);
    EXPECT_FALSE(IconInShell());
  }
  fake_shell.refusals = 0;
  Tick();
  EXPECT_FALSE(app.tray.add_pending);
  ExpectDrawn();
  Tick();
  EXPECT_EQ(fake_shell.adds, 7) << "no add once the icon is in";
}

// A taskbar that announces itself again while the icon is still there (as
// on a display change) refuses the add but keeps the icon: one tick puts
// the drawing back.
TEST_F(TrayAddRetries, TaskbarCreatedWhileTheIconStaysEndsWithTheIconDrawn) {
  EXPECT_TRUE(StartTrayIcon(main_));
  SendMessageW(main_, app.taskbar_created_message, 0, 0);
  Tick();
  EXPECT_FALSE(app.tray.add_pending);
  ExpectDrawn();
}

TEST_F(TrayAddRetries, TaskbarCreatedBringsThePendingIconAtOnce) {
  fake_shell.refusals = 1;
  EXPECT_FALSE(StartTrayIcon(main_));
  SendMessageW(main_, app.taskbar_created_message, 0, 0);
  EXPECT_EQ(fake_shell.adds, 2);
  EXPECT_FALSE(app.tray.add_pending);
  ExpectDrawn();
}

TEST_F(TrayAddRetries, AnAddTheShellTimedOutOnButPlacedCounts) {
  fake_shell.refusals = 1;
  fake_shell.refused_add_lands = true;
  EXPECT_FALSE(StartTrayIcon(main_));
  ASSERT_TRUE(IconInShell());
  Tick();
  EXPECT_FALSE(app.tray.add_pending);
  ExpectDrawn();
}

TEST(TrayNotice, DueAtMostOnceAMinute) {
  struct Case {
    bool shown;
    uint64_t shown_tick;
    uint64_t now_tick;
    bool due;
  };
  const uint64_t top = ~0ull;
  const Case cases[] = {
      {false, 0, 0, true},                      // never shown
      {false, 5000000, 1000, true},             // never shown, whatever the tick says
      {true, 1000, 1000, false},                // just shown
      {true, 1000, 60999, false},               // a moment short of a minute
      {true, 1000, 61000, true},                // a minute on
      {true, 1000, 500, false},                 // a clock behind counts as no time passed
      {true, top - 1000, top, false},           // near the end of the tick range
      {true, 0, top, true},
      {true, 0x100000000ull - 10, 0x100000000ull + 59990, true},  // past 2^32
  };
  for (const Case& c : cases)
    EXPECT_EQ(TrayNoticeDue(c.shown, c.shown_tick, c.now_tick), c.due) << c.shown << " " << c.shown_tick << " "
                                                                        << c.now_tick;
}

namespace {

// The real main window with the tray recorded; auto-clean off, so that a
// tick does nothing but the tray's work.
class TrayNotices : public ProgramWindowTest {
 protected:
  void BindSeams() override { RecordTray(); }
  void SetUp() override {
    ProgramWindowTest::SetUp();
    app.settings.auto_clean = false;
  }
  // The index of the first add asked for, or -1.
  int FirstAdd() const {
    for (size_t i = 0; i < recording_tray.requests.size(); ++i)
      if (recording_tray.requests[i].message == NIM_ADD) return static_cast<int>(i);
    return -1;
  }
};

int IndexOfBalloon(const std::wstring& text) {
  for (size_t i = 0; i < recording_tray.requests.size(); ++i)
    if (recording_tray.requests[i].text == text) return static_cast<int>(i);
  return -1;
}

}  // namespace

// A failure before the shell took the icon (at start, at logon before the
// taskbar) is told once the icon is in, not lost.
TEST_F(TrayNotices, WaitForTheIconAndShowOnceItIsIn) {
  recording_tray.refuse_adds = true;
  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, kSettingsNotSavedText);
  EXPECT_TRUE(recording_tray.Balloons().empty()) << "no icon to show it from";
  EXPECT_FALSE(StartTrayIcon(app.main_window));
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_TRUE(recording_tray.Balloons().empty()) << "still no icon";

  recording_tray.refuse_adds = false;
  recording_tray.requests.clear();
  Send(WM_TIMER, TIMER_MAIN);
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  ExpectBalloon(recording_tray.Balloons()[0], L"Quillmere", kSettingsNotSavedText);
  EXPECT_GT(IndexOfBalloon(kSettingsNotSavedText), FirstAdd()) << "after the add";
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_EQ(recording_tray.Balloons().size(), 1u) << "told once";
}

TEST_F(TrayNotices, AtMostOnceAMinuteForEachKind) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, kSettingsNotSavedText);
  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, kSettingsNotSavedText);
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, kAutostartFailedText);
  ASSERT_EQ(recording_tray.Balloons().size(), 2u) << "a kind of its own";
  ExpectBalloon(recording_tray.Balloons()[1], L"Quillmere", kAutostartFailedText);

  recording_tray.now += TRAY_NOTICE_INTERVAL_MS - 1;
  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, kSettingsNotSavedText);
  EXPECT_EQ(recording_tray.Balloons().size(), 2u);
  recording_tray.now += 1;
  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, kSettingsNotSavedText);
  ASSERT_EQ(recording_tray.Balloons().size(), 3u);
  ExpectBalloon(recording_tray.Balloons()[2], L"Quillmere", kSettingsNotSavedText);
}

// With the taskbar gone the shell refuses the balloon: it waits for the icon
// that the new taskbar takes.
TEST_F(TrayNotices, ABalloonTheShellRefusedWaitsForTheNextAdd) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  Shell_NotifyIconW(NIM_DELETE, &app.tray.data);  // the taskbar is gone
  ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, kAutostartFailedText);
  recording_tray.requests.clear();
  SendMessageW(app.main_window, app.taskbar_created_message, 0, 0);
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  ExpectBalloon(recording_tray.Balloons()[0], L"Quillmere", kAutostartFailedText);
  EXPECT_GT(IndexOfBalloon(kAutostartFailedText), FirstAdd());
}

TEST(TrayMenu, BuildsItsItemsInOrderWithTheDefaultAndTheCheckMark) {
  struct Item {
    UINT id;
    const wchar_t* text;  // nullptr: a separator
    UINT state;
  };
  for (int variant = 0; variant < 4; ++variant) {
    bool auto_clean_on = variant & 1;
    bool offer_elevation = variant & 2;
    std::vector<Item> items = {
        {IDM_CLEAN_NOW, L"Clean Now\tCtrl+Alt+R", MFS_DEFAULT},
        {IDM_STATUS, L"Status Window...", 0},
        {IDM_TOGGLE_AUTO, L"Auto-clean", auto_clean_on ? static_cast<UINT>(MFS_CHECKED) : 0u},
        {0, nullptr, 0},
        {IDM_SETTINGS, L"Settings...", 0},
        {0, nullptr, 0},
    };
    if (offer_elevation) items.push_back({IDM_RUN_AS_ADMIN, L"Run as Administrator", 0});
    items.push_back({IDM_EXIT, L"Exit", 0});
    HMENU menu = BuildTrayMenu(auto_clean_on, offer_elevation);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(items.size())) << variant;
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
      const Item& expected = items[position];
      wchar_t text[64] = {};
      MENUITEMINFOW info = {};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
      info.dwTypeData = text;
      info.cch = 64;
      ASSERT_TRUE(GetMenuItemInfoW(menu, position, TRUE, &info)) << position;
      EXPECT_EQ(info.hSubMenu, nullptr);
      if (!expected.text) {
        EXPECT_EQ(info.fType, static_cast<UINT>(MFT_SEPARATOR)) << position;
        continue;
      }
      EXPECT_EQ(info.fType, static_cast<UINT>(MFT_STRING)) << position;
      EXPECT_EQ(info.wID, expected.id) << position;
      EXPECT_STREQ(text, expected.text);
      EXPECT_EQ(info.fState & (MFS_DEFAULT | MFS_CHECKED | MFS_DISABLED), expected.state) << position;
    }
    EXPECT_EQ(GetMenuDefaultItem(menu, FALSE, 0), static_cast<UINT>(IDM_CLEAN_NOW));
    DestroyMenu(menu);
  }
}

namespace {

// Owner of the menu in the test below: closes every menu the moment it
// waits for input, as a user pressing Esc would, and counts the showings.
int menus_dismissed = 0;
LRESULT CALLBACK DismissingOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ENTERIDLE && wParam == MSGF_MENU) {
    menus_dismissed += 1;
    EndMenu();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

// Each showing makes and destroys its own menu: with the USER table filled to
// within 300 of full, 600 showings would use it up if one leaked (a showing
// opens a window too, so it costs about 10 ms under Wine). A dismissed menu
// sends no command.
TEST(TrayMenu, DismissedShowingsSendNothingAndLeaveNoMenuBehind) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DismissingOwnerProc;
  window_class.lpszClassName = L"QuillmereMenuOwnerTest";
  RegisterClassW(&window_class);
  HWND owner = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
  ASSERT_NE(owner, nullptr);

  FilledHandleTables tables;
  ASSERT_TRUE(FillHandleTables(tables, 300, false));

  menus_dismissed = 0;
  int commands = 0;
  for (int i = 0; i < 600; ++i) {
    // Wine's server crashes when a menu has to open its window in a full
    // table, so a leak must be caught while some room is left.
    ASSERT_TRUE(RoomForMore(20)) << "showing " << i << ": the USER table is filling up";
    ShowTrayMenu(owner, i % 2 == 0, i % 3 == 0);
    ASSERT_EQ(menus_dismissed, i + 1) << "showing " << i << " did not open";
    MSG message;
    while (PeekMessageW(&message, owner, 0, 0, PM_REMOVE)) commands += message.message == WM_COMMAND;
  }
  EXPECT_EQ(commands, 0);
  EXPECT_TRUE(RoomForMore(20));
  FreeHandleTables(tables);
  DestroyWindow(owner);
}
