// Session history rings, the status popup's figures, graph, layout,
// placement, text and painting, and the real popup window.
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "clean/clean.h"
#include "common/dpi.h"
#include "common/language.h"
#include "common/system.h"
#include "common/text.h"
#include "status/status_internal.h"
#include "tests/support.h"
#include "tests/support/in_language.h"
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
// The commit charge and the holders as the program reads them.
const StatusPlatform kListsHere = {ReadListsHere,   IsHighContrastOn,        GetSysColor,
                                   SHAppBarMessage, SetStatusAccessibleName, ClearStatusAccessibleName,
                                   ReadProgramCommit, ReadProgramMemoryHolders, ReadAppsUseLightTheme,
                                   NotifyWinEvent};

namespace {

// The popup's platform as the tests play it: the lists as `played_lists`
// when `played_readable`; the theme as `played_theme`; the taskbar as
// `played_taskbar` (none when empty: the shell cannot say); every
// accessible name set or cleared kept in `name_calls`, in order.
MemoryLists played_lists;
bool played_readable = false;
bool PlayLists(MemoryLists& lists) {
  lists = played_readable ? played_lists : MemoryLists{};
  return played_readable;
}
struct PlayedTheme {
  bool high_contrast;
  StatusSystemColours colours;
  bool light = false;  // the app mode
};
PlayedTheme played_theme = {};
bool PlayHighContrast() { return played_theme.high_contrast; }
bool PlayLightMode() { return played_theme.light; }
DWORD WINAPI PlaySystemColour(int index) {
  switch (index) {
    case COLOR_WINDOW:
      return played_theme.colours.window;
    case COLOR_WINDOWTEXT:
      return played_theme.colours.window_text;
    case COLOR_HIGHLIGHT:
      return played_theme.colours.highlight;
    case COLOR_GRAYTEXT:
      return played_theme.colours.gray_text;
    default:
      return RGB(255, 0, 255);  // a colour the popup must never ask for
  }
}
StatusTaskbar played_taskbar = {};
UINT_PTR WINAPI PlayAppBarMessage(DWORD message, APPBARDATA* data) {
  if (message != ABM_GETTASKBARPOS || data->cbSize != sizeof *data || IsRectEmpty(&played_taskbar.rect)) return FALSE;
  data->rc = played_taskbar.rect;
  data->uEdge = played_taskbar.edge;
  return TRUE;
}
struct NameCall {
  bool set;  // false: cleared
  HWND window;
  std::wstring text;
  std::wstring description;
};
std::vector<NameCall> name_calls;
bool PlaySetName(StatusAnnotation&, HWND window, const wchar_t* name, const wchar_t* description) {
  name_calls.push_back({true, window, name, description});
  return true;
}
void PlayClearName(StatusAnnotation&, HWND window) { name_calls.push_back({false, window, L"", L""}); }
// Every event raised for screen readers, in order.
struct WinEvent {
  DWORD event;
  HWND window;
  LONG object, child;
};
std::vector<WinEvent> win_events;
void WINAPI PlayNotifyEvent(DWORD event, HWND window, LONG object, LONG child) {
  win_events.push_back({event, window, object, child});
}
// The commit charge as `played_commit` (none unless readable); the holders
// as `played_holders`, each reading counted.
CommitCharge played_commit = {};
bool PlayCommit(CommitCharge& commit) {
  commit = played_commit;
  return commit.readable;
}
TopMemoryHolders played_holders = {};
int holders_read = 0;
bool PlayHolders(TopMemoryHolders& top) {
  ++holders_read;
  top = played_holders;
  return top.count > 0;
}
const StatusPlatform kPlayedPlatform = {PlayLists,         PlayHighContrast, PlaySystemColour,
                                        PlayAppBarMessage, PlaySetName,      PlayClearName,
                                        PlayCommit,        PlayHolders,      PlayLightMode,
                                        PlayNotifyEvent};
void ResetPlayedPlatform() {
  played_commit = {};
  played_holders = {};
  holders_read = 0;
  played_lists = {};
  played_readable = false;
  played_theme = {};
  win_events.clear();
  played_taskbar = {};
  name_calls.clear();
}

// Windows' own high-contrast themes: Black and White.
const StatusSystemColours kContrastBlack = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(26, 235, 255), RGB(63, 242, 63)};
const StatusSystemColours kContrastWhite = {RGB(255, 255, 255), RGB(0, 0, 0), RGB(55, 0, 110), RGB(96, 0, 0)};

// No taskbar, or the shell cannot say where.
const StatusTaskbar kNoTaskbar = {};

// The popup's own dark palette.
const StatusPalette kNormal = ChooseStatusPalette(false, {});

// Text metrics with these heights and no width beyond the popup's own.
StatusTextMetrics Heights(int figure_ascent, int text_height) {
  StatusTextMetrics metrics = {};
  metrics.figure_ascent = figure_ascent;
  metrics.text_height = text_height;
  return metrics;
}

}  // namespace
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
  MemoryLists before = {true, 10.0, 20.0, 300.0, 4000.0, 0};
  MemoryLists after = {true, 900.0, 800.0, 7.0, 50.0, 0};
  MemoryLists failed = {false, 0, 0, 0, 0, 0};
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
RECT Box(int width) { return StatusGraphBox(LayOutStatus(96, Heights(52, 16)), width); }

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
                            {79, RGB(255, 195, 0)}, {80, RGB(235, 75, 75)}, {100, RGB(235, 75, 75)}};
  for (const Colour& c : colours) EXPECT_EQ(StatusLoadColor(kNormal, c.load), c.colour) << c.load;

  LOGFONTW normal = {};
  normal.lfHeight = -12;
  normal.lfWeight = FW_NORMAL;
  LOGFONTW large = LargeStatusFont(normal);
  EXPECT_EQ(large.lfHeight, -48);
  EXPECT_EQ(large.lfWeight, 700);
  EXPECT_EQ(LargeStatusFont(LOGFONTW{}).lfHeight, 0);
}

// Every text the popup draws, on the background it is drawn on, at a
// contrast of at least 4.5:1 in both of its own palettes: the heading, the
// secondary lines, the load figure and the commit line in each band, the
// badge.
TEST(StatusPopupColours, EveryTextStandsOutFromItsBackgroundInBothModes) {
  for (bool light : {false, true}) {
    SCOPED_TRACE(light ? "light" : "dark");
    const StatusPalette p = ChooseStatusPalette(false, {}, light);
    struct Pair {
      const char* what;
      COLORREF text, ground;
    };
    const Pair pairs[] = {
        {"heading", p.heading, p.background},      {"secondary", p.secondary, p.background},
        {"low load", p.load[0], p.background},     {"high load", p.load[1], p.background},
        {"critical load", p.load[2], p.background}, {"badge", p.admin, p.background},
    };
    for (const Pair& pair : pairs) EXPECT_GE(ContrastRatio(pair.text, pair.ground), 4.5) << pair.what;
  }
  // The ratio itself, against WCAG's figures.
  EXPECT_NEAR(ContrastRatio(RGB(0, 0, 0), RGB(255, 255, 255)), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(RGB(255, 255, 255), RGB(0, 0, 0)), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(RGB(118, 118, 118), RGB(255, 255, 255)), 4.54, 0.01);
  EXPECT_NEAR(ContrastRatio(RGB(20, 20, 28), RGB(20, 20, 28)), 1.0, 1e-9);
}

// Light mode keeps each band's meaning: green low, amber high, red
// critical, blue graph; lighter where the dark palette is dark.
TEST(StatusPopupColours, LightPaletteMeansWhatTheDarkOneMeans) {
  const StatusPalette dark = ChooseStatusPalette(false, {}, false);
  const StatusPalette light = ChooseStatusPalette(false, {}, true);
  auto hue = [](COLORREF c) {  // 0 red ... 120 green ... 240 blue
    double r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    double most = std::max({r, g, b}), least = std::min({r, g, b});
    if (most == least) return -1.0;
    double h = most == r ? 60 * (g - b) / (most - least) : most == g ? 120 + 60 * (b - r) / (most - least)
                                                                       : 240 + 60 * (r - g) / (most - least);
    return h < 0 ? h + 360 : h;
  };
  for (const StatusPalette& p : {dark, light}) {
    EXPECT_NEAR(hue(p.load[LOAD_BAND_LOW]), 120, 20) << "green";
    EXPECT_NEAR(hue(p.load[LOAD_BAND_HIGH]), 40, 15) << "amber";
    EXPECT_TRUE(hue(p.load[LOAD_BAND_CRITICAL]) < 15 || hue(p.load[LOAD_BAND_CRITICAL]) > 345) << "red";
    EXPECT_NEAR(hue(p.graph_line), 210, 15) << "blue";
    EXPECT_EQ(p.lists[LIST_MODIFIED], p.load[LOAD_BAND_HIGH]);
    EXPECT_EQ(p.lists[LIST_FREE], p.load[LOAD_BAND_LOW]);
    EXPECT_EQ(p.lists_outline, p.background) << "no outline";
    EXPECT_FALSE(p.band_in_words);
  }
  EXPECT_GT(ContrastRatio(light.background, RGB(0, 0, 0)), 19.0) << "a light background";
  EXPECT_LT(ContrastRatio(dark.background, RGB(0, 0, 0)), 1.5) << "a dark background";
  // High contrast wins over the app mode.
  const StatusPalette contrast = ChooseStatusPalette(true, kContrastWhite, true);
  EXPECT_EQ(contrast.background, kContrastWhite.window);
  EXPECT_TRUE(contrast.band_in_words);
}

TEST(StatusPopupColours, AppModeAndTitleBarFromTheUsersSetting) {
  struct Mode {
    bool read;
    DWORD value;
    bool light;
  };
  const Mode modes[] = {{true, 0, false}, {true, 1, true}, {false, 0, true}, {true, 7, true}};
  for (const Mode& m : modes) EXPECT_EQ(IsLightAppMode(m.read, m.value), m.light) << m.read << " " << m.value;
  struct Bar {
    bool high_contrast, light, dark;
  };
  const Bar bars[] = {{false, false, true}, {false, true, false}, {true, false, false}, {true, true, false}};
  for (const Bar& b : bars)
    EXPECT_EQ(ChooseStatusPalette(b.high_contrast, kContrastBlack, b.light).dark_title_bar, b.dark)
        << b.high_contrast << " " << b.light;
}

TEST(StatusPopupColours, OwnDarkPaletteOrTheSystemsFourColoursUnderHighContrast) {
  // Normal: the popup's own colours, whatever the system's are.
  for (const StatusSystemColours& system : {StatusSystemColours{}, kContrastBlack, kContrastWhite}) {
    const StatusPalette palette = ChooseStatusPalette(false, system);
    EXPECT_EQ(palette.background, kBackground);
    EXPECT_EQ(palette.heading, RGB(230, 230, 240));
    EXPECT_EQ(palette.secondary, RGB(130, 130, 155));
    EXPECT_EQ(palette.box_fill, kBoxFill);
    EXPECT_EQ(palette.box_line, kBoxLine);
    EXPECT_EQ(palette.graph_area, kArea);
    EXPECT_EQ(palette.graph_line, kLine);
    EXPECT_EQ(palette.load[LOAD_BAND_LOW], RGB(50, 210, 80));
    EXPECT_EQ(palette.load[LOAD_BAND_HIGH], RGB(255, 195, 0));
    EXPECT_EQ(palette.load[LOAD_BAND_CRITICAL], RGB(235, 75, 75));
    EXPECT_EQ(palette.admin, RGB(50, 210, 80));
    const COLORREF lists[] = {kLine, RGB(255, 195, 0), RGB(110, 100, 170), RGB(50, 210, 80)};
    for (int part = 0; part < STATUS_LIST_PARTS; ++part) EXPECT_EQ(palette.lists[part], lists[part]) << part;
    EXPECT_EQ(palette.lists_outline, kBackground) << "no outline";
    EXPECT_FALSE(palette.band_in_words);
  }

  // High contrast: each part in the system's colour for its role.
  for (const StatusSystemColours& system : {kContrastBlack, kContrastWhite}) {
    SCOPED_TRACE(system.window);
    const StatusPalette palette = ChooseStatusPalette(true, system);
    EXPECT_EQ(palette.background, system.window);
    EXPECT_EQ(palette.heading, system.window_text);
    EXPECT_EQ(palette.secondary, system.gray_text);
    EXPECT_EQ(palette.box_fill, system.window);
    EXPECT_EQ(palette.box_line, system.window_text);
    EXPECT_EQ(palette.graph_area, system.highlight);
    EXPECT_EQ(palette.graph_line, system.highlight);
    for (COLORREF load : palette.load) EXPECT_EQ(load, system.highlight) << "one colour for every band";
    EXPECT_TRUE(palette.band_in_words) << "so the band is written";
    EXPECT_EQ(palette.admin, system.window_text);
    EXPECT_EQ(palette.lists[LIST_IN_USE], system.highlight);
    EXPECT_EQ(palette.lists[LIST_MODIFIED], system.window_text);
    EXPECT_EQ(palette.lists[LIST_STANDBY], system.gray_text);
    EXPECT_EQ(palette.lists[LIST_FREE], system.window);
    EXPECT_EQ(palette.lists_outline, system.window_text);
    // Nothing of the popup's own colours is left.
    const COLORREF every[] = {palette.background, palette.heading,    palette.secondary,     palette.box_fill,
                              palette.box_line,   palette.graph_area, palette.graph_line,    palette.admin,
                              palette.load[0],    palette.load[1],    palette.load[2],       palette.lists[0],
                              palette.lists[1],   palette.lists[2],   palette.lists[3],      palette.lists_outline};
    for (COLORREF colour : every) {
      EXPECT_TRUE(colour == system.window || colour == system.window_text || colour == system.highlight ||
                  colour == system.gray_text)
          << std::hex << colour;
    }
  }
}

