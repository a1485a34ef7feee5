// Session history rings, the status popup's figures, graph, layout,
// placement, text and painting, and the real popup window.
#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"
#include "clean/clean.h"
#include "common/system.h"
#include "status/status_internal.h"
#include "tests/support.h"
#include "tray/tray.h"

// The session's rings of usage samples and cleans, empty at the start.
class History : public ::testing::Test {
 protected:
  UsageHistory usage_ = {};
  CleanHistory cleans_ = {};
};
// What the popup gathers from the rings and the system to show, on a
// record of its own that reads the lists as the system answers.
bool ReadListsHere(MemoryLists& lists) {
  static CleanState clean = {};
  return ReadMemoryLists(clean, lists);
}
const StatusPlatform kListsHere = {ReadListsHere};
class StatusPopupFigures : public ::testing::Test {
 protected:
  StatusState status_ = {.platform = &kListsHere};
};

// A list reading that failed, as under Wine.
const MemoryLists kUnread = {};

TEST_F(History, EmptyRingsCopyNothing) {
  EXPECT_EQ(usage_.count, 0);
  int32_t out[3] = {-7, -7, -7};
  CopyRecentUsage(usage_, out, 3);
  EXPECT_EQ(out[0], -7);
  CleanRecord records[2] = {};
  records[0].processes = -7;
  EXPECT_EQ(CopyRecentCleans(cleans_, records, 2), 0);
  EXPECT_EQ(records[0].processes, -7);
}

TEST_F(History, UsageRingKeepsTheNewest300OldestFirst) {
  for (int v = 1; v <= 301; ++v) PushUsageSample(usage_, v);
  EXPECT_EQ(usage_.count, 300);
  std::vector<int32_t> out(300);
  CopyRecentUsage(usage_, out.data(), 300);
  for (int k = 0; k < 300; ++k) ASSERT_EQ(out[k], k + 2) << k;

  // Asking for fewer gives the newest; asking for more gives what is held.
  int32_t newest[3] = {};
  CopyRecentUsage(usage_, newest, 3);
  EXPECT_EQ(newest[0], 299);
  EXPECT_EQ(newest[2], 301);
  std::vector<int32_t> more(400, -1);
  CopyRecentUsage(usage_, more.data(), 400);
  EXPECT_EQ(more[299], 301);
  EXPECT_EQ(more[300], -1);
}

TEST_F(History, UsageCopyOfNothingOrLessThanNothing) {
  PushUsageSample(usage_, 5);
  int32_t out[1] = {-7};
  CopyRecentUsage(usage_, out, 0);
  CopyRecentUsage(usage_, out, -4);
  EXPECT_EQ(out[0], -7);
}

TEST_F(History, CleanRingCopiesWholeRecordsOldestFirst) {
  for (int i = 1; i <= 3; ++i) RecordClean(cleans_, i * 10.5, i, kUnread, kUnread);
  CleanRecord out[5] = {};
  ASSERT_EQ(CopyRecentCleans(cleans_, out, 5), 3);
  EXPECT_EQ(out[0].processes, 1);
  EXPECT_DOUBLE_EQ(out[0].freed_mb, 10.5);
  EXPECT_EQ(out[2].processes, 3);
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_EQ(out[2].time.wYear, now.wYear);
  EXPECT_EQ(CopyRecentCleans(cleans_, out, 0), 0);
  EXPECT_EQ(CopyRecentCleans(cleans_, out, -3), -3);
}

TEST_F(History, CleanRecordKeepsTheListsOnlyWhenBothReadingsWorked) {
  MemoryLists before = {true, 10.0, 20.0, 300.0, 4000.0};
  MemoryLists after = {true, 900.0, 800.0, 7.0, 50.0};
  MemoryLists failed = {false, 0, 0, 0, 0};
  struct Case {
    const MemoryLists& before;
    const MemoryLists& after;
    bool read;
  };
  const Case cases[] = {{before, after, true}, {failed, after, false}, {before, failed, false}, {failed, failed, false}};
  for (const Case& c : cases) {
    cleans_ = {};
    // A slot used before holds nothing of its earlier clean.
    cleans_.entries[0].lists_read = true;
    cleans_.entries[0].standby_before_mb = 123.0;
    RecordClean(cleans_, 55.0, 4, c.before, c.after);
    CleanRecord out[1];
    ASSERT_EQ(CopyRecentCleans(cleans_, out, 1), 1);
    EXPECT_DOUBLE_EQ(out[0].freed_mb, 55.0);
    EXPECT_EQ(out[0].processes, 4);
    EXPECT_EQ(out[0].lists_read, c.read);
    EXPECT_DOUBLE_EQ(out[0].standby_before_mb, c.read ? 4000.0 : 0.0);
    EXPECT_DOUBLE_EQ(out[0].standby_after_mb, c.read ? 50.0 : 0.0);
    EXPECT_DOUBLE_EQ(out[0].modified_before_mb, c.read ? 300.0 : 0.0);
    EXPECT_DOUBLE_EQ(out[0].modified_after_mb, c.read ? 7.0 : 0.0);
  }
}

TEST_F(History, CleanRingDropsTheOldestAfter50) {
  for (int i = 1; i <= 51; ++i) RecordClean(cleans_, 0.0, i, kUnread, kUnread);
  EXPECT_EQ(cleans_.count, 50);
  CleanRecord out[50] = {};
  ASSERT_EQ(CopyRecentCleans(cleans_, out, 50), 50);
  EXPECT_EQ(out[0].processes, 2);
  EXPECT_EQ(out[49].processes, 51);
}

// ---------------------------------------------------------------------------
// The status popup: its decisions, its picture, its window and its wiring.

namespace {

::testing::Environment* const unmanaged = ::testing::AddGlobalTestEnvironment(new UnmanagedWineWindows);

const COLORREF kBackground = RGB(20, 20, 28);
const COLORREF kBoxFill = RGB(32, 32, 44);
const COLORREF kBoxLine = RGB(55, 55, 75);
const COLORREF kArea = RGB(0, 70, 130);
const COLORREF kLine = RGB(0, 130, 220);

}  // namespace

// The graph box of a client `width` wide at 96 DPI.
RECT Box(int width) { return StatusGraphBox(LayOutStatus(96, 52, 16), width); }

TEST(StatusGraph, SpreadsSamplesOverTheInnerWidthAndClosesAlongTheBottom) {
  POINT points[STATUS_GRAPH_MAX_POINTS];
  const int32_t two[2] = {0, 100};
  ASSERT_EQ(StatusGraphPoints(two, 2, Box(454), points), 4);
  EXPECT_EQ(points[0].x, 21);
  EXPECT_EQ(points[0].y, 207);
  EXPECT_EQ(points[1].x, 227);
  EXPECT_EQ(points[1].y, 109);
  EXPECT_EQ(points[2].x, 433);
  EXPECT_EQ(points[2].y, 207);
  EXPECT_EQ(points[3].x, 21);
  EXPECT_EQ(points[3].y, 207);

  int32_t many[300];
  for (int i = 0; i < 300; ++i) many[i] = 50;
  ASSERT_EQ(StatusGraphPoints(many, 300, Box(454), points), 302);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(points[i].x, 21 + (i * 412) / 300) << i;
    ASSERT_EQ(points[i].y, 158) << i;
  }
  EXPECT_EQ(points[299].x, 431);
  EXPECT_EQ(points[300].x, 433);
  EXPECT_EQ(points[300].y, 207);
  EXPECT_EQ(points[301].x, 21);
  EXPECT_EQ(points[301].y, 207);
}

