// Tray presence: the notification-area icon and its balloons, the drawn
// usage icon with its tooltip, and the tray menu.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr UINT TRAY_ICON_ID = 1;

bool AddTrayIcon(HWND window);
void RemoveTrayIcon();
void ShowBalloon(const wchar_t* title, const wchar_t* text);

void RefreshTray();
void UpdateUsageIcon(double used_gb, double total_gb, int load_percent);

// Decisions behind the drawn icon and its tooltip.
int UsageIconSize(int small_icon_width);
int UsageBarTop(int size, int load_percent);
COLORREF UsageBarColor(int load_percent);
void FormatTooltip(wchar_t (&tip)[128], double used_gb, double total_gb, int load_percent);

// The context menu: "Clean Now" (default), "Status Window...", "Auto-clean"
// (checked when on), "Settings...", "Exit". The caller destroys it.
HMENU BuildTrayMenu(bool auto_clean_on);
// Shows the menu at the cursor; the picked command arrives as WM_COMMAND.
void ShowTrayMenu(HWND window, bool auto_clean_on);
