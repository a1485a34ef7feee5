// The popup's picture: gathered figures drawn off-screen, copied once.
#include "status/status_internal.h"

#include <wchar.h>

#include "app/app.h"
#include "app/shared.h"
#include "clean/clean.h"
#include "status/status.h"

#include <math.h>

namespace {

const COLORREF kBackground = RGB(20, 20, 28);
const COLORREF kSecondaryText = RGB(130, 130, 155);
const COLORREF kHeading = RGB(230, 230, 240);
const COLORREF kAdmin = RGB(50, 210, 80);
const COLORREF kBoxFill = RGB(32, 32, 44);
const COLORREF kBoxLine = RGB(55, 55, 75);
const COLORREF kGraphArea = RGB(0, 70, 130);
const COLORREF kGraphLine = RGB(0, 130, 220);

const int kBoxLeft = 20;
const int kBoxTop = 108;
const int kBoxBottom = 208;
const int kBoxInset = 20;

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

void Text(HDC dc, int x, int y, const wchar_t* text, COLORREF colour) {
  SetTextColor(dc, colour);
  TextOutW(dc, x, y, text, static_cast<int>(wcslen(text)));
}

void Line(HDC dc, const POINT* points, int count, COLORREF colour) {
  HPEN pen = CreatePen(PS_SOLID, 1, colour);
  HGDIOBJ previous = SelectObject(dc, pen);
  MoveToEx(dc, points[0].x, points[0].y, nullptr);
  for (int i = 1; i < count; ++i) LineTo(dc, points[i].x, points[i].y);
  SelectObject(dc, previous);
  DeleteObject(pen);
}

void DrawGraph(HDC dc, int width, const StatusFigures& figures) {
  POINT points[STATUS_GRAPH_MAX_POINTS] = {};
  int32_t held = figures.sample_count < USAGE_HISTORY_CAPACITY ? figures.sample_count : USAGE_HISTORY_CAPACITY;
  int count = StatusGraphPoints(figures.samples, held, width, points);
  if (count == 0) return;

  HBRUSH area = CreateSolidBrush(kGraphArea);
  HGDIOBJ previous_brush = SelectObject(dc, area);
  HGDIOBJ previous_pen = SelectObject(dc, GetStockObject(NULL_PEN));
  Polygon(dc, points, count);
  SelectObject(dc, previous_brush);
  SelectObject(dc, previous_pen);
  DeleteObject(area);

  // The two closing points run along the bottom: not part of the line.
  Line(dc, points, count - 2, kGraphLine);
}

}  // namespace

COLORREF StatusLoadColor(int load_percent) {
  static const COLORREF kBandColours[] = {RGB(50, 210, 80), RGB(255, 195, 0), RGB(225, 60, 60)};
  return kBandColours[LoadBandOf(load_percent)];
}