TEST(StatusPopupColours, LoadBandInWords) {
  struct Case {
    int load;
    const wchar_t* word;
  };
  const Case cases[] = {{0, L"Low"},       {59, L"Low"},       {60, L"High"},     {79, L"High"},
                        {80, L"Critical"}, {100, L"Critical"}, {-5, L"Low"},      {250, L"Critical"}};
  for (const Case& c : cases) {
    wchar_t word[STATUS_WORD_CAPACITY];
    EXPECT_STREQ(StatusLoadBandWord(c.load, word), c.word) << c.load;
  }
}

TEST(StatusPopupTitleBar, DarkThroughAttribute20Or19WhereTwentyIsRefused) {
  struct Attempt {
    DWORD attribute;
    BOOL value;
    DWORD size;
  };
  static std::vector<Attempt> attempts;
  static HRESULT answer_20, answer_19;
  const SetWindowAttributeFunction play = [](HWND, DWORD attribute, LPCVOID value, DWORD size) -> HRESULT {
    attempts.push_back({attribute, *static_cast<const BOOL*>(value), size});
    return attribute == 20 ? answer_20 : attribute == 19 ? answer_19 : E_INVALIDARG;
  };
  struct Case {
    const char* what;
    HRESULT answer_20, answer_19;
    bool taken;
    std::vector<DWORD> tried;
  };
  const Case cases[] = {
      {"Windows 10 20H1 on, 11", S_OK, S_OK, true, {20}},
      {"Windows 10 1809 to 1909", E_INVALIDARG, S_OK, true, {20, 19}},
      {"Windows 7 to 10 1803", E_INVALIDARG, E_INVALIDARG, false, {20, 19}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool dark : {true, false}) {
      attempts.clear();
      answer_20 = c.answer_20;
      answer_19 = c.answer_19;
      EXPECT_EQ(SetStatusTitleBarDark(nullptr, dark, play), c.taken);
      ASSERT_EQ(attempts.size(), c.tried.size());
      for (size_t i = 0; i < attempts.size(); ++i) {
        EXPECT_EQ(attempts[i].attribute, c.tried[i]);
        EXPECT_EQ(attempts[i].value, dark ? TRUE : FALSE) << "dark asked for, or taken back";
        EXPECT_EQ(attempts[i].size, sizeof(BOOL));
      }
    }
  }
}

