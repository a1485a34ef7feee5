// The popup's picture: gathered figures drawn off-screen, copied once.
#include "status/status_internal.h"

#include <wchar.h>

#include "clean/memory.h"
#include "common/dpi.h"
#include "common/language.h"
#include "common/system.h"
#include "common/text.h"
#include "status/status.h"

#include <math.h>

#include <initializer_list>

namespace {

// The popup's own palettes, for dark and light app modes.
struct OwnPalette {
  COLORREF background, secondary, heading, box_fill, box_line, graph_area, graph_line;
  COLORREF load[3];  // the load figure's colour in each band: green, amber, red
  COLORREF standby;  // the lists' bar: a muted violet
};
const OwnPalette kDark = {RGB(20, 20, 28),  RGB(130, 130, 155), RGB(230, 230, 240), RGB(32, 32, 44),
                          RGB(55, 55, 75),  RGB(0, 70, 130),    RGB(0, 130, 220),
                          {RGB(50, 210, 80), RGB(255, 195, 0), RGB(235, 75, 75)},
                          RGB(110, 100, 170)};
// Darker greens, ambers and reds than the dark mode's, which would not
// stand out from a light background.
const OwnPalette kLight = {RGB(249, 249, 251), RGB(92, 92, 112),   RGB(28, 28, 36), RGB(238, 238, 243),
                           RGB(190, 190, 205), RGB(190, 220, 245), RGB(0, 103, 192),
                           {RGB(16, 124, 16), RGB(157, 93, 0), RGB(196, 43, 28)},
                           RGB(130, 110, 200)};

// The load band's words, by LoadBand.
const UINT kBandWords[] = {IDS_BAND_LOW, IDS_BAND_HIGH, IDS_BAND_CRITICAL};
// Holder lines start where a clean line's text does, after its two spaces.
const wchar_t kLineIndent[] = L"  ";

// The 96-DPI layout of the popup's client area.
const int kMargin = 20;
const int kFigureY = 18;
const int kFigureGap = 5;  // below the figure's digits
const int kBandGap = 8;    // the figure to its band word, the word to the badge
const int kMemoryY = 76;
const int kBadgeY = 22;
const int kBadgeInset = 16;
const int kBoxTop = 108;
const int kBoxBottom = 208;
const int kMinutesY = 213;
const int kSeparatorY = 234;
const int kHeadingY = 242;
const int kFirstCleanY = 262;
const int kLineStep = 17;
const int kClientWidth = 454;  // at the least
const int kBottomMargin = 12;
// The lists' row: the bar where the graph box would start, its figures
// under it, the box that much lower.
const int kListsBarHeight = 10;
const int kListsTextGap = 4;    // bar to its figures
const int kListsRowHeight = 42;
const int kListsBoxGap = 12;    // figures to the graph box
// The holders' section: the cleans' separator and heading again, under the
// last clean line.
const int kHoldersGap = 8;  // the last clean line to the separator, the separator to the heading

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

void Text(HDC dc, int x, int y, const wchar_t* text, COLORREF colour) {
  SetTextColor(dc, colour);
  TextOutW(dc, x, y, text, static_cast<int>(wcslen(text)));
}

void Line(HDC dc, const POINT* points, int count, COLORREF colour, int width) {
  HPEN pen = CreatePen(PS_SOLID, width, colour);
  HGDIOBJ previous = SelectObject(dc, pen);
  MoveToEx(dc, points[0].x, points[0].y, nullptr);
  for (int i = 1; i < count; ++i) LineTo(dc, points[i].x, points[i].y);
  SelectObject(dc, previous);
  DeleteObject(pen);
}

void DrawGraph(HDC dc, const RECT& box, int pen_width, const StatusPalette& palette, const StatusFigures& figures) {
  POINT points[STATUS_GRAPH_MAX_POINTS] = {};
  int32_t held = figures.sample_count < USAGE_HISTORY_CAPACITY ? figures.sample_count : USAGE_HISTORY_CAPACITY;
  int count = StatusGraphPoints(figures.samples, held, box, points);
  if (count == 0) return;

  HBRUSH area = CreateSolidBrush(palette.graph_area);
  HGDIOBJ previous_brush = SelectObject(dc, area);
  HGDIOBJ previous_pen = SelectObject(dc, GetStockObject(NULL_PEN));
  Polygon(dc, points, count);
  SelectObject(dc, previous_brush);
  SelectObject(dc, previous_pen);
  DeleteObject(area);

  // The two closing points run along the bottom: not part of the line.
  Line(dc, points, count - 2, palette.graph_line, pen_width);
}

}  // namespace

