// The settings window's layout: its rows placed from the widths of their
// texts at every scale, text size, language and screen, its place in the
// work area, and the access keys of its rows.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/dpi.h"
#include "settings/settings_internal.h"
#include "tests/support.h"
#include "tests/support/in_language.h"
#include "tests/unit/settings_controls.h"

namespace {

// Widths of the controls' text as shown in Windows' Segoe UI 9 pt at 96 DPI,
// about; separators and fields have none.
// A drop-down list's is its widest item's.
const int kSegoeWidths[SETTINGS_CONTROL_COUNT] = {118, 112, 0,   155, 0,   145, 0,   137, 0,   160, 0,   0,   44,
                                                  101, 141, 109, 190, 140, 196, 0,   176, 0,   130, 0,   192, 0,
                                                  200, 0,   64,  107, 100, 205, 86,  105, 95,  0,   102, 291, 0,
                                                  55,  104, 16,  37};

// The text of `kSegoeWidths` drawn `percent` as wide and `height_percent` as
// tall as there, at `dpi`.
SettingsTextMetrics Text(UINT dpi, int percent = 100, int height_percent = 100) {
  SettingsTextMetrics text = {};
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) text.width[i] = MulDiv(kSegoeWidths[i] * percent / 100, dpi, 96);
  text.height = MulDiv(16 * height_percent / 100, dpi, 96);
  text.check_width = MulDiv(21, dpi, 96);
  return text;
}

// The settings window's own font at `dpi`, Segoe UI 9 pt (a substitute under
// Wine) at the user's text size `text_percent`, as this system draws the
// texts of the language in use.
SettingsTextMetrics SystemText(UINT dpi, int text_percent = 100) {
  HFONT font = CreateFontW(-MulDiv(9 * text_percent, static_cast<int>(dpi), 72 * 100), 0, 0, 0, FW_NORMAL, FALSE,
                           FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
  SettingsTextMetrics text = MeasureSettingsText(nullptr, font, dpi);
  DeleteObject(font);
  return text;
}

RECT At(const Created& c) { return {c.x, c.y, c.x + c.width, c.y + c.height}; }

// The screens people have, each with the largest scale Windows offers for
// it; every smaller one in steps of 24 DPI is offered too.
struct Screen {
  int width, height;
  UINT largest_dpi;
};
const Screen kScreens[] = {{1366, 768, 120}, {1600, 900, 144}, {1920, 1080, 168}, {2560, 1440, 168},
                           {3840, 2160, 288}};
// The user's text sizes Windows offers, up to 225 %.
const int kTextSizes[] = {100, 125, 150, 175, 200, 225};

bool Overlap(const RECT& a, const RECT& b) {
  RECT both;
  return IntersectRect(&both, &a, &b) != 0;
}

// What is wrong with the window laid out for `text` on `screen` at `dpi`
// with the user's text size `text_size`, its taskbar 48 pixels at 100 %:
// nothing when every control holds its text whole, none overlaps another or
// leaves the client area, and the window lies inside the work area. Up to
// 125 % text it holds the whole layout; past that it may be as tall as the
// work area and scroll (`scrolls`), every control still inside the client
// area's width and none taller than the view, so that scrolling shows each
// whole. The frame is the larger of this system's and Windows 10's.
std::vector<std::string> WindowFaults(const Screen& screen, UINT dpi, int text_size, const SettingsTextMetrics& text,
                                      bool& scrolls) {
  std::vector<std::string> faults;
  auto fault = [&faults](const std::string& what) { faults.push_back(what); };
  SettingsLayout layout = LayOutSettings(dpi, text);
  const int margin = MulDiv(14, dpi, 96);
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    const RECT& at = layout.controls[i];
    const Created& c = kControls[i];
    const std::string name = "control " + std::to_string(i) + " " + Describe(at);
    int need_width = text.width[i] + (c.style == check ? text.check_width : 0);
    int need_height = c.window_class == L"EDIT" ? text.height + MulDiv(4, dpi, 96) : c.style == separator ? 1 : text.height;
    if (at.right - at.left < need_width) fault(name + " narrower than its text, " + std::to_string(need_width));
    if (at.bottom - at.top < need_height) fault(name + " lower than its text, " + std::to_string(need_height));
    if (at.left < margin || at.top < margin || at.right > layout.client.cx - margin ||
        at.bottom > layout.client.cy - margin)
      fault(name + " outside the client area with its margin");
    for (int j = 0; j < i; ++j)
      if (Overlap(at, layout.controls[j])) fault(name + " on control " + std::to_string(j));
  }
  SIZE outer = SettingsWindowSize(layout.client, dpi);
  outer.cx = std::max<LONG>(outer.cx, layout.client.cx + MulDiv(14, dpi, 96));
  outer.cy = std::max<LONG>(outer.cy, layout.client.cy + MulDiv(37, dpi, 96));
  const SIZE frame = {outer.cx - layout.client.cx, outer.cy - layout.client.cy};
  const RECT work = {0, 0, screen.width, screen.height - MulDiv(48, dpi, 96)};
  const int scroll_bar = MulDiv(17, dpi, 96);
  SettingsPlace place = PlaceSettingsWindow(outer, work, {0, 0}, true, scroll_bar);
  const RECT& w = place.window;
  scrolls = place.scrolls;
  if (!(w.left >= work.left && w.top >= work.top && w.right <= work.right && w.bottom <= work.bottom))
    fault("the window " + Describe(w) + " outside the work area " + Describe(work));
  const LONG view_width = w.right - w.left - frame.cx - (place.scrolls ? scroll_bar : 0);
  const LONG view_height = w.bottom - w.top - frame.cy;
  if (view_width < layout.client.cx) fault("a control under the scroll bar or past the edge");
  if (!place.scrolls) {
    if (view_height < layout.client.cy) fault("the view lower than the layout");
    return faults;
  }
  if (text_size <= 125) fault("scrolls at " + std::to_string(text_size) + " % text");
  for (const RECT& at : layout.controls) {
    if (at.bottom - at.top > view_height) fault(Describe(at) + " taller than the view");
    // Scrolled to each control, it lies whole in the view.
    int position = ScrollToShow(0, view_height, layout.client.cy, at.top, at.bottom);
    if (at.top - position < 0 || at.bottom - position > view_height) fault(Describe(at) + " not whole in view");
  }
  return faults;
}

}  // namespace

