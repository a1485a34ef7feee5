// Status and history: the session rings of load samples and cleans, and the
// status popup that shows them. The popup's inner decisions and painting are
// in status/status_internal.h.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "clean/memory.h"
#include "clean/memory_use.h"

constexpr int USAGE_HISTORY_CAPACITY = 300;
constexpr int CLEAN_HISTORY_CAPACITY = 50;

struct UsageHistory {
  int32_t samples[USAGE_HISTORY_CAPACITY];
  int32_t count;
  int32_t next;
};

struct CleanRecord {
  SYSTEMTIME time;
  double freed_mb;
  int32_t processes;
  // The standby and modified lists around the clean; all 0 unless both
  // readings worked.
  bool lists_read;
  double standby_before_mb;
  double standby_after_mb;
  double modified_before_mb;
  double modified_after_mb;
  // The program in front that the trim left alone; its name may be empty
  // when it could not be read.
  bool kept;
  wchar_t kept_name[64];
};

struct CleanHistory {
  CleanRecord entries[CLEAN_HISTORY_CAPACITY];
  int32_t count;
  int32_t next;
};

// Where every part of the popup goes, in client pixels at the popup's DPI.
struct StatusLayout {
  int margin;       // left of the text and the graph box, and the box's gap to the right
  int figure_y;     // the large load figure
  int memory_y;     // "x / y GB used"
  int badge_y;
  int badge_inset;  // the badge's right end from the right edge
  int band_gap;     // the figure to its band word, the word to the badge
  int box_top, box_bottom;
  int minutes_y;    // "5 min"
  int separator_y;
  int heading_y;    // "Recent cleans"
  int first_clean_y;
  int line_step;
  int pen_width;
  // The memory lists' row under the memory line: a stacked bar and a line of
  // figures. Without it (lists_row 0) all three are 0 and every row below
  // sits where it always did.
  bool lists_row;
  int lists_bar_top, lists_bar_bottom;
  int lists_text_y;
  // The commit charge's row under the memory line (or under the lists' row)
  // where it could be read as the popup opened; without it commit_y is 0.
  bool commit_row;
  int commit_y;
  // The programs holding the most memory, under the cleans: a separator, a
  // heading and `holder_lines` lines; none of it with 0 lines.
  int holder_lines;
  int holders_separator_y;
  int holders_heading_y;
  int first_holder_y;
  SIZE client;      // holds all five clean lines and the widest text of each row
};

// The parts of the lists' bar, left to right.
enum StatusListPart { LIST_IN_USE, LIST_MODIFIED, LIST_STANDBY, LIST_FREE, STATUS_LIST_PARTS };

// The colours the popup paints with: its own dark or light ones, as the
// user's app mode is, or under a high-contrast theme the system's.
struct StatusPalette {
  COLORREF background;
  COLORREF heading;    // "Recent cleans"
  COLORREF secondary;  // the memory line, the clean lines, the lists' figures, "5 min", "Limited"
  COLORREF box_fill, box_line;  // the graph's box; its outline and the separator
  COLORREF graph_area, graph_line;
  COLORREF load[3];  // the load figure in each band (LoadBand)
  COLORREF admin;    // "Admin \u2713"
  COLORREF lists[STATUS_LIST_PARTS];
  COLORREF lists_outline;  // around the lists' bar; the background where none is drawn
  // The load band in words beside the figure, where colour alone no longer
  // tells it.
  bool band_in_words;
  // The title bar asked to be dark: in dark mode only, never under high
  // contrast, whose theme draws it.
  bool dark_title_bar;
};

struct IUnknown;          // unknwn.h
struct IAccPropServices;  // oleacc.h

// The COM behind the popup's accessible name: ole32 out of System32, loaded
// at the first popup and kept for the run; COM and the accessibility
// service only while a popup carries the name.
struct StatusAnnotation {
  HMODULE ole32;
  HRESULT(WINAPI* initialize)(LPVOID reserved, DWORD model);
  HRESULT(WINAPI* create_instance)(REFCLSID type, IUnknown* outer, DWORD context, REFIID interface_id, LPVOID* object);
  void(WINAPI* uninitialize)();
  HRESULT com;                 // the CoInitializeEx answer while a name is set
  IAccPropServices* services;  // while a name is set
};

// The popup's platform calls, which tests play. The reading of the memory
// lists, which only an elevated Quillmere on Windows can make: the owner of
// the record hands it over (the program's reads them as its clean does).
struct StatusPlatform {
  bool (*read_memory_lists)(MemoryLists& lists);
  // The theme: whether high contrast is on (IsHighContrastOn), and the
  // system's colours (GetSysColor).
  bool (*high_contrast)();
  DWORD(WINAPI* system_colour)(int index);
  // Where the taskbar is (SHAppBarMessage with ABM_GETTASKBARPOS), for a
  // popup whose icon the shell cannot place.
  UINT_PTR(WINAPI* app_bar_message)(DWORD message, APPBARDATA* data);
  // The name and description screen readers give the popup's client area:
  // set as it opens and again when the figures change
  // (SetStatusAccessibleName), taken off as it goes (ClearStatusAccessibleName).
  bool (*set_accessible_name)(StatusAnnotation& annotation, HWND window, const wchar_t* name,
                              const wchar_t* description);
  void (*clear_accessible_name)(StatusAnnotation& annotation, HWND window);
  // The commit charge, read with every paint; the programs holding the
  // most memory, read once as the popup opens (a pass over every process).
  // False where the system gives none.
  bool (*read_commit)(CommitCharge& commit);
  bool (*read_memory_holders)(TopMemoryHolders& top);
  // The user's app mode: true for light (ReadAppsUseLightTheme).
  bool (*light_mode)();
  // Tells screen readers that a property changed (NotifyWinEvent).
  void(WINAPI* notify_event)(DWORD event, HWND window, LONG object, LONG child);
};

