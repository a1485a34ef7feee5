// The settings module's inner decisions and platform seams: shared by its
// own sources and its tests, not part of what the module offers.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <stdint.h>

#include "common/exe_trust.h"
#include "settings/settings.h"

// The encodings config.ini may come in, told by the byte-order mark; `mark`
// gets its length. Without a mark the text is ANSI, in the system's code
// page, unless the whole file shows it is UTF-8 (IsUtf8Text).
enum TextEncoding { TEXT_ANSI, TEXT_UTF8, TEXT_UTF16LE, TEXT_UTF16BE };
TextEncoding DetectTextEncoding(const BYTE* head, size_t count, size_t& mark);
// How many of the bytes end on a whole character; the rest wait for more.
// `code_page` is the ANSI text's; 65001 ("use UTF-8 for worldwide language
// support") makes ANSI text UTF-8.
size_t WholeCharacterBytes(TextEncoding encoding, UINT code_page, const BYTE* bytes, size_t count);
// Converts the bytes to UTF-16 into `text`, which holds `count` characters;
// answers how many it wrote.
size_t DecodeText(TextEncoding encoding, UINT code_page, const BYTE* bytes, size_t count, wchar_t* text);
// What a file without a mark, read piece by piece (each ending on a whole
// UTF-8 character, the last one whatever is left), has shown of itself.
struct Utf8Evidence {
  bool malformed;     // some piece was no well-formed UTF-8
  bool beyond_ascii;  // some byte was past 0x7F
};
void WeighUtf8(Utf8Evidence& evidence, const BYTE* piece, size_t count);
// UTF-8 as editors save it without a mark (Notepad reads it so): well formed
// throughout and not plain ASCII, which reads the same either way.
bool IsUtf8Text(const Utf8Evidence& evidence);

// The `language` setting as it is kept: the name of the row of kLanguages
// that `text` stands for ("de" and "DE-de" are "de-DE"), else empty, which
// leaves the choice to Windows.
const wchar_t* LanguageSetting(const wchar_t* text);

// Writes the quoted exe path ("C:\Program Files\x\quillmere.exe") for the
// Run value into `command`; false when the path cannot be quoted whole.
bool BuildRunCommand(wchar_t (&command)[MAX_PATH + 2], const wchar_t* module_path, DWORD length);

// Room for the text of any SID, "S-1-" and up to 15 sub-authorities.
constexpr size_t SID_TEXT_CAPACITY = 192;
// The process token's user as SID text; false when it cannot be read.
bool GetProcessUserSid(wchar_t (&sid)[SID_TEXT_CAPACITY]);

// The Task Scheduler's library is shared by every account of the machine,
// so each user's logon task carries their SID: "Quillmere S-1-5-21-...".
constexpr size_t TASK_NAME_CAPACITY = 10 + SID_TEXT_CAPACITY;
// False (and empty) for anything but a SID's text.
bool BuildTaskName(wchar_t (&name)[TASK_NAME_CAPACITY], const wchar_t* sid);

// Room for the longest SID and path even with every character escaped.
constexpr size_t TASK_XML_CAPACITY = 8192;
// The Task Scheduler definition of the logon task: started for the user
// with SID text `sid` at their logon, elevated (highest run level,
// interactive token), no time limit, on batteries too, never a second copy,
// running `command`. The SID, not "DOMAIN\name": the scheduler cannot map
// the names of some accounts (Azure AD and other cloud accounts) and then
// refuses the task. False (and empty) when a value holds a control
// character or the text does not fit.
bool BuildTaskXml(wchar_t (&xml)[TASK_XML_CAPACITY], const wchar_t* sid, const wchar_t* command);