StatusPalette ChooseStatusPalette(bool high_contrast, const StatusSystemColours& system, bool light) {
  StatusPalette palette = {};
  if (!high_contrast) {
    const OwnPalette& own = light ? kLight : kDark;
    palette.background = own.background;
    palette.heading = own.heading;
    palette.secondary = own.secondary;
    palette.box_fill = own.box_fill;
    palette.box_line = own.box_line;
    palette.graph_area = own.graph_area;
    palette.graph_line = own.graph_line;
    for (int band = 0; band < 3; ++band) palette.load[band] = own.load[band];
    palette.admin = own.load[LOAD_BAND_LOW];
    // In use as the graph's line, modified in the amber of a rising load,
    // free as the low load's green.
    palette.lists[LIST_IN_USE] = own.graph_line;
    palette.lists[LIST_MODIFIED] = own.load[LOAD_BAND_HIGH];
    palette.lists[LIST_STANDBY] = own.standby;
    palette.lists[LIST_FREE] = own.load[LOAD_BAND_LOW];
    palette.lists_outline = own.background;
    palette.band_in_words = false;
    palette.dark_title_bar = !light;
    return palette;
  }
  // The pairs the theme guarantees to stand apart: its text and highlight
  // on its window colour. One highlight for every load, so the band goes
  // in words.
  palette.background = system.window;
  palette.heading = system.window_text;
  palette.secondary = system.gray_text;
  palette.box_fill = system.window;
  palette.box_line = system.window_text;
  palette.graph_area = system.highlight;
  palette.graph_line = system.highlight;
  for (COLORREF& load : palette.load) load = system.highlight;
  palette.admin = system.window_text;
  palette.lists[LIST_IN_USE] = system.highlight;
  palette.lists[LIST_MODIFIED] = system.window_text;
  palette.lists[LIST_STANDBY] = system.gray_text;
  palette.lists[LIST_FREE] = system.window;
  palette.lists_outline = system.window_text;
  palette.band_in_words = true;
  return palette;
}

bool IsLightAppMode(bool read, DWORD value) { return !read || value != 0; }

double ContrastRatio(COLORREF a, COLORREF b) {
  auto channel = [](BYTE value) {
    double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : pow((c + 0.055) / 1.055, 2.4);
  };
  auto luminance = [&](COLORREF c) {
    return 0.2126 * channel(GetRValue(c)) + 0.7152 * channel(GetGValue(c)) + 0.0722 * channel(GetBValue(c));
  };
  double la = luminance(a), lb = luminance(b);
  if (la < lb) {
    double swap = la;
    la = lb;
    lb = swap;
  }
  return (la + 0.05) / (lb + 0.05);
}

COLORREF StatusLoadColor(const StatusPalette& palette, int load_percent) {
  return palette.load[LoadBandOf(load_percent)];
}

const wchar_t* StatusLoadBandWord(int load_percent, wchar_t (&word)[STATUS_WORD_CAPACITY]) {
  return LoadText(kBandWords[LoadBandOf(load_percent)], word);
}

const wchar_t* StatusBadge(int32_t elevation, wchar_t (&word)[STATUS_WORD_CAPACITY]) {
  return LoadText(elevation == 1 ? IDS_BADGE_ADMIN : IDS_BADGE_LIMITED, word);
}