TEST(StatusPopupAccessibleName, DescribesTheLoadMemoryCommitElevationNewestCleanAndTopHolder) {
  auto clean = [](WORD hour, WORD minute, double freed) {
    CleanRecord record = {};
    record.time.wHour = hour;
    record.time.wMinute = minute;
    record.freed_mb = freed;
    record.processes = 87;
    return record;
  };
  TopMemoryHolders edge = {};
  edge.count = 2;
  wcscpy(edge.holders[0].name, L"msedge.exe");
  edge.holders[0].working_set_bytes = 3328599654ull;  // 3.1 GB
  edge.holders[0].processes = 24;
  wcscpy(edge.holders[1].name, L"code.exe");
  edge.holders[1].working_set_bytes = 1ull << 30;
  edge.holders[1].processes = 9;
  const CommitCharge commit = CommitChargeOf(15247133082ull, 25769803776ull);  // 14.2 / 24.0 GB (59%)
  struct Case {
    const char* what;
    int32_t load;
    double used, total;
    int32_t elevation, clean_count;
    bool with_commit, with_holders;
    const wchar_t* text;
  };
  const Case cases[] = {
      {"everything", 37, 11.74, 31.9, 1, 2, true, true,
       L"Memory load 37%. 11.7 of 31.9 GB used. Commit 14.2 / 24.0 GB (59%). Admin. Last clean 09:05, freed 1235 MB. "
       L"Most memory: msedge.exe  3.1 GB  (24)."},
      {"admin, two cleans, no commit or holders", 37, 11.74, 31.9, 1, 2, false, false,
       L"Memory load 37%. 11.7 of 31.9 GB used. Admin. Last clean 09:05, freed 1235 MB."},
      {"limited, no cleans", 81, 15.0, 15.9, 0, 0, true, false,
       L"Memory load 81%. 15.0 of 15.9 GB used. Commit 14.2 / 24.0 GB (59%). Limited. No cleans yet this session."},
      {"five cleans", 5, 1.0, 64.0, 1, 5, false, true,
       L"Memory load 5%. 1.0 of 64.0 GB used. Admin. Last clean 23:59, freed 0 MB. Most memory: msedge.exe  3.1 GB  (24)."},
      // A record that claims more than it holds names the newest it holds.
      {"a count past the five", 50, 8.0, 16.0, 0, 1000000, false, false,
       L"Memory load 50%. 8.0 of 16.0 GB used. Limited. Last clean 23:59, freed 0 MB."},
      // A failed reading shows as it does on the popup.
      {"nothing read", 0, 0.0, 0.0, 0, 0, false, false,
       L"Memory load 0%. 0.0 of 0.0 GB used. Limited. No cleans yet this session."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StatusFigures figures = {};
    figures.load_percent = c.load;
    figures.used_gb = c.used;
    figures.total_gb = c.total;
    figures.elevation = c.elevation;
    figures.clean_count = c.clean_count;
    if (c.with_commit) figures.commit = commit;
    // Oldest first, as the history copies them.
    figures.cleans[0] = clean(8, 0, 12.0);
    figures.cleans[1] = clean(9, 5, 1234.6);
    for (int i = 2; i < STATUS_RECENT_CLEANS; ++i) figures.cleans[i] = clean(23, 59, 0.2);
    if (c.clean_count == 2) figures.cleans[2] = clean(1, 1, 99.0);  // beyond the count: not a clean
    wchar_t text[STATUS_DESCRIPTION_CAPACITY];
    wmemset(text, L'#', STATUS_DESCRIPTION_CAPACITY);
    FormatStatusAccessibleDescription(text, figures, c.with_holders ? edge : TopMemoryHolders{});
    EXPECT_STREQ(text, c.text);
  }
  // Figures past any machine's and the longest name a holder can have are
  // cut, never past the buffer.
  StatusFigures huge = {};
  huge.load_percent = 100;
  huge.used_gb = huge.total_gb = 1e300;
  huge.clean_count = 1;
  huge.cleans[0] = clean(9, 5, 1e300);
  huge.commit = commit;
  TopMemoryHolders long_name = edge;
  wmemset(long_name.holders[0].name, L'x', MEMORY_HOLDER_NAME_CAPACITY - 1);
  long_name.holders[0].name[MEMORY_HOLDER_NAME_CAPACITY - 1] = 0;
  wchar_t text[STATUS_DESCRIPTION_CAPACITY];
  FormatStatusAccessibleDescription(text, huge, long_name);
  EXPECT_LT(wcslen(text), static_cast<size_t>(STATUS_DESCRIPTION_CAPACITY));
  EXPECT_NE(std::wstring(text).find(L"Most memory: xxxx"), std::wstring::npos);
  wchar_t name[64];
  EXPECT_STREQ(LoadText(IDS_STATUS_NAME, name), L"Quillmere status");
}

namespace {

// A test that shows another language, or figures with another decimal
// separator, leaves English and "." behind it.
class InEveryLanguage : public ::testing::Test {
 protected:
  void TearDown() override {
    UseLanguage(0);
    UseDecimalSeparator(L".");
  }
};

// That string as the format of `args`, uncut.
template <typename... Args>
std::wstring InTable(int language, UINT id, Args... args) {
  wchar_t text[512] = {};
  FormatBounded(text, 512, StringIn(language, id).c_str(), args...);
  return text;
}

}  // namespace

// In every language the popup's words come from that language's table and
// its figures are written with the user's decimal separator.
TEST_F(InEveryLanguage, LinesWordsAndHeadingsFromTheLanguagesTableWithTheUsersSeparator) {
  const double parts[STATUS_LIST_PARTS] = {9120, 210, 5320, 1620};
  CleanRecord clean = {};
  clean.time.wHour = 9;
  clean.time.wMinute = 5;
  clean.freed_mb = 1234.6;
  clean.processes = 87;
  CleanRecord standby = clean;
  standby.lists_read = true;
  standby.standby_before_mb = 4000.0;
  standby.standby_after_mb = 3187.6;
  CleanRecord kept = clean;
  kept.kept = true;
  wcscpy(kept.kept_name, L"vlc.exe");
  CleanRecord unnamed = clean;
  unnamed.kept = true;
  const StatusLayout layout = LayOutStatus(96, Heights(52, 16));
  for (int i = 0; i < LANGUAGE_COUNT; ++i) {
    SCOPED_TRACE(Narrow(kLanguages[i].name));
    UseLanguage(i);
    UseDecimalSeparator(L",");
    wchar_t memory[STATUS_MEMORY_LINE_CAPACITY];
    FormatStatusMemoryLine(memory, 1.5, 16.0);
    EXPECT_EQ(memory, InTable(i, IDS_MEMORY_LINE, L"1,5", L"16,0"));
    FormatStatusMemoryLine(memory, 11.74, 31.96);
    EXPECT_EQ(memory, InTable(i, IDS_MEMORY_LINE, L"11,7", L"32,0"));

    wchar_t lists[STATUS_LISTS_LINE_CAPACITY];
    FormatStatusListsLine(lists, parts);
    EXPECT_EQ(lists, InTable(i, IDS_LISTS_LINE, 9120.0, 210.0, 5320.0, 1620.0));
    FormatStatusListsLine(lists, parts, 310.4);
    EXPECT_EQ(lists, InTable(i, IDS_LISTS_LINE_LOW, 9120.0, 210.0, 5320.0, 310.4, 1620.0));

    wchar_t line[STATUS_CLEAN_LINE_CAPACITY];
    const std::wstring figures = InTable(i, IDS_CLEAN_LINE, 9, 5, 1234.6, 87);
    FormatStatusCleanLine(line, clean);
    EXPECT_EQ(line, figures);
    FormatStatusCleanLine(line, standby);
    EXPECT_EQ(line, InTable(i, IDS_CLEAN_LINE_STANDBY, 9, 5, 1234.6, 87, L"", -812.0));
    FormatStatusCleanLine(line, kept);
    EXPECT_EQ(line, InTable(i, IDS_CLEAN_LINE_KEPT, figures.c_str(), L"vlc.exe"));
    FormatStatusCleanLine(line, unnamed);
    EXPECT_EQ(line, InTable(i, IDS_CLEAN_LINE_KEPT, figures.c_str(), StringIn(i, IDS_PROGRAM_IN_FRONT).c_str()));
    StatusTextLine none[STATUS_RECENT_CLEANS];
    ASSERT_EQ(StatusCleanLines(nullptr, 0, layout, none), 1);
    EXPECT_EQ(none[0].text, StringIn(i, IDS_NO_CLEANS));

    wchar_t word[STATUS_WORD_CAPACITY];
    EXPECT_EQ(StatusLoadBandWord(59, word), StringIn(i, IDS_BAND_LOW));
    EXPECT_EQ(StatusLoadBandWord(60, word), StringIn(i, IDS_BAND_HIGH));
    EXPECT_EQ(StatusLoadBandWord(80, word), StringIn(i, IDS_BAND_CRITICAL));
    EXPECT_EQ(StatusBadge(1, word), StringIn(i, IDS_BADGE_ADMIN));
    EXPECT_EQ(StatusBadge(0, word), StringIn(i, IDS_BADGE_LIMITED));
    wchar_t heading[STATUS_HEADING_CAPACITY];
    FormatStatusHoldersHeading(heading, false);
    EXPECT_EQ(heading, StringIn(i, IDS_HOLDERS_HEADING));
    FormatStatusHoldersHeading(heading, true);
    EXPECT_EQ(heading, StringIn(i, IDS_HOLDERS_HEADING) + StringIn(i, IDS_HOLDERS_HIDDEN));
  }
  // As a German user writes the figures, in English words.
  UseLanguage(0);
  UseDecimalSeparator(L",");
  wchar_t memory[STATUS_MEMORY_LINE_CAPACITY];
  FormatStatusMemoryLine(memory, 1.5, 16.0);
  EXPECT_STREQ(memory, L"1,5 / 16,0 GB used");
}

TEST_F(InEveryLanguage, AccessibleDescriptionInTheLanguageWithTheUsersSeparator) {
  StatusFigures figures = {};
  figures.load_percent = 37;
  figures.used_gb = 11.74;
  figures.total_gb = 31.9;
  figures.cleans[0].time.wHour = 9;
  figures.cleans[0].time.wMinute = 5;
  figures.cleans[0].freed_mb = 1234.6;
  figures.cleans[0].processes = 87;
  TopMemoryHolders holders = {};
  holders.count = 1;
  wcscpy(holders.holders[0].name, L"msedge.exe");
  holders.holders[0].working_set_bytes = 3328599654ull;
  holders.holders[0].processes = 24;
  for (int i = 0; i < LANGUAGE_COUNT; ++i) {
    UseLanguage(i);
    UseDecimalSeparator(L",");
    for (int32_t elevation : {0, 1}) {
      for (int32_t cleans : {0, 1}) {
        for (bool everything : {false, true}) {
          SCOPED_TRACE(testing::Message() << Narrow(kLanguages[i].name) << ", elevation " << elevation << ", "
                                          << cleans << " cleans" << (everything ? ", commit and holders" : ""));
          figures.elevation = elevation;
          figures.clean_count = cleans;
          figures.commit = everything ? CommitChargeOf(15247133082ull, 25769803776ull) : CommitCharge{};
          // The commit line and the holder's are the memory module's own.
          std::wstring commit, holder;
          if (everything) {
            wchar_t line[MEMORY_HOLDER_TEXT_CAPACITY];
            wchar_t commit_line[COMMIT_TEXT_CAPACITY];
            FormatCommitText(commit_line, figures.commit);
            commit = InTable(i, IDS_SAY_COMMIT, commit_line);
            FormatMemoryHolder(line, holders.holders[0]);
            holder = InTable(i, IDS_SAY_MOST_MEMORY, line);
          }
          const std::wstring clean =
              cleans ? InTable(i, IDS_SAY_LAST_CLEAN, 9, 5, 1234.6) : StringIn(i, IDS_SAY_NO_CLEANS);
          const std::wstring expected =
              InTable(i, IDS_SAY_ALL, InTable(i, IDS_SAY_MEMORY, 37, L"11,7", L"31,9").c_str(), commit.c_str(),
                      StringIn(i, elevation ? IDS_SAY_ADMIN : IDS_SAY_LIMITED).c_str(), clean.c_str(), holder.c_str());
          wchar_t text[STATUS_DESCRIPTION_CAPACITY];
          FormatStatusAccessibleDescription(text, figures, everything ? holders : TopMemoryHolders{});
          EXPECT_EQ(text, expected);
        }
      }
    }
  }
  UseLanguage(0);
  figures.elevation = 1;
  figures.clean_count = 1;
  figures.commit = {};
  wchar_t text[STATUS_DESCRIPTION_CAPACITY];
  FormatStatusAccessibleDescription(text, figures, {});
  EXPECT_STREQ(text, L"Memory load 37%. 11,7 of 31,9 GB used. Admin. Last clean 09:05, freed 1235 MB.");
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
    StatusLayout layout = LayOutStatus(c.dpi, Heights(c.ascent, c.text));
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

// The width follows the widest text of each row, so that a larger system
// text size never cuts a line: never narrower than the popup's own width.
TEST(StatusPopupLayout, WidthHoldsTheWidestTextOfEachRow) {
  struct Case {
    const char* what;
    UINT dpi;
    int figure, band, badge, line;  // widths of the measured texts
    LONG width;
  };
  const Case cases[] = {
      {"Segoe UI, 100 %", 96, 104, 44, 52, 360, 454},
      {"Segoe UI, 200 %", 192, 208, 88, 104, 720, 908},
      // A text size of 225 %: the clean line is the widest row.
      {"wide lines, 100 %", 96, 234, 99, 117, 810, 850},
      {"wide lines, 150 %", 144, 351, 148, 175, 1215, 1275},
      // A wide figure, band word and badge side by side.
      {"wide figure row, 100 %", 96, 300, 120, 140, 400, 20 + 300 + 8 + 120 + 8 + 140 + 16},
      {"wide figure row, 175 %", 168, 525, 210, 245, 700, 35 + 525 + 14 + 210 + 14 + 245 + 28},
      {"nothing measured", 120, 0, 0, 0, 0, 568},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StatusTextMetrics metrics = Heights(MulDiv(52, c.dpi, 96), MulDiv(16, c.dpi, 96));
    metrics.figure_width = c.figure;
    metrics.band_width = c.band;
    metrics.badge_width = c.badge;
    metrics.line_width = c.line;
    for (bool lists_row : {false, true}) {
      const StatusLayout layout = LayOutStatus(c.dpi, metrics, lists_row);
      EXPECT_EQ(layout.client.cx, c.width);
      EXPECT_GE(layout.client.cx, MulDiv(454, c.dpi, 96));
      // Every line from the left margin ends a margin short of the right edge.
      EXPECT_LE(layout.margin + c.line + layout.margin, layout.client.cx);
      // The figure, its band word and the badge, apart, inside.
      EXPECT_LE(layout.margin + c.figure + layout.band_gap + c.band + layout.band_gap + c.badge + layout.badge_inset,
                layout.client.cx);
      EXPECT_EQ(layout.band_gap, MulDiv(8, c.dpi, 96));
      // The heights are the width's no business.
      const StatusLayout narrow = LayOutStatus(c.dpi, Heights(metrics.figure_ascent, metrics.text_height), lists_row);
      EXPECT_EQ(layout.client.cy, narrow.client.cy);
      EXPECT_EQ(layout.first_clean_y, narrow.first_clean_y);
    }
  }
}

// The screens the popup's layout tests lay it out on, each with the largest
// scale Windows offers for it, the scales, and the popup's frame styles.
namespace {

struct Screen {
  int width, height;
  UINT largest_dpi;
};
const Screen kPopupScreens[] = {{1366, 768, 120}, {1600, 900, 144}, {1920, 1080, 168}, {2560, 1440, 168},
                               {3840, 2160, 288}};
const UINT kPopupScales[] = {96, 120, 144, 168, 192, 216, 240, 288};
const DWORD kPopupStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU, kPopupExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;

}  // namespace

// The screens people have, each at the largest scale Windows offers for it
// and every smaller one, above a 48-pixel taskbar (scaled): the popup with
// all its rows, in Segoe UI 9 pt as Windows 10 and 11 give it, fits with
// its gap all round.
TEST(StatusPopupLayout, FitsEveryScreenAtEveryScale) {
  int checked = 0;
  for (const Screen& screen : kPopupScreens) {
    for (UINT dpi : kPopupScales) {
      if (dpi > screen.largest_dpi) continue;
      SCOPED_TRACE(testing::Message() << screen.width << "x" << screen.height << " at " << dpi * 100 / 96 << " %");
      auto scale = [dpi](int value) { return MulDiv(value, static_cast<int>(dpi), 96); };
      StatusTextMetrics metrics = Heights(scale(52), scale(16));
      metrics.figure_width = scale(104);
      metrics.band_width = scale(44);
      metrics.badge_width = scale(52);
      metrics.line_width = scale(400);
      // Every row it can have: the lists, the commit charge, three holders.
      const StatusLayout layout = LayOutStatus(dpi, metrics, true, true, TOP_MEMORY_HOLDERS);
      RECT frame = {0, 0, layout.client.cx, layout.client.cy};
      ASSERT_TRUE(AdjustWindowRectForDpi(frame, kPopupStyle, kPopupExStyle, dpi));
      const int gap = scale(12);
      EXPECT_LE(frame.right - frame.left + 2 * gap, screen.width);
      EXPECT_LE(frame.bottom - frame.top + 2 * gap, screen.height - scale(48));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 2 + 3 + 4 + 4 + 8);
}

// Every language on the screens people have at every scale Windows offers
// for them: the popup laid out from its texts in that language, in its real
// font, with every row it can have, fits the work area with its gap all
// round, and every label it draws is whole: none cut short by its buffer,
// none running past the right margin.
TEST_F(InEveryLanguage, FitsEveryScreenAtEveryScaleInEveryLanguageWithEveryLabelWhole) {
  int checked = 0;
  for (int i = 0; i < LANGUAGE_COUNT; ++i) {
    UseLanguage(i);
    UseDecimalSeparator(L",");
    // Each line with the largest figures the popup measures it with.
    std::vector<std::wstring> lines;
    wchar_t memory[STATUS_MEMORY_LINE_CAPACITY];
    FormatStatusMemoryLine(memory, 8888.8, 8888.8);
    EXPECT_EQ(memory, InTable(i, IDS_MEMORY_LINE, L"8888,8", L"8888,8")) << "not cut";
    lines.push_back(memory);
    const double parts[STATUS_LIST_PARTS] = {8888888, 8888888, 8888888, 8888888};
    wchar_t lists[STATUS_LISTS_LINE_CAPACITY];
    FormatStatusListsLine(lists, parts);
    EXPECT_EQ(lists, InTable(i, IDS_LISTS_LINE, 8888888.0, 8888888.0, 8888888.0, 8888888.0)) << "not cut";
    lines.push_back(lists);
    CleanRecord clean = {};
    clean.time.wHour = 23;
    clean.time.wMinute = 59;
    clean.freed_mb = 9999999.0;
    clean.processes = 4096;
    clean.lists_read = true;
    clean.standby_before_mb = 9999999.0;
    wchar_t line[STATUS_CLEAN_LINE_CAPACITY];
    FormatStatusCleanLine(line, clean);
    EXPECT_EQ(line, InTable(i, IDS_CLEAN_LINE_STANDBY, 23, 59, 9999999.0, 4096, L"", -9999999.0)) << "not cut";
    lines.push_back(line);
    wchar_t commit[COMMIT_TEXT_CAPACITY];
    FormatCommitText(commit, CommitChargeOf(9543417331712ull, 9543417331712ull));
    lines.push_back(commit);
    wchar_t heading[STATUS_HEADING_CAPACITY];
    FormatStatusHoldersHeading(heading, true);
    EXPECT_EQ(heading, StringIn(i, IDS_HOLDERS_HEADING) + StringIn(i, IDS_HOLDERS_HIDDEN)) << "not cut";
    lines.push_back(heading);
    for (UINT id : {IDS_RECENT_CLEANS, IDS_FIVE_MINUTES, IDS_NO_CLEANS}) lines.push_back(StringIn(i, id));
    wchar_t word[STATUS_WORD_CAPACITY];
    std::vector<std::wstring> bands, badges;
    for (int load : {0, 60, 80}) bands.push_back(StatusLoadBandWord(load, word));
    for (int32_t elevation : {0, 1}) badges.push_back(StatusBadge(elevation, word));

    for (const Screen& screen : kPopupScreens) {
      for (UINT dpi : kPopupScales) {
        if (dpi > screen.largest_dpi) continue;
        SCOPED_TRACE(testing::Message() << Narrow(kLanguages[i].name) << ", " << screen.width << "x" << screen.height
                                        << " at " << dpi * 100 / 96 << " %");
        auto scale = [dpi](int value) { return MulDiv(value, static_cast<int>(dpi), 96); };
        StatusState status;
        CreateStatusFonts(status, dpi, true, true, TOP_MEMORY_HOLDERS);
        const StatusLayout& layout = status.layout;
        RECT frame = {0, 0, layout.client.cx, layout.client.cy};
        ASSERT_TRUE(AdjustWindowRectForDpi(frame, kPopupStyle, kPopupExStyle, dpi));
        const int gap = scale(12);
        EXPECT_LE(frame.right - frame.left + 2 * gap, screen.width);
        EXPECT_LE(frame.bottom - frame.top + 2 * gap, screen.height - scale(48));

        HDC dc = CreateCompatibleDC(nullptr);
        auto width = [dc](const std::wstring& text) {
          SIZE size = {};
          GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
          return static_cast<int>(size.cx);
        };
        HGDIOBJ previous = SelectObject(dc, status.large_font);
        const int figure = width(L"100%");
        SelectObject(dc, status.font);
        for (const std::wstring& text : lines) EXPECT_LE(layout.margin + width(text) + layout.margin, layout.client.cx) << Narrow(text);
        for (const std::wstring& band : bands) {
          for (const std::wstring& badge : badges) {
            EXPECT_LE(layout.margin + figure + layout.band_gap + width(band) + layout.band_gap + width(badge) +
                          layout.badge_inset,
                      layout.client.cx)
                << Narrow(band) << " " << Narrow(badge);
          }
        }
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteStatusFonts(status);
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, LANGUAGE_COUNT * (2 + 3 + 4 + 4 + 8));
}

// The rows above measure Chinese and Japanese in real glyphs only where the
// popup's font, or a font Windows links to it, has them (the test prefix
// links Noto CJK to the face Wine draws it with): each CJK character the
// popup draws is wider than one that no font here has, which comes out as
// the font's empty box.
TEST_F(InEveryLanguage, EveryChineseAndJapaneseCharacterThePopupDrawsHasAGlyph) {
  StatusState status;
  CreateStatusFonts(status, 96, true, true, TOP_MEMORY_HOLDERS);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, status.font);
  auto width = [dc](wchar_t c) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, &c, 1, &size);
    return size.cx;
  };
  const LONG box = width(L'\ue000');
  int checked = 0;
  for (int i = 0; i < LANGUAGE_COUNT; ++i) {
    for (UINT id = IDS_BAND_LOW; id <= IDS_HOLDER_GB; ++id) {
      for (wchar_t c : StringIn(i, id)) {
        if (c < 0x2e80) continue;  // below the CJK blocks
        EXPECT_GT(width(c), box) << Narrow(kLanguages[i].name) << ", string " << id << ": U+" << std::hex
                                 << static_cast<unsigned>(c) << std::dec;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 0);
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteStatusFonts(status);
}

// A popup whose texts changed language while open keeps to its edges.
TEST(StatusPopupPlacement, ResizedForAnotherLanguageKeepsToItsEdgesOfTheWorkArea) {
  const RECT work = {0, 0, 1920, 1032};
  struct Case {
    const char* what;
    RECT frame;
    SIZE size;
    RECT placed;
  };
  const Case cases[] = {
      {"bottom right, wider and taller", {1448, 636, 1908, 1020}, {560, 420}, {1348, 600, 1908, 1020}},
      {"bottom right, narrower", {1448, 636, 1908, 1020}, {400, 384}, {1508, 636, 1908, 1020}},
      {"top left", {12, 12, 472, 396}, {560, 420}, {12, 12, 572, 432}},
      {"top right", {1448, 12, 1908, 396}, {560, 420}, {1348, 12, 1908, 432}},
      {"bottom left", {12, 636, 472, 1020}, {560, 420}, {12, 600, 572, 1020}},
      // Grown past the work area: inside again, its gap kept where it fits.
      {"grown past the top", {1448, 100, 1908, 1020}, {460, 1100}, {1448, 0, 1908, 1100}},
      {"grown past the left", {12, 636, 1908, 1020}, {1940, 384}, {0, 636, 1940, 1020}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RECT placed = ResizeStatusPopup(c.frame, c.size, work, 12);
    EXPECT_EQ(placed.left, c.placed.left);
    EXPECT_EQ(placed.top, c.placed.top);
    EXPECT_EQ(placed.right, c.placed.right);
    EXPECT_EQ(placed.bottom, c.placed.bottom);
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
    StatusAnchor anchor = StatusPopupAnchor(c.icon, kNoTaskbar, c.work, c.monitor, 12);
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
    StatusAnchor anchor = StatusPopupAnchor(c.icon, kNoTaskbar, c.work, primary, 12);
    EXPECT_EQ(anchor.flags, c.flags) << c.icon.left << "," << c.icon.top;
    if (!IsRectEmpty(&c.icon)) {
      EXPECT_TRUE(EqualRect(&anchor.exclude, &c.icon)) << "the icon stays visible";
    }
  }
}

// Where the shell cannot say where the icon is (the overflow on Windows 10,
// Windows 7), the popup goes to the notification area's end of the taskbar.
TEST(StatusPopupPlacement, WithoutTheIconAtTheTaskbarsEdge) {
  const RECT primary = {0, 0, 1920, 1080};
  const SIZE size = {460, 384};
  const RECT no_icon = {};
  struct Case {
    const char* what;
    RECT monitor, work;
    StatusTaskbar taskbar;
    RECT icon;
    RECT placed;
    UINT flags;
  };
  const UINT right_bottom = TPM_RIGHTALIGN | TPM_BOTTOMALIGN;
  const Case cases[] = {
      {"bottom taskbar", primary, {0, 0, 1920, 1032}, {{0, 1032, 1920, 1080}, ABE_BOTTOM}, no_icon,
       {1448, 636, 1908, 1020}, right_bottom | TPM_VERTICAL},
      {"top taskbar", primary, {0, 48, 1920, 1080}, {{0, 0, 1920, 48}, ABE_TOP}, no_icon, {1448, 60, 1908, 444},
       TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL},
      {"left taskbar", primary, {48, 0, 1920, 1080}, {{0, 0, 48, 1080}, ABE_LEFT}, no_icon, {60, 684, 520, 1068},
       TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_HORIZONTAL},
      {"right taskbar", primary, {0, 0, 1872, 1080}, {{1872, 0, 1920, 1080}, ABE_RIGHT}, no_icon,
       {1400, 684, 1860, 1068}, right_bottom | TPM_HORIZONTAL},
      // An auto-hidden taskbar leaves the whole monitor to the work area
      // and is reported where it hides; the popup keeps clear of it shown.
      {"auto-hidden bottom taskbar, hidden", primary, primary, {{0, 1078, 1920, 1126}, ABE_BOTTOM}, no_icon,
       {1448, 636, 1908, 1020}, right_bottom | TPM_VERTICAL},
      {"auto-hidden bottom taskbar, shown", primary, primary, {{0, 1032, 1920, 1080}, ABE_BOTTOM}, no_icon,
       {1448, 636, 1908, 1020}, right_bottom | TPM_VERTICAL},
      {"auto-hidden left taskbar, hidden", primary, primary, {{-46, 0, 2, 1080}, ABE_LEFT}, no_icon,
       {60, 684, 520, 1068}, TPM_LEFTALIGN | TPM_BOTTOMALIGN | TPM_HORIZONTAL},
      {"auto-hidden top taskbar, hidden", primary, primary, {{0, -46, 1920, 2}, ABE_TOP}, no_icon,
       {1448, 60, 1908, 444}, TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL},
      // 150 %: a 72-pixel taskbar.
      {"second monitor left of the primary, bottom taskbar", {-1920, -200, 0, 880}, {-1920, -200, 0, 808},
       {{-1920, 808, 0, 880}, ABE_BOTTOM}, no_icon, {-472, 412, -12, 796}, right_bottom | TPM_VERTICAL},
      {"second monitor above the primary, right taskbar", {0, -1080, 1920, 0}, {0, -1080, 1872, 0},
       {{1872, -1080, 1920, 0}, ABE_RIGHT}, no_icon, {1400, -396, 1860, -12}, right_bottom | TPM_HORIZONTAL},
      {"the icon in the overflow flyout, top taskbar", primary, {0, 48, 1920, 1080}, {{0, 0, 1920, 48}, ABE_TOP},
       {1700, 200, 1724, 224}, {1448, 60, 1908, 444}, TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL},
      // No taskbar, or one the answer puts elsewhere: as before, the
      // bottom-right corner of the work area.
      {"no taskbar", primary, {0, 0, 1920, 1040}, kNoTaskbar, no_icon, {1448, 644, 1908, 1028},
       right_bottom | TPM_VERTICAL},
      {"a taskbar on no edge", primary, {0, 48, 1920, 1080}, {{0, 0, 1920, 48}, 7}, no_icon,
       {1448, 684, 1908, 1068}, right_bottom | TPM_VERTICAL},
      {"a taskbar off this monitor", primary, {0, 48, 1920, 1080}, {{-1920, 0, 0, 48}, ABE_TOP}, no_icon,
       {1448, 684, 1908, 1068}, right_bottom | TPM_VERTICAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StatusAnchor anchor = StatusPopupAnchor(c.icon, c.taskbar, c.work, c.monitor, 12);
    EXPECT_EQ(anchor.flags, c.flags);
    EXPECT_TRUE(IsRectEmpty(&anchor.exclude));
    RECT placed = FitInWorkArea(AlignStatusPopup(anchor, size), c.work, 12);
    EXPECT_EQ(placed.left, c.placed.left);
    EXPECT_EQ(placed.top, c.placed.top);
    EXPECT_EQ(placed.right, c.placed.right);
    EXPECT_EQ(placed.bottom, c.placed.bottom);
    // Never over the taskbar, hidden or shown.
    RECT shown = c.taskbar.rect, overlap;
    const RECT& m = c.monitor;
    const LONG wide = shown.right - shown.left, high = shown.bottom - shown.top;
    if (c.taskbar.edge == ABE_BOTTOM) shown = {m.left, m.bottom - high, m.right, m.bottom};
    if (c.taskbar.edge == ABE_TOP) shown = {m.left, m.top, m.right, m.top + high};
    if (c.taskbar.edge == ABE_LEFT) shown = {m.left, m.top, m.left + wide, m.bottom};
    if (c.taskbar.edge == ABE_RIGHT) shown = {m.right - wide, m.top, m.right, m.bottom};
    EXPECT_FALSE(IntersectRect(&overlap, &placed, &shown)) << "over the taskbar";
  }

  // An icon the shell can place places the popup, wherever the taskbar is
  // said to be.
  const RECT work = {0, 0, 1920, 1032};
  const RECT icon = {1700, 1040, 1724, 1064};
  ASSERT_TRUE(IsStatusIconOnTaskbar(icon, work, primary));
  const StatusTaskbar top = {{0, 0, 1920, 48}, ABE_TOP};
  StatusAnchor with = StatusPopupAnchor(icon, top, work, primary, 12);
  StatusAnchor without = StatusPopupAnchor(icon, kNoTaskbar, work, primary, 12);
  EXPECT_EQ(with.point.x, without.point.x);
  EXPECT_EQ(with.point.y, without.point.y);
  EXPECT_EQ(with.flags, without.flags);
  EXPECT_FALSE(IsStatusIconOnTaskbar({1700, 900, 1724, 924}, work, primary)) << "in the overflow flyout";
  EXPECT_FALSE(IsStatusIconOnTaskbar(no_icon, work, primary));
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
  wchar_t text[STATUS_CLEAN_LINE_CAPACITY];
  FormatStatusCleanLine(text, record);
  EXPECT_STREQ(text, L"  09:05  Freed 1235 MB  (87 procs)");

  record.freed_mb = 1e300;  // the figures cut at their room, never past the buffer
  wmemset(text, L'#', STATUS_CLEAN_LINE_CAPACITY);
  FormatStatusCleanLine(text, record);
  EXPECT_EQ(wcslen(text), static_cast<size_t>(STATUS_CLEAN_FIGURES_CAPACITY - 1));
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
    wchar_t text[STATUS_CLEAN_LINE_CAPACITY];
    FormatStatusCleanLine(text, record);
    EXPECT_STREQ(text, c.text);
  }
}

// The program in front that a clean kept goes after the figures.
TEST(StatusPopupCleanLines, CleanLineNamesTheProgramTheCleanKept) {
  struct Case {
    bool read;
    const wchar_t* kept;  // nullptr: none kept
    const wchar_t* text;
  };
  const Case cases[] = {
      {false, L"vlc.exe", L"  09:05  Freed 1235 MB  (87 procs)  kept vlc.exe"},
      {true, L"vlc.exe", L"  09:05  Freed 1235 MB  (87 procs)  standby -812 MB  kept vlc.exe"},
      {false, L"", L"  09:05  Freed 1235 MB  (87 procs)  kept the program in front"},
      {false, nullptr, L"  09:05  Freed 1235 MB  (87 procs)"},
  };
  for (const Case& c : cases) {
    CleanHistory ring = {};
    const MemoryLists before = {c.read, 0, 0, 0, 4000.0, 0}, after = {c.read, 0, 0, 0, 3187.6, 0};
    RecordClean(ring, 1234.6, 87, before, after, c.kept);
    CleanRecord record = {};
    ASSERT_EQ(CopyRecentCleans(ring, &record, 1), 1);
    record.time.wHour = 9;
    record.time.wMinute = 5;
    wchar_t text[STATUS_CLEAN_LINE_CAPACITY];
    FormatStatusCleanLine(text, record);
    EXPECT_STREQ(text, c.text);
  }
  // The longest name and figures stay inside the buffer.
  CleanRecord record = {};
  record.freed_mb = 1e300;
  record.kept = true;
  for (int i = 0; i < 63; ++i) record.kept_name[i] = L'n';
  wchar_t text[STATUS_CLEAN_LINE_CAPACITY];
  wmemset(text, L'#', STATUS_CLEAN_LINE_CAPACITY);
  FormatStatusCleanLine(text, record);
  EXPECT_EQ(wcslen(text), static_cast<size_t>(STATUS_CLEAN_LINE_CAPACITY - 1));
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
  wchar_t text[STATUS_CLEAN_LINE_CAPACITY];
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
    const StatusLayout without = LayOutStatus(c.dpi, Heights(c.ascent, c.text));
    const StatusLayout with = LayOutStatus(c.dpi, Heights(c.ascent, c.text), true);
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
    wchar_t text[STATUS_LISTS_LINE_CAPACITY];
    wmemset(text, L'#', STATUS_LISTS_LINE_CAPACITY);
    FormatStatusListsLine(text, c.parts);
    EXPECT_STREQ(text, c.text);
  }
}

// What the low-priority purge would free, beside the standby figure.
TEST(StatusPopupListsRow, ListsLineCanTellTheStandbyListsLowPriorityPart) {
  const double parts[STATUS_LIST_PARTS] = {9120, 210, 5320, 1620};
  struct Case {
    double low;
    const wchar_t* text;
  };
  const Case cases[] = {
      {310.4, L"In use 9120  Modified 210  Standby 5320 (310 low)  Free 1620 MB"},
      {0, L"In use 9120  Modified 210  Standby 5320 (0 low)  Free 1620 MB"},
      {-1, L"In use 9120  Modified 210  Standby 5320  Free 1620 MB"},  // not told
  };
  for (const Case& c : cases) {
    wchar_t text[STATUS_LISTS_LINE_CAPACITY];
    FormatStatusListsLine(text, parts, c.low);
    EXPECT_STREQ(text, c.text);
  }
  // A 64 GB machine's line, low part included, fits the popup in its font.
  const double large[STATUS_LIST_PARTS] = {40960, 4096, 16384, 4096};
  wchar_t text[STATUS_LISTS_LINE_CAPACITY];
  FormatStatusListsLine(text, large, 12288);
  StatusLayout layout;
  const LONG width = TextWidthInPopupFont(text, true, layout);
  EXPECT_LE(width, layout.client.cx - 2 * layout.margin) << Narrow(text);
}

TEST(StatusPopupListsRow, ListsLineAndBarColoursFitThePalette) {
  // Four colours apart from each other and from what they are drawn on.
  const COLORREF ground[] = {kBackground, kBoxFill, RGB(130, 130, 155)};
  for (int i = 0; i < STATUS_LIST_PARTS; ++i) {
    for (COLORREF g : ground) EXPECT_NE(kNormal.lists[i], g) << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(kNormal.lists[i], kNormal.lists[j]) << i << " " << j;
  }
  // A 1 TB machine's line fits the popup in its font.
  double parts[STATUS_LIST_PARTS] = {1048576, 1048576, 1048576, 1048576};
  wchar_t text[STATUS_LISTS_LINE_CAPACITY];
  FormatStatusListsLine(text, parts);
  StatusLayout layout;
  const LONG width = TextWidthInPopupFont(text, true, layout);
  EXPECT_TRUE(layout.lists_row);
  EXPECT_LE(width, layout.client.cx - 2 * layout.margin) << Narrow(text);
}

TEST_F(StatusPopupFigures, StatusFiguresCarryTheListsOnlyWhenRead) {
  status_.platform = &kPlayedPlatform;
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
  ASSERT_EQ(StatusCleanLines(figures.cleans, figures.clean_count, LayOutStatus(96, Heights(52, 16)), lines), 1);
  EXPECT_EQ(lines[0].y, 262);
  EXPECT_STREQ(lines[0].text, L"No cleans yet this session");

  for (int i = 1; i <= 7; ++i) RecordClean(status_.clean_history, i * 100.0, i, kUnread, kUnread);
  for (int i = 0; i < 7; ++i)
    status_.clean_history.entries[i].time = SYSTEMTIME{2026, 1, 0, 1, 10, static_cast<WORD>(i + 1), 0, 0};
  GatherStatusFigures(status_, figures);
  ASSERT_EQ(StatusCleanLines(figures.cleans, figures.clean_count, LayOutStatus(96, Heights(52, 16)), lines), 5);
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
    status_.palette = kNormal;
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
  // The advance of `text` in the popup's font.
  int TextWidth(const wchar_t* text) const {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, status_.font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    SelectObject(dc, previous);
    DeleteDC(dc);
    return size.cx;
  }
  // Whether `text`, drawn alone as the popup draws secondary text, shows in
  // the picture's line at `top` with its advance ending at most `slack`
  // columns before `x`: its ink and the background around it, pixel for pixel.
  bool DrawnBefore(const wchar_t* text, int x, int top, int slack) const {
    const int pad = 4, advance = TextWidth(text);
    const int width = advance + 2 * pad, height = status_.layout.line_step;
    BITMAPINFO info = {};
    info.bmiHeader = TopDownHeader(width, height);
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
      DeleteDC(dc);
      return false;
    }
    HGDIOBJ previous_bitmap = SelectObject(dc, bitmap);
    HGDIOBJ previous_font = SelectObject(dc, status_.font);
    const RECT all = {0, 0, width, height};
    HBRUSH background = CreateSolidBrush(status_.palette.background);
    FillRect(dc, &all, background);
    DeleteObject(background);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, status_.palette.secondary);
    TextOutW(dc, pad, 0, text, static_cast<int>(wcslen(text)));
    GdiFlush();
    PixelImage drawn;
    drawn.width = width;
    drawn.height = height;
    drawn.pixels.assign(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + width * height);
    SelectObject(dc, previous_font);
    SelectObject(dc, previous_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    int left = width, right = -1;
    for (int y = 0; y < height; ++y)
      for (int column = 0; column < width; ++column)
        if (drawn.At(column, y) != status_.palette.background) {
          left = std::min(left, column);
          right = std::max(right, column);
        }
    if (right < 0) return false;
    for (int origin = x - advance; origin >= x - advance - slack; --origin) {
      const int shift = origin - pad;
      if (shift + left < 0) break;
      bool same = true;
      for (int y = 0; y < height && same; ++y)
        for (int column = left; column <= right && same; ++column)
          same = drawn.At(column, y) == At(column + shift, top + y);
      if (same) return true;
    }
    return false;
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
      int count = CountIn(figure, StatusLoadColor(kNormal, other));
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
    const COLORREF colour = kNormal.lists[part];
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

// High contrast, played through the platform as Windows' High Contrast
// Black gives it (Wine has no high-contrast theme).
TEST_F(StatusPopupPainting, HighContrastPaintsInTheSystemsColoursAndWritesTheBand) {
  ResetPlayedPlatform();
  status_.platform = &kPlayedPlatform;
  played_theme = {true, kContrastBlack};
  ASSERT_TRUE(ChooseStatusColours(status_));
  const StatusSystemColours& hc = kContrastBlack;
  SetSamples(300, [](int i) { return i < 150 ? 0 : 100; });
  for (int i = 0; i < 2; ++i) {
    figures_.cleans[i].time = SYSTEMTIME{2026, 1, 0, 1, 10, static_cast<WORD>(i), 0, 0};
    figures_.cleans[i].freed_mb = 100.0 * (i + 1);
  }
  figures_.clean_count = 2;
  Draw();
  EXPECT_EQ(At(0, 0), hc.window);
  EXPECT_EQ(At(kWidth - 1, kHeight - 1), hc.window);
  EXPECT_EQ(At(20, 150), hc.window_text) << "the box's outline";
  EXPECT_EQ(At(200, 108), hc.window_text);
  EXPECT_EQ(At(100, 150), hc.window) << "inside the box";
  EXPECT_EQ(At(100, 207), hc.highlight) << "the graph's line";
  EXPECT_EQ(At(300, 109), hc.highlight);
  EXPECT_EQ(At(300, 150), hc.highlight) << "the area under it";
  EXPECT_EQ(At(kWidth / 2, 234), hc.window_text) << "the separator";
  EXPECT_GT(CountIn({20, 76, 300, 92}, hc.gray_text), 20) << "the memory line";
  EXPECT_GT(CountIn({20, 262, 300, 296}, hc.gray_text), 40) << "the clean lines";
  EXPECT_GT(CountIn({20, 242, 300, 258}, hc.window_text), 20) << "the heading";
  EXPECT_GT(CountIn({kWidth / 2, 18, kWidth, 60}, hc.window_text), 5) << "the badge";
  const COLORREF own[] = {kBackground, kBoxFill, kBoxLine, kArea, kLine, RGB(130, 130, 155), RGB(230, 230, 240)};
  for (COLORREF colour : own) EXPECT_EQ(CountIn({0, 0, kWidth, kHeight}, colour), 0) << std::hex << colour;

  // The figure in the highlight whatever the load; the band, which colour
  // no longer tells, in words beside it: a word of its own for each band.
  const RECT figure_row = {20, 18, kWidth - 100, 76};  // left of the badge
  std::vector<std::vector<bool>> words;
  for (int load : {42, 70, 91}) {
    SCOPED_TRACE(load);
    figures_.load_percent = load;
    Draw();
    EXPECT_GT(CountIn(figure_row, hc.highlight), 30) << "the figure";
    for (int band = 0; band < 3; ++band) EXPECT_EQ(CountIn(figure_row, kNormal.load[band]), 0);
    std::vector<bool> word;
    for (int y = figure_row.top; y < figure_row.bottom; ++y)
      for (int x = figure_row.left; x < figure_row.right; ++x) word.push_back(At(x, y) == hc.window_text);
    EXPECT_GT(std::count(word.begin(), word.end(), true), 8) << "the band's word";
    words.push_back(word);
  }
  EXPECT_NE(words[0], words[1]);
  EXPECT_NE(words[1], words[2]);
  EXPECT_NE(words[0], words[2]);
  // The popup's own palette writes no band.
  status_.palette = kNormal;
  Draw();
  EXPECT_EQ(CountIn(figure_row, RGB(230, 230, 240)), 0);

  // The lists' bar in the system's colours inside an outline in its text
  // colour: in use 20..252, modified 252..257, standby 257..393, free to 434.
  played_theme = {true, kContrastBlack};
  ChooseStatusColours(status_);
  CreateStatusFonts(status_, 96, true);
  height_ = status_.layout.client.cy;
  figures_.total_gb = kPlayedTotalMb / 1024.0;
  figures_.lists = PlayedLists();
  Draw();
  EXPECT_EQ(At(20, 112), hc.window_text) << "the outline's left";
  EXPECT_EQ(At(433, 112), hc.window_text) << "the outline's right";
  EXPECT_EQ(At(200, 108), hc.window_text) << "the outline's top";
  EXPECT_EQ(At(200, 117), hc.window_text) << "the outline's bottom";
  EXPECT_EQ(At(100, 112), hc.highlight) << "in use";
  EXPECT_EQ(At(254, 112), hc.window_text) << "modified";
  EXPECT_EQ(At(300, 112), hc.gray_text) << "standby";
  EXPECT_EQ(At(410, 112), hc.window) << "free";
  EXPECT_GT(CountIn({20, status_.layout.lists_text_y, 434, status_.layout.lists_text_y + 16}, hc.gray_text), 100)
      << "the figures under it";

  // The README's picture: the popup as the lists' picture shows it.
  figures_.load_percent = 56;
  figures_.used_gb = 9.0;
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
  EXPECT_TRUE(KeepPicture(picture_, "status-popup-contrast-96.bmp"));
  ResetPlayedPlatform();
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

// The title bar's attributes asked for, in order.
struct DwmAttribute {
  DWORD attribute;
  DWORD value;
};
std::vector<DwmAttribute> dwm_attributes;
HRESULT WINAPI PlayDwmSetWindowAttribute(HWND, DWORD attribute, LPCVOID value, DWORD) {
  dwm_attributes.push_back({attribute, *static_cast<const DWORD*>(value)});
  return S_OK;
}

// The popup's window on the played platform, its title bar attributes kept.
class StatusPopupOnPlayedPlatform : public StatusPopupWindow {
 protected:
  void BindSeams() override {
    ResetPlayedPlatform();
    dwm_attributes.clear();
    app.status.platform = &kPlayedPlatform;
    app.status.dwm_set_window_attribute_entry = reinterpret_cast<FARPROC>(
        reinterpret_cast<void*>(&PlayDwmSetWindowAttribute));
  }
  void TearDown() override {
    StatusPopupWindow::TearDown();
    ResetPlayedPlatform();
    UseLanguage(0);
    UseDecimalSeparator(L".");
  }
  // The dark mode attribute's values asked for, in order.
  static std::vector<DWORD> DarkModeValues() {
    std::vector<DWORD> values;
    for (const DwmAttribute& a : dwm_attributes)
      if (a.attribute == 20) values.push_back(a.value);
    return values;
  }
};

}  // namespace

TEST_F(StatusPopupWindow, OpensOnceAboveTheWorkAreaCornerAndClosesCompletely) {
  // No taskbar to go by either.
  ResetPlayedPlatform();
  app.status.platform = &kPlayedPlatform;
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
  app.status.platform = &kPlayedPlatform;
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

// A language chosen while the popup is open (the settings' OK): its next
// paint shows that language's texts in a popup measured for them, inside
// the work area, and named in it for screen readers.
TEST_F(StatusPopupOnPlayedPlatform, ALanguageChosenWhileOpenIsLaidOutAndNamedAtTheNextPaint) {
  // The language whose texts need the widest popup (any other where all
  // measure alike).
  int widest = 1;
  LONG widest_width = 0;
  for (int i = 1; i < LANGUAGE_COUNT; ++i) {
    UseLanguage(i);
    StatusState measured;
    CreateStatusFonts(measured, 96, false);
    if (measured.layout.client.cx > widest_width) widest = i, widest_width = measured.layout.client.cx;
    DeleteStatusFonts(measured);
  }
  UseLanguage(0);
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  UpdateWindow(popup);

  UseLanguage(widest);
  UseDecimalSeparator(L",");
  InvalidateStatusWindow(app.status);
  UpdateWindow(popup);
  StatusState fresh;
  CreateStatusFonts(fresh, WindowDpi(popup), app.status.layout.lists_row, app.status.layout.commit_row,
                    app.status.layout.holder_lines);
  EXPECT_EQ(app.status.layout.client.cx, fresh.layout.client.cx) << Narrow(kLanguages[widest].name);
  EXPECT_EQ(app.status.layout.client.cy, fresh.layout.client.cy);
  DeleteStatusFonts(fresh);
  RECT client = {}, frame = {};
  GetClientRect(popup, &client);
  EXPECT_EQ(client.right, app.status.layout.client.cx);
  EXPECT_EQ(client.bottom, app.status.layout.client.cy);
  GetWindowRect(popup, &frame);
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT inside = {};
  IntersectRect(&inside, &frame, &work);
  EXPECT_TRUE(EqualRect(&inside, &frame)) << "inside the work area";
  ASSERT_FALSE(name_calls.empty());
  EXPECT_EQ(name_calls.back().text, StringIn(widest, IDS_STATUS_NAME));
  StatusFigures figures;
  GatherStatusFigures(app.status, figures);
  wchar_t expected[STATUS_DESCRIPTION_CAPACITY];
  FormatStatusAccessibleDescription(expected, figures, app.status.holders);
  EXPECT_EQ(name_calls.back().description, expected);
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
  StatusState status = {.platform = &kPlayedPlatform};
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
    // In the palette of the user's app mode.
    all_painted = WindowPixel(app.status.window, 2, 2) == app.status.palette.background &&
                  WindowPixel(app.status.window, 30, app.status.layout.box_top + 4) == app.status.palette.box_fill;
    CloseStatusWindow(app.status);
    PumpMessages();
  }
  EXPECT_EQ(i, 2000) << "popup " << i << " could not open or paint";
  EXPECT_TRUE(all_painted);
  EXPECT_FALSE(IsStatusWindowOpen(app.status));
  EXPECT_TRUE(RoomForMore(500));
  FreeHandleTables(tables);
}

// The app mode switched in Windows' settings while the popup is open:
// Windows tells every top-level window with "ImmersiveColorSet". The light
// palette and a light title bar, and back; high contrast wins over both.
TEST_F(StatusPopupOnPlayedPlatform, FollowsTheAppModeLiveWithItsTitleBar) {
  played_theme = {false, {}, true};
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  UpdateWindow(popup);
  const StatusPalette light = ChooseStatusPalette(false, {}, true);
  EXPECT_EQ(WindowPixel(popup, 2, 2), light.background);
  EXPECT_EQ(DarkModeValues(), std::vector<DWORD>{0u}) << "a light title bar";

  struct Case {
    const char* what;
    PlayedTheme theme;
    COLORREF background, outline;
    DWORD dark;
  };
  const Case cases[] = {
      {"dark mode", {false, {}, false}, kBackground, kBoxLine, 1},
      {"light again", {false, {}, true}, light.background, light.box_line, 0},
      {"high contrast over light", {true, kContrastBlack, true}, kContrastBlack.window, kContrastBlack.window_text, 0},
      {"high contrast off, still light", {false, {}, true}, light.background, light.box_line, 0},
  };
  const wchar_t kColourSet[] = L"ImmersiveColorSet";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_theme = c.theme;
    dwm_attributes.clear();
    SendMessageW(popup, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(kColourSet));
    UpdateWindow(popup);
    EXPECT_EQ(WindowPixel(popup, 2, 2), c.background);
    EXPECT_EQ(WindowPixel(popup, 20, app.status.layout.box_top + 40), c.outline) << "the box's outline";
    EXPECT_EQ(DarkModeValues(), std::vector<DWORD>{c.dark});
  }
}

// Wine has no high-contrast theme: the switch is played through the
// platform, and the messages Windows sends every top-level window on a
// theme change reach the popup.
TEST_F(StatusPopupOnPlayedPlatform, FollowsHighContrastLiveAndAsksForNoDarkTitleBarUnderIt) {
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  UpdateWindow(popup);
  EXPECT_EQ(WindowPixel(popup, 2, 2), kBackground);
  EXPECT_EQ(DarkModeValues(), std::vector<DWORD>{1u}) << "a dark title bar";
  const size_t corners = std::count_if(dwm_attributes.begin(), dwm_attributes.end(),
                                       [](const DwmAttribute& a) { return a.attribute == 33; });
  EXPECT_EQ(corners, 1u) << "rounded corners asked for once";

  struct Case {
    const char* what;
    UINT message;
    WPARAM wParam;
    bool high_contrast;
    StatusSystemColours colours;
  };
  const Case cases[] = {
      {"high contrast on", WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, true, kContrastBlack},
      {"another high-contrast theme", WM_SYSCOLORCHANGE, 0, true, kContrastWhite},
      {"high contrast off", WM_THEMECHANGED, 0, false, kContrastWhite},
      {"on again", WM_SYSCOLORCHANGE, 0, true, kContrastBlack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_theme = {c.high_contrast, c.colours};
    dwm_attributes.clear();
    SendMessageW(popup, c.message, c.wParam, 0);
    RECT dirty = {};
    EXPECT_TRUE(GetUpdateRect(popup, &dirty, FALSE)) << "a repaint asked for";
    UpdateWindow(popup);
    EXPECT_EQ(WindowPixel(popup, 2, 2), c.high_contrast ? c.colours.window : kBackground);
    EXPECT_EQ(WindowPixel(popup, 20, app.status.layout.box_top + 40),
              c.high_contrast ? c.colours.window_text : kBoxLine)
        << "the box's outline";
    EXPECT_EQ(DarkModeValues(), std::vector<DWORD>{c.high_contrast ? 0u : 1u});
  }

  // As Windows sends it: to every top-level window.
  played_theme = {false, {}};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0, SMTO_ABORTIFHUNG, 5000, &result);
  UpdateWindow(popup);
  EXPECT_EQ(WindowPixel(popup, 2, 2), kBackground);
  EXPECT_TRUE(IsStatusWindowOpen(app.status)) << "a theme change does not close it";

  // Opened under high contrast: its colours and no dark title bar at once.
  CloseStatusWindow(app.status);
  played_theme = {true, kContrastWhite};
  dwm_attributes.clear();
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  UpdateWindow(app.status.window);
  EXPECT_EQ(WindowPixel(app.status.window, 2, 2), kContrastWhite.window);
  EXPECT_EQ(DarkModeValues(), std::vector<DWORD>{0u});
}

// Screen readers hear "Quillmere status" and the figures as its
// description, kept to what the popup shows; a clean that finishes while it
// is open raises one description change, so that the reader says the
// result; the once-a-second repaint raises none.
TEST_F(StatusPopupOnPlayedPlatform, DescribesItsFiguresForScreenReadersAndAnnouncesACleanOnce) {
  RecordClean(app.status.clean_history, 1234.6, 87, kUnread, kUnread);
  app.status.clean_history.entries[0].time = SYSTEMTIME{2026, 1, 0, 1, 9, 5, 0, 0};
  app.status.elevation = 1;
  played_commit = CommitChargeOf(15247133082ull, 25769803776ull);
  played_holders.count = 1;
  wcscpy(played_holders.holders[0].name, L"msedge.exe");
  played_holders.holders[0].working_set_bytes = 3328599654ull;
  played_holders.holders[0].processes = 24;
  EXPECT_TRUE(name_calls.empty()) << "nothing before the first opening";

  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  UpdateWindow(popup);
  ASSERT_GE(name_calls.size(), 1u);
  EXPECT_TRUE(name_calls[0].set);
  EXPECT_EQ(name_calls[0].window, popup);
  EXPECT_EQ(name_calls[0].text, L"Quillmere status");
  // The figures of the moment, in the words of FormatStatusAccessibleDescription.
  StatusFigures figures;
  GatherStatusFigures(app.status, figures);
  wchar_t expected[STATUS_DESCRIPTION_CAPACITY];
  FormatStatusAccessibleDescription(expected, figures, app.status.holders);
  EXPECT_EQ(name_calls.back().description, expected);
  const std::wstring& first = name_calls[0].description;
  EXPECT_EQ(first.rfind(L"Memory load ", 0), 0u) << Narrow(first);
  EXPECT_NE(first.find(L" GB used. Commit 14.2 / 24.0 GB (59%). Admin. Last clean 09:05, freed 1235 MB. "
                       L"Most memory: msedge.exe  3.1 GB  (24)."),
            std::wstring::npos)
      << Narrow(first);
  EXPECT_TRUE(win_events.empty()) << "opening announces nothing: the reader reads the popup as it takes the focus";
  wchar_t title[32] = {};
  GetWindowTextW(popup, title, 32);
  EXPECT_STREQ(title, L"Quillmere") << "the title bar keeps its name";

  // Each second: set again only where the text changed (the load may move
  // here), never an event.
  for (int i = 0; i < 5; ++i) {
    RefreshTray();
    SendMessageW(popup, WM_TIMER, TIMER_STATUS, 0);
    UpdateWindow(popup);
  }
  for (size_t i = 1; i < name_calls.size(); ++i)
    EXPECT_NE(name_calls[i].description, name_calls[i - 1].description) << "set again without a change";
  EXPECT_TRUE(win_events.empty());
  // A figure that changes between two ticks is described anew at the next.
  played_commit = CommitChargeOf(21474836480ull, 25769803776ull);
  SendMessageW(popup, WM_TIMER, TIMER_STATUS, 0);
  UpdateWindow(popup);
  EXPECT_NE(name_calls.back().description.find(L"Commit 20.0 / 24.0 GB (83%)."), std::wstring::npos)
      << Narrow(name_calls.back().description);
  EXPECT_TRUE(win_events.empty()) << "a figure's change raises no event";

  // A clean finishes while it is open: the next repaint describes it and
  // raises one event; the repaints after it none.
  RecordClean(app.status.clean_history, 20.0, 3, kUnread, kUnread);
  app.status.clean_history.entries[1].time = SYSTEMTIME{2026, 1, 0, 1, 9, 17, 0, 0};
  for (int i = 0; i < 3; ++i) {
    SendMessageW(popup, WM_TIMER, TIMER_STATUS, 0);
    UpdateWindow(popup);
  }
  ASSERT_EQ(win_events.size(), 1u);
  EXPECT_EQ(win_events[0].event, static_cast<DWORD>(EVENT_OBJECT_DESCRIPTIONCHANGE));
  EXPECT_EQ(win_events[0].window, popup);
  EXPECT_EQ(win_events[0].object, OBJID_CLIENT);
  EXPECT_EQ(win_events[0].child, CHILDID_SELF);
  EXPECT_NE(name_calls.back().description.find(L"Last clean 09:17, freed 20 MB."), std::wstring::npos)
      << Narrow(name_calls.back().description);

  // Opened again by a clean that shows it: described and announced at once.
  RecordClean(app.status.clean_history, 30.0, 4, kUnread, kUnread);
  app.status.clean_history.entries[2].time = SYSTEMTIME{2026, 1, 0, 1, 9, 30, 0, 0};
  ShowStatusPopup(app.shell_window);
  ASSERT_EQ(win_events.size(), 2u);
  EXPECT_NE(name_calls.back().description.find(L"Last clean 09:30, freed 30 MB."), std::wstring::npos);
  UpdateWindow(popup);
  EXPECT_EQ(win_events.size(), 2u);

  // Taken off as it goes; a new popup is described again, quietly.
  CloseStatusWindow(app.status);
  EXPECT_FALSE(name_calls.back().set);
  EXPECT_EQ(name_calls.back().window, popup);
  ShowStatusPopup(app.shell_window);
  EXPECT_TRUE(name_calls.back().set);
  EXPECT_EQ(name_calls.back().window, app.status.window);
  EXPECT_EQ(win_events.size(), 2u);
}

// The real annotation: where the system has the service (Windows), the
// popup's client object answers the name; Wine's service refuses it
// (E_NOTIMPL), and the popup opens and works without.
namespace {

// Spelled out: the GUID libraries at hand define some of them twice.
const CLSID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const MSAAPROPID kNameProperty = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
const IID kAccessibleInterface = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

}  // namespace

TEST(StatusPopupAccessibleName, TheSystemsServiceNamesTheClientAreaOrThePopupGoesWithout) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  StatusState status = {.platform = &kListsHere};
  EXPECT_EQ(status.annotation.ole32, nullptr);
  const RECT no_icon = {};
  ShowStatusWindow(status, owner, no_icon);
  ASSERT_TRUE(IsStatusWindowOpen(status));
  EXPECT_NE(status.annotation.ole32, nullptr) << "ole32 loaded at the first opening";
  HWND popup = status.window;

  // Does the system's service take a name at all?
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IAccPropServices* services = nullptr;
  ASSERT_EQ(CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesInterface,
                             reinterpret_cast<void**>(&services)),
            S_OK);
  HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  const bool system_names = SUCCEEDED(services->SetHwndPropStr(probe, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                                               kNameProperty, L"probe"));
  if (system_names) services->ClearHwndProps(probe, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &kNameProperty, 1);
  DestroyWindow(probe);
  services->Release();

  EXPECT_EQ(status.annotation.services != nullptr, system_names) << "the service held while the name is set";
  IAccessible* client = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(popup, static_cast<DWORD>(OBJID_CLIENT), kAccessibleInterface,
                                       reinterpret_cast<void**>(&client)),
            S_OK);
  VARIANT self = {};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  ASSERT_EQ(client->get_accName(self, &name), S_OK);
  const std::wstring read = name ? name : L"";
  SysFreeString(name);
  BSTR description = nullptr;
  const HRESULT described_answer = client->get_accDescription(self, &description);
  const std::wstring described = description ? description : L"";
  SysFreeString(description);
  client->Release();
  if (system_names) {
    EXPECT_EQ(read, L"Quillmere status");
    EXPECT_EQ(described_answer, S_OK);
    EXPECT_EQ(described.rfind(L"Memory load ", 0), 0u) << Narrow(described);
  } else {
    // Wine: the window's own name, and the popup as ever.
    EXPECT_EQ(read, L"Quillmere");
    UpdateWindow(popup);
    EXPECT_EQ(WindowPixel(popup, 2, 2), status.palette.background) << "painted";
  }
  EXPECT_EQ(SetStatusAccessibleName(status.annotation, popup, L"Quillmere status", L"Memory load 1%."),
            system_names);

  SendMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(IsStatusWindowOpen(status));
  EXPECT_EQ(status.annotation.services, nullptr) << "let go with the popup";
  EXPECT_NE(status.annotation.ole32, nullptr) << "ole32 kept for the run";
  CoUninitialize();
  DestroyWindow(owner);
}

// The shell cannot say where the icon is here (no icon): the taskbar's
// place decides.
TEST_F(StatusPopupOnPlayedPlatform, WithoutItsIconOpensAtTheTaskbarsEdge) {
  RECT work = {}, placed = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const RECT monitor = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  struct Case {
    const char* what;
    StatusTaskbar taskbar;
    LONG left_or_right, top_or_bottom;  // the popup's edges nearest the notification area
  };
  const Case cases[] = {
      {"top", {{monitor.left, monitor.top, monitor.right, monitor.top + 48}, ABE_TOP}, work.right - 12,
       (work.top > monitor.top + 48 ? work.top : monitor.top + 48) + 12},
      {"left", {{monitor.left, monitor.top, monitor.left + 48, monitor.bottom}, ABE_LEFT},
       (work.left > monitor.left + 48 ? work.left : monitor.left + 48) + 12, work.bottom - 12},
      {"none", kNoTaskbar, work.right - 12, work.bottom - 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    played_taskbar = c.taskbar;
    ShowStatusPopup(app.shell_window);
    ASSERT_TRUE(IsStatusWindowOpen(app.status));
    GetWindowRect(app.status.window, &placed);
    EXPECT_EQ(c.taskbar.edge == ABE_LEFT && !IsRectEmpty(&c.taskbar.rect) ? placed.left : placed.right,
              c.left_or_right);
    EXPECT_EQ(c.taskbar.edge == ABE_TOP && !IsRectEmpty(&c.taskbar.rect) ? placed.top : placed.bottom,
              c.top_or_bottom);
    CloseStatusWindow(app.status);
    PumpMessages();
  }

  // Wine's own answer: inside the work area, clear of the taskbar it reports.
  app.status.platform = &kListsHere;
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  GetWindowRect(app.status.window, &placed);
  APPBARDATA bar = {};
  bar.cbSize = sizeof bar;
  RECT overlap;
  if (SHAppBarMessage(ABM_GETTASKBARPOS, &bar)) {
    EXPECT_FALSE(IntersectRect(&overlap, &placed, &bar.rc));
  }
  EXPECT_TRUE(IntersectRect(&overlap, &placed, &work) && EqualRect(&overlap, &placed)) << "inside the work area";
}

// A larger system text size (here the icon-title font the popup uses, twice
// its height): the popup widens so that no line is cut.
TEST_F(StatusPopupOnPlayedPlatform, ALargerTextSizeWidensItAndCutsNoLine) {
  LOGFONTW normal = {};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof normal, &normal, 0));
  LOGFONTW larger = normal;
  larger.lfHeight = normal.lfHeight * 2;
  // For this process only: neither written nor sent to other programs.
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETICONTITLELOGFONT, sizeof larger, &larger, 0));
  // Five cleans of the widest lines a clean can give.
  const MemoryLists before = {true, 0, 0, 0, 8888888.0, 0}, after = {true, 0, 0, 0, 0, 0};
  for (int i = 0; i < STATUS_RECENT_CLEANS; ++i) RecordClean(app.status.clean_history, 8888888.0, 4096, before, after);
  ShowStatusPopup(app.shell_window);
  SystemParametersInfoW(SPI_SETICONTITLELOGFONT, sizeof normal, &normal, 0);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  const StatusLayout& layout = app.status.layout;
  RECT client = {};
  GetClientRect(popup, &client);
  EXPECT_EQ(client.right, layout.client.cx);
  EXPECT_GT(client.right, 454) << "wider than at the usual text size";

  // Each line in the popup's own font ends a margin short of its right edge.
  StatusFigures figures;
  GatherStatusFigures(app.status, figures);
  StatusTextLine lines[STATUS_RECENT_CLEANS];
  ASSERT_EQ(StatusCleanLines(figures.cleans, figures.clean_count, layout, lines), STATUS_RECENT_CLEANS);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, app.status.font);
  SIZE extent = {};
  GetTextExtentPoint32W(dc, lines[0].text, static_cast<int>(wcslen(lines[0].text)), &extent);
  SelectObject(dc, previous);
  DeleteDC(dc);
  EXPECT_LE(layout.margin + extent.cx, client.right - layout.margin) << Narrow(lines[0].text);

  // And on the screen: the right-hand strip, where a cut line would run
  // out, holds nothing but the background.
  UpdateWindow(popup);
  PixelImage shot = CapturePixels(popup, client);
  ASSERT_EQ(shot.width, client.right);
  int ink = 0, lines_ink = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = shot.width - layout.badge_inset; x < shot.width; ++x) ink += shot.At(x, y) != kBackground;
    for (int x = layout.margin; x < shot.width; ++x)
      lines_ink += y >= layout.first_clean_y && shot.At(x, y) != kBackground;
  }
  EXPECT_EQ(ink, 0) << "text runs to the right edge";
  EXPECT_GT(lines_ink, 500) << "the clean lines drawn";
}

