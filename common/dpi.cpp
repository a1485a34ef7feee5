// Display scale: every size the windows use is a 96-DPI figure scaled to the
// DPI of the monitor a window is on. The per-DPI calls came with Windows 10
// (1607); on older systems they are missing and the system DPI stands in.
#include "common/dpi.h"

#include "common/system.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND window);
using GetDpiForSystemFunction = UINT(WINAPI*)();
using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style, UINT dpi);
using MetricForDpiFunction = int(WINAPI*)(int index, UINT dpi);
using DpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR monitor, int type, UINT* dpi_x, UINT* dpi_y);
using ParametersForDpiFunction = BOOL(WINAPI*)(UINT action, UINT param, PVOID value, UINT ini, UINT dpi);

// user32 is loaded for the whole run, so an entry found there stays valid.
template <typename Function>
Function User32Entry(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  FARPROC entry = user32 ? GetProcAddress(user32, name) : NULL;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
}

}  // namespace

int ScaleForDpi(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), 96); }

UINT SystemDpi() {
  if (auto entry = User32Entry<GetDpiForSystemFunction>("GetDpiForSystem")) {
    UINT dpi = entry();
    if (dpi) return dpi;
  }
  HDC screen = GetDC(NULL);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(NULL, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND window) {
  if (auto entry = User32Entry<GetDpiForWindowFunction>("GetDpiForWindow")) {
    UINT dpi = entry(window);
    if (dpi) return dpi;
  }
  return SystemDpi();
}

UINT TaskbarDpi() {
  // shell32 brings shcore with it on the systems that have it; loaded
  // otherwise, it stays for the run, so the next call finds it.
  HMODULE shcore = GetModuleHandleW(L"shcore.dll");
  if (!shcore) shcore = LoadSystemLibrary(L"shcore.dll");
  auto entry = reinterpret_cast<DpiForMonitorFunction>(
      reinterpret_cast<void*>(shcore ? GetProcAddress(shcore, "GetDpiForMonitor") : NULL));
  if (!entry) return SystemDpi();
  HWND taskbar = FindWindowW(L"Shell_TrayWnd", NULL);
  HMONITOR monitor = taskbar ? MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY)
                             : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  const int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI: the scale the user chose
  UINT dpi_x = 0, dpi_y = 0;
  if (FAILED(entry(monitor, kEffectiveDpi, &dpi_x, &dpi_y)) || dpi_x == 0) return SystemDpi();
  return dpi_x;
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, UINT dpi) {
  if (auto entry = User32Entry<AdjustForDpiFunction>("AdjustWindowRectExForDpi"))
    return entry(&rect, style, FALSE, ex_style, dpi) != FALSE;
  return AdjustWindowRectEx(&rect, style, FALSE, ex_style) != FALSE;
}

int SystemMetricForDpi(int index, UINT dpi) {
  if (auto entry = User32Entry<MetricForDpiFunction>("GetSystemMetricsForDpi")) return entry(index, dpi);
  return GetSystemMetrics(index);
}

bool IconTitleFontForDpi(LOGFONTW& font, UINT dpi) {
  if (auto entry = User32Entry<ParametersForDpiFunction>("SystemParametersInfoForDpi"))
    return entry(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0, dpi) != FALSE;
  // Without the per-DPI call the font comes at the system DPI.
  if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0)) return false;
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return true;
}

bool MessageFontForDpi(LOGFONTW& font, UINT dpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (auto entry = User32Entry<ParametersForDpiFunction>("SystemParametersInfoForDpi")) {
    if (!entry(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) return false;
    font = metrics.lfMessageFont;
    return true;
  }
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return false;
  font = metrics.lfMessageFont;
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return true;
}
