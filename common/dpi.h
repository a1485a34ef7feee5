// Display scale. Sizes are 96-DPI figures scaled to the DPI of the monitor a
// window is on; where the per-DPI calls are missing (Windows 7 to 10 1511)
// the system DPI and the plain calls stand in.
#pragma once

#include <windows.h>

int ScaleForDpi(int value, UINT dpi);
UINT SystemDpi();
UINT WindowDpi(HWND window);
// The scale the notification area draws at now: that of the taskbar's
// monitor (the primary one without a taskbar). Unlike the system DPI, which
// stays what it was at logon for the life of the process, it follows a
// change of scale; before Windows 8.1 the system DPI stands in.
UINT TaskbarDpi();
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, UINT dpi);
int SystemMetricForDpi(int index, UINT dpi);
// The icon-title font (the popup's) as the system gives it at `dpi`.
bool IconTitleFontForDpi(LOGFONTW& font, UINT dpi);
// The message font (NONCLIENTMETRICS' lfMessageFont) as the system gives it
// at `dpi`: the font of dialogs, which the user's text size enlarges.
bool MessageFontForDpi(LOGFONTW& font, UINT dpi);