// ---------------------------------------------------------------------------
// The commit charge's row and the programs holding the most memory.

constexpr uint64_t MiB = 1024ull * 1024;
constexpr uint64_t GiB = 1024ull * MiB;

TEST(StatusPopupLayout, LayoutMakesRoomForTheCommitRowAndTheHoldersAndMovesTheRestDown) {
  struct Case {
    const char* what;
    UINT dpi;
    int ascent, text;
    bool lists_row;
  };
  const Case cases[] = {
      {"Segoe UI, 100 %", 96, 52, 16, false},
      {"Segoe UI, 100 %, with the lists", 96, 52, 16, true},
      {"Segoe UI, 150 %", 144, 78, 24, false},
      {"Segoe UI, 200 %, with the lists", 192, 104, 32, true},
      {"lines 24 high", 96, 52, 24, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StatusTextMetrics metrics = Heights(c.ascent, c.text);
    const StatusLayout plain = LayOutStatus(c.dpi, metrics, c.lists_row);
    EXPECT_FALSE(plain.commit_row);
    EXPECT_EQ(plain.commit_y, 0);
    EXPECT_EQ(plain.holder_lines, 0);
    EXPECT_EQ(plain.holders_separator_y + plain.holders_heading_y + plain.first_holder_y, 0);

    const StatusLayout commit = LayOutStatus(c.dpi, metrics, c.lists_row, true);
    EXPECT_TRUE(commit.commit_row);
    EXPECT_EQ(commit.commit_y, (c.lists_row ? plain.lists_text_y : plain.memory_y) + plain.line_step)
        << "a line under the row above";
    EXPECT_GE(commit.box_top, commit.commit_y + c.text) << "the box clears it";
    const int row = commit.box_top - plain.box_top;
    EXPECT_EQ(row, plain.line_step) << "one line lower";
    EXPECT_EQ(commit.memory_y, plain.memory_y);
    EXPECT_EQ(commit.lists_text_y, plain.lists_text_y);
    EXPECT_EQ(commit.box_bottom, plain.box_bottom + row);
    EXPECT_EQ(commit.heading_y, plain.heading_y + row);
    EXPECT_EQ(commit.first_clean_y, plain.first_clean_y + row);
    EXPECT_EQ(commit.client.cy, plain.client.cy + row);
    EXPECT_EQ(commit.client.cx, plain.client.cx);

    const int last_clean_bottom = commit.first_clean_y + (STATUS_RECENT_CLEANS - 1) * commit.line_step + c.text;
    for (int lines = 1; lines <= TOP_MEMORY_HOLDERS; ++lines) {
      const StatusLayout all = LayOutStatus(c.dpi, metrics, c.lists_row, true, lines);
      EXPECT_EQ(all.holder_lines, lines);
      EXPECT_EQ(all.first_clean_y, commit.first_clean_y) << "nothing above moves";
      EXPECT_GT(all.holders_separator_y, last_clean_bottom) << "under the last clean line";
      EXPECT_GT(all.holders_heading_y, all.holders_separator_y);
      EXPECT_GE(all.first_holder_y, all.holders_heading_y + c.text);
      const int last_holder_bottom = all.first_holder_y + (lines - 1) * all.line_step + c.text;
      EXPECT_EQ(all.client.cy, last_holder_bottom + MulDiv(12, c.dpi, 96)) << "the bottom margin under the last";
      EXPECT_EQ(all.client.cx, commit.client.cx) << "a holder's name is cut, never measured";
    }
  }
}

TEST(StatusPopupHolders, OneLineAProgramAndWhatIsHiddenOnTheHeading) {
  struct Case {
    int32_t count;
    bool some_hidden;
    int lines;
    const wchar_t* heading;
  };
  const Case cases[] = {
      {0, false, 0, L"Holding the most memory"},
      {0, true, 0, L"Holding the most memory  (some processes hidden)"},
      {1, false, 1, L"Holding the most memory"},
      {3, true, 3, L"Holding the most memory  (some processes hidden)"},
      {5, false, 3, L"Holding the most memory"},  // never more than the three ranked
  };
  for (const Case& c : cases) {
    TopMemoryHolders top = {};
    top.count = c.count;
    top.some_hidden = c.some_hidden;
    EXPECT_EQ(StatusHolderLines(top), c.lines) << c.count;
    wchar_t heading[STATUS_HEADING_CAPACITY];
    FormatStatusHoldersHeading(heading, c.some_hidden);
    EXPECT_STREQ(heading, c.heading);
  }
}

TEST_F(StatusPopupPainting, CommitRowInTheLoadsColourOfItsBandOrBlankWhenUnread) {
  CreateStatusFonts(status_, 96, false, true, 0);
  height_ = status_.layout.client.cy;
  const RECT row = {0, status_.layout.commit_y, kWidth, status_.layout.commit_y + status_.layout.line_step};
  struct Case {
    int percent;
    COLORREF colour;
  };
  const Case cases[] = {{12, kNormal.load[0]}, {59, kNormal.load[0]}, {60, kNormal.load[1]},
                        {79, kNormal.load[1]}, {80, kNormal.load[2]}, {100, kNormal.load[2]}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percent);
    figures_.commit = CommitChargeOf(static_cast<uint64_t>(c.percent) * GiB / 4, 25ull * GiB);
    ASSERT_EQ(figures_.commit.percent, c.percent);
    Draw();
    EXPECT_GT(CountIn(row, c.colour), 20) << "the text in the band's colour";
    for (COLORREF other : kNormal.load) {
      if (other != c.colour) {
        EXPECT_EQ(CountIn(row, other), 0);
      }
    }
  }
  // The charge no longer readable: the row stays, blank.
  figures_.commit = {};
  Draw();
  EXPECT_EQ(CountIn(row, kBackground), kWidth * status_.layout.line_step);
}