struct SidBuffer {
  alignas(SID) BYTE bytes[SECURITY_MAX_SID_SIZE];
};
// What is known of the account the desktop's shell runs as.
enum ShellUser {
  SHELL_NONE,             // no shell window (nor taskbar) on this desktop
  SHELL_USER_UNREADABLE,  // one, but its process's user cannot be read
  SHELL_USER_READ,        // its process's user is in the SID buffer
};
enum DesktopAccount { DESKTOP_OURS, DESKTOP_OTHER, DESKTOP_UNKNOWN };
// Whether this process (`process_user`) runs as the account whose desktop
// it is on. Unknown without a shell (or without the process's user); a
// shell whose user cannot be read is another account's.
DesktopAccount MatchDesktopAccount(ShellUser shell, PSID shell_user, PSID process_user);

// The account the process runs as (its token's user); false when it
// cannot be read.
bool ReadProcessUser(SidBuffer& sid);
// The user of the process behind this desktop's shell window.
ShellUser SystemShellUser(SidBuffer& sid);
// An account as people read it: "DOMAIN\name", the name alone where it has
// no domain, or its SID's text where it has no name; empty for none.
void AccountName(PSID sid, wchar_t (&name)[ACCOUNT_NAME_CAPACITY]);

// What start at logon asks of the system, so that tests can play
// permissions, disks and desktops: the trust rule's questions, and the
// desktop's user. The program always hands over kSystemExeAccessPlatform.
struct ExeAccessPlatform {
  const ExeTrustPlatform* trust;
  ShellUser (*shell_user)(SidBuffer& sid);
};

// Writes the quoted Run value `command` (`length` characters), or removes
// the value when `enable` is false; a missing key has no value to remove.
bool SetRunValue(bool enable, const wchar_t* command, DWORD length);

// What the scheduler tells of a task's principal.
enum TaskOwner { TASK_MISSING, TASK_OWNER_UNKNOWN, TASK_OWNER_KNOWN };

// The Task Scheduler's root folder, opened for one update and closed after
// it; tests play a scheduler of their own.
struct TaskScheduler {
  // The folder to hand to the calls below; null when the scheduler cannot
  // be reached.
  void* (*open)();
  // Creates or replaces the task `name` from its XML definition, with the
  // security descriptor `sddl`.
  bool (*register_task)(void* folder, const wchar_t* name, const wchar_t* xml, const wchar_t* sddl);
  // A task that is already missing counts as deleted.
  bool (*delete_task)(void* folder, const wchar_t* name);
  // TASK_OWNER_KNOWN with the SID text of the task's principal in `sid`.
  TaskOwner (*read_owner)(void* folder, const wchar_t* name, wchar_t (&sid)[SID_TEXT_CAPACITY]);
  void (*close)(void* folder);
  // True only when the system says plainly that it stores no task `name`;
  // asked without COM, so that a start with nothing to remove stays light.
  bool (*stores_no_task)(const wchar_t* name);
};

// Room for the task's security descriptor with the longest SID.
constexpr size_t TASK_SDDL_CAPACITY = 64 + SID_TEXT_CAPACITY;
// The task's security descriptor as SDDL: SYSTEM and the administrators
// full control, the user `sid` read and execute, nothing inherited. False
// (and empty) for anything but a SID's text.
bool BuildTaskSddl(wchar_t (&sddl)[TASK_SDDL_CAPACITY], const wchar_t* sid);

// Whether the plain "Quillmere" task of earlier versions is this user's
// (`our_sid`) to remove: only when its principal is known to be them.
bool LegacyTaskIsOurs(TaskOwner owner, const wchar_t* owner_sid, const wchar_t* our_sid);
// Registers the logon task of the user with SID `sid` from `xml` (its
// descriptor from BuildTaskSddl), or
// removes it when `xml` is null, and removes the plain "Quillmere" task of
// earlier versions when it is theirs. No other task is touched. True when
// the user's own task is as asked.
bool UpdateLogonTask(const wchar_t* sid, const wchar_t* xml, const TaskScheduler& scheduler);