int StatusGraphPoints(const int32_t* samples, int32_t count, int client_width,
                      POINT (&points)[STATUS_GRAPH_MAX_POINTS]) {
  const int left = kBoxLeft, right = client_width - kBoxInset, bottom = kBoxBottom;
  const int inner = right - left - 2;
  const int height = kBoxBottom - kBoxTop;
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

void FormatStatusCleanLine(wchar_t (&text)[64], const CleanRecord& record) {
  ZeroMemory(text, sizeof text);
  if (!record.lists_read) {
    FormatBounded(text, 64, L"  %02d:%02d  Freed %.0f MB  (%d procs)", record.time.wHour, record.time.wMinute,
                  record.freed_mb, record.processes);
    return;
  }
  // Whole megabytes first, so that a change under half a megabyte shows as
  // 0 rather than -0, and a rise carries its plus sign.
  double change = floor(record.standby_after_mb - record.standby_before_mb + 0.5);
  FormatBounded(text, 64, L"  %02d:%02d  Freed %.0f MB  (%d procs)  standby %s%.0f MB", record.time.wHour,
                record.time.wMinute, record.freed_mb, record.processes, change > 0 ? L"+" : L"", change);
}

int StatusCleanLines(const CleanRecord* cleans, int32_t count, StatusTextLine (&lines)[STATUS_RECENT_CLEANS]) {
  ZeroMemory(lines, sizeof lines);
  if (count <= 0) {
    lines[0].y = 262;
    CopyBounded(lines[0].text, 64, L"No cleans yet this session");
    return 1;
  }
  int shown = count < STATUS_RECENT_CLEANS ? count : STATUS_RECENT_CLEANS;
  for (int j = 0; j < shown; ++j) {
    lines[j].y = 262 + 17 * j;
    FormatStatusCleanLine(lines[j].text, cleans[count - 1 - j]);
  }
  return shown;
}

void GatherStatusFigures(StatusFigures& figures) {
  ZeroMemory(&figures, sizeof figures);
  // A failed reading shows as 0 % of 0.0 GB.
  MemorySnapshot memory = {};
  TakeMemorySnapshot(memory);
  figures.load_percent = static_cast<int32_t>(memory.load_percent);
  figures.used_gb = memory.used_gb;
  figures.total_gb = memory.total_gb;

  // Asked once per run: the answer cannot change while the process lives.
  if (app.status.elevation < 0) app.status.elevation = IsProcessElevated() ? 1 : 0;
  figures.elevation = app.status.elevation;

  int32_t count = UsageSampleCount();
  figures.sample_count = count < USAGE_HISTORY_CAPACITY ? count : USAGE_HISTORY_CAPACITY;
  CopyRecentUsage(figures.samples, figures.sample_count);
  figures.clean_count = CopyRecentCleans(figures.cleans, STATUS_RECENT_CLEANS);
}

void DrawStatus(HDC dc, int width, int height, const StatusFigures& figures) {
  FillSolid(dc, {0, 0, width, height}, kBackground);
  SetBkMode(dc, TRANSPARENT);
  wchar_t text[64] = {};

  HGDIOBJ previous_font = GetCurrentObject(dc, OBJ_FONT);
  SelectObject(dc, app.status.large_font);
  FormatBounded(text, 64, L"%d%%", figures.load_percent);
  Text(dc, 20, 18, text, StatusLoadColor(figures.load_percent));

  SelectObject(dc, app.status.font);
  FormatBounded(text, 64, L"%.1f / %.1f GB used", figures.used_gb, figures.total_gb);
  Text(dc, 20, 76, text, kSecondaryText);

  const wchar_t* badge = figures.elevation == 1 ? L"Admin \u2713" : L"Limited";
  SIZE extent = {};
  GetTextExtentPoint32W(dc, badge, static_cast<int>(wcslen(badge)), &extent);
  Text(dc, width - extent.cx - 16, 22, badge, figures.elevation == 1 ? kAdmin : kSecondaryText);

  const RECT box = {kBoxLeft, kBoxTop, width - kBoxInset, kBoxBottom};
  FillSolid(dc, box, kBoxFill);
  HPEN outline = CreatePen(PS_SOLID, 1, kBoxLine);
  HGDIOBJ previous_pen = SelectObject(dc, outline);
  HGDIOBJ previous_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, box.left, box.top, box.right, box.bottom);
  SelectObject(dc, previous_brush);
  SelectObject(dc, previous_pen);
  DeleteObject(outline);

  DrawGraph(dc, width, figures);

  Text(dc, 20, 213, L"5 min", kSecondaryText);
  const POINT separator[2] = {{20, 234}, {width - 20, 234}};
  Line(dc, separator, 2, kBoxLine);
  Text(dc, 20, 242, L"Recent cleans", kHeading);

  StatusTextLine lines[STATUS_RECENT_CLEANS];
  int32_t held = figures.clean_count < STATUS_RECENT_CLEANS ? figures.clean_count : STATUS_RECENT_CLEANS;
  int count = StatusCleanLines(figures.cleans, held, lines);
  for (int j = 0; j < count; ++j) Text(dc, 20, lines[j].y, lines[j].text, kSecondaryText);

  SelectObject(dc, previous_font);
}
