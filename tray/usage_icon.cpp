// The drawn usage icon: a bar filled to the memory load as the tray icon,
// in the look the taskbar's scale and contrast ask for, the figures as its
// tooltip, sent only when they change.
#include "tray/tray.h"

#include <wchar.h>

#include "clean/memory.h"
#include "common/dpi.h"
#include "common/language.h"
#include "common/text.h"

namespace {
constexpr int kLargestIconSize = 256;
constexpr int kMaskRowBytes = kLargestIconSize / 8;
// One icon image laid out as an .ico file keeps it: the header, the colour
// rows from the bottom up, then the AND mask.
BYTE icon_image[sizeof(BITMAPINFOHEADER) + sizeof(DWORD) * kLargestIconSize * kLargestIconSize +
                size_t{kLargestIconSize} * kMaskRowBytes];

DWORD PixelOf(COLORREF colour) {
  return 0xFF000000u | (static_cast<DWORD>(GetRValue(colour)) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

// The colour at x, y (y from the top). Under high contrast the square gets
// a frame and the bar a top edge in the outline colour: the icon stands out
// from a taskbar of the theme's colours, and the bar's height reads whatever
// its fill, which keeps the load band's colour.
DWORD PixelAt(const TrayShown& picture, int x, int y, DWORD background, DWORD bar, DWORD outline) {
  const int last = picture.look.icon_size - 1;
  if (!picture.look.high_contrast) return y >= picture.bar_top && x >= 1 && x < last ? bar : background;
  if (x == 0 || y == 0 || x == last || y == last) return outline;
  if (y < picture.bar_top) return background;
  return y == picture.bar_top ? outline : bar;
}

// The bar on its background, written straight into the image's bits: under
// Wine this makes the icon in half the time of a device context, a bitmap
// and CreateIconIndirect, and leaves no GDI object to release.
HICON DrawUsageIcon(const TrayShown& picture) {
  int size = picture.look.icon_size;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = size;
  header.biHeight = 2 * size;  // colour and mask
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  CopyMemory(icon_image, &header, sizeof header);
  DWORD* pixels = reinterpret_cast<DWORD*>(icon_image + sizeof header);
  const DWORD background = PixelOf(picture.look.background);
  const DWORD bar = PixelOf(picture.bar_colour);
  const DWORD outline = PixelOf(picture.look.outline);
  for (int y = 0; y < size; ++y) {
    DWORD* row = pixels + static_cast<size_t>(size - 1 - y) * size;  // rows from the bottom up
    for (int x = 0; x < size; ++x) row[x] = PixelAt(picture, x, y, background, bar, outline);
  }
  // All clear: every pixel opaque. Rows are padded to four bytes.
  const size_t pixel_count = static_cast<size_t>(size) * size;
  const size_t mask_bytes = static_cast<size_t>(size) * ((size + 31) / 32) * 4;
  ZeroMemory(pixels + pixel_count, mask_bytes);
  DWORD image_bytes = static_cast<DWORD>(sizeof header + pixel_count * sizeof(DWORD) + mask_bytes);
  return CreateIconFromResourceEx(icon_image, image_bytes, TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
}
}  // namespace

int UsageIconSize(int small_icon_width) {
  if (small_icon_width <= 0) return 16;
  return small_icon_width < kLargestIconSize ? small_icon_width : kLargestIconSize;
}

TrayLook TrayLookFor(int small_icon_width, bool high_contrast, COLORREF window, COLORREF window_text) {
  TrayLook look = {};
  look.icon_size = UsageIconSize(small_icon_width);
  look.high_contrast = high_contrast;
  look.background = high_contrast ? window : USAGE_ICON_BACKGROUND;
  look.outline = high_contrast ? window_text : USAGE_ICON_BACKGROUND;
  return look;
}

bool ReadTrayLook(TrayState& state) {
  bool high_contrast = state.platform->high_contrast();
  TrayLook look = TrayLookFor(SystemMetricForDpi(SM_CXSMICON, state.platform->taskbar_dpi()), high_contrast,
                              high_contrast ? GetSysColor(COLOR_WINDOW) : 0,
                              high_contrast ? GetSysColor(COLOR_WINDOWTEXT) : 0);
  bool changed = look.icon_size != state.look.icon_size || look.high_contrast != state.look.high_contrast ||
                 look.background != state.look.background || look.outline != state.look.outline;
  state.look = look;
  return changed;
}

int UsageBarTop(int size, int load_percent) { return size - (load_percent * size) / 100; }

COLORREF UsageBarColor(int load_percent) {
  static const COLORREF kBandColours[] = {RGB(45, 200, 75), RGB(220, 175, 0), RGB(220, 55, 55)};
  return kBandColours[LoadBandOf(load_percent)];
}

void FormatTooltip(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent) {
  ZeroMemory(tip, sizeof tip);
  wchar_t used[FIGURE_CAPACITY], total[FIGURE_CAPACITY];
  FormatOneDecimal(used, used_gb);
  FormatOneDecimal(total, total_gb);
  FormatText(tip, 128, IDS_TOOLTIP, used, total, load_percent);
}

UINT TrayChanges(const TrayShown& shown, const TrayShown& wanted) {
  UINT changes = 0;
  const TrayLook &was = shown.look, &now = wanted.look;
  if (was.icon_size != now.icon_size || was.high_contrast != now.high_contrast || was.background != now.background ||
      was.outline != now.outline || shown.bar_top != wanted.bar_top || shown.bar_colour != wanted.bar_colour)
    changes |= NIF_ICON;
  if (wcsncmp(shown.tip, wanted.tip, ARRAYSIZE(wanted.tip)) != 0) changes |= NIF_TIP;
  return changes;
}

void UpdateUsageIcon(TrayState& state, double used_gb, double total_gb, int load_percent, const CommitCharge& commit,
                     int32_t commit_warn_percent) {
  // The look is read at the add and on changes of scale or theme; a record
  // never added (a test's) reads it here once.
  if (state.look.icon_size == 0) ReadTrayLook(state);
  TrayShown wanted;
  wanted.look = state.look;
  wanted.bar_top = UsageBarTop(wanted.look.icon_size, load_percent);
  wanted.bar_colour = UsageBarColor(load_percent);
  FormatTooltipWithCommit(wanted.tip, used_gb, total_gb, load_percent, commit, commit_warn_percent);
  UINT changes = TrayChanges(state.shown, wanted);
  if (!changes) return;

  NOTIFYICONDATAW& tray = state.data;
  // Under version 4 the standard tooltip shows only while the newest add
  // or modify asks for it.
  tray.uFlags = changes | NIF_SHOWTIP;
  if (changes & NIF_TIP) CopyBounded(tray.szTip, ARRAYSIZE(tray.szTip), wanted.tip);
  HICON previous = NULL;
  if (changes & NIF_ICON) {
    previous = state.drawn_icon;
    state.drawn_icon = DrawUsageIcon(wanted);
    tray.hIcon = state.drawn_icon;
  }
  // After a refused modify (the shell may still have taken it, late) what
  // the tray shows is unknown: the next refresh sends both again.
  if (state.platform->notify_icon(NIM_MODIFY, &tray)) state.shown = wanted;
  else state.shown = {};
  // Destroyed only once the shell holds its successor.
  if (previous) DestroyIcon(previous);
}