TEST(SettingsLayout, ReadsInTwoColumnsThenAcrossThenOkAndCancel) {
  SettingsLayout layout = LayOutSettings(96, Text(96));
  for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
    RECT want = At(kControls[i]);
    EXPECT_TRUE(EqualRect(&layout.controls[i], &want))
        << "control " << i << " " << Narrow(kControls[i].text) << ": " << Describe(layout.controls[i]) << " not "
        << Describe(want);
  }
  EXPECT_EQ(layout.client.cx, 604);
  EXPECT_EQ(layout.client.cy, 460);

  // At every scale and font: each column's controls in one band, the right
  // one beside the left, what runs across below both.
  for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 288u}) {
    for (int percent : {80, 100, 140}) {
      SCOPED_TRACE(std::to_string(dpi) + " dpi, text " + std::to_string(percent) + "%");
      SettingsLayout at = LayOutSettings(dpi, Text(dpi, percent, percent));
      LONG left_right = 0, right_left = LONG_MAX, columns_bottom = 0, across_top = LONG_MAX;
      for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
        const RECT& r = at.controls[i];
        if (i < kRightColumn) left_right = std::max(left_right, r.right);
        else if (i < kAcross) right_left = std::min(right_left, r.left);
        if (i < kAcross) columns_bottom = std::max(columns_bottom, r.bottom);
        else across_top = std::min(across_top, r.top);
      }
      EXPECT_LT(left_right, right_left);
      EXPECT_LT(columns_bottom, across_top);
      EXPECT_EQ(at.controls[0].top, at.controls[kRightColumn].top) << "both columns start at the top";
    }
  }
}

