// Helpers shared by the unit and end-to-end test programs: the program
// folder and its files, messages, pixels, the Run value and the logon task,
// and a clean AppState between tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <shtypes.h>
#include <taskschd.h>

#include <string>
#include <vector>

#include "tray/tray.h"

struct SecurityBuffer;

// %APPDATA%\Quillmere and a file in it, as the program builds them.
std::wstring AppFolder();
std::wstring AppFile(const wchar_t* name);
// Removes the folder and everything in it, folders within included; a link
// (the folder itself, or anything in it) is removed, never followed.
void DeleteFolder(const std::wstring& folder);
// Removes the program folder and everything in it.
void DeleteAppFolder();
// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The bytes of a UTF-16 file with its byte-order mark, the form the program
// keeps config.ini in.
std::string Utf16File(const std::wstring& text);
// Writes config.ini with these bytes, making the program folder first if
// it is missing; false when the file could not be written.
bool WriteConfig(const std::string& text);
// The lines of clean.log as they stand, each with its CR LF; an unfinished
// last line is left out. Empty when there is no log.
std::vector<std::string> LogLines();
// The "key=value" lines of a section of config.ini, in file order.
std::vector<std::wstring> ConfigSectionLines(const wchar_t* section);

// `path` in double quotes, as a command line or the Run value holds it.
std::wstring Quoted(const std::wstring& path);

// Translates and dispatches every message waiting for this thread; a WM_QUIT
// among them is taken off, not dispatched. Answers whether one was, and puts
// its code in `quit_code` when given.
bool PumpMessages(WPARAM* quit_code = nullptr);
// Takes a waiting WM_QUIT off the queue, leaving every other message.
bool TakeQuitMessage(WPARAM* quit_code = nullptr);

// A pixel of the window's client area, or of the screen for nullptr.
COLORREF WindowPixel(HWND window, int x, int y);
COLORREF ScreenPixel(int x, int y);
// The header of a 32-bit picture of this size, top row first.
BITMAPINFOHEADER TopDownHeader(int width, int height);
// A 32-bit picture, top row first, one 0x00RRGGBB value a pixel.
struct PixelImage {
  int width = 0, height = 0;
  std::vector<DWORD> pixels;
  COLORREF At(int x, int y) const;
};
// The pixels of `area` of the window's client area (the screen's for
// nullptr) in one copy: far quicker than a GetPixel each.
PixelImage CapturePixels(HWND window, const RECT& area);
// When QUILLMERE_SHOTS names a folder, keeps the picture there as a BMP
// named `file_name`, for the README; false only when that write failed.
bool KeepPicture(const PixelImage& image, const std::string& file_name);
// Text of a registry value under HKCU, or empty when it is missing.
std::wstring ReadRunValue(DWORD* type = nullptr, DWORD* bytes = nullptr);
void DeleteRunValue();

// The logon task of this process's user, "Quillmere <SID>", and the one
// task "Quillmere" that earlier versions shared between all users.
std::wstring UserTaskName();
extern const wchar_t kLegacyTaskName[];

// A task of the Task Scheduler's root folder, read back through the
// scheduler's own interfaces.
struct TaskView {
  bool exists = false;
  int stored = 0;  // files of the system's task store named Quillmere*, any user's
  // The settings; Wine 8 keeps them.
  TASK_INSTANCES_POLICY instances = TASK_INSTANCES_PARALLEL;
  std::wstring time_limit;
  bool disallow_on_batteries = true;
  bool stop_on_batteries = true;
  int priority = -1;
  // Trigger, principal and action. Wine 8 keeps none of them (their
  // collections and getters answer E_NOTIMPL); `reported` is false then.
  bool reported = false;
  long triggers = 0;
  TASK_TRIGGER_TYPE2 trigger_type = TASK_TRIGGER_EVENT;
  std::wstring trigger_user;
  std::wstring principal_user;
  TASK_RUNLEVEL_TYPE run_level = TASK_RUNLEVEL_LUA;
  TASK_LOGON_TYPE logon_type = TASK_LOGON_NONE;
  std::wstring command;
};
TaskView ReadAutostartTask(const std::wstring& name = UserTaskName());
// Deletes this user's task and the shared one of earlier versions.
void DeleteAutostartTask();
// Registers a task from `xml` as the program would.
bool RegisterAutostartTask(const std::wstring& name, const wchar_t* xml);
// Expects the one registered task with the settings the program gives it:
// no second copy, no time limit, on batteries too.
void ExpectAutostartTaskSettings(const TaskView& task);

// The user's own rights for the program folder's files, as the program makes
// them at start (MakeUserRightsToken): one token for the whole test program,
// never closed.
HANDLE UserToken();
// Starts every test from the state a fresh process has, with UserToken() as
// app.user_token.
void ResetAppState();
// The real shell and clock with a memory reading that moves the load through
// 20, 50, 70 and 90 %, one step a call: every refresh through it has a bar
// of another height and colour than the refresh before, so each one draws.
extern const TrayPlatform kChangingLoadTray;
// The program's real main window, made as WinMain makes it (its class, the
// "TaskbarCreated" number), stored in app.main_window and returned.
HWND CreateTestMainWindow();

