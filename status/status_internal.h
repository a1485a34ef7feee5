// The status popup's placement, fonts and painting: shared by its own
// sources and its tests, not part of what the module offers.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "clean/memory.h"
#include "status/status.h"

constexpr UINT_PTR TIMER_STATUS = 2;
// Closes a popup that Windows kept from the foreground (after an automatic
// clean), unless the pointer rests on it.
constexpr UINT_PTR TIMER_STATUS_AUTOCLOSE = 3;
constexpr UINT STATUS_AUTOCLOSE_MS = 5000;
constexpr int STATUS_RECENT_CLEANS = 5;
constexpr int STATUS_GRAPH_MAX_POINTS = USAGE_HISTORY_CAPACITY + 2;

// What the popup's fonts measure, for its layout.
struct StatusTextMetrics {
  int figure_ascent;  // the large font's ascent
  int text_height;    // a line of the normal font
  // Widths of the widest text each place can hold: "100%" in the large
  // font; the widest load band word and the wider badge in the normal font;
  // the widest line of the normal font (the memory line, the lists' figures,
  // the heading, a clean line of the largest figures).
  int figure_width;
  int band_width;
  int badge_width;
  int line_width;
};
// Measures the texts of the language in use with the popup's fonts in
// `dc`, which it leaves as it found it.
void MeasureStatusTexts(HDC dc, HFONT font, HFONT large_font, StatusTextMetrics& metrics);

// The 96-DPI layout scaled to `dpi`, rows pushed down only where the text is
// taller than they allow and the client widened where a text is wider than
// it: no text runs past the right margin. With `lists_row` the lists' row
// goes under the memory line and everything below moves down by its height;
// with `commit_row` the commit charge's line goes under those, and the rest
// moves down by a line. `holder_lines` (StatusHolderLines) adds the holders'
// section at the bottom. A holder's name is never measured: it is cut to
// the width instead.
StatusLayout LayOutStatus(UINT dpi, const StatusTextMetrics& metrics, bool lists_row = false,
                          bool commit_row = false, int holder_lines = 0);
// The holders' lines the popup shows: one a program, none when no program
// was read. "(some processes hidden)" goes on their heading's line.
int StatusHolderLines(const TopMemoryHolders& top);
// "Holding the most memory", and "  (some processes hidden)" after it when
// some were.
constexpr int STATUS_HEADING_CAPACITY = 96;
void FormatStatusHoldersHeading(wchar_t (&text)[STATUS_HEADING_CAPACITY], bool some_hidden);
// The graph box of a client `client_width` wide.
RECT StatusGraphBox(const StatusLayout& layout, int client_width);

// Placement beside the tray icon. The popup is aligned to `point` as the
// TPM_ flags say (as CalculatePopupWindowPosition takes them), avoiding
// `exclude`, the icon.
struct StatusAnchor {
  POINT point;
  UINT flags;
  RECT exclude;
};
// Where ABM_GETTASKBARPOS says the taskbar is: its rectangle (empty when
// there is none or the shell cannot say) and its edge of the monitor (ABE_).
struct StatusTaskbar {
  RECT rect;
  UINT edge;
};
// Whether `icon` (where the shell says the tray icon is) places the popup:
// it lies on a taskbar edge of `monitor`, beyond the work area or on an
// auto-hidden taskbar; false when the shell cannot say (empty) or the icon
// sits in the overflow flyout, inside the work area.
bool IsStatusIconOnTaskbar(const RECT& icon, const RECT& work, const RECT& monitor);
// `work` and `monitor` the work area and bounds of the icon's monitor (of
// the taskbar's, when the icon does not place the popup). The taskbar's edge
// is the side of the work area the icon lies beyond. Where the icon cannot
// say, the popup goes to the end of the taskbar where the notification area
// is, `gap` pixels clear of it and of the work area's edge: the right end of
// a horizontal taskbar, the bottom of a vertical one (clear of an
// auto-hidden one as it shows). Without a taskbar: the bottom-right corner
// of the work area, `gap` pixels in.
StatusAnchor StatusPopupAnchor(const RECT& icon, const StatusTaskbar& taskbar, const RECT& work,
                               const RECT& monitor, int gap);