void MeasureStatusTexts(HDC dc, HFONT font, HFONT large_font, StatusTextMetrics& metrics) {
  metrics = {};
  auto width = [dc](const wchar_t* text) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    return static_cast<int>(size.cx);
  };
  auto wider = [](int& widest, int value) {
    if (value > widest) widest = value;
  };
  TEXTMETRICW normal = {}, figure = {};
  HGDIOBJ previous = SelectObject(dc, large_font);
  GetTextMetricsW(dc, &figure);
  metrics.figure_ascent = figure.tmAscent;
  metrics.figure_width = width(L"100%");

  SelectObject(dc, font);
  GetTextMetricsW(dc, &normal);
  metrics.text_height = normal.tmHeight;
  wchar_t word[STATUS_WORD_CAPACITY];
  for (UINT id : kBandWords) wider(metrics.band_width, width(LoadText(id, word)));
  for (int32_t elevation : {0, 1}) wider(metrics.badge_width, width(StatusBadge(elevation, word)));
  // Each line with the largest figures it can hold: 8 is among the widest
  // digits; no machine has 10 TB of memory, nor a clean more than 4,096
  // processes to trim.
  wchar_t line[STATUS_MEMORY_LINE_CAPACITY];
  FormatStatusMemoryLine(line, 8888.8, 8888.8);
  wider(metrics.line_width, width(line));
  // A kept program's name is not measured: the popup cuts it where it runs
  // out of room.
  CleanRecord clean = {};
  clean.time.wHour = 18;
  clean.time.wMinute = 58;
  clean.freed_mb = 8888888;
  clean.processes = 8888;
  clean.lists_read = true;
  clean.standby_before_mb = 8888888;
  wchar_t clean_line[STATUS_CLEAN_LINE_CAPACITY];
  FormatStatusCleanLine(clean_line, clean);
  wider(metrics.line_width, width(clean_line));
  wchar_t lists[STATUS_LISTS_LINE_CAPACITY];
  const double parts[STATUS_LIST_PARTS] = {8888888, 8888888, 8888888, 8888888};
  FormatStatusListsLine(lists, parts);
  wider(metrics.line_width, width(lists));
  wchar_t commit[COMMIT_TEXT_CAPACITY];
  FormatCommitText(commit, CommitChargeOf(9543417331712ull, 9543417331712ull));  // 8888.0 / 8888.0 GB (100%)
  wider(metrics.line_width, width(commit));
  wchar_t heading[STATUS_HEADING_CAPACITY];
  FormatStatusHoldersHeading(heading, true);
  wider(metrics.line_width, width(heading));
  for (UINT id : {IDS_RECENT_CLEANS, IDS_FIVE_MINUTES, IDS_NO_CLEANS})
    wider(metrics.line_width, width(LoadText(id, heading)));
  SelectObject(dc, previous);
}

int StatusHolderLines(const TopMemoryHolders& top) {
  if (top.count <= 0) return 0;
  return top.count < TOP_MEMORY_HOLDERS ? top.count : TOP_MEMORY_HOLDERS;
}

void FormatStatusHoldersHeading(wchar_t (&text)[STATUS_HEADING_CAPACITY], bool some_hidden) {
  ZeroMemory(text, sizeof text);
  wchar_t heading[STATUS_HEADING_CAPACITY], hidden[STATUS_HEADING_CAPACITY] = {};
  LoadText(IDS_HOLDERS_HEADING, heading);
  if (some_hidden) LoadText(IDS_HOLDERS_HIDDEN, hidden);
  FormatBounded(text, STATUS_HEADING_CAPACITY, L"%s%s", heading, hidden);
}