// Tests of the program's windows: each starts from a fresh state, an empty
// program folder and settings loaded as the program loads them, with the
// real main window (and, when `shell_window`, the hidden shell window that
// owns the popups and the menu) made as start-up makes them; the windows,
// the popup, the drawn icon, the messages left and the folder are gone
// after it. A fixture points the seams it plays in BindSeams, before the
// windows are made.
class ProgramWindowTest : public ::testing::Test {
 protected:
  explicit ProgramWindowTest(bool shell_window = false) : shell_window_(shell_window) {}
  void SetUp() override;
  void TearDown() override;
  virtual void BindSeams() {}
  // Sends the message to the main window and answers its result.
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam = 0);

 private:
  bool shell_window_;
};
std::string Narrow(const std::wstring& text);

// The notification area as Microsoft documents it for Shell_NotifyIcon,
// not as Wine's lenient tray behaves: what the user sees of the icon.
// - An icon is known by its window and id; a modify, a version, a focus
//   request or a delete of an icon not added fails, and so does a second add.
// - A request takes only the members its flags name; NIF_INFO with a text
//   shows a balloon, which needs the icon in.
// - Every add starts at version 0: NIM_SETVERSION is needed after each one,
//   and a restarted taskbar has forgotten it with the icon.
// - Under NOTIFYICON_VERSION_4 the standard tooltip shows only while the
//   newest add or modify carried NIF_SHOWTIP; under older versions always.
struct NotificationArea {
  bool icon_in = false;
  HWND window = nullptr;
  UINT id = 0;
  UINT callback_message = 0;
  UINT version = 0;
  bool show_tip = false;  // the newest add or modify carried NIF_SHOWTIP
  std::wstring tip;       // the text the tooltip holds
  HICON picture = nullptr;
  int balloons = 0;  // balloons the area took
  std::wstring balloon_title, balloon_text;
  int focus_returns = 0;  // NIM_SETFOCUS requests it took
  // What hovering over the icon shows: the tooltip, or nothing.
  bool TooltipShows() const { return icon_in && (version != NOTIFYICON_VERSION_4 || show_tip) && !tip.empty(); }
  std::wstring Tooltip() const { return TooltipShows() ? tip : L""; }
  // Answers as Shell_NotifyIconW would, and changes what it shows.
  BOOL Take(DWORD message, const NOTIFYICONDATAW& data);
  // The icon and all it showed are gone; the counts stay.
  void Forget();
};

// A tray platform whose shell is that model: it keeps what it was asked, in
// order, answers as the model does (refusing adds when asked), and passes
// every request the model takes on to the real shell too, so that Wine's
// tray holds the same icon; a clock that moves `tick_step` on every
// reading; the taskbar's scale, the contrast mode and, when `play_load`,
// the memory reading as the test plays them.
struct TrayRequest {
  DWORD message = 0;  // NIM_ADD, NIM_MODIFY, NIM_DELETE, NIM_SETVERSION, NIM_SETFOCUS
  UINT flags = 0;
  DWORD info_flags = 0;
  UINT version = 0;  // uVersion, or a balloon's uTimeout
  std::wstring title, text;  // of a balloon
  bool popup_open = false;   // the status popup was open at that moment
};
struct RecordingTray {
  std::vector<TrayRequest> requests;
  bool refuse_adds = false;
  ULONGLONG now = 5000000;
  ULONGLONG tick_step = 0;
  UINT dpi = 0;  // the taskbar's; 0: the real answer
  bool high_contrast = false;
  bool play_load = false;
  MemorySnapshot load = {};
  NotificationArea area;
  std::vector<TrayRequest> Balloons() const;
  int Count(DWORD message) const;  // requests of this message, any flags
  // Explorer ends and starts again: the area forgets every icon, and the
  // real shell loses the program's (the program hears "TaskbarCreated"
  // only when the test sends it).
  void RestartTaskbar();
};
extern RecordingTray recording_tray;
extern const TrayPlatform kRecordingTrayPlatform;
// The recording shell's Shell_NotifyIconW, for a test's own shell to pass on to.
BOOL WINAPI RecordingNotifyIcon(DWORD message, PNOTIFYICONDATAW data);
// Starts recording afresh and makes app use it.
void RecordTray();

// Wine without a window manager waits two seconds on every close of a window
// with a caption, for a manager that never answers. A test program that
// opens such windows by the hundred registers this environment: its own
// windows are left unmanaged (Wine draws their frames itself) for the run.
// The program under test is unchanged.
class UnmanagedWineWindows : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// Leak tests without object counts: Wine's GetGuiResources answers 0, but
// creation fails once a table is full. With the process's USER table (filled
// with menus; icons would take GDI bitmaps too) and GDI table (brushes)
// filled to within `room` objects of full, an operation that leaks one object
// each time stops working long before it has run 2 x room times.
struct FilledHandleTables {
  std::vector<HMENU> menus;
  std::vector<HBRUSH> brushes;
  DWORD gdi_before = 0;  // GetGuiResources, which does count on Windows
  DWORD user_before = 0;
};
// False when a table could not be filled that far. `fill_gdi` false leaves
// the GDI table alone.
bool FillHandleTables(FilledHandleTables& tables, size_t room, bool fill_gdi = true);
// Whether `count` more USER and GDI objects can still be made.
bool RoomForMore(int count);
// Frees what was filled, and expects the objects the process holds to be
// back where they were.
void FreeHandleTables(FilledHandleTables& tables);