// The settings window's controls.
constexpr int IDC_THRESHOLD = 200;
constexpr int IDC_INTERVAL = 201;
constexpr int IDC_IDLE = 202;
constexpr int IDC_BOOT_DELAY = 203;
constexpr int IDC_AUTO_CLEAN = 204;
constexpr int IDC_SILENT = 205;
constexpr int IDC_START_WITH_WINDOWS = 206;
constexpr int IDC_OK = 207;
constexpr int IDC_CANCEL = 208;
constexpr int IDC_CLEAN_HOUR = 209;
constexpr int IDC_CLEAN_MINUTE = 210;
constexpr int IDC_NOTIFY_MIN_MB = 211;
constexpr int IDC_EXCLUDE_LIST = 212;
constexpr int IDC_SHOW_STATUS = 213;
constexpr int IDC_TRIM_WORKING_SETS = 214;
constexpr int IDC_FLUSH_MODIFIED = 215;
constexpr int IDC_PURGE_STANDBY = 216;
constexpr int IDC_FLUSH_FILE_CACHE = 217;
constexpr int IDC_FREE_BELOW_MB = 218;
constexpr int IDC_COMMIT_WARN = 219;
constexpr int IDC_KEEP_FOREGROUND = 220;
constexpr int IDC_HOLD_WHEN_BUSY = 221;
constexpr int IDC_LANGUAGE = 222;

constexpr int SETTINGS_CONTROL_COUNT = 43;
// Room for any text of the window in any language.
constexpr size_t SETTINGS_TEXT_CAPACITY = 256;

// The text of the settings window as its font draws it.
struct SettingsTextMetrics {
  int width[SETTINGS_CONTROL_COUNT];  // each control's text as shown (access keys underlined); 0 without text
  int height;                         // one line
  int check_width;                    // a check box's glyph and the gap to its text
};

// A ROW_CHOICE is a drop-down list under its label, as wide as its column, or
// beside it on the buttons' row; its value is the index of the chosen item,
// and its text width its widest item's (ChoiceItemText), which the column or
// the row makes room for.
enum SettingsRowKind { ROW_HEADING, ROW_LABEL, ROW_SEPARATOR, ROW_NUMBER, ROW_CHECK, ROW_LIST, ROW_BUTTON, ROW_CHOICE };
// Down the left or the right column, or across both below them.
enum SettingsColumn { COLUMN_LEFT, COLUMN_RIGHT, COLUMN_ACROSS };

struct SettingsRow {
  UINT text;  // its string's id; 0: none
  SettingsRowKind kind;
  int id;
  SettingsColumn column;
  // On the row of the control before it: a field after its label, the
  // second check box of a pair, Cancel after OK.
  bool beside;
};

// The margin around the controls and the height of a line of text, as
// 96-DPI figures: the window scrolls a line, and a focused control into view
// with the margin around it, by these.
constexpr int SETTINGS_MARGIN = 14;
constexpr int SETTINGS_LINE_HEIGHT = 18;
// The window's rows in creation order, which is the Tab order and the order
// the window reads in (settings_layout.cpp).
extern const SettingsRow kSettingsRows[SETTINGS_CONTROL_COUNT];

// Where every control of the settings window goes, in creation order, and
// the client size that holds them with their margin.
struct SettingsLayout {
  RECT controls[SETTINGS_CONTROL_COUNT];
  SIZE client;
};

// The window read as two columns of groups, then what runs across both (the
// exclusion list), then OK and Cancel at the bottom right, in the order the
// controls are created, which is also the Tab order. Every size is a 96-DPI
// figure scaled to `dpi`, grown where the text needs it: a column is as wide
// as its widest label, field row, check box or heading, a row as tall as its
// text. Nothing ever wraps, is cut or overlaps.
SettingsLayout LayOutSettings(UINT dpi, const SettingsTextMetrics& text);
// The text each control is created with, in the language in use (empty for
// separators, fields and drop-down lists); an ampersand marks the access
// key, two show one.
void SettingsControlText(int index, wchar_t (&text)[SETTINGS_TEXT_CAPACITY]);
// The items of the drop-down list `id` (none for any other control), in
// order: the standby purge's choices, by their values; "As Windows" and
// each language by its own name.
int ChoiceItemCount(int id);
void ChoiceItemText(int id, int item, wchar_t (&text)[SETTINGS_TEXT_CAPACITY]);
// The language list's item for the `language` setting (0, "As Windows",
// for none of kLanguages), and the setting an item stands for.
int LanguageChoice(const wchar_t (&setting)[LANGUAGE_NAME_CAPACITY]);
const wchar_t* LanguageOfChoice(int item);
// The controls' text as `font` draws it on `window`, whose DPI is `dpi`.
SettingsTextMetrics MeasureSettingsText(HWND window, HFONT font, UINT dpi);