TEST(StatusGraph, RowsFollowTheLoadAndStayInTheBox) {
  struct Case {
    int32_t load;
    LONG row;
  };
  // The rings keep whatever they are given; out-of-range loads keep to the box.
  const Case cases[] = {{0, 207}, {50, 158}, {100, 109}, {1, 207}, {99, 110}, {-5, 207}, {250, 109},
                        {2147483647, 109}};
  POINT points[STATUS_GRAPH_MAX_POINTS];
  for (const Case& c : cases) {
    const int32_t samples[2] = {c.load, c.load};
    ASSERT_EQ(StatusGraphPoints(samples, 2, Box(454), points), 4);
    EXPECT_EQ(points[0].y, c.row) << c.load;
  }
}

TEST(StatusGraph, NewestSamplesWhenTheBoxIsNarrowerThanTheHistory) {
  int32_t samples[300];
  for (int i = 0; i < 300; ++i) samples[i] = i % 101;
  POINT points[STATUS_GRAPH_MAX_POINTS];
  // Client 60 wide: box 20..40, inner width 18, one column per sample.
  ASSERT_EQ(StatusGraphPoints(samples, 300, Box(60), points), 20);
  for (int i = 0; i < 18; ++i) {
    EXPECT_EQ(points[i].x, 21 + i) << i;
    EXPECT_EQ(points[i].y, 207 - (98 * samples[282 + i]) / 100) << i;
  }
  EXPECT_EQ(points[18].x, 39);
  EXPECT_EQ(points[19].x, 21);

  struct Case {
    int width;
    int32_t count;
    int points;
  };
  const Case cases[] = {
      {43, 300, 3},   // a one-pixel box holds the newest sample
      {42, 300, 0},   // no inner width: an empty box, nothing outside it
      {10, 300, 0},   {-500, 300, 0}, {454, 1, 0}, {454, 0, 0}, {454, -3, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StatusGraphPoints(samples, c.count, Box(c.width), points), c.points) << c.width << "/" << c.count;
}

TEST(StatusPopupLoadFigure, LoadColourAndLargeFont) {
  struct Colour {
    int load;
    COLORREF colour;
  };
  const Colour colours[] = {{0, RGB(50, 210, 80)},   {59, RGB(50, 210, 80)},  {60, RGB(255, 195, 0)},
                            {79, RGB(255, 195, 0)}, {80, RGB(225, 60, 60)}, {100, RGB(225, 60, 60)}};
  for (const Colour& c : colours) EXPECT_EQ(StatusLoadColor(c.load), c.colour) << c.load;

  LOGFONTW normal = {};
  normal.lfHeight = -12;
  normal.lfWeight = FW_NORMAL;
  LOGFONTW large = LargeStatusFont(normal);
  EXPECT_EQ(large.lfHeight, -48);
  EXPECT_EQ(large.lfWeight, 700);
  EXPECT_EQ(LargeStatusFont(LOGFONTW{}).lfHeight, 0);
}

TEST(StatusPopupLayout, LayoutScalesAndMakesRoomForTallText) {
  struct Case {
    const char* what;
    UINT dpi;
    int ascent, text;  // the large figure's ascent, a normal line
    int memory, box_top, box_bottom, minutes, separator, heading, first_clean, step, pen;
    LONG width, height;
  };
  const Case cases[] = {
      // Segoe UI 9 pt and 36 pt bold at 100 %: the fixed rows exactly.
      {"Segoe UI, 100 %", 96, 52, 16, 76, 108, 208, 213, 234, 242, 262, 17, 1, 454, 358},
      {"smaller font, 100 %", 96, 40, 13, 76, 108, 208, 213, 234, 242, 262, 17, 1, 454, 355},
      {"Segoe UI, 125 %", 120, 65, 20, 95, 135, 260, 266, 293, 303, 328, 21, 1, 568, 447},
      {"Segoe UI, 150 %", 144, 78, 24, 114, 162, 312, 320, 351, 363, 393, 26, 2, 681, 539},
      {"Segoe UI, 200 %", 192, 104, 32, 152, 216, 416, 426, 468, 484, 524, 34, 2, 908, 716},
      // A taller figure pushes everything below it down by as much.
      {"figure ascent 70", 96, 70, 16, 93, 125, 225, 230, 251, 259, 279, 17, 1, 454, 375},
      // Taller lines widen each gap they do not fit and the line step.
      {"lines 24 high", 96, 52, 24, 76, 116, 216, 221, 249, 257, 284, 25, 1, 454, 420},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StatusLayout layout = LayOutStatus(c.dpi, c.ascent, c.text);
    EXPECT_EQ(layout.figure_y, MulDiv(18, c.dpi, 96));
    EXPECT_EQ(layout.margin, MulDiv(20, c.dpi, 96));
    EXPECT_EQ(layout.memory_y, c.memory);
    EXPECT_EQ(layout.box_top, c.box_top);
    EXPECT_EQ(layout.box_bottom, c.box_bottom);
    EXPECT_EQ(layout.minutes_y, c.minutes);
    EXPECT_EQ(layout.separator_y, c.separator);
    EXPECT_EQ(layout.heading_y, c.heading);
    EXPECT_EQ(layout.first_clean_y, c.first_clean);
    EXPECT_EQ(layout.line_step, c.step);
    EXPECT_EQ(layout.pen_width, c.pen);
    EXPECT_EQ(layout.client.cx, c.width);
    EXPECT_EQ(layout.client.cy, c.height);
    // Nothing runs into the next row; the fifth clean line is inside.
    EXPECT_GE(layout.memory_y, layout.figure_y + c.ascent);
    EXPECT_GE(layout.box_top, layout.memory_y + c.text);
    EXPECT_GE(layout.separator_y, layout.minutes_y + c.text);
    EXPECT_GE(layout.first_clean_y, layout.heading_y + c.text);
    EXPECT_GE(layout.line_step, c.text);
    EXPECT_GT(layout.client.cy, layout.first_clean_y + 4 * layout.line_step + c.text);
  }
}

TEST(StatusPopupPlacement, OpensBesideItsIconOnEveryTaskbarEdgeAndMonitor) {
  const RECT primary = {0, 0, 1920, 1080};
  const SIZE size = {460, 384};
  struct Case {
    const char* what;
    RECT monitor, work, icon;
    RECT placed;
  };
  const Case cases[] = {
      {"bottom taskbar, icon at the right", primary, {0, 0, 1920, 1040}, {1700, 1050, 1724, 1074},
       {1448, 644, 1908, 1028}},
      {"bottom taskbar, icon in the middle", primary, {0, 0, 1920, 1040}, {900, 1050, 924, 1074},
       {682, 644, 1142, 1028}},
      {"top taskbar", primary, {0, 40, 1920, 1080}, {1700, 8, 1724, 32}, {1448, 52, 1908, 436}},
      {"left taskbar", primary, {60, 0, 1920, 1080}, {18, 1000, 42, 1024}, {72, 684, 532, 1068}},
      {"right taskbar", primary, {0, 0, 1860, 1080}, {1878, 500, 1902, 524}, {1388, 320, 1848, 704}},
      {"auto-hidden bottom taskbar", primary, primary, {1700, 1050, 1724, 1074}, {1448, 654, 1908, 1038}},
      {"second monitor left of the primary", {-1280, 0, 0, 1024}, {-1280, 0, 0, 984}, {-100, 990, -76, 1014},
       {-472, 588, -12, 972}},
      {"second monitor above the primary", {0, -1080, 1920, 0}, {0, -1080, 1920, -40}, {1800, -30, 1824, -6},
       {1448, -436, 1908, -52}},
      {"icon in the overflow flyout", primary, {0, 0, 1920, 1040}, {1700, 900, 1724, 924}, {1448, 644, 1908, 1028}},
      {"the shell cannot say", primary, {0, 0, 1920, 1040}, {0, 0, 0, 0}, {1448, 644, 1908, 1028}},
      {"a work area smaller than the popup", {0, 0, 400, 300}, {0, 0, 400, 260}, {300, 270, 324, 294},
       {0, 0, 460, 384}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StatusAnchor anchor = StatusPopupAnchor(c.icon, c.work, c.monitor, 12);
    RECT placed = FitInWorkArea(AlignStatusPopup(anchor, size), c.work, 12);
    EXPECT_EQ(placed.left, c.placed.left);
    EXPECT_EQ(placed.top, c.placed.top);
    EXPECT_EQ(placed.right, c.placed.right);
    EXPECT_EQ(placed.bottom, c.placed.bottom);
    // The icon on a taskbar stays in sight (the overflow flyout closes
    // anyway, and a work area too small gives no choice).
    RECT overlap;
    bool on_taskbar = !IntersectRect(&overlap, &c.icon, &c.work) || EqualRect(&c.work, &c.monitor);
    if (on_taskbar && c.work.bottom - c.work.top > size.cy) {
      EXPECT_FALSE(IntersectRect(&overlap, &placed, &c.icon)) << "never over its icon";
    }
  }
}

TEST(StatusPopupPlacement, AnchorFlagsFollowTheTaskbarEdge) {
  const RECT primary = {0, 0, 1920, 1080};
  struct Case {
    RECT work, icon;
    UINT flags;
  };
  const Case cases[] = {
      {{0, 0, 1920, 1040}, {1700, 1050, 1724, 1074}, TPM_CENTERALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL},
      {{0, 40, 1920, 1080}, {1700, 8, 1724, 32}, TPM_CENTERALIGN | TPM_TOPALIGN | TPM_VERTICAL},
      {{60, 0, 1920, 1080}, {18, 1000, 42, 1024}, TPM_LEFTALIGN | TPM_VCENTERALIGN | TPM_HORIZONTAL},
      {{0, 0, 1860, 1080}, {1878, 500, 1902, 524}, TPM_RIGHTALIGN | TPM_VCENTERALIGN | TPM_HORIZONTAL},
      {{0, 0, 1920, 1040}, {0, 0, 0, 0}, TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_VERTICAL},
  };
  for (const Case& c : cases) {
    StatusAnchor anchor = StatusPopupAnchor(c.icon, c.work, primary, 12);
    EXPECT_EQ(anchor.flags, c.flags) << c.icon.left << "," << c.icon.top;
    if (!IsRectEmpty(&c.icon)) {
      EXPECT_TRUE(EqualRect(&anchor.exclude, &c.icon)) << "the icon stays visible";
    }
  }
}

TEST(StatusPopupClosing, AutoClosesOnlyWhenInactiveAndThePointerIsElsewhere) {
  struct Case {
    bool active, pointer_over, close;
  };
  const Case cases[] = {{false, false, true}, {false, true, false}, {true, false, false}, {true, true, false}};
  for (const Case& c : cases)
    EXPECT_EQ(ShouldAutoCloseStatus(c.active, c.pointer_over), c.close) << c.active << c.pointer_over;
}

TEST(StatusPopupClosing, ToggleRightAfterACloseByDeactivationIsIgnored) {
  struct Case {
    uint64_t now, closed;
    uint32_t double_click;
    bool ignored;
  };
  const Case cases[] = {
      {5000, 0, 500, false},                      // never closed that way
      {5000, 5000, 500, true},                    // the release of the same click
      {5499, 5000, 500, true},
      {5500, 5000, 500, false},                   // a new click
      {4999, 5000, 500, false},                   // a clock that went back
      {5000, 5000, 0, false},
      {0x100000000ull + 10, 0x100000000ull, 500, true},  // past 2^32 ms
  };
  for (const Case& c : cases)
    EXPECT_EQ(ShouldIgnoreStatusToggle(c.now, c.closed, c.double_click), c.ignored) << c.now << "/" << c.closed;
}

TEST(StatusPopupCleanLines, CleanLineText) {
  CleanRecord record = {};
  record.time.wHour = 9;
  record.time.wMinute = 5;
  record.freed_mb = 1234.6;
  record.processes = 87;
  wchar_t text[64];
  FormatStatusCleanLine(text, record);
  EXPECT_STREQ(text, L"  09:05  Freed 1235 MB  (87 procs)");

  record.freed_mb = 1e300;  // cut at 63 characters, never past the buffer
  wmemset(text, L'#', 64);
  FormatStatusCleanLine(text, record);
  EXPECT_EQ(wcslen(text), 63u);
}

TEST(StatusPopupCleanLines, CleanLineAddsTheStandbyChangeWhenTheListsWereRead) {
  struct Case {
    bool read;
    double before, after;
    const wchar_t* text;
  };
  const Case cases[] = {
      {true, 4000.0, 3187.6, L"  09:05  Freed 1235 MB  (87 procs)  standby -812 MB"},
      {true, 100.0, 105.2, L"  09:05  Freed 1235 MB  (87 procs)  standby +5 MB"},
      // Under half a megabyte either way is no change, never "-0".
      {true, 100.0, 99.6, L"  09:05  Freed 1235 MB  (87 procs)  standby 0 MB"},
      {true, 100.0, 100.4, L"  09:05  Freed 1235 MB  (87 procs)  standby 0 MB"},
      {true, 0.0, 0.0, L"  09:05  Freed 1235 MB  (87 procs)  standby 0 MB"},
      // Not read: the line as it always was, whatever the figures hold.
      {false, 4000.0, 3187.6, L"  09:05  Freed 1235 MB  (87 procs)"},
  };
  for (const Case& c : cases) {
    CleanRecord record = {};
    record.time.wHour = 9;
    record.time.wMinute = 5;
    record.freed_mb = 1234.6;
    record.processes = 87;
    record.lists_read = c.read;
    record.standby_before_mb = c.before;
    record.standby_after_mb = c.after;
    wchar_t text[64];
    FormatStatusCleanLine(text, record);
    EXPECT_STREQ(text, c.text);
  }
}

namespace {

// The width of `text` in the popup's font at 100 %, with the layout its fonts
// give (with the lists' row or without).
LONG TextWidthInPopupFont(const wchar_t* text, bool lists_row, StatusLayout& layout) {
  StatusState status;
  CreateStatusFonts(status, 96, lists_row);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, status.font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
  SelectObject(dc, previous);
  DeleteDC(dc);
  layout = status.layout;
  DeleteStatusFonts(status);
  return size.cx;
}

}  // namespace

TEST(StatusPopupCleanLines, LongestCleanLineFitsThePopupInItsFont) {
  CleanRecord record = {};
  record.time.wHour = 23;
  record.time.wMinute = 59;
  record.freed_mb = 9999999.0;  // nearly 10 TB
  record.processes = 4096;
  record.lists_read = true;
  record.standby_before_mb = 9999999.0;
  wchar_t text[64];
  FormatStatusCleanLine(text, record);
  ASSERT_STREQ(text, L"  23:59  Freed 9999999 MB  (4096 procs)  standby -9999999 MB") << "not cut";

  StatusLayout layout;
  const LONG width = TextWidthInPopupFont(text, false, layout);
  // Drawn from the left margin, with the same margin at the right.
  EXPECT_LE(width, layout.client.cx - 2 * layout.margin) << Narrow(text);
  EXPECT_GT(width, 0);
}

// Lists as a privileged reading on Windows gives them: 16 GB in all.
MemoryLists PlayedLists() {
  MemoryLists lists = {};
  lists.readable = true;
  lists.zeroed_mb = 120.0;
  lists.free_mb = 1500.0;
  lists.modified_mb = 210.0;
  lists.standby_mb = 5320.0;
  return lists;
}
const double kPlayedTotalMb = 16270.0;

TEST(StatusPopupLayout, LayoutMakesRoomForTheListsRowAndMovesTheRestDown) {
  struct Case {
    const char* what;
    UINT dpi;
    int ascent, text;
    int bar_top, bar_bottom, text_y, box_top;
  };
  const Case cases[] = {
      {"Segoe UI, 100 %", 96, 52, 16, 108, 118, 122, 150},
      {"Segoe UI, 150 %", 144, 78, 24, 162, 177, 183, 225},
      {"Segoe UI, 200 %", 192, 104, 32, 216, 236, 244, 300},
      // A taller line needs more than the row's height: the box goes lower.
      {"lines 24 high", 96, 52, 24, 116, 126, 130, 166},
      {"figure ascent 70", 96, 70, 16, 125, 135, 139, 167},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StatusLayout without = LayOutStatus(c.dpi, c.ascent, c.text);
    const StatusLayout with = LayOutStatus(c.dpi, c.ascent, c.text, true);
    EXPECT_FALSE(without.lists_row);
    EXPECT_EQ(without.lists_bar_top, 0);
    EXPECT_EQ(without.lists_bar_bottom, 0);
    EXPECT_EQ(without.lists_text_y, 0);
    EXPECT_TRUE(with.lists_row);
    EXPECT_EQ(with.lists_bar_top, c.bar_top);
    EXPECT_EQ(with.lists_bar_top, without.box_top) << "the row takes the box's place";
    EXPECT_EQ(with.lists_bar_bottom, c.bar_bottom);
    EXPECT_EQ(with.lists_text_y, c.text_y);
    EXPECT_EQ(with.box_top, c.box_top);
    EXPECT_GE(with.box_top, with.lists_text_y + c.text) << "the figures clear the box";
    // Above the row nothing moves; below it everything moves by as much.
    const int row = with.box_top - without.box_top;
    EXPECT_EQ(with.figure_y, without.figure_y);
    EXPECT_EQ(with.memory_y, without.memory_y);
    EXPECT_EQ(with.badge_y, without.badge_y);
    EXPECT_EQ(with.box_bottom, without.box_bottom + row);
    EXPECT_EQ(with.minutes_y, without.minutes_y + row);
    EXPECT_EQ(with.separator_y, without.separator_y + row);
    EXPECT_EQ(with.heading_y, without.heading_y + row);
    EXPECT_EQ(with.first_clean_y, without.first_clean_y + row);
    EXPECT_EQ(with.line_step, without.line_step);
    EXPECT_EQ(with.client.cx, without.client.cx);
    EXPECT_EQ(with.client.cy, without.client.cy + row) << "the popup grows by the row";
  }
}

TEST(StatusPopupListsRow, ListPartsAreTheTotalLessTheListsAndFreeWithZeroed) {
  struct Case {
    const char* what;
    double total, zeroed, free, modified, standby;
    double in_use, free_part;
  };
  const Case cases[] = {
      {"a busy machine", kPlayedTotalMb, 120, 1500, 210, 5320, 9120, 1620},
      {"nothing in use", 1000, 0, 500, 100, 400, 0, 500},
      // Lists read a moment after the total can add up to more than it.
      {"lists past the total", 1000, 100, 500, 200, 400, 0, 600},
      {"no lists", 2048, 0, 0, 0, 0, 2048, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryLists lists = {};
    lists.readable = true;
    lists.zeroed_mb = c.zeroed;
    lists.free_mb = c.free;
    lists.modified_mb = c.modified;
    lists.standby_mb = c.standby;
    double parts[STATUS_LIST_PARTS];
    StatusListParts(lists, c.total, parts);
    EXPECT_DOUBLE_EQ(parts[LIST_IN_USE], c.in_use);
    EXPECT_DOUBLE_EQ(parts[LIST_MODIFIED], c.modified);
    EXPECT_DOUBLE_EQ(parts[LIST_STANDBY], c.standby);
    EXPECT_DOUBLE_EQ(parts[LIST_FREE], c.free_part);
  }
}

TEST(StatusPopupListsRow, ListSegmentsShareTheBarAndTileItExactly) {
  struct Case {
    const char* what;
    double parts[STATUS_LIST_PARTS];
    LONG left, right;
    LONG edges[STATUS_LIST_PARTS];  // each segment's right edge
  };
  const Case cases[] = {
      {"quarters", {1, 1, 1, 1}, 20, 420, {120, 220, 320, 420}},
      {"a busy machine", {9120, 210, 5320, 1620}, 20, 434, {252, 257, 393, 434}},
      {"zeros take no room", {0, 0, 3, 1}, 20, 420, {20, 20, 320, 420}},
      {"all in use", {7, 0, 0, 0}, 20, 420, {420, 420, 420, 420}},
      // Thirds of 100: 33.3 and 66.7 round to 33 and 67; the last ends on
      // the right edge, never one short or over.
      {"thirds", {1, 1, 1, 0}, 0, 100, {33, 67, 100, 100}},
      {"sevenths of 10", {1, 1, 1, 4}, 0, 10, {1, 3, 4, 10}},
      {"halves of an odd width", {1, 0, 0, 1}, 0, 5, {3, 3, 3, 5}},
      {"tiny beside huge", {1e-9, 1e9, 0, 0}, 0, 400, {0, 400, 400, 400}},
      {"negative counts as 0", {-50, 1, 0, 1}, 0, 100, {0, 50, 50, 100}},
      {"nothing to share", {0, 0, 0, 0}, 20, 420, {20, 20, 20, 20}},
      {"no width", {1, 2, 3, 4}, 20, 20, {20, 20, 20, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RECT bar = {c.left, 108, c.right, 118};
    RECT segments[STATUS_LIST_PARTS];
    StatusListSegments(c.parts, bar, segments);
    LONG left = bar.left;
    for (int i = 0; i < STATUS_LIST_PARTS; ++i) {
      EXPECT_EQ(segments[i].left, left) << i << ": starts where the one before ends";
      EXPECT_EQ(segments[i].right, c.edges[i]) << i;
      EXPECT_EQ(segments[i].top, 108) << i;
      EXPECT_EQ(segments[i].bottom, 118) << i;
      left = segments[i].right;
    }
  }
}

TEST(StatusPopupListsRow, ListsLineGivesTheFourFiguresInWholeMegabytes) {
  struct Case {
    double parts[STATUS_LIST_PARTS];
    const wchar_t* text;
  };
  const Case cases[] = {
      {{9120, 210, 5320, 1620}, L"In use 9120  Modified 210  Standby 5320  Free 1620 MB"},
      {{9119.6, 0.4, 0, 1620.6}, L"In use 9120  Modified 0  Standby 0  Free 1621 MB"},
      {{1048576, 1048576, 1048576, 1048576},
       L"In use 1048576  Modified 1048576  Standby 1048576  Free 1048576 MB"},
  };
  for (const Case& c : cases) {
    wchar_t text[96];
    wmemset(text, L'#', 96);
    FormatStatusListsLine(text, c.parts);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(StatusPopupListsRow, ListsLineAndBarColoursFitThePalette) {
  // Four colours apart from each other and from what they are drawn on.
  const COLORREF ground[] = {kBackground, kBoxFill, RGB(130, 130, 155)};
  for (int i = 0; i < STATUS_LIST_PARTS; ++i) {
    for (COLORREF g : ground) EXPECT_NE(StatusListColor(i), g) << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(StatusListColor(i), StatusListColor(j)) << i << " " << j;
  }
  // A 1 TB machine's line fits the popup in its font.
  double parts[STATUS_LIST_PARTS] = {1048576, 1048576, 1048576, 1048576};
  wchar_t text[96];
  FormatStatusListsLine(text, parts);
  StatusLayout layout;
  const LONG width = TextWidthInPopupFont(text, true, layout);
  EXPECT_TRUE(layout.lists_row);
  EXPECT_LE(width, layout.client.cx - 2 * layout.margin) << Narrow(text);
}

namespace {

MemoryLists played_lists;
bool played_readable = false;
bool PlayLists(MemoryLists& lists) {
  lists = played_readable ? played_lists : MemoryLists{};
  return played_readable;
}
const StatusPlatform kPlayedLists = {PlayLists};

}  // namespace

TEST_F(StatusPopupFigures, StatusFiguresCarryTheListsOnlyWhenRead) {
  status_.platform = &kPlayedLists;
  played_lists = PlayedLists();
  played_readable = true;
  StatusFigures figures;
  GatherStatusFigures(status_, figures);
  EXPECT_TRUE(figures.lists.readable);
  EXPECT_DOUBLE_EQ(figures.lists.standby_mb, 5320.0);
  EXPECT_DOUBLE_EQ(figures.lists.free_mb, 1500.0);

  played_readable = false;
  GatherStatusFigures(status_, figures);
  EXPECT_FALSE(figures.lists.readable);
  EXPECT_EQ(figures.lists.standby_mb, 0.0);

  // The real reading, which Wine refuses.
  status_.platform = &kListsHere;
  GatherStatusFigures(status_, figures);
  MemoryLists real = {};
  EXPECT_EQ(figures.lists.readable, ReadListsHere(real));
}

TEST_F(StatusPopupFigures, StatusListsTheFiveNewestCleansNewestFirst) {
  StatusTextLine lines[STATUS_RECENT_CLEANS];
  StatusFigures figures;
  GatherStatusFigures(status_, figures);
  ASSERT_EQ(StatusCleanLines(figures.cleans, figures.clean_count, LayOutStatus(96, 52, 16), lines), 1);
  EXPECT_EQ(lines[0].y, 262);
  EXPECT_STREQ(lines[0].text, L"No cleans yet this session");

  for (int i = 1; i <= 7; ++i) RecordClean(status_.clean_history, i * 100.0, i, kUnread, kUnread);
  for (int i = 0; i < 7; ++i)
    status_.clean_history.entries[i].time = SYSTEMTIME{2026, 1, 0, 1, 10, static_cast<WORD>(i + 1), 0, 0};
  GatherStatusFigures(status_, figures);
  ASSERT_EQ(StatusCleanLines(figures.cleans, figures.clean_count, LayOutStatus(96, 52, 16), lines), 5);
  const wchar_t* expected[] = {L"  10:07  Freed 700 MB  (7 procs)", L"  10:06  Freed 600 MB  (6 procs)",
                               L"  10:05  Freed 500 MB  (5 procs)", L"  10:04  Freed 400 MB  (4 procs)",
                               L"  10:03  Freed 300 MB  (3 procs)"};
  for (int j = 0; j < 5; ++j) {
    EXPECT_EQ(lines[j].y, 262 + 17 * j) << j;
    EXPECT_STREQ(lines[j].text, expected[j]) << j;
  }
  EXPECT_EQ(lines[4].y, 330);
}

TEST_F(StatusPopupFigures, StatusFiguresAskTheElevationOncePerRun) {
  for (int v : {40, 41, 42}) PushUsageSample(status_.usage_history, v);
  StatusFigures figures;
  GatherStatusFigures(status_, figures);
  EXPECT_EQ(figures.sample_count, 3);
  EXPECT_EQ(figures.samples[0], 40);
  EXPECT_EQ(figures.samples[2], 42);
  EXPECT_GT(figures.total_gb, 0.0);
  EXPECT_EQ(figures.elevation, IsProcessElevated() ? 1 : 0);
  EXPECT_EQ(status_.elevation, figures.elevation);

  status_.elevation = 0;  // as if the first answer had been "limited"
  GatherStatusFigures(status_, figures);
  EXPECT_EQ(figures.elevation, 0) << "asked again";
}

namespace {

// What DrawStatus paints, in a 32-bit bitmap of the popup's client size.
class StatusPopupPainting : public ::testing::Test {
 protected:
  static constexpr int kWidth = 454;
  static constexpr int kHeight = 358;  // the client height at 100 % with Segoe UI
  void SetUp() override {
    CreateStatusFonts(status_, 96, false);
    ASSERT_NE(status_.font, nullptr);
    ASSERT_NE(status_.large_font, nullptr);
    ZeroMemory(&figures_, sizeof figures_);
    figures_.load_percent = 42;
    figures_.used_gb = 6.7;
    figures_.total_gb = 15.9;
    figures_.elevation = 1;
  }
  void TearDown() override { DeleteStatusFonts(status_); }

  void Draw() {
    BITMAPINFO info = {};
    info.bmiHeader = TopDownHeader(kWidth, height_);
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    DrawStatus(dc, kWidth, height_, status_, figures_);
    GdiFlush();
    picture_.width = kWidth;
    picture_.height = height_;
    picture_.pixels.assign(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + kWidth * height_);
    // DrawStatus leaves the DC as it found it.
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  COLORREF At(int x, int y) const { return picture_.At(x, y); }
  int CountIn(const RECT& area, COLORREF colour) const {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) count += At(x, y) == colour;
    return count;
  }
  void SetSamples(int count, int32_t (*load)(int i)) {
    figures_.sample_count = count;
    for (int i = 0; i < count; ++i) figures_.samples[i] = load(i);
  }

  StatusFigures figures_;
  StatusState status_;
  int height_ = kHeight;
  PixelImage picture_;
};

}  // namespace

TEST_F(StatusPopupPainting, DarkPanelFramedBoxAndGraphOnTheLoadRows) {
  // The first half of five minutes at load 0, the second at 100.
  SetSamples(300, [](int i) { return i < 150 ? 0 : 100; });
  Draw();
  EXPECT_EQ(At(0, 0), kBackground);
  EXPECT_EQ(At(kWidth - 1, kHeight - 1), kBackground);
  EXPECT_EQ(At(10, 150), kBackground) << "left of the box";
  // Box outline on its four sides.
  EXPECT_EQ(At(20, 150), kBoxLine);
  EXPECT_EQ(At(kWidth - 21, 150), kBoxLine);
  EXPECT_EQ(At(200, 108), kBoxLine);
  EXPECT_EQ(At(200, 207), kLine) << "load 0 lies on row 207";
  EXPECT_EQ(At(100, 207), kLine);
  EXPECT_EQ(At(100, 150), kBoxFill) << "nothing above load 0";
  EXPECT_EQ(At(100, 208), kBackground) << "the box ends above row 208";
  EXPECT_EQ(At(kWidth - 21, 207), kBoxLine) << "the box's bottom edge, where no line runs";
  EXPECT_EQ(At(300, 109), kLine) << "load 100 lies on row 109";
  EXPECT_EQ(At(430, 109), kLine);
  EXPECT_EQ(At(300, 150), kArea) << "the area under the line";
  EXPECT_EQ(At(300, 206), kArea);
  EXPECT_EQ(At(kWidth / 2, 234), kBoxLine) << "separator";
  EXPECT_EQ(At(10, 234), kBackground);
}

TEST_F(StatusPopupPainting, SteadyLoadDrawsOneRowAndAnEmptyBoxWithoutHistory) {
  SetSamples(300, [](int) { return 50; });
  Draw();
  for (int x : {21, 200, 430}) EXPECT_EQ(At(x, 158), kLine) << x;
  EXPECT_EQ(At(200, 157), kBoxFill);
  EXPECT_EQ(At(200, 159), kArea);
  EXPECT_EQ(At(200, 206), kArea);

  // A record that claims more than it holds is drawn from what it holds.
  figures_.sample_count = 1000000;
  figures_.clean_count = 1000000;
  Draw();
  for (int x : {21, 200, 430}) EXPECT_EQ(At(x, 158), kLine) << x;

  SetSamples(1, [](int) { return 50; });
  Draw();
  const RECT inside = {21, 109, kWidth - 21, 207};
  EXPECT_EQ(CountIn(inside, kBoxFill), (inside.right - inside.left) * (inside.bottom - inside.top))
      << "one sample: no graph";
}

TEST_F(StatusPopupPainting, FiveCleansAllDrawnWholeInsideTheClientArea) {
  for (int i = 0; i < STATUS_RECENT_CLEANS; ++i) {
    figures_.cleans[i].time = SYSTEMTIME{2026, 1, 0, 1, 10, static_cast<WORD>(i), 0, 0};
    figures_.cleans[i].freed_mb = 100.0 * (i + 1);
    figures_.cleans[i].processes = 40 + i;
  }
  figures_.clean_count = STATUS_RECENT_CLEANS;
  Draw();
  const StatusLayout& layout = status_.layout;
  ASSERT_LE(layout.client.cy, kHeight);
  for (int j = 0; j < STATUS_RECENT_CLEANS; ++j) {
    const int top = layout.first_clean_y + j * layout.line_step;
    const RECT band = {20, top, 300, top + layout.line_step};
    EXPECT_GT(280 * layout.line_step - CountIn(band, kBackground), 20) << "line " << j << " drawn";
  }
  // Below the last line only background down to the client's bottom.
  const int below = layout.first_clean_y + 5 * layout.line_step;
  EXPECT_EQ(CountIn({0, below, kWidth, layout.client.cy}, kBackground), kWidth * (layout.client.cy - below));
}

TEST_F(StatusPopupPainting, LoadFigureInItsColourAndTheBadgeAtTheRight) {
  const RECT figure = {20, 18, 200, 76};
  for (int load : {42, 70, 91}) {
    figures_.load_percent = load;
    Draw();
    for (int other : {42, 70, 91}) {
      int count = CountIn(figure, StatusLoadColor(other));
      if (other == load) EXPECT_GT(count, 30) << load;
      else EXPECT_EQ(count, 0) << load << " drawn in the colour of " << other;
    }
  }

  // The badge ends 16 pixels from the right edge, in its colour.
  for (int elevation : {1, 0}) {
    figures_.elevation = elevation;
    Draw();
    COLORREF colour = elevation ? RGB(50, 210, 80) : RGB(130, 130, 155);
    int rightmost = -1;
    for (int y = 18; y < 60; ++y)
      for (int x = kWidth / 2; x < kWidth; ++x)
        if (At(x, y) != kBackground) rightmost = x > rightmost ? x : rightmost;
    EXPECT_LE(rightmost, kWidth - 17) << elevation;
    EXPECT_GE(rightmost, kWidth - 26) << elevation;
    EXPECT_GT(CountIn({kWidth / 2, 18, kWidth, 60}, colour), 5) << elevation;
  }
}

// Wine cannot read the lists: the row drawn here from played figures is the
// only sight of it under Wine, and the README's picture of it.
TEST_F(StatusPopupPainting, ListsRowIsAStackedBarInItsColoursWithTheFiguresUnderIt) {
  CreateStatusFonts(status_, 96, true);
  const StatusLayout& layout = status_.layout;
  ASSERT_TRUE(layout.lists_row);
  height_ = layout.client.cy;
  figures_.total_gb = kPlayedTotalMb / 1024.0;
  figures_.used_gb = 9.0;
  figures_.load_percent = 56;
  figures_.lists = PlayedLists();
  SetSamples(300, [](int i) { return 48 + (i % 60 < 30 ? i % 30 : 30 - i % 30) / 3 + (i > 230 ? 8 : 0); });
  for (int i = 0; i < STATUS_RECENT_CLEANS; ++i) {
    CleanRecord& record = figures_.cleans[i];
    record.time = SYSTEMTIME{2026, 1, 0, 1, 9, static_cast<WORD>(5 + 11 * i), 0, 0};
    record.freed_mb = 400.0 + 211.0 * i;
    record.processes = 80 + i;
    record.lists_read = true;
    record.standby_before_mb = 6000.0;
    record.standby_after_mb = 5600.0 - 150.0 * i;
  }
  figures_.clean_count = STATUS_RECENT_CLEANS;
  Draw();

  // Each part in its colour over its share of the bar: in use 9120, modified
  // 210, standby 5320 and free 1500 + 120 of 16270 MB over 414 pixels.
  EXPECT_EQ(layout.lists_bar_top, 108);
  const LONG edges[] = {20, 252, 257, 393, 434};
  for (int part = 0; part < STATUS_LIST_PARTS; ++part) {
    SCOPED_TRACE(part);
    const COLORREF colour = StatusListColor(part);
    for (LONG x : {edges[part], (edges[part] + edges[part + 1]) / 2, edges[part + 1] - 1}) {
      EXPECT_EQ(At(x, 108), colour) << x;
      EXPECT_EQ(At(x, 117), colour) << x;
    }
    EXPECT_EQ(At((edges[part] + edges[part + 1]) / 2, 107), kBackground);
    EXPECT_EQ(At((edges[part] + edges[part + 1]) / 2, 118), kBackground) << "10 pixels high";
  }
  EXPECT_EQ(At(19, 113), kBackground);
  EXPECT_EQ(At(434, 113), kBackground) << "the bar ends with the box's right edge";
  // The figures in the secondary colour under the bar, then the box, 42
  // pixels lower than without the row.
  const RECT figures_line = {20, layout.lists_text_y, 434, layout.lists_text_y + 16};
  EXPECT_GT(CountIn(figures_line, RGB(130, 130, 155)), 100);
  EXPECT_EQ(layout.box_top, 150);
  EXPECT_EQ(At(200, 150), kBoxLine) << "the graph box's top";
  EXPECT_EQ(At(kWidth - 21, 200), kBoxLine);
  EXPECT_EQ(At(kWidth / 2, 276), kBoxLine) << "the separator, 42 lower";
  EXPECT_TRUE(KeepPicture(picture_, "status-popup-lists-96.bmp"));
}

TEST_F(StatusPopupPainting, WithoutTheRowThePopupIsDrawnAsBefore) {
  SetSamples(300, [](int i) { return i % 100; });
  figures_.total_gb = kPlayedTotalMb / 1024.0;
  // Laid out without the row (the lists could not be read on opening):
  // figures that arrive later change nothing.
  Draw();
  const std::vector<DWORD> unread = picture_.pixels;
  figures_.lists = PlayedLists();
  Draw();
  EXPECT_TRUE(picture_.pixels == unread) << "the lists drew on a popup without their row";
  EXPECT_EQ(At(200, 108), kBoxLine) << "the box where it always was";

  // Laid out with the row, but the lists went unreadable: a blank row.
  CreateStatusFonts(status_, 96, true);
  height_ = status_.layout.client.cy;
  figures_.lists = kUnread;
  Draw();
  const RECT row = {0, status_.layout.lists_bar_top, kWidth, status_.layout.box_top};
  EXPECT_EQ(CountIn(row, kBackground), kWidth * (row.bottom - row.top));
  EXPECT_EQ(At(200, status_.layout.box_top), kBoxLine);
}

namespace {

// The real popup, owned by the program's hidden shell window.
class StatusPopupWindow : public ProgramWindowTest {
 protected:
  StatusPopupWindow() : ProgramWindowTest(true) {}
  void TearDown() override {
    if (other_) DestroyWindow(other_);
    ProgramWindowTest::TearDown();
  }
  // A click on the tray icon, and the double-click time after it.
  void TrayClick() {
    Send(WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP);
    Send(WM_TIMER, TIMER_TRAY_CLICK);
  }
  // Another window of this program takes the activation, as a click on
  // the taskbar or on another window would.
  void ActivateAnotherWindow() {
    if (!other_)
      other_ = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 50, 50, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
    SetForegroundWindow(other_);
    PumpMessages();
  }
  // Popups of this thread, open or not yet destroyed.
  static int CountPopups() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM counter) {
          wchar_t name[32] = {};
          GetClassNameW(window, name, 32);
          if (wcscmp(name, L"QuillmereStatus") == 0) ++*reinterpret_cast<int*>(counter);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
  }
  HWND other_ = nullptr;
};

}  // namespace

TEST_F(StatusPopupWindow, OpensOnceAboveTheWorkAreaCornerAndClosesCompletely) {
  CloseStatusWindow(app.status);
  InvalidateStatusWindow(app.status);
  EXPECT_FALSE(IsStatusWindowOpen(app.status)) << "closing or repainting nothing does nothing";

  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  wchar_t title[32] = {}, name[32] = {};
  GetWindowTextW(popup, title, 32);
  GetClassNameW(popup, name, 32);
  EXPECT_STREQ(title, L"Quillmere");
  EXPECT_STREQ(name, L"QuillmereStatus");
  // No tray icon here, so the shell cannot say where it is: 12 pixels in
  // from the bottom-right corner of the work area, its client area holding
  // the whole layout.
  RECT work = {}, placed = {}, client = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(popup, &placed);
  GetClientRect(popup, &client);
  EXPECT_EQ(placed.right, work.right - 12);
  EXPECT_EQ(placed.bottom, work.bottom - 12);
  EXPECT_EQ(client.right, 454);
  EXPECT_EQ(client.bottom, app.status.layout.client.cy);
  EXPECT_GE(client.bottom, 262 + 4 * 17 + 14) << "room for the fifth clean line";
  EXPECT_EQ(app.status.layout.figure_y, 18) << "at 100 %";
  const DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
  EXPECT_EQ(GetWindowLongW(popup, GWL_STYLE) & style, style);
  EXPECT_EQ(GetWindowLongW(popup, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE),
            static_cast<LONG>(WS_EX_TOPMOST | WS_EX_TOOLWINDOW)) << "activatable once made";
  EXPECT_EQ(GetWindow(popup, GW_OWNER), app.shell_window) << "owned by the hidden top-level window";
  EXPECT_EQ(GetForegroundWindow(), popup);
  EXPECT_NE(app.status.font, nullptr);
  EXPECT_NE(app.status.large_font, nullptr);

  ShowStatusPopup(app.shell_window);
  EXPECT_EQ(app.status.window, popup);
  EXPECT_EQ(CountPopups(), 1);

  UpdateWindow(popup);
  EXPECT_EQ(WindowPixel(popup, 2, 2), kBackground) << "painted";

  CloseStatusWindow(app.status);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_FALSE(IsWindow(popup));
  EXPECT_EQ(app.status.font, nullptr);
  EXPECT_EQ(app.status.large_font, nullptr);
  EXPECT_EQ(app.status.closed_by_deactivation_tick, 0u) << "closed by the program, not by a click elsewhere";
  ShowStatusPopup(app.shell_window);
  EXPECT_TRUE(IsStatusWindowOpen(app.status)) << "opens again";
  EXPECT_NE(app.status.font, nullptr);
}

// The popup is sized on opening for the lists as they could be read then.
TEST_F(StatusPopupWindow, GrowsByTheListsRowOnlyWhenTheListsCanBeRead) {
  app.status.platform = &kPlayedLists;
  played_lists = PlayedLists();
  struct Case {
    const char* what;
    bool readable;
  };
  int heights[2] = {};
  for (const Case& c : {Case{"unreadable, as under Wine", false}, Case{"readable", true}}) {
    SCOPED_TRACE(c.what);
    played_readable = c.readable;
    ShowStatusPopup(app.shell_window);
    ASSERT_TRUE(IsStatusWindowOpen(app.status));
    RECT client = {};
    GetClientRect(app.status.window, &client);
    EXPECT_EQ(app.status.layout.lists_row, c.readable);
    EXPECT_EQ(client.bottom, app.status.layout.client.cy);
    heights[c.readable] = client.bottom;
    if (c.readable) {
      // The lists going unreadable while it is open keep its size.
      played_readable = false;
      InvalidateStatusWindow(app.status);
      UpdateWindow(app.status.window);
      GetClientRect(app.status.window, &client);
      EXPECT_EQ(client.bottom, heights[1]);
      EXPECT_EQ(WindowPixel(app.status.window, 200, app.status.layout.lists_bar_top + 5), kBackground)
          << "a blank row";
    }
    CloseStatusWindow(app.status);
  }
  EXPECT_EQ(heights[1] - heights[0], 42) << "the row at 100 %";
}

TEST_F(StatusPopupWindow, EscAndLostActivationCloseIt) {
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  SendMessageW(app.status.window, WM_KEYDOWN, 'A', 0);
  SendMessageW(app.status.window, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_TRUE(IsStatusWindowOpen(app.status)) << "other keys are ignored";
  SendMessageW(app.status.window, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(app.status.closed_by_deactivation_tick, 0u);

  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  uint64_t before = GetTickCount64();
  ActivateAnotherWindow();
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(CountPopups(), 0);
  EXPECT_GE(app.status.closed_by_deactivation_tick, before);
  EXPECT_EQ(app.status.font, nullptr);
}

TEST_F(StatusPopupWindow, ReleaseOfTheClickThatClosedItDoesNotReopenIt) {
  TrayClick();
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  // The press on the tray icon takes the activation first...
  ActivateAnotherWindow();
  ASSERT_FALSE(IsStatusWindowOpen(app.status));
  // ...then its release arrives.
  TrayClick();
  EXPECT_FALSE(IsStatusWindowOpen(app.status)) << "the click that closed the popup opened it again";

  // Every other way of opening works at once.
  Send(WM_COMMAND, IDM_STATUS);
  EXPECT_TRUE(IsStatusWindowOpen(app.status));
  ActivateAnotherWindow();
  ASSERT_FALSE(IsStatusWindowOpen(app.status));
  ShowStatusPopup(app.shell_window);
  EXPECT_TRUE(IsStatusWindowOpen(app.status));

  // Once the double-click time has passed, a click opens it again.
  CloseStatusWindow(app.status);
  app.status.closed_by_deactivation_tick -= GetDoubleClickTime();
  TrayClick();
  EXPECT_TRUE(IsStatusWindowOpen(app.status));
}

TEST_F(StatusPopupWindow, RefreshRepaintsAndTheMainWindowsEndClosesIt) {
  ShowStatusPopup(app.shell_window);
  HWND popup = app.status.window;
  ASSERT_NE(popup, nullptr);
  UpdateWindow(popup);
  RECT dirty = {};
  EXPECT_FALSE(GetUpdateRect(popup, &dirty, FALSE));
  RefreshTray();
  ASSERT_TRUE(GetUpdateRect(popup, &dirty, FALSE)) << "the refresh asks for a repaint";
  RECT client = {};
  GetClientRect(popup, &client);
  EXPECT_TRUE(EqualRect(&dirty, &client)) << "of the whole client area";

  DestroyWindow(app.main_window);
  EXPECT_FALSE(IsWindow(popup));
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
}

// The popup works on the record it is given and on no other: its window,
// fonts, lists and close all stay in that record.
TEST(StatusPopupOnItsOwnRecord, OpensPaintsAndClosesWithinTheRecordItIsGiven) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  const HWND program_popup = app.status.window;
  played_lists = PlayedLists();
  played_readable = true;
  StatusState status = {.platform = &kPlayedLists};
  const RECT no_icon = {};
  ShowStatusWindow(status, owner, no_icon);
  ASSERT_TRUE(IsStatusWindowOpen(status));
  EXPECT_EQ(GetWindow(status.window, GW_OWNER), owner);
  EXPECT_NE(status.font, nullptr);
  EXPECT_TRUE(status.layout.lists_row) << "the lists read through the record's own platform";
  EXPECT_EQ(app.status.window, program_popup) << "the program's record is not the popup's";
  UpdateWindow(status.window);
  EXPECT_EQ(WindowPixel(status.window, 2, 2), kBackground) << "painted";
  SendMessageW(status.window, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(IsStatusWindowOpen(status));
  EXPECT_EQ(status.font, nullptr);
  EXPECT_EQ(status.large_font, nullptr);
  played_readable = false;
  DestroyWindow(owner);
}

// Fills the process's GDI and USER tables to within 1,000 of full: a popup
// that leaked one object per showing would stop opening or painting long
// before 2,000 of them.
TEST_F(StatusPopupWindow, OpeningAndClosingLeaksNoGdiOrUserObject) {
  for (int v : {30, 60, 90}) PushUsageSample(app.status.usage_history, v);
  RecordClean(app.status.clean_history, 12.5, 3, kUnread, kUnread);
  ShowStatusPopup(app.shell_window);
  CloseStatusWindow(app.status);
  PumpMessages();
  FilledHandleTables tables;
  ASSERT_TRUE(FillHandleTables(tables, 1000));

  bool all_painted = true;
  int i = 0;
  for (; i < 2000 && all_painted; ++i) {
    ShowStatusPopup(app.shell_window);
    if (!IsStatusWindowOpen(app.status)) break;
    UpdateWindow(app.status.window);
    all_painted = WindowPixel(app.status.window, 2, 2) == kBackground &&
                  WindowPixel(app.status.window, 30, 112) == kBoxFill;
    CloseStatusWindow(app.status);
    PumpMessages();
  }
  EXPECT_EQ(i, 2000) << "popup " << i << " could not open or paint";
  EXPECT_TRUE(all_painted);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_TRUE(RoomForMore(500));
  FreeHandleTables(tables);
}