// The program's file calls, made for real but with links played: Wine 8
// makes no symbolic link or junction (CreateSymbolicLinkW answers TRUE and
// makes nothing; FSCTL_SET_REPARSE_POINT is refused), so a test names the
// paths whose handles report what a planted link would. Wine enforces no
// file permissions either, so the played calls also play a folder only
// administrators may change, and keep whose rights each call ran with.
struct PlayedFileCall {
  std::string call;     // "create_file", "write_profile_string", ...
  std::wstring path;    // the path it named, as the program named it; empty for a handle's call
  HANDLE acting_as;     // the token the program impersonated at that moment; null: its own
  bool impersonating;   // the thread really held a token of its own then
};
struct PlayedFiles {
  std::wstring reparse_point;  // a handle opened on this path reports a reparse point
  std::wstring moved;          // a handle opened on this path reports...
  std::wstring moved_to;       // ...this final path
  int failing_profile_write = 0;  // the nth profile write fails (from 1); 0: none
  int profile_writes = 0;
  bool failing_move = false;
  std::vector<std::pair<HANDLE, std::wstring>> open;  // handles and the paths they were opened on
  // A folder that turns into a junction to `decoy` once the program has
  // checked a handle opened on it: every later call naming a path in it
  // reaches the decoy instead. The decoy plays a folder only administrators
  // may change: a call there under the user's token is refused; one with
  // the program's own rights is made, and kept in `decoy_reached`.
  std::wstring junction_after_check;
  std::wstring decoy;
  bool junction_made = false;
  std::vector<std::string> decoy_reached;
  bool refuse_impersonation = false;
  UINT code_page = 0;  // the system's ANSI code page as the program is told it; 0: the real one
  // The roaming folder as the user's registry names it to the lookup; empty:
  // the system's answer.
  std::wstring app_data;
  // This machine's name in every form; empty: the system's answers.
  std::wstring machine_name;
  HANDLE acting_as = nullptr;
  std::vector<PlayedFileCall> calls;  // every file call but impersonating and reverting, in order
};
extern PlayedFiles played;
// Whether this thread runs with a token of its own, impersonating.
bool ThreadImpersonates();
struct FilePlatform;
extern const FilePlatform kPlayedFilePlatform;
void ResetPlayedFiles();

// Played links planted at a checked file or its folder (tests of the files
// the program keeps in its folder).
struct PlantedLink {
  std::string what;
  std::wstring reparse_point, moved, moved_to;  // as PlayedFiles takes them
};
// The four ways of planting one: the folder a junction, the file a symbolic
// link, the folder or the file resolving elsewhere.
std::vector<PlantedLink> LinksPlantedAt(const std::wstring& folder, const std::wstring& file);
// Starts the played file calls afresh with this link planted.
void PlantLink(const PlantedLink& link);

// For tests of the Run value, start at logon and the tray icon.
// This test program's own path, as GetModuleFileNameW gives it.
std::wstring TestExePath();
// Wine takes two seconds to remove the last icon of its tray: a test program
// that adds and removes icons registers this environment, whose icon of its
// own stays for the run and keeps every removal quick.
class AnchorTrayIcon : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

 private:
  NOTIFYICONDATAW data_ = {};
};

// Shared by app_tests and clean_tests: the balloons a clean shows.
extern const wchar_t kLimitedModeTitle[];
extern const wchar_t kLimitedModeText[];
// The notices of a failed save and of a failed start-at-logon update.
extern const wchar_t kSettingsNotSavedText[];
extern const wchar_t kAutostartFailedText[];
// A Task Scheduler that cannot be reached and whose store cannot be looked
// into: every start-at-logon update through it fails.
struct TaskScheduler;
extern const TaskScheduler kUnreachableScheduler;
struct CleanRecord;
// The "RAM Cleaned" text with this clean's figures.
std::wstring CleanedBalloonText(const CleanRecord& record);
// Expects a balloon sent on its own (NIF_INFO, with NIF_SHOWTIP to keep the
// tooltip, by NIM_MODIFY) with the information icon, no sound, and this
// title and text; a clean's report (`clean_report`) also respects the quiet
// time, a notice does not.
void ExpectBalloon(const TrayRequest& balloon, const std::wstring& title, const std::wstring& text,
                   bool clean_report = false);

// Paths of the system and of the Linux host under Wine.
// The path of a known folder, or empty when the system cannot name it.
std::wstring KnownFolderPath(REFKNOWNFOLDERID id);
// A path of the Linux host as Wine's Z: drive shows it.
std::wstring WinePath(const std::string& unix_path);

// The descriptor that `sddl` writes, copied into `buffer` as the program's
// reader hands one back; false when it cannot be made or does not fit.
bool SddlIntoBuffer(const wchar_t* sddl, SecurityBuffer& buffer);