TEST(SettingsLayout, WideTextWidensOnlyItsColumn) {
  struct Case {
    const char* what;
    UINT dpi;
    int control;  // index whose text is set to `width`
    int width;
    int left_field_x;   // where the left column's number fields go
    int right_x;        // where the right column starts
    int right_field_x;  // and its number fields
    int across;         // the width of the list and what runs across
    int cancel_x, ok_x, button_width;
    LONG client_width;
  };
  const Case cases[] = {
      {"fits", 96, 3, 155, 220, 314, 520, 576, 514, 432, 76, 604},
      {"left label 230", 96, 3, 230, 250, 344, 550, 606, 544, 462, 76, 634},
      {"left label at 150 %", 144, 3, 345, 375, 516, 825, 909, 816, 693, 114, 951},
      {"right label 230", 96, 18, 230, 220, 314, 550, 606, 544, 462, 76, 634},
      {"left check box 300", 96, 14, 300, 220, 359, 565, 621, 559, 477, 76, 649},
      {"right check box 300", 96, 26, 300, 220, 314, 520, 621, 559, 477, 76, 649},
      {"right-hand clean step 200", 96, 30, 200, 220, 314, 520, 657, 595, 513, 76, 685},
      {"exclusion label 650", 96, 37, 650, 220, 314, 520, 650, 588, 506, 76, 678},
      {"Cancel 70", 96, 42, 70, 220, 314, 520, 576, 504, 412, 86, 604},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsTextMetrics text = Text(c.dpi);
    text.width[c.control] = c.width;
    SettingsLayout layout = LayOutSettings(c.dpi, text);
    SettingsLayout fits = LayOutSettings(c.dpi, Text(c.dpi));
    for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
      const RECT& at = layout.controls[i];
      EXPECT_EQ(at.top, fits.controls[i].top) << "rows stay " << i;
      EXPECT_EQ(at.bottom, fits.controls[i].bottom) << i;
      const Created& k = kControls[i];
      if (k.window_class == L"EDIT" && k.id != IDC_EXCLUDE_LIST) {
        EXPECT_EQ(at.left, i < kRightColumn ? c.left_field_x : c.right_field_x) << i;
        EXPECT_EQ(at.right - at.left, MulDiv(70, c.dpi, 96)) << i;
      } else if (k.id == IDC_OK || k.id == IDC_CANCEL) {
        EXPECT_EQ(at.left, k.id == IDC_OK ? c.ok_x : c.cancel_x);
        EXPECT_EQ(at.right - at.left, c.button_width);
      } else if (k.id == IDC_LANGUAGE || (i + 1 < SETTINGS_CONTROL_COUNT && kControls[i + 1].id == IDC_LANGUAGE)) {
        EXPECT_EQ(at.left, fits.controls[i].left) << "the language's row stays at the left " << i;
        EXPECT_EQ(at.right, fits.controls[i].right) << i;
      } else if (i >= kAcross) {
        EXPECT_EQ(at.left, MulDiv(14, c.dpi, 96)) << i;
        EXPECT_EQ(at.right - at.left, c.across) << i;
      } else if (i != kSecondOfPair[0] && i != kSecondOfPair[1]) {
        EXPECT_EQ(at.left - (i < kRightColumn ? 0 : c.right_x - fits.controls[kRightColumn].left),
                  fits.controls[i].left)
            << "left edges move only with their column " << i;
      }
    }
    EXPECT_EQ(layout.controls[kRightColumn].left, c.right_x);
    EXPECT_EQ(layout.client.cx, c.client_width);
    EXPECT_EQ(layout.client.cy, fits.client.cy);
  }
}

