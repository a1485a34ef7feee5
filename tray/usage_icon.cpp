// The once-a-second refresh: a bar filled to the memory load as the tray
// icon, the figures as its tooltip, and a sample for the load history.
#include "tray/tray.h"

#include "app/app.h"
#include "app/shared.h"
#include "clean/clean.h"
#include "status/status.h"

namespace {
constexpr int kLargestIconSize = 256;
// All-zero AND mask: every pixel of the drawn square is opaque.
BYTE clear_mask[kLargestIconSize * (kLargestIconSize / 8)];
}  // namespace

int UsageIconSize(int small_icon_width) {
  if (small_icon_width <= 0) return 16;
  return small_icon_width < kLargestIconSize ? small_icon_width : kLargestIconSize;
}

int UsageBarTop(int size, int load_percent) { return size - (load_percent * size) / 100; }

COLORREF UsageBarColor(int load_percent) {
  static const COLORREF kBandColours[] = {RGB(45, 200, 75), RGB(220, 175, 0), RGB(220, 55, 55)};
  return kBandColours[LoadBandOf(load_percent)];
}

void FormatTooltip(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent) {
  ZeroMemory(tip, sizeof tip);
  FormatBounded(tip, 128, L"%s\n%.1f / %.1f GB  (%d%%)", L"Quillmere", used_gb, total_gb, load_percent);
}

void RefreshTray() {
  MemorySnapshot snapshot = {};
  if (!TakeMemorySnapshot(snapshot)) return;
  int load = static_cast<int>(snapshot.load_percent);
  UpdateUsageIcon(snapshot.used_gb, snapshot.total_gb, load);
  PushUsageSample(load);
  InvalidateStatusWindow();
}

void UpdateUsageIcon(double used_gb, double total_gb, int load_percent) {
  NOTIFYICONDATAW& tray = app.tray.data;
  tray.uFlags = NIF_ICON | NIF_TIP;
  wchar_t tip[128];
  FormatTooltip(tip, used_gb, total_gb, load_percent);
  CopyBounded(tray.szTip, ARRAYSIZE(tray.szTip), tip);

  HICON previous = app.tray.drawn_icon;
  // The shell shows tray icons at the small-icon size of the system DPI;
  // drawn at that size, they are never a scaled-down 16 x 16 picture.
  int size = UsageIconSize(SystemMetricForDpi(SM_CXSMICON, SystemDpi()));
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);

  BITMAPV5HEADER header = {};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size;  // top-down rows
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &pixels, NULL, 0);
  HGDIOBJ previous_bitmap = SelectObject(memory, colour);

  RECT square = {0, 0, size, size};
  HBRUSH background = CreateSolidBrush(RGB(28, 28, 35));
  FillRect(memory, &square, background);
  DeleteObject(background);

  RECT bar = {1, UsageBarTop(size, load_percent), size - 1, size};
  HBRUSH fill = CreateSolidBrush(UsageBarColor(load_percent));
  FillRect(memory, &bar, fill);
  DeleteObject(fill);

  // The colour bitmap leaves the DC before the icon copies its bits.
  SelectObject(memory, previous_bitmap);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, clear_mask);
  ICONINFO info = {};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = colour;
  HICON icon = CreateIconIndirect(&info);

  DeleteObject(colour);
  DeleteObject(mask);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);

  app.tray.drawn_icon = icon;
  tray.hIcon = icon;
  app.tray.platform->notify_icon(NIM_MODIFY, &tray);
  // Destroyed only once the shell holds its successor.
  if (previous) DestroyIcon(previous);
}