StatusLayout LayOutStatus(UINT dpi, const StatusTextMetrics& metrics, bool lists_row, bool commit_row,
                          int holder_lines) {
  auto scale = [dpi](int value) { return ScaleForDpi(value, dpi); };
  auto larger = [](int a, int b) { return a > b ? a : b; };
  const int figure_ascent = metrics.figure_ascent, text_height = metrics.text_height;
  StatusLayout layout = {};
  layout.margin = scale(kMargin);
  layout.figure_y = scale(kFigureY);
  layout.badge_y = scale(kBadgeY);
  layout.badge_inset = scale(kBadgeInset);
  layout.band_gap = scale(kBandGap);
  // Each row keeps its scaled place unless the text above needs more room;
  // then it and everything below move down by as much.
  layout.memory_y = larger(scale(kMemoryY), layout.figure_y + figure_ascent + scale(kFigureGap));
  int shift = layout.memory_y - scale(kMemoryY);
  layout.box_top = larger(scale(kBoxTop) + shift, layout.memory_y + text_height + scale(kBoxTop - kMemoryY - 16));
  if (lists_row) {
    // The row takes the box's place; the box and all below follow it.
    layout.lists_row = true;
    layout.lists_bar_top = layout.box_top;
    layout.lists_bar_bottom = layout.lists_bar_top + scale(kListsBarHeight);
    layout.lists_text_y = layout.lists_bar_bottom + scale(kListsTextGap);
    layout.box_top = larger(layout.lists_bar_top + scale(kListsRowHeight),
                            layout.lists_text_y + text_height + scale(kListsBoxGap));
  }
  layout.line_step = larger(scale(kLineStep), text_height + scale(1));
  if (commit_row) {
    // In the box's place, a line under what is above it; the box a line lower.
    layout.commit_row = true;
    layout.commit_y = (lists_row ? layout.lists_text_y : layout.memory_y) + layout.line_step;
    layout.box_top = larger(layout.box_top + layout.line_step, layout.commit_y + text_height + scale(kListsBoxGap));
  }
  shift = layout.box_top - scale(kBoxTop);
  layout.box_bottom = scale(kBoxBottom) + shift;
  layout.minutes_y = scale(kMinutesY) + shift;
  layout.separator_y = larger(scale(kSeparatorY) + shift, layout.minutes_y + text_height + scale(4));
  shift = layout.separator_y - scale(kSeparatorY);
  layout.heading_y = scale(kHeadingY) + shift;
  layout.first_clean_y = larger(scale(kFirstCleanY) + shift, layout.heading_y + text_height + scale(3));
  layout.pen_width = larger(1, scale(1));
  int last_line_bottom = layout.first_clean_y + (STATUS_RECENT_CLEANS - 1) * layout.line_step + text_height;
  if (holder_lines > 0) {
    layout.holder_lines = holder_lines;
    layout.holders_separator_y = last_line_bottom + scale(kHoldersGap);
    layout.holders_heading_y = layout.holders_separator_y + scale(kHoldersGap);
    layout.first_holder_y = larger(layout.holders_heading_y + scale(kFirstCleanY - kHeadingY),
                                   layout.holders_heading_y + text_height + scale(3));
    last_line_bottom = layout.first_holder_y + (holder_lines - 1) * layout.line_step + text_height;
  }
  // As wide as the widest row needs: a line of text between the margins;
  // the figure, its band word and the badge side by side.
  int width = larger(scale(kClientWidth), 2 * layout.margin + metrics.line_width);
  width = larger(width, layout.margin + metrics.figure_width + layout.band_gap + metrics.band_width +
                            layout.band_gap + metrics.badge_width + layout.badge_inset);
  layout.client = {width, last_line_bottom + scale(kBottomMargin)};
  return layout;
}

RECT StatusGraphBox(const StatusLayout& layout, int client_width) {
  return {layout.margin, layout.box_top, client_width - layout.margin, layout.box_bottom};
}

int StatusGraphPoints(const int32_t* samples, int32_t count, const RECT& box,
                      POINT (&points)[STATUS_GRAPH_MAX_POINTS]) {
  const int left = box.left, right = box.right, bottom = box.bottom;
  const int inner = right - left - 2;
  const int height = box.bottom - box.top;
  if (count < 2 || inner < 1) return 0;
  int32_t n = count < inner ? count : inner;
  if (n > USAGE_HISTORY_CAPACITY) n = USAGE_HISTORY_CAPACITY;
  const int32_t* newest = samples + (count - n);
  for (int32_t i = 0; i < n; ++i) {
    // The rings hold whatever they were given; keep the line inside the box.
    int32_t sample = newest[i] < 0 ? 0 : (newest[i] > 100 ? 100 : newest[i]);
    points[i].x = left + 1 + static_cast<LONG>((static_cast<int64_t>(i) * inner) / n);
    points[i].y = bottom - 1 - (sample * (height - 2)) / 100;
  }
  points[n] = {right - 1, bottom - 1};
  points[n + 1] = {left + 1, bottom - 1};
  return n + 2;
}