// The clean steps stand two a row; a left-hand one whose text needs more
// than its half pushes its neighbour right instead of running under it.
TEST(SettingsLayout, AWideLeftHandStepPushesTheOneBesideIt) {
  const int left = 29, beside = 30;  // "Empty working sets", "Flush modified list"
  SettingsTextMetrics text = Text(96);
  SettingsLayout fits = LayOutSettings(96, text);
  EXPECT_EQ(fits.controls[beside].left, 452);
  EXPECT_EQ(fits.controls[beside].top, fits.controls[left].top) << "one row";
  text.width[left] = 200;
  SettingsLayout wide = LayOutSettings(96, text);
  EXPECT_GE(wide.controls[left].right - wide.controls[left].left, 200 + text.check_width);
  EXPECT_EQ(wide.controls[beside].left, 314 + 221 + 8) << "pushed past the text and the gap";
  EXPECT_LE(wide.controls[left].right, wide.controls[beside].left);
  EXPECT_GE(wide.controls[beside].right - wide.controls[beside].left, 100 + text.check_width);
  EXPECT_EQ(wide.controls[beside].top, fits.controls[beside].top) << "still one row";
  EXPECT_GE(wide.client.cx, wide.controls[beside].right + 14);
  EXPECT_EQ(wide.client.cy, fits.client.cy);
}

TEST(SettingsLayout, TallTextGrowsItsRowAndMovesTheRestDown) {
  SettingsTextMetrics text = Text(96);
  text.height = 22;  // labels need 22 of 18, fields 26 of 22, check boxes 22 of 20, buttons 30 of 28
  SettingsLayout layout = LayOutSettings(96, text);
  EXPECT_EQ(layout.controls[0].top, 14);
  EXPECT_EQ(layout.controls[0].bottom, 36);
  EXPECT_EQ(layout.controls[2].top, 42) << "the next row moved down by the heading's 4";
  EXPECT_EQ(layout.controls[2].bottom, 68) << "the field grew to 26";
  EXPECT_EQ(layout.controls[1].top, 44) << "its label in the middle of the row";
  EXPECT_EQ(layout.controls[1].bottom, 66);
  EXPECT_EQ(layout.controls[4].top, 74);
  EXPECT_EQ(layout.controls[13].bottom - layout.controls[13].top, 22);
  EXPECT_EQ(layout.controls[42].bottom - layout.controls[42].top, 30);
  EXPECT_EQ(layout.client.cy, layout.controls[42].bottom + 14);
}

// Any scale, any font: every text whole, nothing on top of anything else,
// everything inside the client area with its margin.
TEST(SettingsLayout, NothingCutOrOverlappingAtAnyScaleOrFont) {
  struct Font {
    int width_percent, height_percent;
  };
  const Font fonts[] = {{100, 100}, {125, 100}, {140, 125}, {80, 90}, {170, 150}};
  for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 288u}) {
    for (const Font& f : fonts) {
      SettingsTextMetrics text = Text(dpi, f.width_percent, f.height_percent);
      SettingsLayout layout = LayOutSettings(dpi, text);
      SCOPED_TRACE(std::to_string(dpi) + " dpi, text " + std::to_string(f.width_percent) + "% x " +
                   std::to_string(f.height_percent) + "%");
      const int margin = MulDiv(14, dpi, 96);
      for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
        const RECT& at = layout.controls[i];
        const Created& c = kControls[i];
        int need_width = text.width[i] + (c.style == check ? text.check_width : 0);
        int need_height = c.window_class == L"EDIT" ? text.height + MulDiv(4, dpi, 96)
                          : c.style == separator    ? 1
                                                    : text.height;
        EXPECT_GE(at.right - at.left, need_width) << i;
        EXPECT_GE(at.bottom - at.top, need_height) << i;
        EXPECT_GE(at.left, margin) << i;
        EXPECT_GE(at.top, margin) << i;
        EXPECT_LE(at.right, layout.client.cx - margin) << i;
        EXPECT_LE(at.bottom, layout.client.cy - margin) << i;
        for (int j = 0; j < i; ++j)
          EXPECT_FALSE(Overlap(at, layout.controls[j])) << i << " on " << j << ": " << Describe(at) << " "
                                                        << Describe(layout.controls[j]);
      }
    }
  }
}