// The popup of `size` aligned to the anchor.
RECT AlignStatusPopup(const StatusAnchor& anchor, SIZE size);
// Moved inside the work area, `gap` pixels from its edges where it fits.
RECT FitInWorkArea(RECT rect, const RECT& work, int gap);
// The open popup's `frame` at a new `size` (its texts in another language):
// each side nearer its edge of the work area stays, so the popup keeps to
// the taskbar and its icon; then moved inside as FitInWorkArea moves it.
RECT ResizeStatusPopup(const RECT& frame, SIZE size, const RECT& work, int gap);
// An automatic close of a popup that never got the foreground: only while
// it is still not active and the pointer is not on it.
bool ShouldAutoCloseStatus(bool active, bool pointer_over);
// The large font is the normal one in bold at four times the height.
LOGFONTW LargeStatusFont(LOGFONTW normal);
// A click on the tray icon first takes activation from the open popup, which
// closes; the button release that follows must not open it again. True when
// a tray toggle at `now` is that release: within the double-click time of a
// close by deactivation (tick 0: never closed that way).
bool ShouldIgnoreStatusToggle(uint64_t now, uint64_t closed_by_deactivation_tick, uint32_t double_click_time);

// Everything one paint shows, gathered before drawing.
struct StatusFigures {
  int32_t load_percent;
  double used_gb;
  double total_gb;
  int32_t elevation;  // 1 elevated, 0 limited
  int32_t samples[USAGE_HISTORY_CAPACITY];  // oldest first
  int32_t sample_count;
  CleanRecord cleans[STATUS_RECENT_CLEANS];  // oldest first
  int32_t clean_count;
  MemoryLists lists;  // all 0 unless readable
  CommitCharge commit;  // not readable when the system gave none
};

// The four parts in MB: in use is the total less the three lists (never
// below 0), free counts the zeroed pages too.
void StatusListParts(const MemoryLists& lists, double total_mb, double (&parts)[STATUS_LIST_PARTS]);
// The bar cut into one rectangle per part, each as wide as its share of the
// sum; the rectangles tile the bar exactly, left to right. A part of 0 (or
// less) is an empty rectangle; with nothing to share out all are empty.
void StatusListSegments(const double (&parts)[STATUS_LIST_PARTS], const RECT& bar,
                        RECT (&segments)[STATUS_LIST_PARTS]);
// "In use 9120  Modified 210  Standby 5320  Free 1620 MB"; with the standby
// list's low-priority part (0 or more), what the low-priority purge would
// free: "... Standby 5320 (310 low)  Free 1620 MB".
constexpr int STATUS_LISTS_LINE_CAPACITY = 128;
void FormatStatusListsLine(wchar_t (&text)[STATUS_LISTS_LINE_CAPACITY], const double (&parts)[STATUS_LIST_PARTS],
                           double standby_low_priority_mb = -1);

// A clean's line: its figures, and the name of a kept program after them.
constexpr int STATUS_CLEAN_FIGURES_CAPACITY = 96;
constexpr int STATUS_CLEAN_LINE_CAPACITY = 160;
struct StatusTextLine {
  int y;
  wchar_t text[STATUS_CLEAN_LINE_CAPACITY];
};

// The system's four colours that a high-contrast theme is made of.
struct StatusSystemColours {
  COLORREF window, window_text, highlight, gray_text;  // COLOR_WINDOW, ...
};
// The popup's own dark palette, or under high contrast the system's four
// colours only: the window's background, the window text for the heading,
// the badge "Admin", the box's outline and the separator, the grey text for
// the secondary text, the highlight for the graph (line and area) and the
// load figure in every band, whose band is then written beside it in the
// window text.
// The lists' bar in the highlight (in use), the window text (modified), the
// grey text (standby) and the background (free), inside an outline.
// Without high contrast, the dark palette, or with `light` the light one:
// the same meaning in each (green, amber and red bands; blue graph), every
// text at a contrast of at least 4.5:1 on the background.
StatusPalette ChooseStatusPalette(bool high_contrast, const StatusSystemColours& system, bool light = false);
// The app mode from the AppsUseLightTheme value: `read` whether a DWORD
// value was read at all. Light unless it reads 0: Windows starts in light
// mode, and a system without the value (before Windows 10) has no dark one.
bool IsLightAppMode(bool read, DWORD value);
// WCAG's contrast ratio of two colours, 1 to 21.
double ContrastRatio(COLORREF a, COLORREF b);
// The load figure's colour in the palette: in the normal one green below
// 60, amber to 79, red above.
COLORREF StatusLoadColor(const StatusPalette& palette, int load_percent);
// The load band in a word: "Low" below 60, "High" to 79, "Critical" above.
// Answers `word`.
constexpr int STATUS_WORD_CAPACITY = 48;
const wchar_t* StatusLoadBandWord(int load_percent, wchar_t (&word)[STATUS_WORD_CAPACITY]);
// The elevation badge: "Admin \u2713" when elevated, else "Limited".
const wchar_t* StatusBadge(int32_t elevation, wchar_t (&word)[STATUS_WORD_CAPACITY]);
// "11.7 / 31.9 GB used", the figures with the user's decimal separator.
constexpr int STATUS_MEMORY_LINE_CAPACITY = 64;
void FormatStatusMemoryLine(wchar_t (&text)[STATUS_MEMORY_LINE_CAPACITY], double used_gb, double total_gb);
// What screen readers read as the popup's description: the load, the used
// and total memory, the commit charge where read, Admin or Limited, the
// newest clean and the program holding the most memory where read, for example
// "Memory load 37%. 11.7 of 31.9 GB used. Commit 14.2 / 24.0 GB (59%). Admin.
// Last clean 09:05, freed 1235 MB. Most memory: msedge.exe  3.1 GB  (24)."
void FormatStatusAccessibleDescription(wchar_t (&text)[STATUS_DESCRIPTION_CAPACITY], const StatusFigures& figures,
                                       const TopMemoryHolders& holders);