TEST_F(StatusPopupPainting, HoldersUnderTheCleansAndALongNameCutBeforeItsFigures) {
  status_.holders.count = 3;
  status_.holders.some_hidden = true;
  const std::wstring long_name = std::wstring(250, L'W') + L".exe";
  CopyBounded(status_.holders.holders[0].name, MEMORY_HOLDER_NAME_CAPACITY, long_name.c_str());
  status_.holders.holders[0].working_set_bytes = 3 * GiB;
  status_.holders.holders[0].processes = 24;
  // A short name with the long one's figures, to compare their lines' ends.
  CopyBounded(status_.holders.holders[1].name, MEMORY_HOLDER_NAME_CAPACITY, L"a.exe");
  status_.holders.holders[1].working_set_bytes = 3 * GiB;
  status_.holders.holders[1].processes = 24;
  CopyBounded(status_.holders.holders[2].name, MEMORY_HOLDER_NAME_CAPACITY, L"b.exe");
  status_.holders.holders[2].working_set_bytes = 10 * MiB;
  status_.holders.holders[2].processes = 1;
  CreateStatusFonts(status_, 96, false, false, StatusHolderLines(status_.holders));
  const StatusLayout& layout = status_.layout;
  height_ = layout.client.cy;
  Draw();
  // The separator, and the heading in its colour with the hidden ones after it.
  EXPECT_EQ(At(kWidth / 2, layout.holders_separator_y), kBoxLine);
  const RECT heading = {0, layout.holders_heading_y, kWidth, layout.holders_heading_y + layout.line_step};
  EXPECT_GT(CountIn(heading, kNormal.heading), 20);
  EXPECT_GT(CountIn(heading, kNormal.secondary), 20) << "(some processes hidden)";
  // Each line's ink: how far right it reaches.
  auto right_end = [&](int line) {
    int y0 = layout.first_holder_y + line * layout.line_step, right = -1;
    for (int y = y0; y < y0 + layout.line_step; ++y)
      for (int x = 0; x < kWidth; ++x)
        if (At(x, y) != kBackground && x > right) right = x;
    return right;
  };
  const int long_end = right_end(0), short_end = right_end(1);
  EXPECT_LT(long_end, kWidth - layout.margin) << "cut inside the margin";
  EXPECT_GT(long_end, kWidth - layout.margin - 20) << "with its figures at the end";
  EXPECT_GT(short_end, layout.margin);
  EXPECT_LT(short_end, kWidth / 2) << "a short name and its figures";
  EXPECT_GT(right_end(2), layout.margin);
  // The figures whole at the end of both lines: the short line's, from the
  // end of its name, are the same pixels as the long line's last columns.
  const int long_top = layout.first_holder_y, short_top = long_top + layout.line_step;
  const int figures_x = layout.margin + TextWidth(L"  a.exe"), figures_width = short_end + 1 - figures_x;
  const int long_figures_x = long_end + 1 - figures_width;
  ASSERT_GT(figures_width, TextWidth(L"  3.0 GB")) << "the short line's figures drawn";
  int differ = 0;
  for (int y = 0; y < layout.line_step; ++y)
    for (int x = 0; x < figures_width; ++x)
      differ += At(figures_x + x, short_top + y) != At(long_figures_x + x, long_top + y);
  EXPECT_EQ(differ, 0) << "the long line's figures cut or moved";
  // And just before them, within a letter's width, the ellipsis: as one
  // character or three full stops, whichever the system draws.
  EXPECT_TRUE(DrawnBefore(L"\u2026", long_figures_x, long_top, TextWidth(L"W")) ||
              DrawnBefore(L"...", long_figures_x, long_top, TextWidth(L"W")))
      << "no ellipsis before the figures";
  // Nothing below the last line but the margin.
  const int last_bottom = layout.first_holder_y + 3 * layout.line_step;
  EXPECT_EQ(CountIn({0, last_bottom, kWidth, height_}, kBackground), kWidth * (height_ - last_bottom));
}