// The screens people have, each at the largest scale Windows offers for it
// and every smaller one, with a taskbar of 48 pixels at 100 %: the whole
// window, caption and frame included, fits above it with room to spare for
// one more field row. The frame is the larger of this system's and
// Windows 10's (a 23-pixel caption and 7-pixel borders at 100 %).
TEST(SettingsLayout, FitsAboveTheTaskbarOfEveryScreenAtEveryScale) {
  for (const Screen& screen : kScreens) {
    for (UINT dpi = 96; dpi <= screen.largest_dpi; dpi += 24) {
      struct Font {
        const char* name;
        SettingsTextMetrics text;
      };
      const Font fonts[] = {{"Segoe UI", Text(dpi)},
                            {"this system's", SystemText(dpi)},
                            {"Segoe UI a quarter larger", Text(dpi, 125, 125)}};
      for (const Font& font : fonts) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height) + " at " +
                     std::to_string(dpi) + " dpi, " + font.name);
        ASSERT_GT(font.text.height, 0);
        SettingsLayout layout = LayOutSettings(dpi, font.text);
        SIZE outer = SettingsWindowSize(layout.client, dpi);
        EXPECT_GT(outer.cy, layout.client.cy) << "a caption";
        outer.cx = std::max<LONG>(outer.cx, layout.client.cx + MulDiv(14, dpi, 96));
        outer.cy = std::max<LONG>(outer.cy, layout.client.cy + MulDiv(37, dpi, 96));
        const int work_height = screen.height - MulDiv(48, dpi, 96);
        EXPECT_LE(outer.cx, screen.width);
        // One more field row: the taller of its label and field, and the
        // space above it.
        int row = std::max(std::max(MulDiv(22, dpi, 96), font.text.height + MulDiv(4, dpi, 96)),
                           MulDiv(18, dpi, 96)) +
                  MulDiv(6, dpi, 96);
        EXPECT_LE(outer.cy + row, work_height) << "outer " << outer.cx << "x" << outer.cy;
      }
    }
  }
}

// The user's text size on the screens people have, each at every scale
// Windows offers for it, with a taskbar of 48 pixels at 100 %. Up to 125 %
// text the window fits the work area with every control whole. Past that
// (Windows offers up to 225 %) the layout may be taller than the work area:
// then the window is as tall as it and scrolls, every control still inside
// the client area's width and none taller than the view, so that scrolling
// shows each whole.
TEST(SettingsLayout, EveryTextSizeFitsOrScrollsInsideTheWorkArea) {
  int scrolling = 0;
  for (const Screen& screen : kScreens) {
    for (UINT dpi = 96; dpi <= screen.largest_dpi; dpi += 24) {
      for (int text_size : kTextSizes) {
        SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height) + " at " +
                     std::to_string(dpi) + " dpi, text " + std::to_string(text_size) + "%");
        const SettingsTextMetrics text = Text(dpi, text_size, text_size);
        bool scrolls = false;
        for (const std::string& fault : WindowFaults(screen, dpi, text_size, text, scrolls)) ADD_FAILURE() << fault;
        scrolling += scrolls;
      }
    }
  }
  EXPECT_GT(scrolling, 0) << "the small screens at the largest text cannot hold the whole window";
}

// The same in every language, each text measured as this system draws it in
// the window's font at the text sizes the window is made for (100 % and
// 125 %, and 150 %, where the smaller screens at their largest scale
// scroll): every label whole, the window inside the work area. A language
// without a table of its own shows English.
TEST(SettingsLayout, EveryLanguageFitsOrScrollsInsideTheWorkAreaWithEveryTextWhole) {
  LanguageInUseForTheTest restore;
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    UseLanguage(language);
    for (const Screen& screen : kScreens) {
      for (UINT dpi = 96; dpi <= screen.largest_dpi; dpi += 24) {
        for (int text_size : {100, 125, 150}) {
          SCOPED_TRACE(Narrow(kLanguages[language].name) + " on " + std::to_string(screen.width) + "x" +
                       std::to_string(screen.height) + " at " + std::to_string(dpi) + " dpi, text " +
                       std::to_string(text_size) + "%");
          const SettingsTextMetrics text = SystemText(dpi, text_size);
          ASSERT_GT(text.height, 0);
          bool scrolls = false;
          for (const std::string& fault : WindowFaults(screen, dpi, text_size, text, scrolls)) ADD_FAILURE() << fault;
        }
      }
    }
  }
}