// The window's outer size around a client area of `client` at `dpi`: its
// caption and frame as the system draws them there.
SIZE SettingsWindowSize(SIZE client, UINT dpi);

// The window's font: the message font that Windows hands to programs at the
// window's DPI, which the user's text size enlarges (`message`, null where
// it cannot be read); Segoe UI 9 pt, Windows' own message font, where there
// is none or its height is 0. A height past four times 9 pt is taken as
// that much.
LOGFONTW SettingsLogFont(const LOGFONTW* message, UINT dpi);

// The window's outer size and place in its monitor's work area `work`:
// `outer` the size that holds the whole client layout. Where that is taller
// than the work area, the window is as tall as the work area and wider by
// `scroll_bar`, room for the vertical scroll bar that then reaches every
// control. Centred when `centre`, else at `top_left`; moved inside the
// work area as far as it fits, the top-left edge first.
struct SettingsPlace {
  RECT window;
  bool scrolls;
};
SettingsPlace PlaceSettingsWindow(SIZE outer, const RECT& work, POINT top_left, bool centre, int scroll_bar);

// The scroll position that shows the span [top, bottom) (in client layout
// pixels) of a layout `range` tall through a view `page` tall scrolled to
// `position`: unchanged when the span is already in view, else the least
// move; always within 0 and range - page.
int ScrollToShow(int position, int page, int range, int top, int bottom);
// The position a scroll bar request (SB_LINEUP ... SB_BOTTOM) or a wheel's
// `lines` (SB_ENDSCROLL when it is the wheel: positive up) asks for, by
// `line` pixels a line, `page` a page, `track` where the thumb was dragged;
// kept within 0 and range - page.
int SettingsScrollTarget(int request, int lines, int position, int page, int range, int line, int track);
// What OK stores for the number typed into a field: each field's range,
// e.g. the threshold 1-99, the hour -1 (off) to 23 and the standby purge's
// choice 0-2; the commit warning
// as CommitWarnLevel reads it (0, or 50 to 99). Other identifiers keep the
// value.
int32_t ClampSettingsField(int id, int32_t value);
// A number field's text as OK reads it: after any spaces, an optional minus
// and decimal digits, saturated to int32's range; 0 when there is no number.
int32_t SettingsFieldNumber(const wchar_t* text);
// A check box state (BM_GETCHECK) as a setting: 1 only when checked.
bool SettingsCheckState(LRESULT state);
// Whether typing `typed` over the selection [start, end) of the hour field's
// `text` keeps it digits with at most one leading minus sign, so that the
// schedule can be switched off with -1.
bool HourFieldAccepts(const wchar_t* text, DWORD start, DWORD end, wchar_t typed);

// A setting's row: its key in config.ini, its member of the record (a
// number or a flag), and its control in the settings window (0: none, the
// file alone sets it) with the range OK keeps a number in. Load, save and OK all go through the one table; the
// exclusion list, text rather than a number or flag, is handled beside it.
struct SettingField {
  const wchar_t* section;
  const wchar_t* key;
  int32_t Settings::*number;
  bool Settings::*flag;
  int control;
  int32_t low;
  int32_t high;
};
constexpr int SETTING_FIELD_COUNT = 19;
extern const SettingField kSettingFields[SETTING_FIELD_COUNT];
