// The status popup's placement, fonts and painting: shared by its own
// sources and its tests, not part of what the module offers.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "status/status.h"

constexpr UINT_PTR TIMER_STATUS = 2;
constexpr int STATUS_WIDTH = 460;
constexpr int STATUS_HEIGHT = 340;
constexpr int STATUS_RECENT_CLEANS = 5;
constexpr int STATUS_GRAPH_MAX_POINTS = USAGE_HISTORY_CAPACITY + 2;


// Where the popup goes: 12 pixels in from the work area's bottom-right corner.
RECT StatusWindowRect(const RECT& work_area);
// The large font is the normal one in bold at four times the height.
LOGFONTW LargeStatusFont(LOGFONTW normal);
// Whether a tray toggle at `now` is the release of the click that closed
// the popup: within the double-click time of a close by deactivation (tick
// 0: never closed that way).
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
};

struct StatusTextLine {
  int y;
  wchar_t text[64];
};

// The load figure's colour: green below 60, amber to 79, red above.
COLORREF StatusLoadColor(int load_percent);
// The graph's outline in the box of a client `client_width` wide: the
// newest samples spread over the inner width, then the two closing points
// along the box's bottom. Answers the number of points written, 0 when
// there is nothing to draw (fewer than 2 samples, or no inner width).
int StatusGraphPoints(const int32_t* samples, int32_t count, int client_width,
                      POINT (&points)[STATUS_GRAPH_MAX_POINTS]);
// "  09:05  Freed 1235 MB  (87 procs)", and when the lists were read the
// standby list's change, "  standby -812 MB".
void FormatStatusCleanLine(wchar_t (&text)[64], const CleanRecord& record);
// The lines under "Recent cleans", newest first, 17 pixels apart from y 262;
// with no cleans the one line "No cleans yet this session". `cleans` are
// oldest first, as the history copies them. Answers the number of lines.
int StatusCleanLines(const CleanRecord* cleans, int32_t count,
                     StatusTextLine (&lines)[STATUS_RECENT_CLEANS]);

// Reads the memory, the rings and (once per run) the elevation.
void GatherStatusFigures(StatusFigures& figures);
// Fonts of the popup, made on its creation and deleted on its destruction.
void CreateStatusFonts();
void DeleteStatusFonts();
// Draws the whole popup into `dc`, which is `width` x `height`, with the
// popup's fonts; every object it makes is gone when it returns.
void DrawStatus(HDC dc, int width, int height, const StatusFigures& figures);