// The check above finds a label too wide for the screen, a window too tall
// at text that should fit, and no fault where there is none.
TEST(SettingsLayout, TheFitCheckFindsWhatDoesNotFit) {
  struct Case {
    const char* what;
    int control;  // its text's width set to `width`, at 96 DPI
    int width;
    int height;  // the text's height, at 96 DPI
    int text_size;
    bool faults;
  };
  const Case cases[] = {
      {"English", 1, 112, 16, 100, false},
      {"a label as wide as the smallest screen", 1, 1300, 16, 100, true},
      {"a check box as wide as the smallest screen", 13, 1350, 16, 100, true},
      {"the exclusion label as wide", 37, 1340, 16, 100, true},
      {"the language list's widest item as wide", 40, 1200, 16, 100, true},
      {"text two and a half times as tall at 100 %", 1, 112, 40, 100, true},
      {"the same at 250 %: scrolls", 1, 112, 40, 250, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsTextMetrics text = Text(96);
    text.width[c.control] = c.width;
    text.height = c.height;
    bool scrolls = false;
    EXPECT_EQ(!WindowFaults(kScreens[0], 96, c.text_size, text, scrolls).empty(), c.faults);
  }
}

TEST(SettingsLayout, PlacedCentredOrWhereAskedInsideTheWorkArea) {
  struct Case {
    const char* what;
    SIZE outer;
    RECT work;
    POINT top_left;
    bool centre;
    RECT window;
    bool scrolls;
  };
  const Case cases[] = {
      {"centred", {600, 400}, {0, 0, 1000, 800}, {0, 0}, true, {200, 200, 800, 600}, false},
      {"centred on a second monitor", {600, 400}, {1000, 0, 2000, 800}, {0, 0}, true, {1200, 200, 1800, 600}, false},
      {"kept where asked", {600, 400}, {0, 0, 1000, 800}, {50, 60}, false, {50, 60, 650, 460}, false},
      {"past the right and bottom", {600, 400}, {0, 0, 1000, 800}, {900, 700}, false, {400, 400, 1000, 800}, false},
      {"past the left and top", {600, 400}, {0, 0, 1000, 800}, {-50, -60}, false, {0, 0, 600, 400}, false},
      {"taller than the work area", {600, 900}, {0, 0, 1000, 800}, {0, 0}, true, {192, 0, 808, 800}, true},
      {"taller, where asked", {600, 900}, {0, 40, 1000, 800}, {700, 300}, false, {384, 40, 1000, 800}, true},
      {"wider than the work area", {1200, 400}, {0, 0, 1000, 800}, {0, 0}, true, {0, 200, 1200, 600}, false},
      {"no work area", {600, 400}, {0, 0, 0, 0}, {0, 0}, true, {0, 0, 600, 400}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsPlace place = PlaceSettingsWindow(c.outer, c.work, c.top_left, c.centre, 16);
    EXPECT_TRUE(EqualRect(&place.window, &c.window)) << Describe(place.window);
    EXPECT_EQ(place.scrolls, c.scrolls);
  }
}

TEST(SettingsLayout, ScrollingShowsWhatIsAskedAndStaysInRange) {
  struct Case {
    const char* what;
    int position, page, range, top, bottom;
    int shown;
  };
  const Case shows[] = {
      {"in view already", 100, 300, 900, 150, 200, 100},
      {"above the view", 100, 300, 900, 40, 80, 40},
      {"below the view", 100, 300, 900, 420, 460, 160},
      {"taller than the view: its top", 0, 300, 900, 400, 800, 400},
      {"past the end", 0, 300, 900, 880, 950, 600},
      {"before the start", 100, 300, 900, -20, 10, 0},
      {"the page holds everything", 50, 900, 600, 500, 550, 0},
  };
  for (const Case& c : shows) {
    EXPECT_EQ(ScrollToShow(c.position, c.page, c.range, c.top, c.bottom), c.shown) << c.what;
  }
  struct Request {
    int request, lines, position;
    int target;
  };
  // A view of 300 on 900, lines of 18, the thumb dragged to 250.
  const Request requests[] = {
      {SB_LINEDOWN, 0, 100, 118}, {SB_LINEUP, 0, 100, 82},    {SB_LINEUP, 0, 10, 0},
      {SB_PAGEDOWN, 0, 100, 400}, {SB_PAGEDOWN, 0, 500, 600}, {SB_PAGEUP, 0, 100, 0},
      {SB_THUMBTRACK, 0, 0, 250}, {SB_THUMBPOSITION, 0, 0, 250}, {SB_TOP, 0, 400, 0},
      {SB_BOTTOM, 0, 0, 600},     {SB_ENDSCROLL, 0, 100, 100},  {SB_ENDSCROLL, 3, 100, 46},
      {SB_ENDSCROLL, -3, 100, 154}, {SB_ENDSCROLL, -60, 100, 600},
  };
  for (const Request& r : requests) {
    EXPECT_EQ(SettingsScrollTarget(r.request, r.lines, r.position, 300, 900, 18, 250), r.target)
        << r.request << " " << r.lines << " from " << r.position;
  }
}

// Each label and check box has an access key of its own, in every
// language (two ampersands show one, and keys differing in case are one
// key); a heading or a button has none (Enter and Esc are OK's and
// Cancel's). A label comes just before its field, where its key moves the
// focus.
TEST(SettingsAccessKeys, EachLabelAndCheckBoxHasItsOwnInEveryLanguageAndEachLabelPrecedesItsField) {
  LanguageInUseForTheTest restore;
  for (int language = 0; language < LANGUAGE_COUNT; ++language) {
    UseLanguage(language);
    SCOPED_TRACE(Narrow(kLanguages[language].name));
    std::map<wchar_t, std::wstring> keys;
    int labels = 0, boxes = 0;
    for (int i = 0; i < SETTINGS_CONTROL_COUNT; ++i) {
      wchar_t loaded[SETTINGS_TEXT_CAPACITY];
      SettingsControlText(i, loaded);
      const std::wstring text = loaded;
      SCOPED_TRACE(Narrow(text));
      const bool field = kControls[i].window_class == L"EDIT" || kControls[i].window_class == L"COMBOBOX";
      if (language == 0 && !field) {
        EXPECT_EQ(text, kControls[i].text);
      }
      EXPECT_EQ(text.empty(), field || kControls[i].style == separator) << "text where the control shows one";
      int marks = 0;
      wchar_t key = AccessKey(text, &marks);
      bool heading = std::find(std::begin(kHeadings), std::end(kHeadings), i) != std::end(kHeadings);
      bool box = kControls[i].style == check;
      bool is_label = kControls[i].window_class == L"STATIC" && !text.empty() && !heading;
      if (box || is_label) {
        EXPECT_EQ(marks, 1);
        EXPECT_TRUE(iswalnum(key)) << static_cast<int>(key);
        auto [seen, added] = keys.emplace(key, text);
        EXPECT_TRUE(added) << "the key of " << Narrow(seen->second) << " again";
        if (is_label) {
          ++labels;
          ASSERT_LT(i + 1, SETTINGS_CONTROL_COUNT);
          EXPECT_TRUE(kControls[i + 1].window_class == L"EDIT" || kControls[i + 1].window_class == L"COMBOBOX")
              << "its field next";
        } else {
          ++boxes;
        }
      } else {
        EXPECT_EQ(marks, 0) << "no access key";
      }
    }
    EXPECT_EQ(labels, 12);
    EXPECT_EQ(boxes, 9);
  }
}