void FormatStatusCleanLine(wchar_t (&text)[STATUS_CLEAN_LINE_CAPACITY], const CleanRecord& record) {
  ZeroMemory(text, sizeof text);
  // The figures keep room of their own, whatever the language; the name
  // follows.
  wchar_t figures[STATUS_CLEAN_FIGURES_CAPACITY] = {};
  if (!record.lists_read) {
    FormatText(figures, STATUS_CLEAN_FIGURES_CAPACITY, IDS_CLEAN_LINE, record.time.wHour, record.time.wMinute,
               record.freed_mb, record.processes);
  } else {
    // Whole megabytes first, so that a change under half a megabyte shows as
    // 0 rather than -0, and a rise carries its plus sign.
    double change = floor(record.standby_after_mb - record.standby_before_mb + 0.5);
    FormatText(figures, STATUS_CLEAN_FIGURES_CAPACITY, IDS_CLEAN_LINE_STANDBY, record.time.wHour,
               record.time.wMinute, record.freed_mb, record.processes, change > 0 ? L"+" : L"", change);
  }
  if (!record.kept) {
    CopyBounded(text, STATUS_CLEAN_LINE_CAPACITY, figures);
    return;
  }
  wchar_t name[64] = {};
  CopyBounded(name, 64, record.kept_name);
  if (!name[0]) LoadText(IDS_PROGRAM_IN_FRONT, name);
  FormatText(text, STATUS_CLEAN_LINE_CAPACITY, IDS_CLEAN_LINE_KEPT, figures, name);
}

int StatusCleanLines(const CleanRecord* cleans, int32_t count, const StatusLayout& layout,
                     StatusTextLine (&lines)[STATUS_RECENT_CLEANS]) {
  ZeroMemory(lines, sizeof lines);
  if (count <= 0) {
    lines[0].y = layout.first_clean_y;
    LoadText(IDS_NO_CLEANS, lines[0].text);
    return 1;
  }
  int shown = count < STATUS_RECENT_CLEANS ? count : STATUS_RECENT_CLEANS;
  for (int j = 0; j < shown; ++j) {
    lines[j].y = layout.first_clean_y + layout.line_step * j;
    FormatStatusCleanLine(lines[j].text, cleans[count - 1 - j]);
  }
  return shown;
}

void StatusListParts(const MemoryLists& lists, double total_mb, double (&parts)[STATUS_LIST_PARTS]) {
  const double free_mb = lists.free_mb + lists.zeroed_mb;
  // Lists read a moment after the total may add up to more than it.
  const double in_use = total_mb - (lists.modified_mb + lists.standby_mb + free_mb);
  parts[LIST_IN_USE] = in_use > 0 ? in_use : 0;
  parts[LIST_MODIFIED] = lists.modified_mb;
  parts[LIST_STANDBY] = lists.standby_mb;
  parts[LIST_FREE] = free_mb;
}

void StatusListSegments(const double (&parts)[STATUS_LIST_PARTS], const RECT& bar,
                        RECT (&segments)[STATUS_LIST_PARTS]) {
  double sum = 0;
  for (double part : parts) sum += part > 0 ? part : 0;
  const LONG width = bar.right > bar.left ? bar.right - bar.left : 0;
  // Each edge rounded from the running sum, so the rounding never adds up
  // and the last part ends on the bar's right edge.
  double running = 0;
  LONG left = bar.left;
  for (int i = 0; i < STATUS_LIST_PARTS; ++i) {
    running += parts[i] > 0 ? parts[i] : 0;
    LONG right = sum > 0 ? bar.left + static_cast<LONG>(floor(width * (running / sum) + 0.5)) : bar.left;
    if (i == STATUS_LIST_PARTS - 1 && sum > 0) right = bar.left + width;
    segments[i] = {left, bar.top, right, bar.bottom};
    left = right;
  }
}

void FormatStatusListsLine(wchar_t (&text)[STATUS_LISTS_LINE_CAPACITY], const double (&parts)[STATUS_LIST_PARTS],
                           double standby_low_priority_mb) {
  ZeroMemory(text, sizeof text);
  if (standby_low_priority_mb < 0) {
    FormatText(text, STATUS_LISTS_LINE_CAPACITY, IDS_LISTS_LINE, parts[LIST_IN_USE], parts[LIST_MODIFIED],
               parts[LIST_STANDBY], parts[LIST_FREE]);
    return;
  }
  FormatText(text, STATUS_LISTS_LINE_CAPACITY, IDS_LISTS_LINE_LOW, parts[LIST_IN_USE], parts[LIST_MODIFIED],
             parts[LIST_STANDBY], standby_low_priority_mb, parts[LIST_FREE]);
}

