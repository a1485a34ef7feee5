// The settings window's controls as the tests expect them: each as
// CreateWindowExW is asked to make it at 96 DPI with Segoe UI's text, and
// what the tables of rows, access keys and layout look up in them.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <iterator>
#include <string>

#include "settings/settings_internal.h"

// A window as CreateWindowExW was asked to make it.
struct Created {
  std::wstring window_class;
  std::wstring text;
  DWORD style;
  DWORD ex_style;
  int x, y, width, height;
  INT_PTR id;
  HWND window = nullptr;
  HWND parent = nullptr;
};

// The controls in creation order, at 96 DPI with Segoe UI's text: the left
// column, the right one, what runs across, OK and Cancel.
constexpr DWORD label = 0x50000000, separator = 0x50000010, number = 0x50012002, hour = 0x50010002,
          check = 0x50010003, list = 0x50010080, default_button = 0x50010001, button = 0x50010000,
          choice = 0x50210003;
// A drop-down list is made as tall as its dropped list: six of its rows.
constexpr int kChoiceDroppedRows = 6;
const Created kControls[] = {
    {L"STATIC", L"Auto-clean Triggers", label, 0, 14, 14, 276, 18, 0},
    {L"STATIC", L"&RAM threshold (%):", label, 0, 14, 40, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 38, 70, 22, IDC_THRESHOLD},
    {L"STATIC", L"Clean &interval (min, 0=off):", label, 0, 14, 68, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 66, 70, 22, IDC_INTERVAL},
    {L"STATIC", L"Idle &timeout (min, 0=off):", label, 0, 14, 96, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 94, 70, 22, IDC_IDLE},
    {L"STATIC", L"&Boot delay (sec, 0=off):", label, 0, 14, 124, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 122, 70, 22, IDC_BOOT_DELAY},
    {L"STATIC", L"Clean below &free MB (0=off):", label, 0, 14, 152, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 220, 150, 70, 22, IDC_FREE_BELOW_MB},
    {L"STATIC", L"", separator, 0, 14, 180, 276, 2, 0},
    {L"STATIC", L"Options", label, 0, 14, 188, 276, 18, 0},
    {L"BUTTON", L"Enable &auto-clean", check, 0, 14, 210, 276, 20, IDC_AUTO_CLEAN},
    {L"BUTTON", L"&Silent mode (no balloons)", check, 0, 14, 234, 276, 20, IDC_SILENT},
    {L"BUTTON", L"Start with &Windows", check, 0, 14, 258, 276, 20, IDC_START_WITH_WINDOWS},
    {L"BUTTON", L"Hold auto-clean durin&g full screen", check, 0, 14, 282, 276, 20, IDC_HOLD_WHEN_BUSY},
    {L"STATIC", L"Schedule && Notifications", label, 0, 314, 14, 276, 18, 0},
    {L"STATIC", L"Scheduled clean &hour (0-23, -1=off):", label, 0, 314, 40, 200, 18, 0},
    {L"EDIT", L"", hour, WS_EX_CLIENTEDGE, 520, 38, 70, 22, IDC_CLEAN_HOUR},
    {L"STATIC", L"Scheduled clean &minute (0-59):", label, 0, 314, 68, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 520, 66, 70, 22, IDC_CLEAN_MINUTE},
    {L"STATIC", L"Min freed MB to &notify:", label, 0, 314, 96, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 520, 94, 70, 22, IDC_NOTIFY_MIN_MB},
    {L"STATIC", L"Warn when &commit reaches (%, 0=off):", label, 0, 314, 124, 200, 18, 0},
    {L"EDIT", L"", number, WS_EX_CLIENTEDGE, 520, 122, 70, 22, IDC_COMMIT_WARN},
    {L"BUTTON", L"&Open status window after each clean", check, 0, 314, 148, 276, 20, IDC_SHOW_STATUS},
    {L"STATIC", L"", separator, 0, 314, 176, 276, 2, 0},
    {L"STATIC", L"Clean steps", label, 0, 314, 184, 276, 18, 0},
    // Two steps a row, the second halfway across the column.
    {L"BUTTON", L"&Empty working sets", check, 0, 314, 206, 130, 20, IDC_TRIM_WORKING_SETS},
    {L"BUTTON", L"Flush mo&dified list", check, 0, 452, 206, 138, 20, IDC_FLUSH_MODIFIED},
    {L"BUTTON", L"&Keep the program in front untouched", check, 0, 314, 230, 276, 20, IDC_KEEP_FOREGROUND},
    {L"BUTTON", L"Flush fi&le cache", check, 0, 314, 254, 276, 20, IDC_FLUSH_FILE_CACHE},
    // The standby step's three choices, in a drop-down list under its label.
    {L"STATIC", L"&Purge standby list:", label, 0, 314, 280, 276, 18, 0},
    {L"COMBOBOX", L"", choice, 0, 314, 300, 276, 22, IDC_PURGE_STANDBY},
    // Across both columns, below the longer one.
    {L"STATIC", L"", separator, 0, 14, 330, 576, 2, 0},
    {L"STATIC", L"Process Exclusion", label, 0, 14, 338, 576, 18, 0},
    {L"STATIC", L"E&xclude from working-set trim (comma-sep exe names):", label, 0, 14, 362, 576, 18, 0},
    {L"EDIT", L"notepad.exe, Code.exe", list, WS_EX_CLIENTEDGE, 14, 382, 576, 22, IDC_EXCLUDE_LIST},
    // The last row: the language in a drop-down list after its label at
    // the left, as wide as its widest item; OK and Cancel at the right.
    {L"STATIC", L"Lang&uage:", label, 0, 14, 423, 55, 18, 0},
    {L"COMBOBOX", L"", choice, 0, 75, 421, 133, 22, IDC_LANGUAGE},
    {L"BUTTON", L"OK", default_button, 0, 432, 418, 76, 28, IDC_OK},
    {L"BUTTON", L"Cancel", button, 0, 514, 418, 76, 28, IDC_CANCEL},
};
static_assert(std::size(kControls) == SETTINGS_CONTROL_COUNT);
// The indexes of kControls that start each part.
constexpr int kRightColumn = 17, kAcross = 35;
// The clean step on the right of its row, halfway across its column.
constexpr int kSecondOfPair[] = {30, 30};
// A group's title: no access key.
constexpr int kHeadings[] = {0, 12, 17, 28, 36};

// The access key of a control's text, or 0; `marks` counts the ampersands
// that mark one. Windows matches them without regard to case.
inline wchar_t AccessKey(const std::wstring& text, int* marks = nullptr) {
  wchar_t key = 0;
  int count = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] != L'&') {
      wchar_t upper[2] = {text[i + 1], 0};
      CharUpperBuffW(upper, 1);
      key = upper[0];
      ++count;
    }
    ++i;
  }
  if (marks) *marks = count;
  return key;
}


// Puts back the language the tests started in (English) when a test that
// changed it ends.
struct LanguageInUseForTheTest {
  ~LanguageInUseForTheTest() { UseLanguage(0); }
};

// A rectangle as a test's message shows it.
inline std::string Describe(const RECT& r) {
  char text[64];
  snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

