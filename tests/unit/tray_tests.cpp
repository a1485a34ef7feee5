// Tray icon, balloons, the drawn usage icon and its tooltip.
#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"
#include "common/dpi.h"
#include "common/system.h"
#include "tests/support.h"
#include "tests/support/in_language.h"
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
// icon, and a clock the test moves; everything else is the modelled shell.
struct FakeShell {
  int refusals;
  bool refused_add_lands;
  int adds;
  ULONGLONG now;
};
FakeShell fake_shell;

BOOL WINAPI FakeNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
  if (message != NIM_ADD) return RecordingNotifyIcon(message, data);
  ++fake_shell.adds;
  if (fake_shell.refusals <= 0) return RecordingNotifyIcon(message, data);
  --fake_shell.refusals;
  if (fake_shell.refused_add_lands) RecordingNotifyIcon(message, data);
  return FALSE;
}

ULONGLONG WINAPI FakeTickCount() { return fake_shell.now; }

const TrayPlatform kFakeShell = {FakeNotifyIcon, FakeTickCount, TakeMemorySnapshot, TaskbarDpi, IsHighContrastOn};

// The real main window, started the way WinMain starts it, against the fake
// shell; auto-clean off, so that a tick does nothing but the tray's work.
class TrayAddRetries : public ProgramWindowTest {
 protected:
  void BindSeams() override {
    fake_shell = {};
    fake_shell.now = 5000000;
    recording_tray = RecordingTray{};
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
  // The shell shows the drawn bar with the load tooltip, not the bare add,
  // and a version 4 icon still shows that tooltip on hover.
  void ExpectDrawn() {
    EXPECT_TRUE(IconInShell());
    EXPECT_NE(app.tray.drawn_icon, nullptr);
    EXPECT_EQ(app.tray.data.hIcon, app.tray.drawn_icon);
    EXPECT_EQ(wcsncmp(app.tray.data.szTip, L"Quillmere\n", 10), 0) << Narrow(app.tray.data.szTip);
    const NotificationArea& area = recording_tray.area;
    EXPECT_EQ(area.version, static_cast<UINT>(NOTIFYICON_VERSION_4));
    EXPECT_EQ(area.picture, app.tray.drawn_icon);
    EXPECT_EQ(area.Tooltip(), app.tray.data.szTip) << "hovering shows the figures";
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

// The figures with the user's separator, the words from the language's table.
TEST_F(ShownInLanguage, TooltipFiguresWithTheUsersSeparatorInEachLanguage) {
  struct Case {
    const wchar_t* separator;
    double used_gb, total_gb;
    int load;
    const wchar_t* used;
    const wchar_t* total;
  };
  const Case cases[] = {
      {L",", 1.5, 16.0, 37, L"1,5", L"16,0"},
      {L",", 11.74, 31.9, 9, L"11,7", L"31,9"},
      {L".", 11.74, 31.9, 37, L"11.7", L"31.9"},
      {L"\u066b", 0.0, 127.96, 100, L"0\u066b0", L"128\u066b0"},
  };
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    for (const Case& c : cases) {
      ShowIn(language, c.separator);
      wchar_t tip[128];
      FormatTooltip(tip, c.used_gb, c.total_gb, c.load);
      EXPECT_EQ(std::wstring(tip), TableTextIn(language, IDS_TOOLTIP, c.used, c.total, c.load))
          << LanguageTag(language) << " " << Narrow(tip);
    }
  }
  ShowIn(0, L",");
  wchar_t tip[128];
  FormatTooltip(tip, 1.5, 16.0, 37);
  EXPECT_STREQ(tip, L"Quillmere\n1,5 / 16,0 GB  (37%)");
  FormatTooltipWithCommit(tip, 1.5, 16.0, 37, CommitChargeOf(9 * 1073741824ull, 10 * 1073741824ull), 90);
  EXPECT_STREQ(tip, L"Quillmere\n1,5 / 16,0 GB  (37%)\nCommit 9,0 / 10,0 GB (90%)");
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    ShowIn(language, L",");
    FormatTooltipWithCommit(tip, 1.5, 16.0, 37, CommitChargeOf(9 * 1073741824ull, 10 * 1073741824ull), 90);
    EXPECT_EQ(std::wstring(tip), (TableTextIn(language, IDS_TOOLTIP, L"1,5", L"16,0", 37) + L"\n" +
                                  TableTextIn(language, IDS_COMMIT_LINE, L"9,0", L"10,0", 90))
                                     .substr(0, 127))
        << LanguageTag(language);
  }
}

TEST_F(DrawnUsageIcon, DrawsTheBarOnAnOpaqueSquare) {
  recording_tray = RecordingTray{};
  tray_.platform = &kRecordingTrayPlatform;
  ASSERT_TRUE(AddTrayIcon(tray_, window_));
  for (int load : {0, 50, 73, 100}) {
    UpdateUsageIcon(tray_, 4.0, 8.0, load, CommitCharge{}, 0);
    ASSERT_NE(tray_.drawn_icon, nullptr);
    EXPECT_EQ(tray_.data.hIcon, tray_.drawn_icon);
    const std::wstring tip = L"Quillmere\n4.0 / 8.0 GB  (" + std::to_wstring(load) + L"%)";
    EXPECT_STREQ(tray_.data.szTip, tip.c_str());
    // What the user sees of a version 4 icon: the new bar and, on hover, the new figures.
    EXPECT_EQ(recording_tray.area.picture, tray_.drawn_icon);
    EXPECT_EQ(recording_tray.area.Tooltip(), tip) << "the tooltip shows the figures";
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
  EXPECT_EQ(tray_.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
  EXPECT_EQ(tray_.data.uVersion, static_cast<UINT>(NOTIFYICON_VERSION_4));
  EXPECT_STREQ(tray_.data.szTip, L"Quillmere");
  EXPECT_NE(tray_.data.hIcon, nullptr);

  UpdateUsageIcon(tray_, 1.0, 2.0, 50, CommitCharge{}, 0);
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
  const TrayLook normal = {16, false, kBackground, kBackground};
  const TrayLook black = {16, true, RGB(0, 0, 0), RGB(255, 255, 255)};
  const TrayShown shown = {normal, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"};
  const TrayShown shown_black = {black, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"};
  struct Case {
    const TrayShown& shown;
    TrayShown wanted;
    UINT changes;
    const char* what;
  };
  const Case cases[] = {
      {shown, {normal, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, 0, "nothing"},
      {shown, {normal, 8, RGB(45, 200, 75), L"Quillmere\n4.2 / 8.0 GB  (52%)"}, NIF_TIP, "text only"},
      {shown, {normal, 7, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "bar height"},
      {shown, {normal, 8, RGB(220, 175, 0), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "colour band"},
      {shown, {{20, false, kBackground, kBackground}, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"},
       NIF_ICON, "icon size"},
      {shown, {black, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "high contrast on"},
      {shown_black, {normal, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "and off"},
      {shown_black, {{16, true, RGB(255, 255, 255), RGB(255, 255, 255)}, 8, RGB(45, 200, 75),
                     L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "another theme's window colour"},
      {shown_black, {{16, true, RGB(0, 0, 0), RGB(255, 255, 0)}, 8, RGB(45, 200, 75),
                     L"Quillmere\n4.0 / 8.0 GB  (50%)"}, NIF_ICON, "another theme's text colour"},
      {shown_black, {black, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%)"}, 0, "a steady high contrast"},
      {shown, {normal, 4, RGB(220, 55, 55), L"Quillmere\n6.6 / 8.0 GB  (82%)"}, NIF_ICON | NIF_TIP, "both"},
      {shown, {normal, 8, RGB(45, 200, 75), L"Quillmere\n4.0 / 8.0 GB  (50%"}, NIF_TIP, "a shorter text"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrayChanges(c.shown, c.wanted), c.changes) << c.what;

  // The reset of a fresh add matches no drawing.
  const TrayShown reset = {};
  EXPECT_EQ(TrayChanges(reset, shown), static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(TrayChanges(reset, TrayShown{{1, false, 0, 0}, 0, RGB(0, 0, 0), L"x"}),
            static_cast<UINT>(NIF_ICON | NIF_TIP));
}

namespace {

// The modelled shell, with every NIM_MODIFY of the tray icon counted, the
// last one kept, and modifies refused on demand; the load is the test's.
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
  return RecordingNotifyIcon(message, data);
}

bool PlayedLoad(MemorySnapshot& snapshot) {
  snapshot = counting.load;
  return true;
}

const TrayPlatform kCountingShell = {CountingNotifyIcon, GetTickCount64, PlayedLoad, TaskbarDpi, IsHighContrastOn};

class TrayUpdates : public ProgramRefreshTest {
 protected:
  void SetUp() override {
    ProgramRefreshTest::SetUp();
    counting = {};
    recording_tray = RecordingTray{};
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
      EXPECT_EQ(counting.flags & (NIF_ICON | NIF_TIP), (step.new_icon ? NIF_ICON : 0u) | (step.new_tip ? NIF_TIP : 0u));
    }
    EXPECT_EQ(app.tray.drawn_icon != before, step.new_icon);
    wchar_t tip[128];
    FormatTooltip(tip, step.used_gb, 8.0, step.load);
    EXPECT_STREQ(counting.tip, tip) << "the shell holds the newest text";
    EXPECT_STREQ(app.tray.data.szTip, tip);
    EXPECT_EQ(recording_tray.area.Tooltip(), tip) << "hovering shows the newest figures";
    EXPECT_EQ(recording_tray.area.picture, app.tray.drawn_icon);
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
  EXPECT_EQ(counting.flags & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(recording_tray.area.Tooltip(), L"Quillmere\n3.0 / 8.0 GB  (37%)");
  EXPECT_EQ(app.status.usage_history.count, 50);
}

// A re-add shows the resource icon and the bare name, so the next refresh
// sends a new picture and the full tooltip even though the load is the same.
TEST_F(TrayUpdates, AReAddSendsBothAgain) {
  Play(3.0, 37);
  RefreshTray();
  HICON first = app.tray.drawn_icon;
  // As after an Explorer restart: the shell has lost the icon.
  recording_tray.RestartTaskbar();
  ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  EXPECT_STREQ(app.tray.data.szTip, L"Quillmere");
  RefreshTray();
  EXPECT_EQ(counting.modifies, 2);
  EXPECT_EQ(counting.flags & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(recording_tray.area.Tooltip(), L"Quillmere\n3.0 / 8.0 GB  (37%)");
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
  EXPECT_EQ(counting.flags & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_TIP));
  counting.refuse_modifies = false;
  RefreshTray();
  EXPECT_EQ(counting.modifies, 3);
  EXPECT_EQ(counting.flags & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(recording_tray.area.Tooltip(), L"Quillmere\n2.9 / 8.0 GB  (36%)");
  RefreshTray();
  EXPECT_EQ(counting.modifies, 3);
}

namespace {

class TrayUpdatesInEachLanguage : public TrayUpdates {
 protected:
  void TearDown() override {
    UseLanguage(0);
    UseDecimalSeparator(L".");
    TrayUpdates::TearDown();
  }
};

}  // namespace

// The refresh after the settings' OK, or after a change of the user's
// regional format, shows the tooltip in the new language and with the new
// separator although the figures are the same; the picture stays.
TEST_F(TrayUpdatesInEachLanguage, ARefreshAfterALanguageChangeSendsTheTooltip) {
  Play(1.5, 19);
  RefreshTray();
  EXPECT_EQ(recording_tray.area.Tooltip(), L"Quillmere\n1.5 / 8.0 GB  (19%)");
  HICON picture = app.tray.drawn_icon;
  int modifies = counting.modifies;
  UseDecimalSeparator(L",");
  RefreshTray();
  ASSERT_EQ(counting.modifies, modifies + 1) << "another separator is another text";
  EXPECT_EQ(counting.flags & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_TIP));
  EXPECT_EQ(recording_tray.area.Tooltip(), L"Quillmere\n1,5 / 8,0 GB  (19%)");
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    UseLanguage(language);
    RefreshTray();
    EXPECT_EQ(recording_tray.area.Tooltip(), TableTextIn(language, IDS_TOOLTIP, L"1,5", L"8,0", 19))
        << LanguageTag(language);
    EXPECT_EQ(app.tray.drawn_icon, picture) << "the same picture is not drawn again";
  }
  modifies = counting.modifies;
  UseLanguage(0);
  UseDecimalSeparator(L".");
  RefreshTray();
  RefreshTray();
  EXPECT_EQ(recording_tray.area.Tooltip(), L"Quillmere\n1.5 / 8.0 GB  (19%)") << "back to English";
  EXPECT_EQ(counting.modifies, modifies + 1) << "sent once";
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
  recording_tray.RestartTaskbar();  // the old taskbar is gone
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
  recording_tray.RestartTaskbar();  // the taskbar is gone
  ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, kAutostartFailedText);
  recording_tray.requests.clear();
  SendMessageW(app.main_window, app.taskbar_created_message, 0, 0);
  ASSERT_EQ(recording_tray.Balloons().size(), 1u);
  ExpectBalloon(recording_tray.Balloons()[0], L"Quillmere", kAutostartFailedText);
  EXPECT_GT(IndexOfBalloon(kAutostartFailedText), FirstAdd());
}

// A notice that waits for the icon shows the text it was given, although the
// buffer it was loaded into is gone (here: written over) by then; a text
// longer than a balloon takes is kept to its first 255 characters.
TEST_F(TrayNotices, AWaitingNoticeKeepsItsOwnCopyOfTheText) {
  recording_tray.refuse_adds = true;
  EXPECT_FALSE(StartTrayIcon(app.main_window));
  wchar_t text[TRAY_BALLOON_TEXT_CAPACITY];
  wcscpy(text, kSettingsNotSavedText);
  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, text);
  std::wstring longest(300, L'x');
  std::wstring longest_copy = longest;
  ShowTrayNotice(app.tray, NOTICE_AUTOSTART_FAILED, longest.c_str());
  wcscpy(text, L"written over");
  longest.assign(300, L'y');
  EXPECT_TRUE(recording_tray.Balloons().empty()) << "no icon to show them from";

  recording_tray.refuse_adds = false;
  Send(WM_TIMER, TIMER_MAIN);
  ASSERT_EQ(recording_tray.Balloons().size(), 2u);
  ExpectBalloon(recording_tray.Balloons()[0], L"Quillmere", kSettingsNotSavedText);
  ExpectBalloon(recording_tray.Balloons()[1], L"Quillmere", longest_copy.substr(0, 255));
}

// The menu's items come from the table of the language in use, at every
// showing.
TEST_F(ShownInLanguage, TrayMenuItemsComeFromTheLanguagesTable) {
  const UINT item_ids[] = {IDS_MENU_CLEAN_NOW, IDS_MENU_STATUS, IDS_MENU_AUTO_CLEAN, 0,
                           IDS_MENU_SETTINGS,  0,               IDS_MENU_RUN_AS_ADMIN, IDS_MENU_EXIT};
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    ShowIn(language, L",");
    HMENU menu = BuildTrayMenu(true, true);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(ARRAYSIZE(item_ids)));
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
      if (!item_ids[position]) continue;
      wchar_t text[128] = {};
      GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
      EXPECT_EQ(std::wstring(text), TableTextIn(language, item_ids[position])) << LanguageTag(language) << " " << position;
    }
    DestroyMenu(menu);
  }
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
    ShowTrayMenu(owner, i % 2 == 0, i % 3 == 0, i % 5 == 0, POINT{100, 200});
    ASSERT_EQ(menus_dismissed, i + 1) << "showing " << i << " did not open";
    MSG message;
    while (PeekMessageW(&message, owner, 0, 0, PM_REMOVE)) commands += message.message == WM_COMMAND;
  }
  EXPECT_EQ(commands, 0);
  EXPECT_TRUE(RoomForMore(20));
  FreeHandleTables(tables);
  DestroyWindow(owner);
}

// The icon's messages in both forms: version 4's (the event in the low word
// of lParam, the icon's id in the high word, the point in wParam), which
// Wine 8 sends once asked, and the classic form (lParam the mouse message),
// which a shell that refuses or ignores the version sends.
TEST(TrayCallbacks, EachFormReadsIntoItsActions) {
  const LPARAM id = LPARAM{TRAY_ICON_ID} << 16;
  struct Case {
    const char* what;
    WPARAM wParam;
    LPARAM lParam;
    TrayAction action;
    bool at_point;
    POINT point;
  };
  const WPARAM at = MAKEWPARAM(300, 400);
  const Case cases[] = {
      {"4: click", at, id | NIN_SELECT, TRAY_SELECT, false, {}},
      {"4: Enter or Space", at, id | NIN_KEYSELECT, TRAY_KEY_SELECT, false, {}},
      {"4: right click or menu key", at, id | WM_CONTEXTMENU, TRAY_MENU, true, {300, 400}},
      {"4: menu on a monitor left of and above the primary", MAKEWPARAM(-1200, -5), id | WM_CONTEXTMENU, TRAY_MENU,
       true, {-1200, -5}},
      {"4: double-click", at, id | WM_LBUTTONDBLCLK, TRAY_DOUBLE_CLICK, false, {}},
      {"4: the left release, which NIN_SELECT follows", at, id | WM_LBUTTONUP, TRAY_NO_ACTION, false, {}},
      {"4: the right release, which WM_CONTEXTMENU follows", at, id | WM_RBUTTONUP, TRAY_RIGHT_RELEASE, false, {}},
      {"4: a press", at, id | WM_LBUTTONDOWN, TRAY_NO_ACTION, false, {}},
      {"4: the pointer", at, id | WM_MOUSEMOVE, TRAY_NO_ACTION, false, {}},
      {"4: a balloon clicked", at, id | NIN_BALLOONUSERCLICK, TRAY_NO_ACTION, false, {}},
      {"classic: left release", TRAY_ICON_ID, WM_LBUTTONUP, TRAY_SELECT, false, {}},
      {"classic: right release, at the cursor", TRAY_ICON_ID, WM_RBUTTONUP, TRAY_MOUSE_MENU, false, {}},
      {"classic: double-click", TRAY_ICON_ID, WM_LBUTTONDBLCLK, TRAY_DOUBLE_CLICK, false, {}},
      {"classic: a press", TRAY_ICON_ID, WM_LBUTTONDOWN, TRAY_NO_ACTION, false, {}},
      {"classic: the pointer", TRAY_ICON_ID, WM_MOUSEMOVE, TRAY_NO_ACTION, false, {}},
      {"classic: right double-click", TRAY_ICON_ID, WM_RBUTTONDBLCLK, TRAY_NO_ACTION, false, {}},
      // Version 3 sends its selects and menus beside the releases: the
      // releases act, these do not.
      {"3: select beside the release", TRAY_ICON_ID, NIN_SELECT, TRAY_NO_ACTION, false, {}},
      {"3: menu beside the release", TRAY_ICON_ID, WM_CONTEXTMENU, TRAY_NO_ACTION, false, {}},
      {"another icon's id", at, (LPARAM{7} << 16) | NIN_SELECT, TRAY_NO_ACTION, false, {}},
  };
  for (const Case& c : cases) {
    TrayCallback callback = ReadTrayCallback(c.wParam, c.lParam);
    EXPECT_EQ(callback.action, c.action) << c.what;
    EXPECT_EQ(callback.at_point, c.at_point) << c.what;
    if (c.at_point) {
      EXPECT_EQ(callback.point.x, c.point.x) << c.what;
      EXPECT_EQ(callback.point.y, c.point.y) << c.what;
    }
  }
}

// Whole gestures as the shells send them, read and stepped as the main
// window does: each click, double-click and menu acts exactly once, and a
// menu knows whether the keyboard opened it. The version 4 sequences are
// those Wine 8's tray sends (measured).
TEST(TrayCallbacks, EachGestureOfEitherFormActsOnce) {
  const LPARAM id = LPARAM{TRAY_ICON_ID} << 16;
  auto v4 = [&](std::vector<UINT> events) {
    std::vector<LPARAM> out;
    for (UINT event : events) out.push_back(id | event);
    return out;
  };
  auto classic = [](std::vector<UINT> events) { return std::vector<LPARAM>(events.begin(), events.end()); };
  struct Case {
    const char* what;
    std::vector<LPARAM> messages;
    std::vector<TrayClickStep> steps;  // every step but TRAY_STEP_NONE, the end of the wait last
    bool menu_by_keyboard = false;
  };
  const std::vector<Case> cases = {
      {"4: left click", v4({WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT}),
       {TRAY_STEP_WAIT, TRAY_STEP_TOGGLE}},
      {"4: right click", v4({WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU}), {TRAY_STEP_MENU}},
      {"4: double-click",
       v4({WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT, WM_LBUTTONDBLCLK, WM_LBUTTONUP, NIN_SELECT}),
       {TRAY_STEP_WAIT, TRAY_STEP_CLEAN}},
      {"4: double-click with no select after it",
       v4({WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT, WM_LBUTTONDBLCLK, WM_LBUTTONUP}),
       {TRAY_STEP_WAIT, TRAY_STEP_CLEAN}},
      {"4: Enter", v4({NIN_KEYSELECT}), {TRAY_STEP_OPEN}},
      // Opening an open popup only brings it forward: it stays open.
      {"4: Enter sent twice", v4({NIN_KEYSELECT, NIN_KEYSELECT}), {TRAY_STEP_OPEN, TRAY_STEP_OPEN}},
      {"4: Shift+F10", v4({WM_CONTEXTMENU}), {TRAY_STEP_MENU}, true},
      {"4: the menu key after the pointer passed", v4({WM_MOUSEMOVE, WM_CONTEXTMENU}), {TRAY_STEP_MENU}, true},
      {"4: the menu key after a right click's menu", v4({WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU, WM_CONTEXTMENU}),
       {TRAY_STEP_MENU, TRAY_STEP_MENU}, true},
      {"classic: left click", classic({WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP}),
       {TRAY_STEP_WAIT, TRAY_STEP_TOGGLE}},
      {"classic: right click", classic({WM_RBUTTONDOWN, WM_RBUTTONUP}), {TRAY_STEP_MENU}},
      {"classic: double-click", classic({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}),
       {TRAY_STEP_WAIT, TRAY_STEP_CLEAN}},
      {"3: left click", classic({WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT}), {TRAY_STEP_WAIT, TRAY_STEP_TOGGLE}},
      {"3: right click", classic({WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU}), {TRAY_STEP_MENU}},
  };
  for (const Case& c : cases) {
    TrayClicks clicks = {};
    uint64_t now = 1000000;
    std::vector<TrayClickStep> steps;
    for (LPARAM message : c.messages) {
      now += 80;
      TrayAction action = ReadTrayCallback(MAKEWPARAM(20, 30), message).action;
      TrayClickStep step = NextTrayClickStep(clicks, action, now, 500, false);
      if (step != TRAY_STEP_NONE) steps.push_back(step);
    }
    TrayClickStep last = NextTrayClickStep(clicks, TRAY_WAIT_OVER, now + 500, 500, false);
    if (last != TRAY_STEP_NONE) steps.push_back(last);
    EXPECT_EQ(steps, c.steps) << c.what;
    EXPECT_EQ(clicks.menu_by_keyboard, c.menu_by_keyboard) << c.what;
  }
  // A right release the shell sent no menu after does not make a later
  // menu the mouse's.
  TrayClicks clicks = {};
  NextTrayClickStep(clicks, TRAY_RIGHT_RELEASE, 1000, 500, false);
  EXPECT_EQ(NextTrayClickStep(clicks, TRAY_MENU, 1500, 500, false), TRAY_STEP_MENU);
  EXPECT_TRUE(clicks.menu_by_keyboard);
}

TEST(TrayClicks, AClickWaitsForTheDoubleClickTime) {
  struct Step {
    TrayAction action;
    uint64_t now;
    bool closed_popup;
    TrayClickStep step;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
  };
  const uint64_t t = 0x100000000ull - 100;  // the gestures cross 2^32 ms
  const std::vector<Case> cases = {
      {"a click acts once its wait is over",
       {{TRAY_SELECT, t, false, TRAY_STEP_WAIT}, {TRAY_WAIT_OVER, t + 500, false, TRAY_STEP_TOGGLE},
        {TRAY_WAIT_OVER, t + 900, false, TRAY_STEP_NONE}}},
      {"a double-click cancels it",
       {{TRAY_SELECT, t, false, TRAY_STEP_WAIT}, {TRAY_DOUBLE_CLICK, t + 200, false, TRAY_STEP_CLEAN},
        {TRAY_SELECT, t + 280, false, TRAY_STEP_NONE}, {TRAY_WAIT_OVER, t + 500, false, TRAY_STEP_NONE}}},
      {"only the select right after a double-click is its own",
       {{TRAY_DOUBLE_CLICK, t, false, TRAY_STEP_CLEAN}, {TRAY_SELECT, t + 100, false, TRAY_STEP_NONE},
        {TRAY_SELECT, t + 300, false, TRAY_STEP_WAIT}}},
      {"a shell that sends no select after a double-click: the next click is a click",
       {{TRAY_DOUBLE_CLICK, t, false, TRAY_STEP_CLEAN}, {TRAY_SELECT, t + 500, false, TRAY_STEP_WAIT},
        {TRAY_WAIT_OVER, t + 1000, false, TRAY_STEP_TOGGLE}}},
      {"a clock behind the double-click",
       {{TRAY_DOUBLE_CLICK, t, false, TRAY_STEP_CLEAN}, {TRAY_SELECT, t - 50, false, TRAY_STEP_NONE}}},
      {"the click whose press closed the popup does not open it",
       {{TRAY_SELECT, t, true, TRAY_STEP_NONE}, {TRAY_WAIT_OVER, t + 500, false, TRAY_STEP_NONE}}},
      {"nor does it end a click waiting before it",
       {{TRAY_SELECT, t, false, TRAY_STEP_WAIT}, {TRAY_SELECT, t + 100, true, TRAY_STEP_NONE},
        {TRAY_WAIT_OVER, t + 600, false, TRAY_STEP_NONE}}},
      {"but a double-click after it cleans",
       {{TRAY_SELECT, t, true, TRAY_STEP_NONE}, {TRAY_DOUBLE_CLICK, t + 200, false, TRAY_STEP_CLEAN},
        {TRAY_SELECT, t + 280, true, TRAY_STEP_NONE}}},
      {"two clicks too far apart to be a double-click still toggle once",
       {{TRAY_SELECT, t, false, TRAY_STEP_WAIT}, {TRAY_SELECT, t + 200, false, TRAY_STEP_WAIT},
        {TRAY_WAIT_OVER, t + 700, false, TRAY_STEP_TOGGLE}}},
      {"the menu drops a waiting click",
       {{TRAY_SELECT, t, false, TRAY_STEP_WAIT}, {TRAY_MENU, t + 150, false, TRAY_STEP_MENU},
        {TRAY_WAIT_OVER, t + 500, false, TRAY_STEP_NONE}}},
      {"the keyboard opens at once, and never closes",
       {{TRAY_KEY_SELECT, t, false, TRAY_STEP_OPEN}, {TRAY_KEY_SELECT, t + 30, false, TRAY_STEP_OPEN},
        {TRAY_KEY_SELECT, t + 500, false, TRAY_STEP_OPEN}}},
      {"and drops a waiting click",
       {{TRAY_SELECT, t, false, TRAY_STEP_WAIT}, {TRAY_KEY_SELECT, t + 100, false, TRAY_STEP_OPEN},
        {TRAY_WAIT_OVER, t + 500, false, TRAY_STEP_NONE}}},
      {"nothing to do", {{TRAY_NO_ACTION, t, false, TRAY_STEP_NONE}, {TRAY_WAIT_OVER, t, false, TRAY_STEP_NONE}}},
  };
  for (const Case& c : cases) {
    TrayClicks clicks = {};
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      EXPECT_EQ(NextTrayClickStep(clicks, s.action, s.now, 500, s.closed_popup), s.step) << c.what << ", step " << i;
    }
  }
}

TEST(TrayMenu, ShowsAtTheShellsPointOrElseAtTheCursor) {
  const POINT cursor = {900, 700};
  struct Case {
    bool at_point;
    POINT point, expected;
  };
  const Case cases[] = {{true, {300, 400}, {300, 400}},
                        {true, {-1200, -5}, {-1200, -5}},
                        {false, {300, 400}, cursor},
                        {false, {0, 0}, cursor}};
  for (const Case& c : cases) {
    POINT at = TrayMenuPoint(c.at_point, c.point, cursor);
    EXPECT_EQ(at.x, c.expected.x) << c.at_point;
    EXPECT_EQ(at.y, c.expected.y) << c.at_point;
  }
}

TEST(TrayMenu, ACommandGivesTheFocusBackOnlyFromTheKeyboardAndWithoutAWindow) {
  struct Case {
    bool by_keyboard;
    WORD command;
    bool opened_window;
    bool returns;
  };
  const Case cases[] = {
      {true, IDM_CLEAN_NOW, false, true},
      {true, IDM_TOGGLE_AUTO, false, true},
      {true, IDM_CLEAN_NOW, true, false},  // the popup a clean may open has the keys
      {true, IDM_STATUS, true, false},
      {true, IDM_STATUS, false, false},  // it closed an open popup, whose close decides
      {true, IDM_SETTINGS, false, false},  // the settings window has the keys, even one raised
      {true, IDM_EXIT, false, false},
      {true, IDM_RUN_AS_ADMIN, false, false},
      {false, IDM_CLEAN_NOW, false, false},  // the mouse's menu
      {false, IDM_TOGGLE_AUTO, false, false},
      {true, 0, false, false},
      {true, 0xFFFF, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TrayCommandReturnsFocus(c.by_keyboard, c.command, c.opened_window), c.returns)
        << c.by_keyboard << " " << c.command << " " << c.opened_window;
}

TEST(TrayMenu, GivesTheFocusBackOnlyWhenDismissedFromTheKeyboard) {
  struct Case {
    bool chosen, owner_foreground, button_down, returns;
  };
  const Case cases[] = {
      {false, true, false, true},    // Esc
      {true, true, false, false},    // a command: its own window or action follows
      {false, false, false, false},  // another window took the foreground
      {false, true, true, false},    // a click elsewhere closed it
      {true, false, true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TrayFocusReturns(c.chosen, c.owner_foreground, c.button_down), c.returns)
        << c.chosen << c.owner_foreground << c.button_down;
}

// Wine takes the scale from LogPixels for the whole session: the taskbar's
// scale is the system's.
TEST(TrayLook, FollowsTheTaskbarsScaleAndTheContrastMode) {
  EXPECT_EQ(TaskbarDpi(), SystemDpi());
  struct Case {
    int width;
    bool high_contrast;
    TrayLook look;
  };
  const COLORREF window = RGB(0, 0, 0), text = RGB(255, 255, 0);
  const Case cases[] = {
      {16, false, {16, false, kBackground, kBackground}},
      {24, false, {24, false, kBackground, kBackground}},
      {0, false, {16, false, kBackground, kBackground}},
      {32, true, {32, true, window, text}},
      {20, true, {20, true, window, text}},
  };
  for (const Case& c : cases) {
    TrayLook look = TrayLookFor(c.width, c.high_contrast, window, text);
    EXPECT_EQ(look.icon_size, c.look.icon_size) << c.width;
    EXPECT_EQ(look.high_contrast, c.look.high_contrast) << c.width;
    EXPECT_EQ(look.background, c.look.background) << c.width;
    EXPECT_EQ(look.outline, c.look.outline) << c.width;
  }
  // The small-icon size of each scale, as the per-DPI metric gives it.
  for (UINT dpi : {96u, 120u, 144u, 192u})
    EXPECT_EQ(SystemMetricForDpi(SM_CXSMICON, dpi), static_cast<int>(16 * dpi / 96)) << dpi;
}

namespace {

bool PlayedHighContrast() { return true; }
const TrayPlatform kHighContrastTray = {Shell_NotifyIconW, GetTickCount64, TakeMemorySnapshot, TaskbarDpi,
                                        PlayedHighContrast};

}  // namespace

// Under high contrast the bar keeps its height and band colour, framed in
// the theme's window-text colour on its window colour; the frame shows
// even with no bar at all.
TEST_F(DrawnUsageIcon, UnderHighContrastFramesTheSquareAndTheBarsTop) {
  tray_.platform = &kHighContrastTray;
  const COLORREF window = GetSysColor(COLOR_WINDOW), text = GetSysColor(COLOR_WINDOWTEXT);
  ASSERT_NE(window, text);
  for (int load : {0, 5, 50, 73, 100}) {
    UpdateUsageIcon(tray_, 4.0, 8.0, load, CommitCharge{}, 0);
    ASSERT_NE(tray_.drawn_icon, nullptr);
    Pixels icon = ReadIcon(tray_.drawn_icon);
    int size = UsageIconSize(GetSystemMetrics(SM_CXSMICON));
    ASSERT_EQ(icon.size, size);
    int top = UsageBarTop(size, load);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        bool frame = x == 0 || y == 0 || x == size - 1 || y == size - 1;
        COLORREF expected = frame ? text : y < top ? window : y == top ? text : UsageBarColor(load);
        ASSERT_EQ(icon.At(x, y), expected) << load << "% at " << x << "," << y;
        ASSERT_FALSE(icon.mask_set[y * size + x]) << "mask must be clear";
      }
    }
  }
}

namespace {

// The program's main and shell windows with the tray recorded and the
// taskbar's scale and the contrast mode played; auto-clean off, so that a
// tick does nothing but the tray's work.
class TrayOnTheProgram : public ProgramWindowTest {
 protected:
  TrayOnTheProgram() : ProgramWindowTest(true) {}
  void BindSeams() override { RecordTray(); }
  void SetUp() override {
    ProgramWindowTest::SetUp();
    app.settings.auto_clean = false;
    app.settings.silent_mode = true;
  }
  // The icon the shell was last sent, and its size.
  int ShownSize() {
    Pixels icon = ReadIcon(app.tray.drawn_icon);
    return icon.size;
  }
  int Modifies() {
    int count = 0;
    for (const TrayRequest& request : recording_tray.requests)
      count += request.message == NIM_MODIFY && !(request.flags & NIF_INFO);
    return count;
  }
  LRESULT ToShell(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(app.shell_window, message, wParam, lParam);
  }
  // A message of the icon in version 4's form.
  void Callback(UINT event, POINT at = {20, 30}) {
    Send(WM_TRAYICON, MAKEWPARAM(at.x, at.y), MAKELPARAM(event, TRAY_ICON_ID));
  }
};

// The version asked for after each add the shell took: none after a refusal.
std::vector<DWORD> AddsAndVersions() {
  std::vector<DWORD> out;
  for (const TrayRequest& request : recording_tray.requests) {
    if (request.message == NIM_ADD) out.push_back(NIM_ADD);
    if (request.message == NIM_SETVERSION) out.push_back(request.version == NOTIFYICON_VERSION_4 ? 4 : 0);
  }
  return out;
}

}  // namespace

TEST_F(TrayOnTheProgram, AsksForVersion4AfterEveryAddTheShellTakes) {
  recording_tray.refuse_adds = true;
  EXPECT_FALSE(StartTrayIcon(app.main_window));
  Send(WM_TIMER, TIMER_MAIN);
  recording_tray.refuse_adds = false;
  Send(WM_TIMER, TIMER_MAIN);
  ASSERT_FALSE(app.tray.add_pending);
  EXPECT_EQ(AddsAndVersions(), (std::vector<DWORD>{NIM_ADD, NIM_ADD, NIM_ADD, 4}));
  // A new taskbar, which has forgotten the version with the icon.
  recording_tray.RestartTaskbar();
  recording_tray.requests.clear();
  ToShell(app.taskbar_created_message);
  EXPECT_EQ(AddsAndVersions(), (std::vector<DWORD>{NIM_ADD, 4}));
  EXPECT_EQ(recording_tray.area.version, static_cast<UINT>(NOTIFYICON_VERSION_4));
  EXPECT_TRUE(recording_tray.area.TooltipShows()) << "the tooltip still shows";
}

// The mouse under version 4, in the sequences Wine 8 sends: a click opens
// the popup only once the double-click time has passed, a double-click
// cleans and never shows it, a right click opens one menu.
TEST_F(TrayOnTheProgram, AClickWaitsAndADoubleClickOnlyCleans) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  for (UINT event : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT}) Callback(event);
  EXPECT_FALSE(IsStatusWindowOpen(app.status)) << "not before the double-click time";
  // The program's own timer ends the wait.
  const ULONGLONG end = GetTickCount64() + 5000;
  while (!IsStatusWindowOpen(app.status) && GetTickCount64() < end) {
    PumpMessages();
    Sleep(10);
  }
  EXPECT_TRUE(IsStatusWindowOpen(app.status));
  CloseStatusWindow(app.status);

  int cleans = app.status.clean_history.count;
  for (UINT event : {WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT, WM_LBUTTONDBLCLK, WM_LBUTTONUP, NIN_SELECT}) {
    Callback(event);
    ASSERT_FALSE(IsStatusWindowOpen(app.status)) << "shown during the double-click, at " << event;
  }
  EXPECT_EQ(app.status.clean_history.count, cleans + 1);
  Send(WM_TIMER, TIMER_TRAY_CLICK);
  PumpMessages();
  EXPECT_FALSE(IsStatusWindowOpen(app.status)) << "shown after the double-click";
  EXPECT_EQ(app.status.clean_history.count, cleans + 1);
}

namespace {

// While a menu runs its loop: counts it, keeps where it is, and closes it
// as Esc would.
int menus_shown = 0;
RECT menu_rect = {};
LRESULT CALLBACK MeasureAndDismissMenu(int code, WPARAM wParam, LPARAM lParam) {
  static int measured = -1;
  HWND popup = FindWindowW(L"#32768", nullptr);
  if (code == MSGF_MENU && popup && IsWindowVisible(popup) && measured != menus_shown) {
    measured = menus_shown;
    GetWindowRect(popup, &menu_rect);
    EndMenu();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Picks the menu's item at `item_to_choose` (from 0) with the keyboard.
int item_to_choose = 0;
LRESULT CALLBACK ChooseAnItem(int code, WPARAM wParam, LPARAM lParam) {
  static int chosen = -1;
  HWND popup = FindWindowW(L"#32768", nullptr);
  if (code == MSGF_MENU && popup && IsWindowVisible(popup) && chosen != menus_shown) {
    chosen = menus_shown;
    for (int i = 0; i <= item_to_choose; ++i) PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Counts the menus as they open.
LRESULT CALLBACK CountMenus(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (message->message == WM_INITMENUPOPUP) ++menus_shown;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

// The menu from the keyboard opens at the icon, the point the shell gives,
// wherever the pointer is; from a classic right release, at the pointer.
// Each right click opens one menu, and a menu dismissed without a choice
// gives the focus back to the notification area.
TEST_F(TrayOnTheProgram, TheMenuOpensOnceWhereTheShellSays) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  HHOOK filter = SetWindowsHookExW(WH_MSGFILTER, MeasureAndDismissMenu, nullptr, GetCurrentThreadId());
  HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, CountMenus, nullptr, GetCurrentThreadId());
  ASSERT_NE(filter, nullptr);
  ASSERT_NE(sent, nullptr);
  SetCursorPos(700, 650);
  menus_shown = 0;
  recording_tray.requests.clear();

  Callback(WM_CONTEXTMENU, {300, 400});  // Shift+F10
  EXPECT_EQ(menus_shown, 1);
  EXPECT_EQ(menu_rect.left, 300);
  EXPECT_EQ(menu_rect.bottom, 400);
  ASSERT_EQ(GetForegroundWindow(), app.shell_window) << "the menu's owner";
  EXPECT_EQ(recording_tray.Count(NIM_SETFOCUS), 1) << "the focus goes back to the notification area";

  for (UINT event : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU}) Callback(event, {500, 450});
  EXPECT_EQ(menus_shown, 2) << "one menu for one right click";
  EXPECT_EQ(menu_rect.left, 500);
  EXPECT_EQ(menu_rect.bottom, 450);

  Send(WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONDOWN);
  Send(WM_TRAYICON, TRAY_ICON_ID, WM_RBUTTONUP);
  EXPECT_EQ(menus_shown, 3);
  EXPECT_EQ(menu_rect.left, 700) << "the classic form gives no point: the pointer's";
  EXPECT_EQ(menu_rect.bottom, 650);
  EXPECT_EQ(recording_tray.Count(NIM_SETFOCUS), 3);
  UnhookWindowsHookEx(filter);

  // A command chosen from a right click's menu: its work follows, and the
  // focus stays where it goes.
  item_to_choose = 0;
  filter = SetWindowsHookExW(WH_MSGFILTER, ChooseAnItem, nullptr, GetCurrentThreadId());
  int cleans = app.status.clean_history.count;
  for (UINT event : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU}) Callback(event, {500, 450});
  PumpMessages();
  EXPECT_EQ(menus_shown, 4);
  EXPECT_EQ(app.status.clean_history.count, cleans + 1) << "Clean Now";
  EXPECT_EQ(recording_tray.Count(NIM_SETFOCUS), 3);
  UnhookWindowsHookEx(sent);
  UnhookWindowsHookEx(filter);
}

// Menu commands chosen from a menu the keyboard opened (Shift+F10): one that
// opens no window gives the keys back to the notification area, as the
// shell's guidance asks; one whose window takes the keys does not, and Esc
// on the popup so opened gives them back then.
TEST_F(TrayOnTheProgram, AKeyboardMenusCommandGivesTheFocusBackUnlessAWindowTakesIt) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  HHOOK filter = SetWindowsHookExW(WH_MSGFILTER, ChooseAnItem, nullptr, GetCurrentThreadId());
  HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, CountMenus, nullptr, GetCurrentThreadId());
  ASSERT_NE(filter, nullptr);
  ASSERT_NE(sent, nullptr);
  menus_shown = 0;
  struct Step {
    const char* what;
    int item;  // Clean Now, Status Window..., Auto-clean
    bool popup_on_clean;
    int focus_returns;  // the area's count after it
    bool popup_open;
  };
  const Step steps[] = {
      {"Clean Now", 0, false, 1, false},
      {"Auto-clean", 2, false, 2, false},
      {"Auto-clean again", 2, false, 3, false},
      {"Status Window...", 1, false, 3, true},
      {"Clean Now with its popup", 0, true, 3, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    CloseStatusWindow(app.status);
    app.settings.show_status_on_clean = step.popup_on_clean;
    item_to_choose = step.item;
    bool auto_clean = app.settings.auto_clean;
    int cleans = app.status.clean_history.count;
    Callback(WM_CONTEXTMENU, {300, 400});
    PumpMessages();
    EXPECT_EQ(app.status.clean_history.count, cleans + (step.item == 0 ? 1 : 0));
    EXPECT_EQ(app.settings.auto_clean, step.item == 2 ? !auto_clean : auto_clean);
    EXPECT_EQ(recording_tray.area.focus_returns, step.focus_returns);
    ASSERT_EQ(IsStatusWindowOpen(app.status), step.popup_open);
    if (!step.popup_open) continue;
    SendMessageW(app.status.window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(IsStatusWindowOpen(app.status));
    EXPECT_EQ(recording_tray.area.focus_returns, step.focus_returns + 1) << "Esc gives the keys back";
    recording_tray.area.focus_returns = step.focus_returns;
  }
  EXPECT_EQ(menus_shown, static_cast<int>(ARRAYSIZE(steps)));
  app.settings.auto_clean = false;
  UnhookWindowsHookEx(sent);
  UnhookWindowsHookEx(filter);
}

// Enter or Space opens the popup at once, or brings it forward, however
// many selects one press sends and however late; only Esc closes it, and
// then the keys go back to the notification area, which they do not after
// a popup the mouse opened.
TEST_F(TrayOnTheProgram, TheKeyboardOpensThePopupAndEscGivesTheFocusBack) {
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  Callback(NIN_KEYSELECT);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  Callback(NIN_KEYSELECT);
  EXPECT_EQ(app.status.window, popup) << "the same Enter, sent twice";
  for (UINT wait : {GetDoubleClickTime(), 5000u}) {
    recording_tray.now += wait;
    Sleep(20);
    Callback(NIN_KEYSELECT);
    EXPECT_EQ(app.status.window, popup) << "a later Enter, " << wait << " ms on";
  }
  EXPECT_EQ(recording_tray.area.focus_returns, 0);
  SendMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(recording_tray.area.focus_returns, 1) << "the keys go back to the notification area";

  // The mouse's popup: Esc closes it and leaves the focus alone.
  Callback(NIN_SELECT);
  Send(WM_TIMER, TIMER_TRAY_CLICK);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  SendMessageW(app.status.window, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(recording_tray.area.focus_returns, 1);

  // Brought forward by the keyboard, it becomes the keyboard's.
  Callback(NIN_SELECT);
  Send(WM_TIMER, TIMER_TRAY_CLICK);
  Callback(NIN_KEYSELECT);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  SendMessageW(app.status.window, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(recording_tray.area.focus_returns, 2);
}

// The icon keeps its start-up picture through the refreshes, and is drawn
// anew, once, at the new size or in the new colours when a change reaches
// the shell window; a change that changes nothing sends nothing.
TEST_F(TrayOnTheProgram, RedrawsAtTheNewScaleOrContrastOnTheNextChangeMessage) {
  recording_tray.dpi = 96;
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  ASSERT_EQ(ShownSize(), 16);
  struct Step {
    const char* what;
    UINT message;
    WPARAM wParam;
    UINT dpi;
    bool high_contrast;
    int size;
  };
  const UINT taskbar_created = app.taskbar_created_message;
  const Step steps[] = {
      {"display change", WM_DISPLAYCHANGE, 32, 144, false, 24},
      {"the shell window's scale", WM_DPICHANGED, MAKEWPARAM(192, 192), 192, false, 32},
      {"a setting", WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 120, false, 20},
      {"high contrast on", WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 120, true, 20},
      {"system colours", WM_SYSCOLORCHANGE, 0, 96, true, 16},
      {"theme off", WM_THEMECHANGED, 0, 96, false, 16},
      {"a new taskbar", taskbar_created, 0, 144, false, 24},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    recording_tray.dpi = step.dpi;
    recording_tray.high_contrast = step.high_contrast;
    int modifies = Modifies();
    Send(WM_TIMER, TIMER_MAIN);
    EXPECT_EQ(Modifies(), modifies) << "the refresh reads no scale";
    if (step.message == taskbar_created) {
      recording_tray.RestartTaskbar();  // the icon went with the old taskbar
      ToShell(step.message);
      Send(WM_TIMER, TIMER_MAIN);  // the new icon is drawn by the next tick
    } else {
      ToShell(step.message, step.wParam);
    }
    EXPECT_EQ(Modifies(), modifies + 1);
    EXPECT_EQ(ShownSize(), step.size);
    Pixels icon = ReadIcon(app.tray.drawn_icon);
    EXPECT_EQ(icon.At(0, 0), step.high_contrast ? GetSysColor(COLOR_WINDOWTEXT) : kBackground);
    if (step.message == taskbar_created) continue;
    ToShell(step.message, step.wParam);
    Send(WM_TIMER, TIMER_MAIN);
    EXPECT_EQ(Modifies(), modifies + 1) << "nothing changed: nothing sent";
  }
}

namespace {

// The modelled shell with the balloons it is asked for counted (and refused
// on demand), a clock and a memory reading of the test's own.
struct WarningShell {
  int balloons;
  std::wstring title, text;
  bool refuse_balloons;
  uint64_t now;
  MemorySnapshot load;
};
WarningShell warning_shell;

BOOL WINAPI WarningNotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
  if (message == NIM_MODIFY && (data->uFlags & NIF_INFO)) {
    if (warning_shell.refuse_balloons) return FALSE;
    ++warning_shell.balloons;
    warning_shell.title = data->szInfoTitle;
    warning_shell.text = data->szInfo;
  }
  return RecordingNotifyIcon(message, data);
}
ULONGLONG WINAPI WarningClock() { return warning_shell.now; }
bool WarningLoad(MemorySnapshot& snapshot) {
  snapshot = warning_shell.load;
  return true;
}
const TrayPlatform kWarningShell = {WarningNotifyIcon, WarningClock, WarningLoad, TaskbarDpi, IsHighContrastOn};

class CommitWarningRefresh : public ProgramRefreshTest {
 protected:
  void SetUp() override {
    ProgramRefreshTest::SetUp();
    warning_shell = {};
    recording_tray = RecordingTray{};
    warning_shell.now = 5000;
    warning_shell.load.used_gb = 4.0;
    warning_shell.load.total_gb = 8.0;
    warning_shell.load.load_percent = 50;
    app.settings.commit_warn_percent = 90;
    app.tray.platform = &kWarningShell;
    ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  }
  // A charge of `percent` of a 10 GiB limit.
  void Commit(int percent) { warning_shell.load.commit = CommitChargeOf(percent * 107374182ull, 10737418200ull); }
};

}  // namespace

// One balloon when the charge reaches the level, silent mode or not, then
// none for 30 minutes; one the shell refused is tried again the next second.
TEST_F(CommitWarningRefresh, WarnsOnceAtTheLevelThenNotForHalfAnHour) {
  const uint64_t minute = 60 * 1000;
  struct Step {
    const char* what;
    uint64_t advance_ms;
    int percent;
    int32_t level;
    bool silent, refuse;
    bool balloon;
  };
  const Step steps[] = {
      {"below the level", 0, 89, 90, false, false, false},
      {"at it", 1000, 90, 90, false, false, true},
      {"a second later", 1000, 93, 90, false, false, false},
      {"a millisecond short of 30 minutes", 30 * minute - 1001, 95, 90, false, false, false},
      {"30 minutes after the first, in silent mode", 1, 95, 90, true, false, true},
      {"30 more minutes, but the shell refuses it", 30 * minute, 95, 90, false, true, false},
      {"taken a second later", 1000, 95, 90, false, false, true},
      {"30 more minutes, but below the level", 30 * minute, 80, 90, false, false, false},
      {"at the level again", 1000, 91, 90, false, false, true},
      {"switched off", 31 * minute, 100, 0, false, false, false},
      {"a file's 20 means 50", 1000, 50, 20, false, false, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    warning_shell.now += step.advance_ms;
    Commit(step.percent);
    app.settings.commit_warn_percent = step.level;
    app.settings.silent_mode = step.silent;
    warning_shell.refuse_balloons = step.refuse;
    int before = warning_shell.balloons;
    RefreshTray();
    ASSERT_EQ(warning_shell.balloons, before + (step.balloon ? 1 : 0));
    if (step.balloon) {
      EXPECT_EQ(warning_shell.title, L"Quillmere \u2014 Memory nearly exhausted");
      EXPECT_EQ(warning_shell.text, L"Committed memory is at " + std::to_wstring(step.percent) +
                                        L"% of its limit. Close programs or enlarge the page file; a clean cannot "
                                        L"lower it.");
      EXPECT_EQ(app.commit_warning.shown_tick, warning_shell.now);
    }
    // The balloon leaves the tooltip, with the charge's line, on hover.
    EXPECT_EQ(recording_tray.area.Tooltip(), app.tray.shown.tip);
    EXPECT_NE(app.tray.shown.tip[0], L'\0');
  }
  EXPECT_EQ(app.status.clean_history.count, 0) << "a warning starts no clean";
}

// Without the icon in there is nowhere to show it: nothing is counted as
// shown, and the first refresh once the icon is back warns.
TEST_F(CommitWarningRefresh, WaitsForTheIcon) {
  Commit(95);
  RemoveTrayIcon(app.tray);
  RefreshTray();
  EXPECT_EQ(warning_shell.balloons, 0);
  EXPECT_FALSE(app.commit_warning.shown);
  ASSERT_TRUE(AddTrayIcon(app.tray, window_));
  RefreshTray();
  EXPECT_EQ(warning_shell.balloons, 1);
  EXPECT_TRUE(app.commit_warning.shown);
}

// The tooltip's second line follows the charge and the level on every
// refresh.
TEST_F(CommitWarningRefresh, TooltipHasTheCommitLineOnlyAtTheLevel) {
  struct Step {
    int percent;
    int32_t level;
    const wchar_t* tip;
  };
  const Step steps[] = {
      {89, 90, L"Quillmere\n4.0 / 8.0 GB  (50%)"},
      {90, 90, L"Quillmere\n4.0 / 8.0 GB  (50%)\nCommit 9.0 / 10.0 GB (90%)"},
      {97, 90, L"Quillmere\n4.0 / 8.0 GB  (50%)\nCommit 9.7 / 10.0 GB (97%)"},
      {97, 0, L"Quillmere\n4.0 / 8.0 GB  (50%)"},
      {60, 55, L"Quillmere\n4.0 / 8.0 GB  (50%)\nCommit 6.0 / 10.0 GB (60%)"},
      {40, 55, L"Quillmere\n4.0 / 8.0 GB  (50%)"},
  };
  for (const Step& step : steps) {
    Commit(step.percent);
    app.settings.commit_warn_percent = step.level;
    RefreshTray();
    EXPECT_STREQ(app.tray.data.szTip, step.tip) << step.percent << " at " << step.level;
    EXPECT_STREQ(app.tray.shown.tip, step.tip) << "the shell took it";
    EXPECT_EQ(recording_tray.area.Tooltip(), step.tip) << "and shows it on hover";
  }
}

namespace {

NOTIFYICONDATAW Request(HWND window, UINT flags, const wchar_t* tip = L"", const wchar_t* balloon = L"") {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  data.uFlags = flags;
  wcsncpy(data.szTip, tip, ARRAYSIZE(data.szTip) - 1);
  wcsncpy(data.szInfo, balloon, ARRAYSIZE(data.szInfo) - 1);
  return data;
}

}  // namespace

// The modelled shell follows Shell_NotifyIconW's documented rules, which the
// tests below judge the program by; Wine's tray keeps none of them.
TEST(NotificationAreaModel, FollowsTheDocumentedRules) {
  HWND window = reinterpret_cast<HWND>(0x1234);
  HWND other = reinterpret_cast<HWND>(0x5678);
  NOTIFYICONDATAW version4 = Request(window, 0);
  version4.uVersion = NOTIFYICON_VERSION_4;
  struct Step {
    const char* what;
    DWORD message;
    NOTIFYICONDATAW data;
    BOOL answer;
    bool tooltip_shows;
    int balloons;
  };
  const Step steps[] = {
      {"a modify before any add", NIM_MODIFY, Request(window, NIF_TIP | NIF_SHOWTIP, L"a"), FALSE, false, 0},
      {"a balloon before any add", NIM_MODIFY, Request(window, NIF_INFO | NIF_SHOWTIP, L"", L"b"), FALSE, false, 0},
      {"the focus before any add", NIM_SETFOCUS, Request(window, 0), FALSE, false, 0},
      {"a version before any add", NIM_SETVERSION, version4, FALSE, false, 0},
      {"the add", NIM_ADD, Request(window, NIF_MESSAGE | NIF_ICON | NIF_TIP, L"a"), TRUE, true, 0},
      {"a second add", NIM_ADD, Request(window, NIF_TIP | NIF_SHOWTIP, L"a"), FALSE, true, 0},
      {"a modify without the flag, at version 0", NIM_MODIFY, Request(window, NIF_TIP, L"b"), TRUE, true, 0},
      {"version 4 after it", NIM_SETVERSION, version4, TRUE, false, 0},
      {"a picture with the flag", NIM_MODIFY, Request(window, NIF_ICON | NIF_SHOWTIP), TRUE, true, 0},
      {"a balloon without it", NIM_MODIFY, Request(window, NIF_INFO, L"", L"c"), TRUE, false, 1},
      {"a balloon with it", NIM_MODIFY, Request(window, NIF_INFO | NIF_SHOWTIP, L"", L"d"), TRUE, true, 2},
      {"another window's icon", NIM_MODIFY, Request(other, NIF_TIP | NIF_SHOWTIP, L"e"), FALSE, true, 2},
      {"the focus", NIM_SETFOCUS, Request(window, 0), TRUE, true, 2},
      {"the delete", NIM_DELETE, Request(window, 0), TRUE, false, 2},
      {"a balloon after it", NIM_MODIFY, Request(window, NIF_INFO | NIF_SHOWTIP, L"", L"f"), FALSE, false, 2},
      {"an add again: version 0 until asked", NIM_ADD, Request(window, NIF_TIP, L"g"), TRUE, true, 2},
      {"version 4 again", NIM_SETVERSION, version4, TRUE, false, 2},
  };
  NotificationArea area;
  for (const Step& step : steps) {
    EXPECT_EQ(area.Take(step.message, step.data), step.answer) << step.what;
    EXPECT_EQ(area.TooltipShows(), step.tooltip_shows) << step.what;
    EXPECT_EQ(area.balloons, step.balloons) << step.what;
  }
  EXPECT_EQ(area.tip, L"g");
  EXPECT_EQ(area.focus_returns, 1);
  NOTIFYICONDATAW short_record = Request(window, NIF_TIP | NIF_SHOWTIP, L"h");
  short_record.cbSize = NOTIFYICONDATAW_V2_SIZE;
  EXPECT_FALSE(area.Take(NIM_MODIFY, short_record)) << "a record of another size than the program's";
}

namespace {

// The program's windows against the modelled shell with a load the test
// plays: what a user hovering over the icon sees.
class TrayAsTheUserSeesIt : public TrayOnTheProgram {
 protected:
  void SetUp() override {
    TrayOnTheProgram::SetUp();
    recording_tray.dpi = 96;
    app.settings.commit_warn_percent = 90;
  }
  // A reading of `used_gb` of 8 GB at `load` %, with a commit charge of
  // `commit_percent` of a 10 GiB limit.
  void Play(double used_gb, int load, int commit_percent = 50) {
    recording_tray.play_load = true;
    recording_tray.load = {};
    recording_tray.load.used_gb = used_gb;
    recording_tray.load.total_gb = 8.0;
    recording_tray.load.load_percent = static_cast<uint32_t>(load);
    recording_tray.load.commit = CommitChargeOf(commit_percent * 107374182ull, 10737418200ull);
  }
  // The icon is in at version 4, shows the bar of the played load, and
  // hovering over it shows the played figures.
  void ExpectShown(const char* after) {
    SCOPED_TRACE(after);
    const MemorySnapshot& load = recording_tray.load;
    wchar_t tip[128];
    FormatTooltipWithCommit(tip, load.used_gb, load.total_gb, static_cast<int>(load.load_percent), load.commit,
                            app.settings.commit_warn_percent);
    const NotificationArea& area = recording_tray.area;
    ASSERT_TRUE(area.icon_in);
    EXPECT_EQ(area.version, static_cast<UINT>(NOTIFYICON_VERSION_4));
    EXPECT_EQ(area.Tooltip(), tip) << "hovering shows the figures of now";
    ASSERT_EQ(area.picture, app.tray.drawn_icon);
    Pixels icon = ReadIcon(area.picture);
    ASSERT_GT(icon.size, 0);
    int top = UsageBarTop(icon.size, static_cast<int>(load.load_percent));
    EXPECT_EQ(icon.At(icon.size / 2, top), UsageBarColor(static_cast<int>(load.load_percent))) << "the bar's top";
    EXPECT_EQ(icon.At(icon.size / 2, top - 1), kBackground) << "the row above it";
  }
  // The flags of the newest modify that was no balloon.
  UINT LastDrawing() const {
    for (auto request = recording_tray.requests.rbegin(); request != recording_tray.requests.rend(); ++request)
      if (request->message == NIM_MODIFY && !(request->flags & NIF_INFO)) return request->flags;
    return 0;
  }
};

}  // namespace

// Every path that reaches the icon leaves the tooltip showing on a version 4
// shell, with the figures of the moment: the first add and its drawing, the
// refresh, a change of the text alone, of the picture alone, the balloons,
// the add after a taskbar restart, and the retry of a refused add.
TEST_F(TrayAsTheUserSeesIt, TheTooltipShowsTheCurrentFiguresAfterEveryPath) {
  Play(4.0, 50);
  ASSERT_TRUE(StartTrayIcon(app.main_window));
  ExpectShown("the first add");
  Play(4.0, 50);
  Send(WM_TIMER, TIMER_MAIN);
  ExpectShown("a refresh with nothing new");

  Play(4.16, 52);  // the same row at 16 px
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_EQ(LastDrawing() & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_TIP));
  ExpectShown("the text alone");

  recording_tray.dpi = 144;
  ToShell(WM_DISPLAYCHANGE, 32);
  EXPECT_EQ(LastDrawing() & (NIF_ICON | NIF_TIP), static_cast<UINT>(NIF_ICON));
  ExpectShown("the picture alone");

  ShowTrayNotice(app.tray, NOTICE_SETTINGS_NOT_SAVED, kSettingsNotSavedText);
  EXPECT_EQ(recording_tray.area.balloons, 1);
  EXPECT_EQ(recording_tray.area.balloon_text, kSettingsNotSavedText);
  ExpectShown("a notice's balloon");

  Play(4.16, 52, 95);
  Send(WM_TIMER, TIMER_MAIN);
  EXPECT_EQ(recording_tray.area.balloons, 2) << "the commit charge's warning";
  EXPECT_NE(recording_tray.area.Tooltip().find(L"Commit"), std::wstring::npos);
  ExpectShown("the commit warning's balloon");

  recording_tray.RestartTaskbar();
  EXPECT_FALSE(recording_tray.area.TooltipShows());
  ToShell(app.taskbar_created_message);
  Play(5.0, 62);
  Send(WM_TIMER, TIMER_MAIN);
  ExpectShown("the add after a taskbar restart");

  recording_tray.RestartTaskbar();
  recording_tray.refuse_adds = true;
  ToShell(app.taskbar_created_message);
  Send(WM_TIMER, TIMER_MAIN);
  ASSERT_TRUE(app.tray.add_pending);
  recording_tray.refuse_adds = false;
  Play(3.2, 40);
  Send(WM_TIMER, TIMER_MAIN);
  ASSERT_FALSE(app.tray.add_pending);
  ExpectShown("the retry of a refused add");
  Play(3.3, 41);
  Send(WM_TIMER, TIMER_MAIN);
  ExpectShown("the refresh after it");
}