void FormatStatusMemoryLine(wchar_t (&text)[STATUS_MEMORY_LINE_CAPACITY], double used_gb, double total_gb) {
  ZeroMemory(text, sizeof text);
  wchar_t used[FIGURE_CAPACITY], total[FIGURE_CAPACITY];
  FormatOneDecimal(used, used_gb);
  FormatOneDecimal(total, total_gb);
  FormatText(text, STATUS_MEMORY_LINE_CAPACITY, IDS_MEMORY_LINE, used, total);
}

void FormatStatusAccessibleDescription(wchar_t (&text)[STATUS_DESCRIPTION_CAPACITY], const StatusFigures& figures,
                                       const TopMemoryHolders& holders) {
  ZeroMemory(text, sizeof text);
  // Each part with room for its words in any language beside its figures.
  constexpr size_t kWords = 64;
  wchar_t memory[kWords * 2] = {}, commit[COMMIT_TEXT_CAPACITY + kWords] = {}, clean[kWords * 2] = {};
  wchar_t holder[MEMORY_HOLDER_TEXT_CAPACITY + kWords] = {}, elevation[kWords];
  wchar_t used[FIGURE_CAPACITY], total[FIGURE_CAPACITY];
  FormatOneDecimal(used, figures.used_gb);
  FormatOneDecimal(total, figures.total_gb);
  FormatText(memory, kWords * 2, IDS_SAY_MEMORY, figures.load_percent, used, total);
  if (figures.commit.readable) {
    wchar_t line[COMMIT_TEXT_CAPACITY];
    FormatCommitText(line, figures.commit);
    FormatText(commit, COMMIT_TEXT_CAPACITY + kWords, IDS_SAY_COMMIT, line);
  }
  int held = figures.clean_count < STATUS_RECENT_CLEANS ? figures.clean_count : STATUS_RECENT_CLEANS;
  if (held <= 0) {
    LoadText(IDS_SAY_NO_CLEANS, clean);
  } else {
    const CleanRecord& newest = figures.cleans[held - 1];
    FormatText(clean, kWords * 2, IDS_SAY_LAST_CLEAN, newest.time.wHour, newest.time.wMinute, newest.freed_mb);
  }
  if (holders.count > 0) {
    wchar_t line[MEMORY_HOLDER_TEXT_CAPACITY];
    FormatMemoryHolder(line, holders.holders[0]);
    FormatText(holder, MEMORY_HOLDER_TEXT_CAPACITY + kWords, IDS_SAY_MOST_MEMORY, line);
  }
  LoadText(figures.elevation == 1 ? IDS_SAY_ADMIN : IDS_SAY_LIMITED, elevation);
  FormatText(text, STATUS_DESCRIPTION_CAPACITY, IDS_SAY_ALL, memory, commit, elevation, clean, holder);
}

namespace {

void DrawLists(HDC dc, const StatusLayout& layout, const StatusPalette& palette, int width,
               const StatusFigures& figures) {
  double parts[STATUS_LIST_PARTS] = {};
  StatusListParts(figures.lists, figures.total_gb * 1024.0, parts);
  RECT segments[STATUS_LIST_PARTS] = {};
  StatusListSegments(parts, {layout.margin, layout.lists_bar_top, width - layout.margin, layout.lists_bar_bottom},
                     segments);
  for (int i = 0; i < STATUS_LIST_PARTS; ++i) {
    if (segments[i].right > segments[i].left) FillSolid(dc, segments[i], palette.lists[i]);
  }
  if (palette.lists_outline != palette.background) {
    const RECT bar = {layout.margin, layout.lists_bar_top, width - layout.margin, layout.lists_bar_bottom};
    HBRUSH outline = CreateSolidBrush(palette.lists_outline);
    FrameRect(dc, &bar, outline);
    DeleteObject(outline);
  }
  // The low-priority part where the line has room for it; the popup is
  // sized for the four figures alone.
  wchar_t text[STATUS_LISTS_LINE_CAPACITY];
  FormatStatusListsLine(text, parts, figures.lists.standby_low_priority_mb);
  SIZE extent = {};
  if (!GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &extent) ||
      extent.cx > width - 2 * layout.margin)
    FormatStatusListsLine(text, parts);
  Text(dc, layout.margin, layout.lists_text_y, text, palette.secondary);
}