// The holders cost a pass over every process: read as the popup opens and
// never again while it is open; the commit charge with every paint.
TEST_F(StatusPopupOnPlayedPlatform, HoldersReadOnceAnOpeningCommitWithEveryPaint) {
  played_commit = CommitChargeOf(14 * GiB, 24 * GiB);
  played_holders.count = 2;
  CopyBounded(played_holders.holders[0].name, MEMORY_HOLDER_NAME_CAPACITY, L"a.exe");
  CopyBounded(played_holders.holders[1].name, MEMORY_HOLDER_NAME_CAPACITY, L"b.exe");
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  EXPECT_TRUE(app.status.layout.commit_row);
  EXPECT_EQ(app.status.layout.holder_lines, 2);
  EXPECT_EQ(holders_read, 1);
  const int band = app.status.layout.commit_y + 4;
  for (int second = 0; second < 3; ++second) {
    SendMessageW(popup, WM_TIMER, TIMER_STATUS, 0);
    RefreshTray();
    UpdateWindow(popup);
  }
  EXPECT_EQ(holders_read, 1) << "not in the refresh";
  // 58 %: the commit row's text in the low band's green.
  int green = 0;
  for (int x = 0; x < 300; ++x)
    for (int y = band - 4; y < band + 12; ++y) green += WindowPixel(popup, x, y) == kNormal.load[0];
  EXPECT_GT(green, 20);
  played_commit = CommitChargeOf(20 * GiB, 24 * GiB);  // 83 %
  InvalidateStatusWindow(app.status);
  UpdateWindow(popup);
  int red = 0;
  for (int x = 0; x < 300; ++x)
    for (int y = band - 4; y < band + 12; ++y) red += WindowPixel(popup, x, y) == kNormal.load[2];
  EXPECT_GT(red, 20) << "read again with the paint";
  const int with_all = app.status.layout.client.cy;

  // Opened again where neither can be read: neither row, a smaller popup.
  CloseStatusWindow(app.status);
  PumpMessages();
  played_commit = {};
  played_holders = {};
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  EXPECT_EQ(holders_read, 2);
  EXPECT_FALSE(app.status.layout.commit_row);
  EXPECT_EQ(app.status.layout.holder_lines, 0);
  EXPECT_LT(app.status.layout.client.cy, with_all);
}

