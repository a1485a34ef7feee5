// Small helpers every module shares: bounded text, the application-data
// folder, system libraries, the elevation question and display scale.
#pragma once

#include <windows.h>
#include <stddef.h>

// printf-style UTF-16 formatting with the platform's wide rules; the buffer
// always ends with a terminator and over-long output is cut.
bool FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
// Copies text into a fixed field of `capacity` characters, keeping at most
// capacity - 1 of them and always the terminator.
void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text);
// The user's roaming application-data folder; false when the system cannot
// name it, in which case the program keeps nothing on disk.
bool GetAppDataFolder(wchar_t (&folder)[MAX_PATH]);
// Loads a DLL from the System32 folder only, never from the exe's folder.
HMODULE LoadSystemLibrary(const wchar_t* name);
bool IsProcessElevated();

// Display scale. Sizes are 96-DPI figures scaled to the DPI of the monitor a
// window is on; where the per-DPI calls are missing (Windows 7 to 10 1511)
// the system DPI and the plain calls stand in.
int ScaleForDpi(int value, UINT dpi);
UINT SystemDpi();
UINT WindowDpi(HWND window);
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, UINT dpi);
int SystemMetricForDpi(int index, UINT dpi);
// The icon-title font (the popup's) as the system gives it at `dpi`.
bool IconTitleFontForDpi(LOGFONTW& font, UINT dpi);