// "msedge.exe  3.1 GB  (24)": a name too long for the popup is cut with an
// ellipsis, never its figures.
void DrawHolderLine(HDC dc, int x, int y, int right, const MemoryHolder& holder, COLORREF colour) {
  MemoryHolder bare = holder;
  bare.name[0] = 0;
  wchar_t figures[MEMORY_HOLDER_TEXT_CAPACITY];
  FormatMemoryHolder(figures, bare);  // "  3.1 GB  (24)"
  SIZE figures_size = {}, name_size = {};
  GetTextExtentPoint32W(dc, figures, static_cast<int>(wcslen(figures)), &figures_size);
  const int name_length = static_cast<int>(wcslen(holder.name));
  GetTextExtentPoint32W(dc, holder.name, name_length, &name_size);
  const int room = right - x - figures_size.cx;
  int name_width = name_size.cx;
  SetTextColor(dc, colour);
  if (name_width > room) {
    name_width = room > 0 ? room : 0;
    RECT box = {x, y, x + name_width, y + name_size.cy};
    DrawTextW(dc, holder.name, name_length, &box, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS | DT_NOCLIP);
  } else {
    TextOutW(dc, x, y, holder.name, name_length);
  }
  TextOutW(dc, x + name_width, y, figures, static_cast<int>(wcslen(figures)));
}

void DrawHolders(HDC dc, const StatusLayout& layout, const StatusPalette& palette, int width,
                 const TopMemoryHolders& top) {
  const int x = layout.margin;
  const POINT separator[2] = {{x, layout.holders_separator_y}, {width - x, layout.holders_separator_y}};
  Line(dc, separator, 2, palette.box_line, layout.pen_width);
  // The heading in its colour, what is hidden after it as secondary text.
  wchar_t text[STATUS_HEADING_CAPACITY];
  LoadText(IDS_HOLDERS_HEADING, text);
  SIZE heading = {};
  GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &heading);
  Text(dc, x, layout.holders_heading_y, text, palette.heading);
  if (top.some_hidden)
    Text(dc, x + heading.cx, layout.holders_heading_y, LoadText(IDS_HOLDERS_HIDDEN, text), palette.secondary);
  SIZE indent = {};
  GetTextExtentPoint32W(dc, kLineIndent, static_cast<int>(wcslen(kLineIndent)), &indent);
  const int shown = StatusHolderLines(top) < layout.holder_lines ? StatusHolderLines(top) : layout.holder_lines;
  for (int i = 0; i < shown; ++i)
    DrawHolderLine(dc, x + indent.cx, layout.first_holder_y + i * layout.line_step, width - x, top.holders[i],
                   palette.secondary);
}

}  // namespace

void GatherStatusFigures(StatusState& status, StatusFigures& figures) {
  ZeroMemory(&figures, sizeof figures);
  // A failed reading shows as 0 % of 0.0 GB.
  MemorySnapshot memory = {};
  TakeMemorySnapshot(memory);
  figures.load_percent = static_cast<int32_t>(memory.load_percent);
  figures.used_gb = memory.used_gb;
  figures.total_gb = memory.total_gb;

  // Asked once per run: the answer cannot change while the process lives.
  if (status.elevation < 0) status.elevation = IsProcessElevated() ? 1 : 0;
  figures.elevation = status.elevation;

  int32_t count = status.usage_history.count;
  figures.sample_count = count < USAGE_HISTORY_CAPACITY ? count : USAGE_HISTORY_CAPACITY;
  CopyRecentUsage(status.usage_history, figures.samples, figures.sample_count);
  figures.clean_count = CopyRecentCleans(status.clean_history, figures.cleans, STATUS_RECENT_CLEANS);
  if (!status.platform->read_memory_lists(figures.lists)) ZeroMemory(&figures.lists, sizeof figures.lists);
  if (!status.platform->read_commit(figures.commit)) figures.commit = {};
}