// Room for the popup's figures in words: the load and memory, the commit
// charge, the newest clean and the largest holder with its whole name.
constexpr int STATUS_DESCRIPTION_CAPACITY = 640;

// Whether the user's app mode (Settings, Colours) is light: the
// AppsUseLightTheme value of the user's Personalize key, read now.
bool ReadAppsUseLightTheme();

// The popup and the rings: one record for the program. Everything starts
// zero but the elevation, which starts unknown, and `platform`, which the
// record's owner sets before the popup opens.
struct StatusState {
  UsageHistory usage_history = {};
  CleanHistory clean_history = {};
  HWND window = NULL;  // the popup while it is open
  HFONT font = NULL;
  HFONT large_font = NULL;
  StatusLayout layout = {};  // of the open popup, from its fonts
  int layout_language = 0;   // the language (LanguageInUse) whose texts it measured
  StatusPalette palette = {};  // of the open popup, chosen again when the theme changes
  int elevation = -1;  // asked at the first paint: -1 unknown, 0 limited, 1 elevated
  uint64_t closed_by_deactivation_tick = 0;  // 0: never
  const StatusPlatform* platform = NULL;
  // DwmSetWindowAttribute, once found; a test sets it to play the call.
  FARPROC dwm_set_window_attribute_entry = NULL;
  StatusAnnotation annotation = {};
  TopMemoryHolders holders = {};  // read as the open popup opened
  // Set by the owner when the keyboard opens the popup or brings it
  // forward; cleared as the popup goes.
  bool opened_by_keyboard = false;
  // Told when Esc has closed the popup, with opened_by_keyboard as it was:
  // the owner gives the keys back to where they came from. NULL: nobody.
  void (*closed_by_escape)(bool opened_by_keyboard) = NULL;
  // The open popup's description as last set, and the cleans it told of
  // (the ring's count and next slot).
  wchar_t description[STATUS_DESCRIPTION_CAPACITY] = {};
  int32_t described_cleans[2] = {};
};

void PushUsageSample(UsageHistory& ring, int32_t load_percent);
// Copies the newest n samples, oldest first; `out` holds min(n, count).
void CopyRecentUsage(const UsageHistory& ring, int32_t* out, int32_t n);
// `before` and `after` are the list readings around the clean; `kept_name`
// the program in front that it left alone (nullptr: none, "": unnamed).
void RecordClean(CleanHistory& ring, double freed_mb, int32_t processes, const MemoryLists& before,
                 const MemoryLists& after, const wchar_t* kept_name = nullptr);
// Copies the newest n cleans, oldest first, and returns min(n, count).
int32_t CopyRecentCleans(const CleanHistory& ring, CleanRecord* out, int32_t n);

// The status popup: a dark panel above the taskbar (in the system's colours
// under high contrast) with the load, the used and total memory, the
// commit charge, the elevation badge, a five-minute graph, the newest
// cleans from the record's rings, and the programs holding the most memory.
// At most one exists per record, in status.window; it closes when it loses
// activation or on Esc. It opens beside `icon`, where the shell
// shows the tray icon (empty when it cannot say: then at the taskbar's
// edge); one already open is brought to the front. Screen readers hear it
// as "Quillmere status", its figures as its description, kept up to date as
// they change; a clean that finishes while it is open is announced once.
// Without `activate` it takes neither the foreground nor the focus from what
// the user is doing (the front stays where it was) and closes on its timer.
void ShowStatusWindow(StatusState& status, HWND owner, const RECT& icon, bool activate = true);
void CloseStatusWindow(StatusState& status);
bool IsStatusWindowOpen(const StatusState& status);
void InvalidateStatusWindow(const StatusState& status);
// A click on the tray icon first takes activation from the open popup, which
// closes; the button release that follows must not open it again. True when
// a tray toggle now is that release.
bool IsStatusToggleIgnoredNow(const StatusState& status);

// The real calls behind StatusPlatform's accessible name and description:
// IAccPropServices' dynamic annotation of the window's client object. False
// where the system lacks it (Wine); the popup works on without.
bool SetStatusAccessibleName(StatusAnnotation& annotation, HWND window, const wchar_t* name,
                             const wchar_t* description);
void ClearStatusAccessibleName(StatusAnnotation& annotation, HWND window);