// Moved to a monitor of another scale, the popup makes its fonts and layout
// again: the commit row and the holders stay, and no process is read again.
TEST_F(StatusPopupOnPlayedPlatform, OnAMonitorOfTwiceTheScaleKeepsItsRowsAndReadsNoHolderAgain) {
  played_commit = CommitChargeOf(14 * GiB, 24 * GiB);  // 58 %: green
  played_holders.count = 2;
  CopyBounded(played_holders.holders[0].name, MEMORY_HOLDER_NAME_CAPACITY, L"a.exe");
  played_holders.holders[0].working_set_bytes = 2 * GiB;
  played_holders.holders[0].processes = 3;
  CopyBounded(played_holders.holders[1].name, MEMORY_HOLDER_NAME_CAPACITY, L"b.exe");
  played_holders.holders[1].working_set_bytes = 1 * GiB;
  played_holders.holders[1].processes = 1;
  ShowStatusPopup(app.shell_window);
  ASSERT_TRUE(IsStatusWindowOpen(app.status));
  HWND popup = app.status.window;
  const UINT dpi = 192;
  ASSERT_LT(WindowDpi(popup), dpi) << "opened at a smaller scale";
  RECT before = {}, frame = {};
  GetClientRect(popup, &before);
  GetWindowRect(popup, &frame);
  // Where Windows would suggest: twice the size, at the top left of the screen.
  RECT suggested = {0, 0, 2 * (frame.right - frame.left), 2 * (frame.bottom - frame.top)};
  SendMessageW(popup, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  UpdateWindow(popup);
  EXPECT_EQ(holders_read, 1) << "read again";

  // Laid out as a popup opened at that scale with both rows would be.
  StatusState there = {};
  CreateStatusFonts(there, dpi, false, true, 2);
  const StatusLayout& layout = app.status.layout;
  const StatusLayout& expected = there.layout;
  EXPECT_TRUE(layout.commit_row);
  EXPECT_EQ(layout.commit_y, expected.commit_y);
  EXPECT_EQ(layout.holder_lines, 2);
  EXPECT_EQ(layout.first_holder_y, expected.first_holder_y);
  EXPECT_EQ(layout.client.cx, expected.client.cx);
  EXPECT_EQ(layout.client.cy, expected.client.cy);
  RECT client = {};
  GetClientRect(popup, &client);
  // The frame was reckoned at the new scale; Wine draws it at the old one,
  // so the client can come out larger.
  EXPECT_GE(client.right, layout.client.cx);
  EXPECT_GE(client.bottom, layout.client.cy);
  EXPECT_GT(client.right, before.right * 3 / 2) << "wider with the scale";
  EXPECT_GT(client.bottom, before.bottom * 3 / 2) << "taller with the scale";

  // On the screen: the commit row in its green, and both holders' lines.
  PixelImage shot = CapturePixels(popup, client);
  const StatusPalette& palette = app.status.palette;
  auto count = [&](int top, COLORREF colour) {
    int n = 0;
    for (int y = top; y < top + expected.line_step && y < shot.height; ++y)
      for (int x = 0; x < shot.width; ++x) n += shot.At(x, y) == colour;
    return n;
  };
  EXPECT_GT(count(expected.commit_y, palette.load[0]), 80) << "the commit row";
  for (int line = 0; line < 2; ++line)
    EXPECT_GT(count(expected.first_holder_y + line * expected.line_step, palette.secondary), 80) << "holder " << line;
  DeleteStatusFonts(there);
}