void DrawStatus(HDC dc, int width, int height, const StatusState& status, const StatusFigures& figures) {
  const StatusLayout& layout = status.layout;
  const StatusPalette& palette = status.palette;
  FillSolid(dc, {0, 0, width, height}, palette.background);
  SetBkMode(dc, TRANSPARENT);
  wchar_t text[STATUS_MEMORY_LINE_CAPACITY] = {};
  wchar_t word[STATUS_WORD_CAPACITY];
  const int x = layout.margin;

  HGDIOBJ previous_font = GetCurrentObject(dc, OBJ_FONT);
  SelectObject(dc, status.large_font);
  FormatBounded(text, 64, L"%d%%", figures.load_percent);
  Text(dc, x, layout.figure_y, text, StatusLoadColor(palette, figures.load_percent));
  if (palette.band_in_words) {
    // On the figure's baseline, right after it.
    SIZE figure = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &figure);
    TEXTMETRICW large = {};
    GetTextMetricsW(dc, &large);
    SelectObject(dc, status.font);
    UINT align = SetTextAlign(dc, TA_BASELINE | TA_LEFT);
    Text(dc, x + figure.cx + layout.band_gap, layout.figure_y + large.tmAscent,
         StatusLoadBandWord(figures.load_percent, word), palette.heading);
    SetTextAlign(dc, align);
  }

  SelectObject(dc, status.font);
  FormatStatusMemoryLine(text, figures.used_gb, figures.total_gb);
  Text(dc, x, layout.memory_y, text, palette.secondary);

  const wchar_t* badge = StatusBadge(figures.elevation, word);
  SIZE extent = {};
  GetTextExtentPoint32W(dc, badge, static_cast<int>(wcslen(badge)), &extent);
  Text(dc, width - extent.cx - layout.badge_inset, layout.badge_y, badge,
       figures.elevation == 1 ? palette.admin : palette.secondary);

  // A popup laid out with the row keeps it for this showing; lists that
  // stopped being readable leave it blank.
  if (layout.lists_row && figures.lists.readable) DrawLists(dc, layout, palette, width, figures);
  // Likewise the commit row: blank when the charge stopped being readable.
  if (layout.commit_row && figures.commit.readable) {
    wchar_t commit[COMMIT_TEXT_CAPACITY];
    FormatCommitText(commit, figures.commit);
    Text(dc, x, layout.commit_y, commit, palette.load[CommitLoadBand(figures.commit)]);
  }

  const RECT box = StatusGraphBox(layout, width);
  FillSolid(dc, box, palette.box_fill);
  HPEN outline = CreatePen(PS_SOLID, layout.pen_width, palette.box_line);
  HGDIOBJ previous_pen = SelectObject(dc, outline);
  HGDIOBJ previous_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, box.left, box.top, box.right, box.bottom);
  SelectObject(dc, previous_brush);
  SelectObject(dc, previous_pen);
  DeleteObject(outline);

  DrawGraph(dc, box, layout.pen_width, palette, figures);

  Text(dc, x, layout.minutes_y, LoadText(IDS_FIVE_MINUTES, text), palette.secondary);
  const POINT separator[2] = {{x, layout.separator_y}, {width - x, layout.separator_y}};
  Line(dc, separator, 2, palette.box_line, layout.pen_width);
  Text(dc, x, layout.heading_y, LoadText(IDS_RECENT_CLEANS, text), palette.heading);

  StatusTextLine lines[STATUS_RECENT_CLEANS];
  int32_t held = figures.clean_count < STATUS_RECENT_CLEANS ? figures.clean_count : STATUS_RECENT_CLEANS;
  int count = StatusCleanLines(figures.cleans, held, layout, lines);
  for (int j = 0; j < count; ++j) {
    // Only a kept program's name can run past the room; it ends in "...".
    RECT room = {x, lines[j].y, width - x, lines[j].y + layout.line_step};
    SetTextColor(dc, palette.secondary);
    DrawTextW(dc, lines[j].text, -1, &room, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS | DT_NOCLIP);
  }

  if (layout.holder_lines > 0) DrawHolders(dc, layout, palette, width, status.holders);

  SelectObject(dc, previous_font);
}