// The open popup's description brought up to date with `figures`: set only
// when its text changed; one EVENT_OBJECT_DESCRIPTIONCHANGE when a clean
// came since it was last set (and not on the popup's first description).
void DescribeStatusPopup(StatusState& status, HWND window, const StatusFigures& figures);

// The dark title bar asked for (`dark`) or taken back through
// DwmSetWindowAttribute: attribute 20, and 19 where 20 is refused (Windows
// 10 1809 to 1909 know only 19). True when one of them was taken.
using SetWindowAttributeFunction = HRESULT(WINAPI*)(HWND window, DWORD attribute, LPCVOID value, DWORD size);
bool SetStatusTitleBarDark(HWND window, bool dark, SetWindowAttributeFunction set_attribute);
// The palette for the theme and app mode the platform reports, in
// status.palette; true under high contrast.
bool ChooseStatusColours(StatusState& status);
// The graph's outline in the graph box: the
// newest samples spread over the inner width, then the two closing points
// along the box's bottom. Answers the number of points written, 0 when
// there is nothing to draw (fewer than 2 samples, or no inner width).
int StatusGraphPoints(const int32_t* samples, int32_t count, const RECT& box,
                      POINT (&points)[STATUS_GRAPH_MAX_POINTS]);
// "  09:05  Freed 1235 MB  (87 procs)", and when the lists were read the
// standby list's change, "  standby -812 MB"; then the program in front the
// clean kept, "  kept vlc.exe" ("  kept the program in front" unnamed). The
// popup cuts the name with an ellipsis where it does not fit, never the
// figures before it.
void FormatStatusCleanLine(wchar_t (&text)[STATUS_CLEAN_LINE_CAPACITY], const CleanRecord& record);
// The lines under "Recent cleans", newest first, a line step apart from the
// layout's first clean row (17 pixels from y 262 at 96 DPI); with no cleans
// the one line "No cleans yet this session". `cleans` are oldest first, as
// the history copies them. Answers the number of lines.
int StatusCleanLines(const CleanRecord* cleans, int32_t count, const StatusLayout& layout,
                     StatusTextLine (&lines)[STATUS_RECENT_CLEANS]);

// Reads the memory, the lists, the commit charge, the state's rings and
// (once per run) the elevation.
void GatherStatusFigures(StatusState& status, StatusFigures& figures);
// Fonts of the popup at `dpi`, made on its creation (and again when it
// moves to a monitor of another scale) and deleted on its destruction; the
// layout that follows from them and the texts of the language in use, with
// the rows asked for (LayOutStatus), goes to status.layout.
void CreateStatusFonts(StatusState& status, UINT dpi, bool lists_row, bool commit_row = false,
                       int holder_lines = 0);
void DeleteStatusFonts(StatusState& status);
// Draws the whole popup into `dc`, which is `width` x `height`, with the
// state's fonts, layout and palette; every object it makes is gone when it
// returns.
void DrawStatus(HDC dc, int width, int height, const StatusState& status, const StatusFigures& figures);
